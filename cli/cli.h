// The headless front end: the update worker driven from a terminal or a script.
//   - ParseOptions / UsageText: the command line
//   - ResolveModel: the model from --model, --image's file name or the embedded image's name
//   - StatusLine / PlainLineDue: the status panel as one line of text
//   - OpenTrace / TraceWriter: the --trace file: header, exchanges, events and block lines
//   - CliFrontEnd: the front-end hooks, the panel and one-second timer thread, one run
//   - Main: the whole program, with the engine's entry points passed in
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <fstream>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "record/record.h"

namespace plccli {

// Exit status of the program.
enum ExitStatus {
    EXIT_SUCCESSFUL = 0,
    EXIT_FAILED = 1,
    EXIT_USAGE = 2,
    // The update succeeded, but its --record line or its --trace could not be written whole.
    EXIT_NOT_RECORDED = 3,
    // A run ended by a signal: 128 + the signal's number (Windows: Ctrl-C as SIGINT, the console
    // closed as SIGTERM).
    EXIT_SIGNAL_BASE = 128,
    EXIT_INTERRUPTED = 130,  // Ctrl-C (SIGINT)
    EXIT_TERMINATED = 143,   // SIGTERM, or the console closed
};

struct CliOptions {
    std::optional<std::string> port;
    std::optional<std::string> image;
    std::optional<std::string> model;
    std::optional<std::string> trace;
    bool traceData = false;  // --trace-data: the bytes of every block as well
    std::optional<std::string> record;
    std::optional<std::string> portsFrom;
    std::vector<std::string> ports;  // every --port, in order; port is the last
    bool events = false;             // JSON lines on the standard output instead of text
    bool station = false;            // update each PLC as it is plugged in, until interrupted
    uint32_t units = 0;              // --units: the station ends after this many (0: never)
    std::optional<std::string> unitsText;
    bool yes = false;
    bool force = false;  // write an image that does not look like one
    bool listPorts = false;
    bool info = false;
    bool listModels = false;
    bool quiet = false;    // -q: no status line, no header
    bool verbose = false;  // -v: what the PLC reported, after the run
    bool help = false;
    bool version = false;
};

// tcp://HOST:PORT and rfc2217://HOST:PORT: links over the network, opened by the platform.
bool IsNetworkLinkName(const std::string& port);
// What is wrong with a network link's port number ("no port number; write tcp://HOST:PORT");
// "" when nothing is.
std::string NetworkPortNumberProblem(const std::string& link);

// Parses the arguments after the program name. Returns false with a one-line reason on error.
bool ParseOptions(const std::vector<std::string>& args, CliOptions* options, std::string* error);
std::string UsageText();
// The ports of the run: every --port, then the lines of --ports-from. False with the reason when
// the file cannot be read or names none, when a line of it is no port name ("FILE:LINE: why"),
// or, with several ports, when one is an option or two name the same device.
bool AllPorts(const CliOptions& options, std::vector<std::string>* ports, std::string* error);
// What tells two spellings of one port apart: on POSIX the device (or file) that the name or
// path opens, symbolic links followed; on Windows WindowsPortIdentity. Network links are told
// apart by the addresses they reach (platform::NetworkLinkAddresses).
std::string PortIdentity(const std::string& port);
// A Windows port's name, case aside and without the device prefix: "\\.\com10" is COM10.
std::string WindowsPortIdentity(const std::string& port);

// The model named by an image file name (any directory part is ignored): the text before the
// first "_"; empty when there is none.
std::string ModelFromFileName(const std::string& path);
// The catalogue row of a model name: the exact name, else the one name equal but for case.
std::optional<uint32_t> FindModel(const std::string& name);
// Why an image file is plainly no binary image for the model in row: an Intel HEX or S-record
// text file, or shorter than one block. "" when it may be one.
std::string ImageDoubt(const uint8_t* data, size_t size, uint32_t row);
// The model of the run: --model wins over --image's file name, which wins over the embedded
// image's file name. Returns false with a reason when the name is no catalogue model.
// The catalogue models whose names are near a mistyped one ("RP20" -> "RP200, RP200-AIO, ..."),
// or "" when none is.
std::string NearModels(const std::string& name);
bool ResolveModel(const CliOptions& options, const std::string& embeddedFile, uint32_t* row,
                  std::string* error);

// What the panel shows, taken from the shared run state, and the step the run is in.
struct PanelSnapshot {
    int32_t elapsed = 0;
    int32_t progress = 0;
    int32_t status = 0;  // enum Status
    int32_t errors = 0;
    int32_t totalErrors = 0;
    int32_t step = 0;  // enum RunStep
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
// terminal's columns) the line stays shorter: the rate, the time left, the bytes and the bar go
// in that order as space runs out, and what still does not fit is cut.
std::string StatusLine(const PanelSnapshot& s, const TransferFigures& t = {}, size_t width = 0);
// Whether a plain (non-terminal) output prints a new line: a change of phase or step, of the
// progress's tens, or of the error counters.
bool PlainLineDue(const PanelSnapshot& last, const PanelSnapshot& now);
// The line after a run that wrote blocks: "wrote 65536 bytes in 7.2 s (8.9 KiB/s)"; without
// the time and rate when seconds is 0.
std::string TransferSummary(uint64_t bytes, double seconds);

// The figures of an image outside the model's size limits: "the image is 1048576 bytes; QM2-E
// takes at most 917504 bytes"; "" when the size is within them.
std::string ImageSizeLine(uint32_t row, uint64_t imageBytes);

// Why a link did not open, in the operator's words, from the error code the platform gives.
std::string OpenErrorText(uint32_t code);

// How a message box is printed, and what it means for the run.
std::string MessageLine(const char* caption, const char* text);
// What --yes prints instead of a reconnect prompt, which asks the operator to press OK.
std::string YesReconnectLine(bool usbAttached);

// Where a run stood when it was interrupted, and the one line that tells the operator.
struct RunPoint {
    int32_t status = 0;  // flashStatus (IDLE)
    int32_t progress = 0;
    int32_t probeResult = -1;  // the latest mode probe's result, -1 before the first
    bool enteredBootloader = false;
    int32_t step = 0;  // enum RunStep (STEP_NONE)
};
RunPoint TakeRunPoint();
std::string InterruptedLine(int exitStatus, const RunPoint& point);
// An interrupt that came once the run had its outcome, which stands: "terminated after the run
// had ended: its outcome stands, exit status 0".
std::string EndedRunLine(int exitStatus, int runStatus);
// The same for a run that failed once the erase had begun; "" when it failed before.
std::string FailedLine(const RunPoint& point);

// The run record and what it shares with the messages (record/record.h).
using plcrecord::BootloaderVersionText;
using plcrecord::IdText;
using plcrecord::JsonString;
using plcrecord::ModeText;
using plcrecord::PlcSeen;
using plcrecord::RecordFields;
using plcrecord::RecordLine;
using plcrecord::RunOutcome;
using plcrecord::RunRecorder;
using plcrecord::Sha256Hex;
using plcrecord::StationFields;
using plcrecord::TakePlcSeen;
using plcrecord::UtcIsoTime;

// The catalogue models that report a model id.
std::string ModelsWithId(int32_t id);
// What the PLC reported, in one line for -v.
std::string ReportSummary(const PlcSeen& plc, uint32_t blocksTotal);

// ---- The --trace file ----
// Bytes as the trace shows them: a text frame as text with CR, LF and backslash escaped, other
// bytes in hex ("02 9D 62"), a lone control byte with its name ("06 ACK").
std::string EscapeBytes(const uint8_t* data, size_t len);
std::string TraceBytes(const uint8_t* data, size_t len);
// One exchange: "<seconds> W|R <count>[/<requested>] <bytes>", or "<seconds> R timeout (0/n)"
// for a read that brought nothing; seconds from baseMs with milliseconds.
std::string FormatTraceLine(bool write, const uint8_t* data, size_t len, uint32_t requested,
                            uint64_t ms, uint64_t baseMs);
// An event of the link without its time: "open COM3", "line 9600 7E1", "purge input", ...
std::string TraceEventText(const platform::LinkEvent& event);
// The lines that open the file: version, start, port, model, image with size and SHA-256.
std::string TraceHeader(const RecordFields& fields);

// The trace's lines from the link's exchanges and events. A block of the transfer and the reply
// read after it make one line, "block 12/64 261 B -> ACK" (a resend has a line of its own with
// the same number), and the input purge before it is left out; with data the block's bytes are
// written too, and every purge and time-out setting shown.
class TraceWriter {
  public:
    TraceWriter(std::ostream& out, uint32_t blocksTotal, bool data);
    void Exchange(bool write, const uint8_t* data, size_t len, uint32_t requested, uint64_t ms);
    void Event(const platform::LinkEvent& event, uint64_t ms);
    // The writes from now on are requests of this name (the engine's name; nullptr: none).
    void Requests(const char* name);
    // Writes what still waits for its reply.
    void Finish();

