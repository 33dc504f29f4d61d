// The backup step in a real 3D viewer (Xvfb, Mesa) with a real project: the picture against a
// normal render of the same view, hidden triangles, seam edges between two meshes, the progress
// it reports, and the ways it fails without writing a picture.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "COrv3DViewer.h"
#include "CaptureLayer.h"
#include "IOrvDrawLayer.h"
#include "OrvUIElements64t.h"

using namespace orvUI;

namespace {

// Records every progress call as text; checks that pushes and pops pair up.
class RecordingProgress : public IZimProgress {
public:
    explicit RecordingProgress(std::vector<std::string>* log) : m_log(log) {}
    ~RecordingProgress() override { m_log->push_back("deleted"); }
    int progressPush(double f) override { return add("push " + number(f)); }
    int progressPop() override { return add("pop"); }
    int progressText(QString text) override { return add("text " + text.toStdString()); }
    int progressStep(double f) override
    {
        // Runs of equal steps are folded into one line with their count.
        const std::string s = "step " + number(f);
        if (!m_log->empty() && m_log->back().rfind(s + " x", 0) == 0) {
            const int n = std::stoi(m_log->back().substr(s.size() + 2));
            m_log->back() = s + " x" + std::to_string(n + 1);
            return 0;
        }
        return add(s + " x1");
    }
    int progressYield() override { return 0; }
    int progressSetCancelable(bool, ref_ptr<ZimReferenced>) override { return 0; }
    bool progressCanceled() override { return false; }

private:
    static std::string number(double f)
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.6g", f);
        return buf;
    }
    int add(const std::string& s)
    {
        m_log->push_back(s);
        return 0;
    }
    std::vector<std::string>* m_log;
};

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A smooth texture: red follows x, green follows y, blue fixed.
void writeTexture(const QString& path, int blue)
{
    QImage texture(64, 64, QImage::Format_RGB888);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) texture.setPixelColor(x, y, QColor(40 + x * 3, 40 + (63 - y) * 3, blue));
    ASSERT_TRUE(texture.save(path));
}

