#include "OrvKeyMapping.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include "OrvUIElements64t.h"

namespace orvUI {

ZimKey modifierFlag(Qt::KeyboardModifiers modifiers)
{
    if (modifiers == Qt::ControlModifier) return ZimKeyCtrl;
    if (modifiers == Qt::ShiftModifier) return ZimKeyShift;
    if (modifiers == Qt::AltModifier) return ZimKeyAlt;
    return ZimKeyNone;
}

ZimKey buttonFlag(Qt::MouseButtons buttons)
{
    if (buttons & Qt::RightButton) return ZimKeyRButton;
    if (buttons & Qt::MiddleButton) return ZimKeyMButton;
    if (buttons & Qt::LeftButton) return ZimKeyLButton;
    return ZimKeyNone;
}

ZimKey keyFlag(Qt::KeyboardModifiers modifiers, int key)
{
    switch (key) {
        case Qt::Key_Control:
            return ZimKeyCtrl;
        case Qt::Key_Shift:
            return ZimKeyShift;
        case Qt::Key_Alt:
            return ZimKeyAlt;
        default:
            return modifierFlag(modifiers);
    }
}

ZimKey getKeyFlag(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = QGuiApplication::keyboardModifiers();
    return event ? keyFlag(modifiers, event->key()) : modifierFlag(modifiers);
}

ZimKey getQtFlag(QKeyEvent*) { return modifierFlag(QGuiApplication::keyboardModifiers()); }

ZimKey getQtFlag(QMouseEvent* event)
{
    const ZimKey button = event ? buttonFlag(event->buttons()) : ZimKeyNone;
    return ZimKey(button | modifierFlag(QGuiApplication::keyboardModifiers()));
}

ZimKey getQtFlag(QWheelEvent*) { return modifierFlag(QGuiApplication::keyboardModifiers()); }

}  // namespace orvUI
