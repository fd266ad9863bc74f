// The station on a scripted bench and a virtual clock: units arrive, are looked for, updated and
// waited out; which unit each update reached, and what the station said.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/command/exit_status.h"
#include "cli/run/events.h"
#include "cli/station/station.h"

namespace {

using plccli::Station;

// Units come one at a time: each arrives gapMs after the one before left (the first gapMs after
// the start) and leaves stayMs after its update ended. A look takes LOOK_READ_MS and hears a unit
// that is there for the whole look; an update takes 4 s.
struct Unit {
    int status = plccli::EXIT_SUCCESSFUL;  // what its update returns
    uint64_t stayMs = 2000;
};

struct Bench {
    Bench(std::vector<Unit> u, uint64_t gap = 7000, bool isUsb = false, uint64_t end = 600000)
        : units(std::move(u)),
          gapMs(gap),
          usb(isUsb),
          endMs(end),
          arrivesAt(gap),
          updates(units.size(), 0) {}
    std::vector<Unit> units;
    uint64_t gapMs;
    bool usb;
    uint64_t endMs;  // the test's own limit: an interrupt then

    uint64_t now = 0;
    size_t index = 0;  // the unit that is or will be next on the link
    uint64_t arrivesAt, leavesAt = UINT64_MAX;
    std::vector<int> updates;   // per unit, how often the station updated it
    uint64_t slowestStart = 0;  // the longest from a unit's arrival to its update

