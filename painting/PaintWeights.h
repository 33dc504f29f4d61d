// How much of the photo a texel takes: a fade with the viewing angle of its face, a feather that
// ramps to zero towards the photo's border and the border of the area where the scene is seen
// (occluding edges included), and an optional greyscale mask in photo space.
#pragma once

#include <opencv2/core.hpp>

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
    double grazing(double cosAngle) const;
    // Feather times mask at a photo pixel position of the full-size photo, bilinear.
    float featherAt(double px, double py) const;
    // The feather times mask per depth-view pixel (CV_32F, 0..1).
    const cv::Mat& map() const { return m_map; }

private:
    WeightOptions m_options;
    double m_scale = 1;
    double m_cosStart = 0.5, m_cosEnd = 0.17;
    cv::Mat m_map;
};

}  // namespace orvpaint
