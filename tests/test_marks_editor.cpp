// The marks of the current photo: the editor's changes as undo steps (undo and redo give back
// exactly the marks before and after, on the photo they were made on), drags as one step, the
// enabled flags, the project's modified state and a save; and the marks tool driven through the
// real photo view and 3D view of the host window with mouse events.
#include <IOrv3DViewer.h>
#include <IOrvImageViewer.h>
#include <IOrvMainFrame.h>
#include <IOrvViewerMan.h>
#include <OrvKernel64t.h>
#include <OrvUIElements64t.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <cstring>
#include <memory>
#include <optional>

#include "CoreMarksTool.h"
#include "CoreUi.h"
#include "HostWindow.h"
#include "MarksEditor.h"
#include "PhotoMapping.h"
#include "TestSupport.h"

using namespace orvCore;

namespace {

XPnt3d noPoint()
{
    XPnt3d p;
    p.setInvalid();
    return p;
}

XPnt2d noUv()
{
    XPnt2d p;
    p.setInvalid();
    return p;
}

// Every mark of a photo, all kinds, as the bytes of their fields, with the enabled flags: two
// states compare equal only when every mark is bit for bit the same.
QByteArray photoState(IZimMM* mm, int index)
{
    QByteArray out;
    for (const orvmap::PhotoMark& m : orvmap::photoMarks(mm, index)) {
        out.append(char(m.kind));
        out.append(reinterpret_cast<const char*>(&m.record.uv), sizeof m.record.uv);
        out.append(reinterpret_cast<const char*>(&m.record.point), sizeof m.record.point);
        out.append(reinterpret_cast<const char*>(&m.record.id), sizeof m.record.id);
        out.append(reinterpret_cast<const char*>(&m.record.uv2), sizeof m.record.uv2);
        out.append(m.enabled ? 'E' : 'D');
    }
    return out;
}

// A copy: the editor hands out new vectors on every call.
std::optional<orvmap::PhotoMark> markOf(const QVector<orvmap::PhotoMark>& marks, int id)
{
    for (const orvmap::PhotoMark& m : marks)
        if (m.record.id == id) return m;
    return std::nullopt;
}

int undoDepth(orvUI::IOrvViewerMan* vm)
{
    // Counts the steps by undoing them all, then redoes them again.
    int n = 0;
    while (vm->canUndo() && vm->undo() == 0) ++n;
    for (int i = 0; i < n; ++i) vm->redo();
    return n;
}

class MarksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        mm = zim::getMM();
        window = std::make_unique<orvHost::HostWindow>(true);
        QString error;
        ASSERT_TRUE(window->create(&error)) << error.toStdString();
        window->show();
        vm = orvUI::getVM();
        ASSERT_TRUE(window->openProject(sampleProject()));
        ASSERT_GE(mm->imageCount(), 2);
        ASSERT_TRUE(showProjectPhoto(0));
        vm->clearUndo();
        editor = MarksEditor::instance();
        editor->refresh();
    }
    void TearDown() override
    {
        if (vm) vm->endCurTool();
        if (window) window->shutDown();
        if (mm) mm->closeProject();
        QTimer::singleShot(0, []() { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }

    QString sampleProject()
    {
        const QString out = QDir(tmp.path()).filePath(QStringLiteral("sample"));
        const int rc =
            QProcess::execute(orvtest::binDir() + QStringLiteral("/orv-sample"),
                              {QStringLiteral("--out"), out, QStringLiteral("--tiles"), QStringLiteral("2"),
                               QStringLiteral("--triangles"), QStringLiteral("400"), QStringLiteral("--photo-size"),
                               QStringLiteral("320x240"), QStringLiteral("--texture-size"), QStringLiteral("64"),
                               QStringLiteral("--quiet")});
        EXPECT_EQ(rc, 0);
        return out + QStringLiteral("/sample.orvproj");
    }

    orvUI::IOrvImageViewer* photoView() const { return window->frame()->getImageViewer(1); }
    orvUI::IOrv3DViewer* view3D() const { return window->frame()->get3DViewer(0); }
    QWidget* widgetOf(bool threeD) const
    {
        return threeD ? dynamic_cast<QWidget*>(view3D()) : dynamic_cast<QWidget*>(photoView());
    }

    // Widget position (y down) of a photo position in the photo view.
    QPoint photoPixel(const XPnt2d& uv) const
    {
        const XPnt2d w = photoView()->normalisedToScreen(uv);
        return QPoint(int(std::lround(w.x)), int(std::lround(w.y)));
    }
    // Photo position shown at a widget position: the photo view's own reading of it.
    XPnt2d uvAt(const QPoint& widgetPos) const
    {
        const XPnt2d a = photoView()->normalisedToScreen(XPnt2d(0, 0));
        const XPnt2d b = photoView()->normalisedToScreen(XPnt2d(1, 1));
        return XPnt2d((widgetPos.x() - a.x) / (b.x - a.x), (widgetPos.y() - a.y) / (b.y - a.y));
    }

    void mouse(bool threeD, QEvent::Type type, const QPoint& pos, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent e(type, pos, button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(widgetOf(threeD), &e);
    }
    void press(bool threeD, const QPoint& p, Qt::MouseButton b = Qt::LeftButton)
    {
        mouse(threeD, QEvent::MouseButtonPress, p, b, b);
    }
    void moveTo(bool threeD, const QPoint& p, Qt::MouseButtons held = Qt::LeftButton)
    {
        mouse(threeD, QEvent::MouseMove, p, Qt::NoButton, held);
    }
    void release(bool threeD, const QPoint& p, Qt::MouseButton b = Qt::LeftButton)
    {
        mouse(threeD, QEvent::MouseButtonRelease, p, b, Qt::NoButton);
    }

    void waitFor3DView()
    {
        QElapsedTimer clock;
        clock.start();
        while (view3D()->drawScene(false) != 0 && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    // GL-oriented pixels of the 3D view showing a mesh (image >= 0) or nothing (image -1), at
    // least `margin` pixels from anything else.
    QVector<QPoint> pixelsShowing(int image, int margin = 3) const
    {
        orvUI::IOrv3DViewer* viewer = view3D();
        const int w = viewer->viewWidth(), h = viewer->viewHeight();
        QVector<QPoint> out;
        for (int y = h / 10; y < h - h / 10; y += h / 20)
            for (int x = w / 10; x < w - w / 10; x += w / 20) {
                bool all = true;
                for (int dy = -margin; dy <= margin && all; dy += margin)
                    for (int dx = -margin; dx <= margin && all; dx += margin)
                        all = viewer->imageIndexAt(x + dx, y + dy) == image;
                if (all) out.append(QPoint(x, y));
            }
        return out;
    }
    // The view counts GL rows as its height less the widget row.
    QPoint widget3D(const QPoint& gl) const { return QPoint(gl.x(), view3D()->viewHeight() - gl.y()); }
    ref_ptr<IZimTrackBall> trackBall() const { return view3D()->getDisplay()->getTrackBall(); }

    QTemporaryDir tmp;
    ref_ptr<IZimMM> mm;
    ref_ptr<orvUI::IOrvViewerMan> vm;
    std::unique_ptr<orvHost::HostWindow> window;
    MarksEditor* editor = nullptr;
};

// ---- the editor ------------------------------------------------------------------------------

TEST_F(MarksTest, EachEditIsOneStepAndUndoRedoGiveBackTheExactMarks)
{
    const int photo = editor->imageIndex();
    ASSERT_EQ(photo, 0);
    int largest = -1;
    for (const orvmap::PhotoMark& m : editor->marks()) largest = std::max(largest, int(m.record.id));
    mm->setModified(false);
    ASSERT_FALSE(mm->isModified());
    QSignalSpy changed(editor, &MarksEditor::changed);

    QVector<QByteArray> states{photoState(mm.get(), photo)};
    const int id = editor->addMark(XPnt2d(0.25, 0.75), noPoint());
    EXPECT_EQ(id, largest + 1);
    EXPECT_EQ(editor->selectedId(), id);
    EXPECT_TRUE(mm->isModified());
    EXPECT_GT(changed.count(), 0);
    {
        const QVector<orvmap::PhotoMark> marks = editor->marks();
        const std::optional<orvmap::PhotoMark> m = markOf(marks, id);
        ASSERT_TRUE(m.has_value());
        EXPECT_EQ(m->kind, int(ZimMarkPoint));
        EXPECT_TRUE(m->enabled);
        EXPECT_TRUE(m->hasPhotoPosition());
        EXPECT_FALSE(m->hasPoint());
        EXPECT_DOUBLE_EQ(m->record.uv.x, 0.25);
        EXPECT_DOUBLE_EQ(m->record.uv.y, 0.75);
    }
    states << photoState(mm.get(), photo);
    ASSERT_TRUE(editor->setPoint(id, XPnt3d(1.5, -2.0, 0.25)));
    states << photoState(mm.get(), photo);
    ASSERT_TRUE(editor->setPhotoPosition(id, XPnt2d(0.5, 0.125)));
    states << photoState(mm.get(), photo);
    ASSERT_TRUE(editor->setEnabled(id, false));
    EXPECT_FALSE(orvmap::isMarkEnabled(mm.get(), photo, id));
    states << photoState(mm.get(), photo);
    ASSERT_TRUE(editor->removeMark(id));
    EXPECT_FALSE(markOf(editor->marks(), id).has_value());
    EXPECT_EQ(editor->selectedId(), -1);  // the selected mark went away
    states << photoState(mm.get(), photo);
    for (int i = 1; i < states.size(); ++i) EXPECT_NE(states[i], states[i - 1]) << i;

    // Edits that change nothing push nothing.
    EXPECT_FALSE(editor->removeMark(id));
    EXPECT_FALSE(editor->setEnabled(id, true));
    EXPECT_EQ(undoDepth(vm.get()), 5);

    for (int i = states.size() - 2; i >= 0; --i) {
        ASSERT_EQ(vm->undo(), 0);
        EXPECT_EQ(photoState(mm.get(), photo), states[i]) << "after undoing to state " << i;
    }
    EXPECT_FALSE(vm->canUndo());
    for (int i = 1; i < states.size(); ++i) {
        ASSERT_EQ(vm->redo(), 0);
        EXPECT_EQ(photoState(mm.get(), photo), states[i]) << "after redoing to state " << i;
    }
}

TEST_F(MarksTest, UndoOfAnEditOnAnotherPhotoRestoresThatPhoto)
{
    const QByteArray first = photoState(mm.get(), 0);
    const int id = editor->addMark(XPnt2d(0.5, 0.5), XPnt3d(0, 0, 1));
    ASSERT_GE(id, 0);
    const QByteArray edited = photoState(mm.get(), 0);

    // The editor notices the new photo by itself.
    QSignalSpy changed(editor, &MarksEditor::changed);
    ASSERT_TRUE(showProjectPhoto(1));
    ASSERT_TRUE(changed.count() > 0 || changed.wait(5000));
    EXPECT_EQ(editor->imageIndex(), 1);
    EXPECT_EQ(editor->selectedId(), -1);  // the selection belonged to the other photo
    const QByteArray second = photoState(mm.get(), 1);

    ASSERT_EQ(vm->undo(), 0);
    EXPECT_EQ(photoState(mm.get(), 0), first);
    EXPECT_EQ(photoState(mm.get(), 1), second);
    ASSERT_EQ(vm->redo(), 0);
    EXPECT_EQ(photoState(mm.get(), 0), edited);
    EXPECT_EQ(photoState(mm.get(), 1), second);
}

TEST_F(MarksTest, ADragIsOneStepPushedWhenItEnds)
{
    const int id = editor->addMark(XPnt2d(0.1, 0.1), noPoint());
    ASSERT_GE(id, 0);
    vm->clearUndo();
    const QByteArray before = photoState(mm.get(), 0);

    ASSERT_TRUE(editor->beginDrag(id));
    EXPECT_FALSE(editor->addMark(XPnt2d(0.9, 0.9), noPoint()) >= 0);  // not in the middle of a drag
    for (double t : {0.2, 0.3, 0.4}) EXPECT_TRUE(editor->dragPhotoPosition(XPnt2d(t, 1 - t)));
    EXPECT_TRUE(editor->dragPoint(XPnt3d(2, 3, 4)));
    EXPECT_FALSE(vm->canUndo());  // nothing pushed while the drag goes on
    ASSERT_TRUE(editor->endDrag());
    const QByteArray after = photoState(mm.get(), 0);
    const std::optional<orvmap::PhotoMark> m = markOf(editor->marks(), id);
    ASSERT_TRUE(m.has_value());
    EXPECT_DOUBLE_EQ(m->record.uv.x, 0.4);
    EXPECT_DOUBLE_EQ(m->record.uv.y, 0.6);
    EXPECT_DOUBLE_EQ(m->record.point.z, 4);
    EXPECT_EQ(undoDepth(vm.get()), 1);
    ASSERT_EQ(vm->undo(), 0);
    EXPECT_EQ(photoState(mm.get(), 0), before);
    ASSERT_EQ(vm->redo(), 0);
    EXPECT_EQ(photoState(mm.get(), 0), after);

    // A drag that moves nothing, and one that is called off, leave no step.
    vm->clearUndo();
    ASSERT_TRUE(editor->beginDrag(id));
    EXPECT_FALSE(editor->endDrag());
    ASSERT_TRUE(editor->beginDrag(id));
    editor->dragPhotoPosition(XPnt2d(0.7, 0.7));
    editor->cancelDrag();
    EXPECT_FALSE(vm->canUndo());
    EXPECT_EQ(photoState(mm.get(), 0), after);

    // Undo in the middle of a drag calls the drag off first: its end pushes nothing that would
    // bring the undone change back.
    vm->clearUndo();
    ASSERT_TRUE(editor->setPhotoPosition(id, XPnt2d(0.6, 0.6)));
    ASSERT_TRUE(editor->beginDrag(id));
    editor->dragPhotoPosition(XPnt2d(0.9, 0.1));
    ASSERT_EQ(vm->undo(), 0);
    EXPECT_FALSE(editor->isDragging());
    EXPECT_FALSE(editor->endDrag());
    EXPECT_EQ(photoState(mm.get(), 0), after);
    EXPECT_FALSE(vm->canUndo());
    EXPECT_TRUE(vm->canRedo());

    // A new mark dragged before it is let go: one step that takes it away again.
    const int fresh = editor->beginNewMark(XPnt2d(0.3, 0.3), noPoint());
    ASSERT_GE(fresh, 0);
    editor->dragPhotoPosition(XPnt2d(0.35, 0.32));
    ASSERT_TRUE(editor->endDrag());
    EXPECT_EQ(undoDepth(vm.get()), 1);
    ASSERT_EQ(vm->undo(), 0);
    EXPECT_EQ(photoState(mm.get(), 0), after);
}

TEST_F(MarksTest, AMarkTakingADeletedMarksIdStartsEnabled)
{
    const int id = editor->addMark(XPnt2d(0.6, 0.4), XPnt3d(1, 1, 1));
    ASSERT_TRUE(editor->setEnabled(id, false));
    ASSERT_TRUE(editor->removeMark(id));
    const int again = editor->addMark(XPnt2d(0.2, 0.2), noPoint());
    ASSERT_EQ(again, id);  // the largest id was the deleted one's
    EXPECT_TRUE(orvmap::isMarkEnabled(mm.get(), 0, again));
    EXPECT_TRUE(markOf(editor->marks(), again).value().enabled);
    // Undoing the deletion brings the mark back disabled, as it was.
    ASSERT_EQ(vm->undo(), 0);
    ASSERT_EQ(vm->undo(), 0);
    const std::optional<orvmap::PhotoMark> back = markOf(editor->marks(), id);
    ASSERT_TRUE(back.has_value());
    EXPECT_FALSE(back->enabled);
    EXPECT_DOUBLE_EQ(back->record.uv.x, 0.6);
}

TEST_F(MarksTest, StepsOfAClosedProjectNeverTouchTheNextOne)
{
    ASSERT_GE(editor->addMark(XPnt2d(0.5, 0.5), noPoint()), 0);
    const QString path = mm->projectPath();
    ASSERT_EQ(mm->closeProject(), 0);
    ASSERT_EQ(mm->openProject(path, nullptr), 0);  // the same file, unsaved: without the mark
    ASSERT_EQ(mm->setCurrentImageIndex(0), 0);
    const QByteArray reopened = photoState(mm.get(), 0);
    // The kernel closed the project behind the viewer manager's back: its stack still holds the
    // step, which must refuse.
    ASSERT_TRUE(vm->canUndo());
    vm->undo();
    EXPECT_EQ(photoState(mm.get(), 0), reopened);
    ASSERT_TRUE(vm->canRedo());
    vm->redo();
    EXPECT_EQ(photoState(mm.get(), 0), reopened);
}

TEST_F(MarksTest, EditedMarksSurviveSaveAndReopen)
{
    const int a = editor->addMark(XPnt2d(0.25, 0.5), XPnt3d(0.5, 0.25, 0.125));
    const int b = editor->addMark(XPnt2d(0.75, 0.5), noPoint());
    ASSERT_TRUE(editor->setEnabled(a, false));
    const QByteArray state = photoState(mm.get(), 0);
    ASSERT_TRUE(mm->isModified());
    const QString path = mm->projectPath();
    ASSERT_EQ(mm->saveProject(), 0);
    ASSERT_EQ(mm->closeProject(), 0);
    ASSERT_EQ(mm->openProject(path, nullptr), 0);
    EXPECT_EQ(photoState(mm.get(), 0), state);
    EXPECT_FALSE(orvmap::isMarkEnabled(mm.get(), 0, a));
    EXPECT_TRUE(orvmap::isMarkEnabled(mm.get(), 0, b));
}

// ---- the tool in the views -------------------------------------------------------------------

TEST_F(MarksTest, ToolPlacesAndDragsAMarkInThePhotoView)
{
    ASSERT_EQ(vm->setCurTool(newMarksTool()), 0);
    ASSERT_TRUE(isMarksTool(vm->getCurTool()));
    EXPECT_FALSE(photoView()->isShowPairs());  // the tool draws the marks itself
    EXPECT_FALSE(vm->isShowMarks(ZimView3D));
    const QByteArray start = photoState(mm.get(), 0);
    const int count = editor->marks().size();

    // A right click and a middle press are the view's: no mark.
    const QPoint p = photoPixel(XPnt2d(0.3, 0.6));
    press(false, p, Qt::RightButton);
    release(false, p, Qt::RightButton);
    press(false, p, Qt::MiddleButton);
    release(false, p, Qt::MiddleButton);
    EXPECT_EQ(editor->marks().size(), count);

    // A press places a new mark where the photo view shows that photo position.
    press(false, p);
    const int id = editor->selectedId();
    ASSERT_GE(id, 0);
    ASSERT_EQ(editor->marks().size(), count + 1);
    const XPnt2d placed = markOf(editor->marks(), id).value().record.uv;
    const XPnt2d shown = uvAt(p);
    EXPECT_NEAR(placed.x, shown.x, 1e-9);
    EXPECT_NEAR(placed.y, shown.y, 1e-9);
    EXPECT_NEAR(placed.x, 0.3, 0.01);
    EXPECT_NEAR(placed.y, 0.6, 0.01);
    // Dragged, it follows; let go, one step holds it all.
    const QPoint q = photoPixel(XPnt2d(0.55, 0.45));
    moveTo(false, (p + q) / 2);
    moveTo(false, q);
    release(false, q);
    const XPnt2d moved = markOf(editor->marks(), id).value().record.uv;
    EXPECT_NEAR(moved.x, uvAt(q).x, 1e-9);
    EXPECT_NEAR(moved.y, uvAt(q).y, 1e-9);
    EXPECT_EQ(undoDepth(vm.get()), 1);

    // A press a few pixels off the mark takes it (no new mark) and drags it.
    const QPoint r = photoPixel(XPnt2d(0.8, 0.2));
    press(false, q + QPoint(4, -3));
    moveTo(false, r);
    release(false, r);
    EXPECT_EQ(editor->marks().size(), count + 1);
    EXPECT_NEAR(markOf(editor->marks(), id).value().record.uv.x, uvAt(r).x, 1e-9);
    // Moves without the button do nothing.
    moveTo(false, p, Qt::NoButton);
    EXPECT_NEAR(markOf(editor->marks(), id).value().record.uv.x, uvAt(r).x, 1e-9);

    // A drag past the photo's edge keeps the mark on the photo.
    press(false, r);
    moveTo(false, QPoint(widgetOf(false)->width() + 50, r.y()));
    release(false, QPoint(widgetOf(false)->width() + 50, r.y()));
    EXPECT_DOUBLE_EQ(markOf(editor->marks(), id).value().record.uv.x, 1.0);

    // Delete removes the selected mark; undo brings it back.
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(widgetOf(false), &del);
    EXPECT_FALSE(markOf(editor->marks(), id).has_value());
    ASSERT_EQ(vm->undo(), 0);
    EXPECT_TRUE(markOf(editor->marks(), id).has_value());
    // Undoing everything gives back the photo's marks as they were.
    while (vm->canUndo()) ASSERT_EQ(vm->undo(), 0);
    EXPECT_EQ(photoState(mm.get(), 0), start);

    // Ending the tool gives the view its own mark drawing back.
    vm->endCurTool();
    EXPECT_TRUE(photoView()->isShowPairs());
    EXPECT_TRUE(vm->isShowMarks(ZimView3D));
}

TEST_F(MarksTest, ToolPlacesAndDragsA3DPointOnTheMeshAndIgnoresTheBackground)
{
    waitFor3DView();
    ASSERT_EQ(vm->setCurTool(newMarksTool()), 0);
    const QVector<QPoint> onMesh = pixelsShowing(0);
    const QVector<QPoint> background = pixelsShowing(-1);
    ASSERT_GE(onMesh.size(), 2);
    ASSERT_FALSE(background.isEmpty());
    const QByteArray start = photoState(mm.get(), 0);
    editor->select(-1);

    // The background: nothing.
    press(true, widget3D(background.first()));
    release(true, widget3D(background.first()));
    EXPECT_EQ(photoState(mm.get(), 0), start);
    EXPECT_FALSE(vm->canUndo());

    // On the mesh without a selected mark: a new mark with only its 3D point, on the surface
    // under the cursor.
    const QPoint a = onMesh.first();
    press(true, widget3D(a));
    release(true, widget3D(a));
    const int id = editor->selectedId();
    ASSERT_GE(id, 0);
    const std::optional<orvmap::PhotoMark> m = markOf(editor->marks(), id);
    ASSERT_TRUE(m.has_value());
    EXPECT_FALSE(m->hasPhotoPosition());
    ASSERT_TRUE(m->hasPoint());
    const XPnt3d s = trackBall()->projectToScreen(m->record.point);
    EXPECT_NEAR(s.x, a.x(), 1.0);
    EXPECT_NEAR(s.y, a.y(), 1.0);

    // The selected mark's point dragged to another place on the mesh: one step.
    vm->clearUndo();
    const QPoint b = onMesh.last();
    press(true, widget3D(a) + QPoint(2, 2));
    moveTo(true, widget3D(b));
    release(true, widget3D(b));
    const XPnt3d t = trackBall()->projectToScreen(markOf(editor->marks(), id).value().record.point);
    EXPECT_NEAR(t.x, b.x(), 1.0);
    EXPECT_NEAR(t.y, b.y(), 1.0);
    EXPECT_EQ(undoDepth(vm.get()), 1);

    // A double click is the tool's too: the first press took the mark, and the view does not go
    // to the photo of the mesh under the cursor.
    const int current = mm->getCurMeshIndex();
    const QVector<QPoint> otherMesh = pixelsShowing(1);
    ASSERT_FALSE(otherMesh.isEmpty());
    const QPoint c = widget3D(otherMesh.first());
    press(true, c);
    release(true, c);
    mouse(true, QEvent::MouseButtonDblClick, c, Qt::LeftButton, Qt::LeftButton);
    release(true, c);
    EXPECT_EQ(mm->getCurMeshIndex(), current);
    EXPECT_EQ(editor->selectedId(), id);
    const XPnt3d u = trackBall()->projectToScreen(markOf(editor->marks(), id).value().record.point);
    EXPECT_NEAR(u.x, otherMesh.first().x(), 1.0);
    EXPECT_NEAR(u.y, otherMesh.first().y(), 1.0);

    // A click in the photo view gives the selected mark its photo position: a complete mark.
    press(false, photoPixel(XPnt2d(0.4, 0.4)));
    release(false, photoPixel(XPnt2d(0.4, 0.4)));
    const std::optional<orvmap::PhotoMark> complete = markOf(editor->marks(), id);
    ASSERT_TRUE(complete.has_value());
    EXPECT_TRUE(complete->hasPhotoPosition());
    EXPECT_TRUE(complete->hasPoint());
    EXPECT_EQ(editor->marks().size(), orvmap::photoMarks(mm.get(), 0).size());
}

TEST(MarksNearest, TakesTheClosestWithinTheRadiusPreferringTheSelected)
{
    const QVector<ScreenMark> marks{{1, XPnt2d(10, 10)}, {2, XPnt2d(14, 10)}, {3, XPnt2d(12, 10)}};
    EXPECT_EQ(nearestMark(marks, XPnt2d(13.5, 10), 8, -1), 2);
    EXPECT_EQ(nearestMark(marks, XPnt2d(11, 10), 8, 3), 3);   // tie between 1 and 3
    EXPECT_EQ(nearestMark(marks, XPnt2d(11, 10), 8, -1), 1);  // tie: the earlier
    EXPECT_EQ(nearestMark(marks, XPnt2d(30, 10), 8, -1), -1);
    EXPECT_EQ(nearestMark(marks, XPnt2d(22, 10), 8, -1), 2);  // exactly at the radius
    EXPECT_EQ(nearestMark({{5, noUv()}}, XPnt2d(0, 0), 8, -1), -1);
}

}  // namespace
