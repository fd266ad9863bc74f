#include "link/link.h"
#include "tests/bootloader/boot_fixture.h"

namespace {

using boottest::kNak;
using plctest::Bytes;

std::string IdReply(uint16_t id) {
    return Bytes({ACK, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id & 0xFF)});
}

class IdentityTest : public boottest::BootTest {};

struct IdCase {
    const char* model;
    uint16_t reported;
    bool accepted;
    int32_t errCounterAfterTwoNaks;  // errCounter when accepted on the third "ID"
};

// The QM2 models sharing id 0x000C keep the count of the read that succeeded.
const IdCase kIdCases[] = {
    {"RP200", 0x3010, true, 0},       {"RP200", 0x3011, false, 0},
    {"RP200", 0xB010, false, 0},      {"RP200-AIO", 0x3010, true, 0},
    {"NV-H", 0xA002, true, 0},        {"NV-H", 0x2002, false, 0},
    {"RP200-Z", 0x3010, true, 0},     {"RP200-Z", 0xA010, true, 0},
    {"RP200-Z", 0x2010, false, 0},    {"QM2-C-V4", 0x000D, true, 2},
    {"QM2-C-V4", 0x000C, true, 2},    {"QM2-TR2-V2", 0x000D, true, 2},
    {"QM2-C-V4", 0x000E, false, 0},   {"WJB-QM2-V2", 0x2001, true, 0},
    {"WJB-QM2-V2", 0xA001, false, 0}, {"DK2-H", 0x2003, true, 0},
    {"30TR2-AIO", 0x000D, true, 0},   {"30TR2-AIO", 0x000C, false, 0},
    {"LC3", 0x0000, true, 0},         {"PN2", 0x800E, false, 0},
};

TEST_F(IdentityTest, IdentityRuleByModel) {
    for (const auto& c : kIdCases) {
        SCOPED_TRACE(std::string(c.model) + " reporting " + std::to_string(c.reported));
        StartCase(c.model);
        auto& plc = Open();
        plc.Times(2, kNak + "\x01\x02").Otherwise(IdReply(c.reported));
        uint8_t result = CheckID_B(hSerial);
        EXPECT_EQ(plc.writes.front(), "ID");
        if (c.accepted) {
            EXPECT_EQ(result, OK);
            EXPECT_EQ(plc.writes.size(), 3u);
            EXPECT_EQ(errCounter, c.errCounterAfterTwoNaks);
            EXPECT_EQ(totalErrCounter, 2);
        } else {
            EXPECT_EQ(result, ERR);
            EXPECT_EQ(plc.writes.size(), 6u);
            EXPECT_EQ(errCounter, 6);
            EXPECT_EQ(totalErrCounter, 6);
        }
    }
}

struct ExchangeFault {
    const char* what;
    void (*script)(plctest::ScriptedPeer&);
    uint8_t result;
    size_t writes;
    int32_t errCounter;
    int32_t totalErrCounter;
    uint64_t virtualMs;
};

// A failed read that another attempt follows, and a reply accepted after failed reads, each wait
// for a quiet line; a settle that receives bytes waits once more.
constexpr uint64_t Q = SETTLE_QUIET_MS;

const ExchangeFault kExchangeFaults[] = {
    {"link takes no byte", [](plctest::ScriptedPeer& p) { p.AcceptNoBytes(); }, ERR, 6, 6, 6,
     6 * 3000},
    {"silent PLC", [](plctest::ScriptedPeer&) {}, ERR, 6, 6, 6, 6 * 3000 + 5 * Q},
    {"short replies",
     [](plctest::ScriptedPeer& p) {
         p.Otherwise(Bytes({ACK, 0x30}));
     },
     ERR, 6, 6, 6, 6 * 3000 + 5 * Q},
    {"five short writes, then six NAKs",
     [](plctest::ScriptedPeer& p) {
         for (size_t i = 0; i < 5; ++i) p.ShortWrite(i, 1);
         p.Otherwise(kNak + "\x30\x10");
     },
     ERR, 11, 6, 11, 5 * 3000 + 5 * Q},
    // The late reply comes while the line settles and is dropped; the resend's reply counts.
    {"reply arrives after its read timed out",
     [](plctest::ScriptedPeer& p) { p.Then(IdReply(0x3010), 3500).Then(IdReply(0x3010)); }, OK, 2,
     0, 1, 3000 + 2 * Q + Q},
    {"five NAKs, then the reply",
     [](plctest::ScriptedPeer& p) { p.Times(5, kNak + "\x30\x10").Then(IdReply(0x3010)); }, OK, 6,
     0, 5, 6 * Q},
};

TEST_F(IdentityTest, RetriesAndFaults) {
    for (const auto& c : kExchangeFaults) {
        SCOPED_TRACE(c.what);
        StartCase("RP200");
        auto& plc = Open();
        c.script(plc);
        uint64_t start = platform::VirtualNowMs();
        EXPECT_EQ(CheckID_B(hSerial), c.result);
        EXPECT_EQ(plc.writes.size(), c.writes);
        EXPECT_EQ(errCounter, c.errCounter);
        EXPECT_EQ(totalErrCounter, c.totalErrCounter);
        EXPECT_EQ(platform::VirtualNowMs() - start, c.virtualMs);
        EXPECT_EQ(link->Timeouts().ReadTotalTimeoutConstant, 3000u);
        EXPECT_EQ(link->Timeouts().ReadIntervalTimeout, 0u);
    }
}

struct VersionCase {
    std::string reply;
    uint8_t result;
    uint8_t version;  // RP_fu_version afterwards; it starts at 0x77
};

const VersionCase kVersionCases[] = {
    {Bytes({ACK, 0x01, 0x40}), OK, 0x14}, {Bytes({ACK, 0x00, 0x90}), OK, 0x09},
    {Bytes({ACK, 0xAB, 0xCD}), OK, 0xBC}, {Bytes({NAK, 0x01, 0x40}), ERR, 0x77},
    {Bytes({ACK, 0x01}), ERR, 0x77},
};

TEST_F(IdentityTest, VersionByte) {
    for (const auto& c : kVersionCases) {
        StartCase("RP200");
        RP_fu_version = 0x77;
        auto& plc = Open();
        plc.Otherwise(c.reply);
        EXPECT_EQ(read_fu_version_B(), c.result);
        EXPECT_EQ(RP_fu_version, c.version);
        EXPECT_EQ(plc.writes.front(), "VERSION");
        EXPECT_EQ(errCounter, c.result == OK ? 0 : 6);
    }
}

}  // namespace
