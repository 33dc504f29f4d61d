// The command lines of --paint and --apply-backup and the paint's view size; then
// orvhost --paint and --apply-backup run as a script would, on a generated sample project whose
// last photo is not mapped: their lines and exit codes, what --save writes (the working textures
// into the project's data folder, never over the user's texture files) and the edited-backup round
// trip through a backup picture taken with --backup.
#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "HostOptions.h"
#include "OrvKernel64t.h"
#include "ProjectData.h"
#include "SampleGenerator.h"
#include "SampleProject.h"
#include "TestSupport.h"
#include "WorkingTextureStore.h"

namespace {

using orvtest::ProcessRun;

orvHost::HostOptions parsed(const QStringList& args, QString* error = nullptr)
{
    orvHost::HostOptions o;
    QString e;
    const bool ok = orvHost::parseHostOptions(QStringList{QStringLiteral("orvhost")} + args, &o, &e);
    if (error) *error = ok ? QString() : e;
    return o;
}

TEST(HostPaintOptions, PaintAndApplyBackupReadTheirOptions)
{
    const QString p = QStringLiteral("site.orvproj");
    orvHost::HostOptions o = parsed({p, QStringLiteral("--paint"), QStringLiteral("2")});
    EXPECT_EQ(o.mode, orvHost::HostMode::Paint);
    EXPECT_EQ(o.project, p);
    EXPECT_EQ(o.paintIndex, 2);
    EXPECT_TRUE(o.colourMatch);
    EXPECT_TRUE(o.mask.isEmpty());
    EXPECT_FALSE(o.save);
    o = parsed({QStringLiteral("--paint=0"), QStringLiteral("--no-colour-match"), QStringLiteral("--mask"),
                QStringLiteral("m.png"), QStringLiteral("--save"), p});
    EXPECT_EQ(o.mode, orvHost::HostMode::Paint);
    EXPECT_EQ(o.paintIndex, 0);
    EXPECT_FALSE(o.colourMatch);
    EXPECT_EQ(o.mask, QStringLiteral("m.png"));
    EXPECT_TRUE(o.save);

    o = parsed({p, QStringLiteral("--apply-backup"), QStringLiteral("e.png"), QStringLiteral("--backup-of"),
                QStringLiteral("b.png"), QStringLiteral("--save")});
    EXPECT_EQ(o.mode, orvHost::HostMode::ApplyBackup);
    EXPECT_EQ(o.editedBackup, QStringLiteral("e.png"));
    EXPECT_EQ(o.backupOf, QStringLiteral("b.png"));
    EXPECT_TRUE(o.save);

    // Each option belongs to its own run; the refusal names what is wrong.
    const struct {
        QStringList args;
        const char* says;
    } bad[] = {
        {{p, QStringLiteral("--paint"), QStringLiteral("x")}, "--paint takes a photo's index"},
        {{QStringLiteral("--paint"), QStringLiteral("1")}, "--paint needs a project"},
        {{p, QStringLiteral("--no-colour-match")}, "belong to --paint"},
        {{p, QStringLiteral("--backup"), QStringLiteral("b.png"), QStringLiteral("--mask"), QStringLiteral("m.png")},
         "belong to --paint"},
        {{p, QStringLiteral("--paint"), QStringLiteral("1"), QStringLiteral("--backup-of"), QStringLiteral("b.png")},
         "--backup-of belongs to --apply-backup"},
        {{p, QStringLiteral("--apply-backup"), QStringLiteral("e.png")}, "needs --backup-of"},
        {{p, QStringLiteral("--paint"), QStringLiteral("1"), QStringLiteral("--size"), QStringLiteral("64x64")},
         "--size cannot be combined with --paint"},
        {{p, QStringLiteral("--apply-backup"), QStringLiteral("e.png"), QStringLiteral("--backup-of"),
          QStringLiteral("b.png"), QStringLiteral("--view"), QStringLiteral("0")},
         "--view cannot be combined with --apply-backup"},
        {{p, QStringLiteral("--map"), QStringLiteral("1"), QStringLiteral("--paint"), QStringLiteral("1")},
         "--paint cannot be combined with --map"},
        {{p, QStringLiteral("--save")}, "--save belongs to"},
        {{QStringLiteral("--create"), p, QStringLiteral("--meshes"), QStringLiteral("a.obj"),
          QStringLiteral("--photos"), QStringLiteral("a.jpg"), QStringLiteral("--paint"), QStringLiteral("0")},
         "--paint cannot be combined with --create"},
    };
    for (const auto& k : bad) {
        QString error;
        parsed(k.args, &error);
        EXPECT_TRUE(error.contains(QString::fromLatin1(k.says)))
            << k.args.join(' ').toStdString() << " -> " << error.toStdString();
    }
}

TEST(HostPaintOptions, OnlyThePaintNeedsAWindow)
{
    const QString prog = QStringLiteral("orvhost"), p = QStringLiteral("site.orvproj");
    EXPECT_FALSE(orvHost::wantsNoWindow({prog, p, QStringLiteral("--paint"), QStringLiteral("1")}));
    EXPECT_FALSE(
        orvHost::wantsNoWindow({prog, p, QStringLiteral("--save"), QStringLiteral("--paint"), QStringLiteral("1")}));
    EXPECT_TRUE(orvHost::wantsNoWindow({prog, p, QStringLiteral("--apply-backup"), QStringLiteral("e.png"),
                                        QStringLiteral("--backup-of"), QStringLiteral("b.png")}));
    EXPECT_TRUE(
        orvHost::wantsNoWindow({prog, p, QStringLiteral("--map"), QStringLiteral("0"), QStringLiteral("--save")}));
}

TEST(HostPaintOptions, ThePaintsViewHasThePhotosShapeUpTo2048)
{
    EXPECT_EQ(orvHost::paintViewSize(QSize(800, 600)), QSize(800, 600));
    EXPECT_EQ(orvHost::paintViewSize(QSize(4000, 3000)), QSize(2048, 1536));
    EXPECT_EQ(orvHost::paintViewSize(QSize(3000, 4000)), QSize(1536, 2048));
    EXPECT_EQ(orvHost::paintViewSize(QSize(2048, 100)), QSize(2048, 100));
    // A panorama keeps its short side from vanishing.
    EXPECT_EQ(orvHost::paintViewSize(QSize(20000, 100)), QSize(2048, orvHost::MinBackupSide));
    EXPECT_FALSE(orvHost::paintViewSize(QSize(0, 600)).isValid());
}

constexpr int Tiles = 4;
constexpr int UnmappedPhoto = Tiles - 1;

class HostPaint : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir();
        orvsample::SampleOptions o;
        o.outDir = s_dir->filePath("sample");
        o.tiles = Tiles;
        o.trianglesTotal = 4000;
        o.photoSize = QSize(800, 600);
        o.textureSize = 256;
        o.seed = 11;
        o.photoEffects = false;
        const orvsample::SampleResult r = orvsample::generateSample(o);
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        s_project = s_dir->filePath("sample/paint.orvproj");
        const orvsample::ProjectSummary p = orvsample::buildSampleProject(r.manifestPath, s_project, 1);
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        ASSERT_EQ(p.mapped, Tiles - 1);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override
    {
        ASSERT_FALSE(s_project.isEmpty());
        // The copy lies beside the sample so that its relative paths still find the files.
        const QDir dir = QFileInfo(s_project).dir();
        file = dir.filePath(QStringLiteral("h%1.orvproj").arg(++s_copies));
        ASSERT_TRUE(QFile::copy(s_project, file));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        mm = zim::getMM();
        ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
        for (int i = 0; i < mm->imageCount(); ++i) {
            ref_ptr<IZimMesh> mesh;
            ASSERT_EQ(mm->getMeshAt(mesh, i), 0);
            ASSERT_TRUE(mesh);
            textures << mesh->meshTexturePath();
            textureBytes << orvtest::readFile(textures.last());
            ASSERT_FALSE(textureBytes.last().isEmpty()) << textures.last().toStdString();
        }
        mm->closeProject();
        data = orvpaint::ProjectData(file);
    }
    void TearDown() override { mm->closeProject(); }

