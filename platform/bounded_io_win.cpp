// A USB device's reads and writes, bounded by the time-outs asked for whatever its driver does
// with them: a vendor's bulk driver may refuse SetCommTimeouts, and a blocking read on it would
// then wait for ever on a silent PLC. The device is opened for overlapped I/O; each read or
// write waits until its deadline and is cancelled there (CancelIoEx), keeping what it had moved.
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include <windows.h>

#include <atomic>
#include <cstring>

#include "platform/link.h"
#include "platform/link_calls_win.h"

namespace platform {

namespace {

// A console program opens one USB device at a time; the slots bound the table, not the use.
constexpr int MAX_BOUNDED_LINKS = 8;
std::atomic<HANDLE> gBounded[MAX_BOUNDED_LINKS];
// The time-outs asked for on each, written and read by the thread that uses the handle.
COMMTIMEOUTS gTimeouts[MAX_BOUNDED_LINKS];

int SlotOf(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return -1;
    for (int i = 0; i < MAX_BOUNDED_LINKS; ++i)
        if (gBounded[i].load() == h) return i;
    return -1;
}

// Starts one overlapped transfer and waits for it until waitMs has passed, then cancels it.
// *moved: the bytes it moved; false when the device failed it (its error is the last error).
bool TransferWithin(bool reading, HANDLE h, void* buf, DWORD n, DWORD waitMs, DWORD* moved) {
    const Kernel32Calls& k = RealKernel32();
    *moved = 0;
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ov.hEvent == nullptr) return false;
    BOOL done =
        reading ? k.readFile(h, buf, n, nullptr, &ov) : k.writeFile(h, buf, n, nullptr, &ov);
    DWORD error = done ? 0 : GetLastError();
    bool ok = done || error == ERROR_IO_PENDING;
    if (ok) {
        if (!done && WaitForSingleObject(ov.hEvent, waitMs) != WAIT_OBJECT_0) CancelIoEx(h, &ov);
        // After a cancel the transfer still reports what it had moved.
        ok = GetOverlappedResult(h, &ov, moved, TRUE) != FALSE;
        error = ok ? 0 : GetLastError();
        ok = ok || error == ERROR_OPERATION_ABORTED;
    }
    k.closeHandle(ov.hEvent);
    SetLastError(ok ? 0 : error);
    return ok;
}

// Milliseconds left until deadline; INFINITE when there is none.
DWORD LeftUntil(ULONGLONG deadline, bool limited) {
    if (!limited) return INFINITE;
    ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

}  // namespace

bool IsBoundedLinkName(LPCSTR name) {
    return name != nullptr && std::strncmp(name, "\\\\?\\", 4) == 0 &&
           _strnicmp(name + 4, "usb#", 4) == 0;
}

bool AddBoundedLink(HANDLE h) {
    for (int i = 0; i < MAX_BOUNDED_LINKS; ++i) {
        HANDLE empty = nullptr;
        if (!gBounded[i].compare_exchange_strong(empty, h)) continue;
        gTimeouts[i] = COMMTIMEOUTS{};
        return true;
    }
    return false;
}

bool RemoveBoundedLink(HANDLE h) {
    int slot = SlotOf(h);
    if (slot < 0) return false;
    gBounded[slot] = nullptr;
    return true;
}

bool IsBoundedLink(HANDLE h) {
    return SlotOf(h) >= 0;
}

void KeepBoundedTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) {
    int slot = SlotOf(h);
    if (slot >= 0) gTimeouts[slot] = timeouts;
}

// A read ends with all n bytes or at the deadline of the time-outs, as Windows' serial driver
// reads under them (WindowsReadRule): a device that hands over a reply in several transfers is
// read again until the deadline. Time-outs of all zeros wait without limit, as Windows does.
BOOL BoundedReadFile(HANDLE h, LPVOID buf, DWORD n, LPDWORD read) {
    const COMMTIMEOUTS t = gTimeouts[SlotOf(h)];
    ReadRule rule = WindowsReadRule(t, n);
    bool limited = t.ReadIntervalTimeout != 0 || rule.totalMs != 0;
    ULONGLONG deadline = GetTickCount64() + rule.totalMs;
    DWORD got = 0;
    bool ok = true;
    while (got < n) {
        DWORD moved = 0;
        ok = TransferWithin(true, h, static_cast<char*>(buf) + got, n - got,
                            LeftUntil(deadline, limited), &moved);
        got += moved;
        if (!ok || moved == 0 || rule.atOnceWhenBuffered) break;
    }
    if (read != nullptr) *read = got;
    return ok || got > 0 ? TRUE : FALSE;
}

BOOL BoundedWriteFile(HANDLE h, LPCVOID buf, DWORD n, LPDWORD written) {
    uint64_t totalMs = WriteTotalMs(gTimeouts[SlotOf(h)], n);
    DWORD moved = 0;
    bool ok = TransferWithin(false, h, const_cast<void*>(buf), n,
                             totalMs == 0 ? INFINITE : static_cast<DWORD>(totalMs), &moved);
    if (written != nullptr) *written = moved;
    if (!ok) return FALSE;
    if (moved == n) return TRUE;
    SetLastError(ERROR_TIMEOUT);
    return FALSE;
}

}  // namespace platform

#endif  // _WIN32
