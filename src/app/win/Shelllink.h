// Windows shell links (.lnk) and the special folders they go in.
#pragma once

#include "toolkit/win/Win.h"

#include <cstdint>
#include <functional>
#include <string>

// No state: the setup window creates one instance and frees it again; the operations do not
// use it.
class TShellLink {
public:
    // Returns the code of the last step that ran: negative is failure, Save's code otherwise.
    // COM is initialised for the calling thread on entry and uninitialised before returning.
    // A link path that does not fit in MAX_PATH UTF-16 units (terminating zero included), or
    // that holds a zero byte, is refused with a negative code and nothing is written.
    HRESULT CreateShortcut(const std::string& TargetPath, const std::string& LinkPath, const std::string& IconPath,
                           int32_t IconIndex, const std::string& Description);
    // True when the special folder (a CSIDL value) exists as a file-system path; then Path holds
    // it, without a trailing backslash added. Path is left as it was otherwise.
    bool GetSpecialFolderPath(HWND Owner, int Csidl, std::string& Path);
};

// Outcome of the install sequence's shortcut step; it chooses the closing message.
enum class TShortcutOutcome {
    ProgramsFolderNotFound, // nothing created, no message
    FirstShortcutFailed,    // "ショートカットの作成に失敗しました"
    FirstShortcutCreated,   // "セットアップが正常に終了しました"
};

// Creates the Start-menu group "doduza" with its three shortcuts to InstallFolder's programs
// and, when the first succeeded and DesktopBoxTicked() says so at that moment, the desktop one.
// Made, when given, hears of each shortcut attempted: its link file and its code.
using TShortcutMade = std::function<void(const std::string& LinkFile, HRESULT Code)>;
TShortcutOutcome CreateProductShortcuts(TShellLink& Link, HWND Owner, const std::string& InstallFolder,
                                        const std::function<bool()>& DesktopBoxTicked, const TShortcutMade& Made = {});

// The same set below an explicit Programs folder (as GetSpecialFolderPath gives it). The
// desktop folder is asked for only when shortcut 1 succeeded and the box is ticked; a false
// answer skips shortcut 4. Returns shortcut 1's code. CreateProductShortcuts is this after the
// look-ups; it stands alone so the set can be made away from the user's real folders.
HRESULT CreateShortcutSet(TShellLink& Link, const std::string& ProgramsFolder, const std::string& InstallFolder,
                          const std::function<bool()>& DesktopBoxTicked,
                          const std::function<bool(std::string& DesktopFolder)>& FindDesktopFolder,
                          const TShortcutMade& Made = {});
