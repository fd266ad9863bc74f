// The bootloader operations of the engine against the simulated PLC: what the PLC ends up with
// in its flash must be the image, byte for byte, for every block size and page rule.
#include "applink/applink.h"
#include "bootloader/turnaround.h"
#include "sim/sim.h"
#include "tests/bootloader/boot_fixture.h"

namespace {

class SimTransferTest : public boottest::BootTest {
  protected:
    // A PLC of that model in its bootloader, on the link hSerial, set up as the mode probe
    // leaves the line.
    std::shared_ptr<plcsim::Plc> OpenPlc(void (*tweak)(plcsim::Config&)) {
        plcsim::Config cfg;
        EXPECT_TRUE(plcsim::DefaultConfig(selectedPLC, &cfg));
        cfg.start = plcsim::StartMode::Boot;
        if (tweak) tweak(cfg);
        auto plc = std::make_shared<plcsim::Plc>(cfg);
        plcsim::AttachVirtual(plc, "plc");
        hSerial =
            CreateFileA("plc", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(hSerial, INVALID_HANDLE_VALUE);
        if (SelectedPLCIn(COM_PORT_MODELS)) SetupComLine(hSerial);
        return plc;
    }
};

struct SimCase {
    const char* what;
    const char* model;
    uint32_t imageBytes;
    void (*tweak)(plcsim::Config&);
    const char* fault;  // nullptr: none
    uint8_t erase;
    uint8_t transfer;
    int32_t totalErrCounter;  // -1: some, from random faults
};

const SimCase kSimCases[] = {
    {"embedded size", "RP200", 2076672, nullptr, nullptr, OK, OK, 0},
    {"256-byte blocks with filler", "NV", 1000, nullptr, nullptr, OK, OK, 0},
    {"128-byte blocks with filler", "QM2-E", 1000, nullptr, nullptr, OK, OK, 0},
    {"USB-attached, 128-byte blocks", "NV26", 70000, nullptr, nullptr, OK, OK, 0},
    {"four pages whatever the size", "30TR2-AIO", 12288, nullptr, nullptr, OK, OK, 0},
    {"2 KiB pages rounded up", "RP200-AIO", 2049, nullptr, nullptr, OK, OK, 0},
    {"sibling id", "QM2-C-V4", 5000, [](plcsim::Config& c) { c.bootId = 0x000D; }, nullptr, OK, OK,
     0},
    {"id without bit 15", "WJB-QM2-V2", 5000, [](plcsim::Config& c) { c.bootIdBit15 = false; },
     nullptr, OK, OK, 0},
    {"block 10 refused five times", "RP200", 40000, nullptr, "nak-block:10x5", OK, OK, 5},
    {"lost acknowledgements of blocks", "PN2", 60000, nullptr, "drop:0.05:block", OK, OK, -1},
    {"write-protected flash", "RP200", 40000, nullptr, "nok-block:10", OK, NOK, 0},
    {"4 KiB pages: third ERASE unanswered", "RP200", 40000, nullptr, "silent-erase:3", ERR, ERR, 1},
    {"2 KiB pages: second ERASE unanswered five times", "PN2", 6000, nullptr, "silent-erase:2x5",
     OK, OK, 5},
    // The resent "ERASE" erases a page more; at the largest image that would pass the region.
    {"lost ERASE acknowledgement at the largest image", "PN2", 0x78800, nullptr, "drop:erase@3",
     ERR, ERR, 1},
};

TEST_F(SimTransferTest, FlashHoldsTheImage) {
    for (const auto& c : kSimCases) {
        SCOPED_TRACE(c.what);
        StartCase(c.model);
        UseImage(c.imageBytes);
        auto plc = OpenPlc(c.tweak);
        plc->SetSeed(7);
        if (c.fault) {
            ASSERT_TRUE(plc->AddFault(c.fault)) << c.fault;
        }

        ASSERT_EQ(CheckID_B(hSerial), OK);
        ASSERT_EQ(read_fu_version_B(), OK);
        EXPECT_EQ(RP_fu_version, 0x14);
        ASSERT_EQ(SendErase_B(hSerial), c.erase);
        if (c.erase != OK) {
            EXPECT_EQ(totalErrCounter, c.totalErrCounter);
            EXPECT_TRUE(plc->Errors().empty()) << plc->Errors().front();
            continue;
        }
        EXPECT_EQ(plc->ErasedPages(), ErasePageCount(selectedPLCIdx, c.imageBytes));
        ASSERT_EQ(SendUpdate(hSerial), OK);
        EXPECT_EQ(SendFW(hSerial), c.transfer);
        if (c.totalErrCounter >= 0) {
            EXPECT_EQ(totalErrCounter, c.totalErrCounter);
        } else {
            EXPECT_GT(totalErrCounter, 0);  // random faults: some, and all recovered
        }
        if (c.transfer == OK) {
            plcsim::FlashCheck check = plc->CompareFlash(image.data(), image.size());
            EXPECT_TRUE(check.equal) << check.detail;
            EXPECT_EQ(check.imageBytesSent, ImageBytesSent(selectedPLCIdx, c.imageBytes));
            EXPECT_TRUE(plc->TransferComplete());
        }
        auto errors = plc->Errors();
        EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.front());
    }
}

}  // namespace

