// The project file against what happens to it outside the program: opened and saved through a
// symbolic link in another folder, edited by hand (a label renamed, a mark or an image deleted, a
// blob overwritten), written by an older version with one checksum; and orvhost --create killed
// midway or given a photo that does not decode.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <ostream>

#include "HostCreate.h"
#include "OrvKernel64t.h"
#include "TestSupport.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class ProjectRobust : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        // The folder itself may lie behind a link (as /tmp on some systems): work in its real place.
        root = QFileInfo(tmp.path()).canonicalFilePath() + QStringLiteral("/work");
        QDir().mkpath(root);
        mm = zim::getMM();
    }
    void TearDown() override
    {
        mm->closeProject();
        qunsetenv("ORV_KERNEL_SAVE_FAULT");
    }

    QString path(const QString& rel) const { return root + QLatin1Char('/') + rel; }

    QString photo(const QString& rel, const char* format = "JPG")
    {
        QImage img(160, 100, QImage::Format_RGB32);
        QPainter p(&img);
        QLinearGradient g(0, 0, 160, 100);
        g.setColorAt(0, Qt::darkBlue);
        g.setColorAt(1, Qt::yellow);
        p.fillRect(img.rect(), g);
        p.end();
        QDir().mkpath(QFileInfo(path(rel)).absolutePath());
        EXPECT_TRUE(img.save(path(rel), format));
        return path(rel);
    }

    // A textured quad of two triangles with its material and texture.
    QString mesh(const QString& rel)
    {
        const QFileInfo info(path(rel));
        QDir().mkpath(info.absolutePath());
        const QString base = info.completeBaseName();
        QImage tex(8, 8, QImage::Format_RGB32);
        tex.fill(Qt::red);
        EXPECT_TRUE(tex.save(info.absolutePath() + QStringLiteral("/%1_tex.png").arg(base)));
        EXPECT_TRUE(orvtest::writeFile(info.absolutePath() + QStringLiteral("/%1.mtl").arg(base),
                                       QStringLiteral("newmtl m\nKd 1 1 1\nmap_Kd %1_tex.png\n").arg(base).toUtf8()));
        EXPECT_TRUE(orvtest::writeFile(path(rel), QStringLiteral("mtllib %1.mtl\nv 0 0 0\nv 2 0 0\nv 2 1 0\nv 0 1 0\n"
                                                                 "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl m\n"
                                                                 "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n")
                                                      .arg(base)
                                                      .toUtf8()));
        return path(rel);
    }

    // work/p.orvproj with n images, three control marks on image 0, a group and a blob; saved.
    QString makeProject(int n)
    {
        const QString file = path(QStringLiteral("p.orvproj"));
        EXPECT_EQ(mm->createProject(file), 0) << mm->lastError().toStdString();
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(
                mm->addImage(photo(QStringLiteral("photos/photo_%1.jpg").arg(i)),
                             mesh(QStringLiteral("meshes/mesh_%1.obj").arg(i)), QStringLiteral("label %1").arg(i)),
                i)
                << mm->lastError().toStdString();
        ref_ptr<MarkArray> marks(new MarkArray());
        for (int k = 0; k < 3; ++k) {
            MarkRecord r;
            r.uv = {10.0 * (k + 1), 20};
            r.point = {double(k), 1, 2};
            r.id = k + 1;
            marks->append(r);
        }
        EXPECT_EQ(mm->setImageMarks(0, ZimMarkControl, marks), 0);
        ref_ptr<IntArray> members = zim::newIntArray();
        for (int i = 0; i < n; ++i) members->append(i);
        EXPECT_EQ(mm->setGroup(QStringLiteral("walls"), members), 0);
        const QByteArray blob("tree", 4);
        EXPECT_EQ(mm->writeProjectData(QStringLiteral("G"), QStringLiteral("K"), blob.constData(), blob.size()), 0);
        EXPECT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
        mm->closeProject();
        return file;
    }

    // Runs SQL on a closed project file, as a user with the sqlite3 shell would.
    static void edit(const QString& file, const char* sql)
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        char* message = nullptr;
        const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
        EXPECT_EQ(rc, SQLITE_OK) << (message ? message : "") << " in " << sql;
        sqlite3_free(message);
        sqlite3_close(db);
    }

    QString label(int index)
    {
        ref_ptr<IZimMesh> m;
        if (mm->getMeshAt(m, index) != 0 || !m) return QString();
        QString out;
        m->meshLabel(out);
        return out;
    }

    ref_ptr<MarkArray> controlMarks(int index)
    {
        ref_ptr<IZimTqState> state;
        ref_ptr<IZimImageStore> store;
        ref_ptr<IZimImageRecord> rec;
        if (mm->getState(state) != 0 || state->getImageStore(store) != 0 || store->getImageRecord(rec, index) != 0)
            return {};
        return rec->getMarks(ZimMarkControl);
    }

    QStringList groupNames()
    {
        ref_ptr<IZimModelItems> items;
        QStringList names;
        QVector<ref_ptr<MeshArray>> groups;
        if (mm->getModelItems(items) == 0) items->getGroups(names, groups);
        return names;
    }

    QTemporaryDir tmp;
    QString root;
    ref_ptr<IZimMM> mm;
};

