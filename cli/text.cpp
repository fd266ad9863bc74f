// What the front end prints: the status line and the messages.
#include <cstdio>
#include <cstring>

#include "catalogue/catalogue.h"
#include "cli/cli.h"

namespace plccli {

namespace {

const int BAR_WIDTH_CHARS = 30;
const int PHASE_WIDTH_CHARS = 11;  // "Programming"

// Where a run can stand, from the PLC's side.
enum PlcState {
    PLC_NOT_REACHED,    // no answer yet: nothing was sent that changes it
    PLC_APP_UNCHANGED,  // it answered from its application firmware, still running it
    PLC_IN_BOOTLOADER,  // in its bootloader, its flash not yet erased by this run
    PLC_PARTLY_ERASED,
    PLC_ERASED,  // every page erased, no block written yet
    PLC_PARTLY_WRITTEN,
};

// State                what the operator is told about the PLC
const char* const PLC_STATE_TEXTS[] = {
    "the PLC was not changed",
    "the PLC still runs its application firmware and was not changed",
    "the PLC waits in its bootloader, its flash not yet erased",
    "the PLC's flash is partly erased and the PLC stays in its bootloader",
    "the PLC's flash is erased and the PLC stays in its bootloader",
    "the PLC's flash is erased and partly written, and the PLC stays in its bootloader",
};

PlcState StateOf(const RunPoint& p) {
    if (p.status == PROGRAM) return PLC_PARTLY_WRITTEN;
    if (p.status == ERASE) return p.progress >= 100 ? PLC_ERASED : PLC_PARTLY_ERASED;
    if (p.enteredBootloader || p.probeResult == ACK) return PLC_IN_BOOTLOADER;
    if (p.probeResult == ENQ) return PLC_APP_UNCHANGED;
    return PLC_NOT_REACHED;
}

}  // namespace

PanelSnapshot TakeSnapshot() {
    PanelSnapshot s;
    s.elapsed = elapsedTime;
    s.progress = progress;
    s.status = flashStatus;
    s.errors = errCounter;
    s.totalErrors = totalErrCounter;
    return s;
}

const char* PhaseName(int32_t status) {
    const char* word = StatusWord(status);
    return word != nullptr ? word : "";
}

std::string StatusLine(const PanelSnapshot& s) {
    // The bar follows the percentage as the panel's does, kept inside its frame whatever the
    // value.
    int64_t shown = s.progress < 0 ? 0 : (s.progress > 100 ? 100 : s.progress);
    int filled = static_cast<int>(shown * BAR_WIDTH_CHARS / 100);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(BAR_WIDTH_CHARS - filled), '.');
    char line[160];
    std::snprintf(line, sizeof line, "%5d s [%s] %3d%%  %-*s  errors %d/%d", s.elapsed, bar.c_str(),
                  s.progress, PHASE_WIDTH_CHARS, PhaseName(s.status), s.errors, s.totalErrors);
    return line;
}

bool PlainLineDue(const PanelSnapshot& last, const PanelSnapshot& now) {
    return last.status != now.status || last.progress / 10 != now.progress / 10 ||
           last.errors != now.errors || last.totalErrors != now.totalErrors;
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
    return p;
}

std::string InterruptedLine(int exitStatus, const RunPoint& point) {
    std::string line = exitStatus == EXIT_INTERRUPTED ? "interrupted" : "terminated";
    if (point.status == ERASE || point.status == PROGRAM)
        line += std::string(" during ") + PhaseName(point.status) + " at " +
                std::to_string(point.progress) + "%";
    else
        line += " before erasing began";
    return line + ": " + PLC_STATE_TEXTS[StateOf(point)] +
           ". Running the same command again completes the update.";
}

std::string YesReconnectLine(bool usbAttached) {
    return std::string("the PLC restarts into its bootloader; --yes goes on without waiting: ") +
           (usbAttached ? "replug its USB cable now" : "power it off and on now") +
           " if it does not come back by itself";
}

}  // namespace plccli
