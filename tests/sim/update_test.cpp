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
