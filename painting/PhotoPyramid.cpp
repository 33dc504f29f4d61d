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

void PhotoPyramid::sampleBlend(double px, double py, double level, float out[3]) const
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
