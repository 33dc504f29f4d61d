// Display library: the trackball's camera maths without any GL context, then depth picking,
// markers, labels and the frame cycle in a real compatibility-profile context drawing into a
// framebuffer object.
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QSurfaceFormat>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "ZimDisplay64t.h"

// The X11 headers define names (None, Bool, Status) that Qt and GoogleTest use, so they come last.
// clang-format off
#include <GL/glx.h>
// clang-format on

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
// Keep the software GL driver mapped until exit, so that what it keeps for the life of the
// process is reported from a named module, which the leak suppressions match.
namespace {
const bool kDriverPinned = [] {
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/dri", "/usr/lib64/dri", "/usr/lib/dri"})
        if (dlopen((std::string(dir) + "/swrast_dri.so").c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) return true;
    return false;
}();
}  // namespace
#endif

namespace {

constexpr int kW = 640;
constexpr int kH = 480;

void expectNear(const XPnt3d& got, const XPnt3d& want, double tol)
{
    EXPECT_NEAR(got.x, want.x, tol);
    EXPECT_NEAR(got.y, want.y, tol);
    EXPECT_NEAR(got.z, want.z, tol);
}

XPnt3d viewDir(const ref_ptr<IZimTrackBall>& tb) { return normalize(tb->getCenterPoint() - tb->getEyePoint()); }
double distance(const ref_ptr<IZimTrackBall>& tb) { return tb->getEyePoint().dist(tb->getCenterPoint()); }

ref_ptr<IZimTrackBall> makeBall(int w = kW, int h = kH)
{
    ref_ptr<IZimTrackBall> tb = zim::newTrackBall();
    tb->setViewport(w, h);
    tb->setFieldOfView(30);
    EXPECT_EQ(tb->setLookAt({3, -8, 4}, {1, 2, 0.5}, {0, 0, 1}), 0);
    return tb;
}

void expectMatrixNear(const double* got, const double* want)
{
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(got[i], want[i], 1e-6 * std::max(1.0, std::fabs(want[i]))) << i;
}

void expectCameraFinite(const ref_ptr<IZimTrackBall>& tb)
{
    double mv[16], pr[16];
    tb->getModelViewMatrix(mv);
    tb->getProjectionMatrix(pr);
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(std::isfinite(mv[i]) && std::isfinite(pr[i])) << i;
    EXPECT_TRUE(tb->getEyePoint().isValid() && tb->getCenterPoint().isValid() && tb->getUpVector().isValid());
    EXPECT_GT(distance(tb), 0.0);
    EXPECT_GT(tb->getNearDistance(), 0.0);
    EXPECT_GT(tb->getFarDistance(), tb->getNearDistance());
    EXPECT_TRUE(std::isfinite(tb->getPixelScale()) && tb->getPixelScale() > 0.0);
}

}  // namespace

TEST(TrackBallMaths, ProjectionRoundTripsAndCentreIsMidScreen)
{
    ref_ptr<IZimTrackBall> tb = makeBall();
    EXPECT_NEAR(tb->getUpVector().length(), 1.0, 1e-12);
    EXPECT_NEAR(tb->getUpVector().dot(viewDir(tb)), 0.0, 1e-12) << "up is made orthogonal to the view";
    for (const XPnt3d& p : {XPnt3d(1, 2, 0.5), XPnt3d(0, 0, 0), XPnt3d(2.5, 3, 1), XPnt3d(-1, 4, 2)}) {
        const XPnt3d win = tb->projectToScreen(p);
        ASSERT_TRUE(win.isValid());
        EXPECT_GT(win.z, 0.0);
        EXPECT_LT(win.z, 1.0);
        EXPECT_EQ(tb->projectPoint(p), win);
        expectNear(tb->unproject(win.x, win.y, win.z), p, 1e-9);
    }
    const XPnt3d mid = tb->projectToScreen(tb->getCenterPoint());
    EXPECT_NEAR(mid.x, kW / 2.0, 1e-9);
    EXPECT_NEAR(mid.y, kH / 2.0, 1e-9);
    // The eye itself has no window position.
    EXPECT_FALSE(tb->projectToScreen(tb->getEyePoint()).isValid());
}

TEST(TrackBallMaths, FitToBoxFramesTheWholeBox)
{
    const Enve3d box(-1, 3, 2, 4, 0, 1);
    for (const auto& size : {std::pair<int, int>(kW, kH), std::pair<int, int>(300, 700)}) {
        ref_ptr<IZimTrackBall> tb = makeBall(size.first, size.second);
        const XPnt3d dirBefore = viewDir(tb);
        ASSERT_EQ(tb->fitToBox(box, 1), 0);
        expectNear(tb->getCenterPoint(), box.center(), 1e-12);
        expectNear(viewDir(tb), dirBefore, 1e-12);
        double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
        for (int i = 0; i < 8; ++i) {
            const XPnt3d c(i & 1 ? box.maxX : box.minX, i & 2 ? box.maxY : box.minY, i & 4 ? box.maxZ : box.minZ);
            const XPnt3d w = tb->projectToScreen(c);
            EXPECT_TRUE(w.x >= 0 && w.x <= size.first && w.y >= 0 && w.y <= size.second) << "corner " << i;
            EXPECT_TRUE(w.z > 0 && w.z < 1) << "corner " << i << " depth " << w.z;
            minX = std::min(minX, w.x), maxX = std::max(maxX, w.x), minY = std::min(minY, w.y),
            maxY = std::max(maxY, w.y);
        }
        // Fitted, not merely somewhere far away: the box spans a good part of the narrower side.
        EXPECT_GT(std::max(maxX - minX, maxY - minY), 0.5 * std::min(size.first, size.second));
        const XPnt3d mid = tb->projectToScreen(box.center());
        EXPECT_NEAR(mid.x, size.first / 2.0, 1e-9);
        EXPECT_NEAR(mid.y, size.second / 2.0, 1e-9);
    }

    ref_ptr<IZimTrackBall> tb = makeBall();
    const XPnt3d eye = tb->getEyePoint();
    EXPECT_EQ(tb->fitToBox(Enve3d(), 1), -1);
    EXPECT_EQ(tb->getEyePoint(), eye);

    Enve3d single;
    single.expand(5.0, -2.0, 7.0);
    ASSERT_EQ(tb->fitToBox(single, 1), 0);
    expectCameraFinite(tb);
    EXPECT_EQ(tb->getCenterPoint(), XPnt3d(5, -2, 7));
    EXPECT_NEAR(distance(tb), 1.0, 1e-12);
    const XPnt3d w = tb->projectToScreen(XPnt3d(5, -2, 7));
    EXPECT_TRUE(w.z > 0 && w.z < 1);
}

TEST(TrackBallMaths, ZoomAtKeepsThePointUnderTheCursor)
{
    ref_ptr<IZimTrackBall> tb = makeBall();
    const int x = 500, y = 100;
    const XPnt3d p = tb->screenPointToWorld(x, y);  // no context: the point on the centre's plane
    const double d0 = distance(tb);
    const XPnt3d dir = viewDir(tb);
    auto expectUnderCursor = [&](double tol) {
        const XPnt3d w = tb->projectToScreen(p);
        EXPECT_NEAR(w.x, x, tol);
        EXPECT_NEAR(w.y, y, tol);
    };
    ASSERT_EQ(tb->zoomAt(0.1f, x, y), 0);
    expectUnderCursor(1e-6);
    EXPECT_NEAR(distance(tb), d0 * (1.0 - double(0.1f)), 1e-9);
    expectNear(viewDir(tb), dir, 1e-12);
    tb->zoomAt(-0.1f, x, y);
    expectUnderCursor(1e-6);
    EXPECT_NEAR(distance(tb), d0, 1e-9);

    // However far it goes either way, the eye never reaches the centre and the centre stays
    // between the near and far planes.
    for (float amount : {0.9f, -0.9f}) {
        for (int i = 0; i < 200; ++i) tb->zoomAt(amount, x, y);
        expectCameraFinite(tb);
        expectNear(viewDir(tb), dir, 1e-9);
        expectUnderCursor(1e-3);
        const double depth = tb->projectToScreen(tb->getCenterPoint()).z;
        EXPECT_TRUE(depth > 0 && depth < 1) << "amount " << amount << " depth " << depth;
    }
}

TEST(TrackBallMaths, DragsOrbitPanAndDolly)
{
    ref_ptr<IZimTrackBall> tb = makeBall();
    ASSERT_EQ(tb->setLookAt({0, -10, 0}, {0, 0, 0}, {0, 0, 1}), 0);
    ASSERT_EQ(tb->beginDrag(ZimDragOrbit, 320, 240, 0), 0);
    EXPECT_EQ(tb->dragMode(), ZimDragOrbit);
    tb->dragTo(400, 240, 0);
    // Horizontal motion turns about world z; the scene follows the cursor, so the eye goes left.
    EXPECT_NEAR(tb->getEyePoint().z, 0.0, 1e-12);
    EXPECT_LT(tb->getEyePoint().x, -1.0);
    tb->dragTo(400, 300, 0);
    EXPECT_LT(tb->getEyePoint().z, -1.0);  // dragging up shows the scene from below
    for (int i = 0; i < 50; ++i) tb->dragTo(250 + (i * 37) % 300, 100 + (i * 53) % 400, 0);
    EXPECT_EQ(tb->getCenterPoint(), XPnt3d(0, 0, 0));
    EXPECT_NEAR(distance(tb), 10.0, 1e-9);
    EXPECT_NEAR(tb->getUpVector().length(), 1.0, 1e-12);
    EXPECT_NEAR(tb->getUpVector().dot(viewDir(tb)), 0.0, 1e-12);
    EXPECT_EQ(tb->endDrag(400, 300, 0), 0);
    EXPECT_EQ(tb->dragMode(), ZimDragNone);
    EXPECT_EQ(tb->dragTo(300, 300, 0), -1);
    EXPECT_EQ(tb->beginDrag(7, 0, 0, 0), -1);

    // Pan: the point under the cursor on the centre's plane goes with it.
    const XPnt3d p = tb->screenPointToWorld(100, 100);
    ASSERT_EQ(tb->beginDrag(ZimDragPan, 100, 100, 0), 0);
    tb->dragTo(180, 130, 0);
    tb->endDrag(250, 180, 0);
    const XPnt3d w = tb->projectToScreen(p);
    EXPECT_NEAR(w.x, 250, 1e-6);
    EXPECT_NEAR(w.y, 180, 1e-6);
    EXPECT_NEAR(distance(tb), 10.0, 1e-9);

    // Dolly: up moves closer, never through the centre; down moves away.
    const XPnt3d centre = tb->getCenterPoint();
    const XPnt3d dir = viewDir(tb);
    ASSERT_EQ(tb->beginDrag(ZimDragZoom, 320, 100, 0), 0);
    tb->dragTo(320, 300, 0);
    EXPECT_LT(distance(tb), 10.0);
    tb->dragTo(320, 100000, 0);
    EXPECT_GT(distance(tb), 0.0);
    expectNear(viewDir(tb), dir, 1e-9);
    tb->endDrag(320, -2000, 0);
    EXPECT_GT(distance(tb), 10.0);
    expectNear(tb->getCenterPoint(), centre, 1e-9);
    expectCameraFinite(tb);
}

TEST(TrackBallMaths, StandardViewsLookAlongTheAxes)
{
    // Top, bottom, front, back, left, right: where the eye sits from the centre, and the up.
    const XPnt3d eyeSide[6] = {{0, 0, 1}, {0, 0, -1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}};
    const XPnt3d up[6] = {{0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    ref_ptr<IZimTrackBall> tb = makeBall();
    const XPnt3d centre = tb->getCenterPoint();
    const double d = distance(tb);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(tb->setViewIndex(i), 0);
        expectNear(normalize(tb->getEyePoint() - centre), eyeSide[i], 1e-12);
        expectNear(tb->getUpVector(), up[i], 1e-12);
        EXPECT_NEAR(distance(tb), d, 1e-9);
        // Right-handed screens: up x eye-side points to the right.
        EXPECT_GT(tb->projectToScreen(centre + up[i].cross(eyeSide[i])).x, kW / 2.0 + 1);
        EXPECT_GT(tb->projectToScreen(centre + up[i]).y, kH / 2.0 + 1);
    }
    const XPnt3d eye = tb->getEyePoint();
    EXPECT_EQ(tb->setViewIndex(6), -1);
    EXPECT_EQ(tb->setViewIndex(-1), -1);
    EXPECT_EQ(tb->getEyePoint(), eye);
}

TEST(TrackBallMaths, DegenerateInputsLeaveNoNaN)
{
    ref_ptr<IZimTrackBall> tb = makeBall();
    const XPnt3d eye = tb->getEyePoint(), up = tb->getUpVector();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(tb->setLookAt({1, 1, 1}, {1, 1, 1}, {0, 0, 1}), -1);
    EXPECT_EQ(tb->setLookAt({0, 0, 0}, {0, 0, 5}, {0, 0, 1}), -1);
    EXPECT_EQ(tb->translateBy({nan, 0, 0}), -1);
    EXPECT_EQ(tb->getEyePoint(), eye);
    EXPECT_EQ(tb->getUpVector(), up);

    tb->setFieldOfView(0);
    EXPECT_DOUBLE_EQ(tb->getFieldOfView(), 1.0);
    tb->setFieldOfView(1000);
    EXPECT_DOUBLE_EQ(tb->getFieldOfView(), 170.0);
    EXPECT_EQ(tb->setNearDistance(0), 0);
    EXPECT_GT(tb->getNearDistance(), 0.0);
    EXPECT_EQ(tb->setFarDistance(tb->getNearDistance() / 2), -1);
    EXPECT_EQ(tb->setNearDistance(tb->getFarDistance() * 2), -1);
    expectCameraFinite(tb);

    tb->setViewport(0, 0);
    expectCameraFinite(tb);
    EXPECT_TRUE(tb->projectToScreen(tb->getCenterPoint()).isValid());
    EXPECT_TRUE(tb->unproject(0, 0, 0.5).isValid());
    EXPECT_TRUE(tb->screenPointToWorld(3, 3).isValid());
    tb->zoomAt(0.5f, 10, 10);
    tb->beginDrag(ZimDragOrbit, 0, 0, 0);
    tb->endDrag(50, 50, 0);
    expectCameraFinite(tb);
}

// ---- with a GL context -----------------------------------------------------------------------

namespace {

constexpr int kSize = 256;

class GlDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSurfaceFormat format;
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        format.setVersion(2, 1);
        m_context = std::make_unique<QOpenGLContext>();
        m_context->setFormat(format);
        if (!m_context->create()) GTEST_SKIP() << "no OpenGL context on this display";
        m_surface = std::make_unique<QOffscreenSurface>();
        m_surface->setFormat(m_context->format());
        m_surface->create();
        if (!m_context->makeCurrent(m_surface.get())) GTEST_SKIP() << "context cannot be made current";
        m_fbo = std::make_unique<QOpenGLFramebufferObject>(kSize, kSize, QOpenGLFramebufferObject::Depth);
        ASSERT_TRUE(m_fbo->bind());
        m_display = zim::newScreenDisplay();
        ASSERT_EQ(m_display->attachContext(nullptr, nullptr), 0);
        m_display->resizeDisplay(kSize, kSize);
        m_tb = m_display->getTrackBall();
        m_tb->setFieldOfView(30);
        ASSERT_EQ(m_tb->setLookAt({0, -10, 0}, {0, 0, 0}, {0, 0, 1}), 0);
        m_tb->setNearDistance(1);
        m_tb->setFarDistance(100);
    }
    void TearDown() override
    {
        if (m_context && m_context->makeCurrent(m_surface.get())) {
            EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
            m_fbo.reset();
            m_context->doneCurrent();
        }
    }
    static bool isColour(int x, int y, float r, float g, float b)
    {
        float c[3] = {-1, -1, -1};
        glReadPixels(x, y, 1, 1, GL_RGB, GL_FLOAT, c);
        return std::fabs(c[0] - r) < 0.01f && std::fabs(c[1] - g) < 0.01f && std::fabs(c[2] - b) < 0.01f;
    }
    // The pieces of GL state the display and the markers change and must give back (all 4- and
    // 8-byte fields, so there is no padding for the byte comparison to trip over).
    struct State {
        GLint depthTest, lighting;
        GLfloat colour[4], lineWidth;
        GLint matrixMode, viewport[4];
        GLdouble matrices[2][16];
        static State now()
        {
            State st{};
            st.depthTest = glIsEnabled(GL_DEPTH_TEST), st.lighting = glIsEnabled(GL_LIGHTING);
            glGetFloatv(GL_CURRENT_COLOR, st.colour), glGetFloatv(GL_LINE_WIDTH, &st.lineWidth);
            glGetIntegerv(GL_MATRIX_MODE, &st.matrixMode), glGetIntegerv(GL_VIEWPORT, st.viewport);
            glGetDoublev(GL_MODELVIEW_MATRIX, st.matrices[0]), glGetDoublev(GL_PROJECTION_MATRIX, st.matrices[1]);
            return st;
        }
        bool operator==(const State& o) const { return std::memcmp(this, &o, sizeof(State)) == 0; }
    };
    // A quad of the plane y = `y` over x0..x1, z -10..10, facing the eye at -y.
    static void quad(double y, double x0, double x1, float r, float g, float b)
    {
        glColor3f(r, g, b);
        glBegin(GL_QUADS);
        glVertex3d(x0, y, -10), glVertex3d(x1, y, -10), glVertex3d(x1, y, 10), glVertex3d(x0, y, 10);
        glEnd();
    }

    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLFramebufferObject> m_fbo;
    ref_ptr<IZimDisplay> m_display;
    ref_ptr<IZimTrackBall> m_tb;
};

}  // namespace

