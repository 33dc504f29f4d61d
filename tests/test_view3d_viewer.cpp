// The 3D viewer on screen (Xvfb, Mesa) with a real project: the textured mesh read back at its
// pixels, the photo overlay's blend, the draw order of layers, camera input, tool dispatch, the
// centre pick, the plug-in menu and bad scenes.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "COrv3DViewer.h"
#include "CaptureLayer.h"
#include "IOrvDrawLayer.h"
#include "IOrvImageViewer.h"
#include "IOrvMainFrame.h"
#include "OrvUIElements64t.h"

using namespace orvUI;

namespace {

using Log = std::vector<std::string>;

class RecordingTool : public IZimTool {
public:
    explicit RecordingTool(Log* log) : m_log(log) {}
    int beginTool() override { return 0; }
    int endTool() override { return 0; }
    bool isDrawSuppressed() override { return true; }
    int drawTool(int) override { return 0; }
    int onMouseDoubleClick(int v, ZimKey f, int x, int y) override { return event("double", v, f, x, y); }
    int onMousePress(int v, ZimKey f, int x, int y) override { return event("press", v, f, x, y); }
    int onMouseRelease(int v, ZimKey f, int x, int y) override { return event("release", v, f, x, y); }
    int onMouseMove(int v, ZimKey f, int x, int y) override { return event("move", v, f, x, y); }
    int onWheel(int v, ZimKey f, short, int x, int y) override { return event("wheel", v, f, x, y); }
    int onRightClick(int v, ZimKey f, int x, int y) override { return event("right", v, f, x, y); }
    int onKeyPress(int v, int key, int count, ZimKey f) override
    {
        return add("key " + std::to_string(v) + " " + std::to_string(key) + " " + std::to_string(count) + " " +
                   std::to_string(unsigned(f)));
    }
    int onKeyRelease(int, int key, int, ZimKey) override { return add("keyup " + std::to_string(key)); }
    int setActiveView(int view) override { return add("view " + std::to_string(view)); }
    int notifyTool() override { return 0; }

private:
    int add(const std::string& s)
    {
        m_log->push_back(s);
        return 0;
    }
    int event(const char* name, int v, ZimKey f, int x, int y)
    {
        return add(std::string(name) + " " + std::to_string(v) + " " + std::to_string(unsigned(f)) + " " +
                   std::to_string(x) + " " + std::to_string(y));
    }
    Log* m_log;
};

// Fills the view with one colour, drawn in screen space over everything.
class FillLayer : public IOrvDrawLayer {
public:
    FillLayer(float r, float g, float b) : m_r(r), m_g(g), m_b(b) {}
    int drawLayer(int view, ref_ptr<IZimDisplay>) override
    {
        views.push_back(view);
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_BLEND);
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glLoadIdentity();
        glColor3f(m_r, m_g, m_b);
        glBegin(GL_QUADS);
        glVertex2f(-1, -1);
        glVertex2f(1, -1);
        glVertex2f(1, 1);
        glVertex2f(-1, 1);
        glEnd();
        glPopMatrix();
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        glPopAttrib();
        return 0;
    }
    std::vector<int> views;

private:
    float m_r, m_g, m_b;
};

bool near(const QColor& c, int r, int g, int b, int tolerance = 12)
{
    return std::abs(c.red() - r) <= tolerance && std::abs(c.green() - g) <= tolerance &&
           std::abs(c.blue() - b) <= tolerance;
}

