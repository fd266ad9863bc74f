// The model groups of the bootloader protocol and the flash page and block rules they imply.
#include "bootloader/bootloader.h"

namespace {

const char* const kPage4KiB[] = {"RP300",       "RP200",          "QM3",
                                 "QM3-PACKAGE", "FYX-J",          "RP100",
                                 "GW3HB3",      "RP200-TO-RP300", "RP200-Z"};
const char* const kBlock256[] = {
    "NV",  "NV-H",        "30TR2-AIO", "RP200-AIO", "TR3-AIO", "HB3-AIO",        "RP300",  "RP200",
    "QM3", "QM3-PACKAGE", "FYX-J",     "RP100",     "GW3HB3",  "RP200-TO-RP300", "RP200-Z"};
const char* const kBlock128[] = {"QM2-TR2-V2", "PN2",        "HB2",        "DK2",   "QM2-C-V2",
                                 "LC3",        "HB-V3",      "WJB-QM2-V2", "DK2-H", "QM-TR-LC2",
                                 "TR2-CAR",    "DK28",       "QM2-E",      "NV26",  "QM2-TR2-V4",
                                 "HB-V4",      "WJB-QM2-V4", "QM2-C-V4"};

static_assert(sizeof kPage4KiB / sizeof kPage4KiB[0] == 9);
static_assert(sizeof kBlock256 / sizeof kBlock256[0] == 15);
static_assert(sizeof kBlock128 / sizeof kBlock128[0] == 18);

// Page-size groups that only the page table needs.
const char* const kPage128KiB[] = {"QM2-C-V2", "QM2-C-V4", "TR2-CAR", "DK28", "QM2-E", "NV26"};
const char* const kPage16KiB[] = {"NV", "NV-H"};
const char* const kPage2KiBRoundUp[] = {"RP200-AIO", "TR3-AIO", "HB3-AIO"};
const char* const kFixedPages[] = {"30TR2-AIO"};

const ModelSet PAGE_128KIB_MODELS = {kPage128KiB, 6};
const ModelSet PAGE_16KIB_MODELS = {kPage16KiB, 2};
const ModelSet PAGE_2KIB_ROUND_UP_MODELS = {kPage2KiBRoundUp, 3};
const ModelSet FIXED_PAGE_MODELS = {kFixedPages, 1};

// How a row counts its pages beyond the whole pages of the counted bytes.
enum ExtraPage {
    EXTRA_ALWAYS,        // one more, even for an exact multiple of the page size
    EXTRA_ON_REMAINDER,  // one more for a partly filled last page
    EXTRA_NONE,          // a fixed count, whatever the image size
};

struct PageRule {
    const ModelSet* models;  // nullptr: every model not in an earlier row
    uint32_t pageBytes;
    uint32_t keptBackBytes;
    ExtraPage extra;
    uint32_t fixedPages;
};

}  // namespace

const ModelSet PAGE_4KIB_MODELS = {kPage4KiB, 9};
const ModelSet BLOCK_256_MODELS = {kBlock256, 15};
const ModelSet BLOCK_128_MODELS = {kBlock128, 18};

namespace {

// The first row that holds the model gives the rule.
// clang-format off
const PageRule kPageRules[] = {
    // models                      page bytes  kept back        extra page          fixed
    {&PAGE_128KIB_MODELS,          131072,     0,               EXTRA_ALWAYS,       0},
    {&PAGE_16KIB_MODELS,           16384,      0,               EXTRA_ALWAYS,       0},
    {&PAGE_4KIB_MODELS,            4096,       KEPT_BACK_BYTES, EXTRA_ON_REMAINDER, 0},
    {&PAGE_2KIB_ROUND_UP_MODELS,   2048,       0,               EXTRA_ON_REMAINDER, 0},
    {&FIXED_PAGE_MODELS,           0,          0,               EXTRA_NONE,         4},
    {nullptr,                      2048,       0,               EXTRA_ALWAYS,       0},
};
// clang-format on

struct BlockRule {
    const ModelSet* models;
    uint32_t dataBytes;
    uint32_t keptBackBytes;
};

// The first row that holds the model gives the rule; the 4 KiB-page models are also
// 256-byte-block models and come first.
// clang-format off
const BlockRule kBlockRules[] = {
    // models              data bytes per block  kept back
    {&PAGE_4KIB_MODELS,    256,                  KEPT_BACK_BYTES},
    {&BLOCK_256_MODELS,    256,                  0},
    {&BLOCK_128_MODELS,    128,                  0},
};
// clang-format on

const PageRule* PageRuleOf(uint32_t idx) {
    if (idx >= PLC_COUNT) return nullptr;
    for (const PageRule& rule : kPageRules)
        if (rule.models == nullptr || ModelIn(idx, *rule.models)) return &rule;
    return nullptr;
}

const BlockRule* BlockRuleOf(uint32_t idx) {
    for (const BlockRule& rule : kBlockRules)
        if (ModelIn(idx, *rule.models)) return &rule;
    return nullptr;
}

}  // namespace

uint32_t ImageBytesSent(uint32_t idx, uint32_t imageBytes) {
    const BlockRule* rule = BlockRuleOf(idx);
    if (rule == nullptr || imageBytes <= rule->keptBackBytes) return 0;
    return imageBytes - rule->keptBackBytes;
}

uint32_t BlockDataBytes(uint32_t idx) {
    const BlockRule* rule = BlockRuleOf(idx);
    return rule == nullptr ? 0 : rule->dataBytes;
}

uint32_t TransferBlockCount(uint32_t idx, uint32_t imageBytes) {
    uint32_t sent = ImageBytesSent(idx, imageBytes);
    uint32_t block = BlockDataBytes(idx);
    if (sent == 0 || block == 0) return 0;
    return sent / block + (sent % block != 0 ? 1 : 0);
}

uint32_t ErasePageCount(uint32_t idx, uint32_t imageBytes) {
    const PageRule* rule = PageRuleOf(idx);
    // Nothing is erased for an image of which nothing would be written.
    if (rule == nullptr || ImageBytesSent(idx, imageBytes) == 0) return 0;
    if (rule->extra == EXTRA_NONE) return rule->fixedPages;
    uint32_t counted = imageBytes - rule->keptBackBytes;
    uint32_t pages = counted / rule->pageBytes;
    if (rule->extra == EXTRA_ALWAYS || imageBytes % rule->pageBytes != 0) ++pages;
    return pages;
}
