// The records saved beside a backup picture and the edited-backup round trip, on real backups:
// a generated sample project shown in a real 3D viewer (Xvfb, Mesa), backed up, its records read
// back and checked against the camera, damaged and mismatched records refused, and edited copies
// of the picture mapped back onto the textures.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "BackupRecords.h"
#include "COrv3DViewer.h"
#include "EditedBackup.h"
#include "OrvUIElements64t.h"
#include "SampleGenerator.h"
#include "SampleProject.h"

using namespace orvUI;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Where a world point lands on the picture through the recorded camera: the model-view and
// projection matrices and the viewport (window coordinates, y up), scaled to the picture,
// with the picture's half-pixel offset.
bool pictureOf(const BackupRecords& records, const XPnt3f& world, double& px, double& py)
{
    const BackupCamera& c = records.camera();
    const double in[4] = {world.x, world.y, world.z, 1.0};
    double eye[4], clip[4];
    for (int r = 0; r < 4; ++r) eye[r] = 0;
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k) eye[r] += c.modelView[k * 4 + r] * in[k];
    for (int r = 0; r < 4; ++r) {
        clip[r] = 0;
        for (int k = 0; k < 4; ++k) clip[r] += c.projection[k * 4 + r] * eye[k];
    }
    if (!(clip[3] > 0)) return false;
    const double wx = (clip[0] / clip[3] + 1.0) * 0.5 * c.viewportWidth;
    const double wy = (clip[1] / clip[3] + 1.0) * 0.5 * c.viewportHeight;
    px = wx * records.pictureSize().width() / c.viewportWidth + 0.5;
    py = wy * records.pictureSize().height() / c.viewportHeight + 0.5;
    return true;
}

// Barycentric coordinates of (x, y) in the triangle (a, b, c); false for a degenerate one.
bool barycentric(const double a[2], const double b[2], const double c[2], double x, double y, double l[3])
{
    const double area = (b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1]);
    if (std::fabs(area) < 1e-12) return false;
    l[1] = ((x - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (y - a[1])) / area;
    l[2] = ((b[0] - a[0]) * (y - a[1]) - (x - a[0]) * (b[1] - a[1])) / area;
    l[0] = 1.0 - l[1] - l[2];
    return true;
}

// One texel of a recorded triangle and where the camera sees its centre on the picture.
struct SeenTexel {
    int mesh;  // mesh index
    int x, y;  // texel, row 0 at the bottom
    double px, py;
};

