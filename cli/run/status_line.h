// The status panel as one line of text.
//   - TakeSnapshot / TakeTransfer: what the panel shows, from the shared run state
//   - PhaseName / StepName / StepSentence: the words for the phase and the step
//   - TransferMeter: the transfer's rate as the front end sees it
//   - StatusLine / PlainLineDue / TransferSummary: the lines printed
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace plccli {

// What the panel shows, taken from the shared run state, and the step the run is in.
struct PanelSnapshot {
    int32_t elapsed = 0;
    int32_t progress = 0;
    int32_t status = 0;  // enum Status
    int32_t errors = 0;
    int32_t totalErrors = 0;
    int32_t step = 0;                // enum RunStep
    bool awaitingUsbDevice = false;  // after the replug, the device has not opened yet
    bool operator==(const PanelSnapshot&) const = default;
};
PanelSnapshot TakeSnapshot();
// "Idle", "Erasing", "Programming", or "" for any other value (the panel draws no word then).
const char* PhaseName(int32_t status);
// A step as the status line names it ("identifying", "waiting for replug"), and as -v tells it
// ("identifying the PLC"); "" for STEP_NONE or any other value.
const char* StepName(int32_t step);
const char* StepSentence(int32_t step);

// The transfer as the status line shows it. totalBytes 0: not known, nothing shown;
// bytesPerSecond 0: no rate yet that means anything.
struct TransferFigures {
    uint64_t doneBytes = 0;
    uint64_t totalBytes = 0;
    double bytesPerSecond = 0;
};
// Bytes the bootloader acknowledged (its blocks times the model's block size, never more than
// the run writes) of the bytes the run writes, for the selected model and the loaded image.
TransferFigures TakeTransfer();

// The transfer's rate as the front end sees it with a steady clock, from the first look at the
// programming phase on.
class TransferMeter {
  public:
    using Clock = std::chrono::steady_clock;
    void Sample(bool programming, uint64_t doneBytes, Clock::time_point at);
    // Bytes per second, once a second has passed and bytes have moved since the first look;
    // before that 0.
    double Rate() const;
    uint64_t DoneBytes() const { return lastBytes_; }
    // The whole transfer's seconds, its start before the first look estimated at the rate
    // seen; 0 when the meter saw no bytes move.
    double Seconds() const;

  private:
    bool started_ = false;
    Clock::time_point first_, lastSeen_, lastMoved_;
    uint64_t firstBytes_ = 0, lastBytes_ = 0;
};

// One status line: elapsed seconds, bar, percentage, the phase (before the erase the step),
// while programming the bytes, rate and time left, and the error counters. With a width (the
// terminal's columns) the line stays shorter: until the first error the counts of none go first,
// then the bar shrinks and the bytes go, the rate and the time left last; once there is an error
// the rate, the time left, the bytes and the bar go in that order before the counts. What still
// does not fit is cut.
std::string StatusLine(const PanelSnapshot& s, const TransferFigures& t = {}, size_t width = 0);
// Whether a plain (non-terminal) output prints a new line: a change of phase or step, of the
// progress's tens, or of the error counters.
bool PlainLineDue(const PanelSnapshot& last, const PanelSnapshot& now);
// The line after a run that wrote blocks: "wrote 65536 bytes in 7.2 s (8.9 KiB/s)"; without
// the time and rate when seconds is 0.
std::string TransferSummary(uint64_t bytes, double seconds);

}  // namespace plccli
