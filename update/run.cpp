// The update run's driver: start of a run, size check, link opening, the probe loop and the
// run end.
#include <mutex>
#include <string>

#include "applink/applink.h"
#include "bootloader/bootloader.h"
#include "update/stages.h"
#include "update/update.h"
#include "usb/usb.h"

namespace {

// A PLC that has accepted the enter-bootloader request this many times and still answers from
// its application firmware is not going to restart: without a bound the run would loop for
// ever, for the pause-only models without a single prompt the operator could answer.
#define MAX_APP_MODE_PASSES 5

// Windows opens COM10 and above only by their device name.
const char* const kDevicePrefix = "\\\\.\\";

std::mutex gOverrideMutex;
std::string gLinkOverride;
bool gCheckOnly = false;
std::function<bool()> gConsent;

HANDLE OpenPath(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The ends before the link is open reset only the elapsed time. The button comes back last, as
// in every end: a run started with it must find the clock and the image free.
void EndBeforeLink(const BurnRun* run, const char* text) {
    StopTimer(run);
    ShowError(run, text);
    elapsedTime = 0;
    CloseFile();
    EnableWindow(run->param.lParam, TRUE);
}

// The run end of every run that has opened its link: the image released before the run reset,
// which closes the link and gives the button back.
void EndRun(const BurnRun* run) {
    CloseFile();
    ResetRunState(&run->param);
}

}  // namespace

void SetCheckOnly(bool checkOnly) {
    std::lock_guard<std::mutex> lock(gOverrideMutex);
    gCheckOnly = checkOnly;
}

void SetChangeConsent(std::function<bool()> consent) {
    std::lock_guard<std::mutex> lock(gOverrideMutex);
    gConsent = std::move(consent);
}

bool MayChangePlc(const BurnRun* run) {
    if (run->checkOnly) return false;
    return !run->consent || run->consent();
}

HANDLE OpenRunLink() {
    BurnRun run{};
    {
        std::lock_guard<std::mutex> lock(gOverrideMutex);
        run.linkOverride = gLinkOverride;
    }
    if (SelectedPLCIn(USB_ATTACHED_MODELS)) return OpenUsbLink(&run);
    char portName[PORT_NAME_BYTES];
    GetSelectedComPort(portName);
    return OpenComLink(&run, portName);
}

bool RunLinkDeviceThere() {
    std::string link;
    {
        std::lock_guard<std::mutex> lock(gOverrideMutex);
        link = gLinkOverride;
    }
    const size_t prefixChars = sizeof USB_PORT_PREFIX - 1;
    if (link.compare(0, prefixChars, USB_PORT_PREFIX) != 0) return true;
    return UsbPlcPresentAt(link.substr(prefixChars));
}

void SetRequestNameWatcher(std::function<void(const char* name)> watcher) {
    SetRequestNamer(std::move(watcher));
}

void SetLinkOverride(const char* path) {
    std::lock_guard<std::mutex> lock(gOverrideMutex);
    gLinkOverride = path != nullptr ? path : "";
}

HANDLE OpenUsbLink(const BurnRun* run) {
    // "usb:LOCATION": the PLC at that physical port, found anew on every open, so that after a
    // replug or a restart it is the same PLC and never one that appeared at another port.
    const std::string& link = run->linkOverride;
    const size_t prefixChars = sizeof USB_PORT_PREFIX - 1;
    if (link.compare(0, prefixChars, USB_PORT_PREFIX) == 0)
        return OpenUsbPlcAt(link.substr(prefixChars));
    if (!link.empty()) return OpenPath(OverrideDeviceName(link).c_str());
    return OpenMyDevPipe("");
}

HANDLE OpenComLink(const BurnRun* run, const char* portName) {
    if (!run->linkOverride.empty()) return OpenPath(OverrideDeviceName(run->linkOverride).c_str());
    // No port listed: there is nothing to open (the bare prefix would name the device root).
    if (portName[0] == '\0') return INVALID_HANDLE_VALUE;
    return OpenPath(ComDeviceName(portName).c_str());
}

std::string ComDeviceName(const char* portName) {
    return std::string(kDevicePrefix) + portName;
}

std::string OverrideDeviceName(const std::string& path) {
    // A bare name is a port ("COM10", "ttyUSB0"); anything with a separator is a path.
    if (path.find_first_of("/\\:") != std::string::npos) return path;
    return ComDeviceName(path.c_str());
}

void StopTimer(const BurnRun* run) {
    KillTimer(run->param.hwnd, ONESECONDTIMER);
}

void ShowError(const BurnRun* run, const char* text) {
    SetRunOutcome(OUTCOME_FAILURE, CAPTION_ERROR, text);  // every error shown is the run's last
    MessageBoxA(run->param.hwnd, text, CAPTION_ERROR, MB_OK | MB_ICONERROR);
}

void ShowInformation(const BurnRun* run, const char* text, const char* caption) {
    MessageBoxA(run->param.hwnd, text, caption, MB_OK | MB_ICONINFORMATION);
}

void StopWithError(const BurnRun* run, const char* text) {
    StopTimer(run);
    ShowError(run, text);
}

namespace {

// False (the run ended) when the image is outside the selected model's size limits.
bool CheckImageSize(BurnRun* run, uint32_t idx) {
    const SizeClass& sizeClass = SizeClassFor(idx);
    run->maxSize = MaxImageBytes(idx);
    const uint32_t length = fileLength;
    if (length > run->maxSize) {
        EndBeforeLink(run, sizeClass.tooLarge);
        return false;
    }
    if (length < MinImageBytes(idx)) {
        EndBeforeLink(run, sizeClass.tooSmall);
        return false;
    }
    return true;
}

// The link: the PLC's USB device or the listed COM port (or the front end's path). False (the
// run ended) when it does not open.
bool OpenLinkOfRun(BurnRun* run, uint32_t idx) {
    const bool usbAttached = ModelIn(idx, USB_ATTACHED_MODELS);
    char portName[PORT_NAME_BYTES];
    GetSelectedComPort(portName);
    hSerial = usbAttached ? OpenUsbLink(run) : OpenComLink(run, portName);
    if (hSerial != INVALID_HANDLE_VALUE) return true;
    const char* linkName = usbAttached ? "USB" : portName;
    if (!run->linkOverride.empty()) linkName = run->linkOverride.c_str();
    std::string tempStr = LinkOpenFailureMessage(linkName);
    EndBeforeLink(run, tempStr.c_str());
    return false;
}

// The QM3 id check of the first pass. False (the failure shown) when the PLC is of another type.
bool CheckQm3Id(BurnRun* run) {
    if (run->checked_PLCID_0x67 != 0) return true;
    // Only the QM3 row: QM3-PACKAGE and TR3-AIO share its id but are never asked.
    if (selectedPLCIdx == ROW_QM3) {
        run->PLCID_0x67 = read_0x67_PLCID();
        run->PLCID_0x67_ERROR = (run->PLCID_0x67 != 0 && run->PLCID_0x67 != 0x0020) ? 1 : 0;
        if (run->PLCID_0x67_ERROR == 1) {
            StopWithError(run, MSG_PLC_TYPE_WRONG);
            return false;
        }
    }
    run->checked_PLCID_0x67 = 1;
    return true;
}

// The probe loop: passes follow one another while the application-mode stage has sent the
// PLC into its bootloader and found it again.
void ProbeLoop(BurnRun* run) {
    run->checked_PLCID_0x67 = 0;
    for (;;) {
        run->isError = 1;
        run->QM2_TR2_QM2C_ERROR = 0;
        run->WJB_QM2_ERROR = 0;
        run->DK2_ERROR = 0;
        run->NV_ERROR = 0;
        run->HB_ERROR = 0;

        BeginRunStep(STEP_CONNECTING);
        DummyComm(hSerial);
        if (!CheckQm3Id(run)) break;

        run->status = ConfirmComm(hSerial);
        plcReport.probeResult = run->status;
        if (run->status == ENQ && run->appModePasses == MAX_APP_MODE_PASSES) {
            StopWithError(run, MSG_NO_BOOTLOADER);
        } else if (run->status == ENQ) {
            ++run->appModePasses;
            AppModeStage(run);
        } else if (run->status == ACK) {
            BootModeStage(run);
            break;
        } else {
            StopWithError(run, ProbeFailureMessage(run->status));
        }

        if (run->isError != 0) break;
    }
}

}  // namespace

void StartBurn(void* pParam) {
    BurnRun run{};
    run.param = *static_cast<const ParamStruct*>(pParam);
    {
        std::lock_guard<std::mutex> lock(gOverrideMutex);
        run.linkOverride = gLinkOverride;
        run.checkOnly = gCheckOnly;
        run.consent = gConsent;
    }

    ClearPlcReport();
    // Start: the image, then the button.
    bool haveImage = LoadImage();
    EnableWindow(run.param.lParam, FALSE);
    if (!haveImage) {
        EndBeforeLink(&run, MSG_IMAGE_MISSING);
        return;
    }
    const uint32_t idx = selectedPLCIdx;
    if (!CheckImageSize(&run, idx)) return;
    BeginRunStep(STEP_CONNECTING);
    if (!OpenLinkOfRun(&run, idx)) return;
    ProbeLoop(&run);
    EndRun(&run);
}
