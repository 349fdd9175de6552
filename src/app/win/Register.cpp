// The entry of Register.exe: the registration window on its own, as a caller that shows it would
// (the product title set first). Ends when the window is hidden (after the thanks, a Cancel, the
// error path) or closed. Command-line arguments are ignored; the exit code is 0.
#include "toolkit/win/Win.h"

#include "toolkit/win/Application.h"
#include "app/win/Dlsetup.h"
#include "common/Library.h"
#include "mail/win/Senddata.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    try {
        Application->Initialize();
        // The same caption on its message boxes as in the installer.
        Application->SetTitle(SApplicationTitle);
        Application->CreateForm(SendDataForm);
        SendDataForm->TitleText = SProductName;
        SendDataForm->Show();
        // The window is hidden inside the handling of some message, so it is looked at after each.
        while (SendDataForm->Visible() && Application->HandleMessage()) {
        }
    } catch (const std::exception& e) {
        Application->ShowException(e);
    }
    Application->DestroyComponents();
    return 0;
}
