// Looking through a photo's camera: the trackball's photo projection without GL (a world point
// seen through the photo's pinhole lands on the viewport pixel where the fitted photo shows it),
// then a real 3D viewer on a generated sample whose rendered silhouette must match the photo's.
#include <IOrv3DViewer.h>
#include <IOrvMainFrame.h>
#include <IOrvViewerMan.h>
#include <OrvKernel64t.h>
#include <OrvUIElements64t.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMouseEvent>
#include <QPointF>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "CaptureLayer.h"
#include "CorePhotoView.h"
#include "HostWindow.h"
#include "SampleGenerator.h"
#include "SampleProject.h"
#include "ZimDisplay64t.h"

namespace {

// A pinhole camera in photo pixels (origin top-left, y down) looking from `eye` at `target`
// with world z up on the photo.
struct Pinhole {
    double fx = 0, fy = 0, cx = 0, cy = 0;
    int width = 0, height = 0;
    XPnt3d eye, right, down, forward;

    Pinhole(double fx_, double fy_, double cx_, double cy_, int w, int h, const XPnt3d& from, const XPnt3d& target)
        : fx(fx_), fy(fy_), cx(cx_), cy(cy_), width(w), height(h), eye(from)
    {
        forward = normalize(target - from);
        right = normalize(forward.cross(XPnt3d(0, 0, 1)));
        down = forward.cross(right);
    }
    // Photo pixel position of a world point and its depth along the optical axis.
    XPnt3d pixel(const XPnt3d& world) const
    {
        const XPnt3d d = world - eye;
        const double z = d.dot(forward);
        return XPnt3d(fx * d.dot(right) / z + cx, fy * d.dot(down) / z + cy, z);
    }
    void apply(const ref_ptr<IZimTrackBall>& ball) const
    {
        ASSERT_EQ(ball->setLookAt(eye, eye + forward * 50.0, -down), 0);
        ASSERT_EQ(ball->setPhotoProjection(fx, fy, cx, cy, width, height), 0);
    }
};

// Where the photo, fitted into a w x h viewport and centred, shows photo pixel position p:
// GL-oriented window coordinates (y up from the bottom edge).
XPnt3d expectedWindow(const Pinhole& cam, int w, int h, const XPnt3d& p)
{
    const double s = std::min(double(w) / cam.width, double(h) / cam.height);
    const double ox = 0.5 * (w - s * cam.width);
    const double oy = 0.5 * (h - s * cam.height);
    return XPnt3d(ox + s * p.x, oy + s * (cam.height - p.y), 0);
}

struct Case {
    int viewW, viewH;
    double fx, fy, cx, cy;
};

// Same aspect as the 800 x 600 photo, wider, taller; principal point centred and well off it;
// square and non-square pixels.
const Case kCases[] = {
    {800, 600, 900, 900, 400, 300},   {800, 600, 900, 900, 470, 250},  {1200, 500, 750, 780, 360, 340},
    {500, 900, 1100, 1050, 430, 270}, {1023, 767, 640, 640, 400, 300}, {640, 640, 700, 720, 330, 360},
};

std::vector<XPnt3d> scenePoints()
{
    std::vector<XPnt3d> points;
    for (double x : {-30.0, 0.0, 25.0})
        for (double y : {-20.0, 5.0, 40.0})
            for (double z : {0.0, 12.0}) points.emplace_back(x, y, z);
    return points;
}

}  // namespace

