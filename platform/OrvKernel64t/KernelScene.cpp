// Scene items and the per-context GPU data behind them (KernelScene.h, KernelSceneGl.h).
//
// A mesh is drawn from one vertex buffer: positions and texture coordinates interleaved, then the
// normals as a block of their own, so the textured path reads 20 bytes a vertex and only the
// shaded path touches the normals. A mesh whose texture corners have their own index list is
// expanded to one vertex per triangle corner and drawn with glDrawArrays; otherwise the vertices
// are shared and an element buffer holds the triangles.
//
// What was uploaded for a mesh is remembered by the arrays it came from. The record holds those
// arrays, so while the buffers live no new array can take the address of an old one: a mesh given
// new geometry (setMeshGeometry, or woken again) always shows up as changed and is uploaded anew.
// Arrays edited in place without a new setMeshGeometry call are not noticed; releaseMeshGpuData
// is the way to say so.
#include "KernelScene.h"

#include <QByteArray>
#include <QObject>
#include <QOpenGLContext>
#include <QVariant>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "KernelSceneGl.h"

// Last: the GLX headers bring the X11 macros (None, Bool, Status, ...) with them.
#include <GL/glx.h>

#include <QtPlatformHeaders/QGLXNativeContext>

namespace zim {
namespace kernel {

namespace {

// ---- resolving entry points --------------------------------------------------------------------

using ProcResolver = QFunctionPointer (*)(void* owner, const char* name);

QFunctionPointer resolveGlx(void*, const char* name)
{
    return reinterpret_cast<QFunctionPointer>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

QFunctionPointer resolveQt(void* owner, const char* name)
{
    return static_cast<QOpenGLContext*>(owner)->getProcAddress(name);
}

bool hasExtension(const char* extensions, const char* name)
{
    if (!extensions) return false;
    const std::size_t length = std::strlen(name);
    for (const char* p = extensions; (p = std::strstr(p, name)) != nullptr; p += length) {
        const bool startsWord = p == extensions || p[-1] == ' ';
        const bool endsWord = p[length] == ' ' || p[length] == '\0';
        if (startsWord && endsWord) return true;
    }
    return false;
}

template <class Fn>
void resolveInto(Fn& out, ProcResolver resolve, void* owner, const char* name)
{
    out = reinterpret_cast<Fn>(resolve(owner, name));
}

// Fills the entry points the context offers. A GLX resolver answers for any name, so every
// group is only taken when the version or an extension says the context has it.
void resolveApi(GlApi& api, ProcResolver resolve, void* owner)
{
    if (const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION)))
        std::sscanf(version, "%d.%d", &api.major, &api.minor);
    const char* ext = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    auto atLeast = [&](int ma, int mi) { return api.atLeast(ma, mi); };

    if (atLeast(1, 5)) {
        resolveInto(api.genBuffers, resolve, owner, "glGenBuffers");
        resolveInto(api.deleteBuffers, resolve, owner, "glDeleteBuffers");
        resolveInto(api.bindBuffer, resolve, owner, "glBindBuffer");
        resolveInto(api.bufferData, resolve, owner, "glBufferData");
        resolveInto(api.bufferSubData, resolve, owner, "glBufferSubData");
    } else if (hasExtension(ext, "GL_ARB_vertex_buffer_object")) {
        resolveInto(api.genBuffers, resolve, owner, "glGenBuffersARB");
        resolveInto(api.deleteBuffers, resolve, owner, "glDeleteBuffersARB");
        resolveInto(api.bindBuffer, resolve, owner, "glBindBufferARB");
        resolveInto(api.bufferData, resolve, owner, "glBufferDataARB");
        resolveInto(api.bufferSubData, resolve, owner, "glBufferSubDataARB");
    }
    if (atLeast(1, 3)) {
        resolveInto(api.activeTexture, resolve, owner, "glActiveTexture");
        resolveInto(api.clientActiveTexture, resolve, owner, "glClientActiveTexture");
    } else if (hasExtension(ext, "GL_ARB_multitexture")) {
        resolveInto(api.activeTexture, resolve, owner, "glActiveTextureARB");
        resolveInto(api.clientActiveTexture, resolve, owner, "glClientActiveTextureARB");
    }
    if (atLeast(2, 0)) resolveInto(api.useProgram, resolve, owner, "glUseProgram");

