#include "toolkit/win/MessagePump.h"

#include "toolkit/win/Application.h"

void WaitForThreadMessage(DWORD Ms) noexcept
{
    // MWMO_INPUTAVAILABLE: a message already queued (one a handler left, or one posted before the
    // wait began) ends the sleep, not only one that arrives later.
    MsgWaitForMultipleObjectsEx(0, nullptr, Ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void ProcessThreadMessages()
{
    if (Application->IsOwnThread()) {
        Application->ProcessMessages();
        return;
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message != WM_QUIT) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}