std::string text(const QColor& c)
{
    return std::to_string(c.red()) + "," + std::to_string(c.green()) + "," + std::to_string(c.blue());
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class Viewer3D : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        const QString d = m_dir.path();
        // A 10 x 10 quad at z = 0 with a texture of four colour quadrants: red lower left,
        // green lower right, blue upper left, white upper right.
        QImage texture(64, 64, QImage::Format_RGB888);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const bool right = x >= 32, top = y < 32;  // QImage rows run top-down
                texture.setPixelColor(x, y, top ? (right ? Qt::white : Qt::blue) : (right ? Qt::green : Qt::red));
            }
        ASSERT_TRUE(texture.save(d + "/tex.png"));
        writeFile(d + "/quad.mtl", "newmtl m\nmap_Kd tex.png\n");
        writeFile(d + "/quad.obj",
                  "mtllib quad.mtl\nv 0 0 0\nv 10 0 0\nv 10 10 0\nv 0 10 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                  "usemtl m\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n");
        QImage photo(400, 300, QImage::Format_RGB888);
        photo.fill(QColor(0, 0, 255));
        ASSERT_TRUE(photo.save(d + "/photo.png"));
        m_mm = zim::getMM();
        ASSERT_EQ(m_mm->createProject(d + "/p.orvproj"), 0) << qPrintable(m_mm->lastError());
        ASSERT_EQ(m_mm->addImage(d + "/photo.png", d + "/quad.obj", "quad"), 0) << qPrintable(m_mm->lastError());

        m_viewer = std::make_unique<COrv3DViewer>();
        m_viewer->resize(300, 500);
        m_viewer->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_viewer.get()));
        m_ball = m_viewer->getDisplay()->getTrackBall();
        ASSERT_EQ(m_ball->setLookAt({5, 5, 30}, {5, 5, 0}, {0, 1, 0}), 0);
        m_ball->setNearDistance(1);
        m_ball->setFarDistance(100);
        m_viewer->addDrawLayer(m_capture);
    }
    void TearDown() override
    {
        if (ref_ptr<IOrvViewerMan> vm = getVM()) vm->setCurTool(nullptr);
        m_viewer.reset();
        if (m_mm) m_mm->closeProject();
    }
    QPoint screenOf(const XPnt3d& world) const
    {
        const XPnt3d s = m_ball->projectToScreen(world);
        return QPoint(int(std::lround(s.x)), int(std::lround(s.y)));
    }
    QColor pixelOf(const XPnt3d& world)
    {
        EXPECT_EQ(m_viewer->drawScene(false), 0);
        const QPoint p = screenOf(world);
        return m_capture->at(p.x(), p.y());
    }
    // A menu with one command, as the host builds it.
    void fillMenu()
    {
        _ActionItemInfo_ info;
        info.text = "Fit";
        info.name = "fitAction";
        _CommonItemInfo_ groupInfo;
        groupInfo.name = "View";
        ref_ptr<IOrvCommonItem> group = newCommonItem(groupInfo, {newActionItem(info, 0)});
        ASSERT_EQ(m_viewer->buildPluginMenu(group, group), 0);
    }
    // The context-menu request a mouse makes at a widget position (y down).
    void contextMenuRequest(const QPoint& pos)
    {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, m_viewer->mapToGlobal(pos));
        QApplication::sendEvent(m_viewer.get(), &event);
    }
    // Whether a popup menu is open now; closes it.
    static bool takePopup()
    {
        QWidget* popup = QApplication::activePopupWidget();
        if (popup) popup->close();
        return popup != nullptr;
    }
    void sendWheel(const QPoint& pos, const QPoint& angleDelta, Qt::KeyboardModifiers modifiers)
    {
        QWheelEvent event(QPointF(pos), QPointF(m_viewer->mapToGlobal(pos)), QPoint(), angleDelta, Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_viewer.get(), &event);
    }
    // Sends a mouse event at a widget position (y down).
    void mouse(QEvent::Type type, const QPoint& pos, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, QPointF(pos), m_viewer->mapToGlobal(pos), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(m_viewer.get(), &event);
    }

    QTemporaryDir m_dir;
    ref_ptr<IZimMM> m_mm;
    std::unique_ptr<COrv3DViewer> m_viewer;
    ref_ptr<IZimTrackBall> m_ball;
    ref_ptr<CaptureLayer> m_capture{new CaptureLayer()};
};

}  // namespace

TEST_F(Viewer3D, TexturedMeshIsReadBackAtItsPixels)
{
    ASSERT_EQ(m_viewer->drawScene(false), 0);
    const QColor background = m_capture->at(2, 2);
    EXPECT_TRUE(near(background, 89, 86, 85, 3)) << text(background);
    EXPECT_TRUE(near(pixelOf({2.5, 2.5, 0}), 255, 0, 0)) << text(pixelOf({2.5, 2.5, 0}));
    EXPECT_TRUE(near(pixelOf({7.5, 2.5, 0}), 0, 255, 0)) << text(pixelOf({7.5, 2.5, 0}));
    EXPECT_TRUE(near(pixelOf({2.5, 7.5, 0}), 0, 0, 255)) << text(pixelOf({2.5, 7.5, 0}));
    EXPECT_TRUE(near(pixelOf({7.5, 7.5, 0}), 255, 255, 255)) << text(pixelOf({7.5, 7.5, 0}));
    EXPECT_EQ(m_capture->width, m_viewer->viewWidth());
}

