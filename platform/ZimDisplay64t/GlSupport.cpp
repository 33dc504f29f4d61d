#include "GlSupport.h"

#include <GL/glx.h>

#include <array>
#include <cstring>

namespace zimdisp {

bool hasCurrentContext() { return glXGetCurrentContext() != nullptr; }

Mat4 currentMatrix(GLenum which)
{
    Mat4 r = Mat4::identity();
    glGetDoublev(which, r.m);
    return r;
}

bool attribStackHasRoom()
{
    GLint depth = 0;
    GLint maxDepth = 0;
    glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &depth);
    glGetIntegerv(GL_MAX_ATTRIB_STACK_DEPTH, &maxDepth);
    return depth < maxDepth;
}

namespace {

constexpr GLenum kStoreNames[] = {
    GL_PACK_SWAP_BYTES,    GL_PACK_LSB_FIRST,   GL_PACK_ROW_LENGTH,     GL_PACK_SKIP_ROWS,
    GL_PACK_SKIP_PIXELS,   GL_PACK_ALIGNMENT,   GL_PACK_IMAGE_HEIGHT,   GL_PACK_SKIP_IMAGES,
    GL_UNPACK_SWAP_BYTES,  GL_UNPACK_LSB_FIRST, GL_UNPACK_ROW_LENGTH,   GL_UNPACK_SKIP_ROWS,
    GL_UNPACK_SKIP_PIXELS, GL_UNPACK_ALIGNMENT, GL_UNPACK_IMAGE_HEIGHT, GL_UNPACK_SKIP_IMAGES,
};
static_assert(sizeof(kStoreNames) / sizeof(kStoreNames[0]) == 16, "pixel store table size");

}  // namespace

PixelStoreScope::PixelStoreScope(GLint unpackAlignment)
{
    for (int i = 0; i < kCount; ++i) {
        glGetIntegerv(kStoreNames[i], &m_values[i]);
        GLint value = 0;
        if (kStoreNames[i] == GL_PACK_ALIGNMENT) value = 4;
        if (kStoreNames[i] == GL_UNPACK_ALIGNMENT) value = unpackAlignment;
        glPixelStorei(kStoreNames[i], value);
    }
    glGetFloatv(GL_DEPTH_SCALE, &m_depthScale);
    glGetFloatv(GL_DEPTH_BIAS, &m_depthBias);
    glPixelTransferf(GL_DEPTH_SCALE, 1.0f);
    glPixelTransferf(GL_DEPTH_BIAS, 0.0f);
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &m_packBuffer);
    glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &m_unpackBuffer);
    if (m_packBuffer) glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    if (m_unpackBuffer) glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
}

PixelStoreScope::~PixelStoreScope()
{
    if (m_packBuffer) glBindBuffer(GL_PIXEL_PACK_BUFFER, GLuint(m_packBuffer));
    if (m_unpackBuffer) glBindBuffer(GL_PIXEL_UNPACK_BUFFER, GLuint(m_unpackBuffer));
    glPixelTransferf(GL_DEPTH_SCALE, m_depthScale);
    glPixelTransferf(GL_DEPTH_BIAS, m_depthBias);
    for (int i = 0; i < kCount; ++i) glPixelStorei(kStoreNames[i], m_values[i]);
}

// ---- the 5 x 7 font --------------------------------------------------------------------------

