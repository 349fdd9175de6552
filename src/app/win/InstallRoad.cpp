#include "app/win/InstallRoad.h"

#include "app/win/Dlsetup.h"
#include "app/win/InstallLog.h"
#include "app/win/Shelllink.h"
#include "payload/Archive.h"
#include "toolkit/FileCtrl.h"
#include "toolkit/win/Registry.h"
#include "toolkit/win/ResourceStream.h"
#include "toolkit/win/RestartManager.h"

namespace {
const char* const SFolderFailed = "ディレクトリ作成に失敗しました";
const char* const SRegistryFailed = "予期せぬエラーが発生しました　起動できません";
const char* const SDecodeFailed = "セットアップが正常に終了できませんでした";
const char* const SShortcutFailed = "ショートカットの作成に失敗しました";
const char* const SSucceeded = "セットアップが正常に終了しました";
const char* const SNoProgramsFolder = "スタートメニューのプログラムフォルダが見つかりません";

// Writes the payload to ExeFolder + "work.tmp" and returns that path. A folder that cannot take
// it (a CD, a read-only share, a locked-down folder) gives way to the user's temporary folder.
std::string SaveWorkFile(const std::string& ExeFolder)
{
    TResourceStream payload(GetModuleHandleA(nullptr), SPayloadName, SPayloadType);
    const std::string beside = ExeFolder + SWorkFileName;
    try {
        payload.SaveToFile(beside);
        return beside;
    } catch (const EStreamError&) {
        char temp[MAX_PATH + 1] = {};
        const DWORD n = GetTempPathA(sizeof temp, temp);
        if (n == 0 || n > MAX_PATH) {
            throw;
        }
        const std::string instead = std::string(temp, n) + SWorkFileName;
        payload.SaveToFile(instead);
        return instead;
    }
}

// The walk's reports, logged and passed on to the site's progress (when it has one). Files in
// use are named with the programs the system names; without a progress to ask, they end the
// walk at once.
class TLoggedProgress : public TExtractProgress {
public:
    TLoggedProgress(TExtractProgress* Inner, TInstallLog& Log) : FInner(Inner), FLog(Log) {}

    void Starting(uint64_t ArchiveSize) override
    {
        if (FInner) FInner->Starting(ArchiveSize);
    }
    void Writing(const std::string& Path) override
    {
        FPath = Path;
        if (FInner) FInner->Writing(Path);
    }
    void Consumed(uint64_t ConsumedBytes, uint64_t ArchiveSize) override
    {
        FLog.Line("ファイル: " + FPath);
        if (FInner) FInner->Consumed(ConsumedBytes, ArchiveSize);
    }
    void Finished() override
    {
        if (FInner) FInner->Finished();
    }
    void ShowError(const std::string& Message) override
    {
        FLog.Failure(Message, GetLastError());
        if (FInner) FInner->ShowError(Message);
    }
    bool RetryFilesInUse(const std::vector<std::string>& Files) override
    {
        std::string programs;
        for (const std::string& name : ProgramsHolding(Files)) programs += (programs.empty() ? "" : "、") + name;
        for (const std::string& file : Files) {
            FLog.Line("使用中のファイル: " + file + (programs.empty() ? "" : "（" + programs + "）"));
        }
        FRefused = !FInner || !FInner->RetryFilesInUse(Files);
        return !FRefused;
    }
    // Whether the walk ended at files in use that were not let go.
    bool Refused() const noexcept { return FRefused; }

private:
    TExtractProgress* FInner;
    TInstallLog& FLog;
    std::string FPath;
    bool FRefused = false;
};
} // namespace

TSetupOutcome TInstallRoad::Run(const std::string& Folder, const std::string& ExeFolder)
{
    try {
        return Steps(Folder, ExeFolder);
    } catch (const std::exception& E) {
        FLog.Failure(E.what(), GetLastError());
        throw;
    }
}

TSetupOutcome TInstallRoad::Steps(const std::string& Folder, const std::string& ExeFolder)
{
    TRegistry registry;
    UseInstallRecord(registry);
    const auto fail = [&](const char* Text, DWORD Error, TSetupOutcome Outcome) {
        FLog.Failure(Text, Error);
        FSite.Tell(Text);
        return Outcome;
    };

    // 1. The install folder, exactly as given. An existing folder counts as created; a text that
    // is not a full path raises, even when it names a folder under the current one.
    FStep = TSetupOutcome::FolderRefused;
    FLog.Line("セットアップ先フォルダ: " + Folder);
    if (!ForceDirectories(Folder)) {
        return fail(SFolderFailed, GetLastError(), TSetupOutcome::FolderFailed);
    }

    // 2. The registry record, before any file is written.
    FStep = TSetupOutcome::RecordFailed;
    if (!registry.OpenKey(SInstallKey, true)) {
        return fail(SRegistryFailed, static_cast<DWORD>(registry.LastError()), TSetupOutcome::RecordFailed);
    }
    registry.WriteString(SInstallValue, Folder);
    FLog.Line(std::string("レジストリ: HKEY_LOCAL_MACHINE") + SInstallKey + "\\" + SInstallValue + " = " + Folder);

    // 3. The work file next to the executable; it is kept afterwards.
    FStep = TSetupOutcome::WorkFileFailed;
    const std::string workFile = SaveWorkFile(ExeFolder);
    FLog.Line("作業ファイル: " + workFile);

    // 4. Decoding.
    FStep = TSetupOutcome::DecodeFailed;
    TLoggedProgress progress(FSite.Progress(), FLog);
    if (FSite.Extractor().ExtractArchive(workFile, Folder, progress) < 1) {
        return fail(SDecodeFailed, 0, progress.Refused() ? TSetupOutcome::FilesInUse : TSetupOutcome::DecodeFailed);
    }

    // 5. Shortcuts, 6. the closing message.
    FStep = TSetupOutcome::ShortcutsFailed;
    const auto made = [&](const std::string& Link, HRESULT Code) {
        if (SUCCEEDED(Code)) {
            FLog.Line("ショートカット: " + Link);
        } else {
            FLog.Failure(std::string(SShortcutFailed) + ": " + Link, static_cast<DWORD>(Code));
        }
    };
    switch (CreateProductShortcuts(FSite.ShellLink(), FSite.Owner(), Folder, [this] { return FSite.DesktopShortcut(); }, made)) {
    case TShortcutOutcome::ProgramsFolderNotFound:
        FLog.Failure(SNoProgramsFolder, 0);
        return TSetupOutcome::ShortcutsFailed;
    case TShortcutOutcome::FirstShortcutFailed:
        FSite.Tell(SShortcutFailed);
        return TSetupOutcome::ShortcutsFailed;
    case TShortcutOutcome::FirstShortcutCreated:
        break;
    }
    FLog.Line(SSucceeded);
    FSite.Tell(SSucceeded);
    return TSetupOutcome::Installed;
}
