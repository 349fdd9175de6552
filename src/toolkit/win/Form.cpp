#include "toolkit/win/Form.h"

#include <algorithm>

#include "toolkit/win/Application.h"
#include "toolkit/win/Buttons.h"
#include "toolkit/win/MessageBox.h"

namespace {

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

// The window of Form when it is shown, else null.
HWND ShownWindow(const TForm* Form)
{
    return Form != nullptr && IsWindowVisible(Form->Handle()) ? Form->Handle() : nullptr;
}

} // namespace

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner, nullptr)
{
    FParentColor = false;
    FParentFont = false;
    FColor = clBtnFace;
    FVisible = false;
    FWidth = 320;
    FHeight = 240;
    FLeft = CW_USEDEFAULT;
    FTop = CW_USEDEFAULT;
    CreateHandle("TForm", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, Application->Handle(), true);
    RECT r;
    GetWindowRect(Handle(), &r);
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
    if (IsWindowVisible(Handle())) {
        style |= WS_VISIBLE;
    }
    SetWindowLongPtrA(Handle(), GWL_STYLE, static_cast<LONG_PTR>(style));
    SetWindowLongPtrA(Handle(), GWL_EXSTYLE, static_cast<LONG_PTR>(exStyle));
    SetWindowPos(Handle(), FFormStyle == TFormStyle::fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
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
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrA(Handle(), GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(Handle(), GWL_EXSTYLE)));
    SetBounds(FLeft, FTop, r.right - r.left, r.bottom - r.top);
}

int TForm::ClientWidth() const
{
    RECT r;
    GetClientRect(Handle(), &r);
    return r.right - r.left;
}

int TForm::ClientHeight() const
{
    RECT r;
    GetClientRect(Handle(), &r);
    return r.bottom - r.top;
}

void TForm::PlaceForShowing()
{
    HWND over = nullptr;
    switch (FPosition) {
    case TPosition::poDesigned: return;
    case TPosition::poOwnerFormCenter:
        over = ShownWindow(dynamic_cast<TForm*>(Owner()));
        [[fallthrough]];
    case TPosition::poMainFormCenter:
        if (over == nullptr && Application->MainForm() != this) {
            over = ShownWindow(Application->MainForm());
        }
        break;
    case TPosition::poScreenCenter: break;
    }
    RECT area{};
    if (over != nullptr) {
        GetWindowRect(over, &area);
    } else {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
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
        ShowWindow(Handle(), SW_HIDE);
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
    if (FVisible && IsWindowVisible(Handle())) {
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
    ShowWindow(Handle(), SW_SHOW);
    HWND focus = FActiveControl != nullptr ? FActiveControl->Handle() : GetNextDlgTabItem(Handle(), nullptr, FALSE);
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
    case TCloseAction::caFree: throw Exception("A form cannot be freed by closing it");
    case TCloseAction::caMinimize: ShowWindow(Handle(), SW_MINIMIZE); break;
    case TCloseAction::caHide: Hide(); break;
    }
    if (Application->MainForm() == this) {
        Application->Terminate();
    }
}

int TForm::ShowModal()
{
    TOtherWindowsDisabled disabled(Handle());

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
    RedrawWindow(Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void TForm::SetActiveControl(TWinControl* Control)
{
    FActiveControl = Control;
    if (Control != nullptr && IsWindowVisible(Handle())) {
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
                if (auto* focused = dynamic_cast<TButton*>(FromHandle(focus)); focused != nullptr && IsChild(Handle(), focus)) {
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
            if (focus != nullptr && IsChild(Handle(), focus)) {
                FLastFocus = focus;
            }
        } else if (FLastFocus != nullptr && IsWindow(FLastFocus) && IsChild(Handle(), FLastFocus)) {
            ::SetFocus(FLastFocus);
            return 0;
        }
        break;
    default:
        break;
    }
    return TWinControl::WndProc(Msg, wParam, lParam);
}
