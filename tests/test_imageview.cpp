// Placement arithmetic of the 2D view, the photo painting and the texture upload.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>
#include <cmath>
#include <memory>
#include <vector>

#include "NormImageGeometry.h"
#include "OrvTexture.h"
#include "OrvUIElements64t.h"
#include "PhotoRenderer.h"

using namespace orvUI;

namespace {

// ---- coordinates ------------------------------------------------------------------------------

NormImageGeometry placed(double iw, double ih, double ww, double wh, double scale, XPnt2d origin)
{
    NormImageGeometry g;
    g.setWidgetSize(ww, wh);
    g.setImageSize(iw, ih);
    g.setScale(scale);
    g.setOrigin(origin);
    return g;
}

TEST(ImageGeometry, WidgetImageNormalisedRoundTripsAtSeveralPlacements)
{
    const struct {
        double iw, ih, ww, wh, scale;
        XPnt2d origin;
    } cases[] = {
        {400, 200, 600, 600, 1.475, {5, 152.5}},
        {4000, 3000, 1280, 1024, 0.3175, {5, 35.75}},
        {4000, 3000, 1280, 1024, 4.0, {-3000.25, -2200.5}},
        {31, 977, 300, 500, 0.37, {120, 7}},
        {1000, 1000, 800, 700, 12.5, {-9000, 400}},
    };
    for (const auto& c : cases) {
        const NormImageGeometry g = placed(c.iw, c.ih, c.ww, c.wh, c.scale, c.origin);
        for (double wx : {0.0, 17.25, c.ww / 2, c.ww - 1}) {
            for (double wy : {0.0, 3.5, c.wh / 3, c.wh - 1}) {
                // Widget (y down) -> screen (y up) -> image -> normalised -> widget.
                const XPnt3d image = g.screenToImage(wx, c.wh - wy);
                const XPnt2d normalised(image.x / c.iw, image.y / c.ih);
                const XPnt2d back = g.normalisedToScreen(normalised);
                EXPECT_NEAR(back.x, wx, 1e-7) << c.iw << "x" << c.ih << " at scale " << c.scale;
                EXPECT_NEAR(back.y, wy, 1e-7) << c.iw << "x" << c.ih << " at scale " << c.scale;
                const XPnt2d again = g.imageToScreen(XPnt2d(image.x, image.y));
                EXPECT_NEAR(again.x, wx, 1e-7);
                EXPECT_NEAR(again.y, wy, 1e-7);
                const XPnt2d direct = g.widgetToNormalised(XPnt2d(wx, wy));
                EXPECT_NEAR(direct.x, normalised.x, 1e-12);
                EXPECT_NEAR(direct.y, normalised.y, 1e-12);
            }
        }
        // Image coordinates start at the bottom-left corner with y up.
        const XPnt2d bottomLeft = g.imageToScreen(XPnt2d(0, 0));
        EXPECT_NEAR(bottomLeft.x, c.origin.x, 1e-9);
        EXPECT_NEAR(bottomLeft.y, c.origin.y + c.ih * c.scale, 1e-9);
        const XPnt2d topRight = g.normalisedToScreen(XPnt2d(1, 1));
        EXPECT_NEAR(topRight.x, c.origin.x + c.iw * c.scale, 1e-9);
        EXPECT_NEAR(topRight.y, c.origin.y, 1e-9);
    }
}

TEST(ImageGeometry, FitKeepsFivePixelsOfMarginAndCentres)
{
    NormImageGeometry wide;
    wide.setWidgetSize(600, 400);
    wide.setImageSize(1000, 500);  // limited by the width
    wide.fitToWindow();
    EXPECT_DOUBLE_EQ(wide.scale(), 0.59);
    EXPECT_DOUBLE_EQ(wide.origin().x, 5);
    EXPECT_DOUBLE_EQ(wide.origin().y, (400 - 295) / 2.0);

    NormImageGeometry tall;
    tall.setWidgetSize(600, 400);
    tall.setImageSize(300, 1000);  // limited by the height
    tall.fitToWindow();
    EXPECT_DOUBLE_EQ(tall.scale(), 0.39);
    EXPECT_DOUBLE_EQ(tall.origin().y, 5);
    EXPECT_DOUBLE_EQ(tall.origin().x, (600 - 117) / 2.0);

    // A resize recentres at the same scale.
    tall.setWidgetSize(1000, 800);
    tall.recentre();
    EXPECT_DOUBLE_EQ(tall.scale(), 0.39);
    EXPECT_DOUBLE_EQ(tall.origin().x, (1000 - 117) / 2.0);
    EXPECT_DOUBLE_EQ(tall.origin().y, (800 - 390) / 2.0);

    // A widget smaller than its margins still gives a usable, positive scale.
    NormImageGeometry tiny;
    tiny.setWidgetSize(6, 6);
    tiny.setImageSize(4000, 3000);
    tiny.fitToWindow();
    EXPECT_GT(tiny.scale(), 0);
    EXPECT_TRUE(tiny.screenToImage(3, 3).isValid());
}

TEST(ImageGeometry, WheelZoomKeepsThePointUnderTheCursor)
{
    NormImageGeometry g = placed(4000, 3000, 1280, 1024, 1.0, XPnt2d(-100, -50));
    EXPECT_DOUBLE_EQ(NormImageGeometry::wheelStep(120, 1.0), 0.1);
    EXPECT_FALSE(g.zoomAt(7, XPnt2d(300, 200)));  // 7 / 8 is 0
    EXPECT_DOUBLE_EQ(g.scale(), 1.0);

    const XPnt2d cursor(300, 200);
    const XPnt3d before = g.screenToImage(cursor.x, 1024 - cursor.y);
    ASSERT_TRUE(g.zoomAt(120, cursor));
    EXPECT_DOUBLE_EQ(g.scale(), 1.1);
    for (int delta : {240, -120, 360, -480, 120}) {
        ASSERT_TRUE(g.zoomAt(delta, cursor));
        const XPnt3d after = g.screenToImage(cursor.x, 1024 - cursor.y);
        EXPECT_NEAR(after.x, before.x, 1e-9);
        EXPECT_NEAR(after.y, before.y, 1e-9);
    }
}

TEST(ImageGeometry, FastNegativeWheelStopsAtAPositiveMinimum)
{
    NormImageGeometry g = placed(4000, 3000, 1280, 1024, 1.0, XPnt2d(0, 0));
    // One trackpad flick of -1200 would take the scale to exactly 0, -2400 below it.
    for (int delta : {-1200, -2400, -32768}) {
        g.zoomAt(delta, XPnt2d(640, 512));
        EXPECT_GT(g.scale(), 0);
        EXPECT_GE(g.scale(), NormImageGeometry::kMinScale);
        const XPnt3d p = g.screenToImage(10, 10);
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
    }
    EXPECT_DOUBLE_EQ(g.scale(), g.minScale());
    // From the minimum one notch in is still +10 %, and one notch out changes nothing.
    const double least = g.scale();
    EXPECT_FALSE(g.zoomAt(-120, XPnt2d(640, 512)));
    ASSERT_TRUE(g.zoomAt(120, XPnt2d(640, 512)));
    EXPECT_DOUBLE_EQ(g.scale(), least * 1.1);
    // A photo never shrinks below a few pixels on its longer side.
    EXPECT_GE(g.minScale() * 4000, NormImageGeometry::kMinDisplaySide - 1e-9);

    // And zooming in has a ceiling too, far above any real use, before the numbers overflow.
    for (int i = 0; i < 400; ++i) g.zoomAt(32767, XPnt2d(640, 512));
    EXPECT_DOUBLE_EQ(g.scale(), NormImageGeometry::kMaxScale);
    EXPECT_TRUE(g.screenToImage(100, 100).isValid());
}

TEST(ImageGeometry, PanMovesTheImageWithTheCursor)
{
    NormImageGeometry g = placed(800, 600, 1000, 800, 2.0, XPnt2d(10, 20));
    const XPnt3d before = g.screenToImage(500, 400);
    g.panBy(XPnt2d(30, -40));
    EXPECT_EQ(g.origin(), XPnt2d(40, -20));
    const XPnt3d after = g.screenToImage(500, 400);
    // The photo moved right and up on screen by (30, 40) widget pixels, i.e. (15, 20) image
    // pixels: the point now under the same widget position lies that far left and lower down
    // in the photo (image y counts up).
    EXPECT_NEAR(after.x, before.x - 15, 1e-9);
    EXPECT_NEAR(after.y, before.y - 20, 1e-9);
}

// ---- painting ---------------------------------------------------------------------------------

// A picture of four coloured quadrants (top-left red, top-right green, bottom-left blue,
// bottom-right white).
QImage quadrants(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, w / 2, h / 2, Qt::red);
    p.fillRect(w / 2, 0, w - w / 2, h / 2, Qt::green);
    p.fillRect(0, h / 2, w / 2, h - h / 2, Qt::blue);
    p.fillRect(w / 2, h / 2, w - w / 2, h - h / 2, Qt::white);
    return image;
}

