// The socket layer's timer: a periodic timer with a hidden window of its own, so that it works
// without a form, on the thread that created it. Win32.
#pragma once

#include "toolkit/win/Win.h"

#include <cstdint>
#include <memory>

#include "toolkit/Classes.h"
#include "toolkit/win/Handles.h"

// A message as the socket layer's window procedures see it; Result is the answer.
struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

// System timer 1 of a hidden window of class "TmrWindowClass". OnTimer fires every Interval
// milliseconds while Enabled, Interval is not 0 and OnTimer is assigned; an exception from it is
// shown by the application and the timer keeps running. Ticks arrive only while the timer's
// thread dispatches messages.
class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* AOwner);
    ~TThreadTimer() override;

    bool Enabled() const noexcept { return FEnabled; }
    // Enabled and Interval restart the system timer only when their value changes, so setting
    // the same value again leaves the running count alone. "No Timer" when the system has none
    // left.
    void SetEnabled(bool Value);
    uint32_t Interval() const noexcept { return FInterval; }
    void SetInterval(uint32_t Value);
    const TNotifyEvent& OnTimer() const noexcept { return FOnTimer; }
    void SetOnTimer(TNotifyEvent Value);
    // Made with the timer, on its thread; null when the system could make none (the timer then
    // raises "No Timer" when armed).
    HWND TimerWindow() const noexcept;

protected:
    virtual void Timer();
    void UpdateTimer();
    void Wndproc(TMessage& Message);

private:
    class TTimerWindow;
    uint32_t FInterval = 1000;
    std::unique_ptr<TTimerWindow> FTimerWindow;
    TNotifyEvent FOnTimer;
    bool FEnabled = true;
    // Declared after the window: the system timer goes before the window does.
    TTimerId FTimerId;
};
