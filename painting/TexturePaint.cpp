#include "TexturePaint.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

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
    Vec3 origin, di, dj;                  // camera-space point = origin + i * di + j * dj
    Vec3 normal;                          // unit, camera space; zero for a triangle without area in 3D
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
    // NaN and anything below 0 give 0.
    v = v > 0 ? v : 0.0f;
    v = v < 255 ? v : 255.0f;
    return static_cast<unsigned char>(int(v + 0.5f));
}

// The photo's camera from camera space on: perspective division, radial distortion and the
// intrinsics, in single precision.
struct FloatLens {
    float fx, fy, cx, cy, k1, k2, maxR2;
    explicit FloatLens(const PhotoProjector& p)
        : fx(float(p.fx())),
          fy(float(p.fy())),
          cx(float(p.cx())),
          cy(float(p.cy())),
          k1(float(p.k1())),
          k2(float(p.k2())),
          maxR2(float(p.maxRadius2()))
    {
    }
    // Photo position, 1 / depth and the distortion factor; false behind the camera or beyond the
    // radius the lens maps one to one.
    bool toPixel(float x, float y, float z, float& px, float& py, float& iz, float& d) const
    {
        if (!(z > float(PhotoProjector::kNear))) return false;
        iz = 1.0f / z;
        const float nx = x * iz, ny = y * iz, r2 = nx * nx + ny * ny;
        if (!(r2 < maxR2)) return false;
        d = 1 + r2 * (k1 + k2 * r2);
        px = fx * nx * d + cx;
        py = fy * ny * d + cy;
        return true;
    }
};

// Bilinear look-up of the feather map at a depth-view position (pixel centres at +0.5), zero
// beyond the map; `toMap` takes depth-view positions to the map's (1 when both share a size).
// Blocks of full weight answer without interpolation.
struct FeatherMap {
    const unsigned char* data;
    std::size_t step;
    int cols, rows;
    float toMap, maxX, maxY;
    const unsigned char* full;
    int fullColumns, fullRows;
    FeatherMap(const PaintWeights& w, float scale)
        : data(w.map().data),
          step(w.map().step[0]),
          cols(w.map().cols),
          rows(w.map().rows),
          toMap(scale),
          maxX(float(w.map().cols - 1)),
          maxY(float(w.map().rows - 1)),
          full(w.fullBlocks()),
          fullColumns(w.fullBlockColumns()),
          fullRows(w.fullBlockRows())
    {
    }
    float operator()(float sx, float sy) const
    {
        const float fx = sx * toMap - 0.5f, fy = sy * toMap - 0.5f;
        if (!data || !(fx > -1) || !(fy > -1) || !(fx < float(cols)) || !(fy < float(rows))) return 0;
        const float x = std::clamp(fx, 0.0f, maxX), y = std::clamp(fy, 0.0f, maxY);
        const int x0 = std::min(int(x), cols - 1), y0 = std::min(int(y), rows - 1);
        const int bx = x0 / PaintWeights::kFullBlock, by = y0 / PaintWeights::kFullBlock;
        if (bx < fullColumns && by < fullRows && full[std::size_t(by) * std::size_t(fullColumns) + std::size_t(bx)])
            return 1;
        const int x1 = std::min(x0 + 1, cols - 1), y1 = std::min(y0 + 1, rows - 1);
        const float ax = x - float(x0), ay = y - float(y0);
        const float* r0 = reinterpret_cast<const float*>(data + std::size_t(y0) * step);
        const float* r1 = reinterpret_cast<const float*>(data + std::size_t(y1) * step);
        const float top = r0[x0] + ax * (r0[x1] - r0[x0]);
        const float bottom = r1[x0] + ax * (r1[x1] - r1[x0]);
        return top + ay * (bottom - top);
    }
};

