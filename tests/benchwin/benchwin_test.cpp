// The bench window's decisions: its tiles from the console station's own event lines, the
// bench's tally and results, the tiles' grid, and what it asks of the console program.
#include <gtest/gtest.h>

#include "benchwin/bench.h"
#include "benchwin/event_line.h"
#include "benchwin/layout.h"
#include "benchwin/setup.h"
#include "benchwin/tile.h"
#include "catalogue/report.h"
#include "catalogue/state.h"
#include "cli/run/events.h"
#include "cli/station/station.h"

using namespace plcbench;

namespace {

TEST(BenchEventLine, FieldsOfALineOrNone) {
    struct Case {
        const char* line;
        bool ok;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {R"({"event":"station","unit":2,"state":"done, unplug"})", true, "state", "done, unplug"},
        {R"({"event":"station","unit":2,"state":"done, unplug"})", true, "unit", "2"},
        {R"( {"a" : "x\"y\\z" , "b" : true } )", true, "a", "x\"y\\z"},
        {R"({"message":"Flash write error\nline"})", true, "message", "Flash write error\nline"},
        // Latin-1 bytes as the record escapes them come back as UTF-8.
        {R"({"port":"COM\u00e9"})", true, "port", "COM\xc3\xa9"},
        {R"({"failed_units":[1,3],"mean_seconds":4.5})", true, "failed_units", "[1,3]"},
        {R"({"failed_units":[],"x":1})", true, "x", "1"},
        {"{\"event\":\"unit\"}\r", true, "event", "unit"},
        {R"({"event":"unit")", false, "event", ""},
        {R"({"event":"unit"} trailing)", false, "event", ""},
        {R"({"event":unit"})", false, "event", ""},
        {R"({"a":"\u00zz"})", false, "a", ""},
        {R"({"a":"open)", false, "a", ""},
        {R"({"a":})", false, "a", ""},
        {R"({})", false, "a", ""},
        {"plcfwupdate: unit 1: waiting", false, "a", ""},
        {"", false, "a", ""},
    };
    for (const auto& c : cases) {
        EventLine e;
        EXPECT_EQ(ParseEventLine(c.line, &e), c.ok) << c.line;
        EXPECT_EQ(Field(e, c.key), c.value) << c.line;
        if (!c.ok) {
            EXPECT_TRUE(e.empty()) << c.line;
        }
    }
    EventLine e;
    ASSERT_TRUE(ParseEventLine(R"({"n":"12x","m":-4,"s":8.25})", &e));
    EXPECT_EQ(NumberField(e, "n", 7), 7);
    EXPECT_EQ(NumberField(e, "m", 7), -4);
    EXPECT_EQ(NumberField(e, "absent", 7), 7);
    EXPECT_DOUBLE_EQ(DecimalField(e, "s", 0), 8.25);
}

