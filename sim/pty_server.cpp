#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/termios_map.h"

namespace plcsim {

namespace {

// How often the server looks again while no one has the slave open (poll reports POLLHUP at
// once then, so it cannot wait on the descriptor).
constexpr int HANGUP_POLL_MS = 10;
constexpr int IDLE_POLL_MS = 100;
constexpr uint64_t LINE_RECHECK_US = 20000;

}  // namespace

PtyServer::PtyServer(std::shared_ptr<Plc> plc, PtyOptions options)
    : rt_(std::move(plc), options), opt_(std::move(options)) {}

PtyServer::~PtyServer() {
    RemoveLink();
    if (master_ >= 0) ::close(master_);
}

bool PtyServer::Start(std::string* error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(master_);
    if (name == nullptr) {
        *error = "cannot name the pseudo-terminal's slave side";
        return false;
    }
    slavePath_ = name;
    termios t{};
    if (tcgetattr(master_, &t) == 0) {
        // Raw: no echo of our replies back to us, no CR/LF translation of the frames.
        cfmakeraw(&t);
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
        tcsetattr(master_, TCSANOW, &t);
    }
    if (!opt_.blockingReads) {
        int flags = fcntl(master_, F_GETFL);
        fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    }

    return Link(error);
}

bool PtyServer::Link(std::string* error) {
    struct stat st {};
    if (lstat(opt_.linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *error = opt_.linkPath + " exists and is not a symbolic link; not replacing it";
        return false;
    }
    // Replace a stale link atomically: a new link under a temporary name, then rename.
    std::string tmp = opt_.linkPath + ".plcsim." + std::to_string(getpid());
    ::unlink(tmp.c_str());
    if (symlink(slavePath_.c_str(), tmp.c_str()) != 0 ||
        rename(tmp.c_str(), opt_.linkPath.c_str()) != 0) {
        *error = "cannot link " + opt_.linkPath + " to " + slavePath_ + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    linked_ = true;
    return true;
}

void PtyServer::RemoveLink() {
    if (!linked_) return;
    // Only our own link: another simulator may have taken the path over since.
    char target[512];
    ssize_t n = readlink(opt_.linkPath.c_str(), target, sizeof target - 1);
    if (n >= 0) {
        target[n] = '\0';
        if (slavePath_ == target) ::unlink(opt_.linkPath.c_str());
    }
    linked_ = false;
}

HostLine PtyServer::CurrentLine() const {
    HostLine l;
    l.framingKnown = false;
    termios t{};
    if (tcgetattr(master_, &t) == 0) l.line.baud = platform::SpeedToBaud(cfgetospeed(&t));
    l.line.byteSize = 8;
    l.line.parity = NOPARITY;
    l.line.stopBits = ONESTOPBIT;
    return l;
}

void PtyServer::HostGone(uint64_t nowMs) {
    if (!rt_.HostOpen()) return;
    rt_.HostClosed(nowMs);
    lineKnown_ = false;  // the next opener sets its own line
    // The replies the host left unread stay in the slave's input across its close: the next
    // opener would read them first. Only the slave side can drop them.
    int slave = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) return;
    tcflush(slave, TCIFLUSH);
    ::close(slave);
}

void PtyServer::Flush(uint64_t now) {
    rt_.Flush(now, [this](const uint8_t* buf, size_t n) { return ::write(master_, buf, n); });
}

void PtyServer::Serve(uint64_t now) {
    uint8_t buf[4096];
    for (int i = 0; i < MAX_READS_PER_TURN; ++i) {
        ssize_t r = ::read(master_, buf, sizeof buf);
        if (r <= 0) return;  // EAGAIN, or EIO once the slave is closed and drained
        Take(buf, static_cast<size_t>(r), now);
        // A short read took all there was; after a full one, read again only if more is there
        // (a blocking descriptor would otherwise wait for the host's next request).
        if (static_cast<size_t>(r) < sizeof buf || rt_.QueuedReplyBytes() >= MAX_BACKLOG_BYTES)
            return;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0) return;
    }
}

void PtyServer::Take(const uint8_t* buf, size_t len, uint64_t now) {
    // The host's speed, read for every request outside a transfer and for a frame within one
    // (a host that closed and reopened at once may have passed unseen, and its new line must
    // not be taken for the transfer's); otherwise again whenever the PLC has changed phase
    // (the host switches the line right after "UPDATE") and every LINE_RECHECK_US: one system
    // call less for most of the blocks of a transfer.
    Phase phase = rt_.Sim().CurrentPhase();
    bool frame = len > 0 && buf[0] == ':';
    if (!lineKnown_ || phase != Phase::Transfer || frame || phase != linePhase_ ||
        now - lineReadUs_ >= LINE_RECHECK_US) {
        line_ = CurrentLine();
        lineKnown_ = true;
        linePhase_ = phase;
        lineReadUs_ = now;
    }
    rt_.Take(buf, len, now, line_);
}

void PtyServer::WaitForRequest() {
    uint8_t buf[4096];
    ssize_t r = ::read(master_, buf, sizeof buf);
    uint64_t nowUs = MonotonicNowUs();
    if (r > 0) {
        Take(buf, static_cast<size_t>(r), nowUs);
        Flush(MonotonicNowUs());
    } else if (r < 0 && errno == EIO) {
        HostGone(nowUs / 1000);  // the slave's last descriptor was closed
    }
    // A signal (EINTR) ends the wait too: the loop then looks at its stop flag.
}

bool PtyServer::WaitAndServe() {
    uint64_t nowUs = MonotonicNowUs();
    timespec wait{0, IDLE_POLL_MS * 1000000L};
    if (!rt_.HostOpen()) {
        wait.tv_nsec = HANGUP_POLL_MS * 1000000L;
    } else if (rt_.HasReplies()) {
        uint64_t dueUs = rt_.NextReplyUs() <= nowUs ? 0 : rt_.NextReplyUs() - nowUs;
        dueUs = std::min<uint64_t>(dueUs, IDLE_POLL_MS * 1000ull);
        wait.tv_nsec = static_cast<long>(dueUs * 1000);
    }
    // A host that leaves its replies unread is not read either until it does: the wait is for
    // room to write.
    bool held = rt_.QueuedReplyBytes() >= MAX_BACKLOG_BYTES;
    if (held) wait.tv_nsec = IDLE_POLL_MS * 1000000L;
    pollfd p{master_, static_cast<short>(held ? POLLOUT : POLLIN), 0};
    int ready = ppoll(&p, 1, &wait, nullptr);
    if (ready < 0) return errno == EINTR;  // a signal: the loop looks at its stop flag
    nowUs = MonotonicNowUs();
    uint64_t now = nowUs / 1000;
    bool hangup = ready > 0 && (p.revents & POLLHUP) != 0;
    bool input = ready > 0 && (p.revents & POLLIN) != 0;
    // Input, or no hang-up: someone has the slave open.
    if (ready >= 0 && (input || !hangup)) rt_.HostOpened(now);
    if (input) Serve(nowUs);
    if (hangup) {
        HostGone(now);
        poll(nullptr, 0, HANGUP_POLL_MS);
    }
    Flush(MonotonicNowUs());
    return true;
}

PtyServer::End PtyServer::Run(const std::atomic<bool>& stop) {
    while (!stop.load()) {
        if (opt_.blockingReads && rt_.HostOpen() && !rt_.HasReplies() && !rt_.Done() &&
            rt_.Sim().LinkPresent()) {
            WaitForRequest();
        } else if (!WaitAndServe()) {
            break;
        }
        bool over = rt_.UpdateOver(MonotonicNowMs());
        if (presence_) presence_(rt_.Sim().LinkPresent());
        if (over) return End::UpdateDone;
    }
    return End::Stopped;
}

}  // namespace plcsim
