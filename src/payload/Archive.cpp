#include "payload/Archive.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "toolkit/FileCtrl.h"
#include "toolkit/SysUtils.h"

const char* const SCannotCreateFolder = "ディレクトリを作成できませんでした";
const char* const SUnsafeEntryName = "インストール先フォルダに書き込めないファイル名があるため、展開を中止しました";
const char* const SArchiveCut = "セットアップデータが途中で切れているため、展開を中止しました";
const char* const SArchiveTrailing = "セットアップデータの終わりの後に余分なデータがあるため、展開を中止しました";
const char* const SLinkInFolder = "インストール先フォルダにリンクがあるため、展開を中止しました";
const char* const SCannotCreateFile = "ファイルを作成できませんでした";
const char* const SCannotWriteFile = "ファイルを書き込めませんでした";
const char* const STemporarySuffix = ".~new";

namespace {

using Lzss::GroupInput;
using Lzss::GroupOutput;
using Lzss::MaxMatch;
using Lzss::RingMask;
using Lzss::RingSize;
using Lzss::StartPosition;

constexpr std::size_t InputChunk = 64 * 1024;
constexpr std::size_t OutputChunk = ExtractWriteChunk;

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

uint64_t FileLength(std::FILE* f)
{
#if defined(_WIN32)
    if (_fseeki64(f, 0, SEEK_END) != 0) return 0;
    const int64_t size = _ftelli64(f);
#else
    if (fseeko(f, 0, SEEK_END) != 0) return 0;
    const int64_t size = ftello(f);
#endif
    std::rewind(f);
    return size < 0 ? 0 : static_cast<uint64_t>(size);
}

// How far behind the byte at ring position R the ring position P lies, 1..4096 (P == R is the
// byte written 4096 bytes ago, read just before it is overwritten).
inline std::size_t Distance(std::size_t R, unsigned P) noexcept
{
    return ((R - P - 1) & RingMask) + 1;
}

} // namespace

// The archive read through a block buffer of its own: the decoder takes bytes from memory and
// the offset of the next unread byte is always known.
class TArchiveInput {
public:
    // The slack behind the chunk lets the decoder's fixed-size copies read past the last byte.
    explicit TArchiveInput(std::FILE* File) : FFile(File), FBuffer(InputChunk + 2 * GroupInput + MaxMatch) {}

    int Get()
    {
        if (FPos == FLength && !Refill()) return -1;
        return FBuffer[FPos++];
    }
    // Up to Count bytes; fewer only at the end of the archive.
    std::size_t Read(uint8_t* Dest, std::size_t Count)
    {
        std::size_t done = 0;
        while (done < Count) {
            if (FPos == FLength && !Refill()) break;
            const std::size_t n = std::min(Count - done, FLength - FPos);
            std::memcpy(Dest + done, FBuffer.data() + FPos, n);
            FPos += n;
            done += n;
        }
        return done;
    }
    std::size_t Available() const noexcept { return FLength - FPos; }
    const uint8_t* Data() const noexcept { return FBuffer.data() + FPos; }
    void Skip(std::size_t Count) noexcept { FPos += Count; }
    uint64_t Offset() const noexcept { return FBase + FPos; }

private:
    bool Refill()
    {
        FBase += FLength;
        FPos = 0;
        // A read error ends the archive like its end does.
        FLength = std::fread(FBuffer.data(), 1, InputChunk, FFile);
        return FLength > 0;
    }

    std::FILE* FFile;
    std::vector<uint8_t> FBuffer;
    std::size_t FPos = 0;
    std::size_t FLength = 0;
    uint64_t FBase = 0;
};

// The decoded bytes of one entry. The buffer holds the last 4096 bytes produced in front of the
// bytes not yet written out, so a back-reference is a plain copy from behind the write point:
// the byte at buffer index i sits at ring position (i + FRingBase) mod 4096. Without a file the
// bytes are only counted (a listing).
class TEntryOutput {
public:
    // The slack behind the flush point takes a whole group and the overshoot of its fixed-size
    // copies.
    TEntryOutput() : FBuffer(RingSize + OutputChunk + GroupOutput + 2 * MaxMatch) {}

    void Begin(std::FILE* File) noexcept
    {
        FFile = File;
        FFailed = false;
    }
    bool Failed() const noexcept { return FFailed; }

    uint8_t* Buffer() noexcept { return FBuffer.data(); }
    static constexpr std::size_t Start = RingSize;
    static constexpr std::size_t FlushAt = RingSize + OutputChunk;

