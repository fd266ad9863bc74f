#include <algorithm>

#include "tests/bootloader/boot_fixture.h"

namespace {

using boottest::kAck;

class ModelRulesTest : public boottest::BootTest {};

struct ModelRule {
    const char* model;
    size_t packetBytes;
    uint32_t keptBack;
    size_t pagesForUpTo256KiB;  // 256 KiB, or the largest image the model takes
};

// Every catalogue row, written out by hand: a model in the wrong group shows up here.
const ModelRule kModelRules[] = {
    {"QM2-TR2-V2", 133, 0, 129}, {"PN2", 133, 0, 129},
    {"HB2", 133, 0, 129},        {"DK2", 133, 0, 129},
    {"QM2-C-V2", 133, 0, 3},     {"NV", 261, 0, 17},
    {"LC3", 133, 0, 129},        {"30TR2-AIO", 261, 0, 4},
    {"HB-V3", 133, 0, 129},      {"WJB-QM2-V2", 133, 0, 129},
    {"NV-H", 261, 0, 17},        {"DK2-H", 133, 0, 129},
    {"RP300", 261, 4096, 63},    {"QM-TR-LC2", 133, 0, 129},
    {"TR2-CAR", 133, 0, 3},      {"DK28", 133, 0, 3},
    {"QM2-E", 133, 0, 3},        {"RP200", 261, 4096, 63},
    {"RP200-AIO", 261, 0, 20},  {"NV26", 133, 0, 3},
    {"QM3", 261, 4096, 63},      {"FYX-J", 261, 4096, 63},
    {"RP100", 261, 4096, 63},    {"TR3-AIO", 261, 0, 20},
    {"QM2-TR2-V4", 133, 0, 129}, {"HB-V4", 133, 0, 129},
    {"WJB-QM2-V4", 133, 0, 129}, {"QM3-PACKAGE", 261, 4096, 63},
    {"QM2-C-V4", 133, 0, 3},     {"GW3HB3", 261, 4096, 63},
    {"HB3-AIO", 261, 0, 20},    {"RP200-TO-RP300", 261, 4096, 63},
    {"RP200-Z", 261, 4096, 63},
};
static_assert(sizeof kModelRules / sizeof kModelRules[0] == PLC_COUNT);

TEST_F(ModelRulesTest, BlocksAndPagesOfEveryModel) {
    for (const auto& c : kModelRules) {
        SCOPED_TRACE(c.model);
        StartCase(c.model);
        EXPECT_EQ(ModelIn(selectedPLCIdx, PAGE_4KIB_MODELS), c.keptBack != 0);
        EXPECT_EQ(ModelIn(selectedPLCIdx, BLOCK_256_MODELS), c.packetBytes == 261);
        EXPECT_EQ(ModelIn(selectedPLCIdx, BLOCK_128_MODELS), c.packetBytes == 133);

        UseImage(5000);
        auto& plc = Open();
        plc.Otherwise(kAck);
        ASSERT_EQ(SendFW(hSerial), OK);
        EXPECT_EQ(plc.writes.front().size(), c.packetBytes);
        // The cursor never hands out more than the image holds.
        EXPECT_EQ(Consumed(), 5000u - c.keptBack);

        plc.writes.clear();
        fileLength = std::min<uint32_t>(256 * 1024, MaxImageBytes(selectedPLCIdx));
        ASSERT_EQ(SendErase_B(hSerial), OK);
        EXPECT_EQ(plc.writes.size(), c.pagesForUpTo256KiB + 1);
    }
}

}  // namespace
