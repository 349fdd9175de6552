#include "app/win/Dlsetup.h"

#include <vector>

#include "app/win/InstallRoad.h"

#include "toolkit/win/Application.h"
#include "payload/win/Compress.h"
#include "toolkit/FileCtrl.h"
#include "common/Library.h"
#include "toolkit/win/Registry.h"
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

// The setup window's side of the install road: its boxes, its box for the desktop shortcut and
// the progress window.
class TWindowSite : public TInstallSite {
public:
    explicit TWindowSite(TSetupForm& Form) : FForm(Form) {}
    void Tell(const std::string& Text) override { Application->MessageBox(Text, Application->Title(), MB_OK); }
    bool DesktopShortcut() override { return FForm.CheckBox1->Checked(); }
    TArchiveExtractor& Extractor() override { return CompressForm->Extractor(); }
    TExtractProgress* Progress() override { return CompressForm; }
    TShellLink& ShellLink() override { return *::ShellLink; }
    HWND Owner() override { return Application->Handle(); }

private:
    TSetupForm& FForm;
};

TFont WhiteFont(const TFont& Base)
{
    TFont font = Base;
    font.Color = clWhite;
    return font;
}
} // namespace

// The record lives in the 32-bit view, where the product's own 32-bit programs (its updater,
// its uninstaller) read it, whatever this build is.
void UseInstallRecord(TRegistry& Registry)
{
    Registry.SetRootKey(HKEY_LOCAL_MACHINE);
    Registry.SetAccess(KEY_ALL_ACCESS | KEY_WOW64_32KEY);
}

std::string ProposedInstallFolder()
{
    TRegistry registry;
    UseInstallRecord(registry);
    // A value of another type reads as none: the default is proposed rather than an error that
    // would end the program before anyone could install.
    std::string folder;
    if (registry.OpenKey(SInstallKey, false)) {
        const TRegDataType type = registry.GetDataType(SInstallValue);
        if (type == TRegDataType::rdString || type == TRegDataType::rdExpandString) {
            folder = registry.ReadString(SInstallValue);
        }
    }
    return folder.empty() ? std::string(SDefaultParent) + SDefaultSubfolder : folder;
}

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
    Edit1->SetText(FPresetFolder.empty() ? ProposedInstallFolder() : FPresetFolder);
}

void TSetupForm::Preset(const std::string& Folder, bool DesktopShortcut)
{
    FPresetFolder = Folder;
    CheckBox1->SetChecked(DesktopShortcut);
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

void TSetupForm::SetupButtonClick(TObject*)
{
    TWindowSite site(*this);
    TInstallRoad road(site, *FLog);
    road.Run(Edit1->Text(), FExeFolder); // a toolkit error escapes: it is shown, the window stays
    Close();
}
