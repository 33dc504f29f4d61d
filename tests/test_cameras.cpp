// A photo's registered camera kept with the project: stored, cleared, refused when not a camera,
// written and read back bit for bit, missing from files of older versions, left out with a
// notice when a row was damaged by hand, and counted by the modified check.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>

#include "OrvKernel64t.h"
#include "TestSupport.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class Cameras : public ::testing::Test {
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

    // work/p.orvproj with n images (640 x 480 photos on quads), saved.
    QString makeProject(int n)
    {
        const QString file = path(QStringLiteral("p.orvproj"));
        EXPECT_EQ(mm->createProject(file), 0) << mm->lastError().toStdString();
        for (int i = 0; i < n; ++i) {
            QImage img(640, 480, QImage::Format_RGB32);
            img.fill(QColor(40 * i, 90, 160));
            const QString photo = path(QStringLiteral("photo_%1.png").arg(i));
            EXPECT_TRUE(img.save(photo));
            QImage tex(8, 8, QImage::Format_RGB32);
            tex.fill(Qt::red);
            EXPECT_TRUE(tex.save(path(QStringLiteral("mesh_%1_tex.png").arg(i))));
            EXPECT_TRUE(
                orvtest::writeFile(path(QStringLiteral("mesh_%1.mtl").arg(i)),
                                   QStringLiteral("newmtl m\nKd 1 1 1\nmap_Kd mesh_%1_tex.png\n").arg(i).toUtf8()));
            const QString obj = path(QStringLiteral("mesh_%1.obj").arg(i));
            EXPECT_TRUE(
                orvtest::writeFile(obj, QStringLiteral("mtllib mesh_%1.mtl\nv 0 0 0\nv 2 0 0\nv 2 1 0\nv 0 1 0\n"
                                                       "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl m\n"
                                                       "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n")
                                            .arg(i)
                                            .toUtf8()));
            EXPECT_EQ(mm->addImage(photo, obj, QString()), i) << mm->lastError().toStdString();
        }
        EXPECT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
        return file;
    }

    // A camera 3 units in front of the quad, turned a little about y, with awkward numbers (not
    // exact in decimal) so that a text or float round trip would show.
    static ZimPhotoCamera camera(double seed)
    {
        ZimPhotoCamera c;
        c.width = 640;
        c.height = 480;
        c.fx = 812.3456789 + seed / 3.0;
        c.fy = c.fx * (1.0 + 1e-7);
        c.cx = 319.1 + seed / 7.0;
        c.cy = 241.3 - seed / 11.0;
        c.k1 = -0.0312345678901;
        c.k2 = 0.00412345678901;
        const double a = 0.1 + seed / 13.0;
        const double R[9] = {std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)};
        std::memcpy(c.R, R, sizeof R);
        c.t[0] = -1.0 / 3.0;
        c.t[1] = -0.5 + seed / 17.0;
        c.t[2] = 3.0 + seed / 19.0;
        c.rms = 0.61803398875;
        c.residuals = {{7, 0.25 / 3.0, true}, {-3, 1.0 / 7.0, true}, {12, 40.123456789, false}};
        return c;
    }

    static bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

    static void expectSame(const ZimPhotoCamera& a, const ZimPhotoCamera& b)
    {
        EXPECT_EQ(a.width, b.width);
        EXPECT_EQ(a.height, b.height);
        const double va[] = {a.fx, a.fy, a.cx, a.cy, a.k1, a.k2, a.rms, a.t[0], a.t[1], a.t[2]};
        const double vb[] = {b.fx, b.fy, b.cx, b.cy, b.k1, b.k2, b.rms, b.t[0], b.t[1], b.t[2]};
        for (int i = 0; i < 10; ++i)
            EXPECT_TRUE(sameBits(va[i], vb[i])) << "value " << i << ": " << va[i] << " vs " << vb[i];
        for (int i = 0; i < 9; ++i) EXPECT_TRUE(sameBits(a.R[i], b.R[i])) << "R[" << i << "]";
        ASSERT_EQ(a.residuals.size(), b.residuals.size());
        for (int i = 0; i < a.residuals.size(); ++i) {
            EXPECT_EQ(a.residuals[i].id, b.residuals[i].id);
            EXPECT_EQ(a.residuals[i].used, b.residuals[i].used);
            EXPECT_TRUE(sameBits(a.residuals[i].pixels, b.residuals[i].pixels));
        }
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

    QTemporaryDir tmp;
    QString root;
    ref_ptr<IZimMM> mm;
};

