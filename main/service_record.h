// The window's service record: one JSON line per run of "Start Burn", as the command line's
// --record writes it, appended to records.jsonl in the user's application-data folder
// (%APPDATA%\Korvel\PLC Firmware Update). Each run's line is written once: by its worker when
// the run has returned, or by the window thread when the program ends under the run.
//   - PrepareServiceRecord: where the lines go, and the image's fingerprint, before any run
//   - RunRecorded: the worker's run, between the start of its record and its line
//   - FinalMessageUp: whether the run in progress has shown its final message
//   - RecordRunAtExit: the line of the run in progress, before the program ends
#pragma once

#include "main/run_cut.h"

// On the window thread before the first run.
void PrepareServiceRecord();

// Runs `run` (StartBurn) with param on the worker's thread and writes its line, unless the window
// thread wrote it already. A run's report is copied before the next run may clear it: the next
// worker waits for that copy before it starts its own run.
void RunRecorded(void (*run)(void*), void* param);

// True while the run in progress shows its final message or is past it: the flash is finished
// or failed, and ending the program cuts nothing. False while no run is in progress.
bool FinalMessageUp();

// On the window thread when the program ends while a worker runs: a run past its final message
// is recorded as it ended, one that could still be cut as abandoned, where it stood. The line is
// written before it returns; nothing when the worker has written it.
void RecordRunAtExit(RunCut cut);
