#include "Forms.h"

#include <commctrl.h>

#include <algorithm>

#include "SysUtils.h"

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

// Visual styles draw check boxes and radio buttons ignoring WM_CTLCOLORSTATIC's text colour;
// a control that needs its own colours on a dark form is drawn classically. uxtheme is looked
// up at run time so that nothing depends on it being present.
void UseClassicLook(HWND Window)
{
    using SetWindowThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    static const SetWindowThemeFn fn = [] {
        HMODULE module = LoadLibraryA("uxtheme.dll");
        return module == nullptr ? nullptr
                                 : reinterpret_cast<SetWindowThemeFn>(reinterpret_cast<void*>(GetProcAddress(module, "SetWindowTheme")));
    }();
    if (fn != nullptr) {
        fn(Window, L"", L"");
    }
}

TForm* ParentForm(TControl* Control)
{
    for (TControl* c = Control; c != nullptr; c = c->Parent()) {
        if (auto* form = dynamic_cast<TForm*>(c)) {
            return form;
        }
    }
    return nullptr;
}

TButton* FindDefaultButton(const TWinControl* Container)
{
    for (int i = 0; i < Container->ControlCount(); ++i) {
        TControl* c = Container->Controls(i);
        if (auto* button = dynamic_cast<TButton*>(c); button != nullptr && button->Default() && button->Visible()) {
            return button;
        }
        if (auto* inner = dynamic_cast<TWinControl*>(c)) {
            if (TButton* found = FindDefaultButton(inner)) {
                return found;
            }
        }
    }
    return nullptr;
}

// Disables every visible, enabled top-level window of this thread but Keep, and enables them
// again when it ends: while a modal dialog or message box runs no other window of the program
// takes input, whichever window the dialog belongs to.
class TOtherWindowsDisabled {
public:
    explicit TOtherWindowsDisabled(HWND Keep) : FKeep(Keep)
    {
        EnumThreadWindows(GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(this));
    }
    ~TOtherWindowsDisabled() { Enable(); }
    TOtherWindowsDisabled(const TOtherWindowsDisabled&) = delete;
    TOtherWindowsDisabled& operator=(const TOtherWindowsDisabled&) = delete;

    void Enable() noexcept
    {
        for (HWND window : FWindows) {
            EnableWindow(window, TRUE);
        }
        FWindows.clear();
    }

private:
    // A window-enumeration callback: a plain function with the system's calling convention.
    static BOOL CALLBACK DisableOne(HWND Window, LPARAM Param)
    {
        auto* self = reinterpret_cast<TOtherWindowsDisabled*>(Param);
        if (Window != self->FKeep && IsWindowVisible(Window) && IsWindowEnabled(Window)) {
            EnableWindow(Window, FALSE);
            self->FWindows.push_back(Window);
        }
        return TRUE;
    }

    HWND FKeep;
    std::vector<HWND> FWindows;
};

} // namespace

// ---------------------------------------------------------------------------------------------

int SystemMessageBox(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags)
{
    return MessageBoxA(Owner, Text.c_str(), Caption.c_str(), Flags);
}

TMessageBoxFunc MessageBoxFunc = SystemMessageBox;

std::string ExceptionDisplayText(const std::string& Message)
{
    if (Message.empty()) {
        return Message;
    }
    // The last character: one byte, or two when the byte before the last is a lead byte.
    std::size_t last = Message.size() - 1;
    if (last > 0 && !IsSingleByteAt(Message, last)) {
        --last;
    }
    const std::string_view lastChar(Message.data() + last, Message.size() - last);
    return lastChar.compare(".") > 0 ? Message + "." : Message;
}

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

// ---------------------------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

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

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl()
{
    // Owned components go first, while this object is still whole; controls placed here but
    // owned elsewhere are only detached. Their windows die with this one.
    DestroyComponents();
    HWND window = FHandle;
    for (TControl* child : FControls) {
        child->FParent = nullptr;
        if (child->IsWindowed()) {
            static_cast<TWinControl*>(child)->FHandle = nullptr;
        }
    }
    FControls.clear();
    if (FParent != nullptr) {
        FParent->RemoveControl(this);
        FParent = nullptr;
    }
    if (window != nullptr) {
        RemovePropA(window, ControlProp);
        FHandle = nullptr;
        DestroyWindow(window);
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
    FOwnClass = OwnClass;
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
    HMENU id = child ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(NextControlId())) : nullptr;
    HWND window = CreateWindowExA(ExStyle, ClassName, FCaption.c_str(), Style, FLeft, FTop, FWidth, FHeight, ParentWindow,
                                  id, instance, OwnClass ? this : nullptr);
    if (window == nullptr) {
        throw Exception("Error creating window");
    }
    FHandle = window;
    SetPropA(window, ControlProp, this);
    ApplyFont();
}

