// The button family: push buttons, check boxes and radio buttons.
#pragma once

#include "Control.h"

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
