// The program: options, model and port, the image and the trace, then one run, several ports
// or a station.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <chrono>
#include <ctime>
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
#include "cli/program/parts.h"
#include "cli/program/program.h"
#include "cli/station/station.h"
#include "cli/trace/trace.h"
#include "device/device.h"
#include "platform/resource_image.h"
#include "update/update.h"
#include "usb/usb.h"

#ifndef PLC_VERSION_TEXT
#define PLC_VERSION_TEXT "0"
#endif

namespace plccli {

namespace {

int Usage(Io& io, const std::string& reason) {
    io.err << PROGRAM_NAME << ": " << reason << " (see --help)\n";
    return EXIT_USAGE;
}

// A file or port that cannot be used: the run fails, the command line itself was right.
int Failed(Io& io, const std::string& reason) {
    io.err << PROGRAM_NAME << ": " << reason << '\n';
    return EXIT_FAILED;
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

}  // namespace

// The link of the run, chosen as the window chooses it, or as --port names it.
void ChoosePort(const CliOptions& options, uint32_t row, Engine& engine) {
    bool usb = ModelIn(row, USB_ATTACHED_MODELS);
    PortList ports = PortsOf(row);
    engine.setLinkOverride(nullptr);
    SetSelectedComPort(ports.count > 0 ? ports.names[0] : "");
    if (!options.port) {
        if (usb && !options.usbPinned.empty()) engine.setLinkOverride(options.usbPinned.c_str());
        return;
    }
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

namespace {

// "usb:LOCATION" and "USB" name a USB-attached PLC: a model reached through a serial port has
// none.
bool UsbPortsFitModel(const std::vector<std::string>& ports, uint32_t row, std::string* error) {
    if (ModelIn(row, USB_ATTACHED_MODELS)) return true;
    for (const auto& port : ports) {
        if (!IsUsbPortName(port) && !IsUsbDeviceName(port)) continue;
        *error = "--port " + port + ": " + plcList[row] +
                 " is reached through a serial port, not USB; see --list-ports";
        return false;
    }
    return true;
}

// The PLC's USB device with no port named: the only USB-attached PLC present, never a guess
// among several. A single run holds on to its port across the replug; a station follows
// whichever PLC is plugged in.
bool SettleUsbDevice(CliOptions* options, std::string* error) {
    std::string only;
    std::string problem = UsbPlcChoiceProblem(&only);
    if (!problem.empty()) {
        *error = problem;
        return false;
    }
    if (!options->station) options->usbPinned = only;
    return true;
}

// With no --port a COM-port model takes the only serial port present; with none or several
// there is no guess: the operator names the PLC's. "--port USB" is the PLC's USB device, which a
// USB-attached model uses anyway; "usb:LOCATION" the one plugged into that port. False with the
// reason when the port is not settled.
bool SettlePort(CliOptions* options, uint32_t row, std::string* error) {
    bool usb = ModelIn(row, USB_ATTACHED_MODELS);
    if (options->port && IsUsbPortName(*options->port)) {
        if (!UsbPortsFitModel({*options->port}, row, error)) return false;
        std::string problem = UsbPortProblem(*options->port);
        if (!problem.empty()) {
            *error = "--port " + problem;
            return false;
        }
        options->port = UsbPortName(UsbPortLocation(*options->port));
        return true;
    }
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
    if (options->port || options->portsFrom) return true;
    if (usb) return SettleUsbDevice(options, error);
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

// The ports of the model's link, one a line; the USB entry with where the device is, then each
// USB-attached PLC present by the port it is plugged into.
int ListPorts(Io& io, uint32_t row) {
    PortList ports = PortsOf(row);
    bool usb = ModelIn(row, USB_ATTACHED_MODELS);
    std::vector<std::string> usbLines = usb ? UsbPlcLines() : std::vector<std::string>{};
    for (int i = 0; i < ports.count; ++i) {
        io.out << ports.names[i];
        std::string path;
        if (usbLines.size() > 1)
            io.out << '\t' << usbLines.size() << " PLCs present: name one by its usb: port below";
        else if (usb && FindUsbDevicePath(&path))
            io.out << '\t' << path;
        else if (usb)
            io.out << "\tabsent: no USB device with " << USB_MATCH_TEXT
                   << " is present; plug in the PLC's USB cable";
        io.out << '\n';
    }
    for (const auto& line : usbLines) io.out << line << '\n';
    if (ports.count == 0) io.err << PROGRAM_NAME << ": no serial port found\n";
    return EXIT_SUCCESSFUL;
}

// One line a model under a header: a user without the simulator sees the limits too.
int ListModels(Io& io) {
    io.out << "# model         id      link      largest image (bytes)\n";
    for (uint32_t i = 0; i < PLC_COUNT; ++i) {
        std::string name = plcList[i];
        name.resize(16, ' ');
        std::string link = ModelIn(i, USB_ATTACHED_MODELS) ? "USB" : "COM port";
        link.resize(10, ' ');
        io.out << name << IdText(plcID[i]) << "  " << link << MaxImageBytes(i) << '\n';
    }
    return EXIT_SUCCESSFUL;
}

// The port as the record names it: --port, "USB", or the listed COM port.
std::string RecordedPort(const CliOptions& options, uint32_t row) {
    if (options.port) return *options.port;
    if (ModelIn(row, USB_ATTACHED_MODELS)) return "USB";
    PortList ports = PortsOf(row);
    return ports.count > 0 ? ports.names[0] : "";
}

}  // namespace

std::string LinkDescription(const CliOptions& options, uint32_t row) {
    if (!options.port && ModelIn(row, USB_ATTACHED_MODELS)) return "the PLC's USB device";
    std::string port = RecordedPort(options, row);
    return options.port ? port : port + " (the only serial port present)";
}

namespace {

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

// A station on the port: each PLC plugged in gets a run of its own, with its own record line.
int RunStationOfPort(Io& io, const CliOptions& options, uint32_t row,
                     const std::string& embeddedFile, Engine& engine, const RecordFields& fields) {
    // Nobody answers a question at each PLC plugged in: the station is told once.
    if (!options.yes)
        return Usage(io, "a station updates each PLC as it is plugged in, without asking: add --yes");
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
    config.goneOnceAbsent = GoneOnceAbsent(row);
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
    // A missing image is said as such, not as a file name that names no model. --list-ports
    // reads only its name.
    bool readsImage = options.image && !options.listPorts;
    std::string imageProblem = readsImage ? ImageFileProblem(*options.image) : "";
    if (!imageProblem.empty())
        return Failed(io, "cannot read the image file '" + *options.image + "': " + imageProblem);
    uint32_t row = 0;
    if (!ResolveModel(options, embeddedFile, &row, &error)) return Usage(io, error);
    if (options.listPorts) return ListPorts(io, row);

    RecordFields fields = FieldsOfRun(options, row, embeddedFile);
    if (!SetUpImage(options, row, &fields, &error)) return Failed(io, error);
    std::vector<std::string> ports;
    if (!AllPorts(options, &ports, &error)) return Usage(io, error);
    if (!UsbPortsFitModel(ports, row, &error)) return Usage(io, error);
    if (ports.size() > 1 || options.portsFrom) return RunSeveral(io, options, args, ports);
    if (!SettlePort(&options, row, &error)) return Usage(io, error);
    // A file beyond 32 bits of size is not cut to its low bits (it is judged unread, over the
    // maximum).
    fields.blocksTotal = TransferBlockCount(
        row, static_cast<uint32_t>(std::min<uint64_t>(fields.imageBytes, UINT32_MAX)));
    fields.port = RecordedPort(options, row);
    // A station whose image no run can write ends at once, as the run's size check ends it.
    bool sizeFits = fields.imageBytes == 0 || ImageSizeLine(row, fields.imageBytes).empty();
    if (options.station && sizeFits)
        return RunStationOfPort(io, options, row, embeddedFile, engine, fields);
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
