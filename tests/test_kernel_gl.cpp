// Kernel GL half: scene items drawing meshes in a real context, the GL triangle selection, and
// the small kernel algorithms (transparency of a texture triangle, point in triangle, image
// conversion). Everything renders into a framebuffer object standing in for the window.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "../platform/OrvKernel64t/KernelScene.h"
#include "OrvKernel64t.h"

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
// Keeps the software GL driver mapped until exit, so what it holds for the life of the process
// is reported under its own name, where the leak suppressions match it.
static const bool kDriverPinned = [] {
    for (const char* path : {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", "/usr/lib64/dri/swrast_dri.so"})
        if (dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) return true;
    return false;
}();
#endif

using zim::kernel::MeshDrawState;

namespace {

constexpr int kW = 200, kH = 150;
struct Rgb {
    int r, g, b;
};
int colourOf(int r, int g, int b, int a = 255) { return b | (g << 8) | (r << 16) | (a << 24); }
const Rgb kBackground{10, 20, 30};

ref_ptr<IZimImage> makeImage(int w, int h, int bits, const std::function<int(int, int)>& colour)
{
    ref_ptr<IZimImage> image = zim::newZimImage();
    EXPECT_NE(image->imageCreate(w, h, bits, ZimImageNoMarks), nullptr);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image->imageSetPixel(x, y, colour(x, y), true);
    return image;
}

template <class T>
ref_ptr<ZimArray<T>> arrayOf(const std::vector<T>& items)
{
    ref_ptr<ZimArray<T>> array(new ZimArray<T>());
    for (const T& item : items) array->append(item);
    return array;
}

ref_ptr<IZimMesh> makeMesh(const std::vector<XPnt3f>& v, const std::vector<int>& t, const std::vector<XPnt2f>& uv = {},
                           const std::vector<int>& ti = {})
{
    ref_ptr<IZimMesh> mesh = zim::newZimMesh();
    EXPECT_EQ(mesh->setMeshGeometry(arrayOf(v), arrayOf(t), arrayOf(uv), ti.empty() ? nullptr : arrayOf(ti)), 0)
        << qPrintable(mesh->meshLastError());
    return mesh;
}

ref_ptr<IZimMesh> makeQuad(float x0, float y0, float x1, float y1, float z0, float z1 = NAN)
{
    if (std::isnan(z1)) z1 = z0;
    return makeMesh({{x0, y0, z0}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z0}}, {0, 1, 2, 0, 2, 3},
                    {{0, 0}, {1, 0}, {1, 1}, {0, 1}});
}

// Bottom-left red, bottom-right green, top-left blue, top-right white.
ref_ptr<IZimImage> quadrantTexture()
{
    static const int colours[4] = {colourOf(255, 0, 0), colourOf(0, 255, 0), colourOf(0, 0, 255),
                                   colourOf(255, 255, 255)};
    return makeImage(2, 2, 24, [](int x, int y) { return colours[y * 2 + x]; });
}

class KernelGl : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!makeContext(m_context, m_surface)) GTEST_SKIP() << "no current OpenGL context on this display";
        m_fbo = makeWindow();
    }
    void TearDown() override
    {
        if (m_context && QOpenGLContext::currentContext() == m_context.get()) {
            EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
            m_fbo.reset();
            m_context->doneCurrent();
        }
    }

    static bool makeContext(std::unique_ptr<QOpenGLContext>& context, std::unique_ptr<QOffscreenSurface>& surface)
    {
        QSurfaceFormat format;
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        format.setVersion(2, 1);
        context = std::make_unique<QOpenGLContext>();
        context->setFormat(format);
        surface = std::make_unique<QOffscreenSurface>();
        surface->setFormat(format);
        surface->create();
        return context->create() && context->makeCurrent(surface.get());
    }
    // The "window": a 200 x 150 framebuffer with depth, an orthographic pixel view and depth
    // test as the viewer sets it (larger z is nearer).
    static std::unique_ptr<QOpenGLFramebufferObject> makeWindow()
    {
        auto fbo = std::make_unique<QOpenGLFramebufferObject>(kW, kH, QOpenGLFramebufferObject::Depth);
        fbo->bind();
        glViewport(0, 0, kW, kH);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, kW, 0, kH, -200, 200);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        clear();
        return fbo;
    }
    static void clear()
    {
        glClearColor(kBackground.r / 255.0f, kBackground.g / 255.0f, kBackground.b / 255.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    static Rgb pixel(int x, int y)
    {
        unsigned char p[4] = {0, 0, 0, 0};
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return {p[0], p[1], p[2]};
    }
    static void expectPixel(int x, int y, Rgb want, int tolerance = 3)
    {
        const Rgb got = pixel(x, y);
        EXPECT_TRUE(std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
                    std::abs(got.b - want.b) <= tolerance)
            << "pixel (" << x << ", " << y << ") is " << got.r << "," << got.g << "," << got.b << ", want " << want.r
            << "," << want.g << "," << want.b;
    }
    static void expectQuadrants(Rgb bl, Rgb br, Rgb tl, Rgb tr)
    {
        // Nearer the corners than the texel centres, where clamping gives the texel unmixed.
        expectPixel(40, 30, bl);
        expectPixel(160, 30, br);
        expectPixel(40, 120, tl);
        expectPixel(160, 120, tr);
    }

    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLFramebufferObject> m_fbo;
};

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

}  // namespace