TEST_F(GlDisplay, LoadedMatricesMatchGlu)
{
    m_tb->setLookAt({2, -7, 3}, {0.5, 1, -0.5}, {0.1, 0.2, 1});
    m_tb->setFieldOfView(40);
    ASSERT_EQ(m_tb->applyView(), 0);
    const State loaded = State::now();
    double mine[2][16], glu[2][16];
    m_tb->getModelViewMatrix(mine[0]);
    m_tb->getProjectionMatrix(mine[1]);
    const GLint* vp = loaded.viewport;
    EXPECT_TRUE(vp[0] == 0 && vp[1] == 0 && vp[2] == kSize && vp[3] == kSize);
    const XPnt3d e = m_tb->getEyePoint(), c = m_tb->getCenterPoint();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(e.x, e.y, e.z, c.x, c.y, c.z, 0.1, 0.2, 1);
    glGetDoublev(GL_MODELVIEW_MATRIX, glu[0]);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(40, 1.0, m_tb->getNearDistance(), m_tb->getFarDistance());
    glGetDoublev(GL_PROJECTION_MATRIX, glu[1]);
    for (int m = 0; m < 2; ++m) {
        expectMatrixNear(loaded.matrices[m], mine[m]);
        expectMatrixNear(glu[m], mine[m]);
    }
    for (const XPnt3d& p : {XPnt3d(0, 0, 0), XPnt3d(1, 2, -1), XPnt3d(-3, 5, 2)}) {
        XPnt3d g;
        ASSERT_TRUE(gluProject(p.x, p.y, p.z, mine[0], mine[1], vp, &g.x, &g.y, &g.z));
        expectNear(m_tb->projectToScreen(p), g, 1e-6 * std::max(1.0, g.length()));
        XPnt3d u;
        ASSERT_TRUE(gluUnProject(g.x, g.y, g.z, mine[0], mine[1], vp, &u.x, &u.y, &u.z));
        expectNear(m_tb->unproject(g.x, g.y, g.z), u, 1e-6 * std::max(1.0, u.length()));
    }
}

