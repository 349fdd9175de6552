#include "toolkit/win/Control.h"

#include <commctrl.h>

#include <algorithm>

#include "toolkit/win/Application.h"

namespace {

const char* const ControlProp = "SetupToolkitControl";

// Child window identifiers; unique in the process so that a form can find a control by id.
int NextControlId()
{
    static int id = 1000;
    return ++id;
}

void InitControlsOnce()
{
    static const bool done = [] {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        return true;
    }();
    (void)done;
}

// The failure of a handler stops here: the application shows it, and nothing (not even a
// failure to show it) unwinds into the system's frames.
void ShowFailure(const std::exception& E) noexcept
{
    try {
        Application->ShowException(E);
    } catch (...) {
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* AOwner, TWinControl* AParent) : TComponent(AOwner)
{
    SetParent(AParent);
}

TControl::~TControl()
{
    if (FParent != nullptr) {
        Invalidate();
        FParent->RemoveControl(this);
    }
}

void TControl::SetParent(TWinControl* AParent)
{
    if (AParent == FParent) {
        return;
    }
    if (FParent != nullptr) {
        Invalidate();
        FParent->RemoveControl(this);
    }
    FParent = AParent;
    if (FParent != nullptr) {
        FParent->AddControl(this);
        if (FParentFont) {
            FFont = FParent->Font();
        }
        Invalidate();
    }
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    Invalidate();
    FLeft = ALeft;
    FTop = ATop;
    FWidth = AWidth;
    FHeight = AHeight;
    Invalidate();
}

void TControl::SetVisible(bool Value)
{
    if (FVisible != Value) {
        FVisible = Value;
        if (FParent != nullptr && FParent->Handle() != nullptr) {
            RECT r{FLeft, FTop, FLeft + FWidth, FTop + FHeight};
            InvalidateRect(FParent->Handle(), &r, TRUE);
        }
    }
}

void TControl::SetEnabled(bool Value)
{
    FEnabled = Value;
    Invalidate();
}

void TControl::SetCaption(const std::string& Value)
{
    FCaption = Value;
    Invalidate();
}

void TControl::SetFont(const TFont& Value)
{
    FFont = Value;
    FParentFont = false;
    Invalidate();
}

void TControl::SetColor(COLORREF Value)
{
    FColor = Value;
    FParentColor = false;
    Invalidate();
}

COLORREF TControl::EffectiveColor() const noexcept
{
    return FParentColor && FParent != nullptr ? FParent->EffectiveColor() : FColor;
}

void TControl::Invalidate()
{
    if (IsWindowed()) {
        HWND window = static_cast<TWinControl*>(this)->Handle();
        if (window != nullptr) {
            InvalidateRect(window, nullptr, TRUE);
        }
    } else if (FVisible && FParent != nullptr && FParent->Handle() != nullptr) {
        RECT r{FLeft, FTop, FLeft + FWidth, FTop + FHeight};
        InvalidateRect(FParent->Handle(), &r, TRUE);
    }
}

void TControl::ParentFontChanged()
{
    if (FParentFont && FParent != nullptr) {
        FFont = FParent->Font();
        Invalidate();
    }
}

// ---------------------------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* AOwner, TWinControl* AParent) : TControl(AOwner, AParent) {}

TWinControl::~TWinControl()
{
    // Owned components go first, while this object is still whole; controls placed here but
    // owned elsewhere are only detached. Their windows die with this one.
    DestroyComponents();
    for (TControl* child : FControls) {
        child->FParent = nullptr;
        if (child->IsWindowed()) {
            static_cast<TWinControl*>(child)->WindowGone();
        }
    }
    FControls.clear();
    if (FParent != nullptr) {
        FParent->RemoveControl(this);
        FParent = nullptr;
    }
    if (FWindow) {
        // Messages sent while the window goes no longer reach this half-destroyed object.
        RemovePropA(FWindow.Get(), ControlProp);
        FWindow.Reset();
    }
}

TWinControl* TWinControl::FromHandle(HWND Window) noexcept
{
    return Window == nullptr ? nullptr : static_cast<TWinControl*>(GetPropA(Window, ControlProp));
}

void TWinControl::CreateHandle(const char* ClassName, DWORD Style, DWORD ExStyle, HWND ParentWindow, bool OwnClass)
{
    InitControlsOnce();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (OwnClass) {
        WNDCLASSA existing{};
        if (!GetClassInfoA(instance, ClassName, &existing)) {
            WNDCLASSA wc{};
            wc.style = CS_DBLCLKS;
            wc.lpfnWndProc = StdWndProc;
            wc.hInstance = instance;
            wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
            wc.hIcon = LoadIconA(instance, "MAINICON");
            wc.lpszClassName = ClassName;
            RegisterClassA(&wc);
        }
    }
    const bool child = (Style & WS_CHILD) != 0;
    if (child && ParentWindow == nullptr) {
        throw Exception("Control has no parent window");
    }
    HMENU id = child ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(NextControlId())) : nullptr;
    HWND window = CreateWindowExA(ExStyle, ClassName, FCaption.c_str(), Style, FLeft, FTop, FWidth, FHeight, ParentWindow,
                                  id, instance, OwnClass ? this : nullptr);
    if (window == nullptr) {
        FWindow.Release(); // a window that failed after WM_NCCREATE is already gone
        throw Exception("Error creating window");
    }
    if (FWindow.Get() != window) {
        FWindow.Reset(window); // a standard class: own classes took it at WM_NCCREATE
    }
    SetPropA(window, ControlProp, this);
    ApplyFont();
}

LRESULT CALLBACK TWinControl::StdWndProc(HWND Window, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    TWinControl* self = nullptr;
    if (Msg == WM_NCCREATE) {
        self = static_cast<TWinControl*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        if (self != nullptr) {
            self->FWindow.Reset(Window);
            SetPropA(Window, ControlProp, self);
        }
    } else {
        self = FromHandle(Window);
    }
    if (self == nullptr || self->Handle() != Window) {
        return DefWindowProcA(Window, Msg, wParam, lParam);
    }
    if (Msg == WM_NCDESTROY) {
        // Destroyed from outside (with its parent): the object no longer holds the window.
        RemovePropA(Window, ControlProp);
        self->WindowGone();
        return DefWindowProcA(Window, Msg, wParam, lParam);
    }
    try {
        return self->WndProc(Msg, wParam, lParam);
    } catch (const std::exception& e) {
        ShowFailure(e);
    } catch (...) {
        ShowFailure(Exception("Unknown error"));
    }
    return 0;
}

void TWinControl::WindowGone() noexcept
{
    FWindow.Release();
    for (TControl* child : FControls) {
        if (child->IsWindowed()) {
            static_cast<TWinControl*>(child)->WindowGone();
        }
    }
}

LRESULT TWinControl::DefaultHandler(UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(Handle(), Msg, wParam, lParam);
}

LRESULT TWinControl::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam)
{
    switch (Msg) {
    case WM_COMMAND:
        // From a control of this one's, or from the dialog manager for one further down (Enter
        // presses the default button wherever it sits).
        if (lParam != 0) {
            if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam));
                child != nullptr && IsChild(Handle(), child->Handle())) {
                child->CommandNotify(HIWORD(wParam));
                return 0;
            }
        }
        break;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (TWinControl* child = FromHandle(header->hwndFrom)) {
            return child->Notify(header);
        }
        break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
        if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam))) {
            if (HBRUSH brush = child->CtlColor(reinterpret_cast<HDC>(wParam))) {
                return reinterpret_cast<LRESULT>(brush);
            }
        }
        break;
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(Handle(), &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, ColorBrush());
        return 1;
    }
    case WM_PAINT: {
        const TPaintDC dc(Handle());
        Paint(dc.Get());
        PaintGraphicChildren(dc.Get());
        return 0;
    }
    default:
        break;
    }
    return DefaultHandler(Msg, wParam, lParam);
}

