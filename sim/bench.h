// A bench of units that come and go on one link, one at a time, as a production station sees
// them (plcsim --units).
//   - BenchPlan: how many units, the gap before each arrives, when each leaves, their faults
//   - Bench: the schedule, played on the server's turns; each unit a fresh PLC
//   - UnitSummary: the line plcsim prints when a unit leaves
//
// A unit arrives arriveEveryMs after the start, and each next one arriveEveryMs after the one
// before it left. A unit leaves leaveAfterMs after the host has sent it more than wake-up frames
// and mode probes and then closed the link or gone back to looking (a wake-up frame right after a
// probe): the end of its update run, successful or not; not the close that is its replug or
// power cycle. It stays when the host works on it again meanwhile. A station only looks for a
// PLC with wake-up frames and probes, so its looks keep no unit there; a unit the host never
// works on stays. A unit left plugged in is one with a longer leave-after.
// While no unit is there a COM line is silent and a USB device gone.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/realtime.h"
#include "sim/sim.h"

namespace plcsim {

struct BenchPlan {
    uint32_t units = 0;
    uint32_t arriveEveryMs = 1000;
    uint32_t leaveAfterMs = 3000;
    std::map<uint32_t, std::vector<std::string>> faults;  // unit number (from 1) -> its faults
    std::map<uint32_t, uint32_t> leaveAfterOf;            // a unit's own leave-after
};

// Parses "N:TEXT" (--unit-fault, --unit-stay): the unit number and the text after the colon.
bool ParseUnitValue(const std::string& text, uint32_t* unit, std::string* value);

// What a unit was given: "1 transfers, 1 completed, 32 pages erased, ...". A unit written twice
// shows two transfers.
std::string UnitSummary(const Plc& plc);

class Bench {
  public:
    using MakeUnit = std::function<std::shared_ptr<Plc>(uint32_t unit)>;
    using Left = std::function<void(uint32_t unit, const Plc& plc, uint64_t presentMs)>;
    // makeUnit gives a fresh PLC for a unit with its faults; left hears of each unit leaving.
    Bench(BenchPlan plan, MakeUnit makeUnit, Left left);
    // One turn of the server's loop at nowMs: arrivals and departures. True once the last unit
    // has left.
    bool Turn(uint64_t nowMs, RealTimePlc& rt);
    uint32_t Present() const { return unit_; }
    uint32_t Arrived() const { return arrived_; }
    // The unit on the link, nullptr when none.
    const Plc* Current() const { return current_.get(); }

  private:
    uint32_t LeaveAfterMs(uint32_t unit) const;

    BenchPlan plan_;
    MakeUnit makeUnit_;
    Left left_;
    std::shared_ptr<Plc> empty_;  // the link with no unit on it
    std::shared_ptr<Plc> current_;
    bool started_ = false;
    uint32_t unit_ = 0;     // on the link; 0: none
    uint32_t arrived_ = 0;  // units that have arrived so far
    uint64_t nextArrivalMs_ = 0;
    uint64_t arrivedAtMs_ = 0;
    uint64_t workSeen_ = 0;
    uint32_t closesSeen_ = 0;
    uint32_t looksSeen_ = 0;
    uint32_t restartsSeen_ = 0;
    bool worked_ = false;       // worked on since the host last closed the link
    uint64_t leftAloneMs_ = 0;  // when the host closed the link after working on it; 0: not yet
};

}  // namespace plcsim
