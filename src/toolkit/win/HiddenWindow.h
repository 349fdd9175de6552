// The base of components that own a window but are not controls: the application's sizeless
// window, the thread timer's window and the socket component's notification window.
#pragma once

#include "toolkit/win/Win.h"

#include <exception>

#include "toolkit/win/Handles.h"

// Each derived kind names its own window class. The class is registered on first use (only when
// GetClassInfo does not find it) with room for one pointer in the window's extra bytes, where
// the object is kept at offset 0 once the window exists. Messages that arrive while no object is
// kept there (during creation, after Detach) go to DefWindowProc.
//
// The window belongs to the thread that called AllocateHandle and must be released by it.
class THiddenWindow {
public:
    THiddenWindow() noexcept = default;
    virtual ~THiddenWindow();
    THiddenWindow(const THiddenWindow&) = delete;
    THiddenWindow& operator=(const THiddenWindow&) = delete;

    HWND Handle() const noexcept { return FWindow.Get(); }

    // The object a window of this kind was made for, or null.
    static THiddenWindow* FromHandle(HWND Window) noexcept;

protected:
    // Creates the window: extended style WS_EX_TOOLWINDOW, WS_POPUP, no size, no parent (or
    // the given owner), the given title. Icon is the class's, taken when the class is first
    // registered. Returns null, and creates nothing, when the class cannot be registered or the
    // window cannot be made.
    HWND AllocateHandle(const char* ClassName, const char* Title = "", DWORD Style = WS_POPUP,
                        DWORD ExStyle = WS_EX_TOOLWINDOW, int Left = 0, int Top = 0, HICON Icon = nullptr,
                        HWND Owner = nullptr);
    // Destroys the window now (it is also destroyed by the destructor).
    void ReleaseHandle() noexcept;

    // Every message of the window once the object is kept in it. The default passes it on to
    // DefWindowProc.
    virtual LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam);
    // An exception that left WndProc: it never unwinds through the system's frames. Returns the
    // message's result. The default swallows it and answers 0.
    virtual LRESULT WndProcFailed(const std::exception& E, UINT Msg) noexcept;

    LRESULT DefaultHandler(UINT Msg, WPARAM wParam, LPARAM lParam) noexcept;

private:
    static LRESULT CALLBACK StdWndProc(HWND Window, UINT Msg, WPARAM wParam, LPARAM lParam);
    TWindowHandle FWindow;
};