// Bilinear colour from the photo's full-size level at a photo position, clamped to its edge
// pixels.
struct BaseSampler {
    const unsigned char* data;
    std::size_t step;
    int cols, rows;
    float maxX, maxY;
    explicit BaseSampler(const cv::Mat& m)
        : data(m.data), step(m.step[0]), cols(m.cols), rows(m.rows), maxX(float(m.cols - 1)), maxY(float(m.rows - 1))
    {
    }
    void operator()(float px, float py, float out[3]) const
    {
        float x = px - 0.5f, y = py - 0.5f;
        x = x < 0 ? 0 : (x > maxX ? maxX : x);
        y = y < 0 ? 0 : (y > maxY ? maxY : y);
        const int x0 = int(x), y0 = int(y);
        const int x1 = x0 + 1 < cols ? x0 + 1 : x0, y1 = y0 + 1 < rows ? y0 + 1 : y0;
        const float ax = x - float(x0), ay = y - float(y0);
        const unsigned char* r0 = data + std::size_t(y0) * step;
        const unsigned char* r1 = data + std::size_t(y1) * step;
        for (int c = 0; c < 3; ++c) {
            const float top = r0[3 * x0 + c] + ax * (float(r0[3 * x1 + c]) - r0[3 * x0 + c]);
            const float bottom = r1[3 * x0 + c] + ax * (float(r1[3 * x1 + c]) - r1[3 * x0 + c]);
            out[c] = top + ay * (bottom - top);
        }
    }
};

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
    const ColourMatch* match =
        options.colourMatch && !options.colourMatch->isIdentity() ? options.colourMatch : nullptr;

    // The painted texels are built in a buffer of the texture's layout (only painted and bled
    // texels are ever written or read there); the caller sees the tiles before they change.
    const std::size_t bytes = std::size_t(H) * std::size_t(texture.rowBytes);
    const std::unique_ptr<unsigned char[]> work(new unsigned char[bytes]);
    std::vector<unsigned char> state(std::size_t(W) * std::size_t(H), kOutside);
    std::vector<float> weightMap;
    if (options.weightOut) weightMap.assign(std::size_t(W) * std::size_t(H), 0.0f);
    auto at = [&](int x, int y) { return work.get() + std::size_t(y) * texture.rowBytes + std::size_t(x) * ch; };
    // Tiles whose bytes change, marked as the texels are written.
    const int ts = std::max(1, options.tileSize);
    const int tilesX = (W + ts - 1) / ts, tilesY = (H + ts - 1) / ts;
    std::vector<unsigned char> touched(std::size_t(tilesX) * tilesY, 0);
    std::vector<int> tileColumn(static_cast<std::size_t>(W));
    for (int x = 0; x < W; ++x) tileColumn[std::size_t(x)] = x / ts;
    // Writes a texel's new colour, and marks its tile when that changes its bytes.
    auto put = [&](int x, int y, unsigned char* p, const unsigned char* old, const float colour[3]) -> bool {
        const unsigned char b = toByte(colour[0]), g = toByte(colour[1]), r = toByte(colour[2]);
        p[0] = b, p[1] = g, p[2] = r;
        if (b == old[0] && g == old[1] && r == old[2]) return false;
        // Several rows of one tile may mark it at once; they all store the same value.
        unsigned char& flag = touched[std::size_t(y / ts) * tilesX + std::size_t(tileColumn[std::size_t(x)])];
#pragma omp atomic write
        flag = 1;
        return true;
    };

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

    // What the per-texel loop reads, in single precision and without calls: the lens, the depth
    // buffer, the feather map and the photo's full-size level.
    const FloatLens lensShared(projector);
    const float fWp = float(Wp), fHp = float(Hp), ffx = float(fx), ffy = float(fy);
    const float strengthF = float(strength);
    const cv::Mat& depthMat = depth.depth();
    const float* depthRows = depthMat.ptr<float>(0);
    const std::size_t depthStride = depthMat.step1();
    const int depthW = depthMat.cols, depthH = depthMat.rows;
    const float depthScale = float(depth.scale());
    const float depthSlack = float(1 + tolerance);
    const FeatherMap featherShared(weights, float(weights.scale() / depth.scale()));
    const float cosFull2 = float(weights.fullWeightCos() * weights.fullWeightCos());
    const cv::Mat& base = photo.level(0);
    const BaseSampler samplerShared(base);

    long long inTriangles = 0, painted = 0, changed = 0;
