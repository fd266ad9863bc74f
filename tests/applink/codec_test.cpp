#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "applink/applink.h"
#include "applink/frames.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/scripted_peer.h"

namespace {

std::vector<uint8_t> Chars(const std::string& s) { return {s.begin(), s.end()}; }

TEST(CheckLRC, EveryRequestFrameSumsToZeroAndDecodesInPlace) {
    struct Case {
        const char* frame;
        std::vector<uint8_t> decoded;
    } cases[] = {
        {FRAME_WAKEUP, {0x00, 0x7F, 0x81}},
        {FRAME_PROBE_AIO, {0x00, 0x64, 0x01, 0x5B, 0x01, 0x3F}},
        {FRAME_PROBE, {0x00, 0x64, 0x01, 0x59, 0x01, 0x41}},
        {FRAME_ID_AIO, {0x00, 0x64, 0x01, 0x5B, 0x49, 0x44, 0xB3}},
        {FRAME_ID, {0x00, 0x64, 0x01, 0x59, 0x49, 0x44, 0xB5}},
        {FRAME_READ_D1386, {0x00, 0x03, 0x15, 0x6A, 0x00, 0x01, 0x7D}},
        {FRAME_READ_D1001, {0x00, 0x03, 0x13, 0xE9, 0x00, 0x01, 0x00}},
        {FRAME_READ_D1148, {0x00, 0x03, 0x14, 0x7C, 0x00, 0x01, 0x6C}},
        {FRAME_VERSION, {0x00, 0x64, 0x01, 0x59, 0x05, 0x3D}},
        {FRAME_PLCID_0x67, {0x00, 0x67, 0x00, 0x13, 0x00, 0x02, 0x84}},
        {FRAME_ENTER_BOOT_AIO, {0x00, 0x64, 0x01, 0x5B, 0x45, 0x52, 0x41, 0x53, 0x45, 0xD0}},
        {FRAME_ENTER_BOOT, {0x00, 0x64, 0x01, 0x59, 0x45, 0x52, 0x41, 0x53, 0x45, 0xD2}},
        {FRAME_CONFIRM_AIO, {0x00, 0x64, 0x01, 0x5B, 0x06, 0x3A}},
        {FRAME_CONFIRM, {0x00, 0x64, 0x01, 0x59, 0x06, 0x3C}},
    };
    for (const Case& c : cases) {
        std::string frame = c.frame;
        ASSERT_EQ(frame.front(), ':');
        ASSERT_EQ(frame.substr(frame.size() - 2), "\r\n");
        auto buf = Chars(frame);
        auto len = static_cast<uint8_t>(frame.size() - 3);
        EXPECT_EQ(CheckLRC(buf.data() + 1, len), 0) << c.frame;
        EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 1, buf.begin() + 1 + len / 2), c.decoded)
            << c.frame;
        // The second half still holds its characters: decoding never ran ahead of reading.
        EXPECT_EQ(std::string(buf.begin() + 1 + len / 2, buf.begin() + 1 + len),
                  frame.substr(1 + len / 2, len / 2))
            << c.frame;
    }
}

TEST(CheckLRC, DamagedFramesAreRejected) {
    struct Case {
        const char* name;
        std::string chars;
        uint8_t result;
    } cases[] = {
        {"LRC off by one", "0064015901" "42", 0x01},
        {"LRC off by minus one", "0064015901" "40", 0xFF},
        {"lower-case digit", "0064015b013F", 1},
        {"lower-case LRC", "00640159014a", 1},
        {"colon inside", "0064:15901", 1},
        {"space", "00 4015901", 1},
    };
    for (const Case& c : cases) {
        auto buf = Chars(c.chars);
        EXPECT_EQ(CheckLRC(buf.data(), static_cast<uint8_t>(buf.size())), c.result) << c.name;
    }
}

TEST(CheckLRC, StopsAtTheFirstBadPairHavingStoredNothingForIt) {
    auto buf = Chars("0A0a3F");
    EXPECT_EQ(CheckLRC(buf.data(), 6), 1);
    EXPECT_EQ(buf[0], 0x0A);  // first pair decoded in place
    EXPECT_EQ(std::string(buf.begin() + 1, buf.end()), "A0a3F");  // nothing stored for "0a"
}

TEST(CheckLRC, CountZeroChangesNothingAndAnOddCountIsRejected) {
    auto buf = Chars("ZZZZ");
    EXPECT_EQ(CheckLRC(buf.data(), 0), 0);
    EXPECT_EQ(std::string(buf.begin(), buf.end()), "ZZZZ");
    auto odd = Chars("0000F");
    EXPECT_NE(CheckLRC(odd.data(), 5), 0);
}

class WakeUpBurst : public plctest::EngineTest {};

TEST_F(WakeUpBurst, FiveWritesTenReadsTwoSecondsAndNoErrorCounted) {
    struct Case {
        const char* model;
        bool lineSetup;
    } cases[] = {{"QM2-E", true}, {"30TR2-AIO", true}, {"RP200", false}, {"NV26", false}};
    for (const Case& c : cases) {
        auto peer = std::make_shared<plctest::ScriptedPeer>();
        auto& link = platform::RegisterVirtualLink("plc", peer);
        Select(c.model);
        errCounter = 2;
        totalErrCounter = 5;
        HANDLE h = CreateFileA("plc", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        uint64_t t0 = platform::VirtualNowMs();
        DummyComm(h);
        EXPECT_EQ(platform::VirtualNowMs() - t0, 2000u) << c.model;
        EXPECT_EQ(peer->writes, std::vector<std::string>(5, FRAME_WAKEUP)) << c.model;
        EXPECT_EQ(int32_t(errCounter), 2) << c.model;
        EXPECT_EQ(int32_t(totalErrCounter), 5) << c.model;
        EXPECT_EQ(link.Timeouts().ReadTotalTimeoutConstant, 200u) << c.model;
        EXPECT_EQ(link.Timeouts().ReadIntervalTimeout, 0u) << c.model;
        if (c.lineSetup) {
            ASSERT_EQ(link.LineHistory().size(), 1u) << c.model;
            EXPECT_EQ(link.Line(), (platform::LineSettings{9600, 7, EVENPARITY, ONESTOPBIT,
                                                           false, false}))
                << c.model;
        } else {
            EXPECT_TRUE(link.LineHistory().empty()) << c.model;
        }
        CloseHandle(h);
    }
}

TEST_F(WakeUpBurst, DrainsWhatIsStillArriving) {
    auto peer = std::make_shared<plctest::ScriptedPeer>();
    platform::RegisterVirtualLink("plc", peer);
    peer->Then(plctest::Reply19(ENQ), 900);  // a late answer to an earlier request
    HANDLE h = CreateFileA("plc", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    DummyComm(h);
    uint8_t buf[19];
    DWORD got = 7;
    SetLinkTimeouts(h, 0);
    ReadFile(h, buf, sizeof buf, &got, nullptr);
    EXPECT_EQ(got, 0u);
    CloseHandle(h);
}

}  // namespace
