// Encode throughput of both methods against Python encoding the same bytes 45 at a time with
// binascii (its C encoder, one call per line, lines joined), each the best of several runs in
// this same process run. Ratio = our time / Python's time.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "codec/NMUUE.h"

namespace {

constexpr std::size_t kBytes = 8u << 20;
constexpr int kRuns = 5;

const char* const kPythonBaseline = R"(
import binascii, sys, time
data = open(sys.argv[1], 'rb').read()
def mime():
    return b''.join([binascii.b2a_base64(data[i:i + 45], newline=False) + b'\r\n' for i in range(0, len(data), 45)])
def uu():
    return b''.join([binascii.b2a_uu(data[i:i + 45], backtick=True) for i in range(0, len(data), 45)]) + b'`\n'
for f in (mime, uu):
    best = 1e30
    for _ in range(int(sys.argv[2])):
        t0 = time.perf_counter()
        out = f()
        best = min(best, time.perf_counter() - t0)
    print('%.9f %d' % (best, len(out)))
)";

struct PythonTiming {
    double Seconds = 0;
    long long Length = 0;
};

bool RunPython(const std::string& dataPath, PythonTiming& mime, PythonTiming& uu)
{
    const std::string scriptPath = dataPath + ".py";
    if (std::FILE* f = std::fopen(scriptPath.c_str(), "w")) {
        std::fputs(kPythonBaseline, f);
        std::fclose(f);
    } else {
        return false;
    }
    const std::string command = std::string(SETUP_BENCH_PYTHON) + " '" + scriptPath + "' '" + dataPath + "' " +
                                std::to_string(kRuns);
    std::FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return false;
    const int fields = std::fscanf(p, "%lf %lld %lf %lld", &mime.Seconds, &mime.Length, &uu.Seconds, &uu.Length);
    const int status = pclose(p);
    std::remove(scriptPath.c_str());
    return fields == 4 && status == 0;
}

} // namespace

int main()
{
    std::vector<uint8_t> data(kBytes);
    std::mt19937 rng(12345);
    for (auto& b : data) b = static_cast<uint8_t>(rng());

    const std::string dataPath = (std::filesystem::temp_directory_path() / "bench_codec_input.bin").string();
    {
        TFileStream file(dataPath, fmCreate);
        file.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    }
    PythonTiming pyMime;
    PythonTiming pyUU;
    const bool pythonRan = RunPython(dataPath, pyMime, pyUU);
    std::remove(dataPath.c_str());
    if (!pythonRan) {
        std::fprintf(stderr, "bench_codec: the Python baseline (%s) did not run\n", SETUP_BENCH_PYTHON);
        return 1;
    }

    TMemoryStream source;
    source.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    TMemoryStream target;
    TNMUUProcessor uu(nullptr);
    uu.SourceStream = &source;
    uu.TargetStream = &target;

    bool ok = true;
    const struct {
        UUMethods Method;
        const char* Name;
        PythonTiming Python;
    } runs[] = {{uuMime, "encode_base64_vs_python_binascii", pyMime}, {uuCode, "encode_uu_vs_python_binascii", pyUU}};
    for (const auto& r : runs) {
        uu.SetMethod(r.Method);
        // The target keeps its capacity between runs (SetSize keeps the memory), and one run
        // before timing lets it reach full size: what is timed is the encoding, not the
        // allocator's first touch of fresh pages.
        const auto encode = [&] {
            target.SetSize(0);
            uu.Encode();
        };
        encode();
        const double ours = BestSeconds(encode, kRuns);
        // The baseline's Base64 text is Encode's; its uuencode lines end in LF, not CR LF.
        // b2a_uu completes a partial final group, which Encode does not.
        const long long lines = static_cast<long long>((kBytes + 44) / 45) + 1;
        const std::size_t partial = kBytes % 45 % 3;
        const long long expected =
            r.Method == uuCode ? r.Python.Length + lines - (partial == 0 ? 0 : 3 - static_cast<long long>(partial))
                               : r.Python.Length;
        if (target.Size() != expected) {
            std::fprintf(stderr, "%s: %lld bytes written, Python's text implies %lld\n", r.Name,
                         static_cast<long long>(target.Size()), expected);
            ok = false;
        }
        std::printf("%s: ours %.1f MB/s, Python %.1f MB/s\n", r.Name, kBytes / ours / 1e6, kBytes / r.Python.Seconds / 1e6);
        ok = ReportRatio(r.Name, ours / r.Python.Seconds, "<=", 0.5) && ok;
    }
    return ok ? 0 : 1;
}
