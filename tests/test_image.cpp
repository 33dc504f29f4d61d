// Images: creation rules, the bottom-up B,G,R(,A) pixel layout, marks, editing, files, sampling
// and resampling.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QtGlobal>
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include "TestSupport.h"
#include "ZimGeometry64t.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using Px = std::array<int, 4>;
using Bytes = std::vector<unsigned char>;
constexpr unsigned char kUntouched = 0xEE;

// A pixel value as imageSetPixel takes it: channel 0 in the lowest byte.
int packed(int c0, int c1, int c2, int c3 = 0)
{
    return int(unsigned(c0) | unsigned(c1) << 8 | unsigned(c2) << 16 | unsigned(c3) << 24);
}
// A 24-bit pixel as px() reads it: byte 3 is never written.
Px bgr(int b, int g, int r) { return {b, g, r, kUntouched}; }

ref_ptr<IZimImage> makeImage(int w, int h, int bits, int flags = ZimImageNoMarks)
{
    ref_ptr<IZimImage> img = zim::newZimImage();
    EXPECT_NE(img->imageCreate(w, h, bits, flags), nullptr) << w << "x" << h << "@" << bits;
    return img;
}

Px px(const ref_ptr<IZimImage>& img, int x, int y, bool clamp = false)
{
    unsigned char out[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    EXPECT_TRUE(img->imageGetPixel(out, x, y, clamp)) << "pixel " << x << "," << y;
    return {out[0], out[1], out[2], out[3]};
}

Px sample(const ref_ptr<IZimImage>& img, float u, float v, int bytes, int filter, const unsigned char* border = nullptr)
{
    unsigned char out[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    EXPECT_TRUE(img->imageSample(out, u, v, bytes, filter, border)) << u << "," << v;
    return {out[0], out[1], out[2], out[3]};
}

// A colour that differs in every channel at every position, for images up to 8 x 8.
Px patternAt(int x, int y, bool alpha)
{
    return {1 + 17 * x + 3 * y, 2 + 5 * x + 29 * y, 250 - 7 * x - 13 * y, alpha ? 255 - 20 * x - 9 * y : kUntouched};
}

void paint(const ref_ptr<IZimImage>& img)
{
    for (int y = 0; y < img->imageHeight(); ++y)
        for (int x = 0; x < img->imageWidth(); ++x) {
            const Px p = patternAt(x, y, true);
            img->imageSetPixel(x, y, packed(p[0], p[1], p[2], p[3]), true);
        }
}

void expectPattern(const ref_ptr<IZimImage>& img, int tolerance = 0)
{
    for (int y = 0; y < img->imageHeight(); ++y)
        for (int x = 0; x < img->imageWidth(); ++x) {
            const Px got = px(img, x, y), want = patternAt(x, y, img->imageHasAlpha());
            for (int c = 0; c < 4; ++c) EXPECT_NEAR(got[c], want[c], tolerance) << x << "," << y << " channel " << c;
        }
}

// Pixel bytes without the row padding, then the marks.
Bytes contents(const ref_ptr<IZimImage>& img)
{
    Bytes out;
    for (int y = 0; y < img->imageHeight() && img->imageData(y); ++y)
        out.insert(out.end(), img->imageData(y), img->imageData(y) + img->imageWidth() * img->imageBits() / 8);
    if (img->imageHasMarks())
        out.insert(out.end(), img->imageMarkData(), img->imageMarkData() + img->imageWidth() * img->imageHeight());
    return out;
}

}  // namespace

TEST(ImageCreate, EmptyImagesAndBadSizesGiveNothingAndLeaveTheImage)
{
    ref_ptr<IZimImage> empty = zim::newZimImage();
    unsigned char out[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    QString path = "leftover";
    EXPECT_FALSE(empty->getImagePath(path));
    EXPECT_TRUE(path.isEmpty());
    EXPECT_FALSE(empty->imageData(0) || empty->imageMarkData() || empty->imageGetPixel(out, 0, 0, true) ||
                 empty->imageSetPixel(0, 0, 1, false) ||
                 empty->imageSample(out, 0.5f, 0.5f, 4, ZimImageBilinear, nullptr));
    EXPECT_EQ(out[0], kUntouched);
    EXPECT_EQ(empty->imageResize(2, 2, ZimImageResizeSmooth, 0), -1);

    ref_ptr<IZimImage> img = makeImage(2, 2, 24, ZimImageWithMarks);
    img->imageSetPixel(1, 1, packed(9, 8, 7), false);
    img->imageSetMark(1, 0, 42);
    const Bytes before = contents(img);
    const int bad[][3] = {{0, 5, 24}, {-3, 4, 24},          {INT_MIN, 1, 24},       {4, 4, 0},       {4, 4, 16},
                          {4, 4, 48}, {200000, 200000, 24}, {INT_MAX, INT_MAX, 32}, {1 << 30, 1, 32}};
    for (const auto& b : bad)
        for (int flags : {ZimImageNoMarks, ZimImageWithMarks})
            EXPECT_EQ(img->imageCreate(b[0], b[1], b[2], flags), nullptr) << b[0] << "x" << b[1] << "@" << b[2];
    EXPECT_EQ(img->imageWidth(), 2);
    EXPECT_EQ(img->imageBits(), 24);
    EXPECT_EQ(contents(img), before);
}

TEST(ImageCreate, RowsAreBottomUpPaddedToFourBytesAndHoldBgr)
{
    const int rows[][3] = {{1, 24, 4}, {2, 24, 8}, {3, 24, 12}, {4, 24, 12}, {5, 24, 16}, {1, 32, 4}, {7, 32, 28}};
    for (const auto& c : rows) {
        ref_ptr<IZimImage> img = zim::newZimImage();
        unsigned char* first = img->imageCreate(c[0], 3, c[1], ZimImageNoMarks);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(img->imageRowBytes(), c[2]) << "width " << c[0] << " at " << c[1];
        EXPECT_EQ(img->imageHasAlpha(), c[1] == 32);
        for (int row = 0; row < 3; ++row) EXPECT_EQ(img->imageData(row), first + row * c[2]);
        EXPECT_FALSE(img->imageData(3) || img->imageData(-1) || img->imageMarkData() || img->imageHasMarks());
        EXPECT_EQ(contents(img), Bytes(std::size_t(c[0] * 3 * c[1] / 8), 0));
    }

    // Pixel (x, y) lives at imageData(y) + x * 3 as B, G, R; the QImage view has the top row first.
    ref_ptr<IZimImage> img = makeImage(3, 2, 24);
    img->imageSetPixel(1, 0, packed(0x11, 0x22, 0x33), false);
    img->imageData(1)[0] = 7, img->imageData(1)[1] = 8, img->imageData(1)[2] = 9;
    EXPECT_EQ(Bytes(img->imageData(0) + 3, img->imageData(0) + 6), (Bytes{0x11, 0x22, 0x33}));
    EXPECT_EQ(px(img, 0, 1), bgr(7, 8, 9));
    const QImage q = img->imageToQImage();
    ASSERT_EQ(q.format(), QImage::Format_RGB888);
    EXPECT_EQ(q.pixel(1, 1), qRgb(0x33, 0x22, 0x11));
    EXPECT_EQ(q.pixel(0, 0), qRgb(9, 8, 7));

    ASSERT_NE(img->imageCreate(2, 2, 32, ZimImageWithMarks), nullptr);
    EXPECT_TRUE(img->imageHasAlpha() && img->imageHasMarks());
    EXPECT_EQ(contents(img), Bytes(20, 0)) << "creating again replaces depth, pixels and marks";
}

TEST(ImagePixels, ChannelOrderClampAndPositionsOutside)
{
    ref_ptr<IZimImage> img = makeImage(3, 2, 24);
    paint(img);
    expectPattern(img);
    const int clamped[][4] = {{-1, 0, 0, 0}, {-100, -100, 0, 0}, {3, 0, 2, 0}, {50, 1, 2, 1},
                              {1, 2, 1, 1},  {1, -7, 1, 0},      {9, 9, 2, 1}};
    for (const auto& c : clamped)
        EXPECT_EQ(px(img, c[0], c[1], true), patternAt(c[2], c[3], false)) << c[0] << "," << c[1];

    const Bytes before = contents(img);
    for (auto xy : {std::array<int, 2>{-1, 0}, {3, 0}, {3, 1}, {0, 2}, {0, -1}, {INT_MAX, 0}, {0, INT_MIN}}) {
        unsigned char out[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
        EXPECT_FALSE(img->imageGetPixel(out, xy[0], xy[1], false)) << xy[0] << "," << xy[1];
        EXPECT_FALSE(img->imageSetPixel(xy[0], xy[1], packed(1, 2, 3, 4), true)) << xy[0] << "," << xy[1];
        EXPECT_EQ(std::count(out, out + 4, kUntouched), 4);
    }
    EXPECT_EQ(contents(img), before);
    ASSERT_TRUE(img->imageSetPixel(0, 0, packed(0xDD, 0xCC, 0xBB, 0xAA), true));
    EXPECT_EQ(px(img, 0, 0), bgr(0xDD, 0xCC, 0xBB));
    EXPECT_EQ(px(img, 1, 0), patternAt(1, 0, false)) << "byte 3 of the colour has nowhere to go";
}

TEST(ImagePixels, AlphaIsKeptOrReplacedAndMarksAreAPlaneOfTheirOwn)
{
    ref_ptr<IZimImage> img = makeImage(3, 2, 32, ZimImageWithMarks);
    ASSERT_TRUE(img->imageSetPixel(1, 0, packed(0x11, 0x22, 0x33, 0x80), true));
    EXPECT_EQ(Bytes(img->imageData(0) + 4, img->imageData(0) + 8), (Bytes{0x11, 0x22, 0x33, 0x80}));
    ASSERT_TRUE(img->imageSetPixel(1, 0, packed(0x44, 0x55, 0x66, 0x01), false));
    EXPECT_EQ(px(img, 1, 0), (Px{0x44, 0x55, 0x66, 0x80})) << "without withAlpha the alpha stays";
    EXPECT_EQ(img->imageToQImage().pixel(1, 1), qRgba(0x66, 0x55, 0x44, 0x80));

    // One byte per pixel, no padding, row 0 first.
    unsigned char* marks = img->imageMarkData();
    img->imageSetMark(2, 1, 7);
    marks[1] = 3;
    EXPECT_EQ(marks[5], 7);
    EXPECT_EQ(img->imageGetMark(1, 0), 3);
    for (auto xy : {std::array<int, 2>{-1, 0}, {3, 0}, {0, 2}, {0, -1}}) {
        img->imageSetMark(xy[0], xy[1], 5);
        EXPECT_EQ(img->imageGetMark(xy[0], xy[1]), 0);
    }
    EXPECT_EQ(std::count(marks, marks + 6, 0), 4);
    EXPECT_EQ(px(img, 2, 1), (Px{0, 0, 0, 0})) << "marking touches no pixel";
    ref_ptr<IZimImage> plain = makeImage(3, 2, 24);
    plain->imageSetMark(1, 1, 8);
    EXPECT_EQ(plain->imageGetMark(1, 1), 0);
}

TEST(ImageEdit, SwapFillResetAndDeepClone)
{
    for (int bits : {24, 32}) {
        ref_ptr<IZimImage> img = makeImage(3, 3, bits);  // odd width: padded rows
        paint(img);
        EXPECT_EQ(img->imageSwapChannels(), 0);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x) {
                Px p = patternAt(x, y, bits == 32);
                std::swap(p[0], p[2]);
                EXPECT_EQ(px(img, x, y), p) << x << "," << y << " at " << bits;
            }
    }

    // A size that is no multiple of 4, so rows are split across threads.
    ref_ptr<IZimImage> big = makeImage(37, 29, 32, ZimImageWithMarks);
    EXPECT_EQ(big->imageFill(packed(0x12, 0x34, 0x56, 0x78), 5), 0);
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 37; ++x) {
            ASSERT_EQ(px(big, x, y), (Px{0x12, 0x34, 0x56, 0x78})) << x << "," << y;
            ASSERT_EQ(big->imageGetMark(x, y), 5) << x << "," << y;
        }
    EXPECT_EQ(big->imageReset(), 0);
    EXPECT_EQ(contents(big), Bytes(37 * 29 * 5, 0));

    QTemporaryDir dir;
    ref_ptr<IZimImage> img = makeImage(3, 2, 32, ZimImageWithMarks);
    paint(img);
    img->imageSetMark(2, 1, 77);
    ASSERT_EQ(img->imageSave(dir.filePath("source.png"), ZimImageSavePng), 0);
    ref_ptr<IZimImage> copy = img->imageClone();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->referenceCount(), 1);
    QString path;
    EXPECT_TRUE(copy->getImagePath(path));
    EXPECT_EQ(path, dir.filePath("source.png"));
    const Bytes before = contents(img);
    EXPECT_EQ(contents(copy), before);
    img->imageFill(0, 1);
    EXPECT_EQ(contents(copy), before);
    copy->imageReset();
    EXPECT_EQ(img->imageGetMark(2, 1), 1);
}

