// Painting the visible triangles' textures into the backup picture: a screen-space image of how
// the textures look from the current camera. Each record's screen and texture corners give an
// affine map from screen pixels to texture pixels; every pixel the triangle covers (grown by one
// pixel diagonally) takes the bilinear texture sample there, blended over the picture as it was
// before the mesh when the mesh has a transparency image. A final pass closes small gaps.
//
// The picture is 24 bits with a mark plane: mark 255 painted, 0 background. Everything works on
// the images' memory directly, without allocating per record or per pixel.
#pragma once

#include <QSize>
#include <algorithm>
#include <functional>

#include "TriangleSelection.h"

namespace orvUI {

// Size of the backup picture for a widget of width x height: the longer side at most 2048,
// the other scaled with it (integer division).
QSize backupImageSize(int width, int height);

// Colour (128, 128, 128) and mark 0 in every pixel, in parallel over columns.
void fillBackupGray(IZimImage* image);

// Closes gaps: `passes` times, every unmarked pixel with a marked neighbour in its 3 x 3 block
// takes the neighbours' average colour and mark 255. Marks change only between passes, so each
// pass grows the painted area by one pixel in all eight directions.
void fillImageGaps(IZimImage* image, int passes);

// Bilinear sampling as an image's own imageSample(out, u, v, 4, bilinear, null) does it, with the
// same arithmetic (so the same bytes), read straight from its rows; an image whose rows cannot be
// reached that way is asked through its interface. Out gets 4 bytes (byte 3 is 255 without
// alpha). u and v must be finite.
class BilinearSampler {
public:
    explicit BilinearSampler(const IZimImage* image);
    void sample(float u, float v, unsigned char out[4]) const
    {
        if (!m_direct) {
            m_image->imageSample(out, u, v, 4, ZimImageBilinear, nullptr);
            return;
        }
        const float w = float(m_width), h = float(m_height);
        const float fx = std::clamp(u - 0.5f, 0.0f, w - 1.0f);
        const float fy = std::clamp(v - 0.5f, 0.0f, h - 1.0f);
        const int x0 = int(fx), y0 = int(fy);
        const int x1 = std::min(x0 + 1, m_width - 1), y1 = std::min(y0 + 1, m_height - 1);
        const float tx = fx - float(x0), ty = fy - float(y0);
        const unsigned char* p00 = at(x0, y0);
        const unsigned char* p10 = at(x1, y0);
        const unsigned char* p01 = at(x0, y1);
        const unsigned char* p11 = at(x1, y1);
        out[3] = 255;
        for (int c = 0; c < m_bpp && c < 4; ++c) {
            const float bottom = float(p00[c]) + (float(p10[c]) - float(p00[c])) * tx;
            const float top = float(p01[c]) + (float(p11[c]) - float(p01[c])) * tx;
            const float value = bottom + (top - bottom) * ty;
            out[c] = static_cast<unsigned char>(std::clamp(value + 0.5f, 0.0f, 255.0f));
        }
    }
    bool direct() const { return m_direct; }

private:
    const unsigned char* at(int x, int y) const
    {
        return m_pixels + std::size_t(y) * std::size_t(m_stride) + std::size_t(x) * std::size_t(m_bpp);
    }
    const IZimImage* m_image;
    const unsigned char* m_pixels = nullptr;
    int m_width = 0, m_height = 0, m_bpp = 0, m_stride = 0;
    bool m_direct = false;
};

class TexturePainter {
public:
    // The transparency image of a mesh index (may be null).
    using AlphaSource = std::function<ref_ptr<IZimImage>(int meshIndex)>;

    // backup: 24 bits with marks. textures: the image sampled for each mesh index.
    TexturePainter(const ref_ptr<IZimImage>& backup, const TextureImageMap& textures, AlphaSource alphaOf);

    // Walks the records from the last to the first and paints each one. The previous picture
    // that blending reads is taken anew at every change of mesh index. progress (may be null)
    // steps by 1 / record count per record. False when the picture is not a 24-bit image with
    // marks or a copy of it cannot be made.
    bool paintRecords(const TriangleRecords& records, IZimProgress* progress);

    // Paints runs of records on this many threads, each owning a band of rows (the picture is
    // the same for any number). 0: as many as OpenMP gives.
    void setThreads(int threads) { m_threads = threads; }

private:
    ref_ptr<IZimImage> m_backup;
    const TextureImageMap& m_textures;
    AlphaSource m_alphaOf;
    int m_threads = 0;
};

}  // namespace orvUI