class BackupRecordsTest : public ::testing::Test {
protected:
    // Two samples of one tile each: the project backed up, and another one made from another
    // seed (the same file and mesh names, other ground).
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir();
        ASSERT_TRUE(s_dir->isValid());
        for (int k = 0; k < 2; ++k) {
            orvsample::SampleOptions o;
            o.outDir = s_dir->filePath(k == 0 ? "sample" : "other");
            o.tiles = 1;
            o.trianglesTotal = 2000;
            o.photoSize = QSize(640, 480);
            o.textureSize = 256;
            o.seed = k == 0 ? 21 : 22;
            o.marks = 6;
            o.photoEffects = false;
            const orvsample::SampleResult made = orvsample::generateSample(o);
            ASSERT_TRUE(made.ok) << made.error.toStdString();
            const orvsample::ProjectSummary project =
                orvsample::buildSampleProject(made.manifestPath, o.outDir + "/project.orvproj");
            ASSERT_TRUE(project.ok) << project.error.toStdString();
            s_projects[k] = project.path;
        }
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_mm = zim::getMM();
        ASSERT_EQ(m_mm->openProject(s_projects[0], nullptr), 0) << qPrintable(m_mm->lastError());
        ASSERT_TRUE(getVM()->getMainFrame());
        m_viewer = std::make_unique<COrv3DViewer>();
        m_viewer->resize(400, 300);
        m_viewer->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_viewer.get()));
        m_ball = m_viewer->getDisplay()->getTrackBall();
        // The tile (x and y 0..100) from the south, looking down at it.
        ASSERT_EQ(m_ball->setLookAt({50, -45, 110}, {50, 50, 5}, {0, 0, 1}), 0);
        m_ball->setNearDistance(1);
        m_ball->setFarDistance(1000);
        ASSERT_EQ(m_viewer->drawScene(false), 0);
        m_picture = m_dir.filePath("backup.png");
        ASSERT_TRUE(m_viewer->generateBackupInformation(m_picture, m_records, m_textures, m_seams))
            << qPrintable(m_viewer->lastBackupError());
        m_recordsPath = m_dir.filePath("backup.orvbackup");
        QString error;
        ASSERT_TRUE(m_read.read(m_recordsPath, &error)) << qPrintable(error);
        ASSERT_FALSE(m_read.triangles().isEmpty());
    }
    void TearDown() override
    {
        m_viewer.reset();
        if (m_mm) m_mm->closeProject();
    }

    // Every texel whose centre lies inside a recorded triangle (off its edges by a little, so
    // that it is that triangle's), with where the camera sees it; the texels of recorded
    // triangles, edges included, are marked in `covered` per mesh.
    std::vector<SeenTexel> seenTexels(std::map<int, std::vector<char>>& covered) const
    {
        std::vector<SeenTexel> seen;
        EXPECT_EQ(m_read.triangles().size(), m_records.size());
        for (int r = 0; r < m_read.triangles().size() && r < m_records.size(); ++r) {
            const BackupTriangle& t = m_read.triangles()[r];
            const BackupMesh& mesh = m_read.meshes()[int(t.mesh)];
            const int tw = mesh.textureWidth, th = mesh.textureHeight;
            std::vector<char>& mask = covered[mesh.index];
            mask.resize(std::size_t(tw) * th);
            double T[3][2];
            for (int k = 0; k < 3; ++k)
                T[k][0] = t.texture[2 * k] * double(tw), T[k][1] = t.texture[2 * k + 1] * double(th);
            const XPnt3f W[3] = {m_records[r]->World0(), m_records[r]->World1(), m_records[r]->World2()};
            const int x0 = std::max(0, int(std::min({T[0][0], T[1][0], T[2][0]})) - 1);
            const int x1 = std::min(tw - 1, int(std::max({T[0][0], T[1][0], T[2][0]})) + 1);
            const int y0 = std::max(0, int(std::min({T[0][1], T[1][1], T[2][1]})) - 1);
            const int y1 = std::min(th - 1, int(std::max({T[0][1], T[1][1], T[2][1]})) + 1);
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    double l[3];
                    if (!barycentric(T[0], T[1], T[2], x + 0.5, y + 0.5, l)) continue;
                    const double lo = std::min({l[0], l[1], l[2]});
                    if (lo >= -1e-6) mask[std::size_t(y) * tw + x] = 1;
                    if (lo < 1e-4) continue;
                    // The surface point of the texel, seen through the camera.
                    const XPnt3f p(float(l[0] * W[0].x + l[1] * W[1].x + l[2] * W[2].x),
                                   float(l[0] * W[0].y + l[1] * W[1].y + l[2] * W[2].y),
                                   float(l[0] * W[0].z + l[1] * W[1].z + l[2] * W[2].z));
                    SeenTexel s{mesh.index, x, y, 0, 0};
                    if (pictureOf(m_read, p, s.px, s.py)) seen.push_back(s);
                }
        }
        return seen;
    }
    // Copies of the textures as they are now.
    std::map<int, ref_ptr<IZimImage>> snapshot() const
    {
        std::map<int, ref_ptr<IZimImage>> copies;
        for (auto it = m_textures.constBegin(); it != m_textures.constEnd(); ++it)
            if (it.value()) copies[it.key()] = it.value()->imageClone();
        return copies;
    }
    static const unsigned char* texel(const ref_ptr<IZimImage>& image, int x, int y)
    {
        return image->imageData(y) + std::size_t(x) * std::size_t(image->imageBits() / 8);
    }
    static bool sameTexel(const ref_ptr<IZimImage>& a, const ref_ptr<IZimImage>& b, int x, int y)
    {
        return std::memcmp(texel(a, x, y), texel(b, x, y), 3) == 0;
    }

    static QTemporaryDir* s_dir;
    static QString s_projects[2];
    QTemporaryDir m_dir;
    ref_ptr<IZimMM> m_mm;
    std::unique_ptr<COrv3DViewer> m_viewer;
    ref_ptr<IZimTrackBall> m_ball;
    QVector<ref_ptr<TqTriangleIndex>> m_records;
    QMap<int, ref_ptr<IZimImage>> m_textures;
    SeamEdgeMap m_seams;
    QString m_picture;
    QString m_recordsPath;
    BackupRecords m_read;
};

