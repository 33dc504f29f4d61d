// Sample project generator: the manifest against the files it lists, the meshes, textures and
// photos read back through the geometry library, continuity between tiles, marks on the mesh
// surface and in the picture, determinism, and refused options.
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

#include "SampleGenerator.h"
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

double correlation(const std::vector<double>& a, const std::vector<double>& b)
{
    double ma = 0, mb = 0, sab = 0, saa = 0, sbb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) ma += a[i] / a.size(), mb += b[i] / b.size();
    for (std::size_t i = 0; i < a.size(); ++i)
        sab += (a[i] - ma) * (b[i] - mb), saa += (a[i] - ma) * (a[i] - ma), sbb += (b[i] - mb) * (b[i] - mb);
    return sab / std::sqrt(saa * sbb);
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
    EXPECT_EQ(s_manifest.value("version").toInt(), 1);
    EXPECT_EQ(s_manifest.value("seed").toInt(), 7);
    EXPECT_EQ(s_manifest.value("tiles").toInt(), 4);
    ASSERT_EQ(s_manifest.value("meshes").toArray().size(), 4);
    ASSERT_EQ(s_manifest.value("photos").toArray().size(), 4);
    int triangles = 0;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject m = mesh(i), p = photo(i);
        const QString name = QStringLiteral("tile_%1").arg(i, 3, 10, QLatin1Char('0'));
        EXPECT_EQ(m.value("label").toString(), name);
        EXPECT_EQ(m.value("obj").toString(), "meshes/" + name + ".obj");
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

// Every mark sits on its tile's mesh surface where the mesh's own texture coordinate is uv2, at
// the place in the photo where the photo shows that spot of the texture.
TEST_F(SampleProject, MarksLieOnTheMeshAndInThePhotoWhereTheirTextureCoordinateSays)
{
    QSet<int> ids;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QJsonArray marks = photo(i).value("marks").toArray();
        EXPECT_TRUE(marks.size() >= 5 && marks.size() <= 8) << marks.size();
        ref_ptr<IZimMesh> m = loadMesh(i);
        ASSERT_TRUE(m);
        ref_ptr<Pnt3fArray> v = m->meshVertexSource();
        ref_ptr<IntArray> tri = m->meshTriangles(), ti = m->meshTexIndices();
        const QImage texture(file(mesh(i).value("texture").toString())), shot(file(photo(i).value("path").toString()));
        const orvsample::PhotoView view = orvsample::photoView(i, 7, texture.width(), shot.size());
        ASSERT_TRUE(view.valid);
        std::multiset<QString> kinds;
        for (const QJsonValue& value : marks) {
            const QJsonObject mark = value.toObject();
            const int id = mark.value("id").toInt();
            EXPECT_TRUE(id > 0 && !ids.contains(id)) << "id " << id;
            ids.insert(id);
            kinds.insert(mark.value("kind").toString());
            const QJsonArray uv = mark.value("uv").toArray(), pt = mark.value("point").toArray(),
                             uv2 = mark.value("uv2").toArray();
            const QPointF mapped = orvsample::photoUv(view, uv2[0].toDouble(), uv2[1].toDouble(), 128, shot.size());
            EXPECT_NEAR(mapped.x(), uv[0].toDouble(), 1e-9);
            EXPECT_NEAR(mapped.y(), uv[1].toDouble(), 1e-9);
            EXPECT_TRUE(uv[0].toDouble() > 0 && uv[0].toDouble() < 1 && uv[1].toDouble() > 0 && uv[1].toDouble() < 1);

            // The triangle under (x, y): height and texture coordinate interpolated there.
            const XPnt2d at(pt[0].toDouble(), pt[1].toDouble());
            bool found = false;
            for (int f = 0; f < tri->count() / 3 && !found; ++f) {
                XPnt2d q[3], t[3];
                double z[3];
                for (int c = 0; c < 3; ++c) {
                    const XPnt3f p = v->at(tri->at(3 * f + c));
                    q[c] = XPnt2d(p.x, p.y), z[c] = p.z;
                    t[c] = XPnt2d(m->meshTexCoords()->at(ti ? ti->at(3 * f + c) : tri->at(3 * f + c)));
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
        EXPECT_EQ((std::vector<std::size_t>{kinds.count("track"), kinds.count("selected"), kinds.count("control")}),
                  (std::vector<std::size_t>{1, 1, 1}));
        EXPECT_EQ(kinds.count("point"), std::size_t(marks.size() - 3));

        // The photo shows the texture through that mapping: brightness at mapped positions
        // follows the texture, and at positions of an upside-down tile it does not.
        auto luminance = [](QRgb c) { return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c); };
        auto inPhoto = [&](double s, double t) {
            const QPointF p = orvsample::photoUv(view, s, t, 128, shot.size());
            return luminance(shot.pixel(std::clamp(int(p.x() * shot.width()), 0, shot.width() - 1),
                                        std::clamp(int((1.0 - p.y()) * shot.height()), 0, shot.height() - 1)));
        };
        std::vector<double> tex, right, flipped;
        orvsample::SampleRng rng(99, quint64(i));
        while (tex.size() < 400) {
            const double s = rng.range(0.08, 0.92), t = rng.range(0.08, 0.92);
            tex.push_back(luminance(texture.pixel(int(s * 128), int((1.0 - t) * 128))));
            right.push_back(inPhoto(s, t));
            flipped.push_back(inPhoto(s, 1.0 - t));
        }
        const double good = correlation(tex, right), bad = correlation(tex, flipped);
        EXPECT_GT(good, 0.6);
        EXPECT_LT(bad, good - 0.2);
    }
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
                            "meshes/tile_001.png", "photos/photo_000.jpg", "photos/photo_001.jpg"}) {
        const QByteArray first = orvtest::readFile(QDir(a).filePath(rel));
        EXPECT_FALSE(first.isEmpty()) << rel;
        EXPECT_TRUE(first == orvtest::readFile(QDir(b).filePath(rel))) << rel << " differs between two runs";
    }
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
