// The registration window in process, under Wine: its layout, the keyboard's way through it with
// the input method per box, the title put into its text, and the registration sent to the SMTP
// peer (aiosmtpd on loopback) with its boxes read and answered through the message-box seam; the
// mails the peer received are decoded by Python's email package.
#include <gtest/gtest.h>

#include "toolkit/win/Win.h"

#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/win/Application.h"
#include "MessageBoxRecorder.h"
#include "mail/Senddata.h"
#include "SmtpPeer.h"

namespace {

const std::string Title = "doduza　領収書発行セットアップ";
const std::string Product = "デスクトップdoduza";
const std::string Incomplete = "メールアドレスが不完全です　再入力して下さい";
const std::string Label1Text = "TITLE をお買い求めいただきまして誠にありがとうございました　"
                               "今後のサポートをご希望の方は以下の項目にご入力下さい";
const std::string Thanks = "御協力ありがとうございました！";

// One registration as the relay sees it, in session N of a listener.
std::string Registered(int N = 1)
{
    return "# session " + std::to_string(N) + "|< 220*|> HELO " + RegistrationConfig::HeloDomain + "|< 250*|> RSET|< 250*|" +
           "> MAIL FROM:<" + RegistrationConfig::Sender + ">|< 250*|> RCPT TO:<" + RegistrationConfig::Registration +
           ">|< 250*|> DATA|< 354*|= mail-1 * bytes|> .|< 250*|> QUIT|< 221*|# closed";
}

// The installer's start-up: a main window first (the setup window's place), then this window.
class SendDataWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Peer().Connected()) << "no SMTP peer: SMTP_PEER_DIR=" << Peer().Folder;
        Application->SetTitle(Title);
        Application->CreateForm(Main);
        Main->SetBounds(300, 400, 465, 229);
        Application->CreateForm(SendDataForm);
        Relay("[]");
    }
    void TearDown() override
    {
        delete SendDataForm;
        SendDataForm = nullptr;
        delete Main;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    // A click or a key as the user's arrives: the button changes its own state, then notifies;
    // the key goes to the focused window through the dialog keys.
    static void Press(TWinControl* Button) { SendMessageA(Button->Handle(), BM_CLICK, 0, 0); }
    static void Key(WPARAM VirtualKey)
    {
        PostMessageA(GetFocus(), WM_KEYDOWN, VirtualKey, 0);
        Application->ProcessMessages();
    }
    static std::vector<std::string> Lines()
    {
        std::vector<std::string> lines;
        for (int i = 0; i < SendDataForm->MailLines->Count(); ++i) lines.push_back((*SendDataForm->MailLines)[i]);
        return lines;
    }

    // A listener of the peer answering as Rules say, and the window sending to it: its id.
    static int Relay(const std::string& Rules)
    {
        const auto [id, port] = Peer().Listen(Rules);
        SendDataForm->Relay = "127.0.0.1";
        SendDataForm->RelayPort = port;
        return id;
    }
    // The status line as the status bar shows it.
    static std::string Status()
    {
        char text[128] = "?";
        SendMessageA(SendDataForm->StatusBar1->Handle(), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
        return text;
    }

    TForm* Main = nullptr;
    TMessageBoxRecorder Boxes;
};

// The user's short date set to Picture while it lives (Wine keeps it in the prefix's registry).
class TShortDateFormat {
public:
    explicit TShortDateFormat(const char* Picture)
    {
        GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, FSaved, sizeof FSaved);
        EXPECT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, Picture)) << Picture;
    }
    ~TShortDateFormat() { SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, FSaved); }
    TShortDateFormat(const TShortDateFormat&) = delete;
    TShortDateFormat& operator=(const TShortDateFormat&) = delete;

private:
    char FSaved[80] = {};
};

// ---------------------------------------------------------------------------------------------

