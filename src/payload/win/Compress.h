// The progress window: shows the walk of the payload archive (Archive.h) while it decodes every
// entry into the install folder.
#pragma once

#include <string>

#include "payload/Archive.h"
#include "toolkit/win/Bars.h"
#include "toolkit/win/Form.h"
#include "toolkit/win/StaticControls.h"

class TCompressForm : public TForm, public TExtractProgress {
public:
    explicit TCompressForm(TComponent* AOwner);

    TProgressBar* FileBar; // never shown or moved
    TProgressBar* AllBar;  // bytes of the archive consumed
    TLabel* Label1;        // the output path being written
    TLabel* Label2;

    // Writes every entry of the archive at ArchivePath under DestFolder, showing this window
    // while it walks; returns the number of files written, below 1 on failure (after any message
    // of its own).
    int ExtractArchive(std::string ArchivePath, std::string DestFolder);
    // The walk itself, for a caller that reports the walk through a progress of its own (the
    // install log) that passes it on to this window.
    TArchiveExtractor& Extractor() noexcept { return FExtractor; }

    void Starting(uint64_t ArchiveSize) override;
    void Writing(const std::string& Path) override;
    void Consumed(uint64_t ConsumedBytes, uint64_t ArchiveSize) override;
    void Finished() override;
    void ShowError(const std::string& Message) override;
    // Asks Retry or Cancel, naming the files and the programs the system names as their holders.
    bool RetryFilesInUse(const std::vector<std::string>& Files) override;

private:
    TArchiveExtractor FExtractor; // holds the ring buffer for the window's lifetime
};

extern TCompressForm* CompressForm;