QColor expectedQuadrant(const XPnt2d& n)
{
    if (n.x < 0 || n.x > 1 || n.y < 0 || n.y > 1) return Qt::black;  // the background
    if (n.y > 0.5) return n.x < 0.5 ? Qt::red : Qt::green;
    return n.x < 0.5 ? Qt::blue : Qt::white;
}

TEST(PhotoPainting, DrawsOnlyTheVisiblePartWithTheFullPictureMapping)
{
    const NormImageGeometry zoomed = placed(4000, 3000, 1280, 1024, 4.0, XPnt2d(-7000.5, -5000.25));
    QRectF target;
    QRect source;
    ASSERT_TRUE(PhotoRenderer::visiblePart(zoomed, QSize(4000, 3000), &target, &source));
    // 1280 / 4 by 1024 / 4 pixels of the photo, give or take the partly visible ones.
    EXPECT_LE(source.width(), 322);
    EXPECT_LE(source.height(), 258);
    EXPECT_TRUE(target.contains(QRectF(0, 0, 1280, 1024)));
    EXPECT_DOUBLE_EQ(target.left(), -7000.5 + source.left() * 4.0);
    EXPECT_DOUBLE_EQ(target.top(), -5000.25 + source.top() * 4.0);

    // A picture decoded at a quarter of the photo's size covers the same rectangle.
    ASSERT_TRUE(PhotoRenderer::visiblePart(zoomed, QSize(1000, 750), &target, &source));
    EXPECT_DOUBLE_EQ(target.left(), -7000.5 + source.left() * 16.0);

    const NormImageGeometry inside = placed(400, 300, 1280, 1024, 1.0, XPnt2d(100, 100));
    ASSERT_TRUE(PhotoRenderer::visiblePart(inside, QSize(400, 300), &target, &source));
    EXPECT_EQ(source, QRect(0, 0, 400, 300));
    const NormImageGeometry away = placed(400, 300, 1280, 1024, 1.0, XPnt2d(2000, 100));
    EXPECT_FALSE(PhotoRenderer::visiblePart(away, QSize(400, 300), &target, &source));
}

