#include "DepthView.h"

#include <algorithm>
#include <cmath>

namespace orvpaint {

namespace {

constexpr int kBandRows = 32;

}  // namespace

DepthView::DepthView(const PhotoProjector& projector, double scale) : m_projector(projector)
{
    if (!(scale > 0) || !std::isfinite(scale)) scale = 1;
    const int w = std::max(1, int(std::lround(projector.width() * scale)));
    const int h = std::max(1, int(std::lround(projector.height() * scale)));
    // The scale actually used, so that both sides of the buffer map onto the photo exactly.
    m_scale = projector.width() > 0 ? double(w) / projector.width() : scale;
    m_depth = cv::Mat(h, w, CV_32F, cv::Scalar(kEmpty));
}

void DepthView::addMesh(const MeshView& mesh)
{
    if (!m_projector.isValid() || !mesh.positions || !mesh.triangles || mesh.vertexCount <= 0 ||
        mesh.triangleCount <= 0)
        return;
    const std::size_t base = m_vertices.size();
    m_vertices.resize(base + std::size_t(mesh.vertexCount));
    const double s = m_scale;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < mesh.vertexCount; ++i) {
        const float* p = mesh.positions + 3 * std::size_t(i);
        const Vec3 c = m_projector.toCamera(Vec3(p[0], p[1], p[2]));
        double px = 0, py = 0;
        Projected& out = m_vertices[base + std::size_t(i)];
        out.ok = m_projector.cameraToPixel(c, px, py) && std::isfinite(px) && std::isfinite(py);
        if (out.ok) {
            out.x = float(px * s);
            out.y = float(py * s);
            out.invZ = float(1.0 / c.z);
        }
    }
    m_triangles.reserve(m_triangles.size() + 3 * std::size_t(mesh.triangleCount));
    for (int t = 0; t < mesh.triangleCount; ++t) {
        const int* v = mesh.triangles + 3 * std::size_t(t);
        if (v[0] < 0 || v[1] < 0 || v[2] < 0 || v[0] >= mesh.vertexCount || v[1] >= mesh.vertexCount ||
            v[2] >= mesh.vertexCount)
            continue;
        const std::size_t a = base + std::size_t(v[0]), b = base + std::size_t(v[1]), c = base + std::size_t(v[2]);
        if (m_vertices[a].ok && m_vertices[b].ok && m_vertices[c].ok) {
            m_triangles.push_back(int(a));
            m_triangles.push_back(int(b));
            m_triangles.push_back(int(c));
        } else {
            addClipped(mesh, v);
        }
    }
    m_dirty = true;
}

void DepthView::addClipped(const MeshView& mesh, const int* v)
{
    // A triangle reaching behind the camera: what lies in front of a plane just ahead of the eye
    // (a thousandth of its farthest corner's depth), as a fan of triangles.
    Vec3 in[3];
    double farthest = 0;
    for (int k = 0; k < 3; ++k) {
        const float* p = mesh.positions + 3 * std::size_t(v[k]);
        in[k] = m_projector.toCamera(Vec3(p[0], p[1], p[2]));
        farthest = std::max(farthest, in[k].z);
    }
    if (!(farthest > 0)) return;
    const double nearZ = 1e-3 * farthest;
    Vec3 poly[4];
    int n = 0;
    for (int k = 0; k < 3; ++k) {
        const Vec3& p = in[k];
        const Vec3& q = in[(k + 1) % 3];
        const bool pIn = p.z >= nearZ, qIn = q.z >= nearZ;
        if (pIn) poly[n++] = p;
        if (pIn != qIn) poly[n++] = p + (q - p) * ((nearZ - p.z) / (q.z - p.z));
    }
    if (n < 3) return;
    const int first = int(m_vertices.size());
    for (int k = 0; k < n; ++k) {
        double px = 0, py = 0;
        // Beyond the lens's usable radius there is no picture of the point: leave it out.
        if (!m_projector.cameraToPixel(poly[k], px, py)) {
            m_vertices.resize(std::size_t(first));
            return;
        }
        Projected out;
        out.x = float(px * m_scale);
        out.y = float(py * m_scale);
        out.invZ = float(1.0 / poly[k].z);
        out.ok = true;
        m_vertices.push_back(out);
    }
    for (int k = 1; k + 1 < n; ++k) {
        m_triangles.push_back(first);
        m_triangles.push_back(first + k);
        m_triangles.push_back(first + k + 1);
    }
}

