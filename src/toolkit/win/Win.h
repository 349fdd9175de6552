// The one way Win32 units include <windows.h>. The platform's A/W macros named like the
// system's own members (PostMessage, SendMessage, GetMessage, ...) are undone here so that
// those names can be used for methods.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The sockets header first: it must come before <windows.h> could bring the older one in.
#include <winsock2.h>
#include <windows.h>

#undef PostMessage
#undef SendMessage
#undef GetMessage
#undef CreateWindow
#undef MessageBox
#undef DrawText
#undef GetObject
#undef LoadIcon
#undef LoadCursor
#undef CopyFile
#undef DeleteFile
#undef CreateDirectory
#undef GetClassInfo
#undef RegisterClass
#undef FindResource
#undef min
#undef max
