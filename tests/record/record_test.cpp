// The record of a finished run, taken from what the run left in its report.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <optional>
#include <sstream>

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
    } cases[] = {
        {OUTCOME_SUCCESS, "INFORMATION", "Firmware update is SUCCESSFUL", 0,
         "\"final\":{\"caption\":\"INFORMATION\",\"message\":\"Firmware update is SUCCESSFUL\"},"
         "\"exit_status\":0,"},
        {OUTCOME_FAILURE, "ERROR", "PLC type is WRONG", 1,
         "\"final\":{\"caption\":\"ERROR\",\"message\":\"PLC type is WRONG\"},\"exit_status\":1,"},
        // After a failed run: the next run's cleared report keeps none of its message.
        {OUTCOME_RUNNING, nullptr, nullptr, 1,
         "\"final\":{\"caption\":\"\",\"message\":\"\"},\"exit_status\":1,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.finalJson);
        ClearPlcReport();
        const auto started = std::chrono::steady_clock::now();
        plcReport.bootId = 0x3010;
        plcReport.blocksSent = 7;
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

}  // namespace
