// Sample project generator: the manifest against the files it lists, the meshes, textures and
// photos read back through the geometry library, continuity between tiles, the photos' cameras
// checked with this file's own projection code (marks, building corners in the render),
// determinism, the project step's unmapped photos, and refused options.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>
#include <set>
#include <tuple>
#include <vector>

#include "OrvKernel64t.h"
#include "SampleGenerator.h"
#include "SampleProject.h"
#include "TestSupport.h"
#include "ZimGeometry64t.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using orvsample::SampleOptions;
using orvsample::SampleResult;

SampleOptions smallOptions(const QString& dir, quint32 seed = 7)
{
    SampleOptions o;
    o.outDir = dir;
    o.tiles = 4;
    o.trianglesTotal = 2000;
    o.photoSize = QSize(320, 240);
    o.textureSize = 128;
    o.seed = seed;
    return o;
}

// A photo's camera as the manifest states it, projected here without the generator's code:
// x_cam = R * X + t, (x, y) = x_cam / z_cam, d = 1 + k1 r^2 + k2 r^4, pixel = (f x d + cx, f y d + cy).
struct Camera {
    double f = 0, cx = 0, cy = 0, k1 = 0, k2 = 0;
    double R[9] = {};
    double t[3] = {};
    XPnt3d eye;

    explicit Camera(const QJsonObject& c)
    {
        const QJsonArray K = c.value("K").toArray();
        f = K[0][0].toDouble(), cx = K[0][2].toDouble(), cy = K[1][2].toDouble();
        EXPECT_EQ(K[1][1].toDouble(), f);
        EXPECT_EQ(K[0][1].toDouble(), 0.0);
        EXPECT_EQ(K[2][2].toDouble(), 1.0);
        k1 = c.value("distortion")[0].toDouble(), k2 = c.value("distortion")[1].toDouble();
        for (int k = 0; k < 9; ++k) R[k] = c.value("R")[k].toDouble();
        for (int k = 0; k < 3; ++k) t[k] = c.value("t")[k].toDouble();
        const QJsonArray e = c.value("eye").toArray();
        eye = XPnt3d(e[0].toDouble(), e[1].toDouble(), e[2].toDouble());
    }
    XPnt3d toCamera(const XPnt3d& p) const
    {
        return {R[0] * p.x + R[1] * p.y + R[2] * p.z + t[0], R[3] * p.x + R[4] * p.y + R[5] * p.z + t[1],
                R[6] * p.x + R[7] * p.y + R[8] * p.z + t[2]};
    }
    QPointF project(const XPnt3d& p) const
    {
        const XPnt3d c = toCamera(p);
        const double x = c.x / c.z, y = c.y / c.z, r2 = x * x + y * y, d = 1 + k1 * r2 + k2 * r2 * r2;
        return {f * x * d + cx, f * y * d + cy};
    }
    // Camera-space direction of the ray through a photo position (fixed-point undistortion).
    XPnt3d ray(const QPointF& pixel) const
    {
        const double xd = (pixel.x() - cx) / f, yd = (pixel.y() - cy) / f;
        double x = xd, y = yd;
        for (int i = 0; i < 100; ++i) {
            const double r2 = x * x + y * y, d = 1 + k1 * r2 + k2 * r2 * r2;
            x = xd / d, y = yd / d;
        }
        return {x, y, 1.0};
    }
};

double correlation(const std::vector<double>& a, const std::vector<double>& b)
{
    double ma = 0, mb = 0, sab = 0, saa = 0, sbb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) ma += a[i] / a.size(), mb += b[i] / b.size();
    for (std::size_t i = 0; i < a.size(); ++i)
        sab += (a[i] - ma) * (b[i] - mb), saa += (a[i] - ma) * (a[i] - ma), sbb += (b[i] - mb) * (b[i] - mb);
    return sab / std::sqrt(saa * sbb);
}

// Photo pixel of a manifest position (u, v).
QPointF pixelOf(const QJsonValue& uv, int w, int h) { return {uv[0].toDouble() * w, (1.0 - uv[1].toDouble()) * h}; }

double luminance(QRgb c) { return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c); }

double bilinearLuminance(const QImage& image, double x, double y)
{
    x = std::clamp(x, 0.0, image.width() - 1.0), y = std::clamp(y, 0.0, image.height() - 1.0);
    const int x0 = int(x), y0 = int(y), x1 = std::min(x0 + 1, image.width() - 1),
              y1 = std::min(y0 + 1, image.height() - 1);
    const double fx = x - x0, fy = y - y0;
    const double top = luminance(image.pixel(x0, y0)) * (1 - fx) + luminance(image.pixel(x1, y0)) * fx;
    const double bottom = luminance(image.pixel(x0, y1)) * (1 - fx) + luminance(image.pixel(x1, y1)) * fx;
    return top * (1 - fy) + bottom * fy;
}