class BackupViewer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override
    {
        m_viewer.reset();
        if (m_mm) m_mm->closeProject();
    }

    // A textured quad mesh named `name`: OBJ vertex lines, faces (1-based v/vt), with the
    // texture tex_<name>.png unless it is to be missing; without `textured` its material names
    // no texture.
    void addMesh(const QString& name, const QByteArray& vertices, const QByteArray& faces, int blue,
                 bool textureThere = true, bool textured = true)
    {
        const QString d = m_dir.path();
        if (textureThere) writeTexture(d + "/tex_" + name + ".png", blue);
        writeFile(d + "/" + name + ".mtl",
                  textured ? "newmtl m\nmap_Kd tex_" + name.toUtf8() + ".png\n" : QByteArray("newmtl m\nKd 1 1 1\n"));
        writeFile(d + "/" + name + ".obj", "mtllib " + name.toUtf8() + ".mtl\n" + vertices + "usemtl m\n" + faces);
        QImage photo(64, 48, QImage::Format_RGB888);
        photo.fill(Qt::darkGray);
        ASSERT_TRUE(photo.save(d + "/" + name + ".png"));
        if (!m_mm) {
            m_mm = zim::getMM();
            ASSERT_EQ(m_mm->createProject(d + "/p.orvproj"), 0) << qPrintable(m_mm->lastError());
        }
        const int index = m_mm->addImage(d + "/" + name + ".png", d + "/" + name + ".obj", name);
        ASSERT_GE(index, 0) << qPrintable(m_mm->lastError());
        ASSERT_EQ(m_mm->setImageMapped(index, true), 0);
    }
    // Mesh "a": x 0..10, y 0..10 at z; its right edge has vertex indices (1, 2).
    void addQuadA(double z = 0, bool textureThere = true)
    {
        const QByteArray zs = QByteArray::number(z);
        addMesh("a",
                "v 0 0 " + zs + "\nv 10 0 " + zs + "\nv 10 10 " + zs + "\nv 0 10 " + zs +
                    "\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n",
                "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n", 60, textureThere);
    }
    // Mesh "b" from x0 to x0 + 10 at z; indices 0 and 3 are unused, so its left edge has the
    // vertex indices (1, 2) that "a" gives its right edge.
    void addQuadB(double x0, double z)
    {
        const QByteArray zs = QByteArray::number(z), l = QByteArray::number(x0), r = QByteArray::number(x0 + 10);
        addMesh("b",
                "v 15 5 " + zs + "\nv " + l + " 0 " + zs + "\nv " + l + " 10 " + zs + "\nv 15 5 " + zs + "\nv " + r +
                    " 0 " + zs + "\nv " + r + " 10 " + zs + "\nvt 0 0\nvt 0 0\nvt 0 1\nvt 0 0\nvt 1 0\nvt 1 1\n",
                "f 2/2 5/5 6/6\nf 2/2 6/6 3/3\n", 200);
    }
    // A plane without a texture (not backed up, but drawn) from (x0, y0) to (x1, y1) at z: behind a
    // mesh it gives the pixels around the mesh's outline a depth close to the mesh's.
    void addBackdrop(const QString& name, double x0, double y0, double x1, double y1, double z)
    {
        auto n = [](double v) { return QByteArray::number(v); };
        addMesh(name,
                "v " + n(x0) + " " + n(y0) + " " + n(z) + "\nv " + n(x1) + " " + n(y0) + " " + n(z) + "\nv " + n(x1) +
                    " " + n(y1) + " " + n(z) + "\nv " + n(x0) + " " + n(y1) + " " + n(z) +
                    "\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n",
                "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n", 0, true, false);
    }
    void showViewer(const XPnt3d& eye = {10, 5, 60}, const XPnt3d& centre = {10, 5, 0})
    {
        ASSERT_TRUE(getVM()->getMainFrame());
        m_viewer = std::make_unique<COrv3DViewer>();
        m_viewer->resize(400, 300);
        m_viewer->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_viewer.get()));
        m_ball = m_viewer->getDisplay()->getTrackBall();
        ASSERT_EQ(m_ball->setLookAt(eye, centre, {0, 1, 0}), 0);
        m_ball->setNearDistance(1);
        m_ball->setFarDistance(100);
        ASSERT_EQ(m_viewer->drawScene(false), 0);
    }
    ref_ptr<IZimMesh> mesh(int index)
    {
        ref_ptr<IZimMesh> m;
        m_mm->getMeshAt(m, index);
        return m;
    }
    QString out(const QString& name) const { return m_dir.path() + "/" + name; }

    QTemporaryDir m_dir;
    ref_ptr<IZimMM> m_mm;
    std::unique_ptr<COrv3DViewer> m_viewer;
    ref_ptr<IZimTrackBall> m_ball;
    QVector<ref_ptr<TqTriangleIndex>> m_records;
    QMap<int, ref_ptr<IZimImage>> m_textures;
    SeamEdgeMap m_seams;
};

}  // namespace

