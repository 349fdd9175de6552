// The registration window in process, under Wine: its layout, the keyboard's way through it with
// the input method per box, the title put into its text, and the composing of the mail body
// through the message-box seam.
#include <gtest/gtest.h>

#include "Win.h"

#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Application.h"
#include "MessageBoxRecorder.h"
#include "Senddata.h"

namespace {

const std::string Title = "doduza　領収書発行セットアップ";
const std::string Product = "デスクトップdoduza";
const std::string Label1Text = "TITLE をお買い求めいただきまして誠にありがとうございました　"
                               "今後のサポートをご希望の方は以下の項目にご入力下さい";

// The installer's start-up: a main window first (the setup window's place), then this window.
class SendDataWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application->SetTitle(Title);
        Application->CreateForm(MainStandIn);
        MainStandIn->SetBounds(300, 400, 465, 229);
        Application->CreateForm(SendDataForm);
    }
    void TearDown() override
    {
        delete SendDataForm;
        SendDataForm = nullptr;
        delete MainStandIn;
        MainStandIn = nullptr;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    // A click as the user's: the button changes its own state, then notifies.
    static void Press(TWinControl* Button) { SendMessageA(Button->Handle(), BM_CLICK, 0, 0); }
    // A key as the user's arrives: posted to the focused window, through the dialog keys.
    static void Key(WPARAM VirtualKey)
    {
        PostMessageA(GetFocus(), WM_KEYDOWN, VirtualKey, 0);
        Application->ProcessMessages();
    }
    static std::vector<std::string> Lines(const TStringList& List)
    {
        std::vector<std::string> lines;
        for (int i = 0; i < List.Count(); ++i) lines.push_back(List[i]);
        return lines;
    }

    TForm* MainStandIn = nullptr;
    TMessageBoxRecorder Boxes;
};

// The user's short date set to Picture while it lives (Wine keeps it in the prefix's registry).
class TShortDateFormat {
public:
    explicit TShortDateFormat(const std::string& Picture)
    {
        char saved[80] = {};
        GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved, sizeof saved);
        FSaved = saved;
        Set(Picture);
    }
    ~TShortDateFormat() { Set(FSaved); }
    TShortDateFormat(const TShortDateFormat&) = delete;
    TShortDateFormat& operator=(const TShortDateFormat&) = delete;

private:
    static void Set(const std::string& Picture)
    {
        if (!SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, Picture.c_str())) {
            ADD_FAILURE() << "the short date format cannot be set to " << Picture;
        }
    }
    std::string FSaved;
};

std::string Printed(const char* Format, int A, int B, int C)
{
    char text[64];
    std::snprintf(text, sizeof text, Format, A, B, C);
    return text;
}

// ---------------------------------------------------------------------------------------------
// The window as laid out