  private:
    struct PendingBlock {  // or a named request
        uint64_t ms;
        std::string head;
    };
    void Line(uint64_t ms, const std::string& text);
    void EndPending(bool blockFollows);

    std::ostream& out_;
    uint32_t blocksTotal_;
    bool data_;
    std::optional<uint64_t> base_;
    std::optional<uint64_t> purgeAt_;    // a purge not shown yet
    std::optional<PendingBlock> block_;  // a block written, its reply not read yet
    uint32_t blockNumber_ = 0;
    std::string requestName_;  // the name of the requests being written, if any
    uint32_t namedNumber_ = 0;
    int lastPacket_ = -1;  // the packet number byte of the latest block
    std::optional<COMMTIMEOUTS> lastTimeouts_;
};

// Text handed over by one thread and written to a file by a thread of its own, so that a slow
// or stalled reader of the file never holds up the thread that hands it over. At most
// capacityBytes wait; lines that do not fit are left out, and a line that says how many takes
// their place once there is room again.
class LineQueue {
  public:
    // Takes the descriptor over.
    LineQueue(int fd, size_t capacityBytes);
    ~LineQueue();
    LineQueue(const LineQueue&) = delete;
    LineQueue& operator=(const LineQueue&) = delete;
    // One or more whole lines.
    void Push(const std::string& lines);
    // Writes what waits, giving a reader that takes nothing at most wait, then closes the file.
    // False when the file is not whole: *failure the system's reason when a write failed (or
    // that the reader took nothing), *leftOut the lines that never reached it.
    bool Close(std::chrono::milliseconds wait, std::string* failure, uint64_t* leftOut);

