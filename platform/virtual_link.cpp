// Virtual links: in-process peers on the virtual clock.
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "platform/link.h"

namespace platform {

namespace {

std::atomic<uint64_t> gNowMs{0};
std::atomic<bool> gVirtualSleep{false};
std::mutex gRegistryMutex;
// Shared with the open handles, so that a link unregistered while open stays valid until closed.
std::map<std::string, std::shared_ptr<VirtualLink>> gRegistry;

struct VirtualState {
    std::shared_ptr<VirtualLink> link;
};

VirtualLink& VirtualOf(const Link& link) {
    return *static_cast<VirtualState*>(link.state)->link;
}

// Reads as Windows' serial driver does under the time-outs it was given (WindowsReadRule).
DWORD VirtualRead(Link& link, uint8_t* buf, DWORD n) {
    VirtualLink& v = VirtualOf(link);
    ReadRule rule = WindowsReadRule(link.timeouts, n);
    uint64_t now = VirtualNowMs();
    uint64_t deadline = now + rule.totalMs;
    uint64_t lastAt = now;
    if (rule.atOnceWhenBuffered && (rule.totalMs == 0 || v.ArrivedBy(now) > 0))
        return static_cast<DWORD>(v.Take(buf, n, now, now, &lastAt));
    // Waiting for the first byte only: the read ends when it arrives, with what came with it.
    if (rule.firstByteEnds) deadline = std::min(deadline, v.FirstArrivalMs(now, deadline));
    auto got = static_cast<DWORD>(v.Take(buf, n, now, deadline, &lastAt));
    uint64_t end = got == n ? lastAt : deadline;
    if (end > now) AdvanceVirtualClock(end - now);
    return got;
}

DWORD VirtualWrite(Link& link, const uint8_t* buf, DWORD n) {
    size_t took = std::min<size_t>(n, VirtualOf(link).Write(buf, n, VirtualNowMs()));
    // A write that the far end does not take in full waits out its time-out.
    if (took < n) AdvanceVirtualClock(WriteTotalMs(link.timeouts, n));
    return static_cast<DWORD>(took);
}

bool VirtualSetLine(Link& link, const DCB& dcb) {
    VirtualLink& v = VirtualOf(link);
    if (v.RefusedCommCalls() & REFUSE_LINE_SETTINGS) return false;
    LineSettings s = LineFromDcb(dcb);
    v.RecordLine(s);
    return true;
}

bool VirtualSetTimeouts(Link& link, const COMMTIMEOUTS& timeouts) {
    VirtualLink& v = VirtualOf(link);
    if (v.RefusedCommCalls() & REFUSE_TIMEOUTS) return false;
    v.RecordTimeouts(timeouts);
    return true;
}

bool VirtualPurgeInput(Link& link) {
    VirtualLink& v = VirtualOf(link);
    if (v.RefusedCommCalls() & REFUSE_PURGE) return false;
    v.DropArrived(VirtualNowMs());
    return true;
}

void VirtualClose(Link& link) {
    auto* s = static_cast<VirtualState*>(link.state);
    s->link->Close();
    delete s;
    link.state = nullptr;
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
    // The peer's bytes come in the order it sent them: none before one queued ahead of it.
    uint64_t at = atMs;
    for (size_t k = rx_.size(); k > rxHead_; --k)
        if (!rx_[k - 1].glitch) {
            at = std::max(at, rx_[k - 1].atMs);
            break;
        }
    for (size_t i = 0; i < len; ++i) Insert({data[i], at, false});
}

void VirtualLink::DeliverGlitch(uint8_t byte, uint64_t atMs) {
    Insert({byte, atMs, true});
}

// In time order among the bytes not read yet; after those due at the same time.
void VirtualLink::Insert(const Timed& t) {
    size_t pos = rx_.size();
    while (pos > rxHead_ && rx_[pos - 1].atMs > t.atMs) --pos;
    rx_.insert(rx_.begin() + static_cast<std::ptrdiff_t>(pos), t);
}

void VirtualLink::DropPending() {
    rx_.clear();
    rxHead_ = 0;
}

void VirtualLink::CompactRx() {
    if (rxHead_ == rx_.size()) DropPending();
}

bool VirtualLink::Open() {
    if (peer_ && !peer_->OnOpen(*this)) return false;
    ++openCount_;
    ++totalOpens_;
    return true;
}

void VirtualLink::Close() {
    if (openCount_ > 0) --openCount_;
    if (peer_) peer_->OnClose(*this);
}

size_t VirtualLink::Write(const uint8_t* data, size_t len, uint64_t nowMs) {
    return peer_ ? peer_->OnWrite(*this, data, len, nowMs) : 0;
}

size_t VirtualLink::Take(uint8_t* buf, size_t n, uint64_t nowMs, uint64_t deadlineMs,
                         uint64_t* lastAtMs) {
    if (peer_) peer_->OnRead(*this, nowMs, deadlineMs);
    size_t got = 0;
    *lastAtMs = nowMs;
    while (got < n && rxHead_ < rx_.size() && rx_[rxHead_].atMs <= deadlineMs) {
        buf[got++] = rx_[rxHead_].byte;
        *lastAtMs = std::max(*lastAtMs, rx_[rxHead_].atMs);
        ++rxHead_;
    }
    CompactRx();
    return got;
}

size_t VirtualLink::ArrivedBy(uint64_t nowMs) {
    if (peer_) peer_->OnRead(*this, nowMs, nowMs);
    size_t n = 0;
    for (size_t k = rxHead_; k < rx_.size() && rx_[k].atMs <= nowMs; ++k) ++n;
    return n;
}

uint64_t VirtualLink::FirstArrivalMs(uint64_t nowMs, uint64_t deadlineMs) {
    if (peer_) peer_->OnRead(*this, nowMs, deadlineMs);
    if (rxHead_ == rx_.size()) return deadlineMs;
    return std::max(nowMs, std::min(deadlineMs, rx_[rxHead_].atMs));
}

void VirtualLink::DropArrived(uint64_t nowMs) {
    if (peer_) peer_->OnRead(*this, nowMs, nowMs);
    size_t start = rxHead_;
    while (rxHead_ < rx_.size() && rx_[rxHead_].atMs <= nowMs) ++rxHead_;
    purgedBytes_ += rxHead_ - start;
    ++purges_;
    CompactRx();
}

void VirtualLink::RecordLine(const LineSettings& line) {
    line_ = line;
    lineHistory_.push_back(line);
}

VirtualLink& RegisterVirtualLink(const std::string& name, std::shared_ptr<VirtualPeer> peer) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    auto link = std::make_shared<VirtualLink>(name, std::move(peer));
    gRegistry[name] = link;
    return *link;
}

void UnregisterVirtualLink(const std::string& name) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    gRegistry.erase(name);
}

void UnregisterAllVirtualLinks() {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    gRegistry.clear();
}

namespace {

std::shared_ptr<VirtualLink> Find(const std::string& name) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    auto it = gRegistry.find(name);
    return it == gRegistry.end() ? nullptr : it->second;
}

}  // namespace

VirtualLink* FindVirtualLink(const std::string& name) {
    return Find(name).get();
}

bool OpenVirtualLink(const std::string& name, Link& link, DWORD* err) {
    std::shared_ptr<VirtualLink> v = Find(name);
    *err = 0;
    if (v == nullptr) return false;  // not a virtual name: try the tty next
    if (!v->Open()) {
        *err = ERROR_FILE_NOT_FOUND;  // the device is absent right now
        return false;
    }
    link.kind = &kVirtualLink;
    link.state = new VirtualState{v};
    link.dcb.DCBlength = sizeof(DCB);
    link.dcb.BaudRate = v->Line().baud;
    link.dcb.ByteSize = v->Line().byteSize;
    link.dcb.Parity = v->Line().parity;
    link.dcb.StopBits = v->Line().stopBits;
    link.dcb.fBinary = 1;
    return true;
}

}  // namespace platform
