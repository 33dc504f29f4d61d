// Textures edited in place and their saved working copies: the modified flag and the edited
// pixels through sleep and wake, the working copy read instead of the material's texture and
// kept with the project (relative to its folder), cleared, gone when the project is opened,
// edited by hand, missing from files of older versions; the user's texture file is never written.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <ostream>

#include "OrvKernel64t.h"
#include "TestSupport.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

const QRgb kMaterial[3] = {qRgb(200, 30, 30), qRgb(30, 200, 30), qRgb(30, 30, 200)};
const QRgb kWorking = qRgb(250, 220, 10);
const QRgb kPainted = qRgb(12, 140, 230);

class WorkingTextures : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = QFileInfo(tmp.path()).canonicalFilePath() + QStringLiteral("/work");
        QDir().mkpath(root);
        mm = zim::getMM();
    }
    void TearDown() override { mm->closeProject(); }

    QString path(const QString& rel) const { return root + QLatin1Char('/') + rel; }

    static bool writePicture(const QString& file, QRgb colour, int side = 8)
    {
        QImage img(side, side, QImage::Format_RGB32);
        img.fill(colour);
        return QDir().mkpath(QFileInfo(file).absolutePath()) && img.save(file);
    }

    // work/p.orvproj with n images, each a quad whose material names mesh_<i>_tex.png, filled
    // with kMaterial[i]; the last one has no material when untexturedLast. Saved.
    QString makeProject(int n, bool untexturedLast = false)
    {
        const QString file = path(QStringLiteral("p.orvproj"));
        EXPECT_EQ(mm->createProject(file), 0) << mm->lastError().toStdString();
        for (int i = 0; i < n; ++i) {
            const QString photo = path(QStringLiteral("photo_%1.png").arg(i));
            EXPECT_TRUE(writePicture(photo, qRgb(90, 90, 90 + 40 * i), 64));
            const bool textured = !(untexturedLast && i == n - 1);
            QString obj = QStringLiteral(
                "v 0 0 0\nv 2 0 0\nv 2 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n");
            if (textured) {
                EXPECT_TRUE(writePicture(path(QStringLiteral("mesh_%1_tex.png").arg(i)), kMaterial[i]));
                EXPECT_TRUE(
                    orvtest::writeFile(path(QStringLiteral("mesh_%1.mtl").arg(i)),
                                       QStringLiteral("newmtl m\nKd 1 1 1\nmap_Kd mesh_%1_tex.png\n").arg(i).toUtf8()));
                obj = QStringLiteral("mtllib mesh_%1.mtl\nusemtl m\n").arg(i) + obj;
            }
            const QString objPath = path(QStringLiteral("mesh_%1.obj").arg(i));
            EXPECT_TRUE(orvtest::writeFile(objPath, obj.toUtf8()));
            EXPECT_EQ(mm->addImage(photo, objPath, QString()), i) << mm->lastError().toStdString();
        }
        EXPECT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
        return file;
    }

    ref_ptr<IZimMesh> mesh(int i)
    {
        ref_ptr<IZimMesh> out;
        EXPECT_EQ(mm->getMeshAt(out, i), 0);
        return out;
    }

    // The colour of a texture image's pixel (0, 0); 0 for no image.
    static QRgb colourOf(const ref_ptr<IZimImage>& image)
    {
        if (!image || image->imageWidth() < 1) return 0;
        return image->imageToQImage().convertToFormat(QImage::Format_RGB32).pixel(0, 0) | 0xff000000u;
    }
    QRgb storeColour(int i)
    {
        ref_ptr<IZimTqState> state;
        EXPECT_EQ(mm->getState(state), 0);
        ref_ptr<IZimImageStore> store;
        if (state) {
            EXPECT_EQ(state->getImageStore(store), 0);
        }
        ref_ptr<IZimImage> out;
        if (!store || store->getStoreImage(out, i, 1) != 0) return 0;
        return colourOf(out);
    }
    QRgb meshColour(int i) { return colourOf(mesh(i)->meshTexture()); }

    // Changes every pixel of mesh i's texture in place, as a painter does.
    void paint(int i, QRgb colour)
    {
        const ref_ptr<IZimImage> texture = mesh(i)->meshTexture();
        ASSERT_TRUE(texture);
        QImage img(texture->imageWidth(), texture->imageHeight(), QImage::Format_RGB888);
        img.fill(colour);
        ASSERT_EQ(texture->imageFromQImage(img), 0);
    }

    void reopen(const QString& file)
    {
        mm->closeProject();
        ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
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
    static QStringList storedPaths(const QString& file)
    {
        QStringList out;
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT image, path FROM working_textures ORDER BY image", -1, &s, nullptr) ==
            SQLITE_OK)
            while (sqlite3_step(s) == SQLITE_ROW)
                out << QStringLiteral("%1=%2")
                           .arg(sqlite3_column_int(s, 0))
                           .arg(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 1))));
        sqlite3_finalize(s);
        sqlite3_close(db);
        return out;
    }

    QTemporaryDir tmp;
    QString root;
    ref_ptr<IZimMM> mm;
};

