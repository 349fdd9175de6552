#include "toolkit/win/Bars.h"

#include <commctrl.h>

#include <algorithm>

int ScaledRange(int64_t Max) noexcept
{
    if (Max <= 0) {
        return 0;
    }
    return Max <= ProgressBarLimit ? static_cast<int>(Max) : ProgressBarLimit;
}

int ScaledPosition(int64_t Position, int64_t Max) noexcept
{
    if (Max <= 0 || Position <= 0) {
        return 0;
    }
    if (Position >= Max) {
        return ScaledRange(Max);
    }
    if (Max <= ProgressBarLimit) {
        return static_cast<int>(Position);
    }
    // Both are shifted down together until the product below cannot overflow.
    uint64_t pos = static_cast<uint64_t>(Position);
    uint64_t max = static_cast<uint64_t>(Max);
    while (max >= (uint64_t{1} << 40)) {
        pos >>= 1;
        max >>= 1;
    }
    return static_cast<int>(pos * ProgressBarLimit / max);
}

TStatusBar::TStatusBar(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner, AParent)
{
    CreateHandle(STATUSCLASSNAMEA, WS_CHILD | WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN, 0, ParentHandle(), false);
    SendMessageA(Handle(), SB_SIMPLE, TRUE, 0);
}

void TStatusBar::SetSimpleText(const std::string& Value)
{
    FSimpleText = Value;
    SendMessageA(Handle(), SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(Value.c_str()));
}

TProgressBar::TProgressBar(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner, AParent)
{
    CreateHandle(PROGRESS_CLASSA, WS_CHILD | WS_VISIBLE, 0, ParentHandle(), false);
    Apply();
}

void TProgressBar::SetMax(int64_t Value)
{
    FMax = Value;
    FPosition = std::clamp(FPosition, FMin, std::max(FMin, FMax));
    Apply();
}

void TProgressBar::SetPosition(int64_t Value)
{
    FPosition = std::clamp(Value, FMin, std::max(FMin, FMax));
    Apply();
}

void TProgressBar::SetStep(int Value)
{
    SendMessageA(Handle(), PBM_SETSTEP, static_cast<WPARAM>(Value), 0);
}

void TProgressBar::SetSmooth(bool Value)
{
    ChangeStyle(PBS_SMOOTH, Value);
    Invalidate();
}

void TProgressBar::Apply()
{
    SendMessageA(Handle(), PBM_SETRANGE32, 0, ScaledRange(FMax - FMin));
    SendMessageA(Handle(), PBM_SETPOS, static_cast<WPARAM>(ScaledPosition(FPosition - FMin, FMax - FMin)), 0);
}
