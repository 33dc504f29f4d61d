// Uploading an IZimImage as an OpenGL texture (the exported initTexture) and the sizing rule it
// follows: at most 2048 pixels a side with the aspect ratio kept, and a width that is a multiple
// of 4 (so that rows of 3-byte pixels need no padding).
#pragma once

#include <QSize>

namespace orvUI {

constexpr int kMaxTextureSide = 2048;

// The texture size for an image of width x height (both > 0). The aspect ratio is taken in
// single precision; the width is lowered to a multiple of 4 and the height follows from the
// ratio. Images narrower than 4 pixels get a width of 4, and no side ends up below 1. An empty
// size for a zero or negative image size.
QSize textureSizeFor(int width, int height);

}  // namespace orvUI