TEST_F(WorkingTextures, AnEditInPlaceIsAChangeUntilSavedAndOutlivesSleep)
{
    makeProject(3, true);
    const QByteArray ownBytes = orvtest::readFile(path(QStringLiteral("mesh_0_tex.png")));
    ASSERT_FALSE(mm->isModified());
    EXPECT_EQ(mm->notifyTextureEdited(3), -1);
    EXPECT_EQ(mm->notifyTextureEdited(-1), -1);
    EXPECT_EQ(mm->notifyTextureEdited(2), -1) << "mesh 2 has no texture";
    EXPECT_FALSE(mm->isModified());

    paint(0, kPainted);
    EXPECT_FALSE(mm->isTextureEdited(0));
    ASSERT_EQ(mm->notifyTextureEdited(0), 0) << mm->lastError().toStdString();
    EXPECT_TRUE(mm->isTextureEdited(0));
    EXPECT_FALSE(mm->isTextureEdited(1));
    EXPECT_TRUE(mm->isModified());

    // Asleep, the edited pixels are held in memory, not read again from the material's file.
    ASSERT_EQ(mm->sleepMesh(mesh(0), nullptr), 0) << mm->lastError().toStdString();
    EXPECT_EQ(storeColour(0), kPainted);
    ASSERT_EQ(mm->wakeMesh(0, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_EQ(meshColour(0), kPainted);
    EXPECT_EQ(storeColour(0), kPainted);
    EXPECT_TRUE(mm->isTextureEdited(0));
    EXPECT_TRUE(mm->isModified());

    ASSERT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
    EXPECT_FALSE(mm->isModified());
    EXPECT_FALSE(mm->isTextureEdited(0));
    EXPECT_EQ(meshColour(0), kPainted);
    EXPECT_EQ(orvtest::readFile(path(QStringLiteral("mesh_0_tex.png"))), ownBytes);
    EXPECT_EQ(mesh(0)->meshTexturePath(), path(QStringLiteral("mesh_0_tex.png")));

    // A mesh asleep with no texture in memory has none to have been edited.
    ASSERT_EQ(mm->sleepMesh(mesh(1), nullptr), 0);
    EXPECT_EQ(mm->notifyTextureEdited(1), -1);
    EXPECT_FALSE(mm->isTextureEdited(1));

    mm->closeProject();
    EXPECT_EQ(mm->notifyTextureEdited(0), -1);
    EXPECT_FALSE(mm->isTextureEdited(0));
}

TEST_F(WorkingTextures, TheWorkingCopyIsKeptWithTheProjectAndFollowsItsFolder)
{
    const QString file = makeProject(2);
    const QString own = path(QStringLiteral("mesh_0_tex.png"));
    const QByteArray ownBytes = orvtest::readFile(own);
    const QString working = path(QStringLiteral("p.orvdata/textures/0.png"));
    ASSERT_TRUE(writePicture(working, kWorking));

    ASSERT_EQ(mm->setWorkingTexture(0, working), 0) << mm->lastError().toStdString();
    EXPECT_EQ(mm->workingTexture(0), working);
    EXPECT_TRUE(mm->workingTexture(1).isEmpty());
    EXPECT_TRUE(mm->isModified());
    // The awake mesh reads the working copy at once.
    EXPECT_EQ(meshColour(0), kWorking);
    EXPECT_EQ(meshColour(1), kMaterial[1]);
    ASSERT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
    EXPECT_FALSE(mm->isModified());
    EXPECT_EQ(storedPaths(file), QStringList{QStringLiteral("0=p.orvdata/textures/0.png")});

    reopen(file);
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_FALSE(mm->isModified());
    EXPECT_EQ(mm->workingTexture(0), working);
    EXPECT_EQ(storeColour(0), kWorking);
    EXPECT_EQ(meshColour(0), kWorking);
    EXPECT_EQ(mesh(0)->meshTexturePath(), own);
    EXPECT_EQ(storeColour(1), kMaterial[1]);

    // Asleep and woken, the working copy is what is read.
    ASSERT_EQ(mm->sleepMesh(mesh(0), nullptr), 0);
    ASSERT_EQ(mm->saveProject(), 0);
    reopen(file);
    EXPECT_EQ(storeColour(0), kWorking);
    ASSERT_EQ(mm->wakeMesh(0, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_EQ(meshColour(0), kWorking);
    EXPECT_EQ(mesh(0)->meshTexturePath(), own);
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();

    // The whole folder moved elsewhere: the copy is found beside the project.
    const QString moved = QFileInfo(tmp.path()).canonicalFilePath() + QStringLiteral("/moved");
    ASSERT_TRUE(QDir().rename(root, moved));
    root = moved;
    reopen(path(QStringLiteral("p.orvproj")));
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_EQ(mm->workingTexture(0), path(QStringLiteral("p.orvdata/textures/0.png")));
    EXPECT_EQ(meshColour(0), kWorking);
    EXPECT_EQ(orvtest::readFile(path(QStringLiteral("mesh_0_tex.png"))), ownBytes);
}

TEST_F(WorkingTextures, ClearingGivesTheMaterialsTextureBackButNeverUnsavedEdits)
{
    const QString file = makeProject(2);
    const QString working = path(QStringLiteral("p.orvdata/textures/0.png"));
    ASSERT_TRUE(writePicture(working, kWorking));
    ASSERT_EQ(mm->setWorkingTexture(0, working), 0);
    ASSERT_EQ(mm->saveProject(), 0);

    // Set and cleared again before a save: nothing a save would write has changed.
    const QString other = path(QStringLiteral("p.orvdata/textures/1.png"));
    ASSERT_TRUE(writePicture(other, kPainted));
    ASSERT_EQ(mm->setWorkingTexture(1, other), 0);
    EXPECT_TRUE(mm->isModified());
    ASSERT_EQ(mm->setWorkingTexture(1, QString()), 0);
    EXPECT_FALSE(mm->isModified());
    EXPECT_EQ(meshColour(1), kMaterial[1]);

    ASSERT_EQ(mm->setWorkingTexture(0, QString()), 0);
    EXPECT_TRUE(mm->workingTexture(0).isEmpty());
    EXPECT_TRUE(mm->isModified());
    EXPECT_EQ(meshColour(0), kMaterial[0]);
    ASSERT_EQ(mm->saveProject(), 0);
    EXPECT_TRUE(storedPaths(file).isEmpty());
    reopen(file);
    EXPECT_TRUE(mm->workingTexture(0).isEmpty());
    EXPECT_EQ(storeColour(0), kMaterial[0]);

    // Painted and saved as a working copy: the pixels in memory are what was saved, and
    // clearing the copy then shows the material's texture again.
    paint(0, kPainted);
    ASSERT_EQ(mm->notifyTextureEdited(0), 0);
    ASSERT_TRUE(writePicture(working, kPainted));
    ASSERT_EQ(mm->setWorkingTexture(0, working), 0);
    EXPECT_EQ(meshColour(0), kPainted);
    ASSERT_EQ(mm->saveProject(), 0);
    ASSERT_EQ(mm->setWorkingTexture(0, QString()), 0);
    EXPECT_EQ(meshColour(0), kMaterial[0]);

    // Edits not saved yet stay in memory when the copy is cleared.
    paint(0, kWorking);
    ASSERT_EQ(mm->notifyTextureEdited(0), 0);
    ASSERT_EQ(mm->setWorkingTexture(0, working), 0);
    ASSERT_EQ(mm->setWorkingTexture(0, QString()), 0);
    EXPECT_EQ(meshColour(0), kWorking);
    EXPECT_TRUE(mm->isTextureEdited(0));
    EXPECT_TRUE(mm->isModified());
}

TEST_F(WorkingTextures, BadWorkingCopiesAreRefusedKeepingTheStoredOne)
{
    makeProject(1);
    const QString working = path(QStringLiteral("p.orvdata/textures/0.png"));
    ASSERT_TRUE(writePicture(working, kWorking));
    ASSERT_EQ(mm->setWorkingTexture(0, working), 0);
    ASSERT_EQ(mm->saveProject(), 0);

    EXPECT_EQ(mm->setWorkingTexture(1, working), -1);
    EXPECT_EQ(mm->setWorkingTexture(-1, working), -1);
    EXPECT_EQ(mm->setWorkingTexture(0, path(QStringLiteral("nothing.png"))), -1);
    EXPECT_FALSE(mm->lastError().isEmpty());
    EXPECT_EQ(mm->setWorkingTexture(0, path(QStringLiteral("p.orvdata"))), -1) << "a folder";
    EXPECT_EQ(mm->workingTexture(0), working);
    EXPECT_TRUE(mm->workingTexture(1).isEmpty());
    EXPECT_FALSE(mm->isModified());
    EXPECT_EQ(meshColour(0), kWorking);

    mm->closeProject();
    EXPECT_EQ(mm->setWorkingTexture(0, working), -1);
    EXPECT_TRUE(mm->workingTexture(0).isEmpty());
}

TEST_F(WorkingTextures, ACopyGoneWhenOpeningIsLeftOutWithANotice)
{
    const QString file = makeProject(3);
    const QString data = path(QStringLiteral("p.orvdata/textures/"));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(writePicture(data + QStringLiteral("%1.png").arg(i), kWorking));
        ASSERT_EQ(mm->setWorkingTexture(i, data + QStringLiteral("%1.png").arg(i)), 0);
    }
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    // 0 deleted; 1 replaced by a folder; 2 by a FIFO, which must not be opened (it would block).
    ASSERT_TRUE(QFile::remove(data + QStringLiteral("0.png")));
    ASSERT_TRUE(QFile::remove(data + QStringLiteral("1.png")));
    ASSERT_TRUE(QDir().mkpath(data + QStringLiteral("1.png")));
    ASSERT_TRUE(QFile::remove(data + QStringLiteral("2.png")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(data + QStringLiteral("2.png")).constData(), 0600), 0);

    reopen(file);
    const QString notice = mm->openNotice();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(notice.contains(QStringLiteral("mesh_%1").arg(i))) << notice.toStdString();
        EXPECT_TRUE(notice.contains(QDir::toNativeSeparators(data + QStringLiteral("%1.png").arg(i))))
            << notice.toStdString();
        EXPECT_TRUE(mm->workingTexture(i).isEmpty()) << i;
        EXPECT_EQ(storeColour(i), kMaterial[i]) << i;
        EXPECT_EQ(meshColour(i), kMaterial[i]) << i;
    }
    EXPECT_TRUE(notice.contains(QStringLiteral("does not exist"))) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QStringLiteral("not a regular file"))) << notice.toStdString();
    // The rows are not part of the project any more: the next save leaves them out.
    ASSERT_EQ(mm->saveProject(), 0);
    EXPECT_TRUE(storedPaths(file).isEmpty());
    reopen(file);
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
}

