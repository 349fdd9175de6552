// Small writes, as an encoder makes them, through TS_BufferStream into a memory stream against
// the same writes made on the bare memory stream. The buffered stream hands the memory stream
// whole 32 KiB blocks, so its own cost per small write is what this measures.
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "BenchUtil.h"
#include "net/NMS_Stream.h"

namespace {

constexpr int64_t kTotal = 32 * 1024 * 1024;

// Write sizes of an encoder: mostly short pieces (a group, a line end), some whole lines.
std::vector<int32_t> WriteSizes()
{
    std::mt19937 rng(5);
    std::vector<int32_t> sizes;
    int64_t sum = 0;
    while (sum < kTotal) {
        const auto n = static_cast<int32_t>(rng() % 8 == 0 ? 60 + rng() % 20 : 1 + rng() % 4);
        sizes.push_back(n);
        sum += n;
    }
    return sizes;
}

} // namespace

int main()
{
    const std::vector<int32_t> sizes = WriteSizes();
    std::vector<char> source(128);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>('A' + i % 26);

    TMemoryStream bare;
    const double baseline = BestSeconds([&] {
        bare.Clear();
        for (const int32_t n : sizes) bare.Write(source.data(), n);
    }, 9);

    TMemoryStream wrapped;
    int64_t sourceWrites = 0;
    const double buffered = BestSeconds([&] {
        wrapped.Clear();
        sourceWrites = 0;
        TS_BufferStream stream(wrapped);
        stream.OnAfterFlush = [&](TObject*) { ++sourceWrites; };
        for (const int32_t n : sizes) stream.Write(source.data(), n);
    }, 9);

    if (bare.Size() != wrapped.Size() || std::memcmp(bare.Memory(), wrapped.Memory(), static_cast<std::size_t>(bare.Size())) != 0) {
        std::printf("bufstream: the buffered stream wrote different bytes\n");
        return 1;
    }
    std::printf("%zu small writes, %lld bytes: bare %.1f ms, buffered %.1f ms, %lld writes reached the memory stream\n",
                sizes.size(), static_cast<long long>(bare.Size()), baseline * 1e3, buffered * 1e3,
                static_cast<long long>(sourceWrites));
    return ReportRatio("bufstream small writes, buffered / bare memory stream", buffered / baseline, "<=", 1.0) ? 0 : 1;
}
