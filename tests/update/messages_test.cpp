// The three result-to-message tables: only the low four bits of a failure count.
#include <gtest/gtest.h>

#include "update/stages.h"

namespace {

// Low four bits 0..15 -> message, as the operator reads it.
const char* const kState1[16] = {"UNKNOWN MESSAGE",       "PLC type is WRONG",
                                 "PLC type is WRONG",     "UNKNOWN MESSAGE",
                                 "UNKNOWN MESSAGE",       "PLC type is WRONG",
                                 "PLC in RUN MODE",       "UNKNOWN ERROR CODE @ State 1",
                                 "NO RESPONSE @ State 1", "UNKNOWN MESSAGE",
                                 "UNKNOWN MESSAGE",       "UNKNOWN MESSAGE",
                                 "UNKNOWN MESSAGE",       "UNKNOWN MESSAGE",
                                 "UNKNOWN MESSAGE",       "UNKNOWN MESSAGE"};
const char* const kState2[16] = {
    "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 2",    "PLC type is WRONG",
    "PLC type is WRONG",         "UNKNOWN MESSAGE @ State 2",    "PLC type is WRONG",
    "UNKNOWN MESSAGE @ State 2", "UNKNOWN ERROR CODE @ State 2", "NO RESPONSE @ State 2",
    "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 2",    "UNKNOWN MESSAGE @ State 2",
    "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 2",    "UNKNOWN MESSAGE @ State 2",
    "UNKNOWN MESSAGE @ State 2"};
const char* const kState3[16] = {"UNKNOWN MESSAGE @ State 3", "UNKNOWN MESSAGE @ State 3",
                                 "UNKNOWN MESSAGE @ State 3", "PLC type is WRONG",
                                 "PLC type is WRONG",         "PLC type is WRONG",
                                 "UNKNOWN MESSAGE @ State 3", "UNKNOWN ERROR CODE @ State 3",
                                 "NO RESPONSE @ State 3",     "UNKNOWN MESSAGE @ State 3",
                                 "UNKNOWN MESSAGE @ State 3", "UNKNOWN MESSAGE @ State 3",
                                 "UNKNOWN MESSAGE @ State 3", "UNKNOWN MESSAGE @ State 3",
                                 "UNKNOWN MESSAGE @ State 3", "UNKNOWN MESSAGE @ State 3"};

TEST(ResultMessages, LowFourBitsChooseTheMessageWhateverTheHighBits) {
    const struct {
        const char* name;
        const char* (*message)(uint8_t);
        const char* const* expected;
    } kTables[] = {{"state 1", ProbeFailureMessage, kState1},
                   {"state 2", IdentityFailureMessage, kState2},
                   {"state 3", EnterBootFailureMessage, kState3}};
    for (const auto& t : kTables) {
        for (int result = 0; result < 256; ++result) {
            SCOPED_TRACE(std::string(t.name) + " result " + std::to_string(result));
            EXPECT_STREQ(t.message(static_cast<uint8_t>(result)), t.expected[result & 0x0F]);
        }
    }
}

TEST(ResultMessages, NamedResultsOfTheProbe) {
    EXPECT_STREQ(ProbeFailureMessage(0x16), "PLC in RUN MODE");
    EXPECT_STREQ(ProbeFailureMessage(0x18), "NO RESPONSE @ State 1");
    EXPECT_STREQ(ProbeFailureMessage(0x10), "UNKNOWN MESSAGE");
    EXPECT_STREQ(EnterBootFailureMessage(0x18), "NO RESPONSE @ State 3");
    EXPECT_STREQ(EnterBootFailureMessage(0x13), "PLC type is WRONG");
    EXPECT_STREQ(EnterBootFailureMessage(0x14), "PLC type is WRONG");
}

}  // namespace