    static ProcessRun host(const QStringList& args)
    {
        return orvtest::runProcess(orvtest::binDir() + QStringLiteral("/orvhost"), args);
    }
    QString scratch(const QString& name) const { return tmp.filePath(name); }

    // The texture of mesh `index` as --save wrote it into the data folder; null when none was.
    QImage savedTexture(int index) const
    {
        orvpaint::WorkingTextureStore store(data);
        QString warning;
        if (!store.load(&warning)) return QImage();
        const QString path = store.savedPath(QString::number(index));
        return path.isEmpty() ? QImage() : QImage(path).convertToFormat(QImage::Format_RGB32);
    }
    QImage originalTexture(int index) const { return QImage(textures[index]).convertToFormat(QImage::Format_RGB32); }
    void expectUserTexturesUntouched() const
    {
        for (int i = 0; i < textures.size(); ++i)
            EXPECT_EQ(orvtest::readFile(textures[i]), textureBytes[i]) << textures[i].toStdString();
    }

    static QTemporaryDir* s_dir;
    static QString s_project;
    static int s_copies;
    QTemporaryDir tmp;
    QString file;
    QStringList textures;  // the user's texture file of each mesh
    QList<QByteArray> textureBytes;
    orvpaint::ProjectData data;
    ref_ptr<IZimMM> mm;
};
QTemporaryDir* HostPaint::s_dir = nullptr;
QString HostPaint::s_project;
int HostPaint::s_copies = 0;

