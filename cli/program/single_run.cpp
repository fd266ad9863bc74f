// One update run on a terminal: the front end over the engine, then the lines that say what to
// do after a failure, and the run's files.
#include <ostream>

#include "catalogue/catalogue.h"
#include "cli/command/exit_status.h"
#include "cli/command/texts.h"
#include "cli/port/port.h"
#include "cli/program/interrupt.h"
#include "cli/program/parts.h"
#include "cli/program/run_end.h"
#include "cli/run/console.h"
#include "cli/run/events.h"
#include "cli/run/frontend.h"
#include "cli/run/info.h"
#include "cli/run/redraw.h"
#include "update/update.h"
#include "usb/usb.h"

namespace plccli {

namespace {

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

}  // namespace

// The update run itself, once everything it needs is in place.
int RunUpdate(Io& io, const CliOptions& options, uint32_t row, const std::string& embeddedFile,
              Engine& engine, RunRecorder* recorder, TraceFile* trace, const RecordFields& fields) {
    ClearPlcReport();
    EventWriter events(options.events ? &io.out : nullptr);
    TheRunEnd().Open(
        RunFiles{recorder, trace, events.On() ? &events : nullptr, StationFields(fields)});
    events.Write(WithStationFields(
        StartEvent(fields.port, fields.model, fields.imageFile, fields.imageBytes), fields));
    // A mistyped --port must not get protocol frames written into a file. An image outside the
    // model's limits ends the run before its link is opened, with the run's own message.
    std::string error;
    bool sizeFits = fields.imageBytes == 0 || ImageSizeLine(row, fields.imageBytes).empty();
    if (sizeFits && options.port && !CheckPortName(*options.port, &error)) {
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
    config.controls = TerminalTakesControls();
    config.yes = options.yes;
    config.endOfInput = OnInterrupt;
    config.quiet = options.info || options.events;
    config.progress = !options.quiet && !options.events;
    config.steps = options.verbose;
    config.consent = options.yes            ? Consent::GIVEN
                     : io.inputTerminal     ? Consent::ASK
                                            : Consent::REFUSED;
    config.consentPort = options.port              ? *options.port
                         : !options.usbPinned.empty() ? options.usbPinned
                                                      : LinkDescription(options, row);
    config.consentImage = ConsentImage{fields.imageFile, fields.imageBytes, fields.imageSha256};
    config.events = events.On() ? &events : nullptr;
    config.port = fields.port;
    CliFrontEnd frontEnd(io.out, io.err, io.in, config);
    int status = options.info ? RunInfo(io.out, frontEnd, engine.startBurn, fields.imageBytes)
                              : frontEnd.Run(engine.startBurn);
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
    // The advice never goes against the PLC's message: one that asks for a re-power gets it.
    bool rePower = frontEnd.LastOutcome().text.find("RE-POWER") != std::string::npos;
    std::string failedLine = FailedLine(frontEnd.EndPoint(), options.station, rePower);
    if (status == EXIT_FAILED && !failedLine.empty())
        notes << PROGRAM_NAME << ": " << failedLine << '\n';
    std::string sizeLine = ImageSizeLine(row, fields.imageBytes);
    // No image at all ends the run with a message of its own.
    if (status == EXIT_FAILED && !options.info && fields.imageBytes > 0 && !sizeLine.empty())
        notes << PROGRAM_NAME << ": " << sizeLine << '\n';
    if (status == EXIT_FAILED && !options.info && !options.events && !gone && !slow)
        PrintHint(io, row, fields.port, TakePlcSeen());
    // What the PLC reported goes with the progress, apart from the results.
    std::ostream& summaryTo = io.err;
    if (options.verbose && !options.info)
        summaryTo << PROGRAM_NAME << ": "
                  << ReportSummary(TakePlcSeen(), TransferBlockCount(row, fileLength)) << '\n';
    // An interrupt from here on finds the run writing its end, and ends with its status.
    status = FinishFiles(io.err, trace, recorder, frontEnd.LastOutcome(), status);
    events.Outcome(frontEnd.LastOutcome(), status, StationFields(fields));
    return status;
}

}  // namespace plccli