TEST(BenchEventLine, PipePiecesBecomeWholeLines) {
    LineBuffer b;
    EXPECT_TRUE(b.Take("{\"a\":", 5).empty());
    auto lines = b.Take("1}\r\n{\"b\":2}\n{", 13);
    EXPECT_EQ(lines, (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}"}));
    // A line past the limit is dropped whole, and the next one is whole again.
    std::string huge(MAX_EVENT_LINE_BYTES + 10, 'x');
    EXPECT_TRUE(b.Take(huge.data(), huge.size()).empty());
    lines = b.Take("tail\nnext\n", 10);
    EXPECT_EQ(lines, (std::vector<std::string>{"next"}));
}

std::string Progress(int percent, int32_t step) {
    plccli::PanelSnapshot s;
    s.progress = percent;
    s.status = PROGRAM;
    s.step = step;
    return plccli::ProgressEvent(s, percent * 5);
}

std::string UnitLine(uint32_t unit, bool ok, uint64_t ms, uint32_t done, uint32_t failed) {
    plccli::StationTally t;
    t.done = done;
    t.failed = failed;
    return plccli::UnitEvent(unit, ok, ms, t, "2026-12-09T10:00:00Z");
}

std::string TallyLine(uint32_t done, uint32_t failed, uint32_t updating, int status) {
    plccli::StationTally t;
    t.done = done;
    t.failed = failed;
    t.updating = updating;
    return plccli::TallyEvent(t, "2026-12-09T10:00:00Z", status);
}

std::string Outcome(const char* caption, const char* text, int status) {
    plcrecord::RunOutcome o;
    o.caption = caption;
    o.text = text;
    return plccli::OutcomeEvent(o, status);
}

// A port's tile through the lines its worker writes (made by the console program's own
// functions), one row a line: what the tile says after it, and the result it gives.
TEST(BenchTile, FromTheStationsEvents) {
    struct Step {
        std::string line;
        uint64_t atMs;
        const char* state;
        TileColour colour;
        const char* detail;
        int percent;
        const char* timeLeft;
        const char* unit;
        const char* tally;
        int result;  // -1 none, else ResultKind
    };
    const int NONE = -1, DONE = 0, BAD = 1, CUT = 2;
    const auto GREY = TileColour::GREY, BLUE = TileColour::BLUE, GREEN = TileColour::GREEN,
               RED = TileColour::RED, AMBER = TileColour::AMBER;
    const Step steps[] = {
        {plccli::StationEvent(1, "waiting"), 0, "waiting for a PLC", GREY, "", 0, "", "unit 1",
         "0 done, 0 failed", NONE},
        {plccli::StationEvent(1, "updating"), 100, "updating", BLUE, "connecting", 0, "", "unit 1",
         "0 done, 0 failed", NONE},
        {plccli::StartEvent("COM5", "QM2-E", "QM2-E.bin", 65536), 110, "updating", BLUE,
         "connecting", 0, "", "unit 1", "0 done, 0 failed", NONE},
        {plccli::PhaseEvent(IDLE), 120, "updating", BLUE, "connecting", 0, "", "unit 1",
         "0 done, 0 failed", NONE},
        {plccli::PhaseEvent(ERASE), 1000, "updating", BLUE, "Erasing", 0, "", "unit 1",
         "0 done, 0 failed", NONE},
        {plccli::PhaseEvent(PROGRAM), 2000, "updating", BLUE, "Programming", 0, "", "unit 1",
         "0 done, 0 failed", NONE},
        // The rate is measured from the first progress of the transfer: 20 % in 4 s, 80 % left.
        {Progress(10, STEP_PROGRAMMING), 2000, "updating", BLUE, "Programming", 10, "", "unit 1",
         "0 done, 0 failed", NONE},
        {Progress(30, STEP_PROGRAMMING), 6000, "updating", BLUE, "Programming", 30, "14 s left",
         "unit 1", "0 done, 0 failed", NONE},
        {Progress(130, STEP_PROGRAMMING), 7000, "updating", BLUE, "Programming", 100, "0 s left",
         "unit 1", "0 done, 0 failed", NONE},
        {Outcome("INFORMATION", "Firmware update is SUCCESSFUL", 0), 7100, "updating", BLUE,
         "Programming", 100, "0 s left", "unit 1", "0 done, 0 failed", NONE},
        {UnitLine(1, true, 7000, 1, 0), 7100, "updating", BLUE, "Programming", 100, "0 s left",
         "unit 1", "1 done, 0 failed", DONE},
        {plccli::StationEvent(1, "done, unplug"), 7200, "SUCCESSFUL: unplug it", GREEN, "", 0, "",
         "unit 1", "1 done, 0 failed", NONE},
        {plccli::StationEvent(1, "still answers"), 10200, "still answers: unplug it", AMBER,
         "SUCCESSFUL", 0, "", "unit 1", "1 done, 0 failed", NONE},
        {plccli::StationEvent(2, "waiting"), 12000, "waiting for a PLC", GREY, "", 0, "", "unit 2",
         "1 done, 0 failed", NONE},
        {plccli::StationEvent(2, "updating"), 13000, "updating", BLUE, "connecting", 0, "",
         "unit 2", "1 done, 0 failed", NONE},
        {Outcome("ERROR", "Flash write error", 1), 15000, "updating", BLUE, "connecting", 0, "",
         "unit 2", "1 done, 0 failed", NONE},
        {UnitLine(2, false, 2000, 1, 1), 15000, "updating", BLUE, "connecting", 0, "", "unit 2",
         "1 done, 1 failed", BAD},
        {plccli::StationEvent(2, "failed, unplug"), 15100, "FAILED: set it aside", RED,
         "Flash write error", 0, "", "unit 2", "1 done, 1 failed", NONE},
        {"not a line of ours", 15200, "FAILED: set it aside", RED, "Flash write error", 0, "",
         "unit 2", "1 done, 1 failed", NONE},
        // A failed unit that still answers stays red: set aside is what matters.
        {plccli::StationEvent(2, "still answers"), 18100, "FAILED: set it aside", RED,
         "Flash write error", 0, "", "unit 2", "1 done, 1 failed", NONE},
        {plccli::StationEvent(3, "updating"), 20000, "updating", BLUE, "connecting", 0, "",
         "unit 3", "1 done, 1 failed", NONE},
        // Stop during unit 3: its outcome, then the tally that names it.
        {Outcome("", "interrupted during Programming at 40%", 130), 21000, "stopped", GREY, "", 0,
         "", "unit 3", "1 done, 1 failed", NONE},
        {TallyLine(1, 1, 3, 130), 21000, "stopped", GREY, "unit 3 interrupted", 0, "", "unit 3",
         "1 done, 1 failed", CUT},
    };
    Tile tile;
    tile.port = "COM5";
    EXPECT_EQ(ViewOf(tile, 0).state, "not started");
    for (const auto& s : steps) {
        EventLine e;
        ParseEventLine(s.line, &e);
        UnitResult r;
        bool ended = ApplyEvent(&tile, e, s.atMs, &r);
        TileView v = ViewOf(tile, s.atMs);
        EXPECT_EQ(v.state, s.state) << s.line;
        EXPECT_EQ(v.colour, s.colour) << s.line;
        EXPECT_EQ(v.detail, s.detail) << s.line;
        EXPECT_EQ(v.bar ? v.percent : 0, s.percent) << s.line;
        EXPECT_EQ(v.timeLeft, s.timeLeft) << s.line;
        EXPECT_EQ(v.unit, s.unit) << s.line;
        EXPECT_EQ(v.tally, s.tally) << s.line;
        EXPECT_EQ(ended ? static_cast<int>(r.kind) : NONE, s.result) << s.line;
        if (ended) {
            EXPECT_EQ(r.port, "COM5");
        }
        EXPECT_EQ(UnitInHand(tile), v.state == std::string("updating")) << s.line;
    }
    WorkerEnded(&tile, 130);
    EXPECT_EQ(ViewOf(tile, 0).state, "stopped");

    // A worker that ends without its tally is not running, and says how it ended.
    Tile lost;
    lost.port = "COM6";
    EventLine e;
    UnitResult r;
    ParseEventLine(plccli::StationEvent(1, "waiting"), &e);
    ApplyEvent(&lost, e, 0, &r);
    WorkerEnded(&lost, 2);
    TileView v = ViewOf(lost, 0);
    EXPECT_EQ(v.state, "not running");
    EXPECT_EQ(v.colour, RED);
    EXPECT_EQ(v.detail, "the console program ended (exit status 2)");
    // A port that does not open, as the station's waiting line says, and then opens.
    Tile waiting;
    ParseEventLine(plccli::StationEvent(1, "waiting"), &e);
    ApplyEvent(&waiting, e, 0, &r);
    WorkerSaid(&waiting,
               "plcfwupdate: unit 1: waiting for a PLC on COM5 (0 done, 0 failed): the port does "
               "not open");
    EXPECT_EQ(ViewOf(waiting, 0).detail, "the port does not open");
    WorkerSaid(&waiting, "plcfwupdate: unit 1: waiting for a PLC on COM5 (0 done, 0 failed)");
    EXPECT_EQ(ViewOf(waiting, 0).detail, "");

    // What it said last says why, when it said anything.
    Tile refused;
    WorkerSaid(&refused, "plcfwupdate: cannot open the record file 'r.jsonl': Permission denied");
    WorkerSaid(&refused, "");
    WorkerEnded(&refused, 1);
    EXPECT_EQ(ViewOf(refused, 0).detail,
              "plcfwupdate: cannot open the record file 'r.jsonl': Permission denied");
    StartFailed(&lost, "cannot start plcfwupdate-cli.exe (error 2)");
    EXPECT_EQ(ViewOf(lost, 0).detail, "cannot start plcfwupdate-cli.exe (error 2)");
    ResetTile(&lost);
    EXPECT_EQ(lost.port, "COM6");
    EXPECT_EQ(ViewOf(lost, 0).state, "not started");
}

TEST(BenchTile, TimeLeftInMinutes) {
    Tile tile;
    EventLine e;
    UnitResult r;
    for (const std::string& line :
         {plccli::StationEvent(1, "updating"), plccli::PhaseEvent(PROGRAM)}) {
        ParseEventLine(line, &e);
        ApplyEvent(&tile, e, 0, &r);
    }
    ParseEventLine(Progress(0, STEP_PROGRAMMING), &e);
    ApplyEvent(&tile, e, 1000, &r);
    ParseEventLine(Progress(1, STEP_PROGRAMMING), &e);
    ApplyEvent(&tile, e, 2500, &r);
    EXPECT_EQ(ViewOf(tile, 2500).timeLeft, "2 min 29 s left");
}

TEST(BenchTally, TallyResultsAndBeeps) {
    std::vector<Tile> tiles(3);
    tiles[0].done = 2, tiles[0].unitSeconds = 20;
    tiles[1].done = 1, tiles[1].failed = 1, tiles[1].unitSeconds = 15.5;
    EXPECT_EQ(TallyText(TallyOf(tiles)), "Bench: 3 done, 1 failed; 8.9 s a unit on average");
    EXPECT_EQ(TallyText(TallyOf({})), "Bench: 0 done, 0 failed; 0.0 s a unit on average");

    Results results;
    for (uint32_t unit = 1; unit <= 12; ++unit)
        results.Add({"COM5", unit, ResultKind::SUCCESSFUL, 7.6},
                    "10:00:0" + std::to_string(unit % 10));
    ASSERT_EQ(results.Lines().size(), RESULTS_SHOWN);
    EXPECT_EQ(results.Lines().front(), "10:00:02  COM5  unit 12  SUCCESSFUL in 8 s");
    EXPECT_EQ(results.Lines().back(), "10:00:03  COM5  unit 3  SUCCESSFUL in 8 s");
    EXPECT_EQ(ResultLine({"COM6", 2, ResultKind::FAILED, 2}, "10:42:07"),
              "10:42:07  COM6  unit 2  FAILED in 2 s");
    EXPECT_EQ(ResultLine({"COM7", 4, ResultKind::INTERRUPTED, 0}, "10:42:09"),
              "10:42:09  COM7  unit 4  interrupted");

    EXPECT_EQ(BeepsFor({"COM5", 1, ResultKind::SUCCESSFUL, 1}), 1);
    EXPECT_EQ(BeepsFor({"COM5", 1, ResultKind::FAILED, 1}), 3);
    EXPECT_EQ(BeepsFor({"COM5", 1, ResultKind::INTERRUPTED, 0}), 0);
}

// The grid for 1 to 16 tiles: as large as the shape allows, inside the area, none over another.
TEST(BenchLayout, TilesFillTheArea) {
    struct Case {
        int count, width, height, gap;
        int columns, tileWidth, tileHeight;
    };
    const Case cases[] = {
        {1, 1000, 500, 10, 1, 980, 480}, {3, 1000, 300, 10, 3, 320, 280},  // wide: a row
        {3, 400, 900, 10, 1, 380, 286},                                    // tall: a column
        {4, 1000, 600, 10, 2, 485, 285}, {16, 1000, 600, 10, 4, 237, 137},
        {5, 1000, 600, 10, 2, 485, 186}, {2, 1000, 700, 0, 1, 1000, 350},
    };
    for (const auto& c : cases) {
        auto boxes = TileGrid(c.count, c.width, c.height, c.gap);
        ASSERT_EQ(static_cast<int>(boxes.size()), c.count) << c.count << " in " << c.width;
        EXPECT_EQ(boxes[0].width, c.tileWidth) << c.count << " in " << c.width;
        EXPECT_EQ(boxes[0].height, c.tileHeight) << c.count << " in " << c.width;
        int columns = 0;
        for (const auto& b : boxes) columns += b.y == boxes[0].y;
        EXPECT_EQ(columns, c.columns) << c.count << " in " << c.width;
        for (size_t i = 0; i < boxes.size(); ++i) {
            const Box& a = boxes[i];
            EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.width <= c.width &&
                        a.y + a.height <= c.height);
            for (size_t j = i + 1; j < boxes.size(); ++j) {
                const Box& b = boxes[j];
                EXPECT_TRUE(a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + a.height <= b.y ||
                            b.y + b.height <= a.y);
            }
        }
    }
    EXPECT_TRUE(TileGrid(0, 800, 600, 10).empty());
    EXPECT_TRUE(TileGrid(3, 0, 600, 10).empty());
    EXPECT_TRUE(TileGrid(16, 30, 30, 10).empty());  // no room: nothing, not a box of no size
}

