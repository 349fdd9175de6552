// The GUI toolkit under Wine: the message-box seam and the exception display, forms and modal
// loops, progress scaling, the folder chooser's accept rules, the registry in Wine's real
// registry and resource streams.
#include <gtest/gtest.h>

#include "Win.h"

#include <commctrl.h>

#include <deque>
#include <fstream>
#include <functional>
#include <iterator>

#include "FileCtrl.h"
#include "Forms.h"
#include "HiddenWindow.h"
#include "Registry.h"
#include "ResourceStream.h"
#include "SysUtils.h"

namespace {

struct TBox {
    std::string Text;
    std::string Caption;
    UINT Flags;
};
std::vector<TBox> Boxes;
std::deque<int> Answers;

int RecordBox(HWND, const std::string& Text, const std::string& Caption, UINT Flags)
{
    Boxes.push_back({Text, Caption, Flags});
    if (Answers.empty()) return IDOK;
    const int answer = Answers.front();
    Answers.pop_front();
    return answer;
}

class Toolkit : public ::testing::Test {
protected:
    void SetUp() override
    {
        Boxes.clear();
        Answers.clear();
        MessageBoxFunc = RecordBox;
        Application->SetTitle("doduza　領収書発行セットアップ");
    }
    void TearDown() override { MessageBoxFunc = SystemMessageBox; }
};

std::string TempFolder(const std::string& Name)
{
    char buffer[MAX_PATH];
    GetTempPathA(MAX_PATH, buffer);
    // Wine reuses process ids from run to run: the counter keeps every run's folders apart.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return std::string(buffer) + "tkwin_" + std::to_string(now.QuadPart) + "_" + Name;
}

// Runs the actions one per timer tick while a modal loop is running.
std::deque<std::function<void()>> TimerActions;
void CALLBACK RunNextAction(HWND, UINT, UINT_PTR, DWORD)
{
    if (!TimerActions.empty()) {
        auto action = std::move(TimerActions.front());
        TimerActions.pop_front();
        action();
    }
}

struct TScriptedTimer {
    UINT_PTR id;
    explicit TScriptedTimer(std::deque<std::function<void()>> Actions)
    {
        TimerActions = std::move(Actions);
        id = SetTimer(nullptr, 0, 30, RunNextAction);
    }
    ~TScriptedTimer() { KillTimer(nullptr, id); }
};

TSelectDirDlg* OpenChooser()
{
    HWND window = FindWindowA("TForm", "ディレクトリの選択");
    return dynamic_cast<TSelectDirDlg*>(TWinControl::FromHandle(window));
}

// ---------------------------------------------------------------------------------------------

TEST(ExceptionText, PeriodAppendedUnlessLastCharacterSortsAtOrBeforeIt)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"Stream read error", "Stream read error."},
        {"done.", "done."},
        {"why?", "why?."},     // '?' sorts after '.'
        {"stop!", "stop!"},    // '!' before '.'
        {"(note)", "(note)"},  // ')' before '.'
        {"a-", "a-"},
        {"path/", "path/."},
        {"ディレクトリを作成することができません", "ディレクトリを作成することができません."},
        {"表", "表."}, // a trail byte 0x5C is part of the last character
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExceptionDisplayText(c.in), c.out) << c.in;
    }
}

TEST(ProgressScaling, RangesAboveSixteenBitsAreScaled)
{
    const struct {
        int64_t position, max;
        int range, scaled;
    } cases[] = {
        {0, 0, 0, 0},
        {5, 0, 0, 0},
        {50, 100, 100, 50},
        {-3, 100, 100, 0},
        {150, 100, 100, 100},
        {65535, 65535, 65535, 65535},
        {0, 2054589, 65535, 0},
        {2054589, 2054589, 65535, 65535},
        {1027294, 2054589, 65535, 32767},
        {int64_t{1} << 62, INT64_MAX, 65535, 32767},
        {INT64_MAX, INT64_MAX, 65535, 65535},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScaledRange(c.max), c.range) << c.max;
        EXPECT_EQ(ScaledPosition(c.position, c.max), c.scaled) << c.position << "/" << c.max;
    }
}

