// Shell links made by TShellLink, read back through the shell's own IShellLinkA / IPersistFile,
// and the installer's shortcut set made below scratch Programs and desktop folders.
#include <gtest/gtest.h>

#include "Shelllink.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "FileCtrl.h"

namespace {

// "デスクトップdoduza"; the link names follow from it.
const std::string Product = "\x83\x66\x83\x58\x83\x4E\x83\x67\x83\x62\x83\x76" "doduza";
const std::string So = "\x83\x5C";     // "ソ": trail byte is "\"
const std::string Hyou = "\x95\x5C";   // "表": trail byte is "\"

std::wstring Wide(const std::string& Ansi)
{
    std::wstring wide(Ansi.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, Ansi.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
    return wide;
}

bool WideFileExists(const std::string& Ansi)
{
    return GetFileAttributesW((L"\\\\?\\" + Wide(Ansi)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct TLinkFields {
    HRESULT Load = E_FAIL;
    std::string Target, WorkingFolder, Icon, Description;
    int IconIndex = -1;
};

// Reads a link file the way the shell does, in an apartment of its own.
TLinkFields ReadLink(const std::string& LinkPath)
{
    TLinkFields f;
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        f.Load = file->Load(Wide(LinkPath).c_str(), STGM_READ);
        char buffer[1024] = {};
        link->GetPath(buffer, sizeof buffer, nullptr, SLGP_RAWPATH);
        f.Target = buffer;
        buffer[0] = '\0';
        link->GetWorkingDirectory(buffer, sizeof buffer);
        f.WorkingFolder = buffer;
        buffer[0] = '\0';
        link->GetIconLocation(buffer, sizeof buffer, &f.IconIndex);
        f.Icon = buffer;
        buffer[0] = '\0';
        link->GetDescription(buffer, sizeof buffer);
        f.Description = buffer;
    }
    if (file != nullptr) file->Release();
    if (link != nullptr) link->Release();
    CoUninitialize();
    return f;
}

std::vector<std::string> LinkFilesIn(const std::string& Folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA((Folder + "\\*.lnk").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do names.emplace_back(found.cFileName);
        while (FindNextFileA(find, &found));
        FindClose(find);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ShellLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
        Root = std::string(temp) + "shelllink_test_" + std::to_string(GetCurrentProcessId());
        std::filesystem::remove_all(Wide(Root));
        ASSERT_TRUE(ForceDirectories(Root + "\\programs") && ForceDirectories(Root + "\\desktop"));
    }
    void TearDown() override { std::filesystem::remove_all(Wide(Root)); }

    HRESULT Make(const std::string& Target, const std::string& LinkPath, int32_t IconIndex = 0)
    {
        return Shell.CreateShortcut(Target, LinkPath, Target, IconIndex, Product);
    }
    // The set below Root\programs; the desktop look-up is counted and answers Root\desktop.
    HRESULT MakeSet(const std::string& InstallFolder, bool Ticked, bool DesktopFound = true)
    {
        return CreateShortcutSet(Shell, Programs(), InstallFolder, [=] { return Ticked; },
                                 [this, DesktopFound](std::string& D) {
                                     ++DesktopLookups;
                                     if (DesktopFound) D = Root + "\\desktop";
                                     return DesktopFound;
                                 });
    }
    std::string Programs() const { return Root + "\\programs"; }
    std::string Group() const { return Programs() + "\\doduza"; }
    std::string Desktop() const { return Root + "\\desktop"; }

    TShellLink Shell;
    std::string Root;
    int DesktopLookups = 0;
};

TEST(ShortcutWorkingFolder, RuleTable)
{
    const struct {
        std::string Target, Expected;
    } cases[] = {
        {"c:\\a\\b\\x.exe", "c:\\a\\b"},
        {"c:\\x.exe", "c:\\"},                 // a drive root keeps its backslash
        {"c:x.exe", "c:"},
        {"x.exe", ""},
        {"", ""},
        {"c:\\a\\\\x.exe", "c:\\a\\\\"},       // folder typed with a trailing backslash
        {"\\\\srv\\share\\x.exe", "\\\\srv\\share"},
        {"\\x.exe", "\\"},
        {"c:\\a\\" + So + "\\x.exe", "c:\\a\\" + So},     // 5C before the last "\" is a trail byte
        {"c:\\" + Hyou + "\\x.exe", "c:\\" + Hyou},
        {"c:\\a\\" + So + "\\\\x.exe", "c:\\a\\" + So + "\\\\"},
        {"c:\\" + So, "c:\\"},                 // a trailing trail byte is no separator
        {"c:\\a\\" + So + Hyou, "c:\\a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShortcutWorkingFolder(c.Target), c.Expected) << c.Target;
    }
}

TEST_F(ShellLinkTest, FieldsReadBackThroughTheShell)
{
    const std::string jp = Root + "\\" + So + "\\" + Hyou; // both names end in a 0x5C trail byte
    ASSERT_TRUE(ForceDirectories(jp));
    // The shell stores the target as a full path (a doubled "\" folds); the rest as given.
    const struct {
        std::string Target, LinkPath, WorkingFolder;
        int32_t IconIndex;
        std::string StoredTarget;
    } cases[] = {
        {"c:\\Program Files\\Ruviva\\VodidavorAd\\vodidavorad.exe", Root + "\\below.lnk",
         "c:\\Program Files\\Ruviva\\VodidavorAd", 0, ""},
        {"c:\\Ruviva\\\\update.exe", Root + "\\trailing.lnk", "c:\\Ruviva\\\\", 0, "c:\\Ruviva\\update.exe"},
        {"c:\\uninst.exe", Root + "\\root.lnk", "c:\\", 3, ""},
        {jp + "\\update.exe", jp + "\\" + Product + ".lnk", jp, 0, ""},
        {"d:\\" + So + "\\" + Hyou + "\\update.exe", Root + "\\" + So + ".lnk", "d:\\" + So + "\\" + Hyou, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.LinkPath);
        ASSERT_GE(Make(c.Target, c.LinkPath, c.IconIndex), 0); // targets need not exist
        const TLinkFields f = ReadLink(c.LinkPath);
        ASSERT_EQ(f.Load, S_OK);
        EXPECT_EQ(f.Target, c.StoredTarget.empty() ? c.Target : c.StoredTarget);
        EXPECT_EQ(f.WorkingFolder, c.WorkingFolder);
        EXPECT_EQ(f.Icon, c.Target);
        EXPECT_EQ(f.IconIndex, c.IconIndex);
        EXPECT_EQ(f.Description, Product);
    }
}

TEST_F(ShellLinkTest, LinkPathMustFitTheConversionBuffer)
{
    const std::string folder = Root + "\\" + std::string(100, 'a');
    const std::string jpFolder = Root + "\\" + [] { std::string s; for (int i = 0; i < 60; ++i) s += "\x95\x5C"; return s; }();
    ASSERT_TRUE(ForceDirectories(folder) && ForceDirectories(jpFolder));
    const auto ofLength = [&](std::size_t Units) { // ASCII: one unit per byte
        return folder + "\\" + std::string(Units - folder.size() - 5, 'b') + ".lnk";
    };
    const HRESULT tooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    const struct {
        std::string LinkPath;
        HRESULT Expected;
    } cases[] = {
        {ofLength(259), S_OK},                        // with its zero: exactly 260 units
        {ofLength(260), tooLong},
        {ofLength(400), tooLong},
        {jpFolder + "\\" + jpFolder.substr(Root.size() + 1) + ".lnk", S_OK}, // over 260 bytes, under 260 units
        {Root + "\\cut" + std::string(1, '\0') + "off.lnk", E_INVALIDARG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.LinkPath.size());
        EXPECT_EQ(Make("c:\\x\\update.exe", c.LinkPath), c.Expected);
        EXPECT_EQ(WideFileExists(c.LinkPath), c.Expected == S_OK);
    }
    EXPECT_FALSE(WideFileExists(Root + "\\cut")); // not saved under the shortened name
}

TEST_F(ShellLinkTest, ComIsBalancedAroundEachShortcut)
{
    // Left uninitialised, on success and on a refused path alike.
    for (const std::string& link : {Root + "\\ok.lnk", Root + "\\" + std::string(300, 'z') + ".lnk"}) {
        Make("c:\\x\\update.exe", link);
        const HRESULT mta = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_EQ(mta, S_OK) << "apartment left behind after " << link.size() << " bytes";
        CoUninitialize();
    }
    // A caller's own apartment (CoInitialize answers 1) is used and left in place.
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(Make("c:\\x\\update.exe", Root + "\\sta.lnk"), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    // A multithreaded caller: CoInitialize refuses, its code is the result, nothing is written.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(Make("c:\\x\\update.exe", Root + "\\mta.lnk"), RPC_E_CHANGED_MODE);
    CoUninitialize();
    EXPECT_FALSE(FileExists(Root + "\\mta.lnk"));
}

TEST(ShellLinkSpecialFolders, RealLookups)
{
    TShellLink shell;
    for (const int csidl : {2, 16}) {
        std::string path;
        ASSERT_TRUE(shell.GetSpecialFolderPath(nullptr, csidl, path)) << csidl;
        EXPECT_TRUE(DirectoryExists(path)) << path;
        EXPECT_NE(path.back(), '\\') << path;
    }
    // No file-system path (the computer's drives), and no such folder at all.
    for (const int csidl : {CSIDL_DRIVES, 0x7F}) {
        std::string path = "untouched";
        EXPECT_FALSE(shell.GetSpecialFolderPath(nullptr, csidl, path)) << csidl;
        EXPECT_EQ(path, "untouched");
    }
}

// --- the installer's set ---------------------------------------------------------------------

const std::string Start = "\x8B\x4E\x93\xAE";                                  // "起動"
const std::string Uninstall = "\x83\x41\x83\x93\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B"; // "アンインストール"

// Every link of the group points to Folder's programs as the table of names says.
void ExpectGroup(const std::string& Group, const std::string& Folder)
{
    const std::pair<std::string, std::string> expected[] = {
        {Product + ".lnk", "vodidavorad.exe"},
        {Product + Start + ".lnk", "update.exe"},
        {Product + Uninstall + ".lnk", "uninst.exe"},
    };
    std::vector<std::string> names;
    for (const auto& [name, program] : expected) {
        names.push_back(name);
        const TLinkFields f = ReadLink(Group + "\\" + name);
        EXPECT_EQ(f.Load, S_OK) << name;
        EXPECT_EQ(f.Target, Folder + "\\" + program) << name;
        EXPECT_EQ(f.Icon, Folder + "\\" + program) << name;
        EXPECT_EQ(f.IconIndex, 0) << name;
        EXPECT_EQ(f.WorkingFolder, Folder) << name;
        EXPECT_EQ(f.Description, Product) << name;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(LinkFilesIn(Group), names);
}

TEST_F(ShellLinkTest, SetWithBoxUntickedIsThreeLinksInTheGroup)
{
    const std::string folder = "c:\\Program Files\\Ruviva\\" + So + Hyou;
    EXPECT_EQ(MakeSet(folder, false), S_OK);
    ExpectGroup(Group(), folder);
    EXPECT_EQ(DesktopLookups, 0);
    EXPECT_TRUE(LinkFilesIn(Desktop()).empty());
}

TEST_F(ShellLinkTest, SecondInstallReplacesLinksAndReusesTheGroup)
{
    EXPECT_EQ(MakeSet("c:\\first", true), S_OK);
    EXPECT_EQ(MakeSet("d:\\second", true), S_OK);
    ExpectGroup(Group(), "d:\\second");
    ASSERT_EQ(LinkFilesIn(Desktop()), std::vector<std::string>{Product + ".lnk"});
    EXPECT_EQ(ReadLink(Desktop() + "\\" + Product + ".lnk").Target, "d:\\second\\update.exe");
    EXPECT_EQ(DesktopLookups, 2);
}

TEST_F(ShellLinkTest, DesktopBoxIsReadAfterTheGroupLinks)
{
    std::vector<std::size_t> linksWhenAsked; // asked once, when the group is complete
    const HRESULT first = CreateShortcutSet(
        Shell, Programs(), "c:\\f",
        [&] { linksWhenAsked.push_back(LinkFilesIn(Group()).size()); return true; },
        [&](std::string& D) { D = Desktop(); return true; });
    EXPECT_EQ(first, S_OK);
    EXPECT_EQ(linksWhenAsked, std::vector<std::size_t>{3});
    EXPECT_EQ(LinkFilesIn(Desktop()).size(), 1u);
}

TEST_F(ShellLinkTest, DesktopNotFoundSkipsOnlyTheDesktopLink)
{
    EXPECT_EQ(MakeSet("c:\\f", true, false), S_OK);
    EXPECT_EQ(DesktopLookups, 1);
    EXPECT_EQ(LinkFilesIn(Group()).size(), 3u);
}

TEST_F(ShellLinkTest, FileInPlaceOfTheGroupFailsEveryLink)
{
    const HANDLE blocker = CreateFileA(Group().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(blocker, INVALID_HANDLE_VALUE);
    CloseHandle(blocker);
    EXPECT_LT(MakeSet("c:\\f", true), 0);
    EXPECT_EQ(DesktopLookups, 0);
    EXPECT_TRUE(FileExists(Group()));
    EXPECT_TRUE(LinkFilesIn(Desktop()).empty());
}

TEST_F(ShellLinkTest, FirstLinkFailingStillMakesTheOthersButNoDesktopLink)
{
    // A folder where shortcut 1's file would go: only that save fails.
    ASSERT_TRUE(ForceDirectories(Group() + "\\" + Product + ".lnk"));
    EXPECT_LT(MakeSet("c:\\f", true), 0);
    EXPECT_EQ(ReadLink(Group() + "\\" + Product + Start + ".lnk").Target, "c:\\f\\update.exe");
    EXPECT_EQ(ReadLink(Group() + "\\" + Product + Uninstall + ".lnk").Target, "c:\\f\\uninst.exe");
    EXPECT_EQ(DesktopLookups, 0);
    EXPECT_TRUE(LinkFilesIn(Desktop()).empty());
}

} // namespace
