// The button family: push buttons (with the OK kind), check boxes and radio buttons.
#pragma once

#include "toolkit/win/Control.h"

class TButtonControl : public TWinControl {
public:
    using TWinControl::TWinControl;
    void CommandNotify(WORD Code) override;
    // What a user's click does: raises OnClick (through the parent, as the system would).
    void Click();
    TNotifyEvent OnClick;
};

class TButton : public TButtonControl {
public:
    TButton(TComponent* AOwner, TWinControl* AParent);
    // The default button is pressed by Enter anywhere in its form.
    bool Default() const noexcept { return FDefault; }
    void SetDefault(bool Value);
    // A click sets the form's modal result to this value (unless it is mrNone) before OnClick.
    int ModalResult() const noexcept { return FModalResult; }
    void SetModalResult(int Value) { FModalResult = Value; }
    void CommandNotify(WORD Code) override;

private:
    bool FDefault = false;
    int FModalResult = mrNone;
};

enum class TBitBtnKind { bkCustom, bkOK };

// A push button of a kind: bkOK makes it the form's default button with the modal result mrOk.
class TBitBtn : public TButton {
public:
    TBitBtn(TComponent* AOwner, TWinControl* AParent);
    TBitBtnKind Kind() const noexcept { return FKind; }
    // A caption given before or after is kept; without one the button reads "OK". Going back to
    // bkCustom leaves the default and the modal result as they are.
    void SetKind(TBitBtnKind Value);

private:
    TBitBtnKind FKind = TBitBtnKind::bkCustom;
};

// A button that holds a checked state: the check box and the radio button.
class TCheckableButton : public TButtonControl {
public:
    bool Checked() const;
    virtual void SetChecked(bool Value);
    HBRUSH CtlColor(HDC DC) override;

protected:
    TCheckableButton(TComponent* AOwner, TWinControl* AParent, DWORD ButtonStyle);
};

class TCheckBox : public TCheckableButton {
public:
    TCheckBox(TComponent* AOwner, TWinControl* AParent);
};

// Radio buttons sharing a parent form one group.
class TRadioButton : public TCheckableButton {
public:
    TRadioButton(TComponent* AOwner, TWinControl* AParent);
    void SetChecked(bool Value) override;
};