    void Advance(uint64_t ms) {
        now += ms;
        if (now >= leavesAt) {
            arrivesAt = leavesAt + gapMs;
            leavesAt = UINT64_MAX;
            ++index;
        }
    }
    bool Present() const { return index < units.size() && now >= arrivesAt && now < leavesAt; }
};

struct StationRun {
    int status = 0;
    std::string out, err;
};

StationRun Drive(plccli::StationHooks hooks, plccli::StationConfig config, uint32_t units,
                 Station** self) {
    config.port = "plc";
    config.started = "2026-12-07T12:00:00Z";
    config.units = units;
    std::ostringstream out, err;
    Station station(config, std::move(hooks), out, err);
    *self = &station;
    StationRun r;
    r.status = station.Run();
    r.out = out.str();
    r.err = err.str();
    return r;
}

StationRun RunStation(Bench& b, uint32_t units, plccli::StationConfig config = {}) {
    config.usbAttached = b.usb;
    Station* self = nullptr;
    plccli::StationHooks hooks;
    hooks.look = [&] {
        if (b.now > b.endMs) self->Interrupt(plccli::EXIT_INTERRUPTED, false);
        bool present = b.Present();
        b.Advance(LOOK_READ_MS);
        if (present && b.Present()) return PRESENCE_ANSWERED;
        if (present || b.Present()) return PRESENCE_HEARD;
        return b.usb ? PRESENCE_NO_LINK : PRESENCE_SILENT;
    };
    hooks.pause = [&](uint32_t ms) { b.Advance(ms); };
    hooks.nowMs = [&] { return b.now; };
    hooks.update = [&](uint32_t) {
        EXPECT_TRUE(b.Present()) << "an update with no unit on the link";
        size_t unit = b.index;
        ++b.updates.at(unit);
        b.slowestStart = std::max(b.slowestStart, b.now - b.arrivesAt);
        b.Advance(4000);
        b.leavesAt = b.now + b.units[unit].stayMs;
        return b.units[unit].status;
    };
    return Drive(hooks, config, units, &self);
}

TEST(Station, EachUnitIsUpdatedOnceAndTheTallyAddsUp) {
    const int failed = plccli::EXIT_FAILED;
    struct Case {
        const char* name;
        Bench bench;
        uint32_t units;
        int status;
        std::vector<int> updates;
        const char* tally;
        bool goneOnceAbsent = false;
    } cases[] = {
        {"five, the third failing",
         Bench({{}, {}, Unit{failed}, {}, {}}),
         5,
         plccli::EXIT_FAILED,
         {1, 1, 1, 1, 1},
         "station: 4 done, 1 failed (unit 3); 4.0 s a unit on average"},
        {"the second left plugged in for a minute",
         Bench({{}, Unit{plccli::EXIT_SUCCESSFUL, 60000}, {}}),
         3,
         plccli::EXIT_SUCCESSFUL,
         {1, 1, 1},
         "station: 3 done, 0 failed; 4.0 s a unit on average"},
        {"swapped after a second",
         Bench({{}, {}, {}}, 1000),
         3,
         plccli::EXIT_SUCCESSFUL,
         {1, 1, 1},
         "station: 3 done, 0 failed; 4.0 s a unit on average"},
        // Swapped faster than the line can show: taken for the unit before, never written.
        {"swapped within half a second",
         Bench({{}, {}}, 500, false, 120000),
         2,
         plccli::EXIT_INTERRUPTED,
         {1, 0},
         "station: 1 done, 0 failed; 4.0 s a unit on average"},
        {"USB, swapped after a second",
         Bench({{}, Unit{failed}, {}}, 1000, true),
         3,
         plccli::EXIT_FAILED,
         {1, 1, 1},
         "station: 2 done, 1 failed (unit 2); 4.0 s a unit on average"},
        // A model that restarts only when replugged: its device absent is proof it has gone.
        {"USB, restarting only when replugged, swapped after half a second",
         Bench({{}, {}, {}}, 500, true),
         3,
         plccli::EXIT_SUCCESSFUL,
         {1, 1, 1},
         "station: 3 done, 0 failed; 4.0 s a unit on average",
         true},
        {"USB, restarting only when replugged, swapped within a tenth of a second",
         Bench({{}, {}}, 100, true, 120000),
         2,
         plccli::EXIT_INTERRUPTED,
         {1, 0},
         "station: 1 done, 0 failed; 4.0 s a unit on average",
         true},
        // Updated, but its record line was not written: done, and the exit status says so.
        {"a unit whose record failed",
         Bench({{}, Unit{plccli::EXIT_NOT_RECORDED}, {}}),
         3,
         plccli::EXIT_NOT_RECORDED,
         {1, 1, 1},
         "station: 3 done, 0 failed; 4.0 s a unit on average"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        plccli::StationConfig config;
        config.goneOnceAbsent = c.goneOnceAbsent;
        StationRun r = RunStation(c.bench, c.units, config);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(c.bench.updates, c.updates);
        EXPECT_LE(c.bench.slowestStart, 1500u);
        EXPECT_NE(r.out.find("plcfwupdate: " + std::string(c.tally) + "\n"), std::string::npos)
            << r.out;
    }
}

// What the looks found, one a look, and how many updates that makes: a unit has gone only after
// 850 ms without a byte over six looks or more, and only a whole probe reply is a new one.
TEST(Station, GoneOnlyAfterSilenceThatLossCannotMake) {
    const LinkPresence A = PRESENCE_ANSWERED, H = PRESENCE_HEARD, S = PRESENCE_SILENT,
                       N = PRESENCE_NO_LINK;
    auto times = [](LinkPresence p, size_t n) { return std::vector<LinkPresence>(n, p); };
    auto then = [](std::vector<LinkPresence> a, const std::vector<LinkPresence>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char* name;
        std::vector<LinkPresence> looks;  // after them an interrupt
        bool usb;
        uint32_t lookMs;  // how long each look takes
        int updates;
        bool goneOnceAbsent = false;
    } cases[] = {
        {"answered, silent once, answered", {A, S, A, A}, false, LOOK_READ_MS, 1},
        {"one silent look in two, for a minute", then({A}, times(S, 1)), false, LOOK_READ_MS, 1},
        {"nine silent looks, 800 ms", then(then({A}, times(S, 9)), {A}), false, LOOK_READ_MS, 1},
        {"ten silent looks, 900 ms", then(then({A}, times(S, 10)), {A}), false, LOOK_READ_MS, 2},
        {"gone, then only noise", then(then({A}, times(S, 10)), times(H, 50)), false, LOOK_READ_MS,
         1},
        {"a reply broken up between silent looks", then({A}, times(H, 1)), false, LOOK_READ_MS, 1},
        // A host that stalled asked nothing: two long looks are not six.
        {"two silent looks of 2 s", {A, S, S, A}, false, 2000, 1},
        {"a serial port that stops opening", then(then({A}, times(N, 30)), {A}), false,
         LOOK_READ_MS, 1},
        {"a USB device absent for 900 ms", then(then({A}, times(N, 10)), {A}), true, LOOK_READ_MS,
         2},
        {"a USB device absent for 500 ms", then(then({A}, times(N, 5)), {A}), true, LOOK_READ_MS,
         1},
        {"a USB device there but silent", then(then({A}, times(S, 50)), {A}), true, LOOK_READ_MS,
         1},
        // A model that restarts only when replugged has gone once its device was absent twice.
        {"replug only: absent for two looks", then(then({A}, times(N, 2)), {A}), true, LOOK_READ_MS,
         2, true},
        {"replug only: absent for one look in two, for a minute", then({A}, times(N, 1)), true,
         LOOK_READ_MS, 1, true},
        {"replug only: absent, heard, absent", {A, N, H, N, A}, true, LOOK_READ_MS, 1, true},
        {"replug only: there but silent", then(then({A}, times(S, 50)), {A}), true, LOOK_READ_MS, 1,
         true},
        {"replug only, a serial port silent for three looks", then(then({A}, times(S, 3)), {A}),
         false, LOOK_READ_MS, 1, true},
    };
    // Cases with a repeated pattern play it for a minute.
    for (auto& c : cases)
        if (c.looks.size() == 2)
            for (int i = 0; i < 300; ++i) c.looks.insert(c.looks.end(), {A, c.looks[1]});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t now = 0;
        size_t next = 0;
        int updates = 0;
        Station* self = nullptr;
        plccli::StationConfig config;
        config.usbAttached = c.usb;
        config.goneOnceAbsent = c.goneOnceAbsent;
        plccli::StationHooks hooks;
        hooks.look = [&] {
            now += c.lookMs;
            if (next < c.looks.size()) return c.looks[next++];
            self->Interrupt(plccli::EXIT_INTERRUPTED, false);
            return S;
        };
        hooks.pause = [&](uint32_t ms) { now += ms; };
        hooks.nowMs = [&] { return now; };
        hooks.update = [&](uint32_t) {
            ++updates;
            now += 4000;
            return plccli::EXIT_SUCCESSFUL;
        };
        Drive(hooks, config, 0, &self);
        EXPECT_EQ(updates, c.updates);
    }
}

TEST(Station, SaysWhatItWaitsForAndEachResult) {
    Bench b(std::vector<Unit>{{}, Unit{plccli::EXIT_FAILED, 5000}});
    StationRun r = RunStation(b, 3);
    EXPECT_EQ(r.out,
              "unit 1: SUCCESSFUL in 4 s; 1 done, 0 failed\n"
              "unit 2: FAILED in 4 s; 1 done, 1 failed\n"
              "plcfwupdate: station: 1 done, 1 failed (unit 2); 4.0 s a unit on average\n");
    EXPECT_EQ(r.err,
              "plcfwupdate: unit 1: waiting for a PLC on plc (0 done, 0 failed)\n"
              "plcfwupdate: unit 1: SUCCESSFUL, unplug it\n"
              "plcfwupdate: unit 2: waiting for a PLC on plc (1 done, 0 failed)\n"
              "plcfwupdate: unit 2: FAILED, unplug it and set it aside: not written again\n"
              "plcfwupdate: unit 2 still answers: unplug it; next unit once the line is silent\n"
              "plcfwupdate: unit 3: waiting for a PLC on plc (1 done, 1 failed)\n");
}

// On a terminal: a bell for a unit done, three for one failed; the result in colour unless the
// environment says no; the live line one column short of the terminal's width.
TEST(Station, OnATerminalRingsColoursAndFitsTheWidth) {
    struct Case {
        const char* name;
        const char* noColor;  // nullptr: unset
        const char* term;
        bool colour;
    } cases[] = {
        {"colour", nullptr, "xterm", true},
        {"NO_COLOR set", "1", "xterm", false},
        {"NO_COLOR empty", "", "xterm", true},
        {"a dumb terminal", nullptr, "dumb", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.noColor != nullptr)
            setenv("NO_COLOR", c.noColor, 1);
        else
            unsetenv("NO_COLOR");
        setenv("TERM", c.term, 1);
        Bench b(std::vector<Unit>{{}, Unit{plccli::EXIT_FAILED}});
        plccli::StationConfig config;
        config.terminal = true;
        config.width = [] { return size_t{40}; };
        StationRun r = RunStation(b, 3, config);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\a'), 4);
        const std::string red = "\033[31mFAILED\033[0m", green = "\033[32mSUCCESSFUL\033[0m";
        EXPECT_EQ(r.err.find(red) != std::string::npos, c.colour) << r.err;
        EXPECT_EQ(r.err.find(green) != std::string::npos, c.colour) << r.err;
        // A dumb terminal gets no escape sequence: the shorter line is wiped with spaces.
        if (std::string(c.term) == "dumb")
            EXPECT_EQ(r.err.find('\033'), std::string::npos) << r.err;
        else
            EXPECT_NE(r.err.find("\rplcfwupdate: unit 2: waiting for a PLC \033[K"),
                      std::string::npos);
    }
    unsetenv("NO_COLOR");
}

// Every USB-attached model of the catalogue restarts only when replugged: its absence is proof.
TEST(Station, AbsenceIsProofForEveryUsbAttachedModelAndNoOther) {
    int proof = 0;
    for (uint32_t row = 0; row < PLC_COUNT; ++row) {
        EXPECT_EQ(plccli::GoneOnceAbsent(row), ModelIn(row, USB_ATTACHED_MODELS)) << plcList[row];
        proof += plccli::GoneOnceAbsent(row) ? 1 : 0;
    }
    EXPECT_EQ(proof, 15);
    EXPECT_FALSE(plccli::GoneOnceAbsent(PLC_COUNT));
}

// While it waits, a USB station says what it looks for once no device has been there for 3 s; a
// device that is there but silent, or came and went meanwhile, is not said to be absent.
TEST(Station, SaysTheUsbDeviceIsAbsentOnlyWhenItIs) {
    const LinkPresence S = PRESENCE_SILENT, N = PRESENCE_NO_LINK;
    struct Case {
        const char* name;
        std::vector<LinkPresence> looks;  // 100 ms each, then an answer
        bool said;
    } cases[] = {
        {"absent for 3.5 s", std::vector<LinkPresence>(35, N), true},
        {"absent for 2.5 s", std::vector<LinkPresence>(25, N), false},
        {"there but silent for 5 s", std::vector<LinkPresence>(50, S), false},
        {"absent 2 s, silent once, absent 2 s",
         [&] {
             std::vector<LinkPresence> v(20, N);
             v.push_back(S);
             v.insert(v.end(), 20, N);
             return v;
         }(),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t now = 0;
        size_t next = 0;
        plccli::StationConfig config;
        config.port = "usb:1-2";
        config.units = 1;
        config.usbAttached = true;
        plccli::StationHooks hooks;
        hooks.look = [&] { return next < c.looks.size() ? c.looks[next++] : PRESENCE_ANSWERED; };
        hooks.pause = [&](uint32_t ms) { now += ms; };
        hooks.nowMs = [&] { return now; };
        hooks.update = [](uint32_t) { return plccli::EXIT_SUCCESSFUL; };
        std::ostringstream out, err;
        Station station(config, hooks, out, err);
        EXPECT_EQ(station.Run(), plccli::EXIT_SUCCESSFUL);
        EXPECT_EQ(err.str().find("no USB device with") != std::string::npos, c.said) << err.str();
    }
}

TEST(Station, SaysOnceThatTheSerialPortDoesNotOpen) {
    std::vector<LinkPresence> looks = {PRESENCE_NO_LINK, PRESENCE_NO_LINK, PRESENCE_SILENT,
                                       PRESENCE_ANSWERED};
    size_t next = 0;
    plccli::StationConfig config;
    config.port = "ttyUSB0";
    config.units = 1;
    plccli::StationHooks hooks;
    hooks.look = [&] { return looks.at(next++); };
    hooks.pause = [](uint32_t) {};
    hooks.nowMs = [] { return uint64_t{0}; };
    hooks.update = [](uint32_t) { return plccli::EXIT_SUCCESSFUL; };
    std::ostringstream out, err;
    Station station(config, hooks, out, err);
    EXPECT_EQ(station.Run(), plccli::EXIT_SUCCESSFUL);
    const std::string waiting =
        "plcfwupdate: unit 1: waiting for a PLC on ttyUSB0 (0 done, 0 failed)";
    EXPECT_EQ(err.str(), waiting + "\n" + waiting + ": the port does not open\n" + waiting + "\n");
}

// Ctrl-C comes on a thread of its own: while the station waits, the tally is printed there and
// the program ends; when a unit's run has just ended, Run reports the unit, then the tally.
TEST(StationThreads, AnInterruptEndsTheStationWithTheTally) {
    for (bool endsNow : {true, false}) {
        SCOPED_TRACE(endsNow ? "while waiting" : "after a unit");
        std::atomic<int> looks{0};
        plccli::StationConfig config;
        config.port = "plc";
        plccli::StationHooks hooks;
        // One unit that answers once, then a silent line until the interrupt.
        hooks.look = [&] { return ++looks == 1 ? PRESENCE_ANSWERED : PRESENCE_SILENT; };
        hooks.pause = [](uint32_t) { std::this_thread::yield(); };
        hooks.nowMs = [] { return uint64_t{0}; };
        hooks.update = [](uint32_t) { return plccli::EXIT_SUCCESSFUL; };
        std::ostringstream out, err;
        Station station(config, hooks, out, err);
        std::thread interrupt([&] {
            while (looks < 5) std::this_thread::yield();
            station.Interrupt(plccli::EXIT_INTERRUPTED, endsNow);
        });
        int status = station.Run();
        interrupt.join();
        EXPECT_EQ(status, plccli::EXIT_INTERRUPTED);
        EXPECT_EQ(out.str(),
                  "unit 1: SUCCESSFUL in 0 s; 1 done, 0 failed\n"
                  "plcfwupdate: station: 1 done, 0 failed; 0.0 s a unit on average\n");
    }
}

TEST(Station, EventsCarryTheUnitAndTheStationStart) {
    plccli::StationTally t;
    t.done = 6;
    t.failed = 1;
    t.failedUnits = {3};
    t.unitMs = 7 * 41000;
    std::string unit = plccli::UnitEvent(7, true, 41000, t, "2026-12-07T12:00:00Z");
    EXPECT_EQ(plccli::EventField(unit, "unit"), "7");
    EXPECT_EQ(plccli::EventField(unit, "station_started"), "2026-12-07T12:00:00Z");
    EXPECT_EQ(plccli::EventField(unit, "result"), "SUCCESSFUL");
    std::string tally = plccli::TallyEvent(t, "2026-12-07T12:00:00Z", 1);
    EXPECT_EQ(plccli::EventField(tally, "mean_seconds"), "41.0");
    EXPECT_NE(tally.find("\"failed_units\":[3]"), std::string::npos) << tally;
    plcrecord::RecordFields fields;
    fields.unit = 7;
    fields.stationStarted = "2026-12-07T12:00:00Z";
    std::string outcome =
        plccli::WithStationFields(plccli::OutcomeEvent({"ERROR", "x", 0, 0}, 1), fields);
    EXPECT_EQ(plccli::EventField(outcome, "unit"), "7");
    EXPECT_EQ(plccli::EventField(outcome, "exit_status"), "1");
    EXPECT_NE(plccli::RecordLine(fields).find("\"unit\":7,\"station_started\":"),
              std::string::npos);
}

}  // namespace
