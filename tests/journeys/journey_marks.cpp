// Journey: placing a mark by hand. On the sample project a photo is opened from its mesh, the
// marks tool is taken up from the keyboard, a mark is placed in the photo view and dragged, its
// 3D point is placed with a click on the mesh, and undo and redo take the steps back and make
// them again. After each save the project file is read back for the marks it holds.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <cmath>
#include <ostream>

#include "JourneyFixture.h"
#include "JourneyProcess.h"

namespace {

using namespace journey;

// The sample's photographs.
const QSize kPhoto(800, 600);

// One mark as the project file stores it; NULL columns (a position not set) read as NaN.
struct StoredMark {
    int image = -1;
    int kind = -1;
    int id = 0;
    double u = 0, v = 0, x = 0, y = 0, z = 0;
    bool hasPoint() const { return std::isfinite(x) && std::isfinite(y) && std::isfinite(z); }
    bool operator==(const StoredMark& o) const
    {
        auto same = [](double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; };
        return image == o.image && kind == o.kind && id == o.id && same(u, o.u) && same(v, o.v) && same(x, o.x) &&
               same(y, o.y) && same(z, o.z);
    }
};

std::ostream& operator<<(std::ostream& os, const StoredMark& m)
{
    return os << "mark " << m.id << " of image " << m.image << " (kind " << m.kind << ") uv " << m.u << ", " << m.v
              << " point " << m.x << ", " << m.y << ", " << m.z;
}

// Every mark of the project file, keyed by (image, id); `ok` false when it cannot be read.
QMap<QPair<int, int>, StoredMark> storedMarks(const QString& file, bool* ok)
{
    QMap<QPair<int, int>, StoredMark> out;
    *ok = false;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return out;
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT image, kind, id, u, v, x, y, z FROM marks", -1, &s, nullptr) == SQLITE_OK) {
        auto real = [&](int column) {
            return sqlite3_column_type(s, column) == SQLITE_NULL ? std::nan("") : sqlite3_column_double(s, column);
        };
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            StoredMark m;
            m.image = sqlite3_column_int(s, 0);
            m.kind = sqlite3_column_int(s, 1);
            m.id = sqlite3_column_int(s, 2);
            m.u = real(3);
            m.v = real(4);
            m.x = real(5);
            m.y = real(6);
            m.z = real(7);
            out.insert({m.image, m.id}, m);
        }
        *ok = rc == SQLITE_DONE;
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return out;
}

// The marks of `now` that `before` does not hold as they are.
QVector<StoredMark> newMarks(const QMap<QPair<int, int>, StoredMark>& before,
                             const QMap<QPair<int, int>, StoredMark>& now)
{
    QVector<StoredMark> out;
    for (const StoredMark& m : now)
        if (!before.contains({m.image, m.id}) || !(before.value({m.image, m.id}) == m)) out.append(m);
    return out;
}

class MarksJourney : public HostJourney {
protected:
    QStringList sampleOptions() const override
    {
        return {QStringLiteral("--tiles"),        QStringLiteral("4"),
                QStringLiteral("--triangles"),    QStringLiteral("4000"),
                QStringLiteral("--photo-size"),   QStringLiteral("%1x%2").arg(kPhoto.width()).arg(kPhoto.height()),
                QStringLiteral("--texture-size"), QStringLiteral("256")};
    }

    // Where the photo view shows the photograph: fitted into the view less a margin, centred.
    QRectF photoRect() const
    {
        const QRectF view(m_layout.photoView);
        const double scale = std::min((view.width() - 10) / kPhoto.width(), (view.height() - 10) / kPhoto.height());
        const QSizeF size(kPhoto.width() * scale, kPhoto.height() * scale);
        return QRectF(view.center() - QPointF(size.width() / 2, size.height() / 2), size);
    }
    // The photo position shown at a screen pixel (v up).
    QPointF uvAt(const QPoint& p) const
    {
        const QRectF r = photoRect();
        return QPointF((p.x() + 0.5 - r.left()) / r.width(), (r.bottom() - p.y() - 0.5) / r.height());
    }