// ---------------------------------------------------------------------------------------------

TEST(ImageFiles, LosslessFormatsRoundTripWithTheTopRowFirstOnDisk)
{
    QTemporaryDir dir;
    for (int bits : {24, 32})
        for (const char* suffix : {"png", "bmp", "tif", "tiff"}) {
            const QString path = dir.filePath(QStringLiteral("rt%1.%2").arg(bits).arg(suffix));
            SCOPED_TRACE(path.toStdString());
            ref_ptr<IZimImage> img = makeImage(5, 3, bits);
            paint(img);
            ASSERT_EQ(img->imageSave(path, ZimImageSaveBySuffix), 0) << img->imageLastError().toStdString();
            QString saved;
            EXPECT_TRUE(img->getImagePath(saved));
            EXPECT_EQ(saved, path);
            // BMP keeps no alpha; TIFF keeps it premultiplied, so colours come back within rounding.
            const bool alpha = bits == 32 && QByteArray(suffix) != "bmp";
            const int tolerance = alpha && QByteArray(suffix).startsWith("tif") ? 2 : 0;
            const QRgb topLeft = QImage(path).convertToFormat(QImage::Format_ARGB32).pixel(0, 0);
            for (int c = 0; c < 3; ++c)  // read independently: the top row first, red from channel 2
                EXPECT_NEAR((Px{qBlue(topLeft), qGreen(topLeft), qRed(topLeft)})[c], patternAt(0, 2, false)[c],
                            tolerance);
            QString error;
            ref_ptr<IZimImage> back = zim::loadZimImage(path, &error);
            ASSERT_TRUE(back) << error.toStdString();
            EXPECT_EQ(back->imageBits(), alpha ? 32 : 24);
            EXPECT_FALSE(back->imageHasMarks());
            expectPattern(back, tolerance);
            EXPECT_TRUE(back->getImagePath(saved));
            EXPECT_EQ(QFileInfo(saved).canonicalFilePath(), QFileInfo(path).canonicalFilePath());
        }
}

