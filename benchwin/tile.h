// One port's tile: what its worker's events say, in words and a colour that an operator reads
// from a distance, and the port's tally.
#pragma once

#include <cstdint>
#include <string>

#include "benchwin/event_line.h"

namespace plcbench {

enum class TileState {
    IDLE,           // the bench has not started
    WAITING,        // waiting for a PLC
    UPDATING,       // a unit is being written
    SUCCEEDED,      // the unit is done: unplug it
    FAILED,         // the unit failed: set it aside
    STILL_ANSWERS,  // the unit is still there long after its result
    STOPPED,        // the worker ended with its tally (Stop bench)
    NOT_RUNNING,    // the worker did not start, or ended without its tally
};

enum class TileColour { GREY, BLUE, GREEN, RED, AMBER };

enum class ResultKind { SUCCESSFUL, FAILED, INTERRUPTED };

// A unit's end on a port, for the bench's list of results.
struct UnitResult {
    std::string port;
    uint32_t unit = 0;
    ResultKind kind = ResultKind::SUCCESSFUL;
    double seconds = 0;
};

struct Tile {
    std::string port;
    TileState state = TileState::IDLE;
    uint32_t unit = 0;  // the unit on this port now (or last)
    std::string phase;  // the status word: Idle, Erasing, Programming
    std::string step;   // what the run does: connecting, programming, ...
    int percent = 0;
    std::string message;      // the last unit's final message
    bool lastFailed = false;  // the last unit's result
    uint32_t done = 0;        // the port's tally, as its worker counts it
    uint32_t failed = 0;
    double unitSeconds = 0;  // all units' times together
    uint32_t interruptedUnit = 0;
    int exitStatus = -1;   // the worker's, once it has ended
    std::string lastSaid;  // the last line of the worker's standard error
    // Where the transfer's rate is measured from: the first progress of Programming.
    uint64_t rateFromMs = 0;
    int rateFromPercent = -1;
};

// Applies one event of the tile's worker, received at nowMs. True when a unit ended (its
// result in *result), including the unit that a Stop interrupted.
bool ApplyEvent(Tile* tile, const EventLine& event, uint64_t nowMs, UnitResult* result);
// A line of the worker's standard error: the last one says why a worker ended early.
void WorkerSaid(Tile* tile, const std::string& line);
// The worker's process has ended with exitCode; a worker that ended without its tally (it did not
// run a station at all, or was ended) is no longer running, and says why as its last line did.
void WorkerEnded(Tile* tile, int exitCode);
// The worker could not be started: why.
void StartFailed(Tile* tile, const std::string& why);
// A tile back to the start of a bench (its port kept).
void ResetTile(Tile* tile);

// What the tile shows.
struct TileView {
    std::string state;  // the state in words
    TileColour colour = TileColour::GREY;
    std::string detail;  // below it: the phase, or the final message of a failed unit
    bool bar = false;    // a progress bar of percent
    int percent = 0;
    std::string timeLeft;  // "12 s left" while the transfer's rate is known
    std::string unit;      // "unit 3"
    std::string tally;     // "2 done, 1 failed"
};
TileView ViewOf(const Tile& tile, uint64_t nowMs);

// A unit is being written on the tile's port: ending the bench now would cut it.
bool UnitInHand(const Tile& tile);

}  // namespace plcbench
