#include "ThumbGrid.h"

#include <algorithm>

namespace orvUI {

int ThumbGrid::columnsFor(int viewerWidth) { return std::max(1, (viewerWidth - kMargin) / kCellWidth); }

ThumbGrid ThumbGrid::make(int viewerWidth, int leading, int rest)
{
    ThumbGrid g;
    g.columns = columnsFor(viewerWidth);
    g.leadingRows = (leading + g.columns - 1) / g.columns;
    g.restRows = (rest + g.columns - 1) / g.columns;
    g.separator = leading >= 1 && rest >= 1;
    return g;
}

int ThumbGrid::separatorSpan(int leading, int rest) const
{
    if (leading < columns && rest < columns) return std::max(leading, rest);
    return columns;
}

int ThumbGrid::move(int pos, int key, int count, int leading, int step)
{
    if (pos < 0 || pos >= count) return pos;
    step = std::max(1, step);
    const bool inGroup = pos < leading;
    switch (key) {
        case 0: {
            const int to = pos - step;
            if (!inGroup && leading > 0 && to < leading) return leading - 1;
            return to < 0 ? pos : to;
        }
        case 1: {
            int to = pos + step;
            if (inGroup && to >= leading) to = leading < count ? leading : pos;
            return to >= count ? pos : to;
        }
        case 2:
            return pos > 0 ? pos - 1 : pos;
        case 3:
            return pos + 1 < count ? pos + 1 : pos;
        default:
            return pos;
    }
}

}  // namespace orvUI