TEST(ImageFiles, JpegAndCommittedFilesLoadWithDepthRowsAndChannels)
{
    // quadrants_16x16.jpg: top red | green, bottom blue | white; saved again as JPEG and read back.
    auto quadrant = [](int x, int y) {
        return y >= 8 ? (x < 8 ? bgr(0, 0, 255) : bgr(0, 255, 0)) : (x < 8 ? bgr(255, 0, 0) : bgr(255, 255, 255));
    };
    QTemporaryDir dir;
    ref_ptr<IZimImage> img = zim::loadZimImage(orvtest::dataPath("quadrants_16x16.jpg"));
    ASSERT_TRUE(img);
    for (const QString& path : {QString(), dir.filePath("q.jpg"), dir.filePath("q.jpeg")}) {
        SCOPED_TRACE(path.toStdString());
        if (!path.isEmpty()) {
            ASSERT_EQ(img->imageSave(path, ZimImageSaveBySuffix), 0) << img->imageLastError().toStdString();
            EXPECT_GT(qRed(QImage(path).pixel(3, 3)), 200) << "the top row comes first in the file";
        }
        ref_ptr<IZimImage> back = path.isEmpty() ? img : zim::loadZimImage(path);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->imageBits(), 24);
        for (auto xy : {std::array<int, 2>{3, 3}, {12, 3}, {3, 12}, {12, 12}})
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(px(back, xy[0], xy[1])[c], quadrant(xy[0], xy[1])[c], 50);
    }

    // rgb_3x2.png, top row first: red, green, blue / (10,20,30), (40,50,60), (70,80,90) as R,G,B.
    ref_ptr<IZimImage> rgb = zim::loadZimImage(orvtest::dataPath("rgb_3x2.png"));
    ASSERT_TRUE(rgb);
    EXPECT_EQ((std::vector<Px>{px(rgb, 0, 1), px(rgb, 2, 1), px(rgb, 0, 0), px(rgb, 2, 0)}),
              (std::vector<Px>{bgr(0, 0, 255), bgr(255, 0, 0), bgr(30, 20, 10), bgr(90, 80, 70)}));
    EXPECT_EQ(rgb->imageData(0)[0], 30);
    // rgba_2x2.png, top row first: (255,0,0,128), (0,255,0,255) / (0,0,255,64), (200,100,50,255).
    ref_ptr<IZimImage> rgba = zim::loadZimImage(orvtest::dataPath("rgba_2x2.png"));
    ASSERT_TRUE(rgba);
    EXPECT_EQ(rgba->imageBits(), 32);
    EXPECT_EQ((std::vector<Px>{px(rgba, 0, 1), px(rgba, 0, 0), px(rgba, 1, 0)}),
              (std::vector<Px>{{0, 0, 255, 128}, {255, 0, 0, 64}, {50, 100, 200, 255}}));
}