TEST_F(Viewer3D, PhotoOverlayBlendsAtTheChosenOpacity)
{
    ASSERT_EQ(m_mm->setCurrentImageIndex(0), 0);
    EXPECT_EQ(m_viewer->setOverlayOpacity(1.5f, false), -1);
    EXPECT_EQ(m_viewer->setOverlayOpacity(-0.1f, false), -1);
    EXPECT_FLOAT_EQ(m_viewer->getOverlayOpacity(), 0.6f);
    m_viewer->setShowFrameBorder(false);
    m_viewer->setShowImageOverlay(true);
    const int texture = m_viewer->refreshImageTexture();
    EXPECT_GT(texture, 0);
    for (float alpha : {0.25f, 0.75f}) {
        ASSERT_EQ(m_viewer->setOverlayOpacity(alpha, false), 0);
        // Over the red quadrant: the blue photo at alpha over red.
        const QColor c = pixelOf({2.5, 2.5, 0});
        EXPECT_TRUE(near(c, int(255 * (1 - alpha)), 0, int(255 * alpha), 4)) << alpha << " " << text(c);
    }
    // The texture is made once per photo, not per frame.
    EXPECT_EQ(m_viewer->refreshImageTexture(), texture);
    // The frame lies in front of the eye, the 3000-pixel side spanning 4.8 units.
    const ImageFrame frame = m_viewer->getImageFrame();
    EXPECT_NEAR(frame[1].dist(frame[2]), 4.8, 1e-5);
    EXPECT_NEAR(frame[1].dist(frame[3]), 6.4, 1e-5);
    EXPECT_EQ(frame[4], m_ball->getEyePoint());
    const double uv[2] = {0.5, 0.5};
    const XPnt3d mid = m_viewer->uvToFramePoint(uv, false);
    const QPoint s = screenOf(mid);
    const XPnt2d back = m_viewer->imagePointToUV(s.x(), s.y());
    EXPECT_NEAR(back.x, 0.5, 0.01);
    EXPECT_NEAR(back.y, 0.5, 0.01);
    EXPECT_GT(m_viewer->frameScreenRatio(), 0.0);

    // Without a current image the last texture and frame stay in use.
    ASSERT_EQ(m_mm->setCurrentImageIndex(-1), 0);
    EXPECT_EQ(m_viewer->refreshImageTexture(), -1);
    EXPECT_EQ(m_viewer->updateImageFrame(), 1);
    const QColor c = pixelOf({2.5, 2.5, 0});
    EXPECT_TRUE(near(c, 64, 0, 191, 4)) << text(c);
}

TEST_F(Viewer3D, DrawLayersComeAfterTheMeshesInOrder)
{
    ref_ptr<FillLayer> fill(new FillLayer(1.0f, 0.0f, 1.0f));
    m_viewer->clearDrawLayers();
    EXPECT_EQ(m_viewer->addDrawLayer(fill), 1);
    EXPECT_EQ(m_viewer->addDrawLayer(fill), 1);
    EXPECT_EQ(m_viewer->addDrawLayer(m_capture), 2);
    const QColor c = pixelOf({2.5, 2.5, 0});
    EXPECT_TRUE(near(c, 255, 0, 255, 2)) << text(c);
    ASSERT_FALSE(fill->views.empty());
    EXPECT_EQ(fill->views.back(), 0);
    // Layers registered with the viewer manager are drawn too, after the viewer's own.
    ref_ptr<IOrvViewerMan> vm = getVM();
    ref_ptr<FillLayer> managed(new FillLayer(0.0f, 1.0f, 1.0f));
    const int id = vm->addObject(managed);
    ASSERT_GE(id, 0);
    EXPECT_EQ(m_viewer->removeDrawLayer(fill), 1);
    m_viewer->drawScene(false);
    EXPECT_FALSE(managed->views.empty());
    vm->removeObjectById(id);
}

TEST_F(Viewer3D, RightDragOrbitsTheEyeAboutAFixedCentre)
{
    m_viewer->drawScene(false);
    ASSERT_EQ(m_mm->setModified(false), 0);  // the project as it is counts as saved
    fillMenu();
    const XPnt3d eye = m_ball->getEyePoint(), centre = m_ball->getCenterPoint();
    // As X11 delivers it: the press, at once the context-menu request, the moves, the release.
    mouse(QEvent::MouseButtonPress, {150, 250}, Qt::RightButton, Qt::RightButton);
    contextMenuRequest({150, 250});
    EXPECT_FALSE(takePopup()) << "no menu in the middle of a press";
    EXPECT_EQ(m_ball->dragMode(), int(ZimDragOrbit));
    EXPECT_EQ(m_viewer->cursor().shape(), Qt::ClosedHandCursor);
    for (int x = 160; x <= 200; x += 10) mouse(QEvent::MouseMove, {x, 240}, Qt::NoButton, Qt::RightButton);
    EXPECT_GT(m_ball->getEyePoint().dist(eye), 0.1) << "the view follows the drag";
    mouse(QEvent::MouseButtonRelease, {200, 240}, Qt::RightButton, Qt::NoButton);
    EXPECT_FALSE(takePopup()) << "a drag opens no menu";
    EXPECT_EQ(m_ball->dragMode(), int(ZimDragNone));
    EXPECT_GT(m_ball->getEyePoint().dist(eye), 0.1);
    EXPECT_NEAR(m_ball->getCenterPoint().dist(centre), 0.0, 1e-9);
    EXPECT_NEAR(m_ball->getEyePoint().dist(centre), eye.dist(centre), 1e-6);
    // The viewer only tells the model; the camera is the host's to store, so the project's data
    // is unchanged by the drag.
    EXPECT_FALSE(m_mm->isModified());

    // The view answers the wheel straight after.
    const double distance = m_ball->getEyePoint().dist(m_ball->getCenterPoint());
    sendWheel({150, 250}, QPoint(0, 120), Qt::NoModifier);
    EXPECT_LT(m_ball->getEyePoint().dist(m_ball->getCenterPoint()), distance);

    // A middle drag pans: eye and centre move together.
    mouse(QEvent::MouseButtonPress, {150, 250}, Qt::MiddleButton, Qt::MiddleButton);
    EXPECT_EQ(m_viewer->cursor().shape(), Qt::SizeAllCursor);
    mouse(QEvent::MouseMove, {170, 250}, Qt::NoButton, Qt::MiddleButton);
    mouse(QEvent::MouseButtonRelease, {170, 250}, Qt::MiddleButton, Qt::NoButton);
    EXPECT_GT(m_ball->getCenterPoint().dist(centre), 0.01);
}

