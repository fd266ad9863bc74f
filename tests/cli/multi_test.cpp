// Several ports at once: the rows and the table from what each port's process writes, and the
// command line a Windows worker is started with.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/multi.h"

namespace {

// The C runtime's split of a command line (backslashes count only before a quote).
std::vector<std::string> SplitAsWindowsDoes(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == line.size()) break;
        std::string arg;
        bool quoted = false;
        for (; i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')); ++i) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1)
                    arg += '"';
                else
                    quoted = !quoted;
            } else {
                arg.append(backslashes, '\\');
                if (i == line.size()) break;
                if (!quoted && (line[i] == ' ' || line[i] == '\t')) break;
                arg += line[i];
            }
        }
        args.push_back(arg);
    }
    return args;
}

TEST(SeveralPorts, WorkerCommandLineSplitsBackIntoItsArguments) {
    ASSERT_EQ(SplitAsWindowsDoes(R"(a\\\"b "c d" e\\f "g\\")"),
              (std::vector<std::string>{R"(a\"b)", "c d", R"(e\\f)", R"(g\)"}));
    const std::vector<std::string> argv = {
        R"(C:\Program Files\Korvel\PLC Firmware Update\plcfwupdate-cli.exe)",
        "--port", "COM3", "--record", R"(C:\records dir\)", "", R"(say "hi")",
        R"(\\server\share\a b.bin)", "tab\there", R"(trailing\\)", R"(x\"y)"};
    std::string line = plccli::WindowsCommandLine(argv);
    EXPECT_EQ(SplitAsWindowsDoes(line), argv) << line;
    EXPECT_EQ(plccli::WindowsCommandLine({"--port", "COM3"}), "--port COM3");
}

TEST(SeveralPorts, RowsAndTableFromEachPortsEvents) {
    const std::string start = R"({"event":"start","port":"COM3","model":"QM2-E","image":"x","bytes":1})";
    struct Case {
        const char* port;
        std::string output;  // what its process wrote, in two pieces split mid-line
        int exitStatus;
        const char* row;  // the outcome and message columns of its table row
    } cases[] = {
        {"COM3",
         start + "\r\n" + R"({"event":"phase","status":"Programming"})" + "\r\n" +
             R"({"event":"outcome","caption":"INFORMATION","message":"Firmware update is SUCCESSFUL","errors":0,"exit_status":0})" +
             "\r\n",
         0, "succeeded       0.0 s      0  [INFORMATION] Firmware update is SUCCESSFUL"},
        {"COM4",
         start + "\n" +
             R"({"event":"outcome","caption":"ERROR","message":"Flash write error","errors":2,"exit_status":1})" +
             "\n",
         1, "FAILED          0.0 s      2  [ERROR] Flash write error"},
        {"COM5", start + "\n", 0,
         "FAILED          0.0 s      0  [ERROR] the worker process ended without an outcome"},
    };
    std::ostringstream out, err, events, quiet;
    plccli::SeveralOutput text{out, err, false, false};
    plccli::SeveralOutput json{events, quiet, false, true};
    std::vector<plccli::PortRow> rows, jsonRows;
    for (const auto& c : cases) {
        for (auto* list : {&rows, &jsonRows}) {
            const plccli::SeveralOutput& o = list == &rows ? text : json;
            plccli::PortRow row;
            row.port = c.port;
            size_t half = c.output.size() / 2;
            plccli::TakeOutput(&row, c.output.data(), half, o);
            plccli::TakeOutput(&row, c.output.data() + half, c.output.size() - half, o);
            row.started = row.ended = plccli::PortRow::Clock::now();
            plccli::TakeExit(&row, c.exitStatus, 0, o);
            row.ended = row.started;
            list->push_back(row);
        }
    }
    plccli::PrintSummary(rows, text);
    plccli::PrintSummary(jsonRows, json);
    for (const auto& c : cases)
        EXPECT_NE(out.str().find(std::string(c.port) + std::string(21, ' ') + "QM2-E      " + c.row),
                  std::string::npos)
            << out.str();
    EXPECT_NE(err.str().find("COM3: Programming\n"), std::string::npos) << err.str();
    std::ostringstream said;
    EXPECT_EQ(plccli::SeveralExitStatus(rows, 0, said), 1);
    EXPECT_EQ(plccli::SeveralExitStatus({rows[0]}, 0, said), 0);
    EXPECT_EQ(plccli::SeveralExitStatus({rows[0]}, 130, said), 130);
    plccli::PortRow unrecorded = rows[0];
    unrecorded.exitStatus = plccli::EXIT_NOT_RECORDED;
    EXPECT_EQ(plccli::SeveralExitStatus({rows[0], unrecorded}, 0, said), plccli::EXIT_NOT_RECORDED);
    EXPECT_NE(said.str().find("record line could not be written"), std::string::npos);

    // --events: every line of every port, each naming its port, and nothing else.
    std::istringstream lines(events.str());
    std::string line;
    int outcomes = 0;
    while (std::getline(lines, line)) {
        EXPECT_EQ(line.find("PORT"), std::string::npos) << line;
        EXPECT_NE(plccli::EventField(line, "port"), "") << line;
        if (plccli::EventField(line, "event") == "outcome") {
            ++outcomes;
            EXPECT_EQ(line.rfind("{\"event\":\"outcome\",\"port\":", 0), 0u) << line;
        }
    }
    EXPECT_EQ(outcomes, 3);
    EXPECT_EQ(quiet.str(), "");
}

}  // namespace