    const bool coreFbo = atLeast(3, 0) || hasExtension(ext, "GL_ARB_framebuffer_object");
    const bool extFbo = !coreFbo && hasExtension(ext, "GL_EXT_framebuffer_object");
    if (coreFbo || extFbo) {
        const char* suffix = coreFbo ? "" : "EXT";
        auto name = [&](const char* base) { return QByteArray(base) + suffix; };
        resolveInto(api.genFramebuffers, resolve, owner, name("glGenFramebuffers").constData());
        resolveInto(api.deleteFramebuffers, resolve, owner, name("glDeleteFramebuffers").constData());
        resolveInto(api.bindFramebuffer, resolve, owner, name("glBindFramebuffer").constData());
        resolveInto(api.checkFramebufferStatus, resolve, owner, name("glCheckFramebufferStatus").constData());
        resolveInto(api.genRenderbuffers, resolve, owner, name("glGenRenderbuffers").constData());
        resolveInto(api.deleteRenderbuffers, resolve, owner, name("glDeleteRenderbuffers").constData());
        resolveInto(api.bindRenderbuffer, resolve, owner, name("glBindRenderbuffer").constData());
        resolveInto(api.renderbufferStorage, resolve, owner, name("glRenderbufferStorage").constData());
        resolveInto(api.framebufferRenderbuffer, resolve, owner, name("glFramebufferRenderbuffer").constData());
        api.separateReadDraw = coreFbo;
    }
    api.pixelBuffers = atLeast(2, 1) || hasExtension(ext, "GL_ARB_pixel_buffer_object");
    if (api.activeTexture) {
        GLint units = 1;
        glGetIntegerv(GL_MAX_TEXTURE_UNITS, &units);
        api.textureUnits = std::max(1, int(units));
    }
}

// ---- what one mesh has on the GPU of one context ------------------------------------------------

struct MeshGpu {
    // The arrays the buffers were made from, with their sizes at the time.
    ref_ptr<Pnt3fArray> vertices;
    ref_ptr<IntArray> triangles;
    ref_ptr<Pnt2fArray> texCoords;
    ref_ptr<IntArray> texIndices;
    int vertexCount = -1;
    int indexCount = -1;
    int texCount = -1;
    int texIndexCount = -1;
    bool sound = false;  // every index lies inside its array

    // Drawing: [pos xyz, uv] per vertex, then [normal xyz] per vertex.
    GLuint drawBuffer = 0;
    GLuint elementBuffer = 0;  // 0: one vertex per corner, drawn in order
    GLsizei drawCount = 0;     // vertices (expanded) or indices to draw
    std::size_t normalOffset = 0;
    bool hasUv = false;
    // The draw without the triangles a later copy hides (trianglesHiddenByLaterCopies): vertex
    // indices into drawBuffer. 0 when no triangle is hidden.
    GLuint keptElements = 0;
    GLsizei keptCount = 0;

    // Texture: the image it was made from.
    ref_ptr<IZimImage> image;
    int imageWidth = 0;
    int imageHeight = 0;
    int imageBits = 0;
    GLuint texture = 0;

    // Selection ids: positions per corner, then RGBA colours per corner.
    GLuint idBuffer = 0;
    std::size_t idColourOffset = 0;
    std::uint64_t idBase = 0;
    // Corner numbers of the triangles no later copy hides; 0 when none is hidden.
    GLuint idKeptElements = 0;
    GLsizei idKeptCount = 0;
};

// The corners (3t, 3t + 1, 3t + 2) of the triangles not hidden, or their vertex indices.
std::vector<GLuint> keptCorners(const std::vector<bool>& hidden, const int* tri)
{
    std::vector<GLuint> kept;
    kept.reserve(hidden.size() * 3);
    for (std::size_t t = 0; t < hidden.size(); ++t)
        if (!hidden[t])
            for (std::size_t c = 0; c < 3; ++c) kept.push_back(tri ? GLuint(tri[t * 3 + c]) : GLuint(t * 3 + c));
    return kept;
}

// Leaving out triangles hidden by a later copy changes no pixel only while each fragment simply
// replaces what is there: no blending, stencil, alpha test or logic op, and a depth test that
// lets an equal depth through (or none).
bool onlyLastCopyCounts()
{
    if (glIsEnabled(GL_BLEND) || glIsEnabled(GL_STENCIL_TEST) || glIsEnabled(GL_ALPHA_TEST) ||
        glIsEnabled(GL_COLOR_LOGIC_OP))
        return false;
    if (!glIsEnabled(GL_DEPTH_TEST)) return true;
    GLint func = GL_LESS;
    glGetIntegerv(GL_DEPTH_FUNC, &func);
    return func == GL_LEQUAL || func == GL_ALWAYS;
}

constexpr GLsizei kDrawStride = 5 * sizeof(float);

bool outOfMemory()
{
    // Only the upload's own error matters; anything older is consumed with it.
    bool failed = false;
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError()) failed = failed || e == GL_OUT_OF_MEMORY;
    return failed;
}

// ---- per-context record ---------------------------------------------------------------------------

class ContextRecord;

struct ContextKey {
    int kind;  // 0: GLX context, 1: QOpenGLContext (no GLX context current)
    void* handle;
    bool operator<(const ContextKey& o) const { return kind != o.kind ? kind < o.kind : handle < o.handle; }
    bool operator==(const ContextKey& o) const { return kind == o.kind && handle == o.handle; }
};

// Never destroyed: contexts may outlive static destruction, and their destruction hooks reach here.
std::map<ContextKey, ContextRecord*>& registry()
{
    static auto* records = new std::map<ContextKey, ContextRecord*>();
    return *records;
}

bool currentKey(ContextKey& out)
{
    if (GLXContext glx = glXGetCurrentContext()) {
        out = {0, static_cast<void*>(glx)};
        return true;
    }
    if (QOpenGLContext* qt = QOpenGLContext::currentContext()) {
        out = {1, static_cast<void*>(qt)};
        return true;
    }
    return false;
}

class ContextRecord final : public GlContextData {
public:
    ContextRecord(const ContextKey& key, ProcResolver resolve, void* owner) : m_key(key)
    {
        resolveApi(m_api, resolve, owner);
    }