namespace {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kAdvance = 6;
constexpr int kLineStep = 9;

// Printable ASCII from ' ' to '~', each glyph as its seven rows from the top, '#' a set pixel.
constexpr const char* kGlyphs[95] = {
    "..... ..... ..... ..... ..... ..... .....",  // space
    "..#.. ..#.. ..#.. ..#.. ..#.. ..... ..#..",  // !
    ".#.#. .#.#. ..... ..... ..... ..... .....",  // "
    ".#.#. .#.#. ##### .#.#. ##### .#.#. .#.#.",  // #
    "..#.. .#### #.#.. .###. ..#.# ####. ..#..",  // $
    "##... ##..# ...#. ..#.. .#... #..## ...##",  // %
    ".##.. #..#. #.#.. .#... #.#.# #..#. .##.#",  // &
    "..#.. ..#.. .#... ..... ..... ..... .....",  // '
    "...#. ..#.. .#... .#... .#... ..#.. ...#.",  // (
    ".#... ..#.. ...#. ...#. ...#. ..#.. .#...",  // )
    "..... ..#.. #.#.# .###. #.#.# ..#.. .....",  // *
    "..... ..#.. ..#.. ##### ..#.. ..#.. .....",  // +
    "..... ..... ..... ..... .##.. ..#.. .#...",  // ,
    "..... ..... ..... ##### ..... ..... .....",  // -
    "..... ..... ..... ..... ..... .##.. .##..",  // .
    "..... ....# ...#. ..#.. .#... #.... .....",  // /
    ".###. #...# #..## #.#.# ##..# #...# .###.",  // 0
    "..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###.",  // 1
    ".###. #...# ....# ...#. ..#.. .#... #####",  // 2
    "##### ...#. ..#.. ...#. ....# #...# .###.",  // 3
    "...#. ..##. .#.#. #..#. ##### ...#. ...#.",  // 4
    "##### #.... ####. ....# ....# #...# .###.",  // 5
    "..##. .#... #.... ####. #...# #...# .###.",  // 6
    "##### ....# ...#. ..#.. .#... .#... .#...",  // 7
    ".###. #...# #...# .###. #...# #...# .###.",  // 8
    ".###. #...# #...# .#### ....# ...#. .##..",  // 9
    "..... .##.. .##.. ..... .##.. .##.. .....",  // :
    "..... .##.. .##.. ..... .##.. ..#.. .#...",  // ;
    "...#. ..#.. .#... #.... .#... ..#.. ...#.",  // <
    "..... ..... ##### ..... ##### ..... .....",  // =
    ".#... ..#.. ...#. ....# ...#. ..#.. .#...",  // >
    ".###. #...# ....# ...#. ..#.. ..... ..#..",  // ?
    ".###. #...# ....# .##.# #.#.# #.#.# .###.",  // @
    ".###. #...# #...# ##### #...# #...# #...#",  // A
    "####. #...# #...# ####. #...# #...# ####.",  // B
    ".###. #...# #.... #.... #.... #...# .###.",  // C
    "###.. #..#. #...# #...# #...# #..#. ###..",  // D
    "##### #.... #.... ####. #.... #.... #####",  // E
    "##### #.... #.... ####. #.... #.... #....",  // F
    ".###. #...# #.... #.### #...# #...# .####",  // G
    "#...# #...# #...# ##### #...# #...# #...#",  // H
    ".###. ..#.. ..#.. ..#.. ..#.. ..#.. .###.",  // I
    "..### ...#. ...#. ...#. ...#. #..#. .##..",  // J
    "#...# #..#. #.#.. ##... #.#.. #..#. #...#",  // K
    "#.... #.... #.... #.... #.... #.... #####",  // L
    "#...# ##.## #.#.# #.#.# #...# #...# #...#",  // M
    "#...# #...# ##..# #.#.# #..## #...# #...#",  // N
    ".###. #...# #...# #...# #...# #...# .###.",  // O
    "####. #...# #...# ####. #.... #.... #....",  // P
    ".###. #...# #...# #...# #.#.# #..#. .##.#",  // Q
    "####. #...# #...# ####. #.#.. #..#. #...#",  // R
    ".#### #.... #.... .###. ....# ....# ####.",  // S
    "##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",  // T
    "#...# #...# #...# #...# #...# #...# .###.",  // U
    "#...# #...# #...# #...# #...# .#.#. ..#..",  // V
    "#...# #...# #...# #.#.# #.#.# #.#.# .#.#.",  // W
    "#...# #...# .#.#. ..#.. .#.#. #...# #...#",  // X
    "#...# #...# .#.#. ..#.. ..#.. ..#.. ..#..",  // Y
    "##### ....# ...#. ..#.. .#... #.... #####",  // Z
    ".###. .#... .#... .#... .#... .#... .###.",  // [
    "..... #.... .#... ..#.. ...#. ....# .....",  // backslash
    ".###. ...#. ...#. ...#. ...#. ...#. .###.",  // ]
    "..#.. .#.#. #...# ..... ..... ..... .....",  // ^
    "..... ..... ..... ..... ..... ..... #####",  // _
    ".#... ..#.. ...#. ..... ..... ..... .....",  // `
    "..... ..... .###. ....# .#### #...# .####",  // a
    "#.... #.... #.##. ##..# #...# #...# ####.",  // b
    "..... ..... .###. #.... #.... #...# .###.",  // c
    "....# ....# .##.# #..## #...# #...# .####",  // d
    "..... ..... .###. #...# ##### #.... .###.",  // e
    "..##. .#..# .#... ###.. .#... .#... .#...",  // f
    "..... .#### #...# #...# .#### ....# .###.",  // g
    "#.... #.... #.##. ##..# #...# #...# #...#",  // h
    "..#.. ..... .##.. ..#.. ..#.. ..#.. .###.",  // i
    "...#. ..... ..##. ...#. ...#. #..#. .##..",  // j
    "#.... #.... #..#. #.#.. ##... #.#.. #..#.",  // k
    ".##.. ..#.. ..#.. ..#.. ..#.. ..#.. .###.",  // l
    "..... ..... ##.#. #.#.# #.#.# #...# #...#",  // m
    "..... ..... #.##. ##..# #...# #...# #...#",  // n
    "..... ..... .###. #...# #...# #...# .###.",  // o
    "..... ..... ####. #...# ####. #.... #....",  // p
    "..... ..... .##.# #..## .#### ....# ....#",  // q
    "..... ..... #.##. ##..# #.... #.... #....",  // r
    "..... ..... .###. #.... .###. ....# ####.",  // s
    ".#... .#... ###.. .#... .#... .#..# ..##.",  // t
    "..... ..... #...# #...# #...# #..## .##.#",  // u
    "..... ..... #...# #...# #...# .#.#. ..#..",  // v
    "..... ..... #...# #...# #.#.# #.#.# .#.#.",  // w
    "..... ..... #...# .#.#. ..#.. .#.#. #...#",  // x
    "..... ..... #...# #...# .#### ....# .###.",  // y
    "..... ..... ##### ...#. ..#.. .#... #####",  // z
    "...#. ..#.. ..#.. .#... ..#.. ..#.. ...#.",  // {
    "..#.. ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",  // |
    ".#... ..#.. ..#.. ...#. ..#.. ..#.. .#...",  // }
    "..... ..... .#... #.#.# ...#. ..... .....",  // ~
};

// The glyphs as glBitmap wants them: one byte per row, bottom row first, leftmost pixel in the
// most significant bit.
using GlyphBits = std::array<std::array<GLubyte, kGlyphHeight>, 95>;

GlyphBits buildGlyphBits()
{
    GlyphBits bits{};
    for (int g = 0; g < 95; ++g) {
        const char* rows = kGlyphs[g];
        for (int row = 0; row < kGlyphHeight; ++row) {
            GLubyte byte = 0;
            for (int col = 0; col < kGlyphWidth; ++col)
                if (rows[row * (kGlyphWidth + 1) + col] == '#') byte |= GLubyte(0x80u >> col);
            bits[g][kGlyphHeight - 1 - row] = byte;
        }
    }
    return bits;
}

}  // namespace

void drawBitmapText(const char* text)
{
    static const GlyphBits kBits = buildGlyphBits();
    if (!text) return;
    int lineWidth = 0;
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\n') {
            // A bitmap of no size only moves the raster position.
            glBitmap(0, 0, 0, 0, GLfloat(-lineWidth), GLfloat(-kLineStep), nullptr);
            lineWidth = 0;
            continue;
        }
        const int index = (c >= 32 && c <= 126) ? c - 32 : '?' - 32;
        glBitmap(kGlyphWidth, kGlyphHeight, 0, 0, GLfloat(kAdvance), 0, kBits[index].data());
        lineWidth += kAdvance;
    }
}

}  // namespace zimdisp
