#include "toolkit/win/HiddenWindow.h"

#include "toolkit/Classes.h"

THiddenWindow::~THiddenWindow()
{
    ReleaseHandle();
}

HWND THiddenWindow::AllocateHandle(const char* ClassName, const char* Title, DWORD Style, DWORD ExStyle, int Left,
                                   int Top, HICON Icon, HWND Owner)
{
    ReleaseHandle();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA existing{};
    if (!GetClassInfoA(instance, ClassName, &existing)) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = StdWndProc;
        wc.cbWndExtra = sizeof(LONG_PTR);
        wc.hInstance = instance;
        wc.hIcon = Icon;
        wc.lpszClassName = ClassName;
        if (RegisterClassA(&wc) == 0) {
            return nullptr;
        }
    }
    HWND window = CreateWindowExA(ExStyle, ClassName, Title, Style, Left, Top, 0, 0, Owner, nullptr, instance, nullptr);
    if (window == nullptr) {
        return nullptr;
    }
    SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(this));
    FWindow.Reset(window);
    return window;
}

void THiddenWindow::ReleaseHandle() noexcept
{
    if (FWindow) {
        // Messages sent while the window goes (WM_DESTROY ...) no longer reach a half-destroyed object.
        SetWindowLongPtrA(FWindow.Get(), 0, 0);
        FWindow.Reset();
    }
}

THiddenWindow* THiddenWindow::FromHandle(HWND Window) noexcept
{
    if (Window == nullptr) {
        return nullptr;
    }
    WNDCLASSA wc{};
    char name[256];
    if (GetClassNameA(Window, name, sizeof name) == 0 || !GetClassInfoA(GetModuleHandleA(nullptr), name, &wc) ||
        wc.lpfnWndProc != StdWndProc) {
        return nullptr;
    }
    return reinterpret_cast<THiddenWindow*>(GetWindowLongPtrA(Window, 0));
}

LRESULT THiddenWindow::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return DefaultHandler(Msg, wParam, lParam);
}

LRESULT THiddenWindow::WndProcFailed(const std::exception&, UINT) noexcept
{
    return 0;
}

LRESULT THiddenWindow::DefaultHandler(UINT Msg, WPARAM wParam, LPARAM lParam) noexcept
{
    return DefWindowProcA(FWindow.Get(), Msg, wParam, lParam);
}

LRESULT CALLBACK THiddenWindow::StdWndProc(HWND Window, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<THiddenWindow*>(GetWindowLongPtrA(Window, 0));
    if (self == nullptr) {
        return DefWindowProcA(Window, Msg, wParam, lParam);
    }
    try {
        return self->WndProc(Msg, wParam, lParam);
    } catch (const std::exception& e) {
        return self->WndProcFailed(e, Msg);
    } catch (...) {
        return self->WndProcFailed(Exception("Unknown error"), Msg);
    }
}
