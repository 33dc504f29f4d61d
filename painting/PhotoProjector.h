// A photo's camera: world point -> photo pixel position through rotation, translation, radial
// lens distortion and the intrinsic matrix, on a photo held at any size.
#pragma once

#include <limits>

#include "PaintTypes.h"

namespace orvpaint {

// The camera of a photo: x_cam = R X + t, looking along +z, x right and y down in the photo;
// normalised (x, y) = x_cam / z_cam, d = 1 + k1 r^2 + k2 r^4, pixel position
// (fx x d + cx, fy y d + cy) with the origin at the photo's top-left corner, for a photo of
// width x height pixels.
struct PinholeCamera {
    int width = 0, height = 0;
    double fx = 0, fy = 0, cx = 0, cy = 0;
    double k1 = 0, k2 = 0;
    double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // row-major
    double t[3] = {0, 0, 0};

    // Copies the numbers of any camera record with the same member names (the project's stored
    // photo cameras have them).
    template <class Camera>
    static PinholeCamera from(const Camera& c)
    {
        PinholeCamera p;
        p.width = c.width, p.height = c.height;
        p.fx = c.fx, p.fy = c.fy, p.cx = c.cx, p.cy = c.cy;
        p.k1 = c.k1, p.k2 = c.k2;
        for (int i = 0; i < 9; ++i) p.R[i] = c.R[i];
        for (int i = 0; i < 3; ++i) p.t[i] = c.t[i];
        return p;
    }

    // Sizes above 0, focal lengths above 0, every number finite, R a rotation.
    bool isValid() const;
};

class PhotoProjector {
public:
    PhotoProjector() = default;
    // The camera for the photo held at imageWidth x imageHeight pixels (the camera's own size when
    // 0): the intrinsics scale with the picture.
    explicit PhotoProjector(const PinholeCamera& camera, int imageWidth = 0, int imageHeight = 0);

    bool isValid() const { return m_valid; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    double fx() const { return m_fx; }
    double fy() const { return m_fy; }
    double cx() const { return m_cx; }
    double cy() const { return m_cy; }
    double k1() const { return m_k1; }
    double k2() const { return m_k2; }
    // Largest r^2 the lens maps one to one (beyond it distortion folds the picture back).
    double maxRadius2() const { return m_maxR2; }

    Vec3 toCamera(const Vec3& world) const
    {
        return {m_R[0] * world.x + m_R[1] * world.y + m_R[2] * world.z + m_t[0],
                m_R[3] * world.x + m_R[4] * world.y + m_R[5] * world.z + m_t[1],
                m_R[6] * world.x + m_R[7] * world.y + m_R[8] * world.z + m_t[2]};
    }
    // A world direction in camera coordinates.
    Vec3 rotate(const Vec3& v) const
    {
        return {m_R[0] * v.x + m_R[1] * v.y + m_R[2] * v.z, m_R[3] * v.x + m_R[4] * v.y + m_R[5] * v.z,
                m_R[6] * v.x + m_R[7] * v.y + m_R[8] * v.z};
    }
    Vec3 eye() const;

    // Photo pixel position of a camera-space point, and the distortion factor d used; false behind
    // the camera or beyond the radius the lens maps one to one.
    bool cameraToPixel(const Vec3& c, double& px, double& py, double* distortion = nullptr) const
    {
        if (!(c.z > kNear)) return false;
        const double iz = 1 / c.z, x = c.x * iz, y = c.y * iz, r2 = x * x + y * y;
        if (!(r2 < m_maxR2)) return false;
        const double d = 1 + m_k1 * r2 + m_k2 * r2 * r2;
        px = m_fx * x * d + m_cx;
        py = m_fy * y * d + m_cy;
        if (distortion) *distortion = d;
        return true;
    }
    // Photo pixel position of a world point and its depth along the optical axis.
    bool project(const Vec3& world, double& px, double& py, double* depth = nullptr) const
    {
        const Vec3 c = toCamera(world);
        if (depth) *depth = c.z;
        return cameraToPixel(c, px, py);
    }

    static constexpr double kNear = 1e-6;

private:
    bool m_valid = false;
    int m_width = 0, m_height = 0;
    double m_fx = 0, m_fy = 0, m_cx = 0, m_cy = 0, m_k1 = 0, m_k2 = 0;
    double m_R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double m_t[3] = {0, 0, 0};
    double m_maxR2 = std::numeric_limits<double>::infinity();
};

}  // namespace orvpaint