void TWinControl::PaintGraphicChildren(HDC DC)
{
    for (TControl* child : FControls) {
        if (!child->IsWindowed() && child->Visible()) {
            const int saved = SaveDC(DC);
            IntersectClipRect(DC, child->Left(), child->Top(), child->Left() + child->Width(), child->Top() + child->Height());
            child->Paint(DC);
            RestoreDC(DC, saved);
        }
    }
}

void TWinControl::AddControl(TControl* Control)
{
    FControls.push_back(Control);
}

void TWinControl::RemoveControl(TControl* Control) noexcept
{
    FControls.erase(std::remove(FControls.begin(), FControls.end(), Control), FControls.end());
}

HBRUSH TWinControl::ColorBrush()
{
    const COLORREF color = ColorToRGB(EffectiveColor());
    if (!FBrush || FBrushColor != color) {
        FBrush.Reset(CreateSolidBrush(color));
        FBrushColor = color;
    }
    return FBrush.Get();
}

HBRUSH TWinControl::CtlColor(HDC DC)
{
    SetTextColor(DC, ColorToRGB(FFont.Color));
    SetBkColor(DC, ColorToRGB(EffectiveColor()));
    return ColorBrush();
}

void TWinControl::CommandNotify(WORD) {}

void TWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    FLeft = ALeft;
    FTop = ATop;
    FWidth = AWidth;
    FHeight = AHeight;
    if (FWindow) {
        MoveWindow(Handle(), ALeft, ATop, AWidth, AHeight, TRUE);
    }
}