TEST_F(GlDisplay, FrameClearsAndAsksForARedrawAfterACameraMove)
{
    m_display->setBackgroundColor({0.2f, 0.4f, 0.6f});
    glDisable(GL_DEPTH_TEST);
    ASSERT_EQ(m_display->beginDraw(0), 0);
    EXPECT_TRUE(isColour(10, 200, 0.2f, 0.4f, 0.6f));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLfloat depth = 0;
    glReadPixels(10, 200, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_EQ(depth, 1.0f);
    EXPECT_EQ(m_display->endDraw(), 0);
    EXPECT_EQ(m_display->endDraw(), -1) << "no frame running";

    m_display->beginDraw(0);
    m_tb->zoomAt(0.1f, 128, 128);
    EXPECT_EQ(m_display->endDraw(), 1);
    m_display->beginDraw(0);
    EXPECT_EQ(m_display->endDraw(), 0);
    // A camera that moves in every frame does not keep the caller redrawing for ever.
    int repeats = 0;
    for (int frame = 0; frame < 20; ++frame) {
        m_display->beginDraw(0);
        m_tb->zoomAt(0.01f, 128, 128);
        if (m_display->endDraw() != 1) break;
        ++repeats;
    }
    EXPECT_GT(repeats, 0);
    EXPECT_LT(repeats, 20);
}

TEST_F(GlDisplay, DepthReadsFindTheSurfaceOrReportBackground)
{
    ASSERT_EQ(m_display->beginDraw(0), 0);
    quad(2.0, -10.0, 0.0, 1, 1, 1);  // the left half of the view
    glFinish();
    // The expected point: where the ray through pixel (64, 128) meets the plane y = 2.
    const XPnt3d a = m_tb->unproject(64, 128, 0.0), b = m_tb->unproject(64, 128, 1.0);
    const XPnt3d onQuad = a + (b - a) * ((2.0 - a.y) / (b.y - a.y));
    XPnt3d p;
    ASSERT_TRUE(m_tb->pickPoint(64, 128, p));
    expectNear(p, onQuad, 1e-3);
    expectNear(m_tb->screenPointToWorld(64, 128), onQuad, 1e-3);

    const XPnt3d sentinel(7, 7, 7);
    p = sentinel;
    EXPECT_FALSE(m_tb->pickPoint(200, 128, p));
    EXPECT_FALSE(m_tb->pickPoint(300, 10, p));
    EXPECT_EQ(p, sentinel);
    const XPnt3d onPlane = m_tb->screenPointToWorld(200, 128);  // background: the centre's plane
    const XPnt3d w = m_tb->projectToScreen(onPlane);
    EXPECT_NEAR(w.x, 200, 1e-6);
    EXPECT_NEAR(w.y, 128, 1e-6);
    EXPECT_NEAR(onPlane.y, 0.0, 1e-9);

    const XPnt3d eye = m_tb->getEyePoint();
    EXPECT_EQ(m_tb->setCenterAt(200, 128), -1);
    EXPECT_EQ(m_tb->getCenterPoint(), XPnt3d(0, 0, 0));
    ASSERT_EQ(m_tb->setCenterAt(64, 128), 0);
    expectNear(m_tb->getCenterPoint(), onQuad, 1e-3);
    EXPECT_EQ(m_tb->getEyePoint(), eye);
    m_display->endDraw();

    m_context->doneCurrent();  // without a context nothing is read
    EXPECT_FALSE(m_tb->pickPoint(64, 128, p));
    EXPECT_TRUE(m_tb->screenPointToWorld(64, 128).isValid());
}

TEST_F(GlDisplay, MarkersDrawTheirColourAndRestoreState)
{
    ASSERT_EQ(m_display->beginDraw(0), 0);
    ref_ptr<IZimSymbol> symbol = zim::newZimSymbol();
    const double px = 1.0 / m_tb->getPixelScale();  // one pixel at the centre's distance, in world units
    glEnable(GL_LIGHTING);
    glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
    glLineWidth(3.0f);
    glMatrixMode(GL_PROJECTION);
    const State before = State::now();

    ASSERT_EQ(symbol->drawPoint({0, 0, 0}, 10 * px, 1.0, {1, 0, 0}, false, true), 0);
    EXPECT_TRUE(isColour(128, 128, 1, 0, 0));
    EXPECT_TRUE(isColour(131, 131, 1, 0, 0)) << "a filled square";
    // A cross through a pixel centre, so that its lines fall on whole pixels.
    const XPnt3d crossAt = m_tb->unproject(60.5, 190.5, m_tb->projectToScreen({0, 0, 0}).z);
    ASSERT_EQ(symbol->drawPoint(crossAt, 10 * px, 1.0, {0, 1, 0}, false, false), 0);
    EXPECT_TRUE(isColour(60, 190, 0, 1, 0));
    EXPECT_TRUE(isColour(63, 190, 0, 1, 0));
    EXPECT_TRUE(isColour(63, 193, 0, 0, 0)) << "a cross leaves the square's corners alone";
    ASSERT_EQ(symbol->drawLine({-3, 0, -2}, {3, 0, -2}, 2.0, {0, 0, 1}, false, false), 0);
    const XPnt3d mid = m_tb->projectToScreen({0, 0, -2});
    EXPECT_TRUE(isColour(int(mid.x), int(mid.y), 0, 0, 1));

    EXPECT_TRUE(State::now() == before) << "the markers put back what they changed";
    glMatrixMode(GL_MODELVIEW);
    glDisable(GL_LIGHTING);

    // Hidden behind nearer geometry unless drawn on top.
    quad(-5.0, -10.0, 10.0, 1, 1, 0);
    symbol->drawPoint({0, 0, 0}, 10 * px, 1.0, {1, 0, 0}, false, true);
    EXPECT_TRUE(isColour(128, 128, 1, 1, 0));
    symbol->drawPoint({0, 0, 0}, 10 * px, 1.0, {1, 0, 0}, true, true);
    EXPECT_TRUE(isColour(128, 128, 1, 0, 0));
    // A dashed line leaves gaps that a solid one fills.
    auto count = [&](float b) {
        int n = 0;
        for (int x = 20; x < 236; ++x) n += isColour(x, 60, 0, 0, b);
        return n;
    };
    const XPnt3d from = m_tb->unproject(10, 60.5, 0.2), to = m_tb->unproject(246, 60.5, 0.2);
    symbol->drawLine(from, to, 1.0, {0, 0, 1}, true, false);
    const int solid = count(1);
    symbol->drawLine(from, to, 1.0, {0, 0, 0.5f}, true, true);
    const int dashed = count(0.5f);
    EXPECT_EQ(solid, 216);
    EXPECT_GT(dashed, 50);
    EXPECT_LT(dashed, 170);
    EXPECT_EQ(symbol->drawPoint({0, 0, 0}, -1, 1, {1, 0, 0}, true, true), -1);
    EXPECT_EQ(zim::getPubSymbol().get(), zim::getPubSymbol().get());
}

TEST_F(GlDisplay, ToolDrawLoadsTheSceneAndRestoresEverything)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslated(1, 2, 3);
    glMatrixMode(GL_TEXTURE);
    glDisable(GL_DEPTH_TEST);
    glLineWidth(2.0f);
    glViewport(5, 5, 10, 10);
    const State before = State::now();

    ASSERT_EQ(m_display->beginToolDraw(), 0);
    EXPECT_EQ(m_display->beginToolDraw(), -1);
    const State inside = State::now();
    double mine[16];
    m_tb->getModelViewMatrix(mine);
    expectMatrixNear(inside.matrices[0], mine);
    EXPECT_EQ(inside.viewport[2], kSize);
    glEnable(GL_DEPTH_TEST);
    glLineWidth(5.0f);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    ASSERT_EQ(m_display->endToolDraw(), 0);
    EXPECT_EQ(m_display->endToolDraw(), -1);

    EXPECT_TRUE(State::now() == before);
    glMatrixMode(GL_MODELVIEW);
}

