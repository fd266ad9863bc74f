// The Win32 subset that the engine calls, declared for POSIX. On Windows the engine includes
// <windows.h> instead (see platform.h); nothing in this file is compiled there.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void* HANDLE;
typedef void* HGLOBAL;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HMODULE;
typedef struct HRSRC__* HRSRC;
typedef void* LPSECURITY_ATTRIBUTES;
typedef void* LPOVERLAPPED;

#define TRUE 1
#define FALSE 0
#define MAXDWORD 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x80u

#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2
#define DTR_CONTROL_DISABLE 0x00
#define DTR_CONTROL_ENABLE 0x01
#define RTS_CONTROL_DISABLE 0x00
#define RTS_CONTROL_ENABLE 0x01

#define MB_OK 0x00000000u
#define MB_ICONERROR 0x00000010u
#define MB_ICONINFORMATION 0x00000040u
#define IDOK 1

// Error codes of GetLastError, with the values Win32 gives them.
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_INVALID_NAME 123u
#define ERROR_NO_MORE_ITEMS 259u
#define ERROR_BAD_DEVICE 1200u
#define ERROR_CONNECTION_REFUSED 1225u
#define ERROR_NETWORK_UNREACHABLE 1231u
#define ERROR_HOST_UNREACHABLE 1232u
#define ERROR_CONNECTION_ABORTED 1236u
#define ERROR_TIMEOUT 1460u
#define WSAECONNRESET 10054u
#define WSAHOST_NOT_FOUND 11001u

#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u

#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<WORD>(i))))

// Device control block: the members the engine sets, laid out as Win32 does (28 bytes).
struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
static_assert(sizeof(DCB) == 28, "DCB must keep the Win32 layout");

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

// Links: COM ports, the PLC's USB device, pseudo-terminals and in-process virtual links.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE h, LPVOID buf, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE h, LPCVOID buf, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
BOOL GetCommState(HANDLE h, DCB* dcb);
BOOL SetCommState(HANDLE h, DCB* dcb);
BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* timeouts);
// PURGE_RXCLEAR discards the input that has arrived and not been read; bytes still on their way
// are kept. The other flags are accepted and do nothing (writes here are never queued).
BOOL PurgeComm(HANDLE h, DWORD flags);
BOOL CloseHandle(HANDLE h);
DWORD GetLastError();
void Sleep(DWORD ms);

// Front-end calls, forwarded through the hook table of hooks.h.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL KillTimer(HWND hwnd, UINT_PTR id);
BOOL EnableWindow(HWND hwnd, BOOL enable);

// The program's own resources: the embedded firmware image.
HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC res);
LPVOID LockResource(HGLOBAL res);
DWORD SizeofResource(HMODULE module, HRSRC res);
BOOL FreeResource(HGLOBAL res);

// The C runtime's thread start: a detached thread.
uintptr_t _beginthread(void (*start)(void*), unsigned stackSize, void* arg);
