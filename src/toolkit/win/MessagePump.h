// Waiting for messages outside the message loop: what a component that waits by pumping (the
// socket layer) needs of the toolkit, without its window classes.
#pragma once

#include "toolkit/win/Win.h"

// Sleeps until a message arrives for the calling thread or Ms milliseconds pass (INFINITE: no
// bound). A message already waiting when it is called ends the sleep at once.
void WaitForThreadMessage(DWORD Ms) noexcept;

// Dispatches every message already waiting for the calling thread, then returns. On the
// application's thread this is the application's pump (keyboard navigation in its forms, and a
// WM_QUIT marks it terminated); on any other thread a plain one, which drops a WM_QUIT: such a
// thread has no message loop of its own to end.
void ProcessThreadMessages();
