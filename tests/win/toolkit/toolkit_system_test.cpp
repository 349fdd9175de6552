// The toolkit's ways to the system under Wine: the folder chooser's accept rules, the registry in
// Wine's real registry, and resource streams.
#include "ToolkitWinTest.h"

namespace {

std::string TempFolder(const std::string& Name)
{
    char buffer[MAX_PATH];
    GetTempPathA(MAX_PATH, buffer);
    // Wine reuses process ids from run to run: the counter keeps every run's folders apart.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return std::string(buffer) + "tkwin_" + std::to_string(now.QuadPart) + "_" + Name;
}

TSelectDirDlg* OpenChooser()
{
    HWND window = FindWindowA("TForm", "ディレクトリの選択");
    return dynamic_cast<TSelectDirDlg*>(TWinControl::FromHandle(window));
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
        Boxes.Clear();
        for (const int answer : c.answers) Boxes.Answer(answer);
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
        Boxes.Clear();
        Boxes.Answer(IDYES);
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
            Boxes.Answer(IDNO);
            dialog->OkButton()->Click();
        },
        [&] {
            TSelectDirDlg* dialog = OpenChooser();
            ASSERT_NE(dialog, nullptr); // "No" kept it open
            EXPECT_FALSE(DirectoryExists(wanted));
            Boxes.Answer(IDYES);
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
    TRegKey RawKey()
    {
        TRegKey key;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, Key.substr(1).c_str(), 0, KEY_ALL_ACCESS, key.Put());
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
    EXPECT_FALSE(RawKey());
    EXPECT_TRUE(reg.OpenKey(Key, true));
    EXPECT_TRUE(RawKey());
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

} // namespace
