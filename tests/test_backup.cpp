// The backup picture without a window: its size, the screen-to-texture solve, painting records
// (coverage, blending, overlap order, degenerate triangles, the band split) and gap filling.
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "TexturePainter.h"
#include "ViewMath.h"

using namespace orvUI;

namespace {

// A 24-bit image with marks, gray as the backup starts.
ref_ptr<IZimImage> backupImage(int w, int h)
{
    ref_ptr<IZimImage> image = zim::newZimImage();
    EXPECT_NE(image->imageCreate(w, h, 24, 1), nullptr);
    fillBackupGray(image.get());
    return image;
}

// A texture of one colour (channel 0 first).
ref_ptr<IZimImage> flatImage(int w, int h, int colour, int bits = 24)
{
    ref_ptr<IZimImage> image = zim::newZimImage();
    EXPECT_NE(image->imageCreate(w, h, bits, 0), nullptr);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image->imageSetPixel(x, y, colour, true);
    return image;
}

// A texture whose colour follows the position: channel 0 = x, channel 1 = y, channel 2 = 50.
ref_ptr<IZimImage> rampImage(int w, int h)
{
    ref_ptr<IZimImage> image = zim::newZimImage();
    EXPECT_NE(image->imageCreate(w, h, 24, 0), nullptr);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image->imageSetPixel(x, y, (x & 0xff) | (y & 0xff) << 8 | 50 << 16, false);
    return image;
}

// A record whose screen corners are given in picture pixels of a w x h picture (before the
// +0.5 the painter adds) and texture corners in 0..1.
ref_ptr<TqTriangleIndex> record(int w, int h, std::array<XPnt2d, 3> screen, std::array<XPnt2f, 3> tex, long mesh)
{
    XPnt3d s[3];
    for (int k = 0; k < 3; ++k) s[k] = XPnt3d(screen[k].x / w, screen[k].y / h, 0.5);
    const XPnt3f o(0, 0, 0);
    return zim::newTqTriangleIndex(0, 1, 2, o, o, o, s[0], s[1], s[2], tex[0], tex[1], tex[2], mesh);
}

std::array<unsigned char, 3> pixel(const ref_ptr<IZimImage>& image, int x, int y)
{
    unsigned char p[4] = {0, 0, 0, 0};
    image->imageGetPixel(p, x, y, false);
    return {p[0], p[1], p[2]};
}

int paintedCount(const ref_ptr<IZimImage>& image)
{
    int n = 0;
    for (int y = 0; y < image->imageHeight(); ++y)
        for (int x = 0; x < image->imageWidth(); ++x) n += image->imageGetMark(x, y) != 0;
    return n;
}

bool samePixels(const ref_ptr<IZimImage>& a, const ref_ptr<IZimImage>& b)
{
    const int w = a->imageWidth(), h = a->imageHeight();
    for (int y = 0; y < h; ++y) {
        if (std::memcmp(a->imageData(y), b->imageData(y), std::size_t(w) * 3) != 0) return false;
        for (int x = 0; x < w; ++x)
            if (a->imageGetMark(x, y) != b->imageGetMark(x, y)) return false;
    }
    return true;
}

TexturePainter::AlphaSource noAlpha()
{
    return [](int) { return ref_ptr<IZimImage>(); };
}

}  // namespace

TEST(BackupSize, LongerSideIsCappedAt2048WithTheAspectKept)
{
    EXPECT_EQ(backupImageSize(3000, 1000), QSize(2048, 682));
    EXPECT_EQ(backupImageSize(1000, 3000), QSize(682, 2048));
    EXPECT_EQ(backupImageSize(2048, 100), QSize(2048, 100));
    EXPECT_EQ(backupImageSize(4096, 4096), QSize(2048, 2048));
    EXPECT_EQ(backupImageSize(1920, 1080), QSize(1920, 1080));
}

