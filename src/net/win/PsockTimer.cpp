// TThreadTimer.
#include "net/win/PsockTimer.h"

#include "toolkit/win/Application.h"
#include "toolkit/win/HiddenWindow.h"

// The timer's window: WM_ACTIVATEAPP is answered here, everything else goes to the timer.
class TThreadTimer::TTimerWindow : public THiddenWindow {
public:
    // Top-level, so that it gets the broadcasts (WM_ACTIVATEAPP among them) a message-only
    // window never sees. Recycled: the timer is killed before the window goes.
    explicit TTimerWindow(TThreadTimer& Timer) : FTimer(Timer) { AllocatePooledHandle("TmrWindowClass"); }
    LRESULT PassOn(const TMessage& Message) noexcept
    {
        return DefaultHandler(Message.Msg, Message.WParam, Message.LParam);
    }

protected:
    LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override
    {
        if (Msg == WM_ACTIVATEAPP) {
            return 0;
        }
        TMessage message{Msg, wParam, lParam, 0};
        FTimer.Wndproc(message);
        return message.Result;
    }

private:
    TThreadTimer& FTimer;
};

TThreadTimer::TThreadTimer(TComponent* AOwner)
    : TComponent(AOwner), FTimerWindow(std::make_unique<TTimerWindow>(*this))
{
}

TThreadTimer::~TThreadTimer()
{
    BeginDestroy();
    FEnabled = false;
    FTimerId.Kill();
    FTimerWindow.reset();
}

HWND TThreadTimer::TimerWindow() const noexcept
{
    return FTimerWindow->Handle();
}

void TThreadTimer::SetEnabled(bool Value)
{
    if (Value != FEnabled) {
        FEnabled = Value;
        UpdateTimer();
    }
}

void TThreadTimer::SetInterval(uint32_t Value)
{
    if (Value != FInterval) {
        FInterval = Value;
        UpdateTimer();
    }
}

void TThreadTimer::SetOnTimer(TNotifyEvent Value)
{
    FOnTimer = std::move(Value);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer()
{
    FTimerId.Kill();
    if (FInterval != 0 && FEnabled && FOnTimer) {
        // Without its window, SetTimer would make a thread timer under another number, which
        // the holder could not kill.
        const HWND window = TimerWindow();
        if (window == nullptr || !FTimerId.Set(window, 1, FInterval)) {
            throw Exception("No Timer");
        }
    }
}

void TThreadTimer::Timer()
{
    if (FOnTimer) {
        FOnTimer(this);
    }
}

void TThreadTimer::Wndproc(TMessage& Message)
{
    if (Message.Msg == WM_TIMER) {
        // A tick of another timer of the window (one of its previous owner's) is not this one's.
        if (Message.WParam != 1 || !FTimerId.Running()) {
            Message.Result = 0;
            return;
        }
        try {
            Timer();
        } catch (const std::exception& e) {
            Application->ShowException(e);
        } catch (...) {
            Application->ShowException(Exception("Unknown error"));
        }
        Message.Result = 0;
        return;
    }
    Message.Result = FTimerWindow->PassOn(Message);
}
