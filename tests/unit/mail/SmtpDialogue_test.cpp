// The SMTP dialogue against a scripted server: every reply that decides something, the events
// and their order, and the exact lines that went out. Natively (sanitizers) and under Wine; the
// component on real sockets is tested under Wine against a real server.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "mail/SmtpDialogue.h"
#include "net/PsockText.h"

namespace {

// A rule of the scripted server: for the Nth (from 1; 0: every) command On ("greeting", a verb,
// "." for the end of the data, "content" for the data itself), Reply (lines joined by CR LF),
// then a close; Silent: no reply (the connection's time-out ends the wait). On "tls": Close
// fails the handshake, a Reply leaves the line unsecured after it.
struct TRule {
    std::string On;
    int Nth = 0;
    std::string Reply;
    bool Close = false;
    bool Silent = false;
};

// Answers like a plain relay unless a rule says otherwise, and records the session: "> line"
// for what the client sent, "< line" for each reply line it read, "= mail" for the data (kept in
// Mail), "# closed" for the end.
class TScriptedServer : public TSmtpLines {
public:
    std::vector<TRule> Rules;
    std::vector<std::string> Transcript;
    std::string Mail;
    bool Connected = false;

    bool Secured = false;
    void Open()
    {
        Connected = true;
        Answer("greeting", "220 peer.test ready");
    }
    std::string Exchange(const std::string& Command) override
    {
        // A command after the close is recorded: a client that sends one has not seen the close.
        if (!Connected) {
            Transcript.push_back("> " + Command + " (after the close)");
            return {};
        }
        Transcript.push_back("> " + Command);
        const std::string verb = Command.substr(0, Command.find_first_of(" :"));
        static const std::vector<std::pair<std::string, std::string>> defaults = {
            {"HELO", "250 peer.test"}, {"RSET", "250 ok"},      {"MAIL", "250 ok"},    {"RCPT", "250 ok"},
            {"DATA", "354 go on"},     {".", "250 queued"},     {"QUIT", "221 bye"},   {"VRFY", "252 maybe"},
            {"EXPN", "550 no list"}};
        std::string reply = "500 what";
        for (const auto& [v, r] : defaults) {
            if (v == verb) reply = r;
        }
        // A relay for submission: STARTTLS before TLS, AUTH inside it; AUTH LOGIN asks for the
        // user name and the password in turn.
        if (verb == "EHLO") reply = Secured ? "250-peer.test\r\n250 AUTH PLAIN LOGIN" : "250-peer.test\r\n250 STARTTLS";
        if (verb == "STARTTLS") reply = "220 go ahead";
        if (verb == "AUTH") {
            LoginStep = Command == "AUTH LOGIN" ? 1 : 0;
            Answer("AUTH", LoginStep ? "334 VXNlcm5hbWU6" : "235 accepted");
        } else if (LoginStep > 0) {
            Answer("AUTH", LoginStep++ == 1 ? "334 UGFzc3dvcmQ6" : "235 accepted");
            LoginStep %= 3;
        } else {
            Answer(verb, reply);
        }
        return ReadLine();
    }
    std::string ReadLine() override
    {
        if (Pending.empty()) {
            if (Connected) throw EAbortError("Socket readln aborted"); // nothing will come: the time-out
            return {};
        }
        const std::string line = Pending.front();
        Pending.pop_front();
        if (line.empty()) { // the server's close, after what it sent before
            Close();
            return {};
        }
        Transcript.push_back("< " + line.substr(0, line.size() - 2));
        return line;
    }
    void SendBlock(const std::string& Header, TStream& Body) override
    {
        const auto size = static_cast<std::size_t>(Body.Size());
        Mail = Header + std::string(reinterpret_cast<const char*>(static_cast<TMemoryStream&>(Body).Memory()), size);
        if (const TRule* rule = Find("content"); rule != nullptr && rule->Close) {
            Close();
            throw ESockError("10054:Connection reset by peer");
        }
        Transcript.push_back("= mail");
    }
    bool LinesConnected() const override { return Connected; }
    void RequireConnection() override
    {
        if (!Connected) throw Exception("Not Connected");
    }
    void CloseLines() override { Close(); }
    void Secure() override
    {
        if (const TRule* rule = Find("tls"); rule != nullptr && rule->Close) {
            Close();
            throw Exception("TLS: the server's certificate is not from a trusted certificate authority");
        }
        if (const TRule* rule = Find("tls"); rule != nullptr && !rule->Reply.empty()) {
            Transcript.push_back("# tls, not secured");
            return;
        }
        Secured = true;
        Transcript.push_back("# tls");
    }
    bool LinesSecured() const override { return Secured; }
    void ReplyBegins() override { ++Depth; }
    void ReplyEnds() noexcept override { --Depth; }
    int Depth = 0;

private:
    const TRule* Find(const std::string& On)
    {
        const int nth = ++Seen[On];
        for (const TRule& rule : Rules) {
            if (rule.On == On && (rule.Nth == 0 || rule.Nth == nth)) return &rule;
        }
        return nullptr;
    }
    void Answer(const std::string& On, const std::string& Default)
    {
        const TRule* rule = Find(On);
        if (rule != nullptr && rule->Silent) return;
        std::string reply = rule != nullptr && !rule->Reply.empty() ? rule->Reply : Default;
        if (rule == nullptr || !rule->Reply.empty() || !rule->Close) {
            for (std::size_t at = 0; at <= reply.size();) {
                const std::size_t end = reply.find("\r\n", at);
                Pending.push_back(reply.substr(at, end == std::string::npos ? std::string::npos : end - at) + "\r\n");
                if (end == std::string::npos) break;
                at = end + 2;
            }
        }
        if (rule != nullptr && rule->Close) {
            Pending.push_back("");
        }
    }
    void Close()
    {
        if (Connected) Transcript.push_back("# closed");
        Connected = false;
    }
    int LoginStep = 0;
    std::deque<std::string> Pending;
    std::map<std::string, int> Seen;
};

std::string Joined(const std::vector<std::string>& Lines)
{
    std::string out;
    for (const std::string& line : Lines) out += (out.empty() ? "" : "|") + line;
    return out;
}

class SmtpDialogue : public ::testing::Test {
protected:
    // A fresh dialogue on a fresh server, driven as the registration window drives the
    // component: the mail is sent from OnConnect, and OnSuccess quits. Each event is logged, "+"
    // marking it run while Busy.
    void SetUp() override
    {
        Server = TScriptedServer();
        Events.clear();
        Dialogue = std::make_unique<TSmtpDialogue>(Server, &Sender);
        TSmtpDialogue& D = *Dialogue;
        D.SetUserID("tester");
        D.OnConnect = [this](TObject* S) { Log(S == &Sender ? "connect" : "?"), Dialogue->SendMail(); };
        D.OnSendStart = [this](TObject*) { Log("send start"); };
        D.OnSuccess = [this](TObject*) { Log("success"), Dialogue->Quit(); };
        D.OnFailure = [this](TObject*) { Log("failure"); };
        D.OnRecipientNotFound = [this](const std::string& R) { Log("refused " + R); };
        D.OnAttachmentNotFound = [this](const std::string& F) { Log("not found " + F); };
        TPostMessage& m = D.PostMessage();
        m.SetFromAddress("from@peer.test");
        m.SetFromName("Sender ");
        m.ToAddress().SetText("One <one@peer.test>\ntwo@peer.test");
        m.SetSubject("Test");
        m.Body().SetText("hello\n.dot");
    }
    void Log(const std::string& Event) { Events += (Events.empty() ? "" : "|") + Event + (Dialogue->Busy() ? "+" : ""); }

