// Small GL helpers shared by the trackball, the symbols and the screen display.
#pragma once

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/gl.h>
#include <GL/glext.h>

#include "TrackBallMath.h"

namespace zimdisp {

// True when a GL context is current on this thread; without one no GL call is made at all.
bool hasCurrentContext();

// The current GL model-view or projection matrix (GL_MODELVIEW_MATRIX, GL_PROJECTION_MATRIX).
Mat4 currentMatrix(GLenum which);

// Room left on the server attribute stack for one more glPushAttrib.
bool attribStackHasRoom();

// Puts the pixel pack and unpack parameters, the depth scale and bias, and the pixel buffer
// bindings to their defaults (with the given unpack alignment) for its lifetime, so that a
// single-pixel read or a bitmap lands where it is meant to; everything is put back after.
class PixelStoreScope {
public:
    explicit PixelStoreScope(GLint unpackAlignment = 4);
    ~PixelStoreScope();
    PixelStoreScope(const PixelStoreScope&) = delete;
    PixelStoreScope& operator=(const PixelStoreScope&) = delete;

private:
    static constexpr int kCount = 16;
    GLint m_values[kCount];
    GLfloat m_depthScale = 1.0f;
    GLfloat m_depthBias = 0.0f;
    GLint m_packBuffer = 0;
    GLint m_unpackBuffer = 0;
};

// Draws `text` with the built-in 5 x 7 bitmap font from the current raster position (its lower
// left corner at the raster position); '\n' starts a new line below. Characters outside printable
// ASCII show as '?'. The caller sets the raster position and the pixel store.
void drawBitmapText(const char* text);

}  // namespace zimdisp