LOGFONTA FontOf(HWND Window)
{
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Window, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

TEST_F(SendDataWindow, LayoutTable)
{
    TSendDataForm& f = *SendDataForm;
    constexpr COLORREF none = CLR_INVALID;
    const COLORREF black = GetSysColor(COLOR_WINDOWTEXT), white = GetSysColor(COLOR_WINDOW), face = GetSysColor(COLOR_BTNFACE);
    const struct {
        TControl* control;
        TWinControl* parent;
        const char* cls; // window class; null for a windowless label
        int left, top, width, height;
        std::string text;
        const char* font;
        int fontHeight;
        bool bold;
        COLORREF ink, paper; // text and background as the control is painted (none: not looked at)
        bool tabStop;
    } rows[] = {
        {f.Panel2, &f, "TPanel", 8, 4, 349, 201, "", "ＭＳ Ｐゴシック", 12, false, none, face, false},
        {f.Label1, f.Panel2, nullptr, 10, 18, 330, 43, Label1Text, "MS UI Gothic", 13, false, black, none, false},
        {f.Label3, f.Panel2, nullptr, 10, 67, 330, 42,
         "ご入力頂いた個人データは　Ruviva Co.,Ltd.がサポートをするために必要なもので　他の目的には一切使用いたしません　"
         "ご入力はあくまでも任意で結構です",
         "MS UI Gothic", 13, false, black, none, false},
        {f.Label4, f.Panel2, nullptr, 10, 119, 330, 39,
         "ただしEMailアドレスのご記入がない　もしくは正確でない場合は　トラブル等があった場合にサポートすることが出来ませんので"
         "　その点はご了承下さい　",
         "MS UI Gothic", 13, false, black, none, false},
        {f.Label2, f.Panel2, nullptr, 10, 171, 330, 18, "何も入力されていない場合は　空のデータを送信いたします", "MS UI Gothic", 13, true,
         RGB(0, 0, 255), none, false},
        {f.Edit3, &f, "Edit", 8, 210, 68, 23, "施設名", "MS UI Gothic", 15, false, RGB(255, 255, 255), RGB(0, 128, 128), false},
        {f.NameEdit, &f, "Edit", 78, 210, 280, 23, "", "MS UI Gothic", 15, false, black, white, true},
        {f.Edit1, &f, "Edit", 8, 234, 68, 23, "管理者", "MS UI Gothic", 15, false, RGB(255, 255, 255), RGB(0, 128, 128), false},
        {f.AdminEdit, &f, "Edit", 78, 234, 280, 23, "", "MS UI Gothic", 15, false, black, white, true},
        {f.Edit4, &f, "Edit", 8, 258, 68, 23, "E-Mail", "MS UI Gothic", 15, false, RGB(255, 255, 255), RGB(0, 128, 128), false},
        {f.EMailEdit, &f, "Edit", 78, 258, 280, 23, "", "MS UI Gothic", 15, false, black, white, true},
        {f.Edit5, &f, "Edit", 8, 282, 68, 23, "性別", "MS UI Gothic", 15, false, RGB(255, 255, 255), RGB(0, 128, 128), false},
        {f.Panel1, &f, "TPanel", 78, 284, 280, 19, "", "ＭＳ Ｐゴシック", 12, false, none, face, false},
        {f.RadioButton1, f.Panel1, "Button", 10, 2, 59, 17, "男性", "ＭＳ Ｐゴシック", 12, false, black, face, true},
        {f.RadioButton2, f.Panel1, "Button", 80, 2, 69, 17, "女性", "ＭＳ Ｐゴシック", 12, false, black, face, false},
        {f.Edit7, &f, "Edit", 8, 306, 68, 23, "年齢", "MS UI Gothic", 15, false, RGB(255, 255, 255), RGB(0, 128, 128), false},
        {f.ComboBox1, &f, "ComboBox", 78, 306, 280, 23, "", "ＭＳ Ｐゴシック", 15, false, none, none, true},
        {f.CheckBox1, &f, "Button", 64, 338, 253, 17, "Ruviva Co.,Ltd.からのお知らせメールを拒否する", "ＭＳ Ｐゴシック", 12, false, black,
         face, true},
        {f.BitBtn1, &f, "Button", 134, 362, 109, 33, "送信", "ＭＳ Ｐゴシック", 12, false, none, none, true},
        {f.StatusBar1, &f, STATUSCLASSNAMEA, 0, 410, 368, 19, "", "ＭＳ Ｐゴシック", 12, false, none, none, false},
    };
    for (const auto& row : rows) {
        const std::string at = row.text.empty() ? std::to_string(row.left) + "," + std::to_string(row.top) : row.text;
        EXPECT_EQ(row.control->Parent(), row.parent) << at;
        EXPECT_EQ(row.control->Font().Name, row.font) << at;
        EXPECT_EQ(row.control->Font().Height, row.fontHeight) << at;
        EXPECT_EQ(row.control->Font().Bold, row.bold) << at;
        auto* windowed = dynamic_cast<TWinControl*>(row.control);
        if (row.cls == nullptr) {
            ASSERT_EQ(windowed, nullptr) << at;
            EXPECT_EQ(row.control->Left(), row.left) << at;
            EXPECT_EQ(row.control->Top(), row.top) << at;
            EXPECT_EQ(row.control->Width(), row.width) << at;
            EXPECT_EQ(row.control->Height(), row.height) << at;
            EXPECT_EQ(row.control->Caption(), row.text) << at;
            EXPECT_EQ(ColorToRGB(row.control->Font().Color), row.ink) << at;
            continue;
        }
        ASSERT_NE(windowed, nullptr) << at;
        const HWND window = windowed->Handle();
        char cls[64] = {};
        GetClassNameA(window, cls, sizeof cls);
        EXPECT_STRCASEEQ(cls, row.cls) << at;
        EXPECT_EQ(GetParent(window), row.parent->Handle()) << at;
        RECT r;
        GetWindowRect(window, &r);
        MapWindowPoints(nullptr, row.parent->Handle(), reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, row.left) << at;
        EXPECT_EQ(r.top, row.top) << at;
        EXPECT_EQ(r.right - r.left, row.width) << at;
        EXPECT_EQ(r.bottom - r.top, row.height) << at; // a combo box closed
        char text[256] = {};
        GetWindowTextA(window, text, sizeof text);
        EXPECT_EQ(text, row.text) << at;
        if (std::string(row.cls) != "TPanel") { // a panel hands its font to its controls only
            const LOGFONTA font = FontOf(window);
            EXPECT_STREQ(font.lfFaceName, row.font) << at;
            EXPECT_EQ(font.lfHeight, -row.fontHeight) << at;
            EXPECT_EQ(font.lfWeight >= FW_BOLD, row.bold) << at;
            EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET) << at;
        }
        EXPECT_EQ((GetWindowLongPtrA(window, GWL_STYLE) & WS_TABSTOP) != 0, row.tabStop) << at;
        if (row.paper != none) {
            // The colours the parent hands out when the control paints (read-only edit boxes,
            // check boxes and radio buttons ask as static controls; panels paint their own).
            const TWindowDC screen(nullptr);
            const TMemoryDC dc(CreateCompatibleDC(screen.Get()));
            if (std::string(row.cls) == "TPanel") {
                const TBitmapHandle bitmap(CreateCompatibleBitmap(screen.Get(), row.width, row.height));
                const TSelectedObject selected(dc.Get(), bitmap.Get());
                SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc.Get()), 0);
                EXPECT_EQ(GetPixel(dc.Get(), row.width / 2, row.height / 2), row.paper) << at;
                continue;
            }
            const bool editable = std::string(row.cls) == "Edit" && !(GetWindowLongPtrA(window, GWL_STYLE) & ES_READONLY);
            auto* brush = reinterpret_cast<HBRUSH>(SendMessageA(row.parent->Handle(), editable ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC,
                                                          reinterpret_cast<WPARAM>(dc.Get()), reinterpret_cast<LPARAM>(window)));
            ASSERT_NE(brush, nullptr) << at;
            LOGBRUSH paint{};
            GetObjectA(brush, sizeof paint, &paint);
            EXPECT_EQ(paint.lbColor, row.paper) << at;
            EXPECT_EQ(GetTextColor(dc.Get()), row.ink) << at;
        }
    }
}

