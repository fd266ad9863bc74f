// Links on POSIX ttys (serial ports, USB serial devices, pseudo-terminals).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include "platform/link.h"
#include "platform/termios_map.h"

namespace platform {

namespace {

// A serial driver's low-latency mode, asked for while the link is open: a USB-serial adapter
// then hands on each reply at once instead of when its latency timer runs out.
struct TtyState : FdState {
    bool lowLatencySet = false;  // this link turned it on and turns it off again
};

TtyState& TtyOf(const Link& link) {
    return static_cast<TtyState&>(FdOf(link));
}

// Pseudo-terminals and drivers without the serial ioctls refuse; the line is then left as it is.
bool AskLowLatency(int fd) {
#if defined(__linux__)
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0)
        return false;
    serial.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &serial) == 0;
#else
    (void)fd;
    return false;
#endif
}

void GiveLowLatencyBack(int fd) {
#if defined(__linux__)
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &serial);
#else
    (void)fd;
#endif
}

ssize_t TtyFetch(Link& link, uint8_t* buf, size_t n) { return ::read(FdOf(link).fd, buf, n); }

ssize_t TtyPut(Link& link, const uint8_t* buf, size_t n) { return ::write(FdOf(link).fd, buf, n); }

DWORD TtyRead(Link& link, uint8_t* buf, DWORD n) { return ReadWithTimeouts(link, buf, n, TtyFetch); }

DWORD TtyWrite(Link& link, const uint8_t* buf, DWORD n) {
    return WriteWithTimeout(link, buf, n, TtyPut);
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
    int fd = FdOf(link).fd;
    if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
    SetModemLines(fd, dcb);
    return true;
}

// poll() and the deadlines of TtyRead and TtyWrite honour any time-outs.
bool TtySetTimeouts(Link&, const COMMTIMEOUTS&) {
    return true;
}

bool TtyPurgeInput(Link& link) {
    int fd = FdOf(link).fd;
    // Most requests find nothing waiting: asking costs less than a flush, which also wakes the
    // far end of a pseudo-terminal.
    int pending = 0;
    if (ioctl(fd, FIONREAD, &pending) == 0 && pending == 0) return true;
    return tcflush(fd, TCIFLUSH) == 0;
}

void TtyClose(Link& link) {
    TtyState* s = &TtyOf(link);
    if (s->lowLatencySet) GiveLowLatencyBack(s->fd);
    flock(s->fd, LOCK_UN);
    ::close(s->fd);
    delete s;
    link.state = nullptr;
}

}  // namespace

const LinkKind kTtyLink = {"tty",          TtyRead,       TtyWrite, TtySetLine,
                           TtySetTimeouts, TtyPurgeInput, TtyClose, MonotonicMs};

bool OpenTtyLink(const std::string& path, Link& link, DWORD* err) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *err = errno == ENOENT   ? ERROR_FILE_NOT_FOUND
               : errno == EISDIR ? ERROR_BAD_DEVICE
                                 : ERROR_ACCESS_DENIED;
        return false;
    }
    // Whatever checked the name before, protocol bytes go to a terminal device only: never into
    // a file, a FIFO or /dev/null that a mistyped path names.
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || isatty(fd) != 1) {
        ::close(fd);
        *err = ERROR_BAD_DEVICE;
        return false;
    }
    // Share mode 0: one opener at a time among the programs that open links this way. The
    // kernel's exclusive tty mode is not used: a simulator must still be able to look at the
    // line settings of its pseudo-terminal through a second descriptor.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        *err = ERROR_SHARING_VIOLATION;
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
    auto* state = new TtyState;
    state->fd = fd;
    state->lowLatencySet = AskLowLatency(fd);
    link.state = static_cast<FdState*>(state);
    link.kind = &kTtyLink;
    return true;
}

}  // namespace platform