TEST_F(BackupViewer, PictureMatchesTheRenderedViewOverThePaintedPixels)
{
    addQuadA();
    addQuadB(10, 0);
    addBackdrop("d", -30, -30, 50, 40, -0.01);
    showViewer();
    ref_ptr<CaptureLayer> capture(new CaptureLayer());
    m_viewer->addDrawLayer(capture);
    ASSERT_EQ(m_viewer->drawScene(false), 0);
    m_viewer->removeDrawLayer(capture);

    ASSERT_TRUE(m_viewer->generateBackupInformation(out("backup.png"), m_records, m_textures, m_seams))
        << qPrintable(m_viewer->lastBackupError());
    EXPECT_TRUE(m_viewer->lastBackupError().isEmpty());
    EXPECT_EQ(m_records.size(), 4);
    ASSERT_EQ(m_textures.size(), 2);
    EXPECT_TRUE(m_textures.value(0) && m_textures.value(1));

    QImage picture(out("backup.png"));
    const int w = m_viewer->width(), h = m_viewer->height();
    ASSERT_EQ(picture.size(), QSize(w, h));
    ASSERT_EQ(capture->width, w);
    // Where the two textured quads (x 0..20, y 0..10) lie on the screen, in GL pixels.
    const XPnt3d lo = m_ball->projectToScreen({0, 0, 0}), hi = m_ball->projectToScreen({20, 10, 0});
    const QColor gray(128, 128, 128);
    long inside = 0, painted = 0, outsidePainted = 0, difference = 0;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            const QColor b = picture.pixelColor(x, h - 1 - y);  // the picture's rows run top-down
            const bool isPainted = b != gray;
            if (x > lo.x + 3 && x < hi.x - 3 && y > lo.y + 3 && y < hi.y - 3) {
                const QColor r = capture->at(x, y);
                ++inside;
                painted += isPainted;
                difference +=
                    std::abs(r.red() - b.red()) + std::abs(r.green() - b.green()) + std::abs(r.blue() - b.blue());
            } else if (x < lo.x - 5 || x > hi.x + 5 || y < lo.y - 5 || y > hi.y + 5) {
                // The backdrop is drawn but not backed up.
                outsidePainted += isPainted;
            }
        }
    ASSERT_GT(inside, 20000);
    EXPECT_EQ(painted, inside);
    EXPECT_EQ(outsidePainted, 0);
    EXPECT_LT(double(difference) / (3.0 * inside), 4.0);
}

TEST_F(BackupViewer, SeamsJoinAdjacentMeshes)
{
    addQuadA();
    addQuadB(10, 0);
    addBackdrop("d", -30, -30, 50, 40, -0.01);
    showViewer();
    ASSERT_TRUE(m_viewer->generateBackupInformation(out("seams.png"), m_records, m_textures, m_seams));
    // Meshes are processed in reverse order: "b" (1) first, so "a" (0) becomes the second side
    // of the shared edge; every other boundary edge has one side.
    SeamEdgeMap expected;
    expected.insert({1, 2}, {1, 0});
    for (QPair<unsigned, unsigned> e : {qMakePair(1u, 4u), qMakePair(2u, 5u), qMakePair(4u, 5u)})
        expected.insert(e, {1, -1});
    for (QPair<unsigned, unsigned> e : {qMakePair(0u, 1u), qMakePair(0u, 3u), qMakePair(2u, 3u)})
        expected.insert(e, {0, -1});
    EXPECT_EQ(m_seams, expected);
    ASSERT_EQ(m_records.size(), 4);
    EXPECT_EQ(m_records[0]->meshIndex, 1);
    EXPECT_EQ(m_records[3]->meshIndex, 0);
    // Screen corners are the trackball's projection as fractions of the view; (10, 10, 0) is
    // above the view's centre.
    for (const ref_ptr<TqTriangleIndex>& r : m_records) {
        const XPnt3f& w = r->World0();
        const XPnt3d p = m_ball->projectToScreen(XPnt3d(w.x, w.y, w.z));
        EXPECT_EQ(r->Screen0().x, p.x / m_viewer->width());
        EXPECT_EQ(r->Screen0().y, p.y / m_viewer->height());
        EXPECT_EQ(r->Screen0().z, p.z);
    }
    const XPnt3d& s = m_records[3]->Screen1();
    EXPECT_NEAR(s.x, 0.5, 0.01);
    EXPECT_GT(s.y, 0.5);
    EXPECT_LT(s.y, 1.0);
}

