// Journeys: the real orvhost on the sample project, on an X server of its own with a window
// manager, driven with real X input (xdotool) and judged by what the screen shows, what the
// project file holds and how the program ends. Every journey keeps its pictures, logs and
// project in build/journeys/<journey>/.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <ostream>

#include "JourneyFixture.h"
#include "JourneyProject.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using namespace journey;

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QRect around(QPoint p, int w, int h, const QSize& screen)
{
    return QRect(p, QSize(w, h)) & QRect(QPoint(0, 0), screen);
}

class Journey : public HostJourney {
protected:
    QPoint centre(const QRect& r) const { return r.center(); }
};

// The harness itself: the window comes up maximised with both views drawn, and a menu opened
// from the keyboard shows and goes again.
TEST_F(Journey, SampleOpensAndTheFileMenuOpensFromTheKeyboard)
{
    const QImage start = openSample();
    ASSERT_TRUE(m_layout.valid());
    EXPECT_GT(m_layout.view3D.width(), kScreen.width() / 6);
    EXPECT_GT(m_layout.view3D.height(), kScreen.height() / 2);
    // The photograph of the project's first image is on show.
    EXPECT_GT(shareUnlike(start, m_layout.photoView.adjusted(4, 4, -4, -4),
                          start.pixel(m_layout.photoView.topLeft() + QPoint(2, 2))),
              0.1);

    // The wheel zooms the 3D view.
    const QImage beforeWheel = m_desktop.settledScreenshot(QStringLiteral("before-wheel"), m_layout.view3D);
    ASSERT_TRUE(m_desktop.wheel(m_layout.view3D.center(), 4));
    bool zoomed = false;
    const QImage wheeled =
        waitForChange(beforeWheel, m_layout.view3D, 0.01, QStringLiteral("after-wheel"), 6000, &zoomed);
    EXPECT_TRUE(zoomed) << "the wheel did not zoom the 3D view";

    // The File menu drops down over the top left corner of the window.
    const QRect menuArea(0, 0, 450, 450);
    ASSERT_TRUE(m_desktop.key(QStringLiteral("alt+f")));
    bool opened = false;
    waitForChange(wheeled, menuArea, 0.05, QStringLiteral("file-menu"), 6000, &opened);
    EXPECT_TRUE(opened) << "Alt+F showed no menu";
    ASSERT_TRUE(m_desktop.key(QStringLiteral("Escape")));
    ASSERT_TRUE(m_desktop.key(QStringLiteral("Escape")));
    const QImage closed = m_desktop.settledScreenshot(QStringLiteral("file-menu-closed"), menuArea);
    EXPECT_LT(changedShare(wheeled, closed, menuArea), 0.01) << "the menu did not close on Escape";
}

// A right drag turns the camera; the view then still zooms with the wheel, and the next left
// click reaches the window (here: the File menu's title) instead of closing a stray menu.
TEST_F(Journey, RightDragOrbitsAndTheViewStillAnswers)
{
    openSample();
    ASSERT_TRUE(m_layout.valid());
    const QRect view = m_layout.view3D;
    const QPoint c = centre(view);
    const QImage before = m_desktop.settledScreenshot(QStringLiteral("before-drag"), view);

    ASSERT_TRUE(m_desktop.drag(c, c + QPoint(view.width() / 5, -view.height() / 8), 3, 12));
    bool orbited = false;
    const QImage orbit = waitForChange(before, view, 0.02, QStringLiteral("after-right-drag"), 6000, &orbited);
    EXPECT_TRUE(orbited) << "a right drag did not turn the 3D view (changed " << changedShare(before, orbit, view)
                         << ")";

    const QImage settled = m_desktop.settledScreenshot(QStringLiteral("settled-after-drag"), view);
    ASSERT_TRUE(m_desktop.wheel(c, 4));
    bool zoomed = false;
    const QImage zoom = waitForChange(settled, view, 0.02, QStringLiteral("after-wheel"), 6000, &zoomed);
    EXPECT_TRUE(zoomed) << "after the right drag the 3D view did not answer the wheel (changed "
                        << changedShare(settled, zoom, view) << ")";

    // The menu bar is the first row of the window, right above the toolbar: the title of the
    // first menu sits a few pixels into it.
    const QRect menuArea(0, 0, 450, 450);
    const QImage beforeClick = m_desktop.settledScreenshot(QStringLiteral("before-click"), menuArea);
    const int menuBarRow = std::max(10, m_layout.view3D.top() - 37);
    ASSERT_TRUE(m_desktop.click(QPoint(18, menuBarRow)));
    bool menu = false;
    waitForChange(beforeClick, menuArea, 0.05, QStringLiteral("after-left-click"), 5000, &menu);
    EXPECT_TRUE(menu) << "the first left click after the drag did not open the File menu";
    m_desktop.key(QStringLiteral("Escape"));
}

