#include "TrackBallMath.h"

#include <algorithm>
#include <cmath>

namespace zimdisp {

namespace {

constexpr double kPi = 3.14159265358979323846;

bool finite(const XPnt3d& p) { return p.isValid(); }

XPnt3d invalidPoint()
{
    XPnt3d p;
    p.setInvalid();
    return p;
}

// Unit vector along `v` orthogonal to unit `axis`; false when v is (nearly) parallel to it.
bool orthonormal(const XPnt3d& v, const XPnt3d& axis, XPnt3d& out)
{
    XPnt3d o = v - axis * v.dot(axis);
    const double len = o.length();
    if (!(len > 1e-9 * v.length()) || !std::isfinite(len)) return false;
    out = o / len;
    return true;
}

// Rotation of v about the unit axis by angle radians (Rodrigues).
XPnt3d rotate(const XPnt3d& v, const XPnt3d& axis, double angle)
{
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    return v * c + axis.cross(v) * s + axis * (axis.dot(v) * (1.0 - c));
}

}  // namespace

// ---- matrices --------------------------------------------------------------------------------

Mat4 Mat4::identity()
{
    Mat4 r{};
    r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0;
    return r;
}

Mat4 operator*(const Mat4& a, const Mat4& b)
{
    Mat4 r{};
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k) s += a.m[k * 4 + row] * b.m[c * 4 + k];
            r.m[c * 4 + row] = s;
        }
    return r;
}

void transform(const Mat4& a, const double in[4], double out[4])
{
    for (int row = 0; row < 4; ++row)
        out[row] = a.m[row] * in[0] + a.m[4 + row] * in[1] + a.m[8 + row] * in[2] + a.m[12 + row] * in[3];
}

bool invert(const Mat4& a, Mat4& out)
{
    const double* m = a.m;
    double inv[16];
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
             m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
             m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
             m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
              m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
             m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
             m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
             m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
              m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] +
             m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
             m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
              m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
              m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] -
             m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] +
             m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] -
              m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] + m[8] * m[1] * m[6] -
              m[8] * m[2] * m[5];

    const double det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
    if (det == 0.0 || !std::isfinite(det)) return false;
    const double invDet = 1.0 / det;
    for (int i = 0; i < 16; ++i) out.m[i] = inv[i] * invDet;
    return true;
}

XPnt3d projectWith(const Mat4& modelView, const Mat4& projection, const double viewport[4], const XPnt3d& world)
{
    const double obj[4] = {world.x, world.y, world.z, 1.0};
    double eye[4];
    double clip[4];
    transform(modelView, obj, eye);
    transform(projection, eye, clip);
    if (clip[3] == 0.0 || !std::isfinite(clip[3])) return invalidPoint();
    const XPnt3d ndc(clip[0] / clip[3], clip[1] / clip[3], clip[2] / clip[3]);
    const XPnt3d win(viewport[0] + viewport[2] * (ndc.x * 0.5 + 0.5), viewport[1] + viewport[3] * (ndc.y * 0.5 + 0.5),
                     ndc.z * 0.5 + 0.5);
    return finite(win) ? win : invalidPoint();
}

XPnt3d unprojectWith(const Mat4& modelView, const Mat4& projection, const double viewport[4], double x, double y,
                     double depth)
{
    Mat4 inverse;
    if (!(viewport[2] > 0.0) || !(viewport[3] > 0.0) || !invert(projection * modelView, inverse)) return invalidPoint();
    const double in[4] = {(x - viewport[0]) / viewport[2] * 2.0 - 1.0, (y - viewport[1]) / viewport[3] * 2.0 - 1.0,
                          depth * 2.0 - 1.0, 1.0};
    double out[4];
    transform(inverse, in, out);
    if (out[3] == 0.0 || !std::isfinite(out[3])) return invalidPoint();
    const XPnt3d p(out[0] / out[3], out[1] / out[3], out[2] / out[3]);
    return finite(p) ? p : invalidPoint();
}

// ---- camera ----------------------------------------------------------------------------------

ZimCamera::ZimCamera() = default;

XPnt3d ZimCamera::viewDirection() const { return normalize(m_center - m_eye); }

XPnt3d ZimCamera::sideVector() const { return normalize(viewDirection().cross(m_up)); }

double ZimCamera::aspect() const { return double(std::max(m_width, 1)) / double(std::max(m_height, 1)); }

void ZimCamera::assign(const XPnt3d& eye, const XPnt3d& center, const XPnt3d& up)
{
    if (eye == m_eye && center == m_center && up == m_up) return;
    m_eye = eye;
    m_center = center;
    m_up = up;
    ++m_revision;
}

