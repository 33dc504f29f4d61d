#include "BackupDepthPass.h"

#include <GL/gl.h>

#include <QOpenGLFramebufferObject>
#include <algorithm>

namespace orvUI {

BackupDepthPass::BackupDepthPass() = default;

BackupDepthPass::~BackupDepthPass() = default;

bool BackupDepthPass::render(const QSize& size, const std::function<void()>& drawScene)
{
    release();
    const QSize pixels(std::max(size.width(), 1), std::max(size.height(), 1));
    m_framebuffer = std::make_unique<QOpenGLFramebufferObject>(pixels, QOpenGLFramebufferObject::CombinedDepthStencil);
    if (!m_framebuffer->isValid() || !m_framebuffer->bind()) {
        release();
        return false;
    }
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_ENABLE_BIT | GL_SCISSOR_BIT);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_MULTISAMPLE);
    glDepthMask(GL_TRUE);
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    if (drawScene) drawScene();
    glPopAttrib();
    return true;
}

void BackupDepthPass::release()
{
    if (!m_framebuffer) return;
    m_framebuffer->release();
    m_framebuffer.reset();
}

}  // namespace orvUI