TEST(PhotoPainting, PixelsLandWhereTheGeometrySaysMovingOrStill)
{
    const struct {
        double scale;
        XPnt2d origin;
    } placements[] = {{0.3175, {5, 35.75}}, {4.0, {-1400.5, -1000.25}}, {1.0, {-350, 20}}, {0.05, {600, 500}}};
    for (const auto& at : placements) {
        for (bool still : {false, true}) {
            PhotoRenderer renderer;
            renderer.setPicture(quadrants(4000, 3000));
            const NormImageGeometry g = placed(4000, 3000, 1280, 1024, at.scale, at.origin);
            QImage canvas(1280, 1024, QImage::Format_RGB32);
            canvas.fill(Qt::black);
            QPainter p(&canvas);
            renderer.paint(p, g, still);
            p.end();
            int checked = 0;
            for (int y = 2; y < 1024; y += 37) {
                for (int x = 3; x < 1280; x += 41) {
                    // Away from the quadrant borders and the photo's edges, where smoothing blends.
                    const XPnt2d n = g.widgetToNormalised(XPnt2d(x + 0.5, y + 0.5));
                    const double margin = 3.0 / (4000 * at.scale);
                    if (std::fabs(n.x - 0.5) < margin || std::fabs(n.y - 0.5) < margin || std::fabs(n.x) < margin ||
                        std::fabs(n.x - 1) < margin || std::fabs(n.y) < margin || std::fabs(n.y - 1) < margin)
                        continue;
                    ASSERT_EQ(QColor(canvas.pixel(x, y)), expectedQuadrant(n))
                        << "scale " << at.scale << (still ? " still" : " moving") << " at " << x << "," << y;
                    ++checked;
                }
            }
            EXPECT_GT(checked, 100);
            // Zoomed out and still, a smooth copy of the display size is made once; never a
            // copy of the zoomed-in photo.
            if (still && at.scale < 1)
                EXPECT_EQ(renderer.scaledCopySize(),
                          QSize(int(std::lround(4000 * at.scale)), int(std::lround(3000 * at.scale))));
            else
                EXPECT_TRUE(renderer.scaledCopySize().isEmpty());
        }
    }
}

