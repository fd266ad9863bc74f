// The register reads, the bootloader-version read and the id read.
#include "tests/applink/protocol_fixture.h"

namespace plctest {
namespace {

struct RegisterOp {
    const char* name;
    uint16_t (*read)(HANDLE);
    const char* frame;
};

const RegisterOp kRegisterOps[] = {
    {"D1386", READ_D1386, ":0003156A00017D\r\n"},
    {"D1001", READ_D1001, ":000313E9000100\r\n"},
    {"D1148", READ_D1148, ":0003147C00016C\r\n"},
};

struct RegisterCase {
    const char* name;
    Script script;
    uint16_t value;
    int32_t errCounter;
    int32_t totalGrowth;
    int reads;
    uint64_t elapsedMs;
};

// clang-format off
const RegisterCase kRegisterCases[] = {
    // name              script                                        value  err total reads ms
    {"AtOnce",           {{RegisterReply(0x0102)}},                    0x0102, 0, 0, 1,     0},
    {"HighByteFirst",    {{RegisterReply(0xBEEF)}},                    0xBEEF, 0, 0, 1,     0},
    // A register that holds 0 is told from exhausted retries only by the counters.
    {"ZeroValue",        {{RegisterReply(0)}},                         0,      0, 0, 1,     0},
    {"AfterTwoTimeouts", {{"", "", RegisterReply(1234)}},              1234,   2, 2, 3,  6000},
    {"AfterBadLrc",      {{RegisterReply(7, false, 1), RegisterReply(7)}},    7,      1, 1, 2,     0},
    {"Silent",           {},                                           0,      6, 6, 6, 18000},
    {"LowerCase",        {Repeat(6, RegisterReply(0xABCD, true))},  0,      6, 6, 6,     0},
    {"BadLrc",           {Repeat(6, RegisterReply(0x1111, false, 2))},        0,      6, 6, 6,     0},
    {"CutReply",         {Repeat(6, Cut(RegisterReply(0x2222), 14))},  0,      6, 6, 6, 18000},
    {"SixFailedWrites",  {{}, {}, true},                               0,      6, 6, 0, 18000},
};
// clang-format on

struct RegisterParam {
    RegisterOp op;
    RegisterCase c;
};
void PrintTo(const RegisterParam& c, std::ostream* os) {
    *os << c.op.name << "_" << c.c.name;
}

class RegisterRead : public ProtocolTest, public ::testing::WithParamInterface<RegisterParam> {};

TEST_P(RegisterRead, ValueCountersAndTime) {
    const auto& [op, c] = GetParam();
    Select("QM2-E");
    Play(c.script);
    EXPECT_EQ(op.read(hSerial), c.value);
    EXPECT_EQ(errCounter, c.errCounter);
    EXPECT_EQ(TotalGrowth(), c.totalGrowth);
    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(ElapsedMs(), c.elapsedMs);
    ASSERT_FALSE(peer->writes.empty());
    for (const auto& w : peer->writes) EXPECT_EQ(w, op.frame);
    EXPECT_TRUE(link->LineHistory().empty());
}

std::vector<RegisterParam> AllRegisterParams() {
    std::vector<RegisterParam> out;
    for (const auto& op : kRegisterOps)
        for (const auto& c : kRegisterCases) out.push_back({op, c});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Register, RegisterRead, ::testing::ValuesIn(AllRegisterParams()),
                         [](const auto& info) {
                             return std::string(info.param.op.name) + "_" + info.param.c.name;
                         });

// Version byte 0x0E in decoded byte 4; bytes 5 and 6 are not part of it.
const std::string kVersion = Reply19(0x0E, 0x77, 0x88);

TEST_F(ProtocolTest, VersionReadUsesGroupCode59ForEveryModel) {
    for (const char* model : {"RP200", "RP200-AIO", "TR3-AIO", "HB3-AIO", "30TR2-AIO", "QM3"}) {
        SCOPED_TRACE(model);
        Select(model);
        peer->writes.clear();
        peer->Then(kVersion);
        EXPECT_EQ(read_fu_version_A(), 0x0E);
        ASSERT_EQ(peer->writes.size(), 1u);
        EXPECT_EQ(peer->writes[0], ":00640159053D\r\n");
    }
    EXPECT_EQ(errCounter, 0);
    EXPECT_EQ(TotalGrowth(), 0);
}

struct VersionCase {
    const char* name;
    Script script;
    uint8_t value;
    int32_t errCounter;
    int32_t totalGrowth;
    uint64_t elapsedMs;
};
void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name;
}

class VersionRead : public ProtocolTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionRead, RetriesAndCounts) {
    const VersionCase& c = GetParam();
    Select("RP200");
    Play(c.script);
    EXPECT_EQ(read_fu_version_A(), c.value);
    EXPECT_EQ(errCounter, c.errCounter);
    EXPECT_EQ(TotalGrowth(), c.totalGrowth);
    EXPECT_EQ(ElapsedMs(), c.elapsedMs);
}

