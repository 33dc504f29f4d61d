#include "TexturePaint.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvpaint {

namespace {

constexpr int kBandRows = 32;

// What became of a texel.
enum TexelState : unsigned char {
    kOutside = 0,  // in no triangle
    kPainted = 1,  // in a triangle and given photo colour
    kKept = 2,     // in a triangle, not painted (hidden, outside the photo, zero weight)
    kBled = 3,     // outside every triangle, filled from painted neighbours
};

// A triangle prepared for painting: texel-space corners and the camera-space surface point as an
// affine function of the texel position (i, j), whose centre sits at integer coordinates.
struct PaintTriangle {
    double u[3], v[3];
    Vec3 origin, di, dj;  // camera-space point = origin + i * di + j * dj
    Vec3 normal;          // unit, camera space; zero for a triangle without area in 3D
    double b1i, b1j, b1c, b2i, b2j, b2c;  // barycentric weights of corners 1 and 2
};

bool prepare(const MeshView& mesh, int t, int W, int H, bool bottomUp, const PhotoProjector& projector,
             PaintTriangle& out)
{
    const int* vi = mesh.triangles + 3 * std::size_t(t);
    const int* ti = (mesh.uvTriangles ? mesh.uvTriangles : mesh.triangles) + 3 * std::size_t(t);
    const int uvCount = mesh.uvTriangles ? mesh.uvCount : std::min(mesh.uvCount, mesh.vertexCount);
    Vec3 c[3];
    for (int k = 0; k < 3; ++k) {
        if (vi[k] < 0 || vi[k] >= mesh.vertexCount || ti[k] < 0 || ti[k] >= uvCount) return false;
        const float* p = mesh.positions + 3 * std::size_t(vi[k]);
        const float* st = mesh.uvs + 2 * std::size_t(ti[k]);
        if (!std::isfinite(st[0]) || !std::isfinite(st[1])) return false;
        out.u[k] = double(st[0]) * W - 0.5;
        out.v[k] = bottomUp ? double(st[1]) * H - 0.5 : (1.0 - double(st[1])) * H - 0.5;
        c[k] = projector.toCamera(Vec3(p[0], p[1], p[2]));
    }
    const double e1u = out.u[1] - out.u[0], e1v = out.v[1] - out.v[0];
    const double e2u = out.u[2] - out.u[0], e2v = out.v[2] - out.v[0];
    const double area = e1u * e2v - e1v * e2u;
    if (!(std::fabs(area) > 1e-12)) return false;
    // b1 = cross(q - p0, p2 - p0) / area, b2 = cross(p1 - p0, q - p0) / area, q = (i, j).
    out.b1i = e2v / area, out.b1j = -e2u / area;
    out.b1c = -(out.u[0] * out.b1i + out.v[0] * out.b1j);
    out.b2i = -e1v / area, out.b2j = e1u / area;
    out.b2c = -(out.u[0] * out.b2i + out.v[0] * out.b2j);
    const Vec3 E1 = c[1] - c[0], E2 = c[2] - c[0];
    out.di = E1 * out.b1i + E2 * out.b2i;
    out.dj = E1 * out.b1j + E2 * out.b2j;
    out.origin = c[0] + E1 * out.b1c + E2 * out.b2c;
    const Vec3 n = E1.cross(E2);
    const double len = n.length();
    out.normal = len > 0 && std::isfinite(len) ? n * (1.0 / len) : Vec3();
    return true;
}

inline unsigned char toByte(float v)
{
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return static_cast<unsigned char>(v + 0.5f);
}

}  // namespace