// ---- texture upload ---------------------------------------------------------------------------

class Texture : public ::testing::Test {
protected:
    void SetUp() override
    {
        context = std::make_unique<QOpenGLContext>();
        ASSERT_TRUE(context->create());
        surface = std::make_unique<QOffscreenSurface>();
        surface->setFormat(context->format());
        surface->create();
        ASSERT_TRUE(context->makeCurrent(surface.get()));
        while (glGetError() != GL_NO_ERROR) {
        }
    }
    void TearDown() override
    {
        if (!names.empty()) glDeleteTextures(GLsizei(names.size()), names.data());
        context->doneCurrent();
    }

    ref_ptr<IZimImage> image(int w, int h, int bits)
    {
        ref_ptr<IZimImage> img = zim::newZimImage();
        EXPECT_NE(img->imageCreate(w, h, bits, 0), nullptr);
        return img;
    }
    GLuint upload(const ref_ptr<IZimImage>& img, bool alpha)
    {
        const long name = initTexture(img.get(), Enve2d(), alpha);
        if (name > 0) names.push_back(GLuint(name));
        return GLuint(name);
    }
    static QSize boundSize()
    {
        GLint w = 0, h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
        return QSize(w, h);
    }
    static std::vector<unsigned char> readBack(QSize size, GLenum format)
    {
        std::vector<unsigned char> out(std::size_t(size.width()) * size.height() * (format == GL_RGBA ? 4 : 3));
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, format, GL_UNSIGNED_BYTE, out.data());
        return out;
    }

    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    std::vector<GLuint> names;
};

