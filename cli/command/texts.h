// What the program says about a run: its messages, where it stood when it was interrupted or
// failed, and what the PLC reported.
#pragma once

#include <cstdint>
#include <string>

#include "cli/record_names.h"

namespace plccli {

// The figures of an image outside the model's size limits: "the image is 1048576 bytes; QM2-E
// takes at most 917504 bytes"; "" when the size is within them.
std::string ImageSizeLine(uint32_t row, uint64_t imageBytes);

// How a message box is printed, and what it means for the run.
std::string MessageLine(const char* caption, const char* text);
// What --yes prints instead of a reconnect prompt, which asks the operator to press OK.
std::string YesReconnectLine(bool usbAttached);

// Where a run stood when it was interrupted, and the one line that tells the operator.
struct RunPoint {
    int32_t status = 0;  // flashStatus (IDLE)
    int32_t progress = 0;
    int32_t probeResult = -1;  // the latest mode probe's result, -1 before the first
    bool enteredBootloader = false;
    int32_t step = 0;  // enum RunStep (STEP_NONE)
};
RunPoint TakeRunPoint();
// Where the PLC stands at that point: "the PLC still runs its application firmware and was not
// changed", ...
std::string PlcStateText(const RunPoint& point);
std::string InterruptedLine(int exitStatus, const RunPoint& point);
// An interrupt that came once the run had its outcome, which stands: "terminated after the run
// had ended: its outcome stands, exit status 0".
std::string EndedRunLine(int exitStatus, int runStatus);
// The same for a run that failed once the erase had begun; "" when it failed before. In a
// station, without the advice to run the command again: the station sets the unit aside. With
// rePower (the final message asks to re-power the PLC), the advice says so first.
std::string FailedLine(const RunPoint& point, bool inStation = false, bool rePower = false);

// What the PLC reported, in one line for -v.
std::string ReportSummary(const PlcSeen& plc, uint32_t blocksTotal);

}  // namespace plccli