  private:
    void Loop();
    bool WriteOut(const std::string& text, size_t* done);

    int fd_;
    size_t capacityBytes_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    size_t queuedBytes_ = 0;
    uint64_t dropped_ = 0;  // left out since the last line that said so
    uint64_t leftOut_ = 0;
    bool closing_ = false;
    bool closed_ = false;
    std::chrono::steady_clock::time_point deadline_;
    std::string failure_;
    std::thread thread_;
};

// How long the reader of a trace FIFO may take nothing once the run has ended.
constexpr std::chrono::milliseconds TRACE_CLOSE_WAIT{2000};

// The open --trace file: the link's calls hand their lines to a LineQueue. Destroying it stops
// the trace and writes what is pending.
class TraceFile {
  public:
    ~TraceFile();
    // Stops the trace and writes what is pending, giving a reader that takes nothing at most
    // wait. False with what the file lacks, in one line.
    bool Close(std::string* problem, std::chrono::milliseconds wait = TRACE_CLOSE_WAIT);

  private:
    friend bool OpenTrace(const CliOptions&, const RecordFields&, std::unique_ptr<TraceFile>*,
                          std::string*);
    void HandOver();

    std::string path_;
    std::mutex mutex_;
    std::ostringstream lines_;
    std::unique_ptr<TraceWriter> writer_;
    std::unique_ptr<LineQueue> queue_;
    bool closed_ = false;
    bool whole_ = true;
    std::string problem_;
};
// Creates the file of --trace, writes its header and starts tracing the link. A FIFO that no
// program reads is refused.
bool OpenTrace(const CliOptions& options, const RecordFields& fields,
               std::unique_ptr<TraceFile>* trace, std::string* error);

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
    std::ostream* out_;
    std::mutex mutex_;
    bool ended_ = false;
    bool anyTick_ = false;
    PanelSnapshot last_;
    int32_t lastBlocks_ = 0;
    std::chrono::steady_clock::time_point lastProgress_;
};

// ---- The program's standard output and error (output.cpp) ----
// Text handed over by any thread and written, in the order it came, by a thread of its own: a
// reader that takes nothing (a full pipe, a terminal stopped with Ctrl-S) holds up that thread
// alone, never the update, the status line, the ports' pipes or an interrupt.
class OutputQueue {
  public:
    OutputQueue();
    // Writes what waits, however long that takes.
    ~OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;
    void Put(std::ostream& to, const char* text, size_t len);
    // Until everything handed over is written and flushed; false when wait passed first.
    bool Drain(std::chrono::milliseconds wait);
    void Drain();

  private:
    struct Item {
        std::ostream* to;
        std::string text;
    };
    void Loop();

