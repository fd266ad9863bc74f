// The application-mode stage: the PLC runs its application firmware. Identity, compatibility
// rules, bootloader-version gate, the request to enter the bootloader, and the reconnect.
#include <atomic>

#include "applink/applink.h"
#include "update/stages.h"

// After the replug the PLC's bootloader may come up as a device that Windows has not seen
// before, whose driver is still being installed when the pause ends: its open is tried again
// every REOPEN_RETRY_MS until REOPEN_WAIT_MS of retries have passed.
#define REOPEN_RETRY_MS 500
#define REOPEN_WAIT_MS 30000

namespace {

std::atomic<bool> gAwaitingUsbDevice{false};

}  // namespace

bool AwaitingUsbDevice() {
    return gAwaitingUsbDevice.load(std::memory_order_relaxed);
}

bool IsQm2cFamily(uint16_t d1386) {
    return d1386 == 16696 || d1386 == 16695;
}
bool IsGenerationV4(uint16_t d1001) {
    return (d1001 & 0x00F0) > 0x3F;
}
bool IsLargeVariant(uint16_t d1148) {
    return d1148 != 0;
}

namespace {

// Rule A (id 0x000C): the QM2 family, told apart by D1386 and, where it matters, D1001.
enum Qm2Family { FAMILY_QM2C, FAMILY_QM2TR2 };
enum Generation { GEN_ANY, GEN_V4, GEN_V2V3 };
struct Qm2Row {
    uint32_t selected;
    Qm2Family family;
    Generation generation;  // GEN_ANY: decided without reading D1001
    const char* message;    // nullptr: pass
};

#define MSG_QM2C_DOWN "QM2-C V4.xx CAN NOT downgrade to V2.xx / V3.xx "
#define MSG_QM2C_UP "QM2-C V2.xx / V3.xx CAN NOT upgrade to V4.xx "
#define MSG_QM2TR2_NOT_QM2C "Check PLC, QM2-TR2 is different than QM2-C"
#define MSG_QM2TR2_DOWN "QM2-TR2 V4.xx CAN NOT downgrade to V2.xx / V3.xx "
#define MSG_QM2TR2_UP "QM2-TR2 V2.xx / V3.xx CAN NOT upgrade to V4.xx "

// clang-format off
// Selected row       family in the PLC   generation   message (nullptr: pass)
const Qm2Row kRuleA[] = {
    {ROW_QM2_C_V2,   FAMILY_QM2C,        GEN_V2V3,    nullptr},
    {ROW_QM2_C_V2,   FAMILY_QM2C,        GEN_V4,      MSG_QM2C_DOWN},
    {ROW_QM2_C_V4,   FAMILY_QM2C,        GEN_V4,      nullptr},
    {ROW_QM2_C_V4,   FAMILY_QM2C,        GEN_V2V3,    MSG_QM2C_UP},
    {ROW_QM2_TR2_V2, FAMILY_QM2C,        GEN_ANY,     MSG_QM2TR2_NOT_QM2C},
    {ROW_QM2_TR2_V4, FAMILY_QM2C,        GEN_ANY,     MSG_QM2TR2_NOT_QM2C},
    {ROW_QM2_TR2_V4, FAMILY_QM2TR2,      GEN_V4,      nullptr},
    {ROW_QM2_TR2_V2, FAMILY_QM2TR2,      GEN_V4,      MSG_QM2TR2_DOWN},
    {ROW_QM2_C_V2,   FAMILY_QM2TR2,      GEN_V4,      MSG_QM2TR2_DOWN},
    {ROW_QM2_C_V4,   FAMILY_QM2TR2,      GEN_V4,      MSG_QM2TR2_DOWN},
    {ROW_QM2_TR2_V2, FAMILY_QM2TR2,      GEN_V2V3,    nullptr},
    {ROW_QM2_TR2_V4, FAMILY_QM2TR2,      GEN_V2V3,    MSG_QM2TR2_UP},
    {ROW_QM2_C_V2,   FAMILY_QM2TR2,      GEN_V2V3,    MSG_QM2TR2_UP},
    {ROW_QM2_C_V4,   FAMILY_QM2TR2,      GEN_V2V3,    MSG_QM2TR2_UP},
};

// Rules B to E: one register tells the two variants of a family apart: D1148 the size, D1001
// the generation.
enum VariantRegister { REG_D1148, REG_D1001 };
struct VariantRule {
    uint16_t id;
    VariantRegister reg;
    uint8_t BurnRun::*flag;
    uint32_t highModel;           // the variant the register's "high" value means
    uint32_t lowModel;
    const char* highFoundMessage; // the PLC is the high variant, the low one is selected
    const char* lowFoundMessage;  // the PLC is the low variant, the high one is selected
};

// Id      register   flag                    high model      low model
const VariantRule kVariantRules[] = {
    {0x0013, REG_D1148, &BurnRun::DK2_ERROR,     ROW_DK28,       ROW_DK2,
     "Check PLC, 12DK2 is different than 28DK2", "Check PLC, 28DK2 is different than 12DK2"},
    {0x0015, REG_D1148, &BurnRun::NV_ERROR,      ROW_NV26,       ROW_NV,
     "Check PLC, 12NV is different than 26NV", "Check PLC, 26NV is different than 12NV"},
    {0x0008, REG_D1001, &BurnRun::HB_ERROR,      ROW_HB_V4,      ROW_HB_V3,
     "HB V4.xx CAN NOT downgrade to V3.xx ", "HB V3.xx CAN NOT upgrade to V4.xx "},
    {0xA001, REG_D1001, &BurnRun::WJB_QM2_ERROR, ROW_WJB_QM2_V4, ROW_WJB_QM2_V2,
     "WJB-QM2 V4.xx CAN NOT downgrade to V2.xx / V3.xx ",
     "WJB-QM2 V2.xx / V3.xx CAN NOT upgrade to V4.xx "},
};
// clang-format on

// A failed rule: timer, message, then the flag.
void FailRule(BurnRun* run, uint8_t BurnRun::*flag, const char* message) {
    StopWithError(run, message);
    run->*flag = 1;
}

const Qm2Row* FindQm2Row(Qm2Family family, Generation generation) {
    for (const Qm2Row& row : kRuleA)
        if (row.family == family && row.generation == generation && selectedPLCIdx == row.selected)
            return &row;
    return nullptr;
}

void RuleA(BurnRun* run) {
    run->D1386 = READ_D1386(hSerial);
    plcReport.D1386 = run->D1386;
    Qm2Family family = IsQm2cFamily(run->D1386) ? FAMILY_QM2C : FAMILY_QM2TR2;
    const Qm2Row* row = FindQm2Row(family, GEN_ANY);
    if (row == nullptr) {
        run->D1001 = READ_D1001(hSerial);
        plcReport.D1001 = run->D1001;
        row = FindQm2Row(family, IsGenerationV4(run->D1001) ? GEN_V4 : GEN_V2V3);
    }
    if (row != nullptr && row->message != nullptr)
        FailRule(run, &BurnRun::QM2_TR2_QM2C_ERROR, row->message);
    else
        run->QM2_TR2_QM2C_ERROR = 0;
}

// Reads the rule's register into its variable; true when it shows the high variant.
bool ReadVariant(BurnRun* run, VariantRegister reg) {
    if (reg == REG_D1148) {
        plcReport.D1148 = run->D1148 = READ_D1148(hSerial);
        return IsLargeVariant(run->D1148);
    }
    plcReport.D1001 = run->D1001 = READ_D1001(hSerial);
    return IsGenerationV4(run->D1001);
}

void ApplyVariantRule(BurnRun* run, const VariantRule& rule) {
    const bool high = ReadVariant(run, rule.reg);
    const uint32_t selected = selectedPLCIdx;
    if (high && selected == rule.lowModel)
        FailRule(run, rule.flag, rule.highFoundMessage);
    else if (!high && selected == rule.highModel)
        FailRule(run, rule.flag, rule.lowFoundMessage);
    else
        run->*rule.flag = 0;
}

// Returns false when the gate has stopped the run (message shown, timer stopped).
bool BootloaderVersionGate(BurnRun* run) {
    RP_fu_version = read_fu_version_A();
    plcReport.bootloaderVersion = RP_fu_version;
    const char* message = BootloaderGateMessage(selectedPLCIdx, RP_fu_version);
    if (message == nullptr) return true;
    // The elapsed time keeps counting while this message is open.
    ShowError(run, message);
    StopTimer(run);
    return false;
}

// Returns false when the run is to end here.
bool CompatibilityRules(BurnRun* run) {
    const uint16_t id = selectedPLCID;
    if (id == 0x000C) {
        RuleA(run);
        return true;
    }
    if (InBootloaderVersionGroup(id)) return BootloaderVersionGate(run);
    for (const VariantRule& rule : kVariantRules) {
        if (rule.id == id) {
            ApplyVariantRule(run, rule);
            return true;
        }
    }
    return true;
}

HANDLE ReopenUsbLink(const BurnRun* run) {
    HANDLE h = OpenUsbLink(run);
    if (h != INVALID_HANDLE_VALUE) return h;
    gAwaitingUsbDevice = true;
    for (DWORD waitedMs = 0; h == INVALID_HANDLE_VALUE && waitedMs < REOPEN_WAIT_MS;
         waitedMs += REOPEN_RETRY_MS) {
        Sleep(REOPEN_RETRY_MS);
        h = OpenUsbLink(run);
    }
    gAwaitingUsbDevice = false;
    return h;
}

void Reconnect(BurnRun* run) {
    const PlcModel& row = SelectedModel();
    switch (row.reconnect) {
        case RECONNECT_REPLUG_USB:
            BeginRunStep(STEP_WAITING_FOR_REPLUG);
            CloseHandle(hSerial);
            hSerial = INVALID_HANDLE_VALUE;
            ShowInformation(run, MSG_REPLUG_PROMPT, CAPTION_INFORMATION);
            Sleep(row.reconnectPauseMs);
            hSerial = ReopenUsbLink(run);
            break;
        case RECONNECT_POWER_CYCLE_COM: {
            BeginRunStep(STEP_WAITING_FOR_POWER_CYCLE);
            CloseHandle(hSerial);
            hSerial = INVALID_HANDLE_VALUE;
            ShowInformation(run, MSG_POWER_CYCLE_PROMPT, CAPTION_INFORMATION);
            Sleep(row.reconnectPauseMs);
            // The port list stays usable during the prompt: take the port chosen now.
            char portName[PORT_NAME_BYTES];
            GetSelectedComPort(portName);
            hSerial = OpenComLink(run, portName);
            break;
        }
        case RECONNECT_PAUSE:
            BeginRunStep(STEP_WAITING_FOR_RESTART);
            Sleep(row.reconnectPauseMs);
            break;
    }
}

}  // namespace

void AppModeStage(BurnRun* run) {
    BeginRunStep(STEP_IDENTIFYING);
    run->status = CheckID_A(hSerial);
    if (run->status != OK) {
        StopWithError(run, IdentityFailureMessage(run->status));
        return;
    }

    plcReport.checksPassed = CHECKS_IDENTITY;

    if (!CompatibilityRules(run)) return;
    if (run->QM2_TR2_QM2C_ERROR || run->WJB_QM2_ERROR || run->DK2_ERROR || run->NV_ERROR ||
        run->HB_ERROR)
        return;
    plcReport.checksPassed = CHECKS_ALL;
    if (!MayChangePlc(run)) return;

    BeginRunStep(STEP_ENTERING_BOOTLOADER);
    run->status = SendErase_A(hSerial);
    if (run->status != OK) {
        StopWithError(run, EnterBootFailureMessage(run->status));
        return;
    }
    run->isError = 0;
    plcReport.enteredBootloader = 1;
    Reconnect(run);
}
