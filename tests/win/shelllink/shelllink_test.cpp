// Shell links made by TShellLink, read back through the shell's own IShellLinkA / IPersistFile,
// and the installer's shortcut set made below scratch Programs and desktop folders.
#include <gtest/gtest.h>

#include "app/win/Shelllink.h"

#include <objbase.h>
#include <shlobj.h>

#include <filesystem>
#include <vector>

#include "toolkit/FileCtrl.h"
#include "toolkit/win/Handles.h"

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
    const TComInitialization apartment;
    TComRef<IShellLinkA> link;
    TComRef<IPersistFile> file;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.Put())) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.Put()))) {
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
    return f;
}

std::size_t LinkCount(const std::string& Folder)
{
    std::size_t n = 0;
    WIN32_FIND_DATAA found;
    const TFindHandle find(FindFirstFileA((Folder + "\\*.lnk").c_str(), &found));
    if (find) {
        do ++n;
        while (FindNextFileA(find.Get(), &found));
    }
    return n;
}

class ShellLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
        Root = std::string(temp) + "shelllink_test_" + std::to_string(GetCurrentProcessId());
        std::filesystem::remove_all(Wide(Root));
        ASSERT_TRUE(ForceDirectories(Root));
    }
    void TearDown() override { std::filesystem::remove_all(Wide(Root)); }

    HRESULT Make(const std::string& Target, const std::string& LinkPath, int32_t IconIndex = 0)
    {
        return Shell.CreateShortcut(Target, LinkPath, Target, IconIndex, Product);
    }
    TShellLink Shell;
    std::string Root;
};

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
    std::string hyou60;
    for (int i = 0; i < 60; ++i) hyou60 += Hyou;
    const std::string jpFolder = Root + "\\" + hyou60;
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
        {jpFolder + "\\" + hyou60 + ".lnk", S_OK}, // over 260 bytes, under 260 units
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

const std::string Start = "\x8B\x4E\x93\xAE"; // "起動"
// "アンインストール"
const std::string Uninstall = "\x83\x41\x83\x93\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B";

void ExpectLink(const std::string& LinkPath, const std::string& Folder, const std::string& Program)
{
    const TLinkFields f = ReadLink(LinkPath);
    EXPECT_EQ(f.Load, S_OK) << LinkPath;
    EXPECT_EQ(f.Target, Folder + "\\" + Program) << LinkPath;
    EXPECT_EQ(f.Icon, Folder + "\\" + Program) << LinkPath;
    EXPECT_EQ(f.IconIndex, 0) << LinkPath;
    EXPECT_EQ(f.WorkingFolder, Folder) << LinkPath;
    EXPECT_EQ(f.Description, Product) << LinkPath;
}

TEST_F(ShellLinkTest, ShortcutSet)
{
    enum TBlocker { None, FileAsGroup, FolderAsFirstLink };
    const std::string folder = "c:\\Program Files\\Ruviva\\" + So + Hyou;
    const std::pair<std::string, std::string> group[] = {
        {Product + ".lnk", "vodidavorad.exe"},
        {Product + Start + ".lnk", "update.exe"},
        {Product + Uninstall + ".lnk", "uninst.exe"},
    };
    const struct {
        bool Ticked, DesktopFound;
        TBlocker Blocker;
        bool FirstCreated;
        int Lookups, DesktopLinks, FirstGroupLink; // group links from this index on are made
    } cases[] = {
        {false, true, None, true, 0, 0, 0},
        {true, true, None, true, 1, 1, 0},
        {true, false, None, true, 1, 0, 0},
        {true, true, FileAsGroup, false, 0, 0, 3},
        {true, true, FolderAsFirstLink, false, 0, 0, 1}, // 2 and 3 are still made
    };
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const auto& c = cases[row];
        SCOPED_TRACE(row);
        const std::string programs = Root + "\\" + std::to_string(row), desktop = programs + "\\desktop";
        const std::string groupFolder = programs + "\\doduza";
        ASSERT_TRUE(ForceDirectories(desktop));
        if (c.Blocker == FileAsGroup) {
            ASSERT_TRUE(TKernelHandle(CreateFileA(groupFolder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
        } else if (c.Blocker == FolderAsFirstLink) {
            ASSERT_TRUE(ForceDirectories(groupFolder + "\\" + group[0].first));
        }
        int lookups = 0;
        std::vector<std::string> lastLinkWhenBoxRead; // the box is read once the group is made
        const auto run = [&](const std::string& F) {
            return CreateShortcutSet(
                Shell, programs, F,
                [&] {
                    lastLinkWhenBoxRead.push_back(ReadLink(groupFolder + "\\" + group[2].first).Target);
                    return c.Ticked;
                },
                [&](std::string& D) { ++lookups; if (c.DesktopFound) D = desktop; return c.DesktopFound; });
        };
        if (c.FirstCreated) { // an earlier install: its links are replaced, its group reused
            ASSERT_EQ(run("d:\\old"), S_OK);
            lookups = 0;
            lastLinkWhenBoxRead.clear();
        }
        const HRESULT first = run(folder);
        EXPECT_EQ(first >= 0, c.FirstCreated) << std::hex << first;
        if (c.FirstCreated) {
            EXPECT_EQ(lastLinkWhenBoxRead, std::vector<std::string>{folder + "\\uninst.exe"});
            EXPECT_EQ(LinkCount(groupFolder), 3u);
        }
        for (std::size_t i = static_cast<std::size_t>(c.FirstGroupLink); i < std::size(group); ++i) {
            ExpectLink(groupFolder + "\\" + group[i].first, folder, group[i].second);
        }
        EXPECT_EQ(lookups, c.Lookups);
        EXPECT_EQ(LinkCount(desktop), static_cast<std::size_t>(c.DesktopLinks));
        if (c.DesktopLinks > 0) ExpectLink(desktop + "\\" + Product + ".lnk", folder, "update.exe");
    }
}

} // namespace
