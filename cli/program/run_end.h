// The end of the run in progress: its record, trace and --events outcome, written once, by the
// run or by an interrupt.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "cli/record_names.h"

namespace plccli {

class EventWriter;
class TraceFile;

// What the end of the run in progress writes: its record and trace, and its --events outcome.
struct RunFiles {
    RunRecorder* recorder = nullptr;
    TraceFile* trace = nullptr;
    EventWriter* events = nullptr;
    std::string stationFields;  // StationFields of the run's record, for its outcome event
};

// The end of the run in progress is written once: by the run when it has its result, or by an
// interrupt that comes first, which then ends the program with the run's record written.
class RunEnd {
  public:
    enum Claim {
        NO_RUN,             // none has begun
        INTERRUPT_ENDS_IT,  // the interrupt writes the run's end
        RUN_ENDS_IT,        // the run writes its end (RecordedStatus tells its exit status)
    };
    void Open(const RunFiles& files);
    // False when an interrupt has taken the end: the interrupt ends the program.
    bool ClaimForRun();
    // The run's files are written; the program ends with exitStatus.
    void Recorded(int exitStatus);
    // *files: those of the run, when there is one.
    Claim ClaimForInterrupt(RunFiles* files);
    // The exit status the run's files were written with, waiting for it at most wait; -1 until
    // then.
    int RecordedStatus(std::chrono::milliseconds wait);
    // Waits at most wait until a run has begun or the program has done its work.
    void WaitBegun(std::chrono::milliseconds wait);
    // The program has done its work and writes only what waits for its readers.
    void ProgramDone();
    bool WaitProgramDone(std::chrono::milliseconds wait);

  private:
    enum State { CLOSED, OPEN, BY_RUN, BY_INTERRUPT };
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = CLOSED;
    RunFiles files_;
    int status_ = -1;
    bool done_ = false;
};
RunEnd& TheRunEnd();

// What an interrupt that takes the end of the run records: a run that has its outcome keeps it
// and its exit status (0 for a success, 1 for a failure); otherwise where the run stood, with
// exitStatus.
struct InterruptEnd {
    RunOutcome outcome;
    int exitStatus;
    bool hadOutcome;
};
InterruptEnd EndOfInterruptedRun(int exitStatus);

}  // namespace plccli
