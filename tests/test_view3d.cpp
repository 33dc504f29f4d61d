// The 3D viewer's arithmetic without GL: the shared float matrix, its product and inversion, the
// screen-to-texture solve, the photo frame and its photo coordinates, the field-of-view move,
// the box of all meshes, the standard-view counters, stored cameras, the home view, the mesh
// under a pixel, and the input decisions both views share.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "OrvViewState.h"
#include "ViewInput.h"
#include "ViewMath.h"
#include "ZimMatrix.h"

using namespace orvUI;

namespace {

zim::matrix<float> make(int rows, int cols, std::initializer_list<float> values)
{
    zim::matrix<float> m(rows, cols);
    int i = 0;
    for (float v : values) {
        m(i / cols, i % cols) = v;
        ++i;
    }
    return m;
}

ref_ptr<IZimTrackBall> camera(int w, int h, const XPnt3d& eye, const XPnt3d& centre, const XPnt3d& up)
{
    ref_ptr<IZimTrackBall> ball = zim::newTrackBall();
    ball->setViewport(w, h);
    EXPECT_EQ(ball->setLookAt(eye, centre, up), 0);
    return ball;
}

// A mesh of quads, each given by two opposite corners on a plane of constant z.
ref_ptr<IZimMesh> flatQuad(double x0, double y0, double x1, double y1, double z)
{
    ref_ptr<Pnt3fArray> v(new Pnt3fArray());
    for (const XPnt3d& p : {XPnt3d(x0, y0, z), XPnt3d(x1, y0, z), XPnt3d(x1, y1, z), XPnt3d(x0, y1, z)})
        v->append(XPnt3f(p));
    ref_ptr<IntArray> t(new IntArray());
    for (int i : {0, 1, 2, 0, 2, 3}) t->append(i);
    ref_ptr<IZimMesh> mesh = zim::newZimMesh();
    EXPECT_EQ(mesh->setMeshGeometry(v, t, nullptr, nullptr), 0);
    return mesh;
}

}  // namespace

TEST(View3DMatrix, CopiesShareTheBlockUntilOneIsWritten)
{
    zim::matrix<float> a = make(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 10});
    EXPECT_EQ(a.shareCount(), 1);
    zim::matrix<float> b = a;
    zim::matrix<float> c(1, 1);
    c = b;
    EXPECT_EQ(a.shareCount(), 3);
    EXPECT_EQ(a.block(), c.block());
    // Reading through a non-const matrix must not copy: only writes do.
    const zim::matrix<float>& cb = b;
    EXPECT_EQ(cb(2, 2), 10.0f);
    EXPECT_EQ(a.shareCount(), 3);

    b(0, 0) = 99.0f;
    EXPECT_NE(b.block(), a.block());
    EXPECT_EQ(b.shareCount(), 1);
    EXPECT_EQ(a.shareCount(), 2);
    EXPECT_EQ(a.at(0, 0), 1.0f);
    EXPECT_EQ(c.at(0, 0), 1.0f);
    EXPECT_EQ(b.at(0, 0), 99.0f);
    EXPECT_EQ(b.at(2, 2), 10.0f);

    {
        zim::matrix<float> d = c;
        EXPECT_EQ(a.shareCount(), 3);
    }
    EXPECT_EQ(a.shareCount(), 2);
    c = c;  // self-assignment keeps the block and its count
    EXPECT_EQ(a.shareCount(), 2);
    c = zim::matrix<float>(2, 2);
    EXPECT_EQ(a.shareCount(), 1);
    EXPECT_EQ(c.at(1, 1), 0.0f);
    EXPECT_EQ(zim::matrix<float>(-1, 3).shareCount(), 0);
}

TEST(View3DMatrix, ProductHasOuterDimensionsAndRefusesMismatch)
{
    const zim::matrix<float> a = make(2, 3, {1, 2, 3, 4, 5, 6});
    const zim::matrix<float> b = make(3, 2, {7, 8, 9, 10, 11, 12});
    const zim::matrix<float> p = a * b;
    ASSERT_EQ(p.rows(), 2);
    ASSERT_EQ(p.cols(), 2);
    EXPECT_EQ(p(0, 0), 58.0f);
    EXPECT_EQ(p(0, 1), 64.0f);
    EXPECT_EQ(p(1, 0), 139.0f);
    EXPECT_EQ(p(1, 1), 154.0f);
    const zim::matrix<float> q = b * a;
    EXPECT_EQ(q.rows(), 3);
    EXPECT_EQ(q.cols(), 3);

    std::string message;
    try {
        (void)(a * a);
    } catch (char* text) {
        message = text;
    }
    EXPECT_EQ(message, "Matrices do not have common size");
    bool caughtConst = false;
    try {
        (void)(b * b);
    } catch (const char*) {
        caughtConst = true;
    }
    EXPECT_TRUE(caughtConst);
}

