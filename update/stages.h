// Inside of the update run: the worker's per-run variables and what the driver, the two stages
// and the constant tables share.
//   - BurnRun: the per-run variables of one worker
//   - AppModeStage, BootModeStage: the two branches of a pass
//   - the link opening (COM port, USB device, or the front end's path) and the failure messages
//   - the message tables (messages.cpp)
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "catalogue/catalogue.h"
#include "update/update.h"

// The worker's per-run variables; they live for one run.
struct BurnRun {
    ParamStruct param;  // owner of every message box and the timer; the button
    uint8_t status;     // latest probe, identity, enter-bootloader or transfer result
    uint8_t isError;    // 1 from the start of a pass until the PLC is sent into its bootloader
    uint32_t appModePasses;  // passes whose probe found the application firmware
    uint32_t maxSize;   // image size limit of the selected model, bytes
    uint8_t checked_PLCID_0x67;  // the QM3 id check is done (first pass only)
    uint16_t PLCID_0x67;
    uint8_t PLCID_0x67_ERROR;
    uint16_t D1386;
    uint16_t D1001;
    uint16_t D1148;
    uint8_t QM2_TR2_QM2C_ERROR;  // compatibility flags, cleared at the start of every pass
    uint8_t WJB_QM2_ERROR;
    uint8_t DK2_ERROR;
    uint8_t NV_ERROR;
    uint8_t HB_ERROR;
    std::string linkOverride;  // the front end's link path; empty for the listed port or USB
    bool checkOnly;            // stop before the first request that changes the PLC
    std::function<bool()> consent;  // the front end's, asked before that request; empty: given
};

// Whether the run goes on to the first request that changes the PLC: not a check-only run, and
// the front end consents.
bool MayChangePlc(const BurnRun* run);

// A pass whose probe answered ENQ: identity, compatibility rules, bootloader-version gate,
// enter-bootloader request and reconnect. Leaves isError 0 when another pass is to follow.
void AppModeStage(BurnRun* run);
// A pass whose probe answered ACK: identity, version, erase, transfer, the final message.
// The run always ends after it.
void BootModeStage(BurnRun* run);

// Links. With an override every open goes to that path.
HANDLE OpenUsbLink(const BurnRun* run);
HANDLE OpenComLink(const BurnRun* run, const char* portName);
// The name by which a listed COM port is opened ("COM10" -> "\\.\COM10").
std::string ComDeviceName(const char* portName);
// The name by which the front end's link is opened: a bare port name as a device, a path as is.
std::string OverrideDeviceName(const std::string& path);

// Message boxes of the run, owned by the main window.
void StopTimer(const BurnRun* run);
void ShowError(const BurnRun* run, const char* text);
void ShowInformation(const BurnRun* run, const char* text, const char* caption);
// Stop the one-second timer, then show the failure.
void StopWithError(const BurnRun* run, const char* text);

// ---- Messages (messages.cpp) ----
// The messages of an image outside its model's size limits (MaxImageBytes, MinImageBytes).
struct SizeClass {
    const char* tooLarge;
    const char* tooSmall;
};
const SizeClass& SizeClassFor(uint32_t idx);

// Result-to-message tables, chosen by the low four bits of a failure result.
const char* ProbeFailureMessage(uint8_t result);      // ConfirmComm
const char* IdentityFailureMessage(uint8_t result);   // CheckID_A
const char* EnterBootFailureMessage(uint8_t result);  // SendErase_A

// The bootloader-version gate: the message that stops the run, or nullptr when the version
// (and the model) pass.
const char* BootloaderGateMessage(uint32_t idx, uint8_t version);

#define MSG_IMAGE_MISSING "The firmware image is MISSING"
#define MSG_NO_BOOTLOADER "PLC DOES NOT enter the bootloader mode"
#define MSG_PLC_TYPE_WRONG "PLC type is WRONG"
#define MSG_REPLUG_PROMPT "Please REPLUG the USB Cable, and then press OK to continue"
#define MSG_POWER_CYCLE_PROMPT "Please POWER OFF=>ON the PLC, and then press OK to continue"
#define MSG_NO_VERSION_REPLY "PLC DOES NOT respond to the version read"
#define MSG_NO_ERASE_REPLY "PLC DOES NOT respond to the erasing signal"
#define MSG_NO_UPDATE_REPLY "PLC DOES NOT respond to the update signal"
#define MSG_FLASH_PROTECTED \
    "Flash write error, maybe due to flash write protection. RE-POWER PLC and update FW again"
#define MSG_UPDATE_FAILED "Firmware update is FAILED"
#define MSG_SUCCESS_USB "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"
#define MSG_SUCCESS_COM "Firmware update is SUCCESSFUL"
