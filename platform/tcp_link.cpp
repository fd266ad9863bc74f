// Links over TCP: "tcp://HOST:PORT" carries the serial line's bytes as they are (a serial
// device server in raw mode, or plcsim --tcp). No line settings travel: SetCommState is kept
// for GetCommState and reaches nobody.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/net.h"

namespace platform {

namespace {

// How long CreateFileA waits for a connection: a server that is there answers at once.
constexpr uint64_t CONNECT_TIMEOUT_MS = 3000;

bool ConnectedWithin(int fd, uint64_t waitMs) {
    if (!WaitReady(fd, POLLOUT, MonotonicMs() + waitMs, true)) return false;
    int soError = 0;
    socklen_t len = sizeof soError;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0;
}

int ConnectOne(const addrinfo* a) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) return -1;
    // Each block waits for its acknowledgement: no small write may wait for a larger one.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, a->ai_addr, a->ai_addrlen) == 0 ||
        (errno == EINPROGRESS && ConnectedWithin(fd, CONNECT_TIMEOUT_MS)))
        return fd;
    ::close(fd);
    return -1;
}

DWORD TcpRead(Link& link, uint8_t* buf, DWORD n) { return ReadWithTimeouts(link, buf, n, NetFetch); }

DWORD TcpWrite(Link& link, const uint8_t* buf, DWORD n) {
    return WriteWithTimeout(link, buf, n, NetPut);
}

bool TcpSetLine(Link&, const DCB&) { return true; }

void TcpClose(Link& link) {
    FdState* s = &FdOf(link);
    ::close(s->fd);
    delete s;
    link.state = nullptr;
}

}  // namespace

bool SplitHostPort(const std::string& hostPort, std::string* host, std::string* port) {
    size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string h = hostPort.substr(0, colon);
    if (h.front() == '[') {
        if (h.size() < 3 || h.back() != ']') return false;
        h = h.substr(1, h.size() - 2);
    } else if (h.find(':') != std::string::npos) {
        return false;  // an IPv6 address needs its brackets
    }
    std::string p = hostPort.substr(colon + 1);
    if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
        return false;
    long number = std::strtol(p.c_str(), nullptr, 10);
    if (number < 1 || number > 65535) return false;
    *host = h;
    *port = p;
    return true;
}

int ConnectTcp(const std::string& hostPort, DWORD* err) {
    std::string host, port;
    if (!SplitHostPort(hostPort, &host, &port)) {
        *err = ERROR_INVALID_NAME;
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
        *err = ERROR_FILE_NOT_FOUND;
        return -1;
    }
    int fd = -1;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) fd = ConnectOne(a);
    freeaddrinfo(found);
    if (fd < 0) *err = ERROR_FILE_NOT_FOUND;  // refused, unreachable or silent: no port there
    return fd;
}

ssize_t NetPut(Link& link, const uint8_t* buf, size_t n) {
    return ::send(FdOf(link).fd, buf, n, MSG_NOSIGNAL);
}

ssize_t NetFetch(Link& link, uint8_t* buf, size_t n) { return ::recv(FdOf(link).fd, buf, n, 0); }

bool SendAllWithin(Link& link, const uint8_t* bytes, size_t n, uint64_t waitMs) {
    return WriteWithin(link, bytes, static_cast<DWORD>(n), NetPut, waitMs) == n;
}

void DrainSocket(Link& link, void (*take)(Link& link, const uint8_t* raw, size_t n)) {
    uint8_t buf[4096];
    for (;;) {
        ssize_t r = ::recv(FdOf(link).fd, buf, sizeof buf, MSG_DONTWAIT);
        if (r <= 0) return;
        if (take != nullptr) take(link, buf, static_cast<size_t>(r));
    }
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

}  // namespace platform