// The textured meshes of a sample, cast against rays of one camera: what a pixel should show.
struct RayScene {
    struct Tri {
        XPnt3d a, b, c;     // camera space
        XPnt2d ta, tb, tc;  // texture coordinates
        int mesh;
        double minX, maxX, minY, maxY;  // undistorted normalised bounds
    };
    std::vector<Tri> tris;
    std::vector<QImage> textures;

    RayScene(const std::vector<ref_ptr<IZimMesh>>& meshes, const std::vector<QImage>& tex, const Camera& cam)
        : textures(tex)
    {
        for (std::size_t m = 0; m < meshes.size(); ++m) {
            ref_ptr<Pnt3fArray> v = meshes[m]->meshVertexSource();
            ref_ptr<IntArray> tri = meshes[m]->meshTriangles(), ti = meshes[m]->meshTexIndices();
            for (int k = 0; k + 2 < tri->count(); k += 3) {
                Tri t;
                t.mesh = int(m);
                XPnt3d* corners[3] = {&t.a, &t.b, &t.c};
                XPnt2d* uvs[3] = {&t.ta, &t.tb, &t.tc};
                bool front = true;
                for (int c = 0; c < 3; ++c) {
                    *corners[c] = cam.toCamera(XPnt3d(v->at(tri->at(k + c))));
                    *uvs[c] = XPnt2d(meshes[m]->meshTexCoords()->at(ti ? ti->at(k + c) : tri->at(k + c)));
                    front = front && corners[c]->z > 0.1;
                }
                if (!front) continue;
                t.minX = std::min({t.a.x / t.a.z, t.b.x / t.b.z, t.c.x / t.c.z});
                t.maxX = std::max({t.a.x / t.a.z, t.b.x / t.b.z, t.c.x / t.c.z});
                t.minY = std::min({t.a.y / t.a.z, t.b.y / t.b.z, t.c.y / t.c.z});
                t.maxY = std::max({t.a.y / t.a.z, t.b.y / t.b.z, t.c.y / t.c.z});
                tris.push_back(t);
            }
        }
    }
    // Luminance of the texture the nearest triangle shows along the ray; NaN when none is hit.
    double look(const XPnt3d& d) const
    {
        double best = std::numeric_limits<double>::max(), lum = std::nan("");
        for (const Tri& t : tris) {
            if (d.x < t.minX || d.x > t.maxX || d.y < t.minY || d.y > t.maxY) continue;
            const XPnt3d e1 = t.b - t.a, e2 = t.c - t.a, p = d.cross(e2);
            const double det = e1.dot(p);
            if (std::abs(det) < 1e-12) continue;
            const XPnt3d s = -t.a;
            const double u = s.dot(p) / det, q = d.dot(s.cross(e1)) / det;
            if (u < 0 || q < 0 || u + q > 1) continue;
            const double dist = e2.dot(s.cross(e1)) / det;
            if (dist <= 0 || dist >= best) continue;
            best = dist;
            const XPnt2d st = t.ta * (1 - u - q) + t.tb * u + t.tc * q;
            const QImage& img = textures[std::size_t(t.mesh)];
            lum = bilinearLuminance(img, st.x * img.width() - 0.5, (1 - st.y) * img.height() - 0.5);
        }
        return lum;
    }
};

// Reads the meshes and textures of a written sample.
struct SampleFiles {
    QJsonObject manifest;
    QDir dir;
    std::vector<ref_ptr<IZimMesh>> meshes;
    std::vector<QImage> textures;

    explicit SampleFiles(const SampleResult& r) : dir(QFileInfo(r.manifestPath).dir())
    {
        manifest = QJsonDocument::fromJson(orvtest::readFile(r.manifestPath)).object();
        for (const QJsonValue& m : manifest.value("meshes").toArray()) {
            QString error;
            meshes.push_back(zim::loadObjMesh(dir.filePath(m["obj"].toString()), &error));
            EXPECT_TRUE(meshes.back()) << error.toStdString();
            textures.push_back(QImage(dir.filePath(m["texture"].toString())));
        }
    }
    QJsonObject photo(int i) const { return manifest.value("photos").toArray().at(i).toObject(); }
    QImage photoImage(int i) const { return QImage(dir.filePath(photo(i).value("path").toString())); }
};

