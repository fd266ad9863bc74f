// Station soak: whole stations (plccli::Station with the engine's looks and StartBurn) on the
// virtual clock, each a port on which simulated units of one model arrive and leave, with gaps
// of 0.5 s to 10 s, units left in for a minute, replies lost at random and in runs of up to
// five, late by up to 200 ms and damaged, noise on the empty line, write-protected units and
// units in RUN mode. For every station it checks that no unit is written twice, that every unit
// that came 1 s or more after the one before left (0.25 s for a USB-attached model that restarts
// only when replugged) is updated exactly once and within 1.5 s of
// its arrival, that the tally equals what the units themselves were given, and that the looks
// count no error and leave no link open.
//   station_soak [--stations N] [--seed S] [--verbose] [--show N (a station's lines)]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command/exit_status.h"
#include "cli/station/station.h"
#include "platform/hooks.h"
#include "platform/resource_image.h"
#include "platform/virtual.h"
#include "sim/sim.h"
#include "update/update.h"

namespace {

const char* const LINE = "line";
// A unit the station never updates leaves after this long.
constexpr uint64_t UNWRITTEN_STAY_MS = 30000;
// A station still running this long after its start has lost its way.
constexpr uint64_t STATION_LIMIT_MS = 30 * 60 * 1000;
// Gaps from this on must be seen; the station's promise. A USB-attached model that restarts only
// when replugged has gone once its device is absent for two looks: a fifth of a second is seen.
constexpr uint64_t SEEN_GAP_MS = 1000;
constexpr uint64_t SEEN_ABSENT_GAP_MS = 250;
constexpr uint64_t ARRIVAL_TO_START_MS = 1500;

struct Unit {
    uint64_t gapMs = 0;   // after the unit before left (the first: after the start)
    uint64_t stayMs = 0;  // after its update ended
    std::string fault;    // for the label
    bool lossy = false;   // its replies are lost, damaged or late at random
    std::shared_ptr<plcsim::Plc> plc;
    // What happened to it.
    uint64_t arrivedMs = 0, leftMs = 0;
    int updates = 0;
    int status = -1;  // the last update's exit status
    uint64_t startedMs = 0;
};

// The line between the station and whichever unit is plugged in: a unit's replies reach the
// host at their times unless it has been unplugged by then; noise on the line while it is empty.
class Line : public platform::VirtualPeer {
  public:
    // The units' gaps and the noise's times count from startMs.
    Line(std::vector<Unit>& units, bool usb, std::vector<std::pair<uint64_t, uint8_t>> noise,
         uint64_t startMs)
        : units_(units), usb_(usb), noise_(std::move(noise)), lastLeftMs_(startMs) {
        nextMs_ = startMs + units_[0].gapMs;
        for (auto& n : noise_) n.first += startMs;
    }
    // The unit on the line, or nullptr.
    Unit* Present() { return present_ ? &units_[index_] : nullptr; }
    bool Over() const { return index_ >= units_.size(); }
    uint64_t LastLeftMs() const { return lastLeftMs_; }
    // The unit on the line stays while it is updated, and stayMs after its first update: one
    // written again is not kept there longer.
    void Updating() {
        if (units_[index_].updates == 1) nextMs_ = UINT64_MAX;
    }
    void Updated(uint64_t nowMs) {
        if (units_[index_].updates == 1) nextMs_ = nowMs + units_[index_].stayMs;
    }

    // Arrivals and departures up to nowMs.
    void Advance(uint64_t nowMs, platform::VirtualLink* link) {
        while (!Over() && nextMs_ <= nowMs) {
            Unit& u = units_[index_];
            if (!present_) {
                present_ = true;
                u.arrivedMs = nextMs_;
                nextMs_ += UNWRITTEN_STAY_MS;
                if (open_) u.plc->Open(u.arrivedMs);
                continue;
            }
            present_ = false;
            u.leftMs = lastLeftMs_ = nextMs_;
            pending_.clear();
            if (link != nullptr) link->DropPending();
            if (++index_ < units_.size()) nextMs_ = u.leftMs + units_[index_].gapMs;
        }
    }

