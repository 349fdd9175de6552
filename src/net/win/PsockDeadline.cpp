#include "net/win/PsockDeadline.h"

#include <algorithm>
#include <utility>

namespace {

std::chrono::steady_clock::rep DeadlineIn(int32_t Milliseconds)
{
    return (std::chrono::steady_clock::now() + std::chrono::milliseconds(Milliseconds)).time_since_epoch().count();
}

} // namespace

TPsockDeadline::TPsockDeadline(std::function<void()> Fired) : FFired(std::move(Fired))
{
    FTimer.SetEnabled(false);
    FTimer.SetOnTimer([this](TObject*) { Tick(); });
}

void TPsockDeadline::Start(int32_t Length)
{
    if (FOn && FLength == Length) {
        return;
    }
    // The deadline before the count is on: a tick never sees a count with an earlier count's
    // deadline.
    if (Length != 0) {
        FDeadline = DeadlineIn(Length);
    }
    FLength = Length;
    FOn = true;
    if (Length != 0 && GetCurrentThreadId() == FTimerThread) {
        Arm();
    }
}

void TPsockDeadline::Restart() noexcept
{
    const int32_t length = FLength;
    if (FOn && length > 0) {
        FDeadline = DeadlineIn(length);
    }
}

void TPsockDeadline::Arm()
{
    const int32_t length = FLength;
    if (!FOn || length <= 0) {
        return;
    }
    // A system timer still running from an earlier count ticks before this deadline unless its
    // period is longer.
    const auto interval = static_cast<uint32_t>(length);
    if (!FTimer.Enabled() || FTimer.Interval() > interval) {
        FTimer.SetInterval(interval);
        FTimer.SetEnabled(true);
    }
}

DWORD TPsockDeadline::Check()
{
    if (!FOn || FLength == 0) {
        return INFINITE;
    }
    const std::chrono::steady_clock::time_point deadline{std::chrono::steady_clock::duration(FDeadline.load())};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left > 0) {
        return static_cast<DWORD>(std::min<decltype(left)>(left, INFINITE - 1));
    }
    // One thread fires it: the waiting one or the timer's.
    if (FOn.exchange(false)) {
        FFired();
    }
    return INFINITE;
}

void TPsockDeadline::Tick()
{
    if (!FOn || FLength == 0) {
        FTimer.SetEnabled(false);
        return;
    }
    const DWORD left = Check();
    if (left != INFINITE) {
        FTimer.SetInterval(left);
    } else if (!FOn) {
        FTimer.SetEnabled(false);
    }
}