TEST_F(BackupViewer, DuplicatesAreSkippedWithinAMeshOnly)
{
    // "c" numbers its vertices exactly as "a" does, and repeats its first triangle with the
    // corners in another order: both meshes are backed up, the repeat only once.
    addQuadA();
    addMesh("c", "v 10 0 0\nv 20 0 0\nv 20 10 0\nv 10 10 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n",
            "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\nf 3/3 1/1 2/2\n", 120);
    addBackdrop("d", -30, -30, 50, 40, -0.01);
    showViewer();
    ASSERT_TRUE(m_viewer->generateBackupInformation(out("dup.png"), m_records, m_textures, m_seams))
        << qPrintable(m_viewer->lastBackupError());
    int perMesh[2] = {0, 0};
    std::vector<std::vector<unsigned>> cTriangles;
    for (const ref_ptr<TqTriangleIndex>& r : m_records) {
        ASSERT_TRUE(r->meshIndex == 0 || r->meshIndex == 1);
        ++perMesh[r->meshIndex];
        if (r->meshIndex == 1) {
            std::vector<unsigned> v{r->Vertex0(), r->Vertex1(), r->Vertex2()};
            std::sort(v.begin(), v.end());
            cTriangles.push_back(v);
        }
    }
    EXPECT_EQ(perMesh[0], 2);
    EXPECT_EQ(perMesh[1], 2);
    ASSERT_EQ(cTriangles.size(), 2u);
    EXPECT_NE(cTriangles[0], cTriangles[1]);
}

TEST_F(BackupViewer, ASteepSurfaceInATightDepthRangeIsSeen)
{
    // An 8 x 8 grid rising and falling 0.6 in z per unit of x, in a depth range of 40 to 80:
    // between a vertex and the centre of its pixel the depth changes by many times the test's
    // tolerance, and along the ridge the pixel of a corner shows the other slope. Every triangle
    // away from the grid's border (whose corner pixels may show background) must still count as
    // seen.
    QByteArray v, f;
    const int n = 8;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const double x = 10.0 * i / n, y = 10.0 * j / n;
            // A ridge along x = 5: the surface bends there.
            v += "v " + QByteArray::number(x) + " " + QByteArray::number(y) + " " +
                 QByteArray::number(0.6 * (5.0 - std::abs(x - 5.0))) + "\n";
            v += "vt " + QByteArray::number(double(i) / n) + " " + QByteArray::number(double(j) / n) + "\n";
        }
    auto at = [n](int i, int j) { return QByteArray::number(j * (n + 1) + i + 1); };
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const QByteArray a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
            f += "f " + a + "/" + a + " " + b + "/" + b + " " + c + "/" + c + "\n";
            f += "f " + a + "/" + a + " " + c + "/" + c + " " + d + "/" + d + "\n";
        }
    addMesh("g", v, f, 90);
    showViewer({5, 5, 60}, {5, 5, 0});
    m_ball->setNearDistance(40);
    m_ball->setFarDistance(80);
    ASSERT_EQ(m_viewer->drawScene(false), 0);
    ASSERT_TRUE(m_viewer->generateBackupInformation(out("steep.png"), m_records, m_textures, m_seams))
        << qPrintable(m_viewer->lastBackupError());
    std::set<std::vector<unsigned>> seen;
    for (const ref_ptr<TqTriangleIndex>& r : m_records) {
        std::vector<unsigned> t{r->Vertex0(), r->Vertex1(), r->Vertex2()};
        std::sort(t.begin(), t.end());
        seen.insert(t);
    }
    int interior = 0;
    for (int j = 1; j < n - 1; ++j)
        for (int i = 1; i < n - 1; ++i) {
            const unsigned a = unsigned(j * (n + 1) + i), b = a + 1, c = a + n + 2, d = a + n + 1;
            for (std::vector<unsigned> t : {std::vector<unsigned>{a, b, c}, std::vector<unsigned>{a, c, d}}) {
                std::sort(t.begin(), t.end());
                EXPECT_TRUE(seen.count(t)) << t[0] << " " << t[1] << " " << t[2];
                ++interior;
            }
        }
    EXPECT_EQ(interior, 72);
}