TEST_F(SendDataWindow, LayoutTable)
{
    TSendDataForm& f = *SendDataForm;
    constexpr COLORREF none = CLR_INVALID, teal = RGB(0, 128, 128), white = RGB(255, 255, 255);
    const COLORREF ink = GetSysColor(COLOR_WINDOWTEXT), paper = GetSysColor(COLOR_WINDOW), face = GetSysColor(COLOR_BTNFACE);
    const char *const pgothic = "ＭＳ Ｐゴシック", *const ui = "MS UI Gothic";
    // The window class (null: a windowless label), the place in the parent, the text, the font,
    // the colours the control is painted in (none: not looked at) and the Tab stop.
    const struct {
        TControl* control;
        TWinControl* parent;
        const char* cls;
        int left, top, width, height;
        std::string text;
        const char* font;
        int fontHeight;
        bool bold;
        COLORREF ink, paper;
        bool tabStop;
    } rows[] = {
        {f.Panel2, &f, "TPanel", 8, 4, 349, 201, "", pgothic, 12, false, none, face, false},
        {f.Label1, f.Panel2, nullptr, 10, 18, 330, 43, Label1Text, ui, 13, false, ink, none, false},
        {f.Label3, f.Panel2, nullptr, 10, 67, 330, 42,
         "ご入力頂いた個人データは　Ruviva Co.,Ltd.がサポートをするために必要なもので　他の目的には一切使用いたしません　"
         "ご入力はあくまでも任意で結構です", ui, 13, false, ink, none, false},
        {f.Label4, f.Panel2, nullptr, 10, 119, 330, 39,
         "ただしEMailアドレスのご記入がない　もしくは正確でない場合は　トラブル等があった場合にサポートすることが出来ませんので"
         "　その点はご了承下さい　", ui, 13, false, ink, none, false},
        {f.Label2, f.Panel2, nullptr, 10, 171, 330, 18, "何も入力されていない場合は　空のデータを送信いたします", ui, 13, true,
         RGB(0, 0, 255), none, false},
        {f.Edit3, &f, "Edit", 8, 210, 68, 23, "施設名", ui, 15, false, white, teal, false},
        {f.NameEdit, &f, "Edit", 78, 210, 280, 23, "", ui, 15, false, ink, paper, true},
        {f.Edit1, &f, "Edit", 8, 234, 68, 23, "管理者", ui, 15, false, white, teal, false},
        {f.AdminEdit, &f, "Edit", 78, 234, 280, 23, "", ui, 15, false, ink, paper, true},
        {f.Edit4, &f, "Edit", 8, 258, 68, 23, "E-Mail", ui, 15, false, white, teal, false},
        {f.EMailEdit, &f, "Edit", 78, 258, 280, 23, "", ui, 15, false, ink, paper, true},
        {f.Edit5, &f, "Edit", 8, 282, 68, 23, "性別", ui, 15, false, white, teal, false},
        {f.Panel1, &f, "TPanel", 78, 284, 280, 19, "", pgothic, 12, false, none, face, false},
        {f.RadioButton1, f.Panel1, "Button", 10, 2, 59, 17, "男性", pgothic, 12, false, ink, face, true},
        {f.RadioButton2, f.Panel1, "Button", 80, 2, 69, 17, "女性", pgothic, 12, false, ink, face, false},
        {f.Edit7, &f, "Edit", 8, 306, 68, 23, "年齢", ui, 15, false, white, teal, false},
        {f.ComboBox1, &f, "ComboBox", 78, 306, 280, 23, "", pgothic, 15, false, none, none, true},
        {f.CheckBox1, &f, "Button", 64, 338, 253, 17, "Ruviva Co.,Ltd.からのお知らせメールを拒否する", pgothic, 12, false, ink, face, true},
        {f.BitBtn1, &f, "Button", 134, 362, 109, 33, "送信", pgothic, 12, false, none, none, true},
        {f.StatusBar1, &f, STATUSCLASSNAMEA, 0, 410, 368, 19, "", pgothic, 12, false, none, none, false},
    };
    for (const auto& row : rows) {
        const std::string at = row.text + "@" + std::to_string(row.left) + "," + std::to_string(row.top);
        TControl& c = *row.control;
        EXPECT_EQ(c.Parent(), row.parent) << at;
        EXPECT_EQ(c.Font().Name, row.font) << at;
        EXPECT_EQ(c.Font().Height, row.fontHeight) << at;
        EXPECT_EQ(c.Font().Bold, row.bold) << at;
        auto* windowed = dynamic_cast<TWinControl*>(row.control);
        ASSERT_EQ(windowed == nullptr, row.cls == nullptr) << at;
        if (windowed == nullptr) {
            EXPECT_EQ((std::vector<int>{c.Left(), c.Top(), c.Width(), c.Height()}),
                      (std::vector<int>{row.left, row.top, row.width, row.height})) << at;
            EXPECT_EQ(c.Caption(), row.text) << at;
            EXPECT_EQ(ColorToRGB(c.Font().Color), row.ink) << at;
            continue;
        }
        // The window as the system has it.
        const HWND window = windowed->Handle();
        char text[256] = {};
        GetClassNameA(window, text, sizeof text);
        EXPECT_STRCASEEQ(text, row.cls) << at;
        EXPECT_EQ(GetParent(window), row.parent->Handle()) << at;
        RECT r;
        GetWindowRect(window, &r);
        MapWindowPoints(nullptr, row.parent->Handle(), reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right - r.left, r.bottom - r.top}), // a combo box closed
                  (std::vector<LONG>{row.left, row.top, row.width, row.height})) << at;
        GetWindowTextA(window, text, sizeof text);
        EXPECT_EQ(text, row.text) << at;
        EXPECT_EQ((GetWindowLongPtrA(window, GWL_STYLE) & WS_TABSTOP) != 0, row.tabStop) << at;
        const bool panel = std::string(row.cls) == "TPanel";
        if (!panel) { // a panel only hands its font on
            LOGFONTA font{};
            GetObjectA(reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)), sizeof font, &font);
            EXPECT_STREQ(font.lfFaceName, row.font) << at;
            EXPECT_EQ(font.lfHeight, -row.fontHeight) << at;
            EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET) << at;
        }
        if (row.paper == none) continue;
        // The colours it paints in: a panel its own background; a control what its parent hands
        // out (read-only edit boxes, check boxes and radio buttons ask as static controls).
        const TWindowDC screen(nullptr);
        const TMemoryDC dc(CreateCompatibleDC(screen.Get()));
        const TBitmapHandle bitmap(CreateCompatibleBitmap(screen.Get(), row.width, row.height));
        const TSelectedObject selected(dc.Get(), bitmap.Get());
        if (panel) {
            SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc.Get()), 0);
            EXPECT_EQ(GetPixel(dc.Get(), row.width / 2, row.height / 2), row.paper) << at;
            continue;
        }
        const bool editable = row.cls == std::string("Edit") && !(GetWindowLongPtrA(window, GWL_STYLE) & ES_READONLY);
        auto* brush = reinterpret_cast<HBRUSH>(SendMessageA(row.parent->Handle(), editable ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC,
                                                            reinterpret_cast<WPARAM>(dc.Get()), reinterpret_cast<LPARAM>(window)));
        LOGBRUSH fill{};
        ASSERT_TRUE(GetObjectA(brush, sizeof fill, &fill)) << at;
        EXPECT_EQ(fill.lbColor, row.paper) << at;
        EXPECT_EQ(GetTextColor(dc.Get()), row.ink) << at;
    }
}

