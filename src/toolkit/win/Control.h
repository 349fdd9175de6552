// The control bases: TControl (windowless, drawn by its parent) and TWinControl (a window of its
// own), with the window procedure, the routing of the standard controls' notifications and the
// tab order.
//
// Window handles are created eagerly: a windowed control creates its window when it is
// constructed with its parent. Every control is constructed with (owner, parent): the owner
// frees it, the parent is only where it is shown.
#pragma once

#include "toolkit/win/Win.h"

#include <string>
#include <vector>

#include "toolkit/Classes.h"
#include "toolkit/win/Gdi.h"
#include "toolkit/win/Handles.h"

// The answer a modal form ends with; a button may carry one (Buttons.h).
constexpr int mrNone = 0;
constexpr int mrOk = IDOK;
constexpr int mrCancel = IDCANCEL;

class TWinControl;

class TControl : public TComponent {
public:
    TControl(TComponent* AOwner, TWinControl* AParent);
    ~TControl() override;

    TWinControl* Parent() const noexcept { return FParent; }
    virtual void SetParent(TWinControl* AParent);

    int Left() const noexcept { return FLeft; }
    int Top() const noexcept { return FTop; }
    int Width() const noexcept { return FWidth; }
    int Height() const noexcept { return FHeight; }
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

    bool Visible() const noexcept { return FVisible; }
    virtual void SetVisible(bool Value);
    virtual bool Enabled() const noexcept { return FEnabled; }
    virtual void SetEnabled(bool Value);

    virtual std::string Caption() const { return FCaption; }
    virtual void SetCaption(const std::string& Value);

    const TFont& Font() const noexcept { return FFont; }
    virtual void SetFont(const TFont& Value);
    // Until a colour is set the control shows its parent's; see EffectiveColor.
    COLORREF Color() const noexcept { return FColor; }
    virtual void SetColor(COLORREF Value);
    bool ParentColor() const noexcept { return FParentColor; }
    COLORREF EffectiveColor() const noexcept;

    // Graphic (windowless) controls draw themselves onto their parent.
    virtual bool IsWindowed() const noexcept { return false; }
    virtual void Paint(HDC) {}
    void Invalidate();

protected:
    friend class TWinControl;
    // The parent changed its font: a control that follows its parent's font takes it over.
    virtual void ParentFontChanged();
    bool FParentFont = true;

    TWinControl* FParent = nullptr;
    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    bool FVisible = true;
    bool FEnabled = true;
    std::string FCaption;
    TFont FFont;
    COLORREF FColor = clBtnFace;
    bool FParentColor = true;
};

// One window-procedure base for every window the toolkit creates from its own classes; it
// stores `this` at WM_NCCREATE. Standard controls (buttons, edits ...) keep their own window
// procedure: their parent reflects WM_COMMAND, WM_NOTIFY and WM_CTLCOLOR* to the control's
// object. An exception that escapes a handler is shown by the application and swallowed there,
// never unwound through the system's frames.
class TWinControl : public TControl {
public:
    TWinControl(TComponent* AOwner, TWinControl* AParent);
    ~TWinControl() override;

    HWND Handle() const noexcept { return FWindow.Get(); }
    bool IsWindowed() const noexcept override { return true; }
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void SetVisible(bool Value) override;
    void SetEnabled(bool Value) override;
    void SetCaption(const std::string& Value) override;
    std::string Caption() const override;
    void SetFont(const TFont& Value) override;
    void SetColor(COLORREF Value) override;
    bool TabStop() const noexcept { return FTabStop; }
    void SetTabStop(bool Value);
    bool Focused() const noexcept;
    void SetFocus();
    // Moves the control to place Index (0 first) in its parent's tab order, which is the order
    // of the sibling windows; controls are first in the order they were created.
    void SetTabOrder(int Index);

    int ControlCount() const noexcept { return static_cast<int>(FControls.size()); }
    TControl* Controls(int Index) const { return FControls.at(static_cast<std::size_t>(Index)); }

    // The object behind a window created by this toolkit, or null.
    static TWinControl* FromHandle(HWND Window) noexcept;

    // Reflected notifications from the parent. Code is the notification code of WM_COMMAND.
    virtual void CommandNotify(WORD Code);
    virtual LRESULT Notify(NMHDR*) { return 0; }
    // WM_CTLCOLOR* for this control: the font's colour on the effective colour; returns the
    // brush, or null for the default.
    virtual HBRUSH CtlColor(HDC DC);

protected:
    friend class TControl;
    // Creates the window, a child of the parent's unless Style says otherwise (then ParentWindow
    // is its owner). Own classes are registered on first use and run through WndProc.
    void CreateHandle(const char* ClassName, DWORD Style, DWORD ExStyle, HWND ParentWindow, bool OwnClass);
    virtual LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultHandler(UINT Msg, WPARAM wParam, LPARAM lParam);
    void ParentFontChanged() override;
    void ApplyFont();
    void PaintGraphicChildren(HDC DC);
    void AddControl(TControl* Control);
    void RemoveControl(TControl* Control) noexcept;
    // The brush of this control's effective colour (created on demand, kept until it changes).
    HBRUSH ColorBrush();
    // The parent's window, for a control's own (null without a parent: creating a child raises).
    HWND ParentHandle() const noexcept { return FParent != nullptr ? FParent->Handle() : nullptr; }
    // Adds or removes style bits of the window (GWL_STYLE).
    void ChangeStyle(DWORD Bits, bool Set);

    bool FTabStop = false;
    std::vector<TControl*> FControls;

private:
    static LRESULT CALLBACK StdWndProc(HWND Window, UINT Msg, WPARAM wParam, LPARAM lParam);
    // The window goes, or went, with its parent's: this control and the controls inside it no
    // longer hold theirs, so none is destroyed twice (its handle may name another window by then).
    void WindowGone() noexcept;
    TWindowHandle FWindow;
    TFontHandle FFontHandle;
    TBrushHandle FBrush;
    COLORREF FBrushColor = CLR_INVALID;
};
