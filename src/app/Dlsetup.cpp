#include "app/Dlsetup.h"

#include <memory>
#include <vector>

#include "toolkit/win/Application.h"
#include "payload/Compress.h"
#include "toolkit/FileCtrl.h"
#include "common/Library.h"
#include "toolkit/win/Registry.h"
#include "toolkit/win/ResourceStream.h"
#include "toolkit/win/SelectDir.h"
#include "mail/win/Senddata.h"
#include "toolkit/SysUtils.h"

TSetupForm* SetupForm = nullptr;
TShellLink* ShellLink = nullptr;

const char* const SApplicationTitle = "doduza　領収書発行セットアップ";
const char* const SInstallKey = "\\Software\\Ruviva Co.,Ltd.\\rizud";
const char* const SInstallValue = "Path";
const char* const SDefaultParent = "c:\\Program Files\\";
const char* const SDefaultSubfolder = "Ruviva\\VodidavorAd";
const char* const SBareParent = "c:\\Program Files";
const char* const SWorkFileName = "work.tmp";
const char* const SPayloadType = "smz";
const char* const SPayloadName = "davareduravu";

namespace {
const char* const STitlePlaceholder = "TITLE";
const char* const SFolderFailed = "ディレクトリ作成に失敗しました";
const char* const SRegistryFailed = "予期せぬエラーが発生しました　起動できません";
const char* const SDecodeFailed = "セットアップが正常に終了できませんでした";
const char* const SShortcutFailed = "ショートカットの作成に失敗しました";
const char* const SSucceeded = "セットアップが正常に終了しました";

std::string ModuleFileName()
{
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n < buffer.size()) {
            return std::string(buffer.data(), n);
        }
        buffer.resize(buffer.size() * 2);
    }
}

// The record lives in the 32-bit view, where the product's own 32-bit programs (its updater,
// its uninstaller) read it, whatever this build is.
void UseInstallRecord(TRegistry& Registry)
{
    Registry.SetRootKey(HKEY_LOCAL_MACHINE);
    Registry.SetAccess(KEY_ALL_ACCESS | KEY_WOW64_32KEY);
}

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

TFont WhiteFont(const TFont& Base)
{
    TFont font = Base;
    font.Color = clWhite;
    return font;
}
} // namespace

std::string InstallFolderFromChoice(const std::string& Chosen)
{
    if (CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, Chosen.c_str(), static_cast<int>(Chosen.size()), SBareParent, -1) ==
        CSTR_EQUAL) {
        return Chosen + "\\" + SDefaultSubfolder;
    }
    return Chosen;
}

void CreateSetupForms()
{
    Application->CreateForm(SetupForm);
    Application->CreateForm(SendDataForm);
    Application->CreateForm(CompressForm);
}

TSetupForm::TSetupForm(TComponent* AOwner) : TForm(AOwner)
{
    SetCaption(std::string(SProductName) + "Setup");
    SetBorderStyle(TBorderStyle::bsSizeable);
    SetPosition(TPosition::poScreenCenter);
    SetColor(clBlack);
    TFont font;
    font.Name = "ＭＳ Ｐゴシック";
    font.Height = 12;
    SetFont(font);
    SetBounds(Left(), Top(), 465, 229);

    // Windowed controls are created in tab order: the start button first, so it has the focus.
    SetupButton = new TButton(this, this);
    SetupButton->SetBounds(88, 140, 135, 35);
    SetupButton->SetCaption("セットアップ開始");
    SetupButton->OnClick = [this](TObject* Sender) { SetupButtonClick(Sender); };

    Button1 = new TButton(this, this);
    Button1->SetBounds(232, 140, 135, 35);
    Button1->SetCaption("キャンセル");
    Button1->OnClick = [this](TObject* Sender) { Button1Click(Sender); };

    Button2 = new TButton(this, this);
    Button2->SetBounds(376, 72, 43, 25);
    Button2->SetCaption("参照");
    Button2->OnClick = [this](TObject* Sender) { Button2Click(Sender); };

    Edit1 = new TEdit(this, this);
    Edit1->SetBounds(44, 74, 327, 20);

    CheckBox1 = new TCheckBox(this, this);
    CheckBox1->SetBounds(130, 106, 217, 19);
    CheckBox1->SetCaption("デスクトップにショートカットを作成する");
    CheckBox1->SetFont(WhiteFont(Font()));
    CheckBox1->SetChecked(true);

    Image1 = new TImage(this, this);
    Image1->SetBounds(28, 12, 38, 37);
    Image1->LoadFromResourceName(GetModuleHandleA(nullptr), "IMAGE1");

    Label1 = new TLabel(this, this);
    Label1->SetAutoSize(false);
    Label1->SetBounds(70, 24, 365, 29);
    Label1->SetWordWrap(true);
    TFont titleFont;
    titleFont.Name = "MS UI Gothic";
    titleFont.Height = 19;
    titleFont.Bold = true;
    titleFont.Color = clWhite;
    Label1->SetFont(titleFont);
    Label1->SetCaption("TITLE セットアッププログラム");

    Label2 = new TLabel(this, this);
    Label2->SetBounds(46, 58, 0, 0);
    Label2->SetFont(WhiteFont(Font()));
    Label2->SetCaption("セットアップ先フォルダ");

    SetActiveControl(SetupButton);
    OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
    OnShow = [this](TObject* Sender) { FormShow(Sender); };
    OnClose = [this](TObject* Sender, TCloseAction& Action) { FormClose(Sender, Action); };
}