TEST_F(SendDataWindow, FrameAndStartingState)
{
    TSendDataForm& f = *SendDataForm;
    EXPECT_EQ(f.Caption(), "送信");
    EXPECT_EQ(f.ClientWidth(), 368);
    EXPECT_EQ(f.ClientHeight(), 429);
    EXPECT_EQ(GetWindowLongPtrA(f.Handle(), GWL_STYLE) & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
              WS_CAPTION);
    EXPECT_EQ(GetWindowLongPtrA(f.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);
    EXPECT_EQ(f.Font().Name + "/" + std::to_string(f.Font().Height), "ＭＳ Ｐゴシック/12");
    EXPECT_FALSE(IsWindowVisible(f.Handle())); // created hidden
    EXPECT_EQ(f.TitleText, "");
    ASSERT_NE(f.MailLines, nullptr);
    EXPECT_EQ(f.MailLines->Count(), 0);
    std::vector<std::string> items;
    for (int i = 0; i < f.ComboBox1->ItemCount(); ++i) items.push_back(f.ComboBox1->Item(i));
    EXPECT_EQ(items, (std::vector<std::string>{"１０代", "２０代", "３０代", "４０代", "５０代", "６０代以上", "１０代以下"}));
    EXPECT_EQ(f.ComboBox1->ItemIndex(), -1);
    EXPECT_EQ((std::vector<bool>{f.RadioButton1->Checked(), f.RadioButton2->Checked(), f.CheckBox1->Checked()}),
              (std::vector<bool>{true, false, false}));
    EXPECT_EQ(f.DefaultButton(), f.BitBtn1);
    EXPECT_EQ(f.BitBtn1->Kind(), TBitBtnKind::bkOK);
    EXPECT_EQ(f.BitBtn1->ModalResult(), mrOk);
    EXPECT_TRUE(SendMessageA(f.StatusBar1->Handle(), SB_ISSIMPLE, 0, 0));
    for (TEdit* caption : {f.Edit3, f.Edit1, f.Edit4, f.Edit5, f.Edit7}) {
        EXPECT_TRUE(caption->ReadOnly() && (GetWindowLongPtrA(caption->Handle(), GWL_STYLE) & ES_READONLY)) << caption->Text();
    }
    // Shown, it stands centred on the main window (its owner, the application, is no form).
    Main->Show();
    f.Show();
    RECT over, shown;
    GetWindowRect(Main->Handle(), &over);
    GetWindowRect(f.Handle(), &shown);
    EXPECT_NEAR(shown.left + shown.right, over.left + over.right, 1);
    EXPECT_NEAR(shown.top + shown.bottom, over.top + over.bottom, 1);
    EXPECT_EQ(GetFocus(), f.NameEdit->Handle());
}

TEST_F(SendDataWindow, TabVisitsTheBoxesInOrderAndSwitchesTheInputMethod)
{
    TSendDataForm& f = *SendDataForm;
    f.Show();
    ASSERT_TRUE(TInputContext(f.NameEdit->Handle())) << "no input context under this Wine";
    const auto focused = [](TWinControl* Control) { // a combo box has the focus in its edit part
        return GetFocus() == Control->Handle() || IsChild(Control->Handle(), GetFocus());
    };
    const auto imeOpen = [] {
        const TInputContext context(GetFocus());
        return context && ImmGetOpenStatus(context.Get()) != FALSE;
    };
    enum { off, on, any };
    const struct {
        TWinControl* control;
        int ime;
    } steps[] = {{f.AdminEdit, on},  {f.EMailEdit, off},   {f.ComboBox1, any}, {f.CheckBox1, any}, {f.BitBtn1, any},
                 {f.RadioButton1, any}, {f.NameEdit, on}, {f.AdminEdit, on},  {f.EMailEdit, off}};
    ASSERT_TRUE(focused(f.NameEdit));
    EXPECT_TRUE(imeOpen());
    for (const auto& step : steps) {
        Key(VK_TAB);
        EXPECT_TRUE(focused(step.control)) << step.control->Caption();
        if (step.ime != any) {
            EXPECT_EQ(imeOpen(), step.ime == on) << step.control->Caption();
        }
    }
    // The radio group is one stop, at the button chosen.
    Press(f.RadioButton2);
    f.BitBtn1->SetFocus();
    Key(VK_TAB);
    EXPECT_TRUE(focused(f.RadioButton2));
    Key(VK_TAB);
    EXPECT_TRUE(focused(f.NameEdit));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(SendDataWindow, ShowingPutsTheTitleInOnceAndClearsTheStatusLine)
{
    const std::string rest = Label1Text.substr(5); // after "TITLE"
    const struct {
        std::vector<std::string> titles; // TitleText at each showing
        std::string caption;             // Label1 after the last
    } cases[] = {
        {{Product}, Product + rest},
        {{Product, Product}, Product + rest},  // the second showing leaves it
        {{Product, "別の題"}, Product + rest}, // no "TITLE" left to replace
        {{"", Product}, rest},                 // replaced by nothing, then nothing to replace
        {{"TITLE"}, Label1Text},               // already contained
        {{"doduza", Product}, "doduza" + rest},
    };
    for (const auto& c : cases) {
        SendDataForm->Label1->SetCaption(Label1Text);
        for (const std::string& title : c.titles) {
            SendDataForm->StatusBar1->SetSimpleText("データ送信完了");
            SendDataForm->TitleText = title;
            SendDataForm->Show();
            char shown[64] = "?";
            SendMessageA(SendDataForm->StatusBar1->Handle(), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(shown));
            EXPECT_STREQ(shown, "");
            SendDataForm->Hide();
        }
        EXPECT_EQ(SendDataForm->Label1->Caption(), c.caption) << c.titles.back();
    }
}

TEST_F(SendDataWindow, AddressCheckTable)
{
    TSendDataForm& f = *SendDataForm;
    const int id = Relay("[]");
    const struct {
        std::string address;
        bool refused, byEnter; // pressed with the mouse, or by Enter in the address box
    } cases[] = {{"", false, false},       {"b.c@a", false, true},     {"@.", false, false}, {"a@b", true, false},
                 {"a.b", true, true},      {"ａ＠ｂ．ｃ", true, false}, {"ァ.", true, false}};
    std::string sessions;
    int sent = 0;
    for (const auto& c : cases) {
        Boxes.Clear();
        f.Show();
        f.MailLines->Clear();
        f.MailLines->Add("the last block");
        f.StatusBar1->SetSimpleText("unchanged");
        f.EMailEdit->SetText(c.address);
        if (c.byEnter) {
            f.EMailEdit->SetFocus();
            Key(VK_RETURN);
        } else {
            f.BitBtn1->Click();
        }
        EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{c.refused ? Incomplete : Thanks}) << c.address;
        EXPECT_EQ(Boxes[0].Caption + "/" + std::to_string(Boxes[0].Flags), Title + "/0");
        if (c.refused) {
            EXPECT_EQ(Lines(), std::vector<std::string>{"the last block"}) << c.address;
            EXPECT_EQ(Status(), "unchanged");
        } else {
            sessions = Joined({sessions, Registered(++sent)});
            ASSERT_EQ(f.MailLines->Count(), 15) << c.address;
            EXPECT_EQ((*f.MailLines)[11], "e-mail = " + c.address);
            EXPECT_EQ(Status(), "データ送信完了");
        }
        EXPECT_EQ(IsWindowVisible(f.Handle()) != FALSE, c.refused) << c.address; // hidden after the thanks
        EXPECT_EQ(f.EMailEdit->Text(), c.address);
        EXPECT_EQ(f.ModalResult(), mrOk); // the OK kind's result, for a caller showing it modally
    }
    EXPECT_TRUE(TranscriptIs(id, sessions)); // nothing was sent for a refused address
}

TEST_F(SendDataWindow, BodyComposedFromTheControlsAndTheUsersShortDate)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    char ymd[32], dmy[32], kanji[64];
    std::snprintf(ymd, sizeof ymd, "%04d/%02d/%02d", t.wYear, t.wMonth, t.wDay);
    std::snprintf(dmy, sizeof dmy, "%d.%d.%04d", t.wDay, t.wMonth, t.wYear);
    std::snprintf(kanji, sizeof kanji, "%04d年%d月%d日", t.wYear, t.wMonth, t.wDay);
    const struct {
        const char* picture;
        std::function<void(TSendDataForm&)> fill;
        TRegistrationEntry entry; // what the controls hold
    } cases[] = {
        {"yyyy/MM/dd", [](TSendDataForm&) {}, {ymd, "", "", "", false, "男性", ""}},
        {"d.M.yyyy",
         [](TSendDataForm& f) {
             f.NameEdit->SetText("ホテル表参道ソ能");
             f.AdminEdit->SetText("山田　太郎");
             f.EMailEdit->SetText("taro@example.jp");
             Press(f.RadioButton2);
             f.ComboBox1->SetItemIndex(5);
             Press(f.CheckBox1);
         },
         {dmy, "ホテル表参道ソ能", "山田　太郎", "taro@example.jp", true, "女性", "６０代以上"}},
        {"yyyy'年'M'月'd'日'",
         [](TSendDataForm& f) {
             f.NameEdit->SetText("   ");
             f.ComboBox1->SetItemIndex(6);
         },
         {kanji, "   ", "", "", false, "男性", "１０代以下"}},
    };
    for (const auto& c : cases) {
        const TShortDateFormat format(c.picture);
        delete SendDataForm; // the controls as the user finds them
        Application->CreateForm(SendDataForm);
        Relay("[]");
        c.fill(*SendDataForm);
        Boxes.Clear();
        SendDataForm->BitBtn1->Click();
        SendDataForm->BitBtn1->Click(); // composed afresh, not appended
        EXPECT_EQ(Boxes.Texts(), (std::vector<std::string>{Thanks, Thanks})) << c.picture;
        EXPECT_EQ(Lines(), RegistrationBody(c.entry)) << c.picture;
        EXPECT_EQ(Lines().at(2), "お申込日 = " + c.entry.Date);
    }
    EXPECT_EQ(Lines().at(5), "施設名 =    ");
}

