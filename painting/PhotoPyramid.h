// A photo and its reduced copies, each half the size of the one before (Gaussian filtered), so
// that a texel covering many photo pixels takes their average instead of an aliased sample.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "PaintTypes.h"

namespace orvpaint {

class PhotoPyramid {
public:
    PhotoPyramid() = default;
    // From a CV_8UC3 (B, G, R) or CV_8UC4 picture, top row first (copied); levels stop at
    // maxLevels or when a side would drop below 8 pixels. An empty pyramid for anything else.
    explicit PhotoPyramid(const cv::Mat& picture, int maxLevels = 16);
    // From pixel rows in memory (either row order; alpha dropped).
    static PhotoPyramid fromRows(const ImageRows& rows, int maxLevels = 16);

    bool isEmpty() const { return m_levels.empty(); }
    int levels() const { return int(m_levels.size()); }
    int width() const { return m_levels.empty() ? 0 : m_levels[0].cols; }
    int height() const { return m_levels.empty() ? 0 : m_levels[0].rows; }
    const cv::Mat& level(int k) const { return m_levels[std::size_t(k)]; }

    // Colour (B, G, R) at photo pixel position (px, py) of the full-size photo (pixel (i, j)
    // covers [i, i + 1) x [j, j + 1)), bilinear within a level; a fractional level blends the
    // two levels around it. Positions outside are clamped to the edge pixels.
    void sample(double px, double py, double level, float out[3]) const
    {
        if (level <= 0 && !m_levels.empty())
            sampleLevel(0, px, py, out);
        else
            sampleBlend(px, py, level, out);
    }

private:
    void build(const cv::Mat& bgr, int maxLevels);
    void sampleBlend(double px, double py, double level, float out[3]) const;
    void sampleLevel(int k, double px, double py, float out[3]) const
    {
        const cv::Mat& m = m_levels[std::size_t(k)];
        // pyrDown keeps pixel centre 2i of a level on centre i of the next, so in centre-at-integer
        // coordinates a level simply halves them.
        const double f = 1.0 / double(1 << k);
        double x = (px - 0.5) * f, y = (py - 0.5) * f;
        x = x < 0 ? 0 : (x > m.cols - 1 ? m.cols - 1 : x);
        y = y < 0 ? 0 : (y > m.rows - 1 ? m.rows - 1 : y);
        const int x0 = int(x), y0 = int(y);
        const int x1 = x0 + 1 < m.cols ? x0 + 1 : x0, y1 = y0 + 1 < m.rows ? y0 + 1 : y0;
        const float ax = float(x - x0), ay = float(y - y0);
        const unsigned char* r0 = m.ptr<unsigned char>(y0);
        const unsigned char* r1 = m.ptr<unsigned char>(y1);
        for (int c = 0; c < 3; ++c) {
            const float top = r0[3 * x0 + c] + ax * (float(r0[3 * x1 + c]) - r0[3 * x0 + c]);
            const float bottom = r1[3 * x0 + c] + ax * (float(r1[3 * x1 + c]) - r1[3 * x0 + c]);
            out[c] = top + ay * (bottom - top);
        }
    }

    std::vector<cv::Mat> m_levels;  // CV_8UC3
};

}  // namespace orvpaint
