// Inside the platform layer: what the two network kinds (tcp, rfc2217) share.
#pragma once

#include <string>

#include "platform/link.h"

namespace platform {

// "HOST:PORT" (HOST may be a bracketed IPv6 address) split into its parts; false when the
// name is not of that form or the port is not 1 to 65535.
bool SplitHostPort(const std::string& hostPort, std::string* host, std::string* port);
// Connects to "HOST:PORT" (no scheme) with a bounded wait; returns a non-blocking socket with
// TCP_NODELAY, or -1 with a Win32 error code in *err: ERROR_INVALID_NAME, WSAHOST_NOT_FOUND (the
// name does not resolve), ERROR_CONNECTION_REFUSED, ERROR_TIMEOUT (no answer), ...
int ConnectTcp(const std::string& hostPort, DWORD* err);
// Connects to the "SCHEME://HOST:PORT" of name and makes link a link of that kind; returns the
// socket, which the kind keeps in its state, or -1 with a Win32 error code in *err.
int ConnectLink(const std::string& name, const LinkKind& kind, Link& link, DWORD* err);
// send() and recv() for ReadWithTimeouts and WriteWithTimeout. A peer that has gone makes
// sends fail with EPIPE, never raise SIGPIPE.
ssize_t NetPut(Link& link, const uint8_t* buf, size_t n);
ssize_t NetFetch(Link& link, uint8_t* buf, size_t n);
// recv() that notes a connection the peer closed or reset (LatestPeerNotice, a Peer event).
ssize_t NetRecv(Link& link, uint8_t* buf, size_t n);
// An RFC 2217 server answered the speed asked for with another: noted once for each pair.
void NoteBaudAnswered(const Link& link, uint32_t asked, uint32_t answered);
// A write with no write time-out on a network link still ends after this: a peer that never
// reads must not hold the run for ever.
constexpr uint64_t NET_WRITE_MAX_MS = 10000;
// The write time-out of n bytes under t, or NET_WRITE_MAX_MS where t sets none.
uint64_t NetWriteTotalMs(const COMMTIMEOUTS& t, DWORD n);
// Discards what the socket has received so far, without waiting; take sees the raw bytes.
void DrainSocket(Link& link, void (*take)(Link& link, const uint8_t* raw, size_t n));
// poll() and the deadlines of the reads and writes honour any time-outs.
bool NetSetTimeouts(Link& link, const COMMTIMEOUTS& timeouts);
// Input that has already arrived, discarded: on tcp:// what the socket holds; on rfc2217://
// also what the server holds for us (PURGE-DATA), with the commands among it still obeyed.
bool PurgeTcpInput(Link& link);
bool PurgeRfc2217Input(Link& link);

}  // namespace platform
