// The Windows headers as the Win32 platform sources use them. Winsock 2 comes
// first; the A/W macros that share a name with the platform layer's own
// functions are removed, so those names stay ours and the system calls are
// spelt with their A suffix.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#undef CreateDirectory
#undef CreateSymbolicLink
#undef DeleteFile
#undef GetDlgItemText
#undef MessageBox
#undef RemoveDirectory
#undef ReplaceFile
#undef SendMessage
#undef SetDlgItemText