TEST_F(HostPaint, MappedPhotoIsPaintedAndSavedBesideTheUsersTextures)
{
    const ProcessRun r = host({file, QStringLiteral("--paint"), QStringLiteral("1"), QStringLiteral("--save")});
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QRegularExpression line(QStringLiteral(
        R"(^orvhost: painted photo 1 \(tile_001\.jpg\) onto (\d+) textures?: (\d+) texels changed, paint (\S+)$)"));
    const QStringList out = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(out.isEmpty()) << r.err.toStdString();
    const QRegularExpressionMatch m = line.match(out.first());
    ASSERT_TRUE(m.hasMatch()) << out.first().toStdString();
    const int painted = m.captured(1).toInt();
    EXPECT_GE(painted, 1);
    EXPECT_LE(painted, Tiles);
    EXPECT_GT(m.captured(2).toLongLong(), 0);
    EXPECT_TRUE(orvpaint::ProjectData::isValidName(m.captured(3))) << m.captured(3).toStdString();
    EXPECT_TRUE(out.last().startsWith(QStringLiteral("orvhost: saved "))) << r.out.toStdString();

    // The project reopens; what was painted lies in its data folder, the user's files as they were.
    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    mm->closeProject();
    EXPECT_TRUE(QFileInfo(QDir(data.rootPath()).filePath(QStringLiteral("paints.json"))).isFile());
    // The paint's own backup was drawn at the photo's size (it is below the largest view).
    const QFileInfoList pictures =
        QDir(data.paintPath(m.captured(3))).entryInfoList({QStringLiteral("*.png")}, QDir::Files);
    ASSERT_FALSE(pictures.isEmpty()) << data.paintPath(m.captured(3)).toStdString();
    EXPECT_EQ(QImage(pictures.first().absoluteFilePath()).size(), QSize(800, 600));
    int changed = 0;
    for (int i = 0; i < textures.size(); ++i) {
        const QImage saved = savedTexture(i);
        if (saved.isNull()) continue;
        EXPECT_EQ(saved.size(), originalTexture(i).size());
        if (saved != originalTexture(i)) ++changed;
    }
    EXPECT_EQ(changed, painted);
    expectUserTexturesUntouched();
}

TEST_F(HostPaint, UnmappedPhotoIsRefusedAndNothingIsSaved)
{
    const QByteArray before = orvtest::readFile(file);
    const ProcessRun r =
        host({file, QStringLiteral("--paint"), QString::number(UnmappedPhoto), QStringLiteral("--save")});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 4) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("is not mapped"))) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("painted"))) << r.out.toStdString();
    EXPECT_EQ(orvtest::readFile(file), before);
    EXPECT_FALSE(QFileInfo::exists(QDir(data.rootPath()).filePath(QStringLiteral("paints.json"))));
    expectUserTexturesUntouched();
}

