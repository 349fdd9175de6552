#include "mail/NMsmtp.h"

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

} // namespace

TNMSMTP::TNMSMTP(TComponent* AOwner)
    : TPowersock(AOwner), FPostMessage(std::make_unique<TPostMessage>()),
      FFinalHeader(std::make_unique<TExStringList>()), FMailStream(std::make_unique<TMemoryStream>())
{
    SetPort(25);
    OnAfterAbort = [this](TObject* Sender) { AbortResume(Sender); };
}

TNMSMTP::~TNMSMTP()
{
    // The hook points into the part of this object that goes first.
    OnAfterAbort = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Replies.

bool TNMSMTP::ReadRest(std::string& Reply)
{
    while (IsContinuationLine(Reply)) {
        Reply = ReadLn();
        if (Reply.empty()) return false;
    }
    return true;
}

void TNMSMTP::ReadExtraLines(std::string& Reply)
{
    if (!ReadRest(Reply)) {
        throw Exception(ConnectionClosed);
    }
}

std::string TNMSMTP::Command(const std::string& Line)
{
    std::string reply = Transaction(Line);
    // Read as one line, the rest of a longer reply would be taken for the replies of the
    // commands that follow: a refused mail could then read as accepted.
    if (reply.empty() || !ReadRest(reply)) {
        throw Exception(ConnectionClosed);
    }
    return reply;
}

void TNMSMTP::Require(const std::string& Reply, int Limit) const
{
    if (ReplyNumber() >= Limit) {
        throw Exception(Reply);
    }
}

// ---------------------------------------------------------------------------------------------
// Connecting.

void TNMSMTP::Connect()
{
    {
        TBusyScope busy(FBusy);
        // Refused here, before there is a connection to leave half greeted.
        (void)HeloCommand(FUserID);
        TPowersock::Connect();
        try {
            Greet();
        } catch (...) {
            // The reason the greeting failed is what the caller needs. The QUIT may no longer be
            // exchangeable (the server closed, an abort closed): its own failure must not
            // replace that reason.
            try {
                Disconnect();
            } catch (...) {
            }
            throw;
        }
    }
    if (OnConnect) {
        OnConnect(this);
    }
}

void TNMSMTP::Greet()
{
    std::string greeting = ReadLn();
    if (greeting.empty()) {
        throw Exception(ConnectionClosed);
    }
    const int number = SmtpReplyNumber(greeting);
    ReadExtraLines(greeting);
    if (number >= 400) {
        throw Exception(greeting);
    }
    // The handler may change UserID; it is asked once per Connect.
    for (int tries = 0;; ++tries) {
        Command(HeloCommand(FUserID));
        if (ReplyNumber() < 300) {
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

void TNMSMTP::Disconnect()
{
    FCanceled = false;
    std::string reply;
    int number = 0;
    // A connection the server or an abort has closed takes no QUIT; sending one would only
    // report that the socket is no longer connected.
    if (Connected()) {
        try {
            reply = Transaction("QUIT");
            number = ReplyNumber();
        } catch (...) {
            TPowersock::Disconnect();
            throw;
        }
    }
    TPowersock::Disconnect();
    if (number > 339) {
        throw Exception(reply);
    }
}

void TNMSMTP::Abort()
{
    TPowersock::Abort();
}

void TNMSMTP::AbortResume(TObject*)
{
    TPowersock::Disconnect();
    ClearInput();
}

// ---------------------------------------------------------------------------------------------
// Sending.

void TNMSMTP::SendMail()
{
    if (FBusy) {
        return;
    }
    bool accepted = false;
    {
        TBusyScope busy(FBusy);
        accepted = SendMailSteps();
    }
    if (accepted && OnSuccess) {
        OnSuccess(this);
    }
}

bool TNMSMTP::SendMailSteps()
{
    TPostMessage& msg = *FPostMessage;
    CheckMailFields(msg);
    AssembleMail();
    CertifyConnect();
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
        OnSendStart(this);
    }
    // The handlers may have changed the message and the header: both are checked again, before
    // the first command, so that nothing of a refused mail goes out.
    CheckMailFields(msg);
    const std::string header = HeaderText(*FFinalHeader);

    Require(Command("RSET"), 400);
    Require(Command(MailFromCommand(msg.FromAddress())), 400);
    for (const TRecipient& recipient : EnvelopeRecipients(msg)) {
        Command(RcptToCommand(recipient.Address));
        if (ReplyNumber() > 300 && OnRecipientNotFound) {
            OnRecipientNotFound(recipient.Entry);
        }
    }
    Require(Command("DATA"), 400);
    Write(header);
    SendStream(*FMailStream);

    // A close instead of the reply leaves the mail's fate unknown: it is not taken as accepted.
    std::string reply = Transaction(".");
    const bool whole = !reply.empty() && ReadRest(reply);
    if (!whole || ReplyNumber() >= 400) {
        if (OnFailure) {
            OnFailure(this);
        }
        throw Exception(whole ? reply : ConnectionClosed);
    }
    if (FClearParams) {
        ClearParameters();
    }
    return true;
}

TAttachmentEvents TNMSMTP::AttachmentEvents()
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

void TNMSMTP::AssembleMail()
{
    ::AssembleMail(*FPostMessage, MailFormat(), AttachmentEvents(), *FFinalHeader, *FMailStream, FBoundary);
}

void TNMSMTP::SendAttachments(int Index)
{
    AppendAttachment(FPostMessage->Attachments()[Index - 1], FBoundary, FEncodeType, AttachmentEvents(), *FMailStream);
}

void TNMSMTP::ClearParameters()
{
    ClearMailParameters(*FPostMessage);
}

// ---------------------------------------------------------------------------------------------
// Questions.

bool TNMSMTP::Verify(const std::string& Address)
{
    const std::string command = VrfyCommand(Address);
    CertifyConnect();
    Command(command);
    return ReplyNumber() <= 251;
}

bool TNMSMTP::ExpandList(const std::string& ListName)
{
    if (FBusy) {
        return false;
    }
    TBusyScope busy(FBusy);
    const std::string command = ExpnCommand(ListName);
    CertifyConnect();
    std::string first = Transaction(command);
    std::string last = first;
    // The whole reply is read before the handler runs, so that anything it asks of the server
    // gets its own reply.
    if (first.empty() || !ReadRest(last)) {
        throw Exception(ConnectionClosed);
    }
    if (ReplyNumber() >= 400) {
        return false;
    }
    if (OnMailListReturn) {
        OnMailListReturn(first);
    }
    return true;
}
