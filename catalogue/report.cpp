#include "catalogue/report.h"

#include <mutex>

#include "catalogue/state.h"

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
        gFinal.errors = errCounter;
        gFinal.totalErrors = totalErrCounter;
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
    plcReport.turnaroundBlocks = 0;
    plcReport.turnaroundMedianUs = NOT_REPORTED;
    plcReport.turnaroundP95Us = NOT_REPORTED;
    plcReport.blockWireUs = 0;
    plcReport.slowReplies = 0;
    plcReport.checksPassed = CHECKS_NONE;
    plcReport.step = STEP_NONE;
    plcReport.stepsBegun.store(0, std::memory_order_release);
    std::lock_guard<std::mutex> lock(gFinalMutex);
    gFinal = FinalMessage{};
}

void BeginRunStep(RunStep step) {
    if (plcReport.step == step) return;
    plcReport.step = step;
    uint32_t n = plcReport.stepsBegun.load(std::memory_order_relaxed);
    plcReport.stepLog[n % STEP_LOG_LENGTH] = step;
    // The entry is in place before a reader that sees the new count reads it.
    plcReport.stepsBegun.store(n + 1, std::memory_order_release);
}

uint32_t RunStepsBegun() {
    return plcReport.stepsBegun.load(std::memory_order_acquire);
}

int32_t RunStepAt(uint32_t n) {
    // The slot of step n is taken again by step n + STEP_LOG_LENGTH, written before it counts.
    uint32_t begun = RunStepsBegun();
    if (n >= begun || begun - n >= STEP_LOG_LENGTH) return STEP_NONE;
    int32_t step = plcReport.stepLog[n % STEP_LOG_LENGTH];
    return RunStepsBegun() - n >= STEP_LOG_LENGTH ? STEP_NONE : step;
}
