// TPowersock: cancelling, the time-out and the one wait of every operation.
#include "net/win/PsockClient.h"

#include <algorithm>
#include <chrono>

#include "toolkit/win/MessagePump.h"
#include "toolkit/SysUtils.h"

void TPowersock::Cancel()
{
    StatusMessage(8, "Canceling");
    FCanceled = true;
    WakeWaiter();
}

void TPowersock::Abort()
{
    StatusMessage(8, "Abort");
    Cancel();
}

void TPowersock::AbortEnding(const char* Text)
{
    if (FCanceled) {
        FCanceled = false;
        if (OnAfterAbort) {
            OnAfterAbort(this);
        }
        throw EAbortError(Text);
    }
}

TPowersock::TTimerScope::TTimerScope(TPowersock& Socket) : FSocket(Socket)
{
    if (FSocket.FTimerDepth == 0) {
        FSocket.TimerOn();
    }
    ++FSocket.FTimerDepth;
}

TPowersock::TTimerScope::~TTimerScope()
{
    if (--FSocket.FTimerDepth == 0) {
        try {
            FSocket.TimerOff();
        } catch (...) { // TimerOff itself cannot fail
        }
    }
}

// The count runs from the first TimerOn after a TimerOff against a deadline, which the waiting
// thread watches itself (its sleep ends there). The system timer only wakes the component's
// thread when a handler's own loop (a message box) runs during the wait: it is set when a count
// starts and none runs, and is left running across TimerOff and the next TimerOn, since every
// operation turns the time-out on and off and each set and kill costs a round to the window
// system. A tick checks the deadline.
void TPowersock::TimerOn()
{
    StatusMessage(8, "Timer On");
    FTimedOut = false;
    if (FTimeOut < 0) {
        throw ERangeError("Time-out out of range: " + IntToStr(FTimeOut));
    }
    if (FTimerOn && FTimerTimeOut == FTimeOut) {
        return;
    }
    // The deadline before the count is on: a tick never sees a count with an earlier count's
    // deadline.
    if (FTimeOut != 0) {
        FDeadline = (std::chrono::steady_clock::now() + std::chrono::milliseconds(FTimeOut)).time_since_epoch().count();
    }
    FTimerTimeOut = FTimeOut;
    FTimerOn = true;
    // The system timer belongs to the component's thread; a listening server's client thread
    // watches the deadline in its own waits.
    if (FTimeOut != 0 && GetCurrentThreadId() == FWindowThread) {
        ArmTimer();
    }
}

void TPowersock::RestartTimeOut() noexcept
{
    const int32_t timeOut = FTimerTimeOut;
    if (FTimerOn && timeOut > 0) {
        FDeadline = (std::chrono::steady_clock::now() + std::chrono::milliseconds(timeOut)).time_since_epoch().count();
    }
}

void TPowersock::ArmTimer()
{
    const int32_t timeOut = FTimerTimeOut;
    if (!FTimerOn || timeOut <= 0) {
        return;
    }
    // A system timer still running from an earlier count ticks before this deadline unless its
    // period is longer.
    const auto interval = static_cast<uint32_t>(timeOut);
    if (!FTimeOutTimer->Enabled() || FTimeOutTimer->Interval() > interval) {
        FTimeOutTimer->SetInterval(interval);
        FTimeOutTimer->SetEnabled(true);
    }
}

void TPowersock::TimerOff()
{
    StatusMessage(8, "Timer Off");
    FTimerOn = false;
}

DWORD TPowersock::CheckDeadline()
{
    if (!FTimerOn || FTimerTimeOut == 0) {
        return INFINITE;
    }
    const std::chrono::steady_clock::time_point deadline{std::chrono::steady_clock::duration(FDeadline.load())};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left > 0) {
        return static_cast<DWORD>(std::min<decltype(left)>(left, INFINITE - 1));
    }
    // One thread fires it: the waiting one or the timer's.
    if (FTimerOn.exchange(false)) {
        TimerFired(FTimeOutTimer);
    }
    return INFINITE;
}

void TPowersock::TimerTick()
{
    if (!FTimerOn || FTimerTimeOut == 0) {
        FTimeOutTimer->SetEnabled(false);
        return;
    }
    const DWORD left = CheckDeadline();
    if (left != INFINITE) {
        FTimeOutTimer->SetInterval(left);
    } else if (!FTimerOn) {
        FTimeOutTimer->SetEnabled(false);
    }
}

void TPowersock::TimerFired(TObject*)
{
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    FTimedOut = true;
    FAsyncDone = true;
    Abort();
    WakeWaiter();
}

bool TPowersock::WaitUntil(const std::function<bool()>& Done)
{
    while (!FCanceled) {
        if (Done()) {
            return true;
        }
        if (FCanceled) {
            break;
        }
        WaitForNotice();
    }
    return false;
}

// A notice handled on the component's own thread is a message there, which ends the sleep by
// itself. One handled on another thread (a listening server's GUI thread, for its instance's
// client thread), or a Cancel from one, bumps the count before it looks for a sleeper, and the
// waiter names itself before it looks at the count again: one of the two sees the other, so no
// wake is lost, and a waker that finds nobody asleep posts nothing.
void TPowersock::WakeWaiter() noexcept
{
    ++FNotices;
    const DWORD sleeper = FSleeper;
    if (sleeper != 0 && sleeper != GetCurrentThreadId()) {
        PostThreadMessageA(sleeper, WM_NULL, 0, 0);
    }
}

void TPowersock::WaitForNotice()
{
    const uint32_t seen = FNotices;
    if (seen == FNoticesSeen) {
        const DWORD left = CheckDeadline();
        FSleeper = GetCurrentThreadId();
        if (FNotices == seen && !FCanceled) {
            WaitForThreadMessage(left);
        }
        FSleeper = 0;
    }
    FNoticesSeen = FNotices;
    ProcessThreadMessages();
    CheckDeadline();
}

