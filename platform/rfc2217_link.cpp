// Links over Telnet with the COM-PORT-OPTION: "rfc2217://HOST:PORT". The open negotiates the
// option (and binary data both ways) and fails when the server refuses it or stays silent;
// SetCommState sends the line settings, so that the switch of speed and framing reaches the
// far end's serial port in the stream's order; 0xFF in data is doubled both ways and the
// server's commands are taken out of what is read.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/net.h"
#include "platform/telnet.h"

namespace platform {

namespace tn = telnet;

namespace {

struct Rfc2217State : FdState {
    tn::TelnetDecoder decoder;
    tn::TelnetOptions options{{tn::OPT_BINARY, tn::OPT_COM_PORT}, {tn::OPT_BINARY, tn::OPT_SGA}};
    std::vector<uint8_t> early;    // data that came while the open waited for the server
    std::vector<uint8_t> escaped;  // the bytes of one write as they travel
};

Rfc2217State& StateOf(const Link& link) {
    return static_cast<Rfc2217State&>(FdOf(link));
}

// How long the open waits for the server to agree to the option.
constexpr uint64_t NEGOTIATION_TIMEOUT_MS = 3000;
// How long a control message (an answer, the line settings) may wait for the connection.
constexpr uint64_t CONTROL_SEND_MS = 1000;

bool SendControl(Link& link, const std::vector<uint8_t>& bytes) {
    return bytes.empty() || SendAllWithin(link, bytes.data(), bytes.size(), CONTROL_SEND_MS);
}

// Raw bytes from the server: data to data (room for n), negotiations answered, the server's
// subnegotiations (its answers to ours, line-state notices) dropped. Returns the data count.
size_t TakeRaw(Link& link, const uint8_t* raw, size_t n, uint8_t* data) {
    Rfc2217State& s = StateOf(link);
    size_t dataLen = 0;
    while (n > 0) {
        tn::Command c;
        bool have = false;
        size_t used = s.decoder.Decode(raw, n, data, &dataLen, &c, &have);
        raw += used;
        n -= used;
        if (have && c.verb != tn::SB) SendControl(link, s.options.Answer(c.verb, c.option));
    }
    return dataLen;
}

ssize_t Rfc2217Fetch(Link& link, uint8_t* buf, size_t n) {
    uint8_t raw[4096];
    ssize_t r = ::recv(FdOf(link).fd, raw, std::min(n, sizeof raw), 0);
    if (r <= 0) return r;
    size_t got = TakeRaw(link, raw, static_cast<size_t>(r), buf);
    if (got == 0) {
        errno = EAGAIN;  // commands only: wait on
        return -1;
    }
    return static_cast<ssize_t>(got);
}

DWORD Rfc2217Read(Link& link, uint8_t* buf, DWORD n) {
    std::vector<uint8_t>& early = StateOf(link).early;
    DWORD got = static_cast<DWORD>(std::min<size_t>(n, early.size()));
    std::copy_n(early.begin(), got, buf);
    early.erase(early.begin(), early.begin() + got);
    if (got == n) return got;
    return got + ReadWithTimeouts(link, buf + got, n - got, Rfc2217Fetch);
}

DWORD Rfc2217Write(Link& link, const uint8_t* buf, DWORD n) {
    std::vector<uint8_t>& out = StateOf(link).escaped;
    out.clear();
    tn::EscapeIac(buf, n, &out);
    DWORD sent = WriteWithTimeout(link, out.data(), static_cast<DWORD>(out.size()), NetPut);
    if (sent == out.size()) return n;
    // Only the data bytes whose whole escape went out count as written.
    DWORD taken = 0;
    for (DWORD raw = 0; taken < n; ++taken) {
        raw += buf[taken] == tn::IAC ? 2 : 1;
        if (raw > sent) break;
    }
    return taken;
}

bool Rfc2217SetLine(Link& link, const DCB& dcb) {
    LineSettings s = LineFromDcb(dcb);
    std::vector<uint8_t> commands;
    return tn::LineCommands(s, &commands) && SendControl(link, commands);
}

void Rfc2217Close(Link& link) {
    Rfc2217State* s = &StateOf(link);
    ::close(s->fd);
    delete s;
    link.state = nullptr;
}

// Our requests, then the server's answers until it has answered the option or the time is up.
bool Negotiate(Link& link) {
    Rfc2217State& s = StateOf(link);
    tn::TelnetOptions& o = s.options;
    std::vector<uint8_t> hello;
    for (auto [verb, option] : {std::pair{tn::WILL, tn::OPT_BINARY}, {tn::DO, tn::OPT_BINARY},
                                {tn::WILL, tn::OPT_COM_PORT}}) {
        std::vector<uint8_t> r = o.Request(verb, option);
        hello.insert(hello.end(), r.begin(), r.end());
    }
    if (!SendControl(link, hello)) return false;
    uint64_t deadline = MonotonicMs() + NEGOTIATION_TIMEOUT_MS;
    while (!o.PeerAnswered(tn::OPT_COM_PORT)) {
        if (!WaitReady(s.fd, POLLIN, deadline, true)) return false;
        uint8_t raw[512], data[512];
        ssize_t r = ::recv(s.fd, raw, sizeof raw, 0);
        if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) return false;
        if (r < 0) continue;
        size_t got = TakeRaw(link, raw, static_cast<size_t>(r), data);
        s.early.insert(s.early.end(), data, data + got);
    }
    return o.PeerAgreed(tn::OPT_COM_PORT);
}

}  // namespace

bool PurgeRfc2217Input(Link& link) {
    bool sent = SendControl(link, tn::ComPortCommand(tn::PURGE_DATA, {tn::PURGE_RECEIVE}));
    DrainSocket(link, [](Link& l, const uint8_t* raw, size_t n) {
        std::vector<uint8_t> discarded(n);
        TakeRaw(l, raw, n, discarded.data());
    });
    StateOf(link).early.clear();
    return sent;
}

const LinkKind kRfc2217Link = {"rfc2217",      Rfc2217Read,       Rfc2217Write, Rfc2217SetLine,
                               NetSetTimeouts, PurgeRfc2217Input, Rfc2217Close, MonotonicMs};

bool OpenRfc2217Link(const std::string& name, Link& link, DWORD* err) {
    int fd = ConnectLink(name, kRfc2217Link, link, err);
    if (fd < 0) return false;
    auto* s = new Rfc2217State;
    s->fd = fd;
    link.state = static_cast<FdState*>(s);
    if (Negotiate(link)) return true;
    *err = s->options.PeerAnswered(tn::OPT_COM_PORT) ? ERROR_NOT_SUPPORTED : ERROR_FILE_NOT_FOUND;
    Rfc2217Close(link);
    link.kind = nullptr;
    return false;
}

}  // namespace platform
