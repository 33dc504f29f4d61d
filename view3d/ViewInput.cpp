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

}  // namespace orvUI
