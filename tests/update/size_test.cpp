// The image checks before the link is opened: size classes, too small, empty, missing.
#include "tests/update/update_fixture.h"

namespace plctest {
namespace {

#define C1 "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)"
#define C2 "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)"
#define C3 "The file size EXCEEDS the MAXIMUM size (4 * 1024)"
#define C4 "The file size EXCEEDS the MAXIMUM size (40 * 1024)"
#define C5 "The file size EXCEEDS the MAXIMUM size (2028 * 1024)"
#define C6 "The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)"
#define TOO_SMALL_4K "The file size is TOO SMALL (4 * 1024)"
#define EMPTY "The firmware image is EMPTY"

struct SizeCase {
    const char* model;
    uint32_t limit;
    const char* tooLarge;
};

// Every catalogue model with its limit and the message one byte over it.
const SizeCase kSizeCases[] = {
    {"QM2-C-V2", 524288, C1},   {"QM2-C-V4", 524288, C1},     {"TR2-CAR", 524288, C1},
    {"DK28", 524288, C1},       {"QM2-E", 917504, C2},        {"NV26", 917504, C2},
    {"30TR2-AIO", 12288, C3},   {"RP200-AIO", 40960, C4},     {"TR3-AIO", 40960, C4},
    {"HB3-AIO", 40960, C4},     {"RP300", 2076672, C5},       {"RP200", 2076672, C5},
    {"QM3", 2076672, C5},       {"QM3-PACKAGE", 2076672, C5}, {"FYX-J", 2076672, C5},
    {"RP100", 2076672, C5},     {"GW3HB3", 2076672, C5},      {"RP200-TO-RP300", 2076672, C5},
    {"RP200-Z", 2076672, C5},   {"QM2-TR2-V2", 493568, C6},   {"PN2", 493568, C6},
    {"HB2", 493568, C6},        {"DK2", 493568, C6},          {"NV", 493568, C6},
    {"LC3", 493568, C6},        {"HB-V3", 493568, C6},        {"WJB-QM2-V2", 493568, C6},
    {"NV-H", 493568, C6},       {"DK2-H", 493568, C6},        {"QM-TR-LC2", 493568, C6},
    {"QM2-TR2-V4", 493568, C6}, {"HB-V4", 493568, C6},        {"WJB-QM2-V4", 493568, C6},
};
static_assert(sizeof kSizeCases / sizeof kSizeCases[0] == 33);

class SizeCheck : public UpdateRun {
  protected:
    // The size check passed when the run went on to open its link ("nolink" exists nowhere).
    bool PassedSizeCheck() const { return LastMessage().text == "CANNOT open nolink Port!!!"; }
    void RunWith(const char* model, size_t size, const char* link = "nolink") {
        events.clear();
        states.clear();
        Select(model);
        UseImage(size);
        SetLinkOverride(link);
        DirtyRunState();
        Run();
    }
    // An early end before the link: timer, message, only the elapsed time reset, the image
    // released, then the button.
    void ExpectEarlyEnd(const std::string& text) {
        EXPECT_EQ(Trace(), "DKME");
        ExpectError(LastMessage(), text);
        EXPECT_EQ(AtEnable().elapsed, 0) << "elapsed time reset after the button";
        EXPECT_EQ(AtEnable().loadedImages, 0) << "image released after the button";
        EXPECT_EQ(elapsedTime, 0);
        EXPECT_EQ(flashStatus, PROGRAM) << "the early end touches only the elapsed time";
        EXPECT_EQ(progress, 37);
        EXPECT_EQ(errCounter, 3);
        EXPECT_EQ(totalErrCounter, 11);
        EXPECT_EQ(platform::LoadedResourceCount(), 0);
        EXPECT_EQ(platform::OpenHandleCount(), 0);
    }
};

TEST_F(SizeCheck, ImageAtTheLimitPassesAndOneByteMoreStops) {
    for (const SizeCase& c : kSizeCases) {
        SCOPED_TRACE(c.model);
        RunWith(c.model, c.limit);
        EXPECT_TRUE(PassedSizeCheck()) << LastMessage().text;
        RunWith(c.model, c.limit + 1);
        ExpectEarlyEnd(c.tooLarge);
    }
}

TEST_F(SizeCheck, TooLargeImageOpensNoLink) {
    auto plc = Plc("plc");
    RunWith("QM2-E", 917505, "plc");
    ExpectEarlyEnd(C2);
    EXPECT_EQ(plc->opens, 0);
    EXPECT_TRUE(plc->requests.empty());
}

struct SmallCase {
    const char* model;
    size_t size;
    const char* message;  // nullptr: passes
};

// The 4 KiB-page models keep the last 4096 bytes back: 4096 bytes or less leave nothing to
// write. No model may "succeed" with an empty image.
const SmallCase kSmallCases[] = {
    {"RP200", 4096, TOO_SMALL_4K},
    {"RP200", 4097, nullptr},
    {"RP300", 1, TOO_SMALL_4K},
    {"QM3", 4096, TOO_SMALL_4K},
    {"QM3-PACKAGE", 4000, TOO_SMALL_4K},
    {"FYX-J", 4096, TOO_SMALL_4K},
    {"RP100", 0, TOO_SMALL_4K},
    {"GW3HB3", 4096, TOO_SMALL_4K},
    {"RP200-TO-RP300", 4096, TOO_SMALL_4K},
    {"RP200-Z", 4096, TOO_SMALL_4K},
    {"RP200-Z", 4097, nullptr},
    {"RP200-AIO", 0, EMPTY},
    {"RP200-AIO", 1, nullptr},
    {"NV", 0, EMPTY},
    {"NV26", 0, EMPTY},
    {"QM2-E", 0, EMPTY},
    {"30TR2-AIO", 0, EMPTY},
    {"30TR2-AIO", 1, nullptr},
    {"PN2", 0, EMPTY},
    {"DK28", 0, EMPTY},
    {"PN2", 1, nullptr},
    {"NV-H", 4096, nullptr},
};

TEST_F(SizeCheck, TooSmallAndEmptyImagesStopBeforeTheLink) {
    for (const SmallCase& c : kSmallCases) {
        SCOPED_TRACE(std::string(c.model) + " " + std::to_string(c.size));
        RunWith(c.model, c.size);
        if (c.message == nullptr)
            EXPECT_TRUE(PassedSizeCheck()) << LastMessage().text;
        else
            ExpectEarlyEnd(c.message);
    }
}

TEST_F(SizeCheck, MissingImageStopsWithoutLink) {
    auto plc = Plc("plc");
    platform::SetResourceImage(nullptr, 0);
    DirtyRunState();
    Run();
    EXPECT_EQ(Trace(), "DKME");
    ExpectError(LastMessage(), "The firmware image is MISSING");
    EXPECT_EQ(AtEnable().elapsed, 0);
    EXPECT_EQ(elapsedTime, 0);
    EXPECT_EQ(flashStatus, PROGRAM);
    EXPECT_EQ(plc->opens, 0);
    EXPECT_EQ(platform::LoadedResourceCount(), 0);
    EXPECT_EQ(platform::OpenHandleCount(), 0);
}

TEST_F(SizeCheck, EmbeddedImagePassesOnlyTheNineFourKibPageModels) {
    size_t size = 0;
    if (platform::EmbeddedImage(&size) == nullptr) GTEST_SKIP() << "no embedded image";
    ASSERT_EQ(size, 2076672u);
    for (const SizeCase& c : kSizeCases) {
        SCOPED_TRACE(c.model);
        events.clear();
        states.clear();
        platform::UseEmbeddedResourceImage();
        Select(c.model);
        SetLinkOverride("nolink");
        Run();
        if (c.limit == 2076672)
            EXPECT_TRUE(PassedSizeCheck()) << LastMessage().text;
        else
            ExpectError(LastMessage(), c.tooLarge);
    }
}

}  // namespace
}  // namespace plctest