    bool OnOpen(platform::VirtualLink& link) override {
        uint64_t now = platform::VirtualNowMs();
        Advance(now, &link);
        bool opened = present_ ? units_[index_].plc->Open(now) : !usb_;
        open_ = opened;
        return opened;
    }
    void OnClose(platform::VirtualLink& link) override {
        uint64_t now = platform::VirtualNowMs();
        Advance(now, &link);
        if (present_) units_[index_].plc->Close(now);
        open_ = false;
        pending_.clear();
        link.DropPending();
    }
    size_t OnWrite(platform::VirtualLink& link, const uint8_t* data, size_t len,
                   uint64_t nowMs) override {
        Advance(nowMs, &link);
        if (!present_) return usb_ ? 0 : len;
        plcsim::Plc& plc = *units_[index_].plc;
        std::vector<plcsim::TimedByte> replies;
        size_t took = plc.Write(data, len, nowMs, {link.Line(), true}, &replies);
        if (plc.TakeDropPending()) {
            pending_.clear();
            link.DropPending();
        }
        pending_.insert(pending_.end(), replies.begin(), replies.end());
        return took;
    }
    void OnRead(platform::VirtualLink& link, uint64_t nowMs, uint64_t deadlineMs) override {
        Advance(nowMs, &link);
        // What is due before the deadline, and before the unit is pulled out.
        uint64_t until = present_ && nextMs_ <= deadlineMs ? nextMs_ - 1 : deadlineMs;
        size_t n = 0;
        while (n < pending_.size() && pending_[n].atMs <= until) {
            const plcsim::TimedByte& b = pending_[n++];
            if (b.glitch)
                link.DeliverGlitch(b.byte, b.atMs);
            else
                link.Deliver(&b.byte, 1, b.atMs);
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
        while (!noise_.empty() && noise_.front().first <= deadlineMs) {
            if (!present_) link.DeliverGlitch(noise_.front().second, noise_.front().first);
            noise_.erase(noise_.begin());
        }
    }

  private:
    std::vector<Unit>& units_;
    bool usb_;
    std::vector<std::pair<uint64_t, uint8_t>> noise_;  // (time, byte), in time order
    size_t index_ = 0;
    bool present_ = false;
    bool open_ = false;
    uint64_t nextMs_ = 0;  // the next arrival or departure
    uint64_t lastLeftMs_;  // the last departure, or the start
    std::vector<plcsim::TimedByte> pending_;
};

// Lines written to it, each with the virtual time it was flushed at.
class TimedLines : public std::stringbuf {
  public:
    std::vector<std::pair<uint64_t, std::string>> lines;