TEST(PhotoProjection, WorldPointsLandWhereTheFittedPhotoShowsThemAndUnprojectBack)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.viewW << "x" << c.viewH << " pp " << c.cx << "," << c.cy);
        const Pinhole cam(c.fx, c.fy, c.cx, c.cy, 800, 600, XPnt3d(20, -120, 90), XPnt3d(3, 4, 0));
        ref_ptr<IZimTrackBall> ball = zim::newTrackBall();
        ball->setViewport(c.viewW, c.viewH);
        ball->setNearDistance(1.0);
        ball->setFarDistance(1000.0);
        cam.apply(ball);
        ASSERT_TRUE(ball->hasPhotoProjection());
        for (const XPnt3d& world : scenePoints()) {
            const XPnt3d pixel = cam.pixel(world);
            ASSERT_GT(pixel.z, 1.0);
            const XPnt3d want = expectedWindow(cam, c.viewW, c.viewH, pixel);
            const XPnt3d got = ball->projectToScreen(world);
            EXPECT_NEAR(got.x, want.x, 1e-6);
            EXPECT_NEAR(got.y, want.y, 1e-6);
            EXPECT_GT(got.z, 0.0);
            EXPECT_LT(got.z, 1.0);
            const XPnt3d same = ball->projectPoint(world);
            EXPECT_EQ(same.x, got.x);
            const XPnt3d back = ball->unproject(got.x, got.y, got.z);
            EXPECT_NEAR(back.dist(world), 0.0, 1e-6 * world.dist(cam.eye));
        }
    }
}

TEST(PhotoProjection, TheWholePhotoFillsOneViewportSideAndIsCentred)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.viewW << "x" << c.viewH);
        const Pinhole cam(c.fx, c.fy, c.cx, c.cy, 800, 600, XPnt3d(0, -100, 60), XPnt3d(0, 0, 0));
        ref_ptr<IZimTrackBall> ball = zim::newTrackBall();
        ball->setViewport(c.viewW, c.viewH);
        cam.apply(ball);
        // The photo's corners, through the projection: a world point on each corner's ray.
        double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
        XPnt3d topLeft;
        for (double px : {0.0, 800.0})
            for (double py : {0.0, 600.0}) {
                const XPnt3d ray = cam.right * ((px - c.cx) / c.fx) + cam.down * ((py - c.cy) / c.fy) + cam.forward;
                const XPnt3d w = ball->projectToScreen(cam.eye + ray * 40.0);
                minX = std::min(minX, w.x), maxX = std::max(maxX, w.x);
                minY = std::min(minY, w.y), maxY = std::max(maxY, w.y);
                if (px == 0.0 && py == 0.0) topLeft = w;
            }
        // The photo's top-left corner (y down) is the top-left one on screen (y up).
        EXPECT_NEAR(topLeft.x, minX, 1e-6);
        EXPECT_NEAR(topLeft.y, maxY, 1e-6);
        EXPECT_GE(minX, -1e-6);
        EXPECT_LE(maxX, c.viewW + 1e-6);
        EXPECT_GE(minY, -1e-6);
        EXPECT_LE(maxY, c.viewH + 1e-6);
        const bool fillsWidth = std::fabs(minX) < 1e-6 && std::fabs(maxX - c.viewW) < 1e-6;
        const bool fillsHeight = std::fabs(minY) < 1e-6 && std::fabs(maxY - c.viewH) < 1e-6;
        EXPECT_TRUE(fillsWidth || fillsHeight);
        EXPECT_NEAR(minX + maxX, c.viewW, 1e-6);
        EXPECT_NEAR(minY + maxY, c.viewH, 1e-6);
        EXPECT_NEAR((maxX - minX) / (maxY - minY), 800.0 / 600.0, 1e-9);
    }
}

