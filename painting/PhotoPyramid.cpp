#include "PhotoPyramid.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace orvpaint {

PhotoPyramid::PhotoPyramid(const cv::Mat& picture, int maxLevels)
{
    if (picture.empty() || picture.depth() != CV_8U) return;
    if (picture.channels() == 3) {
        build(picture.clone(), maxLevels);
    } else if (picture.channels() == 4) {
        cv::Mat bgr;
        cv::cvtColor(picture, bgr, cv::COLOR_BGRA2BGR);
        build(bgr, maxLevels);
    }
}

PhotoPyramid PhotoPyramid::fromRows(const ImageRows& rows, int maxLevels)
{
    PhotoPyramid p;
    if (!rows.isValid()) return p;
    const cv::Mat wrapped(rows.height, rows.width, rows.channels == 3 ? CV_8UC3 : CV_8UC4, rows.data,
                          std::size_t(rows.rowBytes));
    cv::Mat bgr;
    if (rows.channels == 3)
        bgr = wrapped.clone();
    else
        cv::cvtColor(wrapped, bgr, cv::COLOR_BGRA2BGR);
    if (rows.bottomUp) cv::flip(bgr, bgr, 0);
    p.build(bgr, maxLevels);
    return p;
}

void PhotoPyramid::build(const cv::Mat& bgr, int maxLevels)
{
    m_levels.clear();
    m_levels.push_back(bgr);
    while (int(m_levels.size()) < std::max(1, maxLevels)) {
        const cv::Mat& last = m_levels.back();
        if ((last.cols + 1) / 2 < 8 || (last.rows + 1) / 2 < 8) break;
        cv::Mat next;
        cv::pyrDown(last, next);
        m_levels.push_back(next);
    }
}

void PhotoPyramid::sampleLevel(int k, double px, double py, float out[3]) const
{
    const cv::Mat& m = m_levels[std::size_t(k)];
    // pyrDown keeps pixel centre 2i of a level on centre i of the next, so in centre-at-integer
    // coordinates a level simply halves them.
    const double f = 1.0 / double(1 << k);
    double x = (px - 0.5) * f, y = (py - 0.5) * f;
    x = std::clamp(x, 0.0, double(m.cols - 1));
    y = std::clamp(y, 0.0, double(m.rows - 1));
    const int x0 = std::min(int(x), m.cols - 1), y0 = std::min(int(y), m.rows - 1);
    const int x1 = std::min(x0 + 1, m.cols - 1), y1 = std::min(y0 + 1, m.rows - 1);
    const float ax = float(x - x0), ay = float(y - y0);
    const unsigned char* r0 = m.ptr<unsigned char>(y0);
    const unsigned char* r1 = m.ptr<unsigned char>(y1);
    for (int c = 0; c < 3; ++c) {
        const float top = r0[3 * x0 + c] + ax * (float(r0[3 * x1 + c]) - r0[3 * x0 + c]);
        const float bottom = r1[3 * x0 + c] + ax * (float(r1[3 * x1 + c]) - r1[3 * x0 + c]);
        out[c] = top + ay * (bottom - top);
    }
}

void PhotoPyramid::sample(double px, double py, double level, float out[3]) const
{
    if (m_levels.empty()) {
        out[0] = out[1] = out[2] = 0;
        return;
    }
    const double top = double(m_levels.size() - 1);
    if (!(level > 0)) level = 0;
    if (level > top) level = top;
    const int k = int(level);
    const double frac = level - k;
    sampleLevel(k, px, py, out);
    if (frac > 1e-3 && k + 1 < int(m_levels.size())) {
        float next[3];
        sampleLevel(k + 1, px, py, next);
        for (int c = 0; c < 3; ++c) out[c] += float(frac) * (next[c] - out[c]);
    }
}

}  // namespace orvpaint
