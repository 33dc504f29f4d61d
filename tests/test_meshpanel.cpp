// The mesh panel against real kernel meshes, with the thumbnail viewer of a main frame.
#include "CImageThumbViewer.h"
#include "CMeshPanelViewer.h"
#include "COrvImageTree.h"
#include "CThumbWidget.h"
#include "IOrvMainFrame.h"
#include "OrvUIElements64t.h"
#include "test_images_support.h"

#include <QSplitter>

#include <gtest/gtest.h>

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
