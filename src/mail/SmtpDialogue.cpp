#include "mail/SmtpDialogue.h"

#include <algorithm>
#include <cctype>

#include "codec/Mailconvert.h"
#include "net/PsockText.h"
#include "toolkit/SysUtils.h"

namespace {

const char* const ConnectionClosed = "Connection closed by the server";

// Sets Busy for a scope unless it was set already, and clears it on every way out only then.
class TBusyScope {
public:
    explicit TBusyScope(bool& Busy) noexcept : FBusy(Busy), FSet(!Busy) { FBusy = true; }
    ~TBusyScope()
    {
        if (FSet) FBusy = false;
    }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    bool& FBusy;
    bool FSet;
};

// ReplyBegins and ReplyEnds around a scope.
class TReplyScope {
public:
    explicit TReplyScope(TSmtpLines& Lines) : FLines(Lines) { FLines.ReplyBegins(); }
    ~TReplyScope() { FLines.ReplyEnds(); }
    TReplyScope(const TReplyScope&) = delete;
    TReplyScope& operator=(const TReplyScope&) = delete;

private:
    TSmtpLines& FLines;
};

// The words after the code of an EHLO reply line offering Keyword ("AUTH PLAIN LOGIN", or the
// older "AUTH=PLAIN LOGIN"), upper-cased; empty when the reply offers no such keyword.
std::vector<std::string> Offered(const TSmtpReply& Reply, std::string_view Keyword)
{
    for (const std::string& line : Reply.Lines) {
        std::string text = line.size() > 4 ? line.substr(4) : std::string();
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
        std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
        std::replace(text.begin(), text.end(), '=', ' ');
        std::vector<std::string> words;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = std::min(text.find(' ', at), text.size());
            if (end > at) words.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        if (!words.empty() && words[0] == Keyword) return words;
    }
    return {};
}

// A reply line for a message: without its line end.
std::string Trimmed(std::string Line)
{
    while (!Line.empty() && (Line.back() == '\r' || Line.back() == '\n')) Line.pop_back();
    return Line;
}

} // namespace

TSmtpDialogue::TSmtpDialogue(TSmtpLines& Lines, TObject* Sender)
    : FLines(Lines), FSender(Sender), FPostMessage(std::make_unique<TPostMessage>()),
      FFinalHeader(std::make_unique<TExStringList>()), FMailStream(std::make_unique<TMemoryStream>())
{
}

TSmtpDialogue::~TSmtpDialogue() = default;

// ---------------------------------------------------------------------------------------------
// Replies.

TSmtpReply TSmtpDialogue::Converse(const std::string* Line, bool Lenient)
{
    TSmtpReply reply;
    std::string line;
    {
        TReplyScope scope(FLines);
        line = Line != nullptr ? FLines.Exchange(*Line) : FLines.ReadLine();
        reply.First = line;
        reply.Lines.push_back(line);
        reply.Number = line.empty() ? 0 : ReplyNumberOf(line);
        int lines = 1;
        std::size_t bytes = line.size();
        // Read as one line, the rest of a longer reply would be taken for the replies of the
        // commands that follow: a refused mail could then read as accepted.
        while (IsContinuationLine(line)) {
            if (++lines > SmtpReplyMaxLines || bytes > SmtpReplyMaxBytes) {
                // The rest of it would be read as the next replies: the connection is done.
                FLines.CloseLines();
                throw Exception(lines > SmtpReplyMaxLines ? "Reply longer than " + IntToStr(SmtpReplyMaxLines) + " lines"
                                                          : "Reply longer than " + IntToStr(SmtpReplyMaxBytes) + " bytes");
            }
            line = FLines.ReadLine();
            bytes += line.size();
            reply.Lines.push_back(line);
        }
    }
    if (line.empty()) {
        if (!Lenient) {
            throw Exception(ConnectionClosed);
        }
        return {};
    }
    reply.Last = line;
    return reply;
}

void TSmtpDialogue::ReadExtraLines(std::string& Reply)
{
    while (IsContinuationLine(Reply)) {
        Reply = FLines.ReadLine();
        if (Reply.empty()) {
            throw Exception(ConnectionClosed);
        }
    }
}

void TSmtpDialogue::Require(const TSmtpReply& Reply, int16_t Limit)
{
    if (Reply.Number >= Limit) {
        throw Exception(Reply.Last);
    }
}

