// CreateFileA, ReadFile, WriteFile, the line and time-out calls and CloseHandle over links.
// A handle is the address of a Link; only handles in the open set are honoured, so a closed or
// invented handle makes every call fail and report 0 bytes.
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/hooks.h"
#include "platform/clock.h"
#include "platform/link.h"

namespace platform {

namespace {

std::mutex gHandlesMutex;
std::unordered_set<Link*> gHandles;
thread_local DWORD gLastError = 0;
// The link trace and the event trace share one lock, so that their lines keep their order.
std::mutex gTraceMutex;
LinkTrace gTrace;
LinkEventTrace gEventTrace;

Link* Lookup(HANDLE h) {
    std::lock_guard<std::mutex> lock(gHandlesMutex);
    auto it = gHandles.find(static_cast<Link*>(h));
    return it == gHandles.end() ? nullptr : *it;
}

void Trace(const Link& link, TraceDir dir, const uint8_t* data, size_t len, DWORD requested) {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    if (gTrace) gTrace(dir, data, len, requested, link.kind->nowMs());
}

bool EventTraceSet() {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    return static_cast<bool>(gEventTrace);
}

// An event of an open link: its kind and result, with what it applied.
void Raise(const Link& link, LinkEvent event) {
    if (EventTraceSet()) RaiseLinkEvent(event, link.kind->nowMs());
}

LinkEvent EventOf(LinkEventKind kind, bool ok) {
    LinkEvent event;
    event.kind = kind;
    event.ok = ok;
    return event;
}

std::mutex gLatestOpenMutex;
LinkOpenResult gLatestOpen;

void RaiseOpen(const std::string& name, const Link* link, DWORD err) {
    {
        std::lock_guard<std::mutex> lock(gLatestOpenMutex);
        gLatestOpen = LinkOpenResult{name, err};
    }
    if (!EventTraceSet()) return;
    LinkEvent event = EventOf(LinkEventKind::Open, link != nullptr);
    event.name = name;
    event.error = err;
    RaiseLinkEvent(event, link != nullptr ? link->kind->nowMs() : EventNowMs());
}

// Opens name as a virtual link, a network port or a tty, in that order.
bool OpenLink(const std::string& name, Link& link, DWORD* err) {
    if (OpenVirtualLink(name, link, err) || *err != 0) return *err == 0;
    if (OpenLinkFn open = NetworkLinkOpener(name)) return open(name, link, err);
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

void SetLinkEventTrace(LinkEventTrace trace) {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    gEventTrace = std::move(trace);
}

void RaiseLinkEvent(const LinkEvent& event, uint64_t ms) {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    if (gEventTrace) gEventTrace(event, ms);
}

LinkOpenResult LatestLinkOpen() {
    std::lock_guard<std::mutex> lock(gLatestOpenMutex);
    return gLatestOpen;
}

uint64_t EventNowMs() {
    return VirtualSleepEnabled() ? VirtualNowMs() : MonotonicMs();
}

int OpenHandleCount() {
    std::lock_guard<std::mutex> lock(gHandlesMutex);
    return static_cast<int>(gHandles.size());
}

}  // namespace platform

using platform::Link;

uint64_t LinkClockUs(HANDLE h) {
    Link* link = platform::Lookup(h);
    if (link != nullptr && link->kind == &platform::kVirtualLink)
        return platform::VirtualNowMs() * 1000;
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

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
        platform::RaiseOpen(name, nullptr, platform::gLastError);
        return INVALID_HANDLE_VALUE;
    }
    link->name = stripped;
    {
        std::lock_guard<std::mutex> lock(platform::gHandlesMutex);
        platform::gHandles.insert(link);
    }
    platform::RaiseOpen(name, link, 0);
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
    bool ok = link->kind->setLine(*link, *dcb);
    if (ok) link->dcb = *dcb;
    platform::LinkEvent event = platform::EventOf(platform::LinkEventKind::Line, ok);
    event.dcb = *dcb;
    platform::Raise(*link, event);
    return ok ? TRUE : FALSE;
}

BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* timeouts) {
    Link* link = platform::Lookup(h);
    if (link == nullptr || timeouts == nullptr) return FALSE;
    bool ok = link->kind->setTimeouts(*link, *timeouts);
    if (ok) link->timeouts = *timeouts;
    platform::LinkEvent event = platform::EventOf(platform::LinkEventKind::Timeouts, ok);
    event.timeouts = *timeouts;
    platform::Raise(*link, event);
    return ok ? TRUE : FALSE;
}

BOOL PurgeComm(HANDLE h, DWORD flags) {
    Link* link = platform::Lookup(h);
    if (link == nullptr) return FALSE;
    if ((flags & PURGE_RXCLEAR) == 0) return TRUE;
    bool ok = link->kind->purgeInput(*link);
    platform::Raise(*link, platform::EventOf(platform::LinkEventKind::Purge, ok));
    return ok ? TRUE : FALSE;
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
    uint64_t ms = link->kind->nowMs();
    link->kind->close(*link);
    delete link;
    if (platform::EventTraceSet())
        platform::RaiseLinkEvent(platform::EventOf(platform::LinkEventKind::Close, true), ms);
    return TRUE;
}

DWORD GetLastError() {
    return platform::gLastError;
}
