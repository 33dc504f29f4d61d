#include "ViewMath.h"

#include "OrvViewState.h"
#include "OrvUIElements64t.h"

#include <algorithm>
#include <cmath>

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

bool computePhotoFrame(const XPnt3d& eye, const XPnt3d& center, const XPnt3d& up, float baseFov, int width,
                       int height, ImageFrame& frame)
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

int nextViewAround(int index)
{
    switch (index) {
    case 5: return 0;
    case 0: return 4;
    case 4: return 1;
    case 1: return 5;
    default: return index;
    }
}

int nextViewOver(int index)
{
    switch (index) {
    case 5: return 2;
    case 2: return 4;
    case 4: return 3;
    case 3: return 5;
    default: return index;
    }
}

bool cursorForShape(int shape, Qt::CursorShape& out)
{
    switch (shape) {
    case 0:
    case 2: out = Qt::ArrowCursor; return true;
    case 1: out = Qt::CrossCursor; return true;
    case 3: out = Qt::PointingHandCursor; return true;
    case 5: out = Qt::SizeVerCursor; return true;
    case 6: out = Qt::SizeHorCursor; return true;
    case 7: out = Qt::SizeBDiagCursor; return true;
    case 8: out = Qt::SizeFDiagCursor; return true;
    case 9: out = Qt::SizeAllCursor; return true;
    case 10: out = Qt::BlankCursor; return true;
    default: return false;
    }
}

Qt::CursorShape cursorForDrag(bool pickPending, int dragMode)
{
    if (pickPending) return Qt::CrossCursor;
    switch (dragMode) {
    case ZimDragPan: return Qt::SizeAllCursor;
    case ZimDragOrbit: return Qt::ClosedHandCursor;
    case ZimDragZoom: return Qt::SizeVerCursor;
    default: return Qt::ArrowCursor;
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

}  // namespace orvUI