TEST_F(HostPaint, TheMaskLimitsThePaint)
{
    const QRegularExpression line(QStringLiteral(R"(onto \d+ textures?: (\d+) texels changed)"));
    auto texelsOf = [&](const ProcessRun& r) {
        const QRegularExpressionMatch m = line.match(r.out);
        return m.hasMatch() ? m.captured(1).toLongLong() : -1;
    };
    const QString p = QStringLiteral("--paint"), noMatch = QStringLiteral("--no-colour-match"),
                  mask = QStringLiteral("--mask");
    const ProcessRun whole = host({file, p, QStringLiteral("1"), noMatch});
    ASSERT_EQ(whole.exitCode, 0) << whole.err.toStdString();
    const qint64 all = texelsOf(whole);
    ASSERT_GT(all, 0) << whole.out.toStdString();

    // The left half of the photo only: some of the texels, not all.
    QImage half(800, 600, QImage::Format_Grayscale8);
    half.fill(0);
    {
        QPainter painter(&half);
        painter.fillRect(QRect(0, 0, 400, 600), Qt::white);
    }
    ASSERT_TRUE(half.save(scratch("half.png")));
    const ProcessRun left = host({file, p, QStringLiteral("1"), noMatch, mask, scratch("half.png")});
    ASSERT_EQ(left.exitCode, 0) << left.err.toStdString();
    EXPECT_GT(texelsOf(left), 0) << left.out.toStdString();
    EXPECT_LT(texelsOf(left), all) << left.out.toStdString();

    // A black mask paints nothing: refused, the project as it was.
    const QByteArray before = orvtest::readFile(file);
    QImage black(200, 150, QImage::Format_Grayscale8);
    black.fill(0);
    ASSERT_TRUE(black.save(scratch("black.png")));
    const ProcessRun none = host({file, p, QStringLiteral("1"), mask, scratch("black.png"), QStringLiteral("--save")});
    EXPECT_EQ(none.exitCode, 4) << none.err.toStdString();
    EXPECT_TRUE(none.err.contains(QStringLiteral("was not painted: "))) << none.err.toStdString();
    EXPECT_EQ(orvtest::readFile(file), before);
    expectUserTexturesUntouched();
}

TEST_F(HostPaint, MissingFilesBadIndicesAndBadCommandLinesHaveTheirCodes)
{
    const QByteArray before = orvtest::readFile(file);
    ProcessRun r = host({file, QStringLiteral("--paint"), QString::number(Tiles)});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("no photo %1").arg(Tiles))) << r.err.toStdString();
    r = host({file, QStringLiteral("--paint"), QStringLiteral("1"), QStringLiteral("--mask"), scratch("none.png")});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("none.png"))) << r.err.toStdString();
    // A mask that is there but is no picture is as good as missing.
    ASSERT_TRUE(orvtest::writeFile(scratch("text.png"), "not a picture"));
    r = host({file, QStringLiteral("--paint"), QStringLiteral("1"), QStringLiteral("--mask"), scratch("text.png")});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    r = host({file + QStringLiteral(".missing"), QStringLiteral("--paint"), QStringLiteral("0")});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    r = host({file + QStringLiteral(".missing"), QStringLiteral("--apply-backup"), scratch("e.png"),
              QStringLiteral("--backup-of"), scratch("b.png")});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();

    const QString p = QStringLiteral("--paint"), a = QStringLiteral("--apply-backup"),
                  of = QStringLiteral("--backup-of");
    for (const QStringList& args :
         {QStringList{file, p, QStringLiteral("one")}, QStringList{file, p, QStringLiteral("-1")},
          QStringList{p, QStringLiteral("1")}, QStringList{file, p, QStringLiteral("1"), of, QStringLiteral("b.png")},
          QStringList{file, QStringLiteral("--no-colour-match")},
          QStringList{file, QStringLiteral("--mask"), QStringLiteral("m.png")},
          QStringList{file, p, QStringLiteral("1"), QStringLiteral("--backup"), QStringLiteral("x.png")},
          QStringList{file, p, QStringLiteral("1"), p, QStringLiteral("2")},
          QStringList{file, a, QStringLiteral("e.png")}, QStringList{file, of, QStringLiteral("b.png")},
          QStringList{file, a, QStringLiteral("e.png"), of, QStringLiteral("b.png"), QStringLiteral("--mask"),
                      QStringLiteral("m.png")},
          QStringList{file, a, QStringLiteral("e.png"), of, QStringLiteral("b.png"), p, QStringLiteral("1")},
          QStringList{file, QStringLiteral("--map"), QStringLiteral("1"), p, QStringLiteral("1")}}) {
        r = host(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString() << ": " << r.err.toStdString();
    }
    EXPECT_EQ(orvtest::readFile(file), before);
}

