// Painting a large photo onto tiles of 2048 x 2048 textures (depth view, weights, photo levels
// and the per-texel paint together) against a plain bilinear resample of the same number of
// texels into memory, both on the same OpenMP threads; the counter "ratio" is paint / resample.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "DepthView.h"
#include "PaintWeights.h"
#include "PhotoProjector.h"
#include "PhotoPyramid.h"
#include "TexturePaint.h"

using namespace orvpaint;

namespace {

constexpr int kTexture = 2048;
constexpr double kTile = 100.0;

struct Tile {
    std::vector<float> positions, uvs;
    std::vector<int> triangles;
    std::vector<unsigned char> texture;

    MeshView view() const
    {
        MeshView m;
        m.positions = positions.data();
        m.vertexCount = int(positions.size() / 3);
        m.uvs = uvs.data();
        m.uvCount = int(uvs.size() / 2);
        m.triangles = triangles.data();
        m.triangleCount = int(triangles.size() / 3);
        return m;
    }
    ImageRows rows()
    {
        ImageRows r;
        r.data = texture.data();
        r.width = r.height = kTexture;
        r.rowBytes = 3 * kTexture;
        return r;
    }
};

// Rolling ground of tiles laid out in a square grid, `triangles` in all.
std::vector<Tile> makeTiles(int count, int triangles, int& columns)
{
    columns = int(std::ceil(std::sqrt(double(count))));
    const int quads = std::max(1, int(std::sqrt(triangles / (2.0 * count))));
    std::vector<Tile> tiles(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        Tile& t = tiles[std::size_t(k)];
        const double x0 = (k % columns) * kTile, y0 = (k / columns) * kTile;
        for (int j = 0; j <= quads; ++j)
            for (int i = 0; i <= quads; ++i) {
                const double x = x0 + kTile * i / quads, y = y0 + kTile * j / quads;
                const double z = 6 * std::sin(x * 0.031) * std::cos(y * 0.027) + 2 * std::sin(x * 0.17 + y * 0.11);
                t.positions.insert(t.positions.end(), {float(x), float(y), float(z)});
                t.uvs.insert(t.uvs.end(), {float(i) / quads, float(j) / quads});
            }
        for (int j = 0; j < quads; ++j)
            for (int i = 0; i < quads; ++i) {
                const int a = j * (quads + 1) + i, b = a + 1, c = a + quads + 2, d = a + quads + 1;
                t.triangles.insert(t.triangles.end(), {a, b, c, a, c, d});
            }
        t.texture.assign(std::size_t(kTexture) * kTexture * 3, 96);
    }
    return tiles;
}

PinholeCamera overview(double side, int w, int h)
{
    const double cx = side / 2, cy = side / 2, tilt = 35 * 3.14159265358979 / 180, dist = 1.3 * side;
    const double ex = cx, ey = cy - dist * std::sin(tilt), ez = dist * std::cos(tilt);
    double f[3] = {cx - ex, cy - ey, -ez};
    const double fl = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
    for (double& v : f) v /= fl;
    // right = forward x up(z), down = forward x right
    double r[3] = {f[1], -f[0], 0};
    const double rl = std::sqrt(r[0] * r[0] + r[1] * r[1]);
    r[0] /= rl, r[1] /= rl;
    const double d[3] = {f[1] * r[2] - f[2] * r[1], f[2] * r[0] - f[0] * r[2], f[0] * r[1] - f[1] * r[0]};
    PinholeCamera c;
    c.width = w, c.height = h;
    c.fx = c.fy = 0.9 * w;
    c.cx = w / 2.0, c.cy = h / 2.0;
    const double* rows[3] = {r, d, f};
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) c.R[3 * i + k] = rows[i][k];
        c.t[i] = -(rows[i][0] * ex + rows[i][1] * ey + rows[i][2] * ez);
    }
    return c;
}

cv::Mat photoPicture(int w, int h)
{
    cv::Mat photo(h, w, CV_8UC3);
    cv::randu(photo, 0, 255);
    cv::GaussianBlur(photo, photo, cv::Size(0, 0), 1.5);
    return photo;
}

// The baseline: every texel sampled bilinearly from the photo at an affine position.
void resample(const cv::Mat& photo, std::vector<Tile>& tiles)
{
    for (std::size_t k = 0; k < tiles.size(); ++k) {
        unsigned char* out = tiles[k].texture.data();
        const double ox = 0.5 + 5.0 * double(k % 4), oy = 0.5 + 5.0 * double(k / 4 % 4);
        const double sx = (photo.cols - 30.0) / kTexture, sy = (photo.rows - 30.0) / kTexture;
#pragma omp parallel for schedule(static)
        for (int j = 0; j < kTexture; ++j) {
            unsigned char* row = out + std::size_t(j) * kTexture * 3;
            const double y = oy + j * sy;
            const int y0 = int(y);
            const float ay = float(y - y0);
            const unsigned char* r0 = photo.ptr<unsigned char>(y0);
            const unsigned char* r1 = photo.ptr<unsigned char>(std::min(y0 + 1, photo.rows - 1));
            for (int i = 0; i < kTexture; ++i) {
                const double x = ox + i * sx;
                const int x0 = int(x), x1 = std::min(x0 + 1, photo.cols - 1);
                const float ax = float(x - x0);
                for (int c = 0; c < 3; ++c) {
                    const float top = r0[3 * x0 + c] + ax * (float(r0[3 * x1 + c]) - r0[3 * x0 + c]);
                    const float bottom = r1[3 * x0 + c] + ax * (float(r1[3 * x1 + c]) - r1[3 * x0 + c]);
                    row[3 * i + c] = static_cast<unsigned char>(top + ay * (bottom - top) + 0.5f);
                }
            }
        }
    }
}

void BM_PaintVsResample(benchmark::State& state)
{
    const int count = int(state.range(0));
    const int photoW = 4000, photoH = 3000;
    int columns = 0;
    std::vector<Tile> tiles = makeTiles(count, 1000000, columns);
    const cv::Mat photo = photoPicture(photoW, photoH);
    const PinholeCamera camera = overview(columns * kTile, photoW, photoH);
    double paintSeconds = 0, resampleSeconds = 0;
    long long painted = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const PhotoProjector projector(camera);
        const PhotoPyramid pyramid(photo);
        DepthView depth(projector);
        for (const Tile& t : tiles) depth.addMesh(t.view());
        depth.render();
        const PaintWeights weights(depth);
        painted = 0;
        for (Tile& t : tiles) {
            const PaintStats s = TexturePaint::paint(t.view(), t.rows(), pyramid, projector, depth, weights);
            painted += s.texelsPainted;
        }
        const auto t1 = Clock::now();
        resample(photo, tiles);
        const auto t2 = Clock::now();
        const double p = std::chrono::duration<double>(t1 - t0).count();
        const double r = std::chrono::duration<double>(t2 - t1).count();
        paintSeconds += p;
        resampleSeconds += r;
        state.SetIterationTime(p);
    }
    state.counters["paint_ms"] = 1000 * paintSeconds / double(state.iterations());
    state.counters["resample_ms"] = 1000 * resampleSeconds / double(state.iterations());
    state.counters["ratio"] = paintSeconds / resampleSeconds;
    state.counters["texels_painted"] = double(painted);
    state.counters["texels"] = double(count) * kTexture * kTexture;
}

}  // namespace

BENCHMARK(BM_PaintVsResample)->Arg(4)->Arg(16)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
