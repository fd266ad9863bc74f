#include "applink/applink.h"
#include "tests/bootloader/boot_fixture.h"

namespace {

using boottest::kAck;
using boottest::kNak;
using boottest::kNok;

const std::string kEot = plctest::Bytes({EOT});

class TransferTest : public boottest::BootTest {
  protected:
    // Checks the framing of every block packet among the writes (all but a final EOT) and
    // returns the image bytes they carry, filler removed; firstFiller is the offset of the first
    // SUB in the last packet (0 for none).
    std::vector<uint8_t> CheckBlocks(size_t dataBytes, size_t firstFiller) {
        std::vector<uint8_t> carried;
        const auto& w = peer->writes;
        size_t blocks = w.size() - (!w.empty() && w.back() == kEot ? 1 : 0);
        for (size_t i = 0; i < blocks; ++i) {
            SCOPED_TRACE("block " + std::to_string(i));
            const auto* p = reinterpret_cast<const uint8_t*>(w[i].data());
            EXPECT_EQ(w[i].size(), dataBytes + 5);
            if (w[i].size() != dataBytes + 5) break;
            EXPECT_EQ(p[0], STX);
            EXPECT_EQ(p[1], static_cast<uint8_t>(i + 1));
            EXPECT_EQ(p[2], static_cast<uint8_t>(255 - p[1]));
            uint16_t crc = boottest::ReferenceCrc(p + 3, dataBytes);
            EXPECT_EQ(p[3 + dataBytes], crc >> 8);
            EXPECT_EQ(p[4 + dataBytes], crc & 0xFF);
            size_t end = i + 1 == blocks && firstFiller ? firstFiller : 3 + dataBytes;
            carried.insert(carried.end(), p + 3, p + end);
            for (size_t j = end; j < 3 + dataBytes; ++j) EXPECT_EQ(p[j], SUB) << j;
        }
        return carried;
    }
};

struct LayoutCase {
    const char* model;
    uint32_t imageBytes;
    size_t blocks;
    size_t dataBytes;
    size_t firstFiller;  // offset of the first SUB in the last block; 0: no filler
    size_t sent;         // image bytes carried, from the first
};

const LayoutCase kLayoutCases[] = {
    {"NV", 1000, 4, 256, 235, 1000},  {"QM2-E", 1000, 8, 128, 107, 1000},
    {"NV", 1024, 4, 256, 0, 1024},    {"QM2-E", 1024, 8, 128, 0, 1024},
    {"NV26", 200, 2, 128, 75, 200},   {"30TR2-AIO", 300, 2, 256, 47, 300},
    {"RP200", 4396, 2, 256, 47, 300}, {"RP200", 8192, 16, 256, 0, 4096},
    {"RP200-Z", 4097, 1, 256, 4, 1},
};

TEST_F(TransferTest, BlockLayoutAndFiller) {
    for (const auto& c : kLayoutCases) {
        SCOPED_TRACE(std::string(c.model) + ", " + std::to_string(c.imageBytes) + " bytes");
        StartCase(c.model);
        UseImage(c.imageBytes);
        auto& plc = Open();
        plc.Otherwise(kAck);
        ASSERT_EQ(SendFW(hSerial), OK);
        ASSERT_EQ(plc.writes.size(), c.blocks + 1);
        EXPECT_EQ(plc.writes.back(), kEot);
        auto carried = CheckBlocks(c.dataBytes, c.firstFiller);
        EXPECT_EQ(carried, std::vector<uint8_t>(image.begin(), image.begin() + c.sent));
        EXPECT_EQ(Consumed(), c.sent);
        EXPECT_EQ(progress, 100);
        EXPECT_EQ(flashStatus, PROGRAM);
    }
}

TEST_F(TransferTest, EmbeddedSizeImageOnRp200) {
    const uint32_t size = 2076672;
    UseImage(size);
    auto& plc = Open();
    plc.Otherwise(kAck);
    ASSERT_EQ(SendFW(hSerial), OK);
    ASSERT_EQ(plc.writes.size(), 8097u);
    EXPECT_EQ(static_cast<uint8_t>(plc.writes[254][1]), 255);
    EXPECT_EQ(static_cast<uint8_t>(plc.writes[255][1]), 0);
    EXPECT_EQ(static_cast<uint8_t>(plc.writes[8095][1]), 160);
    auto carried = CheckBlocks(256, 0);
    // The last 4096 bytes stay behind.
    EXPECT_TRUE(std::equal(carried.begin(), carried.end(), image.begin()));
    EXPECT_EQ(carried.size(), size - 4096);
    EXPECT_EQ(Consumed(), size - 4096u);
    // The write after a block's ACK shows the progress of that block.
    EXPECT_EQ(progressAtWrite[1], 0);
    EXPECT_EQ(progressAtWrite[4000], 49);
    EXPECT_EQ(progressAtWrite[8096], 99);
    EXPECT_EQ(statusAtWrite[0], PROGRAM);
    EXPECT_EQ(progress, 100);
}

struct TransferFault {
    const char* what;
    void (*script)(plctest::ScriptedPeer&);  // NV, 16 blocks
    uint8_t result;
    size_t writes;
    size_t eotWrites;
    int32_t errCounter;
    int32_t totalErrCounter;
    size_t consumed;
};

const TransferFault kTransferFaults[] = {
    {"five NAKs, then ACK", [](plctest::ScriptedPeer& p) { p.Times(5, kNak).Otherwise(kAck); }, OK,
     22, 1, 0, 5, 4096},
    {"six NAKs", [](plctest::ScriptedPeer& p) { p.Otherwise(kNak); }, ERR, 6, 0, 6, 6, 256},
    {"NOK to block 10",
     [](plctest::ScriptedPeer& p) { p.Times(9, kAck).Then(kNok).Otherwise(kAck); }, NOK, 10, 0, 0,
     0, 2560},
    {"two NAKs, then NOK to block 10",
     [](plctest::ScriptedPeer& p) { p.Times(9, kAck).Times(2, kNak).Then(kNok); }, NOK, 12, 0, 2, 2,
     2560},
    {"EOT acknowledged on the third try",
     [](plctest::ScriptedPeer& p) { p.Times(16, kAck).Times(2, kNak).Otherwise(kAck); }, OK, 19, 3,
     0, 2, 4096},
    {"NOK to every EOT", [](plctest::ScriptedPeer& p) { p.Times(16, kAck).Otherwise(kNok); }, ERR,
     22, 6, 6, 6, 4096},
    {"short write of block 4",
     [](plctest::ScriptedPeer& p) { p.ShortWrite(3, 100).Otherwise(kAck); }, OK, 18, 1, 0, 1, 4096},
    {"silent PLC", [](plctest::ScriptedPeer&) {}, ERR, 6, 0, 6, 6, 256},
    {"link takes no byte", [](plctest::ScriptedPeer& p) { p.AcceptNoBytes(); }, ERR, 6, 0, 6, 6,
     256},
};

TEST_F(TransferTest, RetriesNokAndEot) {
    for (const auto& c : kTransferFaults) {
        SCOPED_TRACE(c.what);
        StartCase("NV");
        UseImage(4096);
        auto& plc = Open();
        c.script(plc);
        EXPECT_EQ(SendFW(hSerial), c.result);
        EXPECT_EQ(plc.writes.size(), c.writes);
        EXPECT_EQ(CountWrites(kEot), c.eotWrites);
        EXPECT_EQ(errCounter, c.errCounter);
        EXPECT_EQ(totalErrCounter, c.totalErrCounter);
        EXPECT_EQ(Consumed(), c.consumed);
        // A resent block is the identical packet: dropping the repeats leaves a clean sequence.
        std::vector<std::string> distinct;
        for (const auto& w : plc.writes)
            if (w != kEot && (distinct.empty() || distinct.back() != w)) distinct.push_back(w);
        EXPECT_EQ(distinct.size() * 256, c.consumed);
        plc.writes.assign(distinct.begin(), distinct.end());
        EXPECT_EQ(CheckBlocks(256, 0),
                  std::vector<uint8_t>(image.begin(), image.begin() + c.consumed));
    }
}

struct ShortImageCase {
    const char* model;
    uint32_t imageBytes;
};

// Nothing of these images would be written: neither the erase nor the transfer may begin.
const ShortImageCase kShortImages[] = {
    {"RP200", 4096}, {"RP200", 1}, {"RP200-Z", 4000}, {"GW3HB3", 0}, {"NV", 0}, {"QM2-E", 0},
};

TEST_F(TransferTest, ImageWithNothingToWriteIsRefused) {
    for (const auto& c : kShortImages) {
        SCOPED_TRACE(std::string(c.model) + ", " + std::to_string(c.imageBytes) + " bytes");
        StartCase(c.model);
        UseImage(c.imageBytes);
        auto& plc = Open();
        plc.Otherwise(kAck);
        EXPECT_EQ(SendErase_B(hSerial), ERR);
        EXPECT_EQ(SendFW(hSerial), ERR);
        EXPECT_TRUE(plc.writes.empty());
        EXPECT_EQ(Consumed(), 0u);
        EXPECT_EQ(flashStatus, IDLE);
    }
}

struct UpdateCase {
    const char* model;
    void (*script)(plctest::ScriptedPeer&);
    uint8_t result;
    size_t writes;
    bool switched;
};

const UpdateCase kUpdateCases[] = {
    {"PN2", [](plctest::ScriptedPeer& p) { p.Then(kAck); }, OK, 1, true},
    {"30TR2-AIO", [](plctest::ScriptedPeer& p) { p.ThenSilence(5).Then(kAck); }, OK, 6, true},
    {"RP200", [](plctest::ScriptedPeer& p) { p.Times(5, kNak).Then(kAck); }, OK, 6, true},
    {"PN2", [](plctest::ScriptedPeer& p) { p.Otherwise(kNak); }, ERR, 6, false},
    {"PN2", [](plctest::ScriptedPeer& p) { p.AcceptNoBytes(); }, ERR, 6, false},
};

TEST_F(TransferTest, UpdateSwitchesTheLine) {
    const platform::LineSettings before{9600, 7, EVENPARITY, ONESTOPBIT, false, false};
    const platform::LineSettings after{115200, 8, NOPARITY, ONESTOPBIT, false, false};
    for (const auto& c : kUpdateCases) {
        SCOPED_TRACE(c.model);
        StartCase(c.model);
        auto& plc = Open();
        c.script(plc);
        SetupComLine(hSerial);  // as the mode probe left it
        EXPECT_EQ(SendUpdate(hSerial), c.result);
        EXPECT_EQ(plc.writes.size(), c.writes);
        EXPECT_EQ(plc.writes.front(), "UPDATE");
        std::vector<platform::LineSettings> expected{before};
        if (c.switched) expected.push_back(after);
        EXPECT_EQ(link->LineHistory(), expected);
        EXPECT_EQ(errCounter, c.result == OK ? 0 : 6);
    }
}

}  // namespace