// A right click without moving opens the view's context menu when the button comes up, not
// before; Escape closes it. For the 3D view and for the photo view.
TEST_F(Journey, RightClickOpensTheContextMenuOnRelease)
{
    openSample();
    ASSERT_TRUE(m_layout.valid());
    const struct {
        const char* name;
        QRect view;
    } views[] = {{"3d", m_layout.view3D}, {"photo", m_layout.photoView}};
    for (const auto& v : views) {
        SCOPED_TRACE(v.name);
        const QPoint p = v.view.topLeft() + QPoint(v.view.width() / 3, v.view.height() / 3);
        // A menu opens at the pointer, to its lower right.
        const QRect menuArea = around(p, 220, 240, kScreen);
        const QString name = QString::fromLatin1(v.name);
        ASSERT_TRUE(m_desktop.moveMouse(p));
        const QImage before = m_desktop.settledScreenshot(name + QStringLiteral("-before"), v.view);
        ASSERT_TRUE(m_desktop.mouseDown(3));
        sleepMs(500);
        const QImage pressed = m_desktop.screenshot(name + QStringLiteral("-pressed"));
        ASSERT_TRUE(m_desktop.mouseUp(3));
        EXPECT_LT(changedShare(before, pressed, menuArea), 0.02) << "something opened while the button was down";
        bool opened = false;
        const QImage released =
            waitForChange(before, menuArea, 0.08, name + QStringLiteral("-released"), 5000, &opened);
        EXPECT_TRUE(opened) << "no context menu after the release (changed " << changedShare(before, released, menuArea)
                            << ")";
        ASSERT_TRUE(m_desktop.key(QStringLiteral("Escape")));
        const QImage closed = m_desktop.settledScreenshot(name + QStringLiteral("-escape"), menuArea);
        EXPECT_LT(changedShare(before, closed, menuArea), 0.02) << "Escape left the menu open";
    }
}

// The wheel with Alt held zooms the 3D view and the photo view.
TEST_F(Journey, AltWheelZoomsBothViews)
{
    openSample();
    ASSERT_TRUE(m_layout.valid());
    for (const QRect& view : {m_layout.view3D, m_layout.photoView}) {
        const bool is3D = view == m_layout.view3D;
        SCOPED_TRACE(is3D ? "3d" : "photo");
        const QString name = is3D ? QStringLiteral("3d") : QStringLiteral("photo");
        ASSERT_TRUE(m_desktop.moveMouse(view.center()));
        const QImage before = m_desktop.settledScreenshot(name + QStringLiteral("-before"), view);
        ASSERT_TRUE(m_desktop.wheel(view.center(), 4, QStringLiteral("alt")));
        bool zoomed = false;
        const QImage after = waitForChange(before, view, 0.05, name + QStringLiteral("-alt-wheel"), 6000, &zoomed);
        EXPECT_TRUE(zoomed) << "Alt+wheel did not zoom (changed " << changedShare(before, after, view) << ")";
    }
}

