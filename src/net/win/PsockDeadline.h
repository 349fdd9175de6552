// The time-out of a socket component's operations. Win32.
#pragma once

#include "toolkit/win/Win.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "net/win/PsockTimer.h"

// A count against a deadline, which the waiting thread watches itself (its sleep ends there).
// The system timer only wakes the component's thread when a handler's own loop (a message box)
// runs during a wait: it is set when a count starts and none runs, and is left running across
// Stop and the next Start, since every operation starts and stops the count and each set and
// kill costs a round to the window system. A tick checks the deadline.
//
// Read by the thread that waits and by the timer's thread (the component's): a listening
// server's client thread watches the deadline in its own waits.
class TPsockDeadline {
public:
    // Fired once per count whose deadline has passed, on the thread that notices it.
    explicit TPsockDeadline(std::function<void()> Fired);

    // Starts a count of Length milliseconds (0: none runs out), unless one of that length runs.
    void Start(int32_t Length);
    void Stop() noexcept { FOn = false; }
    // The milliseconds left of a count that runs (INFINITE when none does). A deadline that has
    // passed fires first.
    DWORD Check();
    // Scopes that keep a count: the first to enter starts it, the last to leave stops it, so an
    // operation made of several (a reply of several lines) is bounded as a whole.
    bool Enter() noexcept { return FDepth++ == 0; }
    bool Leave() noexcept { return --FDepth == 0; }

    // How the running operation's progress counts: either it starts the count again (a transfer
    // bounded by its time without progress) or the operation is bounded as a whole.
    void SetProgressRestarts(bool Value) noexcept { FProgressRestarts = Value; }
    bool ProgressRestarts() const noexcept { return FProgressRestarts; }
    // A count from now on, for a transfer bounded by its time without progress.
    void Restart() noexcept;

private:
    void Arm();
    void Tick();

    std::function<void()> FFired;
    TThreadTimer FTimer{nullptr};
    DWORD FTimerThread = GetCurrentThreadId();
    std::atomic<bool> FOn{false};
    std::atomic<int32_t> FLength{0};
    std::atomic<std::chrono::steady_clock::rep> FDeadline{0};
    int FDepth = 0;
    bool FProgressRestarts = false;
};