TSetupForm::~TSetupForm()
{
    ReleaseHelpers();
}

void TSetupForm::ReleaseHelpers() noexcept
{
    if (Library == FLibrary.get()) {
        Library = nullptr;
    }
    if (ShellLink == FShellLink.get()) {
        ShellLink = nullptr;
    }
    FShellLink.reset();
    FLibrary.reset();
}

void TSetupForm::FormCreate(TObject*)
{
    FLibrary = std::make_unique<TLibrary>();
    FShellLink = std::make_unique<TShellLink>();
    Library = FLibrary.get();
    ShellLink = FShellLink.get();
    FExeFolder = ExtractFilePath(ModuleFileName());
    Edit1->SetText("");
    std::string caption = Label1->Caption();
    Library->ReplaceFirst(caption, STitlePlaceholder, SProductName);
    Label1->SetCaption(caption);
}

void TSetupForm::FormShow(TObject*)
{
    TRegistry registry;
    UseInstallRecord(registry);
    // A value of another type reads as none: the default is proposed rather than an error that
    // would end the program before anyone could install.
    if (registry.OpenKey(SInstallKey, false)) {
        const TRegDataType type = registry.GetDataType(SInstallValue);
        if (type == TRegDataType::rdString || type == TRegDataType::rdExpandString) {
            Edit1->SetText(registry.ReadString(SInstallValue));
        }
    }
    if (Edit1->Text().empty()) {
        Edit1->SetText(std::string(SDefaultParent) + SDefaultSubfolder);
    }
}

void TSetupForm::FormClose(TObject*, TCloseAction&)
{
    ReleaseHelpers();
}

void TSetupForm::Button1Click(TObject*)
{
    Close();
}

void TSetupForm::Button2Click(TObject*)
{
    std::string folder = Edit1->Text();
    if (!DirectoryExists(folder)) {
        folder = SDefaultParent;
    }
    if (SelectDirectory(folder, sdAllowCreate | sdPerformCreate | sdPrompt)) {
        Edit1->SetText(InstallFolderFromChoice(folder));
    }
}

void TSetupForm::InstallMessage(const std::string& Text)
{
    Application->MessageBox(Text, Application->Title(), MB_OK);
}

void TSetupForm::SetupButtonClick(TObject*)
{
    // Released however the sequence ends, an escaping exception included.
    auto registry = std::make_unique<TRegistry>();
    UseInstallRecord(*registry);

    // 1. The install folder, exactly as typed. An existing folder counts as created; a text that
    // is not a full path raises, even when it names a folder under the current one.
    if (!ForceDirectories(Edit1->Text())) {
        InstallMessage(SFolderFailed);
        Close();
        return;
    }

    // 2. The registry record, before any file is written.
    if (!registry->OpenKey(SInstallKey, true)) {
        InstallMessage(SRegistryFailed);
        Close();
        return;
    }
    registry->WriteString(SInstallValue, Edit1->Text());

    // 3. The work file next to the executable; it is kept afterwards.
    const std::string workFile = SaveWorkFile(FExeFolder);

    // 4. Decoding, 5. shortcuts, 6. closing.
    if (CompressForm->ExtractArchive(workFile, Edit1->Text()) < 1) {
        InstallMessage(SDecodeFailed);
    } else {
        const TShortcutOutcome outcome = CreateProductShortcuts(*ShellLink, Application->Handle(), Edit1->Text(),
                                                                [this] { return CheckBox1->Checked(); });
        if (outcome == TShortcutOutcome::FirstShortcutFailed) {
            InstallMessage(SShortcutFailed);
        } else if (outcome == TShortcutOutcome::FirstShortcutCreated) {
            InstallMessage(SSucceeded);
        }
    }
    registry.reset();
    Close();
}
