// The screen display: owns the drawing cycle of one GLX context and its trackball.
//
// Qt keeps its own record of the current context. When the attached context is one Qt made (a
// QOpenGLContext current on a window or an offscreen surface at attach time), the display makes
// it current again through Qt, so that Qt's record stays right; a context Qt does not know is
// made current with GLX directly, after telling Qt that its context is no longer current.
//
// End of frame: endDraw returns 1 when the trackball changed between beginDraw and endDraw (a
// camera move arrived during the frame, or the drawing itself moved the camera, e.g. a new field
// of view or depth range), since the frame was then drawn with matrices that are already stale.
// To keep a caller that redraws on 1 from recursing without end when every frame moves the
// camera, at most kMaxRepeats such requests are made in a row.

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPointer>
#include <QSurface>
#include <QVariant>
#include <QWindow>
#include <QtPlatformHeaders/QGLXNativeContext>

#include "GlSupport.h"
#include "ZimTrackBall.h"

// The X11 headers define names (None, Bool, Status) that Qt and GoogleTest use, so they come last.
// clang-format off
#include <GL/glx.h>
// clang-format on

namespace zimdisp {

namespace {

constexpr int kMaxRepeats = 4;

class CZimScreenDisplay : public IZimDisplay {
public:
    CZimScreenDisplay() : m_trackBall(new CZimTrackBall()) {}

    int attachContext(void* drawable, void* context) override;
    int resizeDisplay(int width, int height) override;
    int beginDraw(int flags) override;
    int endDraw() override;
    int makeDisplayCurrent() override;
    int beginToolDraw() override;
    int endToolDraw() override;
    int setBackgroundColor(const ZimColor3f& colour) override;
    ref_ptr<IZimTrackBall> getTrackBall() override { return m_trackBall; }
    ZimColor3f getBackgroundColor() const override { return m_background; }
    int displayWidth() const override { return m_width; }
    int displayHeight() const override { return m_height; }

protected:
    ~CZimScreenDisplay() override = default;

private:
    void detach();
    bool attached() const { return m_context != nullptr; }
    // Whether endDraw should swap: a double-buffered window drawn directly (no framebuffer object
    // bound), and not a surface known to be offscreen.
    bool shouldSwap() const;

    ref_ptr<CZimTrackBall> m_trackBall;
    ZimColor3f m_background{0.0f, 0.0f, 0.0f};
    int m_width = 0;
    int m_height = 0;

    Display* m_display = nullptr;
    GLXDrawable m_drawable = 0;
    GLXDrawable m_readDrawable = 0;
    GLXContext m_context = nullptr;
    // Set when the context belongs to Qt; both go away with what they point to.
    bool m_qtOwned = false;
    QPointer<QOpenGLContext> m_qtContext;
    QPointer<QObject> m_qtSurfaceObject;
    QSurface* m_qtSurface = nullptr;
    bool m_offscreen = false;

    bool m_inFrame = false;
    unsigned long m_frameRevision = 0;
    int m_repeats = 0;