TEST(ImageFiles, SaveFlagsChooseTheFormatAndFailuresNameThePath)
{
    QTemporaryDir dir;
    ref_ptr<IZimImage> img = makeImage(4, 4, 24);
    paint(img);
    const QByteArray png("\x89PNG", 4), jpeg("\xFF\xD8\xFF", 3), tiff("II*", 3);
    const struct {
        const char* name;
        int flags;
        QByteArray magic;
    } cases[] = {{"forced.jpg", ZimImageSavePng, png},    {"forced.bmp", ZimImageSavePng, png},
                 {"nosuffix", ZimImageSaveBySuffix, png}, {"by.png", ZimImageSaveBySuffix, png},
                 {"by.bmp", ZimImageSaveBySuffix, "BM"},  {"by.jpg", ZimImageSaveBySuffix, jpeg},
                 {"by.jpeg", ZimImageSaveBySuffix, jpeg}, {"by.tif", ZimImageSaveBySuffix, tiff},
                 {"by.tiff", ZimImageSaveBySuffix, tiff}};
    for (const auto& c : cases) {
        ASSERT_EQ(img->imageSave(dir.filePath(c.name), c.flags), 0) << c.name;
        const QByteArray head = orvtest::readFile(dir.filePath(c.name)).left(4);
        EXPECT_TRUE(head.startsWith(c.magic) || (c.magic == tiff && head == QByteArray("MM\0*", 4))) << c.name;
    }
    ref_ptr<IZimImage> back = zim::loadZimImage(dir.filePath("forced.jpg"));
    ASSERT_TRUE(back);
    expectPattern(back);

    ASSERT_TRUE(orvtest::writeFile(dir.filePath("plainfile"), "x"));
    const QString good = dir.filePath("nosuffix");
    ASSERT_EQ(img->imageSave(good, ZimImageSavePng), 0);
    for (const QString& path : {dir.filePath("no_such_folder/deeper/out.png"), dir.filePath("plainfile/out.png"),
                                dir.filePath("no_such_folder/out.jpg")})
        for (int flags : {ZimImageSavePng, ZimImageSaveBySuffix}) {
            EXPECT_EQ(img->imageSave(path, flags), -1) << path.toStdString();
            EXPECT_TRUE(img->imageLastError().contains(QFileInfo(path).fileName()))
                << img->imageLastError().toStdString();
            EXPECT_FALSE(QFileInfo::exists(path));
            QString current;
            EXPECT_TRUE(img->getImagePath(current));
            EXPECT_EQ(current, good) << "a failed save must not take over the image's path";
        }
    EXPECT_EQ(zim::newZimImage()->imageSave(dir.filePath("empty.png"), ZimImageSavePng), -1);
}

TEST(ImageFiles, LoadFailuresLeaveTheImageUnchangedAndNameTheFile)
{
    QTemporaryDir dir;
    QImage big(64, 64, QImage::Format_RGB888);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) big.setPixel(x, y, qRgb(x * 4, y * 4, (x * y) & 255));
    ASSERT_TRUE(big.save(dir.filePath("whole.png")) && big.save(dir.filePath("whole.jpg")));
    const QByteArray png = orvtest::readFile(dir.filePath("whole.png")),
                     jpeg = orvtest::readFile(dir.filePath("whole.jpg"));
    const struct {
        const char* name;
        QByteArray bytes;
    } files[] = {{"half.png", png.left(png.size() / 2)},
                 {"half.jpg", jpeg.left(jpeg.size() / 2)},
                 {"no_end.jpg", jpeg.left(jpeg.size() - 2)},  // without its end-of-image marker
                 {"really_text.png", "This is a note, not a picture.\n"},
                 {"zero_bytes.png", ""}};
    QStringList bad{dir.filePath("missing.png"), dir.filePath("a_folder.png"), orvtest::dataPath("truncated_tex.png")};
    ASSERT_TRUE(QDir().mkpath(bad[1]));
    for (const auto& f : files) {
        bad << dir.filePath(f.name);
        ASSERT_TRUE(orvtest::writeFile(bad.back(), f.bytes));
    }
    ref_ptr<IZimImage> img = zim::loadZimImage(orvtest::dataPath("rgba_2x2.png"));
    ASSERT_TRUE(img);
    img->imageSetPixel(0, 0, packed(1, 2, 3, 4), true);
    const Bytes before = contents(img);
    for (const QString& path : bad) {
        SCOPED_TRACE(path.toStdString());
        for (int scaled = 0; scaled < 2; ++scaled) {
            EXPECT_EQ(scaled ? img->imageLoadScaled(path, 1) : img->imageLoad(path), -1);
            EXPECT_TRUE(img->imageLastError().contains(QFileInfo(path).fileName()))
                << img->imageLastError().toStdString();
            EXPECT_EQ(contents(img), before);
            QString current;
            EXPECT_TRUE(img->getImagePath(current));
            EXPECT_EQ(QFileInfo(current).fileName(), "rgba_2x2.png");
        }
        QString error;
        EXPECT_FALSE(zim::loadZimImage(path, &error));
        EXPECT_TRUE(error.contains(QFileInfo(path).fileName())) << error.toStdString();
    }
}

