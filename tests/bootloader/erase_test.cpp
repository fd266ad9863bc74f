#include "tests/bootloader/boot_fixture.h"

namespace {

using boottest::kAck;
using boottest::kNak;

const std::string kErase = "ERASE";
const std::string kEot = plctest::Bytes({EOT});

class EraseTest : public boottest::BootTest {};

struct PageCase {
    const char* model;
    uint32_t imageBytes;
    size_t pages;  // 0: refused, nothing sent
};

const PageCase kPageCases[] = {
    {"QM2-E", 131072, 2},    {"QM2-E", 131071, 1},    {"NV26", 1, 1},      {"NV", 16384, 2},
    {"NV-H", 16383, 1},      {"PN2", 2048, 2},        {"PN2", 2047, 1},    {"RP200-AIO", 2048, 1},
    {"RP200-AIO", 2049, 2},  {"HB3-AIO", 40960, 20},  {"30TR2-AIO", 1, 4}, {"30TR2-AIO", 12288, 4},
    {"RP200", 2076672, 506}, {"RP200", 2076671, 506}, {"RP200", 4097, 1},  {"RP200", 8192, 1},
    {"RP200-Z", 8193, 2},    {"RP200", 4096, 0},      {"RP300", 100, 0},   {"RP200", 0, 0},
    {"PN2", 0, 0},           {"30TR2-AIO", 0, 0},
};

TEST_F(EraseTest, PagesByModelAndImageSize) {
    for (const auto& c : kPageCases) {
        SCOPED_TRACE(std::string(c.model) + ", " + std::to_string(c.imageBytes) + " bytes");
        StartCase(c.model);
        UseImage(c.imageBytes);
        auto& plc = Open();
        plc.Otherwise(kAck);
        uint8_t result = SendErase_B(hSerial);
        if (c.pages == 0) {
            EXPECT_EQ(result, ERR);
            EXPECT_TRUE(plc.writes.empty());
            EXPECT_EQ(flashStatus, IDLE);
        } else {
            EXPECT_EQ(result, OK);
            EXPECT_EQ(CountWrites(kErase), c.pages);
            ASSERT_EQ(plc.writes.size(), c.pages + 1);
            EXPECT_EQ(plc.writes.back(), kEot);
            EXPECT_EQ(progress, 100);
            EXPECT_EQ(flashStatus, ERASE);
        }
    }
}

TEST_F(EraseTest, ProgressOverTheEmbeddedSizeImage) {
    UseImage(2076672);
    auto& plc = Open();
    plc.Otherwise(kAck);
    ASSERT_EQ(SendErase_B(hSerial), OK);
    // The write after a page's ACK shows the progress of that page.
    ASSERT_EQ(progressAtWrite.size(), 507u);
    EXPECT_EQ(progressAtWrite[1], 0);     // after page 0
    EXPECT_EQ(progressAtWrite[253], 49);  // after page 252
    EXPECT_EQ(progressAtWrite[506], 99);  // after page 505, as the EOT goes out
    EXPECT_EQ(statusAtWrite[0], ERASE);
    EXPECT_EQ(progress, 100);
}

struct EraseFault {
    const char* what;
    const char* model;  // RP200: 3 pages of 4 KiB; PN2: 3 pages of 2 KiB
    void (*script)(plctest::ScriptedPeer&);
    uint8_t result;
    size_t eraseWrites;
    size_t eotWrites;
    int32_t errCounter;
    int32_t totalErrCounter;
};

const EraseFault kEraseFaults[] = {
    {"4 KiB pages: silent first ERASE", "RP200", [](plctest::ScriptedPeer&) {}, ERR, 1, 0, 1, 1},
    {"4 KiB pages: NAK to page 2", "RP200",
     [](plctest::ScriptedPeer& p) { p.Times(2, kAck).Then(kNak).Otherwise(kAck); }, ERR, 3, 0, 1,
     1},
    {"4 KiB pages: short write", "RP200", [](plctest::ScriptedPeer& p) { p.ShortWrite(0, 2); }, ERR,
     1, 0, 1, 1},
    {"4 KiB pages: EOT on the sixth try", "RP200",
     [](plctest::ScriptedPeer& p) { p.Times(3, kAck).Times(5, kNak).Otherwise(kAck); }, OK, 3, 6, 0,
     5},
    {"4 KiB pages: EOT never acknowledged", "RP200",
     [](plctest::ScriptedPeer& p) { p.Times(3, kAck).Otherwise(kNak); }, ERR, 3, 6, 6, 6},
    {"2 KiB pages: five NAKs, then ACK", "PN2",
     [](plctest::ScriptedPeer& p) { p.Times(5, kNak).Otherwise(kAck); }, OK, 8, 1, 0, 5},
    {"2 KiB pages: six NAKs", "PN2", [](plctest::ScriptedPeer& p) { p.Otherwise(kNak); }, ERR, 6, 0,
     6, 6},
    {"2 KiB pages: five short writes and six silences", "PN2",
     [](plctest::ScriptedPeer& p) {
         for (size_t i = 0; i < 5; ++i) p.ShortWrite(i, 0);
     },
     ERR, 11, 0, 6, 11},
};

TEST_F(EraseTest, RetriesByModel) {
    for (const auto& c : kEraseFaults) {
        SCOPED_TRACE(c.what);
        StartCase(c.model);
        UseImage(SelectedPLCIs("RP200") ? 4 * 4096 : 4096);
        auto& plc = Open();
        c.script(plc);
        EXPECT_EQ(SendErase_B(hSerial), c.result);
        EXPECT_EQ(CountWrites(kErase), c.eraseWrites);
        EXPECT_EQ(CountWrites(kEot), c.eotWrites);
        EXPECT_EQ(errCounter, c.errCounter);
        EXPECT_EQ(totalErrCounter, c.totalErrCounter);
    }
}

}  // namespace
