// What the files of the program's flow share: the port of the run (app.cpp), the update run
// (single_run.cpp), the station in progress and the end of a run's files (interrupt.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "cli/command/options.h"
#include "cli/program/program.h"
#include "cli/record_names.h"

namespace plccli {

class Station;
class TraceFile;

inline constexpr char PROGRAM_NAME[] = "plcfwupdate";

void ChoosePort(const CliOptions& options, uint32_t row, Engine& engine);
std::string LinkDescription(const CliOptions& options, uint32_t row);

int RunUpdate(Io& io, const CliOptions& options, uint32_t row, const std::string& embeddedFile,
              Engine& engine, RunRecorder* recorder, TraceFile* trace, const RecordFields& fields);

// The station in progress, which an interrupt ends after its tally.
extern std::atomic<Station*> gStation;
int FinishFiles(std::ostream& err, TraceFile* trace, RunRecorder* recorder,
                const RunOutcome& outcome, int status);

}  // namespace plccli