TEST(ImageFiles, LoadScaledFitsInsideMaxSideKeepingAspect)
{
    QTemporaryDir dir;
    QImage q(40, 20, QImage::Format_RGB888);  // top half red, bottom half blue
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) q.setPixel(x, y, y < 10 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    ASSERT_TRUE(q.save(dir.filePath("wide.png")) && q.save(dir.filePath("wide.jpg"), "JPEG", 95));
    for (const char* name : {"wide.png", "wide.jpg"}) {
        for (int maxSide : {10, 7, 25, 40, 100, 0, -5}) {
            SCOPED_TRACE(testing::Message() << name << " at most " << maxSide);
            ref_ptr<IZimImage> img = zim::newZimImage();
            ASSERT_EQ(img->imageLoadScaled(dir.filePath(name), maxSide), 0) << img->imageLastError().toStdString();
            const int w = img->imageWidth(), h = img->imageHeight();
            EXPECT_EQ(w, maxSide > 0 ? std::min(maxSide, 40) : 40);
            EXPECT_NEAR(w / 2.0, h, 1.0) << w << "x" << h;
            EXPECT_GT(px(img, w / 2, 0)[0], 190) << "bottom row blue";
            EXPECT_GT(px(img, w / 2, h - 1)[2], 190) << "top row red";
        }
    }
}

// ---------------------------------------------------------------------------------------------

TEST(ImageSample, BilinearBetweenPixelCentresWithClampedEdges)
{
    // Channel c of pixel (i, j) = 10 + 40 i + 80 j + 10 c: linear in the position, so bilinear
    // sampling between centres reproduces it, and beyond the outer centres the edges extend.
    ref_ptr<IZimImage> img = makeImage(3, 2, 24);
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 3; ++i)
            img->imageSetPixel(i, j, packed(10 + 40 * i + 80 * j, 20 + 40 * i + 80 * j, 30 + 40 * i + 80 * j), false);
    for (float u : {-4.0f, 0.0f, 0.25f, 0.5f, 0.8f, 1.0f, 1.5f, 2.2f, 2.5f, 2.75f, 3.0f, 9.0f})
        for (float v : {-1.0f, 0.0f, 0.3f, 0.5f, 1.0f, 1.2f, 1.5f, 1.9f, 2.0f, 5.0f}) {
            const Px got = sample(img, u, v, 3, ZimImageBilinear);
            const double want = 10 + 40 * (std::clamp(u, 0.5f, 2.5f) - 0.5) + 80 * (std::clamp(v, 0.5f, 1.5f) - 0.5);
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want + 10 * c, 1.0) << u << "," << v << " channel " << c;
            EXPECT_EQ(got[3], kUntouched) << "three bytes asked for, three written";
        }
    EXPECT_EQ(sample(img, 1.5f, 0.5f, 4, ZimImageBilinear), (Px{50, 60, 70, 255})) << "alpha 255 without alpha";

    // The cross term: only the top-right of four pixels is lit.
    ref_ptr<IZimImage> corner = makeImage(2, 2, 24);
    corner->imageSetPixel(1, 1, packed(200, 200, 200), false);
    const float pts[][3] = {
        {1.0f, 1.0f, 50}, {1.5f, 1.0f, 100}, {1.0f, 1.5f, 100}, {1.25f, 1.25f, 112.5f}, {0.75f, 1.0f, 25}};
    for (const auto& p : pts)
        EXPECT_NEAR(sample(corner, p[0], p[1], 3, ZimImageBilinear)[1], p[2], 1.0) << p[0] << "," << p[1];

    // Nearest: the pixel containing (u, v), clamped at the edges.
    const float near[][4] = {{0.99f, 0.2f, 0, 0}, {1.01f, 0.2f, 1, 0}, {2.6f, 1.99f, 2, 1}, {1.5f, 1.2f, 1, 1},
                             {3.0f, 2.0f, 2, 1},  {-3.0f, 0.5f, 0, 0}, {8.0f, 8.0f, 2, 1}};
    for (const auto& p : near)
        EXPECT_EQ(sample(img, p[0], p[1], 3, ZimImageNearest), px(img, int(p[2]), int(p[3]))) << p[0] << "," << p[1];
}