// ---- scene items ---------------------------------------------------------------------------------

TEST_F(KernelGl, TexturedQuadShowsItsTextureAndKeepsTheUploadedCopy)
{
    ref_ptr<IZimImage> texture = quadrantTexture();
    ref_ptr<IZimMesh> quad = makeQuad(20, 15, 180, 135, 0);
    quad->setMeshTextureImage(texture);
    ref_ptr<IZimSceneItem> item = zim::kernel::newMeshSceneItem(0, quad, nullptr);
    ASSERT_TRUE(item);
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectQuadrants(kRed, kGreen, kBlue, kWhite);
    expectPixel(5, 5, kBackground, 0);

    // Pixels changed in place are not seen: the second frame draws from the uploaded texture.
    texture->imageFill(colourOf(0, 0, 0), 0);
    clear();
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectQuadrants(kRed, kGreen, kBlue, kWhite);
    zim::kernel::releaseMeshGpuData(quad.get());
    clear();
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectQuadrants(kBlack, kBlack, kBlack, kBlack);

    // New geometry is noticed without being told.
    auto moved = makeQuad(100, 15, 180, 135, 0);
    ASSERT_EQ(quad->setMeshGeometry(moved->meshVertexSource(), moved->meshTriangles(), moved->meshTexCoords(), nullptr),
              0);
    clear();
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectPixel(40, 30, kBackground, 0);
    expectPixel(160, 30, kBlack);
}

TEST_F(KernelGl, HiddenOrMissingTextureIsShadedByFacing)
{
    MeshDrawState state;
    state.textureShown = false;
    auto stateFn = [&state](int) { return state; };
    ref_ptr<IZimMesh> facing = makeQuad(10, 20, 90, 130, 0);
    facing->setMeshTextureImage(makeImage(4, 4, 24, [](int, int) { return colourOf(255, 0, 0); }));
    // Turned 60 degrees about the vertical: same width on screen, half the light.
    ref_ptr<IZimMesh> tilted = makeQuad(110, 20, 190, 130, 0, -80.0f * std::sqrt(3.0f));
    auto a = zim::kernel::newMeshSceneItem(0, facing, stateFn);
    auto b = zim::kernel::newMeshSceneItem(1, tilted, nullptr);  // no texture at all
    ASSERT_EQ(a->drawSceneItem(1, nullptr), 0);
    ASSERT_EQ(b->drawSceneItem(1, nullptr), 0);
    const Rgb lit = pixel(50, 75), turned = pixel(150, 75);
    for (const Rgb& c : {lit, turned}) {
        EXPECT_LE(std::abs(c.r - c.g) + std::abs(c.g - c.b), 2)
            << "grey, not the texture: " << c.r << "," << c.g << "," << c.b;
        EXPECT_GT(c.g, 60);
    }
    EXPECT_GT(lit.g, turned.g + 50) << "a surface facing the eye is brighter";

    state.textureShown = true;
    clear();
    ASSERT_EQ(a->drawSceneItem(1, nullptr), 0);
    expectPixel(50, 75, kRed);
}