TEST_F(SendDataWindow, FrameAndStartingState)
{
    TSendDataForm& f = *SendDataForm;
    EXPECT_EQ(f.Caption(), "送信");
    EXPECT_EQ(f.ClientWidth(), 368);
    EXPECT_EQ(f.ClientHeight(), 429);
    const LONG_PTR style = GetWindowLongPtrA(f.Handle(), GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_EQ(GetWindowLongPtrA(f.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);
    EXPECT_EQ(f.Font().Height, 12);
    EXPECT_EQ(f.Font().Name, "ＭＳ Ｐゴシック");
    EXPECT_FALSE(IsWindowVisible(f.Handle())); // created hidden
    EXPECT_EQ(f.TitleText, "");
    ASSERT_NE(f.MailLines, nullptr);
    EXPECT_EQ(f.MailLines->Count(), 0);

    std::vector<std::string> items;
    for (int i = 0; i < f.ComboBox1->ItemCount(); ++i) items.push_back(f.ComboBox1->Item(i));
    EXPECT_EQ(items, (std::vector<std::string>{"１０代", "２０代", "３０代", "４０代", "５０代", "６０代以上", "１０代以下"}));
    EXPECT_EQ(f.ComboBox1->ItemIndex(), -1);
    EXPECT_TRUE(f.RadioButton1->Checked());
    EXPECT_FALSE(f.RadioButton2->Checked());
    EXPECT_FALSE(f.CheckBox1->Checked());
    EXPECT_EQ(f.DefaultButton(), f.BitBtn1);
    EXPECT_EQ(f.BitBtn1->Kind(), TBitBtnKind::bkOK);
    EXPECT_EQ(f.BitBtn1->ModalResult(), mrOk);
    EXPECT_TRUE(SendMessageA(f.StatusBar1->Handle(), SB_ISSIMPLE, 0, 0));
    EXPECT_EQ(f.StatusBar1->SimpleText(), "");
    for (TEdit* caption : {f.Edit3, f.Edit1, f.Edit4, f.Edit5, f.Edit7}) {
        EXPECT_TRUE(GetWindowLongPtrA(caption->Handle(), GWL_STYLE) & ES_READONLY) << caption->Text();
    }

    // Shown, it stands centred on the main window, which owns it through the application.
    MainStandIn->Show();
    f.Show();
    RECT over, shown;
    GetWindowRect(MainStandIn->Handle(), &over);
    GetWindowRect(f.Handle(), &shown);
    EXPECT_NEAR((shown.left + shown.right) / 2, (over.left + over.right) / 2, 1);
    EXPECT_NEAR((shown.top + shown.bottom) / 2, (over.top + over.bottom) / 2, 1);
    EXPECT_EQ(GetFocus(), f.NameEdit->Handle());
}

// ---------------------------------------------------------------------------------------------
// The keyboard

TEST_F(SendDataWindow, TabVisitsTheBoxesInOrderAndSwitchesTheInputMethod)
{
    TSendDataForm& f = *SendDataForm;
    f.Show();
    {
        const TInputContext context(f.NameEdit->Handle());
        ASSERT_TRUE(context) << "no input context under this Wine";
    }
    const auto focused = [](TWinControl* Control) {
        const HWND focus = GetFocus();
        return focus == Control->Handle() || IsChild(Control->Handle(), focus); // a combo box's edit part
    };
    const auto imeOpen = [] {
        const TInputContext context(GetFocus());
        return context && ImmGetOpenStatus(context.Get()) != FALSE;
    };
    enum { off, on, any };
    const struct {
        TWinControl* control;
        int ime;
    } steps[] = {
        {f.AdminEdit, on},     {f.EMailEdit, off},    {f.ComboBox1, any}, {f.CheckBox1, any},
        {f.BitBtn1, any},      {f.RadioButton1, any}, {f.NameEdit, on},   {f.AdminEdit, on},
        {f.EMailEdit, off},
    };
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
    EXPECT_TRUE(f.RadioButton2->Checked());
    f.BitBtn1->SetFocus();
    Key(VK_TAB);
    EXPECT_TRUE(focused(f.RadioButton2));
    Key(VK_TAB);
    EXPECT_TRUE(focused(f.NameEdit));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(SendDataWindow, EnterInABoxPressesTheSendButton)
{
    TSendDataForm& f = *SendDataForm;
    f.Show();
    f.EMailEdit->SetText("no-at.example");
    f.EMailEdit->SetFocus();
    Key(VK_RETURN);
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"メールアドレスが不完全です　再入力して下さい"});
    f.EMailEdit->SetText("user@example.jp");
    Key(VK_RETURN);
    EXPECT_EQ(Boxes.size(), 1u);
    ASSERT_EQ(f.MailLines->Count(), 15);
    EXPECT_EQ((*f.MailLines)[11], "e-mail = user@example.jp");
    EXPECT_EQ(f.ModalResult(), mrOk); // the OK kind's result, for a caller showing it modally
}

// ---------------------------------------------------------------------------------------------
// Showing: the title in Label1

TEST_F(SendDataWindow, ShowingPutsTheTitleInOnceAndClearsTheStatusLine)
{
    const std::string rest = Label1Text.substr(5); // after "TITLE"
    const struct {
        std::vector<std::string> titles; // TitleText at each showing
        std::string caption;             // Label1 after the last
    } cases[] = {
        {{Product}, Product + rest},
        {{Product, Product}, Product + rest},      // the second showing leaves it
        {{Product, "別の題"}, Product + rest},     // no "TITLE" left to replace
        {{""}, rest},                              // replaced by nothing
        {{"", Product}, rest},                     // ... and then nothing to replace
        {{"TITLE"}, Label1Text},                   // already contained
        {{"doduza"}, "doduza" + rest},
        {{"doduza", Product}, "doduza" + rest},    // "doduza" is in it, Product is not
    };
    for (const auto& c : cases) {
        SendDataForm->Label1->SetCaption(Label1Text);
        for (const std::string& title : c.titles) {
            SendDataForm->StatusBar1->SetSimpleText("データ送信完了");
            SendDataForm->TitleText = title;
            SendDataForm->Show();
            EXPECT_EQ(SendDataForm->StatusBar1->SimpleText(), "");
            char shown[64] = {};
            SendMessageA(SendDataForm->StatusBar1->Handle(), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(shown));
            EXPECT_STREQ(shown, "");
            SendDataForm->Hide();
        }
        EXPECT_EQ(SendDataForm->Label1->Caption(), c.caption) << c.titles.back();
    }
}

// ---------------------------------------------------------------------------------------------
// The send button: the address check and the body

TEST_F(SendDataWindow, IncompleteAddressIsReportedAndNothingIsComposed)
{
    TSendDataForm& f = *SendDataForm;
    f.Show();
    const struct {
        std::string address;
        bool refused;
    } cases[] = {
        {"", false},           {"a@b.c", false},      {"b.c@a", false},  {"@.", false},
        {"a@b", true},         {"a.b", true},         {"ab", true},      {" ", true},
        {"ａ＠ｂ．ｃ", true}, {"ァ.", true},          {"ァ@x.", false},  {"ａ＠b.c", true},
    };
    for (const auto& c : cases) {
        Boxes.Clear();
        f.MailLines->Clear();
        f.MailLines->Add("the last block");
        f.StatusBar1->SetSimpleText("unchanged");
        f.EMailEdit->SetText(c.address);
        f.BitBtn1->Click();
        if (c.refused) {
            EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"メールアドレスが不完全です　再入力して下さい"}) << c.address;
            EXPECT_EQ(Boxes[0].Caption, Title);
            EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_OK));
            EXPECT_EQ(Lines(*f.MailLines), std::vector<std::string>{"the last block"}) << c.address;
        } else {
            EXPECT_TRUE(Boxes.empty()) << c.address;
            ASSERT_EQ(f.MailLines->Count(), 15) << c.address;
            EXPECT_EQ((*f.MailLines)[11], "e-mail = " + c.address);
        }
        EXPECT_TRUE(IsWindowVisible(f.Handle())) << c.address;
        EXPECT_EQ(f.EMailEdit->Text(), c.address);
        EXPECT_EQ(f.StatusBar1->SimpleText(), "unchanged");
    }
}

