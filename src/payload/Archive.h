// The payload archive: entries back to back, each a name length byte, the name (code page 932,
// "\" between folder parts), the decoded size (4 bytes, little-endian) and an LZSS stream.
// The walk and the decoder are portable; the progress window and the console tool both drive
// them through TExtractProgress.
#pragma once

#include <cstdint>
#include <string>

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
    // The walk ended (normally or at a failure that leaves the window to be hidden).
    virtual void Finished() = 0;
    // A failure the user must be told about, in the system's own words.
    virtual void ShowError(const std::string& Message) = 0;
};

// Owns the 4096-byte LZSS ring. The last 18 bytes of the ring carry over from one entry to the
// next (and from one walk to the next), as the format's reader always did; positions 0..4077 are
// zeroed before every entry.
class TArchiveExtractor {
public:
    TArchiveExtractor();
    // Writes every entry of the archive under DestFolder; returns the number of files written,
    // 0 on failure. Synchronous.
    int ExtractArchive(std::string ArchivePath, std::string DestFolder, TExtractProgress& Progress);

private:
    uint8_t FRing[4096];
};
