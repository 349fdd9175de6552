#include "toolkit/win/Gdi.h"

COLORREF ColorToRGB(COLORREF Color) noexcept
{
    return (Color & 0x80000000u) != 0 ? GetSysColor(static_cast<int>(Color & 0xFF)) : Color;
}

TFontHandle TFont::CreateHandle() const
{
    return TFontHandle(CreateFontA(-Height, 0, 0, 0, Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, Charset,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                   Name.c_str()));
}

void DrawFontText(HDC DC, const TFont& Font, const std::string& Text, RECT& Bounds, UINT Format)
{
    // The font is selected out again before it is deleted.
    const TFontHandle font = Font.CreateHandle();
    const TSelectedObject selected(DC, font.Get());
    DrawTextA(DC, Text.c_str(), static_cast<int>(Text.size()), &Bounds, Format);
}
