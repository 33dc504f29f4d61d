// GPU side of the kernel's drawing, kept per GL context: the entry points beyond GL 1.1, the
// buffers and textures of every mesh drawn there, the id geometry of the triangle selection and
// its offscreen framebuffer. Private to the kernel library; everything runs on the GUI thread.
//
// Lifetime: the data of a context is made the first time something draws in it and dropped when
// the context is destroyed (Qt contexts report that) or, mesh by mesh, by releaseMeshGpuData.
// GL names of a mesh released while another context is current are deleted the next time a
// scene item or the selection runs in their own context.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "OrvKernel64t.h"

namespace zim {
namespace kernel {

// ---- triangle ids of the selection render ----------------------------------------------------
//
// A triangle id is drawn as its colour: bits 0-7 in red, 8-15 in green, 16-23 in blue, alpha
// always 255 and not part of the id. 0 is the cleared background, so one render tells apart
// 2^24 - 1 = 16,777,215 triangles; a scene with more is drawn in several passes, pass k taking
// the triangles whose running number n (over all meshes, in list order) lies in
// [k * kTriangleIdsPerPass, (k + 1) * kTriangleIdsPerPass), with id n % kTriangleIdsPerPass + 1.

constexpr std::uint32_t kTriangleIdBits = 24;
constexpr std::uint32_t kTriangleIdsPerPass = (1u << kTriangleIdBits) - 1;

inline void encodeTriangleId(std::uint32_t id, unsigned char rgba[4])
{
    rgba[0] = static_cast<unsigned char>(id & 0xFFu);
    rgba[1] = static_cast<unsigned char>((id >> 8) & 0xFFu);
    rgba[2] = static_cast<unsigned char>((id >> 16) & 0xFFu);
    rgba[3] = 0xFF;
}

inline std::uint32_t decodeTriangleId(const unsigned char* rgba)
{
    return std::uint32_t(rgba[0]) | (std::uint32_t(rgba[1]) << 8) | (std::uint32_t(rgba[2]) << 16);
}

// The id of triangle t of a mesh whose first triangle has running number `base`.
inline std::uint32_t triangleIdOf(std::uint64_t base, std::uint64_t t)
{
    return std::uint32_t((base + t) % kTriangleIdsPerPass) + 1u;
}

// ---- triangles hidden by a later copy ---------------------------------------------------------
//
// Meshes are drawn with the depth test GL_LEQUAL and no blending: of triangles with the same
// three corner positions in the same order (bit for bit), the last one drawn covers exactly the
// pixels of the earlier ones at exactly their depth and so decides every pixel alone. Drawing
// the earlier copies changes nothing but costs their whole area again each: thousands of stacked
// copies of a large triangle make one frame take minutes. The drawing and the selection leave
// them out.

// For each of the triangleCount triangles (corner indices tri[3t..3t+2] into v): true when a
// later triangle has the same corner positions in the same order. Empty when there is none (the
// usual case), so callers can keep their plain path.
inline std::vector<bool> trianglesHiddenByLaterCopies(const XPnt3f* v, const int* tri, int triangleCount)
{
    std::vector<bool> hidden;
    if (!v || !tri || triangleCount < 2) return hidden;
    auto corners = [&](int t, float out[9]) {
        for (int c = 0; c < 3; ++c) {
            const XPnt3f& p = v[tri[std::size_t(t) * 3 + std::size_t(c)]];
            out[c * 3 + 0] = p.x, out[c * 3 + 1] = p.y, out[c * 3 + 2] = p.z;
        }
    };
    auto hashOf = [](const float f[9]) {
        std::uint64_t h = 1469598103934665603ull;
        for (int i = 0; i < 9; ++i) {
            std::uint32_t bits;
            std::memcpy(&bits, &f[i], sizeof bits);
            h = (h ^ bits) * 1099511628211ull;
        }
        return h ^ (h >> 29);
    };
    // Open addressing, newest first: the table holds t + 1 of the latest triangle of each shape.
    std::size_t size = 16;
    while (size < std::size_t(triangleCount) * 2) size <<= 1;
    std::vector<int> table(size, 0);
    bool any = false;
    float mine[9], theirs[9];
    for (int t = triangleCount - 1; t >= 0; --t) {
        corners(t, mine);
        for (std::size_t at = std::size_t(hashOf(mine)) & (size - 1);; at = (at + 1) & (size - 1)) {
            if (table[at] == 0) {
                table[at] = t + 1;
                break;
            }
            corners(table[at] - 1, theirs);
            if (std::memcmp(mine, theirs, sizeof mine) == 0) {
                if (!any) hidden.assign(std::size_t(triangleCount), false);
                any = true;
                hidden[std::size_t(t)] = true;
                break;
            }
        }
    }
    return hidden;
}

// ---- entry points ----------------------------------------------------------------------------

// Functions beyond GL 1.1, resolved for one context (core names, or the ARB/EXT ones where only
// the extension exists). A null pointer means the context lacks the feature.
struct GlApi {
    PFNGLGENBUFFERSPROC genBuffers = nullptr;
    PFNGLDELETEBUFFERSPROC deleteBuffers = nullptr;
    PFNGLBINDBUFFERPROC bindBuffer = nullptr;
    PFNGLBUFFERDATAPROC bufferData = nullptr;
    PFNGLBUFFERSUBDATAPROC bufferSubData = nullptr;
    PFNGLACTIVETEXTUREPROC activeTexture = nullptr;
    PFNGLCLIENTACTIVETEXTUREARBPROC clientActiveTexture = nullptr;  // same signature as the core one
    PFNGLUSEPROGRAMPROC useProgram = nullptr;
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
    PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;