TEST(ImageSample, AlphaBorderColourAndNaN)
{
    ref_ptr<IZimImage> alpha = makeImage(2, 1, 32);  // same colour, alpha 0 and 200
    alpha->imageSetPixel(0, 0, packed(100, 110, 120, 0), true);
    alpha->imageSetPixel(1, 0, packed(100, 110, 120, 200), true);
    const Px mid = sample(alpha, 1.0f, 0.5f, 4, ZimImageBilinear);
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(mid[c], (Px{100, 110, 120, 100})[c], 1) << "channel " << c;

    const unsigned char border[4] = {1, 2, 3, 4};
    ref_ptr<IZimImage> flat = makeImage(2, 2, 32);
    flat->imageFill(packed(50, 60, 70, 80), 0);
    for (int filter : {ZimImageBilinear, ZimImageNearest}) {
        for (auto uv : {std::array<float, 2>{-1.0f, 1.0f}, {3.0f, 1.0f}, {1.0f, -1.0f}, {1.0f, 3.0f}})
            EXPECT_EQ(sample(flat, uv[0], uv[1], 4, filter, border), (Px{1, 2, 3, 4})) << uv[0] << "," << uv[1];
        EXPECT_EQ(sample(flat, 0.5f, 1.5f, 4, filter, border), (Px{50, 60, 70, 80}));
        const float nan = std::numeric_limits<float>::quiet_NaN();
        for (const unsigned char* b : {static_cast<const unsigned char*>(nullptr), border}) {
            unsigned char out[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
            EXPECT_FALSE(flat->imageSample(out, nan, 0.5f, 4, filter, b) ||
                         flat->imageSample(out, 0.5f, nan, 4, filter, b));
            EXPECT_EQ(std::count(out, out + 4, kUntouched), 4);
        }
    }
}

// ---------------------------------------------------------------------------------------------

TEST(ImageResize, FlatStaysFlatWhateverTheAlphaAndACheckerAveragesOnlyWhenSmooth)
{
    for (int alpha : {-1, 255, 200, 40}) {  // -1: a 24-bit image
        const int bits = alpha < 0 ? 24 : 32;
        ref_ptr<IZimImage> img = makeImage(7, 5, bits);
        img->imageFill(packed(10, 20, 30, alpha), 0);
        for (auto size : {std::array<int, 2>{3, 2}, {13, 9}, {1, 1}, {7, 5}}) {
            ASSERT_EQ(img->imageResize(size[0], size[1], ZimImageResizeSmooth, 0), 0);
            ASSERT_EQ(img->imageHeight(), size[1]);
            EXPECT_EQ(img->imageRowBytes(), (size[0] * bits / 8 + 3) / 4 * 4);
            for (int y = 0; y < size[1]; ++y)
                for (int x = 0; x < size[0]; ++x) {
                    const Px p = px(img, x, y), want{10, 20, 30, alpha < 0 ? kUntouched : alpha};
                    for (int c = 0; c < 4; ++c)
                        ASSERT_NEAR(p[c], want[c], 1) << "alpha " << alpha << " at " << size[0] << "x" << size[1];
                }
        }
    }
    // A checker of a transparent and an opaque colour: smooth halving averages every channel on
    // its own, fast resizing only ever copies whole source pixels, transparent ones included.
    const Px clear{10, 20, 30, 0}, solid{200, 150, 100, 255};
    ref_ptr<IZimImage> checker = makeImage(8, 6, 32);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const Px& c = (x + y) % 2 ? solid : clear;
            checker->imageSetPixel(x, y, packed(c[0], c[1], c[2], c[3]), true);
        }
    for (auto size :
         {std::array<int, 3>{4, 3, ZimImageResizeSmooth}, {4, 3, ZimImageResizeFast}, {16, 12, ZimImageResizeFast}}) {
        ref_ptr<IZimImage> img = checker->imageClone();
        ASSERT_EQ(img->imageResize(size[0], size[1], size[2], 0), 0);
        for (int y = 0; y < size[1]; ++y)
            for (int x = 0; x < size[0]; ++x) {
                const Px p = px(img, x, y);
                if (size[2] == ZimImageResizeFast) {
                    ASSERT_TRUE(p == clear || p == solid) << x << "," << y << " is in no source pixel at " << size[0];
                } else {
                    for (int c = 0; c < 4; ++c) ASSERT_NEAR(p[c], (clear[c] + solid[c]) / 2.0, 3) << x << "," << y;
                }
            }
    }
}

TEST(ImageResize, MarksComeFromTheSamePixelAsTheNearestColour)
{
    // Distinct pixels and marks; the nearest source of column x is the pixel containing its
    // centre, (x + 0.5) * sourceWidth / width, and the same for rows.
    const int cases[][4] = {{5, 3, 2, 2}, {3, 2, 2, 5}, {7, 5, 3, 3}, {2, 3, 5, 8}, {3, 7, 8, 2}};
    for (const auto& c : cases) {
        for (int mode : {ZimImageResizeFast, ZimImageResizeSmooth}) {
            SCOPED_TRACE(testing::Message()
                         << c[0] << "x" << c[1] << " -> " << c[2] << "x" << c[3] << " mode " << mode);
            ref_ptr<IZimImage> img = makeImage(c[0], c[1], 24, ZimImageWithMarks);
            for (int y = 0; y < c[1]; ++y)
                for (int x = 0; x < c[0]; ++x) {
                    img->imageSetPixel(x, y, packed(30 * x, 30 * y, 7), false);
                    img->imageSetMark(x, y, static_cast<unsigned char>(1 + x + 10 * y));
                }
            ASSERT_EQ(img->imageResize(c[2], c[3], mode, 0), 0);
            for (int y = 0; y < c[3]; ++y)
                for (int x = 0; x < c[2]; ++x) {
                    const int sx = int((x + 0.5) * c[0] / c[2]), sy = int((y + 0.5) * c[1] / c[3]);
                    EXPECT_EQ(img->imageGetMark(x, y), 1 + sx + 10 * sy) << x << "," << y;
                    if (mode == ZimImageResizeFast) {
                        EXPECT_EQ(px(img, x, y), bgr(30 * sx, 30 * sy, 7)) << x << "," << y;
                    }
                }
        }
    }
}