TEST(BackupAffine, MapsTheScreenCornersOntoTheTextureCornersAsTheMatrixSolveDoes)
{
    QRandomGenerator random(7);
    for (int n = 0; n < 200; ++n) {
        XPnt2f screen[3], texture[3];
        for (int k = 0; k < 3; ++k) {
            screen[k] = XPnt2f(float(random.bounded(2000.0)), float(random.bounded(1200.0)));
            texture[k] = XPnt2f(float(random.bounded(4096.0)), float(random.bounded(4096.0)));
        }
        float m[6];
        // The general solve: the matrix type's inversion of (x, y, 1) rows times the (u, v) rows.
        zim::matrix<float> a(3, 3), b(3, 2);
        for (int k = 0; k < 3; ++k) {
            a(k, 0) = screen[k].x;
            a(k, 1) = screen[k].y;
            a(k, 2) = 1.0f;
            b(k, 0) = texture[k].x;
            b(k, 1) = texture[k].y;
        }
        const bool solved = screenToTextureAffine(screen, texture, m);
        ASSERT_EQ(solved, a.invert());
        if (!solved) continue;
        const zim::matrix<float> viewer = a * b;
        // Bit for bit the general solve.
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 2; ++j) ASSERT_EQ(m[i * 2 + j], viewer(i, j)) << n;
        for (int k = 0; k < 3; ++k) {
            const float u = m[0] * screen[k].x + m[2] * screen[k].y + m[4];
            const float v = m[1] * screen[k].x + m[3] * screen[k].y + m[5];
            // Single precision over thin random triangles: half a texture pixel.
            EXPECT_NEAR(u, texture[k].x, 0.5f);
            EXPECT_NEAR(v, texture[k].y, 0.5f);
        }
    }
    // A known map: u = 2 x + 1, v = 3 y - 4, exactly.
    const XPnt2f s3[3] = {{0, 0}, {10, 0}, {0, 10}};
    const XPnt2f t3[3] = {{1, -4}, {21, -4}, {1, 26}};
    float known[6];
    ASSERT_TRUE(screenToTextureAffine(s3, t3, known));
    const float expected[6] = {2, 0, 0, 3, 1, -4};
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(known[i], expected[i]) << i;
    // Three screen points on one line make the system singular.
    const XPnt2f line[3] = {{0, 0}, {10, 5}, {20, 10}};
    const XPnt2f tex[3] = {{0, 0}, {1, 0}, {0, 1}};
    float m[6];
    testing::internal::CaptureStdout();
    EXPECT_FALSE(screenToTextureAffine(line, tex, m));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "invert is not availble!\n");
}

TEST(BackupPainting, CoverageIsTheTriangleGrownByOnePixelDiagonally)
{
    const int W = 64, H = 48;
    ref_ptr<IZimImage> backup = backupImage(W, H);
    const TextureImageMap textures{{3, flatImage(8, 8, 0x2040ff)}};
    TriangleRecords records{record(W, H, {XPnt2d(10.2, 7.7), XPnt2d(40.9, 12.1), XPnt2d(22.4, 35.6)},
                                   {XPnt2f(0.1f, 0.1f), XPnt2f(0.9f, 0.2f), XPnt2f(0.5f, 0.9f)}, 3)};
    TexturePainter painter(backup, textures, noAlpha());
    ASSERT_TRUE(painter.paintRecords(records, nullptr));

    // Independent check with the kernel's point-in-triangle test on the four diagonal
    // neighbours; the border rows and columns are never scanned.
    ref_ptr<Pnt2fArray> tri(new Pnt2fArray());
    for (const XPnt3d* s : {&records[0]->Screen0(), &records[0]->Screen1(), &records[0]->Screen2()})
        tri->append(XPnt2f(float(W * s->x + 0.5), float(H * s->y + 0.5)));
    int expected = 0;
    for (int x = 0; x < W; ++x)
        for (int y = 0; y < H; ++y) {
            bool covered = x >= 1 && y >= 1 && x < W - 1 && y < H - 1 &&
                           (zim::PntInTri(x + 1, y + 1, tri) || zim::PntInTri(x + 1, y - 1, tri) ||
                            zim::PntInTri(x - 1, y + 1, tri) || zim::PntInTri(x - 1, y - 1, tri));
            expected += covered;
            ASSERT_EQ(backup->imageGetMark(x, y) != 0, covered) << x << "," << y;
            const auto p = pixel(backup, x, y);
            if (covered)
                EXPECT_EQ(p, (std::array<unsigned char, 3>{0xff, 0x40, 0x20}));
            else
                EXPECT_EQ(p, (std::array<unsigned char, 3>{128, 128, 128}));
        }
    EXPECT_GT(expected, 300);
}

