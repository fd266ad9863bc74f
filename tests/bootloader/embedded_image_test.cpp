#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "bootloader/bootloader.h"
#include "resource/resource.h"
#include "tests/support/engine_fixture.h"

namespace {

class EmbeddedImage : public plctest::EngineTest {};

TEST_F(EmbeddedImage, TheExecutableCarriesTheImageFileByteForByte) {
    std::ifstream file(EMBEDDED_IMAGE_PATH, std::ios::binary);
    ASSERT_TRUE(file) << EMBEDDED_IMAGE_PATH;
    std::vector<unsigned char> expected((std::istreambuf_iterator<char>(file)),
                                        std::istreambuf_iterator<char>());
    ASSERT_TRUE(LoadImage());
    ASSERT_EQ(uint32_t(fileLength), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), fin));
    CloseFile();
}

TEST_F(EmbeddedImage, DefaultBuildNamesTheModelAndSize) {
    if (std::string(QUOTE(FW_FILE)) != "RP200_v1.14.10_20240103_01.bin")
        GTEST_SKIP() << "built for another image";
    ASSERT_TRUE(LoadImage());
    EXPECT_EQ(uint32_t(fileLength), 2076672u);
    CloseFile();
}

}  // namespace
