// The system calls of the network links, for POSIX and for Winsock, so that the links' code is
// one: a socket is an int (Windows' socket handles fit in 32 bits), every socket is
// non-blocking, and a failed call leaves the errno value the links check (EAGAIN: nothing yet,
// EINPROGRESS: a connection under way, ECONNREFUSED, ...). On Windows include this before any
// other header, as winsock2.h must come before windows.h.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace platform::sys {

#ifdef _WIN32

// Winsock's error as the errno value the POSIX call would have left.
inline int ErrnoOf(int wsaError) {
    // WSA error          errno
    static const struct {
        int wsa;
        int error;
    } kErrors[] = {
        {WSAEWOULDBLOCK, EAGAIN},
        {WSAEINPROGRESS, EINPROGRESS},
        {WSAEINTR, EINTR},
        {WSAECONNREFUSED, ECONNREFUSED},
        {WSAETIMEDOUT, ETIMEDOUT},
        {WSAENETUNREACH, ENETUNREACH},
        {WSAEHOSTUNREACH, EHOSTUNREACH},
        {WSAECONNRESET, ECONNRESET},
        {WSAECONNABORTED, ECONNRESET},
        {WSAENETRESET, ECONNRESET},
        {WSAESHUTDOWN, EPIPE},
        {WSAENOTCONN, ENOTCONN},
    };
    for (const auto& e : kErrors)
        if (e.wsa == wsaError) return e.error;
    return EIO;
}

inline int Failed() {
    errno = ErrnoOf(WSAGetLastError());
    return -1;
}

// Winsock is started once, by the first network link, and stays up for the process.
inline bool SocketsReady() {
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

inline int OpenSocket(int family, int type, int protocol) {
    SOCKET s = WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return Failed();
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        int r = Failed();
        closesocket(s);
        return r;
    }
    return static_cast<int>(s);
}

inline SOCKET Sock(int fd) {
    return static_cast<SOCKET>(fd);
}

// 0, or the errno value of the failure (EINPROGRESS: under way).
inline int Connect(int fd, const sockaddr* address, size_t length) {
    if (connect(Sock(fd), address, static_cast<int>(length)) == 0) return 0;
    int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK ? EINPROGRESS : ErrnoOf(e);
}

// The errno value of a connection's failure, 0 once it is up.
inline int SocketError(int fd) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(Sock(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return ErrnoOf(WSAGetLastError());
    return error == 0 ? 0 : ErrnoOf(error);
}

inline void SetNoDelay(int fd) {
    BOOL one = TRUE;
    setsockopt(Sock(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

inline ssize_t Send(int fd, const void* buf, size_t n) {
    int r = send(Sock(fd), static_cast<const char*>(buf), static_cast<int>(n), 0);
    return r == SOCKET_ERROR ? Failed() : r;
}

inline ssize_t Recv(int fd, void* buf, size_t n) {
    int r = recv(Sock(fd), static_cast<char*>(buf), static_cast<int>(n), 0);
    return r == SOCKET_ERROR ? Failed() : r;
}

inline bool PendingBytes(int fd, size_t* n) {
    u_long pending = 0;
    if (ioctlsocket(Sock(fd), FIONREAD, &pending) != 0) return false;
    *n = pending;
    return true;
}

inline void CloseSocket(int fd) {
    closesocket(Sock(fd));
}

constexpr short WAIT_IN = 0x1, WAIT_OUT = 0x2, WAIT_ERROR = 0x4;

// poll() of one socket, by select(): WSAPoll does not report a connection that failed on every
// Windows version. *ready gets the WAIT_ bits that hold; returns 1, 0 on time-out, -1.
inline int Poll(int fd, short events, int waitMs, short* ready) {
    fd_set in, out, error;
    FD_ZERO(&in);
    FD_ZERO(&out);
    FD_ZERO(&error);
    if (events & WAIT_IN) FD_SET(Sock(fd), &in);
    if (events & WAIT_OUT) FD_SET(Sock(fd), &out);
    FD_SET(Sock(fd), &error);
    timeval t{waitMs / 1000, (waitMs % 1000) * 1000};
    int r = select(0, &in, &out, &error, waitMs < 0 ? nullptr : &t);
    if (r == SOCKET_ERROR) return Failed();
    *ready = static_cast<short>((FD_ISSET(Sock(fd), &in) ? WAIT_IN : 0) |
                                (FD_ISSET(Sock(fd), &out) ? WAIT_OUT : 0) |
                                (FD_ISSET(Sock(fd), &error) ? WAIT_ERROR : 0));
    return r > 0 ? 1 : 0;
}

// SleepEx, not Sleep: the console program traces the engine's Sleep as its pauses.
inline void PauseMs(uint64_t ms) {
    SleepEx(static_cast<DWORD>(ms), FALSE);
}

#else

inline bool SocketsReady() {
    return true;
}

inline int OpenSocket(int family, int type, int protocol) {
    return ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
}

inline int Connect(int fd, const sockaddr* address, size_t length) {
    return ::connect(fd, address, static_cast<socklen_t>(length)) == 0 ? 0 : errno;
}

inline int SocketError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

inline void SetNoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A peer that has gone makes a send fail with EPIPE, never raise SIGPIPE.
inline ssize_t Send(int fd, const void* buf, size_t n) {
    return ::send(fd, buf, n, MSG_NOSIGNAL);
}

inline ssize_t Recv(int fd, void* buf, size_t n) {
    return ::recv(fd, buf, n, 0);
}

inline bool PendingBytes(int fd, size_t* n) {
    int pending = 0;
    if (::ioctl(fd, FIONREAD, &pending) != 0 || pending < 0) return false;
    *n = static_cast<size_t>(pending);
    return true;
}

inline void CloseSocket(int fd) {
    ::close(fd);
}

constexpr short WAIT_IN = POLLIN, WAIT_OUT = POLLOUT, WAIT_ERROR = POLLHUP | POLLERR;

// poll() of one descriptor (a socket, or a tty: the tty links wait here too).
inline int Poll(int fd, short events, int waitMs, short* ready) {
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, waitMs);
    *ready = p.revents;
    return r;
}

inline void PauseMs(uint64_t ms) {
    ::usleep(static_cast<useconds_t>(ms * 1000));
}

#endif

}  // namespace platform::sys