// Every mark's point lies on its tile's mesh, where the mesh's texture coordinate is its uv2.
void expectOnMesh(const IZimMesh& m, const QJsonObject& mark)
{
    ref_ptr<Pnt3fArray> v = m.meshVertexSource();
    ref_ptr<IntArray> tri = m.meshTriangles(), ti = m.meshTexIndices();
    const QJsonArray pt = mark.value("point").toArray(), uv2 = mark.value("uv2").toArray();
    const XPnt2d at(pt[0].toDouble(), pt[1].toDouble());
    bool found = false;
    for (int f = 0; f < tri->count() / 3 && !found; ++f) {
        XPnt2d q[3], t[3];
        double z[3];
        for (int c = 0; c < 3; ++c) {
            const XPnt3f p = v->at(tri->at(3 * f + c));
            q[c] = XPnt2d(p.x, p.y), z[c] = p.z;
            t[c] = XPnt2d(m.meshTexCoords()->at(ti ? ti->at(3 * f + c) : tri->at(3 * f + c)));
        }
        const double area = cross(q[1] - q[0], q[2] - q[0]);
        const double b0 = cross(q[1] - at, q[2] - at) / area, b1 = cross(q[2] - at, q[0] - at) / area;
        if (b0 < -1e-6 || b1 < -1e-6 || 1 - b0 - b1 < -1e-6) continue;
        found = true;
        EXPECT_NEAR(pt[2].toDouble(), b0 * z[0] + b1 * z[1] + (1 - b0 - b1) * z[2], 1e-3) << "off the surface";
        const XPnt2d st = t[0] * b0 + t[1] * b1 + t[2] * (1 - b0 - b1);
        EXPECT_NEAR(st.x, uv2[0].toDouble(), 1e-4);
        EXPECT_NEAR(st.y, uv2[1].toDouble(), 1e-4);
    }
    EXPECT_TRUE(found) << "no triangle under the mark at " << at.x << ", " << at.y;
}

// One project shared by the read-only checks below.
class SampleProject : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<QTemporaryDir>();
        s_result = orvsample::generateSample(smallOptions(s_dir->filePath(QStringLiteral("project"))));
        s_manifest = QJsonDocument::fromJson(orvtest::readFile(s_result.manifestPath)).object();
    }
    static void TearDownTestSuite() { s_dir.reset(); }
    void SetUp() override { ASSERT_TRUE(s_result.ok) << s_result.error.toStdString(); }

    static QString file(const QString& rel) { return QFileInfo(s_result.manifestPath).dir().filePath(rel); }
    static QJsonObject mesh(int i) { return s_manifest.value("meshes").toArray().at(i).toObject(); }
    static QJsonObject photo(int i) { return s_manifest.value("photos").toArray().at(i).toObject(); }
    static ref_ptr<IZimMesh> loadMesh(int i)
    {
        QString error;
        ref_ptr<IZimMesh> m = zim::loadObjMesh(file(mesh(i).value("obj").toString()), &error);
        EXPECT_TRUE(m) << error.toStdString();
        return m;
    }

    static std::unique_ptr<QTemporaryDir> s_dir;
    static SampleResult s_result;
    static QJsonObject s_manifest;
};
std::unique_ptr<QTemporaryDir> SampleProject::s_dir;
SampleResult SampleProject::s_result;
QJsonObject SampleProject::s_manifest;

}  // namespace

