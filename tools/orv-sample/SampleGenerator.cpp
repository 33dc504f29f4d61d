#include "SampleGenerator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QSaveFile>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

namespace orvsample {

namespace {

constexpr double kPi = 3.14159265358979323846;

ZIM_TR_CONTEXT("orv-sample")

// ---- hashing and noise ----------------------------------------------------------------------

quint32 mix32(quint32 h)
{
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}

quint32 hash2(int x, int y, quint32 seed)
{
    return mix32(quint32(x) * 0x8da6b343u ^ mix32(quint32(y) * 0xd8163841u ^ mix32(seed + 0x9e3779b9u)));
}

// Lattice value in [-1, 1].
double lattice(int x, int y, quint32 seed) { return hash2(x, y, seed) * (2.0 / 4294967296.0) - 1.0; }

double fade(double t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); }

double valueNoise(double x, double y, quint32 seed)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = int(fx), iy = int(fy);
    const double u = fade(x - fx), v = fade(y - fy);
    const double a = lattice(ix, iy, seed), b = lattice(ix + 1, iy, seed);
    const double c = lattice(ix, iy + 1, seed), d = lattice(ix + 1, iy + 1, seed);
    const double bottom = a + (b - a) * u;
    const double top = c + (d - c) * u;
    return bottom + (top - bottom) * v;
}

double smoothstep(double e0, double e1, double x)
{
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

QColor scaled(const QColor& c, double f)
{
    return QColor(std::clamp(int(std::lround(c.red() * f)), 0, 255),
                  std::clamp(int(std::lround(c.green() * f)), 0, 255),
                  std::clamp(int(std::lround(c.blue() * f)), 0, 255));
}

QString tileName(int tile) { return QStringLiteral("tile_%1").arg(tile, 3, 10, QLatin1Char('0')); }
// A photo is named after the mesh it shows, so that tools pairing photos with meshes by name find it.
QString photoName(int tile) { return tileName(tile) + QStringLiteral(".jpg"); }

}  // namespace

// ---- random numbers ---------------------------------------------------------------------------

SampleRng::SampleRng(quint64 seed, quint64 stream)
    : m_state(seed * 0x9e3779b97f4a7c15ull ^ (stream + 0x632be59bd9b4e019ull) * 0xd1b54a32d192ed03ull)
{
    next();
}

