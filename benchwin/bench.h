// The bench as a whole: its tally over every port, the last ten results, and what a result
// sounds like.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "benchwin/tile.h"

namespace plcbench {

const size_t RESULTS_SHOWN = 10;

struct BenchTally {
    uint32_t done = 0;
    uint32_t failed = 0;
    double unitSeconds = 0;
};
BenchTally TallyOf(const std::vector<Tile>& tiles);
// "Bench: 5 done, 1 failed; 41.2 s a unit on average".
std::string TallyText(const BenchTally& t);

// The results, newest first, at most RESULTS_SHOWN of them; clock is the time of day it came.
class Results {
  public:
    void Add(const UnitResult& result, const std::string& clock);
    const std::deque<std::string>& Lines() const { return lines_; }
    void Clear() { lines_.clear(); }

  private:
    std::deque<std::string> lines_;
};
// "10:42:07  COM6  unit 2  FAILED in 8 s".
std::string ResultLine(const UnitResult& result, const std::string& clock);

// The beeps a result sounds, as the console's station rings: one for a unit done, three for one
// that failed, none for a unit that a Stop interrupted.
int BeepsFor(const UnitResult& result);

}  // namespace plcbench
