// The simulated PLC on a TCP port of the loopback address, in real time: plcsim --tcp and
// --rfc2217. One host at a time: its connection is the open port, the end of the connection
// its close (a USB-attached model's replug is a new connection); a second host is refused.
//
// Raw TCP carries the serial line's bytes and nothing else: the PLC takes the line to be the
// one it expects in its phase (a converter whose serial side follows the PLC). With the
// COM-PORT-OPTION the host's line settings arrive in the stream, each in force from where it
// stands, and the PLC checks speed and framing as on a real serial port.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/telnet.h"
#include "sim/realtime.h"

namespace plcsim {

struct TcpOptions : ServeOptions {
    uint16_t port = 0;     // 0: any free port (Port() tells which)
    bool rfc2217 = false;  // Telnet with the COM-PORT-OPTION instead of raw bytes
};

class TcpServer {
public:
    TcpServer(std::shared_ptr<Plc> plc, TcpOptions options);
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Listens on 127.0.0.1. False, with a one-line reason, on failure.
    bool Start(std::string* error);
    uint16_t Port() const { return port_; }
    // The name a host opens: tcp://127.0.0.1:PORT or rfc2217://127.0.0.1:PORT.
    std::string LinkName() const;

    using End = ServeEnd;
    // Serves until *stop becomes true or the update has ended (the EOT of the transfer was
    // acknowledged and the host closed the connection or lingerMs passed).
    End Run(const std::atomic<bool>& stop);
    // Bytes for the host not yet taken by the socket: replies and Telnet answers (bounded by
    // MAX_BACKLOG_BYTES and what one read of the host's bytes brings).
    size_t Backlog() const { return rt_.QueuedReplyBytes() + tx_.size(); }
    // A bench of units instead of one PLC's update (RealTimePlc::SetTurnHook).
    void SetTurnHook(TurnHook hook) { rt_.SetTurnHook(std::move(hook)); }

private:
    void Accept(uint64_t nowMs);
    void Serve(uint64_t nowUs);
    void Drop(uint64_t nowMs);
    void TakeTelnet(const uint8_t* raw, size_t n, uint64_t nowUs);
    void Command(const platform::telnet::Command& c);
    void SendControl(const std::vector<uint8_t>& bytes);
    ssize_t SendData(const uint8_t* buf, size_t n);
    bool SendQueued();
    HostLine Line() const;

    RealTimePlc rt_;
    TcpOptions opt_;
    int listener_ = -1;
    int conn_ = -1;
    uint16_t port_ = 0;
    platform::telnet::TelnetDecoder decoder_;
    std::unique_ptr<platform::telnet::TelnetOptions> options_;
    platform::LineSettings line_;  // as the host last set it (rfc2217)
    std::vector<uint8_t> tx_;      // bytes for the host that the socket has not taken yet
};

}  // namespace plcsim
