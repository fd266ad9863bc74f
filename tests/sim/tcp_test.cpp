// plcsim's TCP server, driven through the platform's own tcp:// and rfc2217:// links (real
// time on the loopback address; every wait ends as soon as its bytes arrive).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "applink/frames.h"
#include "sim/tcp_server.h"
#include "tests/sim/hand_host.h"

namespace {

using simtest::HandHost;

struct Served {
    std::shared_ptr<plcsim::Plc> plc;
    std::unique_ptr<plcsim::TcpServer> server;
    std::atomic<bool> stop{false};
    plcsim::ServeEnd end = plcsim::ServeEnd::Stopped;
    std::thread thread;

    Served(const char* model, bool rfc2217, plcsim::StartMode start = plcsim::StartMode::App,
           bool pace = false) {
        plcsim::Config cfg;
        plcsim::DefaultConfig(model, &cfg);
        cfg.start = start;
        plc = std::make_shared<plcsim::Plc>(cfg);
        plcsim::TcpOptions opt;
        opt.rfc2217 = rfc2217;
        opt.lingerMs = 2000;
        opt.pace = pace;
        server = std::make_unique<plcsim::TcpServer>(plc, opt);
        std::string error;
        EXPECT_TRUE(server->Start(&error)) << error;
        thread = std::thread([this] { end = server->Run(stop); });
    }
    ~Served() {
        stop = true;
        Join();
    }
    void Join() {
        if (thread.joinable()) thread.join();
    }
    // Until the PLC is back in its bootloader after the host's close (bounded).
    void AwaitPlcBack() const {
        for (int i = 0; i < 1500 && (plc->CurrentPhase() != plcsim::Phase::Boot ||
                                     !plc->LinkPresent());
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

// A host that leaves a backlog of replies unread on a line paced at 9600 baud and closes: the
// next host's request is answered at once, not after the last one's replies would have gone.
TEST(TcpServe, TheNextHostDoesNotWaitForTheLastOnesBacklog) {
    Served s("RP200", false, plcsim::StartMode::App, true);
    {
        HandHost flood(s.server->LinkName());
        ASSERT_TRUE(flood.Open());
        std::string probes;
        for (int i = 0; i < 100; ++i) probes += FRAME_PROBE;  // 2 s of replies at 9600 baud
        ASSERT_EQ(flood.Write(probes), probes.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the server sees the close
    HandHost host(s.server->LinkName());
    ASSERT_TRUE(host.Open());
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(host.Exchange(FRAME_PROBE, 19), ":006401590500003D\r\n");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
}

TEST(TcpServe, WholeUpdatesOverBothKindsWithReplug) {
    struct Case {
        const char* model;
        bool rfc2217;
        uint32_t imageBytes;
    } cases[] = {{"RP200", false, 4096 * 3 + 100}, {"RP200", true, 4096 * 3 + 100},
                 {"QM2-C-V4", true, 3000}, {"PN2", true, 2000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + (c.rfc2217 ? " rfc2217" : " tcp"));
        Served s(c.model, c.rfc2217);
        // 0xFF bytes all through the image: escaped on the way in, never taken for commands.
        std::vector<uint8_t> img = simtest::TestImage(c.imageBytes);
        for (size_t i = 0; i < img.size(); i += 7) img[i] = 0xFF;
        HandHost host(s.server->LinkName());
        host.betweenCloseAndOpen = [&s] { s.AwaitPlcBack(); };
        host.readTimeoutMs = 300;  // the power-cycle model leaves one read unanswered
        EXPECT_EQ(simtest::RunUpdate(host, s.plc->Model(), img, true), "");
        host.Close();
        s.Join();  // the server ends by itself once the host has closed
        EXPECT_EQ(s.end, plcsim::ServeEnd::UpdateDone);
        plcsim::FlashCheck check = s.plc->CompareFlash(img.data(), img.size());
        EXPECT_TRUE(check.equal) << check.detail;
        EXPECT_TRUE(s.plc->Errors().empty()) << s.plc->Errors().front();
    }
}

TEST(TcpServe, Rfc2217LineSettingsReachThePlcsChecks) {
    Served s("QM2-E", true, plcsim::StartMode::Boot);
    HandHost host(s.server->LinkName());
    ASSERT_TRUE(host.Open());
    host.Line(9600, 8, NOPARITY);  // the speed is right, the framing is not
    EXPECT_EQ(host.Exchange("ID", 3).size(), 3u);
    host.Close();
    ASSERT_EQ(s.plc->Errors().size(), 1u);
    EXPECT_NE(s.plc->Errors()[0].find("9600 8N1"), std::string::npos) << s.plc->Errors()[0];
}

TEST(TcpServe, SecondHostIsRefusedWhileTheFirstIsConnected) {
    Served s("QM2-E", false, plcsim::StartMode::Boot);
    HandHost first(s.server->LinkName()), second(s.server->LinkName());
    ASSERT_TRUE(first.Open());
    first.Timeouts(1000);
    EXPECT_EQ(first.Exchange("ID", 3).size(), 3u);  // the first is served by now
    ASSERT_TRUE(second.Open());                     // the kernel accepts, the server closes
    second.Timeouts(200);
    EXPECT_EQ(second.Exchange("ID", 3), "");
    EXPECT_EQ(first.Exchange("ID", 3).size(), 3u);
}

// A host that floods the server and never reads what comes back: the server stops taking its
// bytes once its answers pile up, and still stops at once when told.
TEST(TcpServe, HostThatNeverReadsIsHeldBackAndTheServerStillStops) {
    using Clock = std::chrono::steady_clock;
    struct Case {
        bool rfc2217;
        std::string unit;  // each one answered
    } cases[] = {{false, ":006401590141\r\n"},                            // the probe
                 {true, std::string("\xFF\xFD\x63\xFF\xFA\x2C\x01\x00\x00\x25\x80\xFF\xF0", 13)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rfc2217 ? "rfc2217: DO 99 and SET-BAUDRATE" : "tcp: probes");
        Served s("RP200", c.rfc2217);
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(s.server->Port());
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        const size_t limit = 64u << 20;  // far beyond every buffer on the way
        size_t sent = simtest::WriteUntilHeldBack(c.unit, limit, [fd](const char* data, size_t n) {
            return send(fd, data, n, MSG_NOSIGNAL);
        });
        EXPECT_LT(sent, limit);
        auto t0 = Clock::now();
        s.stop = true;
        s.Join();
        EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
        EXPECT_LE(s.server->Backlog(), plcsim::MAX_BACKLOG_BYTES + 8192);
        ::close(fd);
    }
}

}  // namespace
