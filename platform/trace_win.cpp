// --trace on Windows: the engine's link calls (CreateFileA, ReadFile, WriteFile, GetCommState,
// SetCommState, SetCommTimeouts, PurgeComm, CloseHandle) and its Sleep pass through their import
// slots, which this program fills with calls that do the call (on a network link or through
// kernel32: platform/link_calls_win.h) and then hand what happened to the front end's trace, as
// the platform layer does on POSIX.
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include <windows.h>

#include <atomic>
#include <mutex>

#include "platform/hooks.h"
#include "platform/link_calls_win.h"

namespace {

std::mutex gTraceMutex;
platform::LinkTrace gTrace;
platform::LinkEventTrace gEventTrace;

// The handles CreateFileA has opened and CloseHandle has not closed: the only ones traced, as
// the runtime closes handles of its own through the same slot. Lock-free for that reason.
const int MAX_LINK_HANDLES = 8;
std::atomic<HANDLE> gLinks[MAX_LINK_HANDLES];
// The thread that opened the latest link: the engine's worker, whose Sleep is its pause.
std::atomic<DWORD> gLinkThread{0};

bool IsLink(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
    for (auto& slot : gLinks)
        if (slot.load() == h) return true;
    return false;
}

void AddLink(HANDLE h) {
    for (auto& slot : gLinks) {
        HANDLE empty = nullptr;
        if (slot.compare_exchange_strong(empty, h)) return;
    }
}

bool RemoveLink(HANDLE h) {
    for (auto& slot : gLinks) {
        HANDLE expected = h;
        if (h != nullptr && slot.compare_exchange_strong(expected, nullptr)) return true;
    }
    return false;
}

// The trace may write a file; the caller still finds the last error of its own call.
void Trace(platform::TraceDir dir, const void* data, DWORD moved, DWORD requested) {
    DWORD error = GetLastError();
    {
        std::lock_guard<std::mutex> lock(gTraceMutex);
        if (gTrace)
            gTrace(dir, static_cast<const uint8_t*>(data), moved, requested, GetTickCount64());
    }
    SetLastError(error);
}

void Raise(const platform::LinkEvent& event) {
    DWORD error = GetLastError();
    {
        std::lock_guard<std::mutex> lock(gTraceMutex);
        if (gEventTrace) gEventTrace(event, GetTickCount64());
    }
    SetLastError(error);
}

platform::LinkEvent EventOf(platform::LinkEventKind kind, BOOL ok) {
    platform::LinkEvent event;
    event.kind = kind;
    event.ok = ok != FALSE;
    return event;
}

BOOL WINAPI TracedWriteFile(HANDLE h, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED o) {
    auto real = platform::LinkWriteFile;
    if (o != nullptr || !IsLink(h)) return real(h, data, n, written, o);  // never the engine's
    DWORD moved = 0;
    BOOL ok = real(h, data, n, &moved, o);
    if (written != nullptr) *written = moved;
    Trace(platform::TraceDir::Write, data, moved, n);
    return ok;
}

BOOL WINAPI TracedReadFile(HANDLE h, LPVOID data, DWORD n, LPDWORD read, LPOVERLAPPED o) {
    auto real = platform::LinkReadFile;
    if (o != nullptr || !IsLink(h)) return real(h, data, n, read, o);
    DWORD moved = 0;
    BOOL ok = real(h, data, n, &moved, o);
    if (read != nullptr) *read = moved;
    Trace(platform::TraceDir::Read, data, moved, n);
    return ok;
}

HANDLE WINAPI TracedCreateFileA(LPCSTR name, DWORD access, DWORD share,
                                LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                HANDLE templateFile) {
    HANDLE h =
        platform::LinkCreateFileA(name, access, share, security, disposition, flags, templateFile);
    platform::LinkEvent event = EventOf(platform::LinkEventKind::Open, h != INVALID_HANDLE_VALUE);
    event.name = name != nullptr ? name : "";
    if (event.ok) {
        AddLink(h);
        gLinkThread = GetCurrentThreadId();
    } else {
        event.error = GetLastError();
    }
    Raise(event);
    return h;
}

BOOL WINAPI TracedCloseHandle(HANDLE h) {
    BOOL ok = platform::LinkCloseHandle(h);
    if (ok && RemoveLink(h)) Raise(EventOf(platform::LinkEventKind::Close, ok));
    return ok;
}

BOOL WINAPI TracedSetCommState(HANDLE h, LPDCB dcb) {
    BOOL ok = platform::LinkSetCommState(h, dcb);
    if (dcb == nullptr || !IsLink(h)) return ok;
    platform::LinkEvent event = EventOf(platform::LinkEventKind::Line, ok);
    event.dcb = *dcb;
    Raise(event);
    return ok;
}

BOOL WINAPI TracedSetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    BOOL ok = platform::LinkSetCommTimeouts(h, timeouts);
    if (timeouts == nullptr || !IsLink(h)) return ok;
    platform::LinkEvent event = EventOf(platform::LinkEventKind::Timeouts, ok);
    event.timeouts = *timeouts;
    Raise(event);
    return ok;
}

BOOL WINAPI TracedPurgeComm(HANDLE h, DWORD flags) {
    BOOL ok = platform::LinkPurgeComm(h, flags);
    if ((flags & PURGE_RXCLEAR) != 0 && IsLink(h))
        Raise(EventOf(platform::LinkEventKind::Purge, ok));
    return ok;
}

void WINAPI TracedSleep(DWORD ms) {
    if (ms > 0 && GetCurrentThreadId() == gLinkThread.load()) {
        platform::LinkEvent event = EventOf(platform::LinkEventKind::Pause, TRUE);
        event.pauseMs = ms;
        Raise(event);
    }
    platform::RealKernel32().sleep(ms);
}

}  // namespace

extern "C" {
decltype(&WriteFile) __imp_WriteFile = &TracedWriteFile;
decltype(&ReadFile) __imp_ReadFile = &TracedReadFile;
decltype(&CreateFileA) __imp_CreateFileA = &TracedCreateFileA;
decltype(&CloseHandle) __imp_CloseHandle = &TracedCloseHandle;
decltype(&SetCommState) __imp_SetCommState = &TracedSetCommState;
decltype(&SetCommTimeouts) __imp_SetCommTimeouts = &TracedSetCommTimeouts;
decltype(&PurgeComm) __imp_PurgeComm = &TracedPurgeComm;
decltype(&GetCommState) __imp_GetCommState = &platform::LinkGetCommState;
decltype(&Sleep) __imp_Sleep = &TracedSleep;
}

namespace platform {

void SetLinkTrace(LinkTrace trace) {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    gTrace = std::move(trace);
}

void SetLinkEventTrace(LinkEventTrace trace) {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    gEventTrace = std::move(trace);
}

}  // namespace platform

#endif  // _WIN32
