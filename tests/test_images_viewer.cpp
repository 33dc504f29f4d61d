// The thumbnail viewer: grid arithmetic, tiles of a real project, their states, selection,
// drops and the photos that cannot be read.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include "CImageThumbViewer.h"
#include "COrvImageTree.h"
#include "CThumbWidget.h"
#include "OrvUIElements64t.h"
#include "ThumbGrid.h"
#include "test_images_support.h"

using namespace orvUI;
using imgtest::catchWarnings;

namespace {

TEST(ThumbGridMath, ColumnsRowsAndMoves)
{
    EXPECT_EQ(ThumbGrid::columnsFor(300), 2);
    EXPECT_EQ(ThumbGrid::columnsFor(156), 1);
    EXPECT_EQ(ThumbGrid::columnsFor(40), 1);
    const ThumbGrid g = ThumbGrid::make(300, 2, 5);
    EXPECT_EQ(g.width(), 264);
    EXPECT_EQ(g.height(), (1 + 3 + 1) * 142);
    EXPECT_EQ(g.separatorSpan(2, 5), 2);
    EXPECT_EQ(g.restRow(0), 2);
    EXPECT_EQ(ThumbGrid::make(700, 2, 3).separatorSpan(2, 3), 3);
    EXPECT_FALSE(ThumbGrid::make(300, 0, 5).separator);
    // Order: 2 leading, then 5. Up from the rest's first row ends on the group's last tile,
    // down from the group on the rest's first; never past either end.
    EXPECT_EQ(ThumbGrid::move(2, 0, 7, 2, 2), 1);
    EXPECT_EQ(ThumbGrid::move(3, 0, 7, 2, 2), 1);
    EXPECT_EQ(ThumbGrid::move(5, 0, 7, 2, 2), 3);
    EXPECT_EQ(ThumbGrid::move(1, 1, 7, 2, 2), 2);
    EXPECT_EQ(ThumbGrid::move(6, 1, 7, 2, 2), 6);
    EXPECT_EQ(ThumbGrid::move(0, 2, 7, 2, 2), 0);
    EXPECT_EQ(ThumbGrid::move(6, 3, 7, 2, 2), 6);
    EXPECT_EQ(ThumbGrid::move(1, 0, 7, 0, 2), 1);
}

class ThumbViewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(project.make(5));
        ref_ptr<IZimMM> mm = zim::getMM();
        for (int i : {0, 2, 4}) mm->setImageMapped(i, true);
        viewer.reset(new CImageThumbViewer(nullptr));
        viewer->resize(300, 800);
        tree = static_cast<COrvImageTree*>(viewer->getImageTree());
    }
    void TearDown() override
    {
        viewer.reset();
        zim::getMM()->closeProject();
    }
    void loadAll()
    {
        ref_ptr<LongArray> ids = zim::newLongArray();
        for (long i = 0; i < 5; ++i) ids->append(i);
        ASSERT_EQ(viewer->loadThumbnails(ids, nullptr), 0);
        tree->loadTree();
        tree->updateImageLists();
    }
    QList<int> selected()
    {
        ref_ptr<LongArray> out;
        viewer->getSelectedImages(out, 1);
        return QList<int>(out->begin(), out->end());
    }
    imgtest::SampleProject project;
    std::unique_ptr<CImageThumbViewer> viewer;
    COrvImageTree* tree = nullptr;
};

