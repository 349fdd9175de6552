// The registration window in process, under Wine, sending: the registration sent to the SMTP peer
// (aiosmtpd on loopback) with its boxes read and answered through the message-box seam, every
// failure with its boxes and the status line, and the handlers entered during an attempt; the
// mails the peer received are decoded by Python's email package.
#include "SendDataTest.h"

#include "Loopback.h"

namespace {

std::string Today()
{
    char date[64] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof date);
    return date;
}

// The body of an empty form, line by line.
std::vector<std::string> EmptyForm()
{
    return {"--ここから--", "", "お申込日 = " + Today(), "作品番号 = ZO000002", "お申込作品名 = デスクトップdoduza",
            "施設名 = ", "利用者氏名 = ", "利用者氏名(よみ) = ", "郵便番号 = ", "住所 = ", "電話番号 = ", "e-mail = ",
            "お知らせメールを受信する", "性別 =男性", "年齢 ="};
}

// Python's email package on mail M of session N: the From display name, the Subject and the 15
// body lines decoded from ISO-2022-JP equal these Shift_JIS texts; the header lines, their order
// and the Content-Type are exactly the registration's. "OK", else what differs.
std::string CheckMail(int Id, int N, const std::string& FromName, const std::vector<std::string>& Body)
{
    std::string lines;
    for (const auto& line : Body) lines += (lines.empty() ? "" : ",") + Json(Hex(line));
    return Peer().Request("CHECK {\"listener\":" + std::to_string(Id) + ",\"session\":" + std::to_string(N) +
                          ",\"registration\":{\"sender\":" + Json(RegistrationConfig::Sender) +
                          ",\"registration\":" + Json(RegistrationConfig::Registration) + ",\"from_name\":" +
                          Json(Hex(FromName)) + ",\"subject\":" + Json(Hex("ユーザー登録完了メール")) + ",\"lines\":[" +
                          lines + "]}}")[0];
}

// A box as "caption/flags: text".
std::vector<std::string> Shown(const TMessageBoxRecorder& Boxes)
{
    std::vector<std::string> shown;
    for (const auto& box : Boxes.Boxes()) shown.push_back(box.Caption + "/" + std::to_string(box.Flags) + ": " + box.Text);
    return shown;
}

TEST_F(SendDataWindow, SmtpComponentSettings)
{
    delete SendDataForm; // as created, before a test points it anywhere
    Application->CreateForm(SendDataForm);
    TSendDataForm& f = *SendDataForm;
    TNMSMTP& c = *f.NMSMTP1;
    const TPostMessage& m = c.PostMessage();
    EXPECT_EQ(c.Owner(), &f);
    EXPECT_EQ(f.Relay + ":" + std::to_string(f.RelayPort), std::string(RegistrationConfig::SmtpRelay) + ":" + std::to_string(RegistrationConfig::SmtpPort));
    EXPECT_EQ(std::to_string(c.Port()) + "," + std::to_string(c.TimeOut()) + "," + std::to_string(c.ReportLevel()) + "," + c.UserID() +
                  "," + m.FromAddress() + "," + m.ToAddress().Text() + m.Subject() + "," + std::to_string(c.EncodeType()) + "," +
                  std::to_string(c.ClearParams()) + "," + std::to_string(c.SubType()) + "," + c.Charset(),
              std::to_string(RegistrationConfig::SmtpPort) + ",10000,0," + RegistrationConfig::HeloDomain + "," +
                  RegistrationConfig::Sender + "," + RegistrationConfig::Registration + "\r\nユーザー登録完了メール,0,1,0,us-ascii");
    EXPECT_EQ(std::string(RegistrationConfig::HeloDomain).find('@'), std::string::npos); // a domain, not the sender mailbox
    EXPECT_TRUE(c.OnConnect && c.OnInvalidHost && c.OnConnectionFailed && c.OnSendStart && c.OnSuccess && c.OnFailure);
    EXPECT_TRUE(!c.Socket().OnConnect && !c.OnAuthenticationFailed && !c.OnHeaderIncomplete && !c.OnRecipientNotFound);
}