// ---- a project behind a symbolic link ------------------------------------------------------

TEST_F(ProjectRobust, SavingThroughALinkElsewhereKeepsThePathsOfTheRealFile)
{
    const QString real = makeProject(2);
    const QString elsewhere = tmp.path() + QStringLiteral("/elsewhere/deeper");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const QString link = elsewhere + QStringLiteral("/link.orvproj");
    ASSERT_TRUE(QFile::link(real, link));

    ASSERT_EQ(mm->openProject(link, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_EQ(mm->projectPath(), real);
    QStringList missing;
    EXPECT_EQ(mm->getMissingFiles(missing), 0) << missing.join(QLatin1Char(' ')).toStdString();
    ASSERT_EQ(mm->setImageMapped(1, true), 0);
    ASSERT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
    mm->closeProject();

    // The link is still a link and the real file holds paths relative to its own folder.
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    const QByteArray bytes = orvtest::readFile(real);
    EXPECT_TRUE(bytes.contains("photos/photo_1.jpg"));
    EXPECT_FALSE(bytes.contains("../"));
    ASSERT_EQ(mm->openProject(real, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_EQ(mm->getMissingFiles(missing), 0) << missing.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(mm->isImageMapped(1));
    ref_ptr<IZimImageEntry> e;
    ASSERT_EQ(mm->getImageEntry(e, 0), 0);
    EXPECT_EQ(e->photoPath(), path(QStringLiteral("photos/photo_0.jpg")));

    // Through a linked folder as well, and "save as" onto a link writes the file it points to.
    const QString linkedFolder = tmp.path() + QStringLiteral("/alias");
    ASSERT_TRUE(QFile::link(root, linkedFolder));
    ASSERT_EQ(mm->openProject(linkedFolder + QStringLiteral("/p.orvproj"), nullptr), 0);
    EXPECT_EQ(mm->projectPath(), real);
    const QString copy = path(QStringLiteral("copy.orvproj"));
    ASSERT_TRUE(QFile::copy(real, copy));
    const QString copyLink = elsewhere + QStringLiteral("/copy-link.orvproj");
    ASSERT_TRUE(QFile::link(copy, copyLink));
    ASSERT_EQ(mm->setImageMapped(0, true), 0);
    ASSERT_EQ(mm->saveProjectAs(copyLink), 0) << mm->lastError().toStdString();
    EXPECT_EQ(mm->projectPath(), copy);
    EXPECT_TRUE(QFileInfo(copyLink).isSymLink());
    mm->closeProject();
    ASSERT_EQ(mm->openProject(copy, nullptr), 0);
    EXPECT_EQ(mm->getMissingFiles(missing), 0) << missing.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(mm->isImageMapped(0));
}

// ---- projects edited by hand ---------------------------------------------------------------

TEST_F(ProjectRobust, AProjectAsSavedOpensWithoutANotice)
{
    const QString file = makeProject(2);
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_EQ(label(1), QStringLiteral("label 1"));
}

TEST_F(ProjectRobust, EditedValuesOpenAsTheyAreAndTheNoticeNamesTheirTable)
{
    const QString file = makeProject(3);
    const QByteArray saved = orvtest::readFile(file);

    // A label renamed.
    edit(file, "UPDATE images SET label = 'renamed by hand' WHERE idx = 1");
    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    QString notice = mm->openNotice();
    EXPECT_TRUE(notice.contains(QStringLiteral("the table images"))) << notice.toStdString();
    EXPECT_FALSE(notice.contains(QStringLiteral("marks"))) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QFileInfo(file).fileName())) << notice.toStdString();
    EXPECT_EQ(label(1), QStringLiteral("renamed by hand"));
    EXPECT_FALSE(mm->isModified());
    // The file stays as the user left it until a save, which writes fresh checksums.
    mm->closeProject();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_FALSE(mm->openNotice().isEmpty());
    ASSERT_EQ(mm->saveProject(), 0);
    EXPECT_TRUE(mm->openNotice().isEmpty());
    mm->closeProject();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_EQ(label(1), QStringLiteral("renamed by hand"));
    mm->closeProject();

    // One mark deleted from the middle of its list: the others keep their order.
    ASSERT_TRUE(orvtest::writeFile(file, saved));
    edit(file, "DELETE FROM marks WHERE image = 0 AND kind = 'control' AND seq = 1");
    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    notice = mm->openNotice();
    EXPECT_TRUE(notice.contains(QStringLiteral("the table marks"))) << notice.toStdString();
    EXPECT_FALSE(notice.contains(QStringLiteral("the table images"))) << notice.toStdString();
    ref_ptr<MarkArray> marks = controlMarks(0);
    ASSERT_TRUE(marks);
    ASSERT_EQ(marks->count(), 2);
    EXPECT_EQ(marks->at(0).id, 1);
    EXPECT_EQ(marks->at(1).id, 3);
    mm->closeProject();

    // A blob overwritten: named, and handed out as it is now (its reader decides what to do).
    ASSERT_TRUE(orvtest::writeFile(file, saved));
    edit(file, "UPDATE blobs SET data = x'00ff' WHERE grp = 'G'");
    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    notice = mm->openNotice();
    EXPECT_TRUE(notice.contains(QStringLiteral("the blob G/K"))) << notice.toStdString();
    EXPECT_FALSE(notice.contains(QStringLiteral("the table"))) << notice.toStdString();
    char back[2] = {};
    int size = 0;
    EXPECT_TRUE(mm->readProjectData(QStringLiteral("G"), QStringLiteral("K"), back, 2, &size));
    EXPECT_EQ(QByteArray(back, 2), QByteArray("\x00\xff", 2));
    mm->closeProject();

    // A value changed inside the file's bytes (not through SQLite): the photo named is missing.
    QByteArray patched = saved;
    const int at = patched.indexOf("photos/photo_2.jpg");
    ASSERT_GT(at, 0);
    patched[at + 7] = 'q';
    ASSERT_TRUE(orvtest::writeFile(file, patched));
    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_TRUE(mm->openNotice().contains(QStringLiteral("the table images"))) << mm->openNotice().toStdString();
    QStringList missing;
    EXPECT_EQ(mm->getMissingFiles(missing), 1);
    EXPECT_EQ(mm->imageCount(), 3);
}

TEST_F(ProjectRobust, RowsThatNoLongerFitAreLeftOutAndSaid)
{
    const QString file = makeProject(3);
    // Image 0 deleted by hand: its marks and its place in the group point nowhere, the order has
    // a gap, a mark of an unknown kind and a nameless group were added.
    edit(file,
         "DELETE FROM images WHERE idx = 0;"
         "INSERT INTO marks(image, kind, seq, u, v, x, y, z, id) VALUES(2, 'circle', 0, 1, 1, 1, 1, 1, 5);"
         "INSERT INTO groups(position, name) VALUES(7, '');"
         "UPDATE settings SET value = 'not a number' WHERE key = 'mode';"
         // A path naming the project's own folder survives a save (it is no empty path).
         "UPDATE images SET photo = '.' WHERE idx = 2;");
    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    const QString notice = mm->openNotice();
    for (const char* part : {"the table images", "the table marks", "the table groups", "the table settings"})
        EXPECT_TRUE(notice.contains(QLatin1String(part))) << part << ": " << notice.toStdString();
    EXPECT_TRUE(notice.contains(QStringLiteral("3 mark(s) of images that do not exist"))) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QStringLiteral("unknown kind"))) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QStringLiteral("order of the images"))) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QStringLiteral("without a name"))) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QStringLiteral("group member(s)"))) << notice.toStdString();
    EXPECT_EQ(mm->imageCount(), 2);
    EXPECT_EQ(label(0), QStringLiteral("label 1"));
    EXPECT_EQ(label(1), QStringLiteral("label 2"));
    EXPECT_EQ(groupNames(), QStringList({QStringLiteral("DEFAULT"), QStringLiteral("walls")}));
    ref_ptr<IZimTqState> state;
    ASSERT_EQ(mm->getState(state), 0);
    EXPECT_EQ(state->getMode(), ZimModeMeshes);
    // Saved, the project is whole again and opens quietly.
    ASSERT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
    mm->closeProject();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_EQ(mm->imageCount(), 2);
    EXPECT_EQ(label(1), QStringLiteral("label 2"));
}

