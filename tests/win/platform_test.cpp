// The ground every window of the program stands on, checked under Wine: the ANSI code page, the
// Shift_JIS literals, a posted private message through a pumped loop and a SetTimer tick.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "toolkit/win/Handles.h"

namespace {

constexpr UINT WM_TEST_PRIVATE = WM_USER + 0x65;

struct Seen {
    int privateMessages = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    int ticks = 0;
};

LRESULT CALLBACK TestWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* seen = reinterpret_cast<Seen*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (seen != nullptr) {
        if (msg == WM_TEST_PRIVATE) {
            ++seen->privateMessages;
            seen->wParam = wParam;
            seen->lParam = lParam;
            return 0;
        }
        if (msg == WM_TIMER && wParam == 7) {
            ++seen->ticks;
            return 0;
        }
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Dispatches what is pending until the condition holds or the time is up.
template <typename Pred>
bool PumpUntil(Pred done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) break;
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

class HiddenWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = TestWndProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "PlatformTestWindow";
        RegisterClassA(&wc);
        window.Reset(CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr));
        hwnd = window.Get();
        ASSERT_NE(hwnd, nullptr);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&seen));
    }
    Seen seen;
    TWindowHandle window; // destroyed before seen, which it points at
    HWND hwnd = nullptr;
};

TEST(Platform, AnsiCodePageIs932)
{
    EXPECT_EQ(GetACP(), 932u);
}

TEST(Platform, LiteralsAreShiftJisAndConvertBack)
{
    const std::string literal = "セットアップ開始";
    EXPECT_EQ(literal, "\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76\x8A\x4A\x8E\x6E");
    wchar_t wide[16] = {};
    const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, literal.c_str(), -1, wide, 16);
    ASSERT_EQ(n, 9);
    EXPECT_EQ(std::wstring(wide), std::wstring(L"\u30BB\u30C3\u30C8\u30A2\u30C3\u30D7\u958B\u59CB"));
    EXPECT_TRUE(IsDBCSLeadByte(0x83));
    EXPECT_FALSE(IsDBCSLeadByte(0x5C));
}

TEST_F(HiddenWindow, PostedPrivateMessageArrivesThroughThePump)
{
    ASSERT_TRUE(PostMessageA(hwnd, WM_TEST_PRIVATE, 0x1234, 0x10005));
    EXPECT_EQ(seen.privateMessages, 0); // nothing arrives before the loop runs
    ASSERT_TRUE(PumpUntil([&] { return seen.privateMessages > 0; }, 5000));
    EXPECT_EQ(seen.privateMessages, 1);
    EXPECT_EQ(seen.wParam, 0x1234u);
    EXPECT_EQ(seen.lParam, 0x10005);
}

TEST_F(HiddenWindow, TimerTicksArrive)
{
    TTimerId timer;
    ASSERT_TRUE(timer.Set(hwnd, 7, 20));
    EXPECT_TRUE(PumpUntil([&] { return seen.ticks >= 3; }, 5000));
    timer.Kill();
    const int after = seen.ticks;
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(seen.ticks, after); // no tick once the timer is killed
}

} // namespace