// A folder made in the Photographs tree and named there is in the project after File > Save,
// and there again when the project is opened anew.
TEST_F(Journey, NewFolderSurvivesSaveAndReopen)
{
    const QString folderName = QStringLiteral("Survey North");
    const QImage start = openSample();
    ASSERT_TRUE(m_layout.valid());
    // The tree is at the top of the Photographs dock; the selected folder ("Default") is the
    // highlighted row.
    const QRect tree(m_layout.leftDock.left(), m_layout.leftDock.top(), m_layout.leftDock.width(),
                     m_layout.leftDock.height() / 5);
    const Band selected = findHighlightBand(start, tree.left() + 10, tree.top(), tree.bottom());
    ASSERT_TRUE(selected.valid()) << "no selected folder in the Photographs tree";
    const QPoint row(tree.left() + 70, selected.middle());

    ASSERT_TRUE(m_desktop.click(row, 3));
    bool menu = false;
    waitForChange(start, around(row, 200, 200, kScreen), 0.08, QStringLiteral("tree-menu"), 5000, &menu);
    ASSERT_TRUE(menu) << "no context menu on the tree";
    // Its first entry: "Add Child Folder". The new folder opens with its name editor.
    ASSERT_TRUE(m_desktop.key(QStringLiteral("Down")));
    ASSERT_TRUE(m_desktop.key(QStringLiteral("Return")));
    sleepMs(300);
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+a")));
    ASSERT_TRUE(m_desktop.typeText(folderName));
    ASSERT_TRUE(m_desktop.key(QStringLiteral("Return")));
    const QImage named = m_desktop.settledScreenshot(QStringLiteral("folder-named"), tree);
    EXPECT_GT(changedShare(start, named, tree), 0.005) << "the tree shows no new folder";
    // The title marks the project as changed, until it is saved.
    EXPECT_TRUE(m_desktop.windowTitle(m_window).contains(QLatin1Char('*')))
        << "no modified mark in the title " << m_desktop.windowTitle(m_window).toStdString();

    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+s")));
    auto hasFolder = [&]() {
        for (const TreeFolder& f : projectTreeFolders(m_project))
            if (f.name == folderName) return true;
        return false;
    };
    EXPECT_TRUE(waitUntil(hasFolder, 10000)) << "File > Save did not write the folder into the project";
    m_desktop.screenshot(QStringLiteral("saved"));
    EXPECT_TRUE(waitUntil([&]() { return !m_desktop.windowTitle(m_window).contains(QLatin1Char('*')); }, 5000))
        << "the title still marks the project as changed after the save: "
        << m_desktop.windowTitle(m_window).toStdString();

    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+q")));
    const bool quit = m_desktop.host().waitExit(15000);
    if (!quit) m_desktop.screenshot(QStringLiteral("still-running"));
    ASSERT_TRUE(quit) << "the host did not quit after the save";
    EXPECT_EQ(m_desktop.host().exitCode(), 0);
    EXPECT_TRUE(hasFolder()) << "the folder is not in the project after quitting";

    // Opened again, the tree shows the folder as it was left.
    const QImage again = openHost({m_project}, QStringLiteral("reopened"));
    ASSERT_TRUE(m_layout.valid());
    EXPECT_GT(changedShare(start, again, tree), 0.005) << "the reopened tree looks like the one without the folder";
    // The tree had the focus while the name was typed, so the selected row's branch area is drawn
    // otherwise then; a missing or misplaced folder row changes far more than that.
    EXPECT_LT(changedShare(named, again, tree), 0.05) << "the reopened tree differs from the one saved";
}

// File > Add photos with the sample's photographs pairs each with its own mesh.
TEST_F(Journey, AddPhotosPairsEachSamplePhotoWithItsMesh)
{
    bool read = false;
    const QVector<ProjectImage> truth = projectImages(m_project, &read);
    ASSERT_TRUE(read);
    ASSERT_GE(truth.size(), 3);
    const QDir sampleDir(m_sample);
    // A project of the first mesh and its photograph only; the others come through the menu.
    const QString project = m_sample + QStringLiteral("/journey.orvproj");
    const CommandResult created = runCommand(
        hostProgram(),
        {QStringLiteral("--create"), project, QStringLiteral("--meshes"), sampleDir.absoluteFilePath(truth[0].mesh),
         QStringLiteral("--photos"), sampleDir.absoluteFilePath(truth[0].photo)},
        QString(), 60000);
    ASSERT_TRUE(created.ok()) << created.err.toStdString();

    openHost({project});
    ASSERT_TRUE(m_layout.valid());
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+shift+p")));
    ASSERT_TRUE(
        waitUntil([&]() { return !m_desktop.visibleWindows(QStringLiteral("^Select Images")).isEmpty(); }, 10000))
        << "File > Add photos opened no file dialog";
    m_desktop.screenshot(QStringLiteral("dialog"));
    QStringList names;
    for (int i = 1; i < truth.size(); ++i)
        names << QLatin1Char('"') + sampleDir.absoluteFilePath(truth[i].photo) + QLatin1Char('"');
    ASSERT_TRUE(m_desktop.typeText(names.join(QLatin1Char(' '))));
    m_desktop.screenshot(QStringLiteral("names-typed"));
    ASSERT_TRUE(m_desktop.key(QStringLiteral("Return")));
    EXPECT_TRUE(
        waitUntil([&]() { return m_desktop.visibleWindows(QStringLiteral("^Select Images")).isEmpty(); }, 10000))
        << "the file dialog did not take the names";
    m_desktop.settledScreenshot(QStringLiteral("added"), QRect(QPoint(0, 0), kScreen));

    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+s")));
    QVector<ProjectImage> images;
    const bool all = waitUntil(
        [&]() {
            images = projectImages(project);
            return images.size() == truth.size();
        },
        15000);
    m_desktop.screenshot(QStringLiteral("saved"));
    ASSERT_TRUE(all) << "the project holds " << images.size() << " photographs after adding, not " << truth.size();
    // Each photograph with the mesh the sample made it of.
    for (const ProjectImage& t : truth) {
        const QString photo = QFileInfo(t.photo).fileName();
        bool found = false;
        for (const ProjectImage& img : images)
            if (QFileInfo(img.photo).fileName() == photo) {
                found = true;
                EXPECT_EQ(QFileInfo(img.mesh).fileName(), QFileInfo(t.mesh).fileName())
                    << "photo " << photo.toStdString();
            }
        EXPECT_TRUE(found) << photo.toStdString() << " is not in the project";
    }
}

