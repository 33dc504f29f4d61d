// Arithmetic of the thumbnail grid: tiles of 132 x 142 pixels, the images of the leading group
// first, a separator row, then the other images.
#pragma once

#include <vector>

namespace orvUI {

struct ThumbGrid {
    static constexpr int kCellWidth = 132;
    static constexpr int kCellHeight = 142;
    static constexpr int kMargin = 25;

    int columns = 1;
    int leadingRows = 0;
    int restRows = 0;
    bool separator = false;

    // Columns for a viewer width (at least 1) and the rows for L leading and R other tiles.
    static ThumbGrid make(int viewerWidth, int leading, int rest);
    static int columnsFor(int viewerWidth);
    int totalRows() const { return leadingRows + restRows + (separator ? 1 : 0); }
    int width() const { return columns * kCellWidth; }
    int height() const { return totalRows() * kCellHeight; }
    // Row of the i-th leading tile and of the i-th other tile.
    int leadingRow(int i) const { return i / columns; }
    int restRow(int i) const { return i / columns + leadingRows + (separator ? 1 : 0); }
    // Columns the separator spans.
    int separatorSpan(int leading, int rest) const;

    // The position a move from `pos` in a display order of `count` tiles, of which the first
    // `leading` are the leading group, ends on. key: 0 up, 1 down, 2 left, 3 right; step is the
    // number of positions of a vertical move. A vertical move never crosses between the group
    // and the rest: it stops at the group's last (up) or the rest's first (down) position.
    static int move(int pos, int key, int count, int leading, int step);
};

}  // namespace orvUI
