// TNMSMTP: the SMTP client component, the dialogue of SmtpDialogue.h over the socket layer. By
// default it greets with HELO only (no extensions, no authentication, no encryption); with
// Security it submits over TLS (STARTTLS, or TLS from the first byte), verifying the server's
// certificate, and authenticates inside TLS. It sends the one mail held in PostMessage, and can
// ask VRFY and EXPN. Win32, GUI thread: every wait for the server
// pumps the message loop, so the owner's handlers run during an operation; Busy keeps a second
// SendMail or ExpandList from starting inside one.
//
// The usual road: set Host and UserID, Connect; in OnConnect fill PostMessage and call SendMail;
// in OnSuccess (and OnFailure) call Disconnect. Errors leave the operation that met them as
// exceptions: the socket layer's ESockError / EAbortError, or Exception with the server's reply
// line (CR LF included) or a fixed text. The time-out bounds each command with its whole reply.
//
// The component owns its socket, the lines the dialogue speaks over it, and the dialogue (which
// holds the mail: PostMessage, FinalHeader, MailStream). It carries the dialogue's properties,
// operations and events under their names, and those of the socket its users set and read.
#pragma once

#include <optional>
#include <string>

#include "mail/SmtpDialogue.h"
#include "net/win/Psock.h"

class TNMSMTP : public TComponent {
    // The socket, with the two protected parts of the socket layer the lines use.
    class TSocket final : public TPowersock {
    public:
        TSocket() : TPowersock(nullptr) {}
        using TPowersock::TTimerScope;
        void ClearCanceled() noexcept { FCanceled = false; }
    };

    // The dialogue's lines on the socket.
    class TSocketLines final : public TSmtpLines {
    public:
        explicit TSocketLines(TSocket& Socket) : FSocket(Socket) {}
        std::string Exchange(const std::string& Command) override { return FSocket.Transaction(Command); }
        std::string ReadLine() override { return FSocket.ReadLn(); }
        void SendBlock(const std::string& Header, TStream& Body) override;
        bool LinesConnected() const override { return FSocket.Connected(); }
        void RequireConnection() override { FSocket.CertifyConnect(); }
        void CloseLines() override { FSocket.Disconnect(); }
        void Secure() override { FSocket.StartTls({FSocket.Host(), CertificateAuthority, TrustSystemRoots}); }
        bool LinesSecured() const override { return FSocket.Secured(); }
        void ReplyBegins() override { FReplyTimer.emplace(FSocket); }
        void ReplyEnds() noexcept override { FReplyTimer.reset(); }

        std::string CertificateAuthority;
        bool TrustSystemRoots = false;

    private:
        TSocket& FSocket;
        std::optional<TSocket::TTimerScope> FReplyTimer;
    };

    // Declared first, in this order: the events below refer into the dialogue, which refers to
    // the lines, which refer to the socket; each is destroyed before what it refers to. The
    // socket's hooks call into this component, but a socket fires nothing once its destruction
    // begins.
    TSocket FSocket;
    TSocketLines FLines{FSocket};
    TSmtpDialogue FDialogue{FLines, this};

public:
    // Port 25; AbortResume becomes the socket's after-abort hook (OnAfterAbort).
    explicit TNMSMTP(TComponent* AOwner);

    // ---- the operations
    // Connects (with Security ssTls, the TLS handshake right after), reads the greeting and
    // sends HELO or EHLO, STARTTLS and AUTH, then fires OnConnect (TSmtpDialogue::Open).
    void Connect();
    // Clears Canceled, so that QUIT still goes out after a cancel, then TSmtpDialogue::Quit.
    void Disconnect();
    // Ends the running wait (Cancel); the operation then raises its cancel report.
    void Abort() { FSocket.Abort(); }
    void Cancel() { FSocket.Cancel(); }
    // The after-abort hook: closes without QUIT and drops what waits to be read.
    void AbortResume(TObject* Sender);
    void SendMail() { FDialogue.SendMail(); }
    bool Verify(const std::string& Address) { return FDialogue.Verify(Address); }
    bool ExpandList(const std::string& ListName) { return FDialogue.ExpandList(ListName); }
    void ClearParameters() { FDialogue.ClearParameters(); }
    void AssembleMail() { FDialogue.AssembleMail(); }
    void SendAttachments(int Index) { FDialogue.SendAttachments(Index); }
    static std::string ExtractAddress(const std::string& Entry) { return TSmtpDialogue::ExtractAddress(Entry); }

    // The socket. Its OnConnect is the connection's own event (before the greeting), naming the
    // socket; its other events are this component's, which forwards them below.
    TPowersock& Socket() noexcept { return FSocket; }
    const TPowersock& Socket() const noexcept { return FSocket; }

