// How much of the photo a texel takes: a fade with the viewing angle of its face, a feather that
// ramps to zero towards the photo's border and the border of the area where the scene is seen
// (occluding edges included), and an optional greyscale mask in photo space.
#pragma once

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>
#include <vector>

#include "DepthView.h"

namespace orvpaint {

struct WeightOptions {
    // Faces seen within fadeStartDeg of head-on take full weight, faces beyond fadeEndDeg none,
    // with a smooth ramp in between.
    double fadeStartDeg = 60;
    double fadeEndDeg = 80;
    // Width of the feather ramp in photo pixels (of the full-size photo).
    double featherPixels = 24;
    // Relative depth within which a surface point counts as the nearest surface on its ray.
    double depthTolerance = 0.005;
    // Relative depth jump between neighbouring depth pixels that counts as an occluding edge (at
    // least what a smooth surface at fadeEndDeg shows from one pixel to the next).
    double depthStep = 0.01;
};

class PaintWeights {
public:
    // The feather of the depth view's scene; mask (CV_8U, any size, stretched over the photo) 255
    // paints fully, 0 not at all; an empty mask paints everywhere.
    PaintWeights(const DepthView& depth, const WeightOptions& options = WeightOptions(),
                 const cv::Mat& mask = cv::Mat());

    const WeightOptions& options() const { return m_options; }
    // Weight of a face whose normal makes angle acos(cosAngle) with the viewing ray (either side).
    double grazing(double cosAngle) const
    {
        const double c = std::fabs(cosAngle);
        if (m_cosStart - m_cosEnd < 1e-12) return c >= m_cosStart ? 1 : 0;
        return smoothRamp((c - m_cosEnd) / (m_cosStart - m_cosEnd));
    }
    // Feather times mask at a photo pixel position of the full-size photo, bilinear.
    float featherAt(double px, double py) const
    {
        const double fx = px * m_scale - 0.5, fy = py * m_scale - 0.5;
        if (m_map.empty() || !(fx > -1) || !(fy > -1) || !(fx < m_map.cols) || !(fy < m_map.rows)) return 0;
        const double x = std::clamp(fx, 0.0, double(m_map.cols - 1)), y = std::clamp(fy, 0.0, double(m_map.rows - 1));
        const int x0 = std::min(int(x), m_map.cols - 1), y0 = std::min(int(y), m_map.rows - 1);
        const int x1 = std::min(x0 + 1, m_map.cols - 1), y1 = std::min(y0 + 1, m_map.rows - 1);
        const float ax = float(x - x0), ay = float(y - y0);
        const float* r0 = m_map.ptr<float>(y0);
        const float* r1 = m_map.ptr<float>(y1);
        const float top = r0[x0] + ax * (r0[x1] - r0[x0]);
        const float bottom = r1[x0] + ax * (r1[x1] - r1[x0]);
        return top + ay * (bottom - top);
    }
    // The feather times mask per depth-view pixel (CV_32F, 0..1).
    const cv::Mat& map() const { return m_map; }
    // Map pixels per photo pixel (the depth view's scale it was made from).
    double scale() const { return m_scale; }
    // The smallest |cos| of the viewing angle that still takes full weight.
    double fullWeightCos() const { return m_cosStart; }
    // True when every map pixel a bilinear look-up at map position (x, y) >= 0 may read (those of
    // its block of kFullBlock pixels a side, and the next row and column) has full weight.
    bool isFullAt(int x, int y) const
    {
        const std::size_t bx = std::size_t(x / kFullBlock), by = std::size_t(y / kFullBlock);
        return bx < m_fullColumns && by < m_fullRows && m_full[by * m_fullColumns + bx];
    }
    static constexpr int kFullBlock = 8;
    // The flags isFullAt() reads: one byte per block, fullBlockColumns() a row.
    const unsigned char* fullBlocks() const { return m_full.data(); }
    int fullBlockColumns() const { return int(m_fullColumns); }
    int fullBlockRows() const { return int(m_fullRows); }

private:
    WeightOptions m_options;
    double m_scale = 1;
    double m_cosStart = 0.5, m_cosEnd = 0.17;
    cv::Mat m_map;
    std::vector<unsigned char> m_full;
    std::size_t m_fullColumns = 0, m_fullRows = 0;
};

}  // namespace orvpaint