// clang-format off
const VersionCase kVersionCases[] = {
    // name                     script                                               value err total ms
    {"AfterTimeoutAndCutReply", {{"", Cut(kVersion, 10), kVersion}},                 0x0E, 2, 2,  6000},
    {"AfterLowerCaseReply",     {{Reply19(0xAB, 0, 0, true), Reply19(0xAB)}},     0xAB, 1, 1,     0},
    {"Silent",                  {},                                                  0,    6, 6, 18000},
    {"BadLrcThroughout",        {Repeat(6, Reply19(0x0E, 0, 0, false, 5))},                 0,    6, 6,     0},
    {"SixFailedWrites",         {{}, {}, true},                                      0,    6, 6, 18000},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Version, VersionRead, ::testing::ValuesIn(kVersionCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct IdReadCase {
    const char* name;
    Script script;
    uint16_t value;
    size_t writes;
    int reads;
    uint64_t elapsedMs;
};
void PrintTo(const IdReadCase& c, std::ostream* os) {
    *os << c.name;
}

class IdRead : public ProtocolTest, public ::testing::WithParamInterface<IdReadCase> {};

TEST_P(IdRead, SmallerLoopLeavesCountersAlone) {
    const IdReadCase& c = GetParam();
    Select("QM3");
    Play(c.script);
    EXPECT_EQ(read_0x67_PLCID(), c.value);
    EXPECT_EQ(errCounter, PLANTED_ERR_COUNTER);
    EXPECT_EQ(TotalGrowth(), 0);
    EXPECT_EQ(peer->writes.size(), c.writes);
    for (const auto& w : peer->writes) EXPECT_EQ(w, ":00670013000284\r\n");
    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(ElapsedMs(), c.elapsedMs);
}

// clang-format off
const IdReadCase kIdReadCases[] = {
    // name                 script                                                    value  writes reads ms
    {"AtOnce",              {{PlcIdReply(0x0020)}},                                      0x0020, 1, 1,    0},
    {"HighByteFirst",       {{PlcIdReply(0xA00B)}},                                      0xA00B, 1, 1,    0},
    {"AfterOneTimeout",     {{"", PlcIdReply(0x0020)}},                                  0x0020, 2, 2, 3000},
    {"AfterBadLrc",         {{PlcIdReply(0x0020, false, 1), PlcIdReply(0x0020)}},                  0x0020, 2, 2,    0},
    // Third attempt: one failed write and one failed read before it.
    {"ThirdAttempt",        {{"", PlcIdReply(0x0020)}, {{0, 2}}},                        0x0020, 3, 2, 6000},
    {"Silent",              {},                                                       0,      2, 2, 6000},
    {"TwoBadReplies",       {{PlcIdReply(0x0020, false, 3), Cut(PlcIdReply(0x0020), 18), PlcIdReply(0x0020)}}, 0, 2, 2, 3000},
    {"TwoFailedWrites",     {{}, {}, true},                                           0,      2, 0, 6000},
    {"WriteReadWriteFail",  {{""}, {{0, 0}, {2, 0}}},                                 0,      3, 1, 9000},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Id, IdRead, ::testing::ValuesIn(kIdReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace plctest
