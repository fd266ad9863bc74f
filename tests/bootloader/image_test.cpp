#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "bootloader/bootloader.h"
#include "tests/support/engine_fixture.h"

namespace {

TEST(Crc16, CheckValuesAndTable) {
    const char* check = "123456789";
    EXPECT_EQ(CRC(reinterpret_cast<const unsigned char*>(check), 9), 0x31C3u);
    EXPECT_EQ(CRC(nullptr, 0), 0u);
    EXPECT_EQ(crctab[0], 0x0000);
    EXPECT_EQ(crctab[1], 0x1021);
    EXPECT_EQ(crctab[128], 0x9188);
    EXPECT_EQ(crctab[255], 0x1EF0);
    // Every entry is the CRC of its single byte, computed bit by bit.
    for (unsigned k = 0; k < 256; ++k) {
        unsigned c = k << 8;
        for (int b = 0; b < 8; ++b) c = (c & 0x8000) ? ((c << 1) ^ 0x1021) : (c << 1);
        EXPECT_EQ(crctab[k], c & 0xFFFF) << k;
    }
}

TEST(Crc16, BlocksOfBothSizesMatchTheBitwiseDefinition) {
    std::vector<unsigned char> data(256);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 37 + 11);
    for (uint32_t len : {1u, 128u, 256u}) {
        unsigned crc = 0;
        for (uint32_t i = 0; i < len; ++i) {
            crc ^= unsigned{data[i]} << 8;
            for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1);
            crc &= 0xFFFF;
        }
        uint32_t got = CRC(data.data(), len);
        EXPECT_EQ(got, crc) << len;
        EXPECT_EQ(got >> 16, 0u);
    }
}

class ImageSource : public plctest::EngineTest {
  protected:
    void SetUp() override {
        plctest::EngineTest::SetUp();
        image.resize(1000);
        std::iota(image.begin(), image.end(), 0);
        platform::SetResourceImage(image.data(), image.size());
    }
    std::vector<unsigned char> image;
};

TEST_F(ImageSource, ConsecutiveSlicesAndCountsThatMoveNothing) {
    ASSERT_TRUE(LoadImage());
    EXPECT_EQ(uint32_t(fileLength), 1000u);
    EXPECT_EQ(platform::LoadedResourceCount(), 1);
    std::vector<unsigned char> a(256, 0xEE), b(100, 0xEE);
    FileRead(a.data(), 256);
    FileRead(b.data(), 100);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), image.begin()));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), image.begin() + 256));
    EXPECT_EQ(fin, image.data() + 356);
    unsigned char untouched = 0xEE;
    for (int32_t count : {0, -1, -256}) {
        FileRead(&untouched, count);
        EXPECT_EQ(fin, image.data() + 356) << count;
        EXPECT_EQ(untouched, 0xEE) << count;
    }
    CloseFile();
    EXPECT_EQ(platform::LoadedResourceCount(), 0);
}

TEST_F(ImageSource, TheNextRunStartsAtTheFirstByteAgain) {
    ASSERT_TRUE(LoadImage());
    std::vector<unsigned char> block(256);
    FileRead(block.data(), 256);
    FileRead(block.data(), 256);
    CloseFile();
    ASSERT_TRUE(LoadImage());
    FileRead(block.data(), 256);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), image.begin()));
    CloseFile();
}

TEST_F(ImageSource, AMissingResourceLeavesNoCursor) {
    platform::SetResourceImage(nullptr, 0);
    EXPECT_FALSE(LoadImage());
    EXPECT_EQ(fin, nullptr);
    EXPECT_EQ(uint32_t(fileLength), 0u);
    CloseFile();  // harmless without a loaded image
    EXPECT_EQ(platform::LoadedResourceCount(), 0);
}

}  // namespace