// ---------------------------------------------------------------------------------------------
// Connecting.

void TSmtpDialogue::Open(const std::function<void()>& Connect)
{
    {
        TBusyScope busy(FBusy);
        // Refused here, before there is a connection to leave half greeted.
        (void)HeloCommand(FUserID);
        if (!FUserName.empty() || !FPassword.empty()) {
            if (FSecurity == ssNone) {
                throw ESmtpSecurityError("Credentials are sent over TLS only: the security setting is none");
            }
            CheckLineSafe("UserName", FUserName);
            CheckLineSafe("Password", FPassword);
        }
        Connect();
        try {
            Greet();
        } catch (...) {
            // The reason the greeting failed is what the caller needs. The QUIT may no longer be
            // exchangeable (the server closed, an abort closed): its own failure must not
            // replace that reason.
            try {
                Quit();
            } catch (...) {
            }
            throw;
        }
    }
    if (OnConnect) {
        OnConnect(FSender);
    }
}

void TSmtpDialogue::Greet()
{
    Require(Converse(nullptr, false), ReplyAccepted);
    if (FSecurity == ssNone) {
        Introduce("HELO");
        return;
    }
    // With security, EHLO only: a server that refuses it gets no HELO, which would drop the
    // capabilities that say whether it can secure the mail.
    TSmtpReply capabilities = Introduce("EHLO");
    if (FSecurity == ssStartTls) {
        if (Offered(capabilities, "STARTTLS").empty()) {
            FLines.CloseLines();
            throw ESmtpSecurityError("The server does not offer STARTTLS: the mail is not sent unencrypted");
        }
        const TSmtpReply start = Command("STARTTLS");
        if (start.Number < 200 || start.Number >= 300) {
            FLines.CloseLines();
            throw ESmtpSecurityError("The server refused STARTTLS: " + Trimmed(start.Last));
        }
        FLines.Secure();
        // What the server said before TLS may have been changed on the way: asked again.
        capabilities = Introduce("EHLO");
    }
    if (!FUserName.empty()) {
        Authenticate(capabilities);
    }
}

TSmtpReply TSmtpDialogue::Introduce(const char* Verb)
{
    // The handler may change UserID; it is asked once.
    bool asked = false;
    for (;;) {
        (void)HeloCommand(FUserID); // refuses a UserID that would end its line
        TSmtpReply reply = Command(std::string(Verb) + " " + FUserID);
        if (reply.Number < HeloAccepted) {
            return reply;
        }
        if (!AskHandlerOnce(asked, OnAuthenticationFailed)) {
            throw Exception("Authentication failed");
        }
    }
}

void TSmtpDialogue::Authenticate(const TSmtpReply& Capabilities)
{
    // Never outside TLS, whatever led here.
    if (!FLines.LinesSecured()) {
        FLines.CloseLines();
        throw ESmtpSecurityError("Credentials are sent over TLS only");
    }
    const std::vector<std::string> methods = Offered(Capabilities, "AUTH");
    const auto offers = [&methods](std::string_view Method) {
        return std::find(methods.begin() + (methods.empty() ? 0 : 1), methods.end(), Method) != methods.end();
    };
    constexpr int16_t AuthAccepted = 235, AuthContinue = 334;
    TSmtpReply reply;
    if (offers("PLAIN")) {
        reply = Command("AUTH PLAIN " + Base64Text(std::string(1, '\0') + FUserName + '\0' + FPassword));
    } else if (offers("LOGIN")) {
        reply = Command("AUTH LOGIN");
        if (reply.Number == AuthContinue) reply = Command(Base64Text(FUserName));
        if (reply.Number == AuthContinue) reply = Command(Base64Text(FPassword));
    } else {
        FLines.CloseLines();
        throw ESmtpSecurityError(methods.empty() ? "The server does not offer AUTH"
                                                 : "The server offers no AUTH method this client has (PLAIN, LOGIN)");
    }
    if (reply.Number != AuthAccepted) {
        throw Exception("Authentication failed: " + Trimmed(reply.Last));
    }
}

void TSmtpDialogue::Quit()
{
    TSmtpReply reply;
    // A connection the server or an abort has closed takes no QUIT; sending one would only
    // report that the socket is no longer connected.
    if (FLines.LinesConnected()) {
        try {
            reply = Command("QUIT", true);
        } catch (...) {
            FLines.CloseLines();
            throw;
        }
    }
    FLines.CloseLines();
    if (reply.Number > QuitAccepted) {
        throw Exception(reply.Last);
    }
}

