#include "ZimImage.h"

#include <png.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QtDebug>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "ImageWriteErrors.h"
#include "ZimFiles.h"

namespace zim {
namespace detail {

namespace {

ZIM_TR_CONTEXT("ZimImage")

// Largest image file read; larger ones are refused before reading.
constexpr qint64 kMaxFileBytes = qint64(1) << 30;
// Pictures whose full decode stays within this many pixels may be decoded whole and then
// scaled; larger ones are reduced while decoding (JPEG, non-interlaced PNG) or refused.
constexpr qint64 kWholeDecodePixels = qint64(64) << 20;

// The PNG decoder refuses a file cut short; the JPEG decoder accepts files that end early and fill the rest with gray.
// A whole JPEG ends in an end-of-image marker (a little trailing padding is tolerated) that lies after its first scan;
// the first scan starts in the header, so neither test reads more than the two ends.
bool jpegLooksComplete(const QByteArray& bytes)
{
    const int firstScan = bytes.indexOf(QByteArrayLiteral("\xFF\xDA"));
    if (firstScan < 0) return false;
    const int tail = std::max(firstScan + 2, bytes.size() - 4096);
    return bytes.indexOf(QByteArrayLiteral("\xFF\xD9"), tail) >= 0;
}

QByteArray formatForSuffix(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) return "jpeg";
    if (suffix == QLatin1String("bmp")) return "bmp";
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff")) return "tiff";
    if (suffix == QLatin1String("png") || suffix.isEmpty()) return "png";
    const QByteArray asked = suffix.toLatin1();
    return QImageWriter::supportedImageFormats().contains(asked) ? asked : QByteArray();
}

// The source pixel whose centre is nearest to the centre of output pixel i.
int nearestSource(int i, int sourceSize, int targetSize)
{
    const int j = int(((std::int64_t(i) * 2 + 1) * sourceSize) / (std::int64_t(targetSize) * 2));
    return std::min(j, sourceSize - 1);
}

// Resampling weights along one axis: for output i, `size` source indices and weights.
struct Taps {
    int size = 1;
    std::vector<int> index;
    std::vector<float> weight;
};

Taps makeTaps(int sourceSize, int targetSize, bool smooth)
{
    Taps taps;
    if (!smooth) {
        taps.index.resize(std::size_t(targetSize));
        taps.weight.assign(std::size_t(targetSize), 1.0f);
        for (int i = 0; i < targetSize; ++i) taps.index[std::size_t(i)] = nearestSource(i, sourceSize, targetSize);
        return taps;
    }
    const double scale = double(sourceSize) / double(targetSize);
    if (scale > 1.0) {
        // Shrinking: each output pixel averages the source area it covers.
        taps.size = int(std::ceil(scale)) + 1;
        taps.index.assign(std::size_t(targetSize) * std::size_t(taps.size), 0);
        taps.weight.assign(std::size_t(targetSize) * std::size_t(taps.size), 0.0f);
        for (int i = 0; i < targetSize; ++i) {
            const double from = i * scale;
            const double to = std::min(double(sourceSize), (i + 1) * scale);
            int k = 0;
            for (int j = int(std::floor(from)); j < sourceSize && j < to && k < taps.size; ++j, ++k) {
                const double overlap = std::min(to, double(j + 1)) - std::max(from, double(j));
                const std::size_t tap = std::size_t(i) * std::size_t(taps.size) + std::size_t(k);
                taps.index[tap] = j;
                taps.weight[tap] = float(overlap / (to - from));
            }
        }
        return taps;
    }
    // Growing: bilinear between source pixel centres, edges clamped.
    taps.size = 2;
    taps.index.assign(std::size_t(targetSize) * 2, 0);
    taps.weight.assign(std::size_t(targetSize) * 2, 0.0f);
    for (int i = 0; i < targetSize; ++i) {
        const double x = std::clamp((i + 0.5) * scale - 0.5, 0.0, double(sourceSize - 1));
        const int j = int(x);
        const float t = float(x - j);
        taps.index[std::size_t(i) * 2] = j;
        taps.weight[std::size_t(i) * 2] = 1.0f - t;
        taps.index[std::size_t(i) * 2 + 1] = std::min(j + 1, sourceSize - 1);
        taps.weight[std::size_t(i) * 2 + 1] = t;
    }
    return taps;
}

// ---- PNG reduced while decoding ---------------------------------------------------------------
//
// The PNG decoder of the image reader decodes the whole picture before scaling it: a 20000 x
// 20000 texture took gigabytes for a result of a few hundred megabytes. Here the rows stream
// through libpng and are resampled by area as they come (the weights of makeTaps), so memory is
// that of one source row, two output rows being summed and the result.

struct PngInput {
    const QByteArray* bytes = nullptr;
    std::size_t offset = 0;
    char message[200] = {};
};

void pngRead(png_structp png, png_bytep data, png_size_t length)
{
    auto* in = static_cast<PngInput*>(png_get_io_ptr(png));
    if (length > std::size_t(in->bytes->size()) - in->offset) png_error(png, "the file is truncated");
    std::memcpy(data, in->bytes->constData() + in->offset, length);
    in->offset += length;
}

[[noreturn]] void pngFail(png_structp png, png_const_charp message)
{
    auto* in = static_cast<PngInput*>(png_get_error_ptr(png));
    std::snprintf(in->message, sizeof in->message, "%s", message ? message : "");
    png_longjmp(png, 1);
}

void pngIgnore(png_structp, png_const_charp) {}

// Holds everything the decode allocates, so a jump out of libpng leaks nothing.
struct PngDecode {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<unsigned char> row;
    std::vector<float> across;   // the current source row resampled to the output width
    std::vector<float> sums[2];  // the two output rows a source row may add to
    Taps columns, rows;
    ~PngDecode() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

// The last source index output `i` takes a share of.
int lastTap(const Taps& taps, int i)
{
    int last = 0;
    for (int k = 0; k < taps.size; ++k) {
        const std::size_t t = std::size_t(i) * std::size_t(taps.size) + std::size_t(k);
        if (taps.weight[t] > 0.0f) last = std::max(last, taps.index[t]);
    }
    return last;
}

float tapWeight(const Taps& taps, int i, int source)
{
    float w = 0.0f;
    for (int k = 0; k < taps.size; ++k) {
        const std::size_t t = std::size_t(i) * std::size_t(taps.size) + std::size_t(k);
        if (taps.index[t] == source) w += taps.weight[t];
    }
    return w;
}

}  // namespace

// 1 when the picture is interlaced or would grow (the caller decodes it otherwise), 0 on
// success, -1 on failure with *why.
int CZimImage::decodePngReduced(const QByteArray& bytes, QSize target, QString* why)
{
    PngInput input;
    input.bytes = &bytes;
    PngDecode d;
    CZimImage result;
    d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &input, pngFail, pngIgnore);
    d.info = d.png ? png_create_info_struct(d.png) : nullptr;
    if (!d.info) {
        *why = tr("out of memory");
        return -1;
    }
    if (setjmp(png_jmpbuf(d.png))) {
        *why = QString::fromUtf8(input.message);
        return -1;
    }
    png_set_read_fn(d.png, &input, pngRead);
    png_set_user_limits(d.png, 0x7fffffff, 0x7fffffff);
    png_read_info(d.png, d.info);
    const int width = int(png_get_image_width(d.png, d.info));
    const int height = int(png_get_image_height(d.png, d.info));
    const int outWidth = target.width();
    const int outHeight = target.height();
    if (png_get_interlace_type(d.png, d.info) != PNG_INTERLACE_NONE || outWidth > width || outHeight > height) return 1;
    const int colour = png_get_color_type(d.png, d.info);
    const bool alpha = (colour & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(d.png, d.info, PNG_INFO_tRNS) != 0;
    png_set_expand(d.png);
    png_set_strip_16(d.png);
    png_set_gray_to_rgb(d.png);
    if (!alpha) png_set_filler(d.png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(d.png, d.info);
    if (png_get_rowbytes(d.png, d.info) != std::size_t(width) * 4) png_error(d.png, "unexpected row layout");
    QString sizeProblem;
    if (!result.allocate(outWidth, outHeight, alpha ? 32 : 24, false, &sizeProblem)) {
        *why = sizeProblem;
        return -1;
    }

    d.columns = makeTaps(width, outWidth, true);
    d.rows = makeTaps(height, outHeight, true);
    d.row.resize(std::size_t(width) * 4);
    d.across.assign(std::size_t(outWidth) * 4, 0.0f);
    d.sums[0].assign(std::size_t(outWidth) * 4, 0.0f);
    d.sums[1].assign(std::size_t(outWidth) * 4, 0.0f);
    const int bpp = alpha ? 4 : 3;
    int first = 0;  // the first output row not yet written; sums[0] is its, sums[1] the next's
    for (int y = 0; y < height && first < outHeight; ++y) {
        png_read_row(d.png, d.row.data(), nullptr);
        for (int ox = 0; ox < outWidth; ++ox) {
            float c[4] = {0, 0, 0, 0};
            for (int k = 0; k < d.columns.size; ++k) {
                const std::size_t t = std::size_t(ox) * std::size_t(d.columns.size) + std::size_t(k);
                const float w = d.columns.weight[t];
                if (w <= 0.0f) continue;
                const unsigned char* p = d.row.data() + std::size_t(d.columns.index[t]) * 4;
                c[0] += w * p[0], c[1] += w * p[1], c[2] += w * p[2], c[3] += w * p[3];
            }
            std::copy(c, c + 4, d.across.begin() + std::ptrdiff_t(ox) * 4);
        }
        for (int which = 0; which < 2 && first + which < outHeight; ++which) {
            const float w = tapWeight(d.rows, first + which, y);
            if (w <= 0.0f) continue;
            std::vector<float>& sum = d.sums[which];
            for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += w * d.across[i];
        }
        while (first < outHeight && lastTap(d.rows, first) <= y) {
            // Rows are stored bottom-up as B,G,R(,A).
            unsigned char* out = result.imageData(outHeight - 1 - first);
            const std::vector<float>& sum = d.sums[0];
            for (int ox = 0; ox < outWidth; ++ox, out += bpp) {
                const float* c = sum.data() + std::size_t(ox) * 4;
                auto byte = [](float v) { return static_cast<unsigned char>(std::clamp(v + 0.5f, 0.0f, 255.0f)); };
                out[0] = byte(c[2]), out[1] = byte(c[1]), out[2] = byte(c[0]);
                if (alpha) out[3] = byte(c[3]);
            }
            std::swap(d.sums[0], d.sums[1]);
            std::fill(d.sums[1].begin(), d.sums[1].end(), 0.0f);
            ++first;
        }
    }
    if (first < outHeight) png_error(d.png, "the picture ends early");
    takePixels(result);
    return 0;
}

void CZimImage::takePixels(CZimImage& from)
{
    m_pixels.swap(from.m_pixels);
    m_marks.clear();
    m_width = from.m_width;
    m_height = from.m_height;
    m_bits = from.m_bits;
    m_rowBytes = from.m_rowBytes;
}

CZimImage::CZimImage(const CZimImage& other)
    : IZimImage(),
      m_width(other.m_width),
      m_height(other.m_height),
      m_bits(other.m_bits),
      m_rowBytes(other.m_rowBytes),
      m_pixels(other.m_pixels),
      m_marks(other.m_marks),
      m_path(other.m_path),
      m_fullSize(other.m_fullSize)
{
}

CZimImage::~CZimImage() = default;

bool CZimImage::checkedSize(int width, int height, int bits, std::size_t* rowBytes, QString* why)
{
    if (width <= 0 || height <= 0) {
        *why = tr("image size %1 x %2 is empty").arg(width).arg(height);
        return false;
    }
    if (bits != 24 && bits != 32) {
        *why = tr("%1 bits per pixel is not supported (24 or 32)").arg(bits);
        return false;
    }
    if (width > kMaxSide || height > kMaxSide) {
        *why = tr("image size %1 x %2 exceeds %3 pixels a side").arg(width).arg(height).arg(kMaxSide);
        return false;
    }
    const std::size_t row = ((std::size_t(width) * std::size_t(bits / 8)) + 3) & ~std::size_t(3);
    if (row * std::size_t(height) > kMaxBytes) {
        *why = tr("image size %1 x %2 needs more than %3 MiB").arg(width).arg(height).arg(kMaxBytes >> 20);
        return false;
    }
    *rowBytes = row;
    return true;
}

bool CZimImage::allocate(int width, int height, int bits, bool marks, QString* why)
{
    std::size_t row = 0;
    if (!checkedSize(width, height, bits, &row, why)) return false;
    try {
        std::vector<unsigned char> pixels(row * std::size_t(height), 0);
        std::vector<unsigned char> markPlane;
        if (marks) markPlane.assign(std::size_t(width) * std::size_t(height), 0);
        m_pixels.swap(pixels);
        m_marks.swap(markPlane);
    } catch (const std::bad_alloc&) {
        *why = tr("out of memory for an image of %1 x %2").arg(width).arg(height);
        return false;
    }
    m_width = width;
    m_height = height;
    m_bits = bits;
    m_rowBytes = int(row);
    return true;
}

bool CZimImage::getImagePath(QString& out) const
{
    out = m_path;
    return !m_path.isEmpty();
}

ref_ptr<IZimImage> CZimImage::imageClone() const
{
    try {
        return ref_ptr<IZimImage>(new CZimImage(*this));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

unsigned char* CZimImage::imageCreate(int width, int height, int bits, int flags)
{
    QString why;
    if (!allocate(width, height, bits, flags == ZimImageWithMarks, &why)) {
        m_error = tr("cannot create image: %1").arg(why);
        return nullptr;
    }
    m_fullSize = QSize();
    m_path.clear();
    m_error.clear();
    return m_pixels.data();
}

unsigned char* CZimImage::imageData(int row)
{
    if (m_pixels.empty() || row < 0 || row >= m_height) return nullptr;
    return m_pixels.data() + std::size_t(row) * std::size_t(m_rowBytes);
}

int CZimImage::imageSwapChannels()
{
    const int bpp = m_bits / 8;
    for (int y = 0; y < m_height; ++y) {
        unsigned char* p = m_pixels.data() + std::size_t(y) * std::size_t(m_rowBytes);
        for (int x = 0; x < m_width; ++x, p += bpp) std::swap(p[0], p[2]);
    }
    return 0;
}

bool CZimImage::imageGetPixel(unsigned char* out, int x, int y, bool clamp) const
{
    if (m_pixels.empty() || !out) return false;
    if (clamp) {
        x = std::clamp(x, 0, m_width - 1);
        y = std::clamp(y, 0, m_height - 1);
    } else if (x < 0 || y < 0 || x >= m_width || y >= m_height) {
        return false;
    }
    const unsigned char* p = pixel(x, y);
    out[0] = p[0];
    out[1] = p[1];
    out[2] = p[2];
    if (m_bits == 32) out[3] = p[3];
    return true;
}

bool CZimImage::refuseWhenReduced(const char* what)
{
    if (!m_fullSize.isValid()) return false;
    m_error = tr("cannot %1 image '%2': it was decoded reduced from %3 x %4 and is read-only")
                  .arg(tr(what), m_path)
                  .arg(m_fullSize.width())
                  .arg(m_fullSize.height());
    return true;
}

bool CZimImage::imageSetPixel(int x, int y, int colour, bool withAlpha)
{
    if (refuseWhenReduced(QT_TRANSLATE_NOOP("ZimImage", "paint into"))) return false;
    if (m_pixels.empty() || x < 0 || y < 0 || x >= m_width || y >= m_height) return false;
    unsigned char* p = pixel(x, y);
    const auto c = static_cast<std::uint32_t>(colour);
    p[0] = static_cast<unsigned char>(c & 0xFFu);
    p[1] = static_cast<unsigned char>((c >> 8) & 0xFFu);
    p[2] = static_cast<unsigned char>((c >> 16) & 0xFFu);
    if (m_bits == 32 && withAlpha) p[3] = static_cast<unsigned char>((c >> 24) & 0xFFu);
    return true;
}

int CZimImage::imageSave(const QString& path, int flags)
{
    if (m_pixels.empty()) {
        m_error = tr("cannot write image '%1': the image is empty").arg(path);
        return -1;
    }
    // A reduced picture written over its own file would replace the full picture.
    if (m_fullSize.isValid() && !m_path.isEmpty() &&
        (QFileInfo(path).absoluteFilePath() == QFileInfo(m_path).absoluteFilePath() ||
         (QFileInfo::exists(path) && QFileInfo(path).canonicalFilePath() == QFileInfo(m_path).canonicalFilePath()))) {
        refuseWhenReduced(QT_TRANSLATE_NOOP("ZimImage", "write over the file of"));
        return -1;
    }
    const QByteArray format = flags == ZimImageSaveBySuffix ? formatForSuffix(path) : QByteArray("png");
    if (format.isEmpty()) {
        m_error = tr("cannot write image '%1': unknown image format '%2'").arg(path, QFileInfo(path).suffix());
        return -1;
    }
    QImage image = imageToQImage();
    if (image.isNull()) {
        m_error = tr("cannot write image '%1': out of memory").arg(path);
        return -1;
    }
    if ((format == "jpeg" || format == "bmp") && image.hasAlphaChannel())
        image = image.convertToFormat(QImage::Format_RGB888);

    // The rename below would put a regular file in place of a FIFO, a device or a socket.
    if (!isWritableImageTarget(path)) {
        m_error = tr("cannot write image '%1': it exists and is not a regular file").arg(path);
        return -1;
    }
    // Write beside the target and rename, so a failed write never leaves half a file behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = tr("cannot write image '%1': %2").arg(path, file.errorString());
        return -1;
    }
    QImageWriter writer(&file, format);
    if (format == "jpeg") writer.setQuality(92);
    // PNG at zlib's fastest level: about twice as fast as the default for some 15 % more bytes.
    if (format == "png") writer.setQuality(80);
    errno = 0;
    if (!writer.write(image)) {
        const int saved = errno;
        m_error = tr("cannot write image '%1': %2")
                      .arg(path, imageWriteFailureText(file.error(), file.errorString(), writer.errorString(), saved));
        file.cancelWriting();
        return -1;
    }
    if (!file.commit()) {
        const int saved = errno;
        m_error = tr("cannot write image '%1': %2")
                      .arg(path, imageWriteFailureText(file.error(), file.errorString(), QString(), saved));
        return -1;
    }
    m_path = path;
    m_error.clear();
    return 0;
}

bool CZimImage::imageSample(unsigned char* out, float u, float v, int outBytes, int filter,
                            const unsigned char* border) const
{
    if (m_pixels.empty() || !out || !std::isfinite(u) || !std::isfinite(v)) return false;
    const int n = std::clamp(outBytes, 1, 4);
    const float w = float(m_width);
    const float h = float(m_height);
    if (border && (u < 0.0f || v < 0.0f || u > w || v > h)) {
        std::memcpy(out, border, std::size_t(n));
        return true;
    }
    const int bpp = m_bits / 8;
    unsigned char result[4] = {0, 0, 0, 255};
    if (filter == ZimImageNearest) {
        const int x = int(std::clamp(std::floor(u), 0.0f, w - 1.0f));
        const int y = int(std::clamp(std::floor(v), 0.0f, h - 1.0f));
        std::memcpy(result, pixel(x, y), std::size_t(bpp));
    } else {
        // Bilinear between pixel centres; beyond the outer centres the edge pixels extend.
        const float fx = std::clamp(u - 0.5f, 0.0f, w - 1.0f);
        const float fy = std::clamp(v - 0.5f, 0.0f, h - 1.0f);
        const int x0 = int(fx);
        const int y0 = int(fy);
        const int x1 = std::min(x0 + 1, m_width - 1);
        const int y1 = std::min(y0 + 1, m_height - 1);
        const float tx = fx - float(x0);
        const float ty = fy - float(y0);
        const unsigned char* p00 = pixel(x0, y0);
        const unsigned char* p10 = pixel(x1, y0);
        const unsigned char* p01 = pixel(x0, y1);
        const unsigned char* p11 = pixel(x1, y1);
        for (int c = 0; c < bpp; ++c) {
            const float bottom = float(p00[c]) + (float(p10[c]) - float(p00[c])) * tx;
            const float top = float(p01[c]) + (float(p11[c]) - float(p01[c])) * tx;
            const float value = bottom + (top - bottom) * ty;
            result[c] = static_cast<unsigned char>(std::clamp(value + 0.5f, 0.0f, 255.0f));
        }
    }
    std::memcpy(out, result, std::size_t(n));
    return true;
}

int CZimImage::imageResize(int width, int height, int mode, int keepAspect)
{
    if (m_pixels.empty()) {
        m_error = tr("cannot resize an empty image");
        return -1;
    }
    if (keepAspect && width > 0 && height > 0) {
        const QSize fitted = QSize(m_width, m_height).scaled(width, height, Qt::KeepAspectRatio);
        width = std::max(1, fitted.width());
        height = std::max(1, fitted.height());
    }
    std::size_t row = 0;
    QString why;
    if (!checkedSize(width, height, m_bits, &row, &why)) {
        m_error = tr("cannot resize image: %1").arg(why);
        return -1;
    }
    if (width == m_width && height == m_height) return 0;

    CZimImage resized;
    if (!resized.allocate(width, height, m_bits, !m_marks.empty(), &why)) {
        m_error = tr("cannot resize image: %1").arg(why);
        return -1;
    }
    const int bpp = m_bits / 8;
    const bool smooth = mode == ZimImageResizeSmooth;
    try {
        // Separable resampling: rows first into a float buffer, then columns. Every channel,
        // alpha included, is filtered on its own, so colours under low alpha keep their values.
        const Taps across = makeTaps(m_width, width, smooth);
        const Taps down = makeTaps(m_height, height, smooth);
        std::vector<float> rows(std::size_t(width) * std::size_t(m_height) * std::size_t(bpp), 0.0f);
        for (int y = 0; y < m_height; ++y) {
            const unsigned char* src = m_pixels.data() + std::size_t(y) * std::size_t(m_rowBytes);
            float* dst = rows.data() + std::size_t(y) * std::size_t(width) * std::size_t(bpp);
            for (int x = 0; x < width; ++x) {
                for (int k = 0; k < across.size; ++k) {
                    const std::size_t tap = std::size_t(x) * std::size_t(across.size) + std::size_t(k);
                    const float w = across.weight[tap];
                    if (w == 0.0f) continue;
                    const unsigned char* p = src + std::size_t(across.index[tap]) * std::size_t(bpp);
                    for (int c = 0; c < bpp; ++c)
                        dst[std::size_t(x) * std::size_t(bpp) + std::size_t(c)] += w * float(p[c]);
                }
            }
        }
        for (int y = 0; y < height; ++y) {
            unsigned char* out = resized.m_pixels.data() + std::size_t(y) * row;
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < bpp; ++c) {
                    float value = 0.0f;
                    for (int k = 0; k < down.size; ++k) {
                        const std::size_t tap = std::size_t(y) * std::size_t(down.size) + std::size_t(k);
                        const std::size_t at =
                            (std::size_t(down.index[tap]) * std::size_t(width) + std::size_t(x)) * std::size_t(bpp) +
                            std::size_t(c);
                        value += down.weight[tap] * rows[at];
                    }
                    out[std::size_t(x) * std::size_t(bpp) + std::size_t(c)] =
                        static_cast<unsigned char>(std::clamp(value + 0.5f, 0.0f, 255.0f));
                }
            }
        }
    } catch (const std::bad_alloc&) {
        m_error = tr("out of memory while resizing an image to %1 x %2").arg(width).arg(height);
        return -1;
    }
    if (!m_marks.empty()) {
        for (int y = 0; y < height; ++y) {
            const int sy = nearestSource(y, m_height, height);
            for (int x = 0; x < width; ++x) {
                const int sx = nearestSource(x, m_width, width);
                resized.m_marks[std::size_t(y) * std::size_t(width) + std::size_t(x)] =
                    m_marks[std::size_t(sy) * std::size_t(m_width) + std::size_t(sx)];
            }
        }
    }
    m_pixels.swap(resized.m_pixels);
    m_marks.swap(resized.m_marks);
    m_width = width;
    m_height = height;
    m_rowBytes = int(row);
    return 0;
}

int CZimImage::imageReset()
{
    std::fill(m_pixels.begin(), m_pixels.end(), 0);
    std::fill(m_marks.begin(), m_marks.end(), 0);
    return 0;
}

void CZimImage::imageSetMark(int x, int y, unsigned char mark)
{
    if (m_marks.empty() || x < 0 || y < 0 || x >= m_width || y >= m_height) return;
    m_marks[std::size_t(y) * std::size_t(m_width) + std::size_t(x)] = mark;
}

unsigned char CZimImage::imageGetMark(int x, int y) const
{
    if (m_marks.empty() || x < 0 || y < 0 || x >= m_width || y >= m_height) return 0;
    return m_marks[std::size_t(y) * std::size_t(m_width) + std::size_t(x)];
}

int CZimImage::imageLoad(const QString& path) { return imageLoadScaled(path, 0); }

int CZimImage::imageLoadScaled(const QString& path, int maxSide)
{
    try {
        return loadScaledUnguarded(path, maxSide);
    } catch (const std::bad_alloc&) {
        m_error = tr("cannot read image '%1': there is not enough memory to decode it").arg(path);
    } catch (const std::length_error&) {
        m_error = tr("cannot read image '%1': there is not enough memory to decode it").arg(path);
    }
    return -1;
}

int CZimImage::loadScaledUnguarded(const QString& path, int maxSide)
{
    QByteArray bytes;
    QString why;
    if (!readRegularFile(path, kMaxFileBytes, &bytes, &why)) {
        m_error = tr("cannot read image '%1': %2").arg(path, why);
        return -1;
    }
    if (bytes.isEmpty()) {
        m_error = tr("cannot read image '%1': the file is empty").arg(path);
        return -1;
    }

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    if (format.isEmpty()) {
        m_error = tr("cannot read image '%1': not an image file of a known format").arg(path);
        return -1;
    }
    if (format == "jpeg" && !jpegLooksComplete(bytes)) {
        m_error = tr("cannot read image '%1': the file is truncated").arg(path);
        return -1;
    }

    const QSize full = reader.size();
    QSize size = full;
    if (size.isValid() && maxSide > 0 && (size.width() > maxSide || size.height() > maxSide)) {
        size = size.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        reader.setScaledSize(size);
    }
    if (size.isValid()) {
        std::size_t row = 0;
        if (!checkedSize(size.width(), size.height(), 32, &row, &why)) {
            m_error = tr("cannot read image '%1': %2").arg(path, why);
            return -1;
        }
    }
    const bool reduced = size.isValid() && size != full;
    const bool wholeTooLarge = full.isValid() && qint64(full.width()) * qint64(full.height()) > kWholeDecodePixels;

    if (reduced && format == "png") {
        // Decoded straight into this image: on failure the old pixels may be gone, so keep them.
        CZimImage target;
        const int rc = target.decodePngReduced(bytes, size, &why);
        if (rc < 0) {
            m_error = tr("cannot read image '%1': %2").arg(path, why);
            return -1;
        }
        if (rc == 0) {
            takePixels(target);
            m_error.clear();
            m_path = path;
            m_fullSize = full;
            return 0;
        }
    }
    // The JPEG decoder reduces while decoding; other decoders decode the whole picture first.
    if (reduced && wholeTooLarge && format != "jpeg") {
        m_error = tr("cannot read image '%1': a %2 picture of %3 x %4 is too large to decode reduced")
                      .arg(path, QString::fromLatin1(format))
                      .arg(full.width())
                      .arg(full.height());
        return -1;
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        m_error = tr("cannot read image '%1': %2").arg(path, reader.errorString());
        return -1;
    }
    if (imageFromQImage(image) != 0) {
        m_error = tr("cannot read image '%1': %2").arg(path, m_error);
        return -1;
    }
    m_path = path;
    if (reduced) m_fullSize = full;
    return 0;
}

int CZimImage::imageFromQImage(const QImage& source)
{
    if (source.isNull()) {
        m_error = tr("the picture is empty");
        return -1;
    }
    const bool alpha = source.hasAlphaChannel();
    // ARGB32 and BGR888 already hold B,G,R(,A) in memory on a little-endian machine.
    const QImage image = source.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_BGR888);
    if (image.isNull()) {
        m_error = tr("out of memory converting a picture of %1 x %2").arg(source.width()).arg(source.height());
        return -1;
    }
    CZimImage converted;
    QString why;
    if (!converted.allocate(image.width(), image.height(), alpha ? 32 : 24, false, &why)) {
        m_error = why;
        return -1;
    }
    const std::size_t copy = std::size_t(image.width()) * std::size_t(alpha ? 4 : 3);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(converted.imageData(image.height() - 1 - y), image.constScanLine(y), copy);
    takePixels(converted);
    m_fullSize = QSize();
    m_path.clear();
    m_error.clear();
    return 0;
}

QImage CZimImage::imageToQImage() const
{
    if (m_pixels.empty()) return QImage();
    if (m_bits == 32) {
        QImage image(m_width, m_height, QImage::Format_ARGB32);
        if (image.isNull()) return image;
        for (int y = 0; y < m_height; ++y)
            std::memcpy(image.scanLine(m_height - 1 - y), pixel(0, y), std::size_t(m_width) * 4);
        return image;
    }
    QImage image(m_width, m_height, QImage::Format_RGB888);
    if (image.isNull()) return image;
    for (int y = 0; y < m_height; ++y) {
        const unsigned char* src = pixel(0, y);
        unsigned char* dst = image.scanLine(m_height - 1 - y);
        for (int x = 0; x < m_width; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
    return image;
}

unsigned char* CZimImage::imageMarkData() { return m_marks.empty() ? nullptr : m_marks.data(); }

int CZimImage::imageFill(int colour, unsigned char mark)
{
    if (m_pixels.empty() || refuseWhenReduced(QT_TRANSLATE_NOOP("ZimImage", "paint into"))) return -1;
    const auto c = static_cast<std::uint32_t>(colour);
    const unsigned char bytes[4] = {static_cast<unsigned char>(c & 0xFFu), static_cast<unsigned char>((c >> 8) & 0xFFu),
                                    static_cast<unsigned char>((c >> 16) & 0xFFu),
                                    static_cast<unsigned char>((c >> 24) & 0xFFu)};
    const int bpp = m_bits / 8;
    const int height = m_height;
#pragma omp parallel for schedule(static)
    for (int y = 0; y < height; ++y) {
        unsigned char* p = m_pixels.data() + std::size_t(y) * std::size_t(m_rowBytes);
        for (int x = 0; x < m_width; ++x, p += bpp) std::memcpy(p, bytes, std::size_t(bpp));
        if (!m_marks.empty())
            std::memset(m_marks.data() + std::size_t(y) * std::size_t(m_width), mark, std::size_t(m_width));
    }
    return 0;
}

}  // namespace detail

ref_ptr<IZimImage> newZimImage() { return ref_ptr<IZimImage>(new detail::CZimImage()); }

namespace {
std::atomic<int> textureSideLimit{16384};
}  // namespace

void setZimTextureSideLimit(int side)
{
    if (side > 0) textureSideLimit.store(side);
}

int zimTextureSideLimit() { return textureSideLimit.load(); }

ref_ptr<IZimImage> loadZimTexture(const QString& path, QString* error)
{
    ref_ptr<IZimImage> image = newZimImage();
    const int limit = zimTextureSideLimit();
    if (image->imageLoadScaled(path, limit) != 0) {
        if (error) *error = image->imageLastError();
        return nullptr;
    }
    const QSize full = image->imageFullSize();
    if (full.isValid())
        qWarning().noquote() << QCoreApplication::translate(
                                    "ZimImage",
                                    "texture '%1' of %2 x %3 is larger than the %4 pixels a side "
                                    "the graphics take: it is decoded at %5 x %6 and read-only")
                                    .arg(path)
                                    .arg(full.width())
                                    .arg(full.height())
                                    .arg(limit)
                                    .arg(image->imageWidth())
                                    .arg(image->imageHeight());
    if (error) error->clear();
    return image;
}

ref_ptr<IZimImage> loadZimImage(const QString& path, QString* error)
{
    ref_ptr<IZimImage> image = newZimImage();
    if (image->imageLoad(path) != 0) {
        if (error) *error = image->imageLastError();
        return nullptr;
    }
    return image;
}

}  // namespace zim