TEST(CameraRecord, ValidityAndEye)
{
    ZimPhotoCamera c;
    EXPECT_FALSE(c.isValid()) << "no size, no focal length";
    c.width = 100;
    c.height = 80;
    c.fx = c.fy = 90;
    c.cx = 50;
    c.cy = 40;
    EXPECT_TRUE(c.isValid());
    // A camera 5 units behind the origin looking along +z: x_cam = X + (0, 0, 5).
    c.t[2] = 5;
    EXPECT_EQ(c.eye().z, -5.0);
    // Turned half a turn about y: the eye is on the other side.
    const double half[9] = {-1, 0, 0, 0, 1, 0, 0, 0, -1};
    std::memcpy(c.R, half, sizeof half);
    EXPECT_TRUE(c.isValid());
    EXPECT_EQ(c.eye().z, 5.0);

    ZimPhotoCamera bad = c;
    bad.fy = 0;
    EXPECT_FALSE(bad.isValid());
    bad = c;
    bad.height = -1;
    EXPECT_FALSE(bad.isValid());
    bad = c;
    bad.k2 = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(bad.isValid());
    bad = c;
    bad.t[1] = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(bad.isValid());
    bad = c;
    bad.residuals = {{1, std::numeric_limits<double>::quiet_NaN(), true}};
    EXPECT_FALSE(bad.isValid());
    bad = c;
    bad.R[0] = -1.001;  // stretched
    EXPECT_FALSE(bad.isValid());
    bad = c;
    bad.R[8] = 1;  // a mirror: orthonormal but not a rotation
    EXPECT_FALSE(bad.isValid());
}

TEST_F(Cameras, StoredClearedAndReadBackBitForBit)
{
    const QString file = makeProject(3);
    ZimPhotoCamera out = camera(1);
    EXPECT_EQ(mm->getImageCamera(0, out), -1);
    EXPECT_EQ(out.width, 0) << "a missing camera resets out";

    const ZimPhotoCamera c0 = camera(0), c2 = camera(2);
    ASSERT_EQ(mm->setImageCamera(0, &c0), 0) << mm->lastError().toStdString();
    ASSERT_EQ(mm->setImageCamera(2, &c2), 0);
    ASSERT_EQ(mm->getImageCamera(0, out), 0);
    expectSame(out, c0);
    EXPECT_EQ(mm->getImageCamera(1, out), -1);
    ASSERT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
    mm->closeProject();
    EXPECT_EQ(mm->getImageCamera(0, out), -1) << "no project";

    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_FALSE(mm->isModified());
    ASSERT_EQ(mm->getImageCamera(0, out), 0);
    expectSame(out, c0);
    ASSERT_EQ(mm->getImageCamera(2, out), 0);
    expectSame(out, c2);
    EXPECT_EQ(mm->getImageCamera(1, out), -1);

    // Cleared with null; the clearing is saved too.
    ASSERT_EQ(mm->setImageCamera(2, nullptr), 0);
    EXPECT_EQ(mm->getImageCamera(2, out), -1);
    ASSERT_EQ(mm->saveProjectAs(path(QStringLiteral("copy.orvproj"))), 0);
    mm->closeProject();
    ASSERT_EQ(mm->openProject(path(QStringLiteral("copy.orvproj")), nullptr), 0);
    EXPECT_EQ(mm->getImageCamera(2, out), -1);
    ASSERT_EQ(mm->getImageCamera(0, out), 0);
    expectSame(out, c0);
}

TEST_F(Cameras, InvalidCamerasAndUnknownImagesAreRefusedKeepingTheStoredOne)
{
    makeProject(2);
    const ZimPhotoCamera good = camera(0);
    ASSERT_EQ(mm->setImageCamera(1, &good), 0);
    mm->setModified(false);

    ZimPhotoCamera bad = good;
    bad.fx = -bad.fx;
    EXPECT_EQ(mm->setImageCamera(1, &bad), -1);
    EXPECT_FALSE(mm->lastError().isEmpty());
    bad = good;
    bad.R[1] = 0.2;  // not orthonormal
    EXPECT_EQ(mm->setImageCamera(1, &bad), -1);
    bad = good;
    bad.cx = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(mm->setImageCamera(1, &bad), -1);
    EXPECT_EQ(mm->setImageCamera(2, &good), -1);
    EXPECT_EQ(mm->setImageCamera(-1, &good), -1);
    EXPECT_EQ(mm->setImageCamera(5, nullptr), -1);

    ZimPhotoCamera out;
    ASSERT_EQ(mm->getImageCamera(1, out), 0);
    expectSame(out, good);
    EXPECT_FALSE(mm->isModified()) << "refusals change nothing";

    mm->closeProject();
    EXPECT_EQ(mm->setImageCamera(0, &good), -1) << "no project";
}

