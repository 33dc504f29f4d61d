#include "ColourMatch.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace orvpaint {

namespace {

// Share of the samples kept in each trimming round, and the rounds.
constexpr double kKeep = 0.8;
constexpr int kRounds = 4;

bool leastSquares(const std::vector<float>& x, const std::vector<float>& y, const std::vector<int>& use,
                  ChannelFit& out)
{
    if (use.size() < 2) return false;
    double sx = 0, sy = 0;
    for (int i : use) sx += x[std::size_t(i)], sy += y[std::size_t(i)];
    const double n = double(use.size()), mx = sx / n, my = sy / n;
    double sxx = 0, sxy = 0;
    for (int i : use) {
        const double dx = x[std::size_t(i)] - mx;
        sxx += dx * dx;
        sxy += dx * (y[std::size_t(i)] - my);
    }
    // A flat channel: no slope to speak of, only the offset between the means.
    if (sxx < 1e-6 * n) {
        out.gain = 1;
        out.offset = my - mx;
        return true;
    }
    out.gain = sxy / sxx;
    out.offset = my - out.gain * mx;
    return true;
}

bool fitChannel(const std::vector<float>& x, const std::vector<float>& y, int minSamples, ChannelFit& out)
{
    // Clipped values say nothing about the gain.
    std::vector<int> use;
    use.reserve(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        if (x[i] > 1 && x[i] < 254 && y[i] > 1 && y[i] < 254) use.push_back(int(i));
    if (int(use.size()) < std::max(2, minSamples)) return false;
    ChannelFit f;
    if (!leastSquares(x, y, use, f)) return false;
    std::vector<int> all = use;
    std::vector<float> residual(all.size());
    for (int round = 0; round < kRounds; ++round) {
        for (std::size_t k = 0; k < all.size(); ++k) {
            const std::size_t i = std::size_t(all[k]);
            residual[k] = float(std::fabs(y[i] - (f.gain * x[i] + f.offset)));
        }
        std::vector<float> sorted = residual;
        const std::size_t keep = std::max<std::size_t>(2, std::size_t(kKeep * double(all.size())));
        std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(keep - 1), sorted.end());
        const float limit = sorted[keep - 1];
        use.clear();
        for (std::size_t k = 0; k < all.size() && use.size() < keep; ++k)
            if (residual[k] <= limit) use.push_back(all[k]);
        if (!leastSquares(x, y, use, f)) return false;
    }
    if (!std::isfinite(f.gain) || !std::isfinite(f.offset) || f.gain < ColourMatch::kMinGain ||
        f.gain > ColourMatch::kMaxGain)
        return false;
    out = f;
    return true;
}

}  // namespace

bool ColourMatch::fitSamples(const std::vector<cv::Vec3f>& photo, const std::vector<cv::Vec3f>& reference,
                             int minSamples)
{
    if (photo.size() != reference.size()) return false;
    ChannelFit fits[3];
    std::vector<float> x(photo.size()), y(photo.size());
    for (int c = 0; c < 3; ++c) {
        for (std::size_t i = 0; i < photo.size(); ++i) x[i] = photo[i][c], y[i] = reference[i][c];
        if (!fitChannel(x, y, minSamples, fits[c])) return false;
    }
    for (int c = 0; c < 3; ++c) m_fit[c] = fits[c];
    m_identity = false;
    m_samples = int(photo.size());
    return true;
}

bool ColourMatch::fit(const cv::Mat& photo, const cv::Mat& reference, const cv::Mat& mask, int minSamples)
{
    if (photo.empty() || reference.empty() || photo.type() != CV_8UC3 || reference.type() != CV_8UC3) return false;
    if (!mask.empty() && (mask.type() != CV_8U || mask.size() != reference.size())) return false;
    cv::Mat scaled;
    if (photo.size() == reference.size())
        scaled = photo;
    else
        cv::resize(photo, scaled, reference.size(), 0, 0,
                   photo.cols > reference.cols ? cv::INTER_AREA : cv::INTER_LINEAR);
    std::vector<cv::Vec3f> p, r;
    p.reserve(std::size_t(reference.total()));
    r.reserve(std::size_t(reference.total()));
    for (int y = 0; y < reference.rows; ++y) {
        const cv::Vec3b* ps = scaled.ptr<cv::Vec3b>(y);
        const cv::Vec3b* rs = reference.ptr<cv::Vec3b>(y);
        const unsigned char* m = mask.empty() ? nullptr : mask.ptr<unsigned char>(y);
        for (int x = 0; x < reference.cols; ++x) {
            if (m && !m[x]) continue;
            p.emplace_back(ps[x][0], ps[x][1], ps[x][2]);
            r.emplace_back(rs[x][0], rs[x][1], rs[x][2]);
        }
    }
    return fitSamples(p, r, minSamples);
}

}  // namespace orvpaint
