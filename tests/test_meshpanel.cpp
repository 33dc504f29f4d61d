// The mesh panel against real kernel meshes, with the thumbnail viewer of a main frame.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>

#include "CImageThumbViewer.h"
#include "CMeshPanelViewer.h"
#include "COrvImageTree.h"
#include "CThumbWidget.h"
#include "IOrvMainFrame.h"
#include "OrvUIElements64t.h"
#include "test_images_support.h"

using namespace orvUI;

namespace {

class MeshPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(project.make(6));
        mm = zim::getMM();
        for (int i : {0, 1, 3, 5}) mm->setImageMapped(i, true);
        IOrvMainFrame* frame = getVM()->getMainFrame();
        ASSERT_TRUE(frame);
        frame->createThumbViewer(255);
        frame->createMeshPanel(256);
        thumbs = dynamic_cast<CImageThumbViewer*>(getVM()->getThumbViewer());
        panel = dynamic_cast<CMeshPanelViewer*>(getVM()->getMeshPanel());
        ASSERT_TRUE(thumbs && panel);
        panel->clearMeshLists();
    }
    void TearDown() override
    {
        if (thumbs) thumbs->clearThumbnails();
        if (panel) panel->clearMeshRows();
        mm->closeProject();
    }
    ref_ptr<IZimMesh> mesh(int i)
    {
        ref_ptr<IZimMesh> m;
        mm->getMeshAt(m, i);
        return m;
    }
    imgtest::SampleProject project;
    ref_ptr<IZimMM> mm;
    CImageThumbViewer* thumbs = nullptr;
    CMeshPanelViewer* panel = nullptr;
};

TEST_F(MeshPanel, ListsFillByMappingAndStretchByRows)
{
    const QString tex = QStringLiteral("Texture Mesh");
    const QString bare = QStringLiteral("Bare Mesh");
    CMeshTabWD* t = panel->addMeshList(tex, 0x111);
    CMeshTabWD* b = panel->addMeshList(bare, 0x111);
    CMeshTabWD* other = panel->addMeshList(QStringLiteral("Other"), 0x111);
    ASSERT_TRUE(t && b && other);
    EXPECT_EQ(panel->addMeshList(tex, 0), nullptr);
    panel->rebuildMeshList(tex);
    panel->rebuildMeshList(bare);
    panel->rebuildMeshList(QStringLiteral("Other"));
    ASSERT_EQ(t->rowCount(), 4);
    EXPECT_EQ(b->rowCount(), 2);
    EXPECT_EQ(other->rowCount(), 0);
    // Last mesh first; the index label is the mesh's index.
    EXPECT_EQ(t->rowAt(0)->indexText(), QStringLiteral("5"));
    EXPECT_EQ(t->rowAt(3)->indexText(), QStringLiteral("0"));
    EXPECT_EQ(panel->addMeshRow(mesh(0), tex), -1);
    EXPECT_EQ(t->rowCount(), 4);
    panel->layoutMeshLists();
    EXPECT_EQ(t->sizePolicy().verticalStretch(), 2 * b->sizePolicy().verticalStretch());
    EXPECT_EQ(panel->setMeshRowState(mesh(2), 2, tex), -1);
    ASSERT_EQ(panel->setMeshRowState(mesh(2), 2, bare), 0);
    EXPECT_TRUE(b->row(mesh(2))->isAsleep());
    // A refresh reads the kernel's state back.
    panel->refreshMeshList(bare);
    EXPECT_FALSE(b->row(mesh(2))->isAsleep());
    EXPECT_EQ(panel->removeMeshRow(mesh(2), bare), 0);
    EXPECT_EQ(b->rowCount(), 1);
    EXPECT_EQ(panel->removeMeshRow(mesh(2), bare), -1);
}

TEST_F(MeshPanel, SleepAndWakeFromARowReachTheKernelAndTheTile)
{
    ref_ptr<LongArray> ids = zim::newLongArray();
    for (long i = 0; i < 6; ++i) ids->append(i);
    thumbs->loadThumbnails(ids, nullptr);
    thumbs->getImageTree()->loadTree();
    thumbs->getImageTree()->updateImageLists();
    CThumbWidget* tile = thumbs->tile(3);
    ASSERT_TRUE(tile);
    ASSERT_FALSE(tile->isAsleep());

    const QString tex = QStringLiteral("Texture Mesh");
    CMeshTabWD* t = panel->addMeshList(tex, 0x111);
    panel->rebuildMeshList(tex);
    CMeshPanelItem* row = t->row(mesh(3));
    ASSERT_TRUE(row);
    EXPECT_FALSE(row->isAsleep());
    EXPECT_TRUE(row->isTextureVisible());

    row->onMeshTogVisible();
    EXPECT_FALSE(mm->isTextureShown(3));
    EXPECT_FALSE(row->isTextureVisible());
    EXPECT_FALSE(tile->isTextureVisible());
    row->onMeshTogVisible();
    EXPECT_TRUE(mm->isTextureShown(3));
    EXPECT_TRUE(tile->isTextureVisible());

    row->OnMeshTogSleep();
    EXPECT_TRUE(mm->isMeshAsleep(mesh(3)));
    EXPECT_TRUE(row->isAsleep());
    EXPECT_FALSE(row->isTextureVisible());
    EXPECT_TRUE(tile->isAsleep());
    EXPECT_FALSE(tile->isTextureVisible());
    // A sleeping mesh's texture cannot be toggled.
    row->onMeshTogVisible();
    EXPECT_FALSE(row->isTextureVisible());

    row->OnMeshTogSleep();
    EXPECT_FALSE(mm->isMeshAsleep(mesh(3)));
    EXPECT_GT(mesh(3)->meshTriangleCount(), 0);
    EXPECT_FALSE(row->isAsleep());
    EXPECT_TRUE(row->isTextureVisible());
    EXPECT_FALSE(tile->isAsleep());
    EXPECT_TRUE(tile->isTextureVisible());
}

}  // namespace

