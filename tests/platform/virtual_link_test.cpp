#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/hooks.h"
#include "platform/virtual.h"
#include "tests/support/scripted_peer.h"

namespace {

using plctest::ScriptedPeer;

class VirtualLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::UnregisterAllVirtualLinks();
        platform::SetVirtualSleep(true);
        peer = std::make_shared<ScriptedPeer>();
        link = &platform::RegisterVirtualLink("plc", peer);
    }
    void TearDown() override {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        platform::SetLinkTrace(nullptr);
        platform::UnregisterAllVirtualLinks();
    }
    void Open(DWORD totalMs = 3000, DWORD interval = 0, DWORD multiplier = 0) {
        h = CreateFileA("plc", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        COMMTIMEOUTS t{interval, multiplier, totalMs, 0, totalMs};
        SetCommTimeouts(h, &t);
    }
    std::string Read(DWORD n) {
        std::string buf(n, '\0');
        DWORD got = 0;
        ReadFile(h, buf.data(), n, &got, nullptr);
        return buf.substr(0, got);
    }
    DWORD Write(const std::string& s) {
        DWORD put = 0;
        WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &put, nullptr);
        return put;
    }
    std::shared_ptr<ScriptedPeer> peer;
    platform::VirtualLink* link = nullptr;
    HANDLE h = INVALID_HANDLE_VALUE;
};

TEST_F(VirtualLinkTest, ReadsEndByCountOrByDeadlineOnTheVirtualClock) {
    struct Case {
        const char* name;
        std::string reply;
        uint64_t delayMs;
        DWORD want;
        std::string got;
        uint64_t elapsedMs;
    } cases[] = {
        {"whole reply at once", "ABCDE", 0, 5, "ABCDE", 0},
        {"whole reply after 40 ms", "ABCDE", 40, 5, "ABCDE", 40},
        {"short reply waits out the time-out", "ABC", 0, 5, "ABC", 3000},
        {"silence waits out the time-out", "", 0, 5, "", 3000},
        {"a reply later than the deadline is not taken", "ABCDE", 3500, 5, "", 3000},
    };
    for (const Case& c : cases) {
        SetUp();
        Open();
        if (c.reply.empty())
            peer->ThenSilence();
        else
            peer->Then(c.reply, c.delayMs);
        ASSERT_EQ(Write("?"), 1u);
        uint64_t t0 = platform::VirtualNowMs();
        EXPECT_EQ(Read(c.want), c.got) << c.name;
        EXPECT_EQ(platform::VirtualNowMs() - t0, c.elapsedMs) << c.name;
        TearDown();
    }
}

// Windows' serial driver under the time-outs it is given: "ABC" arrives at firstMs, "DE" at
// secondMs, and the host reads at 50 ms.
TEST_F(VirtualLinkTest, ReadsAsWindowsSerialDriverUnderTheTimeoutsGiven) {
    struct Case {
        const char* name;
        DWORD interval, multiplier, totalMs;
        uint64_t firstMs, secondMs;
        std::string got;
        uint64_t elapsedMs;
    } cases[] = {
        {"no interval limit: all bytes", 0, 0, 3000, 0, 400, "ABCDE", 350},
        {"no interval limit: the total", 0, 0, 3000, 0, 3500, "ABC", 3000},
        {"MAXDWORD: at once with what is buffered", MAXDWORD, 0, 3000, 0, 400, "ABC", 0},
        {"MAXDWORD, nothing buffered: all bytes", MAXDWORD, 0, 3000, 100, 400, "ABCDE", 350},
        {"MAXDWORD, nothing buffered: the total", MAXDWORD, 0, 3000, 3500, 3600, "", 3000},
        {"MAXDWORD twice: the first bytes", MAXDWORD, MAXDWORD, 3000, 100, 400, "ABC", 50},
        {"MAXDWORD twice: buffered at once", MAXDWORD, MAXDWORD, 3000, 0, 400, "ABC", 0},
        {"MAXDWORD twice: silence", MAXDWORD, MAXDWORD, 3000, 3500, 3600, "", 3000},
        {"MAXDWORD, totals 0: at once", MAXDWORD, 0, 0, 0, 400, "ABC", 0},
        {"MAXDWORD, totals 0, nothing there", MAXDWORD, 0, 0, 100, 400, "", 0},
    };
    for (const Case& c : cases) {
        SetUp();
        Open(c.totalMs, c.interval, c.multiplier);
        uint64_t t0 = platform::VirtualNowMs();
        link->Deliver("ABC", t0 + c.firstMs);
        link->Deliver("DE", t0 + c.secondMs);
        Sleep(50);
        uint64_t start = platform::VirtualNowMs();
        EXPECT_EQ(Read(5), c.got) << c.name;
        EXPECT_EQ(platform::VirtualNowMs() - start, c.elapsedMs) << c.name;
        TearDown();
    }
}

