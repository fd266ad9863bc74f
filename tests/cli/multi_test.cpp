// Several ports at once: the rows and the table from what each port's process writes, and the
// command line a Windows worker is started with.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/command/exit_status.h"
#include "cli/multi/multi.h"
#include "cli/multi/processes.h"
#include "cli/run/events.h"

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

std::string Outcome(const char* caption, const char* message, int exitStatus) {
    return std::string(R"({"event":"outcome","caption":")") + caption + R"(","message":")" +
           message + R"(","errors":2,"exit_status":)" + std::to_string(exitStatus) + "}\n";
}

// Each port's row in the table, its outcome word above all: a run that was interrupted is not a
// failure of its PLC, and one that ended without saying how did not succeed.
TEST(SeveralPorts, RowsAndTableFromEachPortsEvents) {
    const std::string start =
        std::string(R"({"event":"start","model":"QM2-E","image":"x","bytes":1})") + "\n";
    const std::string programming =
        std::string(R"({"event":"phase","status":"Programming"})") + "\n";
    const std::string success = Outcome("INFORMATION", "Firmware update is SUCCESSFUL", 0);
    struct Case {
        const char* port;
        std::string output;  // what its process wrote, split mid-line; "!": it did not start
        int exitStatus, signal;
        const char* row;  // its table row from the outcome column on
    } cases[] = {
        {"COM3", start + programming + success, 0, 0,
         "succeeded       0.0 s      2  [INFORMATION] Firmware update is SUCCESSFUL"},
        {"COM4", start + Outcome("ERROR", "Flash write error", 1), 1, 0,
         "FAILED          0.0 s      2  [ERROR] Flash write error"},
        {"COM5", start, 0, 0,
         "FAILED          0.0 s      0  [ERROR] the worker process ended without an outcome"},
        {"COM6", start + Outcome("", "interrupted while programming", 130), 130, 0,
         "interrupted     0.0 s      2  interrupted while programming"},
        {"COM7", start + Outcome("", "terminated", 143), 143, 0,
         "interrupted     0.0 s      2  terminated"},
        {"COM8", start + Outcome("", "hung up", 129), 129, 0,
         "interrupted     0.0 s      2  hung up"},
        {"COM9", start + success, 3, 0,
         "succeeded       0.0 s      2  [INFORMATION] Firmware update is SUCCESSFUL"},
        {"COM10", start + programming, 1, 9,
         "FAILED          0.0 s      0  [ERROR] the worker process was ended by signal 9"},
        {"COM11", "", 127, 0,
         "FAILED          0.0 s      0  [ERROR] the worker process could not start"},
        {"COM12", "!", 0, 0, "FAILED          0.0 s      0  [ERROR] cannot start a process"},
    };
    std::ostringstream out, err, events, eventsErr, quiet, quietErr;
    const plccli::SeveralOutput text{out, err, false, false};
    const plccli::SeveralOutput json{events, eventsErr, false, true};
    const plccli::SeveralOutput terse{quiet, quietErr, false, false, true};
    std::vector<plccli::PortRow> rows, jsonRows, quietRows;
    for (const auto& c : cases) {
        for (auto [list, o] : {std::pair{&rows, &text}, {&jsonRows, &json}, {&quietRows, &terse}}) {
            plccli::PortRow row;
            row.port = c.port;
            if (c.output == "!") {
                plccli::StartFailed(&row, "cannot start a process", *o);
            } else {
                size_t half = c.output.size() / 2;
                plccli::TakeOutput(&row, c.output.data(), half, *o);
                plccli::TakeOutput(&row, c.output.data() + half, c.output.size() - half, *o);
                row.started = plccli::PortRow::Clock::now();
                plccli::TakeExit(&row, c.exitStatus, c.signal, *o);
            }
            row.ended = row.started;
            list->push_back(row);
        }
    }
    plccli::PrintSummary(rows, text);
    plccli::PrintSummary(jsonRows, json);
    plccli::PrintSummary(quietRows, terse);
    std::string table = out.str().substr(out.str().find("PORT "));
    std::istringstream lines(table);
    std::string line;
    std::getline(lines, line);
    for (const auto& c : cases) {
        std::getline(lines, line);
        std::string model = c.output == "!" || c.output.empty() ? "" : "QM2-E";
        EXPECT_EQ(line, std::string(c.port) + std::string(25 - std::strlen(c.port), ' ') + model +
                            std::string(11 - model.size(), ' ') + c.row);
    }
    EXPECT_NE(out.str().find("COM4: [ERROR] Flash write error\n"), std::string::npos) << out.str();
    EXPECT_NE(err.str().find("COM3: Programming\n"), std::string::npos) << err.str();
    // -q: the table and nothing else.
    EXPECT_EQ(quiet.str(), table);
    EXPECT_EQ(quietErr.str(), "");

    std::ostringstream said;
    EXPECT_EQ(plccli::SeveralExitStatus(rows, 0, said), 1);
    EXPECT_EQ(plccli::SeveralExitStatus({rows[0]}, 0, said), 0);
    EXPECT_EQ(plccli::SeveralExitStatus({rows[0]}, 130, said), 130);
    EXPECT_EQ(plccli::SeveralExitStatus({rows[0], rows[6]}, 0, said), plccli::EXIT_NOT_RECORDED);
    EXPECT_NE(
        said.str().find("COM9: the update succeeded, but its record line could not be written"),
        std::string::npos);

    // --events: every line of every port, each naming its port, and nothing else; every port
    // ends in one outcome, also one that never started or never said how it ended.
    std::istringstream jsonLines(events.str());
    std::vector<std::string> outcomes, statuses;
    while (std::getline(jsonLines, line)) {
        EXPECT_EQ(line.rfind(R"({"event":")", 0), 0u) << line;
        EXPECT_NE(plccli::EventField(line, "port"), "") << line;
        if (plccli::EventField(line, "event") == "outcome") {
            EXPECT_EQ(line.rfind(R"({"event":"outcome","port":")", 0), 0u) << line;
            outcomes.push_back(plccli::EventField(line, "port"));
            statuses.push_back(plccli::EventField(line, "exit_status"));
        }
    }
    std::vector<std::string> ports;
    for (const auto& c : cases) ports.emplace_back(c.port);
    EXPECT_EQ(outcomes, ports);
    // A process ended by a signal: 128 + the signal's number, as a shell tells it.
    EXPECT_EQ(statuses, (std::vector<std::string>{"0", "1", "1", "130", "143", "129", "0", "137",
                                                  "127", "1"}));
    EXPECT_EQ(eventsErr.str(), "");
}

// On a terminal the table fits its width and never cuts a message: the instruction at its end
// (RE-POWER, REPLUG) is what -q leaves the operator. What does not fit goes under the row.
TEST(SeveralPorts, FittedTableKeepsEveryMessageWhole) {
    const std::string flash =
        "Flash write error, maybe due to flash write protection. RE-POWER PLC and update FW again";
    const std::string replug = "Firmware update is SUCCESSFUL!, please REPLUG the USB cable";
    const std::string start =
        std::string(R"({"event":"start","model":"QM2-E","image":"x","bytes":1})") + "\n";
    for (size_t width : {132u, 80u, 60u, 40u}) {
        SCOPED_TRACE(width);
        std::ostringstream out, err;
        plccli::SeveralOutput o{out, err, false, false, true};
        o.width = width;
        std::vector<plccli::PortRow> rows;
        for (const auto& [port, caption, message, status] :
             {std::tuple{"/tmp/bench-port-with-a-long-name-0", "ERROR", flash, 1},
              std::tuple{"/tmp/bench-port-with-a-long-name-1", "Information", replug, 0}}) {
            plccli::PortRow row;
            row.port = port;
            std::string output = start + Outcome(caption, message.c_str(), status);
            plccli::TakeOutput(&row, output.data(), output.size(), o);
            plccli::TakeExit(&row, status, 0, o);
            row.ended = row.started;
            rows.push_back(row);
        }
        plccli::PrintSummary(rows, o);
        std::istringstream lines(out.str());
        std::vector<std::string> messages;
        for (std::string line; std::getline(lines, line);) {
            EXPECT_LT(line.size(), width) << line;
            if (line.rfind("PORT", 0) == 0) continue;
            // A row starts at the first column, its message's further lines under it.
            size_t text = line.find_first_not_of(' ');
            if (text == 0) {
                // ... FAILED  0.0 s  2  MESSAGE: the message after the errors column.
                size_t seconds = line.find(" s ");
                size_t errors = line.find_first_not_of(' ', seconds + 2);
                size_t gap = line.find_first_not_of("0123456789", errors);
                bool beside = seconds != std::string::npos && gap != std::string::npos;
                messages.push_back(beside ? line.substr(gap + 2) : "");
            } else if (!messages.empty()) {  // not the header's MESSAGE under it
                messages.back() += (messages.back().empty() ? "" : " ") + line.substr(text);
            }
        }
        EXPECT_EQ(messages, (std::vector<std::string>{flash, replug})) << out.str();
    }
}

}  // namespace
