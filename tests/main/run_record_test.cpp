// When the window's record lines are written: once per run, by its worker or by the window.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/report.h"
#include "catalogue/state.h"
#include "main/run_record.h"

namespace {

std::mutex gLinesMutex;
std::vector<plcrecord::RecordFields> gLines;

plcrecord::RecordFields Start() {
    plcrecord::RecordFields f;
    f.port = "COM5";
    return f;
}

void Write(const plcrecord::RecordFields& f) {
    std::lock_guard<std::mutex> lock(gLinesMutex);
    gLines.push_back(f);
}

struct Case {
    int32_t status, progress;
    int32_t outcome;  // OUTCOME_RUNNING: no final message yet when the program ends
    bool ended;       // the program ends during the run, from another thread
    RunCut cut;
    const char* message;
    const char* recordedOutcome;
    int exitStatus;
};

// The worker's run: it stands where the case says, maybe past its final message, when the
// window ends the program; then it returns, as a worker that is not stopped in time would.
void FakeRun(void* param) {
    const Case& c = *static_cast<const Case*>(param);
    flashStatus = c.status;
    progress = c.progress;
    if (c.outcome != OUTCOME_RUNNING)
        SetRunOutcome(c.outcome, c.outcome == OUTCOME_SUCCESS ? "INFORMATION" : "ERROR", c.message);
    EXPECT_EQ(FinalMessageUp(), c.outcome != OUTCOME_RUNNING);
    if (c.ended) std::thread([&c] { RecordRunAtExit(c.cut, Write); }).join();
    flashStatus = IDLE;
    progress = 0;
}

TEST(RunRecord, OneLinePerRunAbandonedOnlyWhileItCouldBeCut) {
    const RunCut CLOSED = RunCut::WINDOW_CLOSED, SESSION = RunCut::SESSION_ENDED;
    const Case cases[] = {
        {PROGRAM, 40, OUTCOME_RUNNING, true, CLOSED,
         "abandoned during Programming at 40%: the window was closed", "abandoned", 1},
        {ERASE, 100, OUTCOME_RUNNING, true, SESSION,
         "abandoned during Erasing at 100%: the Windows session ended", "abandoned", 1},
        {IDLE, 0, OUTCOME_RUNNING, true, CLOSED,
         "abandoned before erasing began: the window was closed", "abandoned", 1},
        // The final message is up: the run is recorded as it ended, by whoever comes first.
        {PROGRAM, 100, OUTCOME_SUCCESS, true, CLOSED, "Firmware update is SUCCESSFUL", "", 0},
        {PROGRAM, 55, OUTCOME_FAILURE, false, CLOSED, "Transfer FAILED", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        gLines.clear();
        RunRecorded(FakeRun, const_cast<Case*>(&c), Start, Write);
        RecordRunAtExit(c.cut, Write);  // after the run's end: nothing left to write
        ASSERT_EQ(gLines.size(), 1u);
        const plcrecord::RecordFields& f = gLines[0];
        EXPECT_EQ(f.port, "COM5");
        EXPECT_EQ(f.message, c.message);
        EXPECT_EQ(f.caption.empty(), c.outcome == OUTCOME_RUNNING);
        EXPECT_EQ(f.outcome, c.recordedOutcome);
        EXPECT_EQ(f.exitStatus, c.exitStatus);
    }
    EXPECT_FALSE(FinalMessageUp());
}

// "Start Burn" pressed again as soon as the first run has given the button back: the first
// run's line keeps its own final message, which the second run's start clears.
void SecondRun(void*) {
    SetRunOutcome(OUTCOME_FAILURE, "ERROR", "second");
}
void FirstRun(void* second) {
    SetRunOutcome(OUTCOME_SUCCESS, "INFORMATION", "first");
    *static_cast<std::thread*>(second) =
        std::thread([] { RunRecorded(SecondRun, nullptr, Start, Write); });
    // The second run must not clear the report before this one's line is taken; every chance to.
    for (int i = 0; i < 20000 && plcReport.outcome != OUTCOME_RUNNING; ++i)
        std::this_thread::yield();
}

TEST(RunRecord, QuickSecondRunLeavesTheFirstRunsLineAlone) {
    gLines.clear();
    std::thread second;
    RunRecorded(FirstRun, &second, Start, Write);
    second.join();
    ASSERT_EQ(gLines.size(), 2u);
    for (const plcrecord::RecordFields& f : gLines)
        EXPECT_EQ(f.caption, f.message == "first" ? "INFORMATION" : "ERROR") << f.message;
    EXPECT_NE(gLines[0].message, gLines[1].message);
}

}  // namespace