namespace {

// Collects the warning lines written while it lives.
class WarningCapture {
public:
    WarningCapture() { s_current = this, m_previous = qInstallMessageHandler(&WarningCapture::handle); }
    ~WarningCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList lines;

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (s_current && type == QtWarningMsg) s_current->lines << message;
    }
    static WarningCapture* s_current;
    QtMessageHandler m_previous = nullptr;
};
WarningCapture* WarningCapture::s_current = nullptr;

QString sleepTipOf(CMeshPanelItem* row)
{
    const QList<QPushButton*> buttons = row->findChildren<QPushButton*>();
    return buttons.isEmpty() ? QString() : buttons.last()->toolTip();
}

// A mesh whose file went away cannot be woken: from a row, from the list or from its tile it
// stays asleep everywhere, and the user is told why, on the status bar while the window is on
// screen and on the console otherwise, never in a box.
TEST_F(MeshPanel, AWakeUpThatFailsLeavesTheMeshAsleepAndSaysWhy)
{
    ref_ptr<LongArray> ids = zim::newLongArray();
    for (long i = 0; i < 6; ++i) ids->append(i);
    thumbs->loadThumbnails(ids, nullptr);
    thumbs->getImageTree()->loadTree();
    thumbs->getImageTree()->updateImageLists();
    const QString tex = QStringLiteral("Texture Mesh");
    CMeshTabWD* list = panel->addMeshList(tex, 0x111);
    panel->rebuildMeshList(tex);
    CMeshPanelItem* row = list->row(mesh(3));
    CThumbWidget* tile = thumbs->tile(3);
    ASSERT_TRUE(row && tile);
    EXPECT_TRUE(row->toolTip().contains(QStringLiteral("Mesh 3, mapped")));
    EXPECT_TRUE(sleepTipOf(row).startsWith(QStringLiteral("Sleep or Wake\n")));
    EXPECT_TRUE(sleepTipOf(row).contains(QStringLiteral("Awake")));

    row->OnMeshTogSleep();
    ASSERT_TRUE(mm->isMeshAsleep(mesh(3)));
    EXPECT_TRUE(sleepTipOf(row).contains(QStringLiteral("Asleep")));
    const QString obj = project.meshes[3];
    const QString kept = obj + QStringLiteral(".kept");
    ASSERT_TRUE(QFile::rename(obj, kept));

    auto expectAsleep = [&](const char* where) {
        EXPECT_TRUE(mm->isMeshAsleep(mesh(3))) << where;
        EXPECT_TRUE(row->isAsleep()) << where;
        EXPECT_FALSE(row->isTextureVisible()) << where;
        EXPECT_TRUE(tile->isAsleep()) << where;
        EXPECT_FALSE(tile->isTextureVisible()) << where;
    };
    // No window on screen: a console line.
    {
        WarningCapture capture;
        QStringList boxes = imgtest::catchWarnings([&] { row->OnMeshTogSleep(); });
        EXPECT_TRUE(boxes.isEmpty());
        expectAsleep("row");
        ASSERT_EQ(capture.lines.filter(QStringLiteral("Mesh 3 could not be woken up")).size(), 1)
            << capture.lines.join('\n').toStdString();
        EXPECT_TRUE(
            capture.lines.filter(QStringLiteral("could not be woken up")).first().contains(QFileInfo(obj).fileName()));

        capture.lines.clear();
        boxes = imgtest::catchWarnings([&] { tile->OnSleepClick(); });
        EXPECT_TRUE(boxes.isEmpty());
        expectAsleep("tile");
        EXPECT_EQ(capture.lines.filter(QStringLiteral("Mesh 3 could not be woken up")).size(), 1);
        EXPECT_FALSE(tile->wakeError().isEmpty());
        const QList<QLabel*> icons = tile->findChildren<QLabel*>();
        bool told = false;
        for (QLabel* icon : icons) told = told || icon->toolTip().contains(tile->wakeError());
        EXPECT_TRUE(told);
    }
    // The window on screen: its status bar says it.
    auto* window = dynamic_cast<QMainWindow*>(getVM()->getMainFrame());
    ASSERT_TRUE(window);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    window->statusBar()->clearMessage();
    list->clearSelection();
    for (int i = 0; i < list->rowCount(); ++i)
        if (list->rowAt(i) == row) list->topLevelItem(i)->setSelected(true);
    const QStringList boxes = imgtest::catchWarnings([&] { list->OnMeshTogSleep(); });
    EXPECT_TRUE(boxes.isEmpty());
    expectAsleep("list");
    EXPECT_TRUE(window->statusBar()->currentMessage().startsWith(QStringLiteral("Mesh 3 could not be woken up")));
    window->hide();

    // With its file back the mesh wakes, and the tile forgets the failure.
    ASSERT_TRUE(QFile::rename(kept, obj));
    tile->OnSleepClick();
    EXPECT_FALSE(mm->isMeshAsleep(mesh(3)));
    EXPECT_FALSE(tile->isAsleep());
    EXPECT_TRUE(tile->wakeError().isEmpty());
    panel->refreshMeshList(tex);
    EXPECT_FALSE(row->isAsleep());
}

}  // namespace
