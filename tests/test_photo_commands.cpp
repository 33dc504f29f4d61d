// The Photo menu's mapping commands and the Marks panel in the host's window: mapping is one
// undo step that gives back the camera and mapped state the photo had (none, or an earlier
// camera), a refused mapping changes nothing, "Map all photos" is one step for every photo it
// mapped, and the panel's rows follow the marks editor and drive it.
#include <IOrvDockWidget.h>
#include <IOrvImageThumbViewer.h>
#include <IOrvImageTree.h>
#include <IOrvMainFrame.h>
#include <IOrvViewerMan.h>
#include <OrvKernel64t.h>
#include <OrvUIElements64t.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QKeyEvent>
#include <QMainWindow>
#include <QProcess>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <memory>

#include "CoreCommands.h"
#include "CoreUi.h"
#include "HostWindow.h"
#include "MarksDock.h"
#include "MarksEditor.h"
#include "PhotoCommands.h"
#include "PhotoMapping.h"
#include "TestSupport.h"

using namespace orvCore;

namespace {

// The photo's camera as stored, or an invalid default when it has none.
ZimPhotoCamera cameraOf(IZimMM* mm, int index, bool* has = nullptr)
{
    ZimPhotoCamera c;
    const bool found = mm->getImageCamera(index, c) == 0;
    if (has) *has = found;
    return c;
}

bool sameCamera(const ZimPhotoCamera& a, const ZimPhotoCamera& b)
{
    if (a.width != b.width || a.height != b.height || a.fx != b.fx || a.fy != b.fy || a.cx != b.cx || a.cy != b.cy ||
        a.rms != b.rms || a.residuals.size() != b.residuals.size())
        return false;
    for (int i = 0; i < 9; ++i)
        if (a.R[i] != b.R[i]) return false;
    for (int i = 0; i < 3; ++i)
        if (a.t[i] != b.t[i]) return false;
    return true;
}

class PhotoCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        // Refusals and warnings go to stderr instead of boxes nobody would close.
        qApp->setProperty("orvHeadless", true);
        mm = zim::getMM();
        window = std::make_unique<orvHost::HostWindow>(true);
        QString error;
        ASSERT_TRUE(window->create(&error)) << error.toStdString();
        window->show();
        vm = orvUI::getVM();
        frame = dynamic_cast<QWidget*>(window->frame());
    }
    void TearDown() override
    {
        if (vm) vm->endCurTool();
        if (window) window->shutDown();
        if (mm) mm->closeProject();
        qApp->setProperty("orvHeadless", QVariant());
        QTimer::singleShot(0, []() { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }

    // A generated project of `tiles` photos whose last `unmapped` photos are not mapped yet (they
    // keep their marks).
    QString sample(int tiles, int unmapped, const QString& name = QStringLiteral("sample"))
    {
        const QString out = QDir(tmp.path()).filePath(name);
        const int rc =
            QProcess::execute(orvtest::binDir() + QStringLiteral("/orv-sample"),
                              {QStringLiteral("--out"), out, QStringLiteral("--tiles"), QString::number(tiles),
                               QStringLiteral("--triangles"), QStringLiteral("800"), QStringLiteral("--photo-size"),
                               QStringLiteral("400x300"), QStringLiteral("--texture-size"), QStringLiteral("64"),
                               QStringLiteral("--unmapped"), QString::number(unmapped), QStringLiteral("--quiet")});
        EXPECT_EQ(rc, 0);
        return out + QStringLiteral("/sample.orvproj");
    }

    void open(int tiles, int unmapped)
    {
        ASSERT_TRUE(window->openProject(sample(tiles, unmapped)));
        vm->clearUndo();
        refreshEditActions();
    }

    QAction* action(const QString& command) const
    {
        for (QAction* a : frame->findChildren<QAction*>(actionName(command, window->corePlugin())))
            if (!a->parent() || !a->parent()->inherits("QGLWidget")) return a;
        return nullptr;
    }

    // Whether the thumbnails group and count the photo as mapped.
    bool listedAsMapped(int index) const
    {
        orvUI::IOrvImageThumbViewer* thumbs = vm->getThumbViewer();
        orvUI::IOrvImageTree* tree = thumbs ? thumbs->getImageTree() : nullptr;
        const orvUI::ImageLists* lists = tree ? tree->getImageLists() : nullptr;
        EXPECT_NE(lists, nullptr);
        return lists && lists->mapped.contains(index) && !lists->unmapped.contains(index);
    }

    QString statusMessage() const
    {
        auto* main = qobject_cast<QMainWindow*>(frame);
        return main ? main->statusBar()->currentMessage() : QString();
    }

    // Leaves only the first `keep` marks of the photo enabled.
    void keepMarks(int index, int keep)
    {
        int n = 0;
        for (const orvmap::PhotoMark& m : orvmap::photoMarks(mm.get(), index))
            ASSERT_EQ(orvmap::setMarkEnabled(mm.get(), index, m.record.id, n++ < keep), 0);
    }

    QTemporaryDir tmp;
    ref_ptr<IZimMM> mm;
    ref_ptr<orvUI::IOrvViewerMan> vm;
    std::unique_ptr<orvHost::HostWindow> window;
    QWidget* frame = nullptr;
};

TEST_F(PhotoCommandsTest, EditMarksMakesTheMarksToolCurrentAndFollowsIt)
{
    QAction* edit = action(cmd::EditMarks);
    ASSERT_NE(edit, nullptr);
    ASSERT_TRUE(edit->isCheckable());
    // Without a project there is nothing to edit: the entry stays unchecked.
    edit->trigger();
    EXPECT_EQ(vm->getCurTool(), nullptr);
    EXPECT_FALSE(edit->isChecked());

    open(2, 0);
    edit->trigger();
    ASSERT_NE(vm->getCurTool(), nullptr);
    EXPECT_TRUE(edit->isChecked());
    auto* marksDock = dynamic_cast<QDockWidget*>(window->frame()->getDockWidget(MarksDockId));
    ASSERT_NE(marksDock, nullptr);
    EXPECT_TRUE(marksDock->isVisible());
    // Unchecked, the tool ends.
    edit->trigger();
    EXPECT_EQ(vm->getCurTool(), nullptr);
    EXPECT_FALSE(edit->isChecked());
    // Ended elsewhere (Escape), the entry follows with the next refresh.
    edit->trigger();
    ASSERT_NE(vm->getCurTool(), nullptr);
    vm->endCurTool();
    refreshFrameState();
    EXPECT_FALSE(edit->isChecked());
}

TEST_F(PhotoCommandsTest, MapPhotoFromTheMenuIsOneStepBackToUnmapped)
{
    open(2, 1);
    const int photo = 1;
    ASSERT_FALSE(mm->isImageMapped(photo));
    bool has = true;
    cameraOf(mm.get(), photo, &has);
    ASSERT_FALSE(has);
    ASSERT_GE(completeEnabledMarks(mm.get(), photo), 6);
    ASSERT_TRUE(showProjectPhoto(photo));

    ASSERT_NE(action(cmd::MapPhoto), nullptr);
    EXPECT_FALSE(listedAsMapped(photo));
    action(cmd::MapPhoto)->trigger();
    EXPECT_TRUE(mm->isImageMapped(photo));
    EXPECT_TRUE(listedAsMapped(photo));
    const ZimPhotoCamera mapped = cameraOf(mm.get(), photo, &has);
    ASSERT_TRUE(has);
    EXPECT_TRUE(mapped.isValid());
    EXPECT_EQ(mapped.width, 400);
    EXPECT_TRUE(statusMessage().contains(QStringLiteral("rms"))) << statusMessage().toStdString();
    EXPECT_TRUE(frame->isWindowModified());
    EXPECT_TRUE(action(cmd::Undo)->isEnabled());

    action(cmd::Undo)->trigger();
    EXPECT_FALSE(mm->isImageMapped(photo));
    EXPECT_FALSE(listedAsMapped(photo));
    cameraOf(mm.get(), photo, &has);
    EXPECT_FALSE(has);
    EXPECT_FALSE(action(cmd::Undo)->isEnabled());
    EXPECT_TRUE(action(cmd::Redo)->isEnabled());
    // Nothing else is left changed: the project is as it was opened.
    EXPECT_FALSE(mm->isModified());

    action(cmd::Redo)->trigger();
    EXPECT_TRUE(mm->isImageMapped(photo));
    EXPECT_TRUE(sameCamera(cameraOf(mm.get(), photo), mapped));
}

TEST_F(PhotoCommandsTest, MappingAgainIsTakenBackToTheEarlierCamera)
{
    open(2, 0);
    const int photo = 0;
    ASSERT_TRUE(mm->isImageMapped(photo));
    bool has = false;
    const ZimPhotoCamera earlier = cameraOf(mm.get(), photo, &has);
    ASSERT_TRUE(has);

    // With fewer marks the solve comes out otherwise.
    keepMarks(photo, 7);
    const orvmap::MapOutcome outcome = mapPhotoUndoable(mm.get(), vm.get(), photo, {});
    ASSERT_TRUE(outcome.ok) << outcome.message.toStdString();
    EXPECT_EQ(outcome.marksUsed, 7);
    ASSERT_FALSE(sameCamera(cameraOf(mm.get(), photo), earlier));

    ASSERT_EQ(vm->undo(), 0);
    EXPECT_TRUE(mm->isImageMapped(photo));
    EXPECT_TRUE(sameCamera(cameraOf(mm.get(), photo), earlier));
    EXPECT_FALSE(vm->canUndo());
}

TEST_F(PhotoCommandsTest, ARefusedMappingChangesNothing)
{
    open(2, 1);
    const int photo = 1;
    keepMarks(photo, 3);
    mm->setModified(false);
    ASSERT_TRUE(showProjectPhoto(photo));
    QVector<int> refreshed;
    const orvmap::MapOutcome outcome =
        mapPhotoUndoable(mm.get(), vm.get(), photo, [&](const QVector<int>& photos) { refreshed += photos; });
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.message.isEmpty());
    EXPECT_FALSE(mm->isImageMapped(photo));
    bool has = true;
    cameraOf(mm.get(), photo, &has);
    EXPECT_FALSE(has);
    EXPECT_FALSE(vm->canUndo());
    EXPECT_TRUE(refreshed.isEmpty());
    EXPECT_FALSE(mm->isModified());

    // From the menu: the command fails and leaves no step either.
    EXPECT_EQ(runCoreCommand(cmd::MapPhoto, actionName(cmd::MapPhoto, window->corePlugin()), false), -1);
    EXPECT_FALSE(mm->isImageMapped(photo));
    EXPECT_FALSE(vm->canUndo());
}