TEST_F(KernelGl, AsleepMeshDrawsNothingAndGivesUpItsGpuCopy)
{
    MeshDrawState state;
    ref_ptr<IZimImage> texture = quadrantTexture();
    ref_ptr<IZimMesh> quad = makeQuad(20, 15, 180, 135, 0);
    quad->setMeshTextureImage(texture);
    auto item = zim::kernel::newMeshSceneItem(3, quad, [&state](int index) {
        EXPECT_EQ(index, 3);
        return state;
    });
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectQuadrants(kRed, kGreen, kBlue, kWhite);

    state.asleep = true;
    clear();
    EXPECT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectPixel(40, 30, kBackground, 0);
    expectPixel(160, 120, kBackground, 0);

    texture->imageFill(colourOf(0, 255, 0), 0);
    state.asleep = false;
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectQuadrants(kGreen, kGreen, kGreen, kGreen);  // uploaded again after the sleep
}

TEST_F(KernelGl, ProjectTextureEditedInPlaceShowsInTheNextFrameOnceNotified)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QDir dir(tmp.path());
    QImage red(4, 4, QImage::Format_RGB32);
    red.fill(qRgb(255, 0, 0));
    ASSERT_TRUE(red.save(dir.filePath(QStringLiteral("quad.png"))));
    QImage photo(32, 24, QImage::Format_RGB32);
    photo.fill(qRgb(90, 90, 90));
    ASSERT_TRUE(photo.save(dir.filePath(QStringLiteral("photo.png"))));
    const QByteArray mtl("newmtl m\nKd 1 1 1\nmap_Kd quad.png\n");
    const QByteArray obj(
        "mtllib quad.mtl\nusemtl m\nv 20 15 0\nv 180 15 0\nv 180 135 0\nv 20 135 0\n"
        "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n");
    for (const auto& file :
         {std::make_pair(QStringLiteral("quad.mtl"), mtl), std::make_pair(QStringLiteral("quad.obj"), obj)}) {
        QFile f(dir.filePath(file.first));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(file.second), file.second.size());
    }
    ref_ptr<IZimMM> mm = zim::getMM();
    ASSERT_EQ(mm->createProject(dir.filePath(QStringLiteral("p.orvproj"))), 0) << qPrintable(mm->lastError());
    ASSERT_EQ(
        mm->addImage(dir.filePath(QStringLiteral("photo.png")), dir.filePath(QStringLiteral("quad.obj")), QString()), 0)
        << qPrintable(mm->lastError());
    ref_ptr<IZimSceneItem> item = mm->sceneItemAt(0);
    ref_ptr<IZimMesh> mesh;
    ASSERT_EQ(mm->getMeshAt(mesh, 0), 0);
    ASSERT_TRUE(item);
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectPixel(100, 75, kRed);

    // Painted in place: the frame keeps the uploaded copy until the edit is announced.
    ASSERT_TRUE(mesh->meshTexture());
    mesh->meshTexture()->imageFill(colourOf(0, 255, 0), 0);
    clear();
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectPixel(100, 75, kRed);
    ASSERT_EQ(mm->notifyTextureEdited(0), 0) << qPrintable(mm->lastError());
    clear();
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectPixel(100, 75, kGreen);
    item.reset();
    mesh.reset();
    mm->closeProject();
}

TEST_F(KernelGl, SeparateTextureIndicesChooseTheCornersTexture)
{
    // Four shared vertices, but each triangle takes all its corners from one texel.
    ref_ptr<IZimMesh> quad = makeMesh({{20, 15, 0}, {180, 15, 0}, {180, 135, 0}, {20, 135, 0}}, {0, 1, 2, 0, 2, 3},
                                      {{0.25f, 0.5f}, {0.75f, 0.5f}}, {0, 0, 0, 1, 1, 1});
    quad->setMeshTextureImage(
        makeImage(2, 1, 24, [](int x, int) { return x ? colourOf(0, 0, 255) : colourOf(255, 0, 0); }));
    auto item = zim::kernel::newMeshSceneItem(0, quad, nullptr);
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectPixel(150, 40, kRed);   // below the diagonal: triangle (0, 1, 2)
    expectPixel(50, 110, kBlue);  // above it: triangle (0, 2, 3)
}