TEST(BenchSetup, WhatTheConsoleProgramSaysAndItsWorkers) {
    ImageInfo info;
    const std::string sha(64, 'a');
    EXPECT_TRUE(
        ParseVersion("plcfwupdate 1.0.0\r\nembedded image: QM2-E_v1.0.0_20231115_01.bin, "
                     "65536 bytes, SHA-256 0123456789ab" +
                         sha.substr(12) + "\r\n",
                     &info));
    EXPECT_EQ(ImageText(info),
              "QM2-E_v1.0.0_20231115_01.bin, 65536 bytes, SHA-256 0123456789ab, model QM2-E");
    EXPECT_TRUE(ParseVersion("embedded image: a, b_c.bin, 9 bytes, SHA-256 " + sha, &info));
    EXPECT_EQ(info.file, "a, b_c.bin");
    EXPECT_EQ(info.model, "a, b");
    EXPECT_FALSE(ParseVersion("embedded image: x.bin, not present in this program\n", &info));
    EXPECT_FALSE(ParseVersion("embedded image: x.bin, 12 bytes, SHA-256 abc\n", &info));
    EXPECT_FALSE(ParseVersion("", &info));

    EXPECT_EQ(ParseListedPorts("COM10\r\nCOM5\r\n\r\n"),
              (std::vector<std::string>{"COM10", "COM5"}));
    EXPECT_EQ(ParseListedPorts("USB\tabsent: no USB device\n"), (std::vector<std::string>{"USB"}));
    EXPECT_EQ(ParseListedPorts("USB\t2 PLCs present\nusb:1-2.3\tx\nusb:1-2.4\tx\n"),
              (std::vector<std::string>{"usb:1-2.3", "usb:1-2.4"}));
    EXPECT_EQ(SplitPorts(" COM5, COM6;;rfc2217://127.0.0.1:4000 COM5\r\n"),
              (std::vector<std::string>{"COM5", "COM6", "rfc2217://127.0.0.1:4000"}));
    EXPECT_EQ(JoinPorts({"COM5", "usb:1-2"}), "COM5;usb:1-2");
    EXPECT_EQ(SplitPorts(JoinPorts({"COM5", "usb:1-2"})),
              (std::vector<std::string>{"COM5", "usb:1-2"}));

    EXPECT_EQ(WorkerCommandLine(R"(C:\Program Files\Korvel\plcfwupdate-cli.exe)", "COM5",
                                R"(C:\bench records\runs "a".jsonl)"),
              R"("C:\Program Files\Korvel\plcfwupdate-cli.exe" --station --port COM5 --events )"
              R"(--yes --record "C:\bench records\runs \"a\".jsonl")");
    EXPECT_EQ(WorkerCommandLine(R"(C:\k\plcfwupdate-cli.exe)", "usb:1-2.3", ""),
              R"(C:\k\plcfwupdate-cli.exe --station --port usb:1-2.3 --events --yes)");
}

}  // namespace
