// The record lines of the window's runs: one per run of "Start Burn", written once, by the
// worker when its run has returned or by the window thread when the program ends under the run.
// Plain code; the window gives it what is known before a run and where a line goes.
//   - RunRecorded: a worker's run between the start of its record and its line
//   - FinalMessageUp: whether the run in progress has shown its final message
//   - RecordRunAtExit: the line of the run in progress, before the program ends
//   - AbandonedMessage: what the line of a run ended under the program says
#pragma once

#include <cstdint>
#include <string>

#include "record/record.h"

// What ended the program while a run could still be cut.
enum class RunCut {
    WINDOW_CLOSED,  // the close question answered Yes
    SESSION_ENDED,  // the Windows session ended (shut down, restarted or logged off)
};

#define RUN_ABANDONED "abandoned"

// The record's fields known before a run starts, and where a finished line goes.
using RecordStart = plcrecord::RecordFields (*)();
using RecordWrite = void (*)(const plcrecord::RecordFields& fields);

// Runs `run` (StartBurn) with param on the worker's thread and writes its line, unless the window
// thread wrote it already. A run's report is copied before the next run may clear it: the next
// worker waits for that copy before it starts its own run.
void RunRecorded(void (*run)(void*), void* param, RecordStart start, RecordWrite write);

// True while the run in progress shows its final message or is past it: the flash is finished
// or failed, and ending the program cuts nothing. False while no run is in progress.
bool FinalMessageUp();

// When the program ends while a worker runs: a run past its final message is recorded as it
// ended, one that could still be cut as abandoned, where it stood. The line is written before
// it returns; nothing when the worker has written it.
void RecordRunAtExit(RunCut cut, RecordWrite write);

// "abandoned during Programming at 31%: the window was closed", or "abandoned before erasing
// began: ..." for a run that had not reached the erase; status and progress as flashStatus and
// progress held them.
std::string AbandonedMessage(RunCut cut, int32_t status, int32_t progress);