TEST_F(SendDataWindow, BodyComposedFromTheControls)
{
    TSendDataForm& f = *SendDataForm;
    SYSTEMTIME today;
    GetLocalTime(&today);
    const TShortDateFormat format("d.M.yyyy"); // the user's own setting, not the locale's default
    const std::string date = Printed("%d.%d.%04d", today.wDay, today.wMonth, today.wYear);
    const struct {
        const char* name;
        std::function<void()> fill;
        std::vector<std::string> body;
    } cases[] = {
        {"empty form", [] {},
         {"--ここから--", "", "お申込日 = " + date, "作品番号 = ZO000002", "お申込作品名 = デスクトップdoduza", "施設名 = ", "利用者氏名 = ",
          "利用者氏名(よみ) = ", "郵便番号 = ", "住所 = ", "電話番号 = ", "e-mail = ", "お知らせメールを受信する", "性別 =男性", "年齢 ="}},
        {"full form",
         [&] {
             f.NameEdit->SetText("ホテル表参道ソ能");
             f.AdminEdit->SetText("山田　太郎");
             f.EMailEdit->SetText("taro@example.jp");
             Press(f.RadioButton2);
             f.ComboBox1->SetItemIndex(5);
             Press(f.CheckBox1);
         },
         {"--ここから--", "", "お申込日 = " + date, "作品番号 = ZO000002", "お申込作品名 = デスクトップdoduza", "施設名 = ホテル表参道ソ能",
          "利用者氏名 = 山田　太郎", "利用者氏名(よみ) = ", "郵便番号 = ", "住所 = ", "電話番号 = ", "e-mail = taro@example.jp",
          "メール受信拒否", "性別 =女性", "年齢 =６０代以上"}},
        {"spaces are a name, the last item an age",
         [&] {
             f.NameEdit->SetText("   ");
             f.ComboBox1->SetItemIndex(6);
         },
         {"--ここから--", "", "お申込日 = " + date, "作品番号 = ZO000002", "お申込作品名 = デスクトップdoduza", "施設名 =    ", "利用者氏名 = ",
          "利用者氏名(よみ) = ", "郵便番号 = ", "住所 = ", "電話番号 = ", "e-mail = ", "お知らせメールを受信する", "性別 =男性",
          "年齢 =１０代以下"}},
    };
    for (const auto& c : cases) {
        // A fresh window each time: the controls as the user found them.
        delete SendDataForm;
        Application->CreateForm(SendDataForm);
        c.fill();
        SendDataForm->BitBtn1->Click();
        EXPECT_TRUE(Boxes.empty()) << c.name;
        EXPECT_EQ(Lines(*SendDataForm->MailLines), c.body) << c.name;
        // Pressed again, the block is composed afresh, not appended.
        SendDataForm->BitBtn1->Click();
        EXPECT_EQ(SendDataForm->MailLines->Count(), 15) << c.name;
    }
}

