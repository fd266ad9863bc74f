#include "catalogue/report.h"

#include <mutex>

PlcReport plcReport;

namespace {

std::mutex gFinalMutex;
FinalMessage gFinal;

}  // namespace

void SetRunOutcome(int32_t outcome, const char* caption, const char* text) {
    {
        std::lock_guard<std::mutex> lock(gFinalMutex);
        gFinal.caption = caption;
        gFinal.text = text;
        gFinal.shownAt = std::chrono::steady_clock::now();
    }
    plcReport.outcome = outcome;
}

FinalMessage TakeFinalMessage() {
    std::lock_guard<std::mutex> lock(gFinalMutex);
    return gFinal;
}

void ClearPlcReport() {
    plcReport.outcome = OUTCOME_RUNNING;
    plcReport.probeResult = NOT_REPORTED;
    plcReport.appId = NOT_REPORTED;
    plcReport.bootId = NOT_REPORTED;
    plcReport.D1386 = NOT_REPORTED;
    plcReport.D1001 = NOT_REPORTED;
    plcReport.D1148 = NOT_REPORTED;
    plcReport.bootloaderVersion = NOT_REPORTED;
    plcReport.enteredBootloader = 0;
    plcReport.blocksSent = 0;
    plcReport.checksPassed = CHECKS_NONE;
    std::lock_guard<std::mutex> lock(gFinalMutex);
    gFinal = FinalMessage{};
}