TEST_F(PhotoCommandsTest, MapAllIsOneStepForEveryPhotoItMapped)
{
    open(3, 2);
    bool has = false;
    const ZimPhotoCamera first = cameraOf(mm.get(), 0, &has);
    ASSERT_TRUE(has);
    // The last photo keeps too few marks to be tried at all.
    keepMarks(2, 3);
    QVector<int> refreshed;
    const MapAllOutcome outcome =
        mapAllPhotosUndoable(mm.get(), vm.get(), [&](const QVector<int>& photos) { refreshed = photos; });
    ASSERT_EQ(outcome.tried.size(), 2);
    EXPECT_EQ(outcome.skipped, 1);
    EXPECT_EQ(outcome.mappedCount(), 2);
    EXPECT_EQ(outcome.tried[0].index, 0);
    EXPECT_EQ(outcome.tried[1].index, 1);
    EXPECT_EQ(refreshed, (QVector<int>{0, 1}));
    EXPECT_TRUE(mm->isImageMapped(1));
    EXPECT_FALSE(mm->isImageMapped(2));
    const QString report = mapAllReport(outcome);
    EXPECT_TRUE(report.startsWith(QStringLiteral("2 of 2 photographs mapped."))) << report.toStdString();
    EXPECT_TRUE(report.contains(outcome.tried[1].name)) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("1 photograph(s) with too few marks"))) << report.toStdString();

    // One step takes both back: photo 1 unmapped again, photo 0 on the camera it had.
    ASSERT_EQ(vm->undo(), 0);
    EXPECT_FALSE(vm->canUndo());
    EXPECT_FALSE(mm->isImageMapped(1));
    cameraOf(mm.get(), 1, &has);
    EXPECT_FALSE(has);
    EXPECT_TRUE(mm->isImageMapped(0));
    EXPECT_TRUE(sameCamera(cameraOf(mm.get(), 0), first));

    // Nothing to map: no step, and the report says why.
    for (int i = 0; i < 3; ++i) keepMarks(i, 2);
    vm->clearUndo();
    const MapAllOutcome none = mapAllPhotosUndoable(mm.get(), vm.get(), {});
    EXPECT_TRUE(none.tried.isEmpty());
    EXPECT_EQ(none.skipped, 3);
    EXPECT_FALSE(vm->canUndo());
    EXPECT_TRUE(mapAllReport(none).startsWith(QStringLiteral("No photograph has enough marks")));
}

