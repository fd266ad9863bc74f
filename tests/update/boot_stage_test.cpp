// The bootloader-mode stage: identity, version and gate, erase, start of programming, transfer,
// and the final message of every outcome.
#include "tests/update/update_fixture.h"
#include "update/stages.h"

namespace plctest {
namespace {

#define SUCCESS_USB "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"
#define SUCCESS_COM "Firmware update is SUCCESSFUL"

class BootStage : public UpdateRun {
  protected:
    // A PLC already in its bootloader, reporting the id its bootloader reports for the model.
    std::shared_ptr<ScriptedPeer> Start(const char* model, size_t imageBytes = 8192) {
        events.clear();
        states.clear();
        platform::UnregisterAllVirtualLinks();
        Select(model);
        UseImage(imageBytes);
        auto plc = Plc();
        plc->On(FRAME_PROBE, Reply19(ACK));
        plc->On(FRAME_PROBE_AIO, Reply19(ACK));
        plc->Bootloader(SelectedPLCIn(USB_ATTACHED_MODELS)
                            ? uint16_t{selectedPLCID}
                            : static_cast<uint16_t>(selectedPLCID & 0x7FFF));
        return plc;
    }
    // The image bytes the model writes: all of them, or all but the last 4096.
    std::vector<uint8_t> Written() const {
        bool keepsLastPage = SelectedPLCIn(USB_ATTACHED_MODELS) && !SelectedPLCIs("NV") &&
                             !SelectedPLCIs("NV-H") && !SelectedPLCIs("NV26") &&
                             !SelectedPLCIn(AIO_MODELS);
        size_t n = keepsLastPage ? image.size() - 4096 : image.size();
        return std::vector<uint8_t>(image.begin(), image.begin() + n);
    }
};

TEST_F(BootStage, EveryModelSucceedsWithItsOwnTextAndCaption) {
    for (uint32_t row = 0; row < PLC_COUNT; ++row) {
        SCOPED_TRACE(plcList[row]);
        auto plc = Start(plcList[row]);
        DirtyRunState();
        Run();
        bool usb = SelectedPLCIn(USB_ATTACHED_MODELS);
        ExpectInformation(LastMessage(), usb ? SUCCESS_USB : SUCCESS_COM,
                          usb ? "Information" : "INFORMATION");
        EXPECT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Trace(), "DKME");
        // Until the operator closes it, the panel shows the finished transfer.
        EXPECT_EQ(states[2].phase, PROGRAM);
        EXPECT_EQ(states[2].progressPct, 100);
        ExpectFullRunEnd();
        // No application-mode exchange on a PLC that is already in its bootloader.
        EXPECT_EQ(plc->Count(FRAME_ID) + plc->Count(FRAME_ID_AIO), 0);
        EXPECT_EQ(plc->Count(FRAME_READ_D1386) + plc->Count(FRAME_READ_D1001) +
                      plc->Count(FRAME_READ_D1148),
                  0);
        EXPECT_EQ(plc->Count("ID"), 1);
        EXPECT_EQ(plc->Count("VERSION"), InBootloaderVersionGroup(selectedPLCID) ? 1 : 0);
        EXPECT_EQ(plc->flash, Written());
    }
}

struct FailCase {
    const char* model;
    const char* request;  // the request that gets the crafted replies
    std::vector<std::string> replies;
    const char* message;
};

const FailCase kFailCases[] = {
    {"RP200", "ID", {Bytes({ACK, 0x30, 0x00})}, "PLC type is WRONG"},
    {"RP200", "ID", {""}, "PLC type is WRONG"},
    {"QM2-E", "ID", {Bytes({NAK, 0x00, 0x17})}, "PLC type is WRONG"},
    {"RP300", "VERSION", {""}, "PLC DOES NOT respond to the version read"},
    {"RP200", "VERSION", {Bytes({NAK, 0x01, 0x40})}, "PLC DOES NOT respond to the version read"},
    {"RP200-Z", "VERSION", {""}, "PLC DOES NOT respond to the version read"},
    {"RP200", "ERASE", {""}, "PLC DOES NOT respond to the erasing signal"},
    {"NV", "ERASE", {Bytes({NAK})}, "PLC DOES NOT respond to the erasing signal"},
    {"QM2-E", REQ_EOT, {""}, "PLC DOES NOT respond to the erasing signal"},
    {"RP200", "UPDATE", {""}, "PLC DOES NOT respond to the update signal"},
    {"PN2", "UPDATE", {Bytes({NAK})}, "PLC DOES NOT respond to the update signal"},
    {"RP200",
     REQ_BLOCK,
     {Bytes({ACK}), Bytes({NOK})},
     "Flash write error, maybe due to flash write protection. RE-POWER PLC and update FW again"},
    {"QM2-E",
     REQ_BLOCK,
     {Bytes({NOK})},
     "Flash write error, maybe due to flash write protection. RE-POWER PLC and update FW again"},
    {"RP200", REQ_BLOCK, {Bytes({ACK}), ""}, "Firmware update is FAILED"},
    {"NV26", REQ_BLOCK, {Bytes({NAK})}, "Firmware update is FAILED"},
    // The erase's closing EOT is acknowledged, the transfer's is not.
    {"RP200", REQ_EOT, {Bytes({ACK}), ""}, "Firmware update is FAILED"},
};

TEST_F(BootStage, EachFailingStepStopsWithItsMessage) {
    for (const FailCase& c : kFailCases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.request);
        auto plc = Start(c.model);
        plc->On(c.request, c.replies);
        Run();
        ExpectStoppedWith(c.message);
        EXPECT_EQ(Messages().size(), 1u);
        ExpectFullRunEnd();
    }
}

