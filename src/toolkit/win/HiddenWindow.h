// The base of components that own a window but are not controls: the application's sizeless
// window, the thread timer's window and the socket component's notification window.
#pragma once

#include "toolkit/win/Win.h"

#include <cstddef>
#include <exception>

#include "toolkit/win/Handles.h"

// Each derived kind names its own window class. The class is registered on first use (only when
// GetClassInfo does not find it) with room for one pointer in the window's extra bytes, where
// the object is kept at offset 0 once the window exists. Messages that arrive while no object is
// kept there (during creation, after Detach) go to DefWindowProc.
//
// The window belongs to the thread that called AllocateHandle and must be released by it.
//
// Windows of the plain shape (AllocatePooledHandle) are recycled: when one is released on its
// own thread it is kept, hidden and without object, in that thread's pool for its class, and
// the next AllocatePooledHandle of the class on the thread takes it instead of making one.
// Making and destroying a top-level window is what a component that lives briefly (a listening
// server's client) would otherwise pay most for. Whatever was still queued for the window's
// previous object is removed when the window is taken; messages that reach an idle window go to
// DefWindowProc. A user of the pool must make sure that nothing is posted to the window for
// its previous object once the window has been taken again (close its sockets, kill its
// timers before the release), or that such a message is harmless. Windows beyond
// HiddenWindowPoolSize of a class are destroyed at release; the pool's windows are destroyed
// when the thread ends.
constexpr std::size_t HiddenWindowPoolSize = 64;

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
    // The window AllocateHandle makes with every default (no title, WS_POPUP,
    // WS_EX_TOOLWINDOW, no size, no owner), or one of the class released earlier on this thread.
    // It goes back to the pool when released, unless SetRecycled(false).
    HWND AllocatePooledHandle(const char* ClassName);
    // Whether a pooled window is kept for reuse when released (true) or destroyed.
    void SetRecycled(bool Value) noexcept { FRecycled = Value; }
    // Gives the window up now (the destructor does it too): back to the pool, or destroyed.
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
    // Set for a window of the pool's shape, with the class it is kept under.
    const char* FPoolClass = nullptr;
    bool FRecycled = true;
    DWORD FThread = 0;
};