TEST_F(Toolkit, ProgressBarShowsALargeRangeScaled)
{
    TForm form(nullptr);
    auto* bar = new TProgressBar(&form, &form);
    bar->SetMax(2054589);
    bar->SetPosition(1027294);
    PBRANGE range{};
    SendMessageA(bar->Handle(), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iHigh, 65535);
    EXPECT_EQ(SendMessageA(bar->Handle(), PBM_GETPOS, 0, 0), 32767);
    EXPECT_EQ(bar->Position(), 1027294);
    bar->SetPosition(3000000); // clamped to Max
    EXPECT_EQ(bar->Position(), 2054589);
    EXPECT_EQ(SendMessageA(bar->Handle(), PBM_GETPOS, 0, 0), 65535);
}

// ---------------------------------------------------------------------------------------------

TEST_F(Toolkit, ShowMessageGoesThroughTheSeamWithTheTitle)
{
    ShowMessage("ディレクトリを作成できませんでした");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "\x83\x66\x83\x42\x83\x8C\x83\x4E\x83\x67\x83\x8A\x82\xF0\x8D\xEC\x90\xAC\x82\xC5\x82\xAB\x82\xDC\x82\xB9"
                             "\x82\xF1\x82\xC5\x82\xB5\x82\xBD");
    EXPECT_EQ(Boxes[0].Caption, Application->Title());
    EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_OK));
}

TEST_F(Toolkit, ExceptionInAHandlerIsShownAndTheWindowStays)
{
    TForm form(nullptr);
    auto* button = new TButton(&form, &form);
    int calls = 0;
    button->OnClick = [&](TObject*) {
        ++calls;
        if (calls == 1) throw EInOutError("ディレクトリを作成することができません");
        throw std::runtime_error("plain");
    };
    form.Show();
    button->Click();
    button->Click();
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0].Text, "ディレクトリを作成することができません.");
    EXPECT_EQ(Boxes[0].Caption, "doduza　領収書発行セットアップ");
    EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(Boxes[1].Text, "plain.");
    EXPECT_TRUE(IsWindow(form.Handle()));
    EXPECT_TRUE(IsWindowVisible(form.Handle()));
}

TEST_F(Toolkit, CloseRunsOnCloseAndHidesUnlessRefused)
{
    TForm form(nullptr);
    TCloseAction answer = TCloseAction::caNone;
    int closes = 0;
    form.OnClose = [&](TObject*, TCloseAction& Action) {
        ++closes;
        Action = answer;
    };
    form.Show();
    SendMessageA(form.Handle(), WM_CLOSE, 0, 0); // the close box
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(IsWindowVisible(form.Handle()));
    answer = TCloseAction::caHide;
    form.Close();
    EXPECT_EQ(closes, 2);
    EXPECT_FALSE(IsWindowVisible(form.Handle()));
    EXPECT_FALSE(form.Visible());
}