TEST(View3DMatrix, InversionMatchesKnownInverses)
{
    zim::matrix<float> swap = make(2, 2, {0, 1, 1, 0});
    ASSERT_TRUE(swap.invert());
    EXPECT_EQ(swap(0, 0), 0.0f);
    EXPECT_EQ(swap(0, 1), 1.0f);
    EXPECT_EQ(swap(1, 0), 1.0f);
    EXPECT_EQ(swap(1, 1), 0.0f);

    // A matrix needing row and column pivots, with an integer inverse.
    zim::matrix<float> m = make(3, 3, {2, 0, 1, 1, 1, 0, 0, 3, 1});
    const float expected[9] = {0.2f, 0.6f, -0.2f, -0.2f, 0.4f, 0.2f, 0.6f, -1.2f, 0.4f};
    const zim::matrix<float> original = m;
    ASSERT_TRUE(m.invert());
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(m(i / 3, i % 3), expected[i], 1e-5f) << i;
    EXPECT_EQ(original(0, 0), 2.0f) << "the inversion wrote through a shared block";
    const zim::matrix<float> id = original * m;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(id(i, j), i == j ? 1.0f : 0.0f, 1e-5f);

    zim::matrix<float> diag = make(4, 4, {4, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, -1});
    ASSERT_TRUE(diag.invert());
    EXPECT_FLOAT_EQ(diag(0, 0), 0.25f);
    EXPECT_FLOAT_EQ(diag(2, 2), 2.0f);
    EXPECT_FLOAT_EQ(diag(3, 3), -1.0f);
}

TEST(View3DMatrix, SingularAndNonSquareMatricesFail)
{
    zim::matrix<float> nonSquare(2, 3);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(nonSquare.invert());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    zim::matrix<float> zeroRow = make(3, 3, {1, 2, 3, 0, 0, 0, 4, 5, 6});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(zeroRow.invert());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "invert is not availble!\n");

    zim::matrix<float> rankOne = make(2, 2, {1, 2, 2, 4});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(rankOne.invert());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "invert is not availble!\n");

    zim::matrix<float> infinite = make(2, 2, {INFINITY, 0, 0, 1});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(infinite.invert());
    testing::internal::GetCapturedStdout();
}

TEST(View3DMatrix, ScreenToTextureMapsTheTriangleAndRefusesCollinearPoints)
{
    const XPnt2f screen[3] = {{10, 20}, {110, 20}, {10, 70}};
    const XPnt2f texture[3] = {{0, 0}, {0.5f, 0}, {0, 1}};
    zim::matrix<float> out;
    ASSERT_TRUE(computeScreenToTexture(screen, texture, out));
    ASSERT_EQ(out.rows(), 3);
    ASSERT_EQ(out.cols(), 2);
    const auto map = [&out](float x, float y) {
        return XPnt2f(x * out(0, 0) + y * out(1, 0) + out(2, 0), x * out(0, 1) + y * out(1, 1) + out(2, 1));
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(map(screen[i].x, screen[i].y).x, texture[i].x, 1e-5f);
        EXPECT_NEAR(map(screen[i].x, screen[i].y).y, texture[i].y, 1e-5f);
    }
    EXPECT_NEAR(map(60, 45).x, 0.25f, 1e-5f);
    EXPECT_NEAR(map(60, 45).y, 0.5f, 1e-5f);

    const XPnt2f line[3] = {{0, 0}, {1, 1}, {2, 2}};
    zim::matrix<float> untouched = make(1, 1, {7});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(computeScreenToTexture(line, texture, untouched));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "invert is not availble!\n");
    EXPECT_EQ(untouched.rows(), 1);
    EXPECT_EQ(untouched(0, 0), 7.0f);
}

