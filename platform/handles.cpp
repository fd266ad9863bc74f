// CreateFileA, ReadFile, WriteFile, the line and time-out calls and CloseHandle over links.
// A handle is the address of a Link; only handles in the open set are honoured, so a closed or
// invented handle makes every call fail and report 0 bytes.
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/hooks.h"
#include "platform/link.h"

namespace platform {

namespace {

std::mutex gHandlesMutex;
std::unordered_set<Link*> gHandles;
thread_local DWORD gLastError = 0;
std::mutex gTraceMutex;
LinkTrace gTrace;

Link* Lookup(HANDLE h) {
    std::lock_guard<std::mutex> lock(gHandlesMutex);
    auto it = gHandles.find(static_cast<Link*>(h));
    return it == gHandles.end() ? nullptr : *it;
}

void Trace(const Link& link, TraceDir dir, const uint8_t* data, size_t len, DWORD requested) {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    if (gTrace) gTrace(dir, data, len, requested, link.kind->nowMs());
}

// Link names that name a network port rather than a device.
// scheme         open
const struct {
    const char* scheme;
    bool (*open)(const std::string& name, Link& link, DWORD* err);
} kNetworkSchemes[] = {
    {"tcp://", OpenTcpLink},
    {"rfc2217://", OpenRfc2217Link},
};

// Opens name as a virtual link, a network port or a tty, in that order.
bool OpenLink(const std::string& name, Link& link, DWORD* err) {
    if (OpenVirtualLink(name, link, err) || *err != 0) return *err == 0;
    for (const auto& s : kNetworkSchemes)
        if (name.rfind(s.scheme, 0) == 0) return s.open(name, link, err);
    std::string path = name.find('/') == std::string::npos ? "/dev/" + name : name;
    return OpenTtyLink(path, link, err);
}

// "\\.\COM10" is how Windows names a port; here the prefix names nothing and is dropped.
std::string StripDevicePrefix(const char* name) {
    if (std::strncmp(name, "\\\\.\\", 4) == 0) return name + 4;
    return name;
}

}  // namespace

void SetLinkTrace(LinkTrace trace) {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    gTrace = std::move(trace);
}

int OpenHandleCount() {
    std::lock_guard<std::mutex> lock(gHandlesMutex);
    return static_cast<int>(gHandles.size());
}

uint64_t ReadTotalMs(const COMMTIMEOUTS& t, DWORD n) {
    return uint64_t{t.ReadTotalTimeoutMultiplier} * n + t.ReadTotalTimeoutConstant;
}

uint64_t WriteTotalMs(const COMMTIMEOUTS& t, DWORD n) {
    return uint64_t{t.WriteTotalTimeoutMultiplier} * n + t.WriteTotalTimeoutConstant;
}

}  // namespace platform

using platform::Link;

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    if (name == nullptr || *name == '\0') {
        platform::gLastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    std::string stripped = platform::StripDevicePrefix(name);
    auto* link = new Link;
    DWORD err = 0;
    if (!platform::OpenLink(stripped, *link, &err)) {
        delete link;
        platform::gLastError = err ? err : ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    link->name = stripped;
    std::lock_guard<std::mutex> lock(platform::gHandlesMutex);
    platform::gHandles.insert(link);
    return link;
}

BOOL ReadFile(HANDLE h, LPVOID buf, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    if (read != nullptr) *read = 0;
    Link* link = platform::Lookup(h);
    if (link == nullptr || (buf == nullptr && toRead > 0)) {
        platform::gLastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    DWORD n = link->kind->read(*link, static_cast<uint8_t*>(buf), toRead);
    if (read != nullptr) *read = n;
    platform::Trace(*link, platform::TraceDir::Read, static_cast<uint8_t*>(buf), n, toRead);
    return TRUE;
}

BOOL WriteFile(HANDLE h, LPCVOID buf, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
    if (written != nullptr) *written = 0;
    Link* link = platform::Lookup(h);
    if (link == nullptr || (buf == nullptr && toWrite > 0)) {
        platform::gLastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    DWORD n = link->kind->write(*link, static_cast<const uint8_t*>(buf), toWrite);
    if (written != nullptr) *written = n;
    platform::Trace(*link, platform::TraceDir::Write, static_cast<const uint8_t*>(buf), n, toWrite);
    return n == toWrite ? TRUE : FALSE;
}

BOOL GetCommState(HANDLE h, DCB* dcb) {
    Link* link = platform::Lookup(h);
    if (link == nullptr || dcb == nullptr) return FALSE;
    DWORD length = dcb->DCBlength;
    *dcb = link->dcb;
    dcb->DCBlength = length;
    return TRUE;
}

BOOL SetCommState(HANDLE h, DCB* dcb) {
    Link* link = platform::Lookup(h);
    if (link == nullptr || dcb == nullptr) return FALSE;
    if (!link->kind->setLine(*link, *dcb)) return FALSE;
    link->dcb = *dcb;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* timeouts) {
    Link* link = platform::Lookup(h);
    if (link == nullptr || timeouts == nullptr) return FALSE;
    if (!link->kind->setTimeouts(*link, *timeouts)) return FALSE;
    link->timeouts = *timeouts;
    return TRUE;
}

BOOL PurgeComm(HANDLE h, DWORD flags) {
    Link* link = platform::Lookup(h);
    if (link == nullptr) return FALSE;
    if ((flags & PURGE_RXCLEAR) == 0) return TRUE;
    return link->kind->purgeInput(*link) ? TRUE : FALSE;
}

BOOL CloseHandle(HANDLE h) {
    Link* link = nullptr;
    {
        std::lock_guard<std::mutex> lock(platform::gHandlesMutex);
        auto it = platform::gHandles.find(static_cast<Link*>(h));
        if (it == platform::gHandles.end()) return FALSE;
        link = *it;
        platform::gHandles.erase(it);
    }
    link->kind->close(*link);
    delete link;
    return TRUE;
}

DWORD GetLastError() {
    return platform::gLastError;
}