TEST_F(Toolkit, ShowRunsOnShowFirstAndItsExceptionReachesTheCaller)
{
    TForm form(nullptr);
    form.OnShow = [&](TObject*) {
        EXPECT_FALSE(IsWindowVisible(form.Handle()));
        throw ERegistryException("'Path' のデータ型が不正です");
    };
    EXPECT_THROW(form.Show(), ERegistryException);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(Toolkit, ShowModalEndsWithTheButtonsResultAndReenablesTheOwner)
{
    TForm owner(nullptr);
    owner.Show();
    TForm dialog(nullptr);
    auto* ok = new TButton(&dialog, &dialog);
    ok->SetModalResult(mrOk);
    bool ownerDisabledMeanwhile = false;
    TScriptedTimer timer({[&] {
        ownerDisabledMeanwhile = !IsWindowEnabled(owner.Handle());
        ok->Click();
    }});
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_TRUE(ownerDisabledMeanwhile);
    EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
    EXPECT_FALSE(IsWindowVisible(dialog.Handle()));
}

class TCountingForm : public TForm {
public:
    using TForm::TForm;
    int Seen = 0;

protected:
    LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override
    {
        if (Msg == WM_USER + 7) {
            ++Seen;
            return 0;
        }
        return TForm::WndProc(Msg, wParam, lParam);
    }
};

TEST_F(Toolkit, ProcessMessagesDispatchesWhatIsPendingAndReturns)
{
    TCountingForm form(nullptr);
    PostMessageA(form.Handle(), WM_USER + 7, 0, 0);
    PostMessageA(form.Handle(), WM_USER + 7, 0, 0);
    EXPECT_EQ(form.Seen, 0);
    Application->ProcessMessages();
    EXPECT_EQ(form.Seen, 2);
    Application->ProcessMessages(); // nothing pending: returns at once
    EXPECT_EQ(form.Seen, 2);
}

TEST_F(Toolkit, ControlsKeepTheirTexts)
{
    TForm form(nullptr);
    auto* edit = new TEdit(&form, &form);
    auto* combo = new TComboBox(&form, &form);
    auto* status = new TStatusBar(&form, &form);
    auto* panel = new TPanel(&form, &form);
    auto* male = new TRadioButton(&form, panel);
    auto* female = new TRadioButton(&form, panel);
    edit->SetText("c:\\ソフト\\表");
    EXPECT_EQ(edit->Text(), "c:\\ソフト\\表");
    for (const char* item : {"１０代", "２０代", "６０代以上"}) combo->AddItem(item);
    EXPECT_EQ(combo->ItemIndex(), -1);
    combo->SetText("typed");
    EXPECT_EQ(combo->ItemIndex(), -1);
    combo->SetItemIndex(2);
    EXPECT_EQ(combo->Item(combo->ItemIndex()), "６０代以上");
    EXPECT_THROW(combo->Item(7), EListError);
    status->SetSimpleText("サーバーに接続中です");
    char text[64] = {};
    // In simple mode the bar answers for its one part under index 0.
    SendMessageA(status->Handle(), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "サーバーに接続中です");
    male->SetChecked(true);
    female->SetChecked(true);
    EXPECT_FALSE(male->Checked());
    EXPECT_TRUE(female->Checked());
    EXPECT_EQ(GetParent(male->Handle()), panel->Handle());
}

TEST_F(Toolkit, NotificationsOfControlsInAPanelReachTheirHandlers)
{
    TForm form(nullptr);
    auto* panel = new TPanel(&form, &form);
    auto* button = new TButton(&form, panel);
    int clicks = 0;
    button->OnClick = [&](TObject* Sender) {
        EXPECT_EQ(Sender, button);
        ++clicks;
    };
    button->Click(); // WM_COMMAND to the panel, which hands it to the button's object
    EXPECT_EQ(clicks, 1);
}

TEST_F(Toolkit, TabOrderFollowsCreationUntilMoved)
{
    TForm form(nullptr);
    TButton* buttons[4];
    for (auto*& b : buttons) b = new TButton(&form, &form);
    auto* caption = new TEdit(&form, &form);
    caption->SetReadOnly(true);
    caption->SetTabStop(false); // a caption box is skipped by Tab
    const auto order = [&] {
        std::vector<HWND> seen;
        HWND at = buttons[0]->Handle();
        for (int i = 0; i < 4; ++i) seen.push_back(at = GetNextDlgTabItem(form.Handle(), at, FALSE));
        return seen;
    };
    EXPECT_EQ(order(), (std::vector<HWND>{buttons[1]->Handle(), buttons[2]->Handle(), buttons[3]->Handle(), buttons[0]->Handle()}));
    buttons[0]->SetTabOrder(3); // last of the four buttons, before the caption box
    buttons[3]->SetTabOrder(0);
    EXPECT_EQ(order(), (std::vector<HWND>{buttons[3]->Handle(), buttons[1]->Handle(), buttons[2]->Handle(), buttons[0]->Handle()}));
}

// ---------------------------------------------------------------------------------------------
// The folder chooser

TEST_F(Toolkit, ChooserAcceptRules)
{
    const std::string base = TempFolder("chooser");
    ASSERT_TRUE(ForceDirectories(base));
    TSelectDirDlg dialog(nullptr, sdAllowCreate | sdPerformCreate | sdPrompt);
    const struct {
        std::string folder;
        std::deque<int> answers;
        bool accepted;
        bool asked;
        bool existsAfter;
    } cases[] = {
        {base, {}, true, false, true},
        {base + "\\no", {IDNO}, false, true, false},
        {base + "\\yes\\deep\\ソ", {IDYES}, true, true, true},
        {"", {}, false, false, false},
    };
    for (const auto& c : cases) {
        Boxes.clear();
        Answers = c.answers;
        EXPECT_EQ(dialog.CanAccept(c.folder), c.accepted) << c.folder;
        EXPECT_EQ(!Boxes.empty(), c.asked) << c.folder;
        if (!Boxes.empty()) {
            EXPECT_EQ(Boxes[0].Text, "指定されたディレクトリが存在しません。作成しますか？");
            EXPECT_EQ(Boxes[0].Flags & MB_TYPEMASK, static_cast<UINT>(MB_YESNO));
        }
        EXPECT_EQ(DirectoryExists(c.folder), c.existsAfter) << c.folder;
    }
    TSelectDirDlg noCreate(nullptr, 0);
    EXPECT_FALSE(noCreate.CanAccept(base + "\\other"));

    // Texts that are not full paths would be made under the current folder: refused before the
    // question, with the install step's error, and nothing is made, an existing one named so
    // included.
    ASSERT_TRUE(ForceDirectories(base + "\\Existing"));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(base.c_str()));
    for (const char* text : {"Doduza", "Doduza\\sub", ".\\Doduza", "\\DoduzaAtTheRoot", "c:DoduzaOnTheDrive", "Existing"}) {
        Boxes.clear();
        Answers = {IDYES};
        EXPECT_THROW(dialog.CanAccept(text), EInOutError) << text;
        EXPECT_TRUE(Boxes.empty()) << text;
    }
    SetCurrentDirectoryA(previous);
    EXPECT_FALSE(DirectoryExists(base + "\\Doduza"));
    EXPECT_FALSE(DirectoryExists(base + "\\DoduzaOnTheDrive"));
    EXPECT_FALSE(DirectoryExists("c:\\DoduzaAtTheRoot"));
}

