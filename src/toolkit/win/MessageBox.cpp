#include "toolkit/win/MessageBox.h"

#include "toolkit/win/Application.h"
#include "toolkit/SysUtils.h"

int SystemMessageBox(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags)
{
    return MessageBoxA(Owner, Text.c_str(), Caption.c_str(), Flags);
}

TMessageBoxFunc MessageBoxFunc = SystemMessageBox;

void ShowMessage(const std::string& Text)
{
    Application->MessageBox(Text, Application->Title(), MB_OK);
}

std::string ExceptionDisplayText(const std::string& Message)
{
    if (Message.empty()) {
        return Message;
    }
    // The last character: one byte, or two when the byte before the last is a lead byte.
    std::size_t last = Message.size() - 1;
    if (last > 0 && !IsSingleByteAt(Message, last)) {
        --last;
    }
    const std::string_view lastChar(Message.data() + last, Message.size() - last);
    return lastChar.compare(".") > 0 ? Message + "." : Message;
}

TOtherWindowsDisabled::TOtherWindowsDisabled(HWND Keep) : FKeep(Keep)
{
    EnumThreadWindows(GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(this));
}

void TOtherWindowsDisabled::Enable() noexcept
{
    for (HWND window : FWindows) {
        EnableWindow(window, TRUE);
    }
    FWindows.clear();
}

BOOL CALLBACK TOtherWindowsDisabled::DisableOne(HWND Window, LPARAM Param)
{
    auto* self = reinterpret_cast<TOtherWindowsDisabled*>(Param);
    if (Window != self->FKeep && IsWindowVisible(Window) && IsWindowEnabled(Window)) {
        EnableWindow(Window, FALSE);
        self->FWindows.push_back(Window);
    }
    return TRUE;
}
