#include "catalogue/catalogue.h"

#include <cstring>

namespace {

constexpr uint32_t KiB = 1024;
constexpr uint16_t NONE = NO_ALIAS_ID;
constexpr PlcLink COM = LINK_COM;
constexpr PlcLink USB = LINK_USB;
constexpr PageCount PLUS_ONE = PAGES_PLUS_ONE;
constexpr PageCount ROUND_UP = PAGES_ROUND_UP;
constexpr PageCount FOUR = PAGES_FOUR;
constexpr ReconnectKind REPLUG = RECONNECT_REPLUG_USB;
constexpr ReconnectKind POWER = RECONNECT_POWER_CYCLE_COM;
constexpr ReconnectKind PAUSE = RECONNECT_PAUSE;
constexpr uint16_t KEPT = KEPT_BACK_BYTES;

// The 4 KiB-page models keep the image's last 4096 bytes back: they are neither erased nor sent.
// 30TR2-AIO is always erased with four requests; 4 KiB pages cover its 12 KiB limit. The
// register defaults: D1386 0x4138 is the QM2-C family, D1001 bits 4-7 the firmware generation
// (3: V3, 4: V4), D1148 non-zero the large variant (28DK2, 26NV).
// clang-format off
constexpr PlcModel kModels[PLC_COUNT] = {
 // name              id      alias   link aio    page      pages     block kept size reconnect  ms   version noReply D1386   D1001   D1148
    {"QM2-TR2-V2",     0x000C, 0x000D, COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0031, 0},
    {"PN2",            0x000E, NONE,   COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0000, 0},
    {"HB2",            0x000F, NONE,   COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0000, 0},
    {"DK2",            0x0013, NONE,   COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0000, 0},
    {"QM2-C-V2",       0x000C, 0x000D, COM, false, 128 * KiB, PLUS_ONE, 128, 0,    1, POWER,  2000, false, true,  0x4138, 0x0031, 0},
    {"NV",             0x0015, NONE,   USB, false,  16 * KiB, PLUS_ONE, 256, 0,    6, REPLUG, 2000, false, false, 0x0000, 0x0000, 0},
    {"LC3",            0x0000, NONE,   COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0000, 0},
    {"30TR2-AIO",      0x000D, NONE,   COM, true,    4 * KiB, FOUR,     256, 0,    3, PAUSE,  1000, false, false, 0x0000, 0x0000, 0},
    {"HB-V3",          0x0008, NONE,   COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0031, 0},
    {"WJB-QM2-V2",     0xA001, NONE,   COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0031, 0},
    {"NV-H",           0xA002, NONE,   USB, false,  16 * KiB, PLUS_ONE, 256, 0,    6, REPLUG, 2000, false, false, 0x0000, 0x0000, 0},
    {"DK2-H",          0xA003, NONE,   COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0000, 0},
    {"RP300",          0x3000, NONE,   USB, false,   4 * KiB, ROUND_UP, 256, KEPT, 5, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
    {"QM-TR-LC2",      0x0003, NONE,   COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0000, 0},
    {"TR2-CAR",        0xA006, NONE,   COM, false, 128 * KiB, PLUS_ONE, 128, 0,    1, POWER,  2000, false, true,  0x0000, 0x0000, 0},
    {"DK28",           0x0013, NONE,   COM, false, 128 * KiB, PLUS_ONE, 128, 0,    1, PAUSE,  1000, false, false, 0x0000, 0x0000, 1},
    {"QM2-E",          0x0017, NONE,   COM, false, 128 * KiB, PLUS_ONE, 128, 0,    2, PAUSE,  1000, false, false, 0x0000, 0x0000, 0},
    {"RP200",          0x3010, NONE,   USB, false,   4 * KiB, ROUND_UP, 256, KEPT, 5, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
    {"RP200-AIO",      0x3010, NONE,   USB, true,    2 * KiB, ROUND_UP, 256, 0,    4, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
    {"NV26",           0x0015, NONE,   USB, false, 128 * KiB, PLUS_ONE, 128, 0,    2, REPLUG, 2000, false, false, 0x0000, 0x0000, 1},
    {"QM3",            0x0020, NONE,   USB, false,   4 * KiB, ROUND_UP, 256, KEPT, 5, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
    {"FYX-J",          0xA00B, NONE,   USB, false,   4 * KiB, ROUND_UP, 256, KEPT, 5, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
    {"RP100",          0x3020, NONE,   USB, false,   4 * KiB, ROUND_UP, 256, KEPT, 5, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
    {"TR3-AIO",        0x0020, NONE,   USB, true,    2 * KiB, ROUND_UP, 256, 0,    4, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
    {"QM2-TR2-V4",     0x000C, 0x000D, COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0041, 0},
    {"HB-V4",          0x0008, NONE,   COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0041, 0},
    {"WJB-QM2-V4",     0xA001, NONE,   COM, false,   2 * KiB, PLUS_ONE, 128, 0,    6, PAUSE,  1000, false, false, 0x0000, 0x0041, 0},
    {"QM3-PACKAGE",    0x0020, NONE,   USB, false,   4 * KiB, ROUND_UP, 256, KEPT, 5, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
    {"QM2-C-V4",       0x000C, 0x000D, COM, false, 128 * KiB, PLUS_ONE, 128, 0,    1, POWER,  2000, false, true,  0x4138, 0x0041, 0},
    {"GW3HB3",         0x0022, NONE,   USB, false,   4 * KiB, ROUND_UP, 256, KEPT, 5, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
    {"HB3-AIO",        0x0022, NONE,   USB, true,    2 * KiB, ROUND_UP, 256, 0,    4, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
    {"RP200-TO-RP300", 0x3010, NONE,   USB, false,   4 * KiB, ROUND_UP, 256, KEPT, 5, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
    {"RP200-Z",        0xA010, 0x3010, USB, false,   4 * KiB, ROUND_UP, 256, KEPT, 5, REPLUG, 5000, true,  false, 0x0000, 0x0000, 0},
};

// Size class  max bytes  min bytes
constexpr SizeLimits kSizeLimits[SIZE_CLASS_COUNT] = {
    /* 0 */ {0,        0},
    /* 1 */ {0x80000,  1},
    /* 2 */ {0xE0000,  1},
    /* 3 */ {0x3000,   1},  // not 4,096
    /* 4 */ {0xA000,   1},
    /* 5 */ {0x1FB000, KEPT_BACK_BYTES + 1},
    /* 6 */ {0x78800,  1},  // not 491,520
};
// clang-format on

constexpr bool SameName(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

constexpr bool RowIs(uint32_t row, const char* name) {
    return SameName(kModels[row].name, name);
}

static_assert(RowIs(ROW_QM2_TR2_V2, "QM2-TR2-V2") && RowIs(ROW_DK2, "DK2") &&
                  RowIs(ROW_QM2_C_V2, "QM2-C-V2") && RowIs(ROW_NV, "NV") &&
                  RowIs(ROW_HB_V3, "HB-V3") && RowIs(ROW_WJB_QM2_V2, "WJB-QM2-V2") &&
                  RowIs(ROW_DK28, "DK28") && RowIs(ROW_QM2_E, "QM2-E") &&
                  RowIs(ROW_RP200, "RP200") && RowIs(ROW_RP200_AIO, "RP200-AIO") &&
                  RowIs(ROW_NV26, "NV26") && RowIs(ROW_QM3, "QM3") &&
                  RowIs(ROW_TR3_AIO, "TR3-AIO") && RowIs(ROW_QM2_TR2_V4, "QM2-TR2-V4") &&
                  RowIs(ROW_HB_V4, "HB-V4") && RowIs(ROW_WJB_QM2_V4, "WJB-QM2-V4") &&
                  RowIs(ROW_QM2_C_V4, "QM2-C-V4") && RowIs(ROW_HB3_AIO, "HB3-AIO"),
              "the named rows");

constexpr bool RowsConsistent() {
    for (const PlcModel& m : kModels) {
        int length = 0;
        while (m.name[length] != '\0') ++length;
        if (length == 0 || length >= PLC_NAME_BYTES) return false;
        if (m.sizeClass == 0 || m.sizeClass >= SIZE_CLASS_COUNT) return false;
        if (m.blockBytes != 128 && m.blockBytes != 256) return false;
        if (m.keptBackBytes >= kSizeLimits[m.sizeClass].minBytes) return false;
    }
    return true;
}
static_assert(RowsConsistent(), "names fit plcList, every row has a size class and a block size");

// plcList and plcID, the catalogue as the rest of the program reads it, built from the table.
struct NameAndIdColumns {
    char names[PLC_COUNT][PLC_NAME_BYTES];
    uint16_t ids[PLC_COUNT];
};

constexpr NameAndIdColumns BuildColumns() {
    NameAndIdColumns c{};
    for (uint32_t row = 0; row < PLC_COUNT; ++row) {
        for (int i = 0; kModels[row].name[i] != '\0'; ++i) c.names[row][i] = kModels[row].name[i];
        c.ids[row] = kModels[row].id;
    }
    return c;
}

constexpr NameAndIdColumns kColumns = BuildColumns();

template <bool (*Test)(const PlcModel&)>
constexpr int Count() {
    int n = 0;
    for (const PlcModel& m : kModels) n += Test(m) ? 1 : 0;
    return n;
}

constexpr bool IsUsb(const PlcModel& m) {
    return m.link == LINK_USB;
}
constexpr bool IsCom(const PlcModel& m) {
    return m.link == LINK_COM;
}
constexpr bool IsAio(const PlcModel& m) {
    return m.aio;
}
constexpr bool Is4KiBPage(const PlcModel& m) {
    return m.pageBytes == 4 * KiB && m.pageCount == PAGES_ROUND_UP;
}
constexpr bool Is256Block(const PlcModel& m) {
    return m.blockBytes == 256;
}
constexpr bool Is128Block(const PlcModel& m) {
    return m.blockBytes == 128;
}
constexpr bool IsNoReply(const PlcModel& m) {
    return m.noReply;
}
constexpr bool InVersionGroup(const PlcModel& m) {
    return m.versionGroup;
}
constexpr bool IsPowerCycle(const PlcModel& m) {
    return m.reconnect == RECONNECT_POWER_CYCLE_COM;
}
template <uint8_t N>
constexpr bool InSizeClass(const PlcModel& m) {
    return m.sizeClass == N;
}

static_assert(Count<IsUsb>() == 15 && Count<IsCom>() == 18 && Count<IsAio>() == 4);
static_assert(Count<Is4KiBPage>() == 9 && Count<Is256Block>() == 15 && Count<Is128Block>() == 18);
static_assert(Count<InVersionGroup>() == 12 && Count<IsNoReply>() == 3);

// Every row of an id has the same version-group column, so the group by id and by name agree.
constexpr bool VersionGroupFollowsId() {
    for (const PlcModel& a : kModels)
        for (const PlcModel& b : kModels)
            if (a.id == b.id && a.versionGroup != b.versionGroup) return false;
    return true;
}
static_assert(VersionGroupFollowsId());

}  // namespace

const PlcModel (&PLC_MODELS)[PLC_COUNT] = kModels;
const char (&plcList)[PLC_COUNT][PLC_NAME_BYTES] = kColumns.names;
const uint16_t (&plcID)[PLC_COUNT] = kColumns.ids;
const SizeLimits (&SIZE_LIMITS)[SIZE_CLASS_COUNT] = kSizeLimits;

const ModelSet USB_ATTACHED_MODELS = {IsUsb};
const ModelSet COM_PORT_MODELS = {IsCom};
const ModelSet AIO_MODELS = {IsAio};
const ModelSet PAGE_4KIB_MODELS = {Is4KiBPage};
const ModelSet BLOCK_256_MODELS = {Is256Block};
const ModelSet BLOCK_128_MODELS = {Is128Block};
const ModelSet NO_REPLY_MODELS = {IsNoReply};
const ModelSet BOOTLOADER_VERSION_GROUP_MODELS = {InVersionGroup};
const ModelSet POWER_CYCLE_MODELS = {IsPowerCycle};
const ModelSet SIZE_CLASS_1_MODELS = {InSizeClass<1>};
const ModelSet SIZE_CLASS_2_MODELS = {InSizeClass<2>};
const ModelSet SIZE_CLASS_3_MODELS = {InSizeClass<3>};
const ModelSet SIZE_CLASS_4_MODELS = {InSizeClass<4>};
const ModelSet SIZE_CLASS_5_MODELS = {InSizeClass<5>};

bool InBootloaderVersionGroup(uint16_t id) {
    for (const PlcModel& m : kModels)
        if (m.id == id && m.versionGroup) return true;
    return false;
}

uint8_t SizeClassOf(uint32_t idx) {
    return idx < PLC_COUNT ? kModels[idx].sizeClass : SIZE_CLASS_OTHERS;
}
uint32_t MaxImageBytes(uint32_t idx) {
    return kSizeLimits[SizeClassOf(idx)].maxBytes;
}
uint32_t MinImageBytes(uint32_t idx) {
    return kSizeLimits[SizeClassOf(idx)].minBytes;
}

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
    return idx < PLC_COUNT && set.has(kModels[idx]);
}

bool SelectedPLCIs(const char* name) {
    return ModelIs(selectedPLCIdx, name);
}
bool SelectedPLCIn(const ModelSet& set) {
    return ModelIn(selectedPLCIdx, set);
}

const PlcModel& SelectedModel() {
    uint32_t idx = selectedPLCIdx;
    return kModels[idx < PLC_COUNT ? idx : 0];
}

void SelectPLC(uint32_t idx) {
    if (idx >= PLC_COUNT) return;
    selectedPLCIdx = idx;
    selectedPLCID = plcID[idx];
    std::memcpy(selectedPLC, plcList[idx], PLC_NAME_BYTES);
}