TEST_F(SampleProject, ManifestDescribesEveryFileAndTheFilesLoadBackAsDescribed)
{
    EXPECT_EQ(s_manifest.value("format").toString(), "orv-sample");
    EXPECT_EQ(s_manifest.value("version").toInt(), 2);
    EXPECT_EQ(s_manifest.value("seed").toInt(), 7);
    EXPECT_EQ(s_manifest.value("tiles").toInt(), 4);
    EXPECT_EQ(s_manifest.value("markNoise").toDouble(), 0.5);
    EXPECT_TRUE(s_manifest.value("conventions").toObject().value("uv").toString().contains("(1 - v) * height"));
    ASSERT_EQ(s_manifest.value("meshes").toArray().size(), 4);
    ASSERT_EQ(s_manifest.value("photos").toArray().size(), 4);
    int triangles = 0;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject m = mesh(i), p = photo(i);
        const QString name = QStringLiteral("tile_%1").arg(i, 3, 10, QLatin1Char('0'));
        EXPECT_EQ(m.value("label").toString(), name);
        EXPECT_EQ(m.value("obj").toString(), "meshes/" + name + ".obj");
        EXPECT_EQ(p.value("path").toString(), "photos/" + name + ".jpg") << "a photo is named after its mesh";
        EXPECT_EQ(QFileInfo(file(m.value("obj").toString())).absoluteFilePath(), s_result.meshFiles.value(i));
        EXPECT_EQ(QFileInfo(file(p.value("path").toString())).absoluteFilePath(), s_result.photoFiles.value(i));
        EXPECT_EQ(p.value("mesh").toInt(), i);
        triangles += m.value("triangles").toInt();

        ref_ptr<IZimMesh> loaded = loadMesh(i);
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->meshTriangleCount(), m.value("triangles").toInt());
        EXPECT_EQ(loaded->meshVertexCount(), m.value("vertices").toInt());
        EXPECT_EQ(loaded->hasTexIndices(), i % 2 == 1) << "odd tiles carry separate texture indices";
        EXPECT_EQ(m.value("texIndices").toBool(), i % 2 == 1);
        QString label;
        loaded->meshLabel(label);
        EXPECT_EQ(label, name);
        Enve3d box;
        loaded->meshBox(box);
        const double got[6] = {box.minX, box.maxX, box.minY, box.maxY, box.minZ, box.maxZ};
        for (int k = 0; k < 6; ++k) EXPECT_NEAR(got[k], m.value("box").toArray().at(k).toDouble(), 1e-3) << k;
        EXPECT_GT(box.maxZ - box.minZ, 1.0) << "a flat tile is no terrain";
        ref_ptr<IZimImage> texture = loaded->meshTexture();
        ASSERT_TRUE(texture) << loaded->meshLastError().toStdString();
        EXPECT_EQ(QSize(texture->imageWidth(), texture->imageHeight()), QSize(128, 128));
        ref_ptr<IZimImage> shot = zim::loadZimImage(file(p.value("path").toString()));
        ASSERT_TRUE(shot);
        EXPECT_EQ(QSize(shot->imageWidth(), shot->imageHeight()), QSize(320, 240));
        EXPECT_EQ(QSize(p.value("width").toInt(), p.value("height").toInt()), QSize(320, 240));
    }
    EXPECT_EQ(s_manifest.value("triangles").toInt(), triangles);
    EXPECT_EQ(s_result.triangles, triangles);
    EXPECT_NEAR(triangles, 2000, 200) << "the grid should come close to the requested triangle count";
}

TEST_F(SampleProject, TextureCoordinatesFollowThePositionAndBordersAreShared)
{
    // Tiles 0 1 / 2 3 on a 2 x 2 grid, tile 0 at the south-west.
    std::set<std::tuple<float, float, float>> borders[4][4];  // [tile][west, east, south, north]
    for (int i = 0; i < 4; ++i) {
        ref_ptr<IZimMesh> m = loadMesh(i);
        ASSERT_TRUE(m);
        Enve3d box;
        m->meshBox(box);
        ref_ptr<Pnt3fArray> v = m->meshVertexSource();
        ref_ptr<IntArray> tri = m->meshTriangles(), ti = m->meshTexIndices();
        int bad = 0;
        for (int k = 0; k < tri->count(); ++k) {
            const XPnt3f p = v->at(tri->at(k));
            const XPnt2f t = m->meshTexCoords()->at(ti ? ti->at(k) : tri->at(k));
            bad += std::abs(t.x - (p.x - box.minX) / orvsample::kTileSize) > 1e-4 ||
                   std::abs(t.y - (p.y - box.minY) / orvsample::kTileSize) > 1e-4;
        }
        EXPECT_EQ(bad, 0) << "tile " << i << ": corners whose texture coordinate is not their place (s east, t north)";
        const double edges[4] = {box.minX, box.maxX, box.minY, box.maxY};
        for (const XPnt3f& p : *v)
            for (int e = 0; e < 4; ++e)
                if ((e < 2 ? p.x : p.y) == float(edges[e])) borders[i][e].insert({p.x, p.y, p.z});
    }
    EXPECT_GT(borders[0][1].size(), 2u);
    EXPECT_EQ(borders[0][1], borders[1][0]) << "east of tile 0 against west of tile 1";
    EXPECT_EQ(borders[0][3], borders[2][2]) << "north of tile 0 against south of tile 2";
}

