// The application-mode stage: identity, compatibility rules A to E, the bootloader-version gate,
// the request to enter the bootloader and the reconnect per model.
#include "tests/update/update_fixture.h"

namespace plctest {
namespace {

#define SUCCESS_USB "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"
#define SUCCESS_COM "Firmware update is SUCCESSFUL"
#define REPLUG "Please REPLUG the USB Cable, and then press OK to continue"
#define POWER_CYCLE "Please POWER OFF=>ON the PLC, and then press OK to continue"
#define SILENT (-1)

class AppStage : public UpdateRun {
  protected:
    // A PLC in application mode that, once sent into its bootloader, takes the whole image.
    std::shared_ptr<ScriptedPeer> Start(const char* model, uint16_t plcId, int d1386 = 0,
                                     int d1001 = 0, int d1148 = 0, int version = 0x14) {
        events.clear();
        states.clear();
        platform::UnregisterAllVirtualLinks();
        Select(model);
        UseImage(8192);
        auto plc = Plc();
        bool aio = SelectedPLCIn(AIO_MODELS);
        plc->Application(plcId, aio);
        Register(*plc, FRAME_READ_D1386, d1386);
        Register(*plc, FRAME_READ_D1001, d1001);
        Register(*plc, FRAME_READ_D1148, d1148);
        plc->On(FRAME_VERSION, version == SILENT ? "" : Reply19(static_cast<uint8_t>(version)));
        // The bootloader of a COM-port model does not report bit 15 of the catalogue id.
        plc->Bootloader(SelectedPLCIn(USB_ATTACHED_MODELS)
                            ? uint16_t{selectedPLCID}
                            : static_cast<uint16_t>(selectedPLCID & 0x7FFF));
        return plc;
    }
    static void Register(ScriptedPeer& plc, const char* frame, int value) {
        plc.On(frame, value == SILENT ? "" : RegisterReply(static_cast<uint16_t>(value)));
    }
    void ExpectSuccess() {
        if (SelectedPLCIn(USB_ATTACHED_MODELS))
            ExpectInformation(LastMessage(), SUCCESS_USB, "Information");
        else
            ExpectInformation(LastMessage(), SUCCESS_COM, "INFORMATION");
        ExpectFullRunEnd();
    }
    void ExpectRuleStop(const ScriptedPeer& plc, const char* message) {
        ExpectStoppedWith(message);
        EXPECT_EQ(plc.Count(FRAME_ENTER_BOOT) + plc.Count(FRAME_ENTER_BOOT_AIO), 0);
        EXPECT_EQ(plc.Count("ERASE"), 0);
        ExpectFullRunEnd();
    }
};

struct IdentityCase {
    std::string reply;
    const char* message;
};

const IdentityCase kIdentityCases[] = {
    {Reply19(NAK, 2, 2), "PLC type is WRONG"},
    {Reply19(NAK, 2, 3), "PLC type is WRONG"},
    {Reply19(NAK, 2, 9), "PLC type is WRONG"},
    {Reply19(NAK, 1), "UNKNOWN ERROR CODE @ State 2"},
    {Reply19(NAK, 4), "UNKNOWN ERROR CODE @ State 2"},
    {"", "NO RESPONSE @ State 2"},
    {Reply19(ACK, 0xA0, 0x10), "NO RESPONSE @ State 2"},  // another model's id
};

TEST_F(AppStage, IdentityFailureShowsItsStateTwoMessage) {
    for (const IdentityCase& c : kIdentityCases) {
        SCOPED_TRACE(c.message);
        auto plc = Start("RP200", 0x3010);
        plc->On(FRAME_ID, c.reply);
        Run();
        ExpectRuleStop(*plc, c.message);
        EXPECT_EQ(plc->Count(FRAME_ID), 6);
        EXPECT_EQ(plc->Count(FRAME_VERSION), 0);
    }
}

struct RuleCase {
    const char* model;
    uint16_t plcId;
    int d1386, d1001, d1148;
    const char* message;  // nullptr: the rule passes and the update goes through
    int d1386Reads, d1001Reads, d1148Reads;
};

#define QM2C_DOWN "QM2-C V4.xx CAN NOT downgrade to V2.xx / V3.xx "
#define QM2C_UP "QM2-C V2.xx / V3.xx CAN NOT upgrade to V4.xx "
#define TR2_NOT_C "Check PLC, QM2-TR2 is different than QM2-C"
#define TR2_DOWN "QM2-TR2 V4.xx CAN NOT downgrade to V2.xx / V3.xx "
#define TR2_UP "QM2-TR2 V2.xx / V3.xx CAN NOT upgrade to V4.xx "

const RuleCase kRuleCases[] = {
    // Rule A: D1386 tells QM2-C (16696, 16695) from QM2-TR2; D1001 bits 4-7 the generation.
    {"QM2-C-V2", 0x000C, 16696, 0x0020, 0, nullptr, 1, 1, 0},
    {"QM2-C-V2", 0x000D, 16695, 0x0031, 0, nullptr, 1, 1, 0},
    {"QM2-C-V2", 0x000C, 16696, 0x0040, 0, QM2C_DOWN, 1, 1, 0},
    {"QM2-C-V4", 0x000C, 16696, 0x0040, 0, nullptr, 1, 1, 0},
    {"QM2-C-V4", 0x000C, 16695, 0x00F0, 0, nullptr, 1, 1, 0},
    {"QM2-C-V4", 0x000C, 16696, 0x0031, 0, QM2C_UP, 1, 1, 0},
    {"QM2-TR2-V2", 0x000C, 16696, 0x0020, 0, TR2_NOT_C, 1, 0, 0},
    {"QM2-TR2-V4", 0x000C, 16695, 0x0040, 0, TR2_NOT_C, 1, 0, 0},
    {"QM2-TR2-V4", 0x000C, 0, 0x0040, 0, nullptr, 1, 1, 0},
    {"QM2-TR2-V4", 0x000D, 16697, 0x00F3, 0, nullptr, 1, 1, 0},
    {"QM2-TR2-V2", 0x000C, 0, 0x0040, 0, TR2_DOWN, 1, 1, 0},
    {"QM2-C-V2", 0x000C, 0, 0x0050, 0, TR2_DOWN, 1, 1, 0},
    {"QM2-C-V4", 0x000C, 16694, 0x0040, 0, TR2_DOWN, 1, 1, 0},
    {"QM2-TR2-V2", 0x000C, 0, 0x003F, 0, nullptr, 1, 1, 0},
    {"QM2-TR2-V2", 0x000C, 0, 0xFF0F, 0, nullptr, 1, 1, 0},
    {"QM2-TR2-V4", 0x000C, 0, 0x0020, 0, TR2_UP, 1, 1, 0},
    {"QM2-C-V2", 0x000C, 0, 0x0020, 0, TR2_UP, 1, 1, 0},
    {"QM2-C-V4", 0x000C, 0, 0x003F, 0, TR2_UP, 1, 1, 0},
    // A register that does not answer reads as 0: the QM2-TR2 family, generation V2/V3.
    {"QM2-C-V2", 0x000C, SILENT, 0x0020, 0, TR2_UP, 6, 1, 0},
    {"QM2-TR2-V4", 0x000C, 0, SILENT, 0, TR2_UP, 1, 6, 0},
    {"QM2-TR2-V2", 0x000C, SILENT, SILENT, 0, nullptr, 6, 6, 0},
    // Rule B: D1148 not 0 is the 28 variant.
    {"DK28", 0x0013, 0, 0, 1, nullptr, 0, 0, 1},
    {"DK28", 0x0013, 0, 0, 0, "Check PLC, 28DK2 is different than 12DK2", 0, 0, 1},
    {"DK2", 0x0013, 0, 0, 0x8000, "Check PLC, 12DK2 is different than 28DK2", 0, 0, 1},
    {"DK2", 0x0013, 0, 0, 0, nullptr, 0, 0, 1},
    {"DK28", 0x0013, 0, 0, SILENT, "Check PLC, 28DK2 is different than 12DK2", 0, 0, 6},
    // Rule C: D1148 not 0 is the 26 variant.
    {"NV26", 0x0015, 0, 0, 26, nullptr, 0, 0, 1},
    {"NV26", 0x0015, 0, 0, 0, "Check PLC, 26NV is different than 12NV", 0, 0, 1},
    {"NV", 0x0015, 0, 0, 1, "Check PLC, 12NV is different than 26NV", 0, 0, 1},
    {"NV", 0x0015, 0, 0, 0, nullptr, 0, 0, 1},
    // Rule D: D1001 generation.
    {"HB-V4", 0x0008, 0, 0x0040, 0, nullptr, 0, 1, 0},
    {"HB-V4", 0x0008, 0, 0x003F, 0, "HB V3.xx CAN NOT upgrade to V4.xx ", 0, 1, 0},
    {"HB-V3", 0x0008, 0, 0x0041, 0, "HB V4.xx CAN NOT downgrade to V3.xx ", 0, 1, 0},
    {"HB-V3", 0x0008, 0, 0xFF0F, 0, nullptr, 0, 1, 0},
    // Rule E: D1001 generation.
    {"WJB-QM2-V4", 0xA001, 0, 0x0045, 0, nullptr, 0, 1, 0},
    {"WJB-QM2-V4", 0xA001, 0, 0x0020, 0, "WJB-QM2 V2.xx / V3.xx CAN NOT upgrade to V4.xx ", 0, 1,
     0},
    {"WJB-QM2-V2", 0xA001, 0, 0x0040, 0, "WJB-QM2 V4.xx CAN NOT downgrade to V2.xx / V3.xx ", 0, 1,
     0},
    {"WJB-QM2-V2", 0xA001, 0, 0x000F, 0, nullptr, 0, 1, 0},
};

TEST_F(AppStage, CompatibilityRulesPassOrStopBeforeTheRequest) {
    for (const RuleCase& c : kRuleCases) {
        SCOPED_TRACE(std::string(c.model) + " D1386=" + std::to_string(c.d1386) +
                     " D1001=" + std::to_string(c.d1001) + " D1148=" + std::to_string(c.d1148));
        auto plc = Start(c.model, c.plcId, c.d1386, c.d1001, c.d1148);
        Run();
        if (c.message == nullptr)
            ExpectSuccess();
        else
            ExpectRuleStop(*plc, c.message);
        EXPECT_EQ(plc->Count(FRAME_READ_D1386), c.d1386Reads);
        EXPECT_EQ(plc->Count(FRAME_READ_D1001), c.d1001Reads);
        EXPECT_EQ(plc->Count(FRAME_READ_D1148), c.d1148Reads);
        EXPECT_EQ(plc->Count(FRAME_VERSION), 0);
    }
}

TEST_F(AppStage, ModelsWithoutRuleGoStraightToTheRequest) {
    const struct {
        const char* model;
        uint16_t id;
    } kNoRule[] = {{"DK2-H", 0xA003}, {"PN2", 0x000E},       {"HB2", 0x000F},
                   {"LC3", 0x0000},   {"QM-TR-LC2", 0x0003}, {"TR2-CAR", 0xA006},
                   {"QM2-E", 0x0017}, {"NV-H", 0xA002},      {"30TR2-AIO", 0x000D}};
    for (const auto& m : kNoRule) {
        SCOPED_TRACE(m.model);
        auto plc = Start(m.model, m.id);
        Run();
        ExpectSuccess();
        EXPECT_EQ(plc->Count(FRAME_READ_D1386) + plc->Count(FRAME_READ_D1001) +
                      plc->Count(FRAME_READ_D1148) + plc->Count(FRAME_VERSION),
                  0);
        bool aio = SelectedPLCIn(AIO_MODELS);
        EXPECT_EQ(plc->Count(aio ? FRAME_ENTER_BOOT_AIO : FRAME_ENTER_BOOT), 1);
        EXPECT_EQ(plc->Count(aio ? FRAME_CONFIRM_AIO : FRAME_CONFIRM), 1);
    }
}

struct GateCase {
    const char* model;
    uint16_t id;
    int version;          // the application's answer to the version read; SILENT: none
    const char* message;  // nullptr: passes
};

#define V09 "The bootloader version is V0.9, do not support AIO FW update"
#define V10 "The bootloader version is V1.0, do not support AIO FW update"
#define UNKNOWN_VERSION "The bootloader version is unknown, do not support AIO FW update"

const GateCase kGateCases[] = {
    {"RP200-AIO", 0x3010, 0x09, V09},
    {"RP200-AIO", 0x3010, 0x0F, UNKNOWN_VERSION},
    {"RP200-AIO", 0x3010, 0x00, UNKNOWN_VERSION},
    {"RP200-AIO", 0x3010, 0x08, UNKNOWN_VERSION},
    {"RP200-AIO", 0x3010, SILENT, UNKNOWN_VERSION},
    {"RP200-AIO", 0x3010, 0x10, nullptr},
    {"HB3-AIO", 0x0022, 0x09, V09},
    {"HB3-AIO", 0x0022, 0x01, UNKNOWN_VERSION},
    {"HB3-AIO", 0x0022, 0x10, nullptr},
    {"TR3-AIO", 0x0020, 0x10, V10},
    {"TR3-AIO", 0x0020, 0x11, UNKNOWN_VERSION},
    {"TR3-AIO", 0x0020, 0x09, UNKNOWN_VERSION},
    {"TR3-AIO", 0x0020, 0x12, nullptr},
    {"TR3-AIO", 0x0020, 0xFF, nullptr},
    {"RP300", 0x3000, 0x00, nullptr},
    {"RP300", 0x3000, SILENT, nullptr},
    {"RP200", 0x3010, 0x09, nullptr},
    {"QM3", 0x0020, 0x10, nullptr},
    {"QM3-PACKAGE", 0x0020, 0x01, nullptr},
    {"FYX-J", 0xA00B, 0x02, nullptr},
    {"RP100", 0x3020, 0x03, nullptr},
    {"GW3HB3", 0x0022, 0x04, nullptr},
    {"RP200-TO-RP300", 0x3010, 0x05, nullptr},
    {"RP200-Z", 0x3010, 0x06, nullptr},
};

TEST_F(AppStage, BootloaderVersionGateShowsItsMessageBeforeTheTimerStops) {
    for (const GateCase& c : kGateCases) {
        SCOPED_TRACE(std::string(c.model) + " version " + std::to_string(c.version));
        auto plc = Start(c.model, c.id, 0, 0, 0, c.version);
        Run();
        EXPECT_EQ(plc->Count(FRAME_VERSION), c.version == SILENT ? 6 : 1);
        if (c.message == nullptr) {
            ExpectSuccess();
            continue;
        }
        ExpectError(LastMessage(), c.message);
        std::string trace = Trace();
        EXPECT_EQ(trace.substr(trace.size() - 3), "MKE") << trace;
        EXPECT_EQ(RP_fu_version, c.version == SILENT ? 0 : c.version);
        EXPECT_EQ(plc->Count(FRAME_ENTER_BOOT) + plc->Count(FRAME_ENTER_BOOT_AIO), 0);
        ExpectFullRunEnd();
    }
}

TEST_F(AppStage, VersionByteStaysForModelsThatAlwaysPass) {
    auto plc = Start("RP300", 0x3000, 0, 0, 0, 0x37);
    plc->On("VERSION", "");  // the bootloader's own read fails, so the stored byte shows
    Run();
    ExpectStoppedWith("PLC DOES NOT respond to the version read");
    EXPECT_EQ(RP_fu_version, 0x37);
}

struct EnterCase {
    const char* model;
    uint16_t id;
    std::string reply;
    const char* message;
};

const EnterCase kEnterCases[] = {
    {"RP200", 0x3010, Reply19(NAK, 2, 3), "PLC type is WRONG"},
    {"RP200", 0x3010, Reply19(NAK, 2, 4), "PLC type is WRONG"},
    {"RP200", 0x3010, Reply19(NAK, 2, 1), "PLC type is WRONG"},
    {"RP200", 0x3010, Reply19(NAK, 1), "UNKNOWN ERROR CODE @ State 3"},
    {"QM2-E", 0x0017, "", "NO RESPONSE @ State 3"},
    {"PN2", 0x000E, Reply19(ENQ), "NO RESPONSE @ State 3"},
};

TEST_F(AppStage, EnterBootloaderFailureShowsItsStateThreeMessage) {
    for (const EnterCase& c : kEnterCases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.message);
        auto plc = Start(c.model, c.id);
        plc->On(FRAME_ENTER_BOOT, c.reply);
        Run();
        ExpectStoppedWith(c.message);
        EXPECT_EQ(plc->Count(FRAME_ENTER_BOOT), 6);
        EXPECT_EQ(plc->Count(FRAME_CONFIRM), 0);
        EXPECT_EQ(plc->Count(FRAME_PROBE), 1) << "no second pass";
        ExpectFullRunEnd();
    }
}

TEST_F(AppStage, NoReplyModelsTakeSilenceAsAcceptance) {
    const struct {
        const char* model;
        uint16_t id;
    } kNoReply[] = {{"TR2-CAR", 0xA006}, {"QM2-C-V2", 0x000C}, {"QM2-C-V4", 0x000C}};
    for (const auto& m : kNoReply) {
        SCOPED_TRACE(m.model);
        auto plc = Start(m.model, m.id, 16696, std::string(m.model) == "QM2-C-V4" ? 0x40 : 0x20);
        plc->On(FRAME_ENTER_BOOT, "");
        Run();
        ExpectSuccess();
        EXPECT_EQ(plc->Count(FRAME_ENTER_BOOT), 1);
        EXPECT_EQ(MessageTexts().front(), POWER_CYCLE);
    }
}

enum Kind { REPLUG_KIND, POWER_KIND, PAUSE_KIND };

// Every open from the first-th on, as far as a run goes.
std::vector<int> OpensFrom(int first) {
    std::vector<int> opens;
    for (int n = first; n < first + 100; ++n) opens.push_back(n);
    return opens;
}

struct ReconnectCase {
    const char* model;
    uint16_t id;
    int d1386, d1001, d1148;
    Kind kind;
    uint64_t pauseMs;
};

const ReconnectCase kReconnectCases[] = {
    {"NV", 0x0015, 0, 0, 0, REPLUG_KIND, 2000},
    {"NV-H", 0xA002, 0, 0, 0, REPLUG_KIND, 2000},
    {"NV26", 0x0015, 0, 0, 1, REPLUG_KIND, 2000},
    {"RP300", 0x3000, 0, 0, 0, REPLUG_KIND, 5000},
    {"RP200", 0x3010, 0, 0, 0, REPLUG_KIND, 5000},
    {"RP200-AIO", 0x3010, 0, 0, 0, REPLUG_KIND, 5000},
    {"QM3", 0x0020, 0, 0, 0, REPLUG_KIND, 5000},
    {"QM3-PACKAGE", 0x0020, 0, 0, 0, REPLUG_KIND, 5000},
    {"FYX-J", 0xA00B, 0, 0, 0, REPLUG_KIND, 5000},
    {"RP100", 0x3020, 0, 0, 0, REPLUG_KIND, 5000},
    {"TR3-AIO", 0x0020, 0, 0, 0, REPLUG_KIND, 5000},
    {"GW3HB3", 0x0022, 0, 0, 0, REPLUG_KIND, 5000},
    {"HB3-AIO", 0x0022, 0, 0, 0, REPLUG_KIND, 5000},
    {"RP200-TO-RP300", 0x3010, 0, 0, 0, REPLUG_KIND, 5000},
    {"RP200-Z", 0xA010, 0, 0, 0, REPLUG_KIND, 5000},
    {"QM2-C-V2", 0x000C, 16696, 0x20, 0, POWER_KIND, 2000},
    {"QM2-C-V4", 0x000C, 16695, 0x40, 0, POWER_KIND, 2000},
    {"TR2-CAR", 0xA006, 0, 0, 0, POWER_KIND, 2000},
    {"PN2", 0x000E, 0, 0, 0, PAUSE_KIND, 1000},
    {"30TR2-AIO", 0x000D, 0, 0, 0, PAUSE_KIND, 1000},
    {"QM2-E", 0x0017, 0, 0, 0, PAUSE_KIND, 1000},
    {"QM2-TR2-V2", 0x000C, 0, 0x20, 0, PAUSE_KIND, 1000},
    {"DK28", 0x0013, 0, 0, 1, PAUSE_KIND, 1000},
    {"WJB-QM2-V4", 0xA001, 0, 0x40, 0, PAUSE_KIND, 1000},
};

TEST_F(AppStage, ReconnectFollowsTheModel) {
    for (const ReconnectCase& c : kReconnectCases) {
        SCOPED_TRACE(c.model);
        auto plc = Start(c.model, c.id, c.d1386, c.d1001, c.d1148);
        Run();
        ExpectSuccess();
        auto messages = Messages();
        bool aio = SelectedPLCIn(AIO_MODELS);
        if (c.kind == PAUSE_KIND) {
            ASSERT_EQ(messages.size(), 1u) << "no prompt";
            EXPECT_EQ(plc->opens, 1);
            EXPECT_EQ(plc->closes, 1);
            // The confirmation, a pause of one second, then the next pass's wake-up burst.
            const std::string confirm = aio ? FRAME_CONFIRM_AIO : FRAME_CONFIRM;
            size_t i = 0;
            while (i < plc->requests.size() && plc->requests[i] != confirm) ++i;
            ASSERT_LT(i + 1, plc->requests.size());
            EXPECT_EQ(plc->requests[i + 1], FRAME_WAKEUP);
            EXPECT_EQ(plc->requestTimes[i + 1] - plc->requestTimes[i], c.pauseMs);
            continue;
        }
        ASSERT_EQ(messages.size(), 2u);
        ExpectInformation(messages[0], c.kind == REPLUG_KIND ? REPLUG : POWER_CYCLE, "Information");
        // The prompt keeps the timer running and is shown with the link closed.
        EXPECT_EQ(Trace().substr(0, 2), "DM") << Trace();
        EXPECT_EQ(states[1].openHandles, 0);
        EXPECT_EQ(plc->opens, 2);
        EXPECT_EQ(plc->closes, 2);
        // The reopen follows the operator's OK after the model's pause.
        uint64_t reopenedAt = 0;
        for (const auto& e : plc->linkEvents)
            if (e.kind == ScriptedPeer::LinkEvent::Open) reopenedAt = e.atMs;
        EXPECT_EQ(reopenedAt - messages[0].atMs, c.pauseMs);
    }
}

TEST_F(AppStage, PowerCycleReopensThePortChosenDuringThePrompt) {
    Select("TR2-CAR");
    UseImage(8192);
    auto first = Plc("COM3", false);
    auto second = Plc("COM12", false);
    first->Application(0xA006);
    first->On(FRAME_PROBE, Reply19(ENQ));
    second->On(FRAME_PROBE, Reply19(ACK));
    second->Bootloader(0x2006);
    SetSelectedComPort("COM3");
    onMessage = [](const FrontEndEvent& e) {
        if (e.text == POWER_CYCLE) SetSelectedComPort("COM12");
    };
    Run();
    ExpectInformation(LastMessage(), SUCCESS_COM, "INFORMATION");
    EXPECT_EQ(first->opens, 1);
    EXPECT_EQ(first->closes, 1);
    EXPECT_EQ(second->opens, 1);
    EXPECT_EQ(second->Count(FRAME_PROBE), 1);
    EXPECT_EQ(second->Count("ID"), 1);
    ExpectFullRunEnd();
}

TEST_F(AppStage, DeviceAbsentAfterReplugEndsOnTheNextProbe) {
    auto plc = Start("RP200", 0x3010);
    plc->RefuseOpens(OpensFrom(2));
    Run();
    std::vector<std::string> expected = {REPLUG, "NO RESPONSE @ State 1"};
    EXPECT_EQ(MessageTexts(), expected);
    ExpectStoppedWith("NO RESPONSE @ State 1");
    EXPECT_EQ(plc->opens, 1);
    ExpectFullRunEnd();
}

// A device whose driver is still being installed when the replug pause ends: its open is tried
// every half second, the run waits for it up to 30 s and says so meanwhile, then goes on as
// with a device that opened at once, or as with one that is absent.
TEST_F(AppStage, TheReopenWaitsForALateUsbDevice) {
    const struct {
        const char* what;
        int refusedReopens;  // 0: opens at once; > 100: never
        const char* last;
        uint64_t reopenAfterPauseMs;
    } kCases[] = {
        {"opens at once", 0, SUCCESS_USB, 0},
        {"comes after 3 s", 6, SUCCESS_USB, 3000},
        {"comes at the last try", 60, SUCCESS_USB, 30000},
        {"never comes", 1000, "NO RESPONSE @ State 1", 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        auto plc = Start("RP200", 0x3010);
        std::vector<int> refused;
        for (int n = 2; n < 2 + c.refusedReopens && n < 200; ++n) refused.push_back(n);
        plc->RefuseOpens(refused);
        std::vector<std::pair<uint32_t, bool>> pauses;  // each pause, and whether it waited
        platform::SetLinkEventTrace([&](const platform::LinkEvent& e, uint64_t) {
            if (e.kind == platform::LinkEventKind::Pause)
                pauses.push_back({e.pauseMs, AwaitingUsbDevice()});
        });
        Run();
        platform::SetLinkEventTrace(nullptr);
        std::vector<std::string> expected = {REPLUG, c.last};
        EXPECT_EQ(MessageTexts(), expected);
        EXPECT_FALSE(AwaitingUsbDevice());
        uint64_t promptAt = Messages()[0].atMs;
        std::vector<uint64_t> tries;
        for (const auto& e : plc->linkEvents)
            if (e.atMs > promptAt && e.kind != ScriptedPeer::LinkEvent::Close)
                tries.push_back(e.atMs - promptAt);
        ASSERT_FALSE(tries.empty());
        bool never = c.refusedReopens > 100;
        EXPECT_EQ(tries.size(), never ? 61u : size_t(c.refusedReopens) + 1);
        for (size_t i = 0; i < tries.size(); ++i) EXPECT_EQ(tries[i], 5000 + 500 * i) << i;
        int waits = 0;
        for (const auto& p : pauses) waits += p.second && p.first == 500;
        EXPECT_EQ(waits, never ? 60 : c.refusedReopens);
        if (!never) {
            EXPECT_EQ(tries.back() - 5000, c.reopenAfterPauseMs);
        }
        ExpectFullRunEnd();
    }
}

TEST_F(AppStage, PortGoneAfterPowerCycleEndsOnTheNextProbe) {
    Select("QM2-C-V4");
    UseImage(8192);
    auto plc = Plc("COM3", false);
    plc->Application(0x000C, false, 16696, 0x40);
    SetSelectedComPort("COM3");
    onMessage = [](const FrontEndEvent& e) {
        if (e.text == POWER_CYCLE) SetSelectedComPort("");
    };
    Run();
    std::vector<std::string> expected = {POWER_CYCLE, "NO RESPONSE @ State 1"};
    EXPECT_EQ(MessageTexts(), expected);
    ExpectFullRunEnd();
}

}  // namespace
}  // namespace plctest
