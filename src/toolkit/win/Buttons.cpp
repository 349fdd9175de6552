#include "toolkit/win/Buttons.h"

#include "toolkit/win/Form.h"

namespace {

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

} // namespace

void TButtonControl::CommandNotify(WORD Code)
{
    if (Code == BN_CLICKED && OnClick) {
        OnClick(this);
    }
}

void TButtonControl::Click()
{
    if (FParent != nullptr && Handle() != nullptr) {
        SendMessageA(FParent->Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(Handle()), BN_CLICKED),
                     reinterpret_cast<LPARAM>(Handle()));
    }
}

TButton::TButton(TComponent* AOwner, TWinControl* AParent) : TButtonControl(AOwner, AParent)
{
    FTabStop = true;
    CreateHandle("BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, ParentHandle(), false);
}

void TButton::SetDefault(bool Value)
{
    FDefault = Value;
    SendMessageA(Handle(), BM_SETSTYLE, Value ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
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

TBitBtn::TBitBtn(TComponent* AOwner, TWinControl* AParent) : TButton(AOwner, AParent) {}

void TBitBtn::SetKind(TBitBtnKind Value)
{
    FKind = Value;
    if (Value == TBitBtnKind::bkOK) {
        SetDefault(true);
        SetModalResult(mrOk);
        if (Caption().empty()) {
            SetCaption("OK");
        }
    }
}

TCheckableButton::TCheckableButton(TComponent* AOwner, TWinControl* AParent, DWORD ButtonStyle)
    : TButtonControl(AOwner, AParent)
{
    FTabStop = true;
    CreateHandle("BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ButtonStyle, 0, ParentHandle(), false);
    UseClassicLook(Handle());
}

bool TCheckableButton::Checked() const
{
    return SendMessageA(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckableButton::SetChecked(bool Value)
{
    SendMessageA(Handle(), BM_SETCHECK, Value ? BST_CHECKED : BST_UNCHECKED, 0);
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
