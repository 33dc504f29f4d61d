#include "ProgressRanges.h"

#include <cmath>

namespace orvUI {

ProgressRanges::ProgressRanges()
{
    m_scales.reserve(16);
    m_scales.push_back(1.0);
}

void ProgressRanges::push(double fraction) { m_scales.push_back(fraction * m_scales.back()); }

bool ProgressRanges::pop()
{
    if (m_scales.size() <= 1) return false;
    m_scales.pop_back();
    return true;
}

int ProgressRanges::percentOf(double done) { return int(std::trunc(done * 100.0 + 1e-7)); }

int ProgressRanges::step(double fraction)
{
    const int before = percentOf(m_done);
    m_done += fraction * m_scales.back();
    const int after = percentOf(m_done);
    return after > before ? after - before : 0;
}

}  // namespace orvUI
