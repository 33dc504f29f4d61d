// Looking through a photo's camera: the trackball's photo projection without GL (a world point
// seen through the photo's pinhole lands on the viewport pixel where the fitted photo shows it),
// then a real 3D viewer on a generated sample whose rendered silhouette must match the photo's.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <utility>
#include <vector>

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
    {800, 600, 900, 900, 400, 300},  {800, 600, 900, 900, 470, 250},  {1200, 500, 750, 780, 360, 340},
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
        {"orbit drag", [](IZimTrackBall& b) { b.beginDrag(ZimDragOrbit, 100, 100, 0); }},
        {"pan drag", [](IZimTrackBall& b) { b.beginDrag(ZimDragPan, 100, 100, 0); }},
        {"zoom drag", [](IZimTrackBall& b) { b.beginDrag(ZimDragZoom, 100, 100, 0); }},
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