TEST_F(BootStage, NvFamilyNeverAsksForTheVersion) {
    for (const char* model : {"NV", "NV-H", "NV26"}) {
        SCOPED_TRACE(model);
        auto plc = Start(model);
        plc->On("VERSION", "");
        Run();
        ExpectInformation(LastMessage(), SUCCESS_USB, "Information");
        EXPECT_EQ(plc->Count("VERSION"), 0);
    }
}

struct BootGateCase {
    const char* model;
    uint8_t versionHigh, versionLow;  // the bootloader's two version bytes
    const char* message;              // nullptr: passes
};

#define V09 "The bootloader version is V0.9, do not support AIO FW update"
#define V10 "The bootloader version is V1.0, do not support AIO FW update"
#define UNKNOWN_VERSION "The bootloader version is unknown, do not support AIO FW update"

const BootGateCase kBootGateCases[] = {
    {"RP200-AIO", 0x00, 0x90, V09},              // 0x09
    {"RP200-AIO", 0xF0, 0x9F, V09},              // the dropped nibbles do not count
    {"RP200-AIO", 0x00, 0xF0, UNKNOWN_VERSION},  // 0x0F
    {"RP200-AIO", 0x00, 0x00, UNKNOWN_VERSION},
    {"RP200-AIO", 0x01, 0x00, nullptr},  // 0x10
    {"HB3-AIO", 0x00, 0x90, V09},
    {"HB3-AIO", 0x01, 0x00, nullptr},
    {"TR3-AIO", 0x01, 0x00, V10},              // 0x10
    {"TR3-AIO", 0x01, 0x10, UNKNOWN_VERSION},  // 0x11
    {"TR3-AIO", 0x00, 0x90, UNKNOWN_VERSION},
    {"TR3-AIO", 0x01, 0x20, nullptr},  // 0x12
    {"RP300", 0x00, 0x00, nullptr},
    {"RP200", 0x00, 0x90, nullptr},
};

TEST_F(BootStage, BootloaderVersionGateInBootloaderMode) {
    for (const BootGateCase& c : kBootGateCases) {
        SCOPED_TRACE(std::string(c.model) + " " + std::to_string(c.versionHigh) + " " +
                     std::to_string(c.versionLow));
        auto plc = Start(c.model);
        plc->On("VERSION", Bytes({ACK, c.versionHigh, c.versionLow}));
        Run();
        if (c.message == nullptr) {
            ExpectInformation(LastMessage(), SUCCESS_USB, "Information");
        } else {
            ExpectError(LastMessage(), c.message);
            EXPECT_EQ(Trace(), "DMKE") << "message first, then the timer stop";
            EXPECT_EQ(plc->Count("ERASE"), 0);
        }
        EXPECT_EQ(RP_fu_version, ((c.versionHigh << 4) | (c.versionLow >> 4)) & 0xFF);
        ExpectFullRunEnd();
    }
}

TEST_F(BootStage, ANewRunCanStartRightAfterTheSuccess) {
    auto plc = Start("RP200");
    Run();
    ExpectInformation(LastMessage(), SUCCESS_USB, "Information");
    Run();
    EXPECT_EQ(Messages().size(), 2u);
    ExpectInformation(LastMessage(), SUCCESS_USB, "Information");
    EXPECT_EQ(Trace(), "DKMEDKME");
    EXPECT_EQ(plc->opens, 2);
    ExpectFullRunEnd();
}

}  // namespace
}  // namespace plctest
