// Where the tiles go: N tiles in a given area, in the grid that makes each as large as it can
// be for its shape, so that it reads from a distance whatever the window's size.
#pragma once

#include <vector>

namespace plcbench {

const int MAX_TILES = 16;

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
};

// The boxes of count tiles (row by row) in width x height, gap pixels between them and around
// them; none when the area has no room for them.
std::vector<Box> TileGrid(int count, int width, int height, int gap);

}  // namespace plcbench
