// Journey: mapping a photograph by hand. On a sample project whose last photo is not mapped yet
// (it keeps its marks), that photo is opened from the File menu, mapped with Ctrl+M and looked
// through with Ctrl+L, so that the photo laid over the 3D view lines up with the meshes. The
// saved project holds its camera and the photo mapped; Ctrl+Z and another save take both back.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <ostream>

#include "JourneyFixture.h"
#include "JourneyProcess.h"

namespace {

using namespace journey;

// The photo the sample leaves unmapped: the last of four.
const int kPhoto = 3;

// What the project file says about one photo: whether it is mapped and whether it has a camera.
struct PhotoRow {
    bool read = false;
    bool mapped = false;
    bool camera = false;
    double rms = -1;
};

PhotoRow storedPhoto(const QString& file, int index)
{
    PhotoRow row;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return row;
    }
    sqlite3_stmt* s = nullptr;
    bool mappedRead = false;
    if (sqlite3_prepare_v2(db, "SELECT mapped FROM images WHERE idx = ?", -1, &s, nullptr) == SQLITE_OK) {
        sqlite3_bind_int(s, 1, index);
        if (sqlite3_step(s) == SQLITE_ROW) {
            row.mapped = sqlite3_column_int(s, 0) != 0;
            mappedRead = true;
        }
    }
    sqlite3_finalize(s);
    s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT rms FROM cameras WHERE image = ?", -1, &s, nullptr) == SQLITE_OK) {
        sqlite3_bind_int(s, 1, index);
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) {
            row.camera = true;
            row.rms = sqlite3_column_double(s, 0);
        }
        row.read = mappedRead && (rc == SQLITE_ROW || rc == SQLITE_DONE);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return row;
}

class MapPhotoJourney : public HostJourney {
protected:
    // The last photo is left unmapped with its marks.
    QStringList sampleOptions() const override
    {
        return HostJourney::sampleOptions() + QStringList{QStringLiteral("--unmapped"), QStringLiteral("1")};
    }

    // Saves with Ctrl+S and reads the photo's row back.
    PhotoRow saveAndRead(const QString& shot)
    {
        const QByteArray before = fileBytes();
        EXPECT_TRUE(m_desktop.key(QStringLiteral("ctrl+s")));
        EXPECT_TRUE(waitUntil([&]() { return fileBytes() != before; }, 10000))
            << "Ctrl+S wrote nothing (" << shot.toStdString() << ")";
        m_desktop.screenshot(shot);
        const PhotoRow row = storedPhoto(m_project, kPhoto);
        EXPECT_TRUE(row.read) << "the saved project cannot be read";
        return row;
    }
    QByteArray fileBytes() const
    {
        QFile f(m_project);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST_F(MapPhotoJourney, OpenMapLookThroughSaveAndUndo)
{
    const PhotoRow original = storedPhoto(m_project, kPhoto);
    ASSERT_TRUE(original.read);
    ASSERT_FALSE(original.mapped);
    ASSERT_FALSE(original.camera);

    QImage shot = openSample();
    ASSERT_TRUE(m_layout.valid());

    // The unmapped photo, from File > Open photo: its path typed into the dialog.
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+shift+o")));
    ASSERT_TRUE(waitUntil([&]() { return !m_desktop.visibleWindows(QStringLiteral("^Open Photo")).isEmpty(); }, 10000))
        << "the Open Photo dialog did not come up";
    sleepMs(500);
    ASSERT_TRUE(m_desktop.typeText(m_sample + QStringLiteral("/photos/tile_003.jpg")));
    ASSERT_TRUE(m_desktop.key(QStringLiteral("Return")));
    ASSERT_TRUE(waitUntil([&]() { return m_desktop.visibleWindows(QStringLiteral("^Open Photo")).isEmpty(); }, 10000))
        << "the Open Photo dialog stayed";
    bool changed = false;
    shot = waitForChange(shot, m_layout.photoView.adjusted(4, 4, -4, -4), 0.05, QStringLiteral("photo-opened"), 8000,
                         &changed);
    EXPECT_TRUE(changed) << "the photo view did not change to the photo opened";

    // Ctrl+M maps it; its summary line goes to the status bar. A warning box (marks bunched in
    // one part of the photo, say) is closed with Escape, which does nothing when there is none.
    const QImage beforeMap = shot;
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+m")));
    sleepMs(1000);
    m_desktop.screenshot(QStringLiteral("after-map"));
    ASSERT_TRUE(m_desktop.key(QStringLiteral("Escape")));
    const QRect statusRow(0, kScreen.height() - 40, kScreen.width() / 2, 40);
    shot = waitForChange(beforeMap, statusRow, 0.002, QStringLiteral("mapped"), 8000, &changed);
    EXPECT_TRUE(changed) << "nothing showed in the status bar after Ctrl+M";

    // Ctrl+L: the 3D view turns to the photo's camera with the photo laid over it; two steps of
    // Ctrl+[ make the photo half see-through, so both show.
    const QImage beforeLook = m_desktop.settledScreenshot(QStringLiteral("before-look"), QRect(QPoint(0, 0), kScreen));
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+l")));
    const QImage looked = waitForChange(beforeLook, m_layout.view3D.adjusted(4, 4, -4, -4), 0.2,
                                        QStringLiteral("looked"), 8000, &changed);
    EXPECT_TRUE(changed) << "the 3D view did not change with Ctrl+L";
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+bracketleft")));
    sleepMs(300);
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+bracketleft")));
    const QImage half = waitForChange(looked, m_layout.view3D.adjusted(4, 4, -4, -4), 0.05,
                                      QStringLiteral("look-through"), 8000, &changed);
    EXPECT_TRUE(changed) << "the overlay did not become less opaque";
    ASSERT_TRUE(half.copy(m_layout.view3D).save(m_dir + QStringLiteral("/look-through-view.png")));

    // Saved: the photo is mapped and has its camera.
    const PhotoRow saved = saveAndRead(QStringLiteral("saved-mapped"));
    EXPECT_TRUE(saved.mapped);
    EXPECT_TRUE(saved.camera);
    EXPECT_GE(saved.rms, 0.0);
    EXPECT_LT(saved.rms, 5.0);

    // Ctrl+Z takes the mapping back; saved again, the photo is as it was.
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+z")));
    sleepMs(500);
    const PhotoRow undone = saveAndRead(QStringLiteral("saved-undone"));
    EXPECT_FALSE(undone.mapped);
    EXPECT_FALSE(undone.camera);

    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+q")));
    ASSERT_TRUE(m_desktop.host().waitExit(15000)) << "the host did not quit after the save";
    EXPECT_EQ(m_desktop.host().exitCode(), 0);
}

}  // namespace
