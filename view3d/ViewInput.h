// Input decisions both views share, free of widgets so that tests can drive them with the event
// orders real window systems produce: the wheel's notch delta, the right button's click-or-drag
// and whether a context menu has anything to offer.
#pragma once

#include <QPoint>

class QMenu;

namespace orvUI {

// The notch delta of a wheel event (120 a notch) from its angle delta: the axis that moved most,
// vertical on a tie. With Alt held X11 reports the ordinary wheel as a horizontal one.
int wheelNotchDelta(const QPoint& angleDelta);

// Whether a menu offers anything: a visible action that is not a separator, in it or in one of
// its submenus.
bool menuHasCommands(const QMenu* menu);
// Pops a view's context menu up at a screen position when it offers anything: without a nested
// event loop, so that nothing the mouse does next is swallowed, and never as an empty frame.
void popupContextMenu(QMenu* menu, const QPoint& globalPos);

// The right button of a view. A click (press and release with the cursor staying within
// kDragDistance pixels of the press) opens the context menu at the release; a drag never does.
// The request for the menu comes at different times: X11 sends it right after the press, other
// systems after the release, the keyboard's menu key without any press. A request that comes
// while the button is down waits for the release; one that comes after a click opens the menu
// then; one that comes after a drag, or from the mouse without a press, is dropped.
class RightButtonGesture {
public:
    static constexpr int kDragDistance = 3;  // pixels along x plus along y

    enum class Request {
        OpenNow,    // open the menu now
        AtRelease,  // wait: the release decides
        Ignore,     // open nothing
    };
    struct Release {
        bool click = false;     // the press ended as a click (false also without a press)
        bool openMenu = false;  // a request came while the button was down: open the menu now
    };

    void press(const QPoint& pos);
    // A move with the button down; true once the cursor has gone far enough to make a drag,
    // and for every move after that.
    bool move(const QPoint& pos);
    Release release(const QPoint& pos);
    // A context-menu request; fromMouse is false for the keyboard's menu key.
    Request menuRequest(bool fromMouse);

    bool isDown() const { return m_down; }
    bool isDrag() const { return m_drag; }
    QPoint pressPos() const { return m_press; }

private:
    QPoint m_press;
    bool m_down = false;
    bool m_drag = false;
    bool m_requested = false;
    // The last press ended as a click and no menu has been asked for since.
    bool m_clickUnanswered = false;
};

}  // namespace orvUI
