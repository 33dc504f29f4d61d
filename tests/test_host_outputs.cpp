// What orvhost writes, and that a run nobody watches never waits for anyone: a backup or a
// screenshot never replaces one of the project's own files nor a special file (a FIFO made
// here), the image writer refuses special files and says the system's reason when a write
// fails, a headless run whose first photograph is damaged or gone ends with the reason on
// stderr, and a backup with an unreadable texture or transparency map says what it left out
// and exits with status 3.
#include <CoreBackup.h>
#include <OrvKernel64t.h>
#include <ZimGeometry64t.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <ostream>

#include "../platform/ZimGeometry64t/ImageWriteErrors.h"
#include "TestSupport.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using orvtest::ProcessRun;

// A run that does not end within the limit counts as a hang.
ProcessRun run(const QString& program, const QStringList& args, int limitMs = 90000)
{
    return orvtest::runProcess(program, args, QProcessEnvironment::systemEnvironment(), limitMs);
}

QString host() { return orvtest::binDir() + QStringLiteral("/orvhost"); }

bool isFifo(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

bool makeFifo(const QString& path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }

// A noisy picture: its PNG does not compress to a few bytes.
ref_ptr<IZimImage> noisyImage(int side)
{
    ref_ptr<IZimImage> image = zim::newZimImage();
    if (!image->imageCreate(side, side, 24, 1)) return nullptr;
    unsigned state = 12345;
    for (int y = 0; y < side; ++y) {
        unsigned char* row = image->imageData(y);
        for (int x = 0; x < side * 3; ++x) {
            state = state * 1103515245u + 12345u;
            row[x] = static_cast<unsigned char>(state >> 16);
        }
    }
    return image;
}

// ---- the image writer --------------------------------------------------------------------------

TEST(ImageWriter, RefusesAFifoAndLeavesIt)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString fifo = tmp.filePath(QStringLiteral("pipe.png"));
    ASSERT_TRUE(makeFifo(fifo));
    ref_ptr<IZimImage> image = noisyImage(16);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->imageSave(fifo, 1), -1);
    EXPECT_TRUE(image->imageLastError().contains(QStringLiteral("not a regular file")))
        << image->imageLastError().toStdString();
    EXPECT_TRUE(isFifo(fifo));
    // A regular file in the same place is replaced as before.
    const QString file = tmp.filePath(QStringLiteral("file.png"));
    ASSERT_TRUE(orvtest::writeFile(file, "old"));
    EXPECT_EQ(image->imageSave(file, 1), 0) << image->imageLastError().toStdString();
    EXPECT_EQ(QImage(file).size(), QSize(16, 16));
}

TEST(ImageWriter, AFailedWriteGivesTheSystemsReason)
{
    using zim::detail::imageWriteFailureText;
    // The file's reason beats the writer's vague one; the system's error fills in when neither
    // knows; never the vague text alone.
    EXPECT_EQ(imageWriteFailureText(QFileDevice::WriteError, QStringLiteral("No space left on device"),
                                    QStringLiteral("Unknown error"), 0),
              QStringLiteral("No space left on device"));
    EXPECT_EQ(imageWriteFailureText(QFileDevice::NoError, QStringLiteral("Unknown error"),
                                    QStringLiteral("Unknown error"), ENOSPC),
              QString::fromLocal8Bit(std::strerror(ENOSPC)));
    EXPECT_EQ(imageWriteFailureText(QFileDevice::NoError, QString(), QStringLiteral("Image is empty"), ENOSPC),
              QStringLiteral("Image is empty"));
    EXPECT_FALSE(imageWriteFailureText(QFileDevice::UnspecifiedError, QStringLiteral("Unknown error"),
                                       QStringLiteral("Unknown error"), 0)
                     .contains(QStringLiteral("Unknown error")));

    // A real write cut short: a file size limit makes the system refuse the bytes (EFBIG), as
    // a full disk does (ENOSPC).
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    // BMP: 192 KiB whatever the pixels. (Qt's PNG writer leaks a row buffer when its device
    // fails, which the leak checker would report.)
    ref_ptr<IZimImage> image = noisyImage(256);
    ASSERT_TRUE(image);
    const QString path = tmp.filePath(QStringLiteral("big.bmp"));
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 8192;
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int rc = image->imageSave(path, 1);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(rc, -1);
    const QString error = image->imageLastError();
    EXPECT_TRUE(error.contains(QString::fromLocal8Bit(std::strerror(EFBIG)))) << error.toStdString();
    EXPECT_FALSE(error.contains(QStringLiteral("Unknown error"))) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path));
}

// ---- the project's own files -------------------------------------------------------------------

