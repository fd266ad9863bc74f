// One run driven from the command line: the worker on its own thread, the front-end calls it
// makes, the status line on every tick and the elapsed seconds while the timer runs.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>
#include <string>
#include <system_error>

#include "catalogue/catalogue.h"
#include "cli/command/exit_status.h"
#include "cli/command/texts.h"
#include "cli/run/events.h"
#include "cli/run/frontend.h"
#include "cli/run/redraw.h"
#include "cli/run/slow_replies.h"
#include "platform/hooks.h"
#include "update/update.h"

namespace plccli {

namespace {

// The window and the "Start Burn" button that the worker is given: tokens only, never drawn.
HWND const MAIN_WINDOW = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x100));
HWND const START_BURN_BUTTON = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x200));

const char PROMPT_HINT[] = "(press Enter to continue)";
const char END_OF_INPUT_LINE[] = "end of input at the prompt; answer it, or give --yes";
const char PROGRAM_NAME[] = "plcfwupdate";

// The front end whose run is in progress; the worker's thread starts with &paramStruct only.
std::atomic<CliFrontEnd*> gActive{nullptr};

}  // namespace

CliFrontEnd::CliFrontEnd(std::ostream& out, std::ostream& err, std::istream& in,
                         FrontEndConfig config)
    : out_(out), err_(err), in_(in), config_(config) {}

CliFrontEnd::~CliFrontEnd() {
    CliFrontEnd* self = this;
    gActive.compare_exchange_strong(self, nullptr);
}

CliFrontEnd* CliFrontEnd::Active() {
    return gActive.load();
}

bool CliFrontEnd::Interrupt(int exitStatus) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Once the run has its outcome, its final message says how it ended.
    bool finalShown = !timerRunning_ && !finalMessage_.empty();
    if (interrupted_ || ended_ || workerReturned_ || finalShown || declined_ ||
        plcReport.outcome != OUTCOME_RUNNING)
        return false;
    EndStatusLineLocked();
    interrupted_ = true;
    std::string line = InterruptedLine(exitStatus, TakeRunPoint());
    // With --events the standard output holds event lines only.
    std::ostream& to = config_.events ? err_ : out_;
    to << PROGRAM_NAME << ": " << line << '\n';
    to.flush();
    PanelSnapshot now = TakeSnapshot();
    outcome_ = Outcome{"", line, now.errors, now.totalErrors};
    return true;
}

bool CliFrontEnd::Declined() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return declined_;
}

RunPoint CliFrontEnd::EndPoint() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return endPoint_;
}

CliFrontEnd::Outcome CliFrontEnd::LastOutcome() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outcome_;
}

std::vector<std::string> CliFrontEnd::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

void CliFrontEnd::WorkerThunk(void* param) {
    CliFrontEnd* self = gActive.load();
    self->worker_(param);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->workerReturned_ = true;
    self->wake_.notify_all();
}

void CliFrontEnd::StartLocked(void (*worker)(void*)) {
    worker_ = worker;
    timerRunning_ = false;
    stopPanel_ = false;
    workerReturned_ = false;
    ended_ = false;
    lineOpen_ = false;
    drawnChars_ = 0;
    anyLine_ = false;
    interrupted_ = false;
    asking_ = false;
    declined_ = false;
    consented_ = false;
    finalMessage_.clear();
    outcome_ = Outcome{};
    endPoint_ = RunPoint{};
    messages_.clear();
    meter_ = TransferMeter{};
    stepsShown_ = 0;
    slowSaid_ = false;
}

void CliFrontEnd::InstallHooks() {
    platform::FrontEndHooks hooks;
    hooks.messageBox = [this](HWND, const char* text, const char* caption, UINT) {
        return OnMessageBox(text, caption);
    };
    hooks.killTimer = [this](HWND, UINT_PTR id) {
        OnKillTimer(id);
        return TRUE;
    };
    hooks.enableWindow = [this](HWND hwnd, BOOL enable) {
        OnEnableWindow(hwnd, enable);
        return TRUE;
    };
    platform::SetFrontEndHooks(hooks);
    if (config_.consent == Consent::GIVEN)
        SetChangeConsent(nullptr);
    else
        SetChangeConsent([this] { return OnConsent(); });
}

