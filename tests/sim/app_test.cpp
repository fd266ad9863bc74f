// The application firmware: replies to every request frame, checks on the host's frames and
// line, and the three ways of restarting into the bootloader.
#include <gtest/gtest.h>

#include "applink/frames.h"
#include "sim/ascii.h"
#include "tests/sim/core_harness.h"
#include "tests/sim/hand_host.h"
#include "tests/support/engine_fixture.h"

namespace {

using plcsim::Config;
using simtest::Harness;
using simtest::HandHost;

Config ConfigFor(const char* model) {
    Config c;
    EXPECT_TRUE(plcsim::DefaultConfig(model, &c)) << model;
    return c;
}

struct AppCase {
    const char* what;
    const char* model;
    void (*tweak)(Config&);
    std::string request;
    std::vector<uint8_t> reply;  // decoded bytes without the LRC; empty: no reply
    bool error;                  // a protocol error is recorded
};

void NoTweak(Config&) {}

const AppCase kAppCases[] = {
    {"probe", "RP200", NoTweak, FRAME_PROBE, {0x00, 0x64, 0x01, 0x59, ENQ, 0, 0}, false},
    {"probe, AIO group", "RP200-AIO", NoTweak, FRAME_PROBE_AIO,
     {0x00, 0x64, 0x01, 0x5B, ENQ, 0, 0}, false},
    {"identity", "RP200", NoTweak, FRAME_ID, {0x00, 0x64, 0x01, 0x59, ACK, 0x30, 0x10}, false},
    {"identity, other id", "RP200", [](Config& c) { c.appId = 0xA010; }, FRAME_ID,
     {0x00, 0x64, 0x01, 0x59, ACK, 0xA0, 0x10}, false},
    {"identity, AIO", "TR3-AIO", NoTweak, FRAME_ID_AIO,
     {0x00, 0x64, 0x01, 0x5B, ACK, 0x00, 0x20}, false},
    {"D1386 of QM2-C", "QM2-C-V4", NoTweak, FRAME_READ_D1386, {0x00, 0x03, 0x02, 0x41, 0x38},
     false},
    {"D1001 of a V4", "QM2-C-V4", NoTweak, FRAME_READ_D1001, {0x00, 0x03, 0x02, 0x00, 0x41},
     false},
    {"D1001 of a V2", "HB-V3", NoTweak, FRAME_READ_D1001, {0x00, 0x03, 0x02, 0x00, 0x31}, false},
    {"D1148 of 28DK2", "DK28", NoTweak, FRAME_READ_D1148, {0x00, 0x03, 0x02, 0x00, 0x01}, false},
    {"D1148 set", "NV", [](Config& c) { c.d1148 = 0x1234; }, FRAME_READ_D1148,
     {0x00, 0x03, 0x02, 0x12, 0x34}, false},
    {"other register", "PN2", [](Config& c) { c.registers[100] = 0xBEEF; },
     plcsim::EncodeFrame({0x00, 0x03, 0x10, 0x64, 0x00, 0x01}), {0x00, 0x03, 0x02, 0xBE, 0xEF},
     false},
    {"version", "RP200-AIO", [](Config& c) { c.appVersion = 0x09; }, FRAME_VERSION,
     {0x00, 0x64, 0x01, 0x59, 0x09, 0, 0}, false},
    {"0x67 id", "QM3", NoTweak, FRAME_PLCID_0x67, {0x00, 0x67, 0x04, 0x00, 0x20, 0, 0}, false},
    {"0x67 id set", "QM3", [](Config& c) { c.id67 = 0x0021; }, FRAME_PLCID_0x67,
     {0x00, 0x67, 0x04, 0x00, 0x21, 0, 0}, false},
    {"wake-up", "PN2", NoTweak, FRAME_WAKEUP, {0x00, 0x7F, ACK}, false},
    {"wake-up unanswered", "PN2", [](Config& c) { c.answerWakeup = false; }, FRAME_WAKEUP, {},
     false},
    {"bad LRC", "RP200", NoTweak, ":006401590142\r\n", {}, true},
    {"lower case", "RP200", NoTweak, ":0064015b013f\r\n", {}, true},
    {"not hex", "RP200", NoTweak, ":00640159G141\r\n", {}, true},
    {"other address", "RP200", NoTweak, plcsim::EncodeFrame({0x01, 0x64, 0x01, 0x59, 0x01}), {},
     true},
    {"unknown function", "RP200", NoTweak, plcsim::EncodeFrame({0x00, 0x10, 0x01}), {}, true},
    {"stray bytes", "RP200", NoTweak, "hello", {}, true},
    {"bootloader word", "RP200", NoTweak, "ID", {}, true},
    {"frame without CR LF, then noise", "RP200", NoTweak,
     ":006401590141" + std::string(60, 'A'), {}, true},
};

TEST(SimApp, RepliesToEveryRequest) {
    for (const AppCase& c : kAppCases) {
        SCOPED_TRACE(c.what);
        Config cfg = ConfigFor(c.model);
        c.tweak(cfg);
        Harness h(cfg);
        std::string reply = h.Ask(c.request);
        if (c.reply.empty()) {
            EXPECT_EQ(reply, "");
        } else {
            EXPECT_EQ(reply, plcsim::EncodeFrame(c.reply));
            // The reply passes the host's own decoder.
            EXPECT_EQ(simtest::HandHost::Decode(reply).size(), c.reply.size() + 1);
        }
        EXPECT_EQ(!h.plc->Errors().empty(), c.error)
            << (h.plc->Errors().empty() ? "" : h.plc->Errors().front());
    }
}

TEST(SimApp, RepliesHaveTheLengthsTheHostReads) {
    Harness h("RP200");
    EXPECT_EQ(h.Ask(FRAME_PROBE).size(), 19u);
    EXPECT_EQ(h.Ask(FRAME_READ_D1001).size(), 15u);
    EXPECT_EQ(h.Ask(FRAME_PLCID_0x67).size(), 19u);
    EXPECT_EQ(h.Ask(FRAME_WAKEUP).size(), 11u);
    EXPECT_EQ(h.Ask(":006401590141\r\n"), ":006401590500003D\r\n");
}

TEST(SimApp, FramesSplitAcrossWritesAreJoined) {
    Harness h("RP200");
    EXPECT_EQ(h.Ask(":0064015"), "");
    EXPECT_EQ(h.Ask("90141\r"), "");
    EXPECT_EQ(HandHost::Decode(h.Ask("\n")).at(4), ENQ);
    // Two frames in one write get two replies.
    EXPECT_EQ(h.Ask(std::string(FRAME_PROBE) + FRAME_ID).size(), 38u);
    EXPECT_TRUE(h.plc->Errors().empty());
}

TEST(SimApp, AHalfFrameThatStopsComingIsDiscarded) {
    Harness h("RP200");
    h.Ask(":00640");
    h.nowMs += 5000;
    EXPECT_EQ(HandHost::Decode(h.Ask(FRAME_PROBE)).at(4), ENQ);
    EXPECT_EQ(h.plc->Errors().size(), 1u);
}

struct LineCase {
    const char* model;
    plcsim::HostLine line;
    bool error;
};

TEST(SimApp, ChecksTheLineOfComPortModels) {
    const LineCase cases[] = {
        {"PN2", simtest::AppLine(), false},
        {"PN2", simtest::LineOf(9600, 8, NOPARITY), true},
        {"PN2", simtest::LineOf(19200, 7, EVENPARITY), true},
        {"PN2", simtest::LineOf(9600, 8, NOPARITY, false), false},  // a pty shows the speed only
        {"PN2", simtest::LineOf(115200, 8, NOPARITY, false), true},
        {"RP200", simtest::LineOf(115200, 8, NOPARITY), false},     // USB: no line
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + std::to_string(c.line.line.baud));
        Harness h(c.model);
        h.line = c.line;
        EXPECT_EQ(HandHost::Decode(h.Ask(FRAME_PROBE)).at(4), ENQ);
        EXPECT_EQ(h.plc->Errors().size(), c.error ? 1u : 0u);
        // The same wrong line is recorded once, not once per frame.
        h.Ask(FRAME_PROBE);
        EXPECT_EQ(h.plc->Errors().size(), c.error ? 1u : 0u);
    }
}

