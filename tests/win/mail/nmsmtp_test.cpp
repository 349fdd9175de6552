// The SMTP component under Wine against the SMTP peer (aiosmtpd on loopback, the smtp_peer
// fixture): a listener of its own per case with the replies the case needs, the session checked
// line by line in the peer's transcript, and the mails read back by Python's email package.
#include <gtest/gtest.h>

#include "toolkit/win/Win.h"

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/win/Forms.h"
#include "mail/NMsmtp.h"
#include "SmtpPeer.h"

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
        while (Client->Connected() && GetTickCount() - start < 3000) PsockWait();
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
    EXPECT_TRUE(fresh.OnAfterAbort && !fresh.OnConnect && !fresh.TPowersock::OnConnect);

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

// The dialogue with every reply that decides something, the road of the registration window.
TEST_F(Smtp, DialogueTable)
{
    const std::string missing = Folder + "\\missing.bin";
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
        {"greeting 554 and QUIT 503: the greeting's reply is the error",
         R"([{"on":"greeting","reply":"554 go away"},{"on":"QUIT","reply":"503 no","close":true}])",
         "error: 554 go away\r\n", "# session 1|< 554 go away|> QUIT|< 503 no|# closed"},
        {"greeting of three lines", R"([{"on":"greeting","reply":"220-first\r\n220-second\r\n220 last"}])",
         "connect|send start+|success", Joined({"# session 1|< 220-first|< 220-second|< 220 last|> HELO tester|< 250*", Mail, Quit})},
        {"greeting cut by a close", R"([{"on":"greeting","raw":"220-first\r\n220-se","close":true}])",
         "error: Connection closed by the server", "# session 1|<! 220-first\\r\\n220-se|# closed", nullptr, true},
        {"HELO 501, no handler", R"([{"on":"HELO","reply":"501 who"}])", "error: Authentication failed",
         Joined({"# session 1|< 220*|> HELO tester|< 501 who", Quit})},
        {"HELO 501 once, the handler mends UserID", R"([{"on":"HELO","nth":1,"reply":"501 who"}])",
         "auth failed+|connect|send start+|success",
         Joined({"# session 1|< 220*|> HELO tester|< 501 who|> HELO mended|< 250*", Mail, Quit}),
         [this] { Client->OnAuthenticationFailed = [this](bool& H) { Log("auth failed"), H = true, Client->SetUserID("mended"); }; }},
        {"HELO refused twice: the handler is asked once", R"([{"on":"HELO","reply":"501 who"}])",
         "auth failed+|error: Authentication failed",
         Joined({"# session 1|< 220*|> HELO tester|< 501 who|> HELO tester|< 501 who", Quit}),
         [this] { Client->OnAuthenticationFailed = [this](bool& H) { Log("auth failed"), H = true; }; }},
        {"UserID that would end its line", "[]", "error: Refused: UserID contains a CR, LF or NUL character", "",
         [this] { Client->SetUserID("x\r\nMAIL FROM:<y>"); }},
        {"HELO answered in continuation lines", R"([{"on":"HELO","reply":"250-peer.test\r\n250-SIZE 9\r\n250 HELP"}])",
         "connect|send start+|success",
         Joined({"# session 1|< 220*|> HELO tester|< 250-peer.test|< 250-SIZE 9|< 250 HELP", Mail, Quit})},
        {"RCPT 550 for the second of two", R"([{"on":"RCPT","nth":2,"reply":"550 no such user"}])",
         "connect|send start+|refused two@peer.test+|success",
         Joined({Hello, "> RSET|< 250*|> MAIL FROM:<from@peer.test>|< 250*|> RCPT TO:<one@peer.test>|< 250*",
                 "> RCPT TO:<two@peer.test>|< 550 no such user", Data, "< 250*", Quit})},
        {"RCPT refused in two lines: the next reply is the next command's",
         R"([{"on":"RCPT","nth":1,"reply":"550-no\r\n550 really not"}])",
         "connect|send start+|refused One <one@peer.test>+|success",
         Joined({Hello, "> RSET|< 250*|> MAIL FROM:<from@peer.test>|< 250*|> RCPT TO:<one@peer.test>|< 550-no",
                 "< 550 really not|> RCPT TO:<two@peer.test>|< 250*", Data, "< 250*", Quit})},
        {"RSET 451", R"([{"on":"RSET","reply":"451 later"}])", "connect|send start+|error: 451 later\r\n",
         Joined({Hello, "> RSET|< 451 later", Quit})},
        {"MAIL FROM 553", R"([{"on":"MAIL","reply":"553 not you"}])", "connect|send start+|error: 553 not you\r\n",
         Joined({Hello, "> RSET|< 250*|> MAIL FROM:<from@peer.test>|< 553 not you", Quit})},
        {"DATA 554", R"([{"on":"DATA","reply":"554 no data"}])", "connect|send start+|error: 554 no data\r\n",
         Joined({Hello, Envelope, "> DATA|< 554 no data", Quit})},
        {"content 451", R"([{"on":".","reply":"451 try again"}])", "connect|send start+|failure+|error: 451 try again\r\n",
         Joined({Hello, Envelope, Data, "< 451 try again", Quit})},
        {"content refused in two lines", R"([{"on":".","reply":"554-spam\r\n554 go away"}])",
         "connect|send start+|failure+|error: 554 go away\r\n",
         Joined({Hello, Envelope, Data, "< 554-spam|< 554 go away", Quit})},
        {"content answered by a close", R"([{"on":".","close":true}])",
         "connect|send start+|failure+|error: Connection closed by the server", Joined({Hello, Envelope, Data, "# closed"}),
         nullptr, true},
        {"silence after the content: the time-out closes", R"([{"on":".","silent":true}])",
         "connect|send start+|error: Socket readln aborted", Joined({Hello, Envelope, Data, "# closed"}),
         [this] { Client->SetTimeOut(1000); }, true},
        {"QUIT 421", R"([{"on":"QUIT","reply":"421 bye","close":true}])", "connect|send start+|success|error: 421 bye\r\n",
         Joined({Hello, Mail, "> QUIT|< 421 bye|# closed"})},
        {"replies without a number are success", R"([{"on":"RCPT","raw":"ok then\r\n","pass":true},{"on":".","raw":"queued\r\n"}])",
         "connect|send start+|success",
         Joined({Hello, "> RSET|< 250*|> MAIL FROM:<from@peer.test>|< 250*|> RCPT TO:<one@peer.test>|<! ok then\\r\\n",
                 "> RCPT TO:<two@peer.test>|<! ok then\\r\\n", Data, "<! queued\\r\\n", Quit})},
        {"no sender, no handler", "[]", "connect|error: Incomplete Header", Joined({Hello, Quit}),
         [this] { Client->PostMessage().SetFromAddress(""); }},
        {"no recipient: the handler adds one to the envelope", "[]",
         "connect|incomplete 2+|send start+|success",
         Joined({Hello, "> RSET|< 250*|> MAIL FROM:<from@peer.test>|< 250*|> RCPT TO:<late@peer.test>|< 250*", Data,
                 "< 250*", Quit}),
         [this] {
             Client->PostMessage().ToAddress().Clear();
             Client->OnHeaderIncomplete = [this](bool& H, int Type) {
                 Log("incomplete " + std::to_string(Type)), H = true, Client->PostMessage().ToAddress().Add("late@peer.test");
             };
         }},
        {"no sender: a handler that mends nothing is asked once", "[]", "connect|incomplete 1+|error: Incomplete Header",
         Joined({Hello, Quit}),
         [this] {
             Client->PostMessage().SetFromAddress("");
             Client->OnHeaderIncomplete = [this](bool& H, int Type) { Log("incomplete " + std::to_string(Type)), H = true; };
         }},
        {"sender that would end its line", "[]", "connect|error: Refused: FromAddress contains a CR, LF or NUL character",
         Joined({Hello, Quit}), [this] { Client->PostMessage().SetFromAddress("a@b>\r\nRCPT TO:<c@d"); }},
        {"header line from OnSendStart that would end its line", "[]",
         "connect|send start+|error: Refused: FinalHeader line 6 (X-Bad) contains a CR, LF or NUL character", Joined({Hello, Quit}),
         [this] { Client->OnSendStart = [this](TObject*) { Log("send start"), Client->FinalHeader().Add("X-Bad: a\r\nBcc: x"); }; }},
        {"missing attachment", "[]",
         "connect|not found missing.bin+|error: Cannot open file \"" + missing + "\". No such file or directory",
         Joined({Hello, Quit}), [&] { Client->PostMessage().Attachments().Add(missing); }},
        {"abort while the content goes out", "[]", "connect|encode big.bin+|encoded big.bin+|send start+|error: Socket send aborted",
         Joined({Hello, Envelope, "> DATA|< 354*|= mail-1 * bytes, unfinished|# closed"}),
         [&] {
             Client->PostMessage().Attachments().Add(big);
             Client->OnPacketSent = [this](TObject*) { Client->Abort(); };
         },
         true},
        {"SendMail from OnSendStart and OnFailure does nothing; ExpandList is refused",
         R"([{"on":".","reply":"452 full"}])", "connect|send start+|failure+|error: 452 full\r\n",
         Joined({Hello, Envelope, Data, "< 452 full", Quit}),
         [this] {
             Client->OnSendStart = [this](TObject*) {
                 Log("send start"), Client->SendMail();
                 if (Client->ExpandList("x")) Log("?");
             };
             Client->OnFailure = [this](TObject*) { Log("failure"), Client->SendMail(); };
         }},
        {"SendMail from OnSuccess sends the next mail on the connection", "[]", "connect|send start+|success|send start+|success",
         Joined({Hello, Mail, "> RSET|< 250*|> MAIL FROM:<from@peer.test>|< 250*|> RCPT TO:<three@peer.test>|< 250*",
                 "> DATA|< 354*|= mail-2 * bytes|> .|< 250*", Quit}),
         [this] {
             Client->OnSuccess = [this](TObject*) {
                 Log("success");
                 EXPECT_EQ(Client->PostMessage().ToAddress().Count(), 0); // ClearParams
                 if (Events.find("success|") != std::string::npos) {
                     Client->Disconnect();
                 } else {
                     Client->PostMessage().ToAddress().Add("three@peer.test");
                     Client->SendMail();
                 }
             };
         }},
        {"no connection: OnConnectionRequired connects, Busy stays SendMail's", "[]",
         "required+|socket connect+|connect+|send start+|success", Joined({Hello, Mail, Quit}),
         [this] {
             Client->TPowersock::OnConnect = [this](TObject*) { Log("socket connect"); };
             Client->OnConnectionRequired = [this](bool& H) { Log("required"), Client->Connect(), H = true; };
         },
         false, [this] { Client->SendMail(); }},
        {"no connection and no handler", "[]", "error: Not Connected", "", nullptr, false, [this] { Client->SendMail(); }},
        {"refused connection", "[]", "connection failed+|error: Connection Failed", "",
         [this] { Client->SetPort(1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Renew();
        const int id = Listen(c.rules);
        if (c.setup) c.setup();
        Run(c.run ? c.run : [this] { Client->Connect(); }, c.closes);
        EXPECT_EQ(Events, c.events);
        ExpectTranscript(id, c.transcript);
        const bool accepted = c.events.find("success") != std::string::npos;
        EXPECT_EQ(Client->PostMessage().ToAddress().Count() == 0, accepted); // ClearParams, after an accepted mail only
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