quint32 SampleRng::next()
{
    quint64 z = (m_state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return quint32((z ^ (z >> 31)) >> 32);
}

double SampleRng::unit() { return next() / 4294967296.0; }

double SampleRng::range(double lo, double hi) { return lo + (hi - lo) * unit(); }

int SampleRng::below(int n)
{
    if (n <= 1) return 0;
    return int((quint64(next()) * quint64(n)) >> 32);
}

double fractalNoise(double x, double y, quint32 seed, int octaves)
{
    double sum = 0, norm = 0, amp = 1, freq = 1;
    for (int o = 0; o < std::max(1, octaves); ++o) {
        sum += amp * valueNoise(x * freq, y * freq, seed + quint32(o) * 0x68e31da4u);
        norm += amp;
        amp *= 0.5;
        freq *= 2.0;
    }
    return sum / norm;
}

// ---- roads -----------------------------------------------------------------------------------

double Road::centre(double along) const { return offset + amplitude * std::sin(along * frequency + phase); }

double Road::distance(double x, double y) const
{
    const double along = eastWest ? x : y;
    const double across = eastWest ? y : x;
    const double slope = amplitude * frequency * std::cos(along * frequency + phase);
    return std::abs(across - centre(along)) / std::sqrt(1.0 + slope * slope);
}

// ---- terrain ---------------------------------------------------------------------------------

SampleTerrain::SampleTerrain(int tiles, int trianglesTotal, quint32 seed) : m_tiles(std::max(1, tiles)), m_seed(seed)
{
    m_columns = int(std::ceil(std::sqrt(double(m_tiles)) - 1e-9));
    m_rows = (m_tiles + m_columns - 1) / m_columns;

    // Quads per tile so that the whole comes as close to trianglesTotal as a grid allows.
    const double quads = std::max(1.0, double(trianglesTotal) / (2.0 * m_tiles));
    m_quadsX = std::max(1, int(std::lround(std::sqrt(quads))));
    m_quadsY = std::max(1, int(std::lround(quads / m_quadsX)));

    SampleRng tilt(seed, 0x54494c54u);
    m_tiltX = tilt.range(-0.03, 0.03);
    m_tiltY = tilt.range(-0.03, 0.03);

    SampleRng rng(seed, 0x524f4144u);
    const int eastWest = std::max(1, int(std::lround(m_rows / 2.5)));
    const int northSouth = std::max(1, int(std::lround(m_columns / 2.5)));
    for (int k = 0; k < eastWest + northSouth; ++k) {
        Road road;
        road.eastWest = k < eastWest;
        const int index = road.eastWest ? k : k - eastWest;
        const double span = (road.eastWest ? m_rows : m_columns) * kTileSize;
        const double spacing = span / (road.eastWest ? eastWest : northSouth);
        road.offset = (index + rng.range(0.3, 0.7)) * spacing;
        road.amplitude = rng.range(4.0, 14.0);
        road.frequency = 2.0 * kPi / rng.range(180.0, 420.0);
        road.phase = rng.range(0.0, 2.0 * kPi);
        road.width = rng.range(5.0, 7.0);
        m_roads.push_back(road);
    }
    placeBuildings();
}

double SampleTerrain::gridX(int globalI) const { return double(globalI) * kTileSize / double(m_quadsX); }
double SampleTerrain::gridY(int globalJ) const { return double(globalJ) * kTileSize / double(m_quadsY); }

Enve2d SampleTerrain::tileArea(int tile) const
{
    const int col = tile % m_columns, row = tile / m_columns;
    return Enve2d(gridX(col * m_quadsX), gridX((col + 1) * m_quadsX), gridY(row * m_quadsY),
                  gridY((row + 1) * m_quadsY));
}

double SampleTerrain::groundHeight(double x, double y) const
{
    return 40.0 + m_tiltX * x + m_tiltY * y + 18.0 * fractalNoise(x / 230.0, y / 230.0, m_seed, 4) +
           2.5 * fractalNoise(x / 37.0, y / 37.0, m_seed ^ 0xa5a5a5a5u, 3);
}

double SampleTerrain::height(double x, double y) const
{
    const double ground = groundHeight(x, y);
    const double cf = std::floor(x / kTileSize), rf = std::floor(y / kTileSize);
    if (!(cf >= 0 && rf >= 0 && cf < m_columns && rf < m_rows)) return ground;
    const int tile = int(rf) * m_columns + int(cf);
    if (tile >= m_tiles) return ground;
    double h = ground;
    for (int b = m_firstBuilding[std::size_t(tile)]; b < m_firstBuilding[std::size_t(tile) + 1]; ++b) {
        const Building& bd = m_buildings[std::size_t(b)];
        const double dx = std::max(0.0, std::max(bd.footprint.minX - x, x - bd.footprint.maxX));
        const double dy = std::max(0.0, std::max(bd.footprint.minY - y, y - bd.footprint.maxY));
        const double m = std::clamp(1.0 - dx / bd.wallX, 0.0, 1.0) * std::clamp(1.0 - dy / bd.wallY, 0.0, 1.0);
        if (m >= 1.0)
            h = std::max(h, bd.roof);
        else if (m > 0.0)
            h = std::max(h, ground + m * (bd.roof - ground));
    }
    return h;
}

XPnt3d SampleTerrain::vertex(int tile, int i, int j) const
{
    const int col = tile % m_columns, row = tile / m_columns;
    const double x = gridX(col * m_quadsX + i), y = gridY(row * m_quadsY + j);
    return {x, y, height(x, y)};
}

XPnt3d SampleTerrain::surfacePoint(int tile, double s, double t) const
{
    s = std::clamp(s, 0.0, 1.0);
    t = std::clamp(t, 0.0, 1.0);
    double fx = s * m_quadsX, fy = t * m_quadsY;
    const int i = std::min(int(fx), m_quadsX - 1), j = std::min(int(fy), m_quadsY - 1);
    fx = std::clamp(fx - i, 0.0, 1.0);
    fy = std::clamp(fy - j, 0.0, 1.0);
    const XPnt3d a = vertex(tile, i, j), b = vertex(tile, i + 1, j);
    const XPnt3d c = vertex(tile, i + 1, j + 1), d = vertex(tile, i, j + 1);
    // The same split as the written faces: (a, b, c) below the diagonal a-c, (a, c, d) above it.
    double z, zLo, zHi;
    if (fx >= fy) {
        z = a.z + fx * (b.z - a.z) + fy * (c.z - b.z);
        zLo = std::min({a.z, b.z, c.z}), zHi = std::max({a.z, b.z, c.z});
    } else {
        z = a.z + fy * (d.z - a.z) + fx * (c.z - d.z);
        zLo = std::min({a.z, c.z, d.z}), zHi = std::max({a.z, c.z, d.z});
    }
    const double x = std::clamp(a.x + fx * (b.x - a.x), a.x, b.x);
    const double y = std::clamp(a.y + fy * (d.y - a.y), a.y, d.y);
    return {x, y, std::clamp(z, zLo, zHi)};
}

int SampleTerrain::tileAt(int column, int row) const
{
    if (column < 0 || row < 0 || column >= m_columns || row >= m_rows) return -1;
    const int tile = row * m_columns + column;
    return tile < m_tiles ? tile : -1;
}

std::vector<const Building*> SampleTerrain::tileBuildings(int tile) const
{
    std::vector<const Building*> out;
    if (tile < 0 || tile >= m_tiles) return out;
    for (int b = m_firstBuilding[std::size_t(tile)]; b < m_firstBuilding[std::size_t(tile) + 1]; ++b)
        out.push_back(&m_buildings[std::size_t(b)]);
    return out;
}

void SampleTerrain::placeBuildings()
{
    static const QColor pitched[] = {QColor(168, 74, 52), QColor(135, 52, 45),  QColor(78, 84, 92),
                                     QColor(116, 84, 62), QColor(96, 112, 128), QColor(150, 98, 70)};
    static const QColor flat[] = {QColor(176, 176, 170), QColor(140, 142, 146), QColor(196, 188, 172)};
    const double stepX = kTileSize / m_quadsX, stepY = kTileSize / m_quadsY;
    m_firstBuilding.assign(std::size_t(m_tiles) + 1, 0);
    for (int tile = 0; tile < m_tiles; ++tile) {
        m_firstBuilding[std::size_t(tile)] = int(m_buildings.size());
        // A grid too coarse for walls a cell wide would turn blocks into pyramids.
        if (m_quadsX < 8 || m_quadsY < 8) continue;
        SampleRng rng(m_seed, 0x424c4400u + quint64(tile));
        int wanted;
        if (tile == 0) {
            wanted = 2 + rng.below(3);
        } else {
            const int r = rng.below(10);
            wanted = r < 4 ? 0 : 1 + rng.below(4);
        }
        const int col = tile % m_columns, row = tile / m_columns;
        const std::size_t first = m_buildings.size();
        for (int attempt = 0; attempt < 60 && int(m_buildings.size() - first) < wanted; ++attempt) {
            double w = rng.range(8.0, 22.0), dpt = rng.range(7.0, 15.0);
            if (rng.below(2)) std::swap(w, dpt);
            const int cx = std::max(2, int(std::lround(w / stepX)));
            const int cy = std::max(2, int(std::lround(dpt / stepY)));
            // Two free cells to the tile border: the walls run one cell out and the border stays
            // bare ground, identical for both tiles that share it.
            const int freeX = m_quadsX - 4 - cx, freeY = m_quadsY - 4 - cy;
            const double roll1 = rng.unit(), roll2 = rng.unit();
            const int style = rng.below(10);
            const int colourPick = rng.below(6);
            const double rise = rng.range(4.0, 13.0);
            if (freeX < 0 || freeY < 0) continue;
            const int i0 = 2 + int(roll1 * (freeX + 1)), j0 = 2 + int(roll2 * (freeY + 1));
            const int gi = col * m_quadsX + i0, gj = row * m_quadsY + j0;
            Enve2d fp(gridX(gi), gridX(gi + cx), gridY(gj), gridY(gj + cy));

            bool clear = true;
            for (int a = 0; a <= 4 && clear; ++a) {
                for (int b = 0; b <= 4 && clear; ++b) {
                    const double px = fp.minX - 3.0 + (fp.width() + 6.0) * a / 4.0;
                    const double py = fp.minY - 3.0 + (fp.height() + 6.0) * b / 4.0;
                    for (const Road& road : m_roads)
                        if (road.distance(px, py) < road.width * 0.5 + 2.0) clear = false;
                }
            }
            for (std::size_t o = first; o < m_buildings.size() && clear; ++o) {
                const Enve2d& e = m_buildings[o].footprint;
                const double gap = 4.0 + std::max(stepX, stepY);
                if (fp.minX < e.maxX + gap && e.minX < fp.maxX + gap && fp.minY < e.maxY + gap &&
                    e.minY < fp.maxY + gap)
                    clear = false;
            }
            if (!clear) continue;

            Building bd;
            bd.tile = tile;
            bd.footprint = fp;
            bd.wallX = stepX;
            bd.wallY = stepY;
            double top = -std::numeric_limits<double>::max();
            for (int i = -1; i <= cx + 1; ++i)
                for (int j = -1; j <= cy + 1; ++j) top = std::max(top, groundHeight(gridX(gi + i), gridY(gj + j)));
            if (style >= 7) {
                bd.style = 2;
                bd.colour = flat[colourPick % 3];
                bd.roof = top + rise + 2.0;
            } else {
                bd.style = fp.width() >= fp.height() ? 0 : 1;
                bd.colour = pitched[colourPick];
                bd.roof = top + rise;
            }
            m_buildings.push_back(bd);
        }
    }
    m_firstBuilding[std::size_t(m_tiles)] = int(m_buildings.size());
}

// ---- cameras -------------------------------------------------------------------------------------

XPnt3d PhotoCamera::toCamera(const XPnt3d& p) const
{
    return {R[0] * p.x + R[1] * p.y + R[2] * p.z + t[0], R[3] * p.x + R[4] * p.y + R[5] * p.z + t[1],
            R[6] * p.x + R[7] * p.y + R[8] * p.z + t[2]};
}

bool PhotoCamera::project(const XPnt3d& world, double* px, double* py) const
{
    const XPnt3d c = toCamera(world);
    if (!(c.z > 1e-9)) return false;
    const double x = c.x / c.z, y = c.y / c.z;
    const double r2 = x * x + y * y;
    const double d = 1.0 + k1 * r2 + k2 * r2 * r2;
    *px = focal * x * d + cx;
    *py = focal * y * d + cy;
    return true;
}

double undistortRadius(double rd, double k1, double k2)
{
    double r = rd;
    for (int i = 0; i < 40; ++i) {
        const double r2 = r * r;
        const double slope = 1.0 + 3.0 * k1 * r2 + 5.0 * k2 * r2 * r2;
        if (slope <= 1e-6) break;
        const double step = (r * (1.0 + k1 * r2 + k2 * r2 * r2) - rd) / slope;
        r -= step;
        if (std::abs(step) <= 1e-15 * std::max(1.0, r)) break;
    }
    return r;
}

PhotoCamera photoCamera(const SampleTerrain& terrain, int tile, const SampleOptions& o)
{
    // Every number is drawn whatever the options, so changing one option leaves the rest alike.
    SampleRng rng(terrain.seed(), 0x43414d00u + quint64(tile));
    const double focalFactor = rng.range(0.7, 1.3);
    const double tilt = rng.range(20.0, 60.0) * kPi / 180.0;
    const double azimuth = rng.range(0.0, 2.0 * kPi);
    const double roll = rng.range(-3.0, 3.0) * kPi / 180.0;
    const double fill = rng.range(0.75, 0.95);
    const double aimS = 0.5 + rng.range(-0.08, 0.08), aimT = 0.5 + rng.range(-0.08, 0.08);
    const double ppAngle = rng.range(0.0, 2.0 * kPi);

    PhotoCamera cam;
    cam.width = o.photoSize.width();
    cam.height = o.photoSize.height();
    cam.focal = focalFactor * cam.width;
    cam.cx = cam.width * (0.5 + o.ppOffset * std::cos(ppAngle));
    cam.cy = cam.height * (0.5 + o.ppOffset * std::sin(ppAngle));
    cam.k1 = o.k1;
    cam.k2 = o.k2;

    // The tile's width fills `fill` of the photo's width at the aimed point.
    const XPnt3d target = terrain.surfacePoint(tile, aimS, aimT);
    const double distance = cam.focal * kTileSize / (fill * cam.width);
    const XPnt3d back(std::sin(tilt) * std::cos(azimuth), std::sin(tilt) * std::sin(azimuth), std::cos(tilt));
    cam.eye = target + back * distance;
    const XPnt3d forward = -back;
    XPnt3d right = forward.cross(XPnt3d(0, 0, 1));
    right.normalize();
    const XPnt3d down = forward.cross(right);
    const double cr = std::cos(roll), sr = std::sin(roll);
    const XPnt3d x = right * cr + down * sr, y = down * cr - right * sr;
    const XPnt3d rows[3] = {x, y, forward};
    for (int r = 0; r < 3; ++r) {
        cam.R[3 * r] = rows[r].x;
        cam.R[3 * r + 1] = rows[r].y;
        cam.R[3 * r + 2] = rows[r].z;
        cam.t[r] = -rows[r].dot(cam.eye);
    }
    return cam;
}

// ---- validation --------------------------------------------------------------------------------

QString validateOptions(const SampleOptions& o)
{
    if (o.outDir.trimmed().isEmpty()) return tr("no output folder given");
    if (o.tiles < kMinTiles || o.tiles > kMaxTiles)
        return tr("tiles must be between %1 and %2 (got %3)").arg(kMinTiles).arg(kMaxTiles).arg(o.tiles);
    if (o.trianglesTotal < kMinTriangles || o.trianglesTotal > kMaxTriangles)
        return tr("triangles must be between %1 and %2 (got %3)")
            .arg(kMinTriangles)
            .arg(kMaxTriangles)
            .arg(o.trianglesTotal);
    if (o.trianglesTotal < 2 * o.tiles)
        return tr("%1 triangles are too few for %2 tiles: every tile needs at least 2")
            .arg(o.trianglesTotal)
            .arg(o.tiles);
    const QSize p = o.photoSize;
    if (p.width() < kMinPhotoSide || p.height() < kMinPhotoSide || p.width() > kMaxPhotoSide ||
        p.height() > kMaxPhotoSide)
        return tr("photo size must be between %1 and %2 pixels a side (got %3x%4)")
            .arg(kMinPhotoSide)
            .arg(kMaxPhotoSide)
            .arg(p.width())
            .arg(p.height());
    if (o.textureSize < kMinTextureSize || o.textureSize > kMaxTextureSize)
        return tr("texture size must be between %1 and %2 pixels (got %3)")
            .arg(kMinTextureSize)
            .arg(kMaxTextureSize)
            .arg(o.textureSize);
    if (o.marks < kMinMarks || o.marks > kMaxMarks)
        return tr("marks must be between %1 and %2 per photo (got %3)").arg(kMinMarks).arg(kMaxMarks).arg(o.marks);
    if (!(o.markNoise >= 0 && o.markNoise <= kMaxMarkNoise))
        return tr("mark noise must be between 0 and %1 pixels (got %2)").arg(kMaxMarkNoise).arg(o.markNoise);
    if (!(o.ppOffset >= 0 && o.ppOffset <= kMaxPpOffset))
        return tr("principal point offset must be between 0 and %1 (got %2)").arg(kMaxPpOffset).arg(o.ppOffset);
    if (!(std::abs(o.k1) <= kMaxDistortion && std::abs(o.k2) <= kMaxDistortion))
        return tr("distortion coefficients must be between -%1 and %1 (got %2,%3)")
            .arg(kMaxDistortion)
            .arg(o.k1)
            .arg(o.k2);
    if (o.k1 != 0 || o.k2 != 0) {
        // The widest photo corner of the shortest focal length: the lens must not fold the
        // picture before it, nor need a field of view much wider than the photo's own.
        const double rdMax = (0.5 + o.ppOffset) * std::hypot(1.0, double(p.height()) / p.width()) / 0.7;
        bool usable = false;
        for (int k = 1; k <= 4000; ++k) {
            const double r = rdMax * 1.6 * k / 4000.0, r2 = r * r;
            if (1.0 + 3.0 * o.k1 * r2 + 5.0 * o.k2 * r2 * r2 < 0.1) break;
            if (r * (1.0 + o.k1 * r2 + o.k2 * r2 * r2) >= rdMax * 1.02) {
                usable = true;
                break;
            }
        }
        if (!usable)
            return tr("distortion %1,%2 is too strong for a %3x%4 photo")
                .arg(o.k1)
                .arg(o.k2)
                .arg(p.width())
                .arg(p.height());
    }
    return QString();
}

namespace {

// ---- file output --------------------------------------------------------------------------------

// Writes through a QSaveFile so that a failure never leaves a partial file behind.
bool writeBytes(const QString& path, const char* data, qint64 size, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = tr("cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    if (file.write(data, size) != size || !file.commit()) {
        *error = tr("cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

bool writeImage(const QString& path, const QImage& image, const char* format, int quality, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = tr("cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    QImageWriter writer(&file, format);
    if (quality >= 0) writer.setQuality(quality);
    if (!writer.write(image)) {
        *error = tr("cannot write %1: %2").arg(QDir::toNativeSeparators(path), writer.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = tr("cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

void appendf(std::string& out, const char* format, double a, double b, double c)
{
    char buf[128];
    const int n = std::snprintf(buf, sizeof buf, format, a, b, c);
    if (n > 0) out.append(buf, std::size_t(std::min<int>(n, int(sizeof buf) - 1)));
}

void appendFace(std::string& out, const int (&v)[3], const int (&t)[3])
{
    char buf[96];
    const int n = std::snprintf(buf, sizeof buf, "f %d/%d %d/%d %d/%d\n", v[0], t[0], v[1], t[1], v[2], t[2]);
    if (n > 0) out.append(buf, std::size_t(std::min<int>(n, int(sizeof buf) - 1)));
}

struct MeshText {
    std::string obj;
    Enve3d box;
};

// The OBJ of one tile. Odd tiles list their texture coordinates in reverse vertex order.
MeshText buildObj(const SampleTerrain& terrain, int tile)
{
    MeshText out;
    const int qx = terrain.quadsX(), qy = terrain.quadsY();
    const int vertices = terrain.verticesPerTile();
    const bool reversed = tile % 2 == 1;
    const QByteArray name = tileName(tile).toLatin1();
    out.obj.reserve(std::size_t(vertices) * 64 + std::size_t(terrain.trianglesPerTile()) * 40 + 256);
    out.obj += "# terrain tile " + std::to_string(tile) + " of " + std::to_string(terrain.tileCount()) + ", seed " +
               std::to_string(terrain.seed()) + "; x east, y north, z up, metres\n";
    out.obj += "mtllib " + name.toStdString() + ".mtl\n";
    out.obj += "o " + name.toStdString() + "\n";
    for (int j = 0; j <= qy; ++j) {
        for (int i = 0; i <= qx; ++i) {
            const XPnt3d p = terrain.vertex(tile, i, j);
            out.box.expand(p);
            appendf(out.obj, "v %.6f %.6f %.6f\n", p.x, p.y, p.z);
        }
    }
    for (int k = 0; k < vertices; ++k) {
        const int src = reversed ? vertices - 1 - k : k;
        const int i = src % (qx + 1), j = src / (qx + 1);
        appendf(out.obj, "vt %.6f %.6f\n", double(i) / qx, double(j) / qy, 0.0);
    }
    out.obj += "usemtl " + name.toStdString() + "\n";
    auto texOf = [&](int v) { return reversed ? vertices - v : v + 1; };  // 1-based
    for (int j = 0; j < qy; ++j) {
        for (int i = 0; i < qx; ++i) {
            const int a = j * (qx + 1) + i, b = a + 1, c = a + qx + 2, d = a + qx + 1;
            const int t1[3] = {a, b, c}, t2[3] = {a, c, d};
            for (const auto* tri : {&t1, &t2}) {
                const int v[3] = {(*tri)[0] + 1, (*tri)[1] + 1, (*tri)[2] + 1};
                const int t[3] = {texOf((*tri)[0]), texOf((*tri)[1]), texOf((*tri)[2])};
                appendFace(out.obj, v, t);
            }
        }
    }
    return out;
}

// ---- label lettering (strokes, so the texture never depends on installed fonts) --------------

// Seven segments a (top), b (top right), c (bottom right), d (bottom), e (bottom left),
// f (top left), g (middle) as bits 0..6, plus bit 7 for a centre stroke (T and I).
int glyphSegments(QChar ch)
{
    static const int digits[10] = {0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f, 0x6f};
    if (ch.isDigit()) return digits[ch.digitValue()];
    switch (ch.toLatin1()) {
        case 'T':
            return 0x01 | 0x80;
        case 'I':
            return 0x80 | 0x01 | 0x08;
        case 'L':
            return 0x38;
        case 'E':
            return 0x79;
        default:
            return 0;
    }
}

void drawLabel(QPainter& p, const QString& text, const QPointF& origin, double height)
{
    const double w = height * 0.55, gap = height * 0.3;
    QPainterPath path;
    double x = origin.x();
    const double top = origin.y(), mid = top + height * 0.5, bottom = top + height;
    for (const QChar ch : text) {
        const int s = glyphSegments(ch);
        auto line = [&](double x0, double y0, double x1, double y1) {
            path.moveTo(x0, y0);
            path.lineTo(x1, y1);
        };
        if (s & 0x01) line(x, top, x + w, top);
        if (s & 0x02) line(x + w, top, x + w, mid);
        if (s & 0x04) line(x + w, mid, x + w, bottom);
        if (s & 0x08) line(x, bottom, x + w, bottom);
        if (s & 0x10) line(x, mid, x, bottom);
        if (s & 0x20) line(x, top, x, mid);
        if (s & 0x40) line(x, mid, x + w, mid);
        if (s & 0x80) line(x + w * 0.5, top, x + w * 0.5, bottom);
        x += w + gap;
    }
    const double boxPad = height * 0.35;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 20, 150));
    p.drawRect(QRectF(origin.x() - boxPad, top - boxPad, x - gap - origin.x() + 2 * boxPad, height + 2 * boxPad));
    QPen pen(QColor(245, 245, 235), std::max(1.0, height / 7.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

// ---- ground pictures ---------------------------------------------------------------------------

int cellOf(double v) { return int(std::floor(v / kTileSize)); }

struct Tree {
    double x, y, r;
    int crown;
};

// Trees of one cell of the tile grid (a tile, or a cell beyond the tiles). They depend only on
// the cell, so every picture that shows a cell shows the same trees and crowns continue across
// tile borders. `buildings` must hold every building on the cell and the eight around it.
std::vector<Tree> cellTrees(const SampleTerrain& terrain, int col, int row,
                            const std::vector<const Building*>& buildings)
{
    std::vector<Tree> out;
    SampleRng rng(terrain.seed(), 0x5452454500000000ull ^ (quint64(quint32(col)) << 20) ^ quint64(quint32(row)));
    const double x0 = col * kTileSize, y0 = row * kTileSize;
    for (int n = 0; n < 420; ++n) {
        Tree t;
        t.x = x0 + rng.unit() * kTileSize;
        t.y = y0 + rng.unit() * kTileSize;
        t.r = rng.range(1.6, 3.4);
        const double keep = rng.unit();
        t.crown = rng.below(4);
        const double wood = fractalNoise(t.x / 90.0, t.y / 90.0, terrain.seed() ^ 0x7733u, 3);
        if (keep > smoothstep(-0.05, 0.35, wood) * 0.9 + 0.03) continue;
        bool clear = true;
        for (const Road& road : terrain.roads())
            if (road.distance(t.x, t.y) < road.width * 0.5 + 1.5 + t.r) clear = false;
        for (const Building* bd : buildings)
            if (t.x > bd->footprint.minX - t.r - 1.5 && t.x < bd->footprint.maxX + t.r + 1.5 &&
                t.y > bd->footprint.minY - t.r - 1.5 && t.y < bd->footprint.maxY + t.r + 1.5)
                clear = false;
        if (clear) out.push_back(t);
    }
    return out;
}

// An aerial picture of `area` (world metres), width x height pixels, north up: fields tinted by
// the height field and lit from the north-west, roads, trees and building roofs with their
// shadows. With labelTile >= 0 the tile number is lettered into the bottom-left corner.
QImage renderGround(const SampleTerrain& terrain, const Enve2d& area, int width, int height, int labelTile)
{
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return image;
    const quint32 seed = terrain.seed();
    const double ppm = width / area.width();  // pixels per metre
    auto toPixel = [&](double x, double y) { return QPointF((x - area.minX) * ppm, (area.maxY - y) * ppm); };

    // Slowly varying layers (height, hill shade, moisture) on a coarse lattice, at most 256 nodes
    // per tile length and one per 4 pixels, interpolated per pixel. The heights carry one more
    // ring of nodes for the slopes of the border nodes.
    const int spansX = std::max(1, std::min(width / 4, int(std::ceil(area.width() / kTileSize * 256))));
    const int spansY = std::max(1, std::min(height / 4, int(std::ceil(area.height() / kTileSize * 256))));
    const int nodesX = spansX + 1;
    const std::size_t layerSize = std::size_t(nodesX) * std::size_t(spansY + 1);
    std::vector<float> heightL(layerSize), shadeL(layerSize), moistL(layerSize);
    const double stepX = area.width() / spansX, stepY = area.height() / spansY;
    const int ringX = spansX + 3;
    std::vector<double> ring(std::size_t(ringX) * std::size_t(spansY + 3));
    for (int b = -1; b <= spansY + 1; ++b)
        for (int a = -1; a <= spansX + 1; ++a)
            ring[std::size_t(b + 1) * std::size_t(ringX) + std::size_t(a + 1)] =
                terrain.groundHeight(area.minX + stepX * a, area.maxY - stepY * b);
    const double lx = -0.55, ly = 0.62, lz = 0.56;  // light from the north-west
    const double lLen = std::sqrt(lx * lx + ly * ly + lz * lz);
    for (int b = 0; b <= spansY; ++b) {
        for (int a = 0; a <= spansX; ++a) {
            auto at = [&](int da, int db) {
                return ring[std::size_t(b + 1 + db) * std::size_t(ringX) + std::size_t(a + 1 + da)];
            };
            const double x = area.minX + stepX * a, y = area.maxY - stepY * b;
            const double gx = (at(1, 0) - at(-1, 0)) / (2 * stepX);
            const double gy = (at(0, -1) - at(0, 1)) / (2 * stepY);  // b runs southward
            const double nx = -gx * 1.8, ny = -gy * 1.8, nz = 1.0;
            const double dot = (nx * lx + ny * ly + nz * lz) / (std::sqrt(nx * nx + ny * ny + nz * nz) * lLen);
            const std::size_t k = std::size_t(b) * std::size_t(nodesX) + std::size_t(a);
            heightL[k] = float(at(0, 0));
            shadeL[k] = float(std::clamp(1.0 + 1.3 * (dot - lz / lLen), 0.6, 1.3));
            moistL[k] = float(fractalNoise(x / 28.0, y / 28.0, seed ^ 0x5eedu, 3));
        }
    }

    static const QColor fields[8] = {QColor(104, 132, 64),  QColor(86, 122, 52),  QColor(136, 150, 86),
                                     QColor(190, 170, 110), QColor(170, 150, 90), QColor(128, 100, 72),
                                     QColor(102, 82, 62),   QColor(112, 118, 70)};
    SampleRng layout(seed, 0x4649454cu);
    const double angle = layout.range(-0.6, 0.6), ca = std::cos(angle), sa = std::sin(angle);
    const double fieldU = layout.range(45.0, 70.0);
    const quint32 grainSeed = seed + quint32(labelTile + 1) * 7919u;

    for (int py = 0; py < height; ++py) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(py));
        const double fb = (py + 0.5) * spansY / height;
        const int b0 = std::min(int(fb), spansY - 1);
        const double wb = fb - b0;
        const double y = area.maxY - (py + 0.5) / ppm;
        int lastCu = std::numeric_limits<int>::min(), lastCv = lastCu, kind = 0;
        double fieldV = 1.0;
        for (int px = 0; px < width; ++px) {
            const double fa = (px + 0.5) * spansX / width;
            const int a0 = std::min(int(fa), spansX - 1);
            const double wa = fa - a0;
            const std::size_t k = std::size_t(b0) * std::size_t(nodesX) + std::size_t(a0);
            auto lerp = [&](const std::vector<float>& L) {
                const double top = L[k] + (L[k + 1] - L[k]) * wa;
                const double bot = L[k + nodesX] + (L[k + nodesX + 1] - L[k + nodesX]) * wa;
                return top + (bot - top) * wb;
            };
            const double h = lerp(heightL), shade = lerp(shadeL), moist = lerp(moistL);
            const double x = area.minX + (px + 0.5) / ppm;

            // Fields: strips along a rotated grid, each strip cut into parcels of its own length.
            const double u = x * ca + y * sa, v = -x * sa + y * ca;
            const double cuF = std::floor(u / fieldU);
            const int cu = int(cuF);
            if (cu != lastCu) {
                lastCu = cu;
                fieldV = 22.0 + 30.0 * (hash2(cu, 7, seed) / 4294967296.0);
                lastCv = std::numeric_limits<int>::min();
            }
            const double cvF = std::floor(v / fieldV);
            const int cv = int(cvF);
            if (cv != lastCv) {
                lastCv = cv;
                kind = int(hash2(cu, cv, seed ^ 0xf1e1du) % 8u);
            }
            const QColor& base = fields[kind];
            const double edge =
                std::min({u - cuF * fieldU, (cuF + 1) * fieldU - u, v - cvF * fieldV, (cvF + 1) * fieldV - v});
            double f = shade * (0.9 + 0.12 * moist);
            if (kind >= 3 && kind <= 6) f *= 1.0 + 0.05 * std::sin(u * (2.0 * kPi / 1.3));  // furrows
            if (edge < 0.8) f *= 0.78;                                                      // field margins
            // Higher ground is drier: pull toward a straw colour.
            const double dry = std::clamp((h - 40.0) / 25.0, 0.0, 0.6);
            const double grain =
                ((mix32(quint32(px) * 0x9e3779b1u ^ quint32(py) * 0x85ebca77u ^ grainSeed) & 0xff) / 255.0 - 0.5) *
                0.08;
            auto channel = [&](int c, int dryC) {
                return std::clamp(int((c + (dryC - c) * dry * 0.6) * (f + grain)), 0, 255);
            };
            row[px] = qRgb(channel(base.red(), 176), channel(base.green(), 160), channel(base.blue(), 108));
        }
    }

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // Roads: gravel shoulders, asphalt, dashed centre line, each layer for all roads before the
    // next so that crossings stay clean.
    std::vector<QPainterPath> roadPaths;
    for (const Road& road : terrain.roads()) {
        QPainterPath path;
        const double from = (road.eastWest ? area.minX : area.minY) - 10.0;
        const double to = (road.eastWest ? area.maxX : area.maxY) + 10.0;
        const int steps = std::max(24, std::max(width, height) / 8);
        bool near = false;
        for (int k = 0; k <= steps; ++k) {
            const double along = from + (to - from) * k / steps;
            const double across = road.centre(along);
            const double x = road.eastWest ? along : across, y = road.eastWest ? across : along;
            if (x > area.minX - 20 && x < area.maxX + 20 && y > area.minY - 20 && y < area.maxY + 20) near = true;
            if (k == 0)
                path.moveTo(toPixel(x, y));
            else
                path.lineTo(toPixel(x, y));
        }
        roadPaths.push_back(near ? path : QPainterPath());
    }
    p.setBrush(Qt::NoBrush);
    for (int layer = 0; layer < 3; ++layer) {
        for (std::size_t r = 0; r < roadPaths.size(); ++r) {
            if (roadPaths[r].isEmpty()) continue;
            const double w = terrain.roads()[r].width;
            if (layer == 0) {
                p.setPen(QPen(QColor(150, 138, 112), (w + 2.0) * ppm, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
            } else if (layer == 1) {
                p.setPen(QPen(QColor(86, 86, 90), w * ppm, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
            } else {
                QPen dash(QColor(228, 228, 220), std::max(0.6, 0.15 * ppm), Qt::CustomDashLine, Qt::FlatCap);
                dash.setDashPattern({20.0, 26.0});
                p.setPen(dash);
            }
            p.drawPath(roadPaths[r]);
        }
    }

    // Cells whose trees can reach into the picture, and every building that can matter to them
    // (one ring of cells further out) or cast a shadow into the picture.
    const int c0 = cellOf(area.minX - 6.0), c1 = cellOf(area.maxX + 6.0);
    const int r0 = cellOf(area.minY - 6.0), r1 = cellOf(area.maxY + 6.0);
    std::vector<const Building*> buildings;
    for (int r = r0 - 1; r <= r1 + 1; ++r)
        for (int c = c0 - 1; c <= c1 + 1; ++c)
            for (const Building* bd : terrain.tileBuildings(terrain.tileAt(c, r))) buildings.push_back(bd);

    static const QColor crowns[4] = {QColor(52, 84, 38), QColor(44, 72, 40), QColor(66, 94, 44), QColor(38, 66, 34)};
    for (int r = r0; r <= r1; ++r) {
        for (int c = c0; c <= c1; ++c) {
            for (const Tree& t : cellTrees(terrain, c, r, buildings)) {
                const double reach = t.r * 1.6 + 1.0;
                if (t.x < area.minX - reach || t.x > area.maxX + reach || t.y < area.minY - reach ||
                    t.y > area.maxY + reach)
                    continue;
                const QPointF centre = toPixel(t.x, t.y);
                const double rp = t.r * ppm;
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(0, 0, 0, 70));
                p.drawEllipse(centre + QPointF(rp * 0.55, rp * 0.55), rp, rp);
                QRadialGradient g(centre - QPointF(rp * 0.35, rp * 0.35), rp * 1.3);
                g.setColorAt(0.0, scaled(crowns[t.crown], 1.35));
                g.setColorAt(1.0, scaled(crowns[t.crown], 0.75));
                p.setBrush(g);
                p.drawEllipse(centre, rp, rp);
            }
        }
    }

    // Buildings: cast shadow to the south-east, then the roof.
    for (const Building* bd : buildings) {
        const Enve2d& fp = bd->footprint;
        if (fp.maxX < area.minX - 1 || fp.minX > area.maxX + 10 || fp.maxY < area.minY - 10 || fp.minY > area.maxY + 1)
            continue;
        const QRectF roof(toPixel(fp.minX, fp.maxY), toPixel(fp.maxX, fp.minY));
        const double rise = bd->roof - terrain.groundHeight(fp.center().x, fp.center().y);
        const double off = std::max(0.0, rise) * 0.45 * ppm;
        QPolygonF shadow;
        shadow << roof.topLeft() << roof.topRight() << roof.topRight() + QPointF(off, off)
               << roof.bottomRight() + QPointF(off, off) << roof.bottomLeft() + QPointF(off, off) << roof.bottomLeft();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 95));
        p.drawPolygon(shadow);

        const QColor c = bd->colour;
        const double line = std::max(1.0, 0.25 * ppm);
        if (bd->style == 2) {
            p.setBrush(scaled(c, 0.85));
            p.drawRect(roof);
            const double inset = 0.6 * ppm;
            p.setBrush(c);
            p.drawRect(roof.adjusted(inset, inset, -inset, -inset));
            // Plant boxes on the flat roof.
            SampleRng kit(seed, 0x4b49540000000000ull + quint64(bd - terrain.buildings().data()));
            const int count = 1 + kit.below(3);
            for (int n = 0; n < count; ++n) {
                const double bw = kit.range(1.2, 2.6) * ppm, bh = kit.range(1.0, 2.0) * ppm;
                const double bx = roof.left() + inset * 2 + kit.unit() * std::max(0.0, roof.width() - 4 * inset - bw);
                const double by = roof.top() + inset * 2 + kit.unit() * std::max(0.0, roof.height() - 4 * inset - bh);
                p.setBrush(QColor(0, 0, 0, 80));
                p.drawRect(QRectF(bx + 0.4 * ppm, by + 0.4 * ppm, bw, bh));
                p.setBrush(QColor(205, 205, 200));
                p.drawRect(QRectF(bx, by, bw, bh));
            }
        } else {
            QRectF lit = roof, dark = roof;
            if (bd->style == 0) {  // ridge runs east-west: the northern slope faces the light
                lit.setBottom(roof.center().y());
                dark.setTop(roof.center().y());
            } else {  // ridge runs north-south: the western slope faces the light
                lit.setRight(roof.center().x());
                dark.setLeft(roof.center().x());
            }
            p.setBrush(scaled(c, 1.12));
            p.drawRect(lit);
            p.setBrush(scaled(c, 0.78));
            p.drawRect(dark);
            p.setPen(QPen(scaled(c, 0.55), line));
            if (bd->style == 0)
                p.drawLine(QPointF(roof.left(), roof.center().y()), QPointF(roof.right(), roof.center().y()));
            else
                p.drawLine(QPointF(roof.center().x(), roof.top()), QPointF(roof.center().x(), roof.bottom()));
        }
        p.setPen(QPen(scaled(c, 0.5), line));
        p.setBrush(Qt::NoBrush);
        p.drawRect(roof);
    }

    if (labelTile >= 0) {
        const double labelH = std::max(7.0, height / 36.0);
        drawLabel(p, QStringLiteral("TILE %1").arg(labelTile, 3, 10, QLatin1Char('0')),
                  QPointF(labelH * 0.8, height - labelH * 1.8), labelH);
    }
    p.end();
    return image;
}

// ---- rendering -----------------------------------------------------------------------------------

// Tiles farther than this from the eye are left out of a photo: beyond them the photo shows sky.
constexpr double kViewDistance = 8 * kTileSize;
// Surfaces closer to the eye than this are cut away.
constexpr double kNearPlane = 0.05;

// What a photo sees of one tile: its vertices in world and camera coordinates and its texture.
struct SceneTile {
    int tile = 0;
    std::vector<XPnt3d> world;
    std::vector<XPnt3d> camera;
    QImage texture;  // RGB32
};

struct Scene {
    int quadsX = 1, quadsY = 1;
    std::vector<SceneTile> tiles;

    int trianglesPerTile() const { return 2 * quadsX * quadsY; }
    // Vertex indices of triangle `local` of a tile: the quads split as in the OBJ.
    void corners(int local, int (&v)[3]) const
    {
        const int q = local / 2, i = q % quadsX, j = q / quadsX;
        const int a = j * (quadsX + 1) + i, b = a + 1, c = a + quadsX + 2, d = a + quadsX + 1;
        v[0] = a;
        v[1] = local % 2 == 0 ? b : c;
        v[2] = local % 2 == 0 ? c : d;
    }
    QPointF texCoord(int v) const { return {double(v % (quadsX + 1)) / quadsX, double(v / (quadsX + 1)) / quadsY}; }
};

// The undistorted picture a photo is resampled from: canvas pixel (a, b) is centred on the
// undistorted photo position (a + 0.5 + ox, b + 0.5 + oy). Without distortion it is the photo.
struct Canvas {
    int width = 0, height = 0;
    double ox = 0, oy = 0;
    std::vector<float> invDepth;  // 1 / z_cam of the nearest surface, 0 where there is none
    std::vector<qint32> id;       // slot * trianglesPerTile + triangle, -1 where there is none
};

// Undistorted photo position of a photo position.
void undistortPixel(const PhotoCamera& cam, double px, double py, double* ux, double* uy)
{
    const double xd = (px - cam.cx) / cam.focal, yd = (py - cam.cy) / cam.focal;
    const double rd = std::hypot(xd, yd);
    if (rd == 0 || (cam.k1 == 0 && cam.k2 == 0)) {
        *ux = px, *uy = py;
        return;
    }
    const double scale = undistortRadius(rd, cam.k1, cam.k2) / rd;
    *ux = cam.cx + cam.focal * xd * scale;
    *uy = cam.cy + cam.focal * yd * scale;
}

// Sizes the canvas so that it covers every undistorted position of the photo.
void setUpCanvas(Canvas& c, const PhotoCamera& cam)
{
    const int W = cam.width, H = cam.height;
    if (cam.k1 == 0 && cam.k2 == 0) {
        c.width = W, c.height = H, c.ox = c.oy = 0;
        return;
    }
    double minX = 0, maxX = W, minY = 0, maxY = H;
    auto take = [&](double px, double py) {
        double x, y;
        undistortPixel(cam, px, py, &x, &y);
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    };
    const int steps = 512;
    for (int k = 0; k <= steps; ++k) {
        const double fx = double(W) * k / steps, fy = double(H) * k / steps;
        take(fx, 0), take(fx, H), take(0, fy), take(W, fy);
    }
    c.ox = std::floor(minX) - 2;
    c.oy = std::floor(minY) - 2;
    c.width = int(std::ceil(maxX) + 2 - c.ox);
    c.height = int(std::ceil(maxY) + 2 - c.oy);
}

struct ScreenVertex {
    double x, y, z;  // canvas position and camera depth
};

// An edge function evaluated the same way from both triangles that share the edge (from its
// lower endpoint), so that a pixel centre on a shared edge belongs to exactly one of them.
struct Edge {
    double px, py, dx, dy, sign;
    double value(double x, double y) const { return sign * (dx * (y - py) - dy * (x - px)); }
};

Edge makeEdge(const ScreenVertex& a, const ScreenVertex& b)
{
    const bool forward = a.x < b.x || (a.x == b.x && a.y < b.y);
    const ScreenVertex& p = forward ? a : b;
    const ScreenVertex& q = forward ? b : a;
    return {p.x, p.y, q.x - p.x, q.y - p.y, forward ? 1.0 : -1.0};
}

void rasterTriangle(Canvas& c, const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2, qint32 id)
{
    const double area = (v1.x - v0.x) * (v2.y - v0.y) - (v1.y - v0.y) * (v2.x - v0.x);
    if (!std::isfinite(area) || area == 0) return;
    const double g = area > 0 ? 1.0 : -1.0;
    const Edge e[3] = {makeEdge(v1, v2), makeEdge(v2, v0), makeEdge(v0, v1)};
    const bool ownsTie[3] = {g * e[0].sign > 0, g * e[1].sign > 0, g * e[2].sign > 0};
    const double minX = std::min({v0.x, v1.x, v2.x}), maxX = std::max({v0.x, v1.x, v2.x});
    const double minY = std::min({v0.y, v1.y, v2.y}), maxY = std::max({v0.y, v1.y, v2.y});
    const int a0 = int(std::clamp(std::ceil(minX - 0.5), 0.0, double(c.width)));
    const int a1 = int(std::clamp(std::floor(maxX - 0.5), -1.0, double(c.width - 1)));
    const int b0 = int(std::clamp(std::ceil(minY - 0.5), 0.0, double(c.height)));
    const int b1 = int(std::clamp(std::floor(maxY - 0.5), -1.0, double(c.height - 1)));
    if (a0 > a1 || b0 > b1) return;
    const double iz[3] = {1.0 / v0.z, 1.0 / v1.z, 1.0 / v2.z};
    const double invArea = 1.0 / std::abs(area);
    for (int b = b0; b <= b1; ++b) {
        const double y = b + 0.5;
        const std::size_t row = std::size_t(b) * std::size_t(c.width);
        for (int a = a0; a <= a1; ++a) {
            const double x = a + 0.5;
            double w[3];
            bool inside = true;
            for (int k = 0; k < 3 && inside; ++k) {
                w[k] = g * e[k].value(x, y);
                inside = w[k] > 0 || (w[k] == 0 && ownsTie[k]);
            }
            if (!inside) continue;
            const float depth = float((w[0] * iz[0] + w[1] * iz[1] + w[2] * iz[2]) * invArea);
            const std::size_t at = row + std::size_t(a);
            if (depth > c.invDepth[at]) {
                c.invDepth[at] = depth;
                c.id[at] = id;
            }
        }
    }
}

// Cuts a camera-space triangle at the near plane and rasterises what is left.
void rasterCameraTriangle(Canvas& c, const PhotoCamera& cam, const XPnt3d (&p)[3], qint32 id)
{
    XPnt3d poly[4];
    int n = 0;
    for (int k = 0; k < 3; ++k) {
        const XPnt3d& a = p[k];
        const XPnt3d& b = p[(k + 1) % 3];
        const bool inA = a.z >= kNearPlane, inB = b.z >= kNearPlane;
        if (inA) poly[n++] = a;
        if (inA != inB) poly[n++] = a + (b - a) * ((kNearPlane - a.z) / (b.z - a.z));
    }
    if (n < 3) return;
    ScreenVertex s[4];
    for (int k = 0; k < n; ++k)
        s[k] = {cam.focal * poly[k].x / poly[k].z + cam.cx - c.ox, cam.focal * poly[k].y / poly[k].z + cam.cy - c.oy,
                poly[k].z};
    for (int k = 1; k + 1 < n; ++k) rasterTriangle(c, s[0], s[k], s[k + 1], id);
}

// A triangle set up for rays from the eye: where the ray along `dir` (camera coordinates)
// meets its plane, as weights of its corners, clamped into the triangle.
struct RayTriangle {
    XPnt3d e1, e2, tv, qv;

    RayTriangle(const XPnt3d& a, const XPnt3d& b, const XPnt3d& c) : e1(b - a), e2(c - a), tv(-a), qv(tv.cross(e1)) {}

    void weights(const XPnt3d& dir, double (&w)[3]) const
    {
        const XPnt3d pv = dir.cross(e2);
        const double det = e1.dot(pv);
        double u = 1.0 / 3.0, v = 1.0 / 3.0;
        if (std::abs(det) > 1e-300) {
            u = tv.dot(pv) / det;
            v = dir.dot(qv) / det;
        }
        u = std::clamp(u, 0.0, 1.0);
        v = std::clamp(v, 0.0, 1.0);
        if (u + v > 1.0) {
            const double k = 1.0 / (u + v);
            u *= k, v *= k;
        }
        w[0] = 1.0 - u - v, w[1] = u, w[2] = v;
    }
};

// The pixels of an RGB32 picture, read without going through QImage for every sample.
struct Pixels {
    const uchar* bits = nullptr;
    qsizetype stride = 0;
    int width = 0, height = 0;

    Pixels() = default;
    explicit Pixels(const QImage& image)
        : bits(image.constBits()), stride(image.bytesPerLine()), width(image.width()), height(image.height())
    {
    }
    const QRgb* row(int y) const { return reinterpret_cast<const QRgb*>(bits + stride * y); }
};

// Bilinear sample at (x, y), pixel (i, j) being centred on (i, j); clamped to the picture.
inline QRgb bilinear(const Pixels& image, double x, double y)
{
    const int w = image.width, h = image.height;
    x = std::clamp(x, 0.0, w - 1.0);
    y = std::clamp(y, 0.0, h - 1.0);
    const int x0 = int(x), y0 = int(y);
    const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    const double fx = x - x0, fy = y - y0;
    const double w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w01 = (1 - fx) * fy, w11 = fx * fy;
    const QRgb* r0 = image.row(y0);
    const QRgb* r1 = image.row(y1);
    const QRgb p00 = r0[x0], p10 = r0[x1], p01 = r1[x0], p11 = r1[x1];
    int c[3];
    for (int k = 0; k < 3; ++k) {
        const int shift = 16 - 8 * k;
        const double v = w00 * ((p00 >> shift) & 0xff) + w10 * ((p10 >> shift) & 0xff) + w01 * ((p01 >> shift) & 0xff) +
                         w11 * ((p11 >> shift) & 0xff);
        c[k] = std::min(255, int(v + 0.5));
    }
    return qRgb(c[0], c[1], c[2]);
}

// Texture colour at texture position (s, t); texel (i, j) is centred on s = (i + 0.5) / width.
inline QRgb textureColour(const Pixels& texture, double s, double t)
{
    return bilinear(texture, s * texture.width - 0.5, (1.0 - t) * texture.height - 0.5);
}

// Sky along the camera-space ray (x, y, 1): deep blue overhead to a pale horizon; rays that
// miss the tiles below the horizon end in the same haze.
QRgb skyColour(const PhotoCamera& cam, double x, double y)
{
    const double wx = cam.R[0] * x + cam.R[3] * y + cam.R[6];
    const double wy = cam.R[1] * x + cam.R[4] * y + cam.R[7];
    const double wz = cam.R[2] * x + cam.R[5] * y + cam.R[8];
    const double up = wz / std::sqrt(wx * wx + wy * wy + wz * wz);
    const double k = up > 0 ? std::min(1.0, 1.4 * std::sqrt(up)) : 0.0;
    const double dim = up < 0 ? 1.0 + 0.25 * up : 1.0;
    auto ch = [&](double horizon, double zenith) {
        return std::clamp(int(std::floor((horizon + (zenith - horizon) * k) * dim + 0.5)), 0, 255);
    };
    return qRgb(ch(214, 86), ch(224, 132), ch(232, 196));
}

// The colour of every canvas pixel: the texture where a triangle covers its centre, sampled at
// the exact ray-triangle hit, else sky.
QImage shadeCanvas(const Canvas& c, const Scene& scene, const PhotoCamera& cam)
{
    QImage image(c.width, c.height, QImage::Format_RGB32);
    if (image.isNull()) return image;
    const int tpt = scene.trianglesPerTile();
    for (int b = 0; b < c.height; ++b) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(b));
        const double y = (b + 0.5 + c.oy - cam.cy) / cam.focal;
        qint32 lastId = -1;
        Pixels texture;
        RayTriangle tri{XPnt3d(), XPnt3d(), XPnt3d()};
        QPointF tc[3];
        for (int a = 0; a < c.width; ++a) {
            const double x = (a + 0.5 + c.ox - cam.cx) / cam.focal;
            const qint32 id = c.id[std::size_t(b) * std::size_t(c.width) + std::size_t(a)];
            if (id < 0) {
                row[a] = skyColour(cam, x, y);
                continue;
            }
            if (id != lastId) {
                // Neighbouring pixels mostly show the same triangle: set it up once.
                lastId = id;
                const SceneTile* tile = &scene.tiles[std::size_t(id / tpt)];
                texture = Pixels(tile->texture);
                int v[3];
                scene.corners(id % tpt, v);
                tri = RayTriangle(tile->camera[std::size_t(v[0])], tile->camera[std::size_t(v[1])],
                                  tile->camera[std::size_t(v[2])]);
                for (int k = 0; k < 3; ++k) tc[k] = scene.texCoord(v[k]);
            }
            double w[3];
            tri.weights(XPnt3d(x, y, 1.0), w);
            const QPointF st = tc[0] * w[0] + tc[1] * w[1] + tc[2] * w[2];
            row[a] = textureColour(texture, st.x(), st.y());
        }
    }
    return image;
}

// The photo through the lens: every photo pixel takes the canvas colour at its undistorted place.
QImage distortCanvas(const QImage& canvasImage, const Canvas& c, const PhotoCamera& cam)
{
    QImage photo(cam.width, cam.height, QImage::Format_RGB32);
    if (photo.isNull()) return photo;
    const Pixels source(canvasImage);
    for (int j = 0; j < cam.height; ++j) {
        QRgb* row = reinterpret_cast<QRgb*>(photo.scanLine(j));
        for (int i = 0; i < cam.width; ++i) {
            double x, y;
            undistortPixel(cam, i + 0.5, j + 0.5, &x, &y);
            row[i] = bilinear(source, x - c.ox - 0.5, y - c.oy - 0.5);
        }
    }
    return photo;
}

// What a camera adds: a slight blur, vignetting, this shot's exposure and white balance, and
// sensor noise; all drawn from the seed.
void applyPhotoEffects(QImage& photo, quint32 seed, int tile)
{
    SampleRng rng(seed, 0x45464600u + quint64(tile));
    const double exposure = rng.range(0.88, 1.12);
    const double gain[3] = {exposure * rng.range(0.93, 1.07), exposure, exposure * rng.range(0.93, 1.07)};
    const double vignette = rng.range(0.15, 0.3);
    const quint32 noiseSeed = rng.next();
    const int W = photo.width(), H = photo.height();
    if (W < 1 || H < 1) return;

    // The blur is a 3 x 3 binomial kernel: rows of horizontal sums (1 2 1) of the sharp picture,
    // three at a time, combined vertically (1 2 1).
    std::vector<int> sums(std::size_t(3) * std::size_t(W) * 3);
    auto horizontal = [&](int y, int* out) {
        const QRgb* row = reinterpret_cast<const QRgb*>(photo.constScanLine(y));
        for (int x = 0; x < W; ++x) {
            const QRgb l = row[std::max(0, x - 1)], m = row[x], r = row[std::min(W - 1, x + 1)];
            for (int k = 0; k < 3; ++k) {
                const int shift = 16 - 8 * k;
                out[3 * x + k] = int((l >> shift) & 0xff) + 2 * int((m >> shift) & 0xff) + int((r >> shift) & 0xff);
            }
        }
    };
    int* above = sums.data();
    int* here = above + 3 * W;
    int* below = here + 3 * W;
    horizontal(0, here);
    std::copy(here, here + 3 * W, above);
    const double cx = W * 0.5, cy = H * 0.5, norm = 1.0 / (cx * cx + cy * cy);
    for (int y = 0; y < H; ++y) {
        horizontal(std::min(H - 1, y + 1), below);  // the row below is read before row y is written
        QRgb* out = reinterpret_cast<QRgb*>(photo.scanLine(y));
        const double dy = y + 0.5 - cy;
        for (int x = 0; x < W; ++x) {
            const double dx = x + 0.5 - cx;
            const double fall = (1.0 - vignette * (dx * dx + dy * dy) * norm) / 16.0;
            const quint32 h1 = mix32(quint32(x) * 0x9e3779b1u ^ mix32(quint32(y) * 0x85ebca77u ^ noiseSeed));
            const quint32 h2 = mix32(h1 ^ 0x68e31da4u);
            const int noise[3] = {int(h1 & 0xff) + int((h1 >> 8) & 0xff) - 255,
                                  int((h1 >> 16) & 0xff) + int((h1 >> 24) & 0xff) - 255,
                                  int(h2 & 0xff) + int((h2 >> 8) & 0xff) - 255};
            int c[3];
            for (int k = 0; k < 3; ++k) {
                const int sum = above[3 * x + k] + 2 * here[3 * x + k] + below[3 * x + k];
                const double v = sum * gain[k] * fall + noise[k] * (4.0 / 255.0);
                c[k] = int(std::clamp(v, 0.0, 255.0) + 0.5);
            }
            out[x] = qRgb(c[0], c[1], c[2]);
        }
        std::swap(above, here);
        std::swap(here, below);
    }
}

// Area-averaged copy of a square texture, at most `size` pixels a side, for tiles seen from afar.
QImage reduceTexture(const QImage& src, int size)
{
    const int T = src.width();
    if (T <= size) return src;
    QImage out(size, size, QImage::Format_RGB32);
    if (out.isNull()) return out;
    for (int y = 0; y < size; ++y) {
        const int y0 = y * T / size, y1 = (y + 1) * T / size;
        QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < size; ++x) {
            const int x0 = x * T / size, x1 = (x + 1) * T / size;
            long sum[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy) {
                const QRgb* s = reinterpret_cast<const QRgb*>(src.constScanLine(sy));
                for (int sx = x0; sx < x1; ++sx) sum[0] += qRed(s[sx]), sum[1] += qGreen(s[sx]), sum[2] += qBlue(s[sx]);
            }
            const long n = long(y1 - y0) * long(x1 - x0);
            row[x] = qRgb(int((sum[0] + n / 2) / n), int((sum[1] + n / 2) / n), int((sum[2] + n / 2) / n));
        }
    }
    return out;
}

// ---- marks ---------------------------------------------------------------------------------------

struct Mark {
    QString kind;
    QPointF uv;       // as clicked
    QPointF uvExact;  // true projection
    XPnt3d point;
    QPointF st;
};

std::vector<Mark> makeMarks(const SampleTerrain& terrain, int tile, const Scene& scene, int ownSlot,
                            const Canvas& canvas, const PhotoCamera& cam, const SampleOptions& o, QString* error)
{
    SampleRng rng(terrain.seed(), 0x4d41524bu + quint64(tile));
    const int count = o.marks;
    std::vector<QString> kinds(std::size_t(count), QStringLiteral("point"));
    kinds[0] = QStringLiteral("track");
    kinds[1] = QStringLiteral("selected");
    kinds[2] = QStringLiteral("control");
    for (int k = count - 1; k > 0; --k) std::swap(kinds[std::size_t(k)], kinds[std::size_t(rng.below(k + 1))]);

    const double W = cam.width, H = cam.height;
    const double margin = 0.04;
    auto inFrame = [&](double px, double py) {
        return px > margin * W && px < (1 - margin) * W && py > margin * H && py < (1 - margin) * H;
    };
    std::vector<Mark> marks;
    std::vector<QPointF> placed;  // true pixel positions
    auto spaced = [&](double px, double py, double minDist) {
        for (const QPointF& q : placed)
            if (std::hypot(q.x() - px, q.y() - py) < minDist) return false;
        return true;
    };
    // Nothing nearer to the eye covers the point: the z-buffer at its pixel lies no closer than it.
    auto visible = [&](const XPnt3d& world) {
        const XPnt3d c = cam.toCamera(world);
        if (c.z < kNearPlane) return false;
        const double a = std::floor(cam.focal * c.x / c.z + cam.cx - canvas.ox);
        const double b = std::floor(cam.focal * c.y / c.z + cam.cy - canvas.oy);
        if (a < 0 || b < 0 || a >= canvas.width || b >= canvas.height) return false;
        const float iz = canvas.invDepth[std::size_t(b) * std::size_t(canvas.width) + std::size_t(a)];
        return iz <= 0 || c.z <= 1.0 / iz + 1e-3 * c.z + 0.05;
    };
    const int tpt = scene.trianglesPerTile();
    const SceneTile& own = scene.tiles[std::size_t(ownSlot)];
    const double spacing = 0.5 * std::sqrt(W * H / count);

    auto accept = [&](const QString& kind, const XPnt3d& point, const QPointF& st, double minDist) {
        double px, py;
        if (!cam.project(point, &px, &py) || !inFrame(px, py) || !spaced(px, py, minDist) || !visible(point))
            return false;
        // Click noise, drawn whatever sigma is so that the marks stay where they are.
        const double u1 = 1.0 - rng.unit(), u2 = rng.unit();
        const double r = o.markNoise * std::sqrt(-2.0 * std::log(u1));
        const double nx = r * std::cos(2.0 * kPi * u2), ny = r * std::sin(2.0 * kPi * u2);
        Mark m;
        m.kind = kind;
        m.uvExact = QPointF(px / W, 1.0 - py / H);
        m.uv = QPointF((px + nx) / W, 1.0 - (py + ny) / H);
        m.point = point;
        m.st = st;
        marks.push_back(m);
        placed.emplace_back(px, py);
        return true;
    };
    // The surface of the photo's own tile seen at a photo position, if any.
    auto tryPosition = [&](const QString& kind, double px, double py, double minDist) {
        double ux, uy;
        undistortPixel(cam, px, py, &ux, &uy);
        const double a = std::floor(ux - canvas.ox), b = std::floor(uy - canvas.oy);
        if (a < 0 || b < 0 || a >= canvas.width || b >= canvas.height) return false;
        const qint32 id = canvas.id[std::size_t(b) * std::size_t(canvas.width) + std::size_t(a)];
        if (id < 0 || id / tpt != ownSlot) return false;
        int v[3];
        scene.corners(id % tpt, v);
        double w[3];
        const XPnt3d dir((ux - cam.cx) / cam.focal, (uy - cam.cy) / cam.focal, 1.0);
        RayTriangle(own.camera[std::size_t(v[0])], own.camera[std::size_t(v[1])], own.camera[std::size_t(v[2])])
            .weights(dir, w);
        const XPnt3d point = own.world[std::size_t(v[0])] * w[0] + own.world[std::size_t(v[1])] * w[1] +
                             own.world[std::size_t(v[2])] * w[2];
        const QPointF st = scene.texCoord(v[0]) * w[0] + scene.texCoord(v[1]) * w[1] + scene.texCoord(v[2]) * w[2];
        return accept(kind, point, st, minDist);
    };

    // Candidate cells of a jittered grid over the photo, about two per mark, in random order.
    const int cols = std::max(2, int(std::lround(std::sqrt(2.0 * count * W / H))));
    const int rows = std::max(2, int(std::ceil(2.0 * count / cols)));
    std::vector<int> cells(std::size_t(cols * rows));
    for (int k = 0; k < cols * rows; ++k) cells[std::size_t(k)] = k;
    for (int k = cols * rows - 1; k > 0; --k) std::swap(cells[std::size_t(k)], cells[std::size_t(rng.below(k + 1))]);
    std::size_t nextCell = 0;
    const double innerW = W * (1 - 2 * margin), innerH = H * (1 - 2 * margin);

    const std::vector<const Building*> buildings = terrain.tileBuildings(tile);
    const Enve2d area = terrain.tileArea(tile);
    const double stepX = kTileSize / terrain.quadsX(), stepY = kTileSize / terrain.quadsY();
    for (const QString& kind : kinds) {
        bool done = false;
        // A control mark sits on a roof corner when one is in view: a spot that is easy to find
        // again in the photo and on the mesh.
        if (kind == QLatin1String("control") && !buildings.empty()) {
            const int firstBuilding = rng.below(int(buildings.size())), firstCorner = rng.below(4);
            for (int n = 0; n < int(buildings.size()) * 4 && !done; ++n) {
                const Building* bd = buildings[std::size_t((firstBuilding + n / 4) % int(buildings.size()))];
                const int corner = (firstCorner + n) % 4;
                const double x = corner & 1 ? bd->footprint.maxX : bd->footprint.minX;
                const double y = corner & 2 ? bd->footprint.maxY : bd->footprint.minY;
                const int i = int(std::lround((x - area.minX) / stepX)), j = int(std::lround((y - area.minY) / stepY));
                const int v = j * (terrain.quadsX() + 1) + i;
                done = accept(kind, own.world[std::size_t(v)], scene.texCoord(v), spacing * 0.5);
            }
        }
        while (!done && nextCell < cells.size()) {
            const int cell = cells[nextCell++];
            for (int attempt = 0; attempt < 8 && !done; ++attempt) {
                const double px = margin * W + innerW * ((cell % cols) + rng.unit()) / cols;
                const double py = margin * H + innerH * ((cell / cols) + rng.unit()) / rows;
                done = tryPosition(kind, px, py, spacing);
            }
        }
        for (int attempt = 0; attempt < 4000 && !done; ++attempt) {
            const double px = margin * W + innerW * rng.unit(), py = margin * H + innerH * rng.unit();
            done = tryPosition(kind, px, py, spacing * std::max(0.0, 1.0 - attempt / 2000.0));
        }
        if (!done) {
            *error = tr("photo %1 shows too little of its tile for %2 marks").arg(tile).arg(count);
            return {};
        }
    }
    return marks;
}

// ---- one tile ------------------------------------------------------------------------------------

// A tile's mesh and texture on disk, and what its neighbours' photos need of it.
struct TileOutput {
    bool done = false;
    QString error;
    Enve3d box;
    QImage reduced;  // small copy of the texture for photos that see the tile from afar
    QImage full;     // the texture, kept when all of them fit in memory
    qint64 bytes = 0;
};

constexpr int kReducedTexture = 128;

TileOutput makeTile(const SampleTerrain& terrain, int tile, const SampleOptions& o, const QDir& meshDir,
                    bool keepTexture)
{
    TileOutput out;
    const QString name = tileName(tile);

    MeshText mesh = buildObj(terrain, tile);
    out.box = mesh.box;
    const QString objPath = meshDir.filePath(name + QStringLiteral(".obj"));
    if (!writeBytes(objPath, mesh.obj.data(), qint64(mesh.obj.size()), &out.error)) return out;
    out.bytes += qint64(mesh.obj.size());
    mesh.obj = std::string();

    const QByteArray mtl = QStringLiteral(
                               "# material of terrain tile %1\nnewmtl %2\nKa 1.000000 1.000000 1.000000\n"
                               "Kd 1.000000 1.000000 1.000000\nKs 0.000000 0.000000 0.000000\n"
                               "illum 1\nmap_Kd %2.png\n")
                               .arg(tile)
                               .arg(name)
                               .toUtf8();
    if (!writeBytes(meshDir.filePath(name + QStringLiteral(".mtl")), mtl.constData(), mtl.size(), &out.error))
        return out;
    out.bytes += mtl.size();

    const QString texPath = meshDir.filePath(name + QStringLiteral(".png"));
    const QImage texture = renderGround(terrain, terrain.tileArea(tile), o.textureSize, o.textureSize, tile);
    if (texture.isNull()) {
        out.error = tr("not enough memory for a %1x%1 texture").arg(o.textureSize);
        return out;
    }
    if (!writeImage(texPath, texture, "png", -1, &out.error)) return out;
    out.bytes += QFileInfo(texPath).size();
    out.reduced = reduceTexture(texture, kReducedTexture);
    if (keepTexture) out.full = texture;
    out.done = true;
    return out;
}

// ---- one photo -----------------------------------------------------------------------------------

struct PhotoOutput {
    bool done = false;
    QString error;
    PhotoCamera camera;
    std::vector<Mark> marks;
    qint64 bytes = 0;
};

PhotoOutput makePhoto(const SampleTerrain& terrain, int tile, const SampleOptions& o,
                      const std::vector<TileOutput>& tiles, const QDir& meshDir, const QString& photoPath)
{
    PhotoOutput out;
    out.camera = photoCamera(terrain, tile, o);
    const PhotoCamera& cam = out.camera;
    Canvas canvas;
    setUpCanvas(canvas, cam);
    const std::size_t pixels = std::size_t(canvas.width) * std::size_t(canvas.height);
    canvas.invDepth.assign(pixels, 0.0f);
    canvas.id.assign(pixels, -1);

    // The tiles in view: a tile is left out when its box lies wholly outside one side of the
    // canvas's pyramid of sight, behind the near plane or beyond the view distance.
    Scene scene;
    scene.quadsX = terrain.quadsX();
    scene.quadsY = terrain.quadsY();
    int ownSlot = -1;
    const double left = cam.cx - canvas.ox, right = canvas.width - left;
    const double top = cam.cy - canvas.oy, bottom = canvas.height - top;
    for (int k = 0; k < terrain.tileCount(); ++k) {
        const Enve3d& box = tiles[std::size_t(k)].box;
        int out6[6] = {0, 0, 0, 0, 0, 0};
        for (int c = 0; c < 8; ++c) {
            const XPnt3d p = cam.toCamera(
                XPnt3d(c & 1 ? box.maxX : box.minX, c & 2 ? box.maxY : box.minY, c & 4 ? box.maxZ : box.minZ));
            out6[0] += p.z < kNearPlane;
            out6[1] += cam.focal * p.x + left * p.z < 0;
            out6[2] += right * p.z - cam.focal * p.x < 0;
            out6[3] += cam.focal * p.y + top * p.z < 0;
            out6[4] += bottom * p.z - cam.focal * p.y < 0;
        }
        const XPnt3d nearest(std::clamp(cam.eye.x, box.minX, box.maxX), std::clamp(cam.eye.y, box.minY, box.maxY),
                             std::clamp(cam.eye.z, box.minZ, box.maxZ));
        const double distance = nearest.dist(cam.eye);
        if (distance > kViewDistance || std::find(out6, out6 + 5, 8) != out6 + 5) continue;

        SceneTile st;
        st.tile = k;
        const int n = terrain.verticesPerTile();
        st.world.reserve(std::size_t(n));
        st.camera.reserve(std::size_t(n));
        for (int j = 0; j <= scene.quadsY; ++j)
            for (int i = 0; i <= scene.quadsX; ++i) {
                st.world.push_back(terrain.vertex(k, i, j));
                st.camera.push_back(cam.toCamera(st.world.back()));
            }
        // The full texture where the photo could show more than the small copy holds.
        const TileOutput& t = tiles[std::size_t(k)];
        const double across = cam.focal * kTileSize / std::max(1.0, distance);
        if (k != tile && across <= 1.5 * t.reduced.width()) {
            st.texture = t.reduced;
        } else if (!t.full.isNull()) {
            st.texture = t.full;
        } else {
            const QString path = meshDir.filePath(tileName(k) + QStringLiteral(".png"));
            st.texture = QImage(path).convertToFormat(QImage::Format_RGB32);
            if (st.texture.isNull()) {
                out.error = tr("cannot read %1").arg(QDir::toNativeSeparators(path));
                return out;
            }
        }
        if (k == tile) ownSlot = int(scene.tiles.size());
        scene.tiles.push_back(std::move(st));
    }
    if (ownSlot < 0) {
        out.error = tr("the camera of photo %1 does not see its tile").arg(tile);
        return out;
    }

    const int tpt = scene.trianglesPerTile();
    for (std::size_t slot = 0; slot < scene.tiles.size(); ++slot) {
        const SceneTile& st = scene.tiles[slot];
        for (int l = 0; l < tpt; ++l) {
            int v[3];
            scene.corners(l, v);
            const XPnt3d p[3] = {st.camera[std::size_t(v[0])], st.camera[std::size_t(v[1])],
                                 st.camera[std::size_t(v[2])]};
            rasterCameraTriangle(canvas, cam, p, qint32(slot) * tpt + l);
        }
    }
    QImage photo = shadeCanvas(canvas, scene, cam);
    if (!photo.isNull() && (cam.k1 != 0 || cam.k2 != 0)) photo = distortCanvas(photo, canvas, cam);
    if (photo.isNull()) {
        out.error = tr("not enough memory for a %1x%2 photo").arg(cam.width).arg(cam.height);
        return out;
    }
    if (o.photoEffects) applyPhotoEffects(photo, o.seed, tile);
    if (!writeImage(photoPath, photo, "jpeg", 85, &out.error)) return out;
    out.bytes += QFileInfo(photoPath).size();
    photo = QImage();

    out.marks = makeMarks(terrain, tile, scene, ownSlot, canvas, cam, o, &out.error);
    out.done = out.error.isEmpty();
    return out;
}

QJsonArray jsonArray(std::initializer_list<double> values)
{
    QJsonArray a;
    for (double v : values) a.append(v);
    return a;
}

// Runs job(0 .. n - 1) on up to `workers` threads and calls `finished` on the caller's thread
// after each job that ended well. A job that fails stops the jobs not yet started.
void runJobs(int n, int workers, const std::function<bool(int)>& job, const std::function<void(int)>& finished)
{
    std::atomic<int> nextJob{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable changed;
    int done = 0;
    int running = workers;
    auto work = [&]() {
        for (;;) {
            const int k = nextJob.fetch_add(1);
            if (k >= n || failed.load()) break;
            if (!job(k)) failed.store(true);
            std::lock_guard<std::mutex> lock(mutex);
            ++done;
            changed.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        changed.notify_all();
    };
    std::vector<std::thread> pool;
    for (int w = 0; w < workers; ++w) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            std::lock_guard<std::mutex> lock(mutex);
            running -= workers - w;
            break;
        }
    }
    if (pool.empty()) {  // no thread could be started: do the work here
        running = 1;
        work();
    }
    {
        int reported = 0;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return done != reported || running == 0; });
            const int now = done;
            const bool over = running == 0;
            lock.unlock();
            if (finished && now != reported && !failed.load()) finished(now);
            reported = now;
            lock.lock();
            if (over) break;
        }
    }
    for (std::thread& t : pool) t.join();
}

// Makes out[i] = make(i) for every piece on `workers` threads (runJobs). An allocation failure
// becomes that piece's error (outOfMemory(i)); a piece that ends neither done nor with an error
// is notWritten(i). Returns the error of the first piece that failed, empty when all are done.
template <class Output, class Make>
QString makeEach(std::vector<Output>& out, int workers, const Make& make,
                 const std::function<QString(int)>& outOfMemory, const std::function<QString(int)>& notWritten,
                 const std::function<void(int)>& finished)
{
    const int n = int(out.size());
    runJobs(
        n, workers,
        [&](int i) {
            Output o;
            try {
                o = make(i);
            } catch (const std::bad_alloc&) {
                o = Output();
                o.error = outOfMemory(i);
            }
            const bool ok = o.done;
            out[std::size_t(i)] = std::move(o);
            return ok;
        },
        finished);
    for (int i = 0; i < n; ++i) {
        const Output& o = out[std::size_t(i)];
        if (!o.error.isEmpty() || !o.done) return o.error.isEmpty() ? notWritten(i) : o.error;
    }
    return QString();
}

}  // namespace

// ---- the whole project ---------------------------------------------------------------------------

SampleResult generateSample(const SampleOptions& options, const SampleProgress& progress)
{
    SampleResult result;
    result.error = validateOptions(options);
    if (!result.error.isEmpty()) return result;
    if (!QImageWriter::supportedImageFormats().contains("jpeg") ||
        !QImageWriter::supportedImageFormats().contains("png")) {
        result.error = tr("this Qt installation cannot write PNG and JPEG images");
        return result;
    }

    const QFileInfo outInfo(options.outDir);
    const QString outPath = outInfo.absoluteFilePath();
    if (outInfo.exists() && !outInfo.isDir()) {
        result.error = tr("%1 exists and is not a folder").arg(QDir::toNativeSeparators(outPath));
        return result;
    }
    QDir out(outPath);
    for (const QString& sub : {QString(), QStringLiteral("meshes"), QStringLiteral("photos")}) {
        const QString path = sub.isEmpty() ? outPath : out.filePath(sub);
        const QFileInfo info(path);
        if ((info.exists() && !info.isDir()) || !QDir().mkpath(path)) {
            result.error = tr("cannot create the folder %1").arg(QDir::toNativeSeparators(path));
            return result;
        }
    }
    // An old manifest would describe files this run is about to replace: drop it first, so an
    // interrupted run never leaves a manifest that does not match the files beside it.
    const QString manifestPath = out.filePath(QStringLiteral("manifest.json"));
    if (QFileInfo::exists(manifestPath) && !QFile::remove(manifestPath)) {
        result.error = tr("cannot replace %1").arg(QDir::toNativeSeparators(manifestPath));
        return result;
    }

    const SampleTerrain terrain(options.tiles, options.trianglesTotal, options.seed);
    const QDir meshDir(out.filePath(QStringLiteral("meshes")));
    const QDir photoDir(out.filePath(QStringLiteral("photos")));
    const int n = options.tiles;
    const int cores = std::max(1, int(std::thread::hardware_concurrency()));
    const double textureBytes = 4.0 * options.textureSize * options.textureSize;

    // First every mesh and texture (each photo shows its neighbours too), on a few threads, as
    // many as the cores and the memory of one tile at a time allow.
    std::vector<TileOutput> tiles(static_cast<std::size_t>(n));
    {
        const bool keep = textureBytes * n <= 256e6;
        const double tileBytes =
            2.0 * textureBytes + 80.0 * terrain.verticesPerTile() + 40.0 * terrain.trianglesPerTile();
        const int workers = std::clamp(std::min(cores, int(1.5e9 / tileBytes)), 1, std::min(n, 8));
        result.error = makeEach(
            tiles, workers, [&](int tile) { return makeTile(terrain, tile, options, meshDir, keep); },
            [](int tile) { return tr("not enough memory for tile %1").arg(tile); },
            [](int tile) { return tr("tile %1 was not written").arg(tile); }, {});
        if (!result.error.isEmpty()) return result;
    }

    // Then the photos, one per tile.
    std::vector<PhotoOutput> photoOut(static_cast<std::size_t>(n));
    {
        const double photoPixels = double(options.photoSize.width()) * options.photoSize.height();
        const double canvasScale = options.k1 != 0 || options.k2 != 0 ? 2.6 : 1.0;
        const double photoBytes = photoPixels * (12.0 * canvasScale + 8.0) + 9.0 * textureBytes +
                                  100.0 * terrain.verticesPerTile() * std::min(n, 9);
        const int workers = std::clamp(std::min(cores, int(1.5e9 / photoBytes)), 1, std::min(n, 8));
        result.error = makeEach(
            photoOut, workers,
            [&](int tile) {
                return makePhoto(terrain, tile, options, tiles, meshDir, photoDir.filePath(photoName(tile)));
            },
            [](int tile) { return tr("not enough memory for photo %1").arg(tile); },
            [](int tile) { return tr("photo %1 was not written").arg(tile); },
            [&](int done) {
                if (progress) progress(done, n);
            });
        if (!result.error.isEmpty()) return result;
    }

    // The manifest, last: it only ever lists files that are complete on disk.
    QJsonArray meshes, photos;
    int nextId = 1;
    for (int tile = 0; tile < n; ++tile) {
        const TileOutput& t = tiles[std::size_t(tile)];
        const PhotoOutput& p = photoOut[std::size_t(tile)];
        const QString name = tileName(tile);
        QJsonObject m;
        m.insert(QStringLiteral("obj"), QStringLiteral("meshes/%1.obj").arg(name));
        m.insert(QStringLiteral("mtl"), QStringLiteral("meshes/%1.mtl").arg(name));
        m.insert(QStringLiteral("texture"), QStringLiteral("meshes/%1.png").arg(name));
        m.insert(QStringLiteral("label"), name);
        m.insert(QStringLiteral("triangles"), terrain.trianglesPerTile());
        m.insert(QStringLiteral("vertices"), terrain.verticesPerTile());
        m.insert(QStringLiteral("texIndices"), tile % 2 == 1);
        m.insert(QStringLiteral("box"),
                 jsonArray({t.box.minX, t.box.maxX, t.box.minY, t.box.maxY, t.box.minZ, t.box.maxZ}));
        meshes.append(m);

        QJsonArray marks;
        for (const Mark& mk : p.marks) {
            QJsonObject o;
            o.insert(QStringLiteral("id"), nextId++);
            o.insert(QStringLiteral("kind"), mk.kind);
            o.insert(QStringLiteral("uv"), jsonArray({mk.uv.x(), mk.uv.y()}));
            o.insert(QStringLiteral("uvExact"), jsonArray({mk.uvExact.x(), mk.uvExact.y()}));
            o.insert(QStringLiteral("point"), jsonArray({mk.point.x, mk.point.y, mk.point.z}));
            o.insert(QStringLiteral("uv2"), jsonArray({mk.st.x(), mk.st.y()}));
            marks.append(o);
        }
        const PhotoCamera& c = p.camera;
        QJsonObject camera;
        camera.insert(QStringLiteral("model"), QStringLiteral("pinhole"));
        camera.insert(QStringLiteral("K"),
                      QJsonArray({jsonArray({c.focal, 0, c.cx}), jsonArray({0, c.focal, c.cy}), jsonArray({0, 0, 1})}));
        camera.insert(QStringLiteral("distortion"), jsonArray({c.k1, c.k2}));
        QJsonArray rotation;
        for (double v : c.R) rotation.append(v);
        camera.insert(QStringLiteral("R"), rotation);
        camera.insert(QStringLiteral("t"), jsonArray({c.t[0], c.t[1], c.t[2]}));
        camera.insert(QStringLiteral("eye"), jsonArray({c.eye.x, c.eye.y, c.eye.z}));
        QJsonObject ph;
        ph.insert(QStringLiteral("path"), QStringLiteral("photos/%1").arg(photoName(tile)));
        ph.insert(QStringLiteral("mesh"), tile);
        ph.insert(QStringLiteral("width"), options.photoSize.width());
        ph.insert(QStringLiteral("height"), options.photoSize.height());
        ph.insert(QStringLiteral("camera"), camera);
        ph.insert(QStringLiteral("marks"), marks);
        photos.append(ph);

        result.meshFiles << meshDir.filePath(name + QStringLiteral(".obj"));
        result.otherFiles << meshDir.filePath(name + QStringLiteral(".mtl"))
                          << meshDir.filePath(name + QStringLiteral(".png"));
        result.photoFiles << photoDir.filePath(photoName(tile));
        result.marks += int(p.marks.size());
        result.bytesWritten += t.bytes + p.bytes;
    }
    QJsonObject conventions;
    conventions.insert(QStringLiteral("world"), QStringLiteral("metres; x east, y north, z up"));
    conventions.insert(QStringLiteral("camera"),
                       QStringLiteral("x_cam = R * X + t; the camera looks along +z_cam, x_cam right, y_cam down; "
                                      "eye = -R^T * t"));
    conventions.insert(QStringLiteral("projection"),
                       QStringLiteral("(x, y) = (x_cam / z_cam, y_cam / z_cam); d = 1 + k1 * r^2 + k2 * r^4, "
                                      "r^2 = x^2 + y^2; pixel = (f * x * d + cx, f * y * d + cy)"));
    conventions.insert(QStringLiteral("pixel"),
                       QStringLiteral("origin at the top-left corner of the photo, y down; pixel (i, j) covers "
                                      "[i, i + 1) x [j, j + 1)"));
    conventions.insert(QStringLiteral("uv"),
                       QStringLiteral("photo position (u, v) is pixel (u * width, (1 - v) * height)"));
    QJsonObject root;
    root.insert(QStringLiteral("format"), QStringLiteral("orv-sample"));
    root.insert(QStringLiteral("version"), 2);
    root.insert(QStringLiteral("seed"), double(options.seed));
    root.insert(QStringLiteral("tiles"), n);
    root.insert(QStringLiteral("triangles"), n * terrain.trianglesPerTile());
    root.insert(QStringLiteral("conventions"), conventions);
    root.insert(QStringLiteral("markNoise"), options.markNoise);
    root.insert(QStringLiteral("photoEffects"), options.photoEffects);
    root.insert(QStringLiteral("meshes"), meshes);
    root.insert(QStringLiteral("photos"), photos);
    const QByteArray json = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (!writeBytes(manifestPath, json.constData(), json.size(), &result.error)) return result;

    result.bytesWritten += json.size();
    result.manifestPath = manifestPath;
    result.triangles = n * terrain.trianglesPerTile();
    result.vertices = n * terrain.verticesPerTile();
    result.ok = true;
    return result;
}

}  // namespace orvsample
