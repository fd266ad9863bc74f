#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "platform/resource_image.h"

namespace {

HRSRC FindImage() { return FindResourceA(nullptr, MAKEINTRESOURCEA(8), "BIN"); }

TEST(ResourceImage, HandsOutTheImageThatIsSet) {
    std::vector<uint8_t> image = {1, 2, 3, 4, 5};
    platform::SetResourceImage(image.data(), image.size());
    HRSRC r = FindImage();
    ASSERT_NE(r, nullptr);
    HGLOBAL g = LoadResource(nullptr, r);
    EXPECT_EQ(platform::LoadedResourceCount(), 1);
    EXPECT_EQ(LockResource(g), image.data());
    EXPECT_EQ(SizeofResource(nullptr, r), 5u);
    FreeResource(g);
    EXPECT_EQ(platform::LoadedResourceCount(), 0);
    platform::UseEmbeddedResourceImage();
}

TEST(ResourceImage, OnlyTheBinResourceEightExists) {
    std::vector<uint8_t> image(16);
    platform::SetResourceImage(image.data(), image.size());
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(9), "BIN"), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(8), "BITMAP"), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(8), nullptr), nullptr);
    platform::SetResourceImage(nullptr, 0);  // a missing resource
    EXPECT_EQ(FindImage(), nullptr);
    EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
    EXPECT_EQ(LockResource(nullptr), nullptr);
    platform::UseEmbeddedResourceImage();
}

TEST(ResourceImage, ThisTestProgramCarriesNoEmbeddedImage) {
    size_t size = 1;
    EXPECT_EQ(platform::EmbeddedImage(&size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(FindImage(), nullptr);
}

}  // namespace
