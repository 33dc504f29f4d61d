#include "PaintWeights.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace orvpaint {

PaintWeights::PaintWeights(const DepthView& depth, const WeightOptions& options, const cv::Mat& mask)
    : m_options(options), m_scale(depth.scale())
{
    constexpr double kDeg = 3.14159265358979323846 / 180.0;
    const double end = std::clamp(options.fadeEndDeg, 0.0, 90.0);
    const double start = std::clamp(options.fadeStartDeg, 0.0, end);
    m_cosStart = std::cos(start * kDeg);
    m_cosEnd = std::cos(end * kDeg);

    const int W = depth.width(), H = depth.height();
    // A smooth surface seen at the fade's end angle changes its depth by about tan(angle) / f per
    // pixel; only jumps well beyond that are occluding edges.
    const double f = std::min(depth.projector().fx(), depth.projector().fy()) * depth.scale();
    const double smooth = f > 0 ? 1.5 * std::tan(std::min(end, 89.0) * kDeg) / f : 0;
    const cv::Mat visible = depth.visibleArea(std::max(options.depthStep, smooth));
    cv::Mat distance;
    cv::distanceTransform(visible, distance, cv::DIST_L2, cv::DIST_MASK_5, CV_32F);
    // Ramp in depth-view pixels; at least a pixel so that the edge itself is never painted.
    const double ramp = std::max(1.0, options.featherPixels * m_scale);
    cv::Mat maskF;
    if (!mask.empty() && mask.type() == CV_8U) {
        cv::resize(mask, maskF, cv::Size(W, H), 0, 0, mask.cols > W ? cv::INTER_AREA : cv::INTER_LINEAR);
        maskF.convertTo(maskF, CV_32F, 1.0 / 255.0);
    }
    m_map = cv::Mat(H, W, CV_32F);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < H; ++y) {
        const float* d = distance.ptr<float>(y);
        const unsigned char* v = visible.ptr<unsigned char>(y);
        const float* mk = maskF.empty() ? nullptr : maskF.ptr<float>(y);
        float* out = m_map.ptr<float>(y);
        const double borderY = std::min(y + 0.5, H - y - 0.5);
        for (int x = 0; x < W; ++x) {
            if (!v[x]) {
                out[x] = 0;
                continue;
            }
            const double border = std::min({borderY, x + 0.5, W - x - 0.5});
            // distanceTransform measures to the nearest invisible pixel centre. Next to an occluding
            // edge the ramp starts a pixel and a half away, so that bilinear look-ups anywhere
            // within an edge pixel find no weight at all.
            const double dist = std::min(double(d[x]) - 1.5, border - 0.5);
            double w = smoothRamp(dist / ramp);
            if (mk) w *= std::clamp(double(mk[x]), 0.0, 1.0);
            out[x] = float(w);
        }
    }

    // Blocks of full weight, so that the painter's look-ups there need no interpolation.
    m_fullColumns = std::size_t((W + kFullBlock - 1) / kFullBlock);
    m_fullRows = std::size_t((H + kFullBlock - 1) / kFullBlock);
    m_full.assign(m_fullColumns * m_fullRows, 0);
    const int fullRows = int(m_fullRows);
#pragma omp parallel for schedule(static)
    for (int by = 0; by < fullRows; ++by) {
        const int y0 = by * kFullBlock, y1 = std::min(H - 1, y0 + kFullBlock);
        for (std::size_t bx = 0; bx < m_fullColumns; ++bx) {
            const int x0 = int(bx) * kFullBlock, x1 = std::min(W - 1, x0 + kFullBlock);
            bool full = true;
            for (int y = y0; y <= y1 && full; ++y) {
                const float* row = m_map.ptr<float>(y);
                for (int x = x0; x <= x1; ++x)
                    if (!(row[x] >= 1.0f)) {
                        full = false;
                        break;
                    }
            }
            m_full[std::size_t(by) * m_fullColumns + bx] = full ? 1 : 0;
        }
    }
}

}  // namespace orvpaint
