// The tcp:// and rfc2217:// links against a peer on the loopback address, driven by hand. Real
// clock, time-outs of tens of milliseconds: what they check is how a read ends in real time.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/hooks.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "platform/telnet.h"

namespace {

namespace tn = platform::telnet;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

class NetLink : public ::testing::Test {
protected:
    void SetUp() override {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(listener, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(listen(listener, 4), 0);
        socklen_t len = sizeof a;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        port = std::to_string(ntohs(a.sin_port));
    }
    void TearDown() override {
        if (server.joinable()) server.join();
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        if (peer >= 0) close(peer);
        close(listener);
    }
    HANDLE Open(const std::string& scheme) {
        std::string name = scheme + "://127.0.0.1:" + port;
        return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    // Opens an rfc2217 link whose server answers the negotiation with answer (and then hangs up
    // when hangUp is set).
    void OpenRfc2217(const Bytes& answer, bool hangUp = false) {
        server = std::thread([this, answer, hangUp] {
            peer = accept(listener, nullptr, nullptr);
            if (peer >= 0 && !answer.empty()) Send(answer);
            if (peer >= 0 && hangUp) shutdown(peer, SHUT_WR);
        });
        h = Open("rfc2217");
        server.join();
    }
    // Opens an rfc2217 link whose server agrees with first, then sends chunk again and again
    // until StopFlood; it reads what comes only when reads is set, into heard.
    void OpenFlooded(const Bytes& first, const Bytes& chunk, bool reads) {
        stop = false;
        heard.clear();
        server = std::thread([this, first, chunk, reads] {
            peer = accept(listener, nullptr, nullptr);
            if (peer < 0) return;
            Send(first);
            while (!stop) {
                uint8_t buf[4096];
                ssize_t r = 0;
                while (reads && (r = recv(peer, buf, sizeof buf, MSG_DONTWAIT)) > 0)
                    heard.insert(heard.end(), buf, buf + r);
                pollfd p{peer, POLLOUT, 0};
                if (poll(&p, 1, 10) > 0)
                    (void)send(peer, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            }
        });
        h = Open("rfc2217");
    }
    // Ends the flood; everything the server has received is then in heard.
    void StopFlood() {
        stop = true;
        server.join();
        Bytes rest = Receive(1 << 20, 100);
        heard.insert(heard.end(), rest.begin(), rest.end());
    }
    void Timeouts(DWORD ms) {
        COMMTIMEOUTS t{MAXDWORD, 0, ms, 0, ms};
        ASSERT_TRUE(SetCommTimeouts(h, &t));
    }
    void Send(const Bytes& b) { ASSERT_EQ(send(peer, b.data(), b.size(), 0), ssize_t(b.size())); }
    // What the peer has received within waitMs, up to n bytes.
    Bytes Receive(size_t n, int waitMs = 500) {
        Bytes got;
        auto end = Clock::now() + std::chrono::milliseconds(waitMs);
        while (got.size() < n && Clock::now() < end) {
            pollfd p{peer, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            uint8_t buf[512];
            ssize_t r = recv(peer, buf, std::min(sizeof buf, n - got.size()), 0);
            if (r <= 0) break;
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }
    Bytes Read(DWORD n) {
        Bytes buf(n);
        DWORD got = 0;
        EXPECT_TRUE(ReadFile(h, buf.data(), n, &got, nullptr));
        buf.resize(got);
        return buf;
    }

    int listener = -1, peer = -1;
    std::string port;
    std::thread server;
    std::atomic<bool> stop{false};
    Bytes heard;
    HANDLE h = INVALID_HANDLE_VALUE;
};

TEST(NetNames, HostAndPortSplit) {
    struct Case {
        const char* name;
        bool ok;
        const char* host;
        const char* port;
    } cases[] = {
        {"127.0.0.1:4001", true, "127.0.0.1", "4001"}, {"plc-7.local:65535", true, "plc-7.local", "65535"},
        {"[::1]:23", true, "::1", "23"},              {"::1:23", false, "", ""},
        {"127.0.0.1", false, "", ""},                 {":4001", false, "", ""},
        {"host:0", false, "", ""},                    {"host:65536", false, "", ""},
        {"host:12a", false, "", ""},                  {"[]:23", false, "", ""},
        {"host:039825", true, "host", "39825"},       {"host:0000", false, "", ""},
        {"host:0065535", true, "host", "65535"},      {"host:065536", false, "", ""},
    };
    for (const Case& c : cases) {
        std::string host, port;
        EXPECT_EQ(platform::SplitHostPort(c.name, &host, &port), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(host + " " + port, std::string(c.host) + " " + c.port) << c.name;
        }
    }
}

TEST_F(NetLink, BadOrAbsentPortsDoNotOpen) {
    const char* names[] = {"tcp://127.0.0.1", "tcp://127.0.0.1:0", "rfc2217://:23",
                           "tcp://[::1:23"};
    for (const char* name : names) {
        EXPECT_EQ(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr),
                  INVALID_HANDLE_VALUE)
            << name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << name;
    }
    const char* unknown = "rfc2217://nohost.invalid:23";
    EXPECT_EQ(CreateFileA(unknown, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), WSAHOST_NOT_FOUND);
    close(listener);  // nobody listens there now: refused
    listener = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(Open("tcp"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_CONNECTION_REFUSED);
}

TEST_F(NetLink, TcpCarriesBytesAsTheyAreBothWays) {
    h = Open("tcp");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    peer = accept(listener, nullptr, nullptr);
    Timeouts(1000);
    DWORD put = 0;
    EXPECT_TRUE(WriteFile(h, "\xFF\x01UPDATE", 8, &put, nullptr));
    EXPECT_EQ(put, 8u);
    EXPECT_EQ(Receive(8), (Bytes{0xFF, 0x01, 'U', 'P', 'D', 'A', 'T', 'E'}));
    Send({0x06, 0xFF});
    EXPECT_EQ(Read(2), (Bytes{0x06, 0xFF}));
}

TEST_F(NetLink, DroppedPeerMakesReadsLastTheirTimeOutAndWritesFail) {
    for (const char* scheme : {"tcp", "rfc2217"}) {
        if (std::string(scheme) == "tcp") {
            h = Open("tcp");
            peer = accept(listener, nullptr, nullptr);
        } else {
            OpenRfc2217({tn::IAC, tn::DO, tn::OPT_COM_PORT});
        }
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << scheme;
        Timeouts(60);
        close(peer);
        peer = -1;
        auto t0 = Clock::now();
        EXPECT_TRUE(Read(5).empty()) << scheme;
        EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(55)) << scheme;
        // The first write may still be taken by the kernel; the reset fails the next ones.
        Bytes block(261, 0x5A);
        BOOL ok = TRUE;
        for (int i = 0; i < 5 && ok; ++i) {
            ok = WriteFile(h, block.data(), 261, nullptr, nullptr);
            if (ok) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_FALSE(ok) << scheme;
        CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
}

TEST_F(NetLink, Rfc2217OpenNeedsTheServersConsent) {
    struct Case {
        Bytes answer;
        bool opens;
        DWORD error = 0;
    } cases[] = {
        {{tn::IAC, tn::DO, tn::OPT_COM_PORT}, true},
        {{tn::IAC, tn::WILL, tn::OPT_SGA, tn::IAC, tn::DO, tn::OPT_COM_PORT}, true},
        {{tn::IAC, tn::DONT, tn::OPT_COM_PORT}, false, ERROR_NOT_SUPPORTED},
        {{}, false, ERROR_CONNECTION_ABORTED},  // closes without an answer
    };
    for (const Case& c : cases) {
        OpenRfc2217(c.answer, c.answer.empty());
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
        if (!c.opens) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        close(peer);
        peer = -1;
    }
}

TEST_F(NetLink, Rfc2217EscapesDataSendsLineSettingsAndStripsCommands) {
    // The server's answer already carries data and a command after it: both must be sorted.
    OpenRfc2217({tn::IAC, tn::DO, tn::OPT_COM_PORT, 0x15, tn::IAC, tn::WILL, tn::OPT_BINARY});
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Timeouts(1000);
    // The client's own requests: WILL BINARY, DO BINARY, WILL COM-PORT-OPTION.
    EXPECT_EQ(Receive(9), (Bytes{tn::IAC, tn::WILL, 0, tn::IAC, tn::DO, 0, tn::IAC, tn::WILL, 44}));

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(h, &dcb));
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(SetCommState(h, &dcb));
    Bytes expected;
    tn::LineCommands({115200, 8, NOPARITY, ONESTOPBIT, false, false}, &expected);
    EXPECT_EQ(Receive(expected.size()), expected);
    dcb.ByteSize = 9;
    EXPECT_FALSE(SetCommState(h, &dcb));

    EXPECT_TRUE(WriteFile(h, "\x01\xFF\x02", 3, nullptr, nullptr));
    EXPECT_EQ(Receive(4), (Bytes{0x01, 0xFF, 0xFF, 0x02}));

    // Data split by the server's answers to our settings and an escaped 0xFF.
    Send({0x06, tn::IAC, tn::SB, 44, 101, 0, 1, 0xC2, 0, tn::IAC, tn::SE, tn::IAC, tn::IAC, 0x07});
    EXPECT_EQ(Read(4), (Bytes{0x15, 0x06, 0xFF, 0x07}));
}

TEST_F(NetLink, PurgeDiscardsInputThatHasArrivedAndAsksTheServerToo) {
    for (const char* scheme : {"tcp", "rfc2217"}) {
        bool telnet = std::string(scheme) == "rfc2217";
        if (telnet) {
            OpenRfc2217({tn::IAC, tn::DO, tn::OPT_COM_PORT, 0x15});  // with early data
            Receive(9);                                             // the client's requests
        } else {
            h = Open("tcp");
            peer = accept(listener, nullptr, nullptr);
        }
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << scheme;
        Timeouts(200);
        // Stale bytes, and for rfc2217 a negotiation among them that must still be answered.
        Bytes stale = {0x06, 0x06};
        if (telnet) stale.insert(stale.end(), {tn::IAC, tn::WILL, tn::OPT_SGA, 0x15});
        Send(stale);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let them arrive
        EXPECT_TRUE(PurgeComm(h, PURGE_RXCLEAR));
        if (telnet) {
            Bytes purge = tn::ComPortCommand(tn::PURGE_DATA, {tn::PURGE_RECEIVE});
            Bytes answer = {tn::IAC, tn::DO, tn::OPT_SGA};
            Bytes both = purge;
            both.insert(both.end(), answer.begin(), answer.end());
            EXPECT_EQ(Receive(both.size()), both);
        }
        Send({0x41});
        EXPECT_EQ(Read(2), Bytes{0x41}) << scheme;
        CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        close(peer);
        peer = -1;
    }
}

TEST_F(NetLink, Rfc2217ReadsEndAtTheirDeadlineWhateverTheServerSends) {
    Bytes agree = {tn::IAC, tn::DO, tn::OPT_COM_PORT};
    Bytes sbStart = {tn::IAC, tn::DO, tn::OPT_COM_PORT, tn::IAC, tn::SB, tn::OPT_COM_PORT};
    Bytes nops, dos;
    for (int i = 0; i < 512; ++i) nops.insert(nops.end(), {tn::IAC, 241 /*NOP*/});
    for (int i = 0; i < 341; ++i) dos.insert(dos.end(), {tn::IAC, tn::DO, 99});
    struct Case {
        const char* what;
        Bytes first, chunk;
        bool reads;
        int refusals;  // IAC WONT 99 the server gets
    } cases[] = {
        {"IAC NOP without end", agree, nops, true, 0},
        {"a subnegotiation without end", sbStart, Bytes(1024, 0x55), true, 0},
        {"IAC DO 99 without end, never reading", agree, dos, false, 1},
    };
    const Bytes wont99 = {tn::IAC, tn::WONT, 99};
    for (const Case& c : cases) {
        OpenFlooded(c.first, c.chunk, c.reads);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << c.what;
        // A read with a time-out, and one that only takes what is there.
        for (DWORD ms : {100u, 0u}) {
            COMMTIMEOUTS t{MAXDWORD, 0, ms, 0, ms};
            ASSERT_TRUE(SetCommTimeouts(h, &t));
            auto t0 = Clock::now();
            EXPECT_TRUE(Read(16).empty()) << c.what;
            auto took = Clock::now() - t0;
            EXPECT_GE(took, std::chrono::milliseconds(ms * 9 / 10)) << c.what;
            EXPECT_LT(took, std::chrono::milliseconds(ms + 400)) << c.what;
        }
        auto t0 = Clock::now();
        PurgeComm(h, PURGE_RXCLEAR);
        EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1500)) << c.what;
        StopFlood();
        int refusals = 0;
        for (auto at = heard.begin();
             (at = std::search(at, heard.end(), wont99.begin(), wont99.end())) != heard.end();
             ++at)
            ++refusals;
        EXPECT_EQ(refusals, c.refusals) << c.what;
        CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        close(peer);
        peer = -1;
    }
}

TEST_F(NetLink, Rfc2217KeepsOnlyTheNewestDataThatCameBeforeTheAnswer) {
    Bytes flood(64 * 1024, 'A');
    flood.insert(flood.end(), {tn::IAC, tn::DO, tn::OPT_COM_PORT, 'B', 'C'});
    OpenRfc2217(flood);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Timeouts(100);
    Bytes got = Read(8192);
    ASSERT_LE(got.size(), 4096u);
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(Bytes(got.end() - 2, got.end()), (Bytes{'B', 'C'}));
    EXPECT_EQ(std::count(got.begin(), got.end() - 2, 'A'), std::ptrdiff_t(got.size() - 2));
}

TEST_F(NetLink, WritesToAPeerThatNeverReadsEndAtTheirDeadline) {
    // A small window on the peer's side, so that a few MiB fill the way there.
    int window = 64 * 1024;
    setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    Bytes block(256 << 10, 0x5A);
    for (const char* scheme : {"tcp", "rfc2217"}) {
        if (std::string(scheme) == "tcp") {
            h = Open("tcp");
            peer = accept(listener, nullptr, nullptr);
        } else {
            OpenRfc2217({tn::IAC, tn::DO, tn::OPT_COM_PORT});
        }
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << scheme;
        Timeouts(100);
        // Writes until one finds no room: that one ends at its deadline, short.
        BOOL ok = TRUE;
        DWORD put = 0;
        auto took = Clock::duration{};
        for (int i = 0; i < 200 && ok; ++i) {
            auto t0 = Clock::now();
            ok = WriteFile(h, block.data(), DWORD(block.size()), &put, nullptr);
            took = Clock::now() - t0;
        }
        EXPECT_FALSE(ok) << scheme;
        EXPECT_LT(took, std::chrono::milliseconds(1000)) << scheme;
        EXPECT_LT(put, block.size()) << scheme;
        CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        close(peer);
        peer = -1;
    }
}

// A server whose backlog is full never completes the handshake: the open ends at its own
// time-out (3 s), not at the system's (minutes).
TEST_F(NetLink, AConnectThatIsNeverAnsweredEndsAtItsTimeOut) {
    ASSERT_EQ(listen(listener, 0), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        (void)connect(fillers.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the queue fills
    auto t0 = Clock::now();
    EXPECT_EQ(Open("tcp"), INVALID_HANDLE_VALUE);
    auto took = Clock::now() - t0;
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    EXPECT_GE(took, std::chrono::milliseconds(2900));
    EXPECT_LT(took, std::chrono::milliseconds(4500));
    for (int fd : fillers) close(fd);
}

// The front end says why a run went silent: the server closed or reset the connection. It is
// noted once, and told to the trace.
TEST_F(NetLink, AServerThatEndsTheConnectionIsNoted) {
    struct Case {
        const char* scheme;
        bool reset;  // an abortive close (RST) instead of an orderly one (FIN)
        DWORD gone;
    } cases[] = {
        {"tcp", false, ERROR_CONNECTION_ABORTED},
        {"tcp", true, WSAECONNRESET},
        {"rfc2217", false, ERROR_CONNECTION_ABORTED},
    };
    std::vector<platform::LinkEvent> events;
    platform::SetLinkEventTrace([&](const platform::LinkEvent& e, uint64_t) {
        if (e.kind == platform::LinkEventKind::Peer) events.push_back(e);
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scheme) + (c.reset ? " reset" : " closed"));
        events.clear();
        if (std::string(c.scheme) == "tcp") {
            h = Open("tcp");
            peer = accept(listener, nullptr, nullptr);
        } else {
            OpenRfc2217({tn::IAC, tn::DO, tn::OPT_COM_PORT});
            Receive(9);  // the client's requests: a close with them unread would be a reset
        }
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        std::string name = std::string(c.scheme) + "://127.0.0.1:" + port;
        EXPECT_EQ(platform::LatestPeerNotice().name, name);
        EXPECT_EQ(platform::LatestPeerNotice().gone, 0u);
        Timeouts(30);
        if (c.reset) {
            linger abort{1, 0};
            setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        close(peer);
        peer = -1;
        Read(4);
        Read(4);
        EXPECT_EQ(platform::LatestPeerNotice().gone, c.gone);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].error, c.gone);
        CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
    platform::SetLinkEventTrace(nullptr);
}

// A server's answer to SET-BAUDRATE is the speed its line has: another than the one asked for is
// noted (the latest pair) and told to the trace; the answers are matched to the requests in order.
TEST_F(NetLink, Rfc2217SpeedTheServerDoesNotTakeIsNoted) {
    std::vector<platform::LinkEvent> events;
    platform::SetLinkEventTrace([&](const platform::LinkEvent& e, uint64_t) {
        if (e.kind == platform::LinkEventKind::Peer) events.push_back(e);
    });
    OpenRfc2217({tn::IAC, tn::DO, tn::OPT_COM_PORT});
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Timeouts(50);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(h, &dcb));
    dcb.ByteSize = 8;
    for (DWORD baud : {9600u, 115200u, 57600u}) {
        dcb.BaudRate = baud;
        ASSERT_TRUE(SetCommState(h, &dcb));
    }
    auto answer = [](uint32_t baud) {
        return tn::ComPortCommand(
            tn::SET_BAUDRATE + tn::SERVER_REPLY_OFFSET,
            {uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8), uint8_t(baud)});
    };
    for (uint32_t baud : {9600u, 300u, 57600u}) Send(answer(baud));
    Read(4);
    platform::LinkPeerNotice notice = platform::LatestPeerNotice();
    EXPECT_EQ(notice.baudAsked, 115200u);
    EXPECT_EQ(notice.baudAnswered, 300u);
    EXPECT_EQ(notice.gone, 0u);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].dcb.BaudRate, 115200u);
    EXPECT_EQ(events[0].peerBaud, 300u);
    platform::SetLinkEventTrace(nullptr);
}

}  // namespace