TEST_F(SendDataWindow, DateIsTheUsersShortDate)
{
    SYSTEMTIME today;
    GetLocalTime(&today);
    const struct {
        const char* picture;
        std::string date;
    } cases[] = {
        {"yyyy/MM/dd", Printed("%04d/%02d/%02d", today.wYear, today.wMonth, today.wDay)},
        {"d.M.yyyy", Printed("%d.%d.%04d", today.wDay, today.wMonth, today.wYear)},
        {"yyyy'年'M'月'd'日'", Printed("%04d年%d月%d日", today.wYear, today.wMonth, today.wDay)},
    };
    for (const auto& c : cases) {
        const TShortDateFormat format(c.picture);
        SendDataForm->BitBtn1->Click();
        ASSERT_EQ(SendDataForm->MailLines->Count(), 15);
        EXPECT_EQ((*SendDataForm->MailLines)[2], "お申込日 = " + c.date) << c.picture;
        EXPECT_EQ(SendDataForm->ReadEntry().Date, c.date) << c.picture;
    }
}

TEST_F(SendDataWindow, TextTypedIntoTheComboBoxIsNoAgeBracket)
{
    TSendDataForm& f = *SendDataForm;
    f.Show();
    f.ComboBox1->SetFocus();
    for (char c : std::string("20s")) {
        PostMessageA(GetFocus(), WM_CHAR, static_cast<WPARAM>(c), 0);
    }
    Application->ProcessMessages();
    EXPECT_EQ(f.ComboBox1->Text(), "20s");
    const struct {
        const char* typed;
        std::string line;
    } cases[] = {
        {nullptr, "年齢 ="},     // typed with the keys above
        {"２０代", "年齢 ="},    // the very text of an item, typed, chooses none
        {"", "年齢 ="},
    };
    for (const auto& c : cases) {
        if (c.typed != nullptr) f.ComboBox1->SetText(c.typed);
        f.BitBtn1->Click();
        ASSERT_EQ(f.MailLines->Count(), 15);
        EXPECT_EQ((*f.MailLines)[14], c.line) << (c.typed ? c.typed : "keys");
    }
    // Chosen from the list, the item counts.
    f.ComboBox1->SetItemIndex(1);
    f.BitBtn1->Click();
    EXPECT_EQ((*f.MailLines)[14], "年齢 =２０代");
}

// ---------------------------------------------------------------------------------------------
// Closing

TEST_F(SendDataWindow, ClosingReleasesTheLinesAndHides)
{
    TSendDataForm& f = *SendDataForm;
    MainStandIn->Show();
    f.Show();
    f.BitBtn1->Click();
    ASSERT_EQ(f.MailLines->Count(), 15);
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
    EXPECT_TRUE(IsWindowVisible(MainStandIn->Handle())); // not the main window: the program goes on
    EXPECT_FALSE(Application->Terminated());
    // Shown again after all, the send button composes into a list of its own.
    f.Show();
    f.BitBtn1->Click();
    ASSERT_NE(f.MailLines, nullptr);
    EXPECT_EQ(f.MailLines->Count(), 15);
    EXPECT_TRUE(Boxes.empty());
}

} // namespace