TEST_F(ThumbViewer, FolderListsGiveTilesCountsAndStates)
{
    loadAll();
    EXPECT_EQ(viewer->countText(), QStringLiteral("Total:5 Mapping:3 UnMapping:2"));
    ASSERT_EQ(viewer->displayOrder().size(), 5u);
    // The mapped meshes lead, last to first; then the rest by index.
    EXPECT_EQ(viewer->displayOrder(), (std::vector<int>{4, 2, 0, 1, 3}));
    EXPECT_EQ(viewer->neighbourImage(2, 0), 4);
    EXPECT_EQ(viewer->neighbourImage(2, 1), 0);
    EXPECT_EQ(viewer->neighbourImage(4, 0), -1);
    EXPECT_EQ(viewer->neighbourImage(1, 1), -1);
    CThumbWidget* t4 = viewer->tile(4);
    CThumbWidget* t1 = viewer->tile(1);
    ASSERT_TRUE(t4 && t1);
    // Every tile of the folder is on show in the grid.
    for (int id : viewer->displayOrder()) EXPECT_TRUE(viewer->tile(id)->isVisibleTo(viewer.get())) << id;
    EXPECT_TRUE(t4->isMarked());
    EXPECT_TRUE(t4->isTextureVisible());
    EXPECT_FALSE(t4->isAsleep());
    EXPECT_FALSE(t1->isMarked());
    EXPECT_TRUE(t1->isAsleep());
    EXPECT_FALSE(t1->picture().isNull());
    EXPECT_EQ(qMax(t1->picture().width(), t1->picture().height()), 120);
    // Rows: 3 leading in 2 columns, a separator, 2 others.
    EXPECT_EQ(viewer->tile(0)->top, 142);
    EXPECT_EQ(viewer->tile(1)->top, 3 * 142);

    EXPECT_EQ(viewer->setTileState(1, ThumbSleep), 0);
    EXPECT_TRUE(t1->isAsleep());
    EXPECT_FALSE(t1->isTextureVisible());
    viewer->setTileState(1, ThumbWake);
    EXPECT_FALSE(t1->isAsleep());
    EXPECT_TRUE(t1->isTextureVisible());
    viewer->setTileState(1, ThumbCurrent);
    EXPECT_TRUE(t1->isSelected() && t1->isHighlighted());
    viewer->setTileState(1, ThumbHighlightOff);
    EXPECT_FALSE(t1->isHighlighted());
    EXPECT_EQ(viewer->setTileState(77, ThumbSelectOn), -1);
    viewer->resetTileStates();
    EXPECT_TRUE(t4->isAsleep());
    EXPECT_FALSE(t4->isMarked() || t1->isSelected());

    // Only the folder's images get tiles.
    tree->setShowImagesInChild(false);
    ref_ptr<LongArray> two = zim::newLongArray();
    two->append(1);
    two->append(2);
    tree->clearSelection();
    tree->folderItem(0)->setSelected(true);
    EXPECT_EQ(viewer->countText(), QStringLiteral("Total:0 Mapping:0 UnMapping:0"));
    EXPECT_TRUE(viewer->displayOrder().empty());
    EXPECT_TRUE(tree->moveImagesToFolder(two, 0));
    EXPECT_EQ(viewer->countText(), QStringLiteral("Total:2 Mapping:1 UnMapping:1"));
    EXPECT_EQ(viewer->displayOrder(), (std::vector<int>{2, 1}));

    // Clearing the viewer empties its tree, which then has nothing to save.
    viewer->clearThumbnails();
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_FALSE(tree->rootItem());
    EXPECT_EQ(tree->saveTree(), -1);
    EXPECT_EQ(tree->getSelectedFolderId(), -1);
}