void DepthView::render()
{
    if (!m_dirty) return;
    m_dirty = false;
    m_depth.setTo(cv::Scalar(kEmpty));
    const int W = m_depth.cols, H = m_depth.rows;
    const int bands = (H + kBandRows - 1) / kBandRows;
    const int triangles = int(m_triangles.size() / 3);

    // Each band of rows gets the triangles whose rows reach it.
    std::vector<std::vector<int>> bins(static_cast<std::size_t>(bands));
    for (int t = 0; t < triangles; ++t) {
        const Projected& a = m_vertices[std::size_t(m_triangles[3 * std::size_t(t)])];
        const Projected& b = m_vertices[std::size_t(m_triangles[3 * std::size_t(t) + 1])];
        const Projected& c = m_vertices[std::size_t(m_triangles[3 * std::size_t(t) + 2])];
        const float minY = std::min({a.y, b.y, c.y}), maxY = std::max({a.y, b.y, c.y});
        const float minX = std::min({a.x, b.x, c.x}), maxX = std::max({a.x, b.x, c.x});
        if (maxX < 0 || minX > W || maxY < 0 || minY > H) continue;
        const int y0 = std::max(0, int(std::ceil(minY - 0.5f))), y1 = std::min(H - 1, int(std::floor(maxY - 0.5f)));
        if (y1 < y0) continue;
        for (int band = y0 / kBandRows; band <= y1 / kBandRows; ++band) bins[std::size_t(band)].push_back(t);
    }

#pragma omp parallel for schedule(dynamic, 1)
    for (int band = 0; band < bands; ++band) {
        const int rowLo = band * kBandRows, rowHi = std::min(H, rowLo + kBandRows) - 1;
        for (int t : bins[std::size_t(band)]) {
            const Projected& a = m_vertices[std::size_t(m_triangles[3 * std::size_t(t)])];
            const Projected& b = m_vertices[std::size_t(m_triangles[3 * std::size_t(t) + 1])];
            const Projected& c = m_vertices[std::size_t(m_triangles[3 * std::size_t(t) + 2])];
            const double area = double(b.x - a.x) * (c.y - a.y) - double(b.y - a.y) * (c.x - a.x);
            if (!(std::fabs(area) > 1e-12)) continue;
            const double inv = 1.0 / area;
            const double minY = std::min({a.y, b.y, c.y}), maxY = std::max({a.y, b.y, c.y});
            const double minX = std::min({a.x, b.x, c.x}), maxX = std::max({a.x, b.x, c.x});
            const int y0 = std::max(rowLo, int(std::ceil(minY - 0.5))),
                      y1 = std::min(rowHi, int(std::floor(maxY - 0.5)));
            const int x0 = std::max(0, int(std::ceil(minX - 0.5))), x1 = std::min(W - 1, int(std::floor(maxX - 0.5)));
            for (int y = y0; y <= y1; ++y) {
                float* row = m_depth.ptr<float>(y);
                const double py = y + 0.5;
                for (int x = x0; x <= x1; ++x) {
                    const double px = x + 0.5;
                    // Barycentric weights of b and c; a gets the rest.
                    const double wb = ((px - a.x) * (c.y - a.y) - (py - a.y) * (c.x - a.x)) * inv;
                    const double wc = ((b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x)) * inv;
                    const double wa = 1 - wb - wc;
                    constexpr double eps = -1e-9;
                    if (wa < eps || wb < eps || wc < eps) continue;
                    const double invZ = wa * a.invZ + wb * b.invZ + wc * c.invZ;
                    if (!(invZ > 0)) continue;
                    const float z = float(1.0 / invZ);
                    if (z < row[x]) row[x] = z;
                }
            }
        }
    }
}

cv::Mat DepthView::visibleArea(double step) const
{
    const int W = m_depth.cols, H = m_depth.rows;
    cv::Mat out(H, W, CV_8U, cv::Scalar(0));
#pragma omp parallel for schedule(static)
    for (int y = 0; y < H; ++y) {
        const float* row = m_depth.ptr<float>(y);
        unsigned char* o = out.ptr<unsigned char>(y);
        for (int x = 0; x < W; ++x) {
            const float d = row[x];
            if (!(d < kEmpty)) continue;
            bool edge = false;
            auto check = [&](float n) {
                if (!(n < kEmpty) || std::fabs(double(n) - d) > step * std::min(double(n), double(d))) edge = true;
            };
            if (x > 0) check(row[x - 1]);
            if (x + 1 < W) check(row[x + 1]);
            if (y > 0) check(m_depth.ptr<float>(y - 1)[x]);
            if (y + 1 < H) check(m_depth.ptr<float>(y + 1)[x]);
            o[x] = edge ? 0 : 255;
        }
    }
    return out;
}

long long DepthView::coveredPixels() const
{
    long long n = 0;
    for (int y = 0; y < m_depth.rows; ++y) {
        const float* row = m_depth.ptr<float>(y);
        for (int x = 0; x < m_depth.cols; ++x) n += row[x] < kEmpty;
    }
    return n;
}

}  // namespace orvpaint