TEST(PhotoProjection, FollowsTheViewportAndScalesPixelsLikeThePhoto)
{
    const Pinhole cam(880, 900, 450, 280, 800, 600, XPnt3d(10, -90, 70), XPnt3d(0, 5, 0));
    ref_ptr<IZimTrackBall> ball = zim::newTrackBall();
    ball->setViewport(400, 300);
    cam.apply(ball);
    const XPnt3d world(6, 2, 3);
    ball->setViewport(1000, 400);
    EXPECT_TRUE(ball->hasPhotoProjection());
    const XPnt3d want = expectedWindow(cam, 1000, 400, cam.pixel(world));
    const XPnt3d got = ball->projectToScreen(world);
    EXPECT_NEAR(got.x, want.x, 1e-6);
    EXPECT_NEAR(got.y, want.y, 1e-6);
    // At the centre's distance one world unit across the view spans fy scaled pixels.
    const double d = ball->getEyePoint().dist(ball->getCenterPoint());
    EXPECT_NEAR(ball->getPixelScale(), (400.0 / 600.0) * 900.0 / d, 1e-9);
    // The point on the plane through the centre under a window point is on that pixel's ray.
    const XPnt3d onPlane = ball->screenPointToWorld(int(got.x), int(got.y));
    const XPnt3d again = ball->projectToScreen(onPlane);
    EXPECT_NEAR(again.x, int(got.x), 1e-6);
    EXPECT_NEAR(again.y, int(got.y), 1e-6);
    EXPECT_NEAR((onPlane - ball->getCenterPoint()).dot(normalize(ball->getCenterPoint() - ball->getEyePoint())), 0.0,
                1e-6);
}

TEST(PhotoProjection, RefusesUnusableCamerasAndKeepsTheView)
{
    ref_ptr<IZimTrackBall> ball = zim::newTrackBall();
    ball->setViewport(640, 480);
    double before[16], after[16];
    ball->getProjectionMatrix(before);
    EXPECT_EQ(ball->setPhotoProjection(0, 900, 400, 300, 800, 600), -1);
    EXPECT_EQ(ball->setPhotoProjection(900, -1, 400, 300, 800, 600), -1);
    EXPECT_EQ(ball->setPhotoProjection(900, 900, NAN, 300, 800, 600), -1);
    EXPECT_EQ(ball->setPhotoProjection(900, 900, 400, 300, 0, 600), -1);
    EXPECT_EQ(ball->setPhotoProjection(INFINITY, 900, 400, 300, 800, 600), -1);
    EXPECT_FALSE(ball->hasPhotoProjection());
    ball->getProjectionMatrix(after);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(before[i], after[i]) << i;
    EXPECT_EQ(ball->clearPhotoProjection(), 1);
}

TEST(PhotoProjection, EveryCameraMoveLeavesItKeepingTheVerticalScale)
{
    const Pinhole cam(900, 900, 470, 250, 800, 600, XPnt3d(20, -120, 90), XPnt3d(3, 4, 0));
    const std::vector<std::pair<const char*, std::function<void(IZimTrackBall&)>>> moves = {
        {"orbit drag", [](IZimTrackBall& b) { b.beginDrag(ZimDragOrbit, 100, 100, 0), b.dragTo(103, 100, 0); }},
        {"pan drag", [](IZimTrackBall& b) { b.beginDrag(ZimDragPan, 100, 100, 0), b.dragTo(100, 98, 0); }},
        {"zoom drag", [](IZimTrackBall& b) { b.beginDrag(ZimDragZoom, 100, 100, 0), b.endDrag(100, 90, 0); }},
        {"wheel", [](IZimTrackBall& b) { b.zoomAt(0.1f, 300, 200); }},
        {"translate", [](IZimTrackBall& b) { b.translateBy(XPnt3d(1, 0, 0)); }},
        {"standard view", [](IZimTrackBall& b) { b.setViewIndex(2); }},
        {"fit", [](IZimTrackBall& b) { b.fitToBox(Enve3d(-5, 5, -5, 5, 0, 3), 1); }},
        {"field of view", [](IZimTrackBall& b) { b.setFieldOfView(40); }},
    };
    for (const auto& move : moves) {
        SCOPED_TRACE(move.first);
        ref_ptr<IZimTrackBall> ball = zim::newTrackBall();
        ball->setViewport(1000, 500);
        cam.apply(ball);
        move.second(*ball);
        EXPECT_FALSE(ball->hasPhotoProjection());
        // Back to the symmetric frustum.
        double p[16];
        ball->getProjectionMatrix(p);
        EXPECT_EQ(p[8], 0.0);
        EXPECT_EQ(p[9], 0.0);
    }
    // A right click (press and release on the spot) is no camera move.
    {
        ref_ptr<IZimTrackBall> ball = zim::newTrackBall();
        ball->setViewport(1000, 500);
        cam.apply(ball);
        ball->beginDrag(ZimDragOrbit, 300, 200, 0);
        ball->endDrag(300, 200, 0);
        EXPECT_TRUE(ball->hasPhotoProjection());
    }
    // Leaving keeps the eye and the vertical scale: fov = 2 atan(H / (2 s fy)).
    ref_ptr<IZimTrackBall> ball = zim::newTrackBall();
    ball->setViewport(1000, 500);
    cam.apply(ball);
    const double scale = ball->getPixelScale();
    const XPnt3d eye = ball->getEyePoint();
    EXPECT_EQ(ball->clearPhotoProjection(), 0);
    EXPECT_FALSE(ball->hasPhotoProjection());
    EXPECT_NEAR(ball->getPixelScale(), scale, 1e-9 * scale);
    EXPECT_EQ(ball->getEyePoint(), eye);
    const double s = 500.0 / 600.0;
    EXPECT_NEAR(ball->getFieldOfView(), 2.0 * std::atan(500.0 / (2.0 * s * 900.0)) * 180.0 / M_PI, 1e-9);
}

