// Reads and writes on a descriptor with the time-outs of COMMTIMEOUTS honoured through poll()
// against the monotonic clock: the one time-out behaviour of the tty and the network links.
#include "platform/socket_calls.h"

#include <cerrno>
#include <chrono>

#include "platform/link.h"

namespace platform {

uint64_t MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool WaitReady(int fd, short events, uint64_t deadlineMs, bool hasDeadline) {
    for (;;) {
        int waitMs = -1;
        if (hasDeadline) {
            uint64_t now = MonotonicMs();
            if (now >= deadlineMs) waitMs = 0;
            else waitMs = static_cast<int>(deadlineMs - now);
        }
        short ready = 0;
        int r = sys::Poll(fd, events, waitMs, &ready);
        if (r > 0) return (ready & (events | sys::WAIT_ERROR)) != 0;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

DWORD ReadWithTimeouts(Link& link, uint8_t* buf, DWORD n, FetchFn fetch) {
    const COMMTIMEOUTS& t = link.timeouts;
    uint64_t total = ReadTotalMs(t, n);
    bool intervalOnly = t.ReadIntervalTimeout == MAXDWORD && total == 0;
    bool hasDeadline = total != 0 || intervalOnly;
    bool hasInterval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;
    uint64_t deadline = MonotonicMs() + total;
    uint64_t lastDataMs = 0;
    DWORD got = 0;
    // Past the deadline a read still takes what is already there, but only while that brings
    // data: bytes that carry none (Telnet commands, an endless subnegotiation) end it.
    bool broughtData = true;
    while (got < n) {
        uint64_t waitUntil = deadline;
        bool limited = hasDeadline;
        if (hasInterval && got > 0) {
            uint64_t intervalEnd = lastDataMs + t.ReadIntervalTimeout;
            if (!limited || intervalEnd < waitUntil) waitUntil = intervalEnd;
            limited = true;
        }
        if (limited && !broughtData && MonotonicMs() >= waitUntil) break;
        if (!WaitReady(FdOf(link).fd, sys::WAIT_IN, waitUntil, limited)) break;
        ssize_t r = fetch(link, buf + got, n - got);
        broughtData = r > 0;
        if (r > 0) {
            got += static_cast<DWORD>(r);
            lastDataMs = MonotonicMs();
        } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
            // The other side hung up (a simulator that ended, a dropped connection): nothing
            // more will arrive, but a read still lasts its time-out as on a silent port.
            if (limited) {
                uint64_t now = MonotonicMs();
                if (now < waitUntil) sys::PauseMs(waitUntil - now);
            }
            break;
        }
    }
    return got;
}

DWORD WriteWithTimeout(Link& link, const uint8_t* buf, DWORD n, PutFn put) {
    return WriteWithin(link, buf, n, put, WriteTotalMs(link.timeouts, n));
}

DWORD WriteWithin(Link& link, const uint8_t* buf, DWORD n, PutFn put, uint64_t total) {
    uint64_t deadline = MonotonicMs() + total;
    DWORD done = 0;
    while (done < n) {
        ssize_t w = put(link, buf + done, n - done);
        if (w > 0) {
            done += static_cast<DWORD>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR) break;
        if (!WaitReady(FdOf(link).fd, sys::WAIT_OUT, deadline, total != 0)) break;
    }
    return done;
}

}  // namespace platform