    bool hasBuffers() const { return genBuffers && deleteBuffers && bindBuffer && bufferData && bufferSubData; }
    bool hasFramebuffers() const
    {
        return genFramebuffers && deleteFramebuffers && bindFramebuffer && checkFramebufferStatus && genRenderbuffers &&
               deleteRenderbuffers && bindRenderbuffer && renderbufferStorage && framebufferRenderbuffer;
    }
    // Separate read and draw framebuffer bindings (GL 3.0 / ARB_framebuffer_object); without
    // them (EXT_framebuffer_object) one binding serves both.
    bool separateReadDraw = false;
    // Pixel buffer objects exist, so GL_PIXEL_PACK/UNPACK_BUFFER bindings must be cleared around
    // client-memory transfers.
    bool pixelBuffers = false;
    int textureUnits = 1;  // fixed-function texture units
    int major = 0;         // GL version of the context
    int minor = 0;
    bool atLeast(int ma, int mi) const { return major > ma || (major == ma && minor >= mi); }
};

// Saves the framebuffer and buffer bindings that no attribute stack covers and puts them back
// on destruction.
class GlBindingGuard {
public:
    explicit GlBindingGuard(const GlApi& api);
    ~GlBindingGuard();
    GlBindingGuard(const GlBindingGuard&) = delete;
    GlBindingGuard& operator=(const GlBindingGuard&) = delete;

private:
    const GlApi& m_api;
    GLint m_drawFramebuffer = 0;
    GLint m_readFramebuffer = 0;
    GLint m_arrayBuffer = 0;
    GLint m_elementBuffer = 0;
    GLint m_packBuffer = 0;
    GLint m_unpackBuffer = 0;
    GLint m_program = 0;
};

// ---- per-context data ------------------------------------------------------------------------

class GlContextData {
public:
    // The data of the context current on this thread, made on first use; null when no context is
    // current. Deletes whatever was released for this context since it last ran.
    static GlContextData* current();

    virtual const GlApi& api() const = 0;

    // Makes sure the selection geometry of `mesh` (positions per triangle corner and the id
    // colours of its triangles counted from running number `base`) is on the GPU, uploading only
    // what changed since the last call. False when it cannot be (no buffer objects, out of memory).
    virtual bool prepareTriangleIds(const ref_ptr<IZimMesh>& mesh, std::uint64_t base) = 0;
    // Draws triangles [first, first + count) of the prepared id geometry of `mesh` with vertex
    // and colour arrays, which the caller has enabled.
    virtual void drawTriangleIds(const IZimMesh* mesh, int first, int count) = 0;
    // Binds the selection framebuffer (RGBA8 colour, 24-bit depth, no multisampling) sized
    // width x height, for drawing and reading. False when framebuffers are missing or incomplete.
    virtual bool bindSelectionFramebuffer(int width, int height) = 0;

protected:
    virtual ~GlContextData() = default;
};

}  // namespace kernel
}  // namespace zim