TEST_F(Viewer3D, RightClickOpensTheMenuAtTheRelease)
{
    m_viewer->drawScene(false);
    const XPnt3d eye = m_ball->getEyePoint();
    // Without a command in it the menu never opens.
    mouse(QEvent::MouseButtonPress, {150, 250}, Qt::RightButton, Qt::RightButton);
    contextMenuRequest({150, 250});
    mouse(QEvent::MouseButtonRelease, {150, 250}, Qt::RightButton, Qt::NoButton);
    EXPECT_FALSE(takePopup());

    fillMenu();
    mouse(QEvent::MouseButtonPress, {150, 250}, Qt::RightButton, Qt::RightButton);
    contextMenuRequest({150, 250});
    EXPECT_FALSE(takePopup());
    // A pixel of shake on the way is still a click, and does not turn the camera.
    mouse(QEvent::MouseMove, {151, 251}, Qt::NoButton, Qt::RightButton);
    mouse(QEvent::MouseButtonRelease, {151, 251}, Qt::RightButton, Qt::NoButton);
    EXPECT_TRUE(takePopup());
    EXPECT_EQ(m_ball->getEyePoint(), eye);
    EXPECT_EQ(m_ball->dragMode(), int(ZimDragNone));

    // Where the request comes after the release it opens the menu then.
    mouse(QEvent::MouseButtonPress, {150, 250}, Qt::RightButton, Qt::RightButton);
    mouse(QEvent::MouseButtonRelease, {150, 250}, Qt::RightButton, Qt::NoButton);
    EXPECT_FALSE(takePopup());
    contextMenuRequest({150, 250});
    EXPECT_TRUE(takePopup());
    EXPECT_EQ(m_ball->getEyePoint(), eye);
}

TEST_F(Viewer3D, WheelNotchKeepsThePointUnderTheCursor)
{
    m_viewer->drawScene(false);
    const QPoint widgetPos(80, 150);
    const int glX = widgetPos.x(), glY = m_viewer->height() - widgetPos.y();
    const double depth = m_ball->projectToScreen(m_ball->getCenterPoint()).z;
    const XPnt3d under = m_ball->unproject(glX, glY, depth);
    const double distance = m_ball->getEyePoint().dist(m_ball->getCenterPoint());
    QWheelEvent wheel(QPointF(widgetPos), QPointF(m_viewer->mapToGlobal(widgetPos)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_viewer.get(), &wheel);
    EXPECT_LT(m_ball->getEyePoint().dist(m_ball->getCenterPoint()), distance) << "a notch forward zooms in";
    const XPnt3d after = m_ball->projectToScreen(under);
    EXPECT_NEAR(after.x, glX, 1.0);
    EXPECT_NEAR(after.y, glY, 1.0);

    // With Alt held X11 reports the wheel as horizontal: it zooms just the same, both ways.
    const double before = m_ball->getEyePoint().dist(m_ball->getCenterPoint());
    sendWheel(widgetPos, QPoint(120, 0), Qt::AltModifier);
    const double closer = m_ball->getEyePoint().dist(m_ball->getCenterPoint());
    EXPECT_LT(closer, before * 0.95);
    sendWheel(widgetPos, QPoint(-120, 0), Qt::AltModifier);
    EXPECT_NEAR(m_ball->getEyePoint().dist(m_ball->getCenterPoint()), before, 1e-6 * before);
}

TEST_F(Viewer3D, OtherInputReachesTheToolWithYFromTheBottom)
{
    Log log;
    ref_ptr<RecordingTool> tool(new RecordingTool(&log));
    ref_ptr<IOrvViewerMan> vm = getVM();
    ASSERT_EQ(vm->setCurTool(tool), 0);
    const int h = m_viewer->height();
    mouse(QEvent::MouseButtonPress, {10, 20}, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseMove, {12, 25}, Qt::NoButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {12, 25}, Qt::LeftButton, Qt::NoButton);
    mouse(QEvent::MouseButtonPress, {30, 40}, Qt::RightButton, Qt::RightButton);
    mouse(QEvent::MouseButtonRelease, {30, 40}, Qt::RightButton, Qt::NoButton);
    const std::string y20 = std::to_string(h - 20), y25 = std::to_string(h - 25), y40 = std::to_string(h - 40);
    const Log expected = {"view 0", "press 0 0 10 " + y20,   "view 0", "move 0 1 12 " + y25,
                          "view 0", "release 0 0 12 " + y25, "view 0", "right 0 0 30 " + y40};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(m_viewer->getCursorPos(), QPoint(12, h - 25));

    log.clear();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_K, Qt::NoModifier, "k", false, 1);
    QApplication::sendEvent(m_viewer.get(), &press);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_K, Qt::NoModifier, "k", true, 1);
    QApplication::sendEvent(m_viewer.get(), &repeat);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_K, Qt::NoModifier, "k", false, 1);
    QApplication::sendEvent(m_viewer.get(), &release);
    EXPECT_EQ(log, (Log{"view 0", "key 0 " + std::to_string(Qt::Key_K) + " 1 0", "view 0",
                        "keyup " + std::to_string(Qt::Key_K)}));

    // A pending centre pick takes the next left press (cross cursor) and only the one after
    // reaches the tool.
    log.clear();
    EXPECT_EQ(m_viewer->requestCenterPick()->pickRequest, 1);
    EXPECT_EQ(m_viewer->cursor().shape(), Qt::CrossCursor);
    const QPoint centre(150, 250);
    mouse(QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(getGlobeViewState()->pickRequest, 0);
    EXPECT_TRUE(log.empty());
    mouse(QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
    mouse(QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3], "press 0 0 150 " + std::to_string(h - 250));
}

