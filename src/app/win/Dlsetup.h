// The setup window: the install folder, the desktop-shortcut box and the install sequence.
#pragma once

#include <memory>
#include <string>

#include "app/win/InstallLog.h"
#include "app/win/Shelllink.h"
#include "toolkit/win/Buttons.h"
#include "toolkit/win/Form.h"
#include "toolkit/win/InputControls.h"
#include "toolkit/win/StaticControls.h"

class TLibrary;
class TRegistry;

// Fixed texts and places of the installer.
extern const char* const SApplicationTitle;   // "doduza　領収書発行セットアップ"
extern const char* const SInstallKey;         // "\Software\Ruviva Co.,Ltd.\rizud"
extern const char* const SInstallValue;       // "Path"
extern const char* const SDefaultParent;      // "c:\Program Files\"
extern const char* const SDefaultSubfolder;   // "Ruviva\VodidavorAd"
extern const char* const SBareParent;         // "c:\Program Files"
extern const char* const SWorkFileName;       // "work.tmp"
extern const char* const SPayloadType;        // "smz"
extern const char* const SPayloadName;        // "davareduravu"

// The install folder for the chooser's answer: the answer itself, or, when it is the bare
// parent "c:\Program Files" in any letter case (CompareStringA, user default locale), the
// answer followed by "\" and the default subfolder.
std::string InstallFolderFromChoice(const std::string& Chosen);

// Points a registry accessor at the install record's root and view (HKLM, the 32-bit view).
void UseInstallRecord(TRegistry& Registry);
// The folder an install proposes: the recorded one, else the default.
std::string ProposedInstallFolder();

class TSetupForm : public TForm {
public:
    explicit TSetupForm(TComponent* AOwner);
    ~TSetupForm() override;

    TImage* Image1;
    TLabel* Label1;
    TLabel* Label2;
    TButton* SetupButton;
    TButton* Button1;
    TButton* Button2;
    TEdit* Edit1;
    TCheckBox* CheckBox1;

    void FormCreate(TObject* Sender);
    void FormShow(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void SetupButtonClick(TObject* Sender);
    void Button1Click(TObject* Sender);
    void Button2Click(TObject* Sender);

    // The executable's folder, up to and including its last "\" (set by FormCreate).
    const std::string& ExeFolder() const noexcept { return FExeFolder; }

    // The command line's choices: a folder the box shows instead of the proposed one (when not
    // empty), and the desktop box's state.
    void Preset(const std::string& Folder, bool DesktopShortcut);
    // The install log the road writes to (none by default); it outlives the window.
    void SetLog(TInstallLog& Log) noexcept { FLog = &Log; }

private:
    void ReleaseHelpers() noexcept;
    std::string FExeFolder;
    std::string FPresetFolder;
    TInstallLog FNoLog;
    TInstallLog* FLog = &FNoLog;
    // The program-wide helpers: made by FormCreate, freed by FormClose, or with the window when
    // it is destroyed without closing. Library and ShellLink point at them meanwhile.
    std::unique_ptr<TLibrary> FLibrary;
    std::unique_ptr<TShellLink> FShellLink;
};

extern TSetupForm* SetupForm;

// The start-up's windows, in this order: the setup window (the first form, so the main window),
// the registration window and the progress window, the last two hidden. Each is stored in its
// variable (SetupForm, SendDataForm, CompressForm) and owned by the application.
void CreateSetupForms();
// The program-wide shell-link helper, held by the setup window from FormCreate to FormClose.
extern TShellLink* ShellLink;
