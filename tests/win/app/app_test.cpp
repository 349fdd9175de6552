// The setup window in process, under Wine: creation, the folder box, the chooser, and the install
// sequence through the message-box seam, with this executable standing in for Setup.exe (its
// payload resource is a two-file archive: "a.txt" and "doc\b.txt").
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>

#include "toolkit/win/Application.h"
#include "payload/win/Compress.h"
#include "app/win/Dlsetup.h"
#include "toolkit/FileCtrl.h"
#include "HostLink.h"
#include "common/Library.h"
#include "MessageBoxRecorder.h"
#include "toolkit/win/Registry.h"
#include "toolkit/win/SelectDir.h"
#include "mail/win/Senddata.h"
#include "toolkit/SysUtils.h"

namespace {

std::string ReadFile(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const std::string Title = "doduza\x81\x40\x97\xCC\x8E\xFB\x8F\x91\x94\xAD\x8D\x73\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76";
const std::string DefaultFolder = "c:\\Program Files\\Ruviva\\VodidavorAd";

// The registry has two views of HKLM\Software on 64-bit Windows; the record belongs in the
// 32-bit one. Every look names its view.
constexpr REGSAM View32 = KEY_WOW64_32KEY;
constexpr REGSAM View64 = KEY_WOW64_64KEY;

void DeleteProductKey()
{
    for (const REGSAM view : {View32, View64}) {
        TRegKey software;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | view, software.Put()) == ERROR_SUCCESS) {
            RegDeleteTreeA(software.Get(), "Ruviva Co.,Ltd.");
        }
    }
}

bool ProductValue(std::string& Value, REGSAM View = View32)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_READ | View);
    if (!reg.OpenKey("\\Software\\Ruviva Co.,Ltd.\\rizud", false) || !reg.ValueExists("Path")) return false;
    Value = reg.ReadString("Path");
    return true;
}

bool ProductKeyIn64BitView()
{
    TRegKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Ruviva Co.,Ltd.", 0, KEY_READ | View64, key.Put()) == ERROR_SUCCESS;
}

void WriteProductValue(DWORD Type, const std::string& Data)
{
    TRegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Ruviva Co.,Ltd.\\rizud", 0, nullptr, 0, KEY_ALL_ACCESS | View32,
                              nullptr, key.Put(), nullptr),
              ERROR_SUCCESS);
    if (Type != REG_NONE) {
        RegSetValueExA(key.Get(), "Path", 0, Type, reinterpret_cast<const BYTE*>(Data.data()), static_cast<DWORD>(Data.size()));
    }
}

// The start-up of the entry, without its message loop.
class SetupWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application->SetTitle(SApplicationTitle);
        CreateSetupForms();
        const auto formClose = SetupForm->OnClose;
        SetupForm->OnClose = [this, formClose](TObject* Sender, TCloseAction& Action) {
            ++Closes;
            formClose(Sender, Action);
        };
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        LARGE_INTEGER now; // Wine reuses process ids from run to run
        QueryPerformanceCounter(&now);
        Base = std::string(temp) + "setup_app_" + std::to_string(now.QuadPart);
        DeleteProductKey();
    }
    void TearDown() override
    {
        delete CompressForm;
        CompressForm = nullptr;
        delete SendDataForm;
        SendDataForm = nullptr;
        delete SetupForm;
        SetupForm = nullptr;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        DeleteProductKey();
    }
    void Click(TButton* Button) { Button->Click(); } // as the user's click arrives: through the parent

    TMessageBoxRecorder Boxes;
    std::string Base;
    int Closes = 0;
};

// ---------------------------------------------------------------------------------------------

