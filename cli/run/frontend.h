// One run driven from a terminal or a script: the front-end hooks, the panel and the
// one-second timer thread, the status line, the prompts and the messages.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "cli/command/texts.h"
#include "cli/record_names.h"
#include "cli/run/consent.h"
#include "cli/run/status_line.h"
#include "platform/platform.h"

namespace plccli {

class EventWriter;

struct FrontEndConfig {
    EventWriter* events = nullptr;  // --events: the run as JSON lines instead of text
    bool terminal = false;          // redraw one line with \r; otherwise print plain lines
    bool controls = true;           // the terminal takes escape sequences (not TERM=dumb)
    bool yes = false;               // answer the reconnect prompts without waiting for Enter
    // The input ended at a prompt: says why and ends the program with EXIT_USAGE, the PLC left
    // waiting (nullptr: the run goes on as if Enter was pressed).
    void (*endOfInput)(int exitStatus) = nullptr;
    bool progress = true;           // the status line (-q: none)
    bool quiet = false;             // neither the status line nor the messages: the caller reports
    bool steps = false;             // -v: each step of the run as a line when it begins
    // Before the first request that changes the PLC: go on, ask on err and read the answer from
    // in, or stop there. The question names the port and the image.
    Consent consent = Consent::GIVEN;
    std::string consentPort;
    ConsentImage consentImage;
    size_t (*width)() = nullptr;    // the terminal's columns, for the status line to fit
    std::string port;               // the run's port as the record names it (COM5)
    std::chrono::milliseconds tick{100};
    std::chrono::milliseconds second{1000};
};

// The window's side of a run: installs the front-end hooks, starts the one-second timer and the
// worker on its own thread (as "Start Burn" does), redraws the status line on every tick until
// the worker has re-enabled the button and returned. What it writes, it writes under its lock:
// the program gives it streams that take text without waiting for a reader (ProgramOutput), so
// that an interrupt never waits for one.
class CliFrontEnd {
  public:
    // Results (the messages the run ends with) go to out; the status line and the prompts to
    // err.
    CliFrontEnd(std::ostream& out, std::ostream& err, std::istream& in, FrontEndConfig config);
    ~CliFrontEnd();
    CliFrontEnd(const CliFrontEnd&) = delete;
    CliFrontEnd& operator=(const CliFrontEnd&) = delete;

    // Runs worker(&paramStruct) on a thread of its own; returns the exit status that the final
    // message gives.
    int Run(void (*worker)(void*));

    // The messages shown during the last run, as printed.
    std::vector<std::string> Messages() const;

    using Outcome = RunOutcome;
    Outcome LastOutcome() const;
    // Where the last run stood when it showed its final message.
    RunPoint EndPoint() const;
    // The last run stopped before the PLC's first change, without consent.
    bool Declined() const;

    // The operator interrupted the run: ends the status line and prints InterruptedLine (on err
    // with --events), and the run shows nothing more. Returns false, printing nothing, when no run
    // is in progress or it has its outcome (its final message is on its way).
    bool Interrupt(int exitStatus);
    // The front end whose run is in progress, or nullptr.
    static CliFrontEnd* Active();

  private:
    static void WorkerThunk(void* param);
    void StartLocked(void (*worker)(void*));
    void InstallHooks();
    int OnMessageBox(const char* text, const char* caption);
    bool OnConsent();
    void OnKillTimer(UINT_PTR id);
    void OnEnableWindow(HWND hwnd, BOOL enable);
    void PanelLoop();
    void DrawLocked(bool finishLine);
    void EndStatusLineLocked();
    void SampleLocked();
    void PrintStepsLocked();
    void PrintSummaryLocked();
    void SaySlowRepliesLocked();

    std::ostream& out_;
    std::ostream& err_;
    std::istream& in_;
    FrontEndConfig config_;
    void (*worker_)(void*) = nullptr;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool timerRunning_ = false;
    bool stopPanel_ = false;
    bool workerReturned_ = false;
    bool lineOpen_ = false;  // a status line drawn on a terminal without its line end
    size_t drawnChars_ = 0;  // the status line's length as last drawn
    bool anyLine_ = false;
    PanelSnapshot lastDrawn_;
    TransferMeter meter_;
    uint32_t stepsShown_ = 0;  // steps of the run printed for -v
    bool slowSaid_ = false;    // the word about late replies, once a run
    std::string finalMessage_;
    Outcome outcome_{};
    RunPoint endPoint_;
    bool ended_ = false;
    bool interrupted_ = false;
    bool asking_ = false;    // the consent question waits for its answer: nothing is drawn
    bool declined_ = false;
    bool consented_ = false;  // asked once a run: the answer holds for the bootloader's erase too
    std::vector<std::string> messages_;
};

}  // namespace plccli
