// The pool of hidden windows: windows of the plain shape are taken back on their thread, up to
// the bound, and lent out again to the next object of their class there.
#include <gtest/gtest.h>

#include "toolkit/win/Win.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "toolkit/win/HiddenWindow.h"

namespace {

class TPooled : public THiddenWindow {
public:
    TPooled() { AllocatePooledHandle("PoolTestClass"); }
};

// This thread's idle windows of the class (kept for reuse, no object in them).
int IdleWindows()
{
    int idle = 0;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "PoolTestClass", nullptr)) != nullptr;) {
        idle += GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId() && THiddenWindow::FromHandle(w) == nullptr;
    }
    return idle;
}

TEST(HiddenWindowPool, TakenBackOnTheirThreadUpToTheBound)
{
    std::vector<std::unique_ptr<TPooled>> windows;
    std::vector<HWND> released;
    for (std::size_t i = 0; i < HiddenWindowPoolSize + 5; ++i) windows.push_back(std::make_unique<TPooled>());
    for (auto& window : windows) {
        released.push_back(window->Handle());
        window.reset();
    }
    EXPECT_EQ(IdleWindows(), static_cast<int>(HiddenWindowPoolSize));
    EXPECT_FALSE(IsWindow(released.back())); // beyond the bound
    // The last window kept is the next taken, with its new object in it.
    const HWND last = *std::find_if(released.rbegin(), released.rend(), [](HWND w) { return IsWindow(w); });
    TPooled next;
    EXPECT_EQ(next.Handle(), last);
    EXPECT_EQ(THiddenWindow::FromHandle(last), &next);
    EXPECT_EQ(IdleWindows(), static_cast<int>(HiddenWindowPoolSize) - 1);
    // Another thread keeps its own, gone with it; this thread's pool lends it nothing.
    HWND other = nullptr;
    std::thread([&] {
        delete new TPooled;
        TPooled again;
        other = again.Handle();
    }).join();
    EXPECT_NE(other, nullptr);
    EXPECT_FALSE(IsWindow(other));
    EXPECT_EQ(IdleWindows(), static_cast<int>(HiddenWindowPoolSize) - 1);
    // A kept window destroyed behind the pool's back is passed over.
    auto* gone = new TPooled;
    const HWND destroyed = gone->Handle();
    delete gone;
    ASSERT_TRUE(DestroyWindow(destroyed));
    TPooled after;
    EXPECT_NE(after.Handle(), destroyed);
    EXPECT_TRUE(IsWindow(after.Handle()));
    EXPECT_EQ(THiddenWindow::FromHandle(after.Handle()), &after);
}

} // namespace