LRESULT CALLBACK TWinControl::StdWndProc(HWND Window, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    TWinControl* self = nullptr;
    if (Msg == WM_NCCREATE) {
        self = static_cast<TWinControl*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        if (self != nullptr) {
            self->FHandle = Window;
            SetPropA(Window, ControlProp, self);
        }
    } else {
        self = FromHandle(Window);
    }
    if (self == nullptr) {
        return DefWindowProcA(Window, Msg, wParam, lParam);
    }
    try {
        return self->WndProc(Msg, wParam, lParam);
    } catch (const std::exception& e) {
        Application->HandleException(e);
    } catch (...) {
        Application->HandleException(Exception("Unknown error"));
    }
    return 0;
}

LRESULT TWinControl::DefaultHandler(UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(FHandle, Msg, wParam, lParam);
}

LRESULT TWinControl::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam)
{
    switch (Msg) {
    case WM_COMMAND:
        if (lParam != 0) {
            if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam)); child != nullptr && child->Parent() == this) {
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
        GetClientRect(FHandle, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, ColorBrush());
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(FHandle, &ps);
        Paint(dc);
        PaintGraphicChildren(dc);
        EndPaint(FHandle, &ps);
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
    if (FHandle != nullptr) {
        MoveWindow(FHandle, ALeft, ATop, AWidth, AHeight, TRUE);
    }
}

void TWinControl::SetVisible(bool Value)
{
    FVisible = Value;
    if (FHandle != nullptr) {
        ShowWindow(FHandle, Value ? SW_SHOW : SW_HIDE);
    }
}

void TWinControl::SetEnabled(bool Value)
{
    FEnabled = Value;
    if (FHandle != nullptr) {
        EnableWindow(FHandle, Value ? TRUE : FALSE);
    }
}

void TWinControl::SetCaption(const std::string& Value)
{
    FCaption = Value;
    if (FHandle != nullptr) {
        SetWindowTextA(FHandle, Value.c_str());
    }
}

std::string TWinControl::Caption() const
{
    if (FHandle == nullptr) {
        return FCaption;
    }
    const int length = GetWindowTextLengthA(FHandle);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(FHandle, text.data(), length + 1);
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
    if (FHandle == nullptr) {
        return;
    }
    TFontHandle font = FFont.CreateHandle();
    SendMessageA(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
    FFontHandle = std::move(font); // the old font is freed only after the window let go of it
}

void TWinControl::SetColor(COLORREF Value)
{
    TControl::SetColor(Value);
    for (TControl* child : FControls) {
        child->Invalidate();
    }
}

void TWinControl::SetTabStop(bool Value)
{
    FTabStop = Value;
    if (FHandle != nullptr) {
        LONG_PTR style = GetWindowLongPtrA(FHandle, GWL_STYLE);
        style = Value ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
        SetWindowLongPtrA(FHandle, GWL_STYLE, style);
    }
}

bool TWinControl::Focused() const noexcept
{
    return FHandle != nullptr && GetFocus() == FHandle;
}

void TWinControl::SetFocus()
{
    if (FHandle != nullptr) {
        ::SetFocus(FHandle);
    }
}

void TWinControl::SetTabOrder(int Index)
{
    if (FParent == nullptr || FHandle == nullptr) {
        return;
    }
    std::vector<HWND> siblings;
    for (HWND w = GetWindow(FParent->Handle(), GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        if (w != FHandle) siblings.push_back(w);
    }
    const auto at = static_cast<std::size_t>(std::clamp(Index, 0, static_cast<int>(siblings.size())));
    SetWindowPos(FHandle, at == 0 ? HWND_TOP : siblings[at - 1], 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------------------------------------
// TLabel, TImage

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner) {}

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
    HDC dc = GetDC(nullptr);
    TFontHandle font = FFont.CreateHandle();
    HGDIOBJ old = SelectObject(dc, font.Get());
    RECT r{0, 0, FWordWrap && FWidth > 0 ? FWidth : 0, 0};
    const std::string text = FCaption.empty() ? std::string(" ") : FCaption;
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_NOPREFIX | (FWordWrap ? DT_WORDBREAK : 0u));
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    SetBounds(FLeft, FTop, FWordWrap && FWidth > 0 ? FWidth : static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top));
}

