#include "app/SetupCommand.h"

#include "toolkit/SysUtils.h"

namespace {

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

// The switch's value when Argument is Name followed by it ("/LOG=" and "/log=a" give "a").
bool TakeValue(std::string_view Argument, std::string_view Name, std::string& Value)
{
    if (Argument.size() < Name.size() || !SameText(Argument.substr(0, Name.size()), Name)) return false;
    Value = std::string(Argument.substr(Name.size()));
    return true;
}

} // namespace

TSetupCommand ParseSetupCommand(std::string_view Arguments)
{
    TSetupCommand command;
    const auto bad = [&](std::string_view Text) {
        if (!command.BadCommandLine) command.Bad = std::string(Text);
        command.BadCommandLine = true;
    };
    bool seenS = false;
    bool seenNoDesktop = false;
    bool seenLog = false;
    std::size_t i = 0;
    while (i < Arguments.size()) {
        if (IsBlank(Arguments[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        std::string argument;
        bool quoted = false;
        // An argument ends at a blank outside quotes; the quotes themselves are dropped.
        for (; i < Arguments.size() && (quoted || !IsBlank(Arguments[i])); ++i) {
            if (Arguments[i] == '"') {
                quoted = !quoted;
            } else {
                argument += Arguments[i];
            }
        }
        const std::string_view raw = Arguments.substr(start, i - start);
        std::string value;
        if (quoted) {
            bad(raw); // a quote that is never closed
        } else if (raw.size() >= 3 && SameText(raw.substr(0, 3), "/D=")) {
            // The rest of the line, spaces included; a pair of quotes round it is dropped.
            std::string_view rest = Arguments.substr(start + 3);
            while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
            if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') rest = rest.substr(1, rest.size() - 2);
            if (rest.empty() || rest.find('"') != std::string_view::npos) {
                bad(raw);
            }
            command.Folder = std::string(rest);
            break;
        } else if (SameText(argument, "/S") && !seenS) {
            command.Silent = seenS = true;
        } else if (SameText(argument, "/NODESKTOP") && !seenNoDesktop) {
            command.NoDesktop = seenNoDesktop = true;
        } else if (TakeValue(argument, "/LOG=", value) && !value.empty() && !seenLog) {
            command.LogFile = value;
            seenLog = true;
        } else if (TakeValue(argument, "/D=", value) && !value.empty()) {
            command.Folder = value; // quoted as a whole: it still ends the line
            const std::size_t after = Arguments.find_first_not_of(" \t", i);
            if (after != std::string_view::npos) {
                bad(Arguments.substr(after));
            }
            break;
        } else {
            bad(raw);
        }
    }
    return command;
}

int ExitCodeOf(TSetupOutcome Outcome) noexcept
{
    switch (Outcome) {
    case TSetupOutcome::Installed: return 0;
    case TSetupOutcome::FolderRefused: return 161;    // ERROR_BAD_PATHNAME
    case TSetupOutcome::FolderFailed: return 82;      // ERROR_CANNOT_MAKE
    case TSetupOutcome::RecordFailed: return 1013;    // ERROR_CANTWRITE (a registry key)
    case TSetupOutcome::WorkFileFailed: return 1632;  // ERROR_INSTALL_TEMP_UNWRITABLE
    case TSetupOutcome::DecodeFailed: return 1603;    // ERROR_INSTALL_FAILURE
    case TSetupOutcome::FilesInUse: return 32;        // ERROR_SHARING_VIOLATION
    case TSetupOutcome::ShortcutsFailed: return 3;    // ERROR_PATH_NOT_FOUND
    case TSetupOutcome::AnotherSetup: return 1618;    // ERROR_INSTALL_ALREADY_RUNNING
    case TSetupOutcome::BadCommandLine: return 1639;  // ERROR_INVALID_COMMAND_LINE
    case TSetupOutcome::LogFailed: return 1622;       // ERROR_INSTALL_LOG_FAILURE
    case TSetupOutcome::Unforeseen: return 1359;      // ERROR_INTERNAL_ERROR
    }
    return 1359;
}

std::string BadCommandLineMessage(const std::string& Bad)
{
    return "コマンドラインが正しくありません：" + Bad +
           "\n\n"
           "使用できるスイッチ\n"
           "/S　画面を表示せずにセットアップします\n"
           "/D=フォルダ　セットアップ先フォルダ（最後に指定してください）\n"
           "/NODESKTOP　デスクトップにショートカットを作成しません\n"
           "/LOG=ファイル　セットアップの記録をファイルに書き込みます";
}
