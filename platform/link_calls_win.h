// Windows: the engine's link calls with the network links of this layer among them. A name
// "tcp://HOST:PORT" or "rfc2217://HOST:PORT" opens the same kind of link as on POSIX and the
// calls on its handle go to that link; every other name and handle goes to kernel32 as it is.
// The console program routes the engine's import slots of these calls here (the window does
// not: it never opens a network port).
#pragma once

#include <windows.h>

namespace platform {

// kernel32's own functions behind the import slots that this program fills. They are looked up
// once, before main: a lookup takes the loader's lock, and a slot may be called by the runtime
// while it holds a lock of its own that a thread ending under the loader's lock waits for.
struct Kernel32Calls {
    decltype(&CreateFileA) createFileA;
    decltype(&ReadFile) readFile;
    decltype(&WriteFile) writeFile;
    decltype(&GetCommState) getCommState;
    decltype(&SetCommState) setCommState;
    decltype(&SetCommTimeouts) setCommTimeouts;
    decltype(&PurgeComm) purgeComm;
    decltype(&CloseHandle) closeHandle;
    decltype(&Sleep) sleep;
    decltype(&FindResourceA) findResourceA;
    decltype(&LoadResource) loadResource;
    decltype(&LockResource) lockResource;
    decltype(&SizeofResource) sizeofResource;
    decltype(&FreeResource) freeResource;
};
const Kernel32Calls& RealKernel32();

HANDLE WINAPI LinkCreateFileA(LPCSTR name, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile);
BOOL WINAPI LinkReadFile(HANDLE h, LPVOID buf, DWORD n, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI LinkWriteFile(HANDLE h, LPCVOID buf, DWORD n, LPDWORD written, LPOVERLAPPED overlapped);
BOOL WINAPI LinkGetCommState(HANDLE h, LPDCB dcb);
BOOL WINAPI LinkSetCommState(HANDLE h, LPDCB dcb);
BOOL WINAPI LinkSetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts);
BOOL WINAPI LinkPurgeComm(HANDLE h, DWORD flags);
BOOL WINAPI LinkCloseHandle(HANDLE h);

// USB device interfaces ("\\?\usb#..."), opened for overlapped I/O: their reads and writes end at
// the deadlines of the time-outs asked for, whether or not the driver takes them, and
// SetCommTimeouts on them succeeds (bounded_io_win.cpp).
bool IsBoundedLinkName(LPCSTR name);
bool AddBoundedLink(HANDLE h);  // false when the table is full
bool RemoveBoundedLink(HANDLE h);
bool IsBoundedLink(HANDLE h);
// Keeps the time-outs asked for on h, which its reads and writes then go by.
void KeepBoundedTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts);
BOOL BoundedReadFile(HANDLE h, LPVOID buf, DWORD n, LPDWORD read);
BOOL BoundedWriteFile(HANDLE h, LPCVOID buf, DWORD n, LPDWORD written);

}  // namespace platform
