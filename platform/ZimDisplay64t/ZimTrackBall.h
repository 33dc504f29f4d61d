// The trackball: the camera maths of ZimCamera plus what needs GL (loading the matrices, reading
// the depth buffer, drawing labels).
#pragma once

#include "TrackBallMath.h"
#include "ZimDisplay64t.h"

namespace zimdisp {

class CZimTrackBall : public IZimTrackBall {
public:
    CZimTrackBall() = default;

    int beginDrag(int mode, int x, int y, int flags) override;
    int dragTo(int x, int y, int flags) override;
    int endDrag(int x, int y, int flags) override;
    int dragMode() const override { return m_dragMode; }
    void drawWorldText(double x, double y, double z, const char* format, ...) override
        __attribute__((format(printf, 5, 6)));
    int setCenterAt(int x, int y) override;
    int applyView() override;
    int translateBy(const XPnt3d& offset) override;
    int setViewIndex(int index) override;
    int fitToBox(const Enve3d& box, int adjustPlanes) override;
    int zoomAt(float amount, int x, int y) override;
    int setFieldOfView(double degrees) override;
    double getNearDistance() const override { return m_camera.nearDistance(); }
    int setNearDistance(double distance) override;
    double getFarDistance() const override { return m_camera.farDistance(); }
    int setFarDistance(double distance) override;
    XPnt3d getEyePoint() const override { return m_camera.eye(); }
    XPnt3d getUpVector() const override { return m_camera.up(); }
    XPnt3d getCenterPoint() const override { return m_camera.center(); }
    double getPixelScale() const override { return m_camera.pixelScale(); }
    bool pickPoint(int x, int y, XPnt3d& out) const override;
    XPnt3d unproject(double x, double y, double depth) const override;
    XPnt3d screenPointToWorld(int x, int y) const override;
    XPnt3d projectToScreen(const XPnt3d& world) const override;
    XPnt3d projectPoint(const XPnt3d& world) const override;

    int setViewport(int width, int height) override;
    int viewportWidth() const override { return m_camera.width(); }
    int viewportHeight() const override { return m_camera.height(); }
    double getFieldOfView() const override { return m_camera.fieldOfView(); }
    int setLookAt(const XPnt3d& eye, const XPnt3d& center, const XPnt3d& up) override;
    void getModelViewMatrix(double out[16]) const override;
    void getProjectionMatrix(double out[16]) const override;
    int setPhotoProjection(double fx, double fy, double cx, double cy, int photoWidth, int photoHeight) override;
    int clearPhotoProjection() override;
    bool hasPhotoProjection() const override { return m_camera.hasPhotoProjection(); }

    // Counts camera changes (see ZimCamera::revision); the display compares it across a frame.
    unsigned long revision() const { return m_camera.revision(); }

protected:
    ~CZimTrackBall() override = default;

private:
    // Applies the motion from the last drag position to (x, y) in the running mode.
    void dragStep(int x, int y);
    // The depth-buffer value at pixel (x, y) of the viewport; false without a current context,
    // outside the viewport, without a depth buffer, or where the buffer shows background.
    bool readDepth(int x, int y, double& depth) const;

    ZimCamera m_camera;
    int m_dragMode = ZimDragNone;
    int m_lastX = 0;
    int m_lastY = 0;
};

}  // namespace zimdisp
