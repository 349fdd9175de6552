// Setup.exe's command line and what its exit code says. Portable.
//
//   Setup.exe [/S] [/NODESKTOP] [/LOG=FILE] [/D=FOLDER]
//
// Switches are separated by spaces, in any letter case; a quoted argument ("/LOG=c:\my logs\a.log")
// may hold spaces. /D= takes the rest of the command line, spaces included, and so comes last.
#pragma once

#include <string>
#include <string_view>

struct TSetupCommand {
    bool Silent = false;    // /S: no window and no message box
    bool NoDesktop = false; // /NODESKTOP: no desktop shortcut
    std::string Folder;     // /D=: the install folder; empty when not given
    std::string LogFile;    // /LOG=: empty when not given
    // The first argument that is no switch, a switch given twice, or one without its value
    // ("/D="), as it stands on the command line; empty when the command line is good.
    std::string Bad;
    bool BadCommandLine = false;
};

// The arguments after the program's name (WinMain's command line).
TSetupCommand ParseSetupCommand(std::string_view Arguments);

// What an install came to. Each has its own exit code in the unattended road (ExitCodeOf).
enum class TSetupOutcome {
    Installed,
    FolderRefused,  // the folder text is empty or not a full path
    FolderFailed,   // the folder could not be made
    RecordFailed,   // the registry record could not be written
    WorkFileFailed, // the work file could not be written
    DecodeFailed,   // a fault of the archive, or a file that could not be written
    FilesInUse,     // other programs hold files to be replaced
    ShortcutsFailed,
    AnotherSetup,   // another Setup.exe runs in this session
    BadCommandLine,
    LogFailed,      // the /LOG= file could not be opened
    Unforeseen,     // an error none of the above names
};

// The exit code: a system error number whose text fits (ERROR_SHARING_VIOLATION for files in
// use, ERROR_INSTALL_ALREADY_RUNNING for another Setup), so that deployment tools show it
// right; 0 only for Installed.
int ExitCodeOf(TSetupOutcome Outcome) noexcept;

// The message box shown for a bad command line without /S (code page 932): what was wrong and
// the switches there are.
std::string BadCommandLineMessage(const std::string& Bad);
