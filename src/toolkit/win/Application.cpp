#include "toolkit/win/Application.h"

#include "toolkit/win/Form.h"
#include "toolkit/win/MessageBox.h"

namespace {
TApplication TheApplication;

// Posted to the application window once it is active: the form the user last worked in takes
// the activation over (the application window itself has nothing to show).
constexpr UINT CM_ACTIVATEFORM = WM_APP + 0x3A1;
} // namespace

TApplication* Application = &TheApplication;

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication()
{
    // The forms go while the window that owns theirs is still there.
    DestroyComponents();
}

void TApplication::Initialize()
{
    if (THiddenWindow::Handle() != nullptr) {
        return;
    }
    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    // Not a tool window: this one has the taskbar button.
    if (AllocateHandle("TApplication", FTitle.c_str(), WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                       0, (area.left + area.right) / 2, (area.top + area.bottom) / 2,
                       LoadIconA(Instance(), "MAINICON")) == nullptr) {
        throw Exception("Error creating window");
    }
}

HWND TApplication::Handle()
{
    if (THiddenWindow::Handle() == nullptr) {
        Initialize();
    }
    return THiddenWindow::Handle();
}

HINSTANCE TApplication::Instance() const noexcept
{
    return GetModuleHandleA(nullptr);
}

LRESULT TApplication::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam)
{
    switch (Msg) {
    case WM_CLOSE: // "Close" on the taskbar button
        if (FMainForm != nullptr) {
            FMainForm->Close();
        }
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MINIMIZE: Minimize(); return 0;
        case SC_RESTORE: Restore(); return 0;
        default: break;
        }
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            PostMessageA(Handle(), CM_ACTIVATEFORM, 0, 0);
        }
        break;
    case CM_ACTIVATEFORM:
        if (GetActiveWindow() == Handle() && !IsIconic(Handle())) {
            ActivateForm();
        }
        return 0;
    default:
        break;
    }
    return DefaultHandler(Msg, wParam, lParam);
}

LRESULT TApplication::WndProcFailed(const std::exception& E, UINT) noexcept
{
    try {
        ShowException(E);
    } catch (...) {
        // Nothing unwinds into the system's frames, not even a failure to show the first one.
    }
    return 0;
}

void TApplication::ActivateForm()
{
    HWND form = GetLastActivePopup(Handle());
    if (form == Handle() || !IsWindowVisible(form) || !IsWindowEnabled(form)) {
        form = FMainForm != nullptr ? FMainForm->Handle() : nullptr;
    }
    if (form != nullptr && IsWindowVisible(form) && IsWindowEnabled(form)) {
        SetActiveWindow(form);
    }
}

void TApplication::MainFormVisibility(bool Visible)
{
    HWND window = Handle();
    if (Visible && !IsWindowVisible(window)) {
        ShowWindow(window, SW_SHOWNA);
    } else if (!Visible && IsWindowVisible(window)) {
        ShowWindow(window, SW_HIDE);
    }
}

void TApplication::Minimize()
{
    HWND window = THiddenWindow::Handle();
    if (window == nullptr || IsIconic(window)) {
        return;
    }
    ShowOwnedPopups(window, FALSE);
    ShowWindow(window, SW_MINIMIZE);
}

void TApplication::Restore()
{
    HWND window = THiddenWindow::Handle();
    if (window == nullptr || !IsIconic(window)) {
        return;
    }
    ShowWindow(window, SW_RESTORE); // active again: CM_ACTIVATEFORM hands the activation on
    ShowOwnedPopups(window, TRUE);
}

void TApplication::SetTitle(const std::string& Value)
{
    FTitle = Value;
    if (HWND window = THiddenWindow::Handle()) {
        SetWindowTextA(window, Value.c_str());
    }
}

void TApplication::FormDestroyed(TForm* Form) noexcept
{
    if (FMainForm == Form) {
        FMainForm = nullptr;
        if (HWND window = THiddenWindow::Handle()) {
            ShowWindow(window, SW_HIDE); // the taskbar button goes with it
        }
    }
}

bool TApplication::Dispatch(MSG& Msg)
{
    // Keyboard navigation (Tab, Enter, Escape) inside the program's forms. Only keys need it; the
    // look-up of the form is skipped for every other message (the socket layer's notifications
    // arrive by the thousand during a transfer).
    if (Msg.hwnd != nullptr && Msg.message >= WM_KEYFIRST && Msg.message <= WM_KEYLAST) {
        HWND root = GetAncestor(Msg.hwnd, GA_ROOT);
        if (dynamic_cast<TForm*>(TWinControl::FromHandle(root)) != nullptr && IsDialogMessageA(root, &Msg)) {
            return true;
        }
    }
    TranslateMessage(&Msg);
    DispatchMessageA(&Msg);
    return true;
}

bool TApplication::HandleMessage()
{
    MSG msg;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
        FTerminated = true;
        return false;
    }
    if (got == -1) {
        return false;
    }
    return Dispatch(msg);
}

void TApplication::ProcessMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            FTerminated = true;
            return;
        }
        Dispatch(msg);
    }
}

void TApplication::Run()
{
    if (FMainForm == nullptr) {
        return;
    }
    FMainForm->Show();
    while (!FTerminated && HandleMessage()) {
    }
}

void TApplication::Terminate()
{
    if (!FTerminated) {
        FTerminated = true;
        PostQuitMessage(0);
    }
}

int TApplication::MessageBox(const std::string& Text, const std::string& Caption, UINT Flags)
{
    HWND owner = GetActiveWindow();
    if (owner == nullptr && FMainForm != nullptr && IsWindowVisible(FMainForm->Handle())) {
        owner = FMainForm->Handle();
    }
    // The owner is left to the box, which disables it and activates it again when answered; the
    // program's other windows (the main form under a box of a modeless window) wait as well.
    TOtherWindowsDisabled disabled(owner);
    return MessageBoxFunc(owner, Text, Caption, Flags);
}

void TApplication::ShowException(const std::exception& E)
{
    MessageBox(ExceptionDisplayText(E.what()), FTitle, MB_OK | MB_ICONSTOP);
}
