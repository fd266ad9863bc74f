// The bootloader operations of the engine against the simulated PLC: what the PLC ends up with
// in its flash must be the image, byte for byte, for every block size and page rule.
#include "applink/applink.h"
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
