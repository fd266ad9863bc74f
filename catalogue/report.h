// What the PLC reported during the latest run and how the run ended, kept for the front ends
// that show or record it. Every value is -1 until the PLC reports it in the run; the run clears
// the record at its start and leaves it as it is at its end.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "catalogue/shared.h"

#define NOT_REPORTED (-1)

enum ChecksPassed {
    CHECKS_NONE = 0,
    CHECKS_IDENTITY = 1,  // the PLC is of the selected model
    CHECKS_ALL = 2,       // and the compatibility rules or the bootloader-version gate passed too
};

// How the latest run ended, set just before its final message: front ends take exit statuses,
// records and the like from it, never from the message's text. While it is OUTCOME_RUNNING, a
// message the run shows is a prompt.
enum RunOutcome {
    OUTCOME_RUNNING = 0,
    OUTCOME_SUCCESS = 1,
    OUTCOME_FAILURE = 2,
};

// The step the run is in, as the engine begins it; STEP_NONE until the run's first. The window
// shows none of it: its status words stay those of the flash phase.
enum RunStep {
    STEP_NONE = 0,
    STEP_CONNECTING,           // the link opened (again), the PLC's mode probed
    STEP_IDENTIFYING,          // identity, compatibility registers, bootloader version
    STEP_ENTERING_BOOTLOADER,  // the enter-bootloader request
    STEP_WAITING_FOR_REPLUG,   // the PLC restarts; the operator replugs its USB cable
    STEP_WAITING_FOR_POWER_CYCLE,
    STEP_WAITING_FOR_RESTART,  // the PLC restarts into its bootloader by itself
    STEP_ERASING,
    STEP_PROGRAMMING,  // "UPDATE", the blocks and EOT
    STEP_FINISHING,    // every block written: the final message and the link's release
    STEP_COUNT,
};

// The steps a run has begun, in order, for a front end that polls and must not miss a short one.
#define STEP_LOG_LENGTH 32

struct PlcReport {
    Shared<int32_t> outcome{OUTCOME_RUNNING};
    Shared<int32_t> probeResult{
        NOT_REPORTED};                     // the latest mode probe's result (ENQ, ACK, ERR|...)
    Shared<int32_t> appId{NOT_REPORTED};   // id in the application firmware's identity reply
    Shared<int32_t> bootId{NOT_REPORTED};  // id in the bootloader's "ID" reply
    Shared<int32_t> D1386{NOT_REPORTED};
    Shared<int32_t> D1001{NOT_REPORTED};
    Shared<int32_t> D1148{NOT_REPORTED};
    Shared<int32_t> bootloaderVersion{NOT_REPORTED};  // as RP_fu_version holds it
    Shared<int32_t> enteredBootloader{0};  // 1 once the PLC accepted the enter-bootloader request
    Shared<int32_t> blocksSent{0};         // image blocks the bootloader acknowledged
    // The replies to the image's blocks: how much later than the block's time on the wire each
    // came, in microseconds, over the blocks measured so far (the median and the 95th
    // percentile; NOT_REPORTED before the first). What the host's serial stack and a USB-serial
    // adapter add shows here, and so does a PLC that is slow to write its flash.
    Shared<int32_t> turnaroundBlocks{0};
    Shared<int32_t> turnaroundMedianUs{NOT_REPORTED};
    Shared<int32_t> turnaroundP95Us{NOT_REPORTED};
    Shared<int32_t> blockWireUs{0};  // one block and its reply on the wire at the line's speed
    // 1 once the median, over at least the first 64 blocks, reached 8 ms: the replies cost the
    // operator time. It stays 1 for the rest of the run.
    Shared<int32_t> slowReplies{0};
    Shared<int32_t> checksPassed{CHECKS_NONE};  // how far the run's checks of the PLC got
    Shared<int32_t> step{STEP_NONE};            // enum RunStep
    Shared<int32_t> stepLog[STEP_LOG_LENGTH];   // step number n at n % STEP_LOG_LENGTH
    std::atomic<uint32_t> stepsBegun{0};
};

extern PlcReport plcReport;

void ClearPlcReport();

// The final message of the latest run, as the run showed it: the window's own message boxes are
// not seen by the program, so its record takes the words from here. Caption empty until then.
struct FinalMessage {
    std::string caption, text;
    std::chrono::steady_clock::time_point shownAt;
    int32_t errors = 0, totalErrors = 0;  // the error counters then: the run's end clears them
};
// Sets plcReport.outcome and keeps a copy of the final message the run is about to show, with
// the error counters at that moment.
void SetRunOutcome(int32_t outcome, const char* caption, const char* text);
FinalMessage TakeFinalMessage();

// Only the worker calls it: the step becomes the current one and the next entry of the log (a
// step that is current already is not begun again).
void BeginRunStep(RunStep step);
// The number of steps begun in the run, and the step begun as number n (STEP_NONE once it has
// left the log).
uint32_t RunStepsBegun();
int32_t RunStepAt(uint32_t n);