void TWinControl::SetVisible(bool Value)
{
    FVisible = Value;
    if (FWindow) {
        ShowWindow(Handle(), Value ? SW_SHOW : SW_HIDE);
    }
}

void TWinControl::SetEnabled(bool Value)
{
    FEnabled = Value;
    if (FWindow) {
        EnableWindow(Handle(), Value ? TRUE : FALSE);
    }
}

void TWinControl::SetCaption(const std::string& Value)
{
    FCaption = Value;
    if (FWindow) {
        SetWindowTextA(Handle(), Value.c_str());
    }
}

std::string TWinControl::Caption() const
{
    if (!FWindow) {
        return FCaption;
    }
    const int length = GetWindowTextLengthA(Handle());
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(Handle(), text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

void TWinControl::SetFont(const TFont& Value)
{
    FFont = Value;
    FParentFont = false;
    ApplyFont();
    for (TControl* child : FControls) {
        child->ParentFontChanged();
    }
}

void TWinControl::ParentFontChanged()
{
    if (FParentFont && FParent != nullptr) {
        FFont = FParent->Font();
        ApplyFont();
        for (TControl* child : FControls) {
            child->ParentFontChanged();
        }
    }
}

void TWinControl::ApplyFont()
{
    if (!FWindow) {
        return;
    }
    TFontHandle font = FFont.CreateHandle();
    SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
    FFontHandle = std::move(font); // the old font is freed only after the window let go of it
}

void TWinControl::SetColor(COLORREF Value)
{
    TControl::SetColor(Value);
    for (TControl* child : FControls) {
        child->Invalidate();
    }
}

void TWinControl::ChangeStyle(DWORD Bits, bool Set)
{
    LONG_PTR style = GetWindowLongPtrA(Handle(), GWL_STYLE);
    style = Set ? (style | static_cast<LONG_PTR>(Bits)) : (style & ~static_cast<LONG_PTR>(Bits));
    SetWindowLongPtrA(Handle(), GWL_STYLE, style);
}

void TWinControl::SetTabStop(bool Value)
{
    FTabStop = Value;
    if (FWindow) {
        ChangeStyle(WS_TABSTOP, Value);
    }
}

bool TWinControl::Focused() const noexcept
{
    return FWindow && GetFocus() == Handle();
}

void TWinControl::SetFocus()
{
    if (FWindow) {
        ::SetFocus(Handle());
    }
}

void TWinControl::SetTabOrder(int Index)
{
    if (FParent == nullptr || !FWindow) {
        return;
    }
    std::vector<HWND> siblings;
    for (HWND w = GetWindow(FParent->Handle(), GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        if (w != Handle()) siblings.push_back(w);
    }
    const auto at = static_cast<std::size_t>(std::clamp(Index, 0, static_cast<int>(siblings.size())));
    SetWindowPos(Handle(), at == 0 ? HWND_TOP : siblings[at - 1], 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}