TEST_F(Viewer3D, KeyActionsAndPluginMenu)
{
    static int plain = 0, ctrl = 0, plugin = 0;
    static QString pluginName;
    plain = ctrl = plugin = 0;
    m_viewer->setKeyAction(Qt::Key_2, [] { ++plain; });
    m_viewer->setCtrlKeyAction(Qt::Key_R, [] { ++ctrl; });
    QTest::keyClick(m_viewer.get(), Qt::Key_2);
    QTest::keyClick(m_viewer.get(), Qt::Key_R);  // R needs Control
    EXPECT_EQ(plain, 1);
    EXPECT_EQ(ctrl, 0);

    _ActionItemInfo_ leaf;
    leaf.text = "Leaf";
    leaf.name = "leafAction";
    leaf.userData = reinterpret_cast<quint64>(+[](const QString& name, bool) {
        ++plugin;
        pluginName = name;
    });
    _ActionItemInfo_ sep;
    sep.flags = 4;
    ref_ptr<IOrvActionItem> child = newActionItem(leaf, 0);
    ref_ptr<IOrvActionItem> separator = newActionItem(sep, 1);
    _CommonItemInfo_ groupInfo;
    groupInfo.name = "Group";
    ref_ptr<IOrvCommonItem> group = newCommonItem(groupInfo, {child, separator});
    EXPECT_EQ(m_viewer->buildPluginMenu(nullptr, group), -1);
    EXPECT_TRUE(m_viewer->pluginMenu()->actions().isEmpty());
    ASSERT_EQ(m_viewer->buildPluginMenu(group, group), 0);
    const QList<QAction*> actions = m_viewer->pluginMenu()->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->text(), "Leaf");
    EXPECT_TRUE(actions[1]->isSeparator());
    actions[0]->trigger();
    EXPECT_EQ(plugin, 1);
    EXPECT_EQ(pluginName, "leafAction");
}

TEST_F(Viewer3D, BadScenesKeepTheViewUsable)
{
    EXPECT_EQ(m_viewer->setViewOptics(0.0f, 1.0f, 0.6f), -1);
    EXPECT_EQ(m_viewer->setViewOptics(27.0f, 0.0f, 0.6f), -1);
    EXPECT_EQ(m_viewer->getCamera().fov, 27.0);
    // Changing only the angle moves the camera along the view line.
    const XPnt3d eye = m_ball->getEyePoint();
    EXPECT_EQ(m_viewer->setViewOptics(40.0f, 1.0f, 0.6f), 0);
    EXPECT_LT(m_ball->getEyePoint().dist(m_ball->getCenterPoint()), eye.dist(m_ball->getCenterPoint()));
    EXPECT_NEAR(m_ball->getFieldOfView(), 40.0, 1e-6);
    const XPnt3d moved = m_ball->getEyePoint();
    EXPECT_EQ(m_viewer->setViewOptics(40.0f, 2.0f, 0.6f), 0);
    EXPECT_EQ(m_ball->getEyePoint(), moved);
    EXPECT_NEAR(m_ball->getFieldOfView(), 20.0, 1e-6);

    // A mesh of zero-area triangles at one point: a degenerate box still gives a finite camera.
    const QString d = m_dir.path();
    writeFile(d + "/point.obj", "v 3 3 3\nv 3 3 3\nv 3 3 3\nf 1 2 3\n");
    writeFile(d + "/photo2.png", QByteArray());
    QImage(8, 8, QImage::Format_RGB888).save(d + "/photo2.png");
    m_mm->closeProject();
    ASSERT_EQ(m_mm->createProject(d + "/q.orvproj"), 0);
    ASSERT_GE(m_mm->addImage(d + "/photo2.png", d + "/point.obj", "point"), 0) << qPrintable(m_mm->lastError());
    EXPECT_EQ(m_viewer->viewAllMeshes(), 0);
    EXPECT_TRUE(m_ball->getEyePoint().isValid());
    EXPECT_TRUE(m_ball->getCenterPoint().isValid());
    EXPECT_EQ(m_viewer->drawScene(false), 0);
    // The photo frame follows the new camera: the photo's middle lies on the line of sight at
    // the frame's distance for the angle in use, and the scaled point at 0.9 of it.
    ASSERT_EQ(m_mm->setCurrentImageIndex(0), 0);
    ASSERT_EQ(m_viewer->updateImageFrame(), 0);
    const XPnt3d eyeNow = m_ball->getEyePoint();
    XPnt3d sight = m_ball->getCenterPoint() - eyeNow;
    sight.normalize();
    const double frameDistance = 2.4 / std::tan(m_viewer->getCamera().fov * 3.14159265358979323846 / 360.0);
    const double uv[2] = {0.5, 0.5};
    EXPECT_NEAR(m_viewer->uvToFramePoint(uv, false).dist(eyeNow + sight * frameDistance), 0.0, 1e-5);
    EXPECT_NEAR(m_viewer->uvToFramePoint(uv, true).dist(eyeNow + sight * (0.9 * frameDistance)), 0.0, 1e-5);

    // No project: nothing to fit, the scene draws only the background.
    m_mm->closeProject();
    EXPECT_EQ(m_viewer->viewAllMeshes(), -1);
    const int frames = m_capture->frames;
    EXPECT_EQ(m_viewer->drawScene(false), 0);
    EXPECT_EQ(m_capture->frames, frames);
    EXPECT_EQ(m_viewer->screenPixelsPerImagePixel(2), 0.0);
}

