#include "PhotoProjector.h"

#include <algorithm>
#include <cmath>

namespace orvpaint {

bool PinholeCamera::isValid() const
{
    if (width <= 0 || height <= 0) return false;
    for (double v : {fx, fy, cx, cy, k1, k2, t[0], t[1], t[2]})
        if (!std::isfinite(v)) return false;
    for (double v : R)
        if (!std::isfinite(v)) return false;
    if (!(fx > 0) || !(fy > 0)) return false;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double dot = R[3 * i] * R[3 * j] + R[3 * i + 1] * R[3 * j + 1] + R[3 * i + 2] * R[3 * j + 2];
            if (std::fabs(dot - (i == j ? 1.0 : 0.0)) > 1e-6) return false;
        }
    const double det =
        R[0] * (R[4] * R[8] - R[5] * R[7]) - R[1] * (R[3] * R[8] - R[5] * R[6]) + R[2] * (R[3] * R[7] - R[4] * R[6]);
    return det > 0;
}

namespace {

// Smallest u = r^2 > 0 where d(r * (1 + k1 r^2 + k2 r^4)) / dr = 1 + 3 k1 u + 5 k2 u^2 reaches 0:
// up to there the distorted radius grows with the true one.
double foldRadius2(double k1, double k2)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double a = 5 * k2, b = 3 * k1;
    double root = inf;
    if (a == 0) {
        if (b < 0) root = -1 / b;
    } else {
        const double disc = b * b - 4 * a;
        if (disc >= 0) {
            const double s = std::sqrt(disc);
            for (double u : {(-b - s) / (2 * a), (-b + s) / (2 * a)})
                if (u > 0) root = std::min(root, u);
        }
    }
    return root;
}

}  // namespace

PhotoProjector::PhotoProjector(const PinholeCamera& camera, int imageWidth, int imageHeight)
{
    if (!camera.isValid()) return;
    m_width = imageWidth > 0 ? imageWidth : camera.width;
    m_height = imageHeight > 0 ? imageHeight : camera.height;
    const double sx = double(m_width) / camera.width, sy = double(m_height) / camera.height;
    m_fx = camera.fx * sx, m_cx = camera.cx * sx;
    m_fy = camera.fy * sy, m_cy = camera.cy * sy;
    m_k1 = camera.k1, m_k2 = camera.k2;
    std::copy(camera.R, camera.R + 9, m_R);
    std::copy(camera.t, camera.t + 3, m_t);
    m_maxR2 = foldRadius2(m_k1, m_k2);
    m_valid = true;
}

Vec3 PhotoProjector::eye() const
{
    return {-(m_R[0] * m_t[0] + m_R[3] * m_t[1] + m_R[6] * m_t[2]),
            -(m_R[1] * m_t[0] + m_R[4] * m_t[1] + m_R[7] * m_t[2]),
            -(m_R[2] * m_t[0] + m_R[5] * m_t[1] + m_R[8] * m_t[2])};
}

}  // namespace orvpaint
