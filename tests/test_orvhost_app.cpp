// The built orvhost as a user or a script starts it: --create from the sample generator's files
// (reopened through the kernel), --create with missing and broken files, runs without a display,
// the real window (--screenshot) with a project, with a project that does not open and
// without the core plug-in, and the backup picture (--backup) of mapped projects, with the
// failures a script must be able to rely on (non-zero exit, a message, no file).
#include <OrvKernel64t.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <functional>
#include <ostream>

#include "TestSupport.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using orvtest::ProcessRun;

ProcessRun run(const QString& program, const QStringList& args,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    return orvtest::runProcess(program, args, env);
}

QString host() { return orvtest::binDir() + QStringLiteral("/orvhost"); }

// The sample generator's files (three tiles, no project file), made once for all tests.
class HostApp : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        sampleDir = new QTemporaryDir();
        const ProcessRun r =
            run(orvtest::binDir() + QStringLiteral("/orv-sample"),
                {QStringLiteral("--out"), sampleDir->path(), QStringLiteral("--tiles"), QStringLiteral("3"),
                 QStringLiteral("--triangles"), QStringLiteral("600"), QStringLiteral("--photo-size"),
                 QStringLiteral("320x240"), QStringLiteral("--texture-size"), QStringLiteral("64"),
                 QStringLiteral("--quiet"), QStringLiteral("--no-project")});
        sampleOk = r.finished && r.exitCode == 0;
        for (int i = 0; i < 3; ++i) {
            meshes << QStringLiteral("%1/meshes/tile_%2.obj").arg(sampleDir->path()).arg(i, 3, 10, QLatin1Char('0'));
            photos << QStringLiteral("%1/photos/tile_%2.jpg").arg(sampleDir->path()).arg(i, 3, 10, QLatin1Char('0'));
        }
    }
    static void TearDownTestSuite()
    {
        delete sampleDir;
        sampleDir = nullptr;
        meshes.clear();
        photos.clear();
    }
    void SetUp() override
    {
        ASSERT_TRUE(QFileInfo(host()).isExecutable()) << "build orvhost first";
        ASSERT_TRUE(sampleOk) << "orv-sample did not write the sample";
        ASSERT_TRUE(tmp.isValid());
    }
    QString path(const QString& rel) const { return QDir(tmp.path()).filePath(rel); }

    static QStringList createArgs(const QString& project, const QStringList& m, const QStringList& p)
    {
        return QStringList{QStringLiteral("--create"), project, QStringLiteral("--meshes")} + m +
               QStringList{QStringLiteral("--photos")} + p;
    }

    // A project of the sample's files, written by orvhost itself.
    QString sampleProject()
    {
        const QString project = path(QStringLiteral("sample.orvproj"));
        const ProcessRun r = run(host(), createArgs(project, meshes, photos));
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return project;
    }

    static QTemporaryDir* sampleDir;
    static bool sampleOk;
    static QStringList meshes, photos;
    QTemporaryDir tmp;
};

QTemporaryDir* HostApp::sampleDir = nullptr;
bool HostApp::sampleOk = false;
QStringList HostApp::meshes, HostApp::photos;

