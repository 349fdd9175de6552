#include "net/win/PsockWaiter.h"

#include "toolkit/win/MessagePump.h"

void TPsockWaiter::Wake() noexcept
{
    ++FNotices;
    const DWORD sleeper = FSleeper;
    if (sleeper != 0 && sleeper != GetCurrentThreadId()) {
        PostThreadMessageA(sleeper, WM_NULL, 0, 0);
    }
}

void TPsockWaiter::Sleep(const std::function<DWORD()>& Left, const std::atomic<bool>& Canceled)
{
    const uint32_t seen = FNotices;
    if (seen == FNoticesSeen) {
        const DWORD left = Left();
        FSleeper = GetCurrentThreadId();
        if (FNotices == seen && !Canceled) {
            WaitForThreadMessage(left);
        }
        FSleeper = 0;
    }
    FNoticesSeen = FNotices;
    ProcessThreadMessages();
}
