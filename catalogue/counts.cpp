// The flash pages and blocks an image takes on a model, read from the model's row.
#include "catalogue/catalogue.h"

uint32_t ImageBytesSent(uint32_t idx, uint32_t imageBytes) {
    if (idx >= PLC_COUNT) return 0;
    uint32_t keptBack = PLC_MODELS[idx].keptBackBytes;
    return imageBytes <= keptBack ? 0 : imageBytes - keptBack;
}

uint32_t BlockDataBytes(uint32_t idx) {
    return idx < PLC_COUNT ? PLC_MODELS[idx].blockBytes : 0;
}

uint32_t TransferBlockCount(uint32_t idx, uint32_t imageBytes) {
    uint32_t sent = ImageBytesSent(idx, imageBytes);
    uint32_t block = BlockDataBytes(idx);
    if (sent == 0 || block == 0) return 0;
    return sent / block + (sent % block != 0 ? 1 : 0);
}

uint32_t ErasePageCount(uint32_t idx, uint32_t imageBytes) {
    // Nothing is erased for an image of which nothing would be written.
    if (ImageBytesSent(idx, imageBytes) == 0) return 0;
    const PlcModel& m = PLC_MODELS[idx];
    if (m.pageCount == PAGES_FOUR) return 4;
    uint32_t pages = (imageBytes - m.keptBackBytes) / m.pageBytes;
    if (m.pageCount == PAGES_PLUS_ONE || imageBytes % m.pageBytes != 0) ++pages;
    return pages;
}
