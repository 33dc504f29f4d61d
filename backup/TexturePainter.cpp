#include "TexturePainter.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "ProgressSteps.h"
#include "ViewMath.h"

namespace orvUI {

QSize backupImageSize(int width, int height)
{
    int w = width, h = height;
    if (std::max(w, h) > 2048) {
        if (w > h) {
            h = int((long long)h * 2048 / w);
            w = 2048;
        } else {
            w = int((long long)w * 2048 / h);
            h = 2048;
        }
    }
    return QSize(w, h);
}

namespace {

// Direct access to a 24-bit image with marks (rows bottom-up, 3 bytes a pixel).
struct PixelPlane {
    unsigned char* pixels = nullptr;
    unsigned char* marks = nullptr;
    int width = 0, height = 0, stride = 0;

    bool attach(IZimImage* image)
    {
        if (!image || image->imageBits() != 24 || !image->imageHasMarks()) return false;
        width = image->imageWidth();
        height = image->imageHeight();
        stride = image->imageRowBytes();
        pixels = image->imageData(0);
        marks = image->imageMarkData();
        if (!pixels || !marks || width <= 0 || height <= 0) return false;
        return height == 1 || image->imageData(1) == pixels + stride;
    }
    unsigned char* at(int x, int y) const { return pixels + std::size_t(y) * stride + std::size_t(x) * 3; }
    unsigned char& mark(int x, int y) const { return marks[std::size_t(y) * width + x]; }
};

}  // namespace

void fillBackupGray(IZimImage* image)
{
    PixelPlane plane;
    if (!plane.attach(image)) return;
    const int w = plane.width, h = plane.height;
    // Row by row, as the picture lies in memory.
#pragma omp parallel for schedule(static)
    for (int y = 0; y < h; ++y) {
        std::memset(plane.at(0, y), 128, std::size_t(w) * 3);
        std::memset(&plane.mark(0, y), 0, std::size_t(w));
    }
}

void fillImageGaps(IZimImage* image, int passes)
{
    PixelPlane plane;
    if (!plane.attach(image)) return;
    const int w = plane.width, h = plane.height;
    std::vector<std::vector<_PixelRowCol_>> found(std::size_t(std::max(1, omp_get_max_threads())));
    for (int pass = 0; pass < passes; ++pass) {
        // Every pixel is decided on the picture as the pass found it; the writes come after.
#pragma omp parallel
        {
            std::vector<_PixelRowCol_>& mine = found[std::size_t(omp_get_thread_num()) % found.size()];
            mine.clear();
            // Per row: the marks of the row and the rows above and below, or-ed together, so
            // that a pixel without a marked neighbour is passed over at a glance.
            std::vector<unsigned char> near(std::size_t(w) + 2, 0);
#pragma omp for schedule(static)
            for (int y = 0; y < h; ++y) {
                const unsigned char* row = &plane.mark(0, y);
                if (!std::memchr(row, 0, std::size_t(w))) continue;
                const unsigned char* above = y + 1 < h ? &plane.mark(0, y + 1) : row;
                const unsigned char* below = y > 0 ? &plane.mark(0, y - 1) : row;
                for (int x = 0; x < w; ++x) near[std::size_t(x) + 1] = row[x] | above[x] | below[x];
                for (int x = 0; x < w; ++x) {
                    if (row[x]) continue;
                    if (!(near[std::size_t(x)] | near[std::size_t(x) + 1] | near[std::size_t(x) + 2])) continue;
                    unsigned sum[3] = {0, 0, 0};
                    unsigned count = 0;
                    for (int ny = std::max(0, y - 1); ny <= std::min(h - 1, y + 1); ++ny)
                        for (int nx = std::max(0, x - 1); nx <= std::min(w - 1, x + 1); ++nx) {
                            if (!plane.mark(nx, ny)) continue;
                            const unsigned char* p = plane.at(nx, ny);
                            sum[0] += p[0];
                            sum[1] += p[1];
                            sum[2] += p[2];
                            ++count;
                        }
                    if (count == 0) continue;
                    const int colour = int(sum[0] / count) | int(sum[1] / count) << 8 | int(sum[2] / count) << 16;
                    mine.push_back(zim::newPixelRowCol(x, y, colour));
                }
            }
        }
        for (const std::vector<_PixelRowCol_>& list : found)
            for (const _PixelRowCol_& p : list) {
                unsigned char* px = plane.at(p.x, p.y);
                px[0] = (unsigned char)(p.colour & 0xff);
                px[1] = (unsigned char)(p.colour >> 8 & 0xff);
                px[2] = (unsigned char)(p.colour >> 16 & 0xff);
                plane.mark(p.x, p.y) = 255;
            }
    }
}

// ---- painting -------------------------------------------------------------------------------

BilinearSampler::BilinearSampler(const IZimImage* image) : m_image(image)
{
    auto* writable = const_cast<IZimImage*>(image);
    m_width = image->imageWidth();
    m_height = image->imageHeight();
    m_bpp = image->imageBits() / 8;
    m_stride = image->imageRowBytes();
    m_pixels = writable->imageData(0);
    m_direct = m_pixels && m_width > 0 && m_height > 0 && (m_bpp == 3 || m_bpp == 4) &&
               (m_height == 1 || writable->imageData(1) == m_pixels + m_stride);
}

namespace {

// trunc(v) as an int, with v first kept within [lo, hi] so that no conversion overflows.
constexpr int kFar = 1 << 30;
int clampedTrunc(double v, int lo = -kFar, int hi = kFar)
{
    if (!(v > double(lo))) return lo;
    if (!(v < double(hi))) return hi;
    return int(v);
}

// One record made ready for painting.
struct Prepared {
    XPnt2f screen[3];
    XPnt2f texture[3];
    float m[6];
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0;  // scan window, ends excluded
};

// What one run of records of a mesh paints with.
struct MeshImages {
    const IZimImage* texture = nullptr;
    const IZimImage* alpha = nullptr;
    PixelPlane previous;
};

// Paints the records from..to (exclusive, walking down) into plane on `threads` threads.
void paintRun(const TriangleRecords& records, int from, int to, const MeshImages& images, const PixelPlane& plane,
              int threads);

}  // namespace

TexturePainter::TexturePainter(const ref_ptr<IZimImage>& backup, const TextureImageMap& textures, AlphaSource alphaOf)
    : m_backup(backup), m_textures(textures), m_alphaOf(std::move(alphaOf))
{
}

bool TexturePainter::paintRecords(const TriangleRecords& records, IZimProgress* progress)
{
    PixelPlane plane;
    if (!plane.attach(m_backup.get())) return false;
    const int count = records.size();
    int r = count - 1;
    while (r >= 0) {
        // A run: the records of one mesh index, consecutive in walk order.
        const long mesh = records[r] ? records[r]->meshIndex : -1;
        int end = r;
        while (end >= 0 && (records[end] ? records[end]->meshIndex : -1) == mesh) --end;

        MeshImages images;
        ref_ptr<IZimImage> previous;
        ref_ptr<IZimImage> alpha;
        const auto texture = m_textures.constFind(int(mesh));
        if (texture != m_textures.constEnd() && texture.value()) {
            images.texture = texture.value().get();
            if (m_alphaOf) alpha = m_alphaOf(int(mesh));
            if (alpha) {
                // Blending reads the picture as it was before this mesh.
                previous = m_backup->imageClone();
                if (!previous || !images.previous.attach(previous.get())) return false;
                images.alpha = alpha.get();
            }
            paintRun(records, r, end, images, plane, m_threads);
        }
        for (int k = r; k > end; --k) pStep(progress, 1.0 / count);
        r = end;
    }
    return true;
}

namespace {

void paintRun(const TriangleRecords& records, int from, int to, const MeshImages& images, const PixelPlane& plane,
              int threads)
{
    const int W = plane.width, H = plane.height;
    const IZimImage* texture = images.texture;
    const IZimImage* alpha = images.alpha;
    const float tw = float(texture->imageWidth()), th = float(texture->imageHeight());
    const BilinearSampler textureSampler(texture);
    const std::unique_ptr<BilinearSampler> alphaSampler(alpha ? new BilinearSampler(alpha) : nullptr);
    const int nt = std::max(1, std::min(threads > 0 ? threads : omp_get_max_threads(), H));
    auto bandStart = [H, nt](int t) { return int((long long)H * t / nt); };

    // The records each band of rows needs, in walk order: every row a record can write (its scan
    // window and corner pixels) and the row that reports a singular record.
    std::vector<std::vector<int>> bins{std::size_t(nt)};
    for (int r = from; r > to; --r) {
        const TqTriangleIndex* rec = records[r].get();
        if (!rec) continue;
        if (nt == 1) {
            bins[0].push_back(r);
            continue;
        }
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        for (const XPnt3d* s : {&rec->Screen0(), &rec->Screen1(), &rec->Screen2()}) {
            const double y = double(H) * s->y + 0.5;
            lo = std::min(lo, y);
            hi = std::max(hi, y);
        }
        if (!std::isfinite(lo) || !std::isfinite(hi)) continue;  // never painted
        const int windowStart = std::max(1, clampedTrunc(float(lo) - 2.0f));
        const int owner = std::min(std::max(windowStart, 0), H - 1);
        const int first = std::min(owner, std::max(0, clampedTrunc(lo) - 3));
        const int last = std::max(owner, std::min(H - 1, clampedTrunc(hi) + 3));
        for (int t = 0; t < nt; ++t)
            if (bandStart(t) <= last && bandStart(t + 1) > first) bins[std::size_t(t)].push_back(r);
    }

#pragma omp parallel for schedule(static, 1) num_threads(nt)
    for (int t = 0; t < nt; ++t) {
        // One band of rows; every pixel has exactly one owner, and each owner takes the records
        // in walk order, so the later record wins as it would on one thread.
        const int band0 = bandStart(t), band1 = bandStart(t + 1);
        std::vector<unsigned char> lattice;

        auto blendAndWrite = [&](int x, int y, float u, float v, unsigned char c[4]) {
            if (alpha) {
                unsigned char a4[4] = {0, 0, 0, 255};
                alphaSampler->sample(u, v, a4);
                const unsigned a = a4[2];
                const unsigned char* p = images.previous.at(x, y);
                for (int k = 0; k < 3; ++k) c[k] = (unsigned char)((p[k] * (255u - a) + c[k] * a) / 255u);
            }
            unsigned char* px = plane.at(x, y);
            px[0] = c[0];
            px[1] = c[1];
            px[2] = c[2];
            plane.mark(x, y) = 255;
        };

        for (const int r : bins[std::size_t(t)]) {
            const TqTriangleIndex* rec = records[r].get();
            Prepared g;
            const XPnt3d* S[3] = {&rec->Screen0(), &rec->Screen1(), &rec->Screen2()};
            const XPnt2f* T[3] = {&rec->Tex0(), &rec->Tex1(), &rec->Tex2()};
            bool finite = true;
            int corner[3][2];
            for (int k = 0; k < 3; ++k) {
                g.texture[k] = XPnt2f(T[k]->x * tw, T[k]->y * th);
                const double sx = double(W) * S[k]->x + 0.5, sy = double(H) * S[k]->y + 0.5;
                g.screen[k] = XPnt2f(float(sx), float(sy));
                finite = finite && std::isfinite(sx) && std::isfinite(sy) && std::isfinite(g.screen[k].x) &&
                         std::isfinite(g.screen[k].y);
                corner[k][0] = clampedTrunc(sx);
                corner[k][1] = clampedTrunc(sy);
            }
            if (!finite) continue;
            auto sameCorner = [&corner](int i, int j) {
                return corner[i][0] == corner[j][0] && corner[i][1] == corner[j][1];
            };
            if (sameCorner(0, 1) || sameCorner(0, 2) || sameCorner(1, 2)) {
                // Too small to scan: the three corner pixels, clipped to the picture.
                for (int k = 0; k < 3; ++k) {
                    const int x = clampedTrunc(g.screen[k].x), y = clampedTrunc(g.screen[k].y);
                    if (x < 0 || x >= W || y < band0 || y >= band1) continue;
                    unsigned char c[4] = {0, 0, 0, 255};
                    textureSampler.sample(g.texture[k].x, g.texture[k].y, c);
                    blendAndWrite(x, y, g.texture[k].x, g.texture[k].y, c);
                }
                continue;
            }

            float minX = g.screen[0].x, maxX = minX, minY = g.screen[0].y, maxY = minY;
            for (int k = 1; k < 3; ++k) {
                minX = std::min(minX, g.screen[k].x);
                maxX = std::max(maxX, g.screen[k].x);
                minY = std::min(minY, g.screen[k].y);
                maxY = std::max(maxY, g.screen[k].y);
            }
            g.x0 = std::max(1, clampedTrunc(minX - 2.0f));
            g.x1 = std::min(clampedTrunc(maxX + 2.0f), W - 1);
            g.y0 = std::max(1, clampedTrunc(minY - 2.0f));
            g.y1 = std::min(clampedTrunc(maxY + 2.0f), H - 1);
            // The singular message once per record: from the thread that owns the window's first
            // row (clamped to the picture), whether or not anything is scanned.
            const int ownerRow = std::min(std::max(g.y0, 0), H - 1);
            const bool owner = ownerRow >= band0 && ownerRow < band1;
            const int ya = std::max(g.y0, band0), yb = std::min(g.y1, band1);
            if (!owner && (ya >= yb || g.x0 >= g.x1)) continue;
            if (!screenToTextureAffine(g.screen, g.texture, g.m, !owner)) continue;
            if (ya >= yb || g.x0 >= g.x1) continue;

            // Inside tests once per lattice point of the window grown by one; a pixel is covered
            // when one of its four diagonal neighbours is inside. The test's sign arithmetic is
            // exact (differences and products of floats held in doubles), so no point outside
            // the triangle's box is inside: only the points within it are tested, and only the
            // pixels next to them can be covered.
            const ZimTriangle2d tri(g.screen[0], g.screen[1], g.screen[2]);
            const int lx0 = g.x0 - 1, ly0 = ya - 1;
            const int lw = g.x1 - g.x0 + 2, lh = yb - ya + 2;
            const int bx0 = std::max(lx0, clampedTrunc(std::ceil(double(minX)))),
                      bx1 = std::min(lx0 + lw - 1, clampedTrunc(std::floor(double(maxX))));
            const int by0 = std::max(ly0, clampedTrunc(std::ceil(double(minY)))),
                      by1 = std::min(ly0 + lh - 1, clampedTrunc(std::floor(double(maxY))));
            if (bx0 > bx1 || by0 > by1) continue;
            lattice.assign(std::size_t(lw) * std::size_t(lh), 0);
            for (int px = bx0; px <= bx1; ++px)
                for (int py = by0; py <= by1; ++py)
                    lattice[std::size_t(px - lx0) * lh + (py - ly0)] =
                        tri.contains(double(float(px)), double(float(py)));
            auto in = [&](int x, int y) { return lattice[std::size_t(x - lx0) * lh + (y - ly0)] != 0; };

            const int sx0 = std::max(g.x0, bx0 - 1), sx1 = std::min(g.x1, bx1 + 2);
            const int sy0 = std::max(ya, by0 - 1), sy1 = std::min(yb, by1 + 2);
            for (int x = sx0; x < sx1; ++x) {
                for (int y = sy0; y < sy1; ++y) {
                    if (!(in(x + 1, y + 1) || in(x + 1, y - 1) || in(x - 1, y + 1) || in(x - 1, y - 1))) continue;
                    const float fx = float(x), fy = float(y);
                    const float u = g.m[0] * fx + g.m[2] * fy + g.m[4];
                    const float v = g.m[1] * fx + g.m[3] * fy + g.m[5];
                    // Outside the texture (a size equal to the width or height still samples);
                    // NaN never samples.
                    if (!(u >= 0.0f && u <= tw && v >= 0.0f && v <= th)) continue;
                    unsigned char c[4] = {0, 0, 0, 255};
                    textureSampler.sample(u, v, c);
                    blendAndWrite(x, y, u, v, c);
                }
            }
        }
    }
}

}  // namespace

}  // namespace orvUI