TEST_F(SendDataWindow, TextTypedIntoTheComboBoxIsNoAgeBracket)
{
    TSendDataForm& f = *SendDataForm;
    f.Show();
    f.ComboBox1->SetFocus();
    for (char c : std::string("20s")) PostMessageA(GetFocus(), WM_CHAR, static_cast<WPARAM>(c), 0);
    Application->ProcessMessages();
    EXPECT_EQ(f.ComboBox1->Text(), "20s");
    // Typed with the keys, the very text of an item set into the edit part, nothing, an item chosen.
    const struct {
        const char* text;
        int choose;
        std::string line;
    } cases[] = {{nullptr, -1, "年齢 ="}, {"２０代", -1, "年齢 ="}, {"", -1, "年齢 ="}, {nullptr, 1, "年齢 =２０代"}};
    for (const auto& c : cases) {
        if (c.text != nullptr) f.ComboBox1->SetText(c.text);
        if (c.choose >= 0) f.ComboBox1->SetItemIndex(c.choose);
        f.BitBtn1->Click();
        EXPECT_EQ(Lines().at(14), c.line) << (c.text != nullptr ? c.text : "keys");
    }
}

TEST_F(SendDataWindow, ClosingReleasesTheLinesAndHides)
{
    TSendDataForm& f = *SendDataForm;
    Main->Show();
    f.Show();
    TCloseAction seen = TCloseAction::caNone;
    const auto formClose = f.OnClose;
    f.OnClose = [&](TObject* Sender, TCloseAction& Action) {
        formClose(Sender, Action);
        seen = Action;
    };
    SendMessageA(f.Handle(), WM_CLOSE, 0, 0); // as the keyboard closes it
    EXPECT_EQ(seen, TCloseAction::caHide);
    EXPECT_EQ(f.MailLines, nullptr);
    EXPECT_FALSE(IsWindowVisible(f.Handle()));
    EXPECT_TRUE(IsWindowVisible(Main->Handle())); // not the main window: the program goes on
    EXPECT_FALSE(Application->Terminated());
    // Shown again after all, the send button composes into a list of its own.
    f.Show();
    f.BitBtn1->Click();
    ASSERT_NE(f.MailLines, nullptr);
    EXPECT_EQ(f.MailLines->Count(), 15);
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{Thanks});
}