int CliFrontEnd::Run(void (*worker)(void*)) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        StartLocked(worker);
    }
    gActive = this;
    InstallHooks();

    // What "Start Burn" does: the image counts as chosen, the parameter record, the one-second
    // timer, then the worker.
    isFileChosed = 1;
    paramStruct = ParamStruct{MAIN_WINDOW, START_BURN_BUTTON};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timerRunning_ = true;
    }
    std::thread panel;
    std::string notStarted;
    try {
        panel = std::thread(&CliFrontEnd::PanelLoop, this);
    } catch (const std::system_error& e) {
        notStarted = std::string("the status line's thread cannot start: ") + e.what();
    }
    if (notStarted.empty()) {
        errno = 0;
        if (_beginthread(&CliFrontEnd::WorkerThunk, 0, &paramStruct) == static_cast<uintptr_t>(-1))
            notStarted = std::string("the update's worker thread cannot start: ") +
                         (errno != 0 ? std::strerror(errno) : "the system allows no more threads");
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!notStarted.empty()) {
            workerReturned_ = true;
            out_ << PROGRAM_NAME << ": " << notStarted << "; the PLC was not changed\n";
        }
        wake_.wait(lock, [this] { return workerReturned_; });
        stopPanel_ = true;
        wake_.notify_all();
    }
    if (panel.joinable()) panel.join();
    platform::ClearFrontEndHooks();
    SetChangeConsent(nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    EndStatusLineLocked();
    PrintSummaryLocked();
    out_.flush();
    if (declined_) return EXIT_USAGE;
    return plcReport.outcome == OUTCOME_SUCCESS ? EXIT_SUCCESSFUL : EXIT_FAILED;
}

void CliFrontEnd::EndStatusLineLocked() {
    if (!lineOpen_) return;
    err_ << '\n';
    err_.flush();
    lineOpen_ = false;
    drawnChars_ = 0;
}

void CliFrontEnd::DrawLocked(bool finishLine) {
    // After an interrupt's line the run shows nothing more.
    if (config_.quiet || !config_.progress || interrupted_ || asking_) return;
    PanelSnapshot now = TakeSnapshot();
    TransferFigures transfer = TakeTransfer();
    transfer.bytesPerSecond = meter_.Rate();
    if (config_.terminal) {
        size_t width = config_.width != nullptr ? config_.width() : 0;
        err_ << Redrawn(StatusLine(now, transfer, width), &drawnChars_, config_.controls);
        lineOpen_ = true;
        if (finishLine) EndStatusLineLocked();
    } else if (!anyLine_ || PlainLineDue(lastDrawn_, now)) {
        err_ << StatusLine(now, transfer) << '\n';
    }
    anyLine_ = true;
    lastDrawn_ = now;
    err_.flush();
}

void CliFrontEnd::SampleLocked() {
    meter_.Sample(flashStatus == PROGRAM, TakeTransfer().doneBytes,
                  std::chrono::steady_clock::now());
}

void CliFrontEnd::PrintStepsLocked() {
    if (!config_.steps || config_.quiet || !config_.progress || interrupted_) return;
    uint32_t begun = RunStepsBegun();
    // The run cleared its log after this front end last looked: its steps start again.
    if (begun < stepsShown_) stepsShown_ = 0;
    if (begun == stepsShown_) return;
    bool redraw = lineOpen_;
    for (; stepsShown_ < begun; ++stepsShown_) {
        const char* sentence = StepSentence(RunStepAt(stepsShown_));
        if (sentence[0] == '\0') continue;
        // On a terminal the step's line takes the status line's place, which is drawn again
        // below it.
        std::string line = std::string(PROGRAM_NAME) + ": " + sentence;
        err_ << (lineOpen_ ? Redrawn(line, &drawnChars_, config_.controls) : line) << '\n';
        lineOpen_ = false;
        drawnChars_ = 0;
    }
    if (redraw) DrawLocked(false);
    err_.flush();
}

void CliFrontEnd::PrintSummaryLocked() {
    if (config_.quiet || !config_.progress || meter_.DoneBytes() == 0 || interrupted_) return;
    err_ << PROGRAM_NAME << ": " << TransferSummary(meter_.DoneBytes(), meter_.Seconds()) << '\n';
    err_.flush();
}

// Said on the error stream in every mode (and as an event with --events), in place of the status
// line, which is drawn again below it.
void CliFrontEnd::SaySlowRepliesLocked() {
    if (slowSaid_ || plcReport.slowReplies == 0 || interrupted_) return;
    slowSaid_ = true;
    SlowReplies figures = TakeSlowReplies(config_.port);
    if (config_.events) config_.events->Write(SlowRepliesEvent(figures));
    std::string line = std::string(PROGRAM_NAME) + ": " + SlowRepliesText(figures);
    bool redraw = lineOpen_;
    err_ << (lineOpen_ ? Redrawn(line, &drawnChars_, config_.controls) : line) << '\n';
    lineOpen_ = false;
    drawnChars_ = 0;
    if (redraw) DrawLocked(false);
    err_.flush();
}

