// Per-channel gain and offset that bring a photo's colours to those of a reference picture of
// the same view (the current textures as the photo's camera sees them), fitted by least squares
// with the worst-fitting pixels trimmed, so that what changed in the scene, clipped highlights
// and the odd mismatch do not drag the fit.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace orvpaint {

struct ChannelFit {
    double gain = 1;
    double offset = 0;
};

class ColourMatch {
public:
    // The identity: colours pass as they are.
    ColourMatch() = default;

    // Fits reference ~ gain * photo + offset per channel (B, G, R) over the pixels where mask (CV_8U,
    // the reference's size; empty for all) is non-zero; the photo (CV_8UC3, same view, any size)
    // is area-averaged to the reference's size first. False, and the identity kept, when the
    // pictures are unusable or fewer than minSamples pixels are left to fit.
    bool fit(const cv::Mat& photo, const cv::Mat& reference, const cv::Mat& mask = cv::Mat(), int minSamples = 200);
    // The same from paired samples: photo[i] and reference[i] hold B, G, R of one spot each.
    bool fitSamples(const std::vector<cv::Vec3f>& photo, const std::vector<cv::Vec3f>& reference, int minSamples = 200);

    bool isIdentity() const { return m_identity; }
    const ChannelFit& channel(int c) const { return m_fit[c]; }
    int samplesUsed() const { return m_samples; }
    // Applies the fit to a B, G, R colour in place (values may leave 0..255; the blend clamps).
    void apply(float bgr[3]) const
    {
        for (int c = 0; c < 3; ++c) bgr[c] = float(m_fit[c].gain * bgr[c] + m_fit[c].offset);
    }

    // Gains outside this range mean the pictures do not show the same thing; they are refused.
    static constexpr double kMinGain = 0.25, kMaxGain = 4.0;

private:
    ChannelFit m_fit[3];
    bool m_identity = true;
    int m_samples = 0;
};

}  // namespace orvpaint