TEST_F(HostApp, CreateFromTheSampleFilesAndReopen)
{
    const QString project = path(QStringLiteral("made.orvproj"));
    const ProcessRun r = run(
        host(), createArgs(project, meshes, photos) + QStringList{QStringLiteral("--labels"), QStringLiteral("north"),
                                                                  QStringLiteral("middle"), QStringLiteral("south")});
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("3 images"))) << r.out.toStdString();

    const ref_ptr<IZimMM> mm = zim::getMM();
    ASSERT_EQ(mm->openProject(project, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_EQ(mm->imageCount(), 3);
    QStringList missing;
    EXPECT_EQ(mm->getMissingFiles(missing), 0);
    const char* labels[] = {"north", "middle", "south"};
    for (int i = 0; i < mm->imageCount(); ++i) {
        ref_ptr<IZimImageEntry> entry;
        ASSERT_EQ(mm->getImageEntry(entry, i), 0);
        // Mesh i with photo i, as given.
        EXPECT_EQ(QFileInfo(entry->meshPath()).canonicalFilePath(), QFileInfo(meshes[i]).canonicalFilePath());
        EXPECT_EQ(QFileInfo(entry->photoPath()).canonicalFilePath(), QFileInfo(photos[i]).canonicalFilePath());
        EXPECT_EQ(entry->label(), QString::fromLatin1(labels[i]));
        ref_ptr<IZimMesh> mesh;
        ASSERT_EQ(mm->getMeshAt(mesh, i), 0);
        EXPECT_GT(mesh->meshTriangleCount(), 0);
    }
    mm->closeProject();
}

TEST_F(HostApp, CreateWithAMissingOrBrokenFileFailsNamingIt)
{
    const QString project = path(QStringLiteral("p.orvproj"));
    const QString gone = path(QStringLiteral("gone_photo.jpg"));
    ProcessRun r = run(host(), createArgs(project, meshes.mid(0, 2), {photos[0], gone}));
    ASSERT_TRUE(r.finished);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("gone_photo.jpg"))) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(project));

    // An OBJ whose face names a vertex that is not there.
    const QString broken = path(QStringLiteral("broken_tile.obj"));
    ASSERT_TRUE(orvtest::writeFile(broken, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 7\n"));
    r = run(host(), createArgs(project, {meshes[0], broken}, photos.mid(0, 2)));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("broken_tile.obj"))) << r.err.toStdString();
    // The half-made project goes, with the cache made for its first photo.
    EXPECT_FALSE(QFileInfo::exists(project));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("p.orvcache"))));

    // A photo that is not an image.
    const QString fake = path(QStringLiteral("fake_photo.jpg"));
    ASSERT_TRUE(orvtest::writeFile(fake, "not a jpeg at all"));
    r = run(host(), createArgs(project, meshes.mid(0, 1), {fake}));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("fake_photo.jpg"))) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(project));

    // A file already there is never replaced.
    ASSERT_TRUE(orvtest::writeFile(project, "keep me"));
    r = run(host(), createArgs(project, meshes.mid(0, 1), photos.mid(0, 1)));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("p.orvproj"))) << r.err.toStdString();
    EXPECT_EQ(orvtest::readFile(project), QByteArray("keep me"));

    // Counts that do not pair up.
    r = run(host(), createArgs(project, meshes, photos.mid(0, 2)));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("3 meshes but 2 photos"))) << r.err.toStdString();
}

TEST_F(HostApp, CreateAndHelpNeedNoDisplay)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    ProcessRun r = run(host(), {QStringLiteral("--help")}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("--create"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("--screenshot")));

    const QString project = path(QStringLiteral("nodisplay.orvproj"));
    r = run(host(), createArgs(project, meshes.mid(1, 1), photos.mid(1, 1)), env);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(project));
}

// Distinct colours of a picture (every pixel of a grid of samples).
int distinctColours(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y) & 0xffffff);
    return colours.size();
}

// The size orvhost says it wrote.
QSize reportedSize(const QString& out)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("screenshot (\\d+)x(\\d+) written")).match(out);
    return m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
}

TEST_F(HostApp, ScreenshotOfTheWindowWithASampleProject)
{
    const QString project = sampleProject();
    const QString shot = path(QStringLiteral("window.png"));
    const ProcessRun r = run(host(), {project, QStringLiteral("--screenshot"), shot});
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    const QSize size = reportedSize(r.out);
    EXPECT_EQ(image.size(), size) << r.out.toStdString();
    // The frame is at least a quarter of the 1920x1200 screen in each direction.
    EXPECT_GE(image.width(), 1920 / 4);
    EXPECT_GE(image.height(), 1200 / 4);
    // Menus, toolbar, docks and status bar: text and backgrounds in several colours.
    EXPECT_GE(distinctColours(image), 8);
}

TEST_F(HostApp, AProjectThatDoesNotOpenLeavesAnEmptyWindow)
{
    const QString project = path(QStringLiteral("garbage.orvproj"));
    ASSERT_TRUE(orvtest::writeFile(project, QByteArray(4096, 'g')));
    const QString shot = path(QStringLiteral("empty.png"));
    const ProcessRun r = run(host(), {project, QStringLiteral("--screenshot"), shot});
    ASSERT_TRUE(r.finished);
    // Told on stderr, not in a box nobody can close; a scripted run reports the failure.
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("garbage.orvproj"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("could not be opened"))) << r.err.toStdString();
    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(distinctColours(image), 4);

    // A picture that cannot be written.
    const ProcessRun bad = run(host(), {QStringLiteral("--screenshot"), path(QStringLiteral("no/such/folder/s.png"))});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("s.png"))) << bad.err.toStdString();
}

TEST_F(HostApp, WithoutTheCorePluginTheWindowStillComesUp)
{
    // A copy of the program in a folder whose plugins/ is empty; it finds the libraries through
    // its run path.
    const QString appDir = path(QStringLiteral("app"));
    ASSERT_TRUE(QDir().mkpath(appDir + QStringLiteral("/plugins")));
    const QString copy = appDir + QStringLiteral("/orvhost");
    ASSERT_TRUE(QFile::copy(host(), copy));
    const QString shot = path(QStringLiteral("bare.png"));
    const QString project = sampleProject();
    const ProcessRun r = run(copy, {project, QStringLiteral("--screenshot"), shot});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("core.orvplugin"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("unavailable"))) << r.err.toStdString();
    EXPECT_FALSE(QImage(shot).isNull());
}

