// The engine's link calls on Windows over network links and kernel32 (see link_calls_win.h).
// The runtime's own calls pass through the same import slots (its locks close handles, its
// console writes go through WriteFile), so telling a network handle from any other takes no
// lock and no guarded static.
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include "platform/socket_calls.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/hooks.h"
#include "platform/link.h"
#include "platform/link_calls_win.h"

namespace platform {

namespace {

// A console program opens one link a run; a few more are refused, not overrun.
constexpr int MAX_NET_LINKS = 8;
std::atomic<Link*> gNetLinks[MAX_NET_LINKS];

Link* NetLinkOf(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
    for (auto& slot : gNetLinks)
        if (slot.load() == h) return static_cast<Link*>(h);
    return nullptr;
}

bool AddNetLink(Link* link) {
    for (auto& slot : gNetLinks) {
        Link* empty = nullptr;
        if (slot.compare_exchange_strong(empty, link)) return true;
    }
    return false;
}

bool RemoveNetLink(HANDLE h) {
    for (auto& slot : gNetLinks) {
        Link* expected = static_cast<Link*>(h);
        if (h != nullptr && slot.compare_exchange_strong(expected, nullptr)) return true;
    }
    return false;
}

std::mutex gLatestOpenMutex;
LinkOpenResult gLatestOpen;

// Opens a network link of name; false when name is not a network name. Otherwise *handle is the
// link, or INVALID_HANDLE_VALUE with the last error set.
bool OpenNetLink(LPCSTR name, HANDLE* handle) {
    if (name == nullptr) return false;
    OpenLinkFn open = NetworkLinkOpener(name);
    if (open == nullptr) return false;
    auto* link = new Link;
    DWORD err = 0;
    if (open(name, *link, &err)) {
        link->name = name;
        if (!AddNetLink(link)) {
            link->kind->close(*link);
            err = ERROR_TOO_MANY_OPEN_FILES;
        }
    } else if (err == 0) {
        err = ERROR_FILE_NOT_FOUND;
    }
    if (err != 0) delete link;
    {
        std::lock_guard<std::mutex> lock(gLatestOpenMutex);
        gLatestOpen = LinkOpenResult{name, err};
    }
    *handle = err == 0 ? static_cast<HANDLE>(link) : INVALID_HANDLE_VALUE;
    SetLastError(err);
    return true;
}

template <typename F>
void Resolve(HMODULE kernel32, const char* name, F* f) {
    *f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
}

Kernel32Calls ResolveKernel32() {
    HMODULE k = GetModuleHandleA("kernel32.dll");
    Kernel32Calls c{};
    Resolve(k, "CreateFileA", &c.createFileA);
    Resolve(k, "ReadFile", &c.readFile);
    Resolve(k, "WriteFile", &c.writeFile);
    Resolve(k, "GetCommState", &c.getCommState);
    Resolve(k, "SetCommState", &c.setCommState);
    Resolve(k, "SetCommTimeouts", &c.setCommTimeouts);
    Resolve(k, "PurgeComm", &c.purgeComm);
    Resolve(k, "CloseHandle", &c.closeHandle);
    Resolve(k, "Sleep", &c.sleep);
    Resolve(k, "FindResourceA", &c.findResourceA);
    Resolve(k, "LoadResource", &c.loadResource);
    Resolve(k, "LockResource", &c.lockResource);
    Resolve(k, "SizeofResource", &c.sizeofResource);
    Resolve(k, "FreeResource", &c.freeResource);
    return c;
}

// Filled before main, while the program has one thread; a slot called by the runtime's start-up
// before that fills it on the spot, still on that one thread.
Kernel32Calls gKernel32{};
std::atomic<bool> gKernel32Ready{false};

void FillKernel32() {
    if (gKernel32Ready.load()) return;
    gKernel32 = ResolveKernel32();
    gKernel32Ready = true;
}

__attribute__((constructor(101))) void FillKernel32BeforeMain() {
    FillKernel32();
}

}  // namespace

const Kernel32Calls& RealKernel32() {
    FillKernel32();
    return gKernel32;
}

LinkOpenResult LatestLinkOpen() {
    std::lock_guard<std::mutex> lock(gLatestOpenMutex);
    return gLatestOpen;
}

// The console program traces the engine's calls at their import slots; what a network link finds
// on its own reaches the front end through LatestPeerNotice only.
void RaiseLinkEvent(const LinkEvent&, uint64_t) {}

namespace {

// "\\.\COM3" and "\\?\usb#..." name devices; other names with a separator or a drive are paths.
bool IsPlainPath(LPCSTR name) {
    if (std::strncmp(name, "\\\\.\\", 4) == 0 || std::strncmp(name, "\\\\?\\", 4) == 0)
        return false;
    return std::strpbrk(name, "/\\:") != nullptr;
}

// A handle that protocol bytes may go to: a character device (a serial port), or a device of a
// type Windows does not tell (a USB device interface) where the name is a device's. A file, a
// directory or a pipe never is, except that a USB device interface is whatever its driver
// makes it short of a disk file.
bool IsLinkHandle(HANDLE h, LPCSTR name) {
    DWORD type = GetFileType(h);
    if (IsBoundedLinkName(name)) return type != FILE_TYPE_DISK;
    return type == FILE_TYPE_CHAR || (type == FILE_TYPE_UNKNOWN && !IsPlainPath(name));
}

void RefuseOpen(LPCSTR name, DWORD error) {
    {
        std::lock_guard<std::mutex> lock(gLatestOpenMutex);
        gLatestOpen = LinkOpenResult{name, error};
    }
    SetLastError(error);
}

}  // namespace

HANDLE WINAPI LinkCreateFileA(LPCSTR name, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile) {
    HANDLE h = INVALID_HANDLE_VALUE;
    if (OpenNetLink(name, &h)) return h;
    bool bounded = IsBoundedLinkName(name);
    if (bounded) flags |= FILE_FLAG_OVERLAPPED;
    h = RealKernel32().createFileA(name, access, share, security, disposition, flags, templateFile);
    if (h == INVALID_HANDLE_VALUE || name == nullptr) return h;
    DWORD refusal = IsLinkHandle(h, name) ? 0 : ERROR_BAD_DEVICE;
    if (refusal == 0 && bounded && !AddBoundedLink(h)) refusal = ERROR_TOO_MANY_OPEN_FILES;
    if (refusal == 0) return h;
    RealKernel32().closeHandle(h);
    RefuseOpen(name, refusal);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI LinkReadFile(HANDLE h, LPVOID buf, DWORD n, LPDWORD read, LPOVERLAPPED overlapped) {
    if (overlapped == nullptr && IsBoundedLink(h)) return BoundedReadFile(h, buf, n, read);
    Link* link = NetLinkOf(h);
    if (link == nullptr) return RealKernel32().readFile(h, buf, n, read, overlapped);
    if (read != nullptr) *read = 0;
    if (overlapped != nullptr || (buf == nullptr && n > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD got = link->kind->read(*link, static_cast<uint8_t*>(buf), n);
    if (read != nullptr) *read = got;
    return TRUE;
}

BOOL WINAPI LinkWriteFile(HANDLE h, LPCVOID buf, DWORD n, LPDWORD written,
                          LPOVERLAPPED overlapped) {
    if (overlapped == nullptr && IsBoundedLink(h)) return BoundedWriteFile(h, buf, n, written);
    Link* link = NetLinkOf(h);
    if (link == nullptr) return RealKernel32().writeFile(h, buf, n, written, overlapped);
    if (written != nullptr) *written = 0;
    if (overlapped != nullptr || (buf == nullptr && n > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD sent = link->kind->write(*link, static_cast<const uint8_t*>(buf), n);
    if (written != nullptr) *written = sent;
    if (sent == n) return TRUE;
    SetLastError(ERROR_TIMEOUT);
    return FALSE;
}

BOOL WINAPI LinkGetCommState(HANDLE h, LPDCB dcb) {
    Link* link = NetLinkOf(h);
    if (link == nullptr) return RealKernel32().getCommState(h, dcb);
    if (dcb == nullptr) return FALSE;
    DWORD length = dcb->DCBlength;
    *dcb = link->dcb;
    dcb->DCBlength = length;
    return TRUE;
}

BOOL WINAPI LinkSetCommState(HANDLE h, LPDCB dcb) {
    Link* link = NetLinkOf(h);
    if (link == nullptr) return RealKernel32().setCommState(h, dcb);
    if (dcb == nullptr || !link->kind->setLine(*link, *dcb)) return FALSE;
    link->dcb = *dcb;
    return TRUE;
}

BOOL WINAPI LinkSetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    // A USB device's reads and writes go by the time-outs whether or not its driver takes them:
    // the link honours them, so it takes them.
    if (timeouts != nullptr && IsBoundedLink(h)) {
        RealKernel32().setCommTimeouts(h, timeouts);
        KeepBoundedTimeouts(h, *timeouts);
        return TRUE;
    }
    Link* link = NetLinkOf(h);
    if (link == nullptr) return RealKernel32().setCommTimeouts(h, timeouts);
    if (timeouts == nullptr || !link->kind->setTimeouts(*link, *timeouts)) return FALSE;
    link->timeouts = *timeouts;
    return TRUE;
}

BOOL WINAPI LinkPurgeComm(HANDLE h, DWORD flags) {
    Link* link = NetLinkOf(h);
    if (link == nullptr) return RealKernel32().purgeComm(h, flags);
    if ((flags & PURGE_RXCLEAR) == 0) return TRUE;
    return link->kind->purgeInput(*link) ? TRUE : FALSE;
}

BOOL WINAPI LinkCloseHandle(HANDLE h) {
    RemoveBoundedLink(h);
    if (!RemoveNetLink(h)) return RealKernel32().closeHandle(h);
    auto* link = static_cast<Link*>(h);
    link->kind->close(*link);
    delete link;
    return TRUE;
}

}  // namespace platform

#endif  // _WIN32
