// The window's service record: one JSON line per run, as the command line's --record writes it,
// appended to records.jsonl in the user's application-data folder
// (%APPDATA%\Korvel\PLC Firmware Update).
#pragma once

#include <chrono>

#include "record/record.h"

struct ServiceRecord {
    plcrecord::RecordFields fields;
    std::chrono::steady_clock::time_point started;
};

// Taken on the worker's thread just before its run: the start, the selected port and model.
ServiceRecord BeginServiceRecord();
// After the run has returned: what it reported, the image's fingerprint, and the line appended.
// A record that cannot be written is left out without a word: the run is what matters.
void EndServiceRecord(ServiceRecord* record);
