// The installer's walk on arbitrary archive bytes: no crash, nothing written outside the
// destination folder, no more output than the stream can yield, and the walk and the listing
// agree on what an archive holds and on which archives are damaged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "payload/Archive.h"
#include "payload/Lzss.h"

namespace {

class TCounting : public TExtractProgress {
public:
    void Starting(uint64_t) override {}
    void Writing(const std::string&) override {}
    void Consumed(uint64_t, uint64_t) override {}
    void Finished() override {}
    void ShowError(const std::string&) override { ++Errors; }
    int Errors = 0;
};

void Check(bool Condition, const char* What)
{
    if (!Condition) {
        std::fprintf(stderr, "archive_fuzz: %s\n", What);
        std::abort();
    }
}

// Only the named entries may be in Folder.
bool OnlyHolds(const std::filesystem::path& Folder, std::initializer_list<const char*> Names)
{
    for (const auto& e : std::filesystem::directory_iterator(Folder)) {
        bool known = false;
        for (const char* n : Names) known = known || e.path().filename() == n;
        if (!known) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // root/outer/inner/dest: a name that climbs out of dest lands in one of the levels above.
    static const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("setup_archive_fuzz_" + std::to_string(std::random_device{}()));
    const auto inner = root / "outer" / "inner";
    const auto dest = inner / "dest";
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::filesystem::create_directories(inner);
    const std::string archive = (inner / "work.tmp").string();
    std::FILE* f = std::fopen(archive.c_str(), "wb");
    Check(f != nullptr, "cannot write the archive");
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);

    TArchiveExtractor extractor;
    TCounting progress;
    const int count = extractor.ExtractArchive(archive, dest.string(), progress);
    TArchiveListing listing;
    Check(extractor.ListArchive(archive, listing), "the listing cannot open the archive");

    Check(OnlyHolds(root, {"outer"}) && OnlyHolds(root / "outer", {"inner"}) &&
              OnlyHolds(inner, {"work.tmp", "dest"}),
          "something was written outside the destination");
    uint64_t written = 0;
    if (std::filesystem::exists(dest)) {
        for (const auto& e : std::filesystem::recursive_directory_iterator(dest)) {
            if (e.is_regular_file()) written += e.file_size();
        }
    }
    Check(written * Lzss::GroupInput <= Lzss::GroupOutput * static_cast<uint64_t>(size),
          "more output than the stream can yield");
    if (progress.Errors == 0) {
        Check(count == static_cast<int>(listing.Entries.size()) && listing.Error.empty(),
              "the walk and the listing disagree");
    }
    // Every archive the listing refuses, the installer refuses: a damaged archive is a failure.
    Check(listing.Error.empty() || (count == 0 && progress.Errors == 1), "a damaged archive went unreported");
    std::filesystem::remove_all(root, ec);
    return 0;
}
