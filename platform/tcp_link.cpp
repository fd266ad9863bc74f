// Links over TCP: "tcp://HOST:PORT" carries the serial line's bytes as they are (a serial
// device server in raw mode, or plcsim --tcp). No line settings travel: SetCommState is kept
// for GetCommState and reaches nobody.
#include "platform/socket_calls.h"

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "platform/net.h"

namespace platform {

namespace {

// How long CreateFileA waits for a connection: a server that is there answers at once.
constexpr uint64_t CONNECT_TIMEOUT_MS = 3000;

// 0 once connected, else the errno of the failure (ETIMEDOUT: no answer within waitMs).
int ConnectedWithin(int fd, uint64_t waitMs) {
    if (!WaitReady(fd, sys::WAIT_OUT, MonotonicMs() + waitMs, true)) return ETIMEDOUT;
    return sys::SocketError(fd);
}

int ConnectOne(const addrinfo* a, int* error) {
    int fd = sys::OpenSocket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    // Each block waits for its acknowledgement: no small write may wait for a larger one.
    sys::SetNoDelay(fd);
    *error = sys::Connect(fd, a->ai_addr, a->ai_addrlen);
    if (*error == EINPROGRESS) *error = ConnectedWithin(fd, CONNECT_TIMEOUT_MS);
    if (*error == 0) return fd;
    sys::CloseSocket(fd);
    return -1;
}

// The Win32 code of a failed connection, as a socket error on Windows would give it.
// errno          code
const struct {
    int error;
    DWORD code;
} kConnectErrors[] = {
    {ECONNREFUSED, ERROR_CONNECTION_REFUSED}, {ETIMEDOUT, ERROR_TIMEOUT},
    {ENETUNREACH, ERROR_NETWORK_UNREACHABLE}, {EHOSTUNREACH, ERROR_HOST_UNREACHABLE},
    {ECONNRESET, ERROR_CONNECTION_ABORTED},
};

DWORD ConnectErrorCode(int error) {
    for (const auto& e : kConnectErrors)
        if (e.error == error) return e.code;
    return ERROR_FILE_NOT_FOUND;
}

DWORD TcpRead(Link& link, uint8_t* buf, DWORD n) { return ReadWithTimeouts(link, buf, n, NetFetch); }

DWORD TcpWrite(Link& link, const uint8_t* buf, DWORD n) {
    return WriteWithin(link, buf, n, NetPut, NetWriteTotalMs(link.timeouts, n));
}

bool TcpSetLine(Link&, const DCB&) { return true; }

void TcpClose(Link& link) {
    FdState* s = &FdOf(link);
    sys::CloseSocket(s->fd);
    delete s;
    link.state = nullptr;
}

// What the far end of the latest network link did: see LatestPeerNotice.
std::mutex gNoticeMutex;
LinkPeerNotice gNotice;

void RaisePeerEvent(uint32_t gone, uint32_t asked, uint32_t answered) {
    LinkEvent event;
    event.kind = LinkEventKind::Peer;
    event.ok = false;
    event.error = gone;
    event.dcb.BaudRate = asked;
    event.peerBaud = answered;
    RaiseLinkEvent(event, MonotonicMs());
}

// The connection has ended: said once, as the first sign of it showed.
void NoteGone(const Link& link, int error) {
    DWORD code = error == 0 || error == EPIPE ? ERROR_CONNECTION_ABORTED
                 : error == ECONNRESET        ? WSAECONNRESET
                                              : 0;
    if (code == 0) return;
    {
        std::lock_guard<std::mutex> lock(gNoticeMutex);
        if (gNotice.name != link.name || gNotice.gone != 0) return;
        gNotice.gone = code;
    }
    RaisePeerEvent(code, 0, 0);
}

}  // namespace

LinkPeerNotice LatestPeerNotice() {
    std::lock_guard<std::mutex> lock(gNoticeMutex);
    return gNotice;
}

void NoteBaudAnswered(const Link& link, uint32_t asked, uint32_t answered) {
    {
        std::lock_guard<std::mutex> lock(gNoticeMutex);
        if (gNotice.name != link.name) return;
        if (gNotice.baudAsked == asked && gNotice.baudAnswered == answered) return;
        gNotice.baudAsked = asked;
        gNotice.baudAnswered = answered;
    }
    RaisePeerEvent(0, asked, answered);
}

ssize_t NetRecv(Link& link, uint8_t* buf, size_t n) {
    ssize_t r = sys::Recv(FdOf(link).fd, buf, n);
    if (r == 0) NoteGone(link, 0);
    if (r < 0) NoteGone(link, errno);
    return r;
}

int ConnectTcp(const std::string& hostPort, DWORD* err) {
    std::string host, port;
    if (!SplitHostPort(hostPort, &host, &port)) {
        *err = ERROR_INVALID_NAME;
        return -1;
    }
    if (!sys::SocketsReady()) {
        *err = ERROR_NOT_SUPPORTED;
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
        *err = WSAHOST_NOT_FOUND;
        return -1;
    }
    int fd = -1, error = 0;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next)
        fd = ConnectOne(a, &error);
    freeaddrinfo(found);
    if (fd < 0) *err = ConnectErrorCode(error);
    return fd;
}