// A double click on a mesh in the 3D view shows that mesh's photograph in the photo view; on
// the empty background it changes nothing.
TEST_F(Journey, DoubleClickOnAMeshOpensItsPhoto)
{
    QImage shot = openSample();
    ASSERT_TRUE(m_layout.valid());
    const QRect view = m_layout.view3D;
    const QRect content = boundsUnlike(shot, view.adjusted(4, 4, -4, -4), m_layout.background3D);
    ASSERT_TRUE(content.isValid());
    // The middle of each quarter of the meshes' extent, nudged onto a mesh pixel.
    QVector<QPoint> targets;
    for (int qy = 0; qy < 2; ++qy)
        for (int qx = 0; qx < 2; ++qx) {
            const QPoint want(content.left() + content.width() * (1 + 2 * qx) / 4,
                              content.top() + content.height() * (1 + 2 * qy) / 4);
            QPoint best(-1, -1);
            for (int r = 0; r < 40 && best.x() < 0; ++r)
                for (int dy = -r; dy <= r && best.x() < 0; ++dy)
                    for (int dx = -r; dx <= r && best.x() < 0; ++dx) {
                        const QPoint p = want + QPoint(dx, dy);
                        if (content.contains(p) && shareUnlike(shot, QRect(p, QSize(1, 1)), m_layout.background3D) > 0)
                            best = p;
                    }
            if (best.x() >= 0) targets << best;
        }
    ASSERT_FALSE(targets.isEmpty());

    QSet<QByteArray> photosShown;
    QImage current = shot;
    int changes = 0;
    for (int i = 0; i < targets.size(); ++i) {
        ASSERT_TRUE(m_desktop.doubleClick(targets[i]));
        bool changed = false;
        const QImage after =
            waitForChange(current, m_layout.photoView, 0.1, QStringLiteral("double-click-%1").arg(i), 4000, &changed);
        if (changed) {
            ++changes;
            const QImage photo = after.copy(m_layout.photoView);
            photosShown.insert(QByteArray(reinterpret_cast<const char*>(photo.constBits()), int(photo.sizeInBytes())));
        }
        current = after;
    }
    EXPECT_GE(changes, 1) << "no double click on a mesh opened a photograph";
    EXPECT_EQ(photosShown.size(), changes) << "a double click showed a photograph seen before";

    // The empty corner of the view: no mesh, no new photograph.
    const QPoint corner = view.topLeft() + QPoint(6, 6);
    ASSERT_TRUE(m_desktop.doubleClick(corner));
    sleepMs(800);
    const QImage after = m_desktop.settledScreenshot(QStringLiteral("double-click-background"), m_layout.photoView);
    EXPECT_LT(changedShare(current, after, m_layout.photoView), 0.02);
}

// Opening a project and quitting at once asks nothing, writes nothing and ends with status 0.
TEST_F(Journey, OpeningAndQuittingAsksNothing)
{
    const QByteArray hash = fileHash(m_project);
    openSample();
    ASSERT_TRUE(m_layout.valid());
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+q")));
    const bool quit = m_desktop.host().waitExit(15000);
    if (!quit) m_desktop.screenshot(QStringLiteral("still-running"));
    ASSERT_TRUE(quit) << "the host did not quit (a question about saving?)";
    EXPECT_EQ(m_desktop.host().exitCode(), 0);
    EXPECT_EQ(fileHash(m_project), hash) << "quitting without saving changed the project file";
}

// View > Restore layout gives the start-up layout back: the Meshes dock on the right.
TEST_F(Journey, RestoreLayoutKeepsTheMeshesDockOnTheRight)
{
    const QImage start = openSample();
    ASSERT_TRUE(m_layout.valid());
    const HostLayout initial = m_layout;
    ASSERT_GT(initial.rightDock.width(), 100) << "the Meshes dock is not on the right at start";
    // The menu's last entry is Restore layout.
    ASSERT_TRUE(m_desktop.key(QStringLiteral("alt+v")));
    sleepMs(400);
    m_desktop.screenshot(QStringLiteral("view-menu"));
    ASSERT_TRUE(m_desktop.key(QStringLiteral("Up")));
    sleepMs(200);
    m_desktop.screenshot(QStringLiteral("restore-entry"));
    ASSERT_TRUE(m_desktop.key(QStringLiteral("Return")));
    sleepMs(500);
    const QImage restored = m_desktop.settledScreenshot(QStringLiteral("restored"), QRect(QPoint(0, 0), kScreen));
    const HostLayout after = findHostLayout(restored);
    ASSERT_TRUE(after.valid());
    EXPECT_EQ(after.rightDock, initial.rightDock) << "the panes right of the views moved";
    EXPECT_LT(changedShare(start, restored, initial.rightDock), 0.05) << "the Meshes dock is not where it started";
}

}  // namespace