bool ZimCamera::setLookAt(const XPnt3d& eye, const XPnt3d& center, const XPnt3d& up)
{
    if (!finite(eye) || !finite(center) || !finite(up)) return false;
    const XPnt3d view = center - eye;
    const double len = view.length();
    if (!(len > 0.0) || !std::isfinite(len)) return false;
    XPnt3d orthoUp;
    if (!orthonormal(up, view / len, orthoUp)) return false;
    assign(eye, center, orthoUp);
    return true;
}

void ZimCamera::setViewport(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == m_width && height == m_height) return;
    m_width = width;
    m_height = height;
    ++m_revision;
}

bool ZimCamera::setFieldOfView(double degrees)
{
    if (!std::isfinite(degrees)) return false;
    leavePhoto();
    degrees = std::clamp(degrees, kMinFov, kMaxFov);
    if (degrees != m_fov) {
        m_fov = degrees;
        ++m_revision;
    }
    return true;
}

bool ZimCamera::setNearDistance(double distance)
{
    if (!std::isfinite(distance)) return false;
    if (distance <= 0.0) distance = m_far * 1e-4;
    if (!(distance < m_far)) return false;
    if (distance != m_near) {
        m_near = distance;
        ++m_revision;
    }
    return true;
}

bool ZimCamera::setFarDistance(double distance)
{
    if (!std::isfinite(distance) || !(distance > m_near)) return false;
    if (distance != m_far) {
        m_far = distance;
        ++m_revision;
    }
    return true;
}

bool ZimCamera::translate(const XPnt3d& offset)
{
    if (!finite(offset)) return false;
    leavePhoto();
    const XPnt3d eye = m_eye + offset;
    const XPnt3d center = m_center + offset;
    // A translation far beyond the coordinate range could merge eye and centre.
    if (!finite(eye) || !finite(center) || !(eye.dist(center) > 0.0)) return false;
    assign(eye, center, m_up);
    return true;
}

bool ZimCamera::lookAtPoint(const XPnt3d& target)
{
    if (!finite(target)) return false;
    const XPnt3d view = target - m_eye;
    const double len = view.length();
    if (!(len > 0.0)) return false;
    leavePhoto();
    const XPnt3d dir = view / len;
    XPnt3d up;
    // Keep the screen's up as it was; should the new direction run along it, the old side axis
    // still fixes the roll.
    if (!orthonormal(m_up, dir, up)) up = normalize(sideVector().cross(dir));
    assign(m_eye, target, up);
    return true;
}