TEST(BackupPainting, TextureCoordinatesFollowTheAffineMap)
{
    // A triangle covering the picture's lower left half, mapped onto the same half of a 256 x 256
    // ramp texture scaled to 128 x 128 screen pixels: pixel (x, y) samples about (2x, 2y).
    const int W = 128, H = 128;
    ref_ptr<IZimImage> backup = backupImage(W, H);
    const TextureImageMap textures{{0, rampImage(256, 256)}};
    TriangleRecords records{record(W, H, {XPnt2d(-0.5, -0.5), XPnt2d(127.5, -0.5), XPnt2d(-0.5, 127.5)},
                                   {XPnt2f(0, 0), XPnt2f(1, 0), XPnt2f(0, 1)}, 0)};
    TexturePainter painter(backup, textures, noAlpha());
    ASSERT_TRUE(painter.paintRecords(records, nullptr));
    for (const QPoint& p : {QPoint(10, 10), QPoint(60, 20), QPoint(20, 90), QPoint(5, 100)}) {
        ASSERT_NE(backup->imageGetMark(p.x(), p.y()), 0);
        const auto c = pixel(backup, p.x(), p.y());
        EXPECT_NEAR(c[0], 2 * p.x(), 1) << p.x();
        EXPECT_NEAR(c[1], 2 * p.y(), 1) << p.y();
        EXPECT_EQ(c[2], 50);
    }
    // The far corner lies outside the triangle and beyond its one-pixel growth.
    EXPECT_EQ(backup->imageGetMark(120, 120), 0);
}

TEST(BackupPainting, AlphaBlendsOverThePictureBeforeTheMesh)
{
    const int W = 40, H = 40;
    ref_ptr<IZimImage> backup = backupImage(W, H);
    // Mesh 2 has a transparency image of its texture's size: 0 in the bottom row, 255 above.
    ref_ptr<IZimImage> alpha = zim::newZimImage();
    ASSERT_NE(alpha->imageCreate(4, 4, 24, 0), nullptr);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) alpha->imageSetPixel(x, y, y >= 1 ? 0xffffff : 0, false);
    const TextureImageMap textures{{1, flatImage(4, 4, 0xff0000)}, {2, flatImage(4, 4, 0x00ff00)}};
    auto alphaOf = [alpha](int mesh) { return mesh == 2 ? alpha : ref_ptr<IZimImage>(); };
    const std::array<XPnt2f, 3> all{XPnt2f(0, 0), XPnt2f(1, 0), XPnt2f(0, 1)};
    TriangleRecords records{// Mesh 2, walked last: two coinciding triangles over the whole picture with u = x / 20
                            // and v = y / 20. Both blend over the picture as it was before mesh 2.
                            record(W, H, {XPnt2d(-0.5, -0.5), XPnt2d(79.5, -0.5), XPnt2d(-0.5, 79.5)}, all, 2),
                            record(W, H, {XPnt2d(-0.5, -0.5), XPnt2d(79.5, -0.5), XPnt2d(-0.5, 79.5)}, all, 2),
                            // Mesh 1, walked first: the left part in channel 2.
                            record(W, H, {XPnt2d(-40, -40), XPnt2d(60, -40), XPnt2d(-40, 120)}, all, 1)};
    TexturePainter painter(backup, textures, alphaOf);
    ASSERT_TRUE(painter.paintRecords(records, nullptr));

    using Px = std::array<unsigned char, 3>;
    // Alpha 255 (v >= 1.5): the texture as it is.
    EXPECT_EQ(pixel(backup, 5, 36), (Px{0, 255, 0}));
    EXPECT_EQ(pixel(backup, 35, 36), (Px{0, 255, 0}));
    // Alpha 0 (v <= 0.5): the picture before mesh 2, marked painted.
    EXPECT_EQ(pixel(backup, 5, 3), (Px{0, 0, 255}));
    EXPECT_EQ(pixel(backup, 37, 3), (Px{128, 128, 128}));
    EXPECT_EQ(backup->imageGetMark(37, 3), 255);
    // v = 1.1: alpha 153, blended once (twice would give 63 in channel 2 at (5, 22)).
    EXPECT_EQ(pixel(backup, 5, 22), (Px{0, 153, 102}));
    EXPECT_EQ(pixel(backup, 35, 22), (Px{51, 204, 51}));
}

