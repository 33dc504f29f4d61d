#include "CZimGLWidget.h"

#include "ViewMath.h"

namespace orvUI {

CZimGLWidget::CZimGLWidget(const QGLFormat& format, QWidget* parent) : QGLWidget(format, parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);
    setMinimumSize(150, 150);
    setAutoBufferSwap(false);
    display = zim::newScreenDisplay();
    if (display) trackBall = display->getTrackBall();
    setMouseTracking(true);
}

CZimGLWidget::~CZimGLWidget() = default;

void CZimGLWidget::resetDisplay()
{
    if (!display || !isValid()) return;
    makeCurrent();
    // Null handles: the display takes the context and drawable current now, which are this
    // widget's after makeCurrent.
    display->attachContext(nullptr, nullptr);
    display->resizeDisplay(width(), height());
}

int CZimGLWidget::setCursorShape(int shape)
{
    Qt::CursorShape cursor = Qt::ArrowCursor;
    if (cursorForShape(shape, cursor)) setCursor(cursor);
    return 0;
}

void CZimGLWidget::enterEvent(QEvent* event)
{
    // Keys work as soon as the cursor is over the view.
    setFocus();
    QGLWidget::enterEvent(event);
}

void CZimGLWidget::initializeGL()
{
    if (display) display->attachContext(nullptr, nullptr);
}

}  // namespace orvUI
