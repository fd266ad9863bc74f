// A station: each PLC plugged into the port is updated once, reported, and waited out.
#include "cli/station/station.h"

#include <cstdio>
#include <cstring>
#include <ostream>

#include "catalogue/catalogue.h"
#include "cli/command/exit_status.h"
#include "cli/port/port.h"
#include "cli/record_names.h"
#include "cli/run/redraw.h"
#include "usb/usb.h"

namespace plccli {

namespace {

const char PROGRAM_NAME[] = "plcfwupdate";
const char GREEN[] = "\033[32m";
const char RED[] = "\033[31m";
const char PLAIN[] = "\033[0m";
const char SUCCESSFUL[] = "SUCCESSFUL";
const char FAILED[] = "FAILED";

std::string Seconds(uint64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(ms) / 1000.0);
    return text;
}

std::string MeanSeconds(const StationTally& t) {
    uint32_t units = t.done + t.failed;
    return units == 0 ? "0.0" : Seconds(t.unitMs / units);
}

bool Succeeded(int status) {
    return status == EXIT_SUCCESSFUL || status == EXIT_NOT_RECORDED;
}

}  // namespace

bool GoneOnceAbsent(uint32_t idx) {
    if (idx >= PLC_COUNT) return false;
    const PlcModel& model = PLC_MODELS[idx];
    return model.link == LINK_USB && model.reconnect == RECONNECT_REPLUG_USB;
}

std::string UnitResultLine(uint32_t unit, bool succeeded, uint64_t ms, const StationTally& t) {
    return "unit " + std::to_string(unit) + ": " + (succeeded ? "SUCCESSFUL" : "FAILED") + " in " +
           std::to_string((ms + 500) / 1000) + " s; " + std::to_string(t.done) + " done, " +
           std::to_string(t.failed) + " failed";
}

std::string TallyLine(const StationTally& t) {
    std::string line =
        "station: " + std::to_string(t.done) + " done, " + std::to_string(t.failed) + " failed";
    for (size_t i = 0; i < t.failedUnits.size(); ++i)
        line.append(i == 0 ? (t.failedUnits.size() == 1 ? " (unit " : " (units ") : ", ")
            .append(std::to_string(t.failedUnits[i]));
    if (!t.failedUnits.empty()) line += ")";
    line += "; " + MeanSeconds(t) + " s a unit on average";
    if (t.updating != 0) line += "; unit " + std::to_string(t.updating) + " interrupted";
    return line;
}

std::string StationEvent(uint32_t unit, const char* state) {
    return "{\"event\":\"station\",\"unit\":" + std::to_string(unit) +
           ",\"state\":" + JsonString(state) + "}";
}

std::string UnitEvent(uint32_t unit, bool succeeded, uint64_t ms, const StationTally& t,
                      const std::string& started) {
    return "{\"event\":\"unit\",\"unit\":" + std::to_string(unit) +
           ",\"station_started\":" + JsonString(started) +
           ",\"result\":" + (succeeded ? "\"SUCCESSFUL\"" : "\"FAILED\"") +
           ",\"seconds\":" + Seconds(ms) + ",\"done\":" + std::to_string(t.done) +
           ",\"failed\":" + std::to_string(t.failed) + "}";
}

std::string TallyEvent(const StationTally& t, const std::string& started, int exitStatus) {
    std::string failed;
    for (uint32_t unit : t.failedUnits) {
        if (!failed.empty()) failed += ',';
        failed += std::to_string(unit);
    }
    return "{\"event\":\"tally\",\"station_started\":" + JsonString(started) +
           ",\"done\":" + std::to_string(t.done) + ",\"failed\":" + std::to_string(t.failed) +
           ",\"failed_units\":[" + failed + "],\"mean_seconds\":" + MeanSeconds(t) +
           ",\"interrupted_unit\":" + std::to_string(t.updating) +
           ",\"exit_status\":" + std::to_string(exitStatus) + "}";
}

Station::Station(StationConfig config, StationHooks hooks, std::ostream& out, std::ostream& err)
    : config_(std::move(config)),
      hooks_(std::move(hooks)),
      out_(out),
      err_(err),
      colour_(ColourWanted(config_.terminal)),
      controls_(TerminalTakesControls()) {}