QTemporaryDir* BackupRecordsTest::s_dir = nullptr;
QString BackupRecordsTest::s_projects[2];

}  // namespace

TEST_F(BackupRecordsTest, RecordsBesideThePictureHoldItsSizeCameraMeshesAndCorners)
{
    EXPECT_EQ(BackupRecords::pathFor(m_picture), m_recordsPath);
    EXPECT_EQ(BackupRecords::pathFor("/a/b.c/pic.v2.jpg"), QString("/a/b.c/pic.v2.orvbackup"));
    const QImage picture(m_picture);
    ASSERT_FALSE(picture.isNull());
    const QSize view(m_viewer->width(), m_viewer->height());
    EXPECT_EQ(m_read.pictureSize(), picture.size());
    EXPECT_EQ(m_read.pictureSize(), view);

    const BackupCamera& c = m_read.camera();
    EXPECT_EQ(c.viewportWidth, view.width());
    EXPECT_EQ(c.viewportHeight, view.height());
    EXPECT_EQ(XPnt3d(c.eye[0], c.eye[1], c.eye[2]), m_ball->getEyePoint());
    EXPECT_EQ(XPnt3d(c.centre[0], c.centre[1], c.centre[2]), m_ball->getCenterPoint());
    EXPECT_DOUBLE_EQ(c.fieldOfView, m_ball->getFieldOfView());

    ASSERT_EQ(m_read.meshes().size(), 1);
    const BackupMesh& mesh = m_read.meshes()[0];
    ref_ptr<IZimMesh> owner;
    m_mm->getMeshAt(owner, mesh.index);
    ASSERT_TRUE(owner);
    QString name;
    owner->meshName(name);
    EXPECT_EQ(mesh.name, name);
    ASSERT_TRUE(m_textures.value(mesh.index));
    EXPECT_EQ(mesh.textureWidth, 256);
    EXPECT_EQ(mesh.textureHeight, 256);
    EXPECT_EQ(m_read.project().path, QFileInfo(s_projects[0]).absoluteFilePath());

    // Every triangle's screen corners are where the recorded camera sees its world corners.
    ASSERT_EQ(m_read.triangles().size(), m_records.size());
    EXPECT_GT(m_records.size(), 200);
    double worst = 0;
    for (int r = 0; r < m_records.size(); ++r) {
        const BackupTriangle& t = m_read.triangles()[r];
        const XPnt3f W[3] = {m_records[r]->World0(), m_records[r]->World1(), m_records[r]->World2()};
        const XPnt2f T[3] = {m_records[r]->Tex0(), m_records[r]->Tex1(), m_records[r]->Tex2()};
        for (int k = 0; k < 3; ++k) {
            double px = 0, py = 0;
            ASSERT_TRUE(pictureOf(m_read, W[k], px, py));
            worst = std::max({worst, std::fabs(px - t.screen[2 * k]), std::fabs(py - t.screen[2 * k + 1])});
            EXPECT_EQ(t.texture[2 * k], T[k].x);
            EXPECT_EQ(t.texture[2 * k + 1], T[k].y);
        }
    }
    EXPECT_LT(worst, 1e-3);

    // The same records, read again from what they write.
    const QString again = m_dir.filePath("again.orvbackup");
    QString error;
    ASSERT_TRUE(m_read.write(again, &error)) << qPrintable(error);
    EXPECT_EQ(readAll(again), readAll(m_recordsPath));
    // Nothing else is left beside them.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
              QStringList({"again.orvbackup", "backup.orvbackup", "backup.png"}));
}