TEST_F(BackupViewer, TrianglesWithCornersBehindAnotherMeshAreNotSelected)
{
    // "b" lies 5 units behind "a", shifted right: it shows beside "a", but each of its triangles
    // has a corner that "a" hides. Backdrops just behind each give their outlines a depth.
    addQuadA();
    addQuadB(5, -5);
    addBackdrop("e", -1, -1, 11, 11, -0.01);
    addBackdrop("d", -30, -30, 50, 40, -5.01);
    showViewer();
    ref_ptr<MeshArray> meshes(new MeshArray());
    meshes->appendMesh(mesh(0));
    meshes->appendMesh(mesh(1));
    const Enve2d region(0, m_viewer->width(), 0, m_viewer->height());
    ref_ptr<ByteArrayArray> kernelFlags = zim::newByteArrayArray();
    BackupView view = m_viewer->backupView();
    ASSERT_TRUE(view.prepareDepth());
    ASSERT_EQ(zim::tqSelectTriByOpenGL(m_ball, true, meshes, region, kernelFlags, nullptr), 4);

    ref_ptr<ByteArrayArray> flags = zim::newByteArrayArray();
    ASSERT_TRUE(view.prepareDepth());
    ASSERT_TRUE(
        m_viewer->selectVisibleTriangles(m_ball, true, meshes, region, flags, nullptr, m_records, m_textures, m_seams));
    ASSERT_EQ(flags->count(), 2);
    EXPECT_EQ(flags->at(0)->at(0), 1);
    EXPECT_EQ(flags->at(0)->at(1), 1);
    EXPECT_EQ(flags->at(1)->at(0), 0);
    EXPECT_EQ(flags->at(1)->at(1), 0);
    ASSERT_EQ(m_records.size(), 2);
    for (const ref_ptr<TqTriangleIndex>& r : m_records) EXPECT_EQ(r->meshIndex, 0);
    // Only the mesh with recorded triangles has a texture entry.
    EXPECT_EQ(m_textures.keys(), QList<int>{0});
}

TEST_F(BackupViewer, ReportsProgressInFiveRangesAndClosesThem)
{
    addQuadA();
    addQuadB(10, 0);
    addBackdrop("d", -30, -30, 50, 40, -0.01);
    showViewer();
    std::vector<std::string> log;
    BackupView view = m_viewer->backupView();
    view.makeProgress = [&log]() -> IZimProgress* { return new RecordingProgress(&log); };
    BackupInformation backup(view);
    ASSERT_TRUE(backup.generate(out("progress.png"), m_records, m_textures, m_seams)) << qPrintable(backup.error());
    const std::vector<std::string> expected = {"text we are generating backup informations...",
                                               "push 0.2",
                                               "step 0.5 x2",
                                               "pop",
                                               "push 0.2",
                                               "step 1 x1",
                                               "pop",
                                               "push 0.3",
                                               "step 0.25 x4",
                                               "pop",
                                               "push 0.2",
                                               "step 1 x1",
                                               "pop",
                                               "push 0.1",
                                               "step 1 x1",
                                               "step 0.01 x1",
                                               "pop",
                                               "deleted"};
    EXPECT_EQ(log, expected);

    // A failure closes what it opened: nothing visible when the camera looks away.
    log.clear();
    ASSERT_EQ(m_ball->setLookAt({10, 5, 60}, {10, 5, 100}, {0, 1, 0}), 0);
    m_records.clear();
    BackupView awayView = m_viewer->backupView();
    awayView.makeProgress = view.makeProgress;
    BackupInformation looking(awayView);
    EXPECT_FALSE(looking.generate(out("away.png"), m_records, m_textures, m_seams));
    EXPECT_FALSE(looking.error().isEmpty());
    EXPECT_FALSE(QFile::exists(out("away.png")));
    EXPECT_TRUE(m_records.isEmpty());
    const std::vector<std::string> closed = {"text we are generating backup informations...", "push 0.2", "pop",
                                             "deleted"};
    EXPECT_EQ(log, closed);
}

