#include "ViewInput.h"

#include <QAction>
#include <QMenu>
#include <cstdlib>

namespace orvUI {

int wheelNotchDelta(const QPoint& angleDelta)
{
    return std::abs(angleDelta.x()) > std::abs(angleDelta.y()) ? angleDelta.x() : angleDelta.y();
}

bool menuHasCommands(const QMenu* menu)
{
    if (!menu) return false;
    for (const QAction* action : menu->actions()) {
        if (!action->isVisible() || action->isSeparator()) continue;
        if (action->menu() && !menuHasCommands(action->menu())) continue;
        return true;
    }
    return false;
}

void popupContextMenu(QMenu* menu, const QPoint& globalPos)
{
    if (menuHasCommands(menu)) menu->popup(globalPos);
}

void RightButtonGesture::press(const QPoint& pos)
{
    m_press = pos;
    m_down = true;
    m_drag = false;
    m_requested = false;
    m_clickUnanswered = false;
}

bool RightButtonGesture::move(const QPoint& pos)
{
    if (!m_down) return false;
    if (!m_drag && (pos - m_press).manhattanLength() > kDragDistance) m_drag = true;
    return m_drag;
}

RightButtonGesture::Release RightButtonGesture::release(const QPoint& pos)
{
    Release result;
    if (!m_down) return result;
    move(pos);
    result.click = !m_drag;
    result.openMenu = result.click && m_requested;
    m_clickUnanswered = result.click && !m_requested;
    m_down = false;
    m_drag = false;
    m_requested = false;
    return result;
}

RightButtonGesture::Request RightButtonGesture::menuRequest(bool fromMouse)
{
    if (m_down) {
        if (!fromMouse || m_drag) return Request::Ignore;
        m_requested = true;
        return Request::AtRelease;
    }
    if (!fromMouse) return Request::OpenNow;
    if (!m_clickUnanswered) return Request::Ignore;
    m_clickUnanswered = false;
    return Request::OpenNow;
}

namespace {

bool has(ZimKey flags, ZimKey bit) { return (flags & bit) != ZimKeyNone; }

}  // namespace

ViewMouse3D::Action ViewMouse3D::press(Qt::MouseButton button, const QPoint& pos, ZimKey flags, bool pickPending)
{
    Action a;
    switch (button) {
        case Qt::LeftButton:
            if (!pickPending) {
                a.tool = ToolCall::Press;
                return a;
            }
            a.pickCenter = true;
            break;
        case Qt::RightButton:
            // Click or drag is decided by the moves that follow; the camera moves only in a drag.
            m_right.press(pos);
            a.beginDrag = flags == ZimKeyAlt ? ZimDragZoom : ZimDragOrbit;
            break;
        case Qt::MiddleButton:
            a.beginDrag = ZimDragPan;
            break;
        default:
            return a;
    }
    a.updateCursor = true;
    return a;
}

ViewMouse3D::Action ViewMouse3D::move(Qt::MouseButtons buttons, const QPoint& pos, ZimKey flags, bool dragging)
{
    Action a;
    bool drag = false;
    if (buttons & Qt::RightButton) {
        // A press the view never saw (it went to a menu or another window) starts here.
        if (!m_right.isDown()) m_right.press(pos);
        if (!m_right.move(pos)) {
            // Still within a click's reach of the press.
        } else if (!dragging) {
            a.beginDrag = has(flags, ZimKeyAlt) ? ZimDragZoom : ZimDragOrbit;
            a.updateCursor = true;
        } else {
            drag = true;
        }
    } else if (buttons & Qt::MiddleButton) {
        drag = true;
    } else {
        a.tool = ToolCall::Move;
    }
    if (drag) {
        a.dragTo = true;
        a.redraw = true;
        a.updateCursor = true;
    }
    return a;
}

ViewMouse3D::Action ViewMouse3D::release(Qt::MouseButton button, const QPoint& pos, bool pickPending, bool dragging)
{
    Action a;
    switch (button) {
        case Qt::LeftButton:
            if (!pickPending) {
                a.tool = ToolCall::Release;
                a.redrawAfterTool = true;
                return a;
            }
            break;
        case Qt::RightButton: {
            // The press started the camera's drag; a click ends it where it began, without moving
            // the camera, goes to the tool, and opens the menu asked for in the meantime.
            const QPoint pressed = m_right.pressPos();
            const RightButtonGesture::Release release = m_right.release(pos);
            if (!dragging || release.click) {
                a.endDrag = dragging;
                a.endAt = pressed;
                a.tool = ToolCall::RightClick;
                a.openMenu = release.openMenu;
            } else {
                a.modified = true;
                a.endDrag = true;
                a.endAt = pos;
                a.redraw = true;
            }
            break;
        }
        case Qt::MiddleButton:
            a.modified = true;
            a.endDrag = true;
            a.endAt = pos;
            break;
        default:
            return a;
    }
    a.updateCursor = true;
    return a;
}

ViewMouse3D::Action ViewMouse3D::menuRequest(bool fromMouse)
{
    // X11 asks right after the press: the menu waits for the release, which may turn out to
    // end a drag.
    Action a;
    a.openMenu = m_right.menuRequest(fromMouse) == RightButtonGesture::Request::OpenNow;
    return a;
}

ViewMouse3D::Action ViewMouse3D::wheel(ZimKey flags)
{
    Action a;
    if (!has(flags, ZimKeyCtrl) && !has(flags, ZimKeyShift)) {
        a.modified = true;
        a.zoom = true;
        a.redraw = true;
    } else {
        a.tool = ToolCall::Wheel;
    }
    a.updateCursor = true;
    return a;
}

ViewMouse3D::Action ViewMouse3D::doubleClick(bool pickPending)
{
    Action a;
    if (pickPending) {
        a.updateCursor = true;
        return a;
    }
    a.tool = ToolCall::DoubleClick;
    a.pickImage = true;
    return a;
}

}  // namespace orvUI