// ---- a real 3D view on a generated sample --------------------------------------------------

namespace {

// The sample's true camera of photo `index` from its manifest.
ZimPhotoCamera manifestCamera(const QString& manifestPath, int index)
{
    QFile file(manifestPath);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject photo = QJsonDocument::fromJson(file.readAll()).object().value("photos")[index].toObject();
    const QJsonObject c = photo.value("camera").toObject();
    const QJsonArray K = c.value("K").toArray();
    ZimPhotoCamera cam;
    cam.width = photo.value("width").toInt();
    cam.height = photo.value("height").toInt();
    cam.fx = K[0][0].toDouble(), cam.fy = K[1][1].toDouble();
    cam.cx = K[0][2].toDouble(), cam.cy = K[1][2].toDouble();
    cam.k1 = c.value("distortion")[0].toDouble(), cam.k2 = c.value("distortion")[1].toDouble();
    for (int k = 0; k < 9; ++k) cam.R[k] = c.value("R")[k].toDouble();
    for (int k = 0; k < 3; ++k) cam.t[k] = c.value("t")[k].toDouble();
    return cam;
}

// The generator's sky along the (undistorted) camera ray through photo pixel position (px, py):
// deep blue overhead to a pale horizon, dimmed below it.
QRgb skyAt(const ZimPhotoCamera& cam, double px, double py)
{
    const double x = (px - cam.cx) / cam.fx, y = (py - cam.cy) / cam.fy;
    const double wx = cam.R[0] * x + cam.R[3] * y + cam.R[6];
    const double wy = cam.R[1] * x + cam.R[4] * y + cam.R[7];
    const double wz = cam.R[2] * x + cam.R[5] * y + cam.R[8];
    const double up = wz / std::sqrt(wx * wx + wy * wy + wz * wz);
    const double k = up > 0 ? std::min(1.0, 1.4 * std::sqrt(up)) : 0.0;
    const double dim = up < 0 ? 1.0 + 0.25 * up : 1.0;
    const auto ch = [&](double horizon, double zenith) { return int((horizon + (zenith - horizon) * k) * dim + 0.5); };
    return qRgb(ch(214, 86), ch(224, 132), ch(232, 196));
}

int channelDistance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// A photo's colour within kSky of the sky's counts as sky, one farther than kScene from it as
// the scene; between the two (the JPEG's ringing beside sharp edges) it is left out.
constexpr int kSky = 12;
constexpr int kScene = 40;

signed char skyOrScene(QRgb seen, QRgb sky)
{
    const int d = channelDistance(seen, sky);
    return d <= kSky ? 0 : d > kScene ? 1 : -1;
}

// Per pixel of a w x h view: 1 scene, 0 sky or background, -1 not compared.
using Mask = std::vector<signed char>;

// Where the view shows meshes (anything but the background colour).
Mask renderMask(const CaptureLayer& frame, const QColor& background)
{
    Mask mask(std::size_t(frame.width) * frame.height);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x)
            mask[std::size_t(y) * frame.width + x] = channelDistance(frame.at(x, y).rgb(), background.rgb()) > 6;
    return mask;
}

