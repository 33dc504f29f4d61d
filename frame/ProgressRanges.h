// Nested fractional progress mapped onto one whole-number percentage. The outermost range is the
// whole; push opens a sub-range that is a fraction of the innermost one, step advances by a
// fraction of the innermost range, pop closes it without changing what is done.
#pragma once

#include <vector>

namespace orvUI {

class ProgressRanges {
public:
    ProgressRanges();

    void push(double fraction);
    // Closes the innermost range. The outermost range is never closed: a pop without a matching
    // push changes nothing and returns false.
    bool pop();
    // Advances by a fraction of the innermost range and returns by how many whole percent the
    // completed part moved (0 for movements within one percent).
    int step(double fraction);

    int depth() const { return int(m_scales.size()); }
    // The share of the whole that one unit of the innermost range stands for.
    double scale() const { return m_scales.back(); }
    double done() const { return m_done; }
    // Whole percent done. Sums of fractions that should meet a whole percent (three thirds of a
    // range) land a rounding error below it; a tolerance far under one percent lets them count.
    static int percentOf(double done);
    int percent() const { return percentOf(m_done); }

private:
    std::vector<double> m_scales;
    double m_done = 0.0;
};

}  // namespace orvUI