TEST_F(Viewer3D, StoredCameraComesBackAsItWasTaken)
{
    ViewCamera stored;
    stored.eye = {-4, -12, 9};
    stored.center = {5, 5, 0};
    stored.up = {0, 0.3, 1};
    stored.fov = 35.0;
    stored.zoom = 1.5;
    stored.opacity = 0.3;
    ASSERT_EQ(m_viewer->setCamera(stored), 0);
    const ViewCamera got = m_viewer->getCamera();
    EXPECT_NEAR(got.eye.dist(stored.eye), 0.0, 1e-9);
    EXPECT_NEAR(got.center.dist(stored.center), 0.0, 1e-9);
    EXPECT_NEAR(got.up.length(), 1.0, 1e-9);
    EXPECT_NEAR(got.up.dot(got.center - got.eye), 0.0, 1e-9) << "up is made square to the line of sight";
    EXPECT_GT(got.up.dot(stored.up), 0.9);
    EXPECT_EQ(got.fov, 35.0);
    EXPECT_EQ(got.zoom, 1.5);
    EXPECT_FLOAT_EQ(float(got.opacity), 0.3f);
    EXPECT_FLOAT_EQ(m_viewer->getOverlayOpacity(), 0.3f);
    // The whole quad lies between the near and far planes from there, and is drawn.
    EXPECT_TRUE(near(pixelOf({2.5, 2.5, 0}), 255, 0, 0)) << text(pixelOf({2.5, 2.5, 0}));
    EXPECT_TRUE(near(pixelOf({7.5, 7.5, 0}), 255, 255, 255)) << text(pixelOf({7.5, 7.5, 0}));

    // What getCamera gives, setCamera takes back unchanged.
    ASSERT_EQ(m_viewer->setCamera(got), 0);
    const ViewCamera again = m_viewer->getCamera();
    EXPECT_NEAR(again.eye.dist(got.eye), 0.0, 1e-9);
    EXPECT_NEAR(again.center.dist(got.center), 0.0, 1e-9);
    EXPECT_NEAR(again.up.dist(got.up), 0.0, 1e-9);
    EXPECT_EQ(again.fov, got.fov);
    EXPECT_EQ(again.zoom, got.zoom);
    EXPECT_EQ(again.opacity, got.opacity);

    // A broken record changes nothing.
    ViewCamera bad = got;
    bad.up = got.center - got.eye;
    EXPECT_EQ(m_viewer->setCamera(bad), -1);
    bad = got;
    bad.zoom = 0.0;
    EXPECT_EQ(m_viewer->setCamera(bad), -1);
    bad = got;
    bad.eye = got.center;
    EXPECT_EQ(m_viewer->setCamera(bad), -1);
    const ViewCamera after = m_viewer->getCamera();
    EXPECT_EQ(after.eye, again.eye);
    EXPECT_EQ(after.zoom, again.zoom);
}