TEST(ImageResize, KeepsRowOrderHonoursAspectAndRefusesBadSizes)
{
    for (int mode : {ZimImageResizeSmooth, ZimImageResizeFast}) {
        ref_ptr<IZimImage> img = makeImage(8, 8, 24);  // quadrants, q = right + 2 * top
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) img->imageSetPixel(x, y, packed(60 * (x / 4 + 2 * (y / 4)), 10, 7), false);
        ASSERT_EQ(img->imageResize(4, 4, mode, 0), 0);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_NEAR(px(img, x, y)[0], 60 * (x / 2 + 2 * (y / 2)), 2) << x << "," << y;
    }
    ref_ptr<IZimImage> wide = makeImage(8, 4, 24, ZimImageWithMarks);
    const int fits[][4] = {{4, 4, 4, 2}, {10, 10, 10, 5}, {3, 100, 3, 1}};
    for (const auto& f : fits) {
        ASSERT_EQ(wide->imageResize(f[0], f[1], ZimImageResizeSmooth, 1), 0);
        EXPECT_EQ(QSize(wide->imageWidth(), wide->imageHeight()), QSize(f[2], f[3])) << f[0] << "x" << f[1];
    }
    paint(wide);
    const Bytes before = contents(wide);
    for (auto size : {std::array<int, 2>{0, 4}, {4, 0}, {-1, 4}, {200000, 200000}, {INT_MAX, INT_MAX}})
        for (int mode : {ZimImageResizeSmooth, ZimImageResizeFast})
            EXPECT_EQ(wide->imageResize(size[0], size[1], mode, 0), -1) << size[0] << "x" << size[1];
    EXPECT_EQ(contents(wide), before);
}

// ---- files that must not be read, and pictures decoded reduced -----------------------------

namespace {

// The pixel at (x, y) counted from the top, as R, G, B, A (A 255 without alpha).
Px topDown(const ref_ptr<IZimImage>& img, int x, int y)
{
    unsigned char p[4] = {0, 0, 0, 255};
    EXPECT_TRUE(img->imageGetPixel(p, x, img->imageHeight() - 1 - y, false));
    return {p[2], p[1], p[0], img->imageBits() == 32 ? p[3] : 255};
}

QStringList& logged()
{
    static QStringList lines;
    return lines;
}

void keepMessage(QtMsgType, const QMessageLogContext&, const QString& message) { logged() << message; }

}  // namespace

TEST(ImageFiles, SpecialOversizedAndUndecodableNamesAreRefusedWithoutBeingRead)
{
    QTemporaryDir dir;
    const QString pipe = dir.filePath("pipe.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkpath("folder.png"));
    {
        // One byte beyond 1 GiB, sparse: refused by its size before anything is read.
        QFile big(dir.filePath("big.png"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize((qint64(1) << 30) + 1));
    }
    const struct {
        QString path;
        const char* why;
    } cases[] = {{pipe, "FIFO"}, {dir.filePath("folder.png"), "folder"}, {dir.filePath("big.png"), "1024 MiB"}};
    for (const auto& c : cases) {
        ref_ptr<IZimImage> img = makeImage(2, 2, 24);
        EXPECT_NE(img->imageLoad(c.path), 0) << c.path.toStdString();
        EXPECT_TRUE(img->imageLastError().contains(c.path) && img->imageLastError().contains(c.why))
            << img->imageLastError().toStdString();
        EXPECT_EQ(img->imageWidth(), 2);
        QString error;
        EXPECT_FALSE(zim::loadZimTexture(c.path, &error));
        EXPECT_TRUE(error.contains(c.why)) << error.toStdString();
    }

    const QByteArray rawName = QFile::encodeName(dir.path()) + "/photo\xE9.png";
    QImage picture(3, 2, QImage::Format_RGB888);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(dir.filePath("plain.png")));
    ASSERT_EQ(::rename(QFile::encodeName(dir.filePath("plain.png")).constData(), rawName.constData()), 0);
    QString error;
    EXPECT_FALSE(zim::loadZimImage(QFile::decodeName(rawName), &error));
    EXPECT_TRUE(error.contains("not valid UTF-8") && !error.contains("does not exist")) << error.toStdString();
    ::unlink(rawName.constData());  // the temporary folder cannot name it to remove it
}

TEST(ImageFiles, PngIsReducedWhileDecodingAveragingEachBlock)
{
    QTemporaryDir dir;
    // 301 x 200, four quadrants, with a one-pixel checker of black and white in the top left.
    QImage rgb(301, 200, QImage::Format_RGB888);
    rgb.fill(QColor(200, 40, 10));
    for (int y = 100; y < 200; ++y)
        for (int x = 0; x < 301; ++x) rgb.setPixelColor(x, y, x < 150 ? QColor(0, 0, 250) : QColor(30, 220, 90));
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 150; ++x) rgb.setPixelColor(x, y, (x + y) % 2 ? Qt::white : Qt::black);
    ASSERT_TRUE(rgb.save(dir.filePath("rgb.png")));
    ref_ptr<IZimImage> img = zim::newZimImage();
    ASSERT_EQ(img->imageLoadScaled(dir.filePath("rgb.png"), 100), 0) << img->imageLastError().toStdString();
    EXPECT_EQ(QSize(img->imageWidth(), img->imageHeight()), QSize(100, 66));
    EXPECT_EQ(img->imageFullSize(), QSize(301, 200));
    EXPECT_EQ(img->imageBits(), 24);
    const Px checker = topDown(img, 20, 15);
    EXPECT_NEAR(checker[0], 128, 3);
    EXPECT_EQ(checker[0], checker[1]);
    EXPECT_EQ(topDown(img, 80, 10), (Px{200, 40, 10, 255}));
    EXPECT_EQ(topDown(img, 20, 50), (Px{0, 0, 250, 255}));
    EXPECT_EQ(topDown(img, 80, 50), (Px{30, 220, 90, 255}));

    // Grey, a palette with a transparent entry, and 16 bits a channel with alpha.
    QImage grey(64, 64, QImage::Format_Grayscale8);
    grey.fill(90);
    ASSERT_TRUE(grey.save(dir.filePath("grey.png")));
    QImage palette(64, 64, QImage::Format_Indexed8);
    palette.setColorTable({qRgba(0, 0, 0, 0), qRgba(10, 250, 20, 255)});
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) palette.setPixel(x, y, x < 32 ? 0 : 1);
    ASSERT_TRUE(palette.save(dir.filePath("palette.png")));
    QImage deep(64, 64, QImage::Format_RGBA64);
    deep.fill(QColor::fromRgba64(0xFFFF, 0x8080, 0, 0x8080));
    ASSERT_TRUE(deep.save(dir.filePath("deep.png")));
    const struct {
        const char* file;
        int bits;
        Px left, right;
    } cases[] = {{"grey.png", 24, {90, 90, 90, 255}, {90, 90, 90, 255}},
                 {"palette.png", 32, {0, 0, 0, 0}, {10, 250, 20, 255}},
                 {"deep.png", 32, {255, 128, 0, 128}, {255, 128, 0, 128}}};
    for (const auto& c : cases) {
        ASSERT_EQ(img->imageLoadScaled(dir.filePath(c.file), 16), 0) << c.file << img->imageLastError().toStdString();
        EXPECT_EQ(QSize(img->imageWidth(), img->imageHeight()), QSize(16, 16)) << c.file;
        EXPECT_EQ(img->imageBits(), c.bits) << c.file;
        EXPECT_EQ(topDown(img, 2, 8), c.left) << c.file;
        EXPECT_EQ(topDown(img, 13, 8), c.right) << c.file;
    }

    // A file cut inside its pixel data fails with a message, leaving the image as it was.
    QByteArray cut = orvtest::readFile(dir.filePath("rgb.png"));
    cut.chop(cut.size() / 2);
    ASSERT_TRUE(orvtest::writeFile(dir.filePath("cut.png"), cut));
    EXPECT_NE(img->imageLoadScaled(dir.filePath("cut.png"), 100), 0);
    EXPECT_TRUE(img->imageLastError().contains("cut.png")) << img->imageLastError().toStdString();
    EXPECT_EQ(img->imageWidth(), 64 / 4);
}

