// --events lines read back as the parent of an update of several ports reads them, and the
// arguments each port's process is given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/multi/processes.h"
#include "cli/run/events.h"

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
    std::string outcome = plccli::OutcomeEvent({"ERROR", "NO RESPONSE @ State 1", 6, 6}, 1);
    EXPECT_EQ(plccli::EventField(outcome, "exit_status"), "1");
    EXPECT_EQ(plccli::EventField(outcome, "message"), "NO RESPONSE @ State 1");
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
