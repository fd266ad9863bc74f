// One port's tile from its worker's --events: the station's states, the run's phase and
// progress, the outcome and the port's tally.
#include "benchwin/tile.h"

#include <cstdio>

namespace plcbench {

namespace {

const int EXIT_INTERRUPTED = 130;  // the console program's status after an interrupt

void ClearUnit(Tile* tile) {
    tile->phase.clear();
    tile->step.clear();
    tile->percent = 0;
    tile->rateFromMs = 0;
    tile->rateFromPercent = -1;
}

void StationState(Tile* tile, const EventLine& event) {
    tile->unit = static_cast<uint32_t>(NumberField(event, "unit", tile->unit));
    std::string state = Field(event, "state");
    if (state == "waiting") {
        tile->state = TileState::WAITING;
        ClearUnit(tile);
        tile->message.clear();
    } else if (state == "updating") {
        tile->state = TileState::UPDATING;
        ClearUnit(tile);
        tile->message.clear();
    } else if (state == "done, unplug") {
        tile->state = TileState::SUCCEEDED;
        tile->lastFailed = false;
    } else if (state == "failed, unplug") {
        tile->state = TileState::FAILED;
        tile->lastFailed = true;
    } else if (state == "still answers") {
        tile->state = TileState::STILL_ANSWERS;
    }
}

void Progress(Tile* tile, const EventLine& event, uint64_t nowMs) {
    int percent = static_cast<int>(NumberField(event, "percent", tile->percent));
    tile->percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    tile->step = Field(event, "step");
    if (tile->phase == "Programming" && tile->rateFromPercent < 0) {
        tile->rateFromMs = nowMs;
        tile->rateFromPercent = tile->percent;
    }
}

bool UnitEnded(Tile* tile, const EventLine& event, UnitResult* result) {
    tile->unit = static_cast<uint32_t>(NumberField(event, "unit", tile->unit));
    tile->done = static_cast<uint32_t>(NumberField(event, "done", tile->done));
    tile->failed = static_cast<uint32_t>(NumberField(event, "failed", tile->failed));
    double seconds = DecimalField(event, "seconds", 0);
    tile->unitSeconds += seconds;
    result->port = tile->port;
    result->unit = tile->unit;
    result->kind =
        Field(event, "result") == "SUCCESSFUL" ? ResultKind::SUCCESSFUL : ResultKind::FAILED;
    result->seconds = seconds;
    return true;
}

bool Tally(Tile* tile, const EventLine& event, UnitResult* result) {
    tile->state = TileState::STOPPED;
    tile->done = static_cast<uint32_t>(NumberField(event, "done", tile->done));
    tile->failed = static_cast<uint32_t>(NumberField(event, "failed", tile->failed));
    tile->interruptedUnit = static_cast<uint32_t>(NumberField(event, "interrupted_unit", 0));
    tile->exitStatus = static_cast<int>(NumberField(event, "exit_status", tile->exitStatus));
    if (tile->interruptedUnit == 0) return false;
    result->port = tile->port;
    result->unit = tile->interruptedUnit;
    result->kind = ResultKind::INTERRUPTED;
    result->seconds = 0;
    return true;
}

std::string TimeLeft(const Tile& tile, uint64_t nowMs) {
    if (tile.state != TileState::UPDATING || tile.phase != "Programming" ||
        tile.rateFromPercent < 0 || tile.percent <= tile.rateFromPercent ||
        nowMs <= tile.rateFromMs)
        return "";
    uint64_t spentMs = nowMs - tile.rateFromMs;
    uint64_t leftMs = spentMs * static_cast<uint64_t>(100 - tile.percent) /
                      static_cast<uint64_t>(tile.percent - tile.rateFromPercent);
    uint64_t s = (leftMs + 999) / 1000;
    char text[48];
    if (s < 60)
        std::snprintf(text, sizeof text, "%u s left", static_cast<unsigned>(s));
    else
        std::snprintf(text, sizeof text, "%u min %02u s left", static_cast<unsigned>(s / 60),
                      static_cast<unsigned>(s % 60));
    return text;
}

// What the station's waiting line adds after its tally: that the port does not open, that no
// USB device is there.
std::string WaitingNote(const Tile& tile) {
    const std::string mark = " failed): ";
    if (tile.lastSaid.find("waiting for a PLC on ") == std::string::npos) return "";
    size_t at = tile.lastSaid.rfind(mark);
    return at == std::string::npos ? "" : tile.lastSaid.substr(at + mark.size());
}

std::string Doing(const Tile& tile) {
    if (!tile.phase.empty() && tile.phase != "Idle") return tile.phase;
    if (!tile.step.empty()) return tile.step;
    return "connecting";
}

}  // namespace

bool ApplyEvent(Tile* tile, const EventLine& event, uint64_t nowMs, UnitResult* result) {
    std::string kind = Field(event, "event");
    if (kind == "station") {
        StationState(tile, event);
    } else if (kind == "start") {
        if (tile->state != TileState::UPDATING) ClearUnit(tile);
        tile->state = TileState::UPDATING;
    } else if (kind == "phase") {
        tile->phase = Field(event, "status");
    } else if (kind == "progress") {
        Progress(tile, event, nowMs);
    } else if (kind == "outcome") {
        tile->message = Field(event, "message");
        if (NumberField(event, "exit_status", 0) == EXIT_INTERRUPTED)
            tile->state = TileState::STOPPED;
    } else if (kind == "unit") {
        return UnitEnded(tile, event, result);
    } else if (kind == "tally") {
        return Tally(tile, event, result);
    }
    return false;
}

void WorkerSaid(Tile* tile, const std::string& line) {
    if (!line.empty()) tile->lastSaid = line;
}

void WorkerEnded(Tile* tile, int exitCode) {
    tile->exitStatus = exitCode;
    if (tile->state == TileState::STOPPED) return;
    tile->state = TileState::NOT_RUNNING;
    tile->message = tile->lastSaid.empty()
                        ? "the console program ended (exit status " + std::to_string(exitCode) + ")"
                        : tile->lastSaid;
}

void StartFailed(Tile* tile, const std::string& why) {
    tile->state = TileState::NOT_RUNNING;
    tile->message = why;
}

void ResetTile(Tile* tile) {
    std::string port = tile->port;
    *tile = Tile{};
    tile->port = port;
}

bool UnitInHand(const Tile& tile) {
    return tile.state == TileState::UPDATING;
}

TileView ViewOf(const Tile& tile, uint64_t nowMs) {
    TileView v;
    if (tile.unit != 0) v.unit = "unit " + std::to_string(tile.unit);
    v.tally = std::to_string(tile.done) + " done, " + std::to_string(tile.failed) + " failed";
    switch (tile.state) {
        case TileState::IDLE:
            v.state = "not started";
            break;
        case TileState::WAITING:
            v.state = "waiting for a PLC";
            v.detail = WaitingNote(tile);
            break;
        case TileState::UPDATING:
            v.state = "updating";
            v.colour = TileColour::BLUE;
            v.detail = Doing(tile);
            v.bar = true;
            v.percent = tile.percent;
            v.timeLeft = TimeLeft(tile, nowMs);
            break;
        case TileState::SUCCEEDED:
            v.state = "SUCCESSFUL: unplug it";
            v.colour = TileColour::GREEN;
            break;
        case TileState::FAILED:
            v.state = "FAILED: set it aside";
            v.colour = TileColour::RED;
            v.detail = tile.message;
            break;
        case TileState::STILL_ANSWERS:
            // A failed unit stays red until it has gone: that it must be set aside is what the
            // operator has to see, and it says to unplug it already.
            if (tile.lastFailed) {
                v.state = "FAILED: set it aside";
                v.colour = TileColour::RED;
                v.detail = tile.message;
                break;
            }
            v.state = "still answers: unplug it";
            v.colour = TileColour::AMBER;
            v.detail = "SUCCESSFUL";
            break;
        case TileState::STOPPED:
            v.state = "stopped";
            if (tile.interruptedUnit != 0)
                v.detail = "unit " + std::to_string(tile.interruptedUnit) + " interrupted";
            break;
        case TileState::NOT_RUNNING:
            v.state = "not running";
            v.colour = TileColour::RED;
            v.detail = tile.message;
            break;
    }
    return v;
}

}  // namespace plcbench