TEST(ImageFiles, PicturesDecodedReducedAreReadOnlyAndTexturesFollowTheGraphicsLimit)
{
    QTemporaryDir dir;
    QImage source(100, 50, QImage::Format_RGB888);
    source.fill(QColor(10, 20, 30));
    const QString path = dir.filePath("texture.png");
    ASSERT_TRUE(source.save(path));
    const QByteArray before = orvtest::readFile(path);

    const int limit = zim::zimTextureSideLimit();
    zim::setZimTextureSideLimit(64);
    logged().clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
    QString error;
    ref_ptr<IZimImage> texture = zim::loadZimTexture(path, &error);
    qInstallMessageHandler(previous);
    zim::setZimTextureSideLimit(limit);
    ASSERT_TRUE(texture) << error.toStdString();
    EXPECT_EQ(QSize(texture->imageWidth(), texture->imageHeight()), QSize(64, 32));
    EXPECT_EQ(texture->imageFullSize(), QSize(100, 50));
    ASSERT_EQ(logged().size(), 1);
    EXPECT_TRUE(logged()[0].contains(path) && logged()[0].contains("100 x 50") && logged()[0].contains("64 x 32"))
        << logged()[0].toStdString();

    // Nothing paints into it, nothing writes it over the full picture; a copy elsewhere is fine.
    EXPECT_FALSE(texture->imageSetPixel(1, 1, packed(1, 2, 3), false));
    EXPECT_NE(texture->imageFill(packed(1, 2, 3), 0), 0);
    EXPECT_TRUE(texture->imageLastError().contains("read-only")) << texture->imageLastError().toStdString();
    EXPECT_NE(texture->imageSave(path, ZimImageSaveBySuffix), 0);
    EXPECT_NE(texture->imageSave(dir.path() + "/./texture.png", ZimImageSaveBySuffix), 0);
    EXPECT_EQ(orvtest::readFile(path), before);
    ref_ptr<IZimImage> copy = texture->imageClone();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->imageFullSize(), QSize(100, 50));
    EXPECT_FALSE(copy->imageSetPixel(1, 1, 0, false));
    EXPECT_EQ(texture->imageSave(dir.filePath("small.png"), ZimImageSaveBySuffix), 0);

    // Within the limit the texture is the file's own and writable.
    texture = zim::loadZimTexture(path, &error);
    ASSERT_TRUE(texture) << error.toStdString();
    EXPECT_EQ(QSize(texture->imageWidth(), texture->imageHeight()), QSize(100, 50));
    EXPECT_FALSE(texture->imageFullSize().isValid());
    EXPECT_TRUE(texture->imageSetPixel(1, 1, packed(1, 2, 3), false));
    // Loading in full or new content lifts the mark.
    ASSERT_EQ(copy->imageLoad(path), 0);
    EXPECT_FALSE(copy->imageFullSize().isValid());
    EXPECT_EQ(copy->imageFill(0, 0), 0);
}
