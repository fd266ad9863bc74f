// The tiles' grid: of every number of columns, the one that gives the largest tile of the
// wanted shape.
#include "benchwin/layout.h"

namespace plcbench {

namespace {

// A tile holds four lines of large text and a bar: it wants to be about twice as wide as it is
// high. Its size is judged by the largest box of that shape that fits in it.
const int SHAPE_WIDTH = 2;
const int SHAPE_HEIGHT = 1;

int Usable(int columns, int rows, int width, int height, int gap, int* tileWidth, int* tileHeight) {
    if (columns <= 0 || rows <= 0) return 0;
    *tileWidth = (width - (columns + 1) * gap) / columns;
    *tileHeight = (height - (rows + 1) * gap) / rows;
    if (*tileWidth <= 0 || *tileHeight <= 0) return 0;
    int byWidth = *tileWidth * SHAPE_HEIGHT;
    int byHeight = *tileHeight * SHAPE_WIDTH;
    return byWidth < byHeight ? byWidth : byHeight;
}

}  // namespace

std::vector<Box> TileGrid(int count, int width, int height, int gap) {
    std::vector<Box> boxes;
    if (count <= 0 || width <= 0 || height <= 0 || gap < 0) return boxes;
    int bestColumns = 0, bestScore = 0, bestWidth = 0, bestHeight = 0;
    for (int columns = 1; columns <= count; ++columns) {
        int rows = (count + columns - 1) / columns;
        int w = 0, h = 0;
        int score = Usable(columns, rows, width, height, gap, &w, &h);
        // Fewer columns win a tie: rows fill up before a column stands half empty.
        if (score > bestScore) {
            bestScore = score;
            bestColumns = columns;
            bestWidth = w;
            bestHeight = h;
        }
    }
    if (bestColumns == 0) return boxes;
    for (int i = 0; i < count; ++i) {
        Box b;
        b.x = gap + (i % bestColumns) * (bestWidth + gap);
        b.y = gap + (i / bestColumns) * (bestHeight + gap);
        b.width = bestWidth;
        b.height = bestHeight;
        boxes.push_back(b);
    }
    return boxes;
}

}  // namespace plcbench