TEST_F(ProjectRobust, ATableRemovedByHandReadsAsEmpty)
{
    const QString file = makeProject(2);
    edit(file, "DROP TABLE marks; DROP TABLE group_members; DROP TABLE digests; CREATE TABLE digests(x)");
    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    const QString notice = mm->openNotice();
    EXPECT_TRUE(notice.contains(QStringLiteral("the table marks is missing"))) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QStringLiteral("the table group_members is missing"))) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QStringLiteral("checksums of the file cannot be read"))) << notice.toStdString();
    EXPECT_EQ(mm->imageCount(), 2);
    ref_ptr<MarkArray> marks = controlMarks(0);
    EXPECT_TRUE(!marks || marks->count() == 0);
    // The file is left as it is; a save writes every table again.
    ASSERT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
    mm->closeProject();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
}

TEST_F(ProjectRobust, FilesOfTheOlderFormWithOneChecksumStillOpen)
{
    const QString file = makeProject(2);
    // What an older version wrote: the same tables and its single checksum, no digests table.
    edit(file, "DROP TABLE digests");
    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    mm->closeProject();

    edit(file, "UPDATE images SET label = 'x' WHERE idx = 0");
    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_TRUE(mm->openNotice().contains(QStringLiteral("older version"))) << mm->openNotice().toStdString();
    EXPECT_EQ(label(0), QStringLiteral("x"));
    // A save writes the new form.
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    edit(file, "UPDATE images SET label = 'y' WHERE idx = 0");
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_TRUE(mm->openNotice().contains(QStringLiteral("the table images"))) << mm->openNotice().toStdString();
    mm->closeProject();

    // Without any checksum at all it opens and says so.
    edit(file, "DROP TABLE digests; DELETE FROM settings WHERE key = 'checksum'");
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_TRUE(mm->openNotice().contains(QStringLiteral("checksums"))) << mm->openNotice().toStdString();
}

