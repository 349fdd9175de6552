#include "app/win/Unattended.h"

#include <string>

#include "app/win/Dlsetup.h"
#include "app/win/InstallRoad.h"
#include "payload/Archive.h"
#include "toolkit/FileCtrl.h"
#include "toolkit/SysUtils.h"
#include "toolkit/win/Application.h"
#include "toolkit/win/Handles.h"

const char* const SSetupMutexName = "Local\\Ruviva.doduza.Setup";

namespace {
const char* const SAnotherSetup = "セットアップは既に実行中です";
const char* const SLogFailed = "ログファイルを作成できませんでした";

std::string ModuleFolder()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) return ExtractFilePath(path.substr(0, n));
        path.resize(path.size() * 2);
    }
}

// No window, no box: the folder from /D= or as the window would propose it, the desktop
// shortcut unless /NODESKTOP, and files in use end the walk at once.
class TSilentSite : public TInstallSite {
public:
    explicit TSilentSite(bool Desktop) : FDesktop(Desktop) {}
    void Tell(const std::string&) override {}
    bool DesktopShortcut() override { return FDesktop; }
    TArchiveExtractor& Extractor() override { return FExtractor; }
    TExtractProgress* Progress() override { return nullptr; }
    TShellLink& ShellLink() override { return FShellLink; }
    HWND Owner() override { return nullptr; }

private:
    bool FDesktop;
    TArchiveExtractor FExtractor;
    TShellLink FShellLink;
};

TSetupOutcome RunSilent(const TSetupCommand& Command, TInstallLog& Log)
{
    TSilentSite site(!Command.NoDesktop);
    TInstallRoad road(site, Log);
    try {
        const std::string folder = Command.Folder.empty() ? ProposedInstallFolder() : Command.Folder;
        return road.Run(folder, ModuleFolder());
    } catch (const std::exception& E) {
        // The road logs what escapes its steps; what came before them is logged here.
        if (road.Failed() == TSetupOutcome::Unforeseen) Log.Failure(E.what(), 0);
        return road.Failed();
    }
}

void RunWindow(const TSetupCommand& Command, TInstallLog& Log)
{
    try {
        Application->Initialize();
        Application->SetTitle(SApplicationTitle);
        CreateSetupForms();
        SetupForm->Preset(Command.Folder, !Command.NoDesktop);
        SetupForm->SetLog(Log);
        Application->Run();
    } catch (const std::exception& e) {
        Application->ShowException(e);
    }
    Application->DestroyComponents();
}

// A box of the window road before any window of the program is up.
void Box(const std::string& Text)
{
    Application->SetTitle(SApplicationTitle);
    Application->MessageBox(Text, SApplicationTitle, MB_OK);
}

int Finish(TInstallLog& Log, int Code)
{
    Log.Line("終了コード: " + std::to_string(Code));
    return Code;
}
} // namespace

int RunSetup(std::string_view Arguments)
{
    const TSetupCommand command = ParseSetupCommand(Arguments);
    TInstallLog log;
    const std::string started = "開始: " + std::string(Trim(Arguments));
    if (command.BadCommandLine) {
        if (!command.LogFile.empty() && log.Open(command.LogFile)) {
            log.Line(started);
            log.Failure(BadCommandLineMessage(command.Bad), 0);
        }
        if (!command.Silent) Box(BadCommandLineMessage(command.Bad));
        return Finish(log, ExitCodeOf(TSetupOutcome::BadCommandLine));
    }

    // Held until the process ends. A mutex that exists but cannot be opened belongs to a Setup
    // of another user in this session: it runs as well.
    const TKernelHandle mutex(CreateMutexA(nullptr, FALSE, SSetupMutexName));
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        // The running Setup's log is its own: this one writes to it only when it can open it.
        if (!command.LogFile.empty() && log.Open(command.LogFile)) log.Line(started);
        log.Failure(SAnotherSetup, 0);
        if (!command.Silent) Box(SAnotherSetup);
        return Finish(log, command.Silent ? ExitCodeOf(TSetupOutcome::AnotherSetup) : 0);
    }
    if (!command.LogFile.empty() && !log.Open(command.LogFile)) {
        if (!command.Silent) Box(std::string(SLogFailed) + "\n" + command.LogFile);
        return ExitCodeOf(TSetupOutcome::LogFailed);
    }
    log.Line(started);
    if (command.Silent) {
        return Finish(log, ExitCodeOf(RunSilent(command, log)));
    }
    RunWindow(command, log);
    return Finish(log, 0);
}
