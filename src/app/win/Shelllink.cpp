#include "app/win/Shelllink.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "toolkit/FileCtrl.h"
#include "toolkit/win/Handles.h"
#include "common/Library.h"
#include "toolkit/SysUtils.h"

namespace {

const std::string GroupName = "doduza";

// The link path as the persist-file interface wants it. MultiByteToWideChar into the fixed
// buffer would fail or cut a longer path short, so a path that does not fit is refused rather
// than saved under another name; so is one with a zero byte, which would end it early.
HRESULT ToWidePath(const std::string& Path, wchar_t (&Wide)[MAX_PATH])
{
    if (Path.find('\0') != std::string::npos) {
        return E_INVALIDARG;
    }
    if (MultiByteToWideChar(CP_ACP, 0, Path.c_str(), -1, Wide, MAX_PATH) == 0) {
        const DWORD error = GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER) {
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        }
        return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    return S_OK;
}

} // namespace

HRESULT TShellLink::CreateShortcut(const std::string& TargetPath, const std::string& LinkPath,
                                   const std::string& IconPath, int32_t IconIndex, const std::string& Description)
{
    // One apartment per shortcut; the interfaces, declared after it, are released before it goes.
    const TComInitialization apartment;
    if (FAILED(apartment.Code())) {
        return apartment.Code();
    }

    TComRef<IShellLinkA> link;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.Put());
    if (FAILED(result)) {
        return result;
    }
    TComRef<IPersistFile> file;
    result = link->QueryInterface(IID_IPersistFile, file.Put());
    if (FAILED(result)) {
        return result;
    }

    // The setters' codes do not decide anything: only Save's does.
    link->SetPath(TargetPath.c_str());
    link->SetIconLocation(IconPath.c_str(), IconIndex);
    link->SetDescription(Description.c_str());
    // The target's folder; a drive root keeps its "\".
    link->SetWorkingDirectory(ExtractFileDir(TargetPath).c_str());

    wchar_t widePath[MAX_PATH];
    result = ToWidePath(LinkPath, widePath);
    if (FAILED(result)) {
        return result;
    }
    return file->Save(widePath, TRUE);
}

bool TShellLink::GetSpecialFolderPath(HWND Owner, int Csidl, std::string& Path)
{
    // The item list is the shell's allocation and ours to free.
    TCoTaskMem<ITEMIDLIST> list;
    if (FAILED(SHGetSpecialFolderLocation(Owner, Csidl, list.Put())) || !list) {
        return false;
    }
    char buffer[MAX_PATH] = {};
    if (!SHGetPathFromIDListA(list.Get(), buffer)) {
        return false;
    }
    Path = buffer;
    return true;
}

HRESULT CreateShortcutSet(TShellLink& Link, const std::string& ProgramsFolder, const std::string& InstallFolder,
                          const std::function<bool()>& DesktopBoxTicked,
                          const std::function<bool(std::string& DesktopFolder)>& FindDesktopFolder,
                          const TShortcutMade& Made)
{
    const std::string group = ProgramsFolder + "\\" + GroupName;
    if (!DirectoryExists(group)) {
        // Not checked: a group that could not be made shows as failed saves below.
        CreateDirectoryA(group.c_str(), nullptr);
    }

    // Every shortcut carries the product name as its description, and it names the link files.
    const std::string product = SProductName;
    const auto make = [&](const std::string& LinkFile, const char* Program) {
        const std::string target = InstallFolder + "\\" + Program;
        const HRESULT code = Link.CreateShortcut(target, LinkFile, target, 0, product);
        if (Made) Made(LinkFile, code);
        return code;
    };

    // The target "vodidavorad.exe" differs from the "rezevavav.exe" the archive carries, on
    // purpose: the shortcut set is made exactly as the product defines it, this name included.
    // Do not "correct" it.
    const HRESULT first = make(group + "\\" + product + ".lnk", "vodidavorad.exe");
    make(group + "\\" + product + "起動.lnk", "update.exe");
    make(group + "\\" + product + "アンインストール.lnk", "uninst.exe");

    // The box is read now, after decoding, not when the install started.
    if (SUCCEEDED(first) && DesktopBoxTicked && DesktopBoxTicked()) {
        std::string desktop;
        if (FindDesktopFolder && FindDesktopFolder(desktop)) {
            make(desktop + "\\" + product + ".lnk", "update.exe");
        }
    }
    return first;
}

TShortcutOutcome CreateProductShortcuts(TShellLink& Link, HWND Owner, const std::string& InstallFolder,
                                        const std::function<bool()>& DesktopBoxTicked, const TShortcutMade& Made)
{
    std::string programs;
    if (!Link.GetSpecialFolderPath(Owner, CSIDL_PROGRAMS, programs)) {
        return TShortcutOutcome::ProgramsFolderNotFound;
    }
    const auto findDesktop = [&](std::string& Desktop) {
        return Link.GetSpecialFolderPath(Owner, CSIDL_DESKTOPDIRECTORY, Desktop);
    };
    const HRESULT first = CreateShortcutSet(Link, programs, InstallFolder, DesktopBoxTicked, findDesktop, Made);
    return SUCCEEDED(first) ? TShortcutOutcome::FirstShortcutCreated : TShortcutOutcome::FirstShortcutFailed;
}