TEST_F(ThumbViewer, SelectionClicksAndKeys)
{
    loadAll();
    // Shift with no earlier click: from the first tile of the display order.
    viewer->onTileMousePress(0, 0, ZimKeyShift);
    EXPECT_EQ(selected(), (QList<int>{0, 2, 4}));
    viewer->onTileMousePress(1, 0, 0);
    EXPECT_EQ(selected(), QList<int>{1});
    EXPECT_EQ(viewer->anchor(), 1);
    viewer->onTileMousePress(3, 0, ZimKeyCtrl);
    EXPECT_EQ(selected(), (QList<int>{1, 3}));
    viewer->onTileMousePress(3, 0, ZimKeyCtrl);
    viewer->onTileMousePress(4, 0, ZimKeyShift);  // anchor 3: positions 0..4 of the order
    EXPECT_EQ(selected(), (QList<int>{0, 1, 2, 3, 4}));
    viewer->onTileMousePress(2, 2, 0);  // right on a selected tile keeps the selection
    EXPECT_EQ(selected().size(), 5);

    viewer->deselectAllThumbnails();
    viewer->onTileMousePress(1, 0, 0);  // rest's first tile
    QTest::keyClick(viewer.get(), Qt::Key_W);
    EXPECT_EQ(selected(), QList<int>{0});  // the group's last
    QTest::keyClick(viewer.get(), Qt::Key_S);
    EXPECT_EQ(selected(), QList<int>{1});
    QTest::keyClick(viewer.get(), Qt::Key_D);
    EXPECT_EQ(selected(), QList<int>{3});
    QTest::keyClick(viewer.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(selected().size(), 5);

    static int calls = 0;
    viewer->setKeyHandler(Qt::Key_B, [] { ++calls; });
    QTest::keyClick(viewer.get(), Qt::Key_B);
    QTest::keyClick(viewer.get(), Qt::Key_C);
    EXPECT_EQ(calls, 1);
}

TEST_F(ThumbViewer, DragsEndingOnFoldersAndTiles)
{
    loadAll();
    const int sub = [&] {
        tree->clearSelection();
        tree->folderItem(1)->setSelected(true);
        catchWarnings([&] { tree->slotAddChildAction(); });
        return tree->getSelectedFolderId();
    }();
    tree->clearSelection();
    tree->folderItem(1)->setSelected(true);
    viewer->onTileMousePress(1, 0, 0);
    viewer->onTileMousePress(3, 0, ZimKeyCtrl);
    viewer->setDropTarget(1, sub);
    viewer->finishTileDrag(Qt::CopyAction);
    EXPECT_EQ(tree->imageFolders().value(1), sub);
    EXPECT_EQ(tree->imageFolders().value(3), sub);
    EXPECT_EQ(viewer->dropKind(), 0);

    // Several images onto a tile outside the selection: a warning, the record stays.
    tree->setShowImagesInChild(true);
    viewer->onTileMousePress(1, 0, 0);
    viewer->onTileMousePress(3, 0, ZimKeyCtrl);
    viewer->setDropTarget(2, 0);
    const QStringList w = catchWarnings([&] { viewer->finishTileDrag(Qt::CopyAction); });
    EXPECT_EQ(w, QStringList{"There are more than one image selected."});
    EXPECT_EQ(viewer->dropKind(), 2);
    // Onto a tile of the selection: it becomes the only one.
    viewer->setDropTarget(2, 3);
    viewer->finishTileDrag(Qt::CopyAction);
    EXPECT_EQ(selected(), QList<int>{3});
    // One image onto another reorders the project.
    viewer->setDropTarget(2, 1);
    viewer->finishTileDrag(Qt::CopyAction);
    EXPECT_EQ(viewer->dropKind(), 0);
    ref_ptr<IZimImageEntry> e3, e1;
    zim::getMM()->getImageEntry(e3, 3);
    zim::getMM()->getImageEntry(e1, 1);
    EXPECT_LT(e3->order(), e1->order());
}

// A command of the thumbnail menu that gives the viewer new plug-in items.
CImageThumbViewer* g_viewer = nullptr;
ref_ptr<IOrvCommonItem> g_group;
int g_calls = 0;
bool g_runningMenuLived = false;
void replaceItems(const QString&, bool)
{
    ++g_calls;
    QPointer<QMenu> running = g_viewer->contextMenu();
    g_viewer->setPluginItems(g_group);
    g_runningMenuLived = !running.isNull();
}

TEST_F(ThumbViewer, PluginItemsReplacedByACommandOfTheRunningMenu)
{
    _ActionItemInfo_ info;
    info.text = QStringLiteral("Again");
    info.name = QStringLiteral("again");
    info.flags = ActionItemInMenu | ActionItemLast;
    info.userData = reinterpret_cast<quint64>(&replaceItems);
    _CommonItemInfo_ common;
    common.name = QStringLiteral("Thumbs");
    g_group = newCommonItem(common, {newActionItem(info, 0)});
    g_viewer = viewer.get();
    g_calls = 0;
    ASSERT_EQ(viewer->setPluginItems(g_group), 0);
    QPointer<QMenu> first = viewer->contextMenu();
    viewer->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer.get()));

    // Picked from the open menu with the keyboard, as a user does.
    QTimer::singleShot(0, [] {
        if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            QTest::keyClick(popup, Qt::Key_Down);
            QTest::keyClick(popup, Qt::Key_Return);
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10));
    QCoreApplication::sendEvent(viewer.get(), &event);
    EXPECT_EQ(g_calls, 1);
    EXPECT_TRUE(g_runningMenuLived);
    ASSERT_NE(viewer->contextMenu(), first.data());
    EXPECT_EQ(viewer->contextMenu()->title(), QStringLiteral("Thumbs"));
    ASSERT_EQ(viewer->contextMenu()->actions().size(), 1);
    EXPECT_EQ(viewer->contextMenu()->actions().first()->objectName(), QStringLiteral("again"));
    // The old menu goes once control is back in the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    g_group.reset();
    g_viewer = nullptr;
}

TEST(ThumbViewerBadInput, MissingPhotosGetNoTileAndAreNamedOnce)
{
    imgtest::SampleProject project;
    ASSERT_TRUE(project.make(4));
    ref_ptr<IZimMM> mm = zim::getMM();
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    // One photo gone, one replaced by bytes that are no image; the reduced cache goes too.
    ASSERT_TRUE(QFile::remove(project.photos[1]));
    QFile bad(project.photos[2]);
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly | QIODevice::Truncate));
    bad.write("not a jpeg at all");
    bad.close();
    QDir(project.dir.path() + QStringLiteral("/p.orvcache")).removeRecursively();
    ASSERT_EQ(mm->openProject(project.path, nullptr), 0);

    CImageThumbViewer viewer(nullptr);
    viewer.resize(400, 600);
    ref_ptr<LongArray> ids = zim::newLongArray();
    for (long i = 0; i < 4; ++i) ids->append(i);
    ASSERT_EQ(viewer.loadThumbnails(ids, nullptr), 0);
    EXPECT_TRUE(viewer.tile(0) && viewer.tile(3));
    EXPECT_FALSE(viewer.tile(1));
    EXPECT_FALSE(viewer.tile(2));
    EXPECT_EQ(viewer.loaded(), (QList<int>{0, 3}));
    ASSERT_EQ(viewer.unreadableFiles().size(), 2);
    EXPECT_TRUE(viewer.unreadableFiles().contains(QFileInfo(project.photos[1]).absoluteFilePath()));
    mm->closeProject();
}

}  // namespace
