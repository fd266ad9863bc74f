// In-process links and the virtual clock, for tests and the fault soak (POSIX only).
//
// A test registers a peer under a link name; CreateFileA of that name returns a handle whose
// writes go to the peer and whose reads take the bytes the peer has queued. Such a handle runs
// on the virtual clock and reads as Windows' serial driver does under the time-outs set: a read
// that cannot be satisfied returns at once with what there is and the clock advances to the
// read's deadline; Sleep advances the clock while it is enabled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

// Line settings applied to a link through SetCommState, as the peer and the tests see them.
struct LineSettings {
    uint32_t baud = 9600;
    uint8_t byteSize = 8;
    uint8_t parity = NOPARITY;
    uint8_t stopBits = ONESTOPBIT;
    bool dtr = false;
    bool rts = false;
    bool operator==(const LineSettings&) const = default;
};
// The settings a DCB asks for.
LineSettings LineFromDcb(const DCB& dcb);

// Virtual clock in milliseconds.
uint64_t VirtualNowMs();
void AdvanceVirtualClock(uint64_t ms);
// While enabled, Sleep advances the virtual clock instead of sleeping.
void SetVirtualSleep(bool enabled);

class VirtualLink;

// Comm calls a virtual link can be told to refuse.
#define REFUSE_LINE_SETTINGS 0x1u  // SetCommState
#define REFUSE_TIMEOUTS 0x2u       // SetCommTimeouts
#define REFUSE_PURGE 0x4u          // PurgeComm

// The far end of a virtual link. All calls come from the thread that uses the handle.
class VirtualPeer {
  public:
    virtual ~VirtualPeer() = default;
    // CreateFileA on the link's name. Returning false makes the open fail (device absent).
    virtual bool OnOpen(VirtualLink& link) {
        (void)link;
        return true;
    }
    virtual void OnClose(VirtualLink& link) { (void)link; }
    // The host wrote len bytes at the virtual time nowMs. Returns how many bytes the link took
    // (fewer than len is a short write). Replies are queued with link.Deliver().
    virtual size_t OnWrite(VirtualLink& link, const uint8_t* data, size_t len, uint64_t nowMs) = 0;
    // The host is about to read; lets a peer produce bytes lazily up to deadlineMs.
    virtual void OnRead(VirtualLink& link, uint64_t nowMs, uint64_t deadlineMs) {
        (void)link;
        (void)nowMs;
        (void)deadlineMs;
    }
};

// One registered link: the queue of bytes travelling to the host and the record of line
// settings and time-outs the host applied.
class VirtualLink {
  public:
    VirtualLink(std::string name, std::shared_ptr<VirtualPeer> peer)
        : name_(std::move(name)), peer_(std::move(peer)) {}

    // Queues bytes that become readable by the host at the virtual time atMs.
    void Deliver(const uint8_t* data, size_t len, uint64_t atMs);
    void Deliver(const std::string& text, uint64_t atMs) {
        Deliver(reinterpret_cast<const uint8_t*>(text.data()), text.size(), atMs);
    }
    // A byte that the line made (a glitch), not the peer's transmitter: readable at atMs even
    // when bytes due later are queued before it.
    void DeliverGlitch(uint8_t byte, uint64_t atMs);
    // Discards every queued byte (a peer that restarts or vanishes).
    void DropPending();
    size_t PendingBytes() const { return rx_.size() - rxHead_; }

    const LineSettings& Line() const { return line_; }
    // Every line setting applied with SetCommState, in order.
    const std::vector<LineSettings>& LineHistory() const { return lineHistory_; }
    const COMMTIMEOUTS& Timeouts() const { return timeouts_; }
    // Input discards (PurgeComm with PURGE_RXCLEAR) the host made, and the bytes they dropped.
    int Purges() const { return purges_; }
    size_t PurgedBytes() const { return purgedBytes_; }
    // Makes the comm calls of this link fail, as a device whose driver takes only reads and
    // writes may (a mask of REFUSE_* bits; 0 accepts them all again).
    void RefuseCommCalls(unsigned calls) { refused_ = calls; }
    unsigned RefusedCommCalls() const { return refused_; }
    bool IsOpen() const { return openCount_ > 0; }
    int OpenCount() const { return openCount_; }
    int TotalOpens() const { return totalOpens_; }
    const std::string& Name() const { return name_; }

    // The host's side, as the link's handle calls it.
    // Opens the link unless the peer refuses (an absent device).
    bool Open();
    void Close();
    // Hands the peer the host's bytes; returns how many it took.
    size_t Write(const uint8_t* data, size_t len, uint64_t nowMs);
    // Takes up to n bytes that have arrived by deadlineMs (the peer may produce them first);
    // *lastAtMs becomes the arrival time of the last byte taken (nowMs when none).
    size_t Take(uint8_t* buf, size_t n, uint64_t nowMs, uint64_t deadlineMs, uint64_t* lastAtMs);
    // The bytes that have arrived by nowMs and not been read.
    size_t ArrivedBy(uint64_t nowMs);
    // When the next byte arrives (the peer may produce it first); deadlineMs when none comes by
    // then.
    uint64_t FirstArrivalMs(uint64_t nowMs, uint64_t deadlineMs);
    // Discards the bytes that have arrived by nowMs; the ones still on their way stay.
    void DropArrived(uint64_t nowMs);
    void RecordLine(const LineSettings& line);
    void RecordTimeouts(const COMMTIMEOUTS& timeouts) { timeouts_ = timeouts; }

  private:
    struct Timed {
        uint8_t byte;
        uint64_t atMs;
        bool glitch;
    };
    void CompactRx();
    void Insert(const Timed& t);

    std::string name_;
    std::shared_ptr<VirtualPeer> peer_;
    std::vector<Timed> rx_;
    size_t rxHead_ = 0;
    LineSettings line_;
    std::vector<LineSettings> lineHistory_;
    COMMTIMEOUTS timeouts_{};
    int openCount_ = 0;
    int totalOpens_ = 0;
    int purges_ = 0;
    size_t purgedBytes_ = 0;
    unsigned refused_ = 0;
};

// Registers a peer under a link name (replacing any earlier one) and returns its link.
VirtualLink& RegisterVirtualLink(const std::string& name, std::shared_ptr<VirtualPeer> peer);
void UnregisterVirtualLink(const std::string& name);
void UnregisterAllVirtualLinks();
VirtualLink* FindVirtualLink(const std::string& name);
// Number of handles of any kind that are open (leak checks).
int OpenHandleCount();

}  // namespace platform