bool ZimCamera::setStandardView(int index)
{
    // Direction from the centre to the eye and the screen's up for each standard view.
    static const XPnt3d kEyeSide[6] = {{0, 0, 1}, {0, 0, -1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}};
    static const XPnt3d kUp[6] = {{0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    if (index < 0 || index > 5) return false;
    leavePhoto();
    const double d = distance();
    assign(m_center + kEyeSide[index] * d, m_center, kUp[index]);
    return true;
}

bool ZimCamera::fitToBox(const Enve3d& box, bool adjustPlanes)
{
    if (box.isEmpty()) return false;
    const XPnt3d c = box.center();
    double radius = 0.5 * box.diagonal();
    if (!finite(c) || !std::isfinite(radius)) return false;
    leavePhoto();

    // The bounding sphere has to fit the narrower of the two fields of view.
    const double halfV = halfFovRadians();
    const double halfH = std::atan(std::tan(halfV) * aspect());
    const double half = std::min(halfV, halfH);
    double dist;
    if (radius <= 1e-12 * std::max(1.0, c.length())) {
        // A single point: shown at unit distance, as if it were a sphere just filling the view.
        dist = 1.0;
        radius = std::sin(half);
    } else {
        dist = radius / std::sin(half);
    }
    const XPnt3d dir = viewDirection();
    assign(c - dir * dist, c, m_up);
    m_sceneRadius = radius;
    if (adjustPlanes) {
        // A little margin so that surfaces on the sphere are not clipped by rounding.
        const double nearD = std::max(dist - 1.05 * radius, dist * 1e-3);
        const double farD = dist + 1.05 * radius;
        if (nearD != m_near || farD != m_far) {
            m_near = nearD;
            m_far = farD;
            ++m_revision;
        }
    }
    return true;
}

bool ZimCamera::scaleAbout(const XPnt3d& pivot, double factor)
{
    const double d = distance();
    if (!(factor > 0.0) || !std::isfinite(factor)) return false;
    if (factor < 1.0 && d * factor < minDistance()) factor = std::min(1.0, minDistance() / d);
    if (factor > 1.0 && d * factor > maxDistance()) factor = std::max(1.0, maxDistance() / d);
    if (factor == 1.0) return false;
    const XPnt3d eye = pivot + (m_eye - pivot) * factor;
    const XPnt3d center = pivot + (m_center - pivot) * factor;
    if (!finite(eye) || !finite(center) || !(eye.dist(center) > 0.0)) return false;
    const double nearD = m_near * factor;
    double farD = m_far + (factor - 1.0) * d;
    if (!(farD > nearD)) farD = nearD + (m_far - m_near);
    if (!std::isfinite(farD) || !(nearD > 0.0)) return false;
    assign(eye, center, m_up);
    m_near = nearD;
    m_far = farD;
    ++m_revision;
    return true;
}

void ZimCamera::orbit(double dx, double dy)
{
    if (!std::isfinite(dx) || !std::isfinite(dy) || (dx == 0.0 && dy == 0.0)) return;
    leavePhoto();
    const double radiansPerPixel = kPi / double(std::max(1, std::min(m_width, m_height)));
    const double d = distance();
    XPnt3d offset = m_eye - m_center;
    XPnt3d up = m_up;
    // The scene follows the cursor: turning the eye the other way; when the camera is upside
    // down, horizontal motion turns the other way round so that this still holds.
    const XPnt3d zAxis(0, 0, 1);
    const double turn = -dx * radiansPerPixel * (m_up.z < 0.0 ? -1.0 : 1.0);
    offset = rotate(offset, zAxis, turn);
    up = rotate(up, zAxis, turn);
    const XPnt3d side = normalize((-offset).cross(up));
    const double tilt = dy * radiansPerPixel;
    offset = rotate(offset, side, tilt);
    up = rotate(up, side, tilt);

    // Renormalise against rounding drift: exact distance, unit up orthogonal to the view.
    const double len = offset.length();
    if (!(len > 0.0) || !finite(offset)) return;
    const XPnt3d dir = -offset / len;
    XPnt3d orthoUp;
    if (!orthonormal(up, dir, orthoUp)) return;
    assign(m_center - dir * d, m_center, orthoUp);
}

void ZimCamera::pan(double x0, double y0, double x1, double y1)
{
    const XPnt3d from = planePoint(x0, y0);
    const XPnt3d to = planePoint(x1, y1);
    if (!finite(from) || !finite(to)) return;
    translate(from - to);
}

void ZimCamera::dolly(double dy)
{
    if (!std::isfinite(dy) || dy == 0.0) return;
    leavePhoto();
    scaleAbout(m_center, std::exp(-3.0 * dy / double(std::max(m_height, 1))));
}

bool ZimCamera::zoomAt(double amount, double x, double y)
{
    if (!std::isfinite(amount) || !std::isfinite(x) || !std::isfinite(y)) return false;
    // Positive amounts shrink the distance by (1 - amount), negative ones undo exactly that, so
    // a notch in and a notch out return to the same place.
    amount = std::clamp(amount, -0.9, 0.9);
    const double factor = amount >= 0.0 ? 1.0 - amount : 1.0 / (1.0 + amount);
    // The pivot is found with the projection the user sees, before a photo projection is left.
    const XPnt3d pivot = planePoint(x, y);
    if (!finite(pivot)) return false;
    leavePhoto();
    return scaleAbout(pivot, factor);
}

XPnt3d ZimCamera::planePoint(double x, double y) const
{
    if (m_photo.active) {
        // The line of sight through (x, y) meets the plane through the centre facing the eye.
        const XPnt3d a = unproject(x, y, 0.0);
        const XPnt3d b = unproject(x, y, 1.0);
        if (!finite(a) || !finite(b)) return invalidPoint();
        const XPnt3d ray = b - a;
        const XPnt3d f = viewDirection();
        const double along = ray.dot(f);
        if (!(std::fabs(along) > 0.0)) return invalidPoint();
        const XPnt3d p = a + ray * ((m_center - a).dot(f) / along);
        return finite(p) ? p : invalidPoint();
    }
    const double w = double(std::max(m_width, 1));
    const double h = double(std::max(m_height, 1));
    const double t = std::tan(halfFovRadians());
    const double ndcX = 2.0 * x / w - 1.0;
    const double ndcY = 2.0 * y / h - 1.0;
    const XPnt3d f = viewDirection();
    const XPnt3d s = normalize(f.cross(m_up));
    const XPnt3d u = s.cross(f);
    const XPnt3d p = m_eye + (f + s * (ndcX * t * aspect()) + u * (ndcY * t)) * distance();
    return finite(p) ? p : invalidPoint();
}

double ZimCamera::pixelScale() const
{
    if (m_photo.active) return photoScale() * m_photo.fy / distance();
    return double(std::max(m_height, 1)) / (2.0 * distance() * std::tan(halfFovRadians()));
}

Mat4 ZimCamera::modelView() const
{
    const XPnt3d f = viewDirection();
    const XPnt3d s = normalize(f.cross(m_up));
    const XPnt3d u = s.cross(f);
    Mat4 r = Mat4::identity();
    r.m[0] = s.x;
    r.m[4] = s.y;
    r.m[8] = s.z;
    r.m[1] = u.x;
    r.m[5] = u.y;
    r.m[9] = u.z;
    r.m[2] = -f.x;
    r.m[6] = -f.y;
    r.m[10] = -f.z;
    r.m[12] = -s.dot(m_eye);
    r.m[13] = -u.dot(m_eye);
    r.m[14] = f.dot(m_eye);
    return r;
}

Mat4 ZimCamera::projection() const
{
    if (m_photo.active) {
        // Pinhole seen in GL eye space (looking along -z, y up): window x = ox + s (fx x/z + cx)
        // and window y = oy + s (H - fy y/z - cy) for photo pixels scaled by s into the viewport.
        const double w = double(std::max(m_width, 1));
        const double h = double(std::max(m_height, 1));
        const double s = photoScale();
        Mat4 r{};
        r.m[0] = 2.0 * s * m_photo.fx / w;
        r.m[8] = 1.0 - 2.0 * photoWindowX(m_photo.cx) / w;
        r.m[5] = 2.0 * s * m_photo.fy / h;
        r.m[9] = 1.0 - 2.0 * photoWindowY(m_photo.cy) / h;
        r.m[10] = (m_far + m_near) / (m_near - m_far);
        r.m[11] = -1.0;
        r.m[14] = 2.0 * m_far * m_near / (m_near - m_far);
        return r;
    }
    const double f = 1.0 / std::tan(halfFovRadians());
    Mat4 r{};
    r.m[0] = f / aspect();
    r.m[5] = f;
    r.m[10] = (m_far + m_near) / (m_near - m_far);
    r.m[11] = -1.0;
    r.m[14] = 2.0 * m_far * m_near / (m_near - m_far);
    return r;
}

bool ZimCamera::setPhotoProjection(double fx, double fy, double cx, double cy, int photoWidth, int photoHeight)
{
    if (!(fx > 0.0) || !(fy > 0.0) || !std::isfinite(fx) || !std::isfinite(fy) || !std::isfinite(cx) ||
        !std::isfinite(cy) || photoWidth <= 0 || photoHeight <= 0)
        return false;
    m_photo.active = true;
    m_photo.fx = fx;
    m_photo.fy = fy;
    m_photo.cx = cx;
    m_photo.cy = cy;
    m_photo.width = photoWidth;
    m_photo.height = photoHeight;
    ++m_revision;
    return true;
}

void ZimCamera::clearPhotoProjection()
{
    if (!m_photo.active) return;
    // The symmetric view shows a world length at the centre's distance as large as the photo
    // projection did vertically.
    const double h = double(std::max(m_height, 1));
    const double degrees = 2.0 * std::atan(h / (2.0 * photoScale() * m_photo.fy)) * 180.0 / kPi;
    m_photo.active = false;
    if (std::isfinite(degrees)) m_fov = std::clamp(degrees, kMinFov, kMaxFov);
    ++m_revision;
}

double ZimCamera::photoScale() const
{
    if (m_photo.width <= 0 || m_photo.height <= 0) return 1.0;
    return std::min(double(std::max(m_width, 1)) / m_photo.width, double(std::max(m_height, 1)) / m_photo.height);
}

double ZimCamera::photoOffsetX() const { return 0.5 * (double(std::max(m_width, 1)) - photoScale() * m_photo.width); }

double ZimCamera::photoOffsetY() const { return 0.5 * (double(std::max(m_height, 1)) - photoScale() * m_photo.height); }

double ZimCamera::photoWindowX(double px) const { return photoOffsetX() + photoScale() * px; }

double ZimCamera::photoWindowY(double py) const { return photoOffsetY() + photoScale() * (m_photo.height - py); }

void ZimCamera::viewport(double out[4]) const
{
    out[0] = 0.0;
    out[1] = 0.0;
    out[2] = double(std::max(m_width, 1));
    out[3] = double(std::max(m_height, 1));
}

XPnt3d ZimCamera::project(const XPnt3d& world) const
{
    if (!finite(world)) return invalidPoint();
    double vp[4];
    viewport(vp);
    return projectWith(modelView(), projection(), vp, world);
}

XPnt3d ZimCamera::unproject(double x, double y, double depth) const
{
    double vp[4];
    viewport(vp);
    return unprojectWith(modelView(), projection(), vp, x, y, depth);
}

}  // namespace zimdisp