StationTally Station::Tally() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tally_;
}

void Station::Event(const std::string& line) {
    if (!config_.events) return;
    std::lock_guard<std::mutex> lock(mutex_);
    out_ << line << '\n' << std::flush;
}

void Station::Live(const std::string& text, const char* status) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!config_.terminal) {
        err_ << PROGRAM_NAME << ": " << text << '\n';
        err_.flush();
        return;
    }
    // Redrawn in place, the line must not wrap: one column short of the width, so that the
    // cursor stays on it.
    std::string line = std::string(PROGRAM_NAME) + ": " + text;
    size_t width = config_.width ? config_.width() : 0;
    if (width > 1 && line.size() > width - 1) line.resize(width - 1);
    size_t at = status != nullptr ? line.find(status) : std::string::npos;
    if (colour_ && at != std::string::npos && at + std::strlen(status) <= line.size())
        line = line.substr(0, at) + (std::strcmp(status, FAILED) == 0 ? RED : GREEN) + status +
               PLAIN + line.substr(at + std::strlen(status));
    err_ << Redrawn(line, &drawnChars_, controls_);
    liveOpen_ = true;
    err_.flush();
}

void Station::EndLive() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!liveOpen_) return;
    // The update's own lines take the live line's place.
    err_ << Cleared(&drawnChars_, controls_);
    err_.flush();
    liveOpen_ = false;
}

LinkPresence Station::Look(uint64_t* atMs) {
    // A look hears what came in the pause before it and in its own reply window. It counts as of
    // its start, so that a look that found no link, over at once, counts as one that waited in
    // vain.
    tickStart_ = hooks_.nowMs();
    *atMs = tickStart_;
    return hooks_.look();
}

void Station::RestOfTick() {
    uint64_t spent = hooks_.nowMs() - tickStart_;
    if (spent < STATION_TICK_MS) hooks_.pause(static_cast<uint32_t>(STATION_TICK_MS - spent));
}

bool Station::NothingFrom(LinkPresence seen) const {
    // A USB-attached unit is there as long as its device is: its line does not lose replies,
    // and a look that opens the device again after silence drops what was still on its way. A
    // serial port that does not open says nothing of the PLC behind it.
    if (config_.usbAttached) return seen == PRESENCE_NO_LINK;
    return seen == PRESENCE_SILENT;
}

std::string Station::WaitingNote(LinkPresence seen, uint64_t absentMs) const {
    if (seen != PRESENCE_NO_LINK) return "";
    // A serial port that does not open (an adapter unplugged, another program on it) is said at
    // once, so that nobody waits in front of it for nothing.
    if (!config_.usbAttached) return ": the port does not open";
    if (absentMs < STATION_ABSENT_SAY_MS) return "";
    // A device at the named port whose ids cannot be read is there, but not for this program.
    std::string why;
    if (IsUsbPortName(config_.port) &&
        UsbPortStateAt(UsbPortLocation(config_.port), &why) == USB_PORT_UNREADABLE)
        return ": the USB device there cannot be read (" + why + ")";
    return ": no USB device with " + std::string(USB_MATCH_TEXT) +
           " there; plug in a PLC's USB cable";
}

void Station::WaitForPlc(uint32_t unit) {
    Event(StationEvent(unit, "waiting"));
    StationTally t = Tally();
    std::string waiting = "unit " + std::to_string(unit) + ": waiting for a PLC on " +
                          config_.port + " (" + std::to_string(t.done) + " done, " +
                          std::to_string(t.failed) + " failed)";
    Live(waiting);
    std::string shown = waiting;
    uint64_t absentSince = hooks_.nowMs();
    while (interrupted_ == 0) {
        uint64_t at = 0;
        LinkPresence seen = Look(&at);
        // Only a whole probe reply is a PLC: noise on an empty line never starts an update.
        if (seen == PRESENCE_ANSWERED) return;
        if (seen != PRESENCE_NO_LINK) absentSince = at;
        std::string line = waiting + WaitingNote(seen, at - absentSince);
        if (line != shown) Live(line);
        shown = line;
        RestOfTick();
    }
}

