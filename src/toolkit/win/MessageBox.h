// Message boxes. Every modal message box of the program goes through MessageBoxFunc, so that an
// in-process test can read the text and caption and give the answer. Its default shows a real
// MessageBoxA and returns the identifier of the button pressed.
#pragma once

#include "toolkit/win/Win.h"

#include <string>
#include <vector>

using TMessageBoxFunc = int (*)(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags);
int SystemMessageBox(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags);
extern TMessageBoxFunc MessageBoxFunc;

// A modal message with one OK button, the application title as caption (Application.h).
void ShowMessage(const std::string& Text);

// The text an escaped exception is shown with: "." is appended unless the text is empty or its
// last character (a double-byte character counts as one) sorts at or before ".".
std::string ExceptionDisplayText(const std::string& Message);

// Disables every visible, enabled top-level window of this thread but Keep, and enables them
// again when it ends: while a modal dialog or message box runs no other window of the program
// takes input, whichever window the dialog belongs to.
class TOtherWindowsDisabled {
public:
    explicit TOtherWindowsDisabled(HWND Keep);
    ~TOtherWindowsDisabled() { Enable(); }
    TOtherWindowsDisabled(const TOtherWindowsDisabled&) = delete;
    TOtherWindowsDisabled& operator=(const TOtherWindowsDisabled&) = delete;

    // Gives the windows back now (the dialog's own window is still up to be hidden).
    void Enable() noexcept;

private:
    static BOOL CALLBACK DisableOne(HWND Window, LPARAM Param);
    HWND FKeep;
    std::vector<HWND> FWindows;
};