void TLabel::Paint(HDC DC)
{
    TFontHandle font = FFont.CreateHandle();
    HGDIOBJ old = SelectObject(DC, font.Get());
    RECT r{FLeft, FTop, FLeft + FWidth, FTop + FHeight};
    if (FTransparent) {
        SetBkMode(DC, TRANSPARENT);
    } else {
        SetBkMode(DC, OPAQUE);
        SetBkColor(DC, ColorToRGB(EffectiveColor()));
        TBrushHandle brush(CreateSolidBrush(ColorToRGB(EffectiveColor())));
        FillRect(DC, &r, brush.Get());
    }
    SetTextColor(DC, ColorToRGB(FEnabled ? FFont.Color : static_cast<COLORREF>(0x80000000u | COLOR_GRAYTEXT)));
    DrawTextA(DC, FCaption.c_str(), static_cast<int>(FCaption.size()), &r, DT_NOPREFIX | (FWordWrap ? DT_WORDBREAK : 0u));
    SelectObject(DC, old);
}

TImage::TImage(TComponent* AOwner) : TControl(AOwner) {}

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
    HDC memory = CreateCompatibleDC(DC);
    HGDIOBJ old = SelectObject(memory, FBitmap.Get());
    BitBlt(DC, FLeft, FTop, std::min(FWidth, FPictureWidth), std::min(FHeight, FPictureHeight), memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

// ---------------------------------------------------------------------------------------------
// Buttons

void TButtonControl::CommandNotify(WORD Code)
{
    if (Code == BN_CLICKED && OnClick) {
        OnClick(this);
    }
}

void TButtonControl::Click()
{
    if (FParent != nullptr && FHandle != nullptr) {
        SendMessageA(FParent->Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(FHandle), BN_CLICKED), reinterpret_cast<LPARAM>(FHandle));
    }
}

