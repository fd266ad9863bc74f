// The end of a run, written once: by the run when it has its result, or by an interrupt that
// comes first and then ends the program.
#include "catalogue/report.h"
#include "cli/command/exit_status.h"
#include "cli/command/texts.h"
#include "cli/program/run_end.h"
#include "cli/run/status_line.h"

namespace plccli {

void RunEnd::Open(const RunFiles& files) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_ = files;
    state_ = OPEN;
    status_ = -1;
    changed_.notify_all();
}

void RunEnd::WaitBegun(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, wait, [this] { return state_ != CLOSED || done_; });
}

bool RunEnd::ClaimForRun() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == BY_INTERRUPT) return false;
    state_ = BY_RUN;
    return true;
}

void RunEnd::Recorded(int exitStatus) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = exitStatus;
    changed_.notify_all();
}

RunEnd::Claim RunEnd::ClaimForInterrupt(RunFiles* files) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == CLOSED) return NO_RUN;
    *files = files_;
    if (state_ == BY_RUN) return RUN_ENDS_IT;
    state_ = BY_INTERRUPT;
    return INTERRUPT_ENDS_IT;
}

int RunEnd::RecordedStatus(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, wait, [this] { return status_ >= 0; });
    return status_;
}

void RunEnd::ProgramDone() {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    changed_.notify_all();
}

bool RunEnd::WaitProgramDone(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, wait, [this] { return done_; });
}

InterruptEnd EndOfInterruptedRun(int exitStatus) {
    if (plcReport.outcome != OUTCOME_RUNNING) {
        FinalMessage last = TakeFinalMessage();
        return InterruptEnd{RunOutcome{last.caption, last.text, last.errors, last.totalErrors},
                            plcReport.outcome == OUTCOME_SUCCESS ? EXIT_SUCCESSFUL : EXIT_FAILED,
                            true};
    }
    PanelSnapshot now = TakeSnapshot();
    return InterruptEnd{
        RunOutcome{"", InterruptedLine(exitStatus, TakeRunPoint()), now.errors, now.totalErrors},
        exitStatus, false};
}

RunEnd& TheRunEnd() {
    // Never destroyed: an interrupt may look at it while the program ends.
    static RunEnd* end = new RunEnd();
    return *end;
}

}  // namespace plccli