TEST(InstallFolder, ChooserAnswerOfTheBareParentGetsTheProductFolder)
{
    const struct {
        const char* chosen;
        const char* folder;
    } cases[] = {
        {"c:\\Program Files", "c:\\Program Files\\Ruviva\\VodidavorAd"},
        {"C:\\PROGRAM FILES", "C:\\PROGRAM FILES\\Ruviva\\VodidavorAd"},
        {"c:\\program files", "c:\\program files\\Ruviva\\VodidavorAd"},
        {"c:\\Program Files\\Sub", "c:\\Program Files\\Sub"},
        {"c:\\Program Files\\", "c:\\Program Files\\"},
        {"d:\\Program Files", "d:\\Program Files"},
        {"c:\\", "c:\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallFolderFromChoice(c.chosen), c.folder) << c.chosen;
    }
}

TEST_F(SetupWindow, StartUpCreatesTheThreeWindowsInOrder)
{
    ASSERT_EQ(Application->ComponentCount(), 3);
    EXPECT_EQ(Application->Components(0), SetupForm);
    EXPECT_EQ(Application->Components(1), SendDataForm);
    EXPECT_EQ(Application->Components(2), CompressForm);
    EXPECT_EQ(Application->MainForm(), SetupForm);
    ASSERT_NE(SendDataForm, nullptr);
    EXPECT_NE(SendDataForm->MailLines, nullptr); // its creation handler ran
    for (TForm* hidden : std::initializer_list<TForm*>{SendDataForm, CompressForm}) {
        EXPECT_FALSE(IsWindowVisible(hidden->Handle()));
    }
    // Showing the setup window shows neither of the others.
    SetupForm->OnShow = nullptr;
    SetupForm->Show();
    EXPECT_FALSE(IsWindowVisible(SendDataForm->Handle()));
    EXPECT_FALSE(IsWindowVisible(CompressForm->Handle()));
}

TEST_F(SetupWindow, CreationSubstitutesTheTitleAndEmptiesTheFolderBox)
{
    EXPECT_EQ(Application->MainForm(), SetupForm);
    EXPECT_NE(Library, nullptr);
    EXPECT_NE(ShellLink, nullptr);
    EXPECT_EQ(SetupForm->Label1->Caption(), "\x83\x66\x83\x58\x83\x4E\x83\x67\x83\x62\x83\x76" "doduza "
                                            "\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76\x83\x76\x83\x8D\x83\x4F\x83\x89\x83\x80");
    EXPECT_EQ(SetupForm->Edit1->Text(), "");
    char module[MAX_PATH];
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    EXPECT_EQ(SetupForm->ExeFolder() + ExtractFileName(module), module);
    EXPECT_EQ(SetupForm->ExeFolder().back(), '\\');
    EXPECT_EQ(SetupForm->Caption(), "デスクトップdoduzaSetup");
    EXPECT_EQ(SetupForm->Width(), 465);
    EXPECT_EQ(SetupForm->Height(), 229);
    EXPECT_EQ(SetupForm->Image1->PictureWidth(), 38);
    EXPECT_EQ(SetupForm->Image1->PictureHeight(), 37);
    EXPECT_TRUE(SetupForm->CheckBox1->Checked());
}

TEST_F(SetupWindow, StartButtonHasTheFocusAndTabFollowsTheDesignOrder)
{
    SetupForm->OnShow = nullptr; // the folder box is not the point here
    SetupForm->Show();
    ASSERT_EQ(GetFocus(), SetupForm->SetupButton->Handle());
    const HWND order[] = {SetupForm->Button1->Handle(), SetupForm->Button2->Handle(), SetupForm->Edit1->Handle(),
                          SetupForm->CheckBox1->Handle(), SetupForm->SetupButton->Handle()};
    HWND at = SetupForm->SetupButton->Handle();
    for (HWND next : order) {
        at = GetNextDlgTabItem(SetupForm->Handle(), at, FALSE);
        EXPECT_EQ(at, next);
    }
}

// A top-level window gets a taskbar button when it is shown and is neither owned nor a tool
// window, or when it asks for one.
std::vector<HWND> TaskbarWindows()
{
    struct Collect {
        static BOOL CALLBACK One(HWND Window, LPARAM Param)
        {
            const LONG_PTR ex = GetWindowLongPtrA(Window, GWL_EXSTYLE);
            if (IsWindowVisible(Window) &&
                ((GetWindow(Window, GW_OWNER) == nullptr && (ex & WS_EX_TOOLWINDOW) == 0) || (ex & WS_EX_APPWINDOW) != 0)) {
                reinterpret_cast<std::vector<HWND>*>(Param)->push_back(Window);
            }
            return TRUE;
        }
    };
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), Collect::One, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

TEST_F(SetupWindow, TheTaskbarButtonCarriesTheTitle)
{
    SetupForm->OnShow = nullptr;
    SetupForm->Show();
    const std::vector<HWND> buttons = TaskbarWindows();
    ASSERT_EQ(buttons.size(), 1u);
    char caption[128] = {};
    GetWindowTextA(buttons[0], caption, sizeof caption);
    EXPECT_EQ(caption, Title);
    EXPECT_EQ(buttons[0], Application->Handle());
    EXPECT_NE(GetClassLongPtrA(buttons[0], GCLP_HICON), 0u); // the program's icon on the button

    // Minimising the setup window minimises the program to its button; restoring brings it back.
    SendMessageA(SetupForm->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsIconic(buttons[0]));
    EXPECT_FALSE(IsWindowVisible(SetupForm->Handle()));
    SendMessageA(buttons[0], WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(IsIconic(buttons[0]));
    EXPECT_TRUE(IsWindowVisible(SetupForm->Handle()));
    Application->ProcessMessages();
    EXPECT_EQ(GetActiveWindow(), SetupForm->Handle());

    // "Close" on the button closes the setup window, and the button goes with it.
    SendMessageA(buttons[0], WM_CLOSE, 0, 0);
    EXPECT_EQ(Closes, 1);
    EXPECT_TRUE(TaskbarWindows().empty());
}

TEST_F(SetupWindow, FolderBoxFromTheRegistryRecord)
{
    const DWORD number = 1;
    const struct {
        bool keyExists;
        DWORD type;
        std::string data;
        std::string shown;
    } cases[] = {
        {false, REG_SZ, "", DefaultFolder},
        {true, REG_NONE, "", DefaultFolder}, // key without a value
        {true, REG_SZ, std::string("\0", 1), DefaultFolder},
        {true, REG_SZ, std::string("x:\\gone\\away\0", 13), "x:\\gone\\away"},
        {true, REG_EXPAND_SZ, std::string("%ProgramFiles%\\ソ\0", 18), "%ProgramFiles%\\ソ"},
        // A value of another type reads as none: the default, not an error that ends the program.
        {true, REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number), DefaultFolder},
        {true, REG_BINARY, std::string("c:\\bin\0", 7), DefaultFolder},
        {true, REG_MULTI_SZ, std::string("c:\\one\0c:\\two\0\0", 17), DefaultFolder},
        {true, REG_QWORD, std::string(8, '\1'), DefaultFolder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        DeleteProductKey();
        if (c.keyExists) {
            WriteProductValue(c.type, c.data);
        }
        SetupForm->Edit1->SetText("");
        ASSERT_NO_THROW(SetupForm->FormShow(SetupForm));
        EXPECT_EQ(SetupForm->Edit1->Text(), c.shown) << c.data;
    }
    std::string value;
    DeleteProductKey();
    SetupForm->Edit1->SetText("");
    SetupForm->FormShow(SetupForm);
    EXPECT_FALSE(ProductValue(value)); // showing writes nothing
    // A record in the 64-bit view alone is not this product's.
    {
        TRegKey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Ruviva Co.,Ltd.\\rizud", 0, nullptr, 0, KEY_ALL_ACCESS | View64,
                                  nullptr, key.Put(), nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key.Get(), "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>("x:\\64"), 6);
    }
    SetupForm->Edit1->SetText("");
    SetupForm->FormShow(SetupForm);
    EXPECT_EQ(SetupForm->Edit1->Text(), DefaultFolder);
}

TEST_F(SetupWindow, TheCommandLinePresetsTheWindow)
{
    WriteProductValue(REG_SZ, std::string("x:\\recorded\0", 14));
    SetupForm->Preset("c:\\from the command line", false);
    SetupForm->Show();
    EXPECT_EQ(SetupForm->Edit1->Text(), "c:\\from the command line");
    EXPECT_FALSE(SetupForm->CheckBox1->Checked());
}

TEST_F(SetupWindow, RecordOfAnotherTypeStillShowsTheWindow)
{
    const DWORD number = 1;
    WriteProductValue(REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number));
    ASSERT_NO_THROW(SetupForm->Show());
    EXPECT_TRUE(SetupForm->Visible());
    EXPECT_EQ(SetupForm->Edit1->Text(), DefaultFolder);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(SetupWindow, CancelClosesWithoutWritingAnything)
{
    SetupForm->Edit1->SetText(Base + "\\never");
    Click(SetupForm->Button1);
    EXPECT_EQ(Closes, 1);
    EXPECT_FALSE(SetupForm->Visible());
    EXPECT_EQ(Library, nullptr); // the close handler deleted the helpers
    EXPECT_EQ(ShellLink, nullptr);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_FALSE(DirectoryExists(Base + "\\never"));
    std::string value;
    EXPECT_FALSE(ProductValue(value));
}

TEST_F(SetupWindow, DestroyedWithoutClosingTakesTheHelpersAlong)
{
    ASSERT_NE(Library, nullptr);
    delete SetupForm;
    SetupForm = nullptr;
    EXPECT_EQ(Closes, 0);
    EXPECT_EQ(Library, nullptr);
    EXPECT_EQ(ShellLink, nullptr);
}

// ---------------------------------------------------------------------------------------------
// The install sequence

TEST_F(SetupWindow, InstallIntoANewDbcsFolder)
{
    const std::string folder = Base + "\\ソフト\\表";
    SetupForm->Show();
    SetupForm->Edit1->SetText(folder);
    const std::string work = SetupForm->ExeFolder() + "work.tmp";
    DeleteFileA(work.c_str());
    bool progressShown = false;
    Boxes.OnBox = [&](const auto&) { progressShown = progressShown || IsWindowVisible(CompressForm->Handle()); };
    Click(SetupForm->SetupButton);
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"セットアップが正常に終了しました"});
    EXPECT_EQ(Boxes[0].Caption, Title);
    EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_OK));
    EXPECT_EQ(Boxes[0].Owner, SetupForm->Handle()); // the progress window gave the activation back
    EXPECT_FALSE(progressShown); // hidden again before the closing message
    EXPECT_EQ(Closes, 1);
    EXPECT_EQ(ReadFile(folder + "\\a.txt"), "hello, doduza\r\n");
    EXPECT_EQ(ReadFile(folder + "\\doc\\b.txt"), "xxxxxxxxxxxy");
    std::string value;
    ASSERT_TRUE(ProductValue(value, View32));
    EXPECT_EQ(value, folder);
    EXPECT_FALSE(ProductKeyIn64BitView());
    EXPECT_EQ(ReadFile(work).size(), 46u); // the whole resource, kept
    EXPECT_EQ(CompressForm->Label1->Caption(), folder + "\\doc\\b.txt");
    EXPECT_EQ(CompressForm->AllBar->Position(), 46);
    EXPECT_FALSE(IsWindowVisible(SendDataForm->Handle())); // no step shows the registration window
}