TEST_F(PhotoCommandsTest, MarksPanelFollowsTheEditorAndDrivesIt)
{
    open(2, 1);
    const int photo = 0;
    ASSERT_TRUE(showProjectPhoto(photo));
    MarksEditor* editor = MarksEditor::instance();
    editor->refresh();
    auto* dockWidget = dynamic_cast<QDockWidget*>(window->frame()->getDockWidget(MarksDockId));
    ASSERT_NE(dockWidget, nullptr);
    auto* dock = qobject_cast<MarksDock*>(dockWidget->widget());
    ASSERT_NE(dock, nullptr);
    QTableWidget* table = dock->table();

    const QVector<orvmap::PhotoMark> marks = orvmap::photoMarks(mm.get(), photo);
    ASSERT_GE(marks.size(), 8);
    ASSERT_EQ(table->rowCount(), marks.size());
    const orvmap::PhotoMark& m = marks[2];
    const int row = dock->rowOf(m.record.id);
    ASSERT_EQ(row, 2);
    EXPECT_EQ(table->item(row, MarksDock::ColumnId)->text(), QString::number(m.record.id));
    // Pixels from the top-left corner of the 400 x 300 photo.
    const QStringList xy = table->item(row, MarksDock::ColumnPhoto)->text().split(QStringLiteral(", "));
    ASSERT_EQ(xy.size(), 2);
    EXPECT_NEAR(xy[0].toDouble(), m.record.uv.x * 400, 0.06);
    EXPECT_NEAR(xy[1].toDouble(), (1 - m.record.uv.y) * 300, 0.06);
    EXPECT_EQ(table->item(row, MarksDock::ColumnPoint)->text().split(QStringLiteral(", ")).size(), 3);
    // The sample's mapped photo carries the residuals of its solve.
    ZimPhotoCamera camera;
    ASSERT_EQ(mm->getImageCamera(photo, camera), 0);
    double pixels = -1;
    for (const ZimMarkResidual& r : camera.residuals)
        if (r.id == m.record.id) pixels = r.pixels;
    ASSERT_GE(pixels, 0);
    EXPECT_NEAR(table->item(row, MarksDock::ColumnResidual)->text().toDouble(), pixels, 0.006);
    EXPECT_EQ(table->item(row, MarksDock::ColumnEnabled)->checkState(), Qt::Checked);

    // The row chooses the mark, the editor's choice the row.
    table->selectRow(row);
    EXPECT_EQ(editor->selectedId(), m.record.id);
    editor->select(marks[4].record.id);
    ASSERT_EQ(table->selectedItems().size(), int(MarksDock::ColumnCount));
    EXPECT_EQ(table->selectedItems().first()->row(), 4);
    editor->select(-1);
    EXPECT_TRUE(table->selectedItems().isEmpty());

    // The box turns the mark off as one step, undone from the Edit menu.
    vm->clearUndo();
    table->item(row, MarksDock::ColumnEnabled)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(orvmap::isMarkEnabled(mm.get(), photo, m.record.id));
    EXPECT_TRUE(action(cmd::Undo)->isEnabled());
    action(cmd::Undo)->trigger();
    EXPECT_TRUE(orvmap::isMarkEnabled(mm.get(), photo, m.record.id));
    EXPECT_EQ(table->item(row, MarksDock::ColumnEnabled)->checkState(), Qt::Checked);

    // Delete removes the chosen mark.
    table->selectRow(row);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(table, &del);
    EXPECT_EQ(table->rowCount(), marks.size() - 1);
    EXPECT_EQ(dock->rowOf(m.record.id), -1);
    EXPECT_EQ(orvmap::photoMarks(mm.get(), photo).size(), marks.size() - 1);

    // The photo without a camera shows no residuals; the panel turns to it with the photo.
    ASSERT_TRUE(showProjectPhoto(1));
    editor->refresh();
    ASSERT_EQ(table->rowCount(), orvmap::photoMarks(mm.get(), 1).size());
    ASSERT_GT(table->rowCount(), 0);
    for (int r = 0; r < table->rowCount(); ++r)
        EXPECT_TRUE(table->item(r, MarksDock::ColumnResidual)->text().isEmpty());

    // Another project opened: the panel is still in its dock.
    ASSERT_TRUE(window->openProject(sample(1, 0, QStringLiteral("other"))));
    EXPECT_EQ(dockWidget->widget(), dock);
    EXPECT_EQ(qobject_cast<QMainWindow*>(frame)->dockWidgetArea(dockWidget), Qt::RightDockWidgetArea);
}

}  // namespace