TEST(View3DFrame, PhotoFrameSizeFollowsTheShorterSide)
{
    const XPnt3d eye(0, 0, 10), centre(0, 0, 0), up(0, 1, 0);
    ImageFrame wide, tall;
    ASSERT_TRUE(computePhotoFrame(eye, centre, up, 27.0f, 4000, 3000, wide));
    ASSERT_TRUE(computePhotoFrame(eye, centre, up, 27.0f, 3000, 4000, tall));
    EXPECT_NEAR(wide[1].dist(wide[3]), 6.4, 1e-5);
    EXPECT_NEAR(wide[1].dist(wide[2]), 4.8, 1e-5);
    EXPECT_NEAR(tall[1].dist(tall[3]), 4.8, 1e-5);
    EXPECT_NEAR(tall[1].dist(tall[2]), 6.4, 1e-5);
    // The photo plane at 2.4 / tan(13.5 degrees) in front of the eye; corner 1 at lower left as
    // seen from the eye (side = view x up points to +x here).
    const double f = 2.4 / std::tan(13.5 * M_PI / 180.0);
    EXPECT_NEAR(wide[1].z, 10 - f, 1e-9);
    EXPECT_LT(wide[1].x, wide[3].x);
    EXPECT_LT(wide[1].y, wide[2].y);
    EXPECT_EQ(wide[4], eye);
    // (1, 1) is frame[0] for a frame as computed.
    const XPnt3d p11 = framePointAt(wide, 1, 1, 1.0);
    EXPECT_NEAR(p11.dist(wide[0]), 0.0, 1e-9);
    EXPECT_EQ(framePointAt(wide, 0, 0, 1.0), wide[1]);
    const XPnt3d scaled = framePointAt(wide, 0, 0, 0.9);
    EXPECT_NEAR(scaled.dist(eye), 0.9 * wide[1].dist(eye), 1e-9);

    ImageFrame untouched = wide;
    EXPECT_FALSE(computePhotoFrame(eye, eye, up, 27.0f, 4000, 3000, untouched));
    EXPECT_FALSE(computePhotoFrame(eye, centre, XPnt3d(0, 0, 1), 27.0f, 4000, 3000, untouched));
    EXPECT_FALSE(computePhotoFrame(eye, centre, up, 27.0f, 0, 3000, untouched));
    EXPECT_FALSE(computePhotoFrame(eye, centre, up, 0.0f, 4000, 3000, untouched));
    EXPECT_EQ(untouched[1], wide[1]);
}

TEST(View3DFrame, FrameCornersAndPhotoCoordinatesConvertBothWays)
{
    const ref_ptr<IZimTrackBall> ball = camera(640, 480, {1, 2, 12}, {3, 1, 0}, {0, 0, 1});
    ImageFrame frame;
    ASSERT_TRUE(
        computePhotoFrame(ball->getEyePoint(), ball->getCenterPoint(), ball->getUpVector(), 27.0f, 4000, 3000, frame));
    const auto screen = [&ball](const XPnt3d& p) {
        const XPnt3d s = ball->projectPoint(p);
        return XPnt2d(s.x, s.y);
    };
    const XPnt2d a = screen(frame[1]), b = screen(frame[3]), q = screen(frame[2]);
    const struct {
        int corner;
        double u, v;
    } corners[] = {{1, 0, 0}, {3, 1, 0}, {0, 1, 1}, {2, 0, 1}};
    for (const auto& c : corners) {
        const XPnt2d s = screen(frame[c.corner]);
        const XPnt2d uv = windowPointToUV(a, b, q, s.x, s.y);
        EXPECT_NEAR(uv.x, c.u, 1e-6) << c.corner;
        EXPECT_NEAR(uv.y, c.v, 1e-6) << c.corner;
    }
    // An inner photo point: to the frame, to the screen and back.
    const XPnt3d world = framePointAt(frame, 0.3, 0.7, 1.0);
    const XPnt2d s = screen(world);
    const XPnt2d uv = windowPointToUV(a, b, q, s.x, s.y);
    EXPECT_NEAR(uv.x, 0.3, 1e-6);
    EXPECT_NEAR(uv.y, 0.7, 1e-6);

    // A vertical edge on screen still gives the parameter along it; a point edge gives none.
    const XPnt2d vertical = windowPointToUV({10, 10}, {10, 110}, {110, 10}, 40, 60);
    EXPECT_NEAR(vertical.x, 0.5, 1e-12);
    EXPECT_NEAR(vertical.y, 0.3, 1e-12);
    EXPECT_FALSE(windowPointToUV({10, 10}, {10, 10}, {20, 10}, 5, 5).isValid());
}

