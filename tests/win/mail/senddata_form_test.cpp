// The registration window in process, under Wine, before anything is sent: its layout, the
// keyboard's way through it with the input method per box, the title put into its text, the
// address check and the body composed from its controls and the user's short date.
#include "SendDataTest.h"

namespace {

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
         FillJapanese,
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

} // namespace