TEST_F(Viewer3D, ImageIndexAtGivesTheMeshDrawnAtThePixel)
{
    // A second mesh, image 1, floating above the middle of the first.
    const QString d = m_dir.path();
    writeFile(d + "/top.obj", "v 4 4 2\nv 6 4 2\nv 6 6 2\nv 4 6 2\nf 1 2 3\nf 1 3 4\n");
    QImage(8, 8, QImage::Format_RGB888).save(d + "/photo2.png");
    ASSERT_EQ(m_mm->addImage(d + "/photo2.png", d + "/top.obj", "top"), 1) << qPrintable(m_mm->lastError());
    ASSERT_EQ(m_viewer->drawScene(false), 0);
    const QColor background = m_capture->at(2, 2);

    // Checked against what was drawn: every pixel of the textured quad is image 0 or 1 (1 in the
    // middle, where the upper quad hides it), every background pixel is -1.
    int zeros = 0, ones = 0;
    for (int y = 5; y < m_viewer->height(); y += 10)
        for (int x = 5; x < m_viewer->width(); x += 10) {
            const int index = m_viewer->imageIndexAt(x, y);
            const bool isBackground =
                near(m_capture->at(x, y), background.red(), background.green(), background.blue(), 3);
            // Pixels on a mesh's edge may go either way.
            const XPnt3d w = m_ball->unproject(x + 0.5, y + 0.5, m_ball->projectToScreen({5, 5, 0}).z);
            const bool onEdge =
                std::fabs(w.x) < 0.2 || std::fabs(w.x - 10) < 0.2 || std::fabs(w.y) < 0.2 || std::fabs(w.y - 10) < 0.2;
            if (onEdge) continue;
            if (isBackground) {
                EXPECT_EQ(index, -1) << x << "," << y;
            } else {
                EXPECT_GE(index, 0) << x << "," << y;
            }
            zeros += index == 0;
            ones += index == 1;
        }
    EXPECT_GT(zeros, 50);
    EXPECT_GT(ones, 4);
    const QPoint middle = screenOf({5, 5, 2});
    EXPECT_EQ(m_viewer->imageIndexAt(middle.x(), middle.y()), 1);
    const QPoint lowerLeft = screenOf({2, 2, 0});
    EXPECT_EQ(m_viewer->imageIndexAt(lowerLeft.x(), lowerLeft.y()), 0);

    // Outside the view there is nothing.
    EXPECT_EQ(m_viewer->imageIndexAt(-1, middle.y()), -1);
    EXPECT_EQ(m_viewer->imageIndexAt(m_viewer->width(), middle.y()), -1);

    // From below the lower quad is in front; the camera of the moment counts.
    ASSERT_EQ(m_ball->setLookAt({5, 5, -30}, {5, 5, 0}, {0, 1, 0}), 0);
    const QPoint under = screenOf({5, 5, 0});
    EXPECT_EQ(m_viewer->imageIndexAt(under.x(), under.y()), 0);

    // A sleeping mesh is not drawn and not picked.
    ASSERT_EQ(m_ball->setLookAt({5, 5, 30}, {5, 5, 0}, {0, 1, 0}), 0);
    ref_ptr<IZimMesh> top;
    ASSERT_EQ(m_mm->getMeshAt(top, 1), 0);
    ASSERT_EQ(m_mm->sleepMesh(top, nullptr), 0);
    EXPECT_EQ(m_viewer->imageIndexAt(middle.x(), middle.y()), 0);

    m_mm->closeProject();
    EXPECT_EQ(m_viewer->imageIndexAt(middle.x(), middle.y()), -1);
}

TEST_F(Viewer3D, HomeViewLooksDownFromTheSouthOnEveryMesh)
{
    // Before anyone sets a camera, a viewer looks the home view's way: a fit shows the quad
    // from above, not edge-on.
    COrv3DViewer fresh;
    const ref_ptr<IZimTrackBall> freshBall = fresh.getDisplay()->getTrackBall();
    const XPnt3d freshDir = freshBall->getCenterPoint() - freshBall->getEyePoint();
    EXPECT_LT(freshDir.z, -0.5 * freshDir.length());
    EXPECT_GT(freshDir.y, 0.5 * freshDir.length());

    ASSERT_EQ(m_viewer->viewHome(), 0);
    const XPnt3d eye = m_ball->getEyePoint(), centre = m_ball->getCenterPoint();
    XPnt3d dir = centre - eye;
    dir.normalize();
    EXPECT_NEAR(std::asin(-dir.z) * 180.0 / 3.14159265358979323846, 45.0, 1.0);
    EXPECT_GT(dir.y, 0.5);
    EXPECT_NEAR(dir.x, 0.0, 1e-9);
    EXPECT_GT(m_ball->getUpVector().z, 0.5) << "z up on screen";
    EXPECT_NEAR(centre.dist({5, 5, 0}), 0.0, 1e-9);
    for (const XPnt3d& corner : {XPnt3d(0, 0, 0), XPnt3d(10, 0, 0), XPnt3d(10, 10, 0), XPnt3d(0, 10, 0)}) {
        const XPnt3d s = m_ball->projectToScreen(corner);
        EXPECT_GT(s.x, 0.0);
        EXPECT_LT(s.x, m_viewer->width());
        EXPECT_GT(s.y, 0.0);
        EXPECT_LT(s.y, m_viewer->height());
        EXPECT_GT(s.z, 0.0);
        EXPECT_LT(s.z, 1.0);
    }
    // It is drawn: the middle of the view shows the quad.
    EXPECT_EQ(m_viewer->imageIndexAt(m_viewer->width() / 2, m_viewer->height() / 2), 0);
    EXPECT_FALSE(near(pixelOf({5, 5, 0}), 89, 86, 85, 3));

    m_mm->closeProject();
    EXPECT_EQ(m_viewer->viewHome(), -1);
    EXPECT_EQ(m_ball->getEyePoint(), eye);
}