    std::mutex mutex_;
    std::condition_variable wake_, written_;
    std::deque<Item> items_;
    bool writing_ = false;
    bool stop_ = false;
    std::thread thread_;
};

// A stream that hands each piece written to it over to an OutputQueue, for `to`.
class QueuedStream : public std::ostream {
  public:
    QueuedStream(OutputQueue& queue, std::ostream& to);

  private:
    class Buffer : public std::streambuf {
      public:
        Buffer(OutputQueue& queue, std::ostream& to) : queue_(queue), to_(to) {}

      protected:
        int overflow(int c) override;
        std::streamsize xsputn(const char* text, std::streamsize len) override;

      private:
        OutputQueue& queue_;
        std::ostream& to_;
    };
    Buffer buffer_;
};

// The standard output and error as the program writes them: through one queue when they are
// one file (a terminal, 2>&1), so that their lines stay in order; otherwise through one each, so
// that a reader who stalls one of them does not hold up the other.
class ProgramOutput {
  public:
    ProgramOutput();
    // Until everything handed over to either is written; false when wait passed first.
    bool Drain(std::chrono::milliseconds wait);
    void Drain();

  private:
    std::unique_ptr<OutputQueue> outQueue_, errQueue_;

  public:
    QueuedStream out, err;
};
ProgramOutput& TheProgramOutput();

struct FrontEndConfig {
    EventWriter* events = nullptr;  // --events: the run as JSON lines instead of text
    bool terminal = false;          // redraw one line with \r; otherwise print plain lines
    bool yes = false;               // answer the reconnect prompts without waiting for Enter
    bool progress = true;           // the status line (-q: none)
    bool quiet = false;             // neither the status line nor the messages: the caller reports
    bool steps = false;             // -v: each step of the run as a line when it begins
    size_t (*width)() = nullptr;    // the terminal's columns, for the status line to fit
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
    void OnKillTimer(UINT_PTR id);
    void OnEnableWindow(HWND hwnd, BOOL enable);
    void PanelLoop();
    void DrawLocked(bool finishLine);
    void EndStatusLineLocked();
    void SampleLocked();
    void PrintStepsLocked();
    void PrintSummaryLocked();

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
    bool anyLine_ = false;
    PanelSnapshot lastDrawn_;
    TransferMeter meter_;
    uint32_t stepsShown_ = 0;  // steps of the run printed for -v
    std::string finalMessage_;
    Outcome outcome_;
    RunPoint endPoint_;
    bool ended_ = false;
    bool interrupted_ = false;
    std::vector<std::string> messages_;
};

// ---- The end of a run (run_end.cpp) ----
// What the end of the run in progress writes: its record and trace, and its --events outcome.
struct RunFiles {
    RunRecorder* recorder = nullptr;
    TraceFile* trace = nullptr;
    EventWriter* events = nullptr;
    std::string stationFields;  // StationFields of the run's record, for its outcome event
};

// The end of the run in progress is written once: by the run when it has its result, or by an
// interrupt that comes first, which then ends the program with the run's record written.
class RunEnd {
  public:
    enum Claim {
        NO_RUN,             // none has begun
        INTERRUPT_ENDS_IT,  // the interrupt writes the run's end
        RUN_ENDS_IT,        // the run writes its end (RecordedStatus tells its exit status)
    };
    void Open(const RunFiles& files);
    // False when an interrupt has taken the end: the interrupt ends the program.
    bool ClaimForRun();
    // The run's files are written; the program ends with exitStatus.
    void Recorded(int exitStatus);
    // *files: those of the run, when there is one.
    Claim ClaimForInterrupt(RunFiles* files);
    // The exit status the run's files were written with, waiting for it at most wait; -1 until
    // then.
    int RecordedStatus(std::chrono::milliseconds wait);
    // The program has done its work and writes only what waits for its readers.
    void ProgramDone();
    bool WaitProgramDone(std::chrono::milliseconds wait);

