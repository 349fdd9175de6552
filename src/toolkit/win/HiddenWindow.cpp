#include "toolkit/win/HiddenWindow.h"

#include <string>
#include <utility>
#include <vector>

#include "toolkit/Classes.h"

namespace {

// This thread's released windows, by class (a few classes at most). Ending with the thread, it
// destroys them there, their own thread.
class TWindowPool {
public:
    std::vector<TWindowHandle>& Of(const char* ClassName)
    {
        for (auto& [name, windows] : FClasses) {
            if (name == ClassName) {
                return windows;
            }
        }
        FClasses.emplace_back(ClassName, std::vector<TWindowHandle>{});
        FClasses.back().second.reserve(HiddenWindowPoolSize);
        return FClasses.back().second;
    }

private:
    std::vector<std::pair<std::string, std::vector<TWindowHandle>>> FClasses;
};

thread_local TWindowPool Pool;

} // namespace

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
    FThread = GetCurrentThreadId();
    return window;
}

HWND THiddenWindow::AllocatePooledHandle(const char* ClassName)
{
    ReleaseHandle();
    std::vector<TWindowHandle>& kept = Pool.Of(ClassName);
    // One destroyed behind the pool's back (by another piece of the program) is dropped.
    while (!kept.empty() && !IsWindow(kept.back().Get())) {
        (void)kept.back().Release();
        kept.pop_back();
    }
    if (kept.empty()) {
        const HWND window = AllocateHandle(ClassName);
        if (window != nullptr) {
            FPoolClass = ClassName;
        }
        return window;
    }
    FWindow = std::move(kept.back());
    kept.pop_back();
    // Posted for the previous object (or while the window was idle): not this object's.
    MSG stale;
    while (PeekMessageA(&stale, FWindow.Get(), 0, 0, PM_REMOVE)) {
    }
    SetWindowLongPtrA(FWindow.Get(), 0, reinterpret_cast<LONG_PTR>(this));
    FThread = GetCurrentThreadId();
    FPoolClass = ClassName;
    return FWindow.Get();
}

void THiddenWindow::ReleaseHandle() noexcept
{
    if (!FWindow) {
        return;
    }
    // Messages sent while the window goes (WM_DESTROY ...) or while it idles in the pool no
    // longer reach this object.
    SetWindowLongPtrA(FWindow.Get(), 0, 0);
    const char* const poolClass = std::exchange(FPoolClass, nullptr);
    if (poolClass != nullptr && FRecycled && FThread == GetCurrentThreadId()) {
        try {
            std::vector<TWindowHandle>& kept = Pool.Of(poolClass);
            if (kept.size() < HiddenWindowPoolSize) {
                kept.push_back(std::move(FWindow));
                return;
            }
        } catch (...) { // no room to keep it: it is destroyed
        }
    }
    FWindow.Reset();
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