// ---- --backup ------------------------------------------------------------------------------

// Share of the pixels that are not the backup's background gray (128, 128, 128).
double paintedShare(const QImage& image)
{
    if (image.isNull()) return 0.0;
    long long painted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffff) != 0x808080) ++painted;
    return double(painted) / (double(image.width()) * image.height());
}

// Share of the pixels in which two pictures of one size differ.
double differingShare(const QImage& a, const QImage& b)
{
    if (a.isNull() || a.size() != b.size()) return 1.0;
    long long differ = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xffffff) != (b.pixel(x, y) & 0xffffff)) ++differ;
    return double(differ) / (double(a.width()) * a.height());
}

class HostBackup : public HostApp {
protected:
    void SetUp() override { HostApp::SetUp(); }

    // A project of photo/mesh pairs with every photograph mapped (the meshes a backup paints),
    // written through the kernel; `change` runs on it before it is saved.
    QString mappedProject(const QString& name, const QStringList& m, const QStringList& p,
                          const std::function<void(IZimMM*)>& change = {})
    {
        const QString project = path(name);
        const ref_ptr<IZimMM> mm = zim::getMM();
        EXPECT_EQ(mm->createProject(project), 0) << mm->lastError().toStdString();
        for (int i = 0; i < m.size(); ++i) {
            const int index = mm->addImage(p[i], m[i], QString());
            EXPECT_GE(index, 0) << mm->lastError().toStdString();
            mm->setImageMapped(index, true);
        }
        if (change) change(mm.get());
        EXPECT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
        mm->closeProject();
        return project;
    }

    // A flat textured grid of 6 x 6 squares in the plane z = 0, with a photograph of the same
    // name.
    void writeFlatGrid(const QString& name)
    {
        QImage photo(64, 48, QImage::Format_RGB32);
        photo.fill(QColor(200, 90, 30));
        ASSERT_TRUE(photo.save(path(name + QStringLiteral(".jpg"))));
        ASSERT_TRUE(
            QFile::copy(orvtest::dataPath(QStringLiteral("quad_tex.png")), path(name + QStringLiteral("_tex.png"))));
        ASSERT_TRUE(orvtest::writeFile(path(name + QStringLiteral(".mtl")),
                                       "newmtl m\nKd 1 1 1\nmap_Kd " + name.toUtf8() + "_tex.png\n"));
        const int n = 6;
        QByteArray obj = "mtllib " + name.toUtf8() + ".mtl\n";
        for (int y = 0; y <= n; ++y)
            for (int x = 0; x <= n; ++x)
                obj += QStringLiteral("v %1 %2 0\nvt %3 %4\n")
                           .arg(x)
                           .arg(y)
                           .arg(double(x) / n)
                           .arg(double(y) / n)
                           .toUtf8();
        obj += "usemtl m\n";
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const int a = y * (n + 1) + x + 1, b = a + 1, c = a + n + 2, d = a + n + 1;
                obj +=
                    QStringLiteral("f %1/%1 %2/%2 %3/%3\nf %1/%1 %3/%3 %4/%4\n").arg(a).arg(b).arg(c).arg(d).toUtf8();
            }
        ASSERT_TRUE(orvtest::writeFile(path(name + QStringLiteral(".obj")), obj));
    }

    static QStringList backupArgs(const QString& project, const QString& out, const QStringList& more = {})
    {
        return QStringList{project, QStringLiteral("--backup"), out, QStringLiteral("--size"),
                           QStringLiteral("160x160")} +
               more;
    }

    // A failed run: non-zero exit, the reason on stderr, and no file where the picture was to go.
    void expectFailure(const ProcessRun& r, const QString& out, const char* reason)
    {
        ASSERT_TRUE(r.finished);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(reason))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("orvhost: "))) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out)) << out.toStdString();
        EXPECT_TRUE(r.out.trimmed().isEmpty() || !r.out.contains(QStringLiteral("written"))) << r.out.toStdString();
    }
};