    TObject Sender;
    TScriptedServer Server;
    std::unique_ptr<TSmtpDialogue> Dialogue;
    std::string Events;
};

const std::string Hello = "< 220 peer.test ready|> HELO tester|< 250 peer.test";
const std::string Envelope = "> RSET|< 250 ok|> MAIL FROM:<from@peer.test>|< 250 ok|> RCPT TO:<one@peer.test>|< 250 ok|"
                             "> RCPT TO:<two@peer.test>|< 250 ok";
const std::string Quit = "> QUIT|< 221 bye|# closed";

TEST_F(SmtpDialogue, EveryReplyThatDecidesSomething)
{
    const std::string content = "> DATA|< 354 go on|= mail|> .";
    const std::string mail = Joined({Envelope, content, "< 250 queued"});
    const std::string line1001 = [] {
        std::string r;
        for (int i = 0; i < 1001; ++i) r += "250-line " + std::to_string(i) + "\r\n";
        return r + "250 end";
    }();
    const std::string fat = [] {
        std::string r;
        for (int i = 0; i < 600; ++i) r += "250-" + std::string(2000, 'x') + "\r\n";
        return r + "250 end";
    }();
    const std::string line1000 = line1001.substr(line1001.find("250-line 2\r\n")); // 999 and its end
    // The first Count lines of Reply as the transcript shows them read.
    const auto read = [](const std::string& Reply, std::size_t Count) {
        std::vector<std::string> lines;
        for (std::size_t at = 0; lines.size() < Count && at < Reply.size();) {
            const std::size_t end = std::min(Reply.find("\r\n", at), Reply.size());
            lines.push_back("< " + Reply.substr(at, end - at));
            at = end + 2;
        }
        return Joined(lines);
    };
    const std::string helo = "< 220 peer.test ready|> HELO tester|";
    const struct {
        const char* name;
        std::vector<TRule> rules;
        std::string events;
        std::string transcript;
        std::function<void()> setup = {};
    } rows[] = {
        {"accepted", {}, "connect|send start+|success", Joined({Hello, mail, Quit})},
        {"greeting 554 and QUIT 503: the greeting's reply is the error",
         {{"greeting", 0, "554 go away"}, {"QUIT", 0, "503 no", true}}, "error: 554 go away\r\n",
         "< 554 go away|> QUIT|< 503 no|# closed"},
        {"greeting refused in two lines: the last line is the error", {{"greeting", 0, "554-first\r\n554 last"}},
         "error: 554 last\r\n", Joined({"< 554-first|< 554 last", Quit})},
        {"greeting of three lines", {{"greeting", 0, "220-first\r\n220-second\r\n220 last"}}, "connect|send start+|success",
         Joined({"< 220-first|< 220-second|< 220 last|> HELO tester|< 250 peer.test", mail, Quit})},
        {"greeting cut by a close", {{"greeting", 0, "220-first", true}}, "error: Connection closed by the server",
         "< 220-first|# closed"},
        {"HELO 501, no handler", {{"HELO", 0, "501 who"}}, "error: Authentication failed",
         Joined({"< 220 peer.test ready|> HELO tester|< 501 who", Quit})},
        {"HELO 501 once, the handler mends UserID", {{"HELO", 1, "501 who"}}, "auth failed+|connect|send start+|success",
         Joined({"< 220 peer.test ready|> HELO tester|< 501 who|> HELO mended|< 250 peer.test", mail, Quit}),
         [this] { Dialogue->OnAuthenticationFailed = [this](bool& H) { Log("auth failed"), H = true, Dialogue->SetUserID("mended"); }; }},
        {"HELO refused twice: the handler is asked once", {{"HELO", 0, "501 who"}}, "auth failed+|error: Authentication failed",
         Joined({"< 220 peer.test ready|> HELO tester|< 501 who|> HELO tester|< 501 who", Quit}),
         [this] { Dialogue->OnAuthenticationFailed = [this](bool& H) { Log("auth failed"), H = true; }; }},
        {"UserID that would end its line", {}, "error: Refused: UserID contains a CR, LF or NUL character", "",
         [this] { Dialogue->SetUserID("x\r\nMAIL FROM:<y>"); }},
        {"HELO answered in continuation lines", {{"HELO", 0, "250-peer.test\r\n250-SIZE 9\r\n250 HELP"}},
         "connect|send start+|success",
         Joined({"< 220 peer.test ready|> HELO tester|< 250-peer.test|< 250-SIZE 9|< 250 HELP", mail, Quit})},
        // A bound closes at once: the reply's rest is never read, and nothing (no QUIT) follows.
        {"a reply of more than 1,000 lines closes the connection", {{"HELO", 0, line1001}},
         "error: Reply longer than 1000 lines", helo + read(line1001, 1000) + "|# closed"},
        {"a reply of more than 1 MB closes the connection", {{"HELO", 0, fat}}, "error: Reply longer than 1048576 bytes",
         helo + read(fat, 523) + "|# closed"},
        {"a reply of exactly 1,000 lines is whole", {{"HELO", 0, line1000}}, "connect|send start+|success",
         Joined({helo + read(line1000, 1000), mail, Quit})},
        {"HELO 354: a 3xx refuses the greeting", {{"HELO", 0, "354 go on"}}, "error: Authentication failed",
         Joined({helo + "< 354 go on", Quit})},
        {"MAIL FROM 400: the threshold itself refuses", {{"MAIL", 0, "400 edge"}}, "connect|send start+|error: 400 edge\r\n",
         Joined({Hello, "> RSET|< 250 ok|> MAIL FROM:<from@peer.test>|< 400 edge", Quit})},
        {"RCPT 550 for the second of two", {{"RCPT", 2, "550 no such user"}},
         "connect|send start+|refused two@peer.test+|success",
         Joined({Hello, "> RSET|< 250 ok|> MAIL FROM:<from@peer.test>|< 250 ok|> RCPT TO:<one@peer.test>|< 250 ok",
                 "> RCPT TO:<two@peer.test>|< 550 no such user", content, "< 250 queued", Quit})},
        {"RCPT refused in two lines: the next reply is the next command's", {{"RCPT", 1, "550-no\r\n550 really not"}},
         "connect|send start+|refused One <one@peer.test>+|success",
         Joined({Hello, "> RSET|< 250 ok|> MAIL FROM:<from@peer.test>|< 250 ok|> RCPT TO:<one@peer.test>|< 550-no",
                 "< 550 really not|> RCPT TO:<two@peer.test>|< 250 ok", content, "< 250 queued", Quit})},
        {"RSET 451", {{"RSET", 0, "451 later"}}, "connect|send start+|error: 451 later\r\n",
         Joined({Hello, "> RSET|< 451 later", Quit})},
        {"MAIL FROM 553", {{"MAIL", 0, "553 not you"}}, "connect|send start+|error: 553 not you\r\n",
         Joined({Hello, "> RSET|< 250 ok|> MAIL FROM:<from@peer.test>|< 553 not you", Quit})},
        {"DATA 554", {{"DATA", 0, "554 no data"}}, "connect|send start+|error: 554 no data\r\n",
         Joined({Hello, Envelope, "> DATA|< 554 no data", Quit})},
        {"content 451", {{".", 0, "451 try again"}}, "connect|send start+|failure+|error: 451 try again\r\n",
         Joined({Hello, Envelope, content, "< 451 try again", Quit})},
        {"content refused in two lines", {{".", 0, "554-spam\r\n554 go away"}},
         "connect|send start+|failure+|error: 554 go away\r\n",
         Joined({Hello, Envelope, content, "< 554-spam|< 554 go away", Quit})},
        {"content answered by a close", {{".", 0, "", true}}, "connect|send start+|failure+|error: Connection closed by the server",
         Joined({Hello, Envelope, content, "# closed"})},
        {"the connection ends under the content: reported as the close", {{"content", 0, "", true}},
         "connect|send start+|failure+|error: Connection closed by the server",
         Joined({Hello, Envelope, "> DATA|< 354 go on|# closed"})},
        {"silence after the content: the time-out", {{".", 0, "", false, true}},
         "connect|send start+|error: Socket readln aborted", Joined({Hello, Envelope, content, Quit})},
        {"QUIT 421", {{"QUIT", 0, "421 bye", true}}, "connect|send start+|success|error: 421 bye\r\n",
         Joined({Hello, mail, "> QUIT|< 421 bye|# closed"})},
        {"replies without a number are success", {{"RCPT", 0, "ok then"}, {".", 0, "queued"}}, "connect|send start+|success",
         Joined({Hello, "> RSET|< 250 ok|> MAIL FROM:<from@peer.test>|< 250 ok|> RCPT TO:<one@peer.test>|< ok then",
                 "> RCPT TO:<two@peer.test>|< ok then", content, "< queued", Quit})},
        {"no sender, no handler", {}, "connect|error: Incomplete Header", Joined({Hello, Quit}),
         [this] { Dialogue->PostMessage().SetFromAddress(""); }},
        {"no recipient: what the handler adds reaches RCPT, not the header", {}, "connect|incomplete 2+|send start+|success",
         Joined({Hello, "> RSET|< 250 ok|> MAIL FROM:<from@peer.test>|< 250 ok|> RCPT TO:<late@peer.test>|< 250 ok",
                 "> DATA|< 354 go on|= mail|> .|< 250 queued", Quit}),
         [this] {
             Dialogue->PostMessage().ToAddress().Clear();
             Dialogue->OnHeaderIncomplete = [this](bool& H, int Type) {
                 Log("incomplete " + std::to_string(Type)), H = true, Dialogue->PostMessage().ToAddress().Add("late@peer.test");
             };
         }},
        {"no sender: a handler that mends nothing is asked once", {}, "connect|incomplete 1+|error: Incomplete Header",
         Joined({Hello, Quit}),
         [this] {
             Dialogue->PostMessage().SetFromAddress("");
             Dialogue->OnHeaderIncomplete = [this](bool& H, int Type) { Log("incomplete " + std::to_string(Type)), H = true; };
         }},
        {"sender that would end its line", {}, "connect|error: Refused: FromAddress contains a CR, LF or NUL character",
         Joined({Hello, Quit}), [this] { Dialogue->PostMessage().SetFromAddress("a@b>\r\nRCPT TO:<c@d"); }},
        {"header line from OnSendStart that would end its line", {},
         "connect|send start+|error: Refused: FinalHeader line 6 (X-Bad) contains a CR, LF or NUL character", Joined({Hello, Quit}),
         [this] { Dialogue->OnSendStart = [this](TObject*) { Log("send start"), Dialogue->FinalHeader().Add("X-Bad: a\r\nBcc: x"); }; }},
        {"missing attachment", {}, "connect|not found /no/such/file+|error: Cannot open file \"/no/such/file\". *",
         Joined({Hello, Quit}), [this] { Dialogue->PostMessage().Attachments().Add("/no/such/file"); }},
        {"SendMail from OnSendStart and OnFailure does nothing; ExpandList is refused; Verify is not",
         {{".", 0, "452 full"}, {"VRFY", 0, "250 ok"}}, "connect|send start+|verified+|failure+|error: 452 full\r\n",
         Joined({Hello, "> VRFY x|< 250 ok", Envelope, content, "< 452 full", Quit}),
         [this] {
             Dialogue->OnSendStart = [this](TObject*) {
                 Log("send start"), Dialogue->SendMail();
                 if (Dialogue->ExpandList("x")) Log("?");
                 if (Dialogue->Verify("x")) Log("verified");
             };
             Dialogue->OnFailure = [this](TObject*) { Log("failure"), Dialogue->SendMail(); };
         }},
        {"SendMail from OnSuccess sends the next mail on the connection", {}, "connect|send start+|success|send start+|success",
         Joined({Hello, mail, "> RSET|< 250 ok|> MAIL FROM:<from@peer.test>|< 250 ok|> RCPT TO:<three@peer.test>|< 250 ok",
                 "> DATA|< 354 go on|= mail|> .|< 250 queued", Quit}),
         [this] {
             Dialogue->OnSuccess = [this](TObject*) {
                 Log("success");
                 EXPECT_EQ(Dialogue->PostMessage().ToAddress().Count(), 0); // ClearParams
                 if (Events.find("success|") != std::string::npos) {
                     Dialogue->Quit();
                 } else {
                     Dialogue->PostMessage().ToAddress().Add("three@peer.test");
                     Dialogue->SendMail();
                 }
             };
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        TSmtpDialogue* const D = Dialogue.get();
        Server.Rules = row.rules;
        if (row.setup) row.setup();
        try {
            D->Open([this] { Server.Open(); });
        } catch (const Exception& e) {
            Events += (Events.empty() ? "" : "|") + ("error: " + e.Message());
        }
        try {
            D->Quit();
        } catch (const Exception& e) {
            Events += "|quit error: " + e.Message();
        }
        EXPECT_FALSE(D->Busy());
        EXPECT_EQ(Server.Depth, 0);
        EXPECT_EQ(Joined(Server.Transcript), row.transcript);
        const std::string events = row.events.back() == '*' ? Events.substr(0, row.events.size() - 1) : Events;
        EXPECT_EQ(events, row.events.back() == '*' ? row.events.substr(0, row.events.size() - 1) : row.events);
        const bool accepted = row.events.find("success") != std::string::npos;
        EXPECT_EQ(D->PostMessage().ToAddress().Count() == 0, accepted); // ClearParams, after an accepted mail only
        if (std::string(row.name).find("not the header") != std::string::npos) {
            EXPECT_EQ(Server.Mail.find("late@"), std::string::npos); // no To line holds it
        }
    }
}


// Submission over TLS: the secure road taken whole, or refused before anything of the mail or a
// credential goes out (every transcript below is the whole session).
TEST_F(SmtpDialogue, SecureSubmission)
{
    const std::string greeting = "< 220 peer.test ready";
    const std::string plain = "> EHLO tester|< 250-peer.test|< 250 STARTTLS";
    const std::string starttls = plain + "|> STARTTLS|< 220 go ahead|# tls";
    const std::string secured = "> EHLO tester|< 250-peer.test|< 250 AUTH PLAIN LOGIN";
    const std::string mail = Joined({Envelope, "> DATA|< 354 go on|= mail|> .|< 250 queued", Quit});
    const std::string authPlain = "> AUTH PLAIN AHVzZXIAc2VjcmV0|< 235 accepted";
    const struct {
        const char* name;
        TSmtpSecurity security;
        bool credentials;
        std::vector<TRule> rules;
        std::string events;
        std::string transcript;
    } rows[] = {
        {"STARTTLS", ssStartTls, false, {}, "connect|send start+|success", Joined({greeting, starttls, secured, mail})},
        {"STARTTLS and AUTH PLAIN", ssStartTls, true, {}, "connect|send start+|success",
         Joined({greeting, starttls, secured, authPlain, mail})},
        {"AUTH LOGIN when only it is offered", ssStartTls, true, {{"EHLO", 2, "250-peer.test\r\n250 AUTH=LOGIN"}},
         "connect|send start+|success",
         Joined({greeting, starttls, "> EHLO tester|< 250-peer.test|< 250 AUTH=LOGIN",
                 "> AUTH LOGIN|< 334 VXNlcm5hbWU6|> dXNlcg==|< 334 UGFzc3dvcmQ6|> c2VjcmV0|< 235 accepted", mail})},
        {"TLS from the first byte", ssTls, true, {}, "connect|send start+|success",
         Joined({"# tls", greeting, secured, authPlain, mail})},
        {"STARTTLS not offered", ssStartTls, true, {{"EHLO", 0, "250 peer.test"}},
         "error: The server does not offer STARTTLS: the mail is not sent unencrypted",
         Joined({greeting, "> EHLO tester|< 250 peer.test|# closed"})},
        {"STARTTLS answered 454", ssStartTls, true, {{"STARTTLS", 0, "454 TLS not available"}},
         "error: The server refused STARTTLS: 454 TLS not available",
         Joined({greeting, plain, "> STARTTLS|< 454 TLS not available|# closed"})},
        {"STARTTLS answered 120", ssStartTls, true, {{"STARTTLS", 0, "120 wait"}}, "error: The server refused STARTTLS: 120 wait",
         Joined({greeting, plain, "> STARTTLS|< 120 wait|# closed"})},
        {"STARTTLS answered without a number", ssStartTls, true, {{"STARTTLS", 0, "go ahead"}},
         "error: The server refused STARTTLS: go ahead", Joined({greeting, plain, "> STARTTLS|< go ahead|# closed"})},
        {"a line not secured after the handshake gets no AUTH", ssStartTls, true, {{"tls", 0, "unsecured"}},
         "error: Credentials are sent over TLS only",
         Joined({greeting, plain, "> STARTTLS|< 220 go ahead|# tls, not secured", plain, "# closed"})},
        {"AUTH PLAIN answered 250", ssStartTls, true, {{"AUTH", 0, "250 fine"}}, "error: Authentication failed: 250 fine",
         Joined({greeting, starttls, secured, "> AUTH PLAIN AHVzZXIAc2VjcmV0|< 250 fine", Quit})},
        {"AUTH LOGIN's password answered 334", ssStartTls, true,
         {{"EHLO", 2, "250-peer.test\r\n250 AUTH=LOGIN"}, {"AUTH", 3, "334 again"}}, "error: Authentication failed: 334 again",
         Joined({greeting, starttls, "> EHLO tester|< 250-peer.test|< 250 AUTH=LOGIN",
                 "> AUTH LOGIN|< 334 VXNlcm5hbWU6|> dXNlcg==|< 334 UGFzc3dvcmQ6|> c2VjcmV0|< 334 again", Quit})},
        {"a handshake that fails", ssStartTls, true, {{"tls", 0, "", true}},
         "error: TLS: the server's certificate is not from a trusted certificate authority",
         Joined({greeting, plain, "> STARTTLS|< 220 go ahead|# closed"})},
        {"EHLO refused: no HELO instead", ssStartTls, false, {{"EHLO", 0, "502 not here"}}, "error: Authentication failed",
         Joined({greeting, "> EHLO tester|< 502 not here", Quit})},
        {"AUTH refused", ssStartTls, true, {{"AUTH", 0, "535 bad credentials"}}, "error: Authentication failed: 535 bad credentials",
         Joined({greeting, starttls, secured, "> AUTH PLAIN AHVzZXIAc2VjcmV0|< 535 bad credentials", Quit})},
        {"no AUTH method the client has", ssStartTls, true, {{"EHLO", 2, "250-peer.test\r\n250 AUTH CRAM-MD5"}},
         "error: The server offers no AUTH method this client has (PLAIN, LOGIN)",
         Joined({greeting, starttls, "> EHLO tester|< 250-peer.test|< 250 AUTH CRAM-MD5|# closed"})},
        {"credentials without TLS", ssNone, true, {}, "error: Credentials are sent over TLS only: the security setting is none", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        TSmtpDialogue& D = *Dialogue;
        Server.Rules = row.rules;
        D.SetSecurity(row.security);
        if (row.credentials) {
            D.SetUserName("user");
            D.SetPassword("secret");
        }
        try {
            D.Open([this, &row] {
                Server.Open();
                if (row.security == ssTls) Server.Secure();
            });
        } catch (const Exception& e) {
            Events += (Events.empty() ? "" : "|") + ("error: " + e.Message());
        }
        try {
            D.Quit();
        } catch (const Exception& e) {
            Events += "|quit error: " + e.Message();
        }
        EXPECT_EQ(Events, row.events);
        EXPECT_EQ(Joined(Server.Transcript), row.transcript);
    }
}

} // namespace