TEST_F(KernelGl, EveryContextGetsItsOwnUploadAndStateIsPutBack)
{
    ref_ptr<IZimImage> texture = quadrantTexture();
    ref_ptr<IZimMesh> quad = makeQuad(20, 15, 180, 135, 0);
    quad->setMeshTextureImage(texture);
    auto item = zim::kernel::newMeshSceneItem(0, quad, nullptr);
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    texture->imageFill(colourOf(0, 0, 255), 0);  // unknown to the first context's copy

    {
        std::unique_ptr<QOpenGLContext> other;
        std::unique_ptr<QOffscreenSurface> surface;
        ASSERT_TRUE(makeContext(other, surface));
        auto window = makeWindow();
        ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
        expectQuadrants(kBlue, kBlue, kBlue, kBlue);
        window.reset();
        other->doneCurrent();
    }
    ASSERT_TRUE(m_context->makeCurrent(m_surface.get()));
    m_fbo->bind();

    // State a scene item must leave as it found it.
    QOpenGLFunctions* f = m_context->functions();
    GLuint buffer = 0, tex = 0;
    f->glGenBuffers(1, &buffer);
    f->glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glEnable(GL_LIGHTING);
    glColor4f(0.2f, 0.4f, 0.6f, 0.8f);
    glMatrixMode(GL_PROJECTION);
    GLfloat modelView[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
    MeshDrawState state;
    auto flip = [&state](int) { return state; };
    auto shaded = zim::kernel::newMeshSceneItem(0, quad, flip);
    for (bool textured : {true, false}) {
        state.textureShown = textured;
        clear();
        ASSERT_EQ(shaded->drawSceneItem(1, nullptr), 0);
        GLint value = -1;
        glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &value);
        EXPECT_EQ(GLuint(value), buffer);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
        EXPECT_EQ(GLuint(value), tex);
        glGetIntegerv(GL_MATRIX_MODE, &value);
        EXPECT_EQ(value, GL_PROJECTION);
        EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
        EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
        EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
        EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
        std::array<GLfloat, 4> colour{};
        glGetFloatv(GL_CURRENT_COLOR, colour.data());
        EXPECT_FLOAT_EQ(colour[0], 0.2f);
        EXPECT_FLOAT_EQ(colour[3], 0.8f);
        GLfloat after[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, after);
        EXPECT_TRUE(std::equal(after, after + 16, modelView));
    }
    const Rgb shadedPixel = pixel(40, 30);  // shaded, not the cached red
    EXPECT_TRUE(std::abs(shadedPixel.r - shadedPixel.b) <= 2 && shadedPixel.b > 60);
    clear();
    state.textureShown = true;
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    expectPixel(40, 30, kRed);  // this context still has its own copy
    glMatrixMode(GL_MODELVIEW);
    f->glDeleteBuffers(1, &buffer);
    glDeleteTextures(1, &tex);

    EXPECT_EQ(item->drawSceneItem(2, nullptr), -1);
    EXPECT_FALSE(zim::kernel::newMeshSceneItem(0, nullptr, nullptr));
    m_context->doneCurrent();
    EXPECT_EQ(item->drawSceneItem(1, nullptr), -1);
    auto meshes = zim::newMeshArray();
    ref_ptr<ByteArrayArray> flags;
    EXPECT_EQ(zim::tqSelectTriByOpenGL(nullptr, true, meshes, Enve2d(0, kW, 0, kH), flags, nullptr), -1);
    ASSERT_TRUE(m_context->makeCurrent(m_surface.get()));
}

// ---- triangle selection ----------------------------------------------------------------------------

namespace {

// A camera at (0, 0, 10) looking at the origin; meshes: a front quad at z = 1 over the left half,
// nothing, and a mesh of two triangles at z = 0: the first wholly behind the quad, the second
// in the open on the right.
struct SelectionScene {
    ref_ptr<IZimTrackBall> camera = zim::newTrackBall();
    ref_ptr<MeshArray> meshes = zim::newMeshArray();
    SelectionScene()
    {
        camera->setViewport(kW, kH);
        camera->setFieldOfView(40);
        camera->setNearDistance(1);
        camera->setFarDistance(50);
        camera->setLookAt({0, 0, 10}, {0, 0, 0}, {0, 1, 0});
        meshes->appendMesh(makeQuad(-3, -2, 0, 2, 1));
        meshes->appendMesh(nullptr);
        meshes->appendMesh(
            makeMesh({{-2, -1, 0}, {-0.5f, -1, 0}, {-1, 1, 0}, {1, -1, 0}, {3, -1, 0}, {2, 1, 0}}, {0, 1, 2, 3, 4, 5}));
    }
    long select(const Enve2d& region, ref_ptr<ByteArrayArray>& flags, bool whole = true) const
    {
        return zim::tqSelectTriByOpenGL(camera, whole, meshes, region, flags, nullptr);
    }
};

std::vector<std::vector<int>> flagLists(const ref_ptr<ByteArrayArray>& flags)
{
    std::vector<std::vector<int>> out;
    for (const ref_ptr<ByteArray>& bytes : *flags) out.emplace_back(bytes->begin(), bytes->end());
    return out;
}

using Flags = std::vector<std::vector<int>>;

}  // namespace

