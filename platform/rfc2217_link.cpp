// Links over Telnet with the COM-PORT-OPTION: "rfc2217://HOST:PORT". The open negotiates the
// option (and binary data both ways) and fails when the server refuses it or stays silent;
// SetCommState sends the line settings, so that the switch of speed and framing reaches the
// far end's serial port in the stream's order; 0xFF in data is doubled both ways and the
// server's commands are taken out of what is read.
//
// What we send besides data (answers, line settings, purges, the rest of a cut escape) waits in
// one bounded queue that goes out ahead of the next data, so the stream keeps its order; a read
// only ever sends from it without waiting, so a server that never reads cannot hold a read up.
#include "platform/socket_calls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/net.h"
#include "platform/telnet.h"

namespace platform {

namespace tn = telnet;

namespace {

// How long the open waits for the server to agree to the option.
constexpr uint64_t NEGOTIATION_TIMEOUT_MS = 3000;
// How long a control message of ours (the line settings, a purge) may wait for the connection.
constexpr uint64_t CONTROL_SEND_MS = 1000;
// Data received and not yet read is kept up to this: the rest of one fetch, or what came while
// the open waited (more of that is stale and dropped).
constexpr size_t PENDING_DATA_MAX_BYTES = 4096;
// Control bytes not yet sent; answers beyond it are dropped (a peer that floods requests and
// never reads gets no more of them).
constexpr size_t CONTROL_QUEUE_MAX_BYTES = 4096;
// Speeds asked for whose answers have not come yet; a server that never answers leaves only the
// latest ones.
constexpr size_t BAUD_ASKED_MAX = 8;

struct Rfc2217State : FdState {
    tn::TelnetDecoder decoder;
    tn::TelnetOptions options{{tn::OPT_BINARY, tn::OPT_COM_PORT}, {tn::OPT_BINARY, tn::OPT_SGA}};
    std::vector<uint8_t> pending;     // data received and not yet read
    std::vector<uint8_t> control;     // control bytes to go out before any more data
    std::vector<uint8_t> escaped;     // the bytes of one write as they travel
    std::vector<uint32_t> baudAsked;  // SET-BAUDRATE sent, in order, not yet answered
};

Rfc2217State& StateOf(const Link& link) {
    return static_cast<Rfc2217State&>(FdOf(link));
}

// False when the queue has no room for bytes: they are dropped.
bool Queue(Link& link, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t>& q = StateOf(link).control;
    if (q.size() + bytes.size() > CONTROL_QUEUE_MAX_BYTES) return false;
    q.insert(q.end(), bytes.begin(), bytes.end());
    return true;
}

// Sends the queued control bytes within waitMs (0: only what the socket takes now); true when
// none is left.
bool FlushControl(Link& link, uint64_t waitMs) {
    std::vector<uint8_t>& q = StateOf(link).control;
    if (q.empty()) return true;
    DWORD sent = 0;
    if (waitMs == 0) {
        ssize_t w = NetPut(link, q.data(), q.size());
        if (w > 0) sent = static_cast<DWORD>(w);
    } else {
        sent = WriteWithin(link, q.data(), static_cast<DWORD>(q.size()), NetPut, waitMs);
    }
    q.erase(q.begin(), q.begin() + sent);
    return q.empty();
}

bool SendControl(Link& link, const std::vector<uint8_t>& bytes) {
    bool queued = Queue(link, bytes);
    return FlushControl(link, CONTROL_SEND_MS) && queued;
}

// The server's answer to a SET-BAUDRATE is the speed its line has now: one other than the one
// asked for means the PLC is talked to at a speed it does not expect.
void TakeBaudAnswer(Link& link, const tn::Command& c) {
    const std::vector<uint8_t>& p = c.payload;
    std::vector<uint32_t>& asked = StateOf(link).baudAsked;
    if (c.option != tn::OPT_COM_PORT || p.size() < 5 ||
        p[0] != tn::SET_BAUDRATE + tn::SERVER_REPLY_OFFSET || asked.empty())
        return;
    uint32_t baud = uint32_t{p[1]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 8 | p[4];
    uint32_t wanted = asked.front();
    asked.erase(asked.begin());
    if (baud != 0 && baud != wanted) NoteBaudAnswered(link, wanted, baud);
}

// Raw bytes from the server: data to data (room for n), negotiations answered, the server's
// subnegotiations (its answers to ours, line-state notices) taken out. Returns the data count.
size_t TakeRaw(Link& link, const uint8_t* raw, size_t n, uint8_t* data) {
    Rfc2217State& s = StateOf(link);
    size_t dataLen = 0;
    while (n > 0) {
        tn::Command c;
        bool have = false;
        size_t used = s.decoder.Decode(raw, n, data, &dataLen, &c, &have);
        raw += used;
        n -= used;
        if (have && c.verb == tn::SB) TakeBaudAnswer(link, c);
        if (have && c.verb != tn::SB) Queue(link, s.options.Answer(c.verb, c.option));
    }
    FlushControl(link, 0);
    return dataLen;
}

// Keeps the newest PENDING_DATA_MAX_BYTES: what is dropped is the oldest, the stalest.
void KeepPending(Link& link, const uint8_t* data, size_t n) {
    std::vector<uint8_t>& pending = StateOf(link).pending;
    pending.insert(pending.end(), data, data + n);
    if (pending.size() > PENDING_DATA_MAX_BYTES)
        pending.erase(pending.begin(), pending.end() - PENDING_DATA_MAX_BYTES);
}

// A whole chunk of what has arrived, so that a small read still finds data behind commands; the
// data beyond n waits for the next read.
ssize_t Rfc2217Fetch(Link& link, uint8_t* buf, size_t n) {
    uint8_t raw[PENDING_DATA_MAX_BYTES], data[PENDING_DATA_MAX_BYTES];
    ssize_t r = NetRecv(link, raw, sizeof raw);
    if (r <= 0) return r;
    size_t got = TakeRaw(link, raw, static_cast<size_t>(r), data);
    if (got == 0) {
        errno = EAGAIN;  // commands only: wait on
        return -1;
    }
    size_t given = std::min(n, got);
    std::copy_n(data, given, buf);
    KeepPending(link, data + given, got - given);
    return static_cast<ssize_t>(given);
}

DWORD Rfc2217Read(Link& link, uint8_t* buf, DWORD n) {
    std::vector<uint8_t>& pending = StateOf(link).pending;
    DWORD got = static_cast<DWORD>(std::min<size_t>(n, pending.size()));
    std::copy_n(pending.begin(), got, buf);
    pending.erase(pending.begin(), pending.begin() + got);
    if (got == n) return got;
    return got + ReadWithTimeouts(link, buf + got, n - got, Rfc2217Fetch);
}

DWORD Rfc2217Write(Link& link, const uint8_t* buf, DWORD n) {
    uint64_t total = NetWriteTotalMs(link.timeouts, n);
    uint64_t start = MonotonicMs();
    if (!FlushControl(link, total)) return 0;
    uint64_t spent = MonotonicMs() - start;
    std::vector<uint8_t>& out = StateOf(link).escaped;
    out.clear();
    tn::EscapeIac(buf, n, &out);
    DWORD sent = WriteWithin(link, out.data(), static_cast<DWORD>(out.size()), NetPut,
                             spent < total ? total - spent : 1);
    if (sent == out.size()) return n;
    // The data bytes whose escape went out count as written. Half an escape is finished ahead
    // of anything else (it counts too), or the server would read the next byte as a command.
    DWORD taken = 0;
    for (DWORD raw = 0; taken < n; ++taken) {
        raw += buf[taken] == tn::IAC ? 2 : 1;
        if (raw <= sent) continue;
        if (raw == sent + 1 && buf[taken] == tn::IAC) {
            std::vector<uint8_t>& q = StateOf(link).control;
            q.insert(q.begin(), tn::IAC);
            ++taken;
        }
        break;
    }
    return taken;
}

bool Rfc2217SetLine(Link& link, const DCB& dcb) {
    LineSettings s = LineFromDcb(dcb);
    std::vector<uint8_t> commands;
    if (!tn::LineCommands(s, &commands)) return false;
    bool queued = Queue(link, commands);
    std::vector<uint32_t>& asked = StateOf(link).baudAsked;
    if (queued && asked.size() == BAUD_ASKED_MAX) asked.erase(asked.begin());
    if (queued) asked.push_back(s.baud);
    return FlushControl(link, CONTROL_SEND_MS) && queued;
}

void Rfc2217Close(Link& link) {
    Rfc2217State* s = &StateOf(link);
    sys::CloseSocket(s->fd);
    delete s;
    link.state = nullptr;
}

// Our requests, then the server's answers until it has answered the option or the time is up.
// Win32 error code of a failure: the server refused, closed, or did not answer in time.
DWORD Negotiate(Link& link) {
    Rfc2217State& s = StateOf(link);
    tn::TelnetOptions& o = s.options;
    for (auto [verb, option] : {std::pair{tn::WILL, tn::OPT_BINARY},
                                {tn::DO, tn::OPT_BINARY},
                                {tn::WILL, tn::OPT_COM_PORT}})
        Queue(link, o.Request(verb, option));
    uint64_t deadline = MonotonicMs() + NEGOTIATION_TIMEOUT_MS;
    while (!o.PeerAnswered(tn::OPT_COM_PORT)) {
        FlushControl(link, 0);
        if (MonotonicMs() >= deadline) return ERROR_TIMEOUT;
        short events = s.control.empty() ? sys::WAIT_IN : sys::WAIT_IN | sys::WAIT_OUT;
        if (!WaitReady(s.fd, events, deadline, true)) return ERROR_TIMEOUT;
        uint8_t raw[PENDING_DATA_MAX_BYTES], data[PENDING_DATA_MAX_BYTES];
        ssize_t r = sys::Recv(s.fd, raw, sizeof raw);
        if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) return ERROR_CONNECTION_ABORTED;
        if (r < 0) continue;
        size_t got = TakeRaw(link, raw, static_cast<size_t>(r), data);
        KeepPending(link, data, got);
    }
    return o.PeerAgreed(tn::OPT_COM_PORT) ? 0 : ERROR_NOT_SUPPORTED;
}

}  // namespace

bool PurgeRfc2217Input(Link& link) {
    bool sent = SendControl(link, tn::ComPortCommand(tn::PURGE_DATA, {tn::PURGE_RECEIVE}));
    DrainSocket(link, [](Link& l, const uint8_t* raw, size_t n) {
        std::vector<uint8_t> discarded(n);
        TakeRaw(l, raw, n, discarded.data());
    });
    StateOf(link).pending.clear();
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
    *err = Negotiate(link);
    if (*err == 0) return true;
    Rfc2217Close(link);
    link.kind = nullptr;
    return false;
}

}  // namespace platform
