#include "toolkit/win/StaticControls.h"

#include <algorithm>

// ---------------------------------------------------------------------------------------------
// TLabel

TLabel::TLabel(TComponent* AOwner, TWinControl* AParent) : TControl(AOwner, AParent) {}

void TLabel::SetCaption(const std::string& Value)
{
    TControl::SetCaption(Value);
    AdjustSize();
}

void TLabel::SetFont(const TFont& Value)
{
    TControl::SetFont(Value);
    AdjustSize();
}

void TLabel::ParentFontChanged()
{
    TControl::ParentFontChanged();
    AdjustSize();
}

void TLabel::SetAutoSize(bool Value)
{
    FAutoSize = Value;
    AdjustSize();
}

void TLabel::SetWordWrap(bool Value)
{
    FWordWrap = Value;
    AdjustSize();
    Invalidate();
}

void TLabel::SetTransparent(bool Value)
{
    FTransparent = Value;
    Invalidate();
}

void TLabel::AdjustSize()
{
    if (!FAutoSize) {
        return;
    }
    const TWindowDC screen(nullptr);
    RECT r{0, 0, FWordWrap && FWidth > 0 ? FWidth : 0, 0};
    DrawFontText(screen.Get(), FFont, FCaption.empty() ? std::string(" ") : FCaption, r,
                 DT_CALCRECT | DT_NOPREFIX | (FWordWrap ? DT_WORDBREAK : 0u));
    SetBounds(FLeft, FTop, FWordWrap && FWidth > 0 ? FWidth : static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top));
}

void TLabel::Paint(HDC DC)
{
    RECT r{FLeft, FTop, FLeft + FWidth, FTop + FHeight};
    if (FTransparent) {
        SetBkMode(DC, TRANSPARENT);
    } else {
        SetBkMode(DC, OPAQUE);
        SetBkColor(DC, ColorToRGB(EffectiveColor()));
        const TBrushHandle brush(CreateSolidBrush(ColorToRGB(EffectiveColor())));
        FillRect(DC, &r, brush.Get());
    }
    SetTextColor(DC, ColorToRGB(FEnabled ? FFont.Color : clGrayText));
    DrawFontText(DC, FFont, FCaption, r, DT_NOPREFIX | (FWordWrap ? DT_WORDBREAK : 0u));
}

// ---------------------------------------------------------------------------------------------
// TImage

TImage::TImage(TComponent* AOwner, TWinControl* AParent) : TControl(AOwner, AParent) {}

bool TImage::LoadFromResourceName(HINSTANCE Instance, const std::string& Name)
{
    auto* bitmap = static_cast<HBITMAP>(LoadImageA(Instance, Name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap == nullptr) {
        return false;
    }
    FBitmap.Reset(bitmap);
    BITMAP info{};
    GetObjectA(bitmap, sizeof(info), &info);
    FPictureWidth = info.bmWidth;
    FPictureHeight = info.bmHeight;
    if (FAutoSize) {
        SetBounds(FLeft, FTop, FPictureWidth, FPictureHeight);
    } else {
        Invalidate();
    }
    return true;
}

void TImage::Paint(HDC DC)
{
    if (!FBitmap) {
        return;
    }
    // The bitmap is selected out of the memory DC (destroyed in reverse order) before it goes.
    const TMemoryDC memory(CreateCompatibleDC(DC));
    const TSelectedObject selected(memory.Get(), FBitmap.Get());
    BitBlt(DC, FLeft, FTop, std::min(FWidth, FPictureWidth), std::min(FHeight, FPictureHeight), memory.Get(), 0, 0, SRCCOPY);
}

// ---------------------------------------------------------------------------------------------
// TPanel

TPanel::TPanel(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner, AParent)
{
    CreateHandle("TPanel", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT, ParentHandle(), true);
}

void TPanel::SetBevelInner(TBevelCut Value)
{
    FBevelInner = Value;
    Invalidate();
}

void TPanel::SetBevelOuter(TBevelCut Value)
{
    FBevelOuter = Value;
    Invalidate();
}

void TPanel::Paint(HDC DC)
{
    RECT r;
    GetClientRect(Handle(), &r);
    if (FBevelOuter != TBevelCut::bvNone) {
        DrawEdge(DC, &r, FBevelOuter == TBevelCut::bvRaised ? BDR_RAISEDOUTER : BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
    }
    if (FBevelInner != TBevelCut::bvNone) {
        DrawEdge(DC, &r, FBevelInner == TBevelCut::bvRaised ? BDR_RAISEDINNER : BDR_SUNKENINNER, BF_RECT | BF_ADJUST);
    }
}
