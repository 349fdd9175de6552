// The folder chooser: a modal dialog with the folder text, the subfolders of the folder shown,
// OK and Cancel.
#pragma once

#include <string>

#include "toolkit/win/Buttons.h"
#include "toolkit/win/Form.h"
#include "toolkit/win/InputControls.h"
#include "toolkit/win/StaticControls.h"

enum TSelectDirOpt : unsigned {
    sdAllowCreate = 1,   // a folder that does not exist may be typed
    sdPerformCreate = 2, // an accepted folder that does not exist is created (outcome ignored)
    sdPrompt = 4,        // ask before accepting a folder that does not exist
};

class TSelectDirDlg : public TForm {
public:
    TSelectDirDlg(TComponent* AOwner, unsigned Options);
    // Shows the folder's subfolders and puts it into the folder text.
    void SetDirectory(const std::string& Folder);
    std::string Directory() const { return FEdit->Text(); }
    // The OK decision for a folder text: whether the dialog may close with it. Asks the create
    // question and creates the folder as the options say. A text that is not a full path raises
    // the folder-creation error (EInOutError) before anything is asked or made.
    bool CanAccept(const std::string& Folder);

    TEdit* FolderEdit() const noexcept { return FEdit; }
    TListBox* FolderList() const noexcept { return FList; }
    TButton* OkButton() const noexcept { return FOk; }
    TButton* CancelButton() const noexcept { return FCancel; }

private:
    void OkClick(TObject*);
    void ListDblClick(TObject*);
    unsigned FOptions;
    std::string FShown; // the folder whose subfolders are listed ("" lists the drives)
    TLabel* FLabel;
    TEdit* FEdit;
    TListBox* FList;
    TButton* FOk;
    TButton* FCancel;
};

// The dialog's caption is "ディレクトリの選択". Directory is the start folder on entry and the
// accepted folder on return (true); on Cancel it is left as it was (false).
bool SelectDirectory(std::string& Directory, unsigned Options);
