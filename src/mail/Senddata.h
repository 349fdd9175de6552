// The registration window: the user's facility, name, address, sex, age bracket and newsletter
// choice, composed into the registration mail's body.
#pragma once

#include <memory>
#include <string>

#include "Bars.h"
#include "Buttons.h"
#include "Classes.h"
#include "Form.h"
#include "InputControls.h"
#include "Registration.h"
#include "StaticControls.h"

class TSendDataForm : public TForm {
public:
    explicit TSendDataForm(TComponent* AOwner);
    ~TSendDataForm() override;

    TPanel* Panel2; // the four texts at the top
    TLabel* Label1;
    TLabel* Label3;
    TLabel* Label4;
    TLabel* Label2;
    TEdit* Edit3; // caption boxes: read-only, teal, skipped by Tab
    TEdit* Edit1;
    TEdit* Edit4;
    TEdit* Edit5;
    TEdit* Edit7;
    TEdit* NameEdit;
    TEdit* AdminEdit;
    TEdit* EMailEdit;
    TPanel* Panel1; // borderless, holds the two radio buttons
    TRadioButton* RadioButton1;
    TRadioButton* RadioButton2;
    TComboBox* ComboBox1;
    TCheckBox* CheckBox1;
    TBitBtn* BitBtn1;
    TStatusBar* StatusBar1;

    // The product title the caller sets before showing the window; FormShow puts it in place of
    // "TITLE" in Label1.
    std::string TitleText;
    // The body lines of the last composed mail: made by FormCreate, emptied and refilled by each
    // send action, released by FormClose.
    std::unique_ptr<TStringList> MailLines;

    void FormCreate(TObject* Sender);
    void FormShow(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void BitBtn1Click(TObject* Sender);

    // The controls as they are now, with today's date as the user's short date.
    TRegistrationEntry ReadEntry() const;

private:
    // Steps 1 and 2 of the send action: the address check (false, after its message, when the
    // address is incomplete) and MailLines composed afresh from the controls.
    bool ComposeMail();
};

extern TSendDataForm* SendDataForm;
