// The window's service record: one JSON line per run of "Start Burn", as the command line's
// --record writes it, appended to records.jsonl in the user's application-data folder
// (%APPDATA%\Korvel\PLC Firmware Update). When each run's line is written: main/run_record.h.
//   - PrepareServiceRecord: where the lines go, and the image's fingerprint, before any run
//   - ServiceRecordStart: what the line knows before its run
//   - WriteServiceRecord: the line appended
#pragma once

#include "main/run_record.h"

// On the window thread before the first run.
void PrepareServiceRecord();

// The start, the selected port and model, the embedded image.
plcrecord::RecordFields ServiceRecordStart();

// A line that cannot be written is left out without a word: the run is what matters.
void WriteServiceRecord(const plcrecord::RecordFields& fields);
