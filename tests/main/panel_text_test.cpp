#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "catalogue/catalogue.h"
#include "main/panel_text.h"

namespace {

TEST(ProgressBar, FillEdgeFollowsProgress) {
    struct Case {
        int32_t progress;
        int right;
    };
    const Case cases[] = {
        {0, 10},     // white bar only
        {1, 15},     // 5.1 pixels, truncated
        {2, 20},     // 10.2
        {33, 178},   // 168.3
        {50, 265},   //
        {99, 514},   // 504.9
        {100, 520},  // the whole bar
        // Outside 0..100 the fill stays inside the white bar.
        {-1, 10},
        {-100, 10},
        {101, 520},
        {1000, 520},
        {INT32_MAX, 520},  // no overflow in 510 * progress
        {INT32_MIN, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.progress);
        EXPECT_EQ(ProgressBarRight(c.progress), c.right);
        const PanelRect fill = ProgressFillRect(c.progress);
        EXPECT_EQ(fill.left, PROGRESS_BAR_RECT.left);
        EXPECT_EQ(fill.top, PROGRESS_BAR_RECT.top);
        EXPECT_EQ(fill.right, c.right);
        EXPECT_EQ(fill.bottom, PROGRESS_BAR_RECT.bottom);
    }
}

TEST(ProgressBar, FillNeverShrinksAsProgressGrows) {
    int previous = ProgressBarRight(0);
    for (int32_t p = 1; p <= 100; ++p) {
        const int right = ProgressBarRight(p);
        EXPECT_GE(right, previous) << p;
        previous = right;
    }
}

TEST(PanelText, CounterIsRightAlignedInThreeColumns) {
    struct Case {
        int32_t value;
        const char* text;
    };
    const Case cases[] = {
        {0, "  0"},       {7, "  7"},     {42, " 42"},
        {100, "100"},     {999, "999"},   {1000, "1000"},
        {-1, " -1"},      {-12, "-12"},   {INT32_MAX, "2147483647"},
        {INT32_MIN, "-2147483648"},  // the longest text still fits with its NUL
    };
    for (const Case& c : cases) {
        char buf[COUNTER_TEXT_BYTES];
        std::memset(buf, 'x', sizeof buf);
        FormatCounter(c.value, buf);
        EXPECT_STREQ(buf, c.text) << c.value;
    }
}

TEST(PanelText, StatusWordOfEachPhase) {
    struct Case {
        int32_t status;
        const char* word;  // nullptr: "Status: " stands alone
    };
    const Case cases[] = {
        {0, "Idle"}, {1, "Erasing"}, {2, "Programming"}, {3, nullptr},
        {-1, nullptr}, {255, nullptr}, {INT32_MIN, nullptr}, {INT32_MAX, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        const char* word = StatusWord(c.status);
        if (c.word == nullptr)
            EXPECT_EQ(word, nullptr);
        else
            EXPECT_STREQ(word, c.word);
    }
}

TEST(PanelText, ErrorCountersText) {
    struct Case {
        int32_t errors, total;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "# of Error/Total Error: 0/0"},
        {2, 7, "# of Error/Total Error: 2/7"},
        {6, 123, "# of Error/Total Error: 6/123"},
        {INT32_MIN, INT32_MIN, "# of Error/Total Error: -2147483648/-2147483648"},
    };
    for (const Case& c : cases) {
        char buf[ERR_COUNTER_TEXT_BYTES];
        FormatErrCounter(c.errors, c.total, buf);
        EXPECT_STREQ(buf, c.text);
    }
}

TEST(PanelText, LabelsLeaveRoomForTheirNumbers) {
    struct Case {
        const char* text;
        size_t length;
    };
    // The labels' runs of blanks are where the numbers go: their lengths are part of the look.
    const Case cases[] = {
        {ELAPSED_LABEL, 30},
        {PROGRESS_LABEL, 22},
        {STATUS_LABEL, 8},
    };
    for (const Case& c : cases) EXPECT_EQ(std::strlen(c.text), c.length) << c.text;
    EXPECT_EQ(std::string(ELAPSED_LABEL).substr(13, 14), std::string(14, ' '));
    EXPECT_EQ(std::string(ELAPSED_LABEL).substr(27), "sec");
    EXPECT_EQ(std::string(PROGRESS_LABEL).substr(9, 12), std::string(12, ' '));
}

TEST(PanelText, DateOfTheImageFileName) {
    struct Case {
        const char* fwFile;
        const char* text;  // "": the name carries no date
    };
    const Case cases[] = {
        {"RP200_v1.14.10_20240103_01.bin", "Date: 2024/01/03"},
        {"QM2-E_v1.0.0_20231115_01.bin", "Date: 2023/11/15"},
        {"RP200_20240229.bin", "Date: 2024/02/29"},  // leap year; the field ends at "."
        {"RP200_v2_20000229", "Date: 2000/02/29"},   // no extension
        {"RP200_v1_2024013x_20240105_01.bin", "Date: 2024/01/05"},  // the first real date
        {"RP200_v1_19991231_20240103_01.bin", "Date: 1999/12/31"},
        // Eight digits that are no date, or a date of the wrong width.
        {"RP200_v1_20230229_01.bin", ""},
        {"RP200_v1_21000229_01.bin", ""},
        {"RP200_v1_20240431_01.bin", ""},
        {"RP200_v1_20241301_01.bin", ""},
        {"RP200_v1_20240100_01.bin", ""},
        {"RP200_v1_2024010_01.bin", ""},
        {"RP200_v1_202401031_01.bin", ""},
        {"20240103_v1.bin", ""},  // the model is no date
        {"RP200.bin", ""},
        {"", ""},
        {"RP200_", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fwFile);
        // Guard bytes after the buffer catch a text that runs past it.
        char buf[DATE_TEXT_BYTES + 8];
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(ImageDateText(c.fwFile, buf), c.text[0] != '\0');
        EXPECT_STREQ(buf, c.text);
        for (size_t i = DATE_TEXT_BYTES; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#');
    }
}

bool Inside(PanelPoint p, const PanelRect& r) {
    return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

bool Overlap(const PanelRect& a, const PanelRect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

TEST(PanelLayout, EachMaskErasesItsOwnTextOnly) {
    const PanelItem* items[] = {&PANEL_ELAPSED, &PANEL_PROGRESS, &PANEL_STATUS, &PANEL_ERRORS};
    for (const PanelItem* item : items) {
        // Text drawn outside its mask would leave stale digits behind.
        EXPECT_TRUE(Inside(item->label, item->mask));
        EXPECT_TRUE(Inside(item->value, item->mask));
        EXPECT_FALSE(Overlap(item->mask, PROGRESS_BAR_RECT));
        for (const PanelItem* other : items) {
            if (other != item) {
                EXPECT_FALSE(Overlap(item->mask, other->mask));
            }
        }
    }
}

}  // namespace