TEST_F(Toolkit, ChooserKeepsTheSeparatorOfADriveRoot)
{
    // "c:" without its "\" is the current folder of drive C, not its root.
    for (const std::string typed : {"c:\\", "C:\\", "c:\\\\"}) {
        std::string folder = "c:\\windows";
        TScriptedTimer timer({[&] {
                                  TSelectDirDlg* dialog = OpenChooser();
                                  ASSERT_NE(dialog, nullptr);
                                  dialog->FolderEdit()->SetText(typed);
                                  dialog->OkButton()->Click();
                              },
                              [&] {
                                  // Still open: the answer was refused.
                                  if (TSelectDirDlg* dialog = OpenChooser()) dialog->CancelButton()->Click();
                              }});
        ASSERT_TRUE(SelectDirectory(folder, sdAllowCreate | sdPerformCreate | sdPrompt)) << typed;
        EXPECT_EQ(folder, typed.substr(0, 3)) << typed;
    }
    TSelectDirDlg dialog(nullptr, 0);
    dialog.SetDirectory("c:\\"); // opened at a root, it shows the root
    EXPECT_EQ(dialog.Directory(), "c:\\");
}

TEST_F(Toolkit, ChooserTypedFolderNoThenYes)
{
    const std::string base = TempFolder("typed");
    ASSERT_TRUE(ForceDirectories(base));
    const std::string wanted = base + "\\新しい\\フォルダ\\";
    std::string folder = base;
    bool captionRight = false;
    TScriptedTimer timer({
        [&] {
            TSelectDirDlg* dialog = OpenChooser();
            ASSERT_NE(dialog, nullptr);
            captionRight = dialog->Caption() == "ディレクトリの選択";
            dialog->FolderEdit()->SetText(wanted);
            Answers = {IDNO};
            dialog->OkButton()->Click();
        },
        [&] {
            TSelectDirDlg* dialog = OpenChooser();
            ASSERT_NE(dialog, nullptr); // "No" kept it open
            EXPECT_FALSE(DirectoryExists(wanted));
            Answers = {IDYES};
            dialog->OkButton()->Click();
        },
    });
    ASSERT_TRUE(SelectDirectory(folder, sdAllowCreate | sdPerformCreate | sdPrompt));
    EXPECT_TRUE(captionRight);
    EXPECT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(folder, base + "\\新しい\\フォルダ"); // answered without the trailing separator
    EXPECT_TRUE(DirectoryExists(folder));
}

TEST_F(Toolkit, ChooserCancelLeavesTheFolderAlone)
{
    std::string folder = "x:\\typed by hand";
    TScriptedTimer timer({[&] {
        TSelectDirDlg* dialog = OpenChooser();
        ASSERT_NE(dialog, nullptr);
        dialog->FolderEdit()->SetText("c:\\");
        dialog->CancelButton()->Click();
    }});
    EXPECT_FALSE(SelectDirectory(folder, sdAllowCreate | sdPerformCreate | sdPrompt));
    EXPECT_EQ(folder, "x:\\typed by hand");
    EXPECT_TRUE(Boxes.empty());
}

// ---------------------------------------------------------------------------------------------
// The registry, in Wine's registry

