// The payload archive: entries back to back, each a name length byte, the name (code page 932,
// "\" between folder parts), the decoded size (4 bytes, little-endian) and an LZSS stream whose
// length is stored nowhere: it ends where the decoder has produced the decoded size.
// The walk and the decoder are portable; the progress window and the console tool both drive
// them through TExtractProgress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "payload/Lzss.h"

// What the walk reports while it runs. The progress window shows it; mkpayload prints it.
class TExtractProgress {
public:
    virtual ~TExtractProgress() = default;
    // The archive opened; ArchiveSize is its length in bytes. (Show the window, range 0..size.)
    virtual void Starting(uint64_t ArchiveSize) = 0;
    // The next output file, by its full path as built from the destination folder.
    virtual void Writing(const std::string& Path) = 0;
    // An entry was written; Consumed bytes of the archive have been read so far.
    virtual void Consumed(uint64_t Consumed, uint64_t ArchiveSize) = 0;
    // The walk ended, normally or at a failure after which the window is hidden. It is not
    // called after the folder failure: the window then stays shown.
    virtual void Finished() = 0;
    // A failure the user must be told about, in the system's own words.
    virtual void ShowError(const std::string& Message) = 0;
    // Files another program holds so that they cannot be replaced: before the first file is
    // written, every target of the archive that exists and is held; later, the one target whose
    // new file could not be put in place because it became held meanwhile. True to look again
    // (the program was closed), false to stop the walk without a message of its own. By
    // default the walk stops.
    virtual bool RetryFilesInUse(const std::vector<std::string>& Files)
    {
        (void)Files;
        return false;
    }
};

// Messages of the walk (code page 932). The first is the folder failure the installer has always
// shown; each of the others is followed, after a line break, by the entry's name (for a fault of
// the archive) or the path (for a fault of the destination) that stopped the walk. An entry
// without a name is named by its offset in the archive.
extern const char* const SCannotCreateFolder; // "ディレクトリを作成できませんでした"
extern const char* const SUnsafeEntryName;
extern const char* const SArchiveCut;      // an entry's header or stream ends with the archive
extern const char* const SArchiveTrailing; // bytes after an entry that ends the walk
extern const char* const SLinkInFolder;    // a link or reparse point where an entry goes
extern const char* const SCannotCreateFile;
extern const char* const SCannotWriteFile;

// Each file is decoded into its target's path followed by this, in the target's folder, and
// renamed into place only when whole. One left by a run that never ended is replaced by the
// next run's; an entry of that name would be refused as unsafe.
extern const char* const STemporarySuffix; // ".~new"

// False for an entry name (as stored, every byte) that would put a file outside the destination
// folder, or that Windows would not store as given, so that two entries could land on one file:
// empty; a part that is empty (leading, doubled or trailing "\"), made of dots and spaces only
// ("..", "."), or ends in a dot or a space ("UnInst.exe."); any of < > : " / | ? * (drive
// letters, streams) or a control byte (0x00 to 0x1F, 0x7F); a Windows device name ("NUL",
// "con.txt", "COM1"); a lead byte without its trail byte; a part ending in STemporarySuffix in
// any case, whose file another entry's temporary file would take. "\" is the only separator.
bool IsSafeEntryName(std::string_view Name) noexcept;

// DestFolder + separator + Name, the separator always inserted. On Windows the separator is "\"
// and Name is kept as it is; in a host build every single-byte "\" becomes "/".
std::string EntryOutputPath(const std::string& DestFolder, std::string_view Name);

// One entry as the walk read it (ListArchive).
struct TArchiveEntry {
    std::string Name;
    uint32_t Size = 0;        // the decoded size from the header
    uint64_t Offset = 0;      // of the name length byte
    uint64_t StreamBytes = 0; // bytes the LZSS stream took
};

struct TArchiveListing {
    std::vector<TArchiveEntry> Entries;
    uint64_t ArchiveSize = 0;
    // The walk's message when it stopped at a fault of the archive, or empty. Entries then holds
    // the entries before the fault.
    std::string Error;
};

// Decoded bytes reach each output file in writes of this size (the last one of an entry
// shorter). Every write call has a cost of its own, so the extraction benchmark's plain copy
// writes in pieces of the same size.
constexpr std::size_t ExtractWriteChunk = 256 * 1024;

class TArchiveInput;
class TEntryOutput;

// Owns the 4096-byte LZSS ring. The last 18 bytes of the ring carry over from one entry to the
// next (and from one walk to the next), as the format's reader always did; positions 0..4077 are
// zeroed before every entry.
class TArchiveExtractor {
public:
    TArchiveExtractor();
    ~TArchiveExtractor();
    TArchiveExtractor(const TArchiveExtractor&) = delete;
    TArchiveExtractor& operator=(const TArchiveExtractor&) = delete;

    // Writes every entry of the archive under DestFolder; returns the number of files written,
    // 0 on failure (archive not opened, folder not created, a fault of the archive, an unsafe
    // name, a link where an entry goes, a file that could not be created or written, files in
    // use that were not let go). Any failure but the first and the files in use is shown
    // through Progress. Before the first file is written, the targets that exist are checked
    // for another program holding them (Progress.RetryFilesInUse). Each file is decoded beside
    // its target and put in place whole: a failed entry leaves the file that was there.
    // Synchronous.
    int ExtractArchive(std::string ArchivePath, std::string DestFolder, TExtractProgress& Progress);

    // The same walk and decoder, writing nothing: what ExtractArchive would find, faults of the
    // archive included. False when the archive cannot be opened.
    bool ListArchive(const std::string& ArchivePath, TArchiveListing& Listing);

    // The ring as the last entry left it.
    const uint8_t* Ring() const noexcept { return FRing; }

private:
    enum class TWalkMode { Extract, List };
    // The one walk over the archive; -1 when it cannot be opened, else the entries decoded (0
    // after a failure). Entries, when given, receives each entry decoded.
    int Walk(const std::string& ArchivePath, const std::string& DestFolder, TWalkMode Mode, TExtractProgress& Progress,
             std::vector<TArchiveEntry>* Entries);

    // Decodes one entry's stream from FIn into FOut until Size bytes have been produced or the
    // archive ends; nothing is read past the stream's last item. Returns the bytes produced.
    uint64_t DecodeEntry(uint32_t Size);

    // False when targets of the archive that exist are held and Progress did not want to look
    // again. The ring is left as it was.
    bool HeldFilesLetGo(const std::string& ArchivePath, const std::string& DestFolder, TExtractProgress& Progress);

    uint8_t FRing[Lzss::RingSize];
    // Set only during a walk.
    TArchiveInput* FIn = nullptr;
    TEntryOutput* FOut = nullptr;
};
