#include "mail/SmtpDialogue.h"

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
    // The handler may change UserID; it is asked once per connection.
    for (int tries = 0;; ++tries) {
        if (Command(HeloCommand(FUserID)).Number < HeloAccepted) {
            return;
        }
        bool handled = false;
        if (tries == 0 && OnAuthenticationFailed) {
            OnAuthenticationFailed(handled);
        }
        if (!handled) {
            throw Exception("Authentication failed");
        }
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
    int asked = 0;
    while (const int type = IncompleteHeaderType(msg)) {
        if (asked > 0 || !OnHeaderIncomplete) {
            throw Exception("Incomplete Header");
        }
        bool handled = false;
        OnHeaderIncomplete(handled, type);
        if (!handled) {
            throw Exception("Incomplete Header");
        }
        ++asked;
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
