// Whole updates driven by hand over a virtual link: every frame and block is built here, so the
// simulator is checked against the protocol itself, not against the engine.
#include <gtest/gtest.h>

#include "applink/frames.h"
#include "sim/sim.h"
#include "tests/sim/hand_host.h"
#include "tests/support/engine_fixture.h"

namespace {

using plcsim::Plc;
using simtest::HandHost;

class SimUpdate : public plctest::EngineTest {};

// Runs one update as the host would; returns "" or the step that failed.
std::string RunUpdate(HandHost& host, const plcsim::ModelTraits& m, const std::vector<uint8_t>& img,
                      bool startsInApp) {
    const bool com = !m.usb;
    if (!host.Open()) return "open";
    if (com) host.AppLine();
    auto frame = [&](const char* aio, const char* other) { return m.aio ? aio : other; };
    if (startsInApp) {
        host.Timeouts(200);
        for (int i = 0; i < 5; ++i) host.Exchange(FRAME_WAKEUP, 11);
        host.Timeouts(3000);
        auto probe = HandHost::Decode(host.Exchange(frame(FRAME_PROBE_AIO, FRAME_PROBE), 19));
        if (probe.size() != 8 || probe[4] != ENQ) return "probe in application mode";
        auto id = HandHost::Decode(host.Exchange(frame(FRAME_ID_AIO, FRAME_ID), 19));
        if (id.size() != 8 || id[4] != ACK || (id[5] << 8 | id[6]) != m.id) return "identity";
        std::string enterReply = host.Exchange(frame(FRAME_ENTER_BOOT_AIO, FRAME_ENTER_BOOT), 19);
        if (m.restart == plcsim::Restart::PowerCycle) {
            if (!enterReply.empty()) return "a power-cycle model answered the request";
        } else {
            auto ack = HandHost::Decode(enterReply);
            if (ack.size() != 8 || ack[4] != ACK) return "enter-bootloader request";
            if (host.Write(frame(FRAME_CONFIRM_AIO, FRAME_CONFIRM)) != 15) return "confirmation";
        }
        if (m.restart != plcsim::Restart::AtOnce) {
            host.Close();
            if (!host.Open()) return "reopen";
            if (com) host.AppLine();
        }
        auto probe2 = HandHost::Decode(host.Exchange(frame(FRAME_PROBE_AIO, FRAME_PROBE), 19));
        if (probe2.size() != 8 || probe2[4] != ACK) return "probe in bootloader mode";
    }
    std::string id = host.Exchange("ID", 3);
    if (id.size() != 3 || id[0] != ACK) return "bootloader ID";
    if (host.Exchange("VERSION", 3).size() != 3) return "VERSION";

    uint32_t n = static_cast<uint32_t>(img.size());
    uint32_t sent = m.omitsLast4K ? n - 4096 : n;
    uint32_t pages = std::string(m.name) == "30TR2-AIO" ? 4 : (sent + m.pageBytes - 1) / m.pageBytes;
    for (uint32_t p = 0; p < pages; ++p)
        if (host.Exchange("ERASE", 1) != std::string(1, ACK)) return "ERASE " + std::to_string(p);
    if (host.Exchange("\x04", 1) != std::string(1, ACK)) return "erase EOT";
    if (host.Exchange("UPDATE", 1) != std::string(1, ACK)) return "UPDATE";
    host.FastLine();
    uint32_t bs = m.blockBytes;
    uint32_t blocks = (sent + bs - 1) / bs;
    for (uint32_t i = 0; i < blocks; ++i) {
        uint32_t len = std::min(bs, sent - i * bs);
        std::string packet =
            HandHost::Block(static_cast<uint8_t>(i + 1), img.data() + i * bs, len, bs);
        if (host.Exchange(packet, 1) != std::string(1, ACK)) return "block " + std::to_string(i);
    }
    if (host.Exchange("\x04", 1) != std::string(1, ACK)) return "transfer EOT";
    host.Close();
    return "";
}

struct UpdateCase {
    const char* model;
    uint32_t imageBytes;
    bool startsInApp;
    uint32_t restarts;  // times the PLC entered its bootloader
};

// model           image bytes      app   restarts
const UpdateCase kUpdates[] = {
    {"RP200",          300 * 1024 + 100, true,  1},  // 4 KiB pages, last 4096 bytes not sent
    {"RP200",          2076672,          false, 0},  // the full-size image, PLC already in boot
    {"QM2-E",          200000,           true,  1},  // COM port, 128 KiB pages, 128-byte blocks
    {"QM2-C-V4",       70000,            true,  1},  // power cycle, no reply to the request
    {"TR2-CAR",        128 * 1024,       true,  1},
    {"NV",             40000,            true,  1},  // USB, 16 KiB pages, 256-byte blocks
    {"NV26",           1000,             true,  1},  // USB with 128-byte blocks
    {"30TR2-AIO",      12288,            true,  1},  // AIO group code, four erase requests
    {"RP200-AIO",      40960,            true,  1},
    {"PN2",            2048,             true,  1},
    {"WJB-QM2-V4",     5000,             true,  1},
};

TEST_F(SimUpdate, WholeUpdateByHandLeavesTheImageInFlash) {
    for (const UpdateCase& c : kUpdates) {
        SCOPED_TRACE(std::string(c.model) + " " + std::to_string(c.imageBytes));
        platform::UnregisterAllVirtualLinks();
        plcsim::Config cfg;
        ASSERT_TRUE(plcsim::DefaultConfig(c.model, &cfg));
        cfg.start = c.startsInApp ? plcsim::StartMode::App : plcsim::StartMode::Boot;
        auto plc = std::make_shared<Plc>(cfg);
        plcsim::AttachVirtual(plc, "plc");
        auto img = simtest::TestImage(c.imageBytes);
        HandHost host("plc");
        EXPECT_EQ(RunUpdate(host, plc->Model(), img, c.startsInApp), "");

        plcsim::FlashCheck check = plc->CompareFlash(img.data(), img.size());
        EXPECT_TRUE(check.equal) << check.detail;
        EXPECT_EQ(check.receivedBytes, check.expectedReceived);
        EXPECT_TRUE(plc->Errors().empty()) << plc->Errors().front();
        plcsim::Counters k = plc->GetCounters();
        EXPECT_EQ(k.updatesCompleted, 1u);
        EXPECT_EQ(k.restartsToBoot, c.restarts);
        EXPECT_EQ(k.blocksAccepted * plc->Model().blockBytes, check.receivedBytes);
        EXPECT_EQ(k.resendsSeen, 0u);
    }
}

TEST_F(SimUpdate, FullSizeImageOfThisBuildTakes8096BlocksAnd506Pages) {
    auto plc = Plc::Create("RP200");
    plc->RestartInto(plcsim::StartMode::Boot);
    plcsim::AttachVirtual(plc, "plc");
    auto img = simtest::TestImage(2076672);
    HandHost host("plc");
    ASSERT_EQ(RunUpdate(host, plc->Model(), img, false), "");
    plcsim::Counters k = plc->GetCounters();
    EXPECT_EQ(k.blocksAccepted, 8096u);
    EXPECT_EQ(k.pagesErased, 506u);
    plcsim::FlashCheck check = plc->CompareFlash(img.data(), img.size());
    EXPECT_EQ(check.imageBytesSent, 2076672u - 4096u);
    EXPECT_TRUE(check.equal) << check.detail;
}

TEST_F(SimUpdate, SecondRunAfterSuccessFindsTheNewApplicationFirmware) {
    auto plc = Plc::Create("PN2");
    plcsim::AttachVirtual(plc, "plc");
    auto first = simtest::TestImage(3000, 1);
    auto second = simtest::TestImage(5000, 2);
    HandHost host("plc");
    ASSERT_EQ(RunUpdate(host, plc->Model(), first, true), "");
    EXPECT_EQ(plc->CurrentPhase(), plcsim::Phase::App);
    ASSERT_EQ(RunUpdate(host, plc->Model(), second, true), "");
    EXPECT_TRUE(plc->CompareFlash(second.data(), second.size()).equal);
    EXPECT_FALSE(plc->CompareFlash(first.data(), first.size()).equal);
    EXPECT_TRUE(plc->Errors().empty());
}

}  // namespace
