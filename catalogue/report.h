// What the PLC reported during the latest run and how the run ended, kept for the front ends
// that show or record it. Every value is -1 until the PLC reports it in the run; the run clears
// the record at its start and leaves it as it is at its end.
#pragma once

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
    Shared<int32_t> checksPassed{CHECKS_NONE};  // how far the run's checks of the PLC got
};

extern PlcReport plcReport;

void ClearPlcReport();

// The final message of the latest run, as the run showed it: the window's own message boxes are
// not seen by the program, so its record takes the words from here. Caption empty until then.
struct FinalMessage {
    std::string caption, text;
    std::chrono::steady_clock::time_point shownAt;
};
// Sets plcReport.outcome and keeps a copy of the final message the run is about to show.
void SetRunOutcome(int32_t outcome, const char* caption, const char* text);
FinalMessage TakeFinalMessage();
