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
#include <deque>
#include <memory>
#include <string>

#include "sim/sim.h"

namespace plcsim {

struct PtyOptions {
    std::string linkPath;        // symbolic link to the slave side (a stale link is replaced)
    uint32_t replugAfterMs = 0;  // 0: wait for the host's close and reopen
    uint32_t lingerMs = 3000;    // after the update: longest wait for the host to close
    bool serveForever = false;   // keep serving after an update (until stopped)
    // Model the line's speed both ways: the host's bytes take their wire time to arrive, the
    // replies go out one byte at a time at the line's speed.
    bool pace = false;
    // While nothing is due, wait for the host in read() itself rather than in poll(): one
    // system call a request instead of two, which a transfer of thousands of blocks feels. Only
    // for a server whose stop comes by a signal (the wait ends with it), as plcsim's does.
    bool blockingReads = false;
    // Extra log lines (opens, closes, restarts); the exchanges go to the PLC's log sink.
    std::function<void(const std::string&)> note;
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

    enum class End { Stopped, UpdateDone };
    // Serves until *stop becomes true or the update has ended (the EOT of the transfer was
    // acknowledged and the host closed the link or lingerMs passed).
    End Run(const std::atomic<bool>& stop);
    // Removes the symbolic link (also done by the destructor).
    void RemoveLink();

private:
    void Serve(uint64_t nowUs);
    void Take(const uint8_t* buf, size_t len, uint64_t nowUs);
    void WaitForRequest();
    bool WaitAndServe();  // false on an error of the pseudo-terminal
    void HostClosed(uint64_t nowMs);
    void Flush(uint64_t nowUs);
    uint64_t ByteTimeUs() const;
    HostLine CurrentLine() const;
    void Note(const std::string& s) const;

    std::shared_ptr<Plc> plc_;
    PtyOptions opt_;
    int master_ = -1;
    std::string slavePath_;
    bool linked_ = false;
    bool slaveOpen_ = false;
    uint64_t leftAtMs_ = 0;  // when the PLC left the link (replug fallback)
    bool wasPresent_ = true;
    struct PendingByte {
        uint8_t byte;
        uint64_t atUs;
    };
    std::deque<PendingByte> pending_;
    HostLine line_;            // the host's line settings as last read
    bool lineKnown_ = false;
    Phase linePhase_ = Phase::App;
    uint64_t lineReadUs_ = 0;
    uint64_t rxLineFreeUs_ = 0;  // paced: when the host's last byte has fully arrived
    uint64_t txLineFreeUs_ = 0;  // paced: when the line is free for the next reply byte
};

uint64_t MonotonicNowMs();
uint64_t MonotonicNowUs();

}  // namespace plcsim