    const GlApi& api() const override { return m_api; }
    bool atLeast(int major, int minor) const { return m_api.atLeast(major, minor); }
    const ContextKey& key() const { return m_key; }
    void setDestroyHook(QMetaObject::Connection c) { m_destroyHook = c; }

    bool prepareTriangleIds(const ref_ptr<IZimMesh>& mesh, std::uint64_t base) override;
    void drawTriangleIds(const IZimMesh* mesh, int first, int count) override;
    bool bindSelectionFramebuffer(int width, int height) override;

    // The record of a mesh, with buffers of old geometry retired.
    MeshGpu& meshData(const IZimMesh& mesh);
    bool ensureDrawBuffers(MeshGpu& g);
    bool ensureTexture(MeshGpu& g, const ref_ptr<IZimImage>& image);
    void retireGeometry(MeshGpu& g);
    void retireTexture(MeshGpu& g);
    void releaseMesh(const IZimMesh* mesh);
    void flushRetired();
    // Deletes every GL name of the record; only with its context current.
    void deleteAll();

    ~ContextRecord() override { QObject::disconnect(m_destroyHook); }

private:
    void retireBuffer(GLuint& name)
    {
        if (name) m_retiredBuffers.push_back(name);
        name = 0;
    }

    ContextKey m_key;
    GlApi m_api;
    QMetaObject::Connection m_destroyHook;
    std::unordered_map<const IZimMesh*, MeshGpu> m_meshes;
    std::vector<GLuint> m_retiredBuffers;
    std::vector<GLuint> m_retiredTextures;
    GLuint m_selectFbo = 0;
    GLuint m_selectColour = 0;
    GLuint m_selectDepth = 0;
    int m_selectWidth = 0;
    int m_selectHeight = 0;
};

void dropRecord(const ContextKey& key, bool deleteNames)
{
    auto& records = registry();
    auto it = records.find(key);
    if (it == records.end()) return;
    ContextRecord* record = it->second;
    records.erase(it);
    if (deleteNames) record->deleteAll();
    delete record;
}

// ---- mesh data ----------------------------------------------------------------------------------

// The buffers are filled by indexing with these arrays, so they are checked once per geometry
// whatever the mesh class promises.
bool indicesInRange(const MeshGpu& g)
{
    if (g.indexCount % 3 != 0) return false;
    for (int i = 0; i < g.indexCount; ++i) {
        const int v = g.triangles->element(i);
        if (v < 0 || v >= g.vertexCount) return false;
    }
    if (!g.texIndices) return true;
    if (g.texIndexCount != g.indexCount) return false;
    for (int i = 0; i < g.texIndexCount; ++i) {
        const int t = g.texIndices->element(i);
        if (t < 0 || t >= g.texCount) return false;
    }
    return true;
}

MeshGpu& ContextRecord::meshData(const IZimMesh& mesh)
{
    MeshGpu& g = m_meshes[&mesh];
    const ref_ptr<Pnt3fArray> vertices = mesh.meshVertexSource();
    const ref_ptr<IntArray> triangles = mesh.meshTriangles();
    const ref_ptr<Pnt2fArray> texCoords = mesh.meshTexCoords();
    const ref_ptr<IntArray> texIndices = mesh.meshTexIndices();
    const int vertexCount = vertices ? vertices->count() : 0;
    const int indexCount = triangles ? triangles->count() : 0;
    const int texCount = texCoords ? texCoords->count() : 0;
    const int texIndexCount = texIndices ? texIndices->count() : 0;
    if (g.vertices != vertices || g.triangles != triangles || g.texCoords != texCoords || g.texIndices != texIndices ||
        g.vertexCount != vertexCount || g.indexCount != indexCount || g.texCount != texCount ||
        g.texIndexCount != texIndexCount) {
        retireGeometry(g);
        g.vertices = vertices;
        g.triangles = triangles;
        g.texCoords = texCoords;
        g.texIndices = texIndices;
        g.vertexCount = vertexCount;
        g.indexCount = indexCount;
        g.texCount = texCount;
        g.texIndexCount = texIndexCount;
        g.sound = indicesInRange(g);
    }
    return g;
}

void ContextRecord::retireGeometry(MeshGpu& g)
{
    retireBuffer(g.drawBuffer);
    retireBuffer(g.elementBuffer);
    retireBuffer(g.keptElements);
    retireBuffer(g.idBuffer);
    retireBuffer(g.idKeptElements);
    g.drawCount = 0;
    g.keptCount = 0;
    g.idKeptCount = 0;
}

void ContextRecord::retireTexture(MeshGpu& g)
{
    if (g.texture) m_retiredTextures.push_back(g.texture);
    g.texture = 0;
    g.image.reset();
}

void ContextRecord::releaseMesh(const IZimMesh* mesh)
{
    auto it = m_meshes.find(mesh);
    if (it == m_meshes.end()) return;
    retireGeometry(it->second);
    retireTexture(it->second);
    m_meshes.erase(it);
}

void ContextRecord::flushRetired()
{
    if (!m_retiredBuffers.empty() && m_api.deleteBuffers)
        m_api.deleteBuffers(GLsizei(m_retiredBuffers.size()), m_retiredBuffers.data());
    if (!m_retiredTextures.empty()) glDeleteTextures(GLsizei(m_retiredTextures.size()), m_retiredTextures.data());
    m_retiredBuffers.clear();
    m_retiredTextures.clear();
}

void ContextRecord::deleteAll()
{
    for (auto& entry : m_meshes) {
        retireGeometry(entry.second);
        retireTexture(entry.second);
    }
    m_meshes.clear();
    flushRetired();
    if (m_selectFbo) m_api.deleteFramebuffers(1, &m_selectFbo);
    if (m_selectColour) m_api.deleteRenderbuffers(1, &m_selectColour);
    if (m_selectDepth) m_api.deleteRenderbuffers(1, &m_selectDepth);
    m_selectFbo = m_selectColour = m_selectDepth = 0;
}

// Area-weighted vertex normals; a vertex on degenerate triangles only faces +z.
std::vector<XPnt3f> vertexNormals(const XPnt3f* v, int vertexCount, const int* tri, int triangleCount)
{
    std::vector<XPnt3f> normals(std::size_t(vertexCount), XPnt3f(0, 0, 0));
    for (int t = 0; t < triangleCount; ++t) {
        const int* c = tri + std::size_t(t) * 3;
        const XPnt3f n = (v[c[1]] - v[c[0]]).cross(v[c[2]] - v[c[0]]);
        normals[std::size_t(c[0])] += n;
        normals[std::size_t(c[1])] += n;
        normals[std::size_t(c[2])] += n;
    }
    for (XPnt3f& n : normals) {
        if (!(n.normalize() > 0.0f) || !n.isValid()) n = XPnt3f(0, 0, 1);
    }
    return normals;
}

bool ContextRecord::ensureDrawBuffers(MeshGpu& g)
{
    if (g.drawBuffer) return true;
    if (!g.sound) return false;
    const int triangleCount = g.indexCount / 3;
    if (triangleCount <= 0 || g.vertexCount <= 0) return true;  // nothing to draw
    if (!m_api.hasBuffers()) return false;

    const XPnt3f* v = g.vertices->data();
    const int* tri = g.triangles->data();
    const XPnt2f* uv = g.texCoords ? g.texCoords->data() : nullptr;
    const int* texTri = g.texIndices ? g.texIndices->data() : nullptr;
    const bool expanded = texTri != nullptr;
    g.hasUv = expanded ? g.texCount > 0 : g.texCount >= g.vertexCount;

    const std::vector<XPnt3f> normals = vertexNormals(v, g.vertexCount, tri, triangleCount);
    const std::size_t count = expanded ? std::size_t(g.indexCount) : std::size_t(g.vertexCount);
    std::vector<float> data(count * 8);
    float* interleaved = data.data();
    float* normalBlock = data.data() + count * 5;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t vi = expanded ? std::size_t(tri[i]) : i;
        const XPnt3f& p = v[vi];
        XPnt2f t(0, 0);
        if (g.hasUv) t = expanded ? uv[texTri[i]] : uv[vi];
        float* out = interleaved + i * 5;
        out[0] = p.x, out[1] = p.y, out[2] = p.z, out[3] = t.x, out[4] = t.y;
        const XPnt3f& n = normals[vi];
        normalBlock[i * 3 + 0] = n.x, normalBlock[i * 3 + 1] = n.y, normalBlock[i * 3 + 2] = n.z;
    }