TEST_F(BackupViewer, FailsWithoutAPictureWhenNothingCanBePaintedOrSaved)
{
    addQuadA();
    addQuadB(10, 0);
    addBackdrop("d", -30, -30, 50, 40, -0.01);
    showViewer();
    // A folder that does not exist, and a "folder" that is a file (refused even for root).
    writeFile(out("plain"), "x");
    for (const QString& path : {out("missing/dir/backup.png"), out("plain/backup.png")}) {
        m_records.clear();
        EXPECT_FALSE(m_viewer->generateBackupInformation(path, m_records, m_textures, m_seams)) << qPrintable(path);
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_TRUE(m_viewer->lastBackupError().contains(QDir::toNativeSeparators(path)))
            << qPrintable(m_viewer->lastBackupError());
    }
    // Every mesh asleep: nothing to back up, the containers untouched.
    ASSERT_EQ(m_mm->sleepMesh(mesh(0), nullptr), 0);
    ASSERT_EQ(m_mm->sleepMesh(mesh(1), nullptr), 0);
    QVector<ref_ptr<TqTriangleIndex>> records;
    QMap<int, ref_ptr<IZimImage>> textures;
    EXPECT_FALSE(m_viewer->generateBackupInformation(out("asleep.png"), records, textures, m_seams));
    EXPECT_TRUE(records.isEmpty() && textures.isEmpty());
    EXPECT_FALSE(QFile::exists(out("asleep.png")));
    EXPECT_FALSE(m_viewer->lastBackupError().isEmpty());
}

TEST_F(BackupViewer, AMeshWhoseTextureIsMissingIsNotPaintedGray)
{
    addQuadA();
    addBackdrop("d", -30, -30, 50, 40, -0.01);
    // The texture goes away after the project opened: the file is gone when it is read again.
    ASSERT_TRUE(QFile::remove(out("tex_a.png")));
    ASSERT_EQ(m_mm->releaseMesh(mesh(0)), 0);
    showViewer();
    EXPECT_FALSE(m_viewer->generateBackupInformation(out("notex.png"), m_records, m_textures, m_seams));
    EXPECT_FALSE(QFile::exists(out("notex.png")));
    EXPECT_TRUE(m_viewer->lastBackupError().contains("tex_a.png")) << qPrintable(m_viewer->lastBackupError());
    // The selection itself succeeded: its records and the null texture stay for the caller.
    EXPECT_EQ(m_records.size(), 2);
    ASSERT_TRUE(m_textures.contains(0));
    EXPECT_FALSE(m_textures.value(0));
}

namespace {
QStringList& backupLog()
{
    static QStringList lines;
    return lines;
}
void keepBackupMessage(QtMsgType, const QMessageLogContext&, const QString& message) { backupLog() << message; }
}  // namespace

TEST_F(BackupViewer, AMeshWithoutATextureIsLeftOutByNameNotListedAsAnUnreadableTexture)
{
    // The backdrop (mesh 1) has texture coordinates but no texture; the caller's texture map
    // already holds it without an image.
    addQuadA();
    addBackdrop("d", -30, -30, 50, 40, -0.01);
    showViewer();
    m_textures.insert(1, ref_ptr<IZimImage>());
    backupLog().clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepBackupMessage);
    const bool made = m_viewer->generateBackupInformation(out("mixed.png"), m_records, m_textures, m_seams);
    qInstallMessageHandler(previous);
    EXPECT_TRUE(made) << qPrintable(m_viewer->lastBackupError());
    const QString log = backupLog().join("\n");
    EXPECT_TRUE(log.contains("Meshes without a texture, left out: d")) << qPrintable(log);
    EXPECT_FALSE(log.contains("cannot be read")) << qPrintable(log);
}