TEST(BackupTarget, SpecialFilesAndTheProjectsOwnFilesAreRefused)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString fifo = tmp.filePath(QStringLiteral("pipe.png"));
    ASSERT_TRUE(makeFifo(fifo));
    EXPECT_EQ(orvCore::backupTargetProblem(fifo), orvCore::BackupProblem::NotRegularFile);
    EXPECT_TRUE(orvCore::backupProblemText(orvCore::BackupProblem::NotRegularFile, fifo).contains(fifo));

    const QString a = tmp.filePath(QStringLiteral("a.png"));
    ASSERT_TRUE(orvtest::writeFile(a, "a"));
    ASSERT_TRUE(QDir().mkpath(tmp.filePath(QStringLiteral("sub"))));
    const QString link = tmp.filePath(QStringLiteral("sub/link.png"));
    ASSERT_TRUE(QFile::link(a, link));
    const QString hard = tmp.filePath(QStringLiteral("hard.png"));
    ASSERT_EQ(::link(QFile::encodeName(a).constData(), QFile::encodeName(hard).constData()), 0);
    EXPECT_TRUE(orvCore::isSameFile(a, link));
    EXPECT_TRUE(orvCore::isSameFile(a, hard));
    EXPECT_TRUE(orvCore::isSameFile(a, tmp.filePath(QStringLiteral("sub/../a.png"))));
    ASSERT_TRUE(orvtest::writeFile(tmp.filePath(QStringLiteral("b.png")), "a"));
    EXPECT_FALSE(orvCore::isSameFile(a, tmp.filePath(QStringLiteral("b.png"))));
    EXPECT_FALSE(orvCore::isSameFile(a, tmp.filePath(QStringLiteral("missing.png"))));
    // Without an open project nothing is the project's own.
    EXPECT_FALSE(orvCore::isProjectOwnFile(nullptr, a));
}

// ---- the host ----------------------------------------------------------------------------------

// Two tiles of the sample generator in a project written by orvhost itself, fresh for every
// test (the tests damage its files).
class HostOutputs : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFileInfo(host()).isExecutable()) << "build orvhost first";
        ASSERT_TRUE(tmp.isValid());
        const ProcessRun made =
            run(orvtest::binDir() + QStringLiteral("/orv-sample"),
                {QStringLiteral("--out"), tmp.path(), QStringLiteral("--tiles"), QStringLiteral("2"),
                 QStringLiteral("--triangles"), QStringLiteral("400"), QStringLiteral("--photo-size"),
                 QStringLiteral("160x120"), QStringLiteral("--texture-size"), QStringLiteral("64"),
                 QStringLiteral("--quiet"), QStringLiteral("--no-project")});
        ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
        project = path(QStringLiteral("p.orvproj"));
        const ProcessRun created = run(host(), {QStringLiteral("--create"), project, QStringLiteral("--meshes"),
                                                mesh(0), mesh(1), QStringLiteral("--photos"), photo(0), photo(1)});
        ASSERT_EQ(created.exitCode, 0) << created.err.toStdString();
    }
    QString path(const QString& rel) const { return QDir(tmp.path()).filePath(rel); }
    QString mesh(int i) const { return path(QStringLiteral("meshes/tile_%1.obj").arg(i, 3, 10, QLatin1Char('0'))); }
    QString texture(int i) const { return path(QStringLiteral("meshes/tile_%1.png").arg(i, 3, 10, QLatin1Char('0'))); }
    QString photo(int i) const { return path(QStringLiteral("photos/tile_%1.jpg").arg(i, 3, 10, QLatin1Char('0'))); }

    ProcessRun backup(const QString& out, const QStringList& more = {})
    {
        return run(host(), QStringList{project, QStringLiteral("--backup"), out, QStringLiteral("--size"),
                                       QStringLiteral("160x160"), QStringLiteral("--view"), QStringLiteral("0")} +
                               more);
    }

    QTemporaryDir tmp;
    QString project;
};

TEST_F(HostOutputs, ABackupOrScreenshotNeverReplacesAProjectFile)
{
    struct Case {
        const char* what;
        QString target;
    };
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("elsewhere"))));
    const QString link = path(QStringLiteral("elsewhere/looks-new.jpg"));
    ASSERT_TRUE(QFile::link(photo(0), link));
    const Case cases[] = {
        {"the first photograph", photo(0)},
        {"a photograph spelled through ..", path(QStringLiteral("meshes/../photos/tile_001.jpg"))},
        {"a link to a photograph", link},
        {"a texture", texture(1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray before = orvtest::readFile(c.target);
        ASSERT_FALSE(before.isEmpty());
        const ProcessRun r = backup(c.target);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(QStringLiteral("project's own files"))) << r.err.toStdString();
        EXPECT_EQ(orvtest::readFile(c.target), before);
    }
    // The project file itself, said before any window is made.
    const QByteArray stored = orvtest::readFile(project);
    ProcessRun r = backup(project + QStringLiteral(".png"));  // a new name is fine ...
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString projectLink = path(QStringLiteral("elsewhere/p.png"));
    ASSERT_TRUE(QFile::link(project, projectLink));
    r = backup(projectLink);  // ... a link to the project is not
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("project's own files"))) << r.err.toStdString();
    EXPECT_EQ(orvtest::readFile(project), stored);

    // A screenshot onto a photograph.
    const QByteArray photoBytes = orvtest::readFile(photo(1));
    r = run(host(), {project, QStringLiteral("--screenshot"), photo(1)});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("project's own files"))) << r.err.toStdString();
    EXPECT_EQ(orvtest::readFile(photo(1)), photoBytes);
}