TEST_F(SetupWindow, FolderTextIsUsedAsTyped)
{
    const std::string folder = Base + "\\trailing\\";
    SetupForm->Edit1->SetText(folder);
    Click(SetupForm->SetupButton);
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"セットアップが正常に終了しました"});
    std::string value;
    ASSERT_TRUE(ProductValue(value));
    EXPECT_EQ(value, folder);
    EXPECT_EQ(CompressForm->Label1->Caption(), folder + "\\doc\\b.txt"); // doubled separator
    EXPECT_TRUE(FileExists(Base + "\\trailing\\a.txt"));
}

TEST_F(SetupWindow, FolderTextThatIsNotAFullPathIsAnErrorAndTheWindowStays)
{
    // What a user can type that names no one place: the empty text, names under the current
    // folder (one that exists there included), the current drive's root or current folder.
    // Each shows the toolkit's error, creates and records nothing, and leaves the window open.
    const std::string here = Base + "\\current";
    ASSERT_TRUE(ForceDirectories(here + "\\Existing"));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(here.c_str()));
    const char* const texts[] = {"", "Doduza", "Doduza\\sub", "Doduza\\", "ab", ".\\Doduza", "..\\Doduza",
                                 "\\DoduzaAtTheRoot", "c:DoduzaOnTheDrive", "Existing"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        Boxes.Clear();
        SetupForm->Edit1->SetText(text);
        Click(SetupForm->SetupButton);
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].Text, "ディレクトリを作成することができません.");
        EXPECT_EQ(Boxes[0].Caption, Title);
        EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
        EXPECT_EQ(Closes, 0);
        std::string value;
        EXPECT_FALSE(ProductValue(value));
    }
    SetCurrentDirectoryA(previous);
    WIN32_FIND_DATAA found;
    std::vector<std::string> made;
    const TFindHandle find(FindFirstFileA((here + "\\*").c_str(), &found));
    ASSERT_TRUE(find);
    do made.push_back(found.cFileName);
    while (FindNextFileA(find.Get(), &found));
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made, (std::vector<std::string>{".", "..", "Existing"}));
    EXPECT_FALSE(DirectoryExists("c:\\DoduzaAtTheRoot"));
    EXPECT_FALSE(DirectoryExists("c:\\DoduzaOnTheDrive"));
    // The user tries again with a full path.
    Boxes.Clear();
    SetupForm->Edit1->SetText(Base + "\\again");
    Click(SetupForm->SetupButton);
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"セットアップが正常に終了しました"});
    EXPECT_EQ(Closes, 1);
}