// ---------------------------------------------------------------------------------------------
// Sending.

void TSmtpDialogue::SendMail()
{
    if (FBusy) {
        return;
    }
    {
        TBusyScope busy(FBusy);
        SendMailSteps();
    }
    if (OnSuccess) {
        OnSuccess(FSender);
    }
}

void TSmtpDialogue::SendMailSteps()
{
    TPostMessage& msg = *FPostMessage;
    CheckMailFields(msg);
    AssembleMail();
    FLines.RequireConnection();
    bool asked = false;
    while (const int type = IncompleteHeaderType(msg)) {
        if (!AskHandlerOnce(asked, OnHeaderIncomplete, type)) {
            throw Exception("Incomplete Header");
        }
    }
    if (OnSendStart) {
        OnSendStart(FSender);
    }
    // The handlers may have changed the message and the header: both are checked again, before
    // the first command, so that nothing of a refused mail goes out.
    CheckMailFields(msg);
    const std::string header = HeaderText(*FFinalHeader);

    Require(Command("RSET"), ReplyAccepted);
    Require(Command(MailFromCommand(msg.FromAddress())), ReplyAccepted);
    for (const TRecipient& recipient : EnvelopeRecipients(msg)) {
        if (Command(RcptToCommand(recipient.Address)).Number > RecipientAccepted && OnRecipientNotFound) {
            OnRecipientNotFound(recipient.Entry);
        }
    }
    Require(Command("DATA"), ReplyAccepted);

    // A connection that ends under the content leaves the mail's fate unknown, as one that ends
    // instead of the reply to it: neither is taken as accepted, and both are reported alike.
    bool lost = false;
    try {
        FLines.SendBlock(header, *FMailStream);
    } catch (const EAbortError&) {
        throw;
    } catch (const Exception&) {
        if (FLines.LinesConnected()) {
            throw;
        }
        lost = true;
    }
    const TSmtpReply reply = lost ? TSmtpReply{} : Command(".", true);
    if (reply.Last.empty() || reply.Number >= ReplyAccepted) {
        if (OnFailure) {
            OnFailure(FSender);
        }
        throw Exception(reply.Last.empty() ? ConnectionClosed : reply.Last);
    }
    if (FClearParams) {
        ClearParameters();
    }
}

TAttachmentEvents TSmtpDialogue::AttachmentEvents()
{
    // The handlers as they are when each event fires, not as they were when encoding began.
    return {
        [this](const std::string& Filename) {
            if (OnEncodeStart) OnEncodeStart(Filename);
        },
        [this](const std::string& Filename) {
            if (OnEncodeEnd) OnEncodeEnd(Filename);
        },
        [this](const std::string& Filename) {
            if (OnAttachmentNotFound) OnAttachmentNotFound(Filename);
        },
    };
}

void TSmtpDialogue::AssembleMail()
{
    ::AssembleMail(*FPostMessage, MailFormat(), AttachmentEvents(), *FFinalHeader, *FMailStream, FBoundary);
}

void TSmtpDialogue::SendAttachments(int Index)
{
    AppendAttachment(FPostMessage->Attachments()[Index - 1], FBoundary, FEncodeType, AttachmentEvents(), *FMailStream);
}

void TSmtpDialogue::ClearParameters()
{
    ClearMailParameters(*FPostMessage);
}

// ---------------------------------------------------------------------------------------------
// Questions.

bool TSmtpDialogue::Verify(const std::string& Address)
{
    const std::string command = VrfyCommand(Address);
    FLines.RequireConnection();
    return Command(command).Number <= VerifyAccepted;
}

bool TSmtpDialogue::ExpandList(const std::string& ListName)
{
    if (FBusy) {
        return false;
    }
    TBusyScope busy(FBusy);
    const std::string command = ExpnCommand(ListName);
    FLines.RequireConnection();
    // The whole reply is read before the handler runs, so that anything it asks of the server
    // gets its own reply.
    const TSmtpReply reply = Command(command);
    if (reply.Number >= ReplyAccepted) {
        return false;
    }
    if (OnMailListReturn) {
        OnMailListReturn(reply.First);
    }
    return true;
}