TEST(View3DCamera, FitToAllMeshesKeepsEveryCornerOnScreen)
{
    ref_ptr<MeshArray> meshes = zim::newMeshArray();
    ref_ptr<MeshArray> backup = zim::newMeshArray();
    const auto addMesh = [](const ref_ptr<MeshArray>& to, std::initializer_list<XPnt3f> points) {
        ref_ptr<Pnt3fArray> v(new Pnt3fArray());
        for (const XPnt3f& p : points) v->append(p);
        ref_ptr<IntArray> t(new IntArray());
        for (int i : {0, 1, 2}) t->append(i);
        ref_ptr<IZimMesh> mesh = zim::newZimMesh();
        ASSERT_EQ(mesh->setMeshGeometry(v, t, nullptr, nullptr), 0);
        to->appendMesh(mesh);
    };
    addMesh(meshes, {{-50, 0, 0}, {10, 5, 2}, {0, 30, 1}});
    addMesh(backup, {{20, -40, -8}, {25, 10, 12}, {21, 0, 0}});
    const Enve3d box = meshesBox(meshes, backup);
    EXPECT_EQ(box.minX, -50);
    EXPECT_EQ(box.maxX, 25);
    EXPECT_EQ(box.minY, -40);
    EXPECT_EQ(box.maxY, 30);
    EXPECT_EQ(box.minZ, -8);
    EXPECT_EQ(box.maxZ, 12);

    const ref_ptr<IZimTrackBall> ball = camera(300, 500, {100, 80, 60}, {0, 0, 0}, {0, 0, 1});
    ball->setFieldOfView(27.0);
    ASSERT_EQ(ball->fitToBox(box, 1), 0);
    for (int i = 0; i < 8; ++i) {
        const XPnt3d corner(i & 1 ? box.maxX : box.minX, i & 2 ? box.maxY : box.minY, i & 4 ? box.maxZ : box.minZ);
        const XPnt3d s = ball->projectToScreen(corner);
        EXPECT_GE(s.x, 0.0) << i;
        EXPECT_LE(s.x, 300.0) << i;
        EXPECT_GE(s.y, 0.0) << i;
        EXPECT_LE(s.y, 500.0) << i;
        EXPECT_GT(s.z, 0.0) << i;
        EXPECT_LT(s.z, 1.0) << i;
    }

    // Empty arrays give the start box, minimum above maximum, which the trackball refuses.
    const Enve3d none = meshesBox(zim::newMeshArray(), nullptr);
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(none.minX, 2147483647.0);
    EXPECT_EQ(none.maxX, -2147483648.0);
    const XPnt3d eyeBefore = ball->getEyePoint();
    EXPECT_EQ(ball->fitToBox(none, 1), -1);
    EXPECT_EQ(ball->getEyePoint(), eyeBefore);
}

TEST(View3DCamera, FieldOfViewChangeKeepsTheSceneSize)
{
    const ref_ptr<IZimTrackBall> ball = camera(400, 400, {0, -30, 10}, {0, 0, 0}, {0, 0, 1});
    ball->setFieldOfView(27.0);
    // Two points on the plane through the centre facing the eye, 4 units apart.
    XPnt3d side = cross(ball->getCenterPoint() - ball->getEyePoint(), ball->getUpVector());
    side.normalize();
    const XPnt3d p0 = ball->getCenterPoint() - side * 2.0, p1 = ball->getCenterPoint() + side * 2.0;
    const auto apparent = [&] {
        const XPnt3d a = ball->projectToScreen(p0), b = ball->projectToScreen(p1);
        return std::hypot(b.x - a.x, b.y - a.y);
    };
    const double before = apparent();
    const double d = ball->getEyePoint().dist(ball->getCenterPoint());
    const XPnt3d offset = fovKeepSizeOffset(ball->getEyePoint(), ball->getCenterPoint(), d, 27.0f, 40.0f);
    EXPECT_GT(offset.dot(ball->getCenterPoint() - ball->getEyePoint()), 0.0) << "a wider angle moves closer";
    ball->translateBy(offset);
    ball->setFieldOfView(40.0);
    EXPECT_NEAR(apparent(), before, 1e-6 * before);

    EXPECT_EQ(fovKeepSizeOffset({0, 0, 0}, {0, 0, 1}, 5, 27.0f, 0.0f), XPnt3d(0, 0, 0));
    EXPECT_EQ(fovKeepSizeOffset({0, 0, 0}, {0, 0, 0}, 5, 27.0f, 40.0f), XPnt3d(0, 0, 0));
}

TEST(View3DCamera, StandardViewCountersAndCursors)
{
    int around = 5, over = 5;
    std::string aroundSeq, overSeq;
    for (int i = 0; i < 4; ++i) {
        around = nextViewAround(around);
        over = nextViewOver(over);
        aroundSeq += std::to_string(around);
        overSeq += std::to_string(over);
    }
    EXPECT_EQ(aroundSeq, "0415");
    EXPECT_EQ(overSeq, "2435");
    EXPECT_EQ(nextViewAround(2), 2);
    EXPECT_EQ(nextViewOver(0), 0);

    Qt::CursorShape shape = Qt::WaitCursor;
    EXPECT_FALSE(cursorForShape(4, shape));
    EXPECT_FALSE(cursorForShape(11, shape));
    EXPECT_EQ(shape, Qt::WaitCursor);
    ASSERT_TRUE(cursorForShape(10, shape));
    EXPECT_EQ(shape, Qt::BlankCursor);
    ASSERT_TRUE(cursorForShape(7, shape));
    EXPECT_EQ(shape, Qt::SizeBDiagCursor);
    EXPECT_EQ(cursorForDrag(true, ZimDragOrbit), Qt::CrossCursor);
    EXPECT_EQ(cursorForDrag(false, ZimDragPan), Qt::SizeAllCursor);
    EXPECT_EQ(cursorForDrag(false, ZimDragOrbit), Qt::ClosedHandCursor);
    EXPECT_EQ(cursorForDrag(false, ZimDragZoom), Qt::SizeVerCursor);
    EXPECT_EQ(cursorForDrag(false, ZimDragNone), Qt::ArrowCursor);
}