    outOfMemory();
    m_api.genBuffers(1, &g.drawBuffer);
    m_api.bindBuffer(GL_ARRAY_BUFFER, g.drawBuffer);
    m_api.bufferData(GL_ARRAY_BUFFER, GLsizeiptr(data.size() * sizeof(float)), data.data(), GL_STATIC_DRAW);
    g.normalOffset = count * 5 * sizeof(float);
    if (!expanded) {
        m_api.genBuffers(1, &g.elementBuffer);
        m_api.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, g.elementBuffer);
        m_api.bufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(std::size_t(g.indexCount) * sizeof(GLuint)), tri,
                         GL_STATIC_DRAW);
    }
    g.drawCount = GLsizei(g.indexCount);
    const std::vector<bool> hidden = trianglesHiddenByLaterCopies(v, tri, triangleCount);
    if (!hidden.empty()) {
        const std::vector<GLuint> kept = keptCorners(hidden, expanded ? nullptr : tri);
        m_api.genBuffers(1, &g.keptElements);
        m_api.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, g.keptElements);
        m_api.bufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(kept.size() * sizeof(GLuint)), kept.data(),
                         GL_STATIC_DRAW);
        g.keptCount = GLsizei(kept.size());
    }
    if (outOfMemory()) {
        retireGeometry(g);
        return false;
    }
    return true;
}

