// The packer against a greedy longest-match packer of the same format on the mixed corpus:
// archive size (goal: at most 98.5% of greedy's) and speed (goal: at least 5 MB/s).
#include <cstdio>

#include "BenchUtil.h"
#include "payload/Pack.h"
#include "payload_corpus.h"

int main(int argc, char** argv)
{
    (void)argc;
    const auto corpus = MixedCorpus(1 << 20, "/proc/self/exe");
    (void)argv;
    std::size_t input = 0, optimal = 0, greedy = 0;
    for (const auto& file : corpus) {
        const auto o = PackBytes(file.Data.data(), file.Data.size());
        const auto g = PackBytes(file.Data.data(), file.Data.size(), TLzssPacker::TParse::Greedy);
        std::printf("  %-12s %9zu bytes: optimal %9zu, greedy %9zu (%.2f%%)\n", file.Name.c_str(), file.Data.size(),
                    o.size(), g.size(), 100.0 * static_cast<double>(o.size()) / static_cast<double>(g.size()));
        input += file.Data.size();
        optimal += o.size();
        greedy += g.size();
    }
    const double seconds = BestSeconds([&] {
        for (const auto& file : corpus) PackBytes(file.Data.data(), file.Data.size());
    }, 3);
    const double mbPerSecond = static_cast<double>(input) / (1024.0 * 1024.0) / seconds;
    std::printf("  %zu bytes packed in %.3f s\n", input, seconds);
    bool ok = ReportRatio("pack size against greedy", static_cast<double>(optimal) / static_cast<double>(greedy), "<=", 0.985);
    ok = ReportRatio("pack speed in MB/s", mbPerSecond, ">=", 5.0) && ok;
    return ok ? 0 : 1;
}
