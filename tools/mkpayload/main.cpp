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

#include "payload/Archive.h"
#include "payload/Pack.h"
#include "toolkit/SysUtils.h"

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

std::string Escaped(unsigned char Byte)
{
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X", Byte);
    return text;
}

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

// For the console: the UTF-8 form of a code page 932 text. Control bytes, and bytes that form
// no character, are shown as \xNN: a name from an archive never reaches the terminal raw.
std::string Shown(const std::string& Sjis)
{
    std::string shown;
    std::string run; // characters waiting for conversion
    const auto flush = [&] {
        std::string utf8;
        if (Convert("UTF-8", "CP932", run, utf8)) {
            shown += utf8;
        } else {
            for (const char c : run) shown += Escaped(static_cast<unsigned char>(c));
        }
        run.clear();
    };
    for (std::size_t i = 0; i < Sjis.size(); ++i) {
        const auto c = static_cast<unsigned char>(Sjis[i]);
        if (IsSjisLeadByte(c) && i + 1 < Sjis.size() && IsSjisTrailByte(static_cast<unsigned char>(Sjis[i + 1]))) {
            run += Sjis.substr(i, 2);
            ++i;
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && (c < 0xA1 || c > 0xDF))) {
            flush();
            shown += Escaped(c);
        } else {
            run += static_cast<char>(c);
        }
    }
    flush();
    return shown;
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

// The walk's messages are a text of its own, then, after a line break, the entry or path that
// stopped it; Path shows that part.
template <typename ShowPath>
void PrintWalkError(const std::string& Message, ShowPath&& Path)
{
    const std::size_t lineBreak = Message.find('\n');
    std::string text = Shown(Message.substr(0, lineBreak));
    if (lineBreak != std::string::npos) {
        text += ' ';
        text += Path(Message.substr(lineBreak + 1));
    }
    std::fprintf(stderr, "mkpayload: %s\n", text.c_str());
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
    std::printf("%10s %10s  %s\n", "size", "stream", "name");
    for (const TArchiveEntry& e : listing.Entries) {
        std::printf("%10lu %10llu  %s\n", static_cast<unsigned long>(e.Size),
                    static_cast<unsigned long long>(e.StreamBytes), Shown(e.Name).c_str());
    }
    std::printf("%zu entries, %llu bytes\n", listing.Entries.size(), static_cast<unsigned long long>(listing.ArchiveSize));
    if (!listing.Error.empty()) {
        PrintWalkError(listing.Error, Shown);
        std::fprintf(stderr, "mkpayload: the installer stops there and reports a failure\n");
        return 1;
    }
    if (listing.Entries.empty()) {
        std::fprintf(stderr, "mkpayload: %s holds no file\n", argv[2]);
        return 1;
    }
    return 0;
}

// Paths of the walk are the destination folder (host text) followed by an entry's name (code
// page 932); the folder is shown as given and only the name is converted for the console.
class TConsoleProgress : public TExtractProgress {
public:
    TConsoleProgress(std::string Given, std::string Used) : FGiven(std::move(Given)), FUsed(std::move(Used)) {}

    void Starting(uint64_t) override {}
    void Writing(const std::string& Path) override { FPath = Path; }
    void Consumed(uint64_t Consumed, uint64_t ArchiveSize) override
    {
        std::printf("%s  (%llu of %llu bytes read)\n", ShownPath(FPath).c_str(), static_cast<unsigned long long>(Consumed),
                    static_cast<unsigned long long>(ArchiveSize));
    }
    void Finished() override {}
    void ShowError(const std::string& Message) override
    {
        FFailed = true;
        PrintWalkError(Message, [this](const std::string& What) { return ShownPath(What); });
    }
    bool Failed() const { return FFailed; }

private:
    std::string ShownPath(const std::string& Path) const
    {
        if (Path.compare(0, FUsed.size(), FUsed) == 0) return FGiven + Shown(Path.substr(FUsed.size()));
        return Shown(Path);
    }

    std::string FGiven;
    std::string FUsed;
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
    // When this fails, the walk reports the folder it cannot make. The walk makes folders only
    // below a full path.
    std::error_code ec;
    std::filesystem::create_directories(argv[3], ec);
    const std::string dest = std::filesystem::absolute(argv[3], ec).string();
    TArchiveExtractor extractor;
    TConsoleProgress progress(argv[3], dest);
    const int count = extractor.ExtractArchive(argv[2], dest, progress);
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
    return 0;
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
