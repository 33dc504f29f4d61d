// The journeys' readers, on pictures and project data made here: a wrong reading would let a
// journey pass or fail for the wrong reason.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>

#include "JourneyImage.h"
#include "JourneyProject.h"

namespace {

using namespace journey;

const QColor kWindow(0x3c, 0x37, 0x37);
const QColor kView(0x59, 0x56, 0x55);
const QColor kHighlight(0x4a, 0xb4, 0xc8);

// A maximised host as the journeys see it: docks left and right, the 3D view with a mesh in
// it, a splitter, the photo view with a photograph, a status bar.
QImage hostPicture()
{
    QImage image(1600, 1000, QImage::Format_RGB32);
    image.fill(kWindow);
    QPainter p(&image);
    p.fillRect(QRect(QPoint(306, 67), QPoint(797, 977)), kView);
    p.fillRect(QRect(450, 480, 200, 40), QColor(90, 140, 60));      // a mesh
    p.fillRect(QRect(798, 67, 4, 911), QColor(0x42, 0x3d, 0x3a));   // splitter
    p.fillRect(QRect(805, 340, 490, 370), QColor(120, 160, 210));   // the photograph
    p.fillRect(QRect(1300, 67, 1, 911), QColor(0x2e, 0x2a, 0x2a));  // dock edge
    p.fillRect(QRect(0, 90, 298, 18), kHighlight);                  // the selected folder
    p.fillRect(QRect(0, 980, 1600, 20), QColor(0x30, 0x2c, 0x2c));  // status bar
    return image;
}

TEST(JourneyImage, FindsTheViewsOfTheHostWindow)
{
    const QImage picture = hostPicture();
    const HostLayout layout = findHostLayout(picture);
    ASSERT_TRUE(layout.valid());
    EXPECT_EQ(layout.view3D, QRect(QPoint(306, 67), QPoint(797, 977)));
    EXPECT_EQ(layout.background3D, kView);
    EXPECT_EQ(layout.photoView.left(), 802);
    EXPECT_EQ(layout.photoView.right(), 1299);
    EXPECT_EQ(layout.photoView.top(), 67);
    EXPECT_EQ(layout.photoView.bottom(), 977);
    EXPECT_LT(layout.leftDock.right(), 306);
    EXPECT_GT(layout.rightDock.left(), 1299);
    EXPECT_EQ(layout.rightDock.right(), 1599);

    // Meshes reaching the row the views are looked for on do not hide the view's edges.
    QImage covered = picture;
    QPainter(&covered).fillRect(QRect(400, 940, 200, 30), QColor(90, 140, 60));
    const HostLayout stillFound = findHostLayout(covered);
    ASSERT_TRUE(stillFound.valid());
    EXPECT_EQ(stillFound.view3D.left(), 306);
    EXPECT_EQ(stillFound.view3D.top(), 67);
}

TEST(JourneyImage, NoLayoutWithoutTheViews)
{
    QImage empty(1600, 1000, QImage::Format_RGB32);
    empty.fill(kWindow);
    EXPECT_FALSE(findHostLayout(empty).valid());
    // A 3D view alone, with no photo view beside it.
    QImage alone = empty;
    QPainter(&alone).fillRect(QRect(306, 67, 700, 911), kView);
    const HostLayout layout = findHostLayout(alone);
    EXPECT_TRUE(layout.view3D.isValid());
    EXPECT_FALSE(layout.valid());
    EXPECT_FALSE(findHostLayout(QImage()).valid());
}

TEST(JourneyImage, ChangedShareCountsDifferingPixelsOfTheRegion)
{
    QImage a(100, 100, QImage::Format_RGB32);
    a.fill(kWindow);
    QImage b = a;
    QPainter(&b).fillRect(QRect(0, 0, 50, 10), Qt::white);
    EXPECT_DOUBLE_EQ(changedShare(a, b, QRect(0, 0, 100, 100)), 0.05);
    EXPECT_DOUBLE_EQ(changedShare(a, b, QRect(0, 0, 50, 10)), 1.0);
    EXPECT_DOUBLE_EQ(changedShare(a, b, QRect(0, 50, 100, 50)), 0.0);
    // A slightly different grey is within the tolerance, a menu's grey on the window's is not.
    QImage c = a;
    c.fill(QColor(0x3e, 0x39, 0x39));
    EXPECT_DOUBLE_EQ(changedShare(a, c, QRect(0, 0, 100, 100)), 0.0);
    c.fill(QColor(0x43, 0x3e, 0x44));
    EXPECT_DOUBLE_EQ(changedShare(a, c, QRect(0, 0, 100, 100)), 1.0);
    // What lies off the picture counts as changed: a region cannot pass by being outside.
    EXPECT_DOUBLE_EQ(changedShare(a, a, QRect(50, 0, 100, 100)), 0.5);
}

TEST(JourneyImage, SharesAndBoundsOfPixelsUnlikeABackground)
{
    const QImage picture = hostPicture();
    const QRect view(QPoint(306, 67), QPoint(797, 977));
    EXPECT_EQ(boundsUnlike(picture, view, kView), QRect(450, 480, 200, 40));
    EXPECT_NEAR(shareUnlike(picture, view, kView), 200.0 * 40 / (492.0 * 911), 1e-9);
    EXPECT_FALSE(boundsUnlike(picture, QRect(310, 70, 50, 50), kView).isValid());
}

TEST(JourneyImage, FindsTheHighlightedRow)
{
    const QImage picture = hostPicture();
    const Band band = findHighlightBand(picture, 10, 67, 300);
    ASSERT_TRUE(band.valid());
    EXPECT_EQ(band.top, 90);
    EXPECT_EQ(band.bottom, 107);
    EXPECT_EQ(band.middle(), 98);
    // The grey panels are no highlight.
    EXPECT_FALSE(findHighlightBand(picture, 10, 120, 900).valid());
    EXPECT_FALSE(findHighlightBand(picture, 5000, 0, 999).valid());
}

QByteArray folderRecord(int id, int parent, int type, bool expanded, bool selected, const QByteArray& name)
{
    QByteArray r(272, '\0');
    qToLittleEndian<qint32>(id, r.data());
    qToLittleEndian<qint32>(parent, r.data() + 4);
    qToLittleEndian<qint32>(type, r.data() + 8);
    r[12] = expanded ? 1 : 0;
    r[13] = selected ? 1 : 0;
    for (int i = 0; i < name.size() && i < 256; ++i) r[14 + i] = name[i];
    r[270] = 'x';  // padding is not part of the name
    return r;
}

TEST(JourneyProject, ReadsTheStoredFolderRecords)
{
    const QByteArray longName(300, 'n');
    const QByteArray blob =
        folderRecord(0, -1, 0, true, false, "Root") + folderRecord(1, 0, 1, false, false, "Default") +
        folderRecord(2, 1, 1, false, true, "Survey North") + folderRecord(3, 0, 1, false, false, longName);
    bool ok = false;
    const QVector<TreeFolder> folders = parseTreeFolders(blob, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(folders.size(), 4);
    EXPECT_EQ(folders[0].name, QStringLiteral("Root"));
    EXPECT_EQ(folders[0].parent, -1);
    EXPECT_EQ(folders[0].type, 0);
    EXPECT_TRUE(folders[0].expanded);
    EXPECT_EQ(folders[2].id, 2);
    EXPECT_EQ(folders[2].parent, 1);
    EXPECT_TRUE(folders[2].selected);
    EXPECT_EQ(folders[2].name, QStringLiteral("Survey North"));
    // A name that fills its field has no terminating NUL: all 256 bytes, and not the padding.
    EXPECT_EQ(folders[3].name, QString(256, QLatin1Char('n')));

    parseTreeFolders(blob.left(300), &ok);
    EXPECT_FALSE(ok);
}

TEST(JourneyProject, ReadsImagesAndBlobsOfAProjectFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("p.orvproj"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    const char* sql =
        "CREATE TABLE images(idx INTEGER PRIMARY KEY, position INTEGER NOT NULL UNIQUE, photo TEXT NOT NULL,"
        " mesh TEXT NOT NULL, label TEXT NOT NULL);"
        "CREATE TABLE blobs(grp TEXT NOT NULL, key TEXT NOT NULL, data BLOB NOT NULL, PRIMARY KEY(grp, key));"
        "INSERT INTO images VALUES(0, 1, 'photos/b.jpg', 'meshes/b.obj', 'b');"
        "INSERT INTO images VALUES(1, 0, 'photos/a.jpg', 'meshes/a.obj', 'a');"
        "INSERT INTO blobs VALUES('OrvTQImageTree', 'OrvTQImageTreeFolder', x'0102');"
        "INSERT INTO blobs VALUES('Other', 'OrvTQImageTreeFolder', x'03');";
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    bool ok = false;
    const QVector<ProjectImage> images = projectImages(path, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(images.size(), 2);
    // In the project's order, not the ids'.
    EXPECT_EQ(images[0].photo, QStringLiteral("photos/a.jpg"));
    EXPECT_EQ(images[0].mesh, QStringLiteral("meshes/a.obj"));
    EXPECT_EQ(images[1].index, 0);
    EXPECT_EQ(projectBlob(path, QStringLiteral("OrvTQImageTree"), QStringLiteral("OrvTQImageTreeFolder")),
              QByteArray("\x01\x02", 2));
    EXPECT_TRUE(projectBlob(path, QStringLiteral("OrvTQImageTree"), QStringLiteral("Missing")).isEmpty());

    projectImages(dir.filePath(QStringLiteral("missing.orvproj")), &ok);
    EXPECT_FALSE(ok);
}

}  // namespace
