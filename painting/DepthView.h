// A software depth buffer of the scene as a photo's camera sees it: every mesh's triangles
// projected through the camera (lens included) and rasterised, keeping the nearest camera depth
// per pixel. The painter asks it whether a surface point is the nearest surface along its photo
// ray, and where the visible area of the scene ends.
#pragma once

#include <cmath>
#include <limits>
#include <opencv2/core.hpp>
#include <vector>

#include "PaintTypes.h"
#include "PhotoProjector.h"

namespace orvpaint {

class DepthView {
public:
    // A buffer of the projector's photo size times scale (at least one pixel a side); scale 0.5
    // renders at half the photo's resolution.
    explicit DepthView(const PhotoProjector& projector, double scale = 1.0);

    // Adds a mesh's triangles (only positions and triangles are read). Triangles reaching behind
    // the camera are cut at a plane just ahead of it; those with a corner beyond the lens's
    // usable radius are left out.
    void addMesh(const MeshView& mesh);
    // Rasterises everything added so far; may be called again after more meshes.
    void render();

    int width() const { return m_depth.cols; }
    int height() const { return m_depth.rows; }
    double scale() const { return m_scale; }
    const PhotoProjector& projector() const { return m_projector; }
    // Camera depth per buffer pixel (CV_32F), +infinity where no triangle covers the pixel centre.
    const cv::Mat& depth() const { return m_depth; }
    // Depth at a photo pixel position (full-size photo coordinates): the buffer pixel holding it,
    // +infinity outside the buffer or where nothing is seen.
    float depthAt(double px, double py) const
    {
        // Truncation is the floor for the positions inside; anything left of or above the buffer
        // (or NaN) is refused first.
        if (!(px >= 0 && py >= 0)) return kEmpty;
        const double fx = px * m_scale, fy = py * m_scale;
        if (!(fx < m_depth.cols && fy < m_depth.rows)) return kEmpty;
        const int x = int(fx), y = int(fy);
        return m_depth.ptr<float>(y)[x];
    }
    // True when a point at camera depth z seen at photo position (px, py) is the nearest surface
    // there, within a relative depth tolerance.
    bool isNearest(double px, double py, double z, double tolerance) const
    {
        const float d = depthAt(px, py);
        return d < kEmpty && z <= double(d) * (1 + tolerance);
    }
    // CV_8U, 255 where a surface is seen and the depth does not jump by more than `step`
    // (relative) to any of the four neighbours, 0 elsewhere (nothing seen, or an occluding edge).
    cv::Mat visibleArea(double step) const;
    // Pixels covered by some triangle.
    long long coveredPixels() const;

    static constexpr float kEmpty = std::numeric_limits<float>::infinity();

private:
    void addClipped(const MeshView& mesh, const int* v);

    struct Projected {
        float x = 0, y = 0;  // buffer pixel position (pixel centres at +0.5)
        float invZ = 0;
        bool ok = false;
    };
    PhotoProjector m_projector;
    double m_scale = 1;
    cv::Mat m_depth;
    std::vector<Projected> m_vertices;
    std::vector<int> m_triangles;  // three indices into m_vertices each
    bool m_dirty = false;
};

}  // namespace orvpaint