TEST(BackupPainting, LaterRecordsWinAndDegenerateCornersAreClipped)
{
    const int W = 30, H = 20;
    ref_ptr<IZimImage> backup = backupImage(W, H);
    const TextureImageMap textures{
        {0, flatImage(4, 4, 0x0000ff)}, {1, flatImage(4, 4, 0x00ff00)}, {5, ref_ptr<IZimImage>()}};
    const std::array<XPnt2f, 3> tex{XPnt2f(0, 0), XPnt2f(1, 0), XPnt2f(0, 1)};
    TriangleRecords records{// walked last: mesh 1 over mesh 0 where they overlap
                            record(W, H, {XPnt2d(2, 2), XPnt2d(20, 2), XPnt2d(2, 15)}, tex, 1),
                            record(W, H, {XPnt2d(2, 2), XPnt2d(28, 2), XPnt2d(2, 18)}, tex, 0),
                            // a null texture: skipped
                            record(W, H, {XPnt2d(0, 0), XPnt2d(29, 0), XPnt2d(0, 19)}, tex, 5),
                            // degenerate: two corners on one pixel; one corner beyond the picture's right edge
                            record(W, H, {XPnt2d(25.1, 17.2), XPnt2d(25.3, 17.4), XPnt2d(31.7, 3.2)}, tex, 0)};
    TexturePainter painter(backup, textures, noAlpha());
    ASSERT_TRUE(painter.paintRecords(records, nullptr));
    EXPECT_EQ(pixel(backup, 5, 5), (std::array<unsigned char, 3>{0, 255, 0}));
    EXPECT_EQ(pixel(backup, 24, 4), (std::array<unsigned char, 3>{255, 0, 0}));
    // The degenerate record paints its corner pixel (25, 17) only; (32, 3) lies outside.
    EXPECT_EQ(pixel(backup, 25, 17), (std::array<unsigned char, 3>{255, 0, 0}));
    EXPECT_EQ(backup->imageGetMark(26, 17), 0);
    EXPECT_EQ(backup->imageGetMark(29, 3), 0);
    EXPECT_EQ(backup->imageWidth(), W);
}

TEST(BackupPainting, BandsOfRowsOnSeveralThreadsGiveTheSamePicture)
{
    const int W = 211, H = 157;
    QRandomGenerator random(42);
    TriangleRecords records;
    for (int n = 0; n < 3000; ++n) {
        // Runs of a few meshes, small and large triangles, some reaching past the picture.
        const long mesh = (n / 400) % 3;
        const double cx = random.bounded(W + 20.0) - 10, cy = random.bounded(H + 20.0) - 10;
        const double size = n % 50 == 0 ? 80.0 : random.bounded(6.0);
        std::array<XPnt2d, 3> s;
        std::array<XPnt2f, 3> t;
        for (int k = 0; k < 3; ++k) {
            s[k] = XPnt2d(cx + random.bounded(2 * size + 0.01) - size, cy + random.bounded(2 * size + 0.01) - size);
            t[k] = XPnt2f(float(random.bounded(1.0)), float(random.bounded(1.0)));
        }
        records.append(record(W, H, s, t, mesh));
    }
    ref_ptr<IZimImage> alpha = rampImage(32, 32);
    const TextureImageMap textures{{0, rampImage(64, 64)}, {1, flatImage(16, 16, 0x336699)}, {2, rampImage(300, 20)}};
    auto alphaOf = [alpha](int mesh) { return mesh == 1 ? alpha : ref_ptr<IZimImage>(); };

    ref_ptr<IZimImage> one = backupImage(W, H);
    TexturePainter sequential(one, textures, alphaOf);
    sequential.setThreads(1);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(sequential.paintRecords(records, nullptr));
    const std::string singular = testing::internal::GetCapturedStdout();
    EXPECT_GT(paintedCount(one), W * H / 2);
    for (int threads : {2, 3, 7}) {
        ref_ptr<IZimImage> many = backupImage(W, H);
        TexturePainter parallel(many, textures, alphaOf);
        parallel.setThreads(threads);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(parallel.paintRecords(records, nullptr));
        // The same message lines too: each singular record reports once.
        EXPECT_EQ(testing::internal::GetCapturedStdout().size(), singular.size()) << threads;
        EXPECT_TRUE(samePixels(one, many)) << threads << " threads";
    }
}