// The cameras are plausible pinhole cameras aimed at their tiles, and every mark is the true
// projection of a visible point of its tile's mesh, clicked with the stated noise.
TEST_F(SampleProject, CamerasLookAtTheirTilesAndMarksAreProjectionsOfPointsOnTheMesh)
{
    const double sigma = s_manifest.value("markNoise").toDouble();
    QSet<int> ids;
    int moved = 0, total = 0;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject p = photo(i);
        const int W = p.value("width").toInt(), H = p.value("height").toInt();
        ASSERT_EQ(p.value("camera")["model"].toString(), "pinhole");
        const Camera cam(p.value("camera").toObject());
        EXPECT_TRUE(cam.f >= 0.7 * W && cam.f <= 1.3 * W) << cam.f;
        EXPECT_EQ(cam.cx, W / 2.0);
        EXPECT_EQ(cam.cy, H / 2.0);
        EXPECT_EQ(cam.k1, 0.0);
        EXPECT_EQ(cam.k2, 0.0);
        // R is a rotation and the eye is where R and t put it.
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const double d = cam.R[3 * r] * cam.R[3 * c] + cam.R[3 * r + 1] * cam.R[3 * c + 1] +
                                 cam.R[3 * r + 2] * cam.R[3 * c + 2];
                EXPECT_NEAR(d, r == c ? 1.0 : 0.0, 1e-9);
            }
        EXPECT_NEAR(cam.toCamera(cam.eye).length(), 0.0, 1e-6);
        // It looks down at its tile 20 to 60 degrees off vertical, from a believable distance.
        const double offVertical = std::acos(-cam.R[8]) * 180.0 / M_PI;
        EXPECT_TRUE(offVertical >= 20 - 1e-6 && offVertical <= 60 + 1e-6) << offVertical;
        const QJsonArray box = mesh(i).value("box").toArray();
        const XPnt3d centre((box[0].toDouble() + box[1].toDouble()) / 2, (box[2].toDouble() + box[3].toDouble()) / 2,
                            (box[4].toDouble() + box[5].toDouble()) / 2);
        const QPointF c = cam.project(centre);
        EXPECT_TRUE(c.x() > 0.25 * W && c.x() < 0.75 * W && c.y() > 0.25 * H && c.y() < 0.75 * H)
            << c.x() << ", " << c.y();
        EXPECT_TRUE(cam.eye.dist(centre) > 50 && cam.eye.dist(centre) < 250) << cam.eye.dist(centre);

        const QJsonArray marks = p.value("marks").toArray();
        EXPECT_EQ(marks.size(), 12);
        ref_ptr<IZimMesh> m = loadMesh(i);
        ASSERT_TRUE(m);
        std::multiset<QString> kinds;
        Enve2d spread;
        for (const QJsonValue& value : marks) {
            const QJsonObject mark = value.toObject();
            const int id = mark.value("id").toInt();
            EXPECT_TRUE(id > 0 && !ids.contains(id)) << "id " << id;
            ids.insert(id);
            kinds.insert(mark.value("kind").toString());
            const QJsonArray pt = mark.value("point").toArray();
            const XPnt3d point(pt[0].toDouble(), pt[1].toDouble(), pt[2].toDouble());
            const QPointF projected = cam.project(point);
            const QPointF exact = pixelOf(mark.value("uvExact"), W, H), clicked = pixelOf(mark.value("uv"), W, H);
            EXPECT_NEAR(exact.x(), projected.x(), 1e-6);
            EXPECT_NEAR(exact.y(), projected.y(), 1e-6);
            const double miss = std::hypot(clicked.x() - projected.x(), clicked.y() - projected.y());
            EXPECT_LT(miss, 5 * sigma) << "further off than the click noise allows";
            moved += miss > 1e-9;
            ++total;
            EXPECT_TRUE(exact.x() > 0 && exact.x() < W && exact.y() > 0 && exact.y() < H);
            spread.expand(exact.x(), exact.y());
            expectOnMesh(*m, mark);
        }
        EXPECT_EQ((std::vector<std::size_t>{kinds.count("track"), kinds.count("selected"), kinds.count("control")}),
                  (std::vector<std::size_t>{1, 1, 1}));
        EXPECT_EQ(kinds.count("point"), std::size_t(marks.size() - 3));
        EXPECT_GT(spread.width(), 0.4 * W) << "marks bunched together";
        EXPECT_GT(spread.height(), 0.3 * H) << "marks bunched together";
    }
    EXPECT_EQ(moved, total) << "every click carries some noise";
}

