#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "main/preselect.h"

namespace {

TEST(ModelPrefix, TextBeforeTheFirstUnderscore) {
    struct Case {
        const char* fwFile;
        bool names;
        const char* prefix;
    };
    const Case cases[] = {
        {"RP200_v1.14.10_20240103_01.bin", true, "RP200"},
        {"QM2-E_v1.0.0_20240103_01.bin", true, "QM2-E"},
        {"RP200-TO-RP300_v1.bin", true, "RP200-TO-RP300"},  // 14 characters: all of them
        {"X_", true, "X"},
        {"_v1.bin", true, ""},
        {"RP200.bin", false, ""},  // no "_"
        {"", false, ""},
        {"RP200-TO-RP300X_v1.bin", false, ""},  // 15 characters cannot be a model name
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZ_v1.bin", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fwFile);
        // Guard bytes after the 15-byte buffer catch a copy that runs past it.
        char buf[PLC_NAME_BYTES + 8];
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(ModelPrefix(c.fwFile, buf), c.names);
        EXPECT_STREQ(buf, c.prefix);
        for (size_t i = PLC_NAME_BYTES; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#');
    }
}

std::vector<std::string> ListOrder() {
    uint32_t rows[PLC_COUNT];
    ModelListOrder(rows);
    std::vector<std::string> names;
    for (uint32_t row : rows) names.push_back(plcList[row]);
    return names;
}

TEST(ModelList, ShowsEveryModelOnceInTheListOrder) {
    // As the window's sorted combo box shows the catalogue: letters without case, hyphens
    // weighed only between otherwise equal names.
    const std::vector<std::string> expected = {
        "30TR2-AIO",  "DK2",        "DK28",      "DK2-H",      "FYX-J",       "GW3HB3",
        "HB2",        "HB3-AIO",    "HB-V3",     "HB-V4",      "LC3",         "NV",
        "NV26",       "NV-H",       "PN2",       "QM2-C-V2",   "QM2-C-V4",    "QM2-E",
        "QM2-TR2-V2", "QM2-TR2-V4", "QM3",       "QM3-PACKAGE", "QM-TR-LC2",  "RP100",
        "RP200",      "RP200-AIO",  "RP200-TO-RP300", "RP200-Z", "RP300",     "TR2-CAR",
        "TR3-AIO",    "WJB-QM2-V2", "WJB-QM2-V4",
    };
    EXPECT_EQ(ListOrder(), expected);
}

TEST(ModelList, CompareIgnoresCaseAndWeighsHyphensLast) {
    struct Case {
        const char* a;
        const char* b;
        int sign;  // of ModelListCompare(a, b)
    };
    const Case cases[] = {
        {"RP200", "rp200", 0},
        {"qm2-e", "QM2-E", 0},
        {"DK2", "DK28", -1},           // a prefix comes first
        {"DK28", "DK2-H", -1},         // DK28 / DK2H: digits before letters
        {"HB3-AIO", "HB-V3", -1},      // HB3AIO / HBV3
        {"QM3-PACKAGE", "QM-TR-LC2", -1},
        {"NV-H", "NV26", 1},
        {"30TR2-AIO", "DK2", -1},
        {"AB-C", "ABC", -1},           // equal but for the hyphen: then it counts
        {"", "NV", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        const int r = ModelListCompare(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
        const int back = ModelListCompare(c.b, c.a);
        EXPECT_EQ((back > 0) - (back < 0), -c.sign);
    }
}

TEST(Preselection, ModelOfTheImageOrTheFirstEntry) {
    struct Case {
        const char* fwFile;
        const char* model;
        uint32_t row;
        uint16_t id;
        bool usb;  // the port list is the single entry "USB"
    };
    const Case cases[] = {
        {"RP200_v1.14.10_20240103_01.bin", "RP200", 17, 0x3010, true},
        {"QM2-E_v1.0.0_20240103_01.bin", "QM2-E", 16, 0x0017, false},
        {"RP200-TO-RP300_v1.bin", "RP200-TO-RP300", 31, 0x3010, true},
        {"LC3_v2.bin", "LC3", 6, 0x0000, false},
        // The list's exact search ignores case; the selection is the list's own entry.
        {"rp200_v1.bin", "RP200", 17, 0x3010, true},
        {"Qm2-e_v1.bin", "QM2-E", 16, 0x0017, false},
        // No model of that name: the first entry of the list, with its group's ports.
        {"XYZ_v1.bin", "30TR2-AIO", 7, 0x000D, false},
        {"RP200.bin", "30TR2-AIO", 7, 0x000D, false},
        {"RP2000_v1.bin", "30TR2-AIO", 7, 0x000D, false},
        {"RP200-TO-RP300X_v1.bin", "30TR2-AIO", 7, 0x000D, false},
        {"_v1.bin", "30TR2-AIO", 7, 0x000D, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fwFile);
        const uint32_t row = PreselectedRow(c.fwFile);
        ASSERT_LT(row, static_cast<uint32_t>(PLC_COUNT));
        EXPECT_EQ(row, c.row);
        EXPECT_STREQ(plcList[row], c.model);
        EXPECT_EQ(plcID[row], c.id);
        EXPECT_EQ(UsesUsbPort(plcList[row]), c.usb);
    }
}

TEST(Preselection, UsbPortForExactlyTheUsbAttachedModels) {
    int usb = 0;
    for (uint32_t row = 0; row < PLC_COUNT; ++row) {
        SCOPED_TRACE(plcList[row]);
        EXPECT_EQ(UsesUsbPort(plcList[row]), ModelIn(row, USB_ATTACHED_MODELS));
        EXPECT_NE(UsesUsbPort(plcList[row]), ModelIn(row, COM_PORT_MODELS));
        usb += UsesUsbPort(plcList[row]) ? 1 : 0;
    }
    EXPECT_EQ(usb, 15);
    // By exact name only.
    const char* notModels[] = {"usb", "rp200", "RP200 ", "", "RP20"};
    for (const char* name : notModels) EXPECT_FALSE(UsesUsbPort(name)) << name;
}

}  // namespace