void CliFrontEnd::PanelLoop() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(mutex_);
    Clock::time_point nextSecond = Clock::now() + config_.second;
    while (!stopPanel_) {
        // Until the worker begins its first step there is nothing to tell but "Idle".
        bool begun = plcReport.step != STEP_NONE || flashStatus != IDLE;
        if (timerRunning_ && !ended_ && !interrupted_) {
            SampleLocked();
            PrintStepsLocked();
            SaySlowRepliesLocked();
            if (begun) DrawLocked(false);
            if (config_.events) config_.events->Tick(TakeSnapshot(), TakePlcSeen().blocksSent);
        }
        wake_.wait_for(lock, config_.tick, [this] { return stopPanel_; });
        Clock::time_point now = Clock::now();
        // The one-second timer: counts while it runs; a tick that came late counts each second
        // it covered, as queued timer messages would.
        while (now >= nextSecond) {
            if (timerRunning_) ++elapsedTime;
            nextSecond += config_.second;
        }
    }
}

int CliFrontEnd::OnMessageBox(const char* text, const char* caption) {
    std::string line = MessageLine(caption, text);
    // Until the run has its outcome, what it shows is a reconnect prompt.
    bool prompt = plcReport.outcome == OUTCOME_RUNNING;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (interrupted_) {
            // The interrupt has said where the run stood and ends the program.
            messages_.push_back(line);
            return IDOK;
        }
        PrintStepsLocked();
        // The line left above the message shows the step the message belongs to.
        if (lineOpen_)
            DrawLocked(true);
        else if (!config_.terminal && timerRunning_)
            DrawLocked(false);
        // Prompts go with the progress; what the run ends with is its result.
        if (config_.events && prompt) {
            config_.events->Tick(TakeSnapshot(), TakePlcSeen().blocksSent, true);
            config_.events->Write(PromptEvent(caption ? caption : "", text ? text : "", config_.yes));
        } else if (config_.quiet) {
        } else if (prompt && config_.yes) {
            err_ << PROGRAM_NAME << ": " << YesReconnectLine(SelectedPLCIn(USB_ATTACHED_MODELS))
                 << '\n';
        } else if (prompt) {
            err_ << line << '\n' << PROMPT_HINT << '\n';
        } else {
            out_ << line << '\n';
        }
        err_.flush();
        out_.flush();
        messages_.push_back(line);
        finalMessage_ = text ? text : "";
        if (!prompt) {
            PanelSnapshot now = TakeSnapshot();
            outcome_ = Outcome{caption ? caption : "", finalMessage_, now.errors, now.totalErrors};
            endPoint_ = TakeRunPoint();
        }
    }
    if (prompt && !config_.yes) {
        // A closed input answers as Enter would: nothing else can answer it. What is typed is
        // skipped, not kept: an input without line ends must not fill the memory.
        in_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        // Nobody pressed Enter, so nobody replugged or power-cycled the PLC: rather than going
        // on towards the erase on an answer nobody gave, the run stops here, before the erase.
        if (in_.eof() && config_.endOfInput != nullptr) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                err_ << PROGRAM_NAME << ": " << END_OF_INPUT_LINE << '\n';
                err_.flush();
            }
            config_.endOfInput(EXIT_USAGE);
        }
    }
    return IDOK;
}

void CliFrontEnd::OnKillTimer(UINT_PTR id) {
    if (id != ONESECONDTIMER) return;
    std::lock_guard<std::mutex> lock(mutex_);
    SampleLocked();
    if (timerRunning_ && !ended_ && !interrupted_) {
        PrintStepsLocked();
        SaySlowRepliesLocked();
        DrawLocked(true);
        if (config_.events) config_.events->Tick(TakeSnapshot(), TakePlcSeen().blocksSent, true);
    }
    timerRunning_ = false;
}

void CliFrontEnd::OnEnableWindow(HWND hwnd, BOOL enable) {
    if (hwnd != START_BURN_BUTTON || !enable) return;
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    timerRunning_ = false;
    wake_.notify_all();
}

}  // namespace plccli