  protected:
    int sync() override {
        std::string text = str();
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.emplace_back(platform::VirtualNowMs(), text.substr(start, end - start));
        str(text.substr(start));
        return 0;
    }
};

struct Figures {
    uint64_t units = 0, written = 0, failed = 0, skipped = 0, shortGaps = 0;
    uint64_t maxStartMs = 0, sumStartMs = 0, started = 0;
    uint64_t maxLossyStartMs = 0;  // units whose replies were lost, damaged or late
    uint64_t maxGoneMs = 0, sumGoneMs = 0, gone = 0;
    uint64_t largestGapSkipped = 0, smallestGapWritten = UINT64_MAX;
    uint64_t looks = 0;
};

std::string Fault(std::mt19937& rng, plcsim::Plc& plc) {
    auto pick = [&](uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); };
    auto chance = [&] { return std::to_string(5 + pick(26)) + "%"; };  // 5 % to 30 %
    std::vector<std::string> faults;
    switch (pick(9)) {
        case 0:
        case 1:
            break;
        case 2:
            faults = {"drop:" + chance() + ":probe", "drop:" + chance() + ":wakeup"};
            break;
        case 3: {
            std::string run = "x" + std::to_string(1 + pick(5));
            faults = {"drop:" + chance() + run + ":probe", "drop:" + chance() + run + ":wakeup"};
            break;
        }
        case 4:
            faults = {"corrupt:" + chance() + ":probe", "corrupt:" + chance() + ":wakeup"};
            break;
        case 5:
        case 6: {
            // Runs of up to five lost, damaged and late replies together. Late ones stand apart:
            // a PLC answers one request at a time, and two in a row would make the second later.
            std::string run = "x" + std::to_string(1 + pick(5));
            faults = {"drop:" + chance() + run + ":probe", "drop:" + chance() + run + ":wakeup",
                      "corrupt:5%:probe"};
            for (uint32_t n = 1 + pick(8); n < 800; n += 8 + pick(40))
                faults.push_back("late:" + std::string(pick(2) ? "probe" : "wakeup") + "@" +
                                 std::to_string(n) + ":" + std::to_string(20 + pick(181)));
            break;
        }
        case 7: {
            plcsim::Config cfg = plc.GetConfig();
            cfg.writeProtected = true;
            plc.SetConfig(cfg);
            return "write-protected";
        }
        default:
            faults = {"runmode"};
            break;
    }
    std::string label;
    for (const std::string& f : faults) {
        plc.AddFault(f);
        label += (label.empty() ? "" : " ") + f;
    }
    return label;
}

// One unit's plan: its gap, its stay and its faults. A third of the gaps around seenGapMs.
Unit PlanUnit(std::mt19937& rng, uint32_t idx, bool boot, bool first, uint64_t seenGapMs) {
    auto between = [&](uint64_t lo, uint64_t hi) {
        return std::uniform_int_distribution<uint64_t>(lo, hi)(rng);
    };
    Unit u;
    uint32_t kind = static_cast<uint32_t>(between(0, 9));
    // A third of the swaps around the gap the station promises to see.
    u.gapMs = kind < 3 ? between(seenGapMs / 2, 1500) : between(1500, 10000);
    if (first) u.gapMs = between(500, 3000);
    uint32_t stay = static_cast<uint32_t>(between(0, 19));
    u.stayMs = stay == 0 ? 60000 : stay == 1 ? between(0, 2000) : between(2000, 8000);
    u.plc = std::make_shared<plcsim::Plc>([&] {
        plcsim::Config cfg;
        plcsim::DefaultConfig(plcList[idx], &cfg);
        if (boot) cfg.start = plcsim::StartMode::Boot;
        return cfg;
    }());
    u.plc->SetSeed(static_cast<uint32_t>(rng()));
    u.fault = Fault(rng, *u.plc);
    u.lossy = u.fault.find(':') != std::string::npos;
    return u;
}

// Noise on the empty line before the first unit: stray bytes, a cut probe reply, one with a
// wrong digit, a wake-up reply. None of it is a PLC.
std::vector<std::pair<uint64_t, uint8_t>> PlanNoise(std::mt19937& rng, uint64_t untilMs) {
    static const char* const kNoise[] = {"\x55", ":00640159050", ":006401590500003E\r\n",
                                         ":007F067B\r\n", ":0064015905000G3D\r\n"};
    std::vector<std::pair<uint64_t, uint8_t>> noise;
    for (uint64_t at = 50; at + 200 < untilMs; at += 100 + rng() % 400) {
        const char* text = kNoise[rng() % std::size(kNoise)];
        for (size_t i = 0; text[i] != '\0'; ++i)
            noise.emplace_back(at + i, static_cast<uint8_t>(text[i]));
    }
    return noise;
}

int RunUpdate(const std::vector<uint8_t>& image, bool recordFails) {
    platform::FrontEndHooks hooks;
    hooks.messageBox = [](HWND, const char*, const char*, UINT) { return IDOK; };
    hooks.enableWindow = [](HWND, BOOL) { return TRUE; };
    platform::SetFrontEndHooks(hooks);
    platform::SetResourceImage(image.data(), image.size());
    paramStruct = ParamStruct{reinterpret_cast<HWND>(1), reinterpret_cast<HWND>(2)};
    StartBurn(&paramStruct);
    platform::ClearFrontEndHooks();
    if (plcReport.outcome != OUTCOME_SUCCESS) return plccli::EXIT_FAILED;
    return recordFails ? plccli::EXIT_NOT_RECORDED : plccli::EXIT_SUCCESSFUL;
}

struct Soak {
    uint32_t seed = 1;
    bool verbose = false;
    int show = -1;  // the station whose lines are printed
    int violations = 0;
    Figures fig;