namespace {

// The photos of a sample, rendered exactly, against what this test's own ray casting through the
// manifest camera says each pixel shows: around every roof corner in view, the photo matches
// the textures best with no shift, and at least to within a pixel.
void expectRoofCornersWhereTheCameraPutsThem(const SampleOptions& o, const SampleResult& r)
{
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    const SampleFiles files(r);
    const orvsample::SampleTerrain terrain(o.tiles, o.trianglesTotal, o.seed);
    int checked = 0;
    for (int i = 0; i < o.tiles; ++i) {
        SCOPED_TRACE(i);
        const QImage shot = files.photoImage(i);
        ASSERT_EQ(shot.size(), o.photoSize);
        const Camera cam(files.photo(i).value("camera").toObject());
        const RayScene scene(files.meshes, files.textures, cam);
        for (const orvsample::Building* bd : terrain.tileBuildings(i)) {
            for (int corner = 0; corner < 4; ++corner) {
                // The roof corner is a vertex of the mesh: take its height from the OBJ.
                const double x = corner & 1 ? bd->footprint.maxX : bd->footprint.minX;
                const double y = corner & 2 ? bd->footprint.maxY : bd->footprint.minY;
                double z = std::nan("");
                for (const XPnt3f& v : *files.meshes[std::size_t(i)]->meshVertexSource())
                    if (std::abs(v.x - x) < 1e-3 && std::abs(v.y - y) < 1e-3) z = v.z;
                ASSERT_FALSE(std::isnan(z));
                const QPointF c = cam.project(XPnt3d(x, y, z));
                if (c.x() < 12 || c.y() < 12 || c.x() > shot.width() - 12 || c.y() > shot.height() - 12) continue;

                // Expected luminance on a half-pixel grid around the corner, +-7 pixels.
                const int ci = int(c.x()), cj = int(c.y());
                const int n = 29;
                std::vector<double> expected(n * n);
                for (int b = 0; b < n; ++b)
                    for (int a = 0; a < n; ++a)
                        expected[std::size_t(b * n + a)] =
                            scene.look(cam.ray(QPointF(ci + 0.5 - 7 + 0.5 * a, cj + 0.5 - 7 + 0.5 * b)));
                // Mean difference to the photo's pixels within 4 pixels of the corner that show a
                // mesh, for shifts of the expected picture by -3 .. 3 pixels in half pixels; a
                // shift that moves a pixel onto the sky counts it as wholly different.
                double best = std::numeric_limits<double>::max(), worst = 0;
                int bestX = 0, bestY = 0;
                for (int sy = -6; sy <= 6; ++sy)
                    for (int sx = -6; sx <= 6; ++sx) {
                        double sum = 0;
                        int count = 0;
                        for (int dj = -4; dj <= 4; ++dj)
                            for (int di = -4; di <= 4; ++di) {
                                if (std::isnan(expected[std::size_t((14 + 2 * dj) * n + (14 + 2 * di))])) continue;
                                const double e = expected[std::size_t((14 + 2 * dj + sy) * n + (14 + 2 * di + sx))];
                                sum += std::isnan(e) ? 255.0 : std::abs(luminance(shot.pixel(ci + di, cj + dj)) - e);
                                ++count;
                            }
                        if (count < 40) break;
                        const double score = sum / count;
                        if (score < best) best = score, bestX = sx, bestY = sy;
                        worst = std::max(worst, score);
                    }
                if (worst - best < 6) continue;  // too little contrast around this corner to tell
                ++checked;
                EXPECT_LE(std::abs(bestX), 2) << "corner " << x << ", " << y << " is off by " << bestX * 0.5 << " px";
                EXPECT_LE(std::abs(bestY), 2) << "corner " << x << ", " << y << " is off by " << bestY * 0.5 << " px";
                EXPECT_LT(best, 12) << "the photo does not show the textures there";
            }
        }
    }
    EXPECT_GE(checked, 4) << "too few roof corners in view to check the render";
}

SampleOptions renderOptions(const QString& dir)
{
    SampleOptions o = smallOptions(dir, 11);
    o.trianglesTotal = 8000;
    o.photoSize = QSize(640, 480);
    o.textureSize = 256;
    o.photoEffects = false;
    return o;
}

}  // namespace

TEST(SampleRender, RoofCornersLandOnTheRoofEdgesOfTheExactRender)
{
    QTemporaryDir dir;
    const SampleOptions o = renderOptions(dir.filePath("plain"));
    expectRoofCornersWhereTheCameraPutsThem(o, orvsample::generateSample(o));
}