TEST_F(KernelGl, SelectionFlagsTrianglesVisibleInTheRegion)
{
    SelectionScene scene;
    ref_ptr<ByteArrayArray> flags;
    EXPECT_EQ(scene.select(Enve2d(0, kW, 0, kH), flags), 3);
    ASSERT_TRUE(flags);
    EXPECT_EQ(flagLists(flags), (Flags{{1, 1}, {}, {0, 1}}));

    EXPECT_EQ(scene.select(Enve2d(101, kW, 0, kH), flags), 1);  // right of the quad's edge at x = 100
    EXPECT_EQ(flagLists(flags), (Flags{{0, 0}, {}, {0, 1}}));
    EXPECT_EQ(scene.select(Enve2d(0, kW, 140, kH), flags), 0);  // a strip above everything
    EXPECT_EQ(flagLists(flags), (Flags{{0, 0}, {}, {0, 0}}));
    EXPECT_EQ(scene.select(Enve2d(-500, 60, -500, 500), flags), 2);  // clipped to the viewport
    EXPECT_EQ(flagLists(flags), (Flags{{1, 1}, {}, {0, 0}}));

    // Whole triangles only: the quad's triangles reach beyond x = 60, the right triangle does not.
    EXPECT_EQ(scene.select(Enve2d(-500, 60, -500, 500), flags, false), 0);
    EXPECT_EQ(scene.select(Enve2d(101, kW, 0, kH), flags, false), 1);
    EXPECT_EQ(flagLists(flags), (Flags{{0, 0}, {}, {0, 1}}));

    EXPECT_EQ(zim::tqSelectTriByOpenGL(scene.camera, true, nullptr, Enve2d(0, kW, 0, kH), flags, nullptr), -1);
    EXPECT_EQ(zim::tqSelectTriByOpenGL(scene.camera, true, zim::newMeshArray(), Enve2d(0, kW, 0, kH), flags, nullptr),
              0);
    EXPECT_EQ(flags->count(), 0);
}

TEST_F(KernelGl, SelectionLeavesTheWindowAsItWas)
{
    SelectionScene scene;
    scene.camera->applyView();
    std::vector<ref_ptr<IZimSceneItem>> items;
    for (int i = 0; i < scene.meshes->meshCount(); ++i)
        if (auto item = zim::kernel::newMeshSceneItem(i, scene.meshes->meshAt(i), nullptr)) items.push_back(item);
    for (auto& item : items) ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    std::vector<unsigned char> colour(kW * kH * 4), colourAfter(colour.size());
    std::vector<float> depth(kW * kH), depthAfter(depth.size());
    glReadPixels(0, 0, kW, kH, GL_RGBA, GL_UNSIGNED_BYTE, colour.data());
    glReadPixels(0, 0, kW, kH, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());

    glViewport(3, 4, 50, 60);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -2, 2, -3, 3);
    GLfloat projection[16], projectionAfter[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glEnable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glClearColor(0.5f, 0.25f, 0.125f, 1.0f);

    ref_ptr<ByteArrayArray> flags;
    EXPECT_EQ(scene.select(Enve2d(0, kW, 0, kH), flags), 3);
    glReadPixels(0, 0, kW, kH, GL_RGBA, GL_UNSIGNED_BYTE, colourAfter.data());
    glReadPixels(0, 0, kW, kH, GL_DEPTH_COMPONENT, GL_FLOAT, depthAfter.data());
    EXPECT_TRUE(colour == colourAfter) << "the window's colours changed";
    EXPECT_TRUE(depth == depthAfter) << "the window's depth changed";

    GLint viewport[4], binding = -1, mode = -1;
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{3, 4, 50, 60}));
    glGetFloatv(GL_PROJECTION_MATRIX, projectionAfter);
    EXPECT_TRUE(std::equal(projection, projection + 16, projectionAfter));
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_PROJECTION);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &binding);
    EXPECT_EQ(GLuint(binding), m_fbo->handle());
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING) && glIsEnabled(GL_BLEND) && glIsEnabled(GL_DEPTH_TEST));
    GLfloat clearColour[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
    EXPECT_FLOAT_EQ(clearColour[1], 0.25f);
    glMatrixMode(GL_MODELVIEW);
}