class Registry : public Toolkit {
protected:
    void SetUp() override
    {
        Toolkit::SetUp();
        Key = "\\Software\\SetupToolkitTest\\" + std::to_string(GetCurrentProcessId());
        TRegistry cleanup;
        cleanup.SetRootKey(HKEY_LOCAL_MACHINE);
        cleanup.DeleteKey(Key);
    }
    void TearDown() override
    {
        TRegistry cleanup;
        cleanup.SetRootKey(HKEY_LOCAL_MACHINE);
        cleanup.DeleteKey(Key);
        Toolkit::TearDown();
    }
    HKEY RawKey()
    {
        HKEY key = nullptr;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, Key.substr(1).c_str(), 0, KEY_ALL_ACCESS, &key);
        return key;
    }
    std::string Key;
};

TEST_F(Registry, AbsentKeyIsNotCreatedByOpening)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(reg.Access(), static_cast<REGSAM>(KEY_ALL_ACCESS));
    EXPECT_FALSE(reg.OpenKey(Key, false));
    EXPECT_EQ(RawKey(), nullptr);
    EXPECT_TRUE(reg.OpenKey(Key, true));
    HKEY raw = RawKey();
    EXPECT_NE(raw, nullptr);
    RegCloseKey(raw);
}

TEST_F(Registry, WrittenStringsReadBackAndCountTheirZero)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(Key, true));
    for (const std::string& value : {std::string("c:\\Program Files\\Ruviva\\VodidavorAd"), std::string("d:\\ソフト\\表\\"),
                                    std::string()}) {
        reg.WriteString("Path", value);
        EXPECT_EQ(reg.ReadString("Path"), value);
        DWORD type = 0, size = 0;
        ASSERT_EQ(RegQueryValueExA(reg.CurrentKey(), "Path", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(size, value.size() + 1);
    }
}

TEST_F(Registry, ReadingStoredData)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(Key, true));
    HKEY raw = reg.CurrentKey();
    const struct {
        DWORD type;
        std::string data;
        std::string expected;
    } cases[] = {
        {REG_SZ, std::string("", 0), ""},                          // size zero
        {REG_SZ, std::string("no zero"), "no zero"},                // stored without its zero
        {REG_SZ, std::string("first\0second", 13), "first"},        // ends at the first zero
        {REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 10), "%TEMP%\\x"}, // not expanded
    };
    for (const auto& c : cases) {
        ASSERT_EQ(RegSetValueExA(raw, "Path", 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                                 static_cast<DWORD>(c.data.size())),
                  ERROR_SUCCESS);
        EXPECT_EQ(reg.ReadString("Path"), c.expected);
    }
    EXPECT_EQ(reg.ReadString("Missing"), "");
    EXPECT_FALSE(reg.ValueExists("Missing"));
    const DWORD number = 7;
    RegSetValueExA(raw, "Path", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    try {
        reg.ReadString("Path");
        FAIL() << "a number read as a string";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "'Path' \x82\xCC\x83\x66\x81\x5B\x83\x5E\x8C\x5E\x82\xAA\x95\x73\x90\xB3\x82\xC5\x82\xB7");
    }
}

TEST_F(Registry, DataTypes)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(Key, true));
    const std::pair<DWORD, TRegDataType> cases[] = {
        {REG_SZ, TRegDataType::rdString},    {REG_EXPAND_SZ, TRegDataType::rdExpandString}, {REG_DWORD, TRegDataType::rdInteger},
        {REG_BINARY, TRegDataType::rdBinary}, {REG_MULTI_SZ, TRegDataType::rdUnknown},      {REG_NONE, TRegDataType::rdUnknown}};
    for (const auto& [type, expected] : cases) {
        ASSERT_EQ(RegSetValueExA(reg.CurrentKey(), "v", 0, type, reinterpret_cast<const BYTE*>("abcd"), 4), ERROR_SUCCESS);
        EXPECT_EQ(reg.GetDataType("v"), expected) << type;
    }
    EXPECT_EQ(reg.GetDataType("missing"), TRegDataType::rdUnknown);
}

TEST_F(Registry, PathsFromTheRootOrTheOpenKey)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(Key, true));
    ASSERT_TRUE(reg.OpenKey("child", true)); // below the open key
    reg.WriteString("v", "1");
    TRegistry check;
    check.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(check.OpenKey(Key + "\\child", false));
    EXPECT_EQ(check.ReadString("v"), "1");
    EXPECT_FALSE(check.OpenKey("\\child", false)); // from the root: no such key
    EXPECT_EQ(check.ReadString("v"), "1");         // a failed open keeps the open key
}

