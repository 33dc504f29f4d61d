// ZimTmpGlStateCtrl in a real compatibility-profile context: each guard sets one piece of state
// and puts back exactly what was there before.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <array>
#include <memory>

#include "ZimGeometry64t.h"

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <string>
// Keeps the software GL driver mapped until exit, so the leak suppressions can name its frames.
static const bool kDriverPinned = [] {
    const char* env = std::getenv("LIBGL_DRIVERS_PATH");
    const std::string dirs = std::string(env ? env : "") + ":/usr/lib/x86_64-linux-gnu/dri:/usr/lib64/dri:/usr/lib/dri";
    for (std::size_t from = 0, to = 0; from < dirs.size(); from = to + 1) {
        to = std::min(dirs.find(':', from), dirs.size());
        const std::string path = dirs.substr(from, to - from) + "/swrast_dri.so";
        if (dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) return true;
    }
    return false;
}();
#endif

namespace {

using Rgba = std::array<float, 4>;

class GlState : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSurfaceFormat format;
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        format.setVersion(2, 1);
        m_context.setFormat(format);
        if (!m_context.create()) GTEST_SKIP() << "no OpenGL context can be created on this display";
        m_surface.setFormat(m_context.format());
        m_surface.create();
        if (!m_context.makeCurrent(&m_surface)) GTEST_SKIP() << "the OpenGL context cannot be made current";
        while (glGetError() != GL_NO_ERROR) {
        }
    }
    void TearDown() override
    {
        if (QOpenGLContext::currentContext() != &m_context) return;
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "the guards left a GL error behind";
        m_context.doneCurrent();
    }

    static bool on(GLenum cap) { return glIsEnabled(cap) == GL_TRUE; }
    static void set(GLenum cap, bool enable) { enable ? glEnable(cap) : glDisable(cap); }
    static float getFloat(GLenum what)
    {
        GLfloat v = -1;
        glGetFloatv(what, &v);
        return v;
    }
    static Rgba colour()
    {
        Rgba c{-1, -1, -1, -1};
        glGetFloatv(GL_CURRENT_COLOR, c.data());
        return c;
    }
    static void expectColour(const Rgba& want)
    {
        const Rgba got = colour();
        for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(got[i], want[i]) << "component " << i;
    }

    QOpenGLContext m_context;
    QOffscreenSurface m_surface;
};

}  // namespace

TEST_F(GlState, CapabilityIsSetForTheScopeAndRestoredAfterNestingIncluded)
{
    for (GLenum cap : {GL_BLEND, GL_DEPTH_TEST, GL_CULL_FACE, GL_LIGHTING, GL_TEXTURE_2D}) {
        for (bool before : {false, true})
            for (bool inside : {false, true}) {
                set(cap, before);
                set(GL_LINE_SMOOTH, !before);
                {
                    ZimTmpGlStateCtrl guard(cap, inside);
                    EXPECT_EQ(on(cap), inside) << cap << " before " << before;
                    {
                        ZimTmpGlStateCtrl inner(cap, !inside);
                        EXPECT_EQ(on(cap), !inside) << cap;
                    }
                    EXPECT_EQ(on(cap), inside) << cap << " after the inner guard";
                }
                EXPECT_EQ(on(cap), before) << cap << " inside " << inside;
                EXPECT_EQ(on(GL_LINE_SMOOTH), !before) << "another capability was touched";
            }
    }
}

TEST_F(GlState, LineWidthAndColourAreRestoredAndOtherParametersLeftAlone)
{
    glLineWidth(1.5f);
    glPointSize(3.0f);
    glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
    {
        ZimTmpGlStateCtrl width(GL_LINE_WIDTH, 2.0f);
        ZimTmpGlStateCtrl ignored(GL_POINT_SIZE, 7.0f);
        ZimTmpGlStateCtrl rgb(ZimColor3f(1.0f, 0.5f, 0.25f));
        EXPECT_FLOAT_EQ(getFloat(GL_LINE_WIDTH), 2.0f);
        EXPECT_FLOAT_EQ(getFloat(GL_POINT_SIZE), 3.0f) << "only the line width is supported";
        expectColour({1.0f, 0.5f, 0.25f, 1.0f});
        {
            ZimTmpGlStateCtrl inner(GL_LINE_WIDTH, 4.0f);
            ZimTmpGlStateCtrl rgba(ZimColor4f(0.5f, 0.25f, 0.75f, 0.125f));
            EXPECT_FLOAT_EQ(getFloat(GL_LINE_WIDTH), 4.0f);
            expectColour({0.5f, 0.25f, 0.75f, 0.125f});
        }
        EXPECT_FLOAT_EQ(getFloat(GL_LINE_WIDTH), 2.0f);
        expectColour({1.0f, 0.5f, 0.25f, 1.0f});
        glPointSize(5.0f);
    }
    EXPECT_FLOAT_EQ(getFloat(GL_LINE_WIDTH), 1.5f);
    EXPECT_FLOAT_EQ(getFloat(GL_POINT_SIZE), 5.0f) << "a guard holding nothing puts nothing back";
    expectColour({0.1f, 0.2f, 0.3f, 0.4f});
}
