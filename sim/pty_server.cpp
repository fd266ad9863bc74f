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

uint64_t MonotonicNowMs() { return MonotonicNowUs() / 1000; }

uint64_t MonotonicNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

PtyServer::PtyServer(std::shared_ptr<Plc> plc, PtyOptions options)
    : plc_(std::move(plc)), opt_(std::move(options)) {}

PtyServer::~PtyServer() {
    RemoveLink();
    if (master_ >= 0) ::close(master_);
}

void PtyServer::Note(const std::string& s) const {
    if (opt_.note) opt_.note(s);
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

// Wire time of one byte at the host's speed: start bit, 8 bits (7 data and parity, or 8 data),
// stop bit.
uint64_t PtyServer::ByteTimeUs() const {
    uint32_t baud = line_.line.baud;
    if (baud == 0) baud = 9600;
    return 10ull * 1000000ull / baud;
}

void PtyServer::Flush(uint64_t now) {
    while (!pending_.empty() && pending_.front().atUs <= now) {
        // Write every byte that is due in one go.
        uint8_t buf[512];
        size_t n = 0;
        while (n < sizeof buf && n < pending_.size() && pending_[n].atUs <= now)
            buf[n] = pending_[n].byte, ++n;
        ssize_t w = ::write(master_, buf, n);
        if (w <= 0) return;  // the host is not reading; try again later
        pending_.erase(pending_.begin(), pending_.begin() + w);
    }
}

void PtyServer::Serve(uint64_t now) {
    uint8_t buf[4096];
    for (;;) {
        ssize_t r = ::read(master_, buf, sizeof buf);
        if (r <= 0) return;  // EAGAIN, or EIO once the slave is closed and drained
        Take(buf, static_cast<size_t>(r), now);
        // A short read took all there was; after a full one, read again only if more is there
        // (a blocking descriptor would otherwise wait for the host's next request).
        if (static_cast<size_t>(r) < sizeof buf) return;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0) return;
    }
}

void PtyServer::Take(const uint8_t* buf, size_t len, uint64_t now) {
    // The host's speed, read again whenever the PLC has changed phase (the host switches the
    // line right after "UPDATE") and otherwise every LINE_RECHECK_US: one system call less
    // for most of the blocks of a transfer.
    Phase phase = plc_->CurrentPhase();
    if (!lineKnown_ || phase != linePhase_ || now - lineReadUs_ >= LINE_RECHECK_US) {
        line_ = CurrentLine();
        lineKnown_ = true;
        linePhase_ = phase;
        lineReadUs_ = now;
    }
    // Paced, the bytes the host wrote at once reach the PLC at the line's speed: what they
    // ask for is handled when the last of them has arrived.
    uint64_t arrivalUs = now;
    if (opt_.pace) {
        rxLineFreeUs_ = std::max(rxLineFreeUs_, now) + static_cast<uint64_t>(len) * ByteTimeUs();
        arrivalUs = rxLineFreeUs_;
    }
    uint64_t arrivalMs = arrivalUs / 1000;
    std::vector<TimedByte> replies;
    plc_->Write(buf, len, arrivalMs, line_, &replies);
    if (plc_->TakeDropPending()) pending_.clear();
    for (const TimedByte& t : replies) {
        // The PLC counts in milliseconds from the arrival; keep the arrival's microseconds.
        uint64_t at = arrivalUs + (t.atMs - arrivalMs) * 1000;
        if (opt_.pace) {
            txLineFreeUs_ = std::max(txLineFreeUs_, at) + ByteTimeUs();
            at = txLineFreeUs_;
        }
        pending_.push_back({t.byte, at});
    }
}

void PtyServer::WaitForRequest() {
    uint8_t buf[4096];
    ssize_t r = ::read(master_, buf, sizeof buf);
    uint64_t nowUs = MonotonicNowUs();
    if (r > 0) {
        Take(buf, static_cast<size_t>(r), nowUs);
        Flush(MonotonicNowUs());
    } else if (r < 0 && errno == EIO) {
        HostClosed(nowUs / 1000);  // the slave's last descriptor was closed
    }
    // A signal (EINTR) ends the wait too: the loop then looks at its stop flag.
}

void PtyServer::HostClosed(uint64_t now) {
    if (!slaveOpen_) return;
    slaveOpen_ = false;
    lineKnown_ = false;  // the next opener sets its own line
    pending_.clear();
    plc_->Close(now);
    plc_->TakeDropPending();
    Note("host closed the link");
}

bool PtyServer::WaitAndServe() {
    uint64_t nowUs = MonotonicNowUs();
    timespec wait{0, IDLE_POLL_MS * 1000000L};
    if (!slaveOpen_) {
        wait.tv_nsec = HANGUP_POLL_MS * 1000000L;
    } else if (!pending_.empty()) {
        uint64_t dueUs = pending_.front().atUs <= nowUs ? 0 : pending_.front().atUs - nowUs;
        dueUs = std::min<uint64_t>(dueUs, IDLE_POLL_MS * 1000ull);
        wait.tv_nsec = static_cast<long>(dueUs * 1000);
    }
    pollfd p{master_, POLLIN, 0};
    int ready = ppoll(&p, 1, &wait, nullptr);
    if (ready < 0) return errno == EINTR;  // a signal: the loop looks at its stop flag
    nowUs = MonotonicNowUs();
    uint64_t now = nowUs / 1000;
    bool hangup = ready > 0 && (p.revents & POLLHUP) != 0;
    bool input = ready > 0 && (p.revents & POLLIN) != 0;
    // Input, or no hang-up: someone has the slave open.
    if (ready >= 0 && (input || !hangup) && !slaveOpen_) {
        slaveOpen_ = true;
        plc_->Open(now);
        Note("host opened the link");
    }
    if (input) Serve(nowUs);
    if (hangup) {
        HostClosed(now);
        poll(nullptr, 0, HANGUP_POLL_MS);
    }
    Flush(MonotonicNowUs());
    return true;
}

PtyServer::End PtyServer::Run(const std::atomic<bool>& stop) {
    const uint32_t updatesAtStart = plc_->GetCounters().updatesCompleted;
    uint64_t doneAt = 0;
    while (!stop.load()) {
        if (opt_.blockingReads && slaveOpen_ && pending_.empty() && doneAt == 0 &&
            plc_->LinkPresent()) {
            WaitForRequest();
        } else if (!WaitAndServe()) {
            break;
        }
        uint64_t now = MonotonicNowMs();
        bool present = plc_->LinkPresent();
        if (present != wasPresent_) {
            wasPresent_ = present;
            leftAtMs_ = now;
            Note(present ? "PLC back on the link" : "PLC left the link");
        }
        if (!present && opt_.replugAfterMs > 0 && now - leftAtMs_ >= opt_.replugAfterMs) {
            // The host never closed the port: take the time as the replug or power cycle.
            plc_->Close(now);
            plc_->TakeDropPending();
            pending_.clear();
            Note("replug assumed after " + std::to_string(opt_.replugAfterMs) + " ms");
        }

        if (!opt_.serveForever && plc_->GetCounters().updatesCompleted > updatesAtStart) {
            if (doneAt == 0) doneAt = now;
            // Let the host read the last ACK and close the port before the pty goes away.
            if ((!slaveOpen_ && pending_.empty()) || now - doneAt >= opt_.lingerMs)
                return End::UpdateDone;
        }
    }
    return End::Stopped;
}

}  // namespace plcsim
