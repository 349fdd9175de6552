// Colours, fonts and the drawing helpers the controls share.
#pragma once

#include "toolkit/win/Win.h"

#include <string>

#include "toolkit/win/Handles.h"

constexpr COLORREF clBlack = RGB(0, 0, 0);
constexpr COLORREF clWhite = RGB(255, 255, 255);
constexpr COLORREF clBlue = RGB(0, 0, 255);
constexpr COLORREF clTeal = RGB(0, 128, 128);
// The system's colours, resolved when drawn.
constexpr COLORREF clBtnFace = 0x80000000u | COLOR_BTNFACE;
constexpr COLORREF clWindow = 0x80000000u | COLOR_WINDOW;
constexpr COLORREF clWindowText = 0x80000000u | COLOR_WINDOWTEXT;
constexpr COLORREF clGrayText = 0x80000000u | COLOR_GRAYTEXT;
COLORREF ColorToRGB(COLORREF Color) noexcept;

// A font by face name and character height in pixels (96 DPI), Shift_JIS character set.
struct TFont {
    std::string Name = "ＭＳ Ｐゴシック";
    int Height = 12;
    bool Bold = false;
    COLORREF Color = clWindowText;
    BYTE Charset = SHIFTJIS_CHARSET;

    TFontHandle CreateHandle() const;
};

// Text drawn with Font into Bounds (DrawText flags); with DT_CALCRECT, Bounds is measured instead.
void DrawFontText(HDC DC, const TFont& Font, const std::string& Text, RECT& Bounds, UINT Format);
