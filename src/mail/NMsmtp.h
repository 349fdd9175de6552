// TNMSMTP: the SMTP client component on the socket layer. It greets with HELO only (no
// extensions, no authentication, no encryption), sends the one mail held in PostMessage, and can
// ask VRFY and EXPN. Win32, GUI thread: every wait for the server pumps the message loop, so
// the owner's handlers run during an operation; Busy keeps a second SendMail or ExpandList from
// starting inside one.
//
// The usual road: set Host and UserID, Connect; in OnConnect fill PostMessage and call SendMail;
// in OnSuccess (and OnFailure) call Disconnect. Errors leave the operation that met them as
// exceptions: the socket layer's ESockError / EAbortError, or Exception with the server's reply
// line (CR LF included) or a fixed text.
//
// Every reply is read to its last line (a three-digit code and a hyphen, or a leading space,
// says more lines follow); its number is that of its first line, and a line without leading
// digits counts as 0, which is success. A reply that does not come because the server closed
// the connection is a failure, "Connection closed by the server", wherever a reply decides
// something (QUIT's excepted: the connection is going anyway).
#pragma once

#include <memory>
#include <string>

#include "toolkit/Classes.h"
#include "mail/NMExtstr.h"
#include "codec/NMUUE.h"
#include "mail/NMsmtpMail.h"
#include "net/Psock.h"

class TNMSMTP : public TPowersock {
public:
    // Port 25; AbortResume becomes the after-abort hook (OnAfterAbort).
    explicit TNMSMTP(TComponent* AOwner);
    ~TNMSMTP() override;

    // Connects, reads the greeting and sends HELO (asking OnAuthenticationFailed at most once
    // when it is refused), then fires OnConnect, after Busy has been cleared. A refused greeting
    // or HELO sends QUIT and closes before the error leaves. UserID is checked before anything
    // is opened.
    void Connect() override;
    // QUIT, then the close in every case; a QUIT reply above 339 raises after the close. A
    // connection that is already gone is only closed.
    void Disconnect() override;
    // Ends the running wait (Cancel); the operation then raises its cancel report.
    void Abort() override;

    // Assembles PostMessage and sends it on the open connection. Does nothing while Busy. Every
    // check of the mail (its fields, the header lines after OnSendStart, the attachments) runs
    // before the first command, so a refused mail sends nothing. OnSuccess fires after Busy has
    // been cleared, so its handler may send the next mail.
    void SendMail();
    // VRFY: true when the reply number is 251 or below. Ignores Busy.
    bool Verify(const std::string& Address);
    // EXPN: true when the reply number is below 400, after OnMailListReturn(first reply line).
    // False at once while Busy.
    bool ExpandList(const std::string& ListName);
    // Empties the recipient lists and the attachments of PostMessage.
    void ClearParameters();
    // Builds FinalHeader and MailStream from PostMessage.
    void AssembleMail();
    // Appends the part of attachment Index (1-based) to MailStream.
    void SendAttachments(int Index);
    static std::string ExtractAddress(const std::string& Entry) { return ::ExtractAddress(Entry); }
    // Reads the rest of a multi-line reply whose line Reply is; Reply ends as its last line.
    // "Connection closed by the server" when the reply is cut short.
    void ReadExtraLines(std::string& Reply);
    // The after-abort hook: closes without QUIT and drops what waits to be read.
    void AbortResume(TObject* Sender);

    // ---- properties
    const std::string& UserID() const noexcept { return FUserID; }
    void SetUserID(std::string Value) { FUserID = std::move(Value); }
    TPostMessage& PostMessage() noexcept { return *FPostMessage; }
    const TPostMessage& PostMessage() const noexcept { return *FPostMessage; }
    // The header of the last assembled mail; OnSendStart handlers change it here.
    TExStringList& FinalHeader() noexcept { return *FFinalHeader; }
    void SetFinalHeader(const TStringList& Value) { FFinalHeader->Assign(Value); }
    UUMethods EncodeType() const noexcept { return FEncodeType; }
    void SetEncodeType(UUMethods Value) noexcept { FEncodeType = Value; }
    bool ClearParams() const noexcept { return FClearParams; }
    void SetClearParams(bool Value) noexcept { FClearParams = Value; }
    TSubType SubType() const noexcept { return FSubType; }
    void SetSubType(TSubType Value) noexcept { FSubType = Value; }
    const std::string& Charset() const noexcept { return FCharset; }
    void SetCharset(std::string Value) { FCharset = std::move(Value); }
    // True while Connect, SendMail or ExpandList runs.
    bool Busy() const noexcept { return FBusy; }
    // The multipart boundary of the last mail with attachments, and the last assembled body.
    const std::string& Boundary() const noexcept { return FBoundary; }
    TMemoryStream& MailStream() noexcept { return *FMailStream; }

    // ---- events. OnConnect is this component's own (greeting and HELO done); it hides the
    // socket layer's connect event, which stays TPowersock::OnConnect.
    TNotifyEvent OnConnect;
    TRecipientNotFound OnRecipientNotFound;
    THeaderInComplete OnHeaderIncomplete;
    TNotifyEvent OnSendStart;
    TNotifyEvent OnSuccess;
    TNotifyEvent OnFailure;
    TFileItem OnEncodeStart;
    TFileItem OnEncodeEnd;
    TMailListReturn OnMailListReturn;
    TFileItem OnAttachmentNotFound;
    THandlerEvent OnAuthenticationFailed;

private:
    // Reads continuation lines into Reply until its last line; false when the connection ended
    // first (Reply is then empty).
    bool ReadRest(std::string& Reply);
    // Transaction, then the rest of a multi-line reply; the reply's last line. Raises when the
    // server closed instead of replying.
    std::string Command(const std::string& Line);
    // Exception(Reply) when the reply number is at or above Limit.
    void Require(const std::string& Reply, int Limit) const;
    // The greeting and HELO of Connect.
    void Greet();
    // SendMail from the checks to the accepted mail; true when the server accepted it.
    bool SendMailSteps();
    TAttachmentEvents AttachmentEvents();
    TMailFormat MailFormat() const { return {FSubType, FCharset, FEncodeType}; }

    std::string FUserID;
    std::unique_ptr<TPostMessage> FPostMessage;
    std::unique_ptr<TExStringList> FFinalHeader;
    UUMethods FEncodeType = uuMime;
    bool FClearParams = true;
    TSubType FSubType = mtPlain;
    std::string FCharset = "us-ascii";
    bool FBusy = false;
    std::string FBoundary;
    std::unique_ptr<TMemoryStream> FMailStream;
};
