// Stacked copies of a triangle: the drawing and the GL triangle selection leave out copies a
// later one hides, and nothing they show or select changes for it — the last copy decides each
// pixel under the viewer's depth test, the first one under a strict test, and a mesh without
// copies draws as it always did.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QSurfaceFormat>
#include <memory>
#include <vector>

#include "../platform/OrvKernel64t/KernelScene.h"
#include "../platform/OrvKernel64t/KernelSceneGl.h"
#include "OrvKernel64t.h"

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
static const bool kDriverPinned = [] {
    for (const char* path : {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", "/usr/lib64/dri/swrast_dri.so"})
        if (dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) return true;
    return false;
}();
#endif

namespace {

using zim::kernel::trianglesHiddenByLaterCopies;

TEST(CoincidentTriangles, OnlyEarlierCopiesWithTheSameCornersInOrderAreHidden)
{
    // Vertices 4..6 repeat the positions of 0..2 under other indices.
    const std::vector<XPnt3f> v = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    const std::vector<int> tri = {
        0, 1, 2,  // hidden by triangle 2 (same positions, other indices) and by 4
        3, 1, 2,  // alone
        4, 5, 6,  // hidden by triangle 4
        1, 2, 0,  // the same corners turned: not a copy (its depths need not match bit for bit)
        0, 1, 2,  // the last copy: drawn
    };
    const std::vector<bool> hidden = trianglesHiddenByLaterCopies(v.data(), tri.data(), 5);
    EXPECT_EQ(hidden, (std::vector<bool>{true, false, true, false, false}));

    // No copies: nothing to leave out, and an empty answer says so.
    const std::vector<int> plain = {0, 1, 2, 3, 1, 2, 1, 2, 0};
    EXPECT_TRUE(trianglesHiddenByLaterCopies(v.data(), plain.data(), 3).empty());
    // A whole stack: all but the last.
    std::vector<int> stack;
    for (int i = 0; i < 1000; ++i) stack.insert(stack.end(), {0, 1, 2});
    const std::vector<bool> stacked = trianglesHiddenByLaterCopies(v.data(), stack.data(), 1000);
    ASSERT_EQ(stacked.size(), 1000u);
    EXPECT_FALSE(stacked.back());
    EXPECT_EQ(std::count(stacked.begin(), stacked.end(), true), 999);
}

constexpr int kW = 64, kH = 64;

class CoincidentGl : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSurfaceFormat format;
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        format.setVersion(2, 1);
        m_context = std::make_unique<QOpenGLContext>();
        m_context->setFormat(format);
        m_surface = std::make_unique<QOffscreenSurface>();
        m_surface->setFormat(format);
        m_surface->create();
        if (!m_context->create() || !m_context->makeCurrent(m_surface.get()))
            GTEST_SKIP() << "no current OpenGL context on this display";
        m_fbo = std::make_unique<QOpenGLFramebufferObject>(kW, kH, QOpenGLFramebufferObject::Depth);
        m_fbo->bind();
        glViewport(0, 0, kW, kH);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, kW, 0, kH, -100, 100);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        clear();
    }
    void TearDown() override
    {
        if (m_context && QOpenGLContext::currentContext() == m_context.get()) {
            EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
            m_fbo.reset();
            m_context->doneCurrent();
        }
    }
    static void clear()
    {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    static unsigned pixel(int x, int y)
    {
        unsigned char p[4] = {0, 0, 0, 0};
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return unsigned(p[0]) << 16 | unsigned(p[1]) << 8 | p[2];
    }

    // `copies` copies of the square (8..56)^2 as two triangles each, copy i textured from texel
    // column i of a copies x 1 texture (so each copy has its own colour), then one small
    // triangle apart in the corner (0..6)^2 that no copy covers.
    static ref_ptr<IZimMesh> stack(int copies)
    {
        auto v = zim::newPnt3fArray();
        auto uv = zim::newPnt2fArray();
        auto tri = zim::newIntArray();
        auto texTri = zim::newIntArray();
        for (const XPnt3f p : {XPnt3f(8, 8, 0), XPnt3f(56, 8, 0), XPnt3f(56, 56, 0), XPnt3f(8, 56, 0), XPnt3f(0, 0, 0),
                               XPnt3f(6, 0, 0), XPnt3f(0, 6, 0)})
            v->append(p);
        for (int i = 0; i < copies; ++i) {
            uv->append({(i + 0.5f) / copies, 0.5f});
            for (int k : {0, 1, 2, 0, 2, 3}) {
                tri->append(k);
                texTri->append(i);
            }
        }
        uv->append({0.5f / copies, 0.5f});
        for (int k : {4, 5, 6}) {
            tri->append(k);
            texTri->append(copies);
        }
        ref_ptr<IZimImage> texture = zim::newZimImage();
        EXPECT_NE(texture->imageCreate(copies, 1, 24, ZimImageNoMarks), nullptr);
        for (int i = 0; i < copies; ++i) texture->imageSetPixel(i, 0, int(copyColour(i)), true);
        ref_ptr<IZimMesh> mesh = zim::newZimMesh();
        EXPECT_EQ(mesh->setMeshGeometry(v, tri, uv, texTri), 0) << qPrintable(mesh->meshLastError());
        mesh->setMeshTextureImage(texture);
        return mesh;
    }
    // Texel i's colour as a pixel (0xRRGGBB).
    static unsigned copyColour(int i)
    {
        return (unsigned(255 - i * 40) & 0xFFu) << 8 | (unsigned(i * 40 + 20) & 0xFFu);
    }

    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLFramebufferObject> m_fbo;
};

TEST_F(CoincidentGl, TheDrawingShowsTheCopyTheDepthTestLetsWin)
{
    const int copies = 5;
    ref_ptr<IZimMesh> mesh = stack(copies);
    ref_ptr<IZimSceneItem> item = zim::kernel::newMeshSceneItem(0, mesh, nullptr);
    ASSERT_TRUE(item);
    // The viewer's test (an equal depth passes): the last copy everywhere on the square.
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    EXPECT_EQ(pixel(32, 32), copyColour(copies - 1));
    EXPECT_EQ(pixel(10, 50), copyColour(copies - 1));
    EXPECT_EQ(pixel(1, 1), copyColour(0));  // the triangle apart
    // A strict test keeps the first copy: nothing may be left out then.
    clear();
    glDepthFunc(GL_LESS);
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    EXPECT_EQ(pixel(32, 32), copyColour(0));
    glDepthFunc(GL_LEQUAL);
    // Blending mixes every copy in: nothing left out either.
    clear();
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    ASSERT_EQ(item->drawSceneItem(1, nullptr), 0);
    glDisable(GL_BLEND);
    unsigned sumG = 0, sumB = 0;
    for (int i = 0; i < copies; ++i) sumG += (copyColour(i) >> 8) & 0xFF, sumB += copyColour(i) & 0xFF;
    EXPECT_EQ(pixel(32, 32), (std::min(sumG, 255u) << 8) | std::min(sumB, 255u));
}

TEST_F(CoincidentGl, TheSelectionFlagsTheLastCopyAndTheTriangleApart)
{
    const int copies = 2000;
    ref_ptr<MeshArray> meshes = zim::newMeshArray();
    meshes->appendMesh(stack(copies));
    // A second, smaller stack of the same square.
    meshes->appendMesh(stack(3));
    ref_ptr<ByteArrayArray> flags;
    const Enve2d region(0, kW, 0, kH);
    const long selected = zim::tqSelectTriByOpenGL(nullptr, true, meshes, region, flags, nullptr);
    ASSERT_TRUE(flags);
    ASSERT_EQ(flags->count(), 2);
    // The second mesh, drawn later at the same depth, covers all of the first (its triangle
    // apart too): across meshes the later one wins as well. Of the second mesh its last copy
    // and its triangle apart show.
    const ByteArray& first = *flags->element(0);
    const ByteArray& second = *flags->element(1);
    ASSERT_EQ(first.size(), copies * 2 + 1);
    ASSERT_EQ(second.size(), 3 * 2 + 1);
    long firstSet = 0;
    for (int t = 0; t < copies * 2; ++t) firstSet += first[t];
    EXPECT_EQ(firstSet, 0);
    EXPECT_EQ(first[copies * 2], 0);
    EXPECT_EQ(std::vector<unsigned char>(second.begin(), second.end()),
              (std::vector<unsigned char>{0, 0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(selected, 3);

    // The first mesh alone: its last copy and the triangle apart.
    ref_ptr<MeshArray> alone = zim::newMeshArray();
    alone->appendMesh(meshes->meshAt(0));
    EXPECT_EQ(zim::tqSelectTriByOpenGL(nullptr, true, alone, region, flags, nullptr), 3);
    const ByteArray& only = *flags->element(0);
    EXPECT_EQ(only[copies * 2 - 2], 1);
    EXPECT_EQ(only[copies * 2 - 1], 1);
    EXPECT_EQ(only[copies * 2], 1);
    EXPECT_EQ(only[copies * 2 - 3], 0);
    EXPECT_EQ(only[0], 0);
}

}  // namespace