    void Violation(int station, const std::string& label, const std::string& what) {
        ++violations;
        if (violations <= 30)
            std::printf("VIOLATION station %d (%s): %s\n", station, label.c_str(), what.c_str());
    }

    Figures absentFig;  // the stations of USB models whose absence is proof they have gone

    void RunStation(int n, std::mt19937& rng);
    void Check(int n, const std::string& label, std::vector<Unit>& units, uint64_t startMs,
               const plccli::StationTally& t, int status, const TimedLines& events,
               bool goneOnceAbsent);
};

void Soak::RunStation(int n, std::mt19937& rng) {
    uint32_t idx = static_cast<uint32_t>(n) % PLC_COUNT;
    bool usb = ModelIn(idx, USB_ATTACHED_MODELS);
    bool goneOnceAbsent = usb && plccli::GoneOnceAbsent(idx);
    uint64_t seenGapMs = goneOnceAbsent ? SEEN_ABSENT_GAP_MS : SEEN_GAP_MS;
    uint32_t size = std::min<uint32_t>(MaxImageBytes(idx), MinImageBytes(idx) + rng() % 2048);
    std::vector<uint8_t> image(size);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    std::vector<Unit> units;
    uint32_t count = 2 + rng() % 4;
    for (uint32_t i = 0; i < count; ++i)
        units.push_back(PlanUnit(rng, idx, rng() % 5 == 0, i == 0, seenGapMs));
    bool noisy = !usb && rng() % 8 == 0;
    if (noisy) units[0].gapMs = 3000 + rng() % 5000;
    std::string label = std::string(plcList[idx]) + ", " + std::to_string(size) + " bytes" +
                        (noisy ? ", noise before the first unit" : "");

    SelectPLC(idx);
    SetSelectedComPort(LINE);
    SetLinkOverride(LINE);
    std::vector<std::pair<uint64_t, uint8_t>> noise;
    if (noisy) noise = PlanNoise(rng, units[0].gapMs);
    uint64_t startMs = platform::VirtualNowMs();
    auto line = std::make_shared<Line>(units, usb, noise, startMs);
    platform::RegisterVirtualLink(LINE, line);

    plccli::StationConfig config;
    config.port = LINE;
    config.usbAttached = usb;
    config.goneOnceAbsent = goneOnceAbsent;
    config.events = true;
    TimedLines events;
    std::ostream out(&events);
    std::ostringstream err;
    plccli::Station* self = nullptr;
    plccli::StationHooks hooks;
    hooks.look = [&] {
        uint64_t now = platform::VirtualNowMs();
        if (line->Over() && now > line->LastLeftMs() + 3000)
            self->Interrupt(plccli::EXIT_INTERRUPTED, false);
        if (now > startMs + STATION_LIMIT_MS) {
            Violation(n, label, "the station still runs after 30 minutes");
            self->Interrupt(plccli::EXIT_INTERRUPTED, false);
        }
        LinkPresence seen = LookForPlc();
        ++(goneOnceAbsent ? absentFig : fig).looks;
        if (totalErrCounter != 0) Violation(n, label, "a look counted an error");
        return seen;
    };
    hooks.pause = [](uint32_t ms) { platform::AdvanceVirtualClock(ms); };
    hooks.nowMs = [] { return platform::VirtualNowMs(); };
    hooks.update = [&](uint32_t unit) -> int {
        Unit* u = line->Present();
        if (u == nullptr) {
            Violation(n, label, "unit " + std::to_string(unit) + ": an update with no unit there");
            return plccli::EXIT_FAILED;
        }
        ++u->updates;
        u->startedMs = platform::VirtualNowMs();
        line->Updating();
        u->status = RunUpdate(image, rng() % 20 == 0);
        line->Updated(platform::VirtualNowMs());
        return u->status;
    };
    plccli::Station station(config, hooks, out, err);
    self = &station;
    int status = station.Run();
    out.flush();
    if (n == show) {
        for (const auto& [at, text] : events.lines)
            std::printf("%8llu  %s\n", static_cast<unsigned long long>(at - startMs), text.c_str());
        std::printf("%s", err.str().c_str());
        for (const Unit& u : units)
            std::printf("unit: arrived %llu, left %llu, stay %llu, %s\n",
                        static_cast<unsigned long long>(u.arrivedMs - startMs),
                        static_cast<unsigned long long>(u.leftMs - startMs),
                        static_cast<unsigned long long>(u.stayMs), u.fault.c_str());
    }
    if (platform::OpenHandleCount() != 0) Violation(n, label, "a link left open");
    platform::UnregisterVirtualLink(LINE);
    Check(n, label, units, startMs, station.Tally(), status, events, goneOnceAbsent);
}

void Soak::Check(int n, const std::string& label, std::vector<Unit>& units, uint64_t startMs,
                 const plccli::StationTally& t, int status, const TimedLines& events,
                 bool goneOnceAbsent) {
    Figures& fig = goneOnceAbsent ? absentFig : this->fig;
    const uint64_t seenGapMs = goneOnceAbsent ? SEEN_ABSENT_GAP_MS : SEEN_GAP_MS;
    uint32_t done = 0, failed = 0;
    bool notRecorded = false;
    uint64_t previousLeft = startMs;
    for (size_t i = 0; i < units.size(); ++i) {
        Unit& u = units[i];
        std::string name = "unit " + std::to_string(i + 1) + " (gap " + std::to_string(u.gapMs) +
                           " ms, stay " + std::to_string(u.stayMs) + " ms" +
                           (u.fault.empty() ? "" : ", " + u.fault) + ")";
        plcsim::Counters k = u.plc->GetCounters();
        ++fig.units;
        if (u.updates > 1 || k.Seen(plcsim::Kind::Update) > 1)
            Violation(n, label,
                      name + ": written " + std::to_string(u.updates) + " times, " +
                          std::to_string(k.Seen(plcsim::Kind::Update)) + " transfers");
        uint64_t gap = u.arrivedMs - previousLeft;
        previousLeft = u.leftMs;
        bool promised = gap >= seenGapMs;
        if (!promised) ++fig.shortGaps;
        if (u.updates == 0) {
            ++fig.skipped;
            fig.largestGapSkipped = std::max(fig.largestGapSkipped, gap);
            if (promised) Violation(n, label, name + ": never written");
            continue;
        }
        fig.smallestGapWritten = std::min(fig.smallestGapWritten, gap);
        // How soon a unit's update starts depends on its line: a lossy one may take a few looks
        // more before a whole reply comes through.
        uint64_t startMs = u.startedMs - u.arrivedMs;
        if (promised && u.lossy) fig.maxLossyStartMs = std::max(fig.maxLossyStartMs, startMs);
        if (promised && !u.lossy) {
            fig.maxStartMs = std::max(fig.maxStartMs, startMs);
            fig.sumStartMs += startMs;
            ++fig.started;
            if (startMs > ARRIVAL_TO_START_MS)
                Violation(n, label,
                          name + ": updated " + std::to_string(startMs) + " ms after it arrived");
        }
        bool completed = k.updatesCompleted == 1 && u.plc->TransferComplete();
        bool succeeded = u.status != plccli::EXIT_FAILED;
        if (succeeded != completed)
            Violation(n, label,
                      name + ": reported " + (succeeded ? "SUCCESSFUL" : "FAILED") +
                          ", its flash " + (completed ? "written" : "not written"));
        succeeded ? ++done : ++failed;
        notRecorded = notRecorded || u.status == plccli::EXIT_NOT_RECORDED;
        // Unplug to waiting: the station's next "waiting" after the unit left, unless the next
        // unit came too soon to be seen.
        bool seenGone = i + 1 == units.size() || units[i + 1].gapMs >= seenGapMs;
        for (const auto& [at, text] : events.lines)
            if (seenGone && at >= u.leftMs &&
                text.find("\"state\":\"waiting\"") != std::string::npos) {
                fig.maxGoneMs = std::max(fig.maxGoneMs, at - u.leftMs);
                fig.sumGoneMs += at - u.leftMs;
                ++fig.gone;
                break;
            }
    }
    fig.written += done;
    fig.failed += failed;
    if (t.done != done || t.failed != failed)
        Violation(n, label,
                  "tally " + std::to_string(t.done) + " done, " + std::to_string(t.failed) +
                      " failed; the units: " + std::to_string(done) + " written, " +
                      std::to_string(failed) + " failed");
    // The soak ends every station with an interrupt once its units have gone.
    if (status != plccli::EXIT_INTERRUPTED)
        Violation(n, label, "exit status " + std::to_string(status));
    if (t.notRecorded != notRecorded) Violation(n, label, "a record failure lost from the tally");
    if (verbose)
        std::printf("station %d: %s: %u done, %u failed of %zu units\n", n, label.c_str(), done,
                    failed, units.size());
}

void PrintFigures(const char* what, uint64_t seenGapMs, const Figures& f) {
    std::printf("%s: %llu units, %llu looks\n", what, static_cast<unsigned long long>(f.units),
                static_cast<unsigned long long>(f.looks));
    std::printf(
        "  written %llu, failed %llu (faulted units), not written %llu (of %llu swapped "
        "within %llu ms)\n",
        static_cast<unsigned long long>(f.written), static_cast<unsigned long long>(f.failed),
        static_cast<unsigned long long>(f.skipped), static_cast<unsigned long long>(f.shortGaps),
        static_cast<unsigned long long>(seenGapMs));
    std::printf(
        "  arrival to update: at most %llu ms, %llu ms on average; on lossy lines at most "
        "%llu ms\n",
        static_cast<unsigned long long>(f.maxStartMs),
        static_cast<unsigned long long>(f.started ? f.sumStartMs / f.started : 0),
        static_cast<unsigned long long>(f.maxLossyStartMs));
    std::printf("  unplug to waiting: at most %llu ms, %llu ms on average\n",
                static_cast<unsigned long long>(f.maxGoneMs),
                static_cast<unsigned long long>(f.gone ? f.sumGoneMs / f.gone : 0));
    std::printf("  shortest gap written %llu ms, longest gap not written %llu ms\n",
                static_cast<unsigned long long>(f.smallestGapWritten),
                static_cast<unsigned long long>(f.largestGapSkipped));
}

}  // namespace

int main(int argc, char** argv) {
    int stations = 2000;
    Soak soak;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--stations") && i + 1 < argc)
            stations = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            soak.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (!std::strcmp(argv[i], "--verbose"))
            soak.verbose = true;
        else if (!std::strcmp(argv[i], "--show") && i + 1 < argc)
            soak.show = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr,
                         "usage: station_soak [--stations N] [--seed S] [--verbose] [--show N]\n");
            return 2;
        }
    }
    platform::SetVirtualSleep(true);
    std::mt19937 rng(soak.seed);
    for (int n = 0; n < stations; ++n) soak.RunStation(n, rng);
    SetLinkOverride(nullptr);

    std::printf("station soak: %d stations, seed %u\n", stations, soak.seed);
    PrintFigures("serial ports and USB models that re-enumerate by themselves", SEEN_GAP_MS,
                 soak.fig);
    PrintFigures("USB models that restart only when replugged", SEEN_ABSENT_GAP_MS, soak.absentFig);
    std::printf("invariant violations: %d\n", soak.violations);
    return soak.violations == 0 ? 0 : 1;
}