TEST_F(BackupRecordsTest, DamagedTruncatedAndForeignRecordsAreRefused)
{
    const QByteArray bytes = readAll(m_recordsPath);
    ASSERT_GT(bytes.size(), 1000);
    const QString path = m_dir.filePath("damaged.orvbackup");
    QString error;
    for (int size : {0, 7, 12, 40, 200, bytes.size() / 2, bytes.size() - 9, bytes.size() - 1}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(writeAll(path, bytes.left(size)));
        BackupRecords records = m_read;
        error.clear();
        EXPECT_FALSE(records.read(path, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(records.triangles().isEmpty());
        EXPECT_FALSE(records.pictureSize().isValid());
    }
    // One byte changed among the triangles.
    QByteArray flipped = bytes;
    flipped[bytes.size() - 30] = char(flipped[bytes.size() - 30] ^ 0x10);
    ASSERT_TRUE(writeAll(path, flipped));
    BackupRecords records;
    EXPECT_FALSE(records.read(path, &error));
    // Another version, whatever follows.
    QByteArray later = bytes;
    later[8] = 2;
    ASSERT_TRUE(writeAll(path, later));
    error.clear();
    EXPECT_FALSE(records.read(path, &error));
    EXPECT_TRUE(error.contains("version 2")) << qPrintable(error);
    // Another kind of file, and none at all.
    ASSERT_TRUE(writeAll(path, readAll(m_picture)));
    EXPECT_FALSE(records.read(path, &error));
    error.clear();
    EXPECT_FALSE(records.read(m_dir.filePath("none.orvbackup"), &error));
    EXPECT_TRUE(error.contains("none.orvbackup")) << qPrintable(error);
    // The good file still reads.
    EXPECT_TRUE(records.read(m_recordsPath, &error)) << qPrintable(error);
}

TEST_F(BackupRecordsTest, APictureOfAnotherSizeOrAnotherProjectIsRefused)
{
    QString error;
    const int w = m_viewer->width(), h = m_viewer->height();
    EXPECT_TRUE(m_read.matchesPicture(QSize(w, h), &error));
    EXPECT_FALSE(m_read.matchesPicture(QSize(w + 1, h), &error));
    EXPECT_TRUE(error.contains(QString::number(w + 1))) << qPrintable(error);
    EXPECT_FALSE(m_read.matchesPicture(QSize(w, h - 1), &error));

    const ProjectIdentity open = ProjectIdentity::of(m_mm.get(), m_read.meshIndices());
    EXPECT_TRUE(m_read.matchesProject(open, &error)) << qPrintable(error);

    // An edited picture scaled by the editor is refused, and nothing is written.
    const QImage original(m_picture);
    const std::map<int, ref_ptr<IZimImage>> before = snapshot();
    EditedBackup apply;
    EXPECT_FALSE(apply.apply(original, original.scaled(w + 1, h), m_read, m_textures));
    EXPECT_FALSE(apply.error().isEmpty());
    EXPECT_FALSE(apply.apply(original.scaled(w / 2, h / 2), original.scaled(w / 2, h / 2), m_read, m_textures));
    EXPECT_TRUE(apply.error().contains(QString::number(w))) << qPrintable(apply.error());
    // A texture of another size than the backup saw, or none.
    QMap<int, ref_ptr<IZimImage>> other;
    ref_ptr<IZimImage> smaller = m_textures.first()->imageClone();
    ASSERT_EQ(smaller->imageResize(128, 128, 1, 0), 0);
    other.insert(m_textures.firstKey(), smaller);
    QImage edited = original;
    edited.fill(Qt::red);
    EXPECT_FALSE(apply.apply(original, edited, m_read, other));
    EXPECT_TRUE(apply.error().contains("128")) << qPrintable(apply.error());
    EXPECT_FALSE(apply.apply(original, edited, m_read, {}));
    EXPECT_FALSE(apply.error().isEmpty());
    for (const auto& [mesh, copy] : before)
        for (int y = 0; y < copy->imageHeight(); ++y)
            ASSERT_EQ(std::memcmp(copy->imageData(y), m_textures.value(mesh)->imageData(y),
                                  std::size_t(copy->imageWidth()) * 3),
                      0);

    // The other sample: another project file, with the same mesh names but other ground.
    m_viewer.reset();
    ASSERT_EQ(m_mm->openProject(s_projects[1], nullptr), 0) << qPrintable(m_mm->lastError());
    ProjectIdentity elsewhere = ProjectIdentity::of(m_mm.get(), m_read.meshIndices());
    EXPECT_FALSE(m_read.matchesProject(elsewhere, &error));
    EXPECT_TRUE(error.contains("project")) << qPrintable(error);
    elsewhere.path = m_read.project().path;
    error.clear();
    EXPECT_FALSE(m_read.matchesProject(elsewhere, &error));
    EXPECT_FALSE(error.isEmpty());
    m_mm->closeProject();
    EXPECT_FALSE(m_read.matchesProject(ProjectIdentity::of(m_mm.get(), m_read.meshIndices()), &error));
}

TEST_F(BackupRecordsTest, AnUneditedCopyChangesNoTexel)
{
    const QImage original(m_picture);
    // The copy as an editor saves it: read and written again, in another format.
    const QString copyPath = m_dir.filePath("copy.bmp");
    ASSERT_TRUE(QImage(m_picture).convertToFormat(QImage::Format_ARGB32).save(copyPath));
    const QImage copy(copyPath);
    const std::map<int, ref_ptr<IZimImage>> before = snapshot();
    EditedBackup apply;
    ASSERT_TRUE(apply.apply(original, copy, m_read, m_textures)) << qPrintable(apply.error());
    EXPECT_EQ(apply.texelsChanged(), 0);
    EXPECT_TRUE(apply.changes().isEmpty());
    for (const auto& [mesh, copyOf] : before)
        for (int y = 0; y < copyOf->imageHeight(); ++y)
            ASSERT_EQ(std::memcmp(copyOf->imageData(y), m_textures.value(mesh)->imageData(y),
                                  std::size_t(copyOf->imageWidth()) * std::size_t(copyOf->imageBits() / 8)),
                      0)
                << "row " << y;
}

TEST_F(BackupRecordsTest, ARedSquareChangesTheTexelsSeenInsideItAndNoneFarOutside)
{
    const QImage original(m_picture);
    // 120 x 120 pixels about the centre (row 0 at the bottom) painted red: the square covers
    // x0 - 0.5 to x1 + 0.5 and y0 - 0.5 to y1 + 0.5 on the picture.
    const int x0 = original.width() / 2 - 60, x1 = x0 + 119, y0 = original.height() / 2 - 60, y1 = y0 + 119;
    QImage edited = original.convertToFormat(QImage::Format_RGB888);
    {
        QPainter painter(&edited);
        const int h = edited.height();
        painter.fillRect(QRect(x0, h - 1 - y1, x1 - x0 + 1, y1 - y0 + 1), QColor(255, 0, 0));
    }
    const std::map<int, ref_ptr<IZimImage>> before = snapshot();

    EditedBackup apply;
    ASSERT_TRUE(apply.prepare(original, edited, m_read, m_textures)) << qPrintable(apply.error());
    // Nothing is written before write(); the tiles to keep are known.
    for (const auto& [mesh, copy] : before)
        for (int y = 0; y < copy->imageHeight(); ++y)
            ASSERT_EQ(std::memcmp(copy->imageData(y), m_textures.value(mesh)->imageData(y),
                                  std::size_t(copy->imageWidth()) * 3),
                      0);
    ASSERT_FALSE(apply.changes().isEmpty());
    const qint64 announced = apply.texelsChanged();
    const QMap<int, EditedTexture> changes = apply.changes();
    ASSERT_TRUE(apply.write()) << qPrintable(apply.error());

    std::map<int, std::vector<char>> covered;
    const std::vector<SeenTexel> seen = seenTexels(covered);
    const double left = x0 - 0.5, right = x1 + 0.5, bottom = y0 - 0.5, top = y1 + 0.5;
    int inside = 0, outside = 0;
    for (const SeenTexel& s : seen) {
        const ref_ptr<IZimImage>& now = m_textures.value(s.mesh);
        const ref_ptr<IZimImage>& was = before.at(s.mesh);
        // How far inside the square the texel is seen (negative: outside).
        const double depth = std::min({s.px - left, right - s.px, s.py - bottom, top - s.py});
        const double away = std::max({left - s.px, s.px - right, bottom - s.py, s.py - top});
        if (depth >= 1.0) {
            ++inside;
            EXPECT_FALSE(sameTexel(now, was, s.x, s.y)) << s.x << "," << s.y << " at " << s.px << "," << s.py;
            // Redder: red (channel 2) up, green and blue down.
            const unsigned char *a = texel(was, s.x, s.y), *b = texel(now, s.x, s.y);
            EXPECT_GE(b[2], a[2]);
            EXPECT_LE(b[1], a[1]);
            EXPECT_LE(b[0], a[0]);
        } else if (away >= 2.0) {
            ++outside;
            EXPECT_TRUE(sameTexel(now, was, s.x, s.y)) << s.x << "," << s.y << " at " << s.px << "," << s.py;
        }
    }
    EXPECT_GT(inside, 300);
    EXPECT_GT(outside, 5000);

    // Texels of no recorded triangle are untouched; every texel that changed is counted and
    // lies in an announced tile.
    qint64 changed = 0;
    for (const auto& [mesh, was] : before) {
        const ref_ptr<IZimImage>& now = m_textures.value(mesh);
        const std::vector<char>& mask = covered[mesh];
        std::set<std::pair<int, int>> tiles;
        for (const QPoint& t : changes.value(mesh).tiles) tiles.insert({t.x(), t.y()});
        std::set<std::pair<int, int>> touched;
        for (int y = 0; y < was->imageHeight(); ++y)
            for (int x = 0; x < was->imageWidth(); ++x) {
                if (sameTexel(now, was, x, y)) continue;
                ++changed;
                EXPECT_TRUE(!mask.empty() && mask[std::size_t(y) * was->imageWidth() + x]) << x << "," << y;
                touched.insert({x / EditedBackup::kTileSize, y / EditedBackup::kTileSize});
            }
        EXPECT_EQ(touched, tiles) << "mesh " << mesh;
    }
    EXPECT_EQ(changed, announced);
}

TEST_F(BackupRecordsTest, EveryBackupRewritesItsRecords)
{
    // A second backup from elsewhere replaces the records of the first.
    ASSERT_EQ(m_ball->setLookAt({50, 160, 120}, {50, 50, 5}, {0, 0, 1}), 0);
    ASSERT_EQ(m_viewer->drawScene(false), 0);
    QVector<ref_ptr<TqTriangleIndex>> records;
    QMap<int, ref_ptr<IZimImage>> textures;
    SeamEdgeMap seams;
    ASSERT_TRUE(m_viewer->generateBackupInformation(m_picture, records, textures, seams));
    BackupRecords second;
    QString error;
    ASSERT_TRUE(second.read(m_recordsPath, &error)) << qPrintable(error);
    EXPECT_EQ(second.triangles().size(), records.size());
    EXPECT_EQ(XPnt3d(second.camera().eye[0], second.camera().eye[1], second.camera().eye[2]), XPnt3d(50, 160, 120));

    // Records that cannot be written (a folder stands in their place) do not fail the backup:
    // the picture is written, and no records pass for its own.
    const QString picture = m_dir.filePath("blocked.png");
    ASSERT_TRUE(QDir(m_dir.path()).mkpath("blocked.orvbackup/inner"));
    records.clear();
    textures.clear();
    ASSERT_TRUE(m_viewer->generateBackupInformation(picture, records, textures, seams));
    EXPECT_TRUE(QFileInfo(picture).isFile());
    BackupRecords none;
    EXPECT_FALSE(none.read(BackupRecords::pathFor(picture), &error));
}
