// The mode probe: which firmware answers, and how refusals and silence are classified.
#include "tests/applink/protocol_fixture.h"

namespace plctest {
namespace {

const std::string kEnq = Reply19(ENQ);
const std::string kAck = Reply19(ACK);

struct ProbeCase {
    const char* name;
    Script script;
    uint8_t result;
    int32_t errCounter;
    int32_t totalGrowth;
    size_t writes;
    int reads;
    uint64_t elapsedMs;
};
void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << c.name;
}

class ProbeOutcome : public ProtocolTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeOutcome, ResultCountersAndTime) {
    const ProbeCase& c = GetParam();
    Select("RP200");
    Play(c.script);
    EXPECT_EQ(ConfirmComm(hSerial), c.result);
    EXPECT_EQ(errCounter, c.errCounter);
    EXPECT_EQ(TotalGrowth(), c.totalGrowth);
    EXPECT_EQ(peer->writes.size(), c.writes);
    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(ElapsedMs(), c.elapsedMs);
}

// clang-format off
const ProbeCase kProbeCases[] = {
    // name                     script                                      result                      err total writes reads ms
    {"EnqAtOnce",               {{kEnq}},                                   ENQ,                          0,  0,  1,  1,     0},
    {"AckAfterTwoTimeouts",     {{"", "", kAck}},                           ACK,                          0,  2,  3,  3,  6000},
    {"EnqAfterFiveRefusals",    {Concat({Repeat(5, Reply19(NAK, 1)), {kEnq}})}, ENQ,                      0,  5,  6,  6,     0},
    {"Silent",                  {},                                         ERR | NORESPONSE,             6,  6,  6,  6, 18000},
    {"RunMode",                 {Repeat(6, Reply19(NAK, 1))},               ERR | RUNMODE,                6,  6,  6,  6,     0},
    {"FlowState1",              {Repeat(6, Reply19(NAK, 2, 1))},            ERR | FLOWERROR_STATE1,       6,  6,  6,  6,     0},
    {"FlowState2",              {Repeat(6, Reply19(NAK, 2, 2))},            ERR | FLOWERROR_STATE2,       6,  6,  6,  6,     0},
    {"FlowState7",              {Repeat(6, Reply19(NAK, 2, 7))},            ERR | FLOWERROR_STATE_UNKNOWN, 6, 6,  6,  6,     0},
    {"ErrorClass3",             {Repeat(6, Reply19(NAK, 3))},               ERR | UNKNOWN_ERROR_CODE,     6,  6,  6,  6,     0},
    {"ErrorClass0",             {Repeat(6, Reply19(NAK, 0))},               ERR | UNKNOWN_ERROR_CODE,     6,  6,  6,  6,     0},
    {"LowerCaseEnq",            {Repeat(6, Reply19(ENQ, 0, 0, true))},   ERR | NORESPONSE,             6,  6,  6,  6,     0},
    {"EnqWithBadLrc",           {Repeat(6, Reply19(ENQ, 0, 0, false, 1))},         ERR | NORESPONSE,             6,  6,  6,  6,     0},
    {"OtherStatus",             {Repeat(6, Reply19(0x07))},                 ERR | NORESPONSE,             6,  6,  6,  6,     0},
    // A cut reply waits out the time-out each time.
    {"ShortReplies",            {Repeat(6, Cut(kEnq, 18))},                 ERR | NORESPONSE,             6,  6,  6,  6, 18000},
    // Only the last read decides: the buffer is cleared before every read.
    {"RefusalsThenSilence",     {Repeat(5, Reply19(NAK, 1))},               ERR | NORESPONSE,             6,  6,  6,  6,  3000},
    {"SilenceThenRefusal",      {Concat({Repeat(5, ""), {Reply19(NAK, 2, 2)}})}, ERR | FLOWERROR_STATE2,  6,  6,  6,  6, 15000},
    // A refusal with a bad LRC is a failed read, but its decoded bytes still classify.
    {"RunModeWithBadLrc",       {Repeat(6, Reply19(NAK, 1, 0, false, 1))},         ERR | RUNMODE,                6,  6,  6,  6,     0},
    {"SixFailedWrites",         {{}, {}, true},                             ERR | NORESPONSE,             6,  6,  6,  0, 18000},
    {"FiveFailedWritesThenEnq", {{kEnq}, {{0, 3}, {1, 0}, {2, 14}, {3, 1}, {4, 0}}}, ENQ,                 0,  5,  6,  1, 15000},
    // The longest call: five failed writes and six failed reads.
    {"ElevenAttempts",          {{}, {{0, 0}, {2, 0}, {4, 0}, {6, 0}, {8, 0}}}, ERR | NORESPONSE,         6, 11, 11,  6, 33000},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Probe, ProbeOutcome, ::testing::ValuesIn(kProbeCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct RequestCase {
    const char* model;
    const char* frame;
    bool lineSetup;
};
void PrintTo(const RequestCase& c, std::ostream* os) {
    *os << c.model;
}

class ProbeRequest : public ProtocolTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(ProbeRequest, FrameByGroupAndLineSetupForComPortModels) {
    const RequestCase& c = GetParam();
    Select(c.model);
    peer->Then(kEnq);
    ASSERT_EQ(ConfirmComm(hSerial), ENQ);
    ASSERT_EQ(peer->writes.size(), 1u);
    EXPECT_EQ(peer->writes[0], c.frame);
    if (c.lineSetup) {
        ASSERT_EQ(link->LineHistory().size(), 1u);
        const platform::LineSettings expected{9600, 7, EVENPARITY, ONESTOPBIT, false, false};
        EXPECT_EQ(link->Line(), expected);
    } else {
        EXPECT_TRUE(link->LineHistory().empty());
    }
}

const RequestCase kRequestCases[] = {
    {"RP200", ":006401590141\r\n", false},    {"RP200-TO-RP300", ":006401590141\r\n", false},
    {"QM3", ":006401590141\r\n", false},      {"RP200-AIO", ":0064015B013F\r\n", false},
    {"TR3-AIO", ":0064015B013F\r\n", false},  {"HB3-AIO", ":0064015B013F\r\n", false},
    {"30TR2-AIO", ":0064015B013F\r\n", true}, {"QM2-E", ":006401590141\r\n", true},
    {"TR2-CAR", ":006401590141\r\n", true},   {"QM2-C-V4", ":006401590141\r\n", true},
};

INSTANTIATE_TEST_SUITE_P(Probe, ProbeRequest, ::testing::ValuesIn(kRequestCases),
                         [](const auto& info) {
                             std::string n = info.param.model;
                             for (char& ch : n)
                                 if (ch == '-') ch = '_';
                             return n;
                         });

// Whatever the far end floods the link with, a read never takes more than a reply's length.
TEST_F(ProtocolTest, ProbeFloodIsReadInRepliesOfNineteen) {
    Select("RP200");
    const std::string flood(64, '5');
    for (int i = 0; i < 6; ++i) peer->Then(flood);
    std::vector<uint32_t> requested;
    platform::SetLinkTrace(
        [&](platform::TraceDir dir, const uint8_t*, size_t len, uint32_t want, uint64_t) {
            if (dir == platform::TraceDir::Read && want != DRAIN_READ_BYTES) {
                requested.push_back(want);
                EXPECT_LE(len, want);
            }
        });
    EXPECT_EQ(ConfirmComm(hSerial), ERR | NORESPONSE);
    EXPECT_EQ(requested, std::vector<uint32_t>(6, 19));
}

// A refused handle is only a failed write six times over; nothing is read.
TEST_F(ProtocolTest, ProbeOnClosedHandleGivesNoResponse) {
    Select("QM2-E");
    HANDLE h = hSerial;
    CloseHandle(h);
    hSerial = INVALID_HANDLE_VALUE;
    EXPECT_EQ(ConfirmComm(h), ERR | NORESPONSE);
    EXPECT_EQ(errCounter, 6);
    EXPECT_EQ(TotalGrowth(), 6);
    EXPECT_EQ(reads, 0);
}

}  // namespace
}  // namespace plctest