TEST_F(WorkingTextures, RowsEditedByHandOpenAsTheOtherTablesDo)
{
    const QString file = makeProject(2);
    const QString data = path(QStringLiteral("p.orvdata/textures/"));
    ASSERT_TRUE(writePicture(data + QStringLiteral("0.png"), kWorking));
    ASSERT_TRUE(writePicture(data + QStringLiteral("other.png"), kPainted));
    ASSERT_EQ(mm->setWorkingTexture(0, data + QStringLiteral("0.png")), 0);
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();

    // Pointed at another existing file: read, and the table named as changed.
    edit(file, "UPDATE working_textures SET path = 'p.orvdata/textures/other.png';");
    reopen(file);
    QString notice = mm->openNotice();
    EXPECT_TRUE(notice.contains(QStringLiteral("the table working_textures"))) << notice.toStdString();
    EXPECT_EQ(mm->workingTexture(0), data + QStringLiteral("other.png"));
    EXPECT_EQ(meshColour(0), kPainted);
    mm->closeProject();

    // A row of an image that does not exist is left out.
    edit(file, "UPDATE working_textures SET image = 9;");
    reopen(file);
    notice = mm->openNotice();
    EXPECT_TRUE(notice.contains(QStringLiteral("image 9"))) << notice.toStdString();
    EXPECT_TRUE(mm->workingTexture(0).isEmpty());
    EXPECT_EQ(meshColour(0), kMaterial[0]);
    mm->closeProject();

    // An empty path is no working copy.
    edit(file, "UPDATE working_textures SET image = 1, path = '';");
    reopen(file);
    notice = mm->openNotice();
    EXPECT_TRUE(notice.contains(QStringLiteral("working texture of mesh mesh_1"))) << notice.toStdString();
    EXPECT_TRUE(mm->workingTexture(1).isEmpty());
    EXPECT_EQ(meshColour(1), kMaterial[1]);
}

TEST_F(WorkingTextures, FilesOfOlderVersionsOpenWithoutANotice)
{
    const QString file = makeProject(2);
    const QString working = path(QStringLiteral("p.orvdata/textures/0.png"));
    ASSERT_TRUE(writePicture(working, kWorking));
    mm->closeProject();
    // What a version without working copies writes: no table and no digest of it.
    edit(file, "DROP TABLE working_textures; DELETE FROM digests WHERE part = 'working_textures';");
    reopen(file);
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_FALSE(mm->isModified());
    EXPECT_EQ(meshColour(0), kMaterial[0]);

    ASSERT_EQ(mm->setWorkingTexture(0, working), 0);
    ASSERT_EQ(mm->saveProject(), 0);
    reopen(file);
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_EQ(mm->workingTexture(0), working);
    mm->closeProject();

    // A version that checks only the whole-file checksum finds the file as it was written: the
    // working copies are not part of that checksum.
    edit(file, "DROP TABLE digests;");
    reopen(file);
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_EQ(mm->workingTexture(0), working);
}

}  // namespace