TEST(View3DCamera, StoredCamerasAreCheckedBeforeUse)
{
    ViewCamera good;
    good.eye = {0, -10, 10};
    good.center = {0, 0, 0};
    good.up = {0, 0, 1};
    EXPECT_TRUE(isUsableCamera(good));
    const double nan = std::nan("");
    const std::vector<std::pair<const char*, std::function<void(ViewCamera&)>>> faults = {
        {"eye not finite", [nan](ViewCamera& c) { c.eye.x = nan; }},
        {"centre not finite", [](ViewCamera& c) { c.center.z = HUGE_VAL; }},
        {"eye on the centre", [](ViewCamera& c) { c.eye = c.center; }},
        {"up along the line of sight", [](ViewCamera& c) { c.up = (c.center - c.eye) * 3.0; }},
        {"no up",
         [](ViewCamera& c) {
             c.up = {0, 0, 0};
         }},
        {"zero angle", [](ViewCamera& c) { c.fov = 0.0; }},
        {"angle not finite", [nan](ViewCamera& c) { c.fov = nan; }},
        {"negative zoom", [](ViewCamera& c) { c.zoom = -1.0; }},
        {"opacity above 1", [](ViewCamera& c) { c.opacity = 1.5; }},
        {"opacity not finite", [nan](ViewCamera& c) { c.opacity = nan; }},
    };
    for (const auto& fault : faults) {
        ViewCamera c = good;
        fault.second(c);
        EXPECT_FALSE(isUsableCamera(c)) << fault.first;
    }
    // An up vector that only leans towards the line of sight is fine.
    ViewCamera leaning = good;
    leaning.up = {0, 1, 0.01};
    EXPECT_TRUE(isUsableCamera(leaning));
}

TEST(View3DCamera, HomeDirectionLooksNorthAndHalfWayDown)
{
    const XPnt3d dir = homeViewDirection();
    EXPECT_NEAR(dir.length(), 1.0, 1e-12);
    EXPECT_NEAR(dir.x, 0.0, 1e-12);
    EXPECT_GT(dir.y, 0.0) << "the eye stands to the south";
    EXPECT_NEAR(std::asin(-dir.z) * 180.0 / 3.14159265358979323846, 45.0, 1e-9);

    // Near and far from any eye take in every corner of the box.
    const Enve3d box(-20, 30, 5, 9, -1, 4);
    for (const XPnt3d& eye : {XPnt3d(5, -100, 80), XPnt3d(0, 7, 2), XPnt3d(1e4, 0, 0)}) {
        double nearD = 0, farD = 0;
        ASSERT_TRUE(clipRangeForBox(eye, box, nearD, farD));
        EXPECT_GT(nearD, 0.0);
        EXPECT_LT(nearD, farD);
        for (int i = 0; i < 8; ++i) {
            const XPnt3d corner(i & 1 ? box.maxX : box.minX, i & 2 ? box.maxY : box.minY, i & 4 ? box.maxZ : box.minZ);
            EXPECT_LE(eye.dist(corner), farD) << i;
            if (eye.dist(box.center()) > box.diagonal()) {
                EXPECT_GE(eye.dist(corner), nearD) << i;
            }
        }
    }
    double nearD = -1, farD = -1;
    EXPECT_FALSE(clipRangeForBox({0, 0, 0}, Enve3d(), nearD, farD));
    EXPECT_EQ(nearD, -1.0);
}

