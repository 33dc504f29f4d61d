// The backup's depth pass: the depth of the meshes as the 3D view shows them now, drawn into a
// framebuffer of its own with one sample a pixel, so that the triangle selection reads the depth
// at the pixel centres (a multisampled window's samples sit off the centres) and the window's
// buffers stay as they are. The framebuffer stays bound, for the selection to read, until
// release.
#pragma once

#include <QSize>
#include <functional>
#include <memory>

class QOpenGLFramebufferObject;

namespace orvUI {

class BackupDepthPass {
public:
    BackupDepthPass();
    ~BackupDepthPass();
    BackupDepthPass(const BackupDepthPass&) = delete;
    BackupDepthPass& operator=(const BackupDepthPass&) = delete;

    // With the view's GL context current: binds a new framebuffer of the given size and draws
    // into its depth (colour writes off, window state restored afterwards) with drawScene,
    // which sets the view's camera and draws the meshes. False, with nothing bound, when the
    // framebuffer cannot be made.
    bool render(const QSize& size, const std::function<void()>& drawScene);
    // Unbinds and frees the framebuffer (the context must be current); nothing when none.
    void release();
    bool isBound() const { return bool(m_framebuffer); }

private:
    std::unique_ptr<QOpenGLFramebufferObject> m_framebuffer;
};

}  // namespace orvUI
