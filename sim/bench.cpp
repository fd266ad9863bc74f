#include "sim/bench.h"

#include <cstdio>
#include <cstdlib>

namespace plcsim {

namespace {

// Requests beyond looking for the PLC: everything but the wake-up frames and the mode probes,
// and the bytes of a request that the unit got only part of as it arrived.
uint64_t WorkRequests(const Counters& k) {
    uint64_t sum = 0;
    for (size_t i = 0; i < KIND_COUNT; ++i)
        if (i != static_cast<size_t>(Kind::Wakeup) && i != static_cast<size_t>(Kind::Probe) &&
            i != static_cast<size_t>(Kind::Junk))
            sum += k.requests[i];
    return sum;
}

}  // namespace

bool ParseUnitValue(const std::string& text, uint32_t* unit, std::string* value) {
    size_t colon = text.find(':');
    if (colon == 0 || colon == std::string::npos || colon + 1 >= text.size()) return false;
    std::string number = text.substr(0, colon);
    if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 6)
        return false;
    *unit = static_cast<uint32_t>(std::strtoul(number.c_str(), nullptr, 10));
    *value = text.substr(colon + 1);
    return *unit > 0;
}

std::string UnitSummary(const Plc& plc) {
    Counters k = plc.GetCounters();
    char line[256];
    std::snprintf(line, sizeof line,
                  "%u transfers, %u completed, %u pages erased, %u blocks, %u bytes received, "
                  "%zu protocol errors",
                  k.Seen(Kind::Update), k.updatesCompleted, k.pagesErased, k.blocksAccepted,
                  plc.ReceivedBytes(), plc.Errors().size() + k.errorsDropped);
    return line;
}

Bench::Bench(BenchPlan plan, MakeUnit makeUnit, Left left)
    : plan_(std::move(plan)), makeUnit_(std::move(makeUnit)), left_(std::move(left)) {
    empty_ = makeUnit_(0);
    empty_->Unplug();
}

uint32_t Bench::LeaveAfterMs(uint32_t unit) const {
    auto own = plan_.leaveAfterOf.find(unit);
    return own != plan_.leaveAfterOf.end() ? own->second : plan_.leaveAfterMs;
}

bool Bench::Turn(uint64_t nowMs, RealTimePlc& rt) {
    if (!started_) {
        started_ = true;
        nextArrivalMs_ = nowMs + plan_.arriveEveryMs;
        rt.Replace(empty_, nowMs);
    }
    if (unit_ == 0) {
        if (arrived_ >= plan_.units) return true;
        if (nowMs < nextArrivalMs_) return false;
        unit_ = ++arrived_;
        current_ = makeUnit_(unit_);
        rt.Replace(current_, nowMs);
        rt.Note("unit " + std::to_string(unit_) + " arrived");
        arrivedAtMs_ = nowMs;
        workSeen_ = 0;
        closesSeen_ = 0;
        looksSeen_ = 0;
        restartsSeen_ = 0;
        worked_ = false;
        leftAloneMs_ = 0;
        return false;
    }
    Counters k = current_->GetCounters();
    uint64_t work = WorkRequests(k);
    if (work != workSeen_) {
        workSeen_ = work;
        worked_ = true;
        leftAloneMs_ = 0;
    }
    // A close that restarted the unit into its bootloader was its replug or power cycle, in the
    // middle of its update.
    bool replug = k.restartsToBoot != restartsSeen_;
    restartsSeen_ = k.restartsToBoot;
    // The end of its update run: the host closed the link, or went back to looking.
    if ((k.closes != closesSeen_ && !replug) || k.looks != looksSeen_) {
        if (worked_) leftAloneMs_ = nowMs;
        worked_ = false;
    }
    closesSeen_ = k.closes;
    looksSeen_ = k.looks;
    if (leftAloneMs_ == 0 || nowMs - leftAloneMs_ < LeaveAfterMs(unit_)) return false;
    rt.Replace(empty_, nowMs);
    rt.Note("unit " + std::to_string(unit_) + " left");
    left_(unit_, *current_, nowMs - arrivedAtMs_);
    current_.reset();
    unit_ = 0;
    nextArrivalMs_ = nowMs + plan_.arriveEveryMs;
    return false;
}

}  // namespace plcsim
