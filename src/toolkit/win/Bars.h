// The status line and the progress bar.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/win/Control.h"

// A progress bar's range is kept within 16 bits so that any common-controls version draws it;
// larger ranges are scaled. ScaledRange gives the bar's maximum for a logical maximum, and
// ScaledPosition the bar's position for a logical position (clamped into 0..Max).
constexpr int ProgressBarLimit = 0xFFFF;
int ScaledRange(int64_t Max) noexcept;
int ScaledPosition(int64_t Position, int64_t Max) noexcept;

// A status line without panels, showing one simple text. It stays where its bounds put it, at the
// height they give (it does not size or place itself by its font).
class TStatusBar : public TWinControl {
public:
    TStatusBar(TComponent* AOwner, TWinControl* AParent);
    const std::string& SimpleText() const noexcept { return FSimpleText; }
    void SetSimpleText(const std::string& Value);

private:
    std::string FSimpleText;
};

// Max and Position are logical values of any size; the bar itself is scaled (see ScaledRange).
class TProgressBar : public TWinControl {
public:
    TProgressBar(TComponent* AOwner, TWinControl* AParent);
    int64_t Min() const noexcept { return FMin; }
    int64_t Max() const noexcept { return FMax; }
    int64_t Position() const noexcept { return FPosition; }
    void SetMax(int64_t Value);
    void SetPosition(int64_t Value);
    void SetStep(int Value);
    void SetSmooth(bool Value);

private:
    void Apply();
    int64_t FMin = 0, FMax = 100, FPosition = 0;
};