TEST_F(KernelGl, SelectionIdsReachPastSixteenBits)
{
    // 70,000 triangles outside the view push the ids of the grid above 0xFFFF; without a
    // trackball the view already loaded (pixel orthographic) is used.
    std::vector<XPnt3f> far;
    std::vector<int> farTriangles;
    for (int i = 0; i < 70000; ++i) {
        for (int c = 0; c < 3; ++c) {
            farTriangles.push_back(int(far.size()));
            far.push_back({-5000.0f + float(c), float(i % 100), 0});
        }
    }
    std::vector<XPnt3f> grid;
    std::vector<int> gridTriangles;
    for (int j = 0; j <= 10; ++j)
        for (int i = 0; i <= 10; ++i) grid.push_back({i * 20.0f, j * 15.0f, 0});
    for (int j = 0; j < 10; ++j) {
        for (int i = 0; i < 10; ++i) {
            const int a = j * 11 + i;
            for (int v : {a, a + 1, a + 12, a, a + 12, a + 11}) gridTriangles.push_back(v);
        }
    }
    auto meshes = zim::newMeshArray();
    meshes->appendMesh(makeMesh(far, farTriangles));
    meshes->appendMesh(makeMesh(grid, gridTriangles));
    ref_ptr<ByteArrayArray> flags = zim::newByteArrayArray();
    flags->append(zim::newByteArray());  // stale content is replaced
    EXPECT_EQ(zim::tqSelectTriByOpenGL(nullptr, true, meshes, Enve2d(0, kW, 0, kH), flags, nullptr), 200);
    ASSERT_EQ(flags->count(), 2);
    ASSERT_EQ(flags->element(0)->count(), 70000);
    EXPECT_EQ(std::count(flags->element(0)->begin(), flags->element(0)->end(), 1), 0);
    ASSERT_EQ(flags->element(1)->count(), 200);
    EXPECT_EQ(std::count(flags->element(1)->begin(), flags->element(1)->end(), 1), 200);

    // One pixel: (30, 40) lies above the diagonal of grid cell (1, 2), in its second triangle.
    EXPECT_EQ(zim::tqSelectTriByOpenGL(nullptr, true, meshes, Enve2d(30, 30, 40, 40), flags, nullptr), 1);
    EXPECT_EQ(flags->element(1)->element(43), 1);
    // A pixel column crosses both triangles of the cell in every grid row.
    EXPECT_EQ(zim::tqSelectTriByOpenGL(nullptr, true, meshes, Enve2d(30, 30, 0, kH), flags, nullptr), 20);
}

// ---- algorithms -----------------------------------------------------------------------------------

TEST(KernelAlgorithms, AlphaTriangleIsTransparentWhenItsMeanWeightIsBelowHalf)
{
    const XPnt2f a{0.1f, 0.1f}, b{0.4f, 0.1f}, c{0.2f, 0.9f};
    auto uniform = [](int weight) { return makeImage(8, 8, 24, [weight](int, int) { return weight << 16; }); };
    EXPECT_FALSE(zim::isAlphaTri(uniform(255), &a, &b, &c));
    EXPECT_TRUE(zim::isAlphaTri(uniform(0), &a, &b, &c));
    EXPECT_TRUE(zim::isAlphaTri(uniform(127), &a, &b, &c));
    EXPECT_FALSE(zim::isAlphaTri(uniform(128), &a, &b, &c));
    // Byte 2 is the weight; the other channels do not count.
    EXPECT_TRUE(zim::isAlphaTri(makeImage(8, 8, 24, [](int, int) { return 0x0000FFFF; }), &a, &b, &c));

    // Left half see-through, right half opaque: it depends where the triangle lies.
    auto halves = makeImage(64, 64, 24, [](int x, int) { return x < 32 ? 0 : 0xFF0000; });
    const XPnt2f r0{0.6f, 0.1f}, r1{0.9f, 0.1f}, r2{0.8f, 0.9f};
    EXPECT_TRUE(zim::isAlphaTri(halves, &a, &b, &c));
    EXPECT_FALSE(zim::isAlphaTri(halves, &r0, &r1, &r2));
    EXPECT_FALSE(zim::isAlphaTri(nullptr, &a, &b, &c));
    EXPECT_FALSE(zim::isAlphaTri(uniform(0), &a, nullptr, &c));
}

