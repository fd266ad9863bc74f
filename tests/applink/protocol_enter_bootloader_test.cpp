// The enter-bootloader request: acknowledgement and confirmation, refusals, no-reply models.
#include <algorithm>

#include "tests/applink/protocol_fixture.h"

namespace plctest {
namespace {

const std::string kAck = Reply19(ACK);
const char kRequest[] = ":006401594552415345D2\r\n";
const char kConfirm[] = ":00640159063C\r\n";

struct EnterCase {
    const char* name;
    const char* model;
    Script script;
    uint8_t result;
    int32_t errCounter;
    int32_t totalGrowth;
    std::vector<std::string> writes;
    uint64_t elapsedMs;
};
void PrintTo(const EnterCase& c, std::ostream* os) {
    *os << c.name;
}

class EnterBootloader : public ProtocolTest, public ::testing::WithParamInterface<EnterCase> {};

TEST_P(EnterBootloader, ResultCountersAndFrames) {
    const EnterCase& c = GetParam();
    Select(c.model);
    Play(c.script);
    EXPECT_EQ(SendErase_A(hSerial), c.result);
    EXPECT_EQ(errCounter, c.errCounter);
    EXPECT_EQ(TotalGrowth(), c.totalGrowth);
    EXPECT_EQ(peer->writes, c.writes);
    EXPECT_EQ(ElapsedMs(), c.elapsedMs);
    EXPECT_TRUE(link->LineHistory().empty());
}

const std::vector<std::string> kReqConf = {kRequest, kConfirm};
const std::vector<std::string> kReqReq = {kRequest, kRequest};
const std::vector<std::string> kReq = {kRequest};

std::vector<std::string> Times(int n, const std::vector<std::string>& frames) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.insert(out.end(), frames.begin(), frames.end());
    return out;
}

// clang-format off
const EnterCase kEnterCases[] = {
    // name                      model        script                                  result                        err total writes            ms
    {"AckAtOnce",                "QM2-E",     {{kAck}},                               OK,                             0, 0, kReqConf,              0},
    {"AckAfterTwoTimeouts",      "RP200",     {{"", "", kAck}},                       OK,                             0, 2, Concat({Times(3, kReq), {kConfirm}}), 6000},
    {"AckAfterRefusal",          "RP200",     {{Reply19(NAK, 2, 4), kAck}},           OK,                             0, 1, Concat({kReq, kReqConf}), 0},
    {"Silent",                   "QM2-E",     {},                                     ERR | NORESPONSE,               6, 6, Times(6, kReq),    18000},
    {"FlowState3",               "RP200",     {Repeat(6, Reply19(NAK, 2, 3))},        ERR | FLOWERROR_STATE3,         6, 6, Times(6, kReq),        0},
    {"FlowState4",               "RP200",     {Repeat(6, Reply19(NAK, 2, 4))},        ERR | FLOWERROR_STATE4,         6, 6, Times(6, kReq),        0},
    {"FlowState1",               "RP200",     {Repeat(6, Reply19(NAK, 2, 1))},        ERR | FLOWERROR_STATE_UNKNOWN,  6, 6, Times(6, kReq),        0},
    {"FlowState2",               "RP200",     {Repeat(6, Reply19(NAK, 2, 2))},        ERR | FLOWERROR_STATE_UNKNOWN,  6, 6, Times(6, kReq),        0},
    {"ErrorClass1",              "RP200",     {Repeat(6, Reply19(NAK, 1, 4))},        ERR | UNKNOWN_ERROR_CODE,       6, 6, Times(6, kReq),        0},
    {"LowerCaseAck",             "RP200",     {Repeat(6, Reply19(ACK, 0, 0, true))}, ERR | NORESPONSE,             6, 6, Times(6, kReq),        0},
    {"AckWithBadLrc",            "RP200",     {Repeat(6, Reply19(ACK, 0, 0, false, 1))},     ERR | NORESPONSE,               6, 6, Times(6, kReq),        0},
    {"EnqInsteadOfAck",          "RP200",     {Repeat(6, Reply19(ENQ))},              ERR | NORESPONSE,               6, 6, Times(6, kReq),        0},
    {"SixFailedWrites",          "RP200",     {{}, {}, true},                         ERR | NORESPONSE,               6, 6, Times(6, kReq),    18000},
    // The confirmation comes up short: a failed write, and the request goes out again.
    {"ShortConfirmationThenAck", "RP200",     {{kAck, kAck}, {{1, 7}}},               OK,                             0, 1, Times(2, kReqConf), 3000},
    // Six short confirmations: the buffer holds an ACK, which is no refusal.
    {"ConfirmationNeverWhole",   "RP200",     {Repeat(6, kAck), {{1, 0}, {3, 0}, {5, 0}, {7, 0}, {9, 0}, {11, 0}}},
                                                                                      ERR | NORESPONSE,               6, 6, Times(6, kReqConf), 18000},
    // The no-reply models leave at once; a reply that arrives in full is still judged.
    {"NoReplyTr2CarSilent",      "TR2-CAR",   {},                                     OK,                             0, 0, kReq,               3000},
    {"NoReplyQmCV2Silent",       "QM2-C-V2",  {},                                     OK,                             0, 0, kReq,               3000},
    {"NoReplyQmCV4CutReply",     "QM2-C-V4",  {{Cut(kAck, 18)}},                      OK,                             0, 0, kReq,               3000},
    {"NoReplyAfterBadLrc",       "TR2-CAR",   {{Reply19(ACK, 0, 0, false, 1)}},              OK,                             0, 1, kReqReq,            3000},
    {"NoReplyAfterRefusal",      "TR2-CAR",   {{Reply19(NAK, 2, 3)}},                 OK,                             0, 1, kReqReq,            3000},
    {"NoReplyAck",               "TR2-CAR",   {{kAck}},                               OK,                             0, 0, kReqConf,              0},
    {"NoReplyRefusesSixTimes",   "QM2-C-V4",  {Repeat(6, Reply19(NAK, 2, 4))},        ERR | FLOWERROR_STATE4,         6, 6, Times(6, kReq),        0},
    // A model of the same family that does answer.
    {"QmTr2V4Silent",            "QM2-TR2-V4", {},                                    ERR | NORESPONSE,               6, 6, Times(6, kReq),    18000},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(EnterBoot, EnterBootloader, ::testing::ValuesIn(kEnterCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProtocolTest, EnterBootloaderFramesByGroup) {
    const struct {
        const char* model;
        const char* request;
        const char* confirmation;
    } rows[] = {
        {"RP200", ":006401594552415345D2\r\n", ":00640159063C\r\n"},
        {"QM2-E", ":006401594552415345D2\r\n", ":00640159063C\r\n"},
        {"RP200-TO-RP300", ":006401594552415345D2\r\n", ":00640159063C\r\n"},
        {"30TR2-AIO", ":0064015B4552415345D0\r\n", ":0064015B063A\r\n"},
        {"RP200-AIO", ":0064015B4552415345D0\r\n", ":0064015B063A\r\n"},
        {"TR3-AIO", ":0064015B4552415345D0\r\n", ":0064015B063A\r\n"},
        {"HB3-AIO", ":0064015B4552415345D0\r\n", ":0064015B063A\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.model);
        Select(row.model);
        peer->writes.clear();
        peer->Then(kAck).Then("");
        EXPECT_EQ(SendErase_A(hSerial), OK);
        EXPECT_EQ(peer->writes, (std::vector<std::string>{row.request, row.confirmation}));
    }
}

TEST_F(ProtocolTest, NoReplyGroupIsExactlyThreeModels) {
    std::vector<std::string> members;
    for (uint32_t i = 0; i < PLC_COUNT; ++i)
        if (ModelIn(i, NO_REPLY_MODELS)) members.push_back(plcList[i]);
    std::sort(members.begin(), members.end());
    EXPECT_EQ(members, (std::vector<std::string>{"QM2-C-V2", "QM2-C-V4", "TR2-CAR"}));
}

}  // namespace
}  // namespace plctest
