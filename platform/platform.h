// The platform layer as the engine sees it: on Windows the real Win32 API, elsewhere the POSIX
// implementation of the same subset.
//   - links: CreateFileA, ReadFile, WriteFile, GetCommState, SetCommState, SetCommTimeouts,
//     CloseHandle (ttys, paths, and in-process virtual links for tests)
//   - Sleep, on the real or the virtual clock
//   - MessageBoxA, KillTimer, EnableWindow, forwarded to the front end's hooks
//   - the resource calls over the embedded image, _beginthread
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
#include "platform/win32.h"
#endif
