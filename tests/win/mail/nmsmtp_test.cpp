// The SMTP component under Wine against the SMTP peer (aiosmtpd on loopback, the smtp_peer
// fixture): a listener of its own per case with the replies the case needs, the session checked
// line by line in the peer's transcript, and the mails read back by Python's email package.
#include <gtest/gtest.h>

#include "toolkit/win/Win.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/win/Forms.h"
#include "mail/win/NMsmtp.h"
#include "SmtpPeer.h"
#include "../net/PsockTestUtil.h"

namespace {

std::string WriteFile(const std::string& Path, const std::string& Bytes)
{
    std::ofstream(Path, std::ios::binary).write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    return Path;
}

class Smtp : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Peer().Connected()) << "no SMTP peer: SMTP_PEER_DIR=" << Peer().Folder;
        Folder = Peer().Folder + "\\nmsmtp_test";
        CreateDirectoryA(Folder.c_str(), nullptr);
        Renew();
    }
    void TearDown() override { delete Client; }

    // A fresh component driven as the registration window drives it: the mail is sent from
    // OnConnect, and OnSuccess disconnects. Each event is logged, "+" marking it run while Busy.
    void Renew()
    {
        delete Client;
        Client = new TNMSMTP(nullptr);
        Events.clear();
        Client->SetHost("127.0.0.1");
        Client->SetUserID("tester");
        Client->SetTimeOut(5000);
        Client->OnConnect = [this](TObject* S) { Log(S == Client ? "connect" : "?"), Client->SendMail(); };
        Client->OnSendStart = [this](TObject*) { Log("send start"); };
        Client->OnSuccess = [this](TObject*) { Log("success"), Client->Disconnect(); };
        Client->OnFailure = [this](TObject*) { Log("failure"); };
        Client->OnRecipientNotFound = [this](const std::string& R) { Log("refused " + R); };
        Client->OnConnectionFailed = [this](TObject*) { Log("connection failed"); };
        Client->OnEncodeStart = [this](const std::string& F) { Log("encode " + Local(F)); };
        Client->OnEncodeEnd = [this](const std::string& F) { Log("encoded " + Local(F)); };
        Client->OnAttachmentNotFound = [this](const std::string& F) { Log("not found " + Local(F)); };
        TPostMessage& m = Client->PostMessage();
        m.SetFromAddress("from@peer.test");
        m.SetFromName("Sender ");
        m.ToAddress().SetText("One <one@peer.test>\ntwo@peer.test");
        m.SetSubject("Test");
        m.Body().SetText("hello\n.dot");
    }
    void Log(const std::string& Event) { Events += (Events.empty() ? "" : "|") + Event + (Client->Busy() ? "+" : ""); }
    std::string Local(const std::string& Path) const
    {
        return Path.rfind(Folder + "\\", 0) == 0 ? Path.substr(Folder.size() + 1) : Path;
    }
    // A listener answering as Rules say; the component is pointed at it. Its id.
    int Listen(const std::string& Rules)
    {
        const auto [id, port] = Peer().Listen(Rules);
        Client->SetPort(port);
        return id;
    }
    // Runs the component, then the caller's Disconnect; the events, errors included.
    void Run(const std::function<void()>& Action, bool Closes)
    {
        try {
            Action();
        } catch (const Exception& e) {
            Events += (Events.empty() ? "" : "|") + ("error: " + e.Message());
        }
        EXPECT_FALSE(Client->Busy());
        if (Closes) {
            EXPECT_TRUE(Closed());
        }
        try {
            Client->Disconnect();
        } catch (const Exception& e) {
            Events += "|quit error: " + e.Message();
        }
    }
    // Waits for the close notice of a connection the server ended.
    bool Closed()
    {
        const DWORD start = GetTickCount();
        while (Client->Connected() && GetTickCount() - start < 3000) PsockWait(10);
        return !Client->Connected();
    }
    void ExpectTranscript(int Id, const std::string& Want) { EXPECT_TRUE(TranscriptIs(Id, Want)); }

    TNMSMTP* Client = nullptr;
    std::string Events;
    std::string Folder;
};