class SimRestart : public plctest::EngineTest {};

struct RestartCase {
    const char* model;
    bool powerCycleReplies;
    bool requestAnswered;
    bool confirmTaken;      // the confirmation write is taken
    bool writesTakenAfter;  // writes taken before the link is reopened
    bool bootBeforeReopen;  // the bootloader answers the probe before the reopen
};

TEST_F(SimRestart, EachModelComesBackInItsBootloaderItsOwnWay) {
    // model       pc-replies answered confirm  taken  boot-at-once
    const RestartCase cases[] = {
        {"PN2",        false, true,  true,  true,  true},
        {"30TR2-AIO",  false, true,  true,  true,  true},
        {"RP200",      false, true,  true,  false, false},
        {"NV26",       false, true,  true,  false, false},
        {"TR2-CAR",    false, false, true,  true,  false},
        {"QM2-C-V2",   true,  true,  true,  true,  false},
    };
    for (const RestartCase& c : cases) {
        SCOPED_TRACE(c.model);
        platform::UnregisterAllVirtualLinks();
        Config cfg = ConfigFor(c.model);
        cfg.powerCycleReplies = c.powerCycleReplies;
        auto plc = std::make_shared<plcsim::Plc>(cfg);
        plcsim::AttachVirtual(plc, "plc");
        HandHost host("plc");
        ASSERT_TRUE(host.Open());
        if (!plc->Model().usb) host.AppLine();
        bool aio = plc->Model().aio;
        std::string reply = host.Exchange(aio ? FRAME_ENTER_BOOT_AIO : FRAME_ENTER_BOOT, 19);
        EXPECT_EQ(!reply.empty(), c.requestAnswered);
        if (c.requestAnswered) {
            EXPECT_EQ(HandHost::Decode(reply).at(4), ACK);
            EXPECT_EQ(host.Write(aio ? FRAME_CONFIRM_AIO : FRAME_CONFIRM) == 15, c.confirmTaken);
        }
        const char* probe = aio ? FRAME_PROBE_AIO : FRAME_PROBE;
        DWORD took = host.Write(probe);
        EXPECT_EQ(took == 15, c.writesTakenAfter);
        std::string before = host.Read(19);
        if (c.bootBeforeReopen) {
            EXPECT_EQ(HandHost::Decode(before).at(4), ACK);
        } else {
            EXPECT_EQ(before, "");
            host.Close();
            ASSERT_TRUE(host.Open());
            if (!plc->Model().usb) host.AppLine();
            EXPECT_EQ(HandHost::Decode(host.Exchange(probe, 19)).at(4), ACK);
        }
        EXPECT_EQ(plc->CurrentPhase(), plcsim::Phase::Boot);
        EXPECT_EQ(plc->GetCounters().restartsToBoot, 1u);
        EXPECT_TRUE(plc->Errors().empty());
        host.Close();
    }
}

TEST_F(SimRestart, ConfirmationWithoutRequestIsAnError) {
    Harness h("PN2");
    EXPECT_EQ(h.Ask(FRAME_CONFIRM), "");
    EXPECT_EQ(h.plc->CurrentPhase(), plcsim::Phase::App);
    EXPECT_EQ(h.plc->Errors().size(), 1u);
}

}  // namespace
