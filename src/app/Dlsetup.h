// The setup window: the install folder, the desktop-shortcut box and the install sequence.
#pragma once

#include <string>

#include "Forms.h"
#include "Shelllink.h"

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

class TSetupForm : public TForm {
public:
    explicit TSetupForm(TComponent* AOwner);

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

private:
    void InstallMessage(const std::string& Text);
    std::string FExeFolder;
};

extern TSetupForm* SetupForm;
// The program-wide shell-link helper (created by FormCreate, deleted by FormClose).
extern TShellLink* ShellLink;