TEST_F(HostPaint, FailedSaveIsExitFiveAndLeavesTheProjectFile)
{
    // The kernel's fault injection fails the project's save before its commit: the paint is
    // reported, the run fails, and the project file is as it was.
    const QByteArray before = orvtest::readFile(file);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORV_KERNEL_SAVE_FAULT"), QStringLiteral("commit"));
    const ProcessRun r =
        orvtest::runProcess(orvtest::binDir() + QStringLiteral("/orvhost"),
                            {file, QStringLiteral("--paint"), QStringLiteral("0"), QStringLiteral("--save")}, env);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 5) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("orvhost: painted photo 0"))) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("orvhost: saved"))) << r.out.toStdString();
    EXPECT_EQ(orvtest::readFile(file), before);
    expectUserTexturesUntouched();
}

TEST_F(HostPaint, EditedBackupRoundTripChangesTexturesOnlyInTheEdit)
{
    const QString backup = scratch("b.png");
    ProcessRun r = host({file, QStringLiteral("--backup"), backup, QStringLiteral("--size"), QStringLiteral("640x480"),
                         QStringLiteral("--view"), QStringLiteral("0")});
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QImage original = QImage(backup).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(original.size(), QSize(640, 480));
    const QByteArray before = orvtest::readFile(file);
    auto apply = [&](const QString& edited, const QString& of, bool save) {
        QStringList args{file, QStringLiteral("--apply-backup"), edited, QStringLiteral("--backup-of"), of};
        if (save) args << QStringLiteral("--save");
        // Applying needs no window: it runs without a display.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        return orvtest::runProcess(orvtest::binDir() + QStringLiteral("/orvhost"), args, env);
    };

    // A copy as it was changes nothing, and with nothing changed nothing is saved.
    const QString same = scratch("same.png");
    ASSERT_TRUE(original.save(same));
    r = apply(same, backup, true);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("orvhost: applied edited backup: 0 texels changed in 0 textures")))
        << r.out.toStdString();
    EXPECT_EQ(orvtest::readFile(file), before);

    // A picture of another size, and a backup picture without its records, are refused.
    const QString smaller = scratch("smaller.png");
    ASSERT_TRUE(original.scaled(320, 240).save(smaller));
    r = apply(smaller, backup, true);
    EXPECT_EQ(r.exitCode, 4) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("was not applied: "))) << r.err.toStdString();
    const QString bare = scratch("bare.png");
    ASSERT_TRUE(QFile::copy(backup, bare));
    r = apply(same, bare, true);
    EXPECT_EQ(r.exitCode, 4) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("was not applied: "))) << r.err.toStdString();
    EXPECT_EQ(orvtest::readFile(file), before);

    // A red square over the middle of the view, where the tiles are.
    QImage edited = original;
    {
        QPainter painter(&edited);
        painter.fillRect(QRect(280, 200, 80, 80), QColor(255, 0, 0));
    }
    const QString red = scratch("red.png");
    ASSERT_TRUE(edited.save(red));
    r = apply(red, backup, true);
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QRegularExpression line(
        QStringLiteral(R"(^orvhost: applied edited backup: (\d+) texels changed in (\d+) textures?$)"));
    const QRegularExpressionMatch m = line.match(r.out.split(QLatin1Char('\n')).first());
    ASSERT_TRUE(m.hasMatch()) << r.out.toStdString();
    const qint64 texels = m.captured(1).toLongLong();
    EXPECT_GT(texels, 0);
    EXPECT_GE(m.captured(2).toInt(), 1);

    // Every texel that changed became redder, and they are a small part of the textures.
    qint64 changed = 0, redder = 0, total = 0;
    for (int i = 0; i < textures.size(); ++i) {
        const QImage before = originalTexture(i);
        total += qint64(before.width()) * before.height();
        const QImage after = savedTexture(i);
        if (after.isNull()) continue;
        ASSERT_EQ(after.size(), before.size());
        for (int y = 0; y < before.height(); ++y)
            for (int x = 0; x < before.width(); ++x) {
                const QRgb o = before.pixel(x, y), n = after.pixel(x, y);
                if (o == n) continue;
                ++changed;
                if (qRed(n) - (qGreen(n) + qBlue(n)) / 2 > qRed(o) - (qGreen(o) + qBlue(o)) / 2) ++redder;
            }
    }
    EXPECT_EQ(changed, texels);
    EXPECT_EQ(redder, changed);
    EXPECT_LT(changed, total / 4);
    expectUserTexturesUntouched();
}

}  // namespace