TEST_F(Cameras, ModifiedFollowsTheCamera)
{
    makeProject(2);
    EXPECT_FALSE(mm->isModified());
    const ZimPhotoCamera c = camera(0);
    ASSERT_EQ(mm->setImageCamera(1, &c), 0);
    EXPECT_TRUE(mm->isModified());
    ASSERT_EQ(mm->setImageCamera(1, nullptr), 0);
    EXPECT_FALSE(mm->isModified()) << "cleared again: what a save writes is what was saved";
    ASSERT_EQ(mm->setImageCamera(1, &c), 0);
    ASSERT_EQ(mm->saveProject(), 0);
    EXPECT_FALSE(mm->isModified());

    // Any number or residual counts.
    ZimPhotoCamera moved = c;
    moved.t[0] += 1e-12;
    ASSERT_EQ(mm->setImageCamera(1, &moved), 0);
    EXPECT_TRUE(mm->isModified());
    ASSERT_EQ(mm->setImageCamera(1, &c), 0);
    EXPECT_FALSE(mm->isModified());
    ZimPhotoCamera flagged = c;
    flagged.residuals[2].used = true;
    ASSERT_EQ(mm->setImageCamera(1, &flagged), 0);
    EXPECT_TRUE(mm->isModified());
    ZimPhotoCamera resized = c;
    resized.width = 1280;
    ASSERT_EQ(mm->setImageCamera(1, &resized), 0);
    EXPECT_TRUE(mm->isModified());
}

TEST_F(Cameras, AProjectOfAnOlderVersionWithoutTheTableOpensAsBefore)
{
    const QString file = makeProject(2);
    const ZimPhotoCamera c = camera(0);
    ASSERT_EQ(mm->setImageCamera(0, &c), 0);
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    // What an older version writes: no cameras table and no digest of it.
    edit(file, "DROP TABLE cameras; DELETE FROM digests WHERE part = 'cameras';");

    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_EQ(mm->imageCount(), 2);
    EXPECT_FALSE(mm->isModified());
    ZimPhotoCamera out;
    EXPECT_EQ(mm->getImageCamera(0, out), -1);

    // A camera set now is written with the table.
    ASSERT_EQ(mm->setImageCamera(1, &c), 0);
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    ASSERT_EQ(mm->getImageCamera(1, out), 0);
    expectSame(out, c);
}

TEST_F(Cameras, DamagedRowsAreLeftOutWithANoticeAndTheRestOpens)
{
    const QString file = makeProject(4);
    for (int i = 0; i < 4; ++i) {
        const ZimPhotoCamera c = camera(i);
        ASSERT_EQ(mm->setImageCamera(i, &c), 0);
    }
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    // Image 0: a focal length made negative; 1: a rotation cut short; 2: a residual blob of the
    // wrong length; 3 stays sound.
    edit(file,
         "UPDATE cameras SET fx = -5 WHERE image = 0;"
         "UPDATE cameras SET rotation = substr(rotation, 1, 40) WHERE image = 1;"
         "UPDATE cameras SET residuals = x'0102' WHERE image = 2;");

    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    const QString notice = mm->openNotice();
    EXPECT_TRUE(notice.contains(QStringLiteral("the table cameras"))) << notice.toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(notice.contains(QStringLiteral("the camera of image %1 is damaged").arg(i)))
            << notice.toStdString();
    EXPECT_FALSE(notice.contains(QStringLiteral("image 3"))) << notice.toStdString();
    EXPECT_EQ(mm->imageCount(), 4);
    ZimPhotoCamera out;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mm->getImageCamera(i, out), -1) << i;
    ASSERT_EQ(mm->getImageCamera(3, out), 0);
    expectSame(out, camera(3));
    // Saving writes only what was kept, and the file is whole again.
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_EQ(mm->getImageCamera(3, out), 0);
    EXPECT_EQ(mm->getImageCamera(0, out), -1);
}

TEST_F(Cameras, ACameraOfAnImageThatDoesNotExistIsLeftOut)
{
    const QString file = makeProject(1);
    const ZimPhotoCamera c = camera(0);
    ASSERT_EQ(mm->setImageCamera(0, &c), 0);
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    edit(file, "UPDATE cameras SET image = 9;");
    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_TRUE(mm->openNotice().contains(QStringLiteral("image 9"))) << mm->openNotice().toStdString();
    ZimPhotoCamera out;
    EXPECT_EQ(mm->getImageCamera(0, out), -1);
}

}  // namespace
