// The simulated PLC in real time, whatever carries the host's bytes: what the pseudo-terminal
// and the TCP servers share. It takes the host's bytes with the line they came at, queues the
// PLC's replies at their times (paced at the line's speed when asked), and tracks the PLC's
// presence on the link and the end of the update. The servers own the transport and its loop.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "sim/sim.h"

namespace plcsim {

// Reply bytes and answers queued for a host that does not read them: past this many, a server
// takes no more of the host's bytes until the host reads (a serial device's full buffers hold
// the sender back the same way), so a host that floods and never reads cannot grow it.
constexpr size_t MAX_BACKLOG_BYTES = 64 * 1024;
// Reads of the host's bytes in one turn of a server's loop, so that a flood cannot keep the loop
// from its stop flag.
constexpr int MAX_READS_PER_TURN = 16;

// How a server's Run ended.
enum class ServeEnd { Stopped, UpdateDone };

struct ServeOptions {
    uint32_t replugAfterMs = 0;  // 0: wait for the host's close and reopen
    uint32_t lingerMs = 3000;    // after the update: longest wait for the host to close
    bool serveForever = false;   // keep serving after an update (until stopped)
    // Model the line's speed both ways: the host's bytes take their wire time to arrive, the
    // replies go out one byte at a time at the line's speed.
    bool pace = false;
    // A USB-serial adapter between the PLC and the host (sim/adapter.h): its latency timer
    // holds the replies this long; 0: none.
    uint32_t adapterLatencyMs = 0;
    // Extra log lines (opens, closes, restarts); the exchanges go to the PLC's log sink.
    std::function<void(const std::string&)> note;
};

class RealTimePlc;
// Called after each turn of a server's loop instead of waiting for one update's end, by a bench
// whose units come and go (sim/bench.h); true once the server should end.
using TurnHook = std::function<bool(uint64_t nowMs, RealTimePlc& rt)>;

class RealTimePlc {
public:
    RealTimePlc(std::shared_ptr<Plc> plc, ServeOptions options);

    Plc& Sim() { return *plc_; }
    // Another PLC on the link from now on (the replies still queued are lost with the old one);
    // an open host has opened it.
    void Replace(std::shared_ptr<Plc> plc, uint64_t nowMs);
    void SetTurnHook(TurnHook hook) { turn_ = std::move(hook); }
    const Plc& Sim() const { return *plc_; }
    const ServeOptions& Options() const { return opt_; }
    void Note(const std::string& s) const;

    void HostOpened(uint64_t nowMs);
    void HostClosed(uint64_t nowMs);  // replies not yet sent are lost with the link
    bool HostOpen() const { return hostOpen_; }
    // The host's bytes, read at nowUs, sent at line.
    void Take(const uint8_t* buf, size_t len, uint64_t nowUs, const HostLine& line);
    // Hands every reply byte due by nowUs to write (which returns how many it took, <= 0 for
    // none: the rest waits for the next call).
    void Flush(uint64_t nowUs, const std::function<ssize_t(const uint8_t*, size_t)>& write);
    bool HasReplies() const { return !pending_.empty(); }
    size_t QueuedReplyBytes() const { return pending_.size(); }
    // When the next reply bytes are handed to the host (the adapter's release, when there is one).
    uint64_t NextReplyUs() const;

    // After each turn of a server's loop: the PLC leaving and coming back, the replug assumed
    // after replugAfterMs. True once the server should end: the update is done and the host
    // has closed (or lingerMs has passed), unless serving for ever.
    bool UpdateOver(uint64_t nowMs);
    bool Done() const { return doneAtMs_ != 0; }

private:
    struct PendingByte {
        uint8_t byte;
        uint64_t atUs;
    };
    uint64_t ByteTimeUs(const HostLine& line) const;
    // When the bytes at the head of the queue reach the host.
    uint64_t HeadReleaseUs() const;
    void DropReplies();
    void Queue(const PendingByte& b);

    std::shared_ptr<Plc> plc_;
    ServeOptions opt_;
    TurnHook turn_;
    uint32_t updatesAtStart_ = 0;
    bool hostOpen_ = false;
    bool wasPresent_ = true;
    uint64_t leftAtMs_ = 0;  // when the PLC left the link (replug fallback)
    uint64_t doneAtMs_ = 0;
    std::deque<PendingByte> pending_;
    uint64_t rxLineFreeUs_ = 0;  // paced: when the host's last byte has fully arrived
    uint64_t txLineFreeUs_ = 0;  // paced: when the line is free for the next reply byte
    size_t adapterOut_ = 0;  // bytes at the head that the adapter has let go of
};

uint64_t MonotonicNowMs();
uint64_t MonotonicNowUs();

}  // namespace plcsim
