// The image size limits of the models: the first class that holds a model gives its limits.
#include "catalogue/catalogue.h"

namespace {

#define COUNT_OF(a) static_cast<int>(sizeof(a) / sizeof((a)[0]))

const char* const kSizeClass1[] = {"QM2-C-V2", "QM2-C-V4", "TR2-CAR", "DK28"};
const char* const kSizeClass2[] = {"QM2-E", "NV26"};
const char* const kSizeClass3[] = {"30TR2-AIO"};
const char* const kSizeClass4[] = {"RP200-AIO", "TR3-AIO", "HB3-AIO"};
const char* const kSizeClass5[] = {"RP300", "RP200",  "QM3",            "QM3-PACKAGE", "FYX-J",
                                   "RP100", "GW3HB3", "RP200-TO-RP300", "RP200-Z"};

struct SizeLimits {
    const ModelSet* models;  // nullptr: every other model
    uint32_t maxBytes;       // an image exactly this large passes
    uint32_t minBytes;       // smaller images have nothing (or too little) to write
};

}  // namespace

const ModelSet SIZE_CLASS_1_MODELS = {kSizeClass1, COUNT_OF(kSizeClass1)};
const ModelSet SIZE_CLASS_2_MODELS = {kSizeClass2, COUNT_OF(kSizeClass2)};
const ModelSet SIZE_CLASS_3_MODELS = {kSizeClass3, COUNT_OF(kSizeClass3)};
const ModelSet SIZE_CLASS_4_MODELS = {kSizeClass4, COUNT_OF(kSizeClass4)};
const ModelSet SIZE_CLASS_5_MODELS = {kSizeClass5, COUNT_OF(kSizeClass5)};

namespace {

// The 4 KiB-page models keep the image's last 4096 bytes back, so an image of 4096 bytes or
// less leaves them nothing to erase or write.
// clang-format off
const SizeLimits kSizeLimits[] = {
    // models             max bytes  min bytes
    {&SIZE_CLASS_1_MODELS, 0x80000,  1},
    {&SIZE_CLASS_2_MODELS, 0xE0000,  1},
    {&SIZE_CLASS_3_MODELS, 0x3000,   1},
    {&SIZE_CLASS_4_MODELS, 0xA000,   1},
    {&SIZE_CLASS_5_MODELS, 0x1FB000, 4097},
    {nullptr,              0x78800,  1},
};
// clang-format on

const SizeLimits& LimitsOf(uint32_t idx) {
    for (const SizeLimits& l : kSizeLimits)
        if (l.models == nullptr || ModelIn(idx, *l.models)) return l;
    return kSizeLimits[COUNT_OF(kSizeLimits) - 1];
}

}  // namespace

uint32_t MaxImageBytes(uint32_t idx) { return LimitsOf(idx).maxBytes; }
uint32_t MinImageBytes(uint32_t idx) { return LimitsOf(idx).minBytes; }