    // Writes out Buffer[Start, End) and moves the last 4096 bytes to the front. Returns the new
    // write index (Start); RingBase follows the move.
    std::size_t Flush(std::size_t End, unsigned& RingBase)
    {
        if (End > Start && FFile != nullptr && !FFailed) {
            const std::size_t n = End - Start;
            if (std::fwrite(FBuffer.data() + Start, 1, n, FFile) != n) {
                FFailed = true;
            }
        }
        std::memmove(FBuffer.data(), FBuffer.data() + (End - RingSize), RingSize);
        RingBase = static_cast<unsigned>((RingBase + End) & RingMask);
        return Start;
    }

private:
    std::vector<uint8_t> FBuffer;
    std::FILE* FFile = nullptr;
    bool FFailed = false;
};

namespace {
// Windows opens a device, not a file, for these names in any folder and with any extension.
bool IsDeviceName(std::string_view Part) noexcept
{
    Part = Part.substr(0, Part.find('.'));
    while (!Part.empty() && Part.back() == ' ') Part.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (SameText(Part, device)) return true;
    }
    return Part.size() == 4 && (SameText(Part.substr(0, 3), "COM") || SameText(Part.substr(0, 3), "LPT")) &&
           Part[3] >= '0' && Part[3] <= '9';
}
} // namespace

bool IsSafeEntryName(std::string_view Name) noexcept
{
    if (Name.empty()) return false;
    std::size_t partStart = 0;
    // Windows drops a part's trailing dots and spaces: "a." and "a " would be "a", and a part of
    // dots and spaces only would be "", "." or "..".
    const auto partIsSafe = [&](std::size_t end) {
        const std::string_view part = Name.substr(partStart, end - partStart);
        const std::size_t suffix = std::strlen(STemporarySuffix);
        const bool temporaryName = part.size() >= suffix && SameText(part.substr(part.size() - suffix), STemporarySuffix);
        return !part.empty() && part.back() != '.' && part.back() != ' ' && !IsDeviceName(part) && !temporaryName;
    };
    for (std::size_t i = 0; i < Name.size(); ++i) {
        const auto c = static_cast<unsigned char>(Name[i]);
        if (IsSjisLeadByte(c)) {
            if (i + 1 >= Name.size() || !IsSjisTrailByte(static_cast<unsigned char>(Name[i + 1]))) {
                return false;
            }
            ++i; // a trail byte may be "\" or "|" without being one
            continue;
        }
        if (c < 0x20 || c == 0x7F || std::strchr("<>:\"/|?*", c) != nullptr) return false;
        if (c == '\\') {
            if (!partIsSafe(i)) return false;
            partStart = i + 1;
        }
    }
    return partIsSafe(Name.size());
}

std::string EntryOutputPath(const std::string& DestFolder, std::string_view Name)
{
    std::string path = DestFolder;
    path += PathDelimiters[0];
    const std::size_t nameStart = path.size();
    path.append(Name);
#if !defined(_WIN32)
    for (std::size_t i = nameStart; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (IsSjisLeadByte(c)) {
            ++i;
        } else if (c == '\\') {
            path[i] = '/';
        }
    }
#else
    (void)nameStart;
#endif
    return path;
}

TArchiveExtractor::TArchiveExtractor()
{
    std::memset(FRing, 0, sizeof FRing);
}

TArchiveExtractor::~TArchiveExtractor() = default;