PaintStats TexturePaint::paint(const MeshView& mesh, const ImageRows& texture, const PhotoPyramid& photo,
                               const PhotoProjector& projector, const DepthView& depth, const PaintWeights& weights,
                               const PaintOptions& options)
{
    PaintStats stats;
    if (!texture.isValid()) {
        stats.error = "the texture has no usable pixels";
        return stats;
    }
    if (!mesh.positions || !mesh.uvs || !mesh.triangles || mesh.vertexCount <= 0 || mesh.uvCount <= 0 ||
        mesh.triangleCount < 0) {
        stats.error = "the mesh has no textured triangles";
        return stats;
    }
    if (!projector.isValid()) {
        stats.error = "the photo has no valid camera";
        return stats;
    }
    if (photo.isEmpty() || photo.width() != projector.width() || photo.height() != projector.height()) {
        stats.error = "the photo's size differs from its camera's";
        return stats;
    }
    if (depth.projector().width() != projector.width() || depth.projector().height() != projector.height()) {
        stats.error = "the depth view belongs to another photo size";
        return stats;
    }
    const int W = texture.width, H = texture.height, ch = texture.channels;
    const int Wp = projector.width(), Hp = projector.height();
    const double fx = projector.fx(), fy = projector.fy();
    const double strength = std::clamp(options.strength, 0.0, 1.0);
    const double tolerance = weights.options().depthTolerance;
    const ColourMatch* match = options.colourMatch && !options.colourMatch->isIdentity() ? options.colourMatch : nullptr;

    // The painted texture is built in a copy; the caller sees the tiles before they change.
    const std::size_t bytes = std::size_t(H) * std::size_t(texture.rowBytes);
    std::vector<unsigned char> work(texture.data, texture.data + bytes);
    std::vector<unsigned char> state(std::size_t(W) * std::size_t(H), kOutside);
    std::vector<float> weightMap;
    if (options.weightOut) weightMap.assign(std::size_t(W) * std::size_t(H), 0.0f);
    auto at = [&](int x, int y) { return work.data() + std::size_t(y) * texture.rowBytes + std::size_t(x) * ch; };

    // Triangles by the bands of texture rows they reach.
    const int bands = (H + kBandRows - 1) / kBandRows;
    std::vector<std::vector<int>> bins(static_cast<std::size_t>(bands));
    {
        const int* tris = mesh.uvTriangles ? mesh.uvTriangles : mesh.triangles;
        const int uvCount = mesh.uvTriangles ? mesh.uvCount : std::min(mesh.uvCount, mesh.vertexCount);
        for (int t = 0; t < mesh.triangleCount; ++t) {
            double lo = 1e300, hi = -1e300;
            bool ok = true;
            for (int k = 0; k < 3; ++k) {
                const int i = tris[3 * std::size_t(t) + std::size_t(k)];
                if (i < 0 || i >= uvCount) {
                    ok = false;
                    break;
                }
                const double s = mesh.uvs[2 * std::size_t(i) + 1];
                const double v = texture.bottomUp ? s * H - 0.5 : (1.0 - s) * H - 0.5;
                lo = std::min(lo, v), hi = std::max(hi, v);
            }
            if (!ok || !(hi >= 0) || !(lo <= H - 1)) continue;
            const int r0 = std::max(0, int(std::ceil(lo - 1e-7))), r1 = std::min(H - 1, int(std::floor(hi + 1e-7)));
            for (int band = r0 / kBandRows; band <= r1 / kBandRows && r1 >= r0; ++band)
                bins[std::size_t(band)].push_back(t);
        }
    }

    long long inTriangles = 0, painted = 0;
#pragma omp parallel for schedule(dynamic, 1) reduction(+ : inTriangles, painted)
    for (int band = 0; band < bands; ++band) {
        const int rowLo = band * kBandRows, rowHi = std::min(H, rowLo + kBandRows) - 1;
        for (int t : bins[std::size_t(band)]) {
            PaintTriangle tri;
            if (!prepare(mesh, t, W, H, texture.bottomUp, projector, tri)) continue;
            const double minU = std::min({tri.u[0], tri.u[1], tri.u[2]}), maxU = std::max({tri.u[0], tri.u[1], tri.u[2]});
            const double minV = std::min({tri.v[0], tri.v[1], tri.v[2]}), maxV = std::max({tri.v[0], tri.v[1], tri.v[2]});
            const int j0 = std::max(rowLo, int(std::ceil(minV - 1e-7))), j1 = std::min(rowHi, int(std::floor(maxV + 1e-7)));
            const int i0 = std::max(0, int(std::ceil(minU - 1e-7))), i1 = std::min(W - 1, int(std::floor(maxU + 1e-7)));
            for (int j = j0; j <= j1; ++j) {
                // The texels of this row inside the triangle: each barycentric weight is linear
                // in i, so the span follows from three inequalities.
                const double r1 = tri.b1j * j + tri.b1c, r2 = tri.b2j * j + tri.b2c;
                constexpr double eps = -1e-7;
                double lo = i0, hi = i1;
                bool empty = false;
                auto limit = [&](double a, double r) {
                    if (a > 0)
                        lo = std::max(lo, std::ceil((eps - r) / a));
                    else if (a < 0)
                        hi = std::min(hi, std::floor((eps - r) / a));
                    else if (r < eps)
                        empty = true;
                };
                limit(tri.b1i, r1);
                limit(tri.b2i, r2);
                limit(-(tri.b1i + tri.b2i), 1 - r1 - r2);
                if (empty || lo > hi) continue;
                const int iLo = int(lo), iHi = int(hi);
                unsigned char* st = state.data() + std::size_t(j) * W;
                Vec3 c = tri.origin + tri.di * iLo + tri.dj * j;
                for (int i = iLo; i <= iHi; ++i, c = c + tri.di) {
                    if (st[i] != kOutside) continue;
                    ++inTriangles;
                    st[i] = kKept;
                    double px = 0, py = 0, d = 1;
                    if (!projector.cameraToPixel(c, px, py, &d)) continue;
                    if (!(px >= 0 && py >= 0 && px < Wp && py < Hp)) continue;
                    if (!depth.isNearest(px, py, c.z, tolerance)) continue;
                    const double feather = weights.featherAt(px, py);
                    if (!(feather > 0)) continue;
                    const double len = std::sqrt(c.dot(c));
                    const double w = strength * feather * weights.grazing(tri.normal.dot(c) / len);
                    if (!(w > 0)) continue;
                    // Photo pixels one texel step spans, along either texture axis (squared).
                    const double iz = 1 / c.z, x = c.x * iz, y = c.y * iz;
                    const double ax = fx * (tri.di.x - x * tri.di.z), ay = fy * (tri.di.y - y * tri.di.z);
                    const double bx = fx * (tri.dj.x - x * tri.dj.z), by = fy * (tri.dj.y - y * tri.dj.z);
                    const double span2 = std::max(ax * ax + ay * ay, bx * bx + by * by) * (d * iz) * (d * iz);
                    // The level whose pixels are half a texel: its Gaussian reduction already
                    // removes what the texel grid cannot hold, a coarser one would blur.
                    // log2(0.5 * span) = 0.5 * log2(span^2) - 1.
                    float colour[3];
                    photo.sample(px, py, span2 > 4 ? 0.5 * std::log2(span2) - 1 : 0.0, colour);
                    if (match) match->apply(colour);
                    unsigned char* p = at(i, j);
                    const float fw = float(w);
                    for (int k = 0; k < 3; ++k) p[k] = toByte(p[k] + fw * (colour[k] - p[k]));
                    st[i] = kPainted;
                    ++painted;
                    if (options.weightOut) weightMap[std::size_t(j) * W + i] = fw;
                }
            }
        }
    }
    stats.texelsInTriangles = inTriangles;
    stats.texelsPainted = painted;

    // Bleed: texels outside every triangle take the mean of their painted neighbours, one ring a
    // pass, so that filtering across an island's border finds the painted colour.
    long long bled = 0;
    for (int pass = 0; pass < std::max(0, options.bleedTexels) && painted > 0; ++pass) {
        std::vector<unsigned char> next(state);
        long long passBled = 0;
#pragma omp parallel for schedule(static) reduction(+ : passBled)
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                if (state[std::size_t(y) * W + x] != kOutside) continue;
                float sum[3] = {0, 0, 0}, wsum = 0;
                int n = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    const int yy = y + dy;
                    if (yy < 0 || yy >= H) continue;
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int xx = x + dx;
                        if (xx < 0 || xx >= W || (dx == 0 && dy == 0)) continue;
                        const unsigned char s = state[std::size_t(yy) * W + xx];
                        if (s != kPainted && s != kBled) continue;
                        const unsigned char* q = at(xx, yy);
                        for (int k = 0; k < 3; ++k) sum[k] += q[k];
                        if (options.weightOut) wsum += weightMap[std::size_t(yy) * W + xx];
                        ++n;
                    }
                }
                if (n == 0) continue;
                unsigned char* p = at(x, y);
                for (int k = 0; k < 3; ++k) p[k] = toByte(sum[k] / n);
                next[std::size_t(y) * W + x] = kBled;
                if (options.weightOut) weightMap[std::size_t(y) * W + x] = wsum / n;
                ++passBled;
            }
        }
        state.swap(next);
        bled += passBled;
        if (passBled == 0) break;
    }
    stats.texelsBled = bled;

    // The tiles whose bytes change, and how many texels do.
    const int ts = std::max(1, options.tileSize);
    const int tilesX = (W + ts - 1) / ts, tilesY = (H + ts - 1) / ts;
    std::vector<unsigned char> touched(std::size_t(tilesX) * tilesY, 0);
    long long changed = 0;
