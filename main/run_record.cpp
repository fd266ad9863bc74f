#include "main/run_record.h"

#include <chrono>
#include <mutex>

#include "catalogue/report.h"
#include "catalogue/state.h"

namespace {

// Held by a worker from its run's start until it has copied the run's report: the next run's
// StartBurn clears that report.
std::mutex gRunOrder;

// The run in progress: open from just before its StartBurn until its line is claimed, by the
// worker or by the window thread, whichever comes first.
std::mutex gRunMutex;
bool gRunOpen = false;
bool gRunRecorded = false;
plcrecord::RecordFields gRunFields;
std::chrono::steady_clock::time_point gRunStarted;

// Claims the line of the run in progress and fills it from the run's report: as it ended when
// its final message is out or when the worker claims it, else as abandoned (cut). False when it
// is not this caller's to write. Under gRunMutex.
bool ClaimRunLocked(plcrecord::RecordFields* f, const RunCut* cut) {
    if (!gRunOpen || gRunRecorded) return false;
    gRunRecorded = true;
    *f = gRunFields;
    if (cut == nullptr || plcReport.outcome != OUTCOME_RUNNING) {
        plcrecord::FinishFromReport(f, gRunStarted);
        return true;
    }
    f->plc = plcrecord::TakePlcSeen();
    f->caption = "";
    f->message = AbandonedMessage(*cut, flashStatus, progress);
    f->outcome = RUN_ABANDONED;
    f->errors = errCounter;
    f->totalErrors = totalErrCounter;
    f->exitStatus = 1;
    f->durationSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - gRunStarted).count();
    return true;
}

}  // namespace

void RunRecorded(void (*run)(void*), void* param, RecordStart start, RecordWrite write) {
    std::unique_lock<std::mutex> order(gRunOrder);
    try {
        const plcrecord::RecordFields fields = start();
        std::lock_guard<std::mutex> lock(gRunMutex);
        // The previous run's report is not this run's, also before StartBurn clears it.
        ClearPlcReport();
        gRunFields = fields;
        gRunStarted = std::chrono::steady_clock::now();
        gRunOpen = true;
        gRunRecorded = false;
    } catch (...) {
        // Out of memory: the run goes on without its line.
    }
    run(param);
    plcrecord::RecordFields fields;
    bool mine = false;
    {
        std::lock_guard<std::mutex> lock(gRunMutex);
        try {
            mine = ClaimRunLocked(&fields, nullptr);
        } catch (...) {
        }
        gRunOpen = false;
    }
    order.unlock();
    try {
        if (mine) write(fields);
    } catch (...) {
    }
}

bool FinalMessageUp() {
    std::lock_guard<std::mutex> lock(gRunMutex);
    return gRunOpen && plcReport.outcome != OUTCOME_RUNNING;
}

void RecordRunAtExit(RunCut cut, RecordWrite write) {
    try {
        plcrecord::RecordFields fields;
        bool mine = false;
        {
            std::lock_guard<std::mutex> lock(gRunMutex);
            mine = ClaimRunLocked(&fields, &cut);
        }
        if (mine) write(fields);
    } catch (...) {
    }
}

std::string AbandonedMessage(RunCut cut, int32_t status, int32_t progress) {
    std::string text = RUN_ABANDONED;
    if (status == ERASE || status == PROGRAM)
        text +=
            std::string(" during ") + StatusWord(status) + " at " + std::to_string(progress) + "%";
    else
        text += " before erasing began";
    return text + (cut == RunCut::WINDOW_CLOSED ? ": the window was closed"
                                                : ": the Windows session ended");
}