bool ContextRecord::ensureTexture(MeshGpu& g, const ref_ptr<IZimImage>& image)
{
    if (!image || image->imageWidth() <= 0 || image->imageHeight() <= 0) {
        retireTexture(g);
        return false;
    }
    if (g.texture && g.image == image && g.imageWidth == image->imageWidth() && g.imageHeight == image->imageHeight() &&
        g.imageBits == image->imageBits())
        return true;
    retireTexture(g);

    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (maxSize <= 0) return false;
    setZimTextureSideLimit(maxSize);  // textures read from now on are decoded no larger
    ref_ptr<IZimImage> source = image;
    if (image->imageWidth() > maxSize || image->imageHeight() > maxSize) {
        source = image->imageClone();
        if (!source || source->imageResize(std::min(image->imageWidth(), int(maxSize)),
                                           std::min(image->imageHeight(), int(maxSize)), ZimImageResizeSmooth, 0) != 0)
            return false;
    }
    const unsigned char* pixels = source->imageData(0);
    if (!pixels) return false;
    const bool alpha = source->imageBits() == 32;

    // Rows are bottom-up B,G,R(,A), padded to 4 bytes: GL's own layout with 4-byte alignment.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    outOfMemory();
    glGenTextures(1, &g.texture);
    glBindTexture(GL_TEXTURE_2D, g.texture);
    const bool mipmaps = atLeast(1, 4);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    if (mipmaps) glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    glTexImage2D(GL_TEXTURE_2D, 0, alpha ? GL_RGBA8 : GL_RGB8, source->imageWidth(), source->imageHeight(), 0,
                 alpha ? GL_BGRA : GL_BGR, GL_UNSIGNED_BYTE, pixels);
    if (outOfMemory()) {
        retireTexture(g);
        return false;
    }
    g.image = image;
    g.imageWidth = image->imageWidth();
    g.imageHeight = image->imageHeight();
    g.imageBits = image->imageBits();
    return true;
}

// ---- selection ids --------------------------------------------------------------------------------

bool ContextRecord::prepareTriangleIds(const ref_ptr<IZimMesh>& mesh, std::uint64_t base)
{
    if (!mesh) return true;
    MeshGpu& g = meshData(*mesh);
    if (!g.sound) return false;
    const int triangleCount = g.indexCount / 3;
    if (triangleCount <= 0 || g.vertexCount <= 0) return true;
    if (!m_api.hasBuffers()) return false;

    const std::size_t corners = std::size_t(triangleCount) * 3;
    std::vector<unsigned char> colours(corners * 4);
    for (std::size_t t = 0; t < std::size_t(triangleCount); ++t) {
        unsigned char rgba[4];
        encodeTriangleId(triangleIdOf(base, t), rgba);
        for (int c = 0; c < 3; ++c) std::memcpy(&colours[(t * 3 + std::size_t(c)) * 4], rgba, 4);
    }

    outOfMemory();
    if (!g.idBuffer) {
        const XPnt3f* v = g.vertices->data();
        const int* tri = g.triangles->data();
        std::vector<float> positions(corners * 3);
        for (std::size_t i = 0; i < corners; ++i) {
            const XPnt3f& p = v[tri[i]];
            positions[i * 3 + 0] = p.x, positions[i * 3 + 1] = p.y, positions[i * 3 + 2] = p.z;
        }
        g.idColourOffset = positions.size() * sizeof(float);
        m_api.genBuffers(1, &g.idBuffer);
        m_api.bindBuffer(GL_ARRAY_BUFFER, g.idBuffer);
        m_api.bufferData(GL_ARRAY_BUFFER, GLsizeiptr(g.idColourOffset + colours.size()), nullptr, GL_STATIC_DRAW);
        m_api.bufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(g.idColourOffset), positions.data());
        m_api.bufferSubData(GL_ARRAY_BUFFER, GLintptr(g.idColourOffset), GLsizeiptr(colours.size()), colours.data());
        const std::vector<bool> hidden = trianglesHiddenByLaterCopies(v, tri, triangleCount);
        if (!hidden.empty()) {
            const std::vector<GLuint> kept = keptCorners(hidden, nullptr);
            m_api.genBuffers(1, &g.idKeptElements);
            m_api.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, g.idKeptElements);
            m_api.bufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(kept.size() * sizeof(GLuint)), kept.data(),
                             GL_STATIC_DRAW);
            g.idKeptCount = GLsizei(kept.size());
        }
    } else if (g.idBase != base) {
        m_api.bindBuffer(GL_ARRAY_BUFFER, g.idBuffer);
        m_api.bufferSubData(GL_ARRAY_BUFFER, GLintptr(g.idColourOffset), GLsizeiptr(colours.size()), colours.data());
    }
    g.idBase = base;
    if (outOfMemory()) {
        retireBuffer(g.idBuffer);
        retireBuffer(g.idKeptElements);
        g.idKeptCount = 0;
        return false;
    }
    return true;
}