uint64_t TArchiveExtractor::DecodeEntry(uint32_t Size)
{
    TArchiveInput& in = *FIn;
    TEntryOutput& out = *FOut;
    uint8_t* const buf = out.Buffer();

    // Positions 0..4077 start as zeros; 4078..4095 keep what the previous entry left.
    std::memset(FRing, 0, StartPosition);
    unsigned ringBase = StartPosition; // ring position of buf[i] is (i + ringBase) & RingMask
    for (std::size_t i = 0; i < RingSize; ++i) {
        buf[i] = FRing[(i + ringBase) & RingMask];
    }

    std::size_t o = TEntryOutput::Start;
    uint64_t remaining = Size;
    unsigned flags = 0; // the flag byte in bits 0..7; bit 8 marks that bits are left
    while (remaining > 0) {
        if (o >= TEntryOutput::FlushAt) {
            o = out.Flush(o, ringBase);
        }
        flags >>= 1;
        if ((flags & 0x100) == 0) {
            // Whole groups, each of which can neither run past the input in the buffer, past
            // Size nor past the room behind the flush point, are decoded without checks.
            if (in.Available() >= GroupInput && remaining >= GroupOutput) {
                const uint8_t* p = in.Data();
                const uint8_t* const pStart = p;
                const uint8_t* const pLast = p + (in.Available() - GroupInput);
                const std::size_t oStart = o;
                const auto oLast = static_cast<std::size_t>(std::min<uint64_t>(TEntryOutput::FlushAt - 1, oStart + (remaining - GroupOutput)));
                do {
                    const unsigned f = *p++;
                    if (f == 0xFF) {
                        // Eight literals (incompressible data): one copy.
                        std::memcpy(buf + o, p, 8);
                        p += 8;
                        o += 8;
                        continue;
                    }
                    // Both kinds of item are one fixed copy of MaxMatch bytes, so the flag bit
                    // chooses only the source and the advances, without a branch to mispredict:
                    // a literal copies from the input and keeps 1 byte, a back-reference copies
                    // from behind the write point and keeps n. Bytes past those kept are written
                    // over before anything reads them.
                    const auto item = [&](unsigned literal) {
                        const unsigned b1 = p[0];
                        const unsigned b2 = p[1];
                        const std::size_t n = Lzss::Length(b2);
                        const std::size_t distance = Distance(o + ringBase, Lzss::Position(b1, b2));
                        uint8_t* const dst = buf + o;
                        const std::uintptr_t isLiteral = std::uintptr_t{0} - literal; // all ones or zero
                        if ((~isLiteral & static_cast<std::uintptr_t>(distance < MaxMatch)) != 0) [[unlikely]] {
                            // The source runs into the bytes being written.
                            if (distance == 1) {
                                std::memset(dst, dst[-1], n);
                            } else if (distance >= 8) {
                                for (std::size_t k = 0; k < n; k += 8) std::memcpy(dst + k, dst + k - distance, 8);
                            } else {
                                for (std::size_t k = 0; k < n; ++k) dst[k] = dst[k - distance];
                            }
                            p += 2;
                            o += n;
                            return;
                        }
                        const auto src = reinterpret_cast<const uint8_t*>(
                            (reinterpret_cast<std::uintptr_t>(p) & isLiteral) |
                            (reinterpret_cast<std::uintptr_t>(dst - distance) & ~isLiteral));
                        std::memcpy(dst, src, MaxMatch);
                        p += 2 - literal;
                        o += (1 & isLiteral) | (n & ~isLiteral);
                    };
                    // Written out eight times: the compiler keeps p and o in registers.
                    item(f & 1);
                    item((f >> 1) & 1);
                    item((f >> 2) & 1);
                    item((f >> 3) & 1);
                    item((f >> 4) & 1);
                    item((f >> 5) & 1);
                    item((f >> 6) & 1);
                    item((f >> 7) & 1);
                } while (p <= pLast && o <= oLast);
                in.Skip(static_cast<std::size_t>(p - pStart));
                remaining -= o - oStart;
                flags = 0;
                continue;
            }
            const int c = in.Get();
            if (c < 0) break;
            flags = static_cast<unsigned>(c) | 0xFF00;
        }
        if (flags & 1) {
            const int c = in.Get();
            if (c < 0) break;
            buf[o++] = static_cast<uint8_t>(c);
            --remaining;
        } else {
            const int b1 = in.Get();
            if (b1 < 0) break;
            const int b2 = in.Get();
            if (b2 < 0) break;
            const unsigned position = Lzss::Position(static_cast<unsigned>(b1), static_cast<unsigned>(b2));
            const unsigned n = static_cast<unsigned>(std::min<uint64_t>(Lzss::Length(static_cast<unsigned>(b2)), remaining));
            const std::size_t distance = Distance(o + ringBase, position);
            for (unsigned k = 0; k < n; ++k, ++o) buf[o] = buf[o - distance];
            remaining -= n;
        }
    }
    o = out.Flush(o, ringBase);
    for (std::size_t i = 0; i < RingSize; ++i) {
        FRing[(i + ringBase) & RingMask] = buf[i];
    }
    return Size - remaining;
}