void Station::WaitUntilGone(uint32_t unit, bool succeeded) {
    Event(StationEvent(unit, succeeded ? "done, unplug" : "failed, unplug"));
    std::string name = "unit " + std::to_string(unit);
    // A failed unit is not tried again here, nor should it be run again by hand on the line.
    if (succeeded)
        Live(name + ": " + SUCCESSFUL + ", unplug it", SUCCESSFUL);
    else
        Live(name + ": " + FAILED + ", unplug it and set it aside: not written again",
             FAILED);
    uint64_t told = hooks_.nowMs();
    uint64_t heardAt = told;
    uint32_t silentLooks = 0;
    bool toldAgain = false;
    while (interrupted_ == 0) {
        uint64_t at = 0;
        LinkPresence seen = Look(&at);
        if (NothingFrom(seen)) {
            ++silentLooks;
            if (config_.usbAttached && config_.goneOnceAbsent
                    ? silentLooks >= STATION_ABSENT_GONE_LOOKS
                    : silentLooks >= STATION_GONE_LOOKS && at - heardAt >= STATION_GONE_SILENCE_MS)
                return;
        } else {
            silentLooks = 0;
            heardAt = at;
        }
        bool heard = seen == PRESENCE_HEARD || seen == PRESENCE_ANSWERED;
        if (!toldAgain && heard && at - told >= STATION_STILL_ANSWERS_MS) {
            Event(StationEvent(unit, "still answers"));
            // Short enough for an 80-column terminal: the live line is cut to its width.
            Live(name + " still answers: unplug it; next unit once the line is silent");
            toldAgain = true;
        }
        RestOfTick();
    }
}

void Station::Result(uint32_t unit, int status, uint64_t ms) {
    bool succeeded = Succeeded(status);
    StationTally t;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tally_.updating = 0;
        tally_.unitMs += ms;
        if (succeeded) {
            ++tally_.done;
        } else {
            ++tally_.failed;
            tally_.failedUnits.push_back(unit);
        }
        if (status == EXIT_NOT_RECORDED) tally_.notRecorded = true;
        t = tally_;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // One bell for a unit done, three for one that failed.
        if (config_.terminal) err_ << (succeeded ? "\a" : "\a\a\a") << std::flush;
        (config_.events ? err_ : out_) << UnitResultLine(unit, succeeded, ms, t) << '\n'
                                       << std::flush;
    }
    Event(UnitEvent(unit, succeeded, ms, t, config_.started));
}

int Station::ExitStatus() const {
    if (interrupted_ != 0) return interrupted_;
    StationTally t = Tally();
    if (t.failed > 0) return EXIT_FAILED;
    return t.notRecorded ? EXIT_NOT_RECORDED : EXIT_SUCCESSFUL;
}

void Station::PrintTally(int exitStatus) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (tallyShown_) return;
    tallyShown_ = true;
    if (liveOpen_) err_ << '\n';
    liveOpen_ = false;
    drawnChars_ = 0;
    (config_.events ? err_ : out_) << PROGRAM_NAME << ": " << TallyLine(tally_) << '\n'
                                   << std::flush;
    if (config_.events)
        out_ << TallyEvent(tally_, config_.started, exitStatus) << '\n' << std::flush;
}

void Station::Interrupt(int exitStatus, bool endsNow) {
    interrupted_ = exitStatus;
    if (endsNow) PrintTally(exitStatus);
}

int Station::Run() {
    for (uint32_t unit = 1; interrupted_ == 0; ++unit) {
        WaitForPlc(unit);
        hooks_.release();
        if (interrupted_ != 0) break;
        EndLive();
        Event(StationEvent(unit, "updating"));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tally_.updating = unit;
        }
        uint64_t begun = hooks_.nowMs();
        int status = hooks_.update(unit);
        Result(unit, status, hooks_.nowMs() - begun);
        if (config_.units != 0 && unit >= config_.units) break;
        WaitUntilGone(unit, Succeeded(status));
    }
    hooks_.release();
    int status = ExitStatus();
    PrintTally(status);
    return status;
}

}  // namespace plccli
