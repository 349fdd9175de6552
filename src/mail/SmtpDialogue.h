// The SMTP client's dialogue, portable: the greeting and HELO, the mail's commands and content,
// VRFY, EXPN and QUIT, over a small line interface that a connection provides (TNMSMTP's lines
// over its socket; a scripted transport in the tests). It holds what a mail needs (the
// message, the assembled header and body, the settings) and fires the client's events.
//
// Every reply is read to its last line (a three-digit code and a hyphen, or a leading space,
// says more lines follow); its number is that of its first line, and a line without leading
// digits counts as 0, which is success. A reply that does not come because the server closed
// the connection is a failure, "Connection closed by the server", wherever a reply decides
// something (QUIT's excepted: the connection is going anyway). A reply is bounded: more than
// SmtpReplyMaxLines lines or SmtpReplyMaxBytes bytes end the connection with an error, and the
// connection's time-out bounds a whole reply, not each of its lines.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/Classes.h"
#include "mail/NMExtstr.h"
#include "mail/NMsmtpMail.h"

// The replies that let a step go on: below ReplyAccepted for the greeting, RSET, MAIL FROM,
// DATA, the content and EXPN; below HeloAccepted for HELO; at or below RecipientAccepted for a
// RCPT TO, VerifyAccepted for VRFY and QuitAccepted for QUIT.
constexpr int16_t ReplyAccepted = 400;
constexpr int16_t HeloAccepted = 300;
constexpr int16_t RecipientAccepted = 300;
constexpr int16_t VerifyAccepted = 251;
constexpr int16_t QuitAccepted = 339;
// The most a reply may hold. A line may have 512 bytes; a server that sends more than this is
// not answering a command, and reading on would keep the client waiting as long as it likes.
constexpr int SmtpReplyMaxLines = 1000;
constexpr std::size_t SmtpReplyMaxBytes = 1 << 20;

// How the dialogue protects the mail. ssNone: plain SMTP with HELO, exactly as the client has
// always spoken. ssStartTls: EHLO, STARTTLS (required), the TLS handshake, EHLO again. ssTls:
// the connection is TLS from its first byte (the connection's own Connect does the handshake),
// then EHLO. With TLS, AUTH follows when credentials are set; credentials never go out without it.
enum TSmtpSecurity : uint8_t { ssNone, ssStartTls, ssTls };

// The secure road refused: STARTTLS not offered or refused, no AUTH the client can use, or
// credentials without TLS. Nothing of the mail and no credential has been sent.
class ESmtpSecurityError : public Exception {
    using Exception::Exception;
};

// What the dialogue needs of a connection.
class TSmtpLines {
public:
    virtual ~TSmtpLines() = default;
    // Sends Command and CR LF and reads the first line of the reply, its CR LF included; empty
    // when the connection has ended.
    virtual std::string Exchange(const std::string& Command) = 0;
    // The next line of a reply; empty when the connection has ended.
    virtual std::string ReadLine() = 0;
    // The mail after DATA: Header in one piece, then the whole of Body.
    virtual void SendBlock(const std::string& Header, TStream& Body) = 0;
    virtual bool LinesConnected() const = 0;
    // Makes sure a connection is up (asking the owner once), else raises "Not Connected".
    virtual void RequireConnection() = 0;
    // Ends the connection without a word.
    virtual void CloseLines() = 0;
    // Puts TLS under the connection (the handshake, the server's certificate verified); raises
    // and closes the connection when it fails.
    virtual void Secure() = 0;
    virtual bool LinesSecured() const = 0;
    // Around each command and its whole reply: the connection's time-out bounds them together.
    virtual void ReplyBegins() {}
    virtual void ReplyEnds() noexcept {}
};

// One reply: the number of its first line, its first and last lines, and all of them.
struct TSmtpReply {
    int16_t Number = 0;
    std::string First;
    std::string Last;
    std::vector<std::string> Lines;
};

