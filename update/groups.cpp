// Model groups of the update run, each defined once, by catalogue name.
#include "update/stages.h"

namespace {

#define COUNT_OF(a) static_cast<int>(sizeof(a) / sizeof((a)[0]))

const char* const kNvFamilyUsb[] = {"NV", "NV-H", "NV26"};
// The USB-attached models other than the NV family; their bootloader reports its version.
const char* const kBootloaderVersionGroup[] = {
    "RP300", "RP200",   "RP200-AIO", "QM3",     "QM3-PACKAGE",    "FYX-J",
    "RP100", "TR3-AIO", "GW3HB3",    "HB3-AIO", "RP200-TO-RP300", "RP200-Z"};
// These PLCs leave their bootloader's serial port only through a power cycle.
const char* const kPowerCycle[] = {"QM2-C-V2", "QM2-C-V4", "TR2-CAR"};

static_assert(COUNT_OF(kBootloaderVersionGroup) == 12);

// Model ids of the bootloader-version group (the twelve models above share these seven ids).
const uint16_t kBootloaderVersionIds[] = {0x3000, 0x3010, 0x0020, 0xA00B, 0x3020, 0x0022, 0xA010};

}  // namespace

const ModelSet NV_FAMILY_USB_MODELS = {kNvFamilyUsb, COUNT_OF(kNvFamilyUsb)};
const ModelSet BOOTLOADER_VERSION_GROUP_MODELS = {kBootloaderVersionGroup,
                                                  COUNT_OF(kBootloaderVersionGroup)};
const ModelSet POWER_CYCLE_MODELS = {kPowerCycle, COUNT_OF(kPowerCycle)};

bool InBootloaderVersionGroup(uint16_t id) {
    for (uint16_t groupId : kBootloaderVersionIds)
        if (groupId == id) return true;
    return false;
}

namespace {

// clang-format off
// Models                             how the link comes back        pause after OK, ms
const ReconnectRow kReconnect[] = {
    {&NV_FAMILY_USB_MODELS,            RECONNECT_REPLUG_USB,          2000},
    {&BOOTLOADER_VERSION_GROUP_MODELS, RECONNECT_REPLUG_USB,          5000},
    {&POWER_CYCLE_MODELS,              RECONNECT_POWER_CYCLE_COM,     2000},
    {nullptr,                          RECONNECT_PAUSE,               1000},
};
// clang-format on

}  // namespace

const ReconnectRow& ReconnectFor(uint32_t idx) {
    for (const ReconnectRow& row : kReconnect)
        if (row.models == nullptr || ModelIn(idx, *row.models)) return row;
    return kReconnect[COUNT_OF(kReconnect) - 1];
}