TEST_F(SetupWindow, FolderThatCannotBeCreated)
{
    ASSERT_TRUE(ForceDirectories(Base));
    std::ofstream(Base + "\\file") << "in the way";
    SetupForm->Edit1->SetText(Base + "\\file\\sub");
    Click(SetupForm->SetupButton);
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"ディレクトリ作成に失敗しました"});
    EXPECT_EQ(Boxes[0].Caption, Title);
    EXPECT_EQ(Closes, 1);
    std::string value;
    EXPECT_FALSE(ProductValue(value));
}

TEST_F(SetupWindow, RegistryKeyThatCannotBeCreated)
{
    // A volatile parent refuses a lasting child key.
    TRegKey parent;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Ruviva Co.,Ltd.", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS | View32,
                              nullptr, parent.Put(), nullptr),
              ERROR_SUCCESS);
    parent.Reset();
    SetupForm->Edit1->SetText(Base + "\\regfail");
    Click(SetupForm->SetupButton);
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"予期せぬエラーが発生しました　起動できません"});
    EXPECT_EQ(Closes, 1);
    EXPECT_TRUE(DirectoryExists(Base + "\\regfail")); // step 1 is not undone
    EXPECT_FALSE(FileExists(Base + "\\regfail\\a.txt"));
}

// A folder where the work file should go stands for a place that cannot take it (a CD, a
// read-only share); the temporary folder takes it instead, or, when it cannot either, the
// toolkit's message names the file there and the window stays open.
TEST_F(SetupWindow, WorkFileGoesToTheTemporaryFolderWhenTheExecutablesCannotTakeIt)
{
    for (const bool tempBlocked : {false, true}) {
        SCOPED_TRACE(tempBlocked ? "temporary folder blocked too" : "executable's folder blocked");
        Boxes.Clear();
        Closes = 0;
        const std::string beside = SetupForm->ExeFolder() + "work.tmp";
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        const std::string instead = std::string(temp) + "work.tmp";
        DeleteFileA(beside.c_str());
        DeleteFileA(instead.c_str());
        ASSERT_TRUE(CreateDirectoryA(beside.c_str(), nullptr));
        if (tempBlocked) {
            ASSERT_TRUE(CreateDirectoryA(instead.c_str(), nullptr));
        }
        const std::string folder = Base + (tempBlocked ? "\\nowhere" : "\\readonly");
        SetupForm->Edit1->SetText(folder);
        // After the first install the window is closed; the button still runs the sequence,
        // which stops at the work file before it needs the helpers the close deleted.
        Click(SetupForm->SetupButton);
        RemoveDirectoryA(beside.c_str());
        if (tempBlocked) {
            RemoveDirectoryA(instead.c_str());
            ASSERT_EQ(Boxes.size(), 1u);
            EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
            EXPECT_NE(Boxes[0].Text.find(instead), std::string::npos) << Boxes[0].Text;
            EXPECT_EQ(Closes, 0);
            EXPECT_FALSE(FileExists(folder + "\\a.txt"));
        } else {
            EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"セットアップが正常に終了しました"});
            EXPECT_EQ(ReadFile(instead).size(), 46u);
            EXPECT_EQ(ReadFile(folder + "\\a.txt"), "hello, doduza\r\n");
            EXPECT_EQ(Closes, 1);
        }
        std::string value;
        ASSERT_TRUE(ProductValue(value)); // the record of step 2 stays
        EXPECT_EQ(value, folder);
    }
}

