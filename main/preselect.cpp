#include "main/preselect.h"

#include <algorithm>
#include <cctype>
#include <cstring>

bool ModelPrefix(const char* fwFile, char out[PLC_NAME_BYTES]) {
    out[0] = '\0';
    const char* underscore = std::strchr(fwFile, '_');
    if (underscore == nullptr) return false;
    const size_t length = static_cast<size_t>(underscore - fwFile);
    // selectedPLC holds 14 characters; a longer prefix is no model name and must not overrun it.
    if (length > PLC_NAME_BYTES - 1) return false;
    std::memcpy(out, fwFile, length);
    out[length] = '\0';
    return true;
}

namespace {

int Fold(char c) { return std::toupper(static_cast<unsigned char>(c)); }

// Compares without case, skipping hyphens when skipHyphens is set.
int CompareFolded(const char* a, const char* b, bool skipHyphens) {
    for (;;) {
        if (skipHyphens) {
            while (*a == '-') ++a;
            while (*b == '-') ++b;
        }
        if (*a == '\0' || *b == '\0' || Fold(*a) != Fold(*b)) break;
        ++a;
        ++b;
    }
    return Fold(*a) - Fold(*b);
}

}  // namespace

int ModelListCompare(const char* a, const char* b) {
    const int words = CompareFolded(a, b, true);
    return words != 0 ? words : CompareFolded(a, b, false);
}

void ModelListOrder(uint32_t rows[PLC_COUNT]) {
    for (uint32_t i = 0; i < PLC_COUNT; ++i) rows[i] = i;
    // Stable, as the list keeps equal entries in the order they were added.
    std::stable_sort(rows, rows + PLC_COUNT, [](uint32_t x, uint32_t y) {
        return ModelListCompare(plcList[x], plcList[y]) < 0;
    });
}

uint32_t PreselectedRow(const char* fwFile) {
    uint32_t rows[PLC_COUNT];
    ModelListOrder(rows);
    char prefix[PLC_NAME_BYTES];
    if (ModelPrefix(fwFile, prefix)) {
        for (uint32_t row : rows)
            if (CompareFolded(plcList[row], prefix, false) == 0) return row;
    }
    return rows[0];
}

bool UsesUsbPort(const char* modelName) {
    uint32_t row = 0;
    return LookupPLC(modelName, &row, nullptr) && ModelIn(row, USB_ATTACHED_MODELS);
}
