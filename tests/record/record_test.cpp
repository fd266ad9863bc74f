// The record of a finished run, taken from what the run left in its report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "catalogue/report.h"
#include "catalogue/state.h"
#include "record/record.h"
#include "tests/device/fake_tree.h"

namespace {

TEST(ServiceRecord, FinishedRunFromItsReport) {
    struct Case {
        int32_t outcome;
        const char* caption;  // nullptr: the run ended without a final message
        const char* text;
        int exitStatus;
        const char* finalJson;
        int32_t turnaroundBlocks;    // replies measured, the median 17350 us and the p95 18050 us
        const char* turnaroundJson;  // nullptr: no such field
    } cases[] = {
        {OUTCOME_SUCCESS, "INFORMATION", "Firmware update is SUCCESSFUL", 0,
         "\"final\":{\"caption\":\"INFORMATION\",\"message\":\"Firmware update is SUCCESSFUL\"},"
         "\"exit_status\":0,",
         7, "\"blocks_total\":0,\"turnaround_ms\":{\"median\":17.4,\"p95\":18.1},\"errors\""},
        {OUTCOME_FAILURE, "ERROR", "PLC type is WRONG", 1,
         "\"final\":{\"caption\":\"ERROR\",\"message\":\"PLC type is WRONG\"},\"exit_status\":1,",
         0, nullptr},
        // After a failed run: the next run's cleared report keeps none of its message.
        {OUTCOME_RUNNING, nullptr, nullptr, 1,
         "\"final\":{\"caption\":\"\",\"message\":\"\"},\"exit_status\":1,", 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.finalJson);
        ClearPlcReport();
        const auto started = std::chrono::steady_clock::now();
        plcReport.bootId = 0x3010;
        plcReport.blocksSent = 7;
        if (c.turnaroundBlocks > 0) {
            plcReport.turnaroundBlocks = c.turnaroundBlocks;
            plcReport.turnaroundMedianUs = 17350;
            plcReport.turnaroundP95Us = 18050;
        }
        errCounter = 2;
        totalErrCounter = 5;
        if (c.caption != nullptr) {
            SetRunOutcome(c.outcome, c.caption, c.text);
            errCounter = 0;  // as the run's end leaves them, before the record is written
            totalErrCounter = 0;
        }
        plcrecord::RecordFields fields;
        plcrecord::FinishFromReport(&fields, started);
        EXPECT_EQ(fields.exitStatus, c.exitStatus);
        EXPECT_EQ(fields.plc.bootId, 0x3010);
        EXPECT_GE(fields.durationSeconds, 0.0);
        const std::string line = plcrecord::RecordLine(fields);
        EXPECT_NE(line.find(c.finalJson), std::string::npos) << line;
        EXPECT_NE(line.find("\"boot_id\":\"0x3010\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"blocks_sent\":7,"), std::string::npos) << line;
        EXPECT_NE(line.find("\"errors\":{\"last\":2,\"total\":5}"), std::string::npos) << line;
        if (c.turnaroundJson != nullptr)
            EXPECT_NE(line.find(c.turnaroundJson), std::string::npos) << line;
        else
            EXPECT_EQ(line.find("turnaround"), std::string::npos) << line;
    }
    errCounter = 0;
    totalErrCounter = 0;
}

// A line is written whole after whatever the file holds, a torn line is never continued, and a
// line that cannot be written is reported with the system's reason.
TEST(RecordFile, WholeLinesOrAReason) {
    struct Case {
        const char* name;
        std::optional<std::string> before;  // the file's content; none: no file
        const char* path;                   // nullptr: the file in the scratch directory
        bool recorder;                      // through RunRecorder rather than AppendRecordLine
        bool written;
        std::string after;  // what the file holds then (written), or a part of the reason
    } cases[] = {
        {"new file", std::nullopt, nullptr, false, true, "{\"n\":2}\n"},
        {"after a whole line", "{\"n\":1}\n", nullptr, false, true, "{\"n\":1}\n{\"n\":2}\n"},
        {"after a torn line", "{\"n\":1,\"st", nullptr, false, true, "{\"n\":1,\"st\n{\"n\":2}\n"},
        {"recorder after a torn line", "{\"n\":1,\"st", nullptr, true, true, "{\"n\":1,\"st\n{"},
        {"full disk", std::nullopt, "/dev/full", false, false, "No space left on device"},
        {"recorder on a full disk", std::nullopt, "/dev/full", true, false,
         "No space left on device"},
        {"FIFO nobody reads", std::nullopt, "fifo", false, false, "a FIFO that no program reads"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plctest::FakeTree tree;
        std::string path = tree.Path("runs.jsonl").string();
        if (c.path != nullptr && std::string(c.path) == "fifo") {
            path = tree.Path("fifo").string();
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        } else if (c.path != nullptr) {
            path = c.path;
        }
        if (c.before) std::ofstream(path, std::ios::binary) << *c.before;
        std::string error;
        bool written = false;
        if (c.recorder) {
            plcrecord::RunRecorder recorder;
            ASSERT_TRUE(recorder.Open(path, &error)) << error;
            recorder.Start(plcrecord::RecordFields{});
            written = recorder.Finish(plcrecord::RunOutcome{}, 0, &error);
            std::string again;
            EXPECT_EQ(recorder.Finish(plcrecord::RunOutcome{}, 0, &again), written) << "once";
            EXPECT_EQ(again, error);
        } else {
            written = plcrecord::AppendRecordLine(path, "{\"n\":2}", &error);
        }
        EXPECT_EQ(written, c.written) << error;
        if (!c.written) {
            EXPECT_NE(error.find(c.after), std::string::npos) << error;
            EXPECT_NE(error.find(path), std::string::npos) << error;
            continue;
        }
        std::ostringstream content;
        content << std::ifstream(path, std::ios::binary).rdbuf();
        EXPECT_EQ(content.str().substr(0, c.after.size()), c.after);
        EXPECT_EQ(content.str().back(), '\n');
    }
}

// The descriptors this process has open.
size_t OpenDescriptors() {
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd");
         it != std::filesystem::directory_iterator(); ++it)
        ++n;
    return n;
}

// A record file removed or replaced during the run: the line goes to the file at the path at the
// end, made anew when there is none, or its loss is said; the old file's descriptor is let go.
TEST(RecordFile, TheLineGoesToTheFileThePathNamesAtTheEnd) {
    struct Case {
        const char* name;
        void (*change)(const std::string& path, const std::string& other);
        bool written;
        std::string before;  // what the file at the path held before the line
    } cases[] = {
        {"removed", [](const std::string& path, const std::string&) { unlink(path.c_str()); }, true,
         ""},
        {"replaced",
         [](const std::string& path, const std::string& other) {
             std::ofstream(other) << "{\"n\":1}\n";
             rename(other.c_str(), path.c_str());
         },
         true, "{\"n\":1}\n"},
        {"replaced by a directory",
         [](const std::string& path, const std::string&) {
             unlink(path.c_str());
             mkdir(path.c_str(), 0700);
         },
         false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plctest::FakeTree tree;
        std::string path = tree.Path("runs.jsonl").string();
        std::string error;
        const size_t held = OpenDescriptors();
        plcrecord::RunRecorder recorder;
        ASSERT_TRUE(recorder.Open(path, &error)) << error;
        recorder.Start(plcrecord::RecordFields{});
        c.change(path, tree.Path("other").string());
        EXPECT_EQ(recorder.Finish(plcrecord::RunOutcome{}, 0, &error), c.written) << error;
        EXPECT_EQ(OpenDescriptors(), held + 1);  // the record file's, one
        if (!c.written) {
            EXPECT_NE(error.find("'" + path + "': it was removed or replaced during the run"),
                      std::string::npos)
                << error;
            continue;
        }
        std::ostringstream content;
        content << std::ifstream(path).rdbuf();
        EXPECT_EQ(content.str().substr(0, c.before.size()), c.before);
        EXPECT_EQ(content.str().substr(c.before.size(), 10), "{\"start\":\"");
    }
}

// A record FIFO full when the run ends: a reader that takes it late still gets the whole line;
// one that takes nothing costs the line, and Finish says so.
TEST(RecordFile, AFullFifoTakenLateOrNever) {
    for (bool reads : {true, false}) {
        SCOPED_TRACE(reads ? "read late" : "never read");
        plctest::FakeTree tree;
        std::string path = tree.Path("fifo").string();
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        int filler = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(filler, 0);
        fcntl(filler, F_SETPIPE_SZ, 4096);
        size_t filled = 0;
        for (ssize_t n; (n = write(filler, "################", 16)) > 0;) filled += n;
        std::string error;
        plcrecord::RunRecorder recorder;
        ASSERT_TRUE(recorder.Open(path, &error)) << error;
        recorder.Start(plcrecord::RecordFields{});
        std::string got;
        std::thread late;
        if (reads)
            late = std::thread([&] {
                pollfd p{reader, POLLIN, 0};
                char buffer[4096];
                while (got.find('}') == std::string::npos && poll(&p, 1, 5000) == 1) {
                    ssize_t n = read(reader, buffer, sizeof buffer);
                    if (n <= 0) break;
                    got.append(buffer, static_cast<size_t>(n));
                }
            });
        bool written = recorder.Finish(plcrecord::RunOutcome{}, 0, &error, reads ? 5000 : 50);
        if (late.joinable()) late.join();
        close(filler);
        close(reader);
        EXPECT_EQ(written, reads) << error;
        if (reads) {
            EXPECT_EQ(got.size() > filled ? got.substr(filled, 10) : got, "{\"start\":\"");
            EXPECT_EQ(got.back(), '\n');
        } else {
            EXPECT_NE(error.find("its reader took nothing for 50 ms"), std::string::npos) << error;
        }
    }
}

}  // namespace