TEST(View3DPick, TheFrontMeshOnTheLineOfSightWins)
{
    // A ground quad, a smaller one above it, and a quad off to the side.
    const std::vector<ref_ptr<IZimMesh>> meshes = {flatQuad(0, 0, 10, 10, 0), flatQuad(2, 2, 6, 6, 3),
                                                   flatQuad(20, 0, 30, 10, 0)};
    const auto down = [&](double x, double y, const QVector<ClipPlaneRecord>* planes = nullptr) {
        return firstMeshOnSegment({x, y, 50}, {x, y, -50}, meshes, planes);
    };
    EXPECT_EQ(down(4, 4), 1);
    EXPECT_EQ(down(8, 8), 0);
    EXPECT_EQ(down(25, 5), 2);
    EXPECT_EQ(down(15, 5), -1);
    // From below the ground quad is in front; the order in the list does not matter.
    EXPECT_EQ(firstMeshOnSegment({4, 4, -50}, {4, 4, 50}, meshes, nullptr), 0);
    const std::vector<ref_ptr<IZimMesh>> reversed = {meshes[2], meshes[1], meshes[0]};
    EXPECT_EQ(firstMeshOnSegment({4, 4, 50}, {4, 4, -50}, reversed, nullptr), 1);
    // A slanted line through both quads.
    EXPECT_EQ(firstMeshOnSegment({0, 0, 6}, {8, 8, -2}, meshes, nullptr), 1);
    // A segment that ends before the surface meets nothing.
    EXPECT_EQ(firstMeshOnSegment({4, 4, 50}, {4, 4, 3.5}, meshes, nullptr), -1);
    // A sleeping mesh is a null entry: the line goes through to the ground.
    EXPECT_EQ(firstMeshOnSegment({4, 4, 50}, {4, 4, -50}, {meshes[0], nullptr}, nullptr), 0);

    // A clip plane keeping z <= 2 takes the upper quad away; disabled it changes nothing.
    QVector<ClipPlaneRecord> planes(2);
    planes[1].equation[2] = -1.0;
    planes[1].equation[3] = 2.0;
    EXPECT_EQ(down(4, 4, &planes), 1);
    planes[1].enabled = true;
    EXPECT_EQ(down(4, 4, &planes), 0);
    EXPECT_EQ(down(4, 4), 1);

    // No line, no hit.
    EXPECT_EQ(firstMeshOnSegment({4, 4, 1}, {4, 4, 1}, meshes, nullptr), -1);
}

TEST(View3DInput, RightButtonClicksAndDragsInEveryEventOrder)
{
    using Request = RightButtonGesture::Request;
    RightButtonGesture g;
    const QPoint at(100, 100);

    // X11: the request comes right after the press and waits for the release.
    g.press(at);
    EXPECT_EQ(g.menuRequest(true), Request::AtRelease);
    RightButtonGesture::Release r = g.release(at);
    EXPECT_TRUE(r.click);
    EXPECT_TRUE(r.openMenu);
    EXPECT_EQ(g.menuRequest(true), Request::Ignore) << "the click has had its menu";

    // X11 with a drag: moves past the drag distance make it a drag, at the release no menu.
    g.press(at);
    EXPECT_EQ(g.menuRequest(true), Request::AtRelease);
    EXPECT_FALSE(g.move(at + QPoint(2, 1)));
    EXPECT_TRUE(g.move(at + QPoint(3, 1)));
    EXPECT_TRUE(g.move(at)) << "once a drag, always a drag";
    r = g.release(at);
    EXPECT_FALSE(r.click);
    EXPECT_FALSE(r.openMenu);
    EXPECT_EQ(g.menuRequest(true), Request::Ignore);

    // A request during a drag is dropped as well.
    g.press(at);
    g.move(at + QPoint(0, 20));
    EXPECT_EQ(g.menuRequest(true), Request::Ignore);
    EXPECT_FALSE(g.release(at + QPoint(0, 20)).openMenu);

    // A click that only shakes a little is still a click.
    g.press(at);
    EXPECT_EQ(g.menuRequest(true), Request::AtRelease);
    EXPECT_FALSE(g.move(at + QPoint(-1, 1)));
    r = g.release(at + QPoint(1, -1));
    EXPECT_TRUE(r.click);
    EXPECT_TRUE(r.openMenu);

    // Other systems: the request comes after the release, once.
    g.press(at);
    r = g.release(at);
    EXPECT_TRUE(r.click);
    EXPECT_FALSE(r.openMenu);
    EXPECT_EQ(g.menuRequest(true), Request::OpenNow);
    EXPECT_EQ(g.menuRequest(true), Request::Ignore);
    // ... and not after a drag that ended without any request.
    g.press(at);
    r = g.release(at + QPoint(40, 0));
    EXPECT_FALSE(r.click);
    EXPECT_EQ(g.menuRequest(true), Request::Ignore);

    // The keyboard's menu key opens the menu, except in the middle of a press.
    EXPECT_EQ(g.menuRequest(false), Request::OpenNow);
    g.press(at);
    EXPECT_EQ(g.menuRequest(false), Request::Ignore);
    EXPECT_TRUE(g.isDown());
    g.release(at);
    EXPECT_FALSE(g.isDown());

    // A release or a move without a press decides nothing.
    RightButtonGesture fresh;
    EXPECT_FALSE(fresh.move(at + QPoint(50, 50)));
    r = fresh.release(at);
    EXPECT_FALSE(r.click);
    EXPECT_FALSE(r.openMenu);
    EXPECT_EQ(fresh.menuRequest(true), Request::Ignore);
}