TEST(BackupGaps, EachPassGrowsThePaintedAreaByOnePixel)
{
    ref_ptr<IZimImage> image = backupImage(20, 20);
    image->imageSetPixel(10, 10, 0x0a1464, false);
    image->imageSetMark(10, 10, 255);
    fillImageGaps(image.get(), 1);
    EXPECT_EQ(paintedCount(image), 9);
    EXPECT_EQ(pixel(image, 11, 9), (std::array<unsigned char, 3>{0x64, 0x14, 0x0a}));
    fillImageGaps(image.get(), 2);
    EXPECT_EQ(paintedCount(image), 49);
    EXPECT_EQ(image->imageGetMark(13, 13), 255);
    EXPECT_EQ(image->imageGetMark(14, 13), 0);
    EXPECT_EQ(pixel(image, 14, 13), (std::array<unsigned char, 3>{128, 128, 128}));

    // Averages of the marked neighbours only, truncated; a corner pixel sees its 2 x 2 block.
    ref_ptr<IZimImage> avg = backupImage(3, 3);
    const int colours[5] = {0x000000, 0x000003, 0x000a00, 0x640000, 0x010101};
    const QPoint at[5] = {QPoint(0, 0), QPoint(1, 0), QPoint(2, 0), QPoint(0, 1), QPoint(2, 1)};
    for (int i = 0; i < 5; ++i) {
        avg->imageSetPixel(at[i].x(), at[i].y(), colours[i], false);
        avg->imageSetMark(at[i].x(), at[i].y(), 255);
    }
    fillImageGaps(avg.get(), 1);
    // (1, 1): five painted neighbours: (0+3+0+0+1)/5, (0+0+10+0+1)/5, (0+0+0+100+1)/5.
    EXPECT_EQ(pixel(avg, 1, 1), (std::array<unsigned char, 3>{0, 2, 20}));
    // (0, 2): neighbours (0, 1) and (1, 1) — only (0, 1) was painted before the pass.
    EXPECT_EQ(pixel(avg, 0, 2), (std::array<unsigned char, 3>{0, 0, 100}));
    EXPECT_EQ(paintedCount(avg), 9);
}

TEST(BackupSelection, DepthTestSumsTheSignedDifferencesBeforeTakingTheirSize)
{
    // Buffer depths 0.5 everywhere; window depths off by +0.3, -0.3, +0.3 (x 1e-4) pass, while
    // 0.2, 0.2, 0.1 fail although each one alone is small.
    const float buffer[3] = {0.5f, 0.5f, 0.5f};
    const double small[3] = {0.5 + 0.3e-4, 0.5 - 0.3e-4, 0.5 + 0.3e-4};
    const double summed[3] = {0.5 + 0.2e-4, 0.5 + 0.2e-4, 0.5 + 0.1e-4};
    const double behind[3] = {0.5 - 0.5e-4, 0.5, 0.5};
    EXPECT_TRUE(passesDepthTest(small, buffer));
    EXPECT_FALSE(passesDepthTest(summed, buffer));
    EXPECT_FALSE(passesDepthTest(behind, buffer));
}

TEST(BackupSelection, ProjectionAgreesWithGluProject)
{
    SelectionView view;
    const int vp[4] = {0, 0, 1920, 1080};
    std::memcpy(view.viewport, vp, sizeof vp);
    ref_ptr<IZimTrackBall> ball = zim::newTrackBall();
    ball->setViewport(1920, 1080);
    ASSERT_EQ(ball->setLookAt({3, -40, 25}, {1, 2, 0}, {0, 0, 1}), 0);
    ball->getModelViewMatrix(view.modelView);
    ball->getProjectionMatrix(view.projection);
    QRandomGenerator random(3);
    for (int n = 0; n < 500; ++n) {
        const double x = random.bounded(40.0) - 20, y = random.bounded(40.0) - 20, z = random.bounded(10.0);
        double mine[3], glu[3];
        ASSERT_TRUE(projectLikeGlu(view, x, y, z, mine));
        ASSERT_EQ(gluProject(x, y, z, view.modelView, view.projection, view.viewport, &glu[0], &glu[1], &glu[2]),
                  GL_TRUE);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(mine[k], glu[k]) << n << " " << k;
    }
}

TEST(BackupPainting, DirectSamplingGivesTheImageOwnBytes)
{
    QRandomGenerator random(11);
    for (int bits : {24, 32}) {
        ref_ptr<IZimImage> image = zim::newZimImage();
        ASSERT_NE(image->imageCreate(37, 23, bits, 0), nullptr);  // rows padded to 4 bytes
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x) image->imageSetPixel(x, y, int(random.generate()), true);
        const BilinearSampler sampler(image.get());
        ASSERT_TRUE(sampler.direct());
        for (int n = 0; n < 5000; ++n) {
            // Inside, on the borders and beyond them (clamped).
            const float u = float(random.bounded(41.0) - 2.0), v = float(random.bounded(27.0) - 2.0);
            unsigned char mine[4] = {1, 2, 3, 4}, theirs[4] = {5, 6, 7, 8};
            sampler.sample(u, v, mine);
            ASSERT_TRUE(image->imageSample(theirs, u, v, 4, ZimImageBilinear, nullptr));
            ASSERT_EQ(std::memcmp(mine, theirs, 4), 0) << bits << " " << u << " " << v;
        }
    }
}
