#include "ViewMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "OrvUIElements64t.h"
#include "OrvViewState.h"

namespace orvUI {

ZimGlobeViewState::~ZimGlobeViewState() = default;

ref_ptr<ZimGlobeViewState> getGlobeViewState()
{
    // Held until the library is unloaded; every viewer shares it.
    static const ref_ptr<ZimGlobeViewState> state(new ZimGlobeViewState());
    return state;
}

namespace {

constexpr double kPi = 3.14159265358979323846;

XPnt3d scaledInFloat(const XPnt3d& v, int n, float s)
{
    const XPnt3f f(v * double(n));
    return XPnt3d(f * s);
}

}  // namespace

bool computePhotoFrame(const XPnt3d& eye, const XPnt3d& center, const XPnt3d& up, float baseFov, int width, int height,
                       ImageFrame& frame)
{
    if (width <= 0 || height <= 0 || !(baseFov > 0.0f && baseFov < 180.0f)) return false;
    XPnt3d dir = center - eye;
    XPnt3d side = cross(dir, up);
    XPnt3d upN = up;
    if (side.normalize() <= 0.0 || dir.normalize() <= 0.0 || upN.normalize() <= 0.0) return false;
    const double f = kPhotoHalfExtent / std::tan(double(baseFov) * kPi / 360.0);
    const XPnt3d p0 = eye + dir * f;
    const float s = float(240.0 / double(std::min(width, height)) / 100.0);
    const XPnt3d a = scaledInFloat(side, width, s);
    const XPnt3d b = scaledInFloat(upN, height, s);
    ImageFrame out;
    out[1] = p0 - a - b;
    out[3] = p0 + a - b;
    out[0] = p0 + a + b;
    out[2] = p0 - a + b;
    out[4] = eye;
    for (const XPnt3d& p : out)
        if (!p.isValid()) return false;
    frame = out;
    return true;
}

XPnt3d framePointAt(const ImageFrame& frame, double u, double v, double scale)
{
    const XPnt3d& a = frame[1];
    const XPnt3d p = a + (frame[3] - a) * u + (frame[2] - a) * v;
    const XPnt3d& e = frame[4];
    return e + (p - e) * scale;
}

namespace {

// Parameter of the foot of the perpendicular from (x, y) on the line a -> b.
double footParameter(const XPnt2d& a, const XPnt2d& b, double x, double y)
{
    const double p = b.y - a.y;
    const double q = a.x - b.x;
    const double k = b.x * a.y - a.x * b.y;
    const double len2 = p * p + q * q;
    if (!(len2 > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    if (b.x != a.x) {
        const double fx = (q * q * x - q * p * y - k * p) / len2;
        return (fx - a.x) / (b.x - a.x);
    }
    // A vertical edge on screen: the same foot, measured along y.
    return ((x - a.x) * (b.x - a.x) + (y - a.y) * (b.y - a.y)) / len2;
}

}  // namespace

XPnt2d windowPointToUV(const XPnt2d& a, const XPnt2d& b, const XPnt2d& q, double x, double y)
{
    return XPnt2d(footParameter(a, b, x, y), footParameter(a, q, x, y));
}

XPnt3d fovKeepSizeOffset(const XPnt3d& eye, const XPnt3d& center, double d, float oldFov, float newFov)
{
    XPnt3d dir = center - eye;
    if (dir.normalize() <= 0.0 || !std::isfinite(d)) return {0, 0, 0};
    const double t0 = std::tan(double(oldFov) * kPi / 360.0);
    const double t1 = std::tan(double(newFov) * kPi / 360.0);
    if (!(t0 > 0.0) || !(t1 > 0.0) || !std::isfinite(t0) || !std::isfinite(t1)) return {0, 0, 0};
    // Apparent size goes with 1 / (distance x tan(fov / 2)): the eye moves to d t0 / t1 from
    // the point, i.e. forward by d - d t0 / t1.
    const XPnt3d offset = dir * (d - d * t0 / t1);
    return offset.isValid() ? offset : XPnt3d(0, 0, 0);
}

Enve3d meshesBox(const ref_ptr<MeshArray>& meshes, const ref_ptr<MeshArray>& backup)
{
    Enve3d box(2147483647.0, -2147483648.0, 2147483647.0, -2147483648.0, 2147483647.0, -2147483648.0);
    for (const ref_ptr<MeshArray>& array : {meshes, backup}) {
        if (!array) continue;
        for (int i = 0; i < array->meshCount(); ++i) {
            const ref_ptr<IZimMesh> mesh = array->meshAt(i);
            Enve3d b;
            if (!mesh || mesh->meshBox(b) != 0 || b.isEmpty()) continue;
            box.minX = std::min(box.minX, b.minX);
            box.maxX = std::max(box.maxX, b.maxX);
            box.minY = std::min(box.minY, b.minY);
            box.maxY = std::max(box.maxY, b.maxY);
            box.minZ = std::min(box.minZ, b.minZ);
            box.maxZ = std::max(box.maxZ, b.maxZ);
        }
    }
    return box;
}

XPnt3d homeViewDirection()
{
    const double c = std::sqrt(0.5);
    return XPnt3d(0.0, c, -c);
}

bool isUsableCamera(const ViewCamera& camera)
{
    if (!camera.eye.isValid() || !camera.center.isValid() || !camera.up.isValid()) return false;
    if (!std::isfinite(camera.fov) || !std::isfinite(camera.zoom) || !std::isfinite(camera.opacity)) return false;
    if (!(camera.fov > 0.0) || !(camera.zoom > 0.0) || !(camera.opacity >= 0.0 && camera.opacity <= 1.0)) return false;
    XPnt3d dir = camera.center - camera.eye;
    const double length = dir.normalize();
    if (!(length > 0.0) || !std::isfinite(length)) return false;
    // The part of up across the line of sight must be left after taking out the part along it.
    const XPnt3d across = camera.up - dir * camera.up.dot(dir);
    const double upLength = camera.up.length();
    return std::isfinite(upLength) && across.length() > 1e-9 * upLength;
}

bool clipRangeForBox(const XPnt3d& eye, const Enve3d& box, double& nearDistance, double& farDistance)
{
    if (box.isEmpty() || !eye.isValid()) return false;
    const XPnt3d c = box.center();
    const double radius = std::max(0.5 * box.diagonal(), 1e-6 * std::max(1.0, c.length()));
    const double d = eye.dist(c);
    const double farD = d + 1.05 * radius;
    const double nearD = std::max(d - 1.05 * radius, farD * 1e-3);
    if (!std::isfinite(nearD) || !std::isfinite(farD) || !(nearD < farD)) return false;
    nearDistance = nearD;
    farDistance = farD;
    return true;
}

namespace {

// Whether a point is kept by the enabled planes among the first six.
bool insideClipPlanes(const XPnt3d& p, const QVector<ClipPlaneRecord>* planes)
{
    if (!planes) return true;
    for (int i = 0; i < planes->size() && i < 6; ++i) {
        const ClipPlaneRecord& plane = planes->at(i);
        if (!plane.enabled) continue;
        const double* e = plane.equation;
        if (e[0] * p.x + e[1] * p.y + e[2] * p.z + e[3] < 0.0) return false;
    }
    return true;
}

}  // namespace

int firstMeshOnSegment(const XPnt3d& from, const XPnt3d& to, const std::vector<ref_ptr<IZimMesh>>& meshes,
                       const QVector<ClipPlaneRecord>* clipPlanes)
{
    const XPnt3d dir = to - from;
    if (!from.isValid() || !to.isValid() || !(dir.length() > 0.0)) return -1;
    int found = -1;
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const ref_ptr<IZimMesh>& mesh = meshes[m];
        if (!mesh) continue;
        const ref_ptr<Pnt3fArray> vertices = mesh->meshVertexSource();
        const ref_ptr<IntArray> triangles = mesh->meshTriangles();
        if (!vertices || !triangles) continue;
        const int vertexCount = vertices->count();
        for (int t = 0; t + 2 < triangles->count(); t += 3) {
            const int i0 = triangles->at(t), i1 = triangles->at(t + 1), i2 = triangles->at(t + 2);
            if (i0 < 0 || i1 < 0 || i2 < 0 || i0 >= vertexCount || i1 >= vertexCount || i2 >= vertexCount) continue;
            const XPnt3d a(vertices->at(i0)), b(vertices->at(i1)), c(vertices->at(i2));
            // Moeller-Trumbore, both faces, in segment parameters 0..1.
            const XPnt3d e1 = b - a, e2 = c - a;
            const XPnt3d p = dir.cross(e2);
            const double det = e1.dot(p);
            if (det == 0.0 || !std::isfinite(det)) continue;
            const double inv = 1.0 / det;
            const XPnt3d s = from - a;
            const double u = s.dot(p) * inv;
            if (u < 0.0 || u > 1.0) continue;
            const XPnt3d q = s.cross(e1);
            const double v = dir.dot(q) * inv;
            if (v < 0.0 || u + v > 1.0) continue;
            const double hit = e2.dot(q) * inv;
            if (hit < 0.0 || hit > 1.0 || hit > best) continue;
            if (!insideClipPlanes(from + dir * hit, clipPlanes)) continue;
            best = hit;
            found = int(m);
        }
    }
    return found;
}

int nextViewAround(int index)
{
    switch (index) {
        case 5:
            return 0;
        case 0:
            return 4;
        case 4:
            return 1;
        case 1:
            return 5;
        default:
            return index;
    }
}

int nextViewOver(int index)
{
    switch (index) {
        case 5:
            return 2;
        case 2:
            return 4;
        case 4:
            return 3;
        case 3:
            return 5;
        default:
            return index;
    }
}

bool cursorForShape(int shape, Qt::CursorShape& out)
{
    switch (shape) {
        case 0:
        case 2:
            out = Qt::ArrowCursor;
            return true;
        case 1:
            out = Qt::CrossCursor;
            return true;
        case 3:
            out = Qt::PointingHandCursor;
            return true;
        case 5:
            out = Qt::SizeVerCursor;
            return true;
        case 6:
            out = Qt::SizeHorCursor;
            return true;
        case 7:
            out = Qt::SizeBDiagCursor;
            return true;
        case 8:
            out = Qt::SizeFDiagCursor;
            return true;
        case 9:
            out = Qt::SizeAllCursor;
            return true;
        case 10:
            out = Qt::BlankCursor;
            return true;
        default:
            return false;
    }
}

Qt::CursorShape cursorForDrag(bool pickPending, int dragMode)
{
    if (pickPending) return Qt::CrossCursor;
    switch (dragMode) {
        case ZimDragPan:
            return Qt::SizeAllCursor;
        case ZimDragOrbit:
            return Qt::ClosedHandCursor;
        case ZimDragZoom:
            return Qt::SizeVerCursor;
        default:
            return Qt::ArrowCursor;
    }
}

bool screenToTextureAffine(const XPnt2f source[3], const XPnt2f target[3], float out[6], bool quiet)
{
    float a[9];
    for (int i = 0; i < 3; ++i) {
        a[i * 3 + 0] = source[i].x;
        a[i * 3 + 1] = source[i].y;
        a[i * 3 + 2] = 1.0f;
    }
    int pivotRow[3], pivotCol[3];
    if (!zim::gaussJordanInvert<3>(a, 3, pivotRow, pivotCol, quiet)) return false;
    // The same sums, in the same order, as the matrix product.
    for (int i = 0; i < 3; ++i) {
        float u = 0.0f, v = 0.0f;
        for (int k = 0; k < 3; ++k) {
            u += a[i * 3 + k] * target[k].x;
            v += a[i * 3 + k] * target[k].y;
        }
        out[i * 2] = u;
        out[i * 2 + 1] = v;
    }
    return true;
}

bool computeScreenToTexture(const XPnt2f* source, const XPnt2f* target, zim::matrix<float>& out)
{
    float m[6];
    if (!source || !target || !screenToTextureAffine(source, target, m)) return false;
    zim::matrix<float> result(3, 2);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) result(i, j) = m[i * 2 + j];
    out = result;
    return true;
}

// ---- looking through a photo's registered camera ----

namespace {

// World direction of camera axis row `row` of R (x_cam = R X + t): R^T e_row.
XPnt3d cameraAxis(const ZimPhotoCamera& camera, int row)
{
    return XPnt3d(camera.R[row * 3], camera.R[row * 3 + 1], camera.R[row * 3 + 2]);
}

}  // namespace

bool photoRay(const ZimPhotoCamera& camera, double u, double v, double& x, double& y)
{
    const double px = u * camera.width;
    const double py = (1.0 - v) * camera.height;
    const double xd = (px - camera.cx) / camera.fx;
    const double yd = (py - camera.cy) / camera.fy;
    x = xd;
    y = yd;
    if (camera.k1 == 0.0 && camera.k2 == 0.0) return std::isfinite(x) && std::isfinite(y);
    // Radius r of the undistorted position with r (1 + k1 r^2 + k2 r^4) = rd, by Newton's method
    // from the distorted radius.
    const double rd = std::hypot(xd, yd);
    if (!(rd > 0.0)) return std::isfinite(rd);
    double r = rd;
    for (int i = 0; i < 50; ++i) {
        const double r2 = r * r;
        const double g = r * (1.0 + camera.k1 * r2 + camera.k2 * r2 * r2) - rd;
        const double slope = 1.0 + 3.0 * camera.k1 * r2 + 5.0 * camera.k2 * r2 * r2;
        if (!(slope > 0.0) || !std::isfinite(g)) return false;
        const double step = g / slope;
        r -= step;
        if (!(r > 0.0) || !std::isfinite(r)) return false;
        if (std::fabs(step) <= 1e-14 * std::max(1.0, r)) break;
    }
    const double r2 = r * r;
    if (std::fabs(r * (1.0 + camera.k1 * r2 + camera.k2 * r2 * r2) - rd) > 1e-9 * std::max(1.0, rd)) return false;
    x = xd * (r / rd);
    y = yd * (r / rd);
    return true;
}

XPnt3d photoRayPoint(const ZimPhotoCamera& camera, double u, double v, double depth)
{
    double x = 0.0, y = 0.0;
    photoRay(camera, u, v, x, y);
    // x_cam = (x d, y d, d); X = R^T (x_cam - t).
    const double c[3] = {x * depth - camera.t[0], y * depth - camera.t[1], depth - camera.t[2]};
    return cameraAxis(camera, 0) * c[0] + cameraAxis(camera, 1) * c[1] + cameraAxis(camera, 2) * c[2];
}

std::vector<XPnt3d> photoOverlayGrid(const ZimPhotoCamera& camera, int n, double depth)
{
    std::vector<XPnt3d> grid;
    if (n < 1 || !(depth > 0.0) || !camera.isValid()) return grid;
    grid.reserve(std::size_t(n + 1) * std::size_t(n + 1));
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) grid.push_back(photoRayPoint(camera, double(i) / n, double(j) / n, depth));
    return grid;
}