  private:
    enum State { CLOSED, OPEN, BY_RUN, BY_INTERRUPT };
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = CLOSED;
    RunFiles files_;
    int status_ = -1;
    bool done_ = false;
};
RunEnd& TheRunEnd();

// What an interrupt that takes the end of the run records: a run that has its outcome keeps it
// and its exit status (0 for a success, 1 for a failure); otherwise where the run stood, with
// exitStatus.
struct InterruptEnd {
    RunOutcome outcome;
    int exitStatus;
    bool hadOutcome;
};
InterruptEnd EndOfInterruptedRun(int exitStatus);

// ---- What differs between the platforms (console_posix.cpp, console_win.cpp) ----
// Whether the standard error, where the status line goes, is a terminal (the line is redrawn in
// place there).
bool ProgressIsTerminal();
// The columns of the terminal on the standard error, read again on every call so that a resized
// window is followed; the COLUMNS variable where the terminal does not say; 80 when neither does.
size_t TerminalWidth();
// Whether the standard output and error are one file (the same terminal, pipe or file).
bool OutputAndErrorShareAFile();
// Call first: the standard descriptors (0 to 2) that are closed are opened on the null device,
// so that no link, record or trace takes one of them; a write into a pipe whose reader has gone
// fails instead of ending the process.
void KeepStandardStreams();
// From now on Ctrl-C, a request to end the process, a hangup and the other signals that would
// end it call onInterrupt (EXIT_SIGNAL_BASE + the signal's number) on a thread of its own;
// onInterrupt ends the process. Call it before any other thread starts. Returns false with the
// reason when the interrupts cannot be watched.
bool WatchInterrupts(void (*onInterrupt)(int exitStatus), std::string* error);
// The process's end on an interrupt, within about a second whatever the readers of its output
// do: the run's last line, its record and its outcome event, then the exit status (that of a run
// that already had its outcome, else exitStatus). During an update of several ports it only
// passes the interrupt on to their processes and returns: the program ends once they have, with
// the table of how each ended.
void OnInterrupt(int exitStatus);
// Whether an interrupt has come.
bool Interrupted();
// The end of main: the program's output written (after an interrupt, as far as its readers take
// it within a bounded time), then status.
int EndProgram(int status);
// Sends the interrupt to the processes of an update of several ports (the same signal); false
// when none runs. A hangup is not passed on: the ports' processes finish their PLCs.
bool ForwardToWorkers(int exitStatus);
// Whether --port names a link that the run may open: a terminal device that no other program
// holds, a network link, or a test's virtual link. Otherwise false with the system's reason and
// what to do, in one line: a file, a directory, a FIFO or a device that is no terminal never
// passes. Nothing is written to the port. absentIsFine: a port that does not exist (yet) passes,
// as a USB-attached PLC's device appears only when it is plugged in.
bool CheckPortName(const std::string& port, std::string* reason, bool absentIsFine = false);
// Why the run could not open port, when the latest open of a link was port's and failed:
// "PORT: reason" in words, with what to do. False when it opened, or when there is nothing to add.
bool LinkOpenFailure(const std::string& port, std::string* reason);
// "PORT: the server closed the connection" (or reset it) when port is the latest network link
// and its server ended the connection; false otherwise.
bool LinkPeerGone(const std::string& port, std::string* reason);
// "PORT: the server did not take 115200 baud: its line is at 300 baud" when port is the latest
// network link and its RFC 2217 server answered a speed with another; false otherwise.
bool LinkSpeedRefused(const std::string& port, std::string* note);
// Where the PLC's USB device is (its tty node, or its device path on Windows): false when no
// device of the build's vendor and product id is present and opens.
bool FindUsbDevicePath(std::string* path);

// The engine's entry points that the program calls.
struct Engine {
    void (*startBurn)(void*);
    void (*setLinkOverride)(const char*);
};

struct Io {
    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    bool terminal;  // err is a terminal
};

// --info: a check-only run of the worker on the front end, the values it did not read, and
// what the PLC is and what a run would decide, printed to out. Exit 0 when the PLC answered.
int RunInfo(std::ostream& out, CliFrontEnd& frontEnd, void (*startBurn)(void*));

// Several ports at once: this program once more for each port, with --events, the live status of
// each and a table at the end (options: --events and -q). Exit 0 only when every port succeeded.
int RunMany(Io& io, const CliOptions& options, const std::vector<std::string>& args,
            const std::vector<std::string>& ports);
// The arguments of one port's run: args without its ports, with --port PORT and --events.
std::vector<std::string> WorkerArgs(const std::vector<std::string>& args, const std::string& port);
// The value of "key" in one flat JSON line of --events: a string unescaped, a number as written;
// "" when absent.
std::string EventField(const std::string& line, const std::string& key);

// The program: arguments after the program name, the embedded image's file name.
int Main(const std::vector<std::string>& args, const std::string& embeddedFile, Io io,
         Engine engine);

}  // namespace plccli
