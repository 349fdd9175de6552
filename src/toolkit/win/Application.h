// TApplication: the program's sizeless window and taskbar button, form creation, the message
// loop and pump, the exception display and the application's message box.
#pragma once

#include "toolkit/win/Win.h"

#include <exception>
#include <string>

#include "toolkit/Classes.h"
#include "toolkit/win/HiddenWindow.h"

class TForm;

class TApplication : public TComponent, private THiddenWindow {
public:
    TApplication();
    ~TApplication() override;

    // Creates the application window: the owner of every form and of the socket layer's
    // notification windows, and the program's taskbar button. It has no size, carries the title
    // as its caption and the icon "MAINICON", stands at the centre of the work area (where
    // minimising and restoring are animated from) and is shown while the main form is; the
    // forms, being owned, get no button. An exception escaping its handler is shown.
    void Initialize();
    // The application window, created on first use.
    HWND Handle();
    HINSTANCE Instance() const noexcept;

    const std::string& Title() const noexcept { return FTitle; }
    void SetTitle(const std::string& Value);

    // Creates a form owned by the application and stores it in Reference before its OnCreate
    // runs; the first form created becomes the main form.
    template <typename T>
    void CreateForm(T*& Reference)
    {
        T* form = new T(this);
        Reference = form;
        if (FMainForm == nullptr) {
            FMainForm = form;
        }
        form->DoCreate();
    }
    TForm* MainForm() const noexcept { return FMainForm; }
    void FormDestroyed(TForm* Form) noexcept;

    // Shows the main form and dispatches messages until the main form closes (or Terminate).
    void Run();
    // Dispatches every message already waiting and returns; for waits that must keep the
    // program alive (network operations, timers). Sets Terminated when WM_QUIT arrives.
    void ProcessMessages();
    // Waits for one message and dispatches it; false once WM_QUIT has been seen.
    bool HandleMessage();
    void Terminate();
    bool Terminated() const noexcept { return FTerminated; }
    // Whether the calling thread is the program's GUI thread (the one that made the application
    // object, at start-up), whose messages ProcessMessages dispatches.
    bool IsOwnThread() const noexcept { return GetCurrentThreadId() == FThread; }
    // Minimising the main form minimises the program: its windows are hidden behind the taskbar
    // button until it is restored.
    void Minimize();
    void Restore();

    // A modal message box owned by the active window (else the main form, when shown); returns
    // the identifier of the button pressed (IDOK, IDRETRY, IDCANCEL ...).
    int MessageBox(const std::string& Text, const std::string& Caption, UINT Flags);
    // The display of an exception that escaped an event handler: stop icon, the title as caption.
    void ShowException(const std::exception& E);

private:
    friend class TForm;
    LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override;
    LRESULT WndProcFailed(const std::exception& E, UINT Msg) noexcept override;
    // The taskbar button follows the main form's visibility.
    void MainFormVisibility(bool Visible);
    // Passes the activation from the application window to the form last active, else the
    // main form, when it is shown and enabled.
    void ActivateForm();
    bool Dispatch(MSG& Msg);
    std::string FTitle;
    TForm* FMainForm = nullptr;
    bool FTerminated = false;
    DWORD FThread = GetCurrentThreadId();
};

extern TApplication* Application;
