// The bench window's painting (Windows): the tiles.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "benchwin/tile.h"

namespace plcbench {

struct BenchPicture {
    const std::vector<Tile>* tiles = nullptr;
    uint64_t nowMs = 0;
    UINT dpi = 96;
};

// Paints the tiles into area (client coordinates) of the window.
void PaintBench(HDC dc, const RECT& area, const BenchPicture& picture);

// Text in UTF-8 as the system draws it.
std::wstring Wide(const std::string& text);

}  // namespace plcbench