TEST_F(GlDisplay, WorldTextWritesLabelsOnlyForVisiblePoints)
{
    auto labelPixels = [&](const XPnt3d& p, bool onSurface) {
        m_display->beginDraw(0);
        if (onSurface) {  // a surface through the point, turned a little towards the eye on the label's side
            glColor3f(1, 1, 1);
            glBegin(GL_QUADS);
            glVertex3d(-10, 0.1, -10), glVertex3d(10, -0.1, -10), glVertex3d(10, -0.1, 10), glVertex3d(-10, 0.1, 10);
            glEnd();
        }
        glColor3f(1, 1, 0);
        m_tb->drawWorldText(p.x, p.y, p.z, "%d", 88);
        int n = 0;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) n += isColour(x, y, 1, 1, 0);
        m_display->endDraw();
        return n;
    };
    const int visible = labelPixels({0, 0, 0}, false);
    EXPECT_GT(visible, 20);  // two glyphs of 5 x 7
    EXPECT_LT(visible, 70);
    EXPECT_EQ(labelPixels({0, 0, 0}, true), visible) << "the surface the point lies on hides no part of the label";
    EXPECT_EQ(labelPixels({0, -20, 0}, false), 0) << "behind the eye";
    EXPECT_EQ(labelPixels(m_tb->unproject(-3, 128, m_tb->projectToScreen({0, 0, 0}).z), false), 0)
        << "outside the view";
}