TEST(View3DInput, WheelDeltaFollowsTheAxisThatMovedMost)
{
    EXPECT_EQ(wheelNotchDelta(QPoint(0, 120)), 120);
    EXPECT_EQ(wheelNotchDelta(QPoint(0, -240)), -240);
    // Alt held on X11: the ordinary wheel arrives as a horizontal one.
    EXPECT_EQ(wheelNotchDelta(QPoint(120, 0)), 120);
    EXPECT_EQ(wheelNotchDelta(QPoint(-120, 0)), -120);
    EXPECT_EQ(wheelNotchDelta(QPoint(-30, 90)), 90);
    EXPECT_EQ(wheelNotchDelta(QPoint(-90, 30)), -90);
    // A tie goes to the vertical axis.
    EXPECT_EQ(wheelNotchDelta(QPoint(60, -60)), -60);
    EXPECT_EQ(wheelNotchDelta(QPoint(0, 0)), 0);
}

namespace {

// Drives the 3D view's mouse machine as the widget does, with a camera that is in a drag from
// a beginDrag until an endDrag, and keeps the decisions of the last event.
struct MouseDriver {
    using Action = ViewMouse3D::Action;
    ViewMouse3D mouse;
    ZimDragMode drag = ZimDragNone;
    Action last;

    const Action& apply(const Action& a)
    {
        if (a.beginDrag != ZimDragNone) drag = a.beginDrag;
        if (a.endDrag) drag = ZimDragNone;
        return last = a;
    }
    const Action& press(Qt::MouseButton b, QPoint p, ZimKey flags = ZimKeyNone, bool pick = false)
    {
        return apply(mouse.press(b, p, flags, pick));
    }
    const Action& move(Qt::MouseButtons b, QPoint p, ZimKey flags = ZimKeyNone)
    {
        return apply(mouse.move(b, p, flags, drag != ZimDragNone));
    }
    const Action& release(Qt::MouseButton b, QPoint p, bool pick = false)
    {
        return apply(mouse.release(b, p, pick, drag != ZimDragNone));
    }
    const Action& menu(bool fromMouse = true) { return apply(mouse.menuRequest(fromMouse)); }
};

}  // namespace

TEST(View3DMouse, RightClickEndsTheDragWhereItBeganAndOpensTheMenuOnceInEitherOrder)
{
    using Tool = ViewMouse3D::ToolCall;
    const QPoint at(100, 100);

    // X11: press, menu request, a shake within a click's reach, release.
    MouseDriver d;
    EXPECT_EQ(d.press(Qt::RightButton, at).beginDrag, ZimDragOrbit);
    EXPECT_TRUE(d.last.updateCursor);
    EXPECT_FALSE(d.menu().openMenu) << "the menu waits for the release";
    const MouseDriver::Action shake = d.move(Qt::RightButton, at + QPoint(1, 1));
    EXPECT_FALSE(shake.dragTo || shake.redraw || shake.beginDrag != ZimDragNone);
    EXPECT_EQ(shake.tool, Tool::None);
    const MouseDriver::Action up = d.release(Qt::RightButton, at + QPoint(2, 0));
    EXPECT_TRUE(up.endDrag);
    EXPECT_EQ(up.endAt, at) << "a click leaves the camera where it was";
    EXPECT_FALSE(up.modified);
    EXPECT_EQ(up.tool, Tool::RightClick);
    EXPECT_TRUE(up.openMenu);
    EXPECT_FALSE(d.menu().openMenu) << "the click has had its menu";

    // Other systems: press, release, then the request.
    d.press(Qt::RightButton, at);
    EXPECT_FALSE(d.release(Qt::RightButton, at).openMenu);
    EXPECT_EQ(d.last.tool, Tool::RightClick);
    EXPECT_TRUE(d.menu().openMenu);
    EXPECT_FALSE(d.menu().openMenu);

    // The keyboard's menu key needs no press.
    EXPECT_TRUE(d.menu(false).openMenu);
}