// Each form as the user leaves it: the mail the relay received, decoded; the status texts
// along the way; the thanks; the window hidden.
TEST_F(SendDataWindow, RegistrationsAsReceived)
{
    const struct {
        const char* name;
        std::function<void(TSendDataForm&)> fill;
        std::string fromName;
        std::vector<std::pair<int, std::string>> lines; // what differs from the empty form's body
    } cases[] = {
        {"empty form", [](TSendDataForm&) {}, "記入なし", {}},
        {"full form, Japanese names",
         FillJapanese,
         "ホテル表参道ソ能",
         {{5, "施設名 = ホテル表参道ソ能"}, {6, "利用者氏名 = 山田　太郎"}, {11, "e-mail = taro@example.jp"}, {12, "メール受信拒否"},
          {13, "性別 =女性"}, {14, "年齢 =６０代以上"}}},
        {"facility of spaces, box ticked",
         [](TSendDataForm& f) {
             f.NameEdit->SetText("   ");
             Press(f.CheckBox1);
         },
         "   ", {{5, "施設名 =    "}, {12, "メール受信拒否"}}},
        {"half-width katakana, sent as their full-width forms",
         [](TSendDataForm& f) {
             f.NameEdit->SetText("ﾎﾃﾙﾄﾞﾊﾟｰｸ");
             f.AdminEdit->SetText("ﾔﾏﾀﾞ");
         },
         "ホテルドパーク", {{5, "施設名 = ホテルドパーク"}, {6, "利用者氏名 = ヤマダ"}}},
        {"combo text typed without a choice",
         [](TSendDataForm& f) {
             f.ComboBox1->SetFocus();
             for (char ch : std::string("20s")) PostMessageA(GetFocus(), WM_CHAR, static_cast<WPARAM>(ch), 0);
             Application->ProcessMessages();
             f.AdminEdit->SetText("Admin");
         },
         "記入なし", {{6, "利用者氏名 = Admin"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delete SendDataForm;
        Application->CreateForm(SendDataForm);
        TSendDataForm& f = *SendDataForm;
        const int id = Relay("[]");
        f.TitleText = Product;
        f.Show();
        c.fill(f);
        // The status line at each step: connecting, connected, sending, sent.
        std::vector<std::string> statuses;
        f.NMSMTP1->Socket().OnConnect = [&](TObject*) { statuses.push_back(Status()); };
        const auto sendStart = f.NMSMTP1->OnSendStart;
        f.NMSMTP1->OnSendStart = [&](TObject* Sender) {
            statuses.push_back(Status());
            sendStart(Sender);
            statuses.push_back(Status());
        };
        Boxes.Clear();
        Boxes.OnBox = [&](const TMessageBoxRecorder::TBox&) { statuses.push_back(Status()); };
        f.BitBtn1->Click();
        Boxes.OnBox = nullptr;
        EXPECT_EQ(Shown(Boxes), std::vector<std::string>{Title + "/0: " + Thanks});
        EXPECT_EQ(statuses, (std::vector<std::string>{"サーバーに接続中です", "サーバーに接続しました", "データ送信中です", "データ送信完了"}));
        EXPECT_FALSE(IsWindowVisible(f.Handle()));
        EXPECT_FALSE(f.Sending() || f.NMSMTP1->Connected());
        EXPECT_TRUE(TranscriptIs(id, Registered()));
        std::vector<std::string> body = EmptyForm();
        for (const auto& [at, line] : c.lines) body[static_cast<std::size_t>(at)] = line;
        EXPECT_EQ(CheckMail(id, 1, c.fromName, body), "OK");
    }
}

// A listener whose queue is full: the system answers no further connection request, so a
// connection attempt to it waits until it times out or is cancelled.
class TFullListener {
public:
    TFullListener()
    {
        FSockets.emplace_back(ListenOnLoopback(0, Port));
        const sockaddr_in address = LoopbackAddress(Port);
        for (int i = 0; i < 4; ++i) {
            TSocketHandle& s = FSockets.emplace_back(socket(AF_INET, SOCK_STREAM, 0));
            u_long on = 1;
            ioctlsocket(s.Get(), FIONBIO, &on);
            connect(s.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        }
        Sleep(100);
    }
    int Port = 0;

private:
    std::vector<TSocketHandle> FSockets;
};

// A handler run by the wait that cancels the attempt, from a thread timer.
void CALLBACK AbortAttempt(HWND, UINT, UINT_PTR Id, DWORD)
{
    KillTimer(nullptr, Id);
    SendDataForm->NMSMTP1->Abort();
}

// Every failure with its boxes in order, answered as the row says. At a Retry the user has
// mended the line (the window is pointed at a relay that works) and changed the facility name:
// the new attempt composes afresh from the controls.
TEST_F(SendDataWindow, FailureRows)
{
    const std::string notice = Title + "/0: " + SupportNotice(), thanks = Title + "/0: " + Thanks,
                      unexpected = Title + "/0: 予期せぬエラーが発生しました　送信を中止します\n" + SupportNotice(),
                      connectQuestion = "データ送信/5: 接続に失敗しました　回線を確認してください",
                      sendQuestion = "データ送信/5: 送信に失敗しました　再度送信しますか";
    const std::string data = "# session 1|< 220*|> HELO *|< 250*|> RSET|< 250*|> MAIL FROM:*|< 250*|> RCPT TO:*|< 250*|"
                             "> DATA|< 354*|= mail-1 * bytes|> .";
    const TFullListener full;
    // The window pointed at it, with the time-out given, cancelled after CancelAfter ms unless 0.
    const auto waiting = [port = full.Port](int32_t TimeOut, UINT CancelAfter) {
        return [=](TSendDataForm& f) {
            f.RelayPort = port;
            f.NMSMTP1->SetTimeOut(TimeOut);
            if (CancelAfter != 0) SetTimer(nullptr, 0, CancelAfter, AbortAttempt);
        };
    };
    // The window pointed at a listener of the TLS peer over STARTTLS, trusting the test authority.
    const auto secure = [authority = TlsPeerFile("certs/ca.pem")](const char* Listener, int32_t TimeOut) {
        return [=](TSendDataForm& f) {
            f.Relay = "localhost";
            f.RelayPort = TlsPeerPort(Listener);
            f.NMSMTP1->SetTimeOut(TimeOut);
            f.NMSMTP1->SetSecurity(ssStartTls);
            f.NMSMTP1->SetCertificateAuthority(authority);
        };
    };
    const struct {
        const char* name;
        const char* rules; // of the relay the window is pointed at first
        std::function<void(TSendDataForm&)> setup;
        std::vector<int> answers; // to the first boxes
        std::vector<std::string> boxes;
        std::string status;     // the status line at the end
        std::string transcript; // of that relay
        bool again = false;     // sent again afterwards, to a relay that works
        // What the user changes at the last Retry besides the relay's port and the facility name.
        std::function<void(TSendDataForm&)> atRetry = {};
        std::string atBox = ""; // the status line at a Retry
    } rows[] = {
        {"unresolvable relay", "[]", [](TSendDataForm& f) { f.Relay = "no-such-host.invalid"; }, {},
         {"エラー/0: サーバーが応答しません", notice, "エラー/0: Null Remote Address", unexpected}, "", ""},
        {"refused connection, Retry", "[]", [](TSendDataForm& f) { f.RelayPort = 1; }, {IDRETRY}, {connectQuestion, thanks},
         "データ送信完了", ""},
        {"refused connection, Retry twice", "[]", [](TSendDataForm& f) { f.RelayPort = 1; }, {IDRETRY, IDRETRY},
         {connectQuestion, connectQuestion, thanks}, "データ送信完了", ""},
        {"refused connection, Retry with the address made incomplete", "[]", [](TSendDataForm& f) { f.RelayPort = 1; },
         {IDRETRY}, {connectQuestion, Title + "/0: " + Incomplete}, "", "", false,
         [](TSendDataForm& f) { f.EMailEdit->SetText("a@b"); }},
        {"refused connection, Cancel", "[]", [](TSendDataForm& f) { f.RelayPort = 1; }, {IDCANCEL},
         {connectQuestion, notice, "エラー/0: Connection Failed", unexpected}, "", "", true},
        {"connection timed out, Cancel", "[]", waiting(1000, 0), {IDCANCEL},
         {connectQuestion, notice, "エラー/0: Connection Timed out", unexpected}, "", ""},
        {"connection cancelled, Cancel", "[]", waiting(10000, 300), {IDCANCEL},
         {connectQuestion, notice, "エラー/0: Connection Canceled", unexpected}, "", ""},
        // Refused once connected: the error path alone, the status line still "connecting".
        {"HELO refused, then sent again", R"([{"on":"HELO","reply":"550 5.7.1 no"}])", nullptr, {},
         {"エラー/0: Authentication failed", unexpected}, "サーバーに接続中です",
         "# session 1|< 220*|> HELO *|< 550 5.7.1 no|> QUIT|< 221*|# closed", true},
        {"\".\" refused, Retry", R"([{"on":".","reply":"554 5.7.1 refused"}])", nullptr, {IDRETRY}, {sendQuestion, thanks},
         "データ送信完了", data + "|< 554 5.7.1 refused|> QUIT|< 221*|# closed"},
        {"\".\" refused, Cancel", R"([{"on":".","reply":"554 5.7.1 refused"}])", nullptr, {IDCANCEL},
         {sendQuestion, notice, "エラー/0: 554 5.7.1 refused\r\n", unexpected}, "", data + "|< 554 5.7.1 refused|> QUIT|< 221*|# closed"},
        {"time-out after \".\"", R"([{"on":".","silent":true}])", [](TSendDataForm& f) { f.NMSMTP1->SetTimeOut(1000); }, {},
         {"エラー/0: Socket readln aborted", unexpected}, "データ送信中です", data + "|# closed"},
        // The error leaves the connection in the middle of a transaction; closed, it lets the
        // next attempt connect.
        // TLS that fails goes the connection-failure way with its reason in the status line,
        // the connection closed: a Retry connects afresh (to a relay that works without TLS).
        {"TLS broken during the mail, Retry", "[]", secure("smtp-flip@window", 10000), {IDRETRY}, {connectQuestion, thanks},
         "データ送信完了", "", false,
         [](TSendDataForm& f) {
             f.Relay = "127.0.0.1";
             f.NMSMTP1->SetSecurity(ssNone);
         },
         "TLS: a record from the server failed its integrity check (altered on the way)"},
        {"TLS handshake timed out, Cancel", "[]", secure("smtp-stall", 1000), {IDCANCEL},
         {connectQuestion, notice, "エラー/0: TLS: the server did not complete the handshake in time", unexpected},
         "TLS: the server did not complete the handshake in time", "", false, {},
         "TLS: the server did not complete the handshake in time"},
        {"RSET refused, then sent again", R"([{"on":"RSET","reply":"451 4.3.0 later"}])", nullptr, {},
         {"エラー/0: 451 4.3.0 later\r\n", unexpected}, "データ送信中です",
         "# session 1|< 220*|> HELO *|< 250*|> RSET|< 451 4.3.0 later|# closed", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        delete SendDataForm;
        Application->CreateForm(SendDataForm);
        TSendDataForm& f = *SendDataForm;
        const auto [works, worksPort] = Peer().Listen("[]");
        const int id = Relay(row.rules);
        if (row.setup) row.setup(f);
        f.Show();
        f.NameEdit->SetText("初回ホテル");
        Boxes.Clear();
        for (int answer : row.answers) Boxes.Answer(answer);
        Boxes.OnBox = [&, worksPort = worksPort](const TMessageBoxRecorder::TBox& Box) {
            if (Box.Answer != IDRETRY) return;
            EXPECT_EQ(Status(), row.atBox);
            if (Boxes.Pending() > 0) return;
            f.RelayPort = worksPort;
            f.NameEdit->SetText("再送ホテル");
            if (row.atRetry) row.atRetry(f);
        };
        f.BitBtn1->Click();
        Boxes.OnBox = nullptr;
        EXPECT_EQ(Shown(Boxes), row.boxes);
        EXPECT_EQ(Status(), row.status);
        // Hidden at the end of every attempt but one stopped by the address check.
        EXPECT_EQ(IsWindowVisible(f.Handle()) != FALSE, row.boxes.back() == Title + "/0: " + Incomplete);
        EXPECT_FALSE(f.Sending() || f.NMSMTP1->Connected());
        EXPECT_TRUE(TranscriptIs(id, row.transcript));
        const bool retried = row.boxes.back() == thanks;
        if (row.again) {
            Boxes.Clear();
            f.RelayPort = worksPort;
            f.Show();
            f.BitBtn1->Click();
            EXPECT_EQ(Shown(Boxes), std::vector<std::string>{thanks});
        }
        // One attempt reached the relay that works, with one block of 15 lines.
        EXPECT_TRUE(TranscriptIs(works, retried || row.again ? Registered() : ""));
        if (retried || row.again) {
            std::vector<std::string> body = EmptyForm();
            body[5] = "施設名 = " + std::string(retried ? "再送ホテル" : "初回ホテル");
            EXPECT_EQ(CheckMail(works, 1, retried ? "再送ホテル" : "初回ホテル", body), "OK");
        }
    }
}

// The waits of an attempt pump the message loop: a press of the send button, and a close by
// the keyboard, arrive during one. The press is ignored; the close hides the window and the
// attempt still sends its lines whole, releasing them at its end.
TEST_F(SendDataWindow, HandlersEnteredDuringAnAttempt)
{
    const struct {
        const char* name;
        UINT message; // posted before the press, at the socket's connect and when sending starts
        bool linesKept;
    } rows[] = {{"send button pressed again", BM_CLICK, true}, {"closed by the keyboard", WM_CLOSE, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        delete SendDataForm;
        Application->CreateForm(SendDataForm);
        TSendDataForm& f = *SendDataForm;
        const int id = Relay(R"([{"on":"greeting","delay":0.3,"reply":"220 slow"},{"on":".","delay":0.3,"reply":"250 queued"}])");
        f.Show();
        f.NameEdit->SetText("ホテル");
        const HWND target = row.message == BM_CLICK ? f.BitBtn1->Handle() : f.Handle();
        int presses = 0;
        const auto click = f.BitBtn1->OnClick;
        f.BitBtn1->OnClick = [&](TObject* Sender) { ++presses, click(Sender); };
        f.NMSMTP1->Socket().OnConnect = [&](TObject*) { PostMessageA(target, row.message, 0, 0); };
        const auto sendStart = f.NMSMTP1->OnSendStart;
        f.NMSMTP1->OnSendStart = [&](TObject* Sender) {
            EXPECT_TRUE(f.Sending());
            PostMessageA(target, row.message, 0, 0);
            sendStart(Sender);
        };
        Boxes.Clear();
        PostMessageA(target, row.message, 0, 0);
        f.BitBtn1->Click();
        Application->ProcessMessages();
        EXPECT_EQ(presses, row.message == BM_CLICK ? 4 : 1);
        EXPECT_EQ(Shown(Boxes), std::vector<std::string>{Title + "/0: " + Thanks});
        EXPECT_FALSE(IsWindowVisible(f.Handle()));
        EXPECT_EQ(f.MailLines != nullptr, row.linesKept);
        EXPECT_TRUE(TranscriptIs(id, Registered()));
        std::vector<std::string> body = EmptyForm();
        body[5] = "施設名 = ホテル";
        EXPECT_EQ(CheckMail(id, 1, "ホテル", body), "OK");
    }
}

} // namespace
