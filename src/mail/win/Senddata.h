// The registration window: the user's facility, name, address, sex, age bracket and newsletter
// choice, composed into the registration mail and sent to the registration mailbox through the
// window's SMTP component, with status texts and a Retry question on failure.
//
// One attempt runs inside the send button's handler: NMSMTP1's Connect, whose notifications
// fill and send the mail. Its waits pump the message loop, so the window's handlers can be
// entered during an attempt; see BitBtn1Click and FormClose for what they do then.
#pragma once

#include <memory>
#include <string>

#include "toolkit/win/Bars.h"
#include "toolkit/win/Buttons.h"
#include "toolkit/Classes.h"
#include "toolkit/win/Form.h"
#include "toolkit/win/InputControls.h"
#include "mail/win/NMsmtp.h"
#include "mail/Registration.h"
#include "toolkit/win/StaticControls.h"

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
    TNMSMTP* NMSMTP1; // owned by the window

    // The product title the caller sets before showing the window; FormShow puts it in place of
    // "TITLE" in Label1.
    std::string TitleText;
    // The body lines of the last composed mail: made by FormCreate, emptied and refilled by each
    // send action, released by FormClose.
    std::unique_ptr<TStringList> MailLines;
    // The relay each send action connects to: the build's values (RegistrationConfig) until a
    // caller sets others, as it sets TitleText.
    std::string Relay;
    int RelayPort;

    void FormCreate(TObject* Sender);
    void FormShow(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void BitBtn1Click(TObject* Sender);
    void NMSMTP1Connect(TObject* Sender);
    void NMSMTP1SendStart(TObject* Sender);
    void NMSMTP1Success(TObject* Sender);
    void NMSMTP1Failure(TObject* Sender);
    void NMSMTP1ConnectionFailed(TObject* Sender);
    void NMSMTP1InvalidHost(bool& Handled);

    // True while the send action runs: from the press to the end of its last attempt.
    bool Sending() const noexcept { return FSending; }

    // The controls as they are now, with today's date as the user's short date.
    TRegistrationEntry ReadEntry() const;

private:
    // Steps 1 and 2 of the send action: the address check (false, after its message, when the
    // address is incomplete) and MailLines composed afresh from the controls.
    bool ComposeMail();
    // The question of a failure that may be retried: Retry is remembered for the send action,
    // which starts the new attempt once the failed call has returned; any other answer gives up.
    void AskRetry(const char* Text);
    // An error that left Connect: reported, the attempt given up and the window hidden.
    // The secure road refused (the TLS handshake, STARTTLS): the connection-failure way.
    void SecureRoadFailed(const Exception& E);
    void ErrorPath(const Exception& E);

    bool FSending = false;
    bool FRetry = false;
    // FormClose came while the lines were still to be sent: they go when the attempt ends.
    bool FReleaseLines = false;
};

extern TSendDataForm* SendDataForm;
