#include "toolkit/win/SelectDir.h"

#include "toolkit/win/Application.h"
#include "toolkit/FileCtrl.h"
#include "toolkit/SysUtils.h"

namespace {

// Drops one trailing "\" unless the text is a drive root ("c:\") or the "\" is a trail byte.
std::string WithoutTrailingBackslash(std::string Folder)
{
    const int last = LastDelimiter("\\", Folder);
    if (last >= 0 && last == static_cast<int>(Folder.size()) - 1 && !(Folder.size() == 3 && Folder[1] == ':')) {
        Folder.pop_back();
    }
    return Folder;
}

bool IsRoot(const std::string& Folder)
{
    return ExtractFileDir(WithoutTrailingBackslash(Folder)) == WithoutTrailingBackslash(Folder);
}

const char* const UpItem = "..";

} // namespace

TSelectDirDlg::TSelectDirDlg(TComponent* AOwner, unsigned Options) : TForm(AOwner), FOptions(Options)
{
    SetCaption("ディレクトリの選択");
    SetBorderStyle(TBorderStyle::bsDialog);
    SetBorderIcons(biSystemMenu);
    SetPosition(TPosition::poMainFormCenter);
    SetClientSize(340, 300);

    FLabel = new TLabel(this, this);
    FLabel->SetBounds(10, 10, 0, 0);
    FLabel->SetCaption("フォルダ名:");

    FEdit = new TEdit(this, this);
    FEdit->SetBounds(10, 28, 320, 21);

    FList = new TListBox(this, this);
    FList->SetBounds(10, 56, 320, 200);
    FList->OnDblClick = [this](TObject* Sender) { ListDblClick(Sender); };

    FOk = new TButton(this, this);
    FOk->SetCaption("OK");
    FOk->SetBounds(170, 266, 75, 25);
    FOk->SetDefault(true);
    FOk->OnClick = [this](TObject* Sender) { OkClick(Sender); };

    FCancel = new TButton(this, this);
    FCancel->SetCaption("キャンセル");
    FCancel->SetBounds(255, 266, 75, 25);
    FCancel->SetModalResult(mrCancel);

    SetActiveControl(FEdit);
}

void TSelectDirDlg::SetDirectory(const std::string& Folder)
{
    FList->ClearItems();
    if (Folder.empty()) {
        // The drives, for a step up from a drive's root.
        FShown.clear();
        const DWORD drives = GetLogicalDrives();
        for (int i = 0; i < 26; ++i) {
            if ((drives & (1u << i)) != 0) {
                FList->AddItem(std::string(1, static_cast<char>('a' + i)) + ":\\");
            }
        }
        return;
    }
    FShown = WithoutTrailingBackslash(Folder);
    FEdit->SetText(FShown);
    FList->AddItem(UpItem);
    WIN32_FIND_DATAA found{};
    const TFindHandle search(FindFirstFileA((IncludeTrailingBackslash(FShown) + "*").c_str(), &found));
    if (!search) {
        return;
    }
    do {
        const std::string name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && name != "." && name != "..") {
            FList->AddItem(name);
        }
    } while (FindNextFileA(search.Get(), &found));
}

void TSelectDirDlg::ListDblClick(TObject*)
{
    const int index = FList->ItemIndex();
    if (index < 0) {
        return;
    }
    const std::string item = FList->Item(index);
    if (FShown.empty()) {
        SetDirectory(item);
    } else if (item == UpItem) {
        SetDirectory(IsRoot(FShown) ? std::string() : ExtractFileDir(FShown));
    } else {
        SetDirectory(IncludeTrailingBackslash(FShown) + item);
    }
}

bool TSelectDirDlg::CanAccept(const std::string& Folder)
{
    if (Folder.empty()) {
        return false;
    }
    // A text that is not a full path names a folder under whatever the current one is: refused
    // with the error the install step gives it, and the chooser stays open.
    if (!IsFullPath(Folder)) {
        throw EInOutError(SCannotCreateDirectory);
    }
    if (DirectoryExists(Folder)) {
        return true;
    }
    if ((FOptions & sdAllowCreate) == 0) {
        return false;
    }
    if ((FOptions & sdPrompt) != 0 &&
        Application->MessageBox("指定されたディレクトリが存在しません。作成しますか？", Application->Title(),
                                MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return false;
    }
    if ((FOptions & sdPerformCreate) != 0) {
        try {
            ForceDirectories(Folder);
        } catch (const Exception&) {
            // The chooser's creation is a courtesy; the install step creates the folder for real.
        }
    }
    return true;
}

void TSelectDirDlg::OkClick(TObject*)
{
    const std::string folder = WithoutTrailingBackslash(FEdit->Text());
    if (CanAccept(folder)) {
        FEdit->SetText(folder);
        SetModalResult(mrOk);
    }
}

bool SelectDirectory(std::string& Directory, unsigned Options)
{
    TSelectDirDlg dialog(nullptr, Options);
    dialog.SetDirectory(Directory);
    if (dialog.ShowModal() != mrOk) {
        return false;
    }
    Directory = dialog.Directory();
    return true;
}