const std::string Hello = "# session 1|< 220*|> HELO tester|< 250*";
const std::string Envelope = "> RSET|< 250*|> MAIL FROM:<from@peer.test>|< 250*|> RCPT TO:<one@peer.test>|< 250*|"
                             "> RCPT TO:<two@peer.test>|< 250*";
const std::string Data = "> DATA|< 354*|= mail-1 * bytes|> .";
const std::string Quit = "> QUIT|< 221*|# closed";
const std::string Mail = Joined({Envelope, Data, "< 250*"});

TEST_F(Smtp, DefaultsAndTheSettingsThatReachTheMail)
{
    TNMSMTP fresh(nullptr);
    EXPECT_EQ(std::to_string(fresh.Port()) + "," + std::to_string(fresh.TimeOut()) + "," + std::to_string(fresh.ReportLevel()) +
                  "," + fresh.UserID() + "," + std::to_string(fresh.EncodeType()) + "," + std::to_string(fresh.ClearParams()) +
                  "," + std::to_string(fresh.SubType()) + "," + fresh.Charset() + "," + std::to_string(fresh.Busy()) + "," +
                  std::to_string(fresh.FinalHeader().Count() + fresh.PostMessage().ToAddress().Count()),
              "25,0,0,,0,1,0,us-ascii,0,0");
    EXPECT_TRUE(fresh.Socket().OnAfterAbort && !fresh.OnConnect && !fresh.Socket().OnConnect);

    Client->SetSubType(mtHtml);
    Client->SetCharset("iso-2022-jp");
    Client->AssembleMail();
    EXPECT_EQ(Client->FinalHeader()[Client->FinalHeader().Count() - 1], "Content-Type: text/html; charset=iso-2022-jp");
    TExStringList set;
    set.Add("X: y");
    Client->SetFinalHeader(set);
    EXPECT_EQ(Client->FinalHeader().Text(), "X: y\r\n");
    Client->SetEncodeType(uuCode);
    Client->PostMessage().Attachments().Add(WriteFile(Folder + "\\abc.bin", "abc"));
    Client->AssembleMail();
    const auto size = static_cast<std::size_t>(Client->MailStream().Size());
    Client->SendAttachments(1);
    const std::string part(reinterpret_cast<const char*>(Client->MailStream().Memory()) + size,
                           static_cast<std::size_t>(Client->MailStream().Size()) - size);
    EXPECT_EQ(part.rfind("--" + Client->Boundary() + "\r\n", 0), 0u);
    EXPECT_NE(part.find("x-uuencode\r\nContent-Disposition: attachment; filename=\"abc.bin\"\r\n\r\nbegin 644 abc.bin\r\n#86)C\r\n"),
              std::string::npos);
    EXPECT_EQ(Client->ExtractAddress("To: Name <a@b> x"), "a@b");
    Client->ClearParameters();
    EXPECT_EQ(Client->PostMessage().ToAddress().Count() + Client->PostMessage().Attachments().Count(), 0);
    EXPECT_EQ(Client->PostMessage().Body().Count(), 2);
}

