// mkpayload: builds the payload archive that Setup.exe carries, and lists or extracts one with
// the installer's own walk and decoder. Names on the command line and on the console are UTF-8;
// names in the archive are code page 932.
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "Archive.h"
#include "Pack.h"
#include "SysUtils.h"

namespace {

const char* const Usage =
    "usage:\n"
    "  mkpayload pack ARCHIVE [NAME=]FILE...\n"
    "      Packs the files in the order given. NAME is the file's name in the install folder\n"
    "      (default: FILE's base name); \"\\\" or \"/\" in NAME makes subfolders. A FILE whose\n"
    "      path holds \"=\" must be given with a NAME.\n"
    "  mkpayload list ARCHIVE\n"
    "      Lists name, decoded size and the bytes each entry's stream took.\n"
    "  mkpayload extract ARCHIVE DIR\n"
    "      Writes every entry under DIR as the installer does.\n";

// Converts between UTF-8 and code page 932. False when Text cannot be converted.
bool Convert(const char* To, const char* From, const std::string& Text, std::string& Result)
{
    iconv_t cd = iconv_open(To, From);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string out(Text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(Text.data());
    std::size_t inLeft = Text.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return false;
    out.resize(out.size() - outLeft);
    Result = std::move(out);
    return true;
}

// For the console: the UTF-8 form of a code page 932 text, or the bytes as they are.
std::string Shown(const std::string& Sjis)
{
    std::string utf8;
    return Convert("UTF-8", "CP932", Sjis, utf8) ? utf8 : Sjis;
}

// The archive form of a name given on the command line: code page 932, "\" between parts.
bool ArchiveName(const std::string& Utf8, std::string& Name)
{
    if (!Convert("CP932", "UTF-8", Utf8, Name)) return false;
    for (std::size_t i = 0; i < Name.size(); ++i) {
        if (IsSjisLeadByte(static_cast<unsigned char>(Name[i]))) {
            ++i;
        } else if (Name[i] == '/') {
            Name[i] = '\\';
        }
    }
    return true;
}

int Pack(int argc, char** argv)
{
    if (argc < 4) {
        std::fputs(Usage, stderr);
        return 2;
    }
    const std::string archive = argv[2];
    std::vector<TPackInput> inputs;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::size_t eq = arg.find('=');
        TPackInput input;
        std::string given;
        if (eq == std::string::npos) {
            input.FileName = arg;
            given = std::filesystem::path(arg).filename().string();
        } else {
            given = arg.substr(0, eq);
            input.FileName = arg.substr(eq + 1);
        }
        if (!ArchiveName(given, input.Name)) {
            std::fprintf(stderr, "mkpayload: \"%s\": the name is not UTF-8 text that code page 932 can hold\n",
                         given.c_str());
            return 1;
        }
        inputs.push_back(std::move(input));
    }
    std::string error;
    std::vector<TPackedEntry> packed;
    if (!PackArchive(archive, inputs, error, &packed)) {
        std::fprintf(stderr, "mkpayload: %s\n", Shown(error).c_str());
        return 1;
    }
    uint64_t total = 0;
    for (const TPackedEntry& e : packed) {
        std::printf("%10llu -> %10llu  %s\n", static_cast<unsigned long long>(e.Size),
                    static_cast<unsigned long long>(e.StreamBytes), Shown(e.Name).c_str());
        total += 1 + e.Name.size() + 4 + e.StreamBytes;
    }
    std::printf("%s: %zu entries, %llu bytes\n", archive.c_str(), packed.size(), static_cast<unsigned long long>(total));
    return 0;
}

int List(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs(Usage, stderr);
        return 2;
    }
    TArchiveExtractor extractor;
    TArchiveListing listing;
    if (!extractor.ListArchive(argv[2], listing)) {
        std::fprintf(stderr, "mkpayload: %s: cannot be opened: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    int status = 0;
    std::printf("%10s %10s  %s\n", "size", "stream", "name");
    for (const TArchiveEntry& e : listing.Entries) {
        std::printf("%10lu %10llu  %s\n", static_cast<unsigned long>(e.Size),
                    static_cast<unsigned long long>(e.StreamBytes), Shown(e.Name).c_str());
        if (e.Decoded < e.Size) {
            std::fprintf(stderr, "mkpayload: %s: truncated: the archive ends after %llu of %lu bytes\n",
                         Shown(e.Name).c_str(), static_cast<unsigned long long>(e.Decoded),
                         static_cast<unsigned long>(e.Size));
            status = 1;
        }
    }
    std::printf("%zu entries, %llu bytes\n", listing.Entries.size(), static_cast<unsigned long long>(listing.ArchiveSize));
    if (listing.HasUnsafeName) {
        std::fprintf(stderr, "mkpayload: \"%s\": %s; the installer stops there\n", Shown(listing.UnsafeName).c_str(),
                     EntryNameProblem(listing.UnsafeName).c_str());
        status = 1;
    } else if (listing.EndOffset < listing.ArchiveSize) {
        std::fprintf(stderr,
                     "mkpayload: the walk ends at offset %llu (an empty name, a size of 0 or a cut header): "
                     "%llu bytes after it are never extracted\n",
                     static_cast<unsigned long long>(listing.EndOffset),
                     static_cast<unsigned long long>(listing.ArchiveSize - listing.EndOffset));
        status = 1;
    }
    if (listing.Entries.empty()) {
        std::fprintf(stderr, "mkpayload: %s holds no file\n", argv[2]);
        status = 1;
    }
    return status;
}

// Paths of the walk are the destination folder as given (host text) followed by an entry's name
// (code page 932); only the name is converted for the console.
class TConsoleProgress : public TExtractProgress {
public:
    explicit TConsoleProgress(std::string DestFolder) : FDest(std::move(DestFolder)) {}

    void Starting(uint64_t) override {}
    void Writing(const std::string& Path) override { FPath = Path; }
    void Consumed(uint64_t Consumed, uint64_t ArchiveSize) override
    {
        std::printf("%s  (%llu of %llu bytes read)\n", ShownPath(FPath).c_str(), static_cast<unsigned long long>(Consumed),
                    static_cast<unsigned long long>(ArchiveSize));
    }
    void Finished() override {}
    // The walk's messages are a text of its own, then, after a line break, the path or name
    // that stopped it.
    void ShowError(const std::string& Message) override
    {
        FFailed = true;
        const std::size_t lineBreak = Message.find('\n');
        std::string text = Shown(Message.substr(0, lineBreak));
        if (lineBreak != std::string::npos) {
            text += ' ';
            text += ShownPath(Message.substr(lineBreak + 1));
        }
        std::fprintf(stderr, "mkpayload: %s\n", text.c_str());
    }
    void Truncated(const std::string& Path, uint64_t Written, uint32_t Size) override
    {
        FFailed = true;
        std::fprintf(stderr, "mkpayload: %s: truncated: the archive ends after %llu of %lu bytes\n",
                     ShownPath(Path).c_str(), static_cast<unsigned long long>(Written), static_cast<unsigned long>(Size));
    }
    bool Failed() const { return FFailed; }

private:
    std::string ShownPath(const std::string& Path) const
    {
        if (Path.compare(0, FDest.size(), FDest) == 0) return FDest + Shown(Path.substr(FDest.size()));
        return Shown(Path);
    }

    std::string FDest;
    std::string FPath;
    bool FFailed = false;
};

int Extract(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs(Usage, stderr);
        return 2;
    }
    // Made here by the host's own rules: the walk reads paths as code page 932, which can take
    // the last UTF-8 byte of the folder's name for a lead byte and miss the separator after it.
    // When this fails, the walk reports the folder it cannot make.
    std::error_code ec;
    std::filesystem::create_directories(argv[3], ec);
    TArchiveExtractor extractor;
    TConsoleProgress progress(argv[3]);
    const int count = extractor.ExtractArchive(argv[2], argv[3], progress);
    if (count < 1) {
        if (!progress.Failed()) {
            if (!std::filesystem::exists(argv[2])) {
                std::fprintf(stderr, "mkpayload: %s: cannot be opened\n", argv[2]);
            } else {
                std::fprintf(stderr, "mkpayload: %s: no file was written\n", argv[2]);
            }
        }
        return 1;
    }
    std::printf("%d files written under %s\n", count, argv[3]);
    return progress.Failed() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(Usage, stderr);
        return 2;
    }
    const std::string command = argv[1];
    if (command == "pack") return Pack(argc, argv);
    if (command == "list") return List(argc, argv);
    if (command == "extract") return Extract(argc, argv);
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(Usage, stdout);
        return 0;
    }
    std::fprintf(stderr, "mkpayload: unknown command \"%s\"\n%s", command.c_str(), Usage);
    return 2;
}