TEST(SampleRender, AnOffsetPrincipalPointAndLensDistortionAreRenderedAsTheManifestStates)
{
    QTemporaryDir dir;
    SampleOptions o = renderOptions(dir.filePath("lens"));
    o.ppOffset = 0.08;
    o.k1 = -0.12;
    o.k2 = 0.03;
    o.markNoise = 0;
    o.marks = 20;
    const SampleResult r = orvsample::generateSample(o);
    expectRoofCornersWhereTheCameraPutsThem(o, r);

    // The manifest states that lens, and exact marks are exact projections through it.
    const SampleFiles files(r);
    for (int i = 0; i < o.tiles; ++i) {
        const QJsonObject p = files.photo(i);
        const Camera cam(p.value("camera").toObject());
        EXPECT_EQ(cam.k1, -0.12);
        EXPECT_EQ(cam.k2, 0.03);
        EXPECT_NEAR(std::hypot(cam.cx / 640 - 0.5, cam.cy / 480 - 0.5), 0.08, 0.08 * 0.45);
        const QJsonArray marks = p.value("marks").toArray();
        EXPECT_EQ(marks.size(), 20);
        for (const QJsonValue& v : marks) {
            const QJsonArray pt = v["point"].toArray();
            const QPointF projected = cam.project(XPnt3d(pt[0].toDouble(), pt[1].toDouble(), pt[2].toDouble()));
            const QPointF clicked = pixelOf(v["uv"], 640, 480);
            EXPECT_NEAR(clicked.x(), projected.x(), 1e-6);
            EXPECT_NEAR(clicked.y(), projected.y(), 1e-6);
            EXPECT_EQ(v["uv"], v["uvExact"]);
            expectOnMesh(*files.meshes[std::size_t(i)], v.toObject());
        }
    }
}

TEST(SampleRender, PhotoEffectsChangeTheColoursButNotTheGeometry)
{
    QTemporaryDir dir;
    SampleOptions o = renderOptions(dir.filePath("exact"));
    o.tiles = 1;
    o.trianglesTotal = 2000;
    const SampleResult exact = orvsample::generateSample(o);
    o.outDir = dir.filePath("effects");
    o.photoEffects = true;
    const SampleResult effects = orvsample::generateSample(o);
    ASSERT_TRUE(exact.ok && effects.ok);
    const QImage a(exact.photoFiles[0]), b(effects.photoFiles[0]);
    ASSERT_EQ(a.size(), b.size());
    // Same picture (luminance follows), other colours: gains, vignetting and noise leave many
    // pixels well away from the exact render, the corners darker than the middle.
    std::vector<double> la, lb;
    int differ = 0;
    for (int y = 0; y < a.height(); y += 3)
        for (int x = 0; x < a.width(); x += 3) {
            la.push_back(luminance(a.pixel(x, y)));
            lb.push_back(luminance(b.pixel(x, y)));
            differ += std::abs(la.back() - lb.back()) > 3;
        }
    EXPECT_GT(correlation(la, lb), 0.9);
    EXPECT_GT(differ, int(la.size()) / 4);
    auto ratio = [&](int x, int y) {
        double sa = 0, sb = 0;
        for (int dy = 0; dy < 16; ++dy)
            for (int dx = 0; dx < 16; ++dx)
                sa += luminance(a.pixel(x + dx, y + dy)), sb += luminance(b.pixel(x + dx, y + dy));
        return sb / sa;
    };
    EXPECT_LT(ratio(0, 0), ratio(312, 232) * 0.95) << "no vignetting";
    const SampleFiles ef(effects), ex(exact);
    EXPECT_EQ(ef.photo(0).value("camera"), ex.photo(0).value("camera"));
    EXPECT_TRUE(ef.manifest.value("photoEffects").toBool());
    EXPECT_FALSE(ex.manifest.value("photoEffects").toBool());
}

TEST(SampleGeneration, SameSeedGivesIdenticalFilesAndAnotherSeedOtherHeights)
{
    QTemporaryDir dir;
    const QString a = dir.filePath("a"), b = dir.filePath("b"), c = dir.filePath("c");
    SampleOptions o = smallOptions(a, 3);
    o.tiles = 2;
    ASSERT_TRUE(orvsample::generateSample(o).ok);
    o.outDir = b;
    ASSERT_TRUE(orvsample::generateSample(o).ok);
    o.outDir = c;
    o.seed = 4;
    ASSERT_TRUE(orvsample::generateSample(o).ok);
    for (const char* rel : {"manifest.json", "meshes/tile_000.obj", "meshes/tile_001.obj", "meshes/tile_000.png",
                            "meshes/tile_001.png", "photos/tile_000.jpg", "photos/tile_001.jpg"}) {
        const QByteArray first = orvtest::readFile(QDir(a).filePath(rel));
        EXPECT_FALSE(first.isEmpty()) << rel;
        EXPECT_TRUE(first == orvtest::readFile(QDir(b).filePath(rel))) << rel << " differs between two runs";
    }
    EXPECT_FALSE(orvtest::readFile(QDir(a).filePath("photos/tile_000.jpg")) ==
                 orvtest::readFile(QDir(c).filePath("photos/tile_000.jpg")))
        << "another seed, another photo";
    ref_ptr<IZimMesh> m3 = zim::loadObjMesh(QDir(a).filePath("meshes/tile_000.obj"));
    ref_ptr<IZimMesh> m4 = zim::loadObjMesh(QDir(c).filePath("meshes/tile_000.obj"));
    ASSERT_TRUE(m3 && m4);
    ASSERT_EQ(m3->meshVertexCount(), m4->meshVertexCount());
    int differ = 0;
    for (int k = 0; k < m3->meshVertexCount(); ++k) {
        const XPnt3f p = m3->meshVertexSource()->at(k), q = m4->meshVertexSource()->at(k);
        EXPECT_TRUE(p.x == q.x && p.y == q.y) << "vertex " << k;
        differ += std::abs(p.z - q.z) > 1e-3;
    }
    EXPECT_GT(differ, m3->meshVertexCount() * 9 / 10);
}

