// Input decisions both views share, free of widgets so that tests can drive them with the event
// orders real window systems produce: the wheel's notch delta, the right button's click-or-drag,
// whether a context menu has anything to offer, and the 3D view's mouse as a state machine.
#pragma once

#include <QPoint>

#include "ZimBase64t.h"
#include "ZimDisplay64t.h"

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

// The 3D view's mouse as decisions: the widget hands every mouse event, with the state it needs
// (whether a centre pick is pending, whether the camera is in a drag), to one call here and
// carries out the returned Action. Positions are GL-oriented window pixels.
//   left button:   the tool's; while a centre pick is pending a press sets the rotation centre
//   right button:  a click goes to the tool and opens the context menu (see RightButtonGesture);
//                  a drag orbits the camera, with Alt held it zooms
//   middle button: a drag pans the camera
//   wheel:         zooms at the cursor; with Ctrl or Shift held it is the tool's
//   double click:  the tool's; when the tool does not take it, picks the image under the cursor
class ViewMouse3D {
public:
    // Which handler of the current tool receives the event.
    enum class ToolCall { None, Press, Move, Release, RightClick, Wheel, DoubleClick };

    // What one event asks of the widget, to be done in the order of the fields.
    struct Action {
        bool modified = false;                // the camera moved: the project has changed
        bool pickCenter = false;              // set the rotation centre at the event, redraw, end the pick
        ZimDragMode beginDrag = ZimDragNone;  // start (or restart) a camera drag at the event
        bool dragTo = false;                  // move the running camera drag to the event
        bool endDrag = false;                 // end the camera drag at endAt
        QPoint endAt;
        bool zoom = false;               // zoom the camera at the event by the wheel's delta
        ToolCall tool = ToolCall::None;  // hand the event to the current tool
        bool redraw = false;             // draw the scene
        bool redrawAfterTool = false;    // draw the scene when there was a tool to call
        bool pickImage = false;          // when the tool did not handle it: pick the image
        bool openMenu = false;           // pop the context menu up at the event
        bool updateCursor = false;       // show the cursor of the current drag or pick
    };

    // flags: the single modifier held (ZimKeyAlt, ZimKeyShift, ZimKeyCtrl or none).
    Action press(Qt::MouseButton button, const QPoint& pos, ZimKey flags, bool pickPending);
    // flags: every modifier held; dragging: whether the camera is in a drag.
    Action move(Qt::MouseButtons buttons, const QPoint& pos, ZimKey flags, bool dragging);
    Action release(Qt::MouseButton button, const QPoint& pos, bool pickPending, bool dragging);
    // A context-menu event; fromMouse is false for the keyboard's menu key.
    Action menuRequest(bool fromMouse);
    // flags: every modifier held.
    Action wheel(ZimKey flags);
    Action doubleClick(bool pickPending);

    const RightButtonGesture& rightButton() const { return m_right; }

private:
    RightButtonGesture m_right;
};

}  // namespace orvUI