bool photoCameraFrame(const ZimPhotoCamera& camera, double depth, ImageFrame& frame)
{
    if (!camera.isValid() || !(depth > 0.0) || !std::isfinite(depth)) return false;
    // Without the lens: the pinhole's corners, a rectangle facing the eye.
    ZimPhotoCamera pinhole = camera;
    pinhole.k1 = pinhole.k2 = 0.0;
    ImageFrame f;
    f[1] = photoRayPoint(pinhole, 0.0, 0.0, depth);
    f[3] = photoRayPoint(pinhole, 1.0, 0.0, depth);
    f[0] = photoRayPoint(pinhole, 1.0, 1.0, depth);
    f[2] = photoRayPoint(pinhole, 0.0, 1.0, depth);
    f[4] = camera.eye();
    for (const XPnt3d& p : f)
        if (!p.isValid()) return false;
    frame = f;
    return true;
}

double photoViewDepth(const ZimPhotoCamera& camera, const Enve3d& box, double fallback)
{
    if (box.isEmpty() || !camera.isValid()) return fallback;
    const double depth = (box.center() - camera.eye()).dot(cameraAxis(camera, 2));
    return depth > 0.0 && std::isfinite(depth) ? depth : fallback;
}

bool photoCameraLookAt(const ZimPhotoCamera& camera, double depth, XPnt3d& eye, XPnt3d& center, XPnt3d& up)
{
    if (!camera.isValid() || !(depth > 0.0) || !std::isfinite(depth)) return false;
    eye = camera.eye();
    center = eye + cameraAxis(camera, 2) * depth;
    up = -cameraAxis(camera, 1);
    return eye.isValid() && center.isValid() && up.isValid();
}

}  // namespace orvUI
