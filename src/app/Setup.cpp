// The entry of Setup.exe. Command-line arguments are ignored; the exit code is 0.
#include "toolkit/win/Win.h"

#include "toolkit/win/Application.h"
#include "app/Dlsetup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    try {
        Application->Initialize();
        Application->SetTitle(SApplicationTitle);
        CreateSetupForms();
        Application->Run();
    } catch (const std::exception& e) {
        Application->ShowException(e);
    }
    Application->DestroyComponents();
    return 0;
}