#pragma omp parallel for schedule(static) reduction(+ : changed)
    for (int y = 0; y < H; ++y) {
        const unsigned char* a = texture.row(y);
        const unsigned char* b = work.data() + std::size_t(y) * texture.rowBytes;
        for (int x = 0; x < W; ++x) {
            const std::size_t o = std::size_t(x) * ch;
            if (a[o] == b[o] && a[o + 1] == b[o + 1] && a[o + 2] == b[o + 2]) continue;
            ++changed;
            // Several rows of one tile may mark it at once; they all store the same value.
            unsigned char& flag = touched[std::size_t(y / ts) * tilesX + x / ts];
#pragma omp atomic write
            flag = 1;
        }
    }
    stats.texelsChanged = changed;
    for (int ty = 0; ty < tilesY; ++ty)
        for (int tx = 0; tx < tilesX; ++tx)
            if (touched[std::size_t(ty) * tilesX + tx]) stats.touchedTiles.push_back({tx, ty});

    if (options.beforeWrite && !stats.touchedTiles.empty()) options.beforeWrite(stats.touchedTiles);
    for (const TileKey& tile : stats.touchedTiles) {
        const int x0 = tile.x * ts, x1 = std::min(W, x0 + ts);
        for (int y = tile.y * ts; y < std::min(H, (tile.y + 1) * ts); ++y)
            std::memcpy(texture.row(y) + std::size_t(x0) * ch, work.data() + std::size_t(y) * texture.rowBytes + std::size_t(x0) * ch,
                        std::size_t(x1 - x0) * ch);
    }
    if (options.weightOut) options.weightOut->swap(weightMap);
    stats.ok = true;
    return stats;
}

}  // namespace orvpaint
