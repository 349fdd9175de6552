// The one wait of a socket component: it sleeps until a message arrives for the waiting thread
// (a notice of the connection, a timer tick, a post from a thread that cancels) or the deadline
// passes; nothing polls. Win32.
#pragma once

#include "toolkit/win/Win.h"

#include <atomic>
#include <cstdint>
#include <functional>

// A notice handled on the waiting thread is a message there, which ends the sleep by itself. One
// handled on another thread (a listening server's GUI thread, for its instance's client thread),
// or a Cancel from one, bumps the count before it looks for a sleeper, and the waiter names
// itself before it looks at the count again: one of the two sees the other, so no wake is lost,
// and a waker that finds nobody asleep posts nothing.
class TPsockWaiter {
public:
    // What a wait looks at has changed: one asleep on another thread than the caller's wakes.
    void Wake() noexcept;
    // One sleep, unless a wake came since the last or Canceled is set, of at most what Left
    // gives (asked just before); then every pending message of the thread is dispatched.
    void Sleep(const std::function<DWORD()>& Left, const std::atomic<bool>& Canceled);

private:
    std::atomic<DWORD> FSleeper{0};
    std::atomic<uint32_t> FNotices{0};
    uint32_t FNoticesSeen = 0;
};
