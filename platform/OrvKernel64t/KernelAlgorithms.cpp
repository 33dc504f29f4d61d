// Kernel algorithms the viewers call: the GL triangle selection, the transparency test of a
// texture triangle, point in triangle, image conversion and the small record factories.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "KernelSceneGl.h"
#include "OrvKernel64t.h"

// ---- records ----------------------------------------------------------------------------------

TqTriangleIndex::TqTriangleIndex(unsigned v0, unsigned v1, unsigned v2, const XPnt3f& w0, const XPnt3f& w1,
                                 const XPnt3f& w2, const XPnt3d& s0, const XPnt3d& s1, const XPnt3d& s2,
                                 const XPnt2f& t0, const XPnt2f& t1, const XPnt2f& t2, long mesh)
    : meshIndex(mesh), m_vertex{v0, v1, v2}, m_world{w0, w1, w2}, m_screen{s0, s1, s2}, m_tex{t0, t1, t2}
{
}

TqTriangleIndex::~TqTriangleIndex() = default;

namespace zim {

ref_ptr<TqTriangleIndex> newTqTriangleIndex(unsigned v0, unsigned v1, unsigned v2, const XPnt3f& w0, const XPnt3f& w1,
                                            const XPnt3f& w2, const XPnt3d& s0, const XPnt3d& s1, const XPnt3d& s2,
                                            const XPnt2f& t0, const XPnt2f& t1, const XPnt2f& t2, long mesh)
{
    return ref_ptr<TqTriangleIndex>(new TqTriangleIndex(v0, v1, v2, w0, w1, w2, s0, s1, s2, t0, t1, t2, mesh));
}

_PixelRowCol_ newPixelRowCol(int x, int y, int colour)
{
    _PixelRowCol_ p;
    p.x = x;
    p.y = y;
    p.colour = colour;
    return p;
}

// ---- triangle selection -------------------------------------------------------------------------
//
// The meshes are drawn into an offscreen framebuffer of the viewport's size with one flat colour
// per triangle (the id encoding is in KernelSceneGl.h), with the depth test the viewer uses
// (GL_LEQUAL, so of two coincident triangles the later one wins as on screen) and nothing that
// could change a colour: no lighting, texturing, blending, fog, dithering or multisampling. The
// window's framebuffer, matrices and state are left exactly as they were. The ids of the region
// are read back once per pass and marked on the CPU.
//
// wholeTriangles true: a triangle is flagged when at least one of its visible pixels lies in the
// region. false: only triangles whose visible pixels all lie in the region (a triangle that also
// shows outside it, in the viewport, is left out).
//
// The region is taken in window pixels, inclusive at both ends: pixel columns x with
// minX <= x <= maxX and rows y with minY <= y <= maxY, clipped to the viewport; (0, w, 0, h) is
// the whole w x h view. Without a trackball the matrices and viewport already loaded are used.
// A canceled progress gives -1, like a context that cannot render (no buffer or framebuffer
// objects, or a framebuffer the driver refuses).

namespace {

struct PixelRect {
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive
    int width() const { return x1 - x0 + 1; }
    int height() const { return y1 - y0 + 1; }
    bool contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
};

bool clipRegion(const Enve2d& region, const GLint viewport[4], PixelRect& out)
{
    if (region.isEmpty()) return false;  // also NaN bounds
    const double vx0 = viewport[0], vy0 = viewport[1];
    const double vx1 = double(viewport[0]) + viewport[2] - 1, vy1 = double(viewport[1]) + viewport[3] - 1;
    const double x0 = std::max(vx0, std::ceil(region.minX)), x1 = std::min(vx1, std::floor(region.maxX));
    const double y0 = std::max(vy0, std::ceil(region.minY)), y1 = std::min(vy1, std::floor(region.maxY));
    if (!(x0 <= x1 && y0 <= y1)) return false;
    out.x0 = int(x0), out.x1 = int(x1), out.y0 = int(y0), out.y1 = int(y1);
    return true;
}

struct AttribScope {
    AttribScope()
    {
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    }
    ~AttribScope()
    {
        glPopClientAttrib();
        glPopAttrib();
    }
    AttribScope(const AttribScope&) = delete;
    AttribScope& operator=(const AttribScope&) = delete;
};

// The projection and model-view matrices (the mode itself comes back with the attributes).
struct MatrixGuard {
    GLfloat projection[16];
    GLfloat modelView[16];
    MatrixGuard()
    {
        glGetFloatv(GL_PROJECTION_MATRIX, projection);
        glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
    }
    ~MatrixGuard()
    {
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(projection);
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(modelView);
    }
    MatrixGuard(const MatrixGuard&) = delete;
    MatrixGuard& operator=(const MatrixGuard&) = delete;
};

void setUpIdRendering(const kernel::GlApi& api, GLint width, GLint height)
{
    glViewport(0, 0, width, height);
    static const GLenum kOff[] = {GL_LIGHTING,       GL_BLEND,           GL_FOG,       GL_ALPHA_TEST,
                                  GL_STENCIL_TEST,   GL_SCISSOR_TEST,    GL_DITHER,    GL_COLOR_LOGIC_OP,
                                  GL_POLYGON_SMOOTH, GL_POLYGON_STIPPLE, GL_CULL_FACE, GL_POLYGON_OFFSET_FILL,
                                  GL_COLOR_MATERIAL};
    for (GLenum cap : kOff) glDisable(cap);
    if (api.atLeast(1, 3)) glDisable(GL_MULTISAMPLE);
    if (api.atLeast(1, 4)) glDisable(GL_COLOR_SUM);
    for (int unit = api.textureUnits - 1; unit >= 0; --unit) {
        if (api.activeTexture) api.activeTexture(GLenum(GL_TEXTURE0 + unit));
        glDisable(GL_TEXTURE_1D);
        glDisable(GL_TEXTURE_2D);
        if (api.atLeast(1, 2)) glDisable(GL_TEXTURE_3D);
        if (api.atLeast(1, 3)) glDisable(GL_TEXTURE_CUBE_MAP);
        if (api.atLeast(3, 1)) glDisable(GL_TEXTURE_RECTANGLE);
    }
    if (api.useProgram) api.useProgram(0);
    if (api.pixelBuffers) api.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glShadeModel(GL_FLAT);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
    glPixelTransferi(GL_MAP_COLOR, GL_FALSE);
    static const GLenum kScales[] = {GL_RED_SCALE, GL_GREEN_SCALE, GL_BLUE_SCALE, GL_ALPHA_SCALE};
    static const GLenum kBiases[] = {GL_RED_BIAS, GL_GREEN_BIAS, GL_BLUE_BIAS, GL_ALPHA_BIAS};
    for (GLenum s : kScales) glPixelTransferf(s, 1.0f);
    for (GLenum b : kBiases) glPixelTransferf(b, 0.0f);

    if (api.clientActiveTexture) api.clientActiveTexture(GL_TEXTURE0);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_INDEX_ARRAY);
    glDisableClientState(GL_EDGE_FLAG_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
}

}  // namespace

long tqSelectTriByOpenGL(const ref_ptr<IZimTrackBall>& trackBall, bool wholeTriangles, const ref_ptr<MeshArray>& meshes,
                         const Enve2d& region, ref_ptr<ByteArrayArray>& flags, IZimProgress* progress)
{
    kernel::GlContextData* gl = kernel::GlContextData::current();
    if (!gl || !meshes) return -1;

    // One zeroed flag array per mesh, and the running number of each mesh's first triangle.
    const int meshCount = meshes->meshCount();
    if (!flags) flags = newByteArrayArray();
    flags->clear();
    std::vector<ref_ptr<IZimMesh>> list(std::size_t(std::max(0, meshCount)));
    std::vector<std::uint64_t> first(list.size() + 1, 0);
    for (int i = 0; i < meshCount; ++i) {
        list[std::size_t(i)] = meshes->meshAt(i);
        const ref_ptr<IntArray> triangles = list[std::size_t(i)] ? list[std::size_t(i)]->meshTriangles() : nullptr;
        const int count = triangles ? triangles->count() / 3 : 0;
        ref_ptr<ByteArray> bytes = newByteArray();
        bytes->resize(count, 0);
        flags->append(bytes);
        first[std::size_t(i) + 1] = first[std::size_t(i)] + std::uint64_t(count);
    }
    const std::uint64_t total = first.back();
    if (total == 0) return 0;

    const kernel::GlApi& api = gl->api();
    if (!api.hasBuffers() || !api.hasFramebuffers()) return -1;

    AttribScope attribs;
    kernel::GlBindingGuard bindings(api);
    MatrixGuard matrices;
    if (trackBall) trackBall->applyView();
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    PixelRect rect;
    if (viewport[2] <= 0 || viewport[3] <= 0 || !clipRegion(region, viewport, rect)) return 0;

    const double stepPerMesh = 1.0 / double(meshCount + 1);
    for (int i = 0; i < meshCount; ++i) {
        if (list[std::size_t(i)] && !gl->prepareTriangleIds(list[std::size_t(i)], first[std::size_t(i)])) return -1;
        if (progress) {
            progress->progressStep(stepPerMesh);
            if (progress->progressCanceled()) return -1;
        }
    }
    if (!gl->bindSelectionFramebuffer(viewport[2], viewport[3])) return -1;
    setUpIdRendering(api, viewport[2], viewport[3]);

    // Pass k draws the triangles with running numbers [k * perPass, (k + 1) * perPass).
    const std::uint64_t perPass = kernel::kTriangleIdsPerPass;
    const std::uint64_t passes = (total + perPass - 1) / perPass;
    auto drawRange = [&](std::uint64_t from, std::uint64_t to) {
        for (int i = 0; i < meshCount; ++i) {
            const std::uint64_t a = std::max(from, first[std::size_t(i)]);
            const std::uint64_t b = std::min(to, first[std::size_t(i) + 1]);
            if (a < b) gl->drawTriangleIds(list[std::size_t(i)].get(), int(a - first[std::size_t(i)]), int(b - a));
        }
    };
    if (passes > 1) {
        // Depth of everything first, so each pass sees what the others hide.
        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
        drawRange(0, total);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glDepthMask(GL_FALSE);
    }

    // Read the region, or the whole viewport when pixels outside the region count too.
    PixelRect read = rect;
    if (!wholeTriangles)
        read = {viewport[0], viewport[1], viewport[0] + viewport[2] - 1, viewport[1] + viewport[3] - 1};
    std::vector<unsigned char> pixels(std::size_t(read.width()) * std::size_t(read.height()) * 4);
    constexpr unsigned char kInside = 1, kOutside = 2;
    for (std::uint64_t pass = 0; pass < passes; ++pass) {
        const std::uint64_t from = pass * perPass;
        if (pass > 0) glClear(GL_COLOR_BUFFER_BIT);
        drawRange(from, std::min(total, from + perPass));
        glReadPixels(read.x0 - viewport[0], read.y0 - viewport[1], read.width(), read.height(), GL_RGBA,
                     GL_UNSIGNED_BYTE, pixels.data());

        std::uint32_t lastId = 0;
        unsigned char lastMark = 0;
        const unsigned char* px = pixels.data();
        for (int y = read.y0; y <= read.y1; ++y) {
            for (int x = read.x0; x <= read.x1; ++x, px += 4) {
                const std::uint32_t id = kernel::decodeTriangleId(px);
                if (id == 0) continue;
                const unsigned char mark = rect.contains(x, y) ? kInside : kOutside;
                if (id == lastId && mark == lastMark) continue;
                lastId = id;
                lastMark = mark;
                const std::uint64_t n = from + id - 1;
                if (n >= total) continue;
                const std::size_t m = std::size_t(std::upper_bound(first.begin(), first.end(), n) - first.begin()) - 1;
                flags->element(int(m))->element(int(n - first[m])) |= mark;
            }
        }
    }
    if (progress) progress->progressStep(stepPerMesh);

    long selected = 0;
    for (int i = 0; i < meshCount; ++i) {
        ByteArray& bytes = *flags->element(i);
        for (unsigned char& b : bytes) {
            b = wholeTriangles ? (b & kInside) != 0 : b == kInside;
            selected += b;
        }
    }
    return selected;
}

// ---- transparency of a texture triangle ------------------------------------------------------
//
// The alpha image is sampled (bilinear, clamped at the borders) at seven points of the texture
// triangle: its corners, the midpoints of its edges and its centroid. Byte 2 of a sample is the
// weight, 0 fully transparent to 255 opaque. The triangle counts as transparent when the mean
// weight is below half (128): a mostly see-through triangle lets what is behind it show, so its
// duplicates are not treated as hidden by it.

bool isAlphaTri(const ref_ptr<IZimImage>& alpha, const XPnt2f* t0, const XPnt2f* t1, const XPnt2f* t2)
{
    if (!alpha || !t0 || !t1 || !t2) return false;
    const float w = float(alpha->imageWidth());
    const float h = float(alpha->imageHeight());
    if (!(w > 0.0f && h > 0.0f)) return false;
    const XPnt2f points[7] = {
        *t0, *t1, *t2, (*t0 + *t1) * 0.5f, (*t1 + *t2) * 0.5f, (*t2 + *t0) * 0.5f, (*t0 + *t1 + *t2) / 3.0f};
    int sum = 0;
    int samples = 0;
    for (const XPnt2f& p : points) {
        unsigned char out[4] = {0, 0, 0, 0};
        if (!alpha->imageSample(out, p.x * w, p.y * h, 4, ZimImageBilinear, nullptr)) continue;
        sum += out[2];
        ++samples;
    }
    return samples > 0 && sum < 128 * samples;
}

// ---- point in triangle -------------------------------------------------------------------------

bool PntInTri(float x, float y, const ref_ptr<Pnt2fArray>& triangle)
{
    if (!triangle || triangle->count() < 3) return false;
    const XPnt2f& a = triangle->element(0);
    const XPnt2f& b = triangle->element(1);
    const XPnt2f& c = triangle->element(2);
    if (!std::isfinite(x) || !std::isfinite(y) || !a.isValid() || !b.isValid() || !c.isValid()) return false;
    return ZimTriangle2d(a, b, c).contains(x, y);
}

// ---- image conversion ----------------------------------------------------------------------------

int imgTrans(const ref_ptr<IZimImage>& image, QImage* out, int kind)
{
    if (kind != 1 || !out || !image || image->imageWidth() <= 0 || image->imageHeight() <= 0) return -1;
    // Top row first, R,G,B (or ARGB32 for an alpha image); the QImage owns its copy.
    QImage converted = image->imageToQImage();
    if (converted.isNull()) return -1;
    *out = std::move(converted);
    return 0;
}

}  // namespace zim