TButton::TButton(TComponent* AOwner, TWinControl* AParent) : TButtonControl(AOwner)
{
    SetParent(AParent);
    FTabStop = true;
    CreateHandle("BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, AParent->Handle(), false);
}

void TButton::SetDefault(bool Value)
{
    FDefault = Value;
    SendMessageA(FHandle, BM_SETSTYLE, Value ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::CommandNotify(WORD Code)
{
    if (Code == BN_CLICKED && FModalResult != mrNone) {
        if (TForm* form = ParentForm(this)) {
            form->SetModalResult(FModalResult);
        }
    }
    TButtonControl::CommandNotify(Code);
}

TCheckableButton::TCheckableButton(TComponent* AOwner, TWinControl* AParent, DWORD ButtonStyle)
    : TButtonControl(AOwner)
{
    SetParent(AParent);
    FTabStop = true;
    CreateHandle("BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ButtonStyle, 0, AParent->Handle(), false);
    UseClassicLook(FHandle);
}

bool TCheckableButton::Checked() const
{
    return SendMessageA(FHandle, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckableButton::SetChecked(bool Value)
{
    SendMessageA(FHandle, BM_SETCHECK, Value ? BST_CHECKED : BST_UNCHECKED, 0);
}

HBRUSH TCheckableButton::CtlColor(HDC DC)
{
    SetBkMode(DC, TRANSPARENT);
    return TWinControl::CtlColor(DC);
}

TCheckBox::TCheckBox(TComponent* AOwner, TWinControl* AParent) : TCheckableButton(AOwner, AParent, BS_AUTOCHECKBOX) {}

TRadioButton::TRadioButton(TComponent* AOwner, TWinControl* AParent)
    : TCheckableButton(AOwner, AParent, BS_AUTORADIOBUTTON)
{
}

void TRadioButton::SetChecked(bool Value)
{
    if (Value && FParent != nullptr) {
        for (int i = 0; i < FParent->ControlCount(); ++i) {
            if (auto* other = dynamic_cast<TRadioButton*>(FParent->Controls(i)); other != nullptr && other != this) {
                SendMessageA(other->Handle(), BM_SETCHECK, BST_UNCHECKED, 0);
            }
        }
    }
    TCheckableButton::SetChecked(Value);
}

// ---------------------------------------------------------------------------------------------
// Edit, combo box, list box

TEdit::TEdit(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner)
{
    SetParent(AParent);
    FColor = clWindow;
    FParentColor = false;
    FTabStop = true;
    CreateHandle("EDIT", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, AParent->Handle(), false);
}

void TEdit::SetReadOnly(bool Value)
{
    FReadOnly = Value;
    SendMessageA(FHandle, EM_SETREADONLY, Value ? TRUE : FALSE, 0);
}

HBRUSH TEdit::CtlColor(HDC DC)
{
    return TWinControl::CtlColor(DC);
}

void TEdit::CommandNotify(WORD Code)
{
    if (Code == EN_CHANGE && OnChange) {
        OnChange(this);
    }
}

TComboBox::TComboBox(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner)
{
    SetParent(AParent);
    FColor = clWindow;
    FParentColor = false;
    FTabStop = true;
    CreateHandle("COMBOBOX", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0,
                 AParent->Handle(), false);
}

void TComboBox::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    // The window's height includes the dropped-down list; the edit part sizes itself.
    TWinControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    if (FHandle != nullptr) {
        MoveWindow(FHandle, ALeft, ATop, AWidth, AHeight + 160, TRUE);
    }
}

void TComboBox::AddItem(const std::string& Item)
{
    SendMessageA(FHandle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Item.c_str()));
}

void TComboBox::ClearItems()
{
    SendMessageA(FHandle, CB_RESETCONTENT, 0, 0);
}

int TComboBox::ItemCount() const
{
    return static_cast<int>(SendMessageA(FHandle, CB_GETCOUNT, 0, 0));
}

namespace {
// The text of item Index of a combo box or list box, by that control's own length and text
// messages; an index outside the list raises.
std::string ListItemText(HWND Handle, UINT LengthMessage, UINT TextMessage, LRESULT Error, int Index)
{
    const LRESULT length = SendMessageA(Handle, LengthMessage, static_cast<WPARAM>(Index), 0);
    if (length == Error) {
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(Handle, TextMessage, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}
} // namespace

std::string TComboBox::Item(int Index) const
{
    return ListItemText(FHandle, CB_GETLBTEXTLEN, CB_GETLBTEXT, CB_ERR, Index);
}

int TComboBox::ItemIndex() const
{
    return static_cast<int>(SendMessageA(FHandle, CB_GETCURSEL, 0, 0));
}

void TComboBox::SetItemIndex(int Value)
{
    SendMessageA(FHandle, CB_SETCURSEL, static_cast<WPARAM>(Value), 0);
}

void TComboBox::CommandNotify(WORD Code)
{
    if ((Code == CBN_SELCHANGE || Code == CBN_EDITCHANGE) && OnChange) {
        OnChange(this);
    }
}

TListBox::TListBox(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner)
{
    SetParent(AParent);
    FColor = clWindow;
    FParentColor = false;
    FTabStop = true;
    CreateHandle("LISTBOX", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                 WS_EX_CLIENTEDGE, AParent->Handle(), false);
}

void TListBox::AddItem(const std::string& Item)
{
    SendMessageA(FHandle, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Item.c_str()));
}

void TListBox::ClearItems()
{
    SendMessageA(FHandle, LB_RESETCONTENT, 0, 0);
}

int TListBox::ItemCount() const
{
    return static_cast<int>(SendMessageA(FHandle, LB_GETCOUNT, 0, 0));
}

std::string TListBox::Item(int Index) const
{
    return ListItemText(FHandle, LB_GETTEXTLEN, LB_GETTEXT, LB_ERR, Index);
}

int TListBox::ItemIndex() const
{
    return static_cast<int>(SendMessageA(FHandle, LB_GETCURSEL, 0, 0));
}

void TListBox::SetItemIndex(int Value)
{
    SendMessageA(FHandle, LB_SETCURSEL, static_cast<WPARAM>(Value), 0);
}

void TListBox::CommandNotify(WORD Code)
{
    if (Code == LBN_DBLCLK && OnDblClick) {
        OnDblClick(this);
    }
}

// ---------------------------------------------------------------------------------------------
// Panel, status bar, progress bar

TPanel::TPanel(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner)
{
    SetParent(AParent);
    CreateHandle("TPanel", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT, AParent->Handle(), true);
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
    GetClientRect(FHandle, &r);
    if (FBevelOuter != TBevelCut::bvNone) {
        DrawEdge(DC, &r, FBevelOuter == TBevelCut::bvRaised ? BDR_RAISEDOUTER : BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
    }
    if (FBevelInner != TBevelCut::bvNone) {
        DrawEdge(DC, &r, FBevelInner == TBevelCut::bvRaised ? BDR_RAISEDINNER : BDR_SUNKENINNER, BF_RECT | BF_ADJUST);
    }
}

TStatusBar::TStatusBar(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner)
{
    SetParent(AParent);
    CreateHandle(STATUSCLASSNAMEA, WS_CHILD | WS_VISIBLE, 0, AParent->Handle(), false);
    SendMessageA(FHandle, SB_SIMPLE, TRUE, 0);
}

void TStatusBar::SetSimpleText(const std::string& Value)
{
    FSimpleText = Value;
    SendMessageA(FHandle, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(Value.c_str()));
}

TProgressBar::TProgressBar(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner)
{
    SetParent(AParent);
    CreateHandle(PROGRESS_CLASSA, WS_CHILD | WS_VISIBLE, 0, AParent->Handle(), false);
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
    SendMessageA(FHandle, PBM_SETSTEP, static_cast<WPARAM>(Value), 0);
}

void TProgressBar::SetSmooth(bool Value)
{
    LONG_PTR style = GetWindowLongPtrA(FHandle, GWL_STYLE);
    style = Value ? (style | PBS_SMOOTH) : (style & ~static_cast<LONG_PTR>(PBS_SMOOTH));
    SetWindowLongPtrA(FHandle, GWL_STYLE, style);
    Invalidate();
}

void TProgressBar::Apply()
{
    SendMessageA(FHandle, PBM_SETRANGE32, 0, ScaledRange(FMax - FMin));
    SendMessageA(FHandle, PBM_SETPOS, static_cast<WPARAM>(ScaledPosition(FPosition - FMin, FMax - FMin)), 0);
}

// ---------------------------------------------------------------------------------------------
// TForm

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner)
{
    FParentColor = false;
    FParentFont = false;
    FColor = clBtnFace;
    FVisible = false;
    FWidth = 320;
    FHeight = 240;
    FLeft = CW_USEDEFAULT;
    FTop = CW_USEDEFAULT;
    // Every form belongs to the application window, which alone has a taskbar button.
    CreateHandle("TForm", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, Application->Handle(), true);
    RECT r;
    GetWindowRect(FHandle, &r);
    FLeft = r.left;
    FTop = r.top;
}

TForm::~TForm()
{
    Application->FormDestroyed(this);
}

void TForm::DoCreate()
{
    if (OnCreate) {
        OnCreate(this);
    }
}

void TForm::ApplyStyle()
{
    DWORD style = WS_CLIPCHILDREN;
    DWORD exStyle = WS_EX_CONTROLPARENT;
    const bool sysMenu = (FBorderIcons & biSystemMenu) != 0;
    switch (FBorderStyle) {
    case TBorderStyle::bsNone: style |= WS_POPUP; break;
    case TBorderStyle::bsSingle: style |= WS_OVERLAPPED | WS_CAPTION; break;
    case TBorderStyle::bsSizeable: style |= WS_OVERLAPPED | WS_CAPTION | WS_THICKFRAME; break;
    case TBorderStyle::bsDialog:
        style |= WS_POPUP | WS_CAPTION;
        exStyle |= WS_EX_DLGMODALFRAME;
        break;
    }
    if (FBorderStyle != TBorderStyle::bsNone && sysMenu) {
        style |= WS_SYSMENU;
        if (FBorderStyle != TBorderStyle::bsDialog) {
            if ((FBorderIcons & biMinimize) != 0) style |= WS_MINIMIZEBOX;
            if ((FBorderIcons & biMaximize) != 0) style |= WS_MAXIMIZEBOX;
        }
    }
    if (FFormStyle == TFormStyle::fsStayOnTop) {
        exStyle |= WS_EX_TOPMOST;
    }
    if (IsWindowVisible(FHandle)) {
        style |= WS_VISIBLE;
    }
    SetWindowLongPtrA(FHandle, GWL_STYLE, static_cast<LONG_PTR>(style));
    SetWindowLongPtrA(FHandle, GWL_EXSTYLE, static_cast<LONG_PTR>(exStyle));
    SetWindowPos(FHandle, FFormStyle == TFormStyle::fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TForm::SetBorderStyle(TBorderStyle Value)
{
    FBorderStyle = Value;
    ApplyStyle();
}

void TForm::SetBorderIcons(unsigned Value)
{
    FBorderIcons = Value;
    ApplyStyle();
}

void TForm::SetFormStyle(TFormStyle Value)
{
    FFormStyle = Value;
    ApplyStyle();
}

void TForm::SetClientSize(int AWidth, int AHeight)
{
    RECT r{0, 0, AWidth, AHeight};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrA(FHandle, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(FHandle, GWL_EXSTYLE)));
    SetBounds(FLeft, FTop, r.right - r.left, r.bottom - r.top);
}

int TForm::ClientWidth() const
{
    RECT r;
    GetClientRect(FHandle, &r);
    return r.right - r.left;
}

int TForm::ClientHeight() const
{
    RECT r;
    GetClientRect(FHandle, &r);
    return r.bottom - r.top;
}

void TForm::PlaceForShowing()
{
    RECT area{};
    switch (FPosition) {
    case TPosition::poDesigned: return;
    case TPosition::poMainFormCenter:
    case TPosition::poOwnerFormCenter: {
        HWND over = FPosition == TPosition::poOwnerFormCenter ? GetWindow(FHandle, GW_OWNER)
                    : Application->MainForm() != nullptr && Application->MainForm() != this ? Application->MainForm()->Handle()
                                                                                            : nullptr;
        if (over != nullptr && IsWindowVisible(over)) {
            GetWindowRect(over, &area);
            break;
        }
        [[fallthrough]];
    }
    case TPosition::poScreenCenter:
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        break;
    }
    const int left = area.left + ((area.right - area.left) - FWidth) / 2;
    const int top = area.top + ((area.bottom - area.top) - FHeight) / 2;
    SetBounds(std::max(0, left), std::max(0, top), FWidth, FHeight);
}

void TForm::Show()
{
    SetVisible(true);
}

void TForm::Hide()
{
    SetVisible(false);
}

void TForm::SetVisible(bool Value)
{
    if (!Value) {
        FVisible = false;
        ShowWindow(FHandle, SW_HIDE);
        // The system hands the activation of a hidden form to its owner, the sizeless
        // application window; the form the user worked in before takes it at once instead.
        if (GetActiveWindow() == Application->Handle()) {
            Application->ActivateForm();
        }
        if (Application->MainForm() == this) {
            Application->MainFormVisibility(false);
        }
        return;
    }
    if (FVisible && IsWindowVisible(FHandle)) {
        return;
    }
    if (OnShow) {
        OnShow(this);
    }
    PlaceForShowing();
    FVisible = true;
    if (Application->MainForm() == this) {
        Application->MainFormVisibility(true);
    }
    ShowWindow(FHandle, SW_SHOW);
    FShownOnce = true;
    HWND focus = FActiveControl != nullptr ? FActiveControl->Handle() : GetNextDlgTabItem(FHandle, nullptr, FALSE);
    if (focus != nullptr && IsWindowVisible(focus)) {
        ::SetFocus(focus);
        FLastFocus = focus;
    }
}

void TForm::Close()
{
    if (FModal) {
        FModalResult = mrCancel;
        return;
    }
    TCloseAction action = TCloseAction::caHide;
    if (OnClose) {
        OnClose(this, action);
    }
    switch (action) {
    case TCloseAction::caNone: return;
    case TCloseAction::caMinimize: ShowWindow(FHandle, SW_MINIMIZE); break;
    case TCloseAction::caHide:
    case TCloseAction::caFree: Hide(); break;
    }
    if (Application->MainForm() == this) {
        Application->Terminate();
    }
}

int TForm::ShowModal()
{
    TOtherWindowsDisabled disabled(FHandle);

    FModalResult = mrNone;
    FModal = true;
    struct ModalEnd {
        TForm* form;
        ~ModalEnd() { form->FModal = false; }
    } modalEnd{this};
    Show();
    while (FModalResult == mrNone) {
        if (!Application->HandleMessage()) {
            FModalResult = mrCancel;
            PostQuitMessage(0); // the enclosing loop must see it too
            break;
        }
    }
    disabled.Enable();
    Hide();
    return FModalResult;
}

void TForm::Update()
{
    RedrawWindow(FHandle, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void TForm::SetActiveControl(TWinControl* Control)
{
    FActiveControl = Control;
    if (Control != nullptr && IsWindowVisible(FHandle)) {
        Control->SetFocus();
    }
}

TButton* TForm::DefaultButton() const
{
    return FindDefaultButton(this);
}

LRESULT TForm::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam)
{
    switch (Msg) {
    case WM_CLOSE:
        Close();
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE && Application->MainForm() == this) {
            Application->Minimize();
            return 0;
        }
        break;
    case DM_GETDEFID:
        if (TButton* button = DefaultButton()) {
            return MAKELRESULT(GetDlgCtrlID(button->Handle()), DC_HASDEFID);
        }
        return 0;
    case WM_COMMAND:
        if (lParam == 0 || FromHandle(reinterpret_cast<HWND>(lParam)) == nullptr) {
            // Keyboard commands of the dialog manager: Enter (IDOK) and Escape (IDCANCEL).
            if (LOWORD(wParam) == IDCANCEL && FModal) {
                FModalResult = mrCancel;
                return 0;
            }
            if (LOWORD(wParam) == IDOK) {
                // Enter presses the focused button, else the default one.
                HWND focus = GetFocus();
                if (auto* focused = dynamic_cast<TButton*>(FromHandle(focus)); focused != nullptr && IsChild(FHandle, focus)) {
                    focused->Click();
                } else if (TButton* button = DefaultButton()) {
                    button->Click();
                }
                return 0;
            }
        }
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus != nullptr && IsChild(FHandle, focus)) {
                FLastFocus = focus;
            }
        } else if (FLastFocus != nullptr && IsWindow(FLastFocus) && IsChild(FHandle, FLastFocus)) {
            ::SetFocus(FLastFocus);
            return 0;
        }
        break;
    default:
        break;
    }
    return TWinControl::WndProc(Msg, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// TApplication

namespace {
TApplication TheApplication;

// Posted to the application window once it is active: the form the user last worked in takes
// the activation over (the application window itself has nothing to show).
constexpr UINT CM_ACTIVATEFORM = WM_APP + 0x3A1;
} // namespace

TApplication* Application = &TheApplication;

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication()
{
    DestroyComponents();
    if (FHandle != nullptr) {
        DestroyWindow(FHandle);
    }
}

void TApplication::Initialize()
{
    InitControlsOnce();
    if (FHandle != nullptr) {
        return;
    }
    HINSTANCE instance = Instance();
    WNDCLASSA wc{};
    wc.lpfnWndProc = AppWndProc;
    wc.hInstance = instance;
    wc.lpszClassName = "TApplication";
    wc.hIcon = LoadIconA(instance, "MAINICON");
    RegisterClassA(&wc);
    // No size, so that showing it shows nothing but its taskbar button; placed at the centre of
    // the screen, where minimising and restoring are animated from.
    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    FHandle = CreateWindowExA(0, wc.lpszClassName, FTitle.c_str(),
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                              (area.left + area.right) / 2, (area.top + area.bottom) / 2, 0, 0, nullptr, nullptr, instance,
                              nullptr);
}

LRESULT CALLBACK TApplication::AppWndProc(HWND Window, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (Window != TheApplication.FHandle) {
        return DefWindowProcA(Window, Msg, wParam, lParam); // still being created
    }
    try {
        return TheApplication.WndProc(Msg, wParam, lParam);
    } catch (const std::exception& e) {
        TheApplication.HandleException(e);
    } catch (...) {
        TheApplication.HandleException(Exception("Unknown error"));
    }
    return 0;
}

LRESULT TApplication::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam)
{
    switch (Msg) {
    case WM_CLOSE: // "Close" on the taskbar button
        if (FMainForm != nullptr) {
            FMainForm->Close();
        }
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MINIMIZE: Minimize(); return 0;
        case SC_RESTORE: Restore(); return 0;
        default: break;
        }
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            PostMessageA(FHandle, CM_ACTIVATEFORM, 0, 0);
        }
        break;
    case CM_ACTIVATEFORM:
        if (GetActiveWindow() == FHandle && !IsIconic(FHandle)) {
            ActivateForm();
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcA(FHandle, Msg, wParam, lParam);
}

void TApplication::ActivateForm()
{
    HWND form = GetLastActivePopup(FHandle);
    if (form == FHandle || !IsWindowVisible(form) || !IsWindowEnabled(form)) {
        form = FMainForm != nullptr ? FMainForm->Handle() : nullptr;
    }
    if (form != nullptr && IsWindowVisible(form) && IsWindowEnabled(form)) {
        SetActiveWindow(form);
    }
}

void TApplication::MainFormVisibility(bool Visible)
{
    HWND window = Handle();
    if (Visible && !IsWindowVisible(window)) {
        ShowWindow(window, SW_SHOWNA);
    } else if (!Visible && IsWindowVisible(window)) {
        ShowWindow(window, SW_HIDE);
    }
}

void TApplication::Minimize()
{
    if (FHandle == nullptr || IsIconic(FHandle)) {
        return;
    }
    ShowOwnedPopups(FHandle, FALSE);
    ShowWindow(FHandle, SW_MINIMIZE);
}

void TApplication::Restore()
{
    if (FHandle == nullptr || !IsIconic(FHandle)) {
        return;
    }
    ShowWindow(FHandle, SW_RESTORE); // active again: CM_ACTIVATEFORM hands the activation on
    ShowOwnedPopups(FHandle, TRUE);
}

HWND TApplication::Handle()
{
    if (FHandle == nullptr) {
        Initialize();
    }
    return FHandle;
}

HINSTANCE TApplication::Instance() const noexcept
{
    return GetModuleHandleA(nullptr);
}

void TApplication::SetTitle(const std::string& Value)
{
    FTitle = Value;
    if (FHandle != nullptr) {
        SetWindowTextA(FHandle, Value.c_str());
    }
}

void TApplication::FormDestroyed(TForm* Form) noexcept
{
    if (FMainForm == Form) {
        FMainForm = nullptr;
        if (FHandle != nullptr) {
            ShowWindow(FHandle, SW_HIDE); // the taskbar button goes with it
        }
    }
}

bool TApplication::Dispatch(MSG& Msg)
{
    // Keyboard navigation (Tab, Enter, Escape) inside the program's forms.
    if (Msg.hwnd != nullptr) {
        HWND root = GetAncestor(Msg.hwnd, GA_ROOT);
        if (dynamic_cast<TForm*>(TWinControl::FromHandle(root)) != nullptr && IsDialogMessageA(root, &Msg)) {
            return true;
        }
    }
    TranslateMessage(&Msg);
    DispatchMessageA(&Msg);
    return true;
}

bool TApplication::HandleMessage()
{
    MSG msg;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
        FTerminated = true;
        return false;
    }
    if (got == -1) {
        return false;
    }
    return Dispatch(msg);
}

void TApplication::ProcessMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            FTerminated = true;
            return;
        }
        Dispatch(msg);
    }
}

void TApplication::Run()
{
    if (FMainForm == nullptr) {
        return;
    }
    FMainForm->Show();
    while (!FTerminated && HandleMessage()) {
    }
}

void TApplication::Terminate()
{
    if (!FTerminated) {
        FTerminated = true;
        PostQuitMessage(0);
    }
}

int TApplication::MessageBox(const std::string& Text, const std::string& Caption, UINT Flags)
{
    HWND owner = GetActiveWindow();
    if (owner == nullptr && FMainForm != nullptr && IsWindowVisible(FMainForm->Handle())) {
        owner = FMainForm->Handle();
    }
    // The owner is left to the box, which disables it and activates it again when answered; the
    // program's other windows (the main form under a box of a modeless window) wait as well.
    TOtherWindowsDisabled disabled(owner);
    return MessageBoxFunc(owner, Text, Caption, Flags);
}

void TApplication::ShowException(const std::exception& E)
{
    MessageBox(ExceptionDisplayText(E.what()), FTitle, MB_OK | MB_ICONSTOP);
}

void ShowMessage(const std::string& Text)
{
    Application->MessageBox(Text, Application->Title(), MB_OK);
}
