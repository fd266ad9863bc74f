// The bootloader-mode stage: identity and version of the bootloader, erase, transfer, and the
// one message that reports the whole update.
#include "bootloader/bootloader.h"
#include "update/stages.h"

void BootModeStage(BurnRun* run) {
    BeginRunStep(STEP_IDENTIFYING);
    if (CheckID_B(hSerial) != OK) {
        StopWithError(run, MSG_PLC_TYPE_WRONG);
        return;
    }
    plcReport.checksPassed = CHECKS_IDENTITY;

    if (InBootloaderVersionGroup(selectedPLCID)) {
        if (read_fu_version_B() != OK) {
            StopWithError(run, MSG_NO_VERSION_REPLY);
            return;
        }
        plcReport.bootloaderVersion = RP_fu_version;
        const char* gate = BootloaderGateMessage(selectedPLCIdx, RP_fu_version);
        if (gate != nullptr) {
            // The elapsed time keeps counting while this message is open.
            ShowError(run, gate);
            StopTimer(run);
            return;
        }
    }

    plcReport.checksPassed = CHECKS_ALL;
    if (!MayChangePlc(run)) return;

    BeginRunStep(STEP_ERASING);
    if (SendErase_B(hSerial) != OK) {
        StopWithError(run, MSG_NO_ERASE_REPLY);
        return;
    }
    BeginRunStep(STEP_PROGRAMMING);
    if (SendUpdate(hSerial) != OK) {
        StopWithError(run, MSG_NO_UPDATE_REPLY);
        return;
    }

    run->status = SendFW(hSerial);
    if (run->status == OK) {
        BeginRunStep(STEP_FINISHING);
        StopTimer(run);
        const bool usb = SelectedPLCIn(USB_ATTACHED_MODELS);
        const char* text = usb ? MSG_SUCCESS_USB : MSG_SUCCESS_COM;
        const char* caption = usb ? CAPTION_INFORMATION : CAPTION_INFORMATION_COM;
        SetRunOutcome(OUTCOME_SUCCESS, caption, text);
        ShowInformation(run, text, caption);
    } else if (run->status == NOK) {
        StopWithError(run, MSG_FLASH_PROTECTED);
    } else {
        StopWithError(run, MSG_UPDATE_FAILED);
    }
}
