// A station: each PLC plugged into the port is updated once, reported, and waited out.
#include "cli/station.h"

#include <cstdio>
#include <ostream>

#include "cli/cli.h"

namespace plccli {

namespace {

const char PROGRAM_NAME[] = "plcfwupdate";
const char CLEAR_TO_LINE_END[] = "\033[K";

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
    : config_(std::move(config)), hooks_(std::move(hooks)), out_(out), err_(err) {}

StationTally Station::Tally() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tally_;
}

void Station::Event(const std::string& line) {
    if (!config_.events) return;
    std::lock_guard<std::mutex> lock(mutex_);
    out_ << line << '\n' << std::flush;
}

void Station::Live(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (config_.terminal) {
        err_ << '\r' << PROGRAM_NAME << ": " << text << CLEAR_TO_LINE_END;
        liveOpen_ = true;
    } else {
        err_ << PROGRAM_NAME << ": " << text << '\n';
    }
    err_.flush();
}

void Station::EndLive() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!liveOpen_) return;
    // The update's own lines take the live line's place.
    err_ << '\r' << CLEAR_TO_LINE_END;
    err_.flush();
    liveOpen_ = false;
}

void Station::WaitForPlc(uint32_t unit) {
    Event(StationEvent(unit, "waiting"));
    StationTally t = Tally();
    std::string waiting = "unit " + std::to_string(unit) + ": waiting for a PLC on " +
                          config_.port + " (" + std::to_string(t.done) + " done, " +
                          std::to_string(t.failed) + " failed)";
    Live(waiting);
    // A serial port that does not open at all (an adapter unplugged, another program on it) is
    // said, so that nobody waits in front of it for nothing.
    LinkPresence shown = PRESENCE_SILENT;
    while (interrupted_ == 0) {
        LinkPresence seen = hooks_.look();
        if (seen == PRESENCE_ANSWERED) return;
        if (!config_.usbAttached && seen != shown) {
            Live(waiting + (seen == PRESENCE_NO_LINK ? ": the port does not open" : ""));
            shown = seen;
        }
        hooks_.pause(STATION_PAUSE_MS);
    }
}

void Station::WaitUntilGone(uint32_t unit, bool succeeded) {
    Event(StationEvent(unit, succeeded ? "done, unplug" : "failed, unplug"));
    Live("unit " + std::to_string(unit) + ": " + (succeeded ? "done" : "FAILED") + ", unplug it");
    uint32_t silent = 0;
    while (interrupted_ == 0) {
        LinkPresence seen = hooks_.look();
        if (seen == PRESENCE_NO_LINK && config_.usbAttached) return;
        silent = seen == PRESENCE_ANSWERED ? 0 : silent + 1;
        if (silent >= STATION_GONE_LOOKS) return;
        hooks_.pause(STATION_PAUSE_MS);
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
        if (config_.terminal) err_ << '\a' << std::flush;
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
    int status = ExitStatus();
    PrintTally(status);
    return status;
}

}  // namespace plccli
