// Links on POSIX ttys (serial ports, USB serial devices, pseudo-terminals), with the time-outs
// of COMMTIMEOUTS honoured through poll() against the monotonic clock.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/link.h"
#include "platform/termios_map.h"

namespace platform {

namespace {

uint64_t MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Waits until fd is ready for events or deadline passes; false on time-out or error.
bool WaitReady(int fd, short events, uint64_t deadlineMs, bool hasDeadline) {
    for (;;) {
        int waitMs = -1;
        if (hasDeadline) {
            uint64_t now = MonotonicMs();
            if (now >= deadlineMs)
                waitMs = 0;
            else
                waitMs = static_cast<int>(deadlineMs - now);
        }
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, waitMs);
        if (r > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

DWORD TtyRead(Link& link, uint8_t* buf, DWORD n) {
    const COMMTIMEOUTS& t = link.timeouts;
    uint64_t total = ReadTotalMs(t, n);
    bool intervalOnly = t.ReadIntervalTimeout == MAXDWORD && total == 0;
    bool hasDeadline = total != 0 || intervalOnly;
    bool hasInterval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;
    uint64_t deadline = MonotonicMs() + total;
    DWORD got = 0;
    while (got < n) {
        uint64_t waitUntil = deadline;
        bool limited = hasDeadline;
        if (hasInterval && got > 0) {
            uint64_t intervalEnd = MonotonicMs() + t.ReadIntervalTimeout;
            if (!limited || intervalEnd < waitUntil) waitUntil = intervalEnd;
            limited = true;
        }
        if (!WaitReady(link.fd, POLLIN, waitUntil, limited)) break;
        ssize_t r = ::read(link.fd, buf + got, n - got);
        if (r > 0) {
            got += static_cast<DWORD>(r);
        } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
            // The other side hung up (a pseudo-terminal whose simulator ended): nothing more
            // will arrive, but a read still lasts its time-out as on a silent port.
            if (limited) {
                uint64_t now = MonotonicMs();
                if (now < waitUntil) usleep(static_cast<useconds_t>((waitUntil - now) * 1000));
            }
            break;
        }
    }
    return got;
}

DWORD TtyWrite(Link& link, const uint8_t* buf, DWORD n) {
    uint64_t total = WriteTotalMs(link.timeouts, n);
    uint64_t deadline = MonotonicMs() + total;
    DWORD done = 0;
    while (done < n) {
        ssize_t w = ::write(link.fd, buf + done, n - done);
        if (w > 0) {
            done += static_cast<DWORD>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR) break;
        if (!WaitReady(link.fd, POLLOUT, deadline, total != 0)) break;
    }
    return done;
}

void SetModemLines(int fd, const DCB& dcb) {
    int on = DcbModemLinesOn(dcb);
    int off = (TIOCM_DTR | TIOCM_RTS) & ~on;
    // Pseudo-terminals have no modem lines; the calls fail there and that is fine.
    if (on) (void)ioctl(fd, TIOCMBIS, &on);
    if (off) (void)ioctl(fd, TIOCMBIC, &off);
}

bool TtySetLine(Link& link, const DCB& dcb) {
    termios t{};
    if (!DcbToTermios(dcb, &t)) return false;
    if (tcsetattr(link.fd, TCSANOW, &t) != 0) return false;
    SetModemLines(link.fd, dcb);
    return true;
}

// poll() and the deadlines of TtyRead and TtyWrite honour any time-outs.
bool TtySetTimeouts(Link&, const COMMTIMEOUTS&) {
    return true;
}

bool TtyPurgeInput(Link& link) {
    return tcflush(link.fd, TCIFLUSH) == 0;
}

void TtyClose(Link& link) {
    if (link.fd >= 0) {
        flock(link.fd, LOCK_UN);
        ::close(link.fd);
        link.fd = -1;
    }
}

}  // namespace

const LinkKind kTtyLink = {"tty",          TtyRead,       TtyWrite, TtySetLine,
                           TtySetTimeouts, TtyPurgeInput, TtyClose, MonotonicMs};

bool OpenTtyLink(const std::string& path, Link& link, DWORD* err) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *err = errno == ENOENT ? 2 : 5;  // ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED
        return false;
    }
    // Share mode 0: one opener at a time among the programs that open links this way. The
    // kernel's exclusive tty mode is not used: a simulator must still be able to look at the
    // line settings of its pseudo-terminal through a second descriptor.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        *err = 32;  // ERROR_SHARING_VIOLATION
        return false;
    }
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        TermiosToDcb(t, &link.dcb);
    } else {
        link.dcb.BaudRate = 9600;
        link.dcb.ByteSize = 8;
    }
    link.dcb.DCBlength = sizeof(DCB);
    link.dcb.fBinary = 1;
    link.fd = fd;
    link.kind = &kTtyLink;
    return true;
}

}  // namespace platform
