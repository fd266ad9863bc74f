// --events lines read back as the parent of an update of several ports reads them, and the
// arguments each port's process is given.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/multi/processes.h"
#include "cli/run/events.h"
#include "cli/run/slow_replies.h"

namespace {

TEST(Events, FieldsReadBackAsWritten) {
    const std::string texts[] = {"",          "Firmware update is SUCCESSFUL", "say \"OK\"",
                                 "C:\\fw\\a", "two\nlines\tand\r",               "\x01\x7f\xe9"};
    for (const auto& text : texts) {
        std::string line = plccli::PromptEvent(text, "m", true);
        EXPECT_EQ(plccli::EventField(line, "caption"), text) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    }
    plccli::PanelSnapshot s;
    s.progress = 42;
    s.errors = 3;
    std::string progress = plccli::ProgressEvent(s, 77);
    EXPECT_EQ(plccli::EventField(progress, "event"), "progress");
    EXPECT_EQ(plccli::EventField(progress, "percent"), "42");
    EXPECT_EQ(plccli::EventField(progress, "blocks"), "77");
    EXPECT_EQ(plccli::EventField(progress, "errors"), "3");
    EXPECT_EQ(plccli::EventField(progress, "missing"), "");
    // Late replies: the figures in ms, the port's timer only where the system told it.
    for (int32_t timer : {-1, 16}) {
        std::string slow = plccli::SlowRepliesEvent({17350, 18050, 11631, timer});
        EXPECT_EQ(plccli::EventField(slow, "event"), "slow_replies");
        EXPECT_EQ(plccli::EventField(slow, "median_ms"), "17.4");
        EXPECT_EQ(plccli::EventField(slow, "p95_ms"), "18.1");
        EXPECT_EQ(plccli::EventField(slow, "times_line"), "2.49");
        EXPECT_EQ(plccli::EventField(slow, "latency_timer_ms"), timer < 0 ? "" : "16");
        EXPECT_EQ(plccli::EventField(slow, "message"),
                  plccli::SlowRepliesText({17350, 18050, 11631, timer}));
    }
    std::string outcome = plccli::OutcomeEvent({"ERROR", "NO RESPONSE @ State 1", 6, 6}, 1);
    EXPECT_EQ(plccli::EventField(outcome, "exit_status"), "1");
    EXPECT_EQ(plccli::EventField(outcome, "message"), "NO RESPONSE @ State 1");
}

TEST(Events, EveryPhaseOnceAndInOrderHoweverTheTicksFall) {
    // phases the ticks saw             phase events written
    const std::pair<std::vector<int32_t>, std::string> cases[] = {
        {{IDLE, ERASE, PROGRAM}, "Idle Erasing Programming "},
        {{IDLE, PROGRAM, PROGRAM}, "Idle Erasing Programming "},  // an erase between two ticks
        {{PROGRAM}, "Idle Erasing Programming "},
        {{IDLE, ERASE, ERASE}, "Idle Erasing "},
        {{IDLE, IDLE}, "Idle "},
        {{IDLE, PROGRAM, IDLE}, "Idle Erasing Programming Idle "},
    };
    for (const auto& [ticks, want] : cases) {
        std::ostringstream out;
        plccli::EventWriter events(&out);
        plccli::PanelSnapshot s;
        for (int32_t status : ticks) {
            s.status = status;
            events.Tick(s, 0);
        }
        std::istringstream lines(out.str());
        std::string phases;
        for (std::string line; std::getline(lines, line);)
            if (plccli::EventField(line, "event") == "phase")
                phases += plccli::EventField(line, "status") + " ";
        EXPECT_EQ(phases, want) << out.str();
    }
}

TEST(Events, EachPortsProcessGetsItsPortAndTheOtherOptions) {
    struct Case {
        std::vector<std::string> args, want;
    } cases[] = {
        {{"--port", "a", "--port", "b", "--yes"}, {"--yes", "--port", "p", "--events"}},
        {{"--port=a", "--ports-from", "f", "--image", "x.bin", "--events"},
         {"--image", "x.bin", "--port", "p", "--events"}},
        {{"--ports-from=f", "--record", "r.jsonl", "--yes"},
         {"--record", "r.jsonl", "--yes", "--port", "p", "--events"}},
    };
    for (const auto& c : cases) EXPECT_EQ(plccli::WorkerArgs(c.args, "p"), c.want);
}

}  // namespace
