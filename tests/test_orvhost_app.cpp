// The built orvhost as a user or a script starts it: --create from the sample generator's files
// (reopened through the kernel), --create with missing and broken files, runs without a display,
// and the real window (--screenshot) with a project, with a project that does not open and
// without the core plug-in.
#include <gtest/gtest.h>

#include <OrvKernel64t.h>

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

#ifdef ORV_HAVE_MAIN_FRAME
constexpr bool kHaveMainFrame = true;
#else
constexpr bool kHaveMainFrame = false;
#endif

struct ProcessRun {
    int exitCode = -1;
    bool finished = false;
    QString out;
    QString err;
};

ProcessRun run(const QString& program, const QStringList& args,
               QProcessEnvironment env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    ProcessRun r;
    if (!p.waitForStarted(30000)) return r;
    r.finished = p.waitForFinished(120000);
    if (!r.finished) p.kill();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

QString host() { return orvtest::binDir() + QStringLiteral("/orvhost"); }

// The sample generator's files (three tiles, no project file), made once for all tests.
class HostApp : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        sampleDir = new QTemporaryDir();
        const ProcessRun r = run(orvtest::binDir() + QStringLiteral("/orv-sample"),
                          {QStringLiteral("--out"), sampleDir->path(), QStringLiteral("--tiles"), QStringLiteral("3"),
                           QStringLiteral("--triangles"), QStringLiteral("600"), QStringLiteral("--photo-size"),
                           QStringLiteral("320x240"), QStringLiteral("--texture-size"), QStringLiteral("64"),
                           QStringLiteral("--quiet"), QStringLiteral("--no-project")});
        sampleOk = r.finished && r.exitCode == 0;
        for (int i = 0; i < 3; ++i) {
            meshes << QStringLiteral("%1/meshes/tile_%2.obj").arg(sampleDir->path()).arg(i, 3, 10, QLatin1Char('0'));
            photos << QStringLiteral("%1/photos/photo_%2.jpg").arg(sampleDir->path()).arg(i, 3, 10, QLatin1Char('0'));
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
    const ProcessRun r = run(host(), createArgs(project, meshes, photos) +
                                  QStringList{QStringLiteral("--labels"), QStringLiteral("north"),
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
    if (!kHaveMainFrame) GTEST_SKIP() << "mainwindow/COrvMainFrame.cpp was not in the tree at configure time";
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
    if (!kHaveMainFrame) GTEST_SKIP() << "mainwindow/COrvMainFrame.cpp was not in the tree at configure time";
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
    if (!kHaveMainFrame) GTEST_SKIP() << "mainwindow/COrvMainFrame.cpp was not in the tree at configure time";
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

}  // namespace
