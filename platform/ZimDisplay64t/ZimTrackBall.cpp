#include "ZimTrackBall.h"

#include <cstdio>
#include <vector>

#include "GlSupport.h"

namespace zimdisp {

int CZimTrackBall::beginDrag(int mode, int x, int y, int /*flags*/)
{
    if (mode != ZimDragPan && mode != ZimDragOrbit && mode != ZimDragZoom) return -1;
    // A new drag replaces a running one: the motion starts again from (x, y).
    m_dragMode = mode;
    m_lastX = x;
    m_lastY = y;
    return 0;
}

int CZimTrackBall::dragTo(int x, int y, int /*flags*/)
{
    if (m_dragMode == ZimDragNone) return -1;
    dragStep(x, y);
    return 0;
}

int CZimTrackBall::endDrag(int x, int y, int /*flags*/)
{
    if (m_dragMode == ZimDragNone) return -1;
    dragStep(x, y);
    m_dragMode = ZimDragNone;
    return 0;
}

void CZimTrackBall::dragStep(int x, int y)
{
    const double dx = double(x) - double(m_lastX);
    const double dy = double(y) - double(m_lastY);
    // The first step that moves the camera leaves a photo's projection; a press and release on
    // the spot (a right click for the context menu) keeps it.
    if (dx == 0.0 && dy == 0.0) return;
    switch (m_dragMode) {
        case ZimDragPan:
            m_camera.pan(m_lastX, m_lastY, x, y);
            break;
        case ZimDragOrbit:
            m_camera.orbit(dx, dy);
            break;
        case ZimDragZoom:
            m_camera.dolly(dy);
            break;
        default:
            break;
    }
    m_lastX = x;
    m_lastY = y;
}

void CZimTrackBall::drawWorldText(double x, double y, double z, const char* format, ...)
{
    if (!format || !hasCurrentContext()) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) {
        va_end(args);
        return;
    }
    std::vector<char> text(std::size_t(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);

    // Place the label with the matrices in effect now (a scene item may have its own transform),
    // beside the point rather than on it so that a marker drawn there does not hide it, and a
    // little towards the eye so that the surface the point lies on does not either.
    const Mat4 modelView = currentMatrix(GL_MODELVIEW_MATRIX);
    const Mat4 projection = currentMatrix(GL_PROJECTION_MATRIX);
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const double obj[4] = {x, y, z, 1.0};
    double eye[4];
    double clip[4];
    transform(modelView, obj, eye);
    transform(projection, eye, clip);
    const double w = clip[3];
    // Only points inside the view volume get a label, as for glRasterPos.
    if (!(w > 0.0) || !std::isfinite(w)) return;
    for (int i = 0; i < 3; ++i)
        if (!(clip[i] >= -w && clip[i] <= w)) return;
    const double winX = viewport[0] + viewport[2] * (clip[0] / w * 0.5 + 0.5);
    const double winY = viewport[1] + viewport[3] * (clip[1] / w * 0.5 + 0.5);
    const double winZ = std::max(0.0, clip[2] / w * 0.5 + 0.5 - 1e-4);
    constexpr double kOffsetX = 6.0;
    constexpr double kOffsetY = 4.0;

    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT);
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    {
        PixelStoreScope store(1);
        glWindowPos3d(winX + kOffsetX, winY + kOffsetY, winZ);
        drawBitmapText(text.data());
    }
    glPopAttrib();
}

bool CZimTrackBall::readDepth(int x, int y, double& depth) const
{
    if (!hasCurrentContext()) return false;
    if (x < 0 || y < 0 || x >= m_camera.width() || y >= m_camera.height()) return false;
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    if (depthBits <= 0) return false;
    // A multisampled framebuffer object cannot be read from directly.
    GLint readFramebuffer = 0;
    GLint sampleBuffers = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readFramebuffer);
    glGetIntegerv(GL_SAMPLE_BUFFERS, &sampleBuffers);
    if (readFramebuffer != 0 && sampleBuffers > 0) return false;
    // Pre-set to background, so that a read that fails leaves "nothing there".
    GLfloat value = 1.0f;
    {
        PixelStoreScope store;
        glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &value);
    }
    if (!(value < 1.0f) || !(value >= 0.0f)) return false;
    depth = value;
    return true;
}

