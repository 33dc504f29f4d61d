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
#include <QLinearGradient>
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
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

namespace orvsample {

namespace {

constexpr double kPi = 3.14159265358979323846;

QString tr(const char* text) { return QCoreApplication::translate("orvsample", text); }

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
QString photoName(int tile) { return QStringLiteral("photo_%1.jpg").arg(tile, 3, 10, QLatin1Char('0')); }

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

// ---- photo geometry ----------------------------------------------------------------------------

PhotoView photoView(int index, quint32 seed, int textureSize, const QSize& photoSize)
{
    PhotoView view;
    SampleRng rng(seed, 0x50484f54u + quint64(index));
    const double W = photoSize.width(), H = photoSize.height(), T = textureSize;
    const double horizonY = H * rng.range(0.20, 0.32);
    const double roll = rng.range(-3.0, 3.0);
    const double farY = horizonY + H * rng.range(0.03, 0.07);
    const double farW = W * rng.range(0.40, 0.60), farCx = W * (0.5 + rng.range(-0.08, 0.08));
    const double nearY = H * rng.range(0.98, 1.03);
    const double nearW = W * rng.range(1.02, 1.25), nearCx = W * (0.5 + rng.range(-0.06, 0.06));
    view.tint = rng.range(-1.0, 1.0);
    view.brightness = rng.range(0.9, 1.1);

    QTransform rollT;
    rollT.translate(W * 0.5, H * 0.5);
    rollT.rotate(roll);
    rollT.translate(-W * 0.5, -H * 0.5);
    const QPolygonF dst =
        rollT.map(QPolygonF({QPointF(farCx - farW * 0.5, farY), QPointF(farCx + farW * 0.5, farY),
                             QPointF(nearCx + nearW * 0.5, nearY), QPointF(nearCx - nearW * 0.5, nearY)}));
    // Which edge of the tile faces away from the camera turns with the photo index.
    const QPointF corners[4] = {QPointF(0, 0), QPointF(T, 0), QPointF(T, T), QPointF(0, T)};
    QPolygonF src;
    view.farEdge = index % 4;
    for (int k = 0; k < 4; ++k) src << corners[(k + view.farEdge) % 4];
    view.valid = QTransform::quadToQuad(src, dst, view.textureToPhoto);
    view.horizonLeft = rollT.map(QPointF(-W * 0.5, horizonY));
    view.horizonRight = rollT.map(QPointF(W * 1.5, horizonY));
    return view;
}

QPointF photoUv(const PhotoView& view, double s, double t, int textureSize, const QSize& photoSize)
{
    const QPointF p = view.textureToPhoto.map(QPointF(s * textureSize, (1.0 - t) * textureSize));
    return {p.x() / photoSize.width(), 1.0 - p.y() / photoSize.height()};
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

// ---- photo -------------------------------------------------------------------------------------

// `surroundings` is a ground picture of the tile and the eight cells around it (the tile in the
// middle); it fills the ground beside and in front of the tile where the view allows.
QImage renderPhoto(const QImage& texture, const QImage& surroundings, const PhotoView& view, const QSize& size,
                   int index, quint32 seed)
{
    QImage photo(size, QImage::Format_RGB32);
    if (photo.isNull()) return photo;
    const double W = size.width(), H = size.height(), T = texture.width();
    QPainter p(&photo);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    const QPointF hl = view.horizonLeft, hr = view.horizonRight;
    QPointF along = hr - hl;
    along /= std::hypot(along.x(), along.y());
    const QPointF down(-along.y(), along.x());  // toward the ground
    const QPointF mid = (hl + hr) * 0.5;

    // Sky: deep blue overhead to a pale horizon.
    QLinearGradient sky(mid - down * (H * 0.45), mid);
    sky.setColorAt(0.0, QColor(86, 132, 196));
    sky.setColorAt(0.7, QColor(160, 190, 222));
    sky.setColorAt(1.0, QColor(214, 224, 232));
    p.fillRect(photo.rect(), sky);

    // Distant land: a hazy band with a soft ridge line of far hills.
    const double reach = W + H;
    QPainterPath land;
    SampleRng hills(seed, 0x48494c4cu + quint64(index));
    const quint32 hillSeed = hills.next();
    const int steps = 96;
    for (int k = 0; k <= steps; ++k) {
        const QPointF base = hl + (hr - hl) * (double(k) / steps);
        const double bump = H * (0.012 + 0.018 * (fractalNoise(k / 14.0, 0.5, hillSeed, 3) + 1.0) * 0.5);
        const QPointF pt = base - down * bump;
        if (k == 0)
            land.moveTo(pt);
        else
            land.lineTo(pt);
    }
    land.lineTo(hr + down * reach);
    land.lineTo(hl + down * reach);
    land.closeSubpath();
    QLinearGradient landG(mid - down * (H * 0.03), mid + down * (H * 0.12));
    landG.setColorAt(0.0, QColor(138, 152, 166));
    landG.setColorAt(0.35, QColor(120, 138, 104));
    landG.setColorAt(1.0, QColor(96, 118, 70));
    p.fillPath(land, landG);

    // The ground around the tile: as far to the sides as one tile and a little in front, cut
    // back where that would reach behind the camera.
    const QPointF corners[4] = {QPointF(0, 0), QPointF(T, 0), QPointF(T, T), QPointF(0, T)};
    QPointF src[4];
    for (int k = 0; k < 4; ++k) src[k] = corners[(k + view.farEdge) % 4];
    const QTransform& M = view.textureToPhoto;
    auto depth = [&](const QPointF& q) { return M.m13() * q.x() + M.m23() * q.y() + M.m33(); };
    double tileDepth = std::numeric_limits<double>::max();
    for (const QPointF& q : src) tileDepth = std::min(tileDepth, depth(q));
    const QPointF side = src[1] - src[0], ahead = src[3] - src[0];
    for (const double ext : {1.0, 0.6, 0.3}) {
        const QPointF ring[4] = {src[0] - side * ext, src[1] + side * ext, src[2] + side * ext + ahead * (ext * 0.5),
                                 src[3] - side * ext + ahead * (ext * 0.5)};
        bool safe = tileDepth > 0;
        for (const QPointF& q : ring) safe = safe && depth(q) > 0.2 * tileDepth;
        if (!safe) continue;
        QPainterPath clip;
        clip.addPolygon(M.map(QPolygonF({ring[0], ring[1], ring[2], ring[3], ring[0]})));
        p.save();
        p.setClipPath(clip);
        const double k = 3.0 * T / surroundings.width();
        p.setTransform(QTransform(k, 0, 0, k, -T, -T) * M);
        p.drawImage(QPointF(0, 0), surroundings);
        p.restore();
        break;
    }

    // The tile itself.
    p.save();
    p.setTransform(M);
    p.drawImage(QPointF(0, 0), texture);
    p.restore();

    // Aerial haze fading out toward the camera.
    QLinearGradient haze(mid, mid + down * (H * 0.32));
    haze.setColorAt(0.0, QColor(200, 212, 224, 120));
    haze.setColorAt(1.0, QColor(200, 212, 224, 0));
    QPainterPath below;
    below.moveTo(hl);
    below.lineTo(hr);
    below.lineTo(hr + down * reach);
    below.lineTo(hl + down * reach);
    below.closeSubpath();
    p.fillPath(below, haze);

    // White balance and exposure of this shot.
    p.setCompositionMode(QPainter::CompositionMode_Multiply);
    const double t = view.tint;
    const QColor tint =
        t >= 0 ? QColor(255, int(255 - 22 * t), int(255 - 44 * t)) : QColor(int(255 + 36 * t), int(255 + 18 * t), 255);
    p.fillRect(photo.rect(), tint);
    if (view.brightness < 1.0) {
        const int g = std::clamp(int(255 * view.brightness), 0, 255);
        p.fillRect(photo.rect(), QColor(g, g, g));
    } else if (view.brightness > 1.0) {
        p.setCompositionMode(QPainter::CompositionMode_Screen);
        const int g = std::clamp(int(255 * (view.brightness - 1.0) * 1.5), 0, 255);
        p.fillRect(photo.rect(), QColor(g, g, g));
    }

    // Lens vignette.
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QRadialGradient vignette(QPointF(W * 0.5, H * 0.5), std::hypot(W, H) * 0.5);
    vignette.setColorAt(0.0, QColor(0, 0, 0, 0));
    vignette.setColorAt(0.6, QColor(0, 0, 0, 0));
    vignette.setColorAt(1.0, QColor(0, 0, 0, 105));
    p.fillRect(photo.rect(), vignette);
    p.end();
    return photo;
}

// ---- marks ---------------------------------------------------------------------------------------

struct Mark {
    QString kind;
    QPointF uv;
    XPnt3d point;
    QPointF st;
};

std::vector<Mark> makeMarks(const SampleTerrain& terrain, int tile, const PhotoView& view, int textureSize,
                            const QSize& photoSize)
{
    SampleRng rng(terrain.seed(), 0x4d41524bu + quint64(tile));
    const int count = 5 + rng.below(4);
    std::vector<QString> kinds(std::size_t(count), QStringLiteral("point"));
    kinds[0] = QStringLiteral("track");
    kinds[1] = QStringLiteral("selected");
    kinds[2] = QStringLiteral("control");
    for (int k = count - 1; k > 0; --k) std::swap(kinds[std::size_t(k)], kinds[std::size_t(rng.below(k + 1))]);

    const double margin = 0.04;
    const double spacing = 0.06;
    auto inFrame = [&](const QPointF& uv) {
        return uv.x() > margin && uv.x() < 1 - margin && uv.y() > margin && uv.y() < 1 - margin;
    };
    std::vector<Mark> marks;
    auto spaced = [&](const QPointF& uv, double minDist) {
        for (const Mark& m : marks)
            if (std::hypot(m.uv.x() - uv.x(), m.uv.y() - uv.y()) < minDist) return false;
        return true;
    };
    const std::vector<const Building*> buildings = terrain.tileBuildings(tile);
    const Enve2d area = terrain.tileArea(tile);
    for (const QString& kind : kinds) {
        QPointF st(-1, -1), uv;
        // Control points sit on a roof corner when the tile has a building in view: a spot that
        // is easy to find again in the photo and on the mesh.
        if (kind == QLatin1String("control") && !buildings.empty()) {
            const Building* bd = buildings[std::size_t(rng.below(int(buildings.size())))];
            const int corner = rng.below(4);
            const double x = corner & 1 ? bd->footprint.maxX : bd->footprint.minX;
            const double y = corner & 2 ? bd->footprint.maxY : bd->footprint.minY;
            const QPointF cand((x - area.minX) / kTileSize, (y - area.minY) / kTileSize);
            const QPointF cuv = photoUv(view, cand.x(), cand.y(), textureSize, photoSize);
            if (inFrame(cuv) && spaced(cuv, spacing * 0.5)) st = cand, uv = cuv;
        }
        for (int attempt = 0; attempt < 400 && st.x() < 0; ++attempt) {
            const QPointF cand(rng.range(0.05, 0.95), rng.range(0.05, 0.95));
            const QPointF cuv = photoUv(view, cand.x(), cand.y(), textureSize, photoSize);
            if (inFrame(cuv) && spaced(cuv, attempt < 300 ? spacing : 0.0)) st = cand, uv = cuv;
        }
        if (st.x() < 0) {
            st = QPointF(0.5, 0.5);  // the middle of the tile is always in the middle of the frame
            uv = photoUv(view, st.x(), st.y(), textureSize, photoSize);
        }
        Mark m;
        m.kind = kind;
        m.st = st;
        m.uv = uv;
        m.point = terrain.surfacePoint(tile, st.x(), st.y());
        marks.push_back(m);
    }
    return marks;
}

// ---- one tile ----------------------------------------------------------------------------------

struct TileOutput {
    bool done = false;
    QString error;
    Enve3d box;
    std::vector<Mark> marks;
    qint64 bytes = 0;
};

TileOutput makeTile(const SampleTerrain& terrain, int tile, const SampleOptions& o, const QDir& meshDir,
                    const QDir& photoDir)
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
    const Enve2d area = terrain.tileArea(tile);
    const QImage texture = renderGround(terrain, area, o.textureSize, o.textureSize, tile);
    if (texture.isNull()) {
        out.error = tr("not enough memory for a %1x%1 texture").arg(o.textureSize);
        return out;
    }
    if (!writeImage(texPath, texture, "png", -1, &out.error)) return out;
    out.bytes += QFileInfo(texPath).size();

    const PhotoView view = photoView(tile, o.seed, o.textureSize, o.photoSize);
    if (!view.valid) {
        out.error = tr("the view of photo %1 cannot be set up").arg(tile);
        return out;
    }
    const QString photoPath = photoDir.filePath(photoName(tile));
    {
        const int around = 3 * std::clamp(o.textureSize / 2, 64, 320);
        const QImage surroundings = renderGround(
            terrain, Enve2d(area.minX - kTileSize, area.maxX + kTileSize, area.minY - kTileSize, area.maxY + kTileSize),
            around, around, -1);
        const QImage photo =
            surroundings.isNull() ? QImage() : renderPhoto(texture, surroundings, view, o.photoSize, tile, o.seed);
        if (photo.isNull()) {
            out.error = tr("not enough memory for a %1x%2 photo").arg(o.photoSize.width()).arg(o.photoSize.height());
            return out;
        }
        if (!writeImage(photoPath, photo, "jpeg", 85, &out.error)) return out;
    }
    out.bytes += QFileInfo(photoPath).size();
    out.marks = makeMarks(terrain, tile, view, o.textureSize, o.photoSize);
    out.done = true;
    return out;
}

QJsonArray jsonArray(std::initializer_list<double> values)
{
    QJsonArray a;
    for (double v : values) a.append(v);
    return a;
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

    // Tiles are independent of each other: render them on a few threads, as many as the cores
    // and the pixel memory of one tile at a time allow.
    const int n = options.tiles;
    std::vector<TileOutput> tiles(static_cast<std::size_t>(n));
    const double tileBytes = 4.0 * options.textureSize * options.textureSize +
                             4.0 * options.photoSize.width() * options.photoSize.height() +
                             80.0 * terrain.verticesPerTile() + 40.0 * terrain.trianglesPerTile();
    const int byMemory = std::max(1, int(1.5e9 / tileBytes));
    const int cores = std::max(1, int(std::thread::hardware_concurrency()));
    const int workers = std::clamp(std::min(cores, byMemory), 1, std::min(n, 8));

    std::atomic<int> nextTile{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable changed;
    int finished = 0;
    int running = workers;
    auto work = [&]() {
        for (;;) {
            const int tile = nextTile.fetch_add(1);
            if (tile >= n || failed.load()) break;
            TileOutput t;
            try {
                t = makeTile(terrain, tile, options, meshDir, photoDir);
            } catch (const std::bad_alloc&) {
                t = TileOutput();
                t.error = tr("not enough memory for tile %1").arg(tile);
            }
            if (!t.done) failed.store(true);
            std::lock_guard<std::mutex> lock(mutex);
            tiles[std::size_t(tile)] = std::move(t);
            ++finished;
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
        // This thread only reports progress, so the callback always runs on the caller's thread.
        int reported = 0;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return finished != reported || running == 0; });
            const int now = finished;
            const bool over = running == 0;
            lock.unlock();
            if (progress && now != reported && !failed.load()) progress(now, n);
            reported = now;
            lock.lock();
            if (over) break;
        }
    }
    for (std::thread& t : pool) t.join();

