// The program's end: on an interrupt, within about a second whatever the readers of its output
// do, with the run's last line, its record and its outcome event; or at the end of main.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ostream>
#include <thread>

#include "cli/command/exit_status.h"
#include "cli/command/texts.h"
#include "cli/multi/processes.h"
#include "cli/program/interrupt.h"
#include "cli/program/output.h"
#include "cli/program/parts.h"
#include "cli/program/run_end.h"
#include "cli/run/events.h"
#include "cli/run/frontend.h"
#include "cli/station/station.h"
#include "cli/trace/trace.h"

namespace plccli {

std::atomic<Station*> gStation{nullptr};

namespace {

std::atomic<bool> gInterrupted{false};

// What an interrupt gives the readers of the run's files and of its output: together about a
// second at most.
const std::chrono::milliseconds INTERRUPT_TRACE_WAIT{250};
const int INTERRUPT_RECORD_WAIT_MS = 400;
const std::chrono::milliseconds INTERRUPT_OUTPUT_WAIT{300};
// How long an interrupt waits for the run's own end, which is writing its files, and then for
// the program to end by itself.
const std::chrono::milliseconds RUN_FILES_WAIT{5000};
const std::chrono::milliseconds PROGRAM_END_WAIT{1000};

// The trace and the record of a run that has ended: what could not be written is said on err,
// and a success that left either incomplete exits EXIT_NOT_RECORDED.
int WriteFiles(std::ostream& err, TraceFile* trace, RunRecorder* recorder,
               const RunOutcome& outcome, int status,
               std::chrono::milliseconds traceWait = TRACE_CLOSE_WAIT,
               int recordWaitMs = plcrecord::RECORD_WAIT_MS) {
    std::string problem;
    if (trace != nullptr && !trace->Close(&problem, traceWait)) {
        err << PROGRAM_NAME << ": " << problem << '\n';
        if (status == EXIT_SUCCESSFUL) status = EXIT_NOT_RECORDED;
    }
    if (recorder != nullptr && !recorder->Finish(outcome, status, &problem, recordWaitMs)) {
        err << PROGRAM_NAME << ": " << problem << '\n';
        if (status == EXIT_SUCCESSFUL) status = EXIT_NOT_RECORDED;
    }
    err.flush();
    return status;
}

}  // namespace

// The run's own end: its files, unless an interrupt has taken the end, which then ends the
// program (this thread waits for that).
int FinishFiles(std::ostream& err, TraceFile* trace, RunRecorder* recorder,
                const RunOutcome& outcome, int status) {
    if (!TheRunEnd().ClaimForRun())
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    status = WriteFiles(err, trace, recorder, outcome, status);
    TheRunEnd().Recorded(status);
    return status;
}

namespace {

// Ends the program once what it has handed over is written, or once the interrupt's wait for
// the readers has passed.
[[noreturn]] void EndNow(int status) {
    TheProgramOutput().err.flush();
    TheProgramOutput().Drain(INTERRUPT_OUTPUT_WAIT);
    std::_Exit(status);
}

// Where the interrupt's lines go: with --events the standard output holds event lines only.
std::ostream& Say(const RunFiles& files) {
    return files.events != nullptr ? TheProgramOutput().err : TheProgramOutput().out;
}

// Why a program that was interrupted ends with the status of its run, which had its outcome.
void SayEnded(const RunFiles& files, int exitStatus, int status) {
    Say(files) << PROGRAM_NAME << ": " << EndedRunLine(exitStatus, status) << '\n';
}

// An interrupt that has taken the end of the run: where the run stood, or, when it already had
// its outcome, that outcome, which stands; the files, the outcome event, a station's tally.
[[noreturn]] void EndRun(int exitStatus, const RunFiles& files, Station* station) {
    ProgramOutput& output = TheProgramOutput();
    std::ostream& say = Say(files);
    CliFrontEnd* frontEnd = CliFrontEnd::Active();
    InterruptEnd end = EndOfInterruptedRun(exitStatus);
    // The front end says where the run stood after its status line; before its panel began, or
    // after it ended without an outcome, the line is said here.
    if (!end.hadOutcome && frontEnd != nullptr && frontEnd->Interrupt(exitStatus))
        end.outcome = frontEnd->LastOutcome();
    else if (!end.hadOutcome)
        say << PROGRAM_NAME << ": " << end.outcome.text << '\n';
    int status = WriteFiles(output.err, files.trace, files.recorder, end.outcome, end.exitStatus,
                            INTERRUPT_TRACE_WAIT, INTERRUPT_RECORD_WAIT_MS);
    if (end.hadOutcome && station == nullptr) SayEnded(files, exitStatus, status);
    if (files.events != nullptr) files.events->Outcome(end.outcome, status, files.stationFields);
    // A station ends with the interrupt, after its tally.
    if (station != nullptr) station->Interrupt(exitStatus, true);
    say.flush();
    EndNow(station != nullptr ? exitStatus : status);
}

}  // namespace

bool Interrupted() {
    return gInterrupted.load();
}

void OnInterrupt(int exitStatus) {
    gInterrupted = true;
    if (ForwardToWorkers(exitStatus)) return;
    // The first interrupt ends the program within a bounded time; a second adds nothing.
    static std::atomic<bool> taken{false};
    if (taken.exchange(true)) return;
    Station* station = gStation.load();
    RunFiles files;
    switch (TheRunEnd().ClaimForInterrupt(&files)) {
        case RunEnd::INTERRUPT_ENDS_IT:
            EndRun(exitStatus, files, station);
        case RunEnd::RUN_ENDS_IT: {
            // The run is writing its end: the program ends with the status it records, once it
            // has, and a station once the unit in hand is reported. The station is looked up
            // anew each time: it ends with the program's work.
            int recorded = TheRunEnd().RecordedStatus(RUN_FILES_WAIT);
            Station* now = gStation.load();
            if (now != nullptr) now->Interrupt(exitStatus, false);
            bool done = TheRunEnd().WaitProgramDone(PROGRAM_END_WAIT);
            now = done ? nullptr : gStation.load();
            if (now != nullptr) now->Interrupt(exitStatus, true);
            if (station != nullptr || recorded < 0) EndNow(exitStatus);
            SayEnded(files, exitStatus, recorded);
            EndNow(recorded);
        }
        case RunEnd::NO_RUN:
            if (station != nullptr) station->Interrupt(exitStatus, true);
            EndNow(exitStatus);
    }
}

int EndProgram(int status) {
    TheRunEnd().ProgramDone();
    ProgramOutput& output = TheProgramOutput();
    uint64_t leftOut = output.LeftOutBytes();
    if (leftOut > 0)
        output.err << PROGRAM_NAME << ": " << leftOut
                   << " bytes of output were left out while nothing read them\n"
                   << std::flush;
    // After an interrupt the readers of the output get a bounded time.
    if (!Interrupted())
        output.Drain();
    else if (!output.Drain(INTERRUPT_OUTPUT_WAIT))
        std::_Exit(status);
    return status;
}

}  // namespace plccli