    // Saves with Ctrl+S and reads the marks the file then holds.
    QMap<QPair<int, int>, StoredMark> saveAndRead(const QString& shot)
    {
        const QByteArray before = fileBytes();
        EXPECT_TRUE(m_desktop.key(QStringLiteral("ctrl+s")));
        EXPECT_TRUE(waitUntil([&]() { return fileBytes() != before; }, 10000))
            << "Ctrl+S wrote nothing (" << shot.toStdString() << ")";
        m_desktop.screenshot(shot);
        bool ok = false;
        const auto marks = storedMarks(m_project, &ok);
        EXPECT_TRUE(ok) << "the saved project cannot be read";
        return marks;
    }
    QByteArray fileBytes() const
    {
        QFile f(m_project);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST_F(MarksJourney, PlaceDragPairWithTheMeshUndoRedoAndSave)
{
    bool ok = false;
    const auto original = storedMarks(m_project, &ok);
    ASSERT_TRUE(ok) << "the sample project cannot be read";

    QImage shot = openSample();
    ASSERT_TRUE(m_layout.valid());

    // A photo is chosen by double-clicking its mesh in the 3D view.
    const QRect content = boundsUnlike(shot, m_layout.view3D.adjusted(4, 4, -4, -4), m_layout.background3D);
    ASSERT_TRUE(content.isValid());
    QPoint onMesh(-1, -1);
    const QPoint want = content.center();
    for (int r = 0; r < 60 && onMesh.x() < 0; ++r)
        for (int dy = -r; dy <= r && onMesh.x() < 0; ++dy)
            for (int dx = -r; dx <= r && onMesh.x() < 0; ++dx) {
                const QPoint p = want + QPoint(dx, dy);
                if (shareUnlike(shot, QRect(p - QPoint(3, 3), QSize(7, 7)), m_layout.background3D) >= 1.0) onMesh = p;
            }
    ASSERT_GE(onMesh.x(), 0) << "no mesh pixel in the 3D view";
    ASSERT_TRUE(m_desktop.doubleClick(onMesh));
    sleepMs(800);
    shot = m_desktop.settledScreenshot(QStringLiteral("photo-chosen"), QRect(QPoint(0, 0), kScreen));

    // The marks tool, from the keyboard.
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+e")));
    sleepMs(500);
    const QImage withTool = m_desktop.settledScreenshot(QStringLiteral("tool"), QRect(QPoint(0, 0), kScreen));

    // A click on the photo places a mark; the view shows it there.
    const QRectF photo = photoRect();
    const QPoint placeAt = (photo.center() + QPointF(-photo.width() / 5, -photo.height() / 5)).toPoint();
    ASSERT_TRUE(m_desktop.click(placeAt));
    bool shown = false;
    const QImage placed = waitForChange(withTool, QRect(placeAt - QPoint(20, 20), QSize(40, 40)), 0.02,
                                        QStringLiteral("placed"), 6000, &shown);
    EXPECT_TRUE(shown) << "no marker where the mark was placed";

    // Dragged, the marker follows and leaves its first place.
    const QPoint dragTo = placeAt + QPoint(int(photo.width() / 4), int(photo.height() / 8));
    ASSERT_TRUE(m_desktop.drag(placeAt, dragTo, 1, 12));
    const QImage dragged = waitForChange(placed, QRect(dragTo - QPoint(20, 20), QSize(40, 40)), 0.02,
                                         QStringLiteral("dragged"), 6000, &shown);
    EXPECT_TRUE(shown) << "no marker where the mark was dragged to";
    EXPECT_LT(changedShare(withTool, dragged, QRect(placeAt - QPoint(12, 12), QSize(24, 24))), 0.02)
        << "the marker is still at its first place";

    // A click on the mesh gives the mark (still selected) its 3D point.
    ASSERT_TRUE(m_desktop.click(onMesh));
    const QImage paired = waitForChange(dragged, QRect(onMesh - QPoint(15, 15), QSize(30, 30)), 0.02,
                                        QStringLiteral("paired"), 6000, &shown);
    EXPECT_TRUE(shown) << "no marker on the mesh where the 3D point was placed";

    // Saved: one new mark, with the photo position it was dragged to and a 3D point.
    const auto full = saveAndRead(QStringLiteral("saved-full"));
    const QVector<StoredMark> added = newMarks(original, full);
    ASSERT_EQ(added.size(), 1) << "expected exactly one new mark in the saved project";
    const StoredMark mark = added.first();
    EXPECT_EQ(full.size(), original.size() + 1);
    const QPointF expected = uvAt(dragTo);
    EXPECT_NEAR(mark.u, expected.x(), 0.01) << mark;
    EXPECT_NEAR(mark.v, expected.y(), 0.01) << mark;
    EXPECT_TRUE(mark.hasPoint()) << mark;

    // Undo: first the 3D point, then the drag.
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+z")));
    sleepMs(300);
    {
        const auto marks = saveAndRead(QStringLiteral("undo-point"));
        const StoredMark m = marks.value({mark.image, mark.id});
        ASSERT_EQ(m.id, mark.id) << "the mark is gone after one undo";
        EXPECT_FALSE(m.hasPoint()) << m;
        EXPECT_DOUBLE_EQ(m.u, mark.u);
        EXPECT_DOUBLE_EQ(m.v, mark.v);
    }
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+z")));
    sleepMs(300);
    {
        const auto marks = saveAndRead(QStringLiteral("undo-drag"));
        const StoredMark m = marks.value({mark.image, mark.id});
        ASSERT_EQ(m.id, mark.id) << "the mark is gone after two undos";
        const QPointF first = uvAt(placeAt);
        EXPECT_NEAR(m.u, first.x(), 0.01) << m;
        EXPECT_NEAR(m.v, first.y(), 0.01) << m;
        EXPECT_FALSE(m.hasPoint()) << m;
    }
    // Redo twice: the file holds the mark exactly as it was saved complete.
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+shift+z")));
    sleepMs(300);
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+shift+z")));
    sleepMs(300);
    const auto redone = saveAndRead(QStringLiteral("redone"));
    EXPECT_EQ(redone.value({mark.image, mark.id}), mark) << redone.value({mark.image, mark.id});
    EXPECT_EQ(redone.size(), full.size());
    EXPECT_TRUE(newMarks(full, redone).isEmpty());

    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+q")));
    ASSERT_TRUE(m_desktop.host().waitExit(15000)) << "the host did not quit after the save";
    EXPECT_EQ(m_desktop.host().exitCode(), 0);
}

}  // namespace