TEST_F(Texture, SizesFollowTheCapAndTheMultipleOfFourRule)
{
    const struct {
        int w, h, tw, th;
    } cases[] = {
        {1001, 500, 1000, 499}, {4000, 3000, 2048, 1536}, {3000, 4000, 1536, 2048},
        {640, 480, 640, 480},   {2048, 2048, 2048, 2048}, {2050, 1000, 2048, 999},
        {3, 3, 4, 4},           {5000, 2, 2048, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(textureSizeFor(c.w, c.h), QSize(c.tw, c.th)) << c.w << "x" << c.h;
        const GLuint name = upload(image(c.w, c.h, 24), false);
        ASSERT_GT(name, 0u) << c.w << "x" << c.h;
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(GLuint(bound), name);
        EXPECT_EQ(boundSize(), QSize(c.tw, c.th)) << c.w << "x" << c.h;
        GLint minFilter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        EXPECT_EQ(minFilter, GL_LINEAR);
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Texture, ChannelsArriveAsRgbAndTheImageIsLeftAsItWas)
{
    ref_ptr<IZimImage> img = image(8, 4, 24);
    // Colour ints hold channel 0 (blue) in the lowest byte: R 200, G 100, B 50 at (1, 0), and
    // R 10, G 20, B 30 at (7, 3).
    ASSERT_TRUE(img->imageSetPixel(1, 0, 50 | (100 << 8) | (200 << 16), false));
    ASSERT_TRUE(img->imageSetPixel(7, 3, 30 | (20 << 8) | (10 << 16), false));
    ASSERT_GT(upload(img, true), 0u);  // no alpha in the image: the RGB path
    const std::vector<unsigned char> rgb = readBack(QSize(8, 4), GL_RGB);
    const auto texel = [&](int x, int y) { return &rgb[std::size_t(y * 8 + x) * 3]; };
    EXPECT_EQ(texel(1, 0)[0], 200);
    EXPECT_EQ(texel(1, 0)[1], 100);
    EXPECT_EQ(texel(1, 0)[2], 50);
    EXPECT_EQ(texel(7, 3)[0], 10);
    EXPECT_EQ(texel(7, 3)[2], 30);
    unsigned char pixel[4] = {0, 0, 0, 0};
    ASSERT_TRUE(img->imageGetPixel(pixel, 1, 0, false));
    EXPECT_EQ(pixel[0], 50);  // still B, G, R
    EXPECT_EQ(pixel[2], 200);
}

TEST_F(Texture, AlphaImagesUploadRgbaOrDropTheirAlphaCleanly)
{
    ref_ptr<IZimImage> img = image(4, 2, 32);
    const int colour = 40 | (120 << 8) | (220 << 16) | (77 << 24);  // B 40, G 120, R 220, A 77
    ASSERT_TRUE(img->imageSetPixel(2, 1, colour, true));

    ASSERT_GT(upload(img, true), 0u);
    GLint alphaBits = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alphaBits);
    EXPECT_GT(alphaBits, 0);
    std::vector<unsigned char> rgba = readBack(QSize(4, 2), GL_RGBA);
    const unsigned char* t = &rgba[(1 * 4 + 2) * 4];
    EXPECT_EQ(t[0], 220);
    EXPECT_EQ(t[1], 120);
    EXPECT_EQ(t[2], 40);
    EXPECT_EQ(t[3], 77);

    // Without alpha a 32-bit image still gives the right colours (its 4-byte pixels are not
    // read as 3-byte ones) and the texture has no alpha.
    ASSERT_GT(upload(img, false), 0u);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alphaBits);
    EXPECT_EQ(alphaBits, 0);
    rgba = readBack(QSize(4, 2), GL_RGB);
    t = &rgba[(1 * 4 + 2) * 3];
    EXPECT_EQ(t[0], 220);
    EXPECT_EQ(t[1], 120);
    EXPECT_EQ(t[2], 40);
    unsigned char pixel[4] = {0, 0, 0, 0};
    ASSERT_TRUE(img->imageGetPixel(pixel, 2, 1, false));
    EXPECT_EQ(pixel[0], 40);
    EXPECT_EQ(pixel[3], 77);
}

TEST_F(Texture, RowsAreReadAsStoredWhateverTheCallersUnpackState)
{
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 3);
    ref_ptr<IZimImage> img = image(12, 3, 24);  // 36-byte rows
    ASSERT_TRUE(img->imageSetPixel(11, 2, 9 | (8 << 8) | (7 << 16), false));
    ASSERT_GT(upload(img, false), 0u);
    const std::vector<unsigned char> rgb = readBack(QSize(12, 3), GL_RGB);
    const unsigned char* t = &rgb[std::size_t(2 * 12 + 11) * 3];
    EXPECT_EQ(t[0], 7);
    EXPECT_EQ(t[1], 8);
    EXPECT_EQ(t[2], 9);
    GLint alignment = 0, rowLength = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
    EXPECT_EQ(alignment, 8);
    EXPECT_EQ(rowLength, 3);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

TEST_F(Texture, EmptyImagesMakeNoTexture)
{
    GLint before = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &before);
    EXPECT_EQ(initTexture(nullptr, Enve2d(), false), 0);
    ref_ptr<IZimImage> empty = zim::newZimImage();
    EXPECT_EQ(initTexture(empty.get(), Enve2d(), true), 0);
    GLint after = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &after);
    EXPECT_EQ(after, before);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_TRUE(textureSizeFor(0, 10).isEmpty());
    EXPECT_TRUE(textureSizeFor(10, -1).isEmpty());
}

}  // namespace
