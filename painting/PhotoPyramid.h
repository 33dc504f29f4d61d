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
    void sample(double px, double py, double level, float out[3]) const;

private:
    void build(const cv::Mat& bgr, int maxLevels);
    void sampleLevel(int k, double px, double py, float out[3]) const;

    std::vector<cv::Mat> m_levels;  // CV_8UC3
};

}  // namespace orvpaint