TEST_F(ProjectRobust, AHeadlessRunTellsTheNoticeOnStderrOnce)
{
    const QString file = makeProject(1);
    edit(file, "UPDATE images SET label = 'renamed by hand' WHERE idx = 0");
    const QString host = orvtest::binDir() + QStringLiteral("/orvhost");
    ASSERT_TRUE(QFileInfo(host).isExecutable()) << "build orvhost first";
    const QString shot = path(QStringLiteral("window.png"));
    QProcess p;
    p.start(host, {file, QStringLiteral("--screenshot"), shot});
    ASSERT_TRUE(p.waitForFinished(120000)) << "a modal box would keep it waiting";
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
    EXPECT_EQ(err.count(QStringLiteral("was changed outside the program")), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("the table images"))) << err.toStdString();
    EXPECT_TRUE(QFileInfo(shot).isFile());
    // Nothing was written back.
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_FALSE(mm->openNotice().isEmpty());
}

// ---- orvhost --create ----------------------------------------------------------------------

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

TEST_F(ProjectRobust, CreateRefusesPhotosThatDoNotDecode)
{
    const QString m0 = mesh(QStringLiteral("in/m0.obj")), m1 = mesh(QStringLiteral("in/m1.obj"));
    const QString good = photo(QStringLiteral("in/good.jpg"));
    // Headers that read, data that does not: a PNG cut inside its pixel data, a JPEG cut after
    // its first scan began.
    const QString png = photo(QStringLiteral("in/cut.png"), "PNG");
    const QByteArray pngBytes = orvtest::readFile(png);
    ASSERT_TRUE(orvtest::writeFile(png, pngBytes.left(pngBytes.indexOf("IDAT") + 40)));
    const QString jpg = photo(QStringLiteral("in/cut.jpg"));
    const QByteArray jpgBytes = orvtest::readFile(jpg);
    ASSERT_TRUE(orvtest::writeFile(jpg, jpgBytes.left(jpgBytes.indexOf("\xff\xda") + 60)));
    // The kernel's header check alone accepts them.
    for (const QString& bad : {png, jpg}) {
        SCOPED_TRACE(bad.toStdString());
        const QString target = path(QStringLiteral("out/p.orvproj"));
        QDir().mkpath(path(QStringLiteral("out")));
        const orvHost::CreateResult r = orvHost::createProjectFromFiles({target, {m0, m1}, {good, bad}, {}});
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.error.contains(QFileInfo(bad).fileName())) << r.error.toStdString();
        EXPECT_TRUE(r.error.contains(QStringLiteral("cannot be decoded"))) << r.error.toStdString();
        EXPECT_EQ(filesIn(path(QStringLiteral("out"))), QStringList());
    }
    const orvHost::CreateResult r =
        orvHost::createProjectFromFiles({path(QStringLiteral("out/p.orvproj")), {m0}, {good}, {}});
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.images, 1);
}