// The dialogue on real sockets against a real server: what the socket layer adds to the dialogue
// (closes seen by notices, the time-out and aborts closing the connection, the connection asked
// for). Every reply's meaning is the dialogue's, tested natively with a scripted server.
TEST_F(Smtp, DialogueOnTheSocketLayer)
{
    const std::string big = WriteFile(Folder + "\\big.bin", std::string(3 << 20, 'b'));
    const struct {
        const char* name;
        const char* rules;
        std::string events;
        std::string transcript;
        std::function<void()> setup = {};
        bool closes = false;
        std::function<void()> run = {};
    } cases[] = {
        {"accepted", "[]", "connect|send start+|success", Joined({Hello, Mail, Quit})},
        {"content answered by a close", R"([{"on":".","close":true}])",
         "connect|send start+|failure+|error: Connection closed by the server", Joined({Hello, Envelope, Data, "# closed"}),
         nullptr, true},
        {"silence after the content: the time-out closes", R"([{"on":".","silent":true}])",
         "connect|send start+|error: Socket readln aborted", Joined({Hello, Envelope, Data, "# closed"}),
         [this] { Client->SetTimeOut(1000); }, true},
        {"abort while the content goes out", "[]", "connect|encode big.bin+|encoded big.bin+|send start+|error: Socket send aborted",
         Joined({Hello, Envelope, "> DATA|< 354*|= mail-1 * bytes, unfinished|# closed"}),
         [&] {
             Client->PostMessage().Attachments().Add(big);
             Client->OnPacketSent = [this](TObject*) { Client->Abort(); };
         },
         true},
        {"a cancel before Disconnect: QUIT still goes out", "[]", "", Joined({Hello, Quit}), nullptr, false,
         [this] {
             Client->OnConnect = nullptr;
             Client->Connect();
             Client->Cancel();
         }},
        {"no connection: OnConnectionRequired connects, Busy stays SendMail's", "[]",
         "required+|socket connect+|connect+|send start+|success", Joined({Hello, Mail, Quit}),
         [this] {
             Client->Socket().OnConnect = [this](TObject*) { Log("socket connect"); };
             Client->OnConnectionRequired = [this](bool& H) { Log("required"), Client->Connect(), H = true; };
         },
         false, [this] { Client->SendMail(); }},
        {"no connection and no handler", "[]", "error: Not Connected", "", nullptr, false, [this] { Client->SendMail(); }},
        {"refused connection", "[]", "connection failed+|error: Connection Failed", "", [this] { Client->SetPort(1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Renew();
        const int id = Listen(c.rules);
        if (c.setup) c.setup();
        Run(c.run ? c.run : [this] { Client->Connect(); }, c.closes);
        EXPECT_EQ(Events, c.events);
        ExpectTranscript(id, c.transcript);
    }
}

// The socket's events reach the handlers set on the component and name it, as the dialogue's
// do; the socket's own connect event names the socket.
TEST_F(Smtp, SocketEventsNameTheComponent)
{
    std::map<std::string, const TObject*> senders; // the last Sender of each event
    const auto record = [&senders](const char* Event) { return [&senders, Event](TObject* S) { senders[Event] = S; }; };
    Listen("[]");
    Client->SetHost("localhost");
    Client->SetReportLevel(8);
    Client->OnStatus = [&](TComponent* S, const std::string&) { senders["status"] = S; };
    Client->OnHostResolved = [&](TComponent* S) { senders["host resolved"] = S; };
    Client->OnPacketSent = record("packet sent");
    Client->OnDisconnect = record("disconnect");
    Client->OnConnectionFailed = record("connection failed");
    Client->Socket().OnConnect = record("socket connect");
    Run([this] { Client->Connect(); }, false);
    EXPECT_EQ(Events, "connect|send start+|success");
    Client->SetPort(1);
    Run([this] { Client->Connect(); }, false);
    const struct {
        const char* event;
        const TObject* sender;
    } rows[] = {{"status", Client},     {"host resolved", Client},     {"packet sent", Client},
                {"disconnect", Client}, {"connection failed", Client}, {"socket connect", &Client->Socket()}};
    for (const auto& row : rows) EXPECT_EQ(senders[row.event], row.sender) << row.event;
}

// Servers no real server imitates, scripted on a socket of the test: every attempt ends within
// its time-out, and a connection that ends under the mail is reported as a refused mail.
TEST_F(Smtp, HostileServersEndTheAttempt)
{
    using psocktest::TPeer;
    // Greets and accepts every command until DATA, then does what Then says.
    const auto server = [](std::function<void(TPeer&)> Then) {
        return [Then](TPeer& p) {
            p.Send("220 hostile ready\r\n");
            for (std::string line = p.RecvLine(); !line.empty(); line = p.RecvLine()) {
                if (line.rfind("DATA", 0) == 0) {
                    p.Send("354 go on\r\n");
                    Then(p);
                    return;
                }
                p.Send("250 ok\r\n");
            }
        };
    };
    // Answers HELO with continuation lines that never end, one every Ms milliseconds.
    const auto endless = [](DWORD Ms) {
        return [Ms](TPeer& p) {
            p.Send("220 hostile ready\r\n");
            p.RecvLine();
            while (p.Send("250-more\r\n")) {
                if (Ms != 0) Sleep(Ms);
            }
        };
    };
    const std::string big = WriteFile(Folder + "\\twenty.bin", std::string(20 << 20, 't'));
    const struct {
        const char* name;
        std::function<void(TPeer&)> script;
        bool attach;
        std::string events;
        DWORD mostMs;
    } cases[] = {
        {"stops reading during DATA", server([](TPeer& p) { p.Hold(); }), true,
         "connect|encode twenty.bin+|encoded twenty.bin+|send start+|error: Socket send aborted", 12000},
        {"closes after 354 under a large mail", server([](TPeer& p) { p.Close(); }), true,
         "connect|encode twenty.bin+|encoded twenty.bin+|send start+|failure+|error: Connection closed by the server", 12000},
        {"drips continuation lines for ever", endless(10), false, "error: Socket readln aborted", 6000},
        {"floods continuation lines", endless(0), false, "error: Reply longer than 1000 lines", 6000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Renew();
        TPeer peer(c.script);
        Client->SetPort(peer.Port());
        Client->SetTimeOut(2000);
        if (c.attach) Client->PostMessage().Attachments().Add(big);
        const DWORD start = GetTickCount();
        Run([this] { Client->Connect(); }, true);
        EXPECT_LE(GetTickCount() - start, c.mostMs);
        EXPECT_EQ(Events, c.events);
    }
}

// Submission over TLS to a real server (aiosmtpd with the test authority's certificates): the
// mail arrives whole over STARTTLS and over TLS from the first byte, authenticated inside TLS;
// every refusal leaves the server without a mail command and without a credential.
TEST_F(Smtp, SecureSubmissionToARealServer)
{
    const char* dir = std::getenv("TLS_PEER_DIR");
    ASSERT_NE(dir, nullptr) << "no TLS_PEER_DIR: the test certificates are missing";
    const std::string certs = std::string(dir) + "/certs";
    std::string windowsCerts = "Z:" + certs;
    std::replace(windowsCerts.begin(), windowsCerts.end(), '/', '\\');
    std::ifstream in(windowsCerts + "\\ca.pem", std::ios::binary);
    const std::string authority((std::istreambuf_iterator<char>(in)), {});
    ASSERT_NE(authority.find("BEGIN CERTIFICATE"), std::string::npos);
    const std::string auth = R"("auth":{"user":"setup","password":"s3cret"},"certs":)" + Json(certs);
    const struct {
        const char* name;
        std::string settings; // the listener's script beyond its rules
        const char* rules;
        TSmtpSecurity security;
        const char* host;
        bool trusted; // the test authority given
        const char* error; // "" when the mail goes
    } rows[] = {
        {"STARTTLS", R"("tls":"starttls",)" + auth, "[]", ssStartTls, "localhost", true, ""},
        {"TLS from the first byte", R"("tls":"implicit",)" + auth, "[]", ssTls, "localhost", true, ""},
        {"the server's reply to STARTTLS followed by bytes of its own", R"("tls":"starttls",)" + auth,
         R"([{"on":"STARTTLS","raw":"220 go ahead\r\n250-injected\r\n250 AUTH PLAIN\r\n","pass":true}])", ssStartTls,
         "localhost", true, ""},
        {"an authority nobody trusts", R"("tls":"starttls",)" + auth, "[]", ssStartTls, "localhost", false,
         "TLS: the server's certificate is not from a trusted certificate authority"},
        {"a certificate for another host", R"("tls":"starttls","cert":"other.pem",)" + auth, "[]", ssStartTls, "localhost",
         true, "TLS: the server's certificate is for another host than localhost"},
        {"an expired certificate", R"("tls":"implicit","cert":"expired.pem",)" + auth, "[]", ssTls, "127.0.0.1", true,
         "TLS: the server's certificate has expired or is not yet valid"},
        {"STARTTLS not offered", auth, "[]", ssStartTls, "localhost", true,
         "The server does not offer STARTTLS: the mail is not sent unencrypted"},
        {"STARTTLS answered 454", R"("tls":"starttls",)" + auth, R"([{"on":"STARTTLS","reply":"454 4.7.0 not now"}])",
         ssStartTls, "localhost", true, "The server refused STARTTLS: 454 4.7.0 not now"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Renew();
        const auto [id, port] = Peer().Listen(row.rules, row.settings);
        Client->SetPort(port);
        Client->SetHost(row.host);
        Client->SetSecurity(row.security);
        Client->SetUserName("setup");
        Client->SetPassword("s3cret");
        Client->SetCertificateAuthority(row.trusted ? authority : "");
        Run([this] { Client->Connect(); }, false);
        const auto transcript = Peer().Request("TRANSCRIPT " + std::to_string(id));
        std::string session;
        for (std::size_t i = 1; i < transcript.size(); ++i) session += transcript[i] + "|";
        if (*row.error == 0) {
            EXPECT_EQ(Events, "connect|send start+|success");
            EXPECT_NE(session.find("# tls|"), std::string::npos) << session;
            EXPECT_NE(session.find("> AUTH PLAIN "), std::string::npos) << session;
            EXPECT_LT(session.find("# tls|"), session.find("> AUTH")) << session;
            const auto check = Peer().Request("CHECK {\"listener\":" + std::to_string(id) + ",\"body\":" +
                                              Json("\r\nhello\r\n.dot\r\n") + "}");
            EXPECT_EQ(check[0], "OK");
        } else {
            EXPECT_EQ(Events, std::string("error: ") + row.error);
            EXPECT_EQ(session.find("> AUTH"), std::string::npos) << session;
            EXPECT_EQ(session.find("> MAIL"), std::string::npos) << session;
            EXPECT_EQ(session.find("s3cret"), std::string::npos) << session;
        }
    }
}

// TLS that fails at some step, against the hostile listeners of the TLS peer: the reason comes at
// once, the connection is closed as a peer's close is (OnDisconnect, Connected false), and a
// Connect to a good server then sends the mail. The server saw nothing inside TLS but what came
// before its misbehaviour ("-": not even an EHLO). A failure inside Connect closes twice: the
// dialogue's close after a failed greeting closes the fresh socket too.
TEST_F(Smtp, ATlsFailureClosesTheConnectionAndTheNextConnectSends)
{
    const std::string authority = TlsPeerFile("certs/ca.pem");
    const std::string sent = "connect|send start+|success|disconnect";
    const struct {
        const char* listener;
        std::string events;
        const char* saw;
    } rows[] = {
        {"smtp-renegotiate", "connect|send start+|disconnect+|error: TLS: the server asked to renegotiate the session: refused",
         "EHLO,AUTH,PASSWORD,RSET,MAIL"},
        {"smtp-flip",
         "connect|send start+|disconnect+|error: TLS: a record from the server failed its integrity check (altered on the way)",
         "EHLO,AUTH,PASSWORD,RSET,MAIL"},
        {"smtp-garbage", "disconnect+|disconnect+|error: TLS: the server sent bytes that are no TLS record after the handshake", "-"},
        {"smtp-rsa-kx", "disconnect+|disconnect+|error: TLS: the server's suite has no forward secrecy (an RSA key exchange)", "-"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.listener);
        Renew();
        Client->SetHost("localhost");
        Client->SetSecurity(ssStartTls);
        Client->SetUserName("setup");
        Client->SetPassword("s3cret");
        Client->SetCertificateAuthority(authority);
        Client->OnDisconnect = [this](TObject*) { Log("disconnect"); };
        for (const char* listener : {row.listener, "smtp"}) {
            Client->SetPort(TlsPeerPort(listener));
            const DWORD start = GetTickCount();
            try {
                Client->Connect();
            } catch (const Exception& e) {
                Log("error: " + e.Message());
            }
            EXPECT_LT(GetTickCount() - start, 3000u) << listener;
            EXPECT_FALSE(Client->Connected()) << listener;
        }
        EXPECT_EQ(Events, row.events + "|" + sent);
        EXPECT_TRUE(Glob((std::string("OK * ") + row.saw).c_str(), TlsPeerStats(row.listener).c_str())) << TlsPeerStats(row.listener);
        EXPECT_TRUE(Glob("OK 1 0 * localhost EHLO,AUTH,PASSWORD,RSET,MAIL,RCPT,RCPT,DATA,.,QUIT,CLOSE_NOTIFY", TlsPeerStats("smtp").c_str()));
    }
}

// Two attachments (every byte value, and nothing) with a body that tries to end the data early,
// read back by Python's email package, byte for byte, in both encodings.
TEST_F(Smtp, AttachmentsComeBackWhole)
{
    std::string every;
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 256; ++c) every += static_cast<char>(c);
    const std::string first = WriteFile(Folder + "\\every byte.bin", every + "\r\n.\r\n");
    const std::string second = WriteFile(Folder + "\\empty.bin", "");
    for (const UUMethods method : {uuMime, uuCode}) {
        Renew();
        const int id = Listen("[]");
        Client->SetEncodeType(method);
        TPostMessage& m = Client->PostMessage();
        m.Body().Add(".");
        m.Body().Add("..two\r\n.\r\nQUIT");
        m.Attachments().SetText(first + "\n" + second);
        Run([this] { Client->Connect(); }, false);
        EXPECT_EQ(Events, "connect|encode every byte.bin+|encoded every byte.bin+|encode empty.bin+|encoded empty.bin+|"
                          "send start+|success");
        ExpectTranscript(id, Joined({Hello, Mail, Quit}));
        const auto check = Peer().Request(
            "CHECK {\"listener\":" + std::to_string(id) + ",\"encoding\":\"" + (method == uuMime ? "base64" : "x-uuencode") +
            "\",\"body\":" + Json("hello\r\n.dot\r\n.\r\n..two\r\n.\r\nQUIT") + ",\"attachments\":[{\"name\":\"every byte.bin\",\"file\":" +
            Json(first) + "},{\"name\":\"empty.bin\",\"file\":" + Json(second) + "}]}");
        EXPECT_EQ(check[0], "OK") << (method == uuMime ? "base64" : "uuencode");
    }
}

TEST_F(Smtp, VerifyAndExpandList)
{
    const int id = Listen(R"([{"on":"VRFY","arg":"good","reply":"250 <good@peer.test>"},
        {"on":"VRFY","arg":"away","reply":"251-moved\r\n251 to <x@y>"},{"on":"VRFY","arg":"bad","reply":"550 unknown"},
        {"on":"EXPN","arg":"list","reply":"250-<a@peer.test>\r\n250-<b@peer.test>\r\n250 <c@peer.test>"},
        {"on":"EXPN","arg":"none","reply":"550 no list"},{"on":"VRFY","arg":"gone","close":true}])");
    std::vector<std::string> lists;
    Client->OnMailListReturn = [&](const std::string& Line) { lists.push_back(Line); };
    Client->OnConnect = nullptr;
    EXPECT_THROW(Client->Verify("good"), Exception); // Not Connected
    EXPECT_THROW(Client->ExpandList("list"), Exception);
    EXPECT_FALSE(Client->Busy());
    Client->Connect();
    const struct {
        bool expand;
        const char* arg;
        bool result;
    } cases[] = {{false, "good", true}, {false, "away", true}, {false, "maybe", false}, {false, "bad", false},
                 {true, "list", true},  {true, "none", false},  {false, "good", true}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.expand ? Client->ExpandList(c.arg) : Client->Verify(c.arg), c.result) << c.arg;
        EXPECT_FALSE(Client->Busy());
    }
    EXPECT_EQ(lists, std::vector<std::string>{"250-<a@peer.test>\r\n"});
    std::string error;
    try {
        Client->Verify("gone");
    } catch (const Exception& e) {
        error = e.Message();
    }
    EXPECT_EQ(error, "Connection closed by the server");
    EXPECT_TRUE(Closed());
    Client->Disconnect();
    ExpectTranscript(id, Joined({Hello, "> VRFY good|< 250*|> VRFY away|< 251-moved|< 251 to <x@y>|> VRFY maybe|< 252*",
                                 "> VRFY bad|< 550*|> EXPN list|< 250-<a*|< 250-<b*|< 250 <c*|> EXPN none|< 550*",
                                 "> VRFY good|< 250*|> VRFY gone|# closed"}));
}

} // namespace