void ContextRecord::drawTriangleIds(const IZimMesh* mesh, int first, int count)
{
    auto it = m_meshes.find(mesh);
    if (it == m_meshes.end() || !it->second.idBuffer || count <= 0) return;
    const MeshGpu& g = it->second;
    const int triangleCount = g.indexCount / 3;
    first = std::max(0, first);
    count = std::min(count, triangleCount - first);
    if (count <= 0) return;
    m_api.bindBuffer(GL_ARRAY_BUFFER, g.idBuffer);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, reinterpret_cast<const void*>(g.idColourOffset));
    // The whole mesh at once: its hidden copies can stay out (their later copy is in this draw).
    if (g.idKeptElements && first == 0 && count == triangleCount && onlyLastCopyCounts()) {
        m_api.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, g.idKeptElements);
        glDrawElements(GL_TRIANGLES, g.idKeptCount, GL_UNSIGNED_INT, nullptr);
        return;
    }
    glDrawArrays(GL_TRIANGLES, GLint(first) * 3, GLsizei(count) * 3);
}

bool ContextRecord::bindSelectionFramebuffer(int width, int height)
{
    if (!m_api.hasFramebuffers() || width <= 0 || height <= 0) return false;
    if (m_selectFbo && m_selectWidth == width && m_selectHeight == height) {
        m_api.bindFramebuffer(GL_FRAMEBUFFER, m_selectFbo);
        return true;
    }
    if (m_selectFbo) m_api.deleteFramebuffers(1, &m_selectFbo);
    if (m_selectColour) m_api.deleteRenderbuffers(1, &m_selectColour);
    if (m_selectDepth) m_api.deleteRenderbuffers(1, &m_selectDepth);
    m_selectFbo = m_selectColour = m_selectDepth = 0;
    m_selectWidth = m_selectHeight = 0;

    GLint oldRenderbuffer = 0;
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &oldRenderbuffer);
    outOfMemory();
    m_api.genRenderbuffers(1, &m_selectColour);
    m_api.bindRenderbuffer(GL_RENDERBUFFER, m_selectColour);
    m_api.renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    m_api.genRenderbuffers(1, &m_selectDepth);
    m_api.bindRenderbuffer(GL_RENDERBUFFER, m_selectDepth);
    m_api.renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    m_api.bindRenderbuffer(GL_RENDERBUFFER, GLuint(oldRenderbuffer));
    m_api.genFramebuffers(1, &m_selectFbo);
    m_api.bindFramebuffer(GL_FRAMEBUFFER, m_selectFbo);
    m_api.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_selectColour);
    m_api.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_selectDepth);
    const bool complete = m_api.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (outOfMemory() || !complete) {
        m_api.bindFramebuffer(GL_FRAMEBUFFER, 0);
        m_api.deleteFramebuffers(1, &m_selectFbo);
        m_api.deleteRenderbuffers(1, &m_selectColour);
        m_api.deleteRenderbuffers(1, &m_selectDepth);
        m_selectFbo = m_selectColour = m_selectDepth = 0;
        return false;
    }
    m_selectWidth = width;
    m_selectHeight = height;
    return true;
}

// ---- scene item -----------------------------------------------------------------------------------