TEST_F(HostBackup, PictureOfTheSampleFromAboveAndFromBelow)
{
    const QString project = mappedProject(QStringLiteral("mapped.orvproj"), meshes.mid(0, 2), photos.mid(0, 2));
    // From straight above the two fitted tiles fill a good part of the square view.
    const QString top = path(QStringLiteral("top.png"));
    ProcessRun r = run(host(), backupArgs(project, top, {QStringLiteral("--view"), QStringLiteral("0")}));
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QRegularExpressionMatch said =
        QRegularExpression(
            QStringLiteral("^orvhost: backup 160x160 of (\\d+) triangles in (\\d+) meshes written to (.+)$"),
            QRegularExpression::MultilineOption)
            .match(r.out);
    ASSERT_TRUE(said.hasMatch()) << r.out.toStdString();
    EXPECT_GT(said.captured(1).toInt(), 0);
    EXPECT_EQ(said.captured(2).toInt(), 2);
    EXPECT_EQ(said.captured(3).trimmed(), QDir::toNativeSeparators(top));
    const QImage fromTop(top);
    ASSERT_FALSE(fromTop.isNull());
    EXPECT_EQ(fromTop.size(), QSize(160, 160));
    // A picture that is mostly the gray background would mean little was painted.
    EXPECT_GT(paintedShare(fromTop), 0.2);

    // From below (nothing culls the back of the terrain) the same tiles make another picture.
    const QString bottom = path(QStringLiteral("bottom.png"));
    r = run(host(), backupArgs(project, bottom, {QStringLiteral("--view"), QStringLiteral("1")}));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QImage fromBelow(bottom);
    ASSERT_EQ(fromBelow.size(), QSize(160, 160));
    EXPECT_GT(paintedShare(fromBelow), 0.2);
    EXPECT_GT(differingShare(fromTop, fromBelow), 0.1);
}

TEST_F(HostBackup, AProjectJustCreatedFromTexturedMeshesTakesABackup)
{
    // No photograph is mapped yet: the textures are there all the same.
    const QString project = path(QStringLiteral("fresh.orvproj"));
    ProcessRun r = run(host(), createArgs(project, meshes.mid(0, 1), photos.mid(0, 1)));
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString out = path(QStringLiteral("fresh.png"));
    r = run(host(), backupArgs(project, out, {QStringLiteral("--view"), QStringLiteral("0")}));
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("in 1 meshes written to"))) << r.out.toStdString();
    const QImage picture(out);
    ASSERT_EQ(picture.size(), QSize(160, 160));
    EXPECT_GT(paintedShare(picture), 0.1);
}

TEST_F(HostBackup, FailuresSayWhyAndLeaveNoFile)
{
    const QString project = mappedProject(QStringLiteral("mapped.orvproj"), meshes.mid(0, 1), photos.mid(0, 1));

    // The output cannot be written: said before any window is made.
    QString out = path(QStringLiteral("no/such/folder/b.png"));
    expectFailure(run(host(), backupArgs(project, out)), out, "does not exist");
    // Below a regular file (which stops root too, unlike permission bits).
    ASSERT_TRUE(orvtest::writeFile(path(QStringLiteral("afile")), "x"));
    out = path(QStringLiteral("afile/x.png"));
    expectFailure(run(host(), backupArgs(project, out)), out, "is not a folder");
    EXPECT_EQ(orvtest::readFile(path(QStringLiteral("afile"))), QByteArray("x"));

    // Every mapped mesh asleep: nothing to paint.
    const QString asleep =
        mappedProject(QStringLiteral("asleep.orvproj"), meshes.mid(1, 1), photos.mid(1, 1), [](IZimMM* mm) {
            ref_ptr<IZimMesh> mesh;
            ASSERT_EQ(mm->getMeshAt(mesh, 0), 0);
            ASSERT_EQ(mm->sleepMesh(mesh, nullptr), 0);
        });
    {
        const ref_ptr<IZimMM> mm = zim::getMM();
        ASSERT_EQ(mm->openProject(asleep, nullptr), 0);
        ASSERT_TRUE(mm->isMeshAsleepById(0)) << "the sleep state was not stored";
        mm->closeProject();
    }
    out = path(QStringLiteral("asleep.png"));
    expectFailure(run(host(), backupArgs(asleep, out)), out, "asleep");

    // A flat grid seen edge-on from the front: the view holds no triangle of it.
    writeFlatGrid(QStringLiteral("flat"));
    const QString flat = mappedProject(QStringLiteral("flat.orvproj"), {path(QStringLiteral("flat.obj"))},
                                       {path(QStringLiteral("flat.jpg"))});
    out = path(QStringLiteral("edge.png"));
    expectFailure(run(host(), backupArgs(flat, out, {QStringLiteral("--view"), QStringLiteral("2")})), out,
                  "none of the textured meshes");
    // From above the same grid fills much of the view.
    out = path(QStringLiteral("above.png"));
    const ProcessRun above = run(host(), backupArgs(flat, out, {QStringLiteral("--view"), QStringLiteral("0")}));
    EXPECT_EQ(above.exitCode, 0) << above.err.toStdString();
    EXPECT_GT(paintedShare(QImage(out)), 0.15);
}

}  // namespace
