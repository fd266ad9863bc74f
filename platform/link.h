// Inside the platform layer: a handle names one Link, and each kind of link is one table of
// functions chosen when the link is opened.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/hooks.h"
#include "platform/virtual.h"

namespace platform {

struct Link;

struct LinkKind {
    const char* name;
    // Honour link.timeouts; return the number of bytes moved.
    DWORD (*read)(Link& link, uint8_t* buf, DWORD n);
    DWORD (*write)(Link& link, const uint8_t* buf, DWORD n);
    bool (*setLine)(Link& link, const DCB& dcb);
    // Accept the time-outs (kept in link.timeouts by the caller); false when the link refuses.
    bool (*setTimeouts)(Link& link, const COMMTIMEOUTS& timeouts);
    // Discard the input that has arrived and not been read; false when the link cannot.
    bool (*purgeInput)(Link& link);
    void (*close)(Link& link);
    uint64_t (*nowMs)();
};

struct Link {
    const LinkKind* kind = nullptr;
    // The kind's own state: made by its open, freed by its close, seen by no other kind.
    void* state = nullptr;
    std::string name;
    COMMTIMEOUTS timeouts{};
    DCB dcb{};
};

// The state of the descriptor-backed kinds (tty, tcp, rfc2217) is an FdState or derives from it;
// their link.state points at that FdState.
struct FdState {
    int fd = -1;
};
inline FdState& FdOf(const Link& link) {
    return *static_cast<FdState*>(link.state);
}

extern const LinkKind kTtyLink;
extern const LinkKind kVirtualLink;
extern const LinkKind kTcpLink;
extern const LinkKind kRfc2217Link;

// Open helpers of each kind: return true and fill the link, or false (errno-like code in *err).
bool OpenTtyLink(const std::string& path, Link& link, DWORD* err);
bool OpenVirtualLink(const std::string& name, Link& link, DWORD* err);
// "tcp://HOST:PORT": the serial line's bytes as they are over one TCP connection.
bool OpenTcpLink(const std::string& name, Link& link, DWORD* err);
// "rfc2217://HOST:PORT": the line over Telnet with the COM-PORT-OPTION.
bool OpenRfc2217Link(const std::string& name, Link& link, DWORD* err);
using OpenLinkFn = bool (*)(const std::string& name, Link& link, DWORD* err);
// The open helper of a network port's name ("tcp://...", "rfc2217://..."); nullptr for any
// other name.
OpenLinkFn NetworkLinkOpener(const std::string& name);

// Descriptor-backed kinds: reads and writes with the time-outs of link.timeouts, through
// a function that moves bytes like read()/write() (-1 with errno EAGAIN: nothing yet).
using FetchFn = ssize_t (*)(Link& link, uint8_t* buf, size_t n);
using PutFn = ssize_t (*)(Link& link, const uint8_t* buf, size_t n);
DWORD ReadWithTimeouts(Link& link, uint8_t* buf, DWORD n, FetchFn fetch);
DWORD WriteWithTimeout(Link& link, const uint8_t* buf, DWORD n, PutFn put);
// The same within totalMs (0: no limit) whatever the time-outs.
DWORD WriteWithin(Link& link, const uint8_t* buf, DWORD n, PutFn put, uint64_t totalMs);
uint64_t MonotonicMs();
// Waits until fd is ready for events or deadlineMs passes; false on time-out or error.
bool WaitReady(int fd, short events, uint64_t deadlineMs, bool hasDeadline);

// Hands event to the link event trace, if one is set. EventNowMs: the time of an event that
// has no open link, on the clock a virtual run goes by.
void RaiseLinkEvent(const LinkEvent& event, uint64_t ms);
uint64_t EventNowMs();
// Whether Sleep goes by the virtual clock.
bool VirtualSleepEnabled();

// Total read / write time-out of n bytes under t; 0 means none.
uint64_t ReadTotalMs(const COMMTIMEOUTS& t, DWORD n);
uint64_t WriteTotalMs(const COMMTIMEOUTS& t, DWORD n);

// How Windows' serial driver reads n bytes under t. With ReadIntervalTimeout MAXDWORD a read
// returns at once with what is buffered when anything is; otherwise (and under any other
// interval) it waits up to totalMs for all n bytes, or only for the first byte when the
// multiplier is MAXDWORD too. Both totals 0 with MAXDWORD: at once, whatever there is.
struct ReadRule {
    uint64_t totalMs;
    bool atOnceWhenBuffered;
    bool firstByteEnds;
};
ReadRule WindowsReadRule(const COMMTIMEOUTS& t, DWORD n);

}  // namespace platform