    bool m_inToolDraw = false;
    Mat4 m_savedProjection = Mat4::identity();
    Mat4 m_savedModelView = Mat4::identity();
    GLint m_savedMatrixMode = GL_MODELVIEW;
};

void CZimScreenDisplay::detach()
{
    m_display = nullptr;
    m_drawable = m_readDrawable = 0;
    m_context = nullptr;
    m_qtOwned = false;
    m_qtContext.clear();
    m_qtSurfaceObject.clear();
    m_qtSurface = nullptr;
    m_offscreen = false;
    m_inFrame = false;
    m_inToolDraw = false;
}

int CZimScreenDisplay::attachContext(void* drawable, void* context)
{
    const GLXContext currentContext = glXGetCurrentContext();
    const GLXDrawable currentDrawable = glXGetCurrentDrawable();
    const GLXContext ctx = context ? static_cast<GLXContext>(context) : currentContext;
    const GLXDrawable draw = drawable ? GLXDrawable(reinterpret_cast<std::uintptr_t>(drawable)) : currentDrawable;
    // The X connection comes from the current context; a context cannot be made current
    // without the connection it was made on.
    Display* dpy = glXGetCurrentDisplay();
    if (!dpy && ctx == m_context) dpy = m_display;
    if (!ctx || !draw || !dpy) return -1;

    detach();
    m_display = dpy;
    m_context = ctx;
    m_drawable = draw;
    m_readDrawable = (ctx == currentContext && draw == currentDrawable) ? glXGetCurrentReadDrawable() : draw;
    if (!m_readDrawable) m_readDrawable = draw;

    // Is it Qt's context, current on a surface Qt knows?
    QOpenGLContext* qtContext = QOpenGLContext::currentContext();
    if (qtContext && ctx == currentContext && draw == currentDrawable) {
        const QVariant handle = qtContext->nativeHandle();
        QSurface* surface = qtContext->surface();
        if (handle.canConvert<QGLXNativeContext>() && handle.value<QGLXNativeContext>().context() == ctx && surface) {
            QObject* surfaceObject = nullptr;
            if (surface->surfaceClass() == QSurface::Window)
                surfaceObject = static_cast<QWindow*>(surface);
            else
                surfaceObject = static_cast<QOffscreenSurface*>(surface);
            m_qtOwned = true;
            m_qtContext = qtContext;
            m_qtSurfaceObject = surfaceObject;
            m_qtSurface = surface;
            m_offscreen = surface->surfaceClass() == QSurface::Offscreen;
        }
    }
    return 0;
}

int CZimScreenDisplay::resizeDisplay(int width, int height)
{
    if (width < 0 || height < 0) return -1;
    m_width = width;
    m_height = height;
    m_trackBall->setViewport(width, height);
    return 0;
}

int CZimScreenDisplay::makeDisplayCurrent()
{
    if (!attached()) return -1;
    if (m_qtOwned) {
        // The context (or its surface) was destroyed: there is nothing left to draw into.
        if (!m_qtContext || !m_qtSurfaceObject) {
            detach();
            return -1;
        }
        if (QOpenGLContext::currentContext() == m_qtContext && glXGetCurrentContext() == m_context &&
            glXGetCurrentDrawable() == m_drawable)
            return 0;
        return m_qtContext->makeCurrent(m_qtSurface) ? 0 : -1;
    }
    if (glXGetCurrentContext() == m_context && glXGetCurrentDrawable() == m_drawable) return 0;
    if (QOpenGLContext* other = QOpenGLContext::currentContext()) other->doneCurrent();
    return glXMakeContextCurrent(m_display, m_drawable, m_readDrawable, m_context) ? 0 : -1;
}

int CZimScreenDisplay::beginDraw(int /*flags*/)
{
    if (makeDisplayCurrent() != 0) return -1;
    // The whole frame is cleared, whatever masks or scissor the last frame left behind.
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glClearColor(m_background.r, m_background.g, m_background.b, 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    m_trackBall->applyView();
    m_inFrame = true;
    m_frameRevision = m_trackBall->revision();
    return 0;
}

bool CZimScreenDisplay::shouldSwap() const
{
    if (m_offscreen) return false;
    GLint framebuffer = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
    if (framebuffer != 0) return false;
    GLboolean doubleBuffered = GL_FALSE;
    glGetBooleanv(GL_DOUBLEBUFFER, &doubleBuffered);
    return doubleBuffered == GL_TRUE;
}

int CZimScreenDisplay::endDraw()
{
    if (!m_inFrame) return -1;
    m_inFrame = false;
    if (makeDisplayCurrent() != 0) return -1;
    glFlush();
    if (shouldSwap()) glXSwapBuffers(m_display, m_drawable);
    if (m_trackBall->revision() != m_frameRevision && m_repeats < kMaxRepeats) {
        ++m_repeats;
        return 1;
    }
    m_repeats = 0;
    return 0;
}

int CZimScreenDisplay::beginToolDraw()
{
    if (m_inToolDraw || makeDisplayCurrent() != 0 || !attribStackHasRoom()) return -1;
    // The matrices are kept here rather than on the GL stacks, whose depth (the projection
    // stack may hold as few as two) the scene code may already be using.
    glGetIntegerv(GL_MATRIX_MODE, &m_savedMatrixMode);
    m_savedProjection = currentMatrix(GL_PROJECTION_MATRIX);
    m_savedModelView = currentMatrix(GL_MODELVIEW_MATRIX);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    m_trackBall->applyView();
    m_inToolDraw = true;
    return 0;
}

int CZimScreenDisplay::endToolDraw()
{
    if (!m_inToolDraw) return -1;
    m_inToolDraw = false;
    if (makeDisplayCurrent() != 0) return -1;
    glPopClientAttrib();
    glPopAttrib();
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(m_savedProjection.m);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(m_savedModelView.m);
    glMatrixMode(GLenum(m_savedMatrixMode));
    return 0;
}

int CZimScreenDisplay::setBackgroundColor(const ZimColor3f& colour)
{
    if (!std::isfinite(colour.r) || !std::isfinite(colour.g) || !std::isfinite(colour.b)) return -1;
    m_background = ZimColor3f(std::clamp(colour.r, 0.0f, 1.0f), std::clamp(colour.g, 0.0f, 1.0f),
                              std::clamp(colour.b, 0.0f, 1.0f));
    return 0;
}

}  // namespace

}  // namespace zimdisp

namespace zim {

ref_ptr<IZimDisplay> newScreenDisplay() { return ref_ptr<IZimDisplay>(new zimdisp::CZimScreenDisplay()); }

ref_ptr<IZimTrackBall> newTrackBall() { return ref_ptr<IZimTrackBall>(new zimdisp::CZimTrackBall()); }

}  // namespace zim
