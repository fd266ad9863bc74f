#include "sim/tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace plcsim {

namespace tn = platform::telnet;

namespace {

constexpr uint64_t IDLE_POLL_US = 100000;

}  // namespace

TcpServer::TcpServer(std::shared_ptr<Plc> plc, TcpOptions options)
    : rt_(std::move(plc), options), opt_(std::move(options)) {}

TcpServer::~TcpServer() {
    if (conn_ >= 0) ::close(conn_);
    if (listener_ >= 0) ::close(listener_);
}

std::string TcpServer::LinkName() const {
    return std::string(opt_.rfc2217 ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port_);
}

bool TcpServer::Start(std::string* error) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(opt_.port);
    socklen_t len = sizeof a;
    if (listener_ < 0 || setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(opt_.port) + ": " +
                 std::strerror(errno);
        return false;
    }
    port_ = ntohs(a.sin_port);
    return true;
}

HostLine TcpServer::Line() const {
    HostLine l;
    if (opt_.rfc2217) {
        l.line = line_;
    } else {
        bool fast = rt_.Sim().CurrentPhase() == Phase::Transfer;
        l.line.baud = fast ? 115200 : 9600;
        l.line.byteSize = fast ? 8 : 7;
        l.line.parity = fast ? NOPARITY : EVENPARITY;
    }
    return l;
}

void TcpServer::Accept(uint64_t now) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (conn_ >= 0) {
        ::close(fd);  // the port is in use: as a second opener of a COM port, refused
        rt_.Note("second host refused");
        return;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    conn_ = fd;
    decoder_ = tn::TelnetDecoder{};
    options_ = std::make_unique<tn::TelnetOptions>(
        std::vector<uint8_t>{tn::OPT_BINARY, tn::OPT_SGA},
        std::vector<uint8_t>{tn::OPT_BINARY, tn::OPT_COM_PORT});
    line_ = platform::LineSettings{};
    tx_.clear();
    rt_.HostOpened(now);
}

void TcpServer::Drop(uint64_t now) {
    ::close(conn_);
    conn_ = -1;
    tx_.clear();
    rt_.HostClosed(now);
}

void TcpServer::Serve(uint64_t nowUs) {
    uint8_t buf[4096];
    for (int i = 0; i < MAX_READS_PER_TURN; ++i) {
        ssize_t r = ::recv(conn_, buf, sizeof buf, 0);
        if (r < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (r <= 0) {
            Drop(nowUs / 1000);
            return;
        }
        if (opt_.rfc2217) TakeTelnet(buf, static_cast<size_t>(r), nowUs);
        else rt_.Take(buf, static_cast<size_t>(r), nowUs, Line());
        if (static_cast<size_t>(r) < sizeof buf || Backlog() >= MAX_BACKLOG_BYTES) return;
    }
}

// Data goes to the PLC in runs, each at the line in force where it stands in the stream.
void TcpServer::TakeTelnet(const uint8_t* raw, size_t n, uint64_t nowUs) {
    uint8_t data[4096];
    while (n > 0) {
        size_t len = 0;
        tn::Command c;
        bool have = false;
        size_t used = decoder_.Decode(raw, std::min(n, sizeof data), data, &len, &c, &have);
        raw += used;
        n -= used;
        if (len > 0) rt_.Take(data, len, nowUs, Line());
        if (have) Command(c);
    }
}

void TcpServer::Command(const tn::Command& c) {
    if (c.verb != tn::SB) {
        SendControl(options_->Answer(c.verb, c.option));
        return;
    }
    if (c.option != tn::OPT_COM_PORT || c.payload.empty()) return;
    // PURGE-DATA changes nothing here: the replies not yet sent are still on their way on the
    // simulated line, and what is due goes out at once.
    tn::ApplyComPortCommand(c, &line_);
    // Every command is answered with its code plus 100 and the value now in force (as sent).
    std::vector<uint8_t> value(c.payload.begin() + 1, c.payload.end());
    SendControl(tn::ComPortCommand(
        static_cast<uint8_t>(c.payload[0] + tn::SERVER_REPLY_OFFSET), value));
}

void TcpServer::SendControl(const std::vector<uint8_t>& bytes) {
    tx_.insert(tx_.end(), bytes.begin(), bytes.end());
    SendQueued();
}

// Sends what is queued; true when all of it went.
bool TcpServer::SendQueued() {
    while (!tx_.empty()) {
        ssize_t w = ::send(conn_, tx_.data(), tx_.size(), MSG_NOSIGNAL);
        if (w <= 0) return false;
        tx_.erase(tx_.begin(), tx_.begin() + w);
    }
    return true;
}

ssize_t TcpServer::SendData(const uint8_t* buf, size_t n) {
    if (conn_ < 0 || !SendQueued()) return 0;
    if (opt_.rfc2217) tn::EscapeIac(buf, n, &tx_);
    else tx_.insert(tx_.end(), buf, buf + n);
    SendQueued();
    return static_cast<ssize_t>(n);  // taken: what the socket left stays queued in order
}

TcpServer::End TcpServer::Run(const std::atomic<bool>& stop) {
    while (!stop.load()) {
        uint64_t nowUs = MonotonicNowUs();
        uint64_t waitUs = IDLE_POLL_US;
        if (rt_.HasReplies())
            waitUs = std::min(waitUs, rt_.NextReplyUs() <= nowUs ? 0 : rt_.NextReplyUs() - nowUs);
        // A host that leaves its answers unread is not read either until it does; its close
        // is still seen.
        int events = Backlog() >= MAX_BACKLOG_BYTES ? POLLRDHUP : POLLIN | POLLRDHUP;
        if (!tx_.empty()) events |= POLLOUT;
        pollfd p[2] = {{listener_, POLLIN, 0}, {conn_, static_cast<short>(events), 0}};
        timespec wait{static_cast<time_t>(waitUs / 1000000),
                      static_cast<long>(waitUs % 1000000) * 1000};
        int ready = ppoll(p, 2, &wait, nullptr);
        if (ready < 0 && errno != EINTR) break;
        nowUs = MonotonicNowUs();
        if (ready > 0 && (p[0].revents & POLLIN) != 0) Accept(nowUs / 1000);
        if (ready > 0 && conn_ >= 0 && p[1].fd == conn_ && (p[1].revents & ~POLLOUT) != 0)
            Serve(nowUs);
        if (conn_ >= 0) {
            SendQueued();
            rt_.Flush(MonotonicNowUs(), [this](const uint8_t* b, size_t n) { return SendData(b, n); });
        }
        if (rt_.UpdateOver(MonotonicNowMs())) return End::UpdateDone;
    }
    return End::Stopped;
}

}  // namespace plcsim