TEST(SampleGeneration, BadOptionsAreRefusedWithAMessageNamingTheProblem)
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    const std::vector<std::pair<void (*)(SampleOptions&), QString>> cases = {
        {[](SampleOptions& o) { o.tiles = 0; }, "tiles"},
        {[](SampleOptions& o) { o.tiles = 5000; }, "tiles"},
        {[](SampleOptions& o) { o.photoSize = QSize(0, 0); }, "photo size"},
        {[](SampleOptions& o) { o.photoSize = QSize(320, 30000); }, "photo size"},
        {[](SampleOptions& o) { o.textureSize = 16; }, "texture size"},
        {[](SampleOptions& o) { o.trianglesTotal = 10; }, "triangles"},
        {[](SampleOptions& o) { o.marks = 5; }, "marks"},
        {[](SampleOptions& o) { o.markNoise = -1; }, "mark noise"},
        {[](SampleOptions& o) { o.ppOffset = 0.5; }, "principal point"},
        {[](SampleOptions& o) { o.k1 = 2; }, "distortion"},
        {[](SampleOptions& o) { o.k1 = -0.9; }, "too strong"},
        {[](SampleOptions& o) { o.outDir.clear(); }, "folder"}};
    for (const auto& c : cases) {
        SampleOptions o = smallOptions(out);
        c.first(o);
        const SampleResult r = orvsample::generateSample(o);
        EXPECT_FALSE(r.ok || !r.manifestPath.isEmpty()) << c.second.toStdString();
        EXPECT_TRUE(r.error.contains(c.second)) << r.error.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(out)) << "refused options must not write anything";

    // A folder that cannot be created because a regular file is in the way.
    const QString blocker = dir.filePath("blocker");
    ASSERT_TRUE(orvtest::writeFile(blocker, "not a folder"));
    for (const QString& target : {blocker, QDir(blocker).filePath("sub")}) {
        const SampleResult r = orvsample::generateSample(smallOptions(target));
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.error.contains(QDir::toNativeSeparators(QFileInfo(target).absoluteFilePath())))
            << r.error.toStdString();
    }
    EXPECT_EQ(orvtest::readFile(blocker), QByteArray("not a folder"));
}

// The project step maps every photo unless told to leave the last ones for a user; their marks
// are in the project all the same.
TEST(SampleGeneration, UnmappedPhotosAreTheLastOnesAndKeepTheirMarks)
{
    QTemporaryDir dir;
    SampleOptions o = smallOptions(dir.filePath("s"), 5);
    o.tiles = 3;
    o.trianglesTotal = 600;
    o.photoSize = QSize(160, 120);
    o.textureSize = 64;
    const SampleResult r = orvsample::generateSample(o);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    ref_ptr<IZimMM> mm = zim::getMM();
    for (int unmapped : {0, 2}) {
        SCOPED_TRACE(unmapped);
        const QString path = dir.filePath(QStringLiteral("p%1.orvproj").arg(unmapped));
        const orvsample::ProjectSummary s = orvsample::buildSampleProject(r.manifestPath, path, unmapped);
        ASSERT_TRUE(s.ok) << s.error.toStdString();
        EXPECT_EQ(s.images, 3);
        EXPECT_EQ(s.mapped, 3 - unmapped);
        EXPECT_EQ(s.marks, r.marks);
        ASSERT_EQ(mm->openProject(path, nullptr), 0) << mm->lastError().toStdString();
        for (int i = 0; i < 3; ++i) EXPECT_EQ(mm->isImageMapped(i), i < 3 - unmapped) << i;
        mm->closeProject();
    }
    const orvsample::ProjectSummary tooMany =
        orvsample::buildSampleProject(r.manifestPath, dir.filePath(QStringLiteral("x.orvproj")), 4);
    EXPECT_FALSE(tooMany.ok);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("x.orvproj"))));
}