ssize_t NetPut(Link& link, const uint8_t* buf, size_t n) {
    ssize_t w = sys::Send(FdOf(link).fd, buf, n);
    if (w < 0) NoteGone(link, errno);
    return w;
}

ssize_t NetFetch(Link& link, uint8_t* buf, size_t n) { return NetRecv(link, buf, n); }

void DrainSocket(Link& link, void (*take)(Link& link, const uint8_t* raw, size_t n)) {
    // What has arrived by now, not what a peer that never stops keeps sending.
    size_t pending = 0;
    if (!sys::PendingBytes(FdOf(link).fd, &pending)) return;
    uint8_t buf[4096];
    for (size_t left = pending; left > 0;) {
        ssize_t r = NetRecv(link, buf, std::min(left, sizeof buf));
        if (r <= 0) return;
        left -= static_cast<size_t>(r);
        if (take != nullptr) take(link, buf, static_cast<size_t>(r));
    }
}

uint64_t NetWriteTotalMs(const COMMTIMEOUTS& t, DWORD n) {
    uint64_t total = WriteTotalMs(t, n);
    return total != 0 ? total : NET_WRITE_MAX_MS;
}

bool NetSetTimeouts(Link&, const COMMTIMEOUTS&) { return true; }

bool PurgeTcpInput(Link& link) {
    DrainSocket(link, nullptr);
    return true;
}

const LinkKind kTcpLink = {"tcp",          TcpRead,       TcpWrite, TcpSetLine,
                           NetSetTimeouts, PurgeTcpInput, TcpClose, MonotonicMs};

int ConnectLink(const std::string& name, const LinkKind& kind, Link& link, DWORD* err) {
    int fd = ConnectTcp(name.substr(name.find("://") + 3), err);
    if (fd < 0) return -1;
    {
        std::lock_guard<std::mutex> lock(gNoticeMutex);
        gNotice = LinkPeerNotice{name};
    }
    link.kind = &kind;
    // What GetCommState reports until the engine sets the line: the far end's is unknown.
    link.dcb.DCBlength = sizeof(DCB);
    link.dcb.BaudRate = 9600;
    link.dcb.ByteSize = 8;
    link.dcb.fBinary = 1;
    return fd;
}

bool OpenTcpLink(const std::string& name, Link& link, DWORD* err) {
    int fd = ConnectLink(name, kTcpLink, link, err);
    if (fd < 0) return false;
    link.state = new FdState{fd};
    return true;
}

OpenLinkFn NetworkLinkOpener(const std::string& name) {
    // scheme         open
    static const struct {
        const char* scheme;
        OpenLinkFn open;
    } kNetworkSchemes[] = {
        {"tcp://", OpenTcpLink},
        {"rfc2217://", OpenRfc2217Link},
    };
    for (const auto& s : kNetworkSchemes)
        if (name.rfind(s.scheme, 0) == 0) return s.open;
    return nullptr;
}

}  // namespace platform
