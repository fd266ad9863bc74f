// Virtual links: in-process peers on the virtual clock.
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "platform/link.h"

namespace platform {

struct VirtualLinkAccess {
    static std::string& Name(VirtualLink& l) { return l.name_; }
    static std::shared_ptr<VirtualPeer>& Peer(VirtualLink& l) { return l.peer_; }
    static std::vector<VirtualLink::Timed>& Rx(VirtualLink& l) { return l.rx_; }
    static size_t& RxHead(VirtualLink& l) { return l.rxHead_; }
    static LineSettings& Line(VirtualLink& l) { return l.line_; }
    static std::vector<LineSettings>& History(VirtualLink& l) { return l.lineHistory_; }
    static COMMTIMEOUTS& Timeouts(VirtualLink& l) { return l.timeouts_; }
    static int& OpenCount(VirtualLink& l) { return l.openCount_; }
    static int& TotalOpens(VirtualLink& l) { return l.totalOpens_; }
    static int& Purges(VirtualLink& l) { return l.purges_; }
    static size_t& PurgedBytes(VirtualLink& l) { return l.purgedBytes_; }
};

using A = VirtualLinkAccess;

namespace {

std::atomic<uint64_t> gNowMs{0};
std::atomic<bool> gVirtualSleep{false};
std::mutex gRegistryMutex;
std::map<std::string, std::unique_ptr<VirtualLink>> gRegistry;

DWORD VirtualRead(Link& link, uint8_t* buf, DWORD n) {
    VirtualLink& v = *link.vlink;
    uint64_t now = VirtualNowMs();
    uint64_t deadline = now + ReadTotalMs(link.timeouts, n);
    if (auto& peer = A::Peer(v)) peer->OnRead(v, now, deadline);
    auto& rx = A::Rx(v);
    size_t& head = A::RxHead(v);
    DWORD got = 0;
    uint64_t lastAt = now;
    while (got < n && head < rx.size() && rx[head].atMs <= deadline) {
        buf[got++] = rx[head].byte;
        lastAt = std::max(lastAt, rx[head].atMs);
        ++head;
    }
    if (head == rx.size()) {
        rx.clear();
        head = 0;
    }
    uint64_t end = got == n ? lastAt : deadline;
    if (end > now) AdvanceVirtualClock(end - now);
    return got;
}

DWORD VirtualWrite(Link& link, const uint8_t* buf, DWORD n) {
    VirtualLink& v = *link.vlink;
    uint64_t now = VirtualNowMs();
    size_t took = 0;
    if (auto& peer = A::Peer(v)) took = std::min<size_t>(n, peer->OnWrite(v, buf, n, now));
    // A write that the far end does not take in full waits out its time-out.
    if (took < n) AdvanceVirtualClock(WriteTotalMs(link.timeouts, n));
    return static_cast<DWORD>(took);
}

bool VirtualSetLine(Link& link, const DCB& dcb) {
    if (link.vlink->RefusedCommCalls() & REFUSE_LINE_SETTINGS) return false;
    LineSettings s;
    s.baud = dcb.BaudRate;
    s.byteSize = dcb.ByteSize;
    s.parity = dcb.Parity;
    s.stopBits = dcb.StopBits;
    s.dtr = dcb.fDtrControl == DTR_CONTROL_ENABLE;
    s.rts = dcb.fRtsControl == RTS_CONTROL_ENABLE;
    A::Line(*link.vlink) = s;
    A::History(*link.vlink).push_back(s);
    return true;
}

bool VirtualSetTimeouts(Link& link, const COMMTIMEOUTS& timeouts) {
    if (link.vlink->RefusedCommCalls() & REFUSE_TIMEOUTS) return false;
    A::Timeouts(*link.vlink) = timeouts;
    return true;
}

// Drops what has arrived by now; bytes the peer has sent that are still on their way stay.
bool VirtualPurgeInput(Link& link) {
    VirtualLink& v = *link.vlink;
    if (v.RefusedCommCalls() & REFUSE_PURGE) return false;
    uint64_t now = VirtualNowMs();
    if (auto& peer = A::Peer(v)) peer->OnRead(v, now, now);
    auto& rx = A::Rx(v);
    size_t& head = A::RxHead(v);
    size_t start = head;
    while (head < rx.size() && rx[head].atMs <= now) ++head;
    A::PurgedBytes(v) += head - start;
    ++A::Purges(v);
    if (head == rx.size()) {
        rx.clear();
        head = 0;
    }
    return true;
}

void VirtualClose(Link& link) {
    VirtualLink& v = *link.vlink;
    if (A::OpenCount(v) > 0) --A::OpenCount(v);
    if (auto& peer = A::Peer(v)) peer->OnClose(v);
}

}  // namespace

const LinkKind kVirtualLink = {"virtual",          VirtualRead,       VirtualWrite, VirtualSetLine,
                               VirtualSetTimeouts, VirtualPurgeInput, VirtualClose, VirtualNowMs};

uint64_t VirtualNowMs() {
    return gNowMs.load(std::memory_order_relaxed);
}
void AdvanceVirtualClock(uint64_t ms) {
    gNowMs.fetch_add(ms, std::memory_order_relaxed);
}
void SetVirtualSleep(bool enabled) {
    gVirtualSleep = enabled;
}
bool VirtualSleepEnabled() {
    return gVirtualSleep;
}

void VirtualLink::Deliver(const uint8_t* data, size_t len, uint64_t atMs) {
    uint64_t at = atMs;
    if (rxHead_ < rx_.size()) at = std::max(at, rx_.back().atMs);
    for (size_t i = 0; i < len; ++i) rx_.push_back({data[i], at});
}

void VirtualLink::DropPending() {
    rx_.clear();
    rxHead_ = 0;
}

VirtualLink& RegisterVirtualLink(const std::string& name, std::shared_ptr<VirtualPeer> peer) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    auto link = std::make_unique<VirtualLink>();
    A::Name(*link) = name;
    A::Peer(*link) = std::move(peer);
    A::Timeouts(*link) = COMMTIMEOUTS{};
    VirtualLink& ref = *link;
    gRegistry[name] = std::move(link);
    return ref;
}

void UnregisterVirtualLink(const std::string& name) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    gRegistry.erase(name);
}

void UnregisterAllVirtualLinks() {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    gRegistry.clear();
}

VirtualLink* FindVirtualLink(const std::string& name) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    auto it = gRegistry.find(name);
    return it == gRegistry.end() ? nullptr : it->second.get();
}

bool OpenVirtualLink(const std::string& name, Link& link, DWORD* err) {
    VirtualLink* v = FindVirtualLink(name);
    *err = 0;
    if (v == nullptr) return false;  // not a virtual name: try the tty next
    auto& peer = A::Peer(*v);
    if (peer && !peer->OnOpen(*v)) {
        *err = 2;  // the device is absent right now
        return false;
    }
    ++A::OpenCount(*v);
    ++A::TotalOpens(*v);
    link.kind = &kVirtualLink;
    link.vlink = v;
    link.dcb.DCBlength = sizeof(DCB);
    link.dcb.BaudRate = A::Line(*v).baud;
    link.dcb.ByteSize = A::Line(*v).byteSize;
    link.dcb.Parity = A::Line(*v).parity;
    link.dcb.StopBits = A::Line(*v).stopBits;
    link.dcb.fBinary = 1;
    return true;
}

}  // namespace platform