    for (int tile = 0; tile < n; ++tile) {
        if (!tiles[std::size_t(tile)].error.isEmpty()) {
            result.error = tiles[std::size_t(tile)].error;
            return result;
        }
    }
    for (int tile = 0; tile < n; ++tile) {
        if (!tiles[std::size_t(tile)].done) {
            result.error = tr("tile %1 was not written").arg(tile);
            return result;
        }
    }

    // The manifest, last: it only ever lists files that are complete on disk.
    QJsonArray meshes, photos;
    int nextId = 1;
    for (int tile = 0; tile < n; ++tile) {
        const TileOutput& t = tiles[std::size_t(tile)];
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
        for (const Mark& mk : t.marks) {
            QJsonObject o;
            o.insert(QStringLiteral("id"), nextId++);
            o.insert(QStringLiteral("kind"), mk.kind);
            o.insert(QStringLiteral("uv"), jsonArray({mk.uv.x(), mk.uv.y()}));
            o.insert(QStringLiteral("point"), jsonArray({mk.point.x, mk.point.y, mk.point.z}));
            o.insert(QStringLiteral("uv2"), jsonArray({mk.st.x(), mk.st.y()}));
            marks.append(o);
        }
        QJsonObject ph;
        ph.insert(QStringLiteral("path"), QStringLiteral("photos/%1").arg(photoName(tile)));
        ph.insert(QStringLiteral("mesh"), tile);
        ph.insert(QStringLiteral("width"), options.photoSize.width());
        ph.insert(QStringLiteral("height"), options.photoSize.height());
        ph.insert(QStringLiteral("marks"), marks);
        photos.append(ph);

        result.meshFiles << meshDir.filePath(name + QStringLiteral(".obj"));
        result.otherFiles << meshDir.filePath(name + QStringLiteral(".mtl"))
                          << meshDir.filePath(name + QStringLiteral(".png"));
        result.photoFiles << photoDir.filePath(photoName(tile));
        result.marks += int(t.marks.size());
        result.bytesWritten += t.bytes;
    }
    QJsonObject root;
    root.insert(QStringLiteral("format"), QStringLiteral("orv-sample"));
    root.insert(QStringLiteral("version"), 1);
    root.insert(QStringLiteral("seed"), double(options.seed));
    root.insert(QStringLiteral("tiles"), n);
    root.insert(QStringLiteral("triangles"), n * terrain.trianglesPerTile());
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