TEST_F(HostOutputs, ABackupOrScreenshotOntoAFifoIsRefused)
{
    const QString fifo = path(QStringLiteral("pipe.png"));
    ASSERT_TRUE(makeFifo(fifo));
    ProcessRun r = backup(fifo);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("not a regular file"))) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("written"))) << r.out.toStdString();
    EXPECT_TRUE(isFifo(fifo));

    r = run(host(), {project, QStringLiteral("--screenshot"), fifo});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("not a regular file"))) << r.err.toStdString();
    EXPECT_TRUE(isFifo(fifo));
}

TEST_F(HostOutputs, AHeadlessRunWithADamagedOrMissingFirstPhotoEnds)
{
    // Damaged: the first 100 bytes of the JPEG.
    const QByteArray whole = orvtest::readFile(photo(0));
    ASSERT_TRUE(orvtest::writeFile(photo(0), whole.left(100)));
    ProcessRun r = backup(path(QStringLiteral("damaged.png")));
    ASSERT_TRUE(r.finished) << "the run hung";
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("cannot be shown"))) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("damaged.png"))).isFile());

    r = run(host(), {project, QStringLiteral("--screenshot"), path(QStringLiteral("damaged-shot.png"))});
    ASSERT_TRUE(r.finished) << "the run hung";
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("cannot be shown"))) << r.err.toStdString();

    // Gone.
    ASSERT_TRUE(QFile::remove(photo(0)));
    r = backup(path(QStringLiteral("missing.png")));
    ASSERT_TRUE(r.finished) << "the run hung";
    EXPECT_TRUE(r.err.contains(QStringLiteral("tile_000.jpg"))) << r.err.toStdString();
    r = run(host(), {project, QStringLiteral("--screenshot"), path(QStringLiteral("missing-shot.png"))});
    ASSERT_TRUE(r.finished) << "the run hung";
    EXPECT_TRUE(r.err.contains(QStringLiteral("tile_000.jpg"))) << r.err.toStdString();
}

TEST_F(HostOutputs, ABackupWithAnUnreadableTextureIsPartialAndSaysWhat)
{
    ASSERT_TRUE(orvtest::writeFile(texture(1), "not a picture"));
    const QString out = path(QStringLiteral("partial.png"));
    const ProcessRun r = backup(out);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    // The picture is there, the one line for scripts says so, and stderr names what is missing.
    EXPECT_TRUE(r.out.contains(QStringLiteral("in 1 meshes written to"))) << r.out.toStdString();
    EXPECT_FALSE(QImage(out).isNull());
    EXPECT_TRUE(r.err.contains(QStringLiteral("incomplete"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("tile_001.obj"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QDir::toNativeSeparators(texture(1)))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("tile_000.obj"))) << r.err.toStdString();

    // Nothing readable at all stays a failure (1), with no picture.
    ASSERT_TRUE(orvtest::writeFile(texture(0), "not a picture either"));
    const QString none = path(QStringLiteral("none.png"));
    const ProcessRun failed = backup(none);
    ASSERT_TRUE(failed.finished);
    EXPECT_EQ(failed.exitCode, 1) << failed.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(none));
}

TEST_F(HostOutputs, AnUnreadableTransparencyMapIsReported)
{
    // The second tile's material names a transparency map that is not a picture.
    const QString mtl = path(QStringLiteral("meshes/tile_001.mtl"));
    QByteArray material = orvtest::readFile(mtl);
    ASSERT_FALSE(material.isEmpty());
    material += "\nmap_d tile_001_alpha.png\n";
    ASSERT_TRUE(orvtest::writeFile(mtl, material));
    ASSERT_TRUE(orvtest::writeFile(path(QStringLiteral("meshes/tile_001_alpha.png")), "garbage"));
    const QString out = path(QStringLiteral("opaque.png"));
    const ProcessRun r = backup(out);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("in 2 meshes written to"))) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("transparency map"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("tile_001_alpha.png"))) << r.err.toStdString();
}

}  // namespace
