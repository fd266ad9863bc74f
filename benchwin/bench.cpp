// The bench's tally, its last results and their beeps.
#include "benchwin/bench.h"

#include <cstdio>

namespace plcbench {

BenchTally TallyOf(const std::vector<Tile>& tiles) {
    BenchTally t;
    for (const auto& tile : tiles) {
        t.done += tile.done;
        t.failed += tile.failed;
        t.unitSeconds += tile.unitSeconds;
    }
    return t;
}

std::string TallyText(const BenchTally& t) {
    uint32_t units = t.done + t.failed;
    char mean[32];
    std::snprintf(mean, sizeof mean, "%.1f", units == 0 ? 0.0 : t.unitSeconds / units);
    return "Bench: " + std::to_string(t.done) + " done, " + std::to_string(t.failed) + " failed; " +
           mean + " s a unit on average";
}

std::string ResultLine(const UnitResult& result, const std::string& clock) {
    std::string line = clock + "  " + result.port + "  unit " + std::to_string(result.unit) + "  ";
    if (result.kind == ResultKind::INTERRUPTED) return line + "interrupted";
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.0f", result.seconds);
    return line + (result.kind == ResultKind::SUCCESSFUL ? "SUCCESSFUL" : "FAILED") + " in " +
           seconds + " s";
}

void Results::Add(const UnitResult& result, const std::string& clock) {
    lines_.push_front(ResultLine(result, clock));
    while (lines_.size() > RESULTS_SHOWN) lines_.pop_back();
}

int BeepsFor(const UnitResult& result) {
    switch (result.kind) {
        case ResultKind::SUCCESSFUL:
            return 1;
        case ResultKind::FAILED:
            return 3;
        case ResultKind::INTERRUPTED:
            return 0;
    }
    return 0;
}

}  // namespace plcbench
