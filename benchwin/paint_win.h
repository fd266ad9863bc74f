// The bench window's painting (Windows): the tiles, the bench's tally and the last results.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "benchwin/tile.h"

namespace plcbench {

struct BenchPicture {
    const std::vector<Tile>* tiles = nullptr;
    std::string tally;
    const std::deque<std::string>* results = nullptr;
    uint64_t nowMs = 0;
    UINT dpi = 96;
};

// The height of the tally and results below the tiles at this DPI.
int BottomHeight(UINT dpi);
// Paints area (client coordinates) of the window: the tiles above, the tally and results below.
void PaintBench(HDC dc, const RECT& area, const BenchPicture& picture);

// Text in UTF-8 as the system draws it.
std::wstring Wide(const std::string& text);

}  // namespace plcbench