namespace {

// Behind a USB-serial adapter each reply waits out the adapter's latency timer. The transfer
// measures how much later than their time on the wire the replies come, and counts them as
// costing the operator time only when the median of at least the first 64 is 8 ms or more.
TEST_F(SimTransferTest, RepliesLateBehindAnAdapterAreMeasured) {
    struct Case {
        uint32_t adapterMs;
        uint32_t blocks;  // of 128 bytes
        bool slow;
    };
    const Case cases[] = {
        {0, 80, false}, {1, 80, false}, {4, 80, false}, {16, 80, true},
        {16, TURNAROUND_SETTLED_BLOCKS - 1, false},  // too few blocks to tell
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("adapter of " + std::to_string(c.adapterMs) + " ms, " +
                     std::to_string(c.blocks) + " blocks");
        StartCase("QM2-E");
        UseImage(c.blocks * 128);
        auto plc = OpenPlc(nullptr);
        plcsim::Config cfg = plc->GetConfig();
        cfg.pace = true;
        cfg.replyLatencyMs = 0;
        cfg.adapterLatencyMs = c.adapterMs;
        plc->SetConfig(cfg);
        ASSERT_EQ(SendErase_B(hSerial), OK);
        ASSERT_EQ(SendUpdate(hSerial), OK);
        uint64_t began = platform::VirtualNowMs();
        ASSERT_EQ(SendFW(hSerial), OK);
        EXPECT_TRUE(plc->CompareFlash(image.data(), image.size()).equal);

        // 133 bytes and the reply at 115200 baud; the simulated line rounds up to whole ms.
        EXPECT_EQ(plcReport.blockWireUs, 11631);
        EXPECT_EQ(plcReport.turnaroundBlocks, static_cast<int32_t>(c.blocks));
        EXPECT_GE(plcReport.turnaroundMedianUs, static_cast<int32_t>(c.adapterMs * 1000));
        EXPECT_LE(plcReport.turnaroundMedianUs, static_cast<int32_t>(c.adapterMs * 1000 + 2000));
        EXPECT_GE(plcReport.turnaroundP95Us, plcReport.turnaroundMedianUs);
        EXPECT_EQ(plcReport.slowReplies != 0, c.slow);
        // What the figures say is what the transfer took.
        uint64_t perBlockMs = (platform::VirtualNowMs() - began) / (c.blocks + 1);
        EXPECT_NEAR(perBlockMs * 1000.0, plcReport.blockWireUs + plcReport.turnaroundMedianUs,
                    1500.0);
    }
}

}  // namespace

namespace {

// The figures from the replies' times: the lower median and the 95th percentile, to the
// histogram's 0.1 ms, and the replies counted costly once the median of 64 or more reaches 8 ms.
TEST(Turnaround, FiguresOfTheRepliesTimes) {
    struct Reply {
        uint32_t count;
        uint64_t extraUs;       // after the block's time on the wire
        uint64_t writeLateUs;   // the write returned this long after the block's wire time
    };
    struct Case {
        const char* name;
        std::vector<Reply> replies;
        int32_t medianUs, p95Us;
        bool slow;
    };
    const Case cases[] = {
        {"the lower middle of an even count", {{32, 2000, 0}, {32, 20000, 0}}, 2050, 20050, false},
        {"one more late reply", {{32, 2000, 0}, {33, 20000, 0}}, 20050, 20050, true},
        {"the 95th percentile", {{94, 1000, 0}, {6, 30000, 0}}, 1050, 30050, false},
        {"later than the histogram holds", {{64, 500000, 0}}, 100000, 100000, true},
        // A driver whose write returns once the bytes are sent: the reply is counted from then.
        {"a write that returns late", {{64, 16000, 5000}}, 16050, 16050, true},
        {"exactly 8 ms", {{64, 8000, 0}}, 8050, 8050, true},
        {"just under 8 ms", {{64, 7999, 0}}, 7950, 7950, false},
    };
    const uint64_t wireUs = 10000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BeginTurnaround(wireUs);
        uint64_t t = 1000000;
        for (const Reply& r : c.replies)
            for (uint32_t i = 0; i < r.count; ++i, t += 100000)
                CountTurnaround(t, t + wireUs + r.writeLateUs, t + wireUs + r.writeLateUs + r.extraUs);
        PublishTurnaround();
        EXPECT_EQ(plcReport.turnaroundMedianUs, c.medianUs);
        EXPECT_EQ(plcReport.turnaroundP95Us, c.p95Us);
        EXPECT_EQ(plcReport.slowReplies != 0, c.slow);
    }
}

}  // namespace
