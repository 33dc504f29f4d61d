#include "CoreMarksTool.h"

#include <IOrv2DSymbol.h>
#include <IOrv3DViewer.h>
#include <IOrvImageViewer.h>
#include <IOrvViewerMan.h>
#include <OrvUIElements64t.h>

#include <QColor>
#include <QPointF>
#include <cmath>

#include "MarksEditor.h"

namespace orvCore {

namespace {

// Marker sizes in screen pixels (half the side of the photo view's cross, the side of the 3D
// view's square).
constexpr float kMarkerHalf = 7.0f;
constexpr float kSelectedHalf = 11.0f;
constexpr double kPointSide = 7.0;
constexpr double kSelectedSide = 11.0;

const QColor kMarkColour(255, 170, 0);
const QColor kSelectedColour(0, 230, 255);
const QColor kDisabledColour(150, 150, 150);

ZimColor3f colour3f(const QColor& c) { return ZimColor3f(float(c.redF()), float(c.greenF()), float(c.blueF())); }

orvUI::IOrvImageViewer* imageViewer()
{
    ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
    return vm ? vm->getImageViewer() : nullptr;
}

// The image viewer when it shows the photo being edited.
orvUI::IOrvImageViewer* photoViewer(const MarksEditor* editor)
{
    orvUI::IOrvImageViewer* viewer = imageViewer();
    if (!viewer || editor->imageIndex() < 0 || viewer->getImageId().index != editor->imageIndex()) return nullptr;
    return viewer;
}

// Photo position to GL-oriented screen position through the viewer's own placement of the photo;
// invalid when it cannot be placed.
XPnt2d photoToScreen(orvUI::IOrvImageViewer* viewer, const XPnt2d& uv)
{
    const XPnt2d w = viewer->normalisedToScreen(uv);
    if (!w.isValid()) return w;
    return XPnt2d(w.x, viewer->viewHeight() - w.y);
}

// GL-oriented screen position to photo position (0..1 inside the photo, v up): the inverse of the
// viewer's placement, whatever size of picture it shows.
XPnt2d screenToPhoto(orvUI::IOrvImageViewer* viewer, double x, double y)
{
    XPnt2d out;
    out.setInvalid();
    const XPnt2d a = viewer->normalisedToScreen(XPnt2d(0, 0));
    const XPnt2d b = viewer->normalisedToScreen(XPnt2d(1, 1));
    if (!a.isValid() || !b.isValid() || std::fabs(b.x - a.x) < 1e-9 || std::fabs(b.y - a.y) < 1e-9) return out;
    const double wy = viewer->viewHeight() - y;
    return XPnt2d((x - a.x) / (b.x - a.x), (wy - a.y) / (b.y - a.y));
}

bool insidePhoto(const XPnt2d& uv) { return uv.isValid() && uv.x >= 0 && uv.x <= 1 && uv.y >= 0 && uv.y <= 1; }

XPnt2d clampToPhoto(const XPnt2d& uv)
{
    return XPnt2d(std::min(1.0, std::max(0.0, uv.x)), std::min(1.0, std::max(0.0, uv.y)));
}

// The 3D view's display with its GL context made current, or null.
ref_ptr<IZimDisplay> display3D()
{
    ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
    orvUI::IOrv3DViewer* viewer = vm ? vm->get3DViewer() : nullptr;
    ref_ptr<IZimDisplay> display = viewer ? viewer->getDisplay() : ref_ptr<IZimDisplay>();
    if (!display || display->makeDisplayCurrent() != 0 || !display->getTrackBall()) return ref_ptr<IZimDisplay>();
    return display;
}

QVector<ScreenMark> photoScreenMarks(orvUI::IOrvImageViewer* viewer, const QVector<orvmap::PhotoMark>& marks)
{
    QVector<ScreenMark> out;
    for (const orvmap::PhotoMark& m : marks)
        if (m.hasPhotoPosition()) out.append({m.record.id, photoToScreen(viewer, m.record.uv)});
    return out;
}

QVector<ScreenMark> pointScreenMarks(IZimTrackBall* trackBall, const QVector<orvmap::PhotoMark>& marks)
{
    QVector<ScreenMark> out;
    for (const orvmap::PhotoMark& m : marks) {
        if (!m.hasPoint()) continue;
        const XPnt3d s = trackBall->projectToScreen(m.record.point);
        // Behind the eye or beyond the far plane the projection means nothing on the screen.
        if (s.isValid() && s.z >= 0 && s.z <= 1) out.append({m.record.id, XPnt2d(s.x, s.y)});
    }
    return out;
}

const orvmap::PhotoMark* findMark(const QVector<orvmap::PhotoMark>& marks, int id)
{
    for (const orvmap::PhotoMark& m : marks)
        if (m.record.id == id) return &m;
    return nullptr;
}

}  // namespace

int nearestMark(const QVector<ScreenMark>& marks, const XPnt2d& at, double radius, int preferred)
{
    int best = -1;
    double bestDistance = 0;
    for (const ScreenMark& m : marks) {
        if (!m.screen.isValid()) continue;
        const double distance = std::hypot(m.screen.x - at.x, m.screen.y - at.y);
        if (distance > radius) continue;
        if (best == -1 || distance < bestDistance || (distance == bestDistance && m.id == preferred)) {
            best = m.id;
            bestDistance = distance;
        }
    }
    return best;
}

MarksTool::MarksTool() = default;

MarksTool::~MarksTool() = default;

ref_ptr<IZimTool> newMarksTool() { return ref_ptr<IZimTool>(new MarksTool()); }

bool isMarksTool(const IZimTool* tool) { return dynamic_cast<const MarksTool*>(tool) != nullptr; }

int MarksTool::beginTool()
{
    // The tool draws every mark with its id; the viewer's own numbering would double them.
    if (orvUI::IOrvImageViewer* viewer = imageViewer()) {
        m_viewerMarks = viewer->isShowMarks();
        m_viewerPairs = viewer->isShowPairs();
        viewer->setShowMarks(false);
        viewer->setShowPairs(false);
        viewer->setCursorShape(1);
        viewer->redraw();
    }
    if (ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM()) {
        m_meshMarks = vm->isShowMarks(ZimView3D);
        vm->setShowMarks(ZimView3D, false);
    }
    m_began = true;
    MarksEditor::instance()->refresh();
    if (ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM()) vm->update3DViewer();
    return 0;
}

int MarksTool::endTool()
{
    MarksEditor* editor = MarksEditor::instance();
    if (editor->isDragging()) editor->endDrag();
    m_dragView = -1;
    if (m_began) {
        if (orvUI::IOrvImageViewer* viewer = imageViewer()) {
            viewer->setShowMarks(m_viewerMarks);
            viewer->setShowPairs(m_viewerPairs);
            viewer->setCursorShape(0);
            viewer->redraw();
        }
        if (ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM()) vm->setShowMarks(ZimView3D, m_meshMarks);
        m_began = false;
    }
    if (ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM()) vm->update3DViewer();
    return 0;
}

bool MarksTool::isDrawSuppressed() { return false; }

int MarksTool::drawTool(int view)
{
    if (view == ZimViewImage)
        drawPhoto();
    else if (view == ZimView3D)
        draw3D();
    else
        return -1;
    return 0;
}

void MarksTool::drawPhoto()
{
    MarksEditor* editor = MarksEditor::instance();
    orvUI::IOrvImageViewer* viewer = photoViewer(editor);
    if (!viewer) return;
    ref_ptr<orvUI::IOrv2DSymbol> symbol = viewer->getSymbol();
    if (!symbol) return;
    const int selected = editor->selectedId();
    const QVector<orvmap::PhotoMark> marks = editor->marks();
    // The selected mark last, over the others.
    for (int pass = 0; pass < 2; ++pass)
        for (const orvmap::PhotoMark& m : marks) {
            const bool isSelected = m.record.id == selected;
            if (isSelected != (pass == 1) || !m.hasPhotoPosition()) continue;
            const XPnt2d w = viewer->normalisedToScreen(m.record.uv);
            if (!w.isValid()) continue;
            const QColor colour = isSelected ? kSelectedColour : m.enabled ? kMarkColour : kDisabledColour;
            const float half = isSelected ? kSelectedHalf : kMarkerHalf;
            symbol->drawMarker(QPointF(w.x, w.y), colour, half, isSelected ? 3.0f : 2.0f, Qt::SolidLine);
            symbol->drawText(QPointF(w.x + half + 2, w.y - half - 2), QString::number(m.record.id),
                             isSelected ? 14.0f : 12.0f, colour, Qt::SolidLine, QStringLiteral("Arial"));
        }
}

void MarksTool::draw3D()
{
    MarksEditor* editor = MarksEditor::instance();
    ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
    orvUI::IOrv3DViewer* viewer = vm ? vm->get3DViewer() : nullptr;
    ref_ptr<IZimDisplay> display = viewer ? viewer->getDisplay() : ref_ptr<IZimDisplay>();
    ref_ptr<IZimTrackBall> trackBall = display ? display->getTrackBall() : ref_ptr<IZimTrackBall>();
    ref_ptr<IZimSymbol> symbol = zim::getPubSymbol();
    if (!trackBall || !symbol) return;
    const double pixelScale = trackBall->getPixelScale();
    const XPnt3d eye = trackBall->getEyePoint();
    const double centreDistance = (trackBall->getCenterPoint() - eye).length();
    if (!(pixelScale > 0) || !(centreDistance > 0)) return;
    const int selected = editor->selectedId();
    for (int pass = 0; pass < 2; ++pass)
        for (const orvmap::PhotoMark& m : editor->marks()) {
            const bool isSelected = m.record.id == selected;
            if (isSelected != (pass == 1) || !m.hasPoint()) continue;
            // World units of one screen pixel at the point's distance from the eye.
            const double distance = (m.record.point - eye).length();
            const double unit = std::max(distance, 1e-9) / (pixelScale * centreDistance);
            const QColor colour = isSelected ? kSelectedColour : m.enabled ? kMarkColour : kDisabledColour;
            const double side = isSelected ? kSelectedSide : kPointSide;
            symbol->drawPoint(m.record.point, side * unit, 2.0, colour3f(colour), true, true);
            trackBall->drawWorldText(m.record.point.x, m.record.point.y, m.record.point.z, " %d", int(m.record.id));
        }
}

// The press of a double click placed or took a mark already; the 3D view's own answer (showing
// the photo of the mesh under the cursor) would leave that mark's photo in the middle of its work.
int MarksTool::onMouseDoubleClick(int, ZimKey, int, int) { return 0; }

int MarksTool::onMousePress(int view, ZimKey flags, int x, int y)
{
    // Only the left button is the tool's (the views keep the others; a press with another
    // button held too is theirs as well).
    if ((flags & (ZimKeyRButton | ZimKeyMButton)) != ZimKeyNone) return 0;
    MarksEditor* editor = MarksEditor::instance();
    editor->refresh();
    if (editor->isDragging()) editor->endDrag();
    m_dragView = -1;
    const bool taken = view == ZimViewImage ? pressPhoto(x, y) : view == ZimView3D ? press3D(x, y) : false;
    if (taken) m_dragView = view;
    return taken ? 1 : 0;
}

bool MarksTool::pressPhoto(int x, int y)
{
    MarksEditor* editor = MarksEditor::instance();
    orvUI::IOrvImageViewer* viewer = photoViewer(editor);
    if (!viewer) return false;
    const QVector<orvmap::PhotoMark> marks = editor->marks();
    const int hit = nearestMark(photoScreenMarks(viewer, marks), XPnt2d(x, y), kPickRadius, editor->selectedId());
    if (hit != -1) return editor->beginDrag(hit);
    const XPnt2d uv = screenToPhoto(viewer, x, y);
    if (!insidePhoto(uv)) return false;
    const orvmap::PhotoMark* selected = findMark(marks, editor->selectedId());
    if (selected && !selected->hasPhotoPosition()) {
        if (!editor->beginDrag(selected->record.id)) return false;
        editor->dragPhotoPosition(uv);
        return true;
    }
    XPnt3d none;
    none.setInvalid();
    return editor->beginNewMark(uv, none) != -1;
}

bool MarksTool::press3D(int x, int y)
{
    MarksEditor* editor = MarksEditor::instance();
    if (editor->imageIndex() < 0) return false;
    ref_ptr<IZimDisplay> display = display3D();
    if (!display) return false;
    ref_ptr<IZimTrackBall> trackBall = display->getTrackBall();
    const QVector<orvmap::PhotoMark> marks = editor->marks();
    const QVector<ScreenMark> onScreen = pointScreenMarks(trackBall.get(), marks);
    const XPnt2d at(x, y);
    // The selected mark's point first, then any other mark's point.
    QVector<ScreenMark> selectedOnly;
    for (const ScreenMark& m : onScreen)
        if (m.id == editor->selectedId()) selectedOnly.append(m);
    int hit = nearestMark(selectedOnly, at, kPickRadius, -1);
    if (hit == -1) hit = nearestMark(onScreen, at, kPickRadius, -1);
    if (hit != -1) return editor->beginDrag(hit);
    XPnt3d point;
    if (!trackBall->pickPoint(x, y, point) || !point.isValid()) return false;
    if (findMark(marks, editor->selectedId())) {
        if (!editor->beginDrag(editor->selectedId())) return false;
        editor->dragPoint(point);
        return true;
    }
    XPnt2d none;
    none.setInvalid();
    return editor->beginNewMark(none, point) != -1;
}

int MarksTool::onMouseMove(int view, ZimKey flags, int x, int y)
{
    MarksEditor* editor = MarksEditor::instance();
    if (m_dragView != view || !editor->isDragging()) return 0;
    if ((flags & ZimKeyLButton) == ZimKeyNone) return 0;
    if (view == ZimViewImage) {
        orvUI::IOrvImageViewer* viewer = photoViewer(editor);
        if (!viewer) return 0;
        const XPnt2d uv = screenToPhoto(viewer, x, y);
        if (uv.isValid()) editor->dragPhotoPosition(clampToPhoto(uv));
        return 1;
    }
    ref_ptr<IZimDisplay> display = display3D();
    XPnt3d point;
    // Off the surface the point stays where it was last on it.
    if (display && display->getTrackBall()->pickPoint(x, y, point)) editor->dragPoint(point);
    return 1;
}

int MarksTool::onMouseRelease(int view, ZimKey, int, int)
{
    if (m_dragView != view) return 0;
    m_dragView = -1;
    MarksEditor::instance()->endDrag();
    return 1;
}

int MarksTool::onWheel(int, ZimKey, short, int, int) { return 0; }

int MarksTool::onRightClick(int, ZimKey, int, int) { return 0; }

int MarksTool::onKeyPress(int, int key, int, ZimKey)
{
    if (key != Qt::Key_Delete && key != Qt::Key_Backspace) return 0;
    MarksEditor* editor = MarksEditor::instance();
    if (editor->isDragging()) return 0;
    return editor->removeMark(editor->selectedId()) ? 1 : 0;
}

int MarksTool::onKeyRelease(int, int, int, ZimKey) { return 0; }

int MarksTool::setActiveView(int view)
{
    m_activeView = view;
    return 0;
}

int MarksTool::notifyTool()
{
    MarksEditor::instance()->refresh();
    return 0;
}

}  // namespace orvCore
