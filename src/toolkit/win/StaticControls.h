// The controls that only show: label and image (windowless, drawn by their parent) and the panel
// that hosts other controls.
#pragma once

#include <string>

#include "toolkit/win/Control.h"

// A windowless text, drawn transparently onto its parent unless Transparent is off.
class TLabel : public TControl {
public:
    TLabel(TComponent* AOwner, TWinControl* AParent);
    void SetCaption(const std::string& Value) override;
    void SetFont(const TFont& Value) override;
    void Paint(HDC DC) override;

    bool AutoSize() const noexcept { return FAutoSize; }
    void SetAutoSize(bool Value);
    bool WordWrap() const noexcept { return FWordWrap; }
    void SetWordWrap(bool Value);
    bool Transparent() const noexcept { return FTransparent; }
    void SetTransparent(bool Value);

protected:
    void ParentFontChanged() override;

private:
    void AdjustSize();
    bool FAutoSize = true;
    bool FWordWrap = false;
    bool FTransparent = true;
};

// A windowless picture (a device-dependent bitmap from a resource).
class TImage : public TControl {
public:
    TImage(TComponent* AOwner, TWinControl* AParent);
    // Loads a bitmap resource of Instance; false when it is not there.
    bool LoadFromResourceName(HINSTANCE Instance, const std::string& Name);
    bool AutoSize() const noexcept { return FAutoSize; }
    void SetAutoSize(bool Value) { FAutoSize = Value; }
    int PictureWidth() const noexcept { return FPictureWidth; }
    int PictureHeight() const noexcept { return FPictureHeight; }
    void Paint(HDC DC) override;

private:
    TBitmapHandle FBitmap;
    int FPictureWidth = 0, FPictureHeight = 0;
    bool FAutoSize = true;
};

enum class TBevelCut { bvNone, bvLowered, bvRaised };

// A container with two optional bevels, the outer drawn outside the inner; both bvNone is a
// borderless panel. It hosts controls and hands their notifications to them.
class TPanel : public TWinControl {
public:
    TPanel(TComponent* AOwner, TWinControl* AParent);
    TBevelCut BevelInner() const noexcept { return FBevelInner; }
    void SetBevelInner(TBevelCut Value);
    TBevelCut BevelOuter() const noexcept { return FBevelOuter; }
    void SetBevelOuter(TBevelCut Value);
    void Paint(HDC DC) override;

private:
    TBevelCut FBevelInner = TBevelCut::bvNone;
    TBevelCut FBevelOuter = TBevelCut::bvRaised;
};
