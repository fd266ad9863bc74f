// The program: options, model and port, the image and the trace, then one run.
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <istream>
#include <iterator>
#include <memory>
#include <ostream>
#include <thread>

#include "catalogue/catalogue.h"
#include "cli/command/exit_status.h"
#include "cli/command/image_check.h"
#include "cli/command/options.h"
#include "cli/command/texts.h"
#include "cli/multi/processes.h"
#include "cli/port/port.h"
#include "cli/program/interrupt.h"
#include "cli/program/output.h"
#include "cli/program/program.h"
#include "cli/program/run_end.h"
#include "cli/run/console.h"
#include "cli/run/events.h"
#include "cli/run/frontend.h"
#include "cli/run/info.h"
#include "cli/station/station.h"
#include "cli/trace/trace.h"
#include "device/device.h"
#include "platform/hooks.h"
#include "platform/resource_image.h"
#include "record/files.h"
#include "update/update.h"
#include "usb/usb.h"

#ifndef PLC_VERSION_TEXT
#define PLC_VERSION_TEXT "0"
#endif

namespace plccli {

namespace {

const char PROGRAM_NAME[] = "plcfwupdate";

int Usage(Io& io, const std::string& reason) {
    io.err << PROGRAM_NAME << ": " << reason << " (see --help)\n";
    return EXIT_USAGE;
}

// A file or port that cannot be used: the run fails, the command line itself was right.
int Failed(Io& io, const std::string& reason) {
    io.err << PROGRAM_NAME << ": " << reason << '\n';
    return EXIT_FAILED;
}

// The image file's bytes; they stay behind the resource calls until the program ends. A file
// larger than the model takes is refused by its size, unread; a FIFO or a device is refused
// without waiting for a writer.
bool LoadImageFile(const std::string& path, uint32_t row, std::vector<uint8_t>* data,
                   std::string* error) {
    std::error_code failed;
    if (std::filesystem::is_regular_file(path, failed)) {
        uint64_t size = std::filesystem::file_size(path, failed);
        if (!failed && size > MaxImageBytes(row)) {
            *error = ImageSizeLine(row, size);
            return false;
        }
    }
    std::string reason;
    std::string tooLarge = std::string("larger than ") + plcList[row] + " takes";
    if (plcrecord::ReadRegularFile(path, MaxImageBytes(row), tooLarge.c_str(), data, &reason))
        return true;
    *error = "cannot read the image file '" + path + "': " + reason;
    return false;
}

// Size and SHA-256 of the image built into the program.
std::string EmbeddedImageText() {
    size_t size = 0;
    const uint8_t* data = platform::EmbeddedImage(&size);
    if (data == nullptr) return "not present in this program";
    return std::to_string(size) + " bytes, SHA-256 " + Sha256Hex(data, size);
}

PortList PortsOf(uint32_t row) {
    PortList list{};
    if (ModelIn(row, USB_ATTACHED_MODELS))
        ListUsbPort(&list);
    else
        ListComPorts(&list);
    return list;
}

// The link of the run, chosen as the window chooses it, or as --port names it.
void ChoosePort(const CliOptions& options, uint32_t row, Engine& engine) {
    bool usb = ModelIn(row, USB_ATTACHED_MODELS);
    PortList ports = PortsOf(row);
    engine.setLinkOverride(nullptr);
    SetSelectedComPort(ports.count > 0 ? ports.names[0] : "");
    if (!options.port) return;
    const std::string& port = *options.port;
    bool isName = port.find('/') == std::string::npos && port.size() < PORT_NAME_BYTES;
    if (isName && !usb) {
        SetSelectedComPort(port.c_str());
        return;
    }
    engine.setLinkOverride(port.c_str());
    if (!usb) {
        // The messages name the port; a path is named by its last part where that fits.
        std::string last = port.substr(port.find_last_of('/') + 1);
        SetSelectedComPort(last.size() < PORT_NAME_BYTES ? last.c_str() : "");
    }
}

// With no --port a COM-port model takes the only serial port present; with none or several
// there is no guess: the operator names the PLC's. "--port USB" is the PLC's USB device, which a
// USB-attached model uses anyway. False with the reason when the port is not settled.
bool SettlePort(CliOptions* options, uint32_t row, std::string* error) {
    bool usb = ModelIn(row, USB_ATTACHED_MODELS);
    std::string upper = options->port.value_or("");
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (options->ports.size() == 1 && upper == "USB") {
        if (!usb) {
            *error = std::string("--port USB: ") + plcList[row] +
                     " is reached through a serial port, not USB; see --list-ports";
            return false;
        }
        options->port.reset();
        options->ports.clear();
    }
    if (options->port || options->portsFrom || usb) return true;
    PortList ports = PortsOf(row);
    if (ports.count == 1) return true;
    if (ports.count == 0) {
        *error = "no serial port found: connect the PLC's cable, or name its port with --port";
        return false;
    }
    std::string names;
    for (int i = 0; i < ports.count; ++i) names += std::string(i > 0 ? ", " : "") + ports.names[i];
    *error = "several serial ports are present (" + names + "): name the PLC's with --port";
    return false;
}

// The ports of the model's link, one a line; the USB entry with where the device is.
int ListPorts(Io& io, uint32_t row) {
    PortList ports = PortsOf(row);
    bool usb = ModelIn(row, USB_ATTACHED_MODELS);
    for (int i = 0; i < ports.count; ++i) {
        io.out << ports.names[i];
        std::string path;
        if (usb && FindUsbDevicePath(&path))
            io.out << '\t' << path;
        else if (usb)
            io.out << "\tabsent: no USB device with " << USB_MATCH_TEXT
                   << " is present; plug in the PLC's USB cable";
        io.out << '\n';
    }
    if (ports.count == 0) io.err << PROGRAM_NAME << ": no serial port found\n";
    return EXIT_SUCCESSFUL;
}

int ListModels(Io& io) {
    for (uint32_t i = 0; i < PLC_COUNT; ++i) {
        std::string name = plcList[i];
        name.resize(16, ' ');
        io.out << name << IdText(plcID[i]) << "  "
               << (ModelIn(i, USB_ATTACHED_MODELS) ? "USB" : "COM port") << '\n';
    }
    return EXIT_SUCCESSFUL;
}

// One line after a failed run where what the PLC reported says what to do.
void PrintHint(Io& io, uint32_t row, const std::string& port, const PlcSeen& plc) {
    if (plc.probeResult != NOT_REPORTED && plc.probeResult != ENQ && plc.probeResult != ACK &&
        (plc.probeResult & 0x0F) == RUNMODE) {
        io.out << PROGRAM_NAME
               << ": hint: the PLC runs its program (RUN mode); switch it to STOP and run the "
                  "same command again\n";
        return;
    }
    if (plc.probeResult != NOT_REPORTED && (plc.probeResult & 0x0F) == NORESPONSE) {
        io.out << PROGRAM_NAME << ": hint: no answer from the PLC on " << port
               << ": check the cable, that the PLC is powered, that this is its port (see "
                  "--list-ports), and that "
               << plcList[row] << " is reached through "
               << (ModelIn(row, USB_ATTACHED_MODELS) ? "its USB cable" : "a serial port") << '\n';
        return;
    }
    int32_t id = plc.probeResult == ACK ? plc.bootId : plc.appId;
    if (plc.checksPassed != CHECKS_NONE || id == NOT_REPORTED || id == plcID[row]) return;
    io.out << PROGRAM_NAME << ": hint: the PLC reports the id " << IdText(id) << ", that of "
           << ModelsWithId(id) << ", not that of " << plcList[row] << " (" << IdText(plcID[row])
           << "); use the image for the PLC's model\n";
}

// The port as the record names it: --port, "USB", or the listed COM port.
std::string RecordedPort(const CliOptions& options, uint32_t row) {
    if (options.port) return *options.port;
    if (ModelIn(row, USB_ATTACHED_MODELS)) return "USB";
    PortList ports = PortsOf(row);
    return ports.count > 0 ? ports.names[0] : "";
}

std::string LinkDescription(const CliOptions& options, uint32_t row) {
    if (!options.port && ModelIn(row, USB_ATTACHED_MODELS)) return "the PLC's USB device";
    std::string port = RecordedPort(options, row);
    return options.port ? port : port + " (the only serial port present)";
}

std::atomic<Station*> gStation{nullptr};
std::atomic<bool> gInterrupted{false};

// What an interrupt gives the readers of the run's files and of its output: together about a
// second at most.
const std::chrono::milliseconds INTERRUPT_TRACE_WAIT{250};
const int INTERRUPT_RECORD_WAIT_MS = 400;
const std::chrono::milliseconds INTERRUPT_OUTPUT_WAIT{300};
// How long an interrupt waits for the run's own end, which is writing its files, and then for
// the program to end by itself.
const std::chrono::milliseconds RUN_FILES_WAIT{5000};
const std::chrono::milliseconds PROGRAM_END_WAIT{1000};

// The trace and the record of a run that has ended: what could not be written is said on err,
// and a success that left either incomplete exits EXIT_NOT_RECORDED.
int WriteFiles(std::ostream& err, TraceFile* trace, RunRecorder* recorder,
               const RunOutcome& outcome, int status,
               std::chrono::milliseconds traceWait = TRACE_CLOSE_WAIT,
               int recordWaitMs = plcrecord::RECORD_WAIT_MS) {
    std::string problem;
    if (trace != nullptr && !trace->Close(&problem, traceWait)) {
        err << PROGRAM_NAME << ": " << problem << '\n';
        if (status == EXIT_SUCCESSFUL) status = EXIT_NOT_RECORDED;
    }
    if (recorder != nullptr && !recorder->Finish(outcome, status, &problem, recordWaitMs)) {
        err << PROGRAM_NAME << ": " << problem << '\n';
        if (status == EXIT_SUCCESSFUL) status = EXIT_NOT_RECORDED;
    }
    err.flush();
    return status;
}

// The run's own end: its files, unless an interrupt has taken the end, which then ends the
// program (this thread waits for that).
int FinishFiles(std::ostream& err, TraceFile* trace, RunRecorder* recorder,
                const RunOutcome& outcome, int status) {
    if (!TheRunEnd().ClaimForRun())
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    status = WriteFiles(err, trace, recorder, outcome, status);
    TheRunEnd().Recorded(status);
    return status;
}

// Ends the program once what it has handed over is written, or once the interrupt's wait for
// the readers has passed.
[[noreturn]] void EndNow(int status) {
    TheProgramOutput().err.flush();
    TheProgramOutput().Drain(INTERRUPT_OUTPUT_WAIT);
    std::_Exit(status);
}

// Where the interrupt's lines go: with --events the standard output holds event lines only.
std::ostream& Say(const RunFiles& files) {
    return files.events != nullptr ? TheProgramOutput().err : TheProgramOutput().out;
}

// Why a program that was interrupted ends with the status of its run, which had its outcome.
void SayEnded(const RunFiles& files, int exitStatus, int status) {
    Say(files) << PROGRAM_NAME << ": " << EndedRunLine(exitStatus, status) << '\n';
}

// An interrupt that has taken the end of the run: where the run stood, or, when it already had
// its outcome, that outcome, which stands; the files, the outcome event, a station's tally.
[[noreturn]] void EndRun(int exitStatus, const RunFiles& files, Station* station) {
    ProgramOutput& output = TheProgramOutput();
    std::ostream& say = Say(files);
    CliFrontEnd* frontEnd = CliFrontEnd::Active();
    InterruptEnd end = EndOfInterruptedRun(exitStatus);
    // The front end says where the run stood after its status line; before its panel began, or
    // after it ended without an outcome, the line is said here.
    if (!end.hadOutcome && frontEnd != nullptr && frontEnd->Interrupt(exitStatus))
        end.outcome = frontEnd->LastOutcome();
    else if (!end.hadOutcome)
        say << PROGRAM_NAME << ": " << end.outcome.text << '\n';
    int status = WriteFiles(output.err, files.trace, files.recorder, end.outcome, end.exitStatus,
                            INTERRUPT_TRACE_WAIT, INTERRUPT_RECORD_WAIT_MS);
    if (end.hadOutcome && station == nullptr) SayEnded(files, exitStatus, status);
    if (files.events != nullptr) files.events->Outcome(end.outcome, status, files.stationFields);
    // A station ends with the interrupt, after its tally.
    if (station != nullptr) station->Interrupt(exitStatus, true);
    say.flush();
    EndNow(station != nullptr ? exitStatus : status);
}

}  // namespace

bool Interrupted() {
    return gInterrupted.load();
}

void OnInterrupt(int exitStatus) {
    gInterrupted = true;
    if (ForwardToWorkers(exitStatus)) return;
    // The first interrupt ends the program within a bounded time; a second adds nothing.
    static std::atomic<bool> taken{false};
    if (taken.exchange(true)) return;
    Station* station = gStation.load();
    RunFiles files;
    switch (TheRunEnd().ClaimForInterrupt(&files)) {
        case RunEnd::INTERRUPT_ENDS_IT:
            EndRun(exitStatus, files, station);
        case RunEnd::RUN_ENDS_IT: {
            // The run is writing its end: the program ends with the status it records, once it
            // has, and a station once the unit in hand is reported. The station is looked up
            // anew each time: it ends with the program's work.
            int recorded = TheRunEnd().RecordedStatus(RUN_FILES_WAIT);
            Station* now = gStation.load();
            if (now != nullptr) now->Interrupt(exitStatus, false);
            bool done = TheRunEnd().WaitProgramDone(PROGRAM_END_WAIT);
            now = done ? nullptr : gStation.load();
            if (now != nullptr) now->Interrupt(exitStatus, true);
            if (station != nullptr || recorded < 0) EndNow(exitStatus);
            SayEnded(files, exitStatus, recorded);
            EndNow(recorded);
        }
        case RunEnd::NO_RUN:
            if (station != nullptr) station->Interrupt(exitStatus, true);
            EndNow(exitStatus);
    }
}

int EndProgram(int status) {
    TheRunEnd().ProgramDone();
    ProgramOutput& output = TheProgramOutput();
    // After an interrupt the readers of the output get a bounded time.
    if (!Interrupted())
        output.Drain();
    else if (!output.Drain(INTERRUPT_OUTPUT_WAIT))
        std::_Exit(status);
    return status;
}

namespace {

// The image of the run behind the resource calls; its bytes stay until the program ends.
bool SetUpImage(const CliOptions& options, uint32_t row, RecordFields* fields, std::string* error) {
    static std::vector<uint8_t> image;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (options.image) {
        if (!LoadImageFile(*options.image, row, &image, error)) return false;
        std::string doubt = ImageDoubt(image.data(), image.size(), row);
        if (!doubt.empty() && !options.force) {
            *error = "the image file '" + *options.image + "' is " + doubt +
                     "; --force writes it anyway";
            return false;
        }
        platform::SetResourceImage(image.data(), image.size());
        data = image.data();
        size = image.size();
        fields->imageFile = *options.image;
    } else {
        platform::UseEmbeddedResourceImage();
        data = platform::EmbeddedImage(&size);
    }
    fields->imageBytes = size;
    fields->imageSha256 = data != nullptr ? Sha256Hex(data, size) : "";
    return true;
}

// Several ports at once, once what each port's process would refuse has been checked here.
int RunSeveral(Io& io, const CliOptions& options, const std::vector<std::string>& args,
               const std::vector<std::string>& ports) {
    if (options.info) return Usage(io, "--info identifies one PLC: give one --port");
    if (options.trace) return Usage(io, "--trace follows one link: give one --port");
    if (!options.yes)
        return Usage(io, "an update of several ports answers the PLCs' prompts itself: add --yes");
    std::string error;
    RunRecorder recorder;
    if (options.record && !recorder.Open(*options.record, &error)) return Failed(io, error);
    return RunMany(io, options, args, ports);
}

// The update run itself, once everything it needs is in place.
int RunUpdate(Io& io, const CliOptions& options, uint32_t row, const std::string& embeddedFile,
              Engine& engine, RunRecorder* recorder, TraceFile* trace, const RecordFields& fields) {
    ClearPlcReport();
    EventWriter events(options.events ? &io.out : nullptr);
    TheRunEnd().Open(
        RunFiles{recorder, trace, events.On() ? &events : nullptr, StationFields(fields)});
    events.Write(WithStationFields(
        StartEvent(fields.port, fields.model, fields.imageFile, fields.imageBytes), fields));
    // A mistyped --port must not get protocol frames written into a file.
    std::string error;
    if (options.port && !CheckPortName(*options.port, &error)) {
        std::string message = LinkOpenFailureMessage(options.port->c_str());
        (events.On() ? io.err : io.out) << MessageLine(CAPTION_ERROR, message.c_str()) << '\n'
                                        << PROGRAM_NAME << ": " << error << '\n';
        CliFrontEnd::Outcome outcome{CAPTION_ERROR, message, 0, 0};
        FinishFiles(io.err, trace, recorder, outcome, EXIT_FAILED);
        events.Outcome(outcome, EXIT_FAILED, StationFields(fields));
        return EXIT_FAILED;
    }
    if (!options.quiet)
        io.err << PROGRAM_NAME << ": " << plcList[row] << ", image "
               << (options.image ? *options.image : embeddedFile) << ", link "
               << LinkDescription(options, row) << '\n';
    SelectPLC(row);
    ChoosePort(options, row, engine);
    FrontEndConfig config;
    config.terminal = io.terminal;
    if (io.terminal) config.width = TerminalWidth;
    config.yes = options.yes;
    config.quiet = options.info || options.events;
    config.progress = !options.quiet && !options.events;
    config.steps = options.verbose;
    config.events = events.On() ? &events : nullptr;
    CliFrontEnd frontEnd(io.out, io.err, io.in, config);
    int status =
        options.info ? RunInfo(io.out, frontEnd, engine.startBurn) : frontEnd.Run(engine.startBurn);
    std::ostream& notes = events.On() ? io.err : io.out;
    std::string openFailure;
    if (status == EXIT_FAILED && options.port && LinkOpenFailure(*options.port, &openFailure))
        notes << PROGRAM_NAME << ": " << openFailure << '\n';
    // A server that ended the connection explains the silence the messages call no response.
    std::string peerGone;
    bool gone = status == EXIT_FAILED && options.port && LinkPeerGone(*options.port, &peerGone);
    if (gone) notes << PROGRAM_NAME << ": " << peerGone << '\n';
    std::string speed;
    bool slow = options.port && LinkSpeedRefused(*options.port, &speed);
    if (slow) io.err << PROGRAM_NAME << ": " << speed << '\n';
    std::string path;
    if (status == EXIT_FAILED && !options.port && ModelIn(row, USB_ATTACHED_MODELS) &&
        frontEnd.LastOutcome().text == LinkOpenFailureMessage("USB") && !FindUsbDevicePath(&path))
        notes << PROGRAM_NAME << ": USB: no USB device with " << USB_MATCH_TEXT
              << " is present; plug in the PLC's USB cable\n";
    std::string failedLine = FailedLine(frontEnd.EndPoint());
    if (status == EXIT_FAILED && !failedLine.empty())
        notes << PROGRAM_NAME << ": " << failedLine << '\n';
    std::string sizeLine = ImageSizeLine(row, fields.imageBytes);
    // No image at all ends the run with a message of its own.
    if (status == EXIT_FAILED && !options.info && fields.imageBytes > 0 && !sizeLine.empty())
        notes << PROGRAM_NAME << ": " << sizeLine << '\n';
    if (status == EXIT_FAILED && !options.info && !options.events && !gone && !slow)
        PrintHint(io, row, fields.port, TakePlcSeen());
    // With --events the standard output holds event lines only.
    if (options.verbose && !options.info)
        notes << PROGRAM_NAME << ": "
               << ReportSummary(TakePlcSeen(), TransferBlockCount(row, fileLength)) << '\n';
    // An interrupt from here on finds the run writing its end, and ends with its status.
    status = FinishFiles(io.err, trace, recorder, frontEnd.LastOutcome(), status);
    events.Outcome(frontEnd.LastOutcome(), status, StationFields(fields));
    return status;
}

// A station on the port: each PLC plugged in gets a run of its own, with its own record line.
int RunStationOfPort(Io& io, const CliOptions& options, uint32_t row,
                     const std::string& embeddedFile, Engine& engine, const RecordFields& fields) {
    std::string error;
    RunRecorder check;
    if (options.record && !check.Open(*options.record, &error)) return Failed(io, error);
    // A USB-attached PLC's device is there only while one is plugged in: its absence is waited
    // for, but a path that is there and is no device is refused before any look writes to it.
    if (options.port && !CheckPortName(*options.port, &error, ModelIn(row, USB_ATTACHED_MODELS)))
        return Failed(io, error);
    SelectPLC(row);
    ChoosePort(options, row, engine);
    StationConfig config;
    config.port = LinkDescription(options, row);
    config.started = UtcIsoTime(std::time(nullptr));
    config.units = options.units;
    config.usbAttached = ModelIn(row, USB_ATTACHED_MODELS);
    config.terminal = io.terminal && !options.events;
    config.events = options.events;
    StationHooks hooks;
    hooks.look = [] { return LookForPlc(); };
    hooks.pause = [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    hooks.nowMs = [] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    };
    hooks.update = [&](uint32_t unit) {
        RecordFields unitFields = fields;
        unitFields.start = UtcIsoTime(std::time(nullptr));
        unitFields.unit = unit;
        unitFields.stationStarted = config.started;
        RunRecorder recorder;
        std::string why;
        if (options.record && !recorder.Open(*options.record, &why)) return Failed(io, why);
        recorder.Start(unitFields);
        return RunUpdate(io, options, row, embeddedFile, engine, &recorder, nullptr, unitFields);
    };
    Station station(config, hooks, io.out, io.err);
    gStation = &station;
    int status = station.Run();
    gStation = nullptr;
    return status;
}

}  // namespace

namespace {

// --help, --version and --list-models are answered without a model or a port. False when none
// of them was asked for.
bool AnswerAlone(Io& io, const CliOptions& options, const std::string& embeddedFile, int* status) {
    *status = EXIT_SUCCESSFUL;
    if (options.help) {
        io.out << UsageText();
    } else if (options.version) {
        io.out << PROGRAM_NAME << ' ' << PLC_VERSION_TEXT << '\n'
               << "embedded image: " << embeddedFile << ", " << EmbeddedImageText() << '\n';
    } else if (options.listModels) {
        *status = ListModels(io);
    } else {
        return false;
    }
    return true;
}

RecordFields FieldsOfRun(const CliOptions& options, uint32_t row, const std::string& embeddedFile) {
    RecordFields fields;
    fields.start = UtcIsoTime(std::time(nullptr));
    fields.version = PLC_VERSION_TEXT;
    fields.action = options.info ? "info" : "update";
    fields.model = plcList[row];
    fields.imageFile = embeddedFile;
    return fields;
}

}  // namespace

int Main(const std::vector<std::string>& args, const std::string& embeddedFile, Io io,
         Engine engine) {
    CliOptions options;
    std::string error;
    if (!ParseOptions(args, &options, &error)) return Usage(io, error);
    int status = EXIT_SUCCESSFUL;
    if (AnswerAlone(io, options, embeddedFile, &status)) return status;
    uint32_t row = 0;
    if (!ResolveModel(options, embeddedFile, &row, &error)) return Usage(io, error);
    if (options.listPorts) return ListPorts(io, row);

    RecordFields fields = FieldsOfRun(options, row, embeddedFile);
    if (!SetUpImage(options, row, &fields, &error)) return Failed(io, error);
    std::vector<std::string> ports;
    if (!AllPorts(options, &ports, &error)) return Usage(io, error);
    if (ports.size() > 1 || options.portsFrom) return RunSeveral(io, options, args, ports);
    if (!SettlePort(&options, row, &error)) return Usage(io, error);
    fields.blocksTotal = TransferBlockCount(row, static_cast<uint32_t>(fields.imageBytes));
    fields.port = RecordedPort(options, row);
    if (options.station) return RunStationOfPort(io, options, row, embeddedFile, engine, fields);
    std::unique_ptr<TraceFile> trace;
    if (options.trace && !OpenTrace(options, fields, &trace, &error)) return Failed(io, error);
    // The record is checked before the link is opened: a run that cannot be recorded does not
    // start.
    RunRecorder recorder;
    if (options.record && !recorder.Open(*options.record, &error)) return Failed(io, error);

    recorder.Start(fields);
    return RunUpdate(io, options, row, embeddedFile, engine, &recorder, trace.get(), fields);
}

}  // namespace plccli
