#include "sim/models.h"

#include <cstring>

#include "catalogue/catalogue.h"

namespace plcsim {

namespace {

constexpr uint32_t KiB = 1024;

struct Row {
    const char* name;
    uint32_t pageBytes;
    uint32_t blockBytes;
    bool omitsLast4K;
    uint16_t d1386, d1001, d1148;
};

// 30TR2-AIO is always erased with four requests; 4 KiB each covers its 12 KiB image limit.
// D1386 0x4138 is the QM2-C family; D1001 bits 4-7 are the generation (3: V3, 4: V4); D1148
// non-zero is the large variant (28DK2, 26NV).
// name              page      block  omits4K  D1386   D1001   D1148
const Row kRows[] = {
    {"QM2-TR2-V2",     2 * KiB,   128, false, 0x0000, 0x0031, 0},
    {"PN2",            2 * KiB,   128, false, 0x0000, 0x0000, 0},
    {"HB2",            2 * KiB,   128, false, 0x0000, 0x0000, 0},
    {"DK2",            2 * KiB,   128, false, 0x0000, 0x0000, 0},
    {"QM2-C-V2",     128 * KiB,   128, false, 0x4138, 0x0031, 0},
    {"NV",            16 * KiB,   256, false, 0x0000, 0x0000, 0},
    {"LC3",            2 * KiB,   128, false, 0x0000, 0x0000, 0},
    {"30TR2-AIO",      4 * KiB,   256, false, 0x0000, 0x0000, 0},
    {"HB-V3",          2 * KiB,   128, false, 0x0000, 0x0031, 0},
    {"WJB-QM2-V2",     2 * KiB,   128, false, 0x0000, 0x0031, 0},
    {"NV-H",          16 * KiB,   256, false, 0x0000, 0x0000, 0},
    {"DK2-H",          2 * KiB,   128, false, 0x0000, 0x0000, 0},
    {"RP300",          4 * KiB,   256, true,  0x0000, 0x0000, 0},
    {"QM-TR-LC2",      2 * KiB,   128, false, 0x0000, 0x0000, 0},
    {"TR2-CAR",      128 * KiB,   128, false, 0x0000, 0x0000, 0},
    {"DK28",         128 * KiB,   128, false, 0x0000, 0x0000, 1},
    {"QM2-E",        128 * KiB,   128, false, 0x0000, 0x0000, 0},
    {"RP200",          4 * KiB,   256, true,  0x0000, 0x0000, 0},
    {"RP200-AIO",      2 * KiB,   256, false, 0x0000, 0x0000, 0},
    {"NV26",         128 * KiB,   128, false, 0x0000, 0x0000, 1},
    {"QM3",            4 * KiB,   256, true,  0x0000, 0x0000, 0},
    {"FYX-J",          4 * KiB,   256, true,  0x0000, 0x0000, 0},
    {"RP100",          4 * KiB,   256, true,  0x0000, 0x0000, 0},
    {"TR3-AIO",        2 * KiB,   256, false, 0x0000, 0x0000, 0},
    {"QM2-TR2-V4",     2 * KiB,   128, false, 0x0000, 0x0041, 0},
    {"HB-V4",          2 * KiB,   128, false, 0x0000, 0x0041, 0},
    {"WJB-QM2-V4",     2 * KiB,   128, false, 0x0000, 0x0041, 0},
    {"QM3-PACKAGE",    4 * KiB,   256, true,  0x0000, 0x0000, 0},
    {"QM2-C-V4",     128 * KiB,   128, false, 0x4138, 0x0041, 0},
    {"GW3HB3",         4 * KiB,   256, true,  0x0000, 0x0000, 0},
    {"HB3-AIO",        2 * KiB,   256, false, 0x0000, 0x0000, 0},
    {"RP200-TO-RP300", 4 * KiB,   256, true,  0x0000, 0x0000, 0},
    {"RP200-Z",        4 * KiB,   256, true,  0x0000, 0x0000, 0},
};
static_assert(sizeof kRows / sizeof kRows[0] == PLC_COUNT, "one row per catalogue model");

// The models that restart into their bootloader only after a power cycle.
const char* const kPowerCycle[] = {"QM2-C-V2", "QM2-C-V4", "TR2-CAR"};

ModelTraits Build(const Row& row) {
    ModelTraits t{};
    t.name = row.name;
    uint16_t id = 0;
    LookupPLC(row.name, &t.catalogueIdx, &id);
    t.id = id;
    t.usb = ModelIn(t.catalogueIdx, USB_ATTACHED_MODELS);
    t.aio = ModelIn(t.catalogueIdx, AIO_MODELS);
    t.pageBytes = row.pageBytes;
    t.blockBytes = row.blockBytes;
    t.omitsLast4K = row.omitsLast4K;
    t.restart = t.usb ? Restart::Replug : Restart::AtOnce;
    for (const char* name : kPowerCycle)
        if (std::strcmp(name, row.name) == 0) t.restart = Restart::PowerCycle;
    t.d1386 = row.d1386;
    t.d1001 = row.d1001;
    t.d1148 = row.d1148;
    return t;
}

struct Table {
    ModelTraits traits[PLC_COUNT];
    Table() {
        for (uint32_t i = 0; i < PLC_COUNT; ++i) traits[i] = Build(kRows[i]);
    }
};

const Table& TheTable() {
    static const Table table;
    return table;
}

}  // namespace

const ModelTraits* FindModel(const std::string& name) {
    for (const ModelTraits& t : TheTable().traits)
        if (name == t.name) return &t;
    return nullptr;
}

}  // namespace plcsim
