// The bootloader: identity and version replies, erase, the checks on every block, and the
// flash it programs.
#include <gtest/gtest.h>

#include "applink/frames.h"
#include "sim/ascii.h"
#include "tests/sim/core_harness.h"
#include "tests/sim/hand_host.h"
#include "tests/support/scripted_peer.h"

namespace {

using plcsim::Config;
using simtest::HandHost;
using simtest::Harness;

Config BootConfig(const char* model) {
    Config c;
    EXPECT_TRUE(plcsim::DefaultConfig(model, &c)) << model;
    c.start = plcsim::StartMode::Boot;
    return c;
}

using plctest::Bytes;

struct CommandCase {
    const char* what;
    const char* model;
    void (*tweak)(Config&);
    std::string request;
    std::string reply;
};

void NoTweak(Config&) {}

const CommandCase kCommands[] = {
    {"ID", "RP200", NoTweak, "ID", Bytes({ACK, 0x30, 0x10})},
    {"ID without bit 15", "WJB-QM2-V2", NoTweak, "ID", Bytes({ACK, 0x20, 0x01})},
    {"ID with bit 15", "WJB-QM2-V2", [](Config& c) { c.bootIdBit15 = true; }, "ID",
     Bytes({ACK, 0xA0, 0x01})},
    {"USB keeps bit 15", "NV-H", [](Config& c) { c.bootIdBit15 = false; }, "ID",
     Bytes({ACK, 0xA0, 0x02})},
    {"ID set", "QM2-C-V4", [](Config& c) { c.bootId = 0x000D; }, "ID", Bytes({ACK, 0x00, 0x0D})},
    {"VERSION 0x14", "RP200", NoTweak, "VERSION", Bytes({ACK, 0x01, 0x40})},
    {"VERSION 0x09", "RP200-AIO", [](Config& c) { c.bootVersion = 0x09; }, "VERSION",
     Bytes({ACK, 0x00, 0x90})},
    {"VERSION 0xFF", "RP200", [](Config& c) { c.bootVersion = 0xFF; }, "VERSION",
     Bytes({ACK, 0x0F, 0xF0})},
    {"ERASE", "RP200", NoTweak, "ERASE", Bytes({ACK})},
    {"EOT", "RP200", NoTweak, "\x04", Bytes({ACK})},
    {"UPDATE", "RP200", NoTweak, "UPDATE", Bytes({ACK})},
    {"probe", "RP200", NoTweak, FRAME_PROBE, plcsim::EncodeFrame({0, 0x64, 1, 0x59, ACK, 0, 0})},
    {"AIO probe", "HB3-AIO", NoTweak, FRAME_PROBE_AIO,
     plcsim::EncodeFrame({0, 0x64, 1, 0x5B, ACK, 0, 0})},
    {"wake-up ignored", "RP200", NoTweak, FRAME_WAKEUP, ""},
    {"0x67 id read ignored", "QM3", NoTweak, FRAME_PLCID_0x67, ""},
    {"word split in two writes", "RP200", NoTweak, "VERS", ""},
};

TEST(SimBoot, AnswersItsCommands) {
    for (const CommandCase& c : kCommands) {
        SCOPED_TRACE(c.what);
        Config cfg = BootConfig(c.model);
        c.tweak(cfg);
        Harness h(cfg);
        EXPECT_EQ(h.Ask(c.request), c.reply);
        EXPECT_TRUE(h.plc->Errors().empty()) << h.plc->Errors().front();
    }
}

TEST(SimBoot, VersionBytesDecodeBackToTheVersion) {
    for (int v = 0; v < 256; ++v) {
        Config cfg = BootConfig("RP200");
        cfg.bootVersion = static_cast<uint8_t>(v);
        Harness h(cfg);
        std::string r = h.Ask("VERSION");
        ASSERT_EQ(r.size(), 3u);
        uint8_t b1 = static_cast<uint8_t>(r[1]), b2 = static_cast<uint8_t>(r[2]);
        EXPECT_EQ(((b1 << 4) + (b2 >> 4)) & 0xFF, v);
    }
}

TEST(SimBoot, StrayBytesAreSkippedAndRecorded) {
    Harness h(BootConfig("RP200"));
    EXPECT_EQ(h.Ask("xyID"), Bytes({ACK, 0x30, 0x10}));
    EXPECT_EQ(h.plc->Errors().size(), 1u);
}

// One block of the transfer after two good ones, built by `make`.
struct BlockCase {
    const char* what;
    std::string (*make)(const std::vector<uint8_t>& img);
    uint8_t reply;
    bool error;
    uint32_t accepted;  // blocks programmed after it
    uint32_t resends;
};

std::string Good(const std::vector<uint8_t>& img, uint8_t num) {
    return HandHost::Block(num, img.data() + (num - 1) * 256, 256, 256);
}

const BlockCase kBlocks[] = {
    {"the next block", [](const std::vector<uint8_t>& i) { return Good(i, 3); }, ACK, false, 3, 0},
    {"bad CRC",
     [](const std::vector<uint8_t>& i) {
         std::string p = Good(i, 3);
         p[259] ^= 1;
         return p;
     },
     NAK, true, 2, 0},
    {"bad complement",
     [](const std::vector<uint8_t>& i) {
         std::string p = Good(i, 3);
         p[2] = 0;
         return p;
     },
     NAK, true, 2, 0},
    {"damaged data",
     [](const std::vector<uint8_t>& i) {
         std::string p = Good(i, 3);
         p[100] ^= 0x10;
         return p;
     },
     NAK, true, 2, 0},
    {"a gap", [](const std::vector<uint8_t>& i) { return Good(i, 4); }, NAK, true, 2, 0},
    {"block 1 again", [](const std::vector<uint8_t>& i) { return Good(i, 1); }, NAK, true, 2, 0},
    {"the last block resent", [](const std::vector<uint8_t>& i) { return Good(i, 2); }, ACK,
     false, 2, 1},
    {"the last number with other data",
     [](const std::vector<uint8_t>& i) { return HandHost::Block(2, i.data(), 256, 256); }, ACK,
     true, 2, 1},
};

TEST(SimBoot, ChecksEveryBlock) {
    auto img = simtest::TestImage(64 * 1024);
    for (const BlockCase& c : kBlocks) {
        SCOPED_TRACE(c.what);
        Harness h(BootConfig("RP200"));
        h.ToTransfer(2);
        ASSERT_EQ(h.Ask(Good(img, 1)), Bytes({ACK}));
        ASSERT_EQ(h.Ask(Good(img, 2)), Bytes({ACK}));
        EXPECT_EQ(h.Ask(c.make(img)), Bytes({c.reply}));
        EXPECT_EQ(!h.plc->Errors().empty(), c.error);
        plcsim::Counters k = h.plc->GetCounters();
        EXPECT_EQ(k.blocksAccepted, c.accepted);
        EXPECT_EQ(k.resendsSeen, c.resends);
        // Whatever happened, the flash holds exactly the accepted blocks.
        std::vector<uint8_t> got = h.plc->Received();
        ASSERT_EQ(got.size(), c.accepted * 256u);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), img.begin()));
    }
}