    // ---- the socket's properties
    const std::string& Host() const noexcept { return FSocket.Host(); }
    void SetHost(const std::string& Value) { FSocket.SetHost(Value); }
    int32_t Port() const noexcept { return FSocket.Port(); }
    void SetPort(int32_t Value) noexcept { FSocket.SetPort(Value); }
    int32_t TimeOut() const noexcept { return FSocket.TimeOut(); }
    void SetTimeOut(int32_t Value) noexcept { FSocket.SetTimeOut(Value); }
    int32_t ReportLevel() const noexcept { return FSocket.ReportLevel(); }
    void SetReportLevel(int32_t Value) noexcept { FSocket.SetReportLevel(Value); }
    const std::string& Status() const noexcept { return FSocket.Status(); }
    const std::string& TransactionReply() const noexcept { return FSocket.TransactionReply(); }
    int16_t ReplyNumber() const noexcept { return FSocket.ReplyNumber(); }
    bool Connected() const noexcept { return FSocket.Connected(); }
    bool Canceled() const noexcept { return FSocket.Canceled(); }
    int64_t BytesSent() const noexcept { return FSocket.BytesSent(); }

    // One certificate authority in PEM, the only root trusted for the server's certificate
    // unless TrustSystemRoots; empty: the system's roots. The certificate must name Host.
    const std::string& CertificateAuthority() const noexcept { return FLines.CertificateAuthority; }
    void SetCertificateAuthority(std::string Value) { FLines.CertificateAuthority = std::move(Value); }
    // With a CertificateAuthority, whether the system's roots are trusted too (false after
    // construction).
    bool TrustSystemRoots() const noexcept { return FLines.TrustSystemRoots; }
    void SetTrustSystemRoots(bool Value) noexcept { FLines.TrustSystemRoots = Value; }

    // ---- the dialogue's properties (SmtpDialogue.h)
    const std::string& UserID() const noexcept { return FDialogue.UserID(); }
    void SetUserID(std::string Value) { FDialogue.SetUserID(std::move(Value)); }
    TSmtpSecurity Security() const noexcept { return FDialogue.Security(); }
    void SetSecurity(TSmtpSecurity Value) noexcept { FDialogue.SetSecurity(Value); }
    const std::string& UserName() const noexcept { return FDialogue.UserName(); }
    void SetUserName(std::string Value) { FDialogue.SetUserName(std::move(Value)); }
    void SetPassword(std::string Value) { FDialogue.SetPassword(std::move(Value)); }
    TPostMessage& PostMessage() noexcept { return FDialogue.PostMessage(); }
    const TPostMessage& PostMessage() const noexcept { return FDialogue.PostMessage(); }
    TExStringList& FinalHeader() noexcept { return FDialogue.FinalHeader(); }
    void SetFinalHeader(const TStringList& Value) { FDialogue.SetFinalHeader(Value); }
    UUMethods EncodeType() const noexcept { return FDialogue.EncodeType(); }
    void SetEncodeType(UUMethods Value) noexcept { FDialogue.SetEncodeType(Value); }
    bool ClearParams() const noexcept { return FDialogue.ClearParams(); }
    void SetClearParams(bool Value) noexcept { FDialogue.SetClearParams(Value); }
    TSubType SubType() const noexcept { return FDialogue.SubType(); }
    void SetSubType(TSubType Value) noexcept { FDialogue.SetSubType(Value); }
    const std::string& Charset() const noexcept { return FDialogue.Charset(); }
    void SetCharset(std::string Value) { FDialogue.SetCharset(std::move(Value)); }
    bool Busy() const noexcept { return FDialogue.Busy(); }
    const std::string& Boundary() const noexcept { return FDialogue.Boundary(); }
    TMemoryStream& MailStream() noexcept { return FDialogue.MailStream(); }

    // ---- the dialogue's events: each is the dialogue's own, naming this component. OnConnect
    // fires once the greeting and HELO are done.
    TNotifyEvent& OnConnect = FDialogue.OnConnect;
    TRecipientNotFound& OnRecipientNotFound = FDialogue.OnRecipientNotFound;
    THeaderInComplete& OnHeaderIncomplete = FDialogue.OnHeaderIncomplete;
    TNotifyEvent& OnSendStart = FDialogue.OnSendStart;
    TNotifyEvent& OnSuccess = FDialogue.OnSuccess;
    TNotifyEvent& OnFailure = FDialogue.OnFailure;
    TFileItem& OnEncodeStart = FDialogue.OnEncodeStart;
    TFileItem& OnEncodeEnd = FDialogue.OnEncodeEnd;
    TMailListReturn& OnMailListReturn = FDialogue.OnMailListReturn;
    TFileItem& OnAttachmentNotFound = FDialogue.OnAttachmentNotFound;
    THandlerEvent& OnAuthenticationFailed = FDialogue.OnAuthenticationFailed;

    // ---- the socket's events (PsockClient.h), fired naming this component
    TNotifyEvent OnDisconnect;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    TNotifyEvent OnPacketSent;
    THandlerEvent OnConnectionRequired;
    TOnErrorEvent OnError;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnDataAvailable;
};