namespace {

bool ReadSize(TArchiveInput& In, uint32_t& Size)
{
    uint8_t b[4];
    if (In.Read(b, 4) < 4) return false;
    Size = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
           (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

// Opens an output file for writing, created or truncated.
std::FILE* OpenOutput(const std::string& Path)
{
#if defined(_WIN32)
    return std::fopen(Path.c_str(), "wb");
#else
    // Nor is a link planted after the walk looked at the path followed.
    const int fd = open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) close(fd);
    return file;
#endif
}

// The temporary file beside a target. A file of that name left by a run that stopped, or a link
// planted there, is removed first: the new file is always one this walk made.
std::FILE* OpenTemporary(const std::string& Temporary)
{
    std::remove(Temporary.c_str());
    return OpenOutput(Temporary);
}

// Closes a decoded file once its bytes are on the disk, so that the rename that follows never
// puts a file in place whose content a crash could still lose. False when any of it failed.
bool CloseWhole(std::FILE* File)
{
    bool flushed = std::fflush(File) == 0;
#if defined(_WIN32)
    flushed = flushed && _commit(_fileno(File)) == 0;
#else
    flushed = flushed && fsync(fileno(File)) == 0;
#endif
    return (std::fclose(File) == 0) && flushed;
}

// The first link on the way from DestFolder to the entry's file (each folder the name makes,
// then the file itself), or an empty text. DestFolder itself is the user's choice.
std::string LinkOnTheWay(const std::string& DestFolder, const std::string& Name)
{
    for (std::size_t i = 0; i <= Name.size(); ++i) {
        if (i < Name.size() && IsSjisLeadByte(static_cast<unsigned char>(Name[i]))) {
            ++i;
        } else if (i == Name.size() || Name[i] == '\\') {
            const std::string level = EntryOutputPath(DestFolder, std::string_view(Name).substr(0, i));
            if (IsLink(level)) return level;
        }
    }
    return {};
}

// Points the extractor's input and output at a walk's objects for its duration.
template <typename T>
class TScopedPointer {
public:
    TScopedPointer(T*& Slot, T* Value) : FSlot(Slot) { FSlot = Value; }
    ~TScopedPointer() { FSlot = nullptr; }
    TScopedPointer(const TScopedPointer&) = delete;
    TScopedPointer& operator=(const TScopedPointer&) = delete;

private:
    T*& FSlot;
};

// Keeps what a listing needs of the walk's reports.
class TListingProgress : public TExtractProgress {
public:
    explicit TListingProgress(TArchiveListing& Listing) : FListing(Listing) {}
    void Starting(uint64_t ArchiveSize) override { FListing.ArchiveSize = ArchiveSize; }
    void Writing(const std::string&) override {}
    void Consumed(uint64_t, uint64_t) override {}
    void Finished() override {}
    void ShowError(const std::string& Message) override { FListing.Error = Message; }

private:
    TArchiveListing& FListing;
};

} // namespace

int TArchiveExtractor::Walk(const std::string& ArchivePath, const std::string& DestFolder, TWalkMode Mode,
                            TExtractProgress& Progress, std::vector<TArchiveEntry>* Entries)
{
    FilePtr archive(std::fopen(ArchivePath.c_str(), "rb"));
    if (!archive) return -1;
    const uint64_t archiveSize = FileLength(archive.get());
    const bool extracting = Mode == TWalkMode::Extract;
    if (extracting && !HeldFilesLetGo(ArchivePath, DestFolder, Progress)) {
        return 0;
    }
    Progress.Starting(archiveSize);

    TArchiveInput in(archive.get());
    TEntryOutput out;
    TScopedPointer<TArchiveInput> inSlot(FIn, &in);
    TScopedPointer<TEntryOutput> outSlot(FOut, &out);

    // Stops the walk at a failure: the user is told what stopped it, the window is hidden and
    // the result is the failure the caller checks for. Files written so far stay.
    const auto fail = [&](const char* Message, const std::string& What) {
        Progress.ShowError(std::string(Message) + "\n" + What);
        Progress.Finished();
        return 0;
    };

    int count = 0;
    for (;;) {
        const uint64_t offset = in.Offset();
        const int length = in.Get();
        if (length < 0) break; // the end of the archive, at an entry boundary
        // The whole header is read before anything is made for the entry.
        std::string stored(static_cast<std::size_t>(length), '\0');
        stored.resize(in.Read(reinterpret_cast<uint8_t*>(stored.data()), stored.size()));
        const std::string name = stored.substr(0, stored.find('\0'));
        const std::string label = name.empty() ? "(オフセット " + std::to_string(offset) + ")" : name;
        uint32_t size = 0;
        if (stored.size() < static_cast<std::size_t>(length) || !ReadSize(in, size)) {
            return fail(SArchiveCut, label);
        }
        // An empty name or a size of 0 ends the walk; it is the archive's last entry or the
        // archive is not what was built (two archives joined, a header overwritten).
        const bool last = name.empty() || size == 0;
        if (last && in.Offset() < archiveSize) {
            return fail(SArchiveTrailing, label);
        }
        if (name.empty()) {
            Progress.Writing(EntryOutputPath(DestFolder, name));
            break;
        }
        if (!IsSafeEntryName(stored)) {
            return fail(SUnsafeEntryName, stored);
        }

        const std::string path = EntryOutputPath(DestFolder, name);
        const std::string temporary = path + STemporarySuffix;
        FilePtr output;
        if (extracting) {
            // A link planted where an entry goes would take the file, or a folder the walk
            // fills, to wherever it leads.
            const std::string link = LinkOnTheWay(DestFolder, name);
            if (!link.empty()) {
                return fail(SLinkInFolder, link);
            }
            const std::string folder = ExtractFileDir(path, PathDelimiters);
            if (!folder.empty()) {
                bool created = false;
                try {
                    created = ForceDirectories(folder) && DirectoryExists(folder);
                } catch (const EInOutError&) {
                    // Not a full path: nothing is made under the current folder.
                }
                if (!created) {
                    Progress.ShowError(SCannotCreateFolder);
                    return 0;
                }
            }
            output.reset(OpenTemporary(temporary));
            if (!output) {
                return fail(SCannotCreateFile, path);
            }
        }
        Progress.Writing(path);
        const uint64_t streamStart = in.Offset();
        // The last entry (a size of 0) leaves its file empty and is not counted.
        uint64_t produced = 0;
        if (!last) {
            out.Begin(output.get());
            produced = DecodeEntry(size);
        }
        if (output) {
            const bool written = !out.Failed() && CloseWhole(output.release());
            // The failure is told before the temporary file goes, while the system's error is
            // still the one of the step that failed.
            if (!written || produced < size) {
                const int failed = written ? fail(SArchiveCut, label) : fail(SCannotWriteFile, path);
                std::remove(temporary.c_str());
                return failed;
            }
            // A target that became held since the walk began is asked about once more.
            while (!ReplaceFileWith(temporary, path)) {
                const bool held = IsFileHeld(path);
                if (!held || !Progress.RetryFilesInUse({path})) {
                    if (held) {
                        Progress.Finished();
                    } else {
                        fail(SCannotCreateFile, path);
                    }
                    std::remove(temporary.c_str());
                    return 0;
                }
            }
        }
        if (last) {
            break;
        }
        if (produced < size) {
            return fail(SArchiveCut, label);
        }
        if (Entries != nullptr) {
            Entries->push_back({name, size, offset, in.Offset() - streamStart});
        }
        Progress.Consumed(in.Offset(), archiveSize);
        ++count;
    }
    Progress.Finished();
    return count;
}

bool TArchiveExtractor::HeldFilesLetGo(const std::string& ArchivePath, const std::string& DestFolder, TExtractProgress& Progress)
{
    // The listing decodes every entry; what it leaves in the ring's carried end is not the
    // extraction's to see.
    uint8_t ring[RingSize];
    std::memcpy(ring, FRing, sizeof ring);
    TArchiveListing listing;
    ListArchive(ArchivePath, listing);
    std::memcpy(FRing, ring, sizeof ring);

    std::vector<std::string> targets;
    for (const TArchiveEntry& entry : listing.Entries) {
        std::string path = EntryOutputPath(DestFolder, entry.Name);
        if (FileExists(path)) targets.push_back(std::move(path));
    }
    for (;;) {
        std::vector<std::string> held;
        for (const std::string& path : targets) {
            if (IsFileHeld(path)) held.push_back(path);
        }
        if (held.empty()) return true;
        if (!Progress.RetryFilesInUse(held)) return false;
    }
}

int TArchiveExtractor::ExtractArchive(std::string ArchivePath, std::string DestFolder, TExtractProgress& Progress)
{
    return std::max(0, Walk(ArchivePath, DestFolder, TWalkMode::Extract, Progress, nullptr));
}

bool TArchiveExtractor::ListArchive(const std::string& ArchivePath, TArchiveListing& Listing)
{
    Listing = TArchiveListing{};
    TListingProgress progress(Listing);
    return Walk(ArchivePath, std::string(), TWalkMode::List, progress, &Listing.Entries) >= 0;
}