TEST(SimBoot, FlashFaultsOfTheHostAreRecorded) {
    auto img = simtest::TestImage(4096);
    struct Case {
        const char* what;
        uint32_t pages;   // erased before the transfer
        int transfers;    // UPDATE + the same two blocks, that many times
        bool error;
        bool equal;  // NOR flash: the same bytes written twice still read back right
    };
    const Case cases[] = {
        {"erased first", 1, 1, false, true},
        {"never erased", 0, 1, true, false},
        {"programmed twice without an erase", 1, 2, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h(BootConfig("NV"));
        for (uint32_t p = 0; p < c.pages; ++p) h.Ask("ERASE");
        for (int t = 0; t < c.transfers; ++t) {
            h.line = simtest::AppLine();
            h.Ask("UPDATE");
            h.line = simtest::FastLine();
            h.Ask(Good(img, 1));
            h.Ask(Good(img, 2));
            h.Ask("\x04");
        }
        EXPECT_EQ(!h.plc->Errors().empty(), c.error);
        EXPECT_EQ(h.plc->CompareFlash(img.data(), 512).equal, c.equal);
    }
}

TEST(SimBoot, BlockBeforeUpdateIsRefused) {
    auto img = simtest::TestImage(256);
    Harness h(BootConfig("RP200"));
    h.Ask("ERASE");
    EXPECT_EQ(h.Ask(Good(img, 1)), Bytes({NAK}));
    EXPECT_EQ(h.plc->Errors().size(), 1u);
}

TEST(SimBoot, WriteProtectedFlashAnswersNok) {
    Config cfg = BootConfig("QM2-E");
    cfg.writeProtected = true;
    Harness h(cfg);
    h.ToTransfer(1);
    auto img = simtest::TestImage(128);
    EXPECT_EQ(h.Ask(HandHost::Block(1, img.data(), 128, 128)), Bytes({NOK}));
    EXPECT_EQ(h.plc->GetCounters().blocksAccepted, 0u);
}

TEST(SimBoot, TransferAtTheWrongSpeedIsRecordedOnce) {
    Harness h(BootConfig("QM2-E"));
    h.ToTransfer(1);
    h.line = simtest::AppLine();  // the host forgot the line switch
    auto img = simtest::TestImage(256);
    EXPECT_EQ(h.Ask(HandHost::Block(1, img.data(), 128, 128)), Bytes({ACK}));
    EXPECT_EQ(h.Ask(HandHost::Block(2, img.data() + 128, 128, 128)), Bytes({ACK}));
    EXPECT_EQ(h.plc->Errors().size(), 1u);
}

TEST(SimBoot, BlockNumbersWrapFrom255To0) {
    auto img = simtest::TestImage(300 * 128);
    Harness h(BootConfig("PN2"));
    h.ToTransfer(19);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(h.Ask(HandHost::Block(static_cast<uint8_t>(i + 1), img.data() + i * 128, 128,
                                        128)),
                  Bytes({ACK}))
            << i;
    // Number 0 is the 256th block; a second 0 now is a resend, not block 256 again.
    EXPECT_EQ(h.Ask("\x04"), Bytes({ACK}));
    EXPECT_TRUE(h.plc->CompareFlash(img.data(), img.size()).equal);
    EXPECT_TRUE(h.plc->Errors().empty());
}

TEST(SimBoot, CompareFlashLeavesOutFillerAndTheLast4K) {
    struct Case {
        const char* model;
        uint32_t imageBytes;
        uint32_t sent, received;
    };
    const Case cases[] = {
        {"RP200", 4096 * 3 + 1000, 4096 * 2 + 1000, 4096 * 2 + 1024},
        {"NV", 1000, 1000, 1024},
        {"QM2-E", 1000, 1000, 1024},
        {"QM2-E", 1024, 1024, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        auto img = simtest::TestImage(c.imageBytes);
        Harness h(BootConfig(c.model));
        h.ToTransfer(4);
        uint32_t bs = h.plc->Model().blockBytes;
        for (uint32_t i = 0; i * bs < c.sent; ++i)
            h.Ask(HandHost::Block(static_cast<uint8_t>(i + 1), img.data() + i * bs,
                                  std::min(bs, c.sent - i * bs), bs));
        h.Ask("\x04");
        plcsim::FlashCheck check = h.plc->CompareFlash(img.data(), img.size());
        EXPECT_TRUE(check.equal) << check.detail;
        EXPECT_EQ(check.imageBytesSent, c.sent);
        EXPECT_EQ(check.receivedBytes, c.received);
        // A different image does not compare equal.
        img[c.sent - 1] ^= 1;
        EXPECT_EQ(h.plc->CompareFlash(img.data(), img.size()).firstDifference, c.sent - 1);
    }
}

}  // namespace