// ---------------------------------------------------------------------------------------------
// Sending.

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
    EXPECT_TRUE(!c.TPowersock::OnConnect && !c.OnAuthenticationFailed && !c.OnHeaderIncomplete && !c.OnRecipientNotFound);
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
         [](TSendDataForm& f) {
             f.NameEdit->SetText("ホテル表参道ソ能");
             f.AdminEdit->SetText("山田　太郎");
             f.EMailEdit->SetText("taro@example.jp");
             Press(f.RadioButton2);
             f.ComboBox1->SetItemIndex(5);
             Press(f.CheckBox1);
         },
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
        f.NMSMTP1->TPowersock::OnConnect = [&](TObject*) { statuses.push_back(Status()); };
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
    const struct {
        const char* name;
        const char* rules; // of the relay the window is pointed at first
        std::function<void(TSendDataForm&)> setup;
        std::vector<int> answers; // to the first boxes
        std::vector<std::string> boxes;
        std::string status;     // the status line at the end
        std::string transcript; // of that relay
        bool again = false;     // sent again afterwards, to a relay that works
        std::function<void(TSendDataForm&)> atRetry = {}; // what the user changes at the last Retry
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
        {"\".\" refused, Retry", R"([{"on":".","reply":"554 5.7.1 refused"}])", nullptr, {IDRETRY}, {sendQuestion, thanks},
         "データ送信完了", data + "|< 554 5.7.1 refused|> QUIT|< 221*|# closed"},
        {"\".\" refused, Cancel", R"([{"on":".","reply":"554 5.7.1 refused"}])", nullptr, {IDCANCEL},
         {sendQuestion, notice, "エラー/0: 554 5.7.1 refused\r\n", unexpected}, "", data + "|< 554 5.7.1 refused|> QUIT|< 221*|# closed"},
        {"time-out after \".\"", R"([{"on":".","silent":true}])", [](TSendDataForm& f) { f.NMSMTP1->SetTimeOut(1000); }, {},
         {"エラー/0: Socket readln aborted", unexpected}, "データ送信中です", data + "|# closed"},
        // The error leaves the connection in the middle of a transaction; closed, it lets the
        // next attempt connect.
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
            EXPECT_EQ(Status(), "");
            if (Boxes.Pending() > 0) return;
            if (row.atRetry) {
                row.atRetry(f);
            } else {
                f.RelayPort = worksPort;
                f.NameEdit->SetText("再送ホテル");
            }
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
        f.NMSMTP1->TPowersock::OnConnect = [&](TObject*) { PostMessageA(target, row.message, 0, 0); };
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