TEST_F(Viewer3D, DoubleClickOpensTheImageThePickGives)
{
    // The callback answers with the mesh under the click, as a host does with imageIndexAt.
    static COrv3DViewer* viewer = nullptr;
    static std::vector<QPoint> asked;
    viewer = m_viewer.get();
    asked.clear();
    m_viewer->setPickCallback([](long long packed, int*, int*, int*) {
        const QPoint p(int(quint32(packed & 0xffffffffLL)), int(quint32(packed >> 32)));
        asked.push_back(p);
        return viewer->imageIndexAt(p.x(), p.y());
    });
    IOrvMainFrame* frame = getVM()->getMainFrame();
    ASSERT_NE(frame, nullptr);
    ASSERT_NE(frame->createImageViewer(1), nullptr);
    IOrvImageViewer* photos = getVM()->getImageViewer();
    ASSERT_NE(photos, nullptr);
    photos->closeImage();
    m_viewer->drawScene(false);

    // Over the background: nothing opens.
    const QPoint corner(3, 3);
    QTest::mouseDClick(m_viewer.get(), Qt::LeftButton, Qt::NoModifier, corner);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], QPoint(3, m_viewer->height() - 3));
    EXPECT_EQ(photos->getImageId().index, -1);

    // Over the quad: image 0, the first of the project, opens.
    const QPoint onQuad = screenOf({5, 5, 0});
    const QPoint widgetPos(onQuad.x(), m_viewer->height() - onQuad.y());
    QTest::mouseDClick(m_viewer.get(), Qt::LeftButton, Qt::NoModifier, widgetPos);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1], onQuad);
    EXPECT_EQ(photos->getImageId().index, 0);
    m_viewer->setPickCallback(nullptr);
    frame->removeImageViewer(1);
}

TEST_F(Viewer3D, PhotoTextureIsMadeOnceTheViewCanTakeIt)
{
    ASSERT_EQ(m_mm->setCurrentImageIndex(0), 0);
    // A view not on screen yet has no context of its own: nothing is uploaded (not into another
    // view's context either), and the photo is not taken as done.
    COrv3DViewer later;
    later.resize(300, 500);
    EXPECT_EQ(later.refreshImageTexture(), 0);
    EXPECT_EQ(later.refreshImageTexture(), 0);
    later.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&later));
    const int texture = later.refreshImageTexture();
    EXPECT_GT(texture, 0);
    EXPECT_EQ(later.refreshImageTexture(), texture);
}

TEST_F(Viewer3D, FirstViewIsTheHomeViewUnlessACameraWasSet)
{
    // Nobody places the camera: the first frame with meshes shows the home view, all fitted.
    COrv3DViewer first;
    first.resize(300, 500);
    first.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&first));
    ASSERT_EQ(first.drawScene(false), 0);
    const ref_ptr<IZimTrackBall> ball = first.getDisplay()->getTrackBall();
    XPnt3d dir = ball->getCenterPoint() - ball->getEyePoint();
    dir.normalize();
    EXPECT_NEAR(dir.dist(XPnt3d(0, std::sqrt(0.5), -std::sqrt(0.5))), 0.0, 1e-9);
    EXPECT_NEAR(ball->getCenterPoint().dist({5, 5, 0}), 0.0, 1e-9);
    for (const XPnt3d& corner : {XPnt3d(0, 0, 0), XPnt3d(10, 10, 0)}) {
        const XPnt3d s = ball->projectToScreen(corner);
        EXPECT_GT(s.x, 0.0);
        EXPECT_LT(s.x, first.width());
        EXPECT_GT(s.y, 0.0);
        EXPECT_LT(s.y, first.height());
    }
    // Later frames leave a moved camera alone.
    ASSERT_EQ(ball->setLookAt({5, 5, 30}, {5, 5, 0}, {0, 1, 0}), 0);
    ASSERT_EQ(first.drawScene(false), 0);
    EXPECT_EQ(ball->getEyePoint(), XPnt3d(5, 5, 30));

    // A camera set before the view is shown stays as it was set.
    COrv3DViewer second;
    second.resize(300, 500);
    ViewCamera stored = m_viewer->getCamera();
    stored.eye = {20, -10, 12};
    stored.center = {5, 5, 0};
    stored.up = {0, 0, 1};
    ASSERT_EQ(second.setCamera(stored), 0);
    const ViewCamera set = second.getCamera();
    second.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
    ASSERT_EQ(second.drawScene(false), 0);
    EXPECT_EQ(second.getCamera().eye, set.eye);
    EXPECT_EQ(second.getCamera().center, set.center);
    EXPECT_EQ(second.getCamera().up, set.up);
}