TEST_F(GlDisplay, MakeDisplayCurrentReturnsToTheAttachedContext)
{
    const GLXContext mine = glXGetCurrentContext();
    const GLXDrawable myDrawable = glXGetCurrentDrawable();
    auto other = std::make_unique<QOpenGLContext>();
    other->setFormat(m_context->format());
    ASSERT_TRUE(other->create());
    QOffscreenSurface otherSurface;
    otherSurface.setFormat(other->format());
    otherSurface.create();
    ASSERT_TRUE(other->makeCurrent(&otherSurface));
    ASSERT_NE(glXGetCurrentContext(), mine);
    ref_ptr<IZimDisplay> onOther = zim::newScreenDisplay();
    ASSERT_EQ(onOther->attachContext(nullptr, nullptr), 0);
    // Attached by handle while another context is current: Qt does not own it as far as the
    // display can tell, so it is made current with GLX directly.
    ref_ptr<IZimDisplay> byHandle = zim::newScreenDisplay();
    ASSERT_EQ(byHandle->attachContext(reinterpret_cast<void*>(std::uintptr_t(myDrawable)), mine), 0);

    ASSERT_EQ(m_display->makeDisplayCurrent(), 0);
    EXPECT_EQ(glXGetCurrentContext(), mine);
    EXPECT_EQ(QOpenGLContext::currentContext(), m_context.get());
    ASSERT_EQ(onOther->makeDisplayCurrent(), 0);
    EXPECT_EQ(QOpenGLContext::currentContext(), other.get());
    ASSERT_EQ(byHandle->makeDisplayCurrent(), 0);
    EXPECT_EQ(glXGetCurrentContext(), mine);
    EXPECT_EQ(QOpenGLContext::currentContext(), nullptr) << "Qt must not go on believing its other context is current";

    other.reset();  // its display has nothing left to draw into
    EXPECT_EQ(onOther->makeDisplayCurrent(), -1);
    EXPECT_EQ(onOther->beginDraw(0), -1);

    m_context->doneCurrent();
    ref_ptr<IZimDisplay> unattached = zim::newScreenDisplay();
    EXPECT_EQ(unattached->attachContext(nullptr, nullptr), -1);
    EXPECT_EQ(unattached->beginDraw(0), -1);
    EXPECT_EQ(unattached->makeDisplayCurrent(), -1);
}
