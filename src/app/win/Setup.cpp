// The entry of Setup.exe: the setup window, or the unattended install (Unattended.h).
#include "toolkit/win/Win.h"

#include "app/win/Unattended.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR CommandLine, int)
{
    return RunSetup(CommandLine != nullptr ? CommandLine : "");
}
