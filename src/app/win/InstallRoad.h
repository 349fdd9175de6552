// The install road, one for the setup window and the unattended install: the folder, the
// registry record, the work file, the files, the shortcuts and the closing message, each step
// written to the install log.
#pragma once

#include "toolkit/win/Win.h"

#include <string>

#include "app/SetupCommand.h"

class TArchiveExtractor;
class TExtractProgress;
class TInstallLog;
class TShellLink;

// What the window and the unattended road do differently.
class TInstallSite {
public:
    virtual ~TInstallSite() = default;
    // A message the window shows in its box: a failure or the closing message.
    virtual void Tell(const std::string& Text) = 0;
    // Whether the desktop shortcut is made, asked when the shortcuts are made.
    virtual bool DesktopShortcut() = 0;
    // The walk, and the progress it reports to besides the log (none: nothing is shown).
    virtual TArchiveExtractor& Extractor() = 0;
    virtual TExtractProgress* Progress() = 0;
    virtual TShellLink& ShellLink() = 0;
    virtual HWND Owner() = 0;
};

class TInstallRoad {
public:
    TInstallRoad(TInstallSite& Site, TInstallLog& Log) : FSite(Site), FLog(Log) {}

    // Installs into Folder (used exactly as given) with the work file beside the executable
    // (ExeFolder ends with "\"). An exception of a toolkit operation is logged and escapes: the
    // window shows it and stays open; Failed() tells which step it came from.
    TSetupOutcome Run(const std::string& Folder, const std::string& ExeFolder);
    TSetupOutcome Failed() const noexcept { return FStep; }

private:
    TSetupOutcome Steps(const std::string& Folder, const std::string& ExeFolder);
    TInstallSite& FSite;
    TInstallLog& FLog;
    // The failure of the step under way.
    TSetupOutcome FStep = TSetupOutcome::Unforeseen;
};