TEST_F(VirtualLinkTest, ALateReplyIsTakenByTheNextRead) {
    Open();
    peer->Then("LATE", 3500);
    Write("?");
    EXPECT_EQ(Read(4), "");
    EXPECT_EQ(Read(4), "LATE");
}

TEST_F(VirtualLinkTest, ShortAndRefusedWritesWaitOutTheWriteTimeout) {
    Open(200);
    peer->ShortWrite(0, 3);
    uint64_t t0 = platform::VirtualNowMs();
    EXPECT_EQ(Write(":007F81\r\n"), 3u);
    EXPECT_EQ(platform::VirtualNowMs() - t0, 200u);
    EXPECT_EQ(Write(":007F81\r\n"), 9u);
    ASSERT_EQ(peer->writes.size(), 2u);
    EXPECT_EQ(peer->writes[1], ":007F81\r\n");
}

TEST_F(VirtualLinkTest, RecordsEveryLineSettingApplied) {
    Open();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(h, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    SetCommState(h, &dcb);
    ASSERT_EQ(link->LineHistory().size(), 2u);
    EXPECT_EQ(link->LineHistory()[0].baud, 9600u);
    EXPECT_EQ(link->LineHistory()[0].byteSize, 7);
    EXPECT_EQ(link->LineHistory()[0].parity, EVENPARITY);
    EXPECT_EQ(link->Line().baud, 115200u);
    EXPECT_EQ(link->Line().parity, NOPARITY);
    DCB back{};
    GetCommState(h, &back);
    EXPECT_EQ(back.BaudRate, 115200u);
}

TEST_F(VirtualLinkTest, OpenCloseAndAbsentDevice) {
    Open();
    EXPECT_TRUE(link->IsOpen());
    EXPECT_EQ(platform::OpenHandleCount(), 1);
    CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(link->IsOpen());
    EXPECT_EQ(platform::OpenHandleCount(), 0);
    peer->RefuseOpen();
    EXPECT_EQ(CreateFileA("plc", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(peer->opens, 1);
    EXPECT_EQ(peer->closes, 1);
}

// A test that drops or replaces a link while the engine still holds its handle: the handle
// keeps working on the old link until it is closed.
TEST_F(VirtualLinkTest, HandleOutlivesItsRegistration) {
    Open();
    peer->Then("ACK");
    auto replacement = std::make_shared<ScriptedPeer>();
    platform::RegisterVirtualLink("plc", replacement);
    ASSERT_EQ(Write("?"), 1u);
    EXPECT_EQ(Read(3), "ACK");
    platform::UnregisterAllVirtualLinks();
    ASSERT_EQ(Write("?"), 1u);
    EXPECT_TRUE(CloseHandle(h));
    h = INVALID_HANDLE_VALUE;
    EXPECT_EQ(peer->writes.size(), 2u);
    EXPECT_EQ(peer->closes, 1);
    EXPECT_TRUE(replacement->writes.empty());
}

TEST_F(VirtualLinkTest, SleepAdvancesTheVirtualClock) {
    uint64_t t0 = platform::VirtualNowMs();
    Sleep(5000);
    EXPECT_EQ(platform::VirtualNowMs() - t0, 5000u);
}

TEST_F(VirtualLinkTest, TraceSeesEveryWriteAndRead) {
    std::vector<std::string> seen;
    platform::SetLinkTrace([&](platform::TraceDir d, const uint8_t* data, size_t len, uint32_t,
                               uint64_t) {
        seen.push_back((d == platform::TraceDir::Write ? "W " : "R ") +
                       std::string(reinterpret_cast<const char*>(data), len));
    });
    Open();
    peer->Then("\x06");
    Write("ID");
    Read(1);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "W ID");
    EXPECT_EQ(seen[1], "R \x06");
}

}  // namespace