TEST(KernelAlgorithms, PointInTriangleIncludesEdgesInEitherWinding)
{
    auto tri = [](const std::vector<XPnt2f>& p) { return arrayOf(p); };
    for (auto t : {tri({{0, 0}, {4, 0}, {0, 4}}), tri({{0, 0}, {0, 4}, {4, 0}})}) {
        EXPECT_TRUE(zim::PntInTri(1, 1, t));
        EXPECT_TRUE(zim::PntInTri(2, 0, t));  // on an edge
        EXPECT_TRUE(zim::PntInTri(2, 2, t));  // on the slanted edge
        EXPECT_TRUE(zim::PntInTri(4, 0, t));  // a corner
        EXPECT_FALSE(zim::PntInTri(2.01f, 2.01f, t));
        EXPECT_FALSE(zim::PntInTri(-0.01f, 1, t));
        EXPECT_FALSE(zim::PntInTri(5, -1, t));
    }
    auto line = tri({{0, 0}, {2, 2}, {4, 4}});
    EXPECT_TRUE(zim::PntInTri(3, 3, line));
    EXPECT_TRUE(zim::PntInTri(0, 0, line));
    EXPECT_FALSE(zim::PntInTri(5, 5, line));  // on the line, past the segment
    EXPECT_FALSE(zim::PntInTri(1, 2, line));
    auto point = tri({{1, 1}, {1, 1}, {1, 1}});
    EXPECT_TRUE(zim::PntInTri(1, 1, point));
    EXPECT_FALSE(zim::PntInTri(1, 1.5f, point));
    EXPECT_FALSE(zim::PntInTri(1, 1, tri({{0, 0}, {4, 0}})));
    EXPECT_FALSE(zim::PntInTri(1, 1, nullptr));
    EXPECT_FALSE(zim::PntInTri(std::numeric_limits<float>::quiet_NaN(), 1, tri({{0, 0}, {4, 0}, {0, 4}})));
}

TEST(KernelAlgorithms, ImageConversionPutsTheTopRowFirstInRgbOrder)
{
    // Bottom row: red, green; top row: blue, half-transparent white.
    auto image = makeImage(2, 2, 32, [](int x, int y) {
        static const int c[4] = {colourOf(255, 0, 0), colourOf(0, 255, 0), colourOf(0, 0, 255),
                                 colourOf(255, 255, 255, 128)};
        return c[y * 2 + x];
    });
    QImage out;
    ASSERT_EQ(zim::imgTrans(image, &out, 1), 0);
    ASSERT_EQ(out.size(), QSize(2, 2));
    EXPECT_EQ(out.pixel(0, 0), qRgba(0, 0, 255, 255));
    EXPECT_EQ(out.pixel(1, 0), qRgba(255, 255, 255, 128));
    EXPECT_EQ(out.pixel(0, 1), qRgba(255, 0, 0, 255));
    EXPECT_EQ(out.pixel(1, 1), qRgba(0, 255, 0, 255));

    auto rgb = makeImage(3, 2, 24, [](int x, int y) { return y == 1 && x == 2 ? colourOf(200, 100, 50) : 0; });
    ASSERT_EQ(zim::imgTrans(rgb, &out, 1), 0);
    EXPECT_EQ(out.pixel(2, 0), qRgb(200, 100, 50));
    EXPECT_EQ(out.pixel(2, 1), qRgb(0, 0, 0));

    const QImage kept = out;
    EXPECT_EQ(zim::imgTrans(nullptr, &out, 1), -1);
    EXPECT_EQ(zim::imgTrans(zim::newZimImage(), &out, 1), -1);
    EXPECT_EQ(zim::imgTrans(rgb, &out, 2), -1);
    EXPECT_EQ(zim::imgTrans(rgb, nullptr, 1), -1);
    EXPECT_TRUE(out == kept);
}
