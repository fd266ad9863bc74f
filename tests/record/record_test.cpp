// The record of a finished run, taken from what the run left in its report.
#include <gtest/gtest.h>

#include "catalogue/report.h"
#include "catalogue/state.h"
#include "record/record.h"

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

}  // namespace