#pragma omp parallel for schedule(dynamic, 1) reduction(+ : inTriangles, painted, changed)
    for (int band = 0; band < bands; ++band) {
        const int rowLo = band * kBandRows, rowHi = std::min(H, rowLo + kBandRows) - 1;
        // Copies of its own, which the texel writes cannot alias.
        const FloatLens lens = lensShared;
        const FeatherMap featherAt = featherShared;
        const BaseSampler sampleBase = samplerShared;
        for (int t : bins[std::size_t(band)]) {
            PaintTriangle tri;
            if (!prepare(mesh, t, W, H, texture.bottomUp, projector, tri)) continue;
            const double minU = std::min({tri.u[0], tri.u[1], tri.u[2]}),
                         maxU = std::max({tri.u[0], tri.u[1], tri.u[2]});
            const double minV = std::min({tri.v[0], tri.v[1], tri.v[2]}),
                         maxV = std::max({tri.v[0], tri.v[1], tri.v[2]});
            const int j0 = std::max(rowLo, int(std::ceil(minV - 1e-7))),
                      j1 = std::min(rowHi, int(std::floor(maxV + 1e-7)));
            const int i0 = std::max(0, int(std::ceil(minU - 1e-7))), i1 = std::min(W - 1, int(std::floor(maxU + 1e-7)));
            // Per-texel work in single precision: the camera-space point of a texel is taken
            // afresh from the row's start (no running sum), so it stays well within a texel.
            const float dix = float(tri.di.x), diy = float(tri.di.y), diz = float(tri.di.z);
            const float djx = float(tri.dj.x), djy = float(tri.dj.y), djz = float(tri.dj.z);
            const float nx = float(tri.normal.x), ny = float(tri.normal.y), nz = float(tri.normal.z);
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
                unsigned char* rowBytes = work.get() + std::size_t(j) * texture.rowBytes;
                const unsigned char* oldRow = texture.row(j);
                const Vec3 c0 = tri.origin + tri.di * iLo + tri.dj * j;
                const float ox = float(c0.x), oy = float(c0.y), oz = float(c0.z);
                for (int i = iLo; i <= iHi; ++i) {
                    if (st[i] != kOutside) continue;
                    ++inTriangles;
                    st[i] = kKept;
                    const float n = float(i - iLo);
                    const float cx = ox + n * dix, cy = oy + n * diy, cz = oz + n * diz;
                    float px = 0, py = 0, iz = 0, d = 1;
                    if (!lens.toPixel(cx, cy, cz, px, py, iz, d)) continue;
                    if (!(px >= 0 && py >= 0 && px < fWp && py < fHp)) continue;
                    const float sx = px * depthScale, sy = py * depthScale;
                    const int dxi = std::min(int(sx), depthW - 1), dyi = std::min(int(sy), depthH - 1);
                    const float nearest = depthRows[std::size_t(dyi) * depthStride + std::size_t(dxi)];
                    if (!(nearest < DepthView::kEmpty) || !(cz <= nearest * depthSlack)) continue;
                    const float feather = featherAt(sx, sy);
                    if (!(feather > 0)) continue;
                    // Full weight within the fade's start angle, tested without a root.
                    const float len2 = cx * cx + cy * cy + cz * cz, nc = nx * cx + ny * cy + nz * cz;
                    const float fade =
                        nc * nc >= cosFull2 * len2 ? 1.0f : float(weights.grazing(std::fabs(nc) / std::sqrt(len2)));
                    const float w = strengthF * feather * fade;
                    if (!(w > 0)) continue;
                    // Photo pixels one texel step spans, along either texture axis (squared).
                    const float x = cx * iz, y = cy * iz;
                    const float ax = ffx * (dix - x * diz), ay = ffy * (diy - y * diz);
                    const float bx = ffx * (djx - x * djz), by = ffy * (djy - y * djz);
                    const float scale = d * iz;
                    const float span2 = std::max(ax * ax + ay * ay, bx * bx + by * by) * scale * scale;
                    // The level whose pixels are half a texel: its Gaussian reduction already
                    // removes what the texel grid cannot hold, a coarser one would blur.
                    // log2(0.5 * span) = 0.5 * log2(span^2) - 1.
                    float colour[3];
                    if (span2 > 4)
                        photo.sample(px, py, 0.5 * double(std::log2(span2)) - 1, colour);
                    else
                        sampleBase(px, py, colour);
                    if (match) match->apply(colour);
                    const unsigned char* old = oldRow + std::size_t(i) * ch;
                    if (w < 1)
                        for (int k = 0; k < 3; ++k) colour[k] = old[k] + w * (colour[k] - old[k]);
                    changed += put(i, j, rowBytes + std::size_t(i) * ch, old, colour);
                    st[i] = kPainted;
                    ++painted;
                    if (options.weightOut) weightMap[std::size_t(j) * W + i] = w;
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
#pragma omp parallel for schedule(static) reduction(+ : passBled, changed)
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
                for (int k = 0; k < 3; ++k) sum[k] /= float(n);
                changed += put(x, y, at(x, y), texture.row(y) + std::size_t(x) * ch, sum);
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

    stats.texelsChanged = changed;
    for (int ty = 0; ty < tilesY; ++ty)
        for (int tx = 0; tx < tilesX; ++tx)
            if (touched[std::size_t(ty) * tilesX + tx]) stats.touchedTiles.push_back({tx, ty});

    if (options.beforeWrite && !stats.touchedTiles.empty()) options.beforeWrite(stats.touchedTiles);
    // Only painted and bled texels hold new bytes (an alpha channel is left as it was).
    const int tileCount = int(stats.touchedTiles.size());
#pragma omp parallel for schedule(static)
    for (int k = 0; k < tileCount; ++k) {
        const TileKey& tile = stats.touchedTiles[std::size_t(k)];
        const int x0 = tile.x * ts, x1 = std::min(W, x0 + ts);
        for (int y = tile.y * ts; y < std::min(H, (tile.y + 1) * ts); ++y) {
            const unsigned char* st = state.data() + std::size_t(y) * W;
            for (int x = x0; x < x1; ++x) {
                if (st[x] != kPainted && st[x] != kBled) continue;
                unsigned char* out = texture.row(y) + std::size_t(x) * ch;
                const unsigned char* in = at(x, y);
                out[0] = in[0], out[1] = in[1], out[2] = in[2];
            }
        }
    }
    if (options.weightOut) options.weightOut->swap(weightMap);
    stats.ok = true;
    return stats;
}

}  // namespace orvpaint
