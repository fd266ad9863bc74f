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
// The image of the run behind the resource calls (its bytes stay until the program ends), and
// its file, size and SHA-256 in fields. An --image file over the model's maximum is not read:
// the run is given a stand-in one byte over it and ends at its own size check. False with the
// reason when the file cannot be read or is plainly no image (unless --force).
bool SetUpImage(const CliOptions& options, uint32_t row, RecordFields* fields, std::string* error);
std::string LinkDescription(const CliOptions& options, uint32_t row);

int RunUpdate(Io& io, const CliOptions& options, uint32_t row, const std::string& embeddedFile,
              Engine& engine, RunRecorder* recorder, TraceFile* trace, const RecordFields& fields);

// The station in progress, which an interrupt ends after its tally.
extern std::atomic<Station*> gStation;
int FinishFiles(std::ostream& err, TraceFile* trace, RunRecorder* recorder,
                const RunOutcome& outcome, int status);

}  // namespace plccli