int CZimTrackBall::setCenterAt(int x, int y)
{
    double depth = 1.0;
    if (!readDepth(x, y, depth)) return -1;
    const XPnt3d p = m_camera.unproject(x, y, depth);
    return m_camera.lookAtPoint(p) ? 0 : -1;
}

int CZimTrackBall::applyView()
{
    if (!hasCurrentContext()) return -1;
    const Mat4 projection = m_camera.projection();
    const Mat4 modelView = m_camera.modelView();
    glViewport(0, 0, m_camera.width(), m_camera.height());
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(projection.m);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(modelView.m);
    return 0;
}

int CZimTrackBall::translateBy(const XPnt3d& offset) { return m_camera.translate(offset) ? 0 : -1; }

int CZimTrackBall::setViewIndex(int index) { return m_camera.setStandardView(index) ? 0 : -1; }

int CZimTrackBall::fitToBox(const Enve3d& box, int adjustPlanes)
{
    return m_camera.fitToBox(box, adjustPlanes != 0) ? 0 : -1;
}

int CZimTrackBall::zoomAt(float amount, int x, int y)
{
    // Nothing to do (a zero step, or the eye already at its closest) is not a failure.
    if (!std::isfinite(amount)) return -1;
    m_camera.zoomAt(amount, x, y);
    return 0;
}

int CZimTrackBall::setFieldOfView(double degrees) { return m_camera.setFieldOfView(degrees) ? 0 : -1; }

int CZimTrackBall::setNearDistance(double distance) { return m_camera.setNearDistance(distance) ? 0 : -1; }

int CZimTrackBall::setFarDistance(double distance) { return m_camera.setFarDistance(distance) ? 0 : -1; }

bool CZimTrackBall::pickPoint(int x, int y, XPnt3d& out) const
{
    double depth = 1.0;
    if (!readDepth(x, y, depth)) return false;
    const XPnt3d p = m_camera.unproject(x, y, depth);
    if (!p.isValid()) return false;
    out = p;
    return true;
}

XPnt3d CZimTrackBall::unproject(double x, double y, double depth) const { return m_camera.unproject(x, y, depth); }

XPnt3d CZimTrackBall::screenPointToWorld(int x, int y) const
{
    double depth = 1.0;
    if (readDepth(x, y, depth)) {
        const XPnt3d p = m_camera.unproject(x, y, depth);
        if (p.isValid()) return p;
    }
    return m_camera.planePoint(x, y);
}

XPnt3d CZimTrackBall::projectToScreen(const XPnt3d& world) const { return m_camera.project(world); }

XPnt3d CZimTrackBall::projectPoint(const XPnt3d& world) const { return m_camera.project(world); }

int CZimTrackBall::setViewport(int width, int height)
{
    if (width < 0 || height < 0) return -1;
    m_camera.setViewport(width, height);
    return 0;
}

int CZimTrackBall::setLookAt(const XPnt3d& eye, const XPnt3d& center, const XPnt3d& up)
{
    return m_camera.setLookAt(eye, center, up) ? 0 : -1;
}

void CZimTrackBall::getModelViewMatrix(double out[16]) const
{
    const Mat4 m = m_camera.modelView();
    std::copy(m.m, m.m + 16, out);
}

void CZimTrackBall::getProjectionMatrix(double out[16]) const
{
    const Mat4 m = m_camera.projection();
    std::copy(m.m, m.m + 16, out);
}

int CZimTrackBall::setPhotoProjection(double fx, double fy, double cx, double cy, int photoWidth, int photoHeight)
{
    return m_camera.setPhotoProjection(fx, fy, cx, cy, photoWidth, photoHeight) ? 0 : -1;
}

int CZimTrackBall::clearPhotoProjection()
{
    if (!m_camera.hasPhotoProjection()) return 1;
    m_camera.clearPhotoProjection();
    return 0;
}

}  // namespace zimdisp