TEST_F(SetupWindow, ALinkedFolderInTheInstallFolderIsNotWrittenThrough)
{
    // "doc" of the archive's "doc\b.txt" planted as a link to a folder elsewhere: the decoder
    // says so and the install fails; nothing reaches the folder it leads to.
    const std::string folder = Base + "\\linked";
    const std::string elsewhere = Base + "\\elsewhere";
    ASSERT_TRUE(ForceDirectories(folder));
    ASSERT_TRUE(ForceDirectories(elsewhere));
    ASSERT_TRUE(payload_test::PlantLink(elsewhere, folder + "\\doc"));
    ASSERT_TRUE(payload_test::PlatformReportsLink(folder + "\\doc"));
    SetupForm->Edit1->SetText(folder);
    Click(SetupForm->SetupButton);
    EXPECT_EQ(Boxes.Texts(), (std::vector<std::string>{std::string(SLinkInFolder) + "\n" + folder + "\\doc",
                                                 "セットアップが正常に終了できませんでした"}));
    EXPECT_FALSE(FileExists(elsewhere + "\\b.txt"));
    EXPECT_EQ(ReadFile(folder + "\\a.txt"), "hello, doduza\r\n");
    EXPECT_EQ(Closes, 1);
}

TEST_F(SetupWindow, DecodeFailureAfterTheDecodersOwnMessage)
{
    const std::string folder = Base + "\\blocked";
    ASSERT_TRUE(ForceDirectories(folder));
    std::ofstream(folder + "\\doc") << "a file where the folder doc should be";
    SetupForm->Show();
    SetupForm->Edit1->SetText(folder);
    // The decoder's box belongs to the progress window; the setup window takes no clicks meanwhile.
    std::vector<bool> setupEnabled;
    Boxes.OnBox = [&](const auto&) { setupEnabled.push_back(IsWindowEnabled(SetupForm->Handle()) != 0); };
    Click(SetupForm->SetupButton);
    EXPECT_EQ(Boxes.Texts(), (std::vector<std::string>{"ディレクトリを作成できませんでした", "セットアップが正常に終了できませんでした"}));
    EXPECT_EQ(setupEnabled, (std::vector<bool>{false, false}));
    EXPECT_TRUE(IsWindowEnabled(SetupForm->Handle()));
    EXPECT_EQ(Closes, 1);
    EXPECT_EQ(ReadFile(folder + "\\a.txt"), "hello, doduza\r\n"); // files before the failure stay
    std::string value;
    EXPECT_TRUE(ProductValue(value));
}

