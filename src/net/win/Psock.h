// The socket layer, the one include an outside program needs: the timer with a hidden window of
// its own (PsockTimer.h), the stream-socket component on which the mail client is built
// (PsockClient.h) and the listening server that serves each accepted client on a thread of its
// own (PsockServer.h). Win32 (Windows Sockets 1.1), GUI thread.
#pragma once

#include "net/win/PsockTimer.h"
#include "net/win/PsockClient.h"
#include "net/win/PsockServer.h"
