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
#pragma once

#include <optional>
#include <string>

#include "mail/SmtpDialogue.h"
#include "net/win/Psock.h"

class TNMSMTP : public TPowersock, private TSmtpLines, public TSmtpDialogue {
public:
    // Port 25; AbortResume becomes the after-abort hook (OnAfterAbort).
    explicit TNMSMTP(TComponent* AOwner);
    ~TNMSMTP() override;

    // Connects (with Security ssTls, the TLS handshake right after), reads the greeting and
    // sends HELO or EHLO, STARTTLS and AUTH, then fires OnConnect (TSmtpDialogue::Open).
    void Connect() override;
    // Clears Canceled, so that QUIT still goes out after a cancel, then TSmtpDialogue::Quit.
    void Disconnect() override;
    // Ends the running wait (Cancel); the operation then raises its cancel report.
    void Abort() override;
    // The after-abort hook: closes without QUIT and drops what waits to be read.
    void AbortResume(TObject* Sender);

    // One certificate authority in PEM, the only root trusted for the server's certificate
    // unless TrustSystemRoots; empty: the system's roots. The certificate must name Host.
    const std::string& CertificateAuthority() const noexcept { return FCertificateAuthority; }
    void SetCertificateAuthority(std::string Value) { FCertificateAuthority = std::move(Value); }
    // With a CertificateAuthority, whether the system's roots are trusted too (false after
    // construction).
    bool TrustSystemRoots() const noexcept { return FTrustSystemRoots; }
    void SetTrustSystemRoots(bool Value) noexcept { FTrustSystemRoots = Value; }

    // OnConnect is the dialogue's own (greeting and HELO done); the socket layer's connect event
    // stays TPowersock::OnConnect.
    using TSmtpDialogue::OnConnect;

private:
    // The dialogue's lines on this connection.
    std::string Exchange(const std::string& Command) override { return Transaction(Command); }
    std::string ReadLine() override { return ReadLn(); }
    void SendBlock(const std::string& Header, TStream& Body) override;
    bool LinesConnected() const override { return Connected(); }
    void RequireConnection() override { CertifyConnect(); }
    void CloseLines() override { TPowersock::Disconnect(); }
    void Secure() override { StartTls({Host(), FCertificateAuthority, FTrustSystemRoots}); }
    bool LinesSecured() const override { return Secured(); }
    void ReplyBegins() override { FReplyTimer.emplace(*this); }
    void ReplyEnds() noexcept override { FReplyTimer.reset(); }

    std::optional<TTimerScope> FReplyTimer;
    std::string FCertificateAuthority;
    bool FTrustSystemRoots = false;
};