TEST_F(Registry, FailedWriteRaisesTheToolkitsText)
{
    {
        TRegistry create;
        create.SetRootKey(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(create.OpenKey(Key, true));
    }
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_READ);
    ASSERT_TRUE(reg.OpenKey(Key, false));
    try {
        reg.WriteString("Path", "c:\\x");
        FAIL() << "write through a read-only key";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "'Path' \x82\xCC\x90\xDD\x92\xE8\x82\xC9\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD");
    }
}

// ---------------------------------------------------------------------------------------------
// Resource streams

TEST(ResourceStream, ReadsSeeksAndSavesTheBytes)
{
    const std::string expected("resource\0bytes\x5c\x83\x5c end", 21);
    TResourceStream stream(GetModuleHandleA(nullptr), "testbytes", "testdata"); // case ignored
    ASSERT_EQ(stream.Size(), static_cast<int64_t>(expected.size()));
    std::string got(expected.size(), '\0');
    EXPECT_EQ(stream.Read(got.data(), 100), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(stream.Read(got.data(), 1), 0);
    EXPECT_EQ(stream.Seek(-3, soFromEnd), static_cast<int64_t>(expected.size()) - 3);
    char tail[3];
    EXPECT_EQ(stream.Read(tail, 3), 3);
    EXPECT_EQ(std::string(tail, 3), "end");
    EXPECT_THROW(stream.Write("x", 1), EStreamError);

    // Saving overwrites a longer file completely.
    const std::string path = TempFolder("saved.bin");
    {
        std::ofstream longer(path, std::ios::binary);
        longer << std::string(1000, 'z');
    }
    stream.SaveToFile(path);
    std::ifstream in(path, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, expected);
    EXPECT_THROW(stream.SaveToFile(TempFolder("missing") + "\\sub\\file.bin"), EFCreateError);
}

TEST(ResourceStream, MissingResourceRaises)
{
    EXPECT_THROW(TResourceStream(GetModuleHandleA(nullptr), "davareduravu", "smz"), EResNotFound);
}

// The hidden-window base: the object gets every message once it is kept in the window, an
// exception stops at the window's edge, and the window goes with the object.
class TProbeWindow : public THiddenWindow {
public:
    explicit TProbeWindow(const char* ClassName) { AllocateHandle(ClassName); }
    std::vector<UINT> Seen;
    std::string Failed;

protected:
    LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override
    {
        if (Msg >= WM_USER) {
            Seen.push_back(Msg);
            if (Msg == WM_USER + 1) throw Exception("from the handler");
            return 42;
        }
        return THiddenWindow::WndProc(Msg, wParam, lParam);
    }
    LRESULT WndProcFailed(const std::exception& E, UINT) noexcept override
    {
        Failed = E.what();
        return 7;
    }
};

TEST(HiddenWindow, PassesMessagesToItsObjectAndCatchesAtTheEdge)
{
    HWND first = nullptr;
    {
        TProbeWindow a("ProbeWindowClass"), b("ProbeWindowClass"); // the class is registered once
        first = a.Handle();
        ASSERT_NE(first, nullptr);
        ASSERT_NE(b.Handle(), nullptr);
        EXPECT_EQ(THiddenWindow::FromHandle(first), &a);
        EXPECT_EQ(GetWindowLongA(first, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, WS_EX_TOOLWINDOW);
        EXPECT_FALSE(IsWindowVisible(first));
        EXPECT_EQ(SendMessageA(first, WM_USER, 0, 0), 42);
        EXPECT_EQ(SendMessageA(first, WM_USER + 1, 0, 0), 7);
        EXPECT_EQ(a.Failed, "from the handler");
        EXPECT_EQ(a.Seen, (std::vector<UINT>{WM_USER, WM_USER + 1}));
        EXPECT_TRUE(b.Seen.empty());
    }
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(THiddenWindow::FromHandle(GetDesktopWindow()), nullptr);
}

TEST(Handles, EachHolderFreesItsHandleOnce)
{
    HANDLE raw = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD flags = 0;
    {
        TKernelHandle event(raw);
        TKernelHandle moved(std::move(event));
        EXPECT_FALSE(event);
        EXPECT_TRUE(GetHandleInformation(raw, &flags));
    }
    EXPECT_FALSE(GetHandleInformation(raw, &flags));
    TKernelHandle invalid(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(invalid);
    TFindHandle none;
    EXPECT_FALSE(none);
    EXPECT_EQ(none.Get(), INVALID_HANDLE_VALUE);
}

} // namespace