// The fitted photo's place in a w x h view: photo pixel position of the view pixel's centre.
struct Fit {
    double s, ox, oy;
    Fit(const ZimPhotoCamera& cam, int w, int h)
        : s(std::min(double(w) / cam.width, double(h) / cam.height)),
          ox(0.5 * (w - s * cam.width)),
          oy(0.5 * (h - s * cam.height))
    {
    }
    QPointF photoPos(const ZimPhotoCamera& cam, int x, int y) const
    {
        return QPointF((x + 0.5 - ox) / s, cam.height - (y + 0.5 - oy) / s);
    }
};

bool inside(const ZimPhotoCamera& cam, const QPointF& p, double inset)
{
    return p.x() >= inset && p.y() >= inset && p.x() <= cam.width - inset && p.y() <= cam.height - inset;
}

// Where the photo shows the scene (not sky), for the view pixels the fitted photo covers. A
// sky-coloured speck with no sky around it (a pale texel of a roof) is left out.
Mask photoMask(const QImage& photo, const ZimPhotoCamera& cam, int w, int h)
{
    const int pw = photo.width(), ph = photo.height();
    Mask classes(std::size_t(pw) * ph);
    for (int b = 0; b < ph; ++b)
        for (int a = 0; a < pw; ++a)
            classes[std::size_t(b) * pw + a] = skyOrScene(photo.pixel(a, b), skyAt(cam, a + 0.5, b + 0.5));
    const auto classAt = [&](int a, int b) {
        const signed char c = classes[std::size_t(b) * pw + a];
        if (c != 0) return c;
        for (int db = -1; db <= 1; ++db)
            for (int da = -1; da <= 1; ++da)
                if ((da || db) && classes[std::size_t(b + db) * pw + (a + da)] == 0) return c;
        return static_cast<signed char>(-1);
    };
    const Fit fit(cam, w, h);
    Mask mask(std::size_t(w) * h, -1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QPointF p = fit.photoPos(cam, x, y);
            if (inside(cam, p, 2.0)) mask[std::size_t(y) * w + x] = classAt(int(p.x()), int(p.y()));
        }
    return mask;
}

// Where the photo overlay, drawn opaque over the view, shows the scene: the sky compared with
// the sky along each view pixel's own line of sight.
Mask overlayMask(const CaptureLayer& frame, const ZimPhotoCamera& cam, double inset)
{
    const Fit fit(cam, frame.width, frame.height);
    Mask mask(std::size_t(frame.width) * frame.height, -1);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const QPointF p = fit.photoPos(cam, x, y);
            if (!inside(cam, p, inset)) continue;
            mask[std::size_t(y) * frame.width + x] = skyOrScene(frame.at(x, y).rgb(), skyAt(cam, p.x(), p.y()));
        }
    return mask;
}

// Where two classifications of the same view disagree by more than a pixel.
struct SilhouetteCompare {
    int edgePixels = 0;  // pixels of the view on the meshes' outline
    int farOff = 0;      // compared pixels whose class the view shows nowhere within 1 px
};

SilhouetteCompare compareMasks(const Mask& view, const Mask& other, int w, int h)
{
    const auto at = [&](int x, int y) { return view[std::size_t(y) * w + x]; };
    SilhouetteCompare out;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            const signed char want = other[std::size_t(y) * w + x];
            if (want < 0) continue;
            const signed char here = at(x, y);
            if (here != at(x + 1, y) || here != at(x, y + 1)) ++out.edgePixels;
            if (here == want) continue;
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx) near = at(x + dx, y + dy) == want;
            if (!near) ++out.farOff;
        }
    return out;
}

// One tile seen from a tile's width away: the tile's outline and its buildings stand against
// the sky. Made once each with a centred principal point, an off-centre one, and an off-centre
// one behind a lens with radial distortion.
struct Sample {
    QString project;
    QString manifest;
};

