#include "OrvTexture.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "OrvUIElements64t.h"

namespace orvUI {

QSize textureSizeFor(int width, int height)
{
    if (width <= 0 || height <= 0) return QSize();
    const float aspect = float(width) / float(height);
    int w = width;
    int h = height;
    if (width > kMaxTextureSide || height > kMaxTextureSide) {
        if (height >= width) {
            h = kMaxTextureSide;
            w = int(std::trunc(aspect * float(kMaxTextureSide)));
        } else {
            w = kMaxTextureSide;
            h = int(std::trunc(float(kMaxTextureSide) / aspect));
        }
    }
    if (w % 4 != 0) {
        // Lowering a width below 4 would leave nothing to upload.
        w = std::max(4, w - w % 4);
        h = int(std::trunc(float(w) / aspect));
    }
    return QSize(std::max(4, w), std::max(1, h));
}

long initTexture(IZimImage* image, Enve2d /*area: the whole image is uploaded*/, bool withAlpha)
{
    // An empty image has nothing to upload: no texture name is made (0 is GL's "no texture").
    if (!image || image->imageWidth() <= 0 || image->imageHeight() <= 0) return 0;
    const int width = image->imageWidth();
    const int height = image->imageHeight();
    const QSize size = textureSizeFor(width, height);
    const int w = size.width();
    const int h = size.height();

    ref_ptr<IZimImage> scaled;
    IZimImage* source = image;
    if (w != width || h != height) {
        scaled = image->imageClone();
        if (!scaled || scaled->imageResize(w, h, 1, 0) != 0) return 0;
        source = scaled.get();
    }
    if (source->imageWidth() != w || source->imageHeight() != h || !source->imageData(0)) return 0;

    // Errors left by earlier calls must not be taken for the upload's own.
    for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i) {
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    if (name == 0) return 0;
    glBindTexture(GL_TEXTURE_2D, name);
    // The rows are read as they are stored (4-byte aligned, no skips), whatever the caller set.
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    if (source->imageHasAlpha() && withAlpha) {
        std::vector<unsigned char> rgba(std::size_t(w) * std::size_t(h) * 4);
        unsigned char pixel[4] = {0, 0, 0, 0};
        unsigned char* out = rgba.data();
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x, out += 4) {
                source->imageGetPixel(pixel, x, y, true);
                out[0] = pixel[2];
                out[1] = pixel[1];
                out[2] = pixel[0];
                out[3] = pixel[3];
            }
        }
        glTexImage2D(GL_TEXTURE_2D, 0, 4, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    } else {
        // Rows are B,G,R(,A); swapped to R,G,B(,A) for the upload and back afterwards. A 32-bit
        // image uploaded without its alpha still has 4 bytes a pixel: GL reads them as RGBA and
        // keeps three components.
        const GLenum format = source->imageHasAlpha() ? GL_RGBA : GL_RGB;
        source->imageSwapChannels();
        glTexImage2D(GL_TEXTURE_2D, 0, 3, w, h, 0, format, GL_UNSIGNED_BYTE, source->imageData(0));
        source->imageSwapChannels();
    }
    glPopClientAttrib();
    // A texture GL could not take (out of memory, a size beyond its limit) is no texture.
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, &name);
        return 0;
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return long(name);
}

}  // namespace orvUI
