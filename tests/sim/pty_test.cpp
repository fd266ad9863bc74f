// plcsim's pseudo-terminal server, driven through the platform's own tty link (real time, but
// every wait ends as soon as its bytes arrive; a whole small update takes well under a second).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "applink/frames.h"
#include "sim/pty_server.h"
#include "tests/sim/hand_host.h"

namespace {

using simtest::HandHost;

class PtyServe : public ::testing::Test {
protected:
    void Serve(const char* model, plcsim::StartMode start = plcsim::StartMode::App,
               bool pace = false) {
        plcsim::Config cfg;
        ASSERT_TRUE(plcsim::DefaultConfig(model, &cfg));
        cfg.start = start;
        plc = std::make_shared<plcsim::Plc>(cfg);
        path = "/tmp/plcsim-test-" + std::to_string(getpid());
        plcsim::PtyOptions opt;
        opt.linkPath = path;
        opt.lingerMs = 2000;
        opt.pace = pace;
        server = std::make_unique<plcsim::PtyServer>(plc, opt);
        std::string error;
        ASSERT_TRUE(server->Start(&error)) << error;
        thread = std::thread([this] { end = server->Run(stop); });
    }
    void TearDown() override {
        stop = true;
        if (thread.joinable()) thread.join();
        server.reset();
    }
    // Waits (bounded) until the server has seen the host's close and the PLC is back in its
    // bootloader: a host that reopened at once could close and open between two of the
    // server's looks (the engine pauses 2 or 5 seconds there).
    void AwaitPlcBack() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while ((plc->CurrentPhase() != plcsim::Phase::Boot || !plc->LinkPresent()) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    std::shared_ptr<plcsim::Plc> plc;
    std::string path;
    std::unique_ptr<plcsim::PtyServer> server;
    std::atomic<bool> stop{false};
    plcsim::PtyServer::End end = plcsim::PtyServer::End::Stopped;
    std::thread thread;
};

TEST_F(PtyServe, AnswersTheProbeThroughTheLink) {
    Serve("RP200");
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    HandHost host(path);
    ASSERT_TRUE(host.Open());
    std::string reply = host.Exchange(FRAME_PROBE, 19);
    EXPECT_EQ(reply, ":006401590500003D\r\n");
    EXPECT_EQ(HandHost::Decode(reply).at(4), ENQ);
    host.Close();
    stop = true;
    thread.join();
    server->RemoveLink();
    EXPECT_NE(lstat(path.c_str(), &st), 0);
}

TEST_F(PtyServe, WholeUpdatesWithReplugAndPowerCycle) {
    struct Case {
        const char* model;
        uint32_t imageBytes;
    };
    const Case cases[] = {{"RP200", 4096 * 4 + 300}, {"QM2-C-V4", 3000}, {"PN2", 2000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        stop = false;
        Serve(c.model);
        auto img = simtest::TestImage(c.imageBytes);
        HandHost host(path);
        host.betweenCloseAndOpen = [this] { AwaitPlcBack(); };
        host.readTimeoutMs = 300;  // the power-cycle model leaves one read unanswered
        std::string failed = simtest::RunUpdate(host, plc->Model(), img, true);
        EXPECT_EQ(failed, "");
        host.Close();
        if (!failed.empty()) stop = true;
        thread.join();  // the server ends by itself once the host has closed the port
        EXPECT_EQ(end, plcsim::PtyServer::End::UpdateDone);
        plcsim::FlashCheck check = plc->CompareFlash(img.data(), img.size());
        EXPECT_TRUE(check.equal) << check.detail;
        EXPECT_TRUE(plc->Errors().empty()) << plc->Errors().front();
        server.reset();
    }
}

TEST_F(PtyServe, WrongSpeedOfAComPortHostIsRecorded) {
    Serve("QM2-E", plcsim::StartMode::Boot);
    HandHost host(path);
    ASSERT_TRUE(host.Open());
    host.Line(19200, 8, NOPARITY);
    EXPECT_EQ(host.Exchange("ID", 3).size(), 3u);
    host.Close();
    ASSERT_EQ(plc->Errors().size(), 1u);
    EXPECT_NE(plc->Errors()[0].find("19200"), std::string::npos) << plc->Errors()[0];
}

TEST_F(PtyServe, StaleLinkIsReplacedButAFileIsNot) {
    std::string p = "/tmp/plcsim-stale-" + std::to_string(getpid());
    ASSERT_EQ(symlink("/nonexistent", p.c_str()), 0);
    auto plc1 = plcsim::Plc::Create("PN2");
    plcsim::PtyOptions opt;
    opt.linkPath = p;
    {
        plcsim::PtyServer s(plc1, opt);
        std::string error;
        EXPECT_TRUE(s.Start(&error)) << error;
        char target[256] = {};
        ASSERT_GT(readlink(p.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), s.SlavePath());
    }
    struct stat st {};
    EXPECT_NE(lstat(p.c_str(), &st), 0);  // removed with the server
    FILE* f = std::fopen(p.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    {
        plcsim::PtyServer s(plc1, opt);
        std::string error;
        EXPECT_FALSE(s.Start(&error));
        EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    }
    EXPECT_EQ(lstat(p.c_str(), &st), 0);
    unlink(p.c_str());
}

// A host that writes probes and never reads the replies: the server stops reading it once the
// replies pile up, and still stops at once when told.
TEST_F(PtyServe, HostThatNeverReadsIsHeldBackAndTheServerStillStops) {
    using Clock = std::chrono::steady_clock;
    Serve("RP200");
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const size_t limit = 16u << 20;
    size_t sent = simtest::WriteUntilHeldBack(
        FRAME_PROBE, limit, [fd](const char* data, size_t n) { return write(fd, data, n); });
    EXPECT_LT(sent, limit);
    auto t0 = Clock::now();
    stop = true;
    thread.join();
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
    EXPECT_LE(server->Backlog(), plcsim::MAX_BACKLOG_BYTES + 8192);
    close(fd);
}

// A host that leaves a backlog of replies unread, on a line paced at 9600 baud, and closes: the
// next host reads only the reply to its own request, and at once.
TEST_F(PtyServe, TheNextHostDoesNotInheritTheLastOnesBacklog) {
    Serve("RP200", plcsim::StartMode::App, true);
    {
        HandHost flood(path);
        ASSERT_TRUE(flood.Open());
        std::string probes;
        for (int i = 0; i < 100; ++i) probes += FRAME_PROBE;  // 2 s of replies at 9600 baud
        ASSERT_EQ(flood.Write(probes), probes.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    // The server sees the close within its hang-up poll.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    HandHost host(path);
    ASSERT_TRUE(host.Open());
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(host.Exchange(FRAME_PROBE, 19), ":006401590500003D\r\n");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    host.Timeouts(100);
    EXPECT_EQ(host.Read(64), "");
}

}  // namespace
