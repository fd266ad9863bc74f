// The identity check: the id rule with its two exceptions, refusals and counters.
#include "tests/applink/protocol_fixture.h"

namespace plctest {
namespace {

struct IdentityCase {
    const char* name;
    const char* model;
    Script script;
    uint8_t result;
    int32_t errCounter;
    int32_t totalGrowth;
    size_t writes;
};
void PrintTo(const IdentityCase& c, std::ostream* os) {
    *os << c.name;
}

class IdentityOutcome : public ProtocolTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(IdentityOutcome, ResultAndCounters) {
    const IdentityCase& c = GetParam();
    Select(c.model);
    Play(c.script);
    EXPECT_EQ(CheckID_A(hSerial), c.result);
    EXPECT_EQ(errCounter, c.errCounter);
    EXPECT_EQ(TotalGrowth(), c.totalGrowth);
    EXPECT_EQ(peer->writes.size(), c.writes);
    EXPECT_TRUE(link->LineHistory().empty()) << "the identity check leaves the line alone";
}

// clang-format off
const IdentityCase kIdentityCases[] = {
    // name                   model           script                                        result                    err total writes
    {"OwnIdAtOnce",           "RP200",          {{IdentityReply(0x3010)}},                  OK,                         0, 0, 1},
    {"SharedIdOfAnotherRow",  "RP200-TO-RP300", {{IdentityReply(0x3010)}},                  OK,                         0, 0, 1},
    {"QmV2Reports000D",       "QM2-TR2-V2",     {{IdentityReply(0x000D)}},                  OK,                         0, 0, 1},
    {"QmCV2Reports000D",      "QM2-C-V2",       {{IdentityReply(0x000D)}},                  OK,                         0, 0, 1},
    {"QmCV4Reports000C",      "QM2-C-V4",       {{IdentityReply(0x000C)}},                  OK,                         0, 0, 1},
    {"QmV4Reports000D",       "QM2-TR2-V4",     {{IdentityReply(0x000D)}},                  OK,                         0, 0, 1},
    {"RpZReports3010",        "RP200-Z",        {{IdentityReply(0x3010)}},                  OK,                         0, 0, 1},
    {"RpZReportsA010",        "RP200-Z",        {{IdentityReply(0xA010)}},                  OK,                         0, 0, 1},
    // The exceptions work one way only.
    {"RpReportsA010",         "RP200",          {Repeat(6, IdentityReply(0xA010))},         ERR | NORESPONSE,           6, 6, 6},
    {"AioReports000C",        "30TR2-AIO",      {Repeat(6, IdentityReply(0x000C))},         ERR | NORESPONSE,           6, 6, 6},
    {"Qm2EReports000C",       "QM2-E",          {Repeat(6, IdentityReply(0x000C))},         ERR | NORESPONSE,           6, 6, 6},
    {"Rp300Reports3010",      "RP300",          {Repeat(6, IdentityReply(0x3010))},         ERR | NORESPONSE,           6, 6, 6},
    // A wrong model answering with its own id.
    {"Qm3AnswersForRp200",    "RP200",          {Repeat(6, IdentityReply(0x0020))},         ERR | NORESPONSE,           6, 6, 6},
    // The counter is not reset on success: it shows the failed reads of this call.
    {"OwnIdAfterTwoTimeouts", "RP200",          {{"", "", IdentityReply(0x3010)}},          OK,                         2, 2, 3},
    {"OwnIdAfterFailedWrite", "RP200",          {{IdentityReply(0x3010)}, {{0, 4}}},        OK,                         0, 1, 2},
    {"RightIdWithoutAck",     "RP200",          {Repeat(6, Reply19(ENQ, 0x30, 0x10))},      ERR | NORESPONSE,           6, 6, 6},
    {"LowerCaseOwnId",        "RP200-Z",        {Repeat(6, IdentityReply(0xA010, true))},   ERR | NORESPONSE,           6, 6, 6},
    {"OwnIdBadLrc",           "RP200",          {Repeat(6, Reply19(ACK, 0x30, 0x10, false, 0xFF))}, ERR | NORESPONSE,         6, 6, 6},
    {"Silent",                "RP200",          {},                                         ERR | NORESPONSE,           6, 6, 6},
    {"FlowState2",            "RP200",          {Repeat(6, Reply19(NAK, 2, 2))},            ERR | FLOWERROR_STATE2,     6, 6, 6},
    {"FlowState3",            "RP200",          {Repeat(6, Reply19(NAK, 2, 3))},            ERR | FLOWERROR_STATE3,     6, 6, 6},
    // The probe's state 1 and RUN-mode classes are unknown here.
    {"FlowState1",            "RP200",          {Repeat(6, Reply19(NAK, 2, 1))},            ERR | FLOWERROR_STATE_UNKNOWN, 6, 6, 6},
    {"RunModeClass",          "RP200",          {Repeat(6, Reply19(NAK, 1))},               ERR | UNKNOWN_ERROR_CODE,   6, 6, 6},
    {"ErrorClass9",           "RP200",          {Repeat(6, Reply19(NAK, 9, 3))},            ERR | UNKNOWN_ERROR_CODE,   6, 6, 6},
    {"SixFailedWrites",       "RP200",          {{}, {}, true},                             ERR | NORESPONSE,           6, 6, 6},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Identity, IdentityOutcome, ::testing::ValuesIn(kIdentityCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProtocolTest, IdentityRequestByGroup) {
    const struct {
        const char* model;
        uint16_t id;
        const char* frame;
    } rows[] = {
        {"RP200", 0x3010, ":006401594944B5\r\n"},     {"QM2-E", 0x0017, ":006401594944B5\r\n"},
        {"30TR2-AIO", 0x000D, ":0064015B4944B3\r\n"}, {"RP200-AIO", 0x3010, ":0064015B4944B3\r\n"},
        {"TR3-AIO", 0x0020, ":0064015B4944B3\r\n"},   {"HB3-AIO", 0x0022, ":0064015B4944B3\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.model);
        Select(row.model);
        peer->writes.clear();
        peer->Then(IdentityReply(row.id));
        EXPECT_EQ(CheckID_A(hSerial), OK);
        ASSERT_EQ(peer->writes.size(), 1u);
        EXPECT_EQ(peer->writes[0], row.frame);
    }
}

TEST_F(ProtocolTest, IdentitySilentPlcTakesEighteenSeconds) {
    Select("RP200");
    EXPECT_EQ(CheckID_A(hSerial), ERR | NORESPONSE);
    EXPECT_EQ(ElapsedMs(), 18000u);
    EXPECT_EQ(reads, 6);
}

}  // namespace
}  // namespace plctest