TEST_F(ProjectRobust, ACreateThatFailsOrIsKilledLeavesNoProjectAndTheRetryWorks)
{
    const QString m0 = mesh(QStringLiteral("in/m0.obj")), p0 = photo(QStringLiteral("in/p0.jpg"));
    const QString out = path(QStringLiteral("out"));
    QDir().mkpath(out);
    const QString target = out + QStringLiteral("/site.orvproj");

    // The save fails: nothing is left in the folder.
    qputenv("ORV_KERNEL_SAVE_FAULT", "commit");
    orvHost::CreateResult r = orvHost::createProjectFromFiles({target, {m0}, {p0}, {}});
    qunsetenv("ORV_KERNEL_SAVE_FAULT");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(filesIn(out), QStringList());

    // The process is killed once everything is written but before the file has its name.
    const QString host = orvtest::binDir() + QStringLiteral("/orvhost");
    ASSERT_TRUE(QFileInfo(host).isExecutable()) << "build orvhost first";
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORV_HOST_CREATE_FAULT"), QStringLiteral("kill"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    const QStringList args{QStringLiteral("--create"), target, QStringLiteral("--meshes"), m0,
                           QStringLiteral("--photos"), p0};
    p.start(host, args);
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
    EXPECT_FALSE(QFileInfo::exists(target));
    // What it left is hidden and is no project of that name.
    for (const QString& name : filesIn(out)) EXPECT_TRUE(name.startsWith(QLatin1Char('.'))) << name.toStdString();

    // The retry is not refused.
    env.remove(QStringLiteral("ORV_HOST_CREATE_FAULT"));
    p.setProcessEnvironment(env);
    p.start(host, args);
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    ASSERT_EQ(mm->openProject(target, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_EQ(mm->imageCount(), 1);
    EXPECT_TRUE(mm->openNotice().isEmpty());
    mm->closeProject();

    // A project already there is never replaced.
    r = orvHost::createProjectFromFiles({target, {m0}, {p0}, {}});
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("exists already"))) << r.error.toStdString();
}

}  // namespace
