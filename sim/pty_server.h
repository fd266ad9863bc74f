// The simulated PLC on a pseudo-terminal, in real time: what plcsim runs.
//
// The server creates a pseudo-terminal, puts it in raw mode and links a path to its slave side;
// the host opens that path as its serial port. The speed the host set is read back with
// tcgetattr on the master (Linux answers for the slave; a pty keeps 8 data bits and no parity
// whatever the host asks, so only the speed is checked there).
//
// A pty does not report the host's open and close directly. The server watches the master:
// poll() reports POLLHUP while no one has the slave open, so the change from "open" to
// "closed" and back is the host's close and reopen. That is how a USB-attached model sees its
// replug and a power-cycle model its power cycle. For a host that keeps the port open, the
// replug can also be assumed after a given time without any close (replugAfterMs).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/realtime.h"
#include "sim/sim.h"

namespace plcsim {

struct PtyOptions : ServeOptions {
    std::string linkPath;  // symbolic link to the slave side (a stale link is replaced)
    // While nothing is due, wait for the host in read() itself rather than in poll(): one
    // system call a request instead of two, which a transfer of thousands of blocks feels. Only
    // for a server whose stop comes by a signal (the wait ends with it), as plcsim's does.
    bool blockingReads = false;
};

class PtyServer {
public:
    PtyServer(std::shared_ptr<Plc> plc, PtyOptions options);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Creates the pseudo-terminal and the link. False, with a one-line reason, on failure.
    bool Start(std::string* error);
    const std::string& SlavePath() const { return slavePath_; }

    using End = ServeEnd;
    // Serves until *stop becomes true or the update has ended (the EOT of the transfer was
    // acknowledged and the host closed the link or lingerMs passed).
    End Run(const std::atomic<bool>& stop);
    // Reply bytes not yet taken by the pseudo-terminal (bounded by MAX_BACKLOG_BYTES and what
    // one read of the host's bytes brings).
    size_t Backlog() const { return rt_.QueuedReplyBytes(); }
    // A bench of units instead of one PLC's update (RealTimePlc::SetTurnHook).
    void SetTurnHook(TurnHook hook) { rt_.SetTurnHook(std::move(hook)); }
    // Told after each turn whether the PLC is on the link, for what must appear and vanish
    // with it (its USB device).
    void SetPresenceHook(std::function<void(bool present)> hook) { presence_ = std::move(hook); }
    // Removes the symbolic link (also done by the destructor).
    void RemoveLink();
    // Links the path to the pseudo-terminal again, as a USB device that comes back; false with
    // the reason when it cannot.
    bool Link(std::string* error);
    bool Linked() const { return linked_; }

private:
    void Serve(uint64_t nowUs);
    void Take(const uint8_t* buf, size_t len, uint64_t nowUs);
    void WaitForRequest();
    bool WaitAndServe();  // false on an error of the pseudo-terminal
    void Flush(uint64_t nowUs);
    // The host closed the slave: its unread replies are dropped, the next opener starts clean.
    void HostGone(uint64_t nowMs);
    HostLine CurrentLine() const;

    RealTimePlc rt_;
    PtyOptions opt_;
    std::function<void(bool present)> presence_;
    int master_ = -1;
    std::string slavePath_;
    bool linked_ = false;
    HostLine line_;            // the host's line settings as last read
    bool lineKnown_ = false;
    Phase linePhase_ = Phase::App;
    uint64_t lineReadUs_ = 0;
};

}  // namespace plcsim
