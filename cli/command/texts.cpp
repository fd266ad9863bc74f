// What the program says about a run: its messages, and where the PLC stood when a run was
// interrupted or failed.
#include "cli/command/texts.h"

#include "catalogue/catalogue.h"
#include "cli/command/exit_status.h"
#include "cli/run/status_line.h"

namespace plccli {

namespace {

// Where a run can stand, from the PLC's side.
enum PlcState {
    PLC_NOT_REACHED,    // no answer yet: nothing was sent that changes it
    PLC_APP_UNCHANGED,  // it answered from its application firmware, still running it
    PLC_IN_BOOTLOADER,  // in its bootloader, its flash not yet erased by this run
    PLC_PARTLY_ERASED,
    PLC_ERASED,  // every page erased, no block written yet
    PLC_PARTLY_WRITTEN,
    PLC_WRITTEN,  // every block and the transfer's end acknowledged
};

// State                what the operator is told about the PLC
const char* const PLC_STATE_TEXTS[] = {
    "the PLC was not changed",
    "the PLC still runs its application firmware and was not changed",
    "the PLC waits in its bootloader, its flash not yet erased",
    "the PLC's flash is partly erased and the PLC stays in its bootloader",
    "the PLC's flash is erased and the PLC stays in its bootloader",
    "the PLC's flash is erased and partly written, and the PLC stays in its bootloader",
    "the PLC's flash holds the whole image, every block and the transfer's end acknowledged by its bootloader",
};

PlcState StateOf(const RunPoint& p) {
    // The transfer shows 100 % only once its end is acknowledged.
    if (p.status == PROGRAM) return p.progress >= 100 ? PLC_WRITTEN : PLC_PARTLY_WRITTEN;
    if (p.status == ERASE) return p.progress >= 100 ? PLC_ERASED : PLC_PARTLY_ERASED;
    if (p.enteredBootloader || p.probeResult == ACK) return PLC_IN_BOOTLOADER;
    if (p.probeResult == ENQ) return PLC_APP_UNCHANGED;
    return PLC_NOT_REACHED;
}

}  // namespace

std::string ImageSizeLine(uint32_t row, uint64_t imageBytes) {
    uint64_t most = MaxImageBytes(row), least = MinImageBytes(row);
    if (imageBytes <= most && imageBytes >= least) return "";
    std::string limit =
        imageBytes > most ? "at most " + std::to_string(most) : "at least " + std::to_string(least);
    return "the image is " + std::to_string(imageBytes) + " bytes; " + plcList[row] + " takes " +
           limit + " bytes";
}

std::string MessageLine(const char* caption, const char* text) {
    return std::string("[") + (caption ? caption : "") + "] " + (text ? text : "");
}

RunPoint TakeRunPoint() {
    RunPoint p;
    p.status = flashStatus;
    p.progress = progress;
    p.probeResult = plcReport.probeResult;
    p.enteredBootloader = plcReport.enteredBootloader != 0;
    p.step = plcReport.step;
    return p;
}

std::string PlcStateText(const RunPoint& point) {
    return PLC_STATE_TEXTS[StateOf(point)];
}

namespace {

// What the line advises after where the PLC stands.
enum Advice {
    ADVICE_NONE,                 // a station's failed unit is set aside, as its own line says
    ADVICE_AGAIN,                // running the same command again is the way on
    ADVICE_REPOWER_THEN_AGAIN,   // the PLC's message asks for a re-power first
};

const char* const ADVICE_TEXTS[] = {
    ".",
    ". Running the same command again completes the update.",
    ". Re-power the PLC, then running the same command again completes the update.",
};

std::string WhereItStood(std::string line, const RunPoint& point, Advice advice = ADVICE_AGAIN) {
    PlcState state = StateOf(point);
    if (state == PLC_WRITTEN)
        return line + " after the transfer had ended: " + PLC_STATE_TEXTS[state] +
               ". Nothing needs writing again.";
    if (point.status == ERASE || point.status == PROGRAM)
        line += std::string(" during ") + PhaseName(point.status) + " at " +
                std::to_string(point.progress) + "%";
    else if (point.step != STEP_NONE && point.step < STEP_ERASING)
        line += std::string(" while ") + StepName(point.step) + ", before erasing began";
    else
        line += " before erasing began";
    return line + ": " + PLC_STATE_TEXTS[state] + ADVICE_TEXTS[advice];
}

const char* InterruptWord(int exitStatus) {
    if (exitStatus == EXIT_USAGE) return "stopped at the prompt";  // its input ended there
    return exitStatus == EXIT_INTERRUPTED ? "interrupted" : "terminated";
}

}  // namespace

std::string InterruptedLine(int exitStatus, const RunPoint& point) {
    return WhereItStood(InterruptWord(exitStatus), point);
}

std::string EndedRunLine(int exitStatus, int runStatus) {
    return std::string(InterruptWord(exitStatus)) +
           " after the run had ended: its outcome stands, exit status " + std::to_string(runStatus);
}

std::string FailedLine(const RunPoint& point, bool inStation, bool rePower) {
    if (point.status != ERASE && point.status != PROGRAM) return "";
    Advice advice = inStation ? ADVICE_NONE : rePower ? ADVICE_REPOWER_THEN_AGAIN : ADVICE_AGAIN;
    return WhereItStood("failed", point, advice);
}

std::string YesReconnectLine(bool usbAttached) {
    // Short enough for an 80-column terminal after the program's name.
    return usbAttached ? "--yes goes on: replug the USB cable if the PLC does not come back"
                       : "--yes goes on: power the PLC off and on if it does not come back";
}

}  // namespace plccli