// Pushes the attribute groups a scene item changes and pops them at the end of the scope.
struct AttribScope {
    AttribScope(GLbitfield server, GLbitfield client)
    {
        glPushAttrib(server);
        glPushClientAttrib(client);
    }
    ~AttribScope()
    {
        glPopClientAttrib();
        glPopAttrib();
    }
    AttribScope(const AttribScope&) = delete;
    AttribScope& operator=(const AttribScope&) = delete;
};

void disableTexturing(const ContextRecord& gl, int unit, bool keep2d)
{
    if (gl.api().activeTexture) gl.api().activeTexture(GLenum(GL_TEXTURE0 + unit));
    glDisable(GL_TEXTURE_1D);
    if (!keep2d) glDisable(GL_TEXTURE_2D);
    if (gl.atLeast(1, 2)) glDisable(GL_TEXTURE_3D);
    if (gl.atLeast(1, 3)) glDisable(GL_TEXTURE_CUBE_MAP);
    if (gl.atLeast(3, 1)) glDisable(GL_TEXTURE_RECTANGLE);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glDisable(GL_TEXTURE_GEN_R);
    glDisable(GL_TEXTURE_GEN_Q);
}

// A headlight (directional, from the eye) on a light grey two-sided material.
void setUpShading()
{
    static const GLfloat kAmbientScene[4] = {0.25f, 0.25f, 0.25f, 1.0f};
    static const GLfloat kBlack[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    static const GLfloat kLight[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    static const GLfloat kMaterial[4] = {0.75f, 0.75f, 0.75f, 1.0f};
    static const GLfloat kFromEye[4] = {0.0f, 0.0f, 1.0f, 0.0f};

    glEnable(GL_LIGHTING);
    GLint lights = 8;
    glGetIntegerv(GL_MAX_LIGHTS, &lights);
    for (GLint i = 1; i < lights; ++i) glDisable(GLenum(GL_LIGHT0 + i));
    glEnable(GL_LIGHT0);
    glDisable(GL_COLOR_MATERIAL);
    glEnable(GL_NORMALIZE);
    glShadeModel(GL_SMOOTH);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, kAmbientScene);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_FALSE);

    // The light position is taken through the current model-view matrix: give it the identity.
    GLfloat modelView[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glLightfv(GL_LIGHT0, GL_POSITION, kFromEye);
    glLoadMatrixf(modelView);
    glLightfv(GL_LIGHT0, GL_AMBIENT, kBlack);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, kLight);
    glLightfv(GL_LIGHT0, GL_SPECULAR, kBlack);
    glLightf(GL_LIGHT0, GL_SPOT_CUTOFF, 180.0f);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, kMaterial);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, kMaterial);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, kBlack);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, kBlack);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0.0f);
}

class CMeshSceneItem final : public IZimSceneItem {
public:
    CMeshSceneItem(int index, const ref_ptr<IZimMesh>& mesh, MeshDrawStateFn state)
        : m_index(index), m_mesh(mesh), m_state(std::move(state))
    {
    }

    int drawSceneItem(int mode, const ref_ptr<IZimDisplay>& display) override;

protected:
    ~CMeshSceneItem() override { releaseMeshGpuData(m_mesh.get()); }

private:
    int m_index;
    ref_ptr<IZimMesh> m_mesh;
    MeshDrawStateFn m_state;
};

int CMeshSceneItem::drawSceneItem(int mode, const ref_ptr<IZimDisplay>&)
{
    if (mode != 1) return -1;
    auto* gl = static_cast<ContextRecord*>(GlContextData::current());
    if (!gl) return -1;

    MeshDrawState state;
    if (m_state)
        state = m_state(m_index);
    else
        state.textureShown = m_mesh->isMeshTextureVisible();
    if (state.asleep) {
        releaseMeshGpuData(m_mesh.get());
        return 0;
    }

    AttribScope attribs(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_TEXTURE_BIT | GL_TRANSFORM_BIT | GL_CURRENT_BIT,
                        GL_CLIENT_VERTEX_ARRAY_BIT | GL_CLIENT_PIXEL_STORE_BIT);
    GlBindingGuard bindings(gl->api());
    const GlApi& api = gl->api();
    if (api.useProgram) api.useProgram(0);
    if (api.pixelBuffers) api.bindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);

    MeshGpu& g = gl->meshData(*m_mesh);
    if (!gl->ensureDrawBuffers(g)) return -1;
    if (!g.drawBuffer) return 0;  // no triangles

    bool textured = false;
    if (state.textureShown && g.hasUv) textured = gl->ensureTexture(g, m_mesh->meshTexture());

    for (int unit = api.textureUnits - 1; unit >= 0; --unit) disableTexturing(*gl, unit, unit == 0 && textured);
    if (api.clientActiveTexture) api.clientActiveTexture(GL_TEXTURE0);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_INDEX_ARRAY);
    glDisableClientState(GL_EDGE_FLAG_ARRAY);

    api.bindBuffer(GL_ARRAY_BUFFER, g.drawBuffer);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, kDrawStride, nullptr);
    if (textured) {
        glDisable(GL_LIGHTING);
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, g.texture);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glDisableClientState(GL_NORMAL_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, kDrawStride, reinterpret_cast<const void*>(3 * sizeof(float)));
    } else {
        setUpShading();
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        glNormalPointer(GL_FLOAT, 0, reinterpret_cast<const void*>(g.normalOffset));
    }
    if (g.keptElements && onlyLastCopyCounts()) {
        api.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, g.keptElements);
        glDrawElements(GL_TRIANGLES, g.keptCount, GL_UNSIGNED_INT, nullptr);
    } else if (g.elementBuffer) {
        api.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, g.elementBuffer);
        glDrawElements(GL_TRIANGLES, g.drawCount, GL_UNSIGNED_INT, nullptr);
    } else {
        glDrawArrays(GL_TRIANGLES, 0, g.drawCount);
    }
    return 0;
}

}  // namespace

