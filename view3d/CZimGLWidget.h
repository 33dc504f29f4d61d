// A thin OpenGL widget that owns a screen display of the display library and its trackball:
// the display draws into the widget's GL context and the trackball holds the camera.
#pragma once

#include <QGLWidget>

#include "ZimDisplay64t.h"

namespace orvUI {

class CZimGLWidget : public QGLWidget {
    Q_OBJECT

public:
    explicit CZimGLWidget(const QGLFormat& format, QWidget* parent = nullptr);
    ~CZimGLWidget() override;

    // Makes the GL context current, attaches the display to it and gives it the widget size.
    virtual void resetDisplay();
    // 0, 2 arrow, 1 cross, 3 pointing hand, 5 to 9 size cursors, 10 blank; others change
    // nothing. Returns 0.
    virtual int setCursorShape(int shape);

protected:
    void enterEvent(QEvent* event) override;
    void initializeGL() override;

    ref_ptr<IZimDisplay> display;
    ref_ptr<IZimTrackBall> trackBall;
};

}  // namespace orvUI
