#include "tests/bootloader/boot_fixture.h"

namespace {

using boottest::kAck;

class ModelRulesTest : public boottest::BootTest {};

// One model of each page rule and block size: what goes on the wire for an image.
struct ModelRule {
    const char* model;
    uint32_t imageBytes;
    size_t packetBytes;
    uint32_t bytesSent;
    size_t erasePages;
};

const ModelRule kModelRules[] = {
    {"RP200", 2076672, 261, 2072576, 506},  // 4 KiB pages, the last 4096 bytes kept back
    {"RP200", 4097, 261, 1, 1},
    {"QM2-E", 131072, 133, 131072, 2},  // 128 KiB pages, always one more
    {"NV", 16384, 261, 16384, 2},       // 16 KiB pages
    {"PN2", 2048, 133, 2048, 2},        // 2 KiB pages, always one more
    {"RP200-AIO", 2048, 261, 2048, 1},  // 2 KiB pages, rounded up
    {"RP200-AIO", 2049, 261, 2049, 2},
    {"30TR2-AIO", 12288, 261, 12288, 4},  // always four pages
    {"NV26", 5000, 133, 5000, 1},
};

TEST_F(ModelRulesTest, PacketsAndPagesForAnImage) {
    for (const auto& c : kModelRules) {
        SCOPED_TRACE(std::string(c.model) + " " + std::to_string(c.imageBytes));
        StartCase(c.model);
        UseImage(c.imageBytes);
        auto& plc = Open();
        plc.Otherwise(kAck);
        ASSERT_EQ(SendFW(hSerial), OK);
        EXPECT_EQ(plc.writes.front().size(), c.packetBytes);
        EXPECT_EQ(Consumed(), c.bytesSent);  // never more than the image holds

        plc.writes.clear();
        ASSERT_EQ(SendErase_B(hSerial), OK);
        EXPECT_EQ(plc.writes.size(), c.erasePages + 1);  // and the EOT
    }
}

}  // namespace
