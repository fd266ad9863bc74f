// --events: the run as JSON lines on the standard output, for another program to follow.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>

#include "cli/record_names.h"
#include "cli/run/status_line.h"

namespace plccli {

// --events: one JSON object a line. The start of the run, a change of phase, the progress (at
// most a few lines a second), a prompt, and last the outcome with the exit status.
std::string StartEvent(const std::string& port, const std::string& model,
                       const std::string& imageFile, uint64_t imageBytes);
std::string PhaseEvent(int32_t status);
std::string ProgressEvent(const PanelSnapshot& s, int32_t blocks);
std::string PromptEvent(const std::string& caption, const std::string& text, bool answered);
std::string OutcomeEvent(const RunOutcome& outcome, int exitStatus);
// A station's unit: the line with the record's "unit" and "station_started" fields before its
// closing brace; the line as it is otherwise.
std::string WithStationFields(const std::string& line, const RecordFields& fields);

// The --events stream of one run; writes nothing when it has no stream. Nothing follows the
// outcome.
class EventWriter {
  public:
    explicit EventWriter(std::ostream* out = nullptr) : out_(out) {}
    bool On() const { return out_ != nullptr; }
    void Write(const std::string& line);
    // On every tick of the panel: the phase when it changed, the progress when it moved (force:
    // even within a quarter second of the last).
    void Tick(const PanelSnapshot& now, int32_t blocks, bool force = false);
    // stationFields: StationFields of the run's record, put into the line.
    void Outcome(const RunOutcome& outcome, int exitStatus, const std::string& stationFields = "");

  private:
    // Every phase from the one after the last written up to status, in order.
    void WritePhasesUpTo(int32_t status);

    std::ostream* out_;
    std::mutex mutex_;
    bool ended_ = false;
    bool anyTick_ = false;
    int32_t phaseWritten_ = -1;  // none yet
    PanelSnapshot last_;
    int32_t lastBlocks_ = 0;
    std::chrono::steady_clock::time_point lastProgress_;
};

// The value of "key" in one flat JSON line of --events: a string unescaped, a number as written;
// "" when absent.
std::string EventField(const std::string& line, const std::string& key);

}  // namespace plccli
