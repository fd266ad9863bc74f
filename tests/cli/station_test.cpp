// The station on a scripted bench and a virtual clock: units arrive, are looked for, updated and
// waited out; which unit each update reached, and what the station said.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "cli/station.h"

namespace {

using plccli::Station;

// Units come one at a time: each arrives gapMs after the one before left (the first gapMs after
// the start) and leaves stayMs after its update ended. Looks and updates take their time.
struct Unit {
    bool fails = false;
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
    std::vector<int> updates;  // per unit, how often the station updated it

    void Advance(uint64_t ms) {
        now += ms;
        if (now >= leavesAt) {
            arrivesAt = leavesAt + gapMs;
            leavesAt = UINT64_MAX;
            ++index;
        }
    }
    bool Present() const { return index < units.size() && now >= arrivesAt; }
};

struct StationRun {
    int status = 0;
    std::string out, err;
};

StationRun RunStation(Bench& b, uint32_t units) {
    plccli::StationConfig config;
    config.port = "plc";
    config.started = "2026-12-07T12:00:00Z";
    config.units = units;
    config.usbAttached = b.usb;
    std::ostringstream out, err;
    Station* self = nullptr;
    plccli::StationHooks hooks;
    hooks.look = [&] {
        if (b.now > b.endMs) self->Interrupt(plccli::EXIT_INTERRUPTED, false);
        bool present = b.Present();
        b.Advance(present ? 1000 : 2500);
        if (present) return PRESENCE_ANSWERED;
        return b.usb ? PRESENCE_NO_LINK : PRESENCE_SILENT;
    };
    hooks.pause = [&](uint32_t ms) { b.Advance(ms); };
    hooks.nowMs = [&] { return b.now; };
    hooks.update = [&](uint32_t) {
        EXPECT_TRUE(b.Present()) << "an update with no unit on the link";
        size_t unit = b.index;
        ++b.updates.at(unit);
        b.Advance(4000);
        b.leavesAt = b.now + b.units[unit].stayMs;
        return b.units[unit].fails ? plccli::EXIT_FAILED : plccli::EXIT_SUCCESSFUL;
    };
    Station station(config, hooks, out, err);
    self = &station;
    StationRun r;
    r.status = station.Run();
    r.out = out.str();
    r.err = err.str();
    return r;
}

TEST(Station, EachUnitIsUpdatedOnceAndTheTallyAddsUp) {
    struct Case {
        const char* name;
        Bench bench;
        uint32_t units;
        int status;
        std::vector<int> updates;
        const char* tally;
    } cases[] = {
        {"five, the third failing",
         Bench({{}, {}, {true}, {}, {}}),
         5,
         plccli::EXIT_FAILED,
         {1, 1, 1, 1, 1},
         "station: 4 done, 1 failed (unit 3); 4.0 s a unit on average"},
        {"the second left plugged in for a minute",
         Bench({{}, {false, 60000}, {}}),
         3,
         plccli::EXIT_SUCCESSFUL,
         {1, 1, 1},
         "station: 3 done, 0 failed; 4.0 s a unit on average"},
        // Swapped faster than two silent looks: taken for the unit before, never written.
        {"swapped within a second",
         Bench({{}, {}}, 1000, false, 120000),
         2,
         plccli::EXIT_INTERRUPTED,
         {1, 0},
         "station: 1 done, 0 failed; 4.0 s a unit on average"},
        // A USB device that one look finds absent has gone.
        {"USB, swapped within three seconds",
         Bench({{}, {true}, {}}, 3000, true),
         3,
         plccli::EXIT_FAILED,
         {1, 1, 1},
         "station: 2 done, 1 failed (unit 2); 4.0 s a unit on average"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        StationRun r = RunStation(c.bench, c.units);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(c.bench.updates, c.updates);
        EXPECT_NE(r.out.find("plcfwupdate: " + std::string(c.tally) + "\n"), std::string::npos)
            << r.out;
    }
}

TEST(Station, SaysWhatItWaitsForAndEachResult) {
    Bench b(std::vector<Unit>{{}, {true}});
    StationRun r = RunStation(b, 2);
    EXPECT_EQ(r.out,
              "unit 1: SUCCESSFUL in 4 s; 1 done, 0 failed\n"
              "unit 2: FAILED in 4 s; 1 done, 1 failed\n"
              "plcfwupdate: station: 1 done, 1 failed (unit 2); 4.0 s a unit on average\n");
    EXPECT_EQ(r.err,
              "plcfwupdate: unit 1: waiting for a PLC on plc (0 done, 0 failed)\n"
              "plcfwupdate: unit 1: done, unplug it\n"
              "plcfwupdate: unit 2: waiting for a PLC on plc (1 done, 0 failed)\n");
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
