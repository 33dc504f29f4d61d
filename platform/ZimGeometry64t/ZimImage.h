// The image class behind IZimImage: bottom-up rows of B,G,R(,A) bytes padded to 4 bytes, and an
// optional mark plane of one byte per pixel.
#pragma once

#include <cstdint>
#include <vector>

#include "ZimGeometry64t.h"

namespace zim {
namespace detail {

class CZimImage final : public IZimImage {
public:
    // Largest side and largest pixel buffer an image may have; beyond them creation and loading
    // fail with a message instead of exhausting memory.
    static constexpr int kMaxSide = 65535;
    static constexpr std::size_t kMaxBytes = (std::size_t(1) << 31) - 1;

    CZimImage() = default;
    CZimImage(const CZimImage& other);

    bool getImagePath(QString& out) const override;
    ref_ptr<IZimImage> imageClone() const override;
    unsigned char* imageCreate(int width, int height, int bits, int flags) override;
    unsigned char* imageData(int row) override;
    int imageHeight() const override { return m_height; }
    int imageWidth() const override { return m_width; }
    int imageSwapChannels() override;
    bool imageGetPixel(unsigned char* out, int x, int y, bool clamp) const override;
    bool imageSetPixel(int x, int y, int colour, bool withAlpha) override;
    int imageSave(const QString& path, int flags) override;
    bool imageSample(unsigned char* out, float u, float v, int outBytes, int filter,
                     const unsigned char* border) const override;
    int imageResize(int width, int height, int mode, int keepAspect) override;
    int imageReset() override;
    void imageSetMark(int x, int y, unsigned char mark) override;
    unsigned char imageGetMark(int x, int y) const override;
    bool imageHasAlpha() const override { return m_bits == 32; }

    int imageLoad(const QString& path) override;
    int imageLoadScaled(const QString& path, int maxSide) override;
    int imageFromQImage(const QImage& image) override;
    QImage imageToQImage() const override;
    int imageBits() const override { return m_bits; }
    int imageRowBytes() const override { return m_rowBytes; }
    bool imageHasMarks() const override { return !m_marks.empty(); }
    unsigned char* imageMarkData() override;
    QString imageLastError() const override { return m_error; }
    int imageFill(int colour, unsigned char mark) override;
    QSize imageFullSize() const override { return m_fullSize; }

protected:
    ~CZimImage() override;

private:
    static bool checkedSize(int width, int height, int bits, std::size_t* rowBytes, QString* why);
    bool allocate(int width, int height, int bits, bool marks, QString* why);
    int loadScaledUnguarded(const QString& path, int maxSide);
    int decodePngReduced(const QByteArray& bytes, QSize target, QString* why);
    // Takes the pixels, size and depth of a scratch image, which gets the old pixel buffer in
    // exchange; this image's marks are dropped, its path, full size and error kept.
    void takePixels(CZimImage& from);
    bool refuseWhenReduced(const char* what);

    const unsigned char* pixel(int x, int y) const
    {
        return m_pixels.data() + std::size_t(y) * std::size_t(m_rowBytes) + std::size_t(x) * std::size_t(m_bits / 8);
    }
    unsigned char* pixel(int x, int y)
    {
        return const_cast<unsigned char*>(static_cast<const CZimImage*>(this)->pixel(x, y));
    }

    int m_width = 0;
    int m_height = 0;
    int m_bits = 24;
    int m_rowBytes = 0;
    std::vector<unsigned char> m_pixels;
    std::vector<unsigned char> m_marks;
    QString m_path;
    QString m_error;
    QSize m_fullSize;  // valid when decoded reduced from a larger file
};

}  // namespace detail
}  // namespace zim
