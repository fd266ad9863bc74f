#include "catalogue/catalogue.h"

#include <cstring>

// Row  name                  id       link      AIO
const char plcList[PLC_COUNT][PLC_NAME_BYTES] = {
    "QM2-TR2-V2",      //  0   0x000C   COM port  no
    "PN2",             //  1   0x000E   COM port  no
    "HB2",             //  2   0x000F   COM port  no
    "DK2",             //  3   0x0013   COM port  no
    "QM2-C-V2",        //  4   0x000C   COM port  no
    "NV",              //  5   0x0015   USB       no
    "LC3",             //  6   0x0000   COM port  no
    "30TR2-AIO",       //  7   0x000D   COM port  yes
    "HB-V3",           //  8   0x0008   COM port  no
    "WJB-QM2-V2",      //  9   0xA001   COM port  no
    "NV-H",            // 10   0xA002   USB       no
    "DK2-H",           // 11   0xA003   COM port  no
    "RP300",           // 12   0x3000   USB       no
    "QM-TR-LC2",       // 13   0x0003   COM port  no
    "TR2-CAR",         // 14   0xA006   COM port  no
    "DK28",            // 15   0x0013   COM port  no
    "QM2-E",           // 16   0x0017   COM port  no
    "RP200",           // 17   0x3010   USB       no
    "RP200-AIO",       // 18   0x3010   USB       yes
    "NV26",            // 19   0x0015   USB       no
    "QM3",             // 20   0x0020   USB       no
    "FYX-J",           // 21   0xA00B   USB       no
    "RP100",           // 22   0x3020   USB       no
    "TR3-AIO",         // 23   0x0020   USB       yes
    "QM2-TR2-V4",      // 24   0x000C   COM port  no
    "HB-V4",           // 25   0x0008   COM port  no
    "WJB-QM2-V4",      // 26   0xA001   COM port  no
    "QM3-PACKAGE",     // 27   0x0020   USB       no
    "QM2-C-V4",        // 28   0x000C   COM port  no
    "GW3HB3",          // 29   0x0022   USB       no
    "HB3-AIO",         // 30   0x0022   USB       yes
    "RP200-TO-RP300",  // 31   0x3010   USB       no
    "RP200-Z",         // 32   0xA010   USB       no
};

const uint16_t plcID[PLC_COUNT] = {
    0x000C, 0x000E, 0x000F, 0x0013, 0x000C, 0x0015, 0x0000, 0x000D, 0x0008, 0xA001, 0xA002,
    0xA003, 0x3000, 0x0003, 0xA006, 0x0013, 0x0017, 0x3010, 0x3010, 0x0015, 0x0020, 0xA00B,
    0x3020, 0x0020, 0x000C, 0x0008, 0xA001, 0x0020, 0x000C, 0x0022, 0x0022, 0x3010, 0xA010,
};

static_assert(sizeof plcList / sizeof plcList[0] == 33, "the catalogue has 33 models");
static_assert(sizeof plcID / sizeof plcID[0] == 33, "one id per model");

namespace {

const char* const kUsbAttached[] = {"NV",      "NV-H",  "RP300",   "RP200",       "RP200-AIO",
                                    "NV26",    "QM3",   "QM3-PACKAGE", "FYX-J",   "RP100",
                                    "TR3-AIO", "GW3HB3", "HB3-AIO", "RP200-TO-RP300", "RP200-Z"};
const char* const kComPort[] = {"QM2-TR2-V2", "PN2",       "HB2",        "DK2",     "QM2-C-V2",
                                "LC3",        "30TR2-AIO", "HB-V3",      "WJB-QM2-V2", "DK2-H",
                                "QM-TR-LC2",  "TR2-CAR",   "DK28",       "QM2-E",   "QM2-TR2-V4",
                                "HB-V4",      "WJB-QM2-V4", "QM2-C-V4"};
const char* const kAio[] = {"30TR2-AIO", "RP200-AIO", "TR3-AIO", "HB3-AIO"};

static_assert(sizeof kUsbAttached / sizeof kUsbAttached[0] == 15);
static_assert(sizeof kComPort / sizeof kComPort[0] == 18);
static_assert(sizeof kAio / sizeof kAio[0] == 4);

}  // namespace

const ModelSet USB_ATTACHED_MODELS = {kUsbAttached, 15};
const ModelSet COM_PORT_MODELS = {kComPort, 18};
const ModelSet AIO_MODELS = {kAio, 4};

bool LookupPLC(const char* name, uint32_t* idx, uint16_t* id) {
    bool found = false;
    // Every row is visited; names are unique, so at most one matches.
    for (uint32_t i = 0; i < PLC_COUNT; ++i) {
        if (std::strcmp(plcList[i], name) == 0) {
            if (idx != nullptr) *idx = i;
            if (id != nullptr) *id = plcID[i];
            found = true;
        }
    }
    return found;
}

bool ModelIs(uint32_t idx, const char* name) {
    return idx < PLC_COUNT && std::strcmp(plcList[idx], name) == 0;
}

bool ModelIn(uint32_t idx, const ModelSet& set) {
    for (int i = 0; i < set.count; ++i)
        if (ModelIs(idx, set.names[i])) return true;
    return false;
}

bool SelectedPLCIs(const char* name) { return ModelIs(selectedPLCIdx, name); }
bool SelectedPLCIn(const ModelSet& set) { return ModelIn(selectedPLCIdx, set); }

void SelectPLC(uint32_t idx) {
    if (idx >= PLC_COUNT) return;
    selectedPLCIdx = idx;
    selectedPLCID = plcID[idx];
    std::memcpy(selectedPLC, plcList[idx], PLC_NAME_BYTES);
}