TEST_F(SetupWindow, HeldFilesAreNamedAndNothingIsReplacedUntilLetGo)
{
    // A viewer holds a.txt of an earlier install without sharing it. The box names it before
    // anything is written; Cancel leaves both files as they were, Retry once it let go installs.
    const struct {
        int Answer;
        const char* Closing;
        const char* A;
        const char* B;
    } cases[] = {
        {IDRETRY, "セットアップが正常に終了しました", "hello, doduza\r\n", "xxxxxxxxxxxy"},
        // The window closed after the first install; the button still runs the road, which
        // stops before the shortcuts and their helper the close deleted.
        {IDCANCEL, "セットアップが正常に終了できませんでした", "old a", "old b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Closing);
        const std::string folder = Base + "\\held" + std::to_string(c.Answer);
        ASSERT_TRUE(ForceDirectories(folder + "\\doc"));
        std::ofstream(folder + "\\a.txt", std::ios::binary) << "old a";
        std::ofstream(folder + "\\doc\\b.txt", std::ios::binary) << "old b";
        TKernelHandle holder(CreateFileA((folder + "\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        Boxes.Clear();
        Boxes.Answer(c.Answer);
        Boxes.OnBox = [&](const auto&) { holder.Reset(); };
        SetupForm->Edit1->SetText(folder);
        Click(SetupForm->SetupButton);
        ASSERT_EQ(Boxes.size(), 2u);
        EXPECT_EQ(Boxes[0].Text.rfind("次のファイルが他のプログラムで使用されています\n" + folder + "\\a.txt\n\n", 0), 0u) << Boxes[0].Text;
        EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_RETRYCANCEL));
        EXPECT_EQ(Boxes[1].Text, c.Closing);
        EXPECT_EQ(ReadFile(folder + "\\a.txt"), c.A);
        EXPECT_EQ(ReadFile(folder + "\\doc\\b.txt"), c.B);
        EXPECT_FALSE(FileExists(folder + "\\a.txt.~new"));
    }
}

TEST_F(SetupWindow, BrowseAcceptsTheBareParentOrAnyOtherFolder)
{
    ASSERT_TRUE(ForceDirectories(Base + "\\picked"));
    const struct {
        std::string typed;
        bool cancel;
        std::string result;
    } cases[] = {
        {"C:\\PROGRAM FILES", false, "C:\\PROGRAM FILES\\Ruviva\\VodidavorAd"},
        {Base + "\\picked", false, Base + "\\picked"},
        {"c:\\windows", true, "hand typed"},
    };
    for (const auto& c : cases) {
        SetupForm->Edit1->SetText("hand typed");
        std::string startFolder;
        bool done = false;
        static std::function<void()> act;
        act = [&] {
            auto* dialog = dynamic_cast<TSelectDirDlg*>(TWinControl::FromHandle(FindWindowA("TForm", "ディレクトリの選択")));
            if (dialog == nullptr || done) return;
            done = true;
            startFolder = dialog->Directory();
            dialog->FolderEdit()->SetText(c.typed);
            (c.cancel ? dialog->CancelButton() : dialog->OkButton())->Click();
        };
        struct TTicks {
            static void CALLBACK Run(HWND, UINT, UINT_PTR, DWORD) { act(); }
            const UINT_PTR Id = SetTimer(nullptr, 0, 30, Run);
            ~TTicks() { KillTimer(nullptr, Id); }
        };
        {
            const TTicks ticks;
            Click(SetupForm->Button2);
        }
        EXPECT_TRUE(done);
        EXPECT_EQ(startFolder, "c:\\Program Files"); // "hand typed" is no folder
        EXPECT_EQ(SetupForm->Edit1->Text(), c.result) << c.typed;
    }
    EXPECT_TRUE(Boxes.empty());
}

} // namespace