// ---- GlBindingGuard -------------------------------------------------------------------------------

GlBindingGuard::GlBindingGuard(const GlApi& api) : m_api(api)
{
    if (api.hasFramebuffers()) {
        if (api.separateReadDraw) {
            glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &m_drawFramebuffer);
            glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &m_readFramebuffer);
        } else {
            glGetIntegerv(GL_FRAMEBUFFER_BINDING, &m_drawFramebuffer);
        }
    }
    if (api.hasBuffers()) {
        glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &m_arrayBuffer);
        glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &m_elementBuffer);
        if (api.pixelBuffers) {
            glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &m_packBuffer);
            glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &m_unpackBuffer);
        }
    }
    if (api.useProgram) glGetIntegerv(GL_CURRENT_PROGRAM, &m_program);
}

GlBindingGuard::~GlBindingGuard()
{
    if (m_api.hasFramebuffers()) {
        if (m_api.separateReadDraw) {
            m_api.bindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(m_drawFramebuffer));
            m_api.bindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(m_readFramebuffer));
        } else {
            m_api.bindFramebuffer(GL_FRAMEBUFFER, GLuint(m_drawFramebuffer));
        }
    }
    if (m_api.hasBuffers()) {
        m_api.bindBuffer(GL_ARRAY_BUFFER, GLuint(m_arrayBuffer));
        m_api.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, GLuint(m_elementBuffer));
        if (m_api.pixelBuffers) {
            m_api.bindBuffer(GL_PIXEL_PACK_BUFFER, GLuint(m_packBuffer));
            m_api.bindBuffer(GL_PIXEL_UNPACK_BUFFER, GLuint(m_unpackBuffer));
        }
    }
    if (m_api.useProgram) m_api.useProgram(GLuint(m_program));
}

// ---- GlContextData ---------------------------------------------------------------------------------

GlContextData* GlContextData::current()
{
    ContextKey key{};
    if (!currentKey(key)) return nullptr;
    auto& records = registry();
    auto it = records.find(key);
    if (it != records.end()) {
        it->second->flushRetired();
        return it->second;
    }

    QOpenGLContext* qt = QOpenGLContext::currentContext();
    ContextRecord* record = nullptr;
    if (key.kind == 0) {
        record = new ContextRecord(key, resolveGlx, nullptr);
        // A Qt context whose native handle is this GLX context tells when it goes away. One that
        // was made current behind Qt's back does not match and is left alone.
        if (qt) {
            const QVariant handle = qt->nativeHandle();
            if (!handle.canConvert<QGLXNativeContext>() ||
                handle.value<QGLXNativeContext>().context() != static_cast<GLXContext>(key.handle))
                qt = nullptr;
        }
    } else {
        record = new ContextRecord(key, resolveQt, qt);
    }
    records[key] = record;
    if (qt) {
        record->setDestroyHook(QObject::connect(qt, &QOpenGLContext::aboutToBeDestroyed, [key]() {
            ContextKey now{};
            dropRecord(key, currentKey(now) && now == key);
        }));
    }
    return record;
}

// ---- KernelScene.h ---------------------------------------------------------------------------------

ref_ptr<IZimSceneItem> newMeshSceneItem(int index, const ref_ptr<IZimMesh>& mesh, MeshDrawStateFn state)
{
    if (!mesh) return nullptr;
    return ref_ptr<IZimSceneItem>(new CMeshSceneItem(index, mesh, std::move(state)));
}

void releaseMeshGpuData(const IZimMesh* mesh)
{
    if (!mesh) return;
    ContextKey now{};
    const bool haveCurrent = currentKey(now);
    for (auto& entry : registry()) {
        entry.second->releaseMesh(mesh);
        if (haveCurrent && entry.first == now) entry.second->flushRetired();
    }
}

}  // namespace kernel
}  // namespace zim