class TSmtpDialogue {
public:
    // Sender is the object the events name (the component).
    TSmtpDialogue(TSmtpLines& Lines, TObject* Sender);
    virtual ~TSmtpDialogue();
    TSmtpDialogue(const TSmtpDialogue&) = delete;
    TSmtpDialogue& operator=(const TSmtpDialogue&) = delete;

    // ---- the operations
    // Sets Busy, runs Connect (the connection's own), reads the greeting and sends HELO (asking
    // OnAuthenticationFailed at most once when it is refused) or, with Security, EHLO, STARTTLS
    // and AUTH; then fires OnConnect after Busy has been cleared. A refused greeting or HELO
    // sends QUIT and closes before the error leaves; a refusal of the secure road ends the
    // connection (ESmtpSecurityError, or the TLS layer's error). UserID and the credentials are
    // checked before anything is opened.
    void Open(const std::function<void()>& Connect);
    // QUIT, then the close in every case; a QUIT reply above QuitAccepted raises after the
    // close. A connection that is already gone is only closed.
    void Quit();
    // Assembles PostMessage and sends it on the open connection. Does nothing while Busy. Every
    // check of the mail (its fields, the header lines after OnSendStart, the attachments) runs
    // before the first command, so a refused mail sends nothing. OnSuccess fires after Busy has
    // been cleared, so its handler may send the next mail. A connection that ends while the
    // content goes out is reported as a reply to it that never came: OnFailure, then
    // "Connection closed by the server".
    void SendMail();
    // VRFY: true when the reply number is VerifyAccepted or below. Ignores Busy.
    bool Verify(const std::string& Address);
    // EXPN: true when the reply number is below ReplyAccepted, after OnMailListReturn(first
    // reply line). False at once while Busy.
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

    // ---- properties
    const std::string& UserID() const noexcept { return FUserID; }
    void SetUserID(std::string Value) { FUserID = std::move(Value); }
    TSmtpSecurity Security() const noexcept { return FSecurity; }
    void SetSecurity(TSmtpSecurity Value) noexcept { FSecurity = Value; }
    // The account for AUTH (PLAIN or LOGIN, whichever the server offers); empty: no AUTH.
    const std::string& UserName() const noexcept { return FUserName; }
    void SetUserName(std::string Value) { FUserName = std::move(Value); }
    void SetPassword(std::string Value) { FPassword = std::move(Value); }
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
    // True while Open, SendMail or ExpandList runs.
    bool Busy() const noexcept { return FBusy; }
    // The multipart boundary of the last mail with attachments, and the last assembled body.
    const std::string& Boundary() const noexcept { return FBoundary; }
    TMemoryStream& MailStream() noexcept { return *FMailStream; }

    // ---- events
    // The greeting and HELO are done.
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
    // The one exchange: Command (none for the greeting) and its whole reply, under one time-out
    // and within the reply's bounds. Raises "Connection closed by the server" when the reply does
    // not come whole, unless Lenient (then Number stays 0 and the lines are empty).
    TSmtpReply Converse(const std::string* Line, bool Lenient);
    TSmtpReply Command(const std::string& Line, bool Lenient = false) { return Converse(&Line, Lenient); }
    // Exception(Reply.Last) when the number is at or above Limit.
    static void Require(const TSmtpReply& Reply, int16_t Limit);
    void Greet();
    // HELO or EHLO with UserID, asking OnAuthenticationFailed at most once; the accepted reply.
    TSmtpReply Introduce(const char* Verb);
    // AUTH with the credentials over TLS, as the EHLO reply Capabilities offers it.
    void Authenticate(const TSmtpReply& Capabilities);
    // SendMail from the checks to the accepted mail.
    void SendMailSteps();
    TAttachmentEvents AttachmentEvents();
    TMailFormat MailFormat() const { return {FSubType, FCharset, FEncodeType}; }

    TSmtpLines& FLines;
    TObject* FSender;
    std::string FUserID;
    TSmtpSecurity FSecurity = ssNone;
    std::string FUserName;
    std::string FPassword;
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
