// Setup.exe's command line, its exit codes and the log's lines.
#include <gtest/gtest.h>

#include <set>

#include "app/LogLine.h"
#include "app/SetupCommand.h"

namespace {

TEST(SetupCommand, Parses)
{
    const struct {
        const char* Line;
        bool Silent, NoDesktop;
        const char* Folder;
        const char* Log;
        const char* Bad; // nullptr: a good command line
    } cases[] = {
        {"", false, false, "", "", nullptr},
        {"  /S\t/NODESKTOP  ", true, true, "", "", nullptr},
        {"/s /NoDesktop /log=c:\\a.log", true, true, "", "c:\\a.log", nullptr},
        {"/S /D=c:\\Program Files\\日本 語 ", true, false, "c:\\Program Files\\日本 語", "", nullptr},
        {"/D=c:\\x /S", false, false, "c:\\x /S", "", nullptr}, // the rest of the line is the folder
        {"/S /D=\"c:\\a b\"", true, false, "c:\\a b", "", nullptr},
        {"/S \"/D=c:\\a b\"", true, false, "c:\\a b", "", nullptr},
        {"\"/LOG=c:\\my logs\\s.log\" /S", true, false, "", "c:\\my logs\\s.log", nullptr},
        {"/D=relative", false, false, "relative", "", nullptr}, // refused later, as the folder box's text
        // bad
        {"/S /X", true, false, "", "", "/X"},
        {"ignored --arguments", false, false, "", "", "ignored"},
        {"/S /LOG=", true, false, "", "", "/LOG="},
        {"/S /D=  ", true, false, "", "", "/D="},
        {"/S /S", true, false, "", "", "/S"},
        {"/LOG=a /LOG=b", false, false, "", "a", "/LOG=b"},
        {"/S \"/LOG=c:\\a", true, false, "", "", "\"/LOG=c:\\a"},
        {"\"/D=c:\\a\" /S", false, false, "c:\\a", "", "/S"},
        {"/D=c:\\a\"b", false, false, "", "", "/D=c:\\a\"b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        const TSetupCommand command = ParseSetupCommand(c.Line);
        EXPECT_EQ(command.Silent, c.Silent);
        EXPECT_EQ(command.NoDesktop, c.NoDesktop);
        EXPECT_EQ(command.Folder, c.Folder);
        EXPECT_EQ(command.LogFile, c.Log);
        EXPECT_EQ(command.BadCommandLine, c.Bad != nullptr);
        EXPECT_EQ(command.Bad, c.Bad != nullptr ? c.Bad : "");
    }
}

TEST(SetupCommand, EveryOutcomeHasItsOwnExitCode)
{
    std::set<int> codes;
    for (int o = 0; o <= static_cast<int>(TSetupOutcome::Unforeseen); ++o) {
        codes.insert(ExitCodeOf(static_cast<TSetupOutcome>(o)));
    }
    EXPECT_EQ(codes.size(), static_cast<std::size_t>(TSetupOutcome::Unforeseen) + 1);
    // The numbers deployment tools know from Windows Installer.
    EXPECT_EQ(ExitCodeOf(TSetupOutcome::Installed), 0);
    EXPECT_EQ(ExitCodeOf(TSetupOutcome::DecodeFailed), 1603);
    EXPECT_EQ(ExitCodeOf(TSetupOutcome::AnotherSetup), 1618);
    EXPECT_EQ(ExitCodeOf(TSetupOutcome::BadCommandLine), 1639);
}

TEST(LogLine, OneLinePerStep)
{
    const TLogTime time{2024, 6, 1, 9, 5, 3};
    const struct {
        const char* Text;
        const char* Line;
    } cases[] = {
        {"フォルダ: c:\\a", "2024-06-01 09:05:03 フォルダ: c:\\a\r\n"},
        {"ファイルを作成できませんでした\nc:\\a\\b", "2024-06-01 09:05:03 ファイルを作成できませんでした c:\\a\\b\r\n"},
        {"a\r\n\r\nb\n", "2024-06-01 09:05:03 a b\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatLogLine(time, c.Text), c.Line);
    }
}

} // namespace
