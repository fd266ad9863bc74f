// What the front end that runs the worker (the command line, or a test harness) installs so that
// the engine's MessageBoxA, KillTimer and EnableWindow reach it, and the link trace for support.
// POSIX here; the Windows console program fills the same hooks from the import slots it redirects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

struct FrontEndHooks {
    // Shows a message and returns when the operator has closed it; returns IDOK.
    std::function<int(HWND owner, const char* text, const char* caption, UINT type)> messageBox;
    std::function<BOOL(HWND hwnd, UINT_PTR id)> killTimer;
    std::function<BOOL(HWND hwnd, BOOL enable)> enableWindow;
};

// Installs the hooks (an empty member makes its call a no-op returning TRUE / IDOK).
void SetFrontEndHooks(FrontEndHooks hooks);
void ClearFrontEndHooks();

// Link trace: called for every write and read on a link with the bytes moved and the time in
// milliseconds (virtual time on a virtual link, monotonic time otherwise).
enum class TraceDir { Write, Read };
using LinkTrace = std::function<void(TraceDir dir, const uint8_t* data, size_t len,
                                     uint32_t requested, uint64_t ms)>;
void SetLinkTrace(LinkTrace trace);

// What happens to a link besides its reads and writes, with the time on the same clock as the
// link trace's; called after the call it reports, with whether that call succeeded (a pause:
// before it starts).
// Peer: what the far end of a network link did on its own (closed or reset the connection, or
// set another speed than the one asked for), when it is seen.
enum class LinkEventKind { Open, Close, Line, Timeouts, Purge, Pause, Peer };
struct LinkEvent {
    LinkEventKind kind = LinkEventKind::Open;
    bool ok = true;
    std::string name;         // Open: the link's name as the engine gave it
    uint32_t error = 0;       // Open: the system's error code when it failed; Peer: the
                              // connection's end (ERROR_CONNECTION_ABORTED, WSAECONNRESET), or 0
    DCB dcb{};                // Line: the settings asked for; Peer: the speed asked for
    uint32_t peerBaud = 0;    // Peer: the speed the server says its line has instead
    COMMTIMEOUTS timeouts{};  // Timeouts: the time-outs asked for
    uint32_t pauseMs = 0;     // Pause: how long the engine sleeps
};
using LinkEventTrace = std::function<void(const LinkEvent& event, uint64_t ms)>;
void SetLinkEventTrace(LinkEventTrace trace);

// The latest link open of the process, on any thread: the name as the engine gave it and the
// system's error code (0 when it opened), for the front end to say why a run's link did not open.
struct LinkOpenResult {
    std::string name;
    uint32_t error = 0;
};
LinkOpenResult LatestLinkOpen();

// What the far end of the latest network link did that the engine's messages cannot tell: it
// closed (ERROR_CONNECTION_ABORTED) or reset (WSAECONNRESET) the connection, or, over RFC 2217,
// answered the speed asked for with another. Kept from the link's connection until the next
// network link connects, on any thread.
struct LinkPeerNotice {
    std::string name;        // the link's name as it was opened
    uint32_t gone = 0;       // how the connection ended; 0 while it has not
    uint32_t baudAsked = 0;  // the latest speed the server did not take, and what it answered
    uint32_t baudAnswered = 0;
};
LinkPeerNotice LatestPeerNotice();

// A network link's "HOST:PORT" as the links read it. HOST may be a bracketed IPv6 address; PORT is
// decimal (leading zeros allowed) from 1 to 65535.
enum class NetNameFault { None, NoPort, PortRange, Host };
struct NetName {
    NetNameFault fault = NetNameFault::None;
    std::string host;
    uint32_t port = 0;
    std::string portText;  // the port as written
};
NetName ParseNetName(const std::string& hostPort);
// The addresses that "SCHEME://HOST:PORT" reaches, as "ADDRESS PORT" in numbers (an IPv4 address
// mapped into IPv6 written as IPv4): the same device whatever the scheme or the spelling of the
// host. A host that does not resolve is its name, case aside.
std::vector<std::string> NetworkLinkAddresses(const std::string& name);

}  // namespace platform