TEST(View3DMouse, RightAndMiddleDragsMoveTheCameraAndNeverOpenTheMenu)
{
    using Tool = ViewMouse3D::ToolCall;
    const QPoint at(50, 60);

    MouseDriver d;
    d.press(Qt::RightButton, at);
    d.menu();
    d.move(Qt::RightButton, at + QPoint(10, 0));
    EXPECT_TRUE(d.last.dragTo && d.last.redraw);
    d.move(Qt::RightButton, at + QPoint(20, 0));
    EXPECT_TRUE(d.last.dragTo);
    const MouseDriver::Action up = d.release(Qt::RightButton, at + QPoint(20, 0));
    EXPECT_TRUE(up.endDrag && up.modified && up.redraw);
    EXPECT_EQ(up.endAt, at + QPoint(20, 0));
    EXPECT_EQ(up.tool, Tool::None);
    EXPECT_FALSE(up.openMenu);
    EXPECT_FALSE(d.menu().openMenu);

    // Alt zooms instead of orbiting, from the press or, when the drag was lost, from the move
    // that makes the drag.
    EXPECT_EQ(d.press(Qt::RightButton, at, ZimKeyAlt).beginDrag, ZimDragZoom);
    d.release(Qt::RightButton, at);
    EXPECT_EQ(d.drag, ZimDragNone);
    d.move(Qt::RightButton, at);  // a press the view never saw starts here
    EXPECT_EQ(d.last.beginDrag, ZimDragNone);
    EXPECT_EQ(d.move(Qt::RightButton, at + QPoint(0, 9), ZimKeyAlt).beginDrag, ZimDragZoom);
    EXPECT_FALSE(d.last.dragTo) << "the first step of a late drag only starts it";
    EXPECT_TRUE(d.move(Qt::RightButton, at + QPoint(0, 12)).dragTo);

    // The middle button pans; its release ends the drag where it is.
    MouseDriver m;
    EXPECT_EQ(m.press(Qt::MiddleButton, at).beginDrag, ZimDragPan);
    EXPECT_TRUE(m.move(Qt::MiddleButton, at + QPoint(1, 0)).dragTo) << "panning needs no drag distance";
    const MouseDriver::Action mid = m.release(Qt::MiddleButton, at + QPoint(1, 0));
    EXPECT_TRUE(mid.endDrag && mid.modified);
    EXPECT_EQ(mid.endAt, at + QPoint(1, 0));
    EXPECT_FALSE(m.menu().openMenu);

    // Without a button held moves go to the tool.
    EXPECT_EQ(m.move(Qt::NoButton, at).tool, Tool::Move);
    EXPECT_FALSE(m.last.dragTo);
}

TEST(View3DMouse, LeftButtonWheelAndDoubleClickGoToTheToolUnlessTheViewTakesThem)
{
    using Tool = ViewMouse3D::ToolCall;
    const QPoint at(5, 7);
    MouseDriver d;

    // The left button is the tool's; a pending centre pick takes the press instead.
    EXPECT_EQ(d.press(Qt::LeftButton, at).tool, Tool::Press);
    EXPECT_FALSE(d.last.updateCursor);
    EXPECT_EQ(d.release(Qt::LeftButton, at).tool, Tool::Release);
    EXPECT_TRUE(d.last.redrawAfterTool);
    const MouseDriver::Action pick = d.press(Qt::LeftButton, at, ZimKeyNone, true);
    EXPECT_TRUE(pick.pickCenter && pick.updateCursor);
    EXPECT_EQ(pick.tool, Tool::None);
    EXPECT_EQ(d.release(Qt::LeftButton, at, true).tool, Tool::None);
    EXPECT_EQ(d.drag, ZimDragNone);

    // The wheel zooms; with Ctrl or Shift it is the tool's.
    const MouseDriver::Action zoom = d.mouse.wheel(ZimKeyAlt);
    EXPECT_TRUE(zoom.zoom && zoom.modified && zoom.redraw);
    EXPECT_EQ(zoom.tool, Tool::None);
    for (ZimKey k : {ZimKeyCtrl, ZimKeyShift, ZimKeyCtrl | ZimKeyAlt}) {
        const MouseDriver::Action toTool = d.mouse.wheel(k);
        EXPECT_FALSE(toTool.zoom || toTool.modified);
        EXPECT_EQ(toTool.tool, Tool::Wheel);
    }

    // A double click goes to the tool first, then picks the image; not during a centre pick.
    const MouseDriver::Action twice = d.mouse.doubleClick(false);
    EXPECT_EQ(twice.tool, Tool::DoubleClick);
    EXPECT_TRUE(twice.pickImage);
    const MouseDriver::Action pending = d.mouse.doubleClick(true);
    EXPECT_FALSE(pending.pickImage);
    EXPECT_EQ(pending.tool, Tool::None);

    // Other buttons decide nothing.
    const MouseDriver::Action other = d.press(Qt::BackButton, at);
    EXPECT_FALSE(other.updateCursor || other.beginDrag != ZimDragNone || other.tool != Tool::None);
}