class LookThroughView : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir();
        ASSERT_TRUE(s_dir->isValid());
        for (int kind = 0; kind < 3; ++kind) {
            const bool offCentre = kind > 0;
            orvsample::SampleOptions o;
            o.outDir = s_dir->filePath(QString::number(kind));
            o.tiles = 1;
            o.trianglesTotal = 2000;
            o.photoSize = QSize(800, 600);
            o.textureSize = 256;
            o.seed = 11;
            o.marks = 6;
            o.ppOffset = offCentre ? 0.12 : 0.0;
            o.k1 = kind == 2 ? 0.08 : 0.0;
            o.photoEffects = false;
            const orvsample::SampleResult made = orvsample::generateSample(o);
            ASSERT_TRUE(made.ok) << made.error.toStdString();
            const orvsample::ProjectSummary project =
                orvsample::buildSampleProject(made.manifestPath, o.outDir + "/sample.orvproj");
            ASSERT_TRUE(project.ok) << project.error.toStdString();
            s_samples[kind] = Sample{project.path, made.manifestPath};
        }
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    // The host's window with the 3D view alone at `size`, the sample open and its photo's true
    // camera stored.
    void open(const Sample& sample, const QSize& size)
    {
        window = std::make_unique<orvHost::HostWindow>(true);
        QString error;
        ASSERT_TRUE(window->create(&error)) << error.toStdString();
        ASSERT_TRUE(window->prepareBackupView(size, &error)) << error.toStdString();
        window->show();
        ASSERT_TRUE(window->openProject(sample.project));
        viewer = window->frame()->get3DViewer(orvHost::Id3DViewer);
        ASSERT_NE(viewer, nullptr);
        mm = orvUI::getVM()->getModelMan();
        camera = manifestCamera(sample.manifest, 0);
        ASSERT_TRUE(camera.isValid());
        ASSERT_EQ(mm->setImageCamera(0, &camera), 0);
        ASSERT_EQ(mm->setImageMapped(0, true), 0);
        ASSERT_TRUE(photo.load(QFileInfo(sample.manifest).dir().filePath("photos/tile_000.jpg")));
        ASSERT_EQ(photo.size(), QSize(camera.width, camera.height));
        // Wait for the view to be drawn at its size.
        QElapsedTimer clock;
        clock.start();
        while ((viewer->drawScene(false) != 0 || viewer->viewWidth() != size.width()) && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        ASSERT_EQ(QSize(viewer->viewWidth(), viewer->viewHeight()), size);
        viewer->addDrawLayer(capture);
        // A background no texture of the sample has (its roads are grey).
        viewer->getDisplay()->setBackgroundColor(ZimColor3f(1, 0, 1));
    }
    void TearDown() override
    {
        if (viewer) viewer->removeDrawLayer(capture);
        if (window) window->shutDown();
        if (mm) mm->closeProject();
        QTimer::singleShot(0, []() { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
    QColor background() const
    {
        const ZimColor3f c = viewer->getDisplay()->getBackgroundColor();
        return QColor::fromRgbF(c.r, c.g, c.b);
    }
    // The frame the view shows now, the overlay off.
    SilhouetteCompare silhouettes(const ZimPhotoCamera& looked)
    {
        EXPECT_EQ(viewer->lookThroughCamera(looked), 0);
        viewer->setShowImageOverlay(false);
        EXPECT_TRUE(viewer->isLookingThroughPhoto());
        EXPECT_EQ(viewer->drawScene(false), 0);
        return compareMasks(renderMask(*capture, background()),
                            photoMask(photo, camera, capture->width, capture->height), capture->width, capture->height);
    }

    static QTemporaryDir* s_dir;
    static Sample s_samples[3];
    std::unique_ptr<orvHost::HostWindow> window;
    orvUI::IOrv3DViewer* viewer = nullptr;
    ref_ptr<IZimMM> mm;
    ref_ptr<CaptureLayer> capture{new CaptureLayer()};
    ZimPhotoCamera camera;
    QImage photo;
};

QTemporaryDir* LookThroughView::s_dir = nullptr;
Sample LookThroughView::s_samples[3];

}  // namespace

TEST_F(LookThroughView, SilhouetteMatchesThePhotoWithACentredPrincipalPoint)
{
    open(s_samples[0], QSize(800, 600));
    const SilhouetteCompare c = silhouettes(camera);
    EXPECT_GT(c.edgePixels, 400);
    EXPECT_EQ(c.farOff, 0);
}

TEST_F(LookThroughView, SilhouetteMatchesThePhotoWithAnOffCentrePrincipalPoint)
{
    open(s_samples[1], QSize(800, 600));
    ASSERT_GT(std::fabs(camera.cx - 400) + std::fabs(camera.cy - 300), 40.0);
    const SilhouetteCompare c = silhouettes(camera);
    EXPECT_GT(c.edgePixels, 400);
    EXPECT_EQ(c.farOff, 0);
    // The comparison sees a camera whose principal point is 3 px off.
    ZimPhotoCamera shifted = camera;
    shifted.cx += 3.0;
    EXPECT_GT(silhouettes(shifted).farOff, 50);
}

TEST_F(LookThroughView, SilhouetteMatchesThePhotoInAViewOfAnotherShape)
{
    for (const QSize& size : {QSize(1000, 560), QSize(560, 720)}) {
        SCOPED_TRACE(size.width());
        open(s_samples[1], size);
        const SilhouetteCompare c = silhouettes(camera);
        EXPECT_GT(c.edgePixels, 300);
        EXPECT_EQ(c.farOff, 0);
        TearDown();
        window.reset();
        viewer = nullptr;
    }
}

TEST_F(LookThroughView, LookThroughPhotoShowsThePhotoLinedUpWithTheMeshes)
{
    open(s_samples[1], QSize(800, 600));
    QStringList messages;
    const orvCore::Reporter report = [&](const QString& m) { messages << m; };
    ASSERT_TRUE(orvCore::lookThroughPhoto(0, report)) << messages.join(' ').toStdString();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(viewer->isLookingThroughPhoto());
    EXPECT_TRUE(viewer->isShowImageOverlay());
    ref_ptr<IZimImage> current;
    ASSERT_EQ(mm->getCurrentImage(current), 0);
    ASSERT_TRUE(current);
    EXPECT_EQ(QSize(current->imageWidth(), current->imageHeight()), photo.size());

    // The photo drawn opaque covers the view exactly where the camera sees it.
    ASSERT_EQ(viewer->setOverlayOpacity(1.0f, false), 0);
    viewer->setShowFrameBorder(false);
    ASSERT_EQ(viewer->drawScene(false), 0);
    double difference = 0;
    int n = 0;
    for (int y = 4; y < 596; y += 3)
        for (int x = 4; x < 796; x += 3) {
            const QRgb seen = capture->at(x, y).rgb();
            const QRgb shot = photo.pixel(x, 599 - y);
            difference += std::abs(qGray(seen) - qGray(shot));
            ++n;
        }
    EXPECT_LT(difference / n, 6.0);

    // Far from the eye, on the photo's image plane through the rotation centre.
    const orvUI::ImageFrame onPlane = viewer->getImageFrame();
    const XPnt3d eye = camera.eye();
    EXPECT_GT(((onPlane[0] + onPlane[1]) * 0.5).dist(eye), 50.0);

    // An orbit drag with the right button leaves the mode; the overlay goes back to its frame
    // in front of the eye.
    auto* widget = dynamic_cast<QWidget*>(viewer);
    ASSERT_NE(widget, nullptr);
    const QPoint from(400, 300), to(460, 320);
    QMouseEvent press(QEvent::MouseButtonPress, from, Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    EXPECT_TRUE(viewer->isLookingThroughPhoto());
    QMouseEvent move(QEvent::MouseMove, to, Qt::NoButton, Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
    EXPECT_FALSE(viewer->isLookingThroughPhoto());
    ASSERT_EQ(viewer->drawScene(false), 0);
    const orvUI::ImageFrame usual = viewer->getImageFrame();
    const XPnt3d newEye = viewer->getDisplay()->getTrackBall()->getEyePoint();
    EXPECT_LT(((usual[0] + usual[1]) * 0.5).dist(newEye), 20.0);
    double projection[16];
    viewer->getDisplay()->getTrackBall()->getProjectionMatrix(projection);
    EXPECT_EQ(projection[8], 0.0);
    EXPECT_EQ(projection[9], 0.0);
    // The view keeps the photo's scale: the angle that shows the 600 px photo height at fy.
    EXPECT_NEAR(viewer->getDisplay()->getTrackBall()->getFieldOfView(),
                2.0 * std::atan(600.0 / (2.0 * camera.fy)) * 180.0 / M_PI, 1e-3);
}

TEST_F(LookThroughView, LookThroughPhotoRefusesPhotosWithoutAFittingCamera)
{
    open(s_samples[0], QSize(800, 600));
    QStringList messages;
    const orvCore::Reporter report = [&](const QString& m) { messages << m; };

    ASSERT_EQ(mm->setImageMapped(0, false), 0);
    EXPECT_FALSE(orvCore::lookThroughPhoto(0, report));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.last().contains("not mapped")) << messages.last().toStdString();
    ASSERT_EQ(mm->setImageMapped(0, true), 0);

    ZimPhotoCamera other = camera;
    other.width = 640;
    other.height = 480;
    ASSERT_EQ(mm->setImageCamera(0, &other), 0);
    EXPECT_FALSE(orvCore::lookThroughPhoto(0, report));
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages.last().contains("800 x 600") && messages.last().contains("640 x 480"))
        << messages.last().toStdString();

    ASSERT_EQ(mm->setImageCamera(0, nullptr), 0);
    EXPECT_FALSE(orvCore::lookThroughPhoto(0, report));
    ASSERT_EQ(messages.size(), 3);
    EXPECT_TRUE(messages.last().contains("no usable camera")) << messages.last().toStdString();

    EXPECT_FALSE(orvCore::lookThroughPhoto(7, report));
    EXPECT_EQ(messages.size(), 4);
    EXPECT_FALSE(viewer->isLookingThroughPhoto());
    EXPECT_FALSE(viewer->isShowImageOverlay());
}

TEST_F(LookThroughView, OverlayUndoesTheLensAndLinesUpWithTheMeshes)
{
    open(s_samples[2], QSize(800, 600));
    ASSERT_GT(camera.k1, 0.0);
    ASSERT_EQ(mm->setCurrentImageIndex(0), 0);
    ASSERT_EQ(viewer->lookThroughCamera(camera), 0);
    viewer->setShowFrameBorder(false);
    ASSERT_EQ(viewer->setOverlayOpacity(1.0f, false), 0);
    viewer->setShowImageOverlay(false);
    ASSERT_EQ(viewer->drawScene(false), 0);
    const Mask meshes = renderMask(*capture, background());
    const int w = capture->width, h = capture->height;

    // The lens bends the photo's border inwards: compare well inside it.
    viewer->setShowImageOverlay(true);
    ASSERT_EQ(viewer->drawScene(false), 0);
    const SilhouetteCompare lined = compareMasks(meshes, overlayMask(*capture, camera, 60.0), w, h);
    EXPECT_GT(lined.edgePixels, 400);
    EXPECT_EQ(lined.farOff, 0);

    // The same camera without its lens leaves the photo's outline beside the meshes'.
    ZimPhotoCamera noLens = camera;
    noLens.k1 = noLens.k2 = 0.0;
    ASSERT_EQ(viewer->lookThroughCamera(noLens), 0);
    ASSERT_EQ(viewer->drawScene(false), 0);
    EXPECT_GT(compareMasks(meshes, overlayMask(*capture, camera, 60.0), w, h).farOff, 50);
}
