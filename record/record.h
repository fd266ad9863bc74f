// The service record of an update run, one JSON line per run, written by both front ends.
//   - PlcSeen / TakePlcSeen: what the PLC reported in the latest run
//   - ModeText, IdText, BootloaderVersionText: reported values as the records and messages write
//     them
//   - RecordFields / RecordLine / FinishFromReport: one record and how a finished run fills it
//   - RunRecorder / AppendRecordLine: the record file
//   - JsonString, Sha256Hex, UtcIsoTime
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

namespace plcrecord {

// What the PLC reported in the latest run (a copy of plcReport).
struct PlcSeen {
    int32_t probeResult = -1;
    int32_t appId = -1;
    int32_t bootId = -1;
    int32_t D1386 = -1;
    int32_t D1001 = -1;
    int32_t D1148 = -1;
    int32_t bootloaderVersion = -1;
    bool enteredBootloader = false;
    int32_t blocksSent = 0;
    int32_t checksPassed = 0;  // enum ChecksPassed
    // How much later than their time on the wire the replies to the blocks came (plcReport).
    int32_t turnaroundBlocks = 0;
    int32_t turnaroundMedianUs = -1;
    int32_t turnaroundP95Us = -1;
};
PlcSeen TakePlcSeen();
// The mode a probe result tells ("application firmware", "bootloader", ...); "" for none.
std::string ModeText(int32_t probeResult);
// A model id as "0x0017".
std::string IdText(int32_t id);
// A bootloader version byte as the messages write it: 0x10 is "V1.0".
std::string BootloaderVersionText(int32_t version);

// How a run ended: its final message (caption empty when there was none, as when it was
// interrupted) and the error counters at that moment.
struct RunOutcome {
    std::string caption, text;
    int32_t errors = 0;
    int32_t totalErrors = 0;
};

// One line of the record file: a JSON object.
struct RecordFields {
    std::string start;  // UTC, ISO 8601
    std::string version;
    std::string action;  // "update" or "info"
    uint32_t unit = 0;   // a station's unit number, from 1; 0: no station
    std::string stationStarted;  // the station's start, UTC, ISO 8601
    std::string port, model, imageFile;
    uint64_t imageBytes = 0;
    std::string imageSha256;
    PlcSeen plc;
    uint32_t blocksTotal = 0;
    int32_t errors = 0;  // the error counters when the run ended
    int32_t totalErrors = 0;
    std::string caption, message;  // the final message, or what ended the run
    std::string outcome;           // "abandoned" for a run the program ended under; "": none
    int exitStatus = 0;
    double durationSeconds = 0;
};
std::string RecordLine(const RecordFields& fields);
// ",\"unit\":7,\"station_started\":\"...\"" for a station's unit, the fields its record line and
// its events carry; "" otherwise.
std::string StationFields(const RecordFields& fields);

// The end of a run whose worker has returned, as the run's report and the shared run state hold
// it: what the PLC reported, the final message, the error counters, and the exit status that the
// command line gives (0 for a success; 1 otherwise, also for a run that ended without a final
// message). The duration runs from started to the final message (to now when there was none).
void FinishFromReport(RecordFields* fields, std::chrono::steady_clock::time_point started);

// Appends the line and its line end in one write, after a line end of its own when the file
// ends in a torn line. False with the reason when the file cannot be opened or written whole.
bool AppendRecordLine(const std::string& path, const std::string& line, std::string* error);

// How long the reader of a record FIFO may take nothing before the line counts as lost.
constexpr int RECORD_WAIT_MS = 2000;

// The record file of one run: opened (for appending) before the link is, written once, when the
// run ends or is interrupted, from whichever thread gets there first.
// A FIFO that no program reads is refused when opened; a reader that takes nothing for waitMs
// loses the line, which Finish reports. A file removed or replaced during the run: the line goes
// to the file at the path then, made anew when there is none.
class RunRecorder {
  public:
    RunRecorder() = default;
    ~RunRecorder();
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;
    bool Open(const std::string& path, std::string* error);
    void Start(const RecordFields& fields);
    // Writes the line once; false with the reason (here and on every later call) when it could
    // not be written whole. True when no file was opened.
    bool Finish(const RunOutcome& outcome, int exitStatus, std::string* error = nullptr,
                int waitMs = RECORD_WAIT_MS);

  private:
    bool FollowPathLocked();

    std::mutex mutex_;
    int fd_ = -1;
    std::string path_;
    RecordFields fields_;
    std::chrono::steady_clock::time_point started_;
    bool written_ = false;
    std::string failure_;
};
std::string JsonString(const std::string& text);

// SHA-256 of the bytes, as 64 lower-case hex digits.
std::string Sha256Hex(const uint8_t* data, size_t len);

// The time as ISO 8601 in UTC: "2024-01-03T09:15:00Z".
std::string UtcIsoTime(std::time_t t);

}  // namespace plcrecord
