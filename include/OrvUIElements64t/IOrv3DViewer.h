// The OpenGL 3D viewer: shows the project's meshes, drives the camera, hands other input to the
// current interactive tool and compares the current photograph with the meshes. Created by the
// main frame and owned by its Qt parent; the interface pointer does not own the viewer.
//
// Operations that change what is drawn end with drawScene(false) where noted ("redraws").
// Positions are GL-oriented: x from the left edge, y up from the bottom edge.
#pragma once

#include <QMap>
#include <QPoint>
#include <QString>
#include <QVector>
#include <array>

#include "IOrvActionItem.h"
#include "OrvKernel64t.h"
#include "OrvUIGlobal.h"
#include "ZimBase64t.h"
#include "ZimDisplay64t.h"
#include "ZimGeometry64t.h"

namespace orvUI {

class ZimGlobeViewState;
struct ViewCamera;

// The photo frame: five points. In world space (getImageFrame) index 1 is the corner at photo
// (0, 0), 3 at (1, 0), 0 at (1, 1), 2 at (0, 1) and 4 the eye it was computed for; as screen
// points (setScreenImageFrame) each holds window x, y and depth, index 4 unused.
using ImageFrame = std::array<XPnt3d, 5>;

// One user clip plane; the first six records of the list are GL clip planes 0 to 5.
struct ClipPlaneRecord {
    double equation[4] = {0.0, 0.0, 0.0, 0.0};  // as glClipPlane takes it
    bool enabled = false;
};

// Told the world point under the cursor on every mouse move. Kept by raw pointer and not
// owned: remove it before destroying it.
class ORVUI_EXPORT IOrvMouseListener {
public:
    virtual void onCursorPoint(double x, double y, double z) = 0;

protected:
    ~IOrvMouseListener() = default;
};

// Double-click picking: packedPos holds x in its low 32 bits and y in its high 32 bits; the
// three out-values start at 0. A result of 0 or above is the index of the image to open; -1 (any
// negative result) opens none.
using OrvPickCallback = int (*)(long long packedPos, int* out0, int* out1, int* out2);

class ORVUI_EXPORT IOrv3DViewer {
public:
    virtual ~IOrv3DViewer();

    // Each returns the number of listeners afterwards; a listener is held at most once.
    virtual int addMouseListener(IOrvMouseListener* listener) = 0;
    virtual int removeMouseListener(IOrvMouseListener* listener) = 0;
    virtual int clearMouseListeners() = 0;
    // Draw layers: objects drawn after the meshes, each held once. Each returns the number of
    // layers afterwards.
    virtual int addDrawLayer(ref_ptr<ZimReferenced> layer) = 0;
    virtual int removeDrawLayer(ref_ptr<ZimReferenced> layer) = 0;
    virtual int clearDrawLayers() = 0;
    virtual ref_ptr<IZimDisplay> getDisplay() = 0;
    // Fits the camera to every mesh; -1 without a project or mesh arrays.
    virtual int viewAllMeshes() = 0;
    // Arms the shared pick: the next left press sets the rotation centre. Returns the state.
    virtual ZimGlobeViewState* requestCenterPick() = 0;
    virtual int stepViewAround() = 0;
    virtual int stepViewOver() = 0;
    // Trackball standard view by index.
    virtual int setStandardView(int index) = 0;
    // drawScene(false) and its result.
    virtual int draw();
    // Draws the whole scene; the flag does not change what is drawn. 0, or the result of the
    // repeated draw the display asked for.
    virtual int drawScene(bool flag) = 0;
    // 0, 2 arrow, 1 cross, 3 pointing hand, 5 to 9 the size cursors, 10 blank; others change
    // nothing. Returns 0.
    virtual int setCursorShape(int shape) = 0;
    // The frame as last computed; stale after a camera move until updateImageFrame.
    virtual ImageFrame getImageFrame() = 0;
    // When use is set, updateImageFrame takes the frame corners from these screen points.
    virtual int setScreenImageFrame(bool use, const ImageFrame& screenPoints) = 0;
    // Base field of view in degrees, zoom factor (divides it) and overlay opacity; redraws.
    virtual int setViewOptics(float fov, float zoom, float opacity) = 0;
    // Places the current photograph in front of the eye; 1 without a current image.
    virtual int updateImageFrame() = 0;
    // Redraws.
    virtual int setShowImageOverlay(bool show) = 0;
    virtual bool isShowImageOverlay() = 0;
    // -1 (unchanged) for alpha outside 0..1.
    virtual int setOverlayOpacity(float alpha, bool redraw) = 0;
    virtual float getOverlayOpacity() = 0;
    virtual int setShowFrameBorder(bool show) = 0;
    virtual int viewWidth() = 0;
    virtual int viewHeight() = 0;
    // Collects the visible triangles (appended), their textures by mesh index (added) and the
    // seam edges (refilled) of the current view, and saves the backup picture to path.
    virtual bool generateBackupInformation(const QString& path, QVector<ref_ptr<TqTriangleIndex>>& triangles,
                                           QMap<int, ref_ptr<IZimImage>>& textures, SeamEdgeMap& seams) = 0;
    // Redraws.
    virtual int setShowMeshMarks(bool show) = 0;
    virtual bool isShowMeshMarks() = 0;
    // Flags and the value below are stored for callers; only setUserFlag1 redraws. Flag 4 is
    // the "current mesh only" switch.
    virtual int setUserFlag1(bool on) = 0;
    virtual bool getUserFlag1() = 0;
    virtual bool getUserFlag2() = 0;
    virtual int setUserFlag2(bool on) = 0;
    virtual bool getUserFlag3() = 0;
    virtual int setUserFlag3(bool on) = 0;
    virtual bool getUserFlag4() = 0;
    virtual int setUserFlag4(bool on) = 0;
    virtual int getUserValue() = 0;
    virtual int setUserValue(int value) = 0;
    virtual bool getUserFlag5() = 0;
    virtual int setUserFlag5(bool on) = 0;
    // Cursor position at the last mouse move; (-99999, -99999) before the first.
    virtual QPoint getCursorPos() = 0;
    // World point under the cursor at the last mouse move.
    virtual XPnt3d getCursorPoint() = 0;
    // Fills the context menu from the group; nothing when either reference is empty.
    virtual int buildPluginMenu(ref_ptr<ZimReferenced> owner, ref_ptr<IOrvCommonItem> group) = 0;
    // Plain-key and Control+key shortcuts; a later callback replaces an earlier one.
    virtual int setKeyAction(int key, OrvKeyCallback action) = 0;
    virtual int setCtrlKeyAction(int key, OrvKeyCallback action) = 0;
    // Null switches double-click picking off.
    virtual int setPickCallback(OrvPickCallback callback) = 0;
    virtual bool isShowMagnifier() = 0;
    virtual int setShowMagnifier(bool show) = 0;
    // How mesh marks are drawn.
    virtual int getMarkMode() = 0;
    virtual int setMarkMode(int mode) = 0;
    // Share of the eye distance at which scaled frame points lie (0.9).
    virtual double getFrameScale() = 0;
    // Photo coordinates (u, v) of window point (x, y) on the projected frame.
    virtual XPnt2d imagePointToUV(double x, double y) = 0;
    // World point of photo coordinates uv on the frame; scaled pulls it toward the eye by
    // getFrameScale().
    virtual XPnt3d uvToFramePoint(const double uv[2], bool scaled) = 0;
    // Screen pixels per pixel of the current image at that store level.
    virtual double screenPixelsPerImagePixel(int level) = 0;
    // Projected length of the frame's bottom edge over its world length.
    virtual double frameScreenRatio() = 0;
    // No redraw.
    virtual bool isUseClipPlanes() = 0;
    virtual int setUseClipPlanes(bool use) = 0;
    // The viewer's own list; callers edit it in place.
    virtual QVector<ClipPlaneRecord>* clipPlanes() = 0;
    virtual ViewCamera getCamera() = 0;
    // Makes the GL texture of the current image when it changed; the texture name, or -1
    // without a current image.
    virtual int refreshImageTexture() = 0;
    // Why the last generateBackupInformation failed (empty after a success), for the message a
    // host shows.
    virtual QString lastBackupError() = 0;
    // Moves the camera to a stored one (eye, center, up, fov, zoom and overlay opacity as getCamera gives them) and
    // redraws. 0; -1 (nothing changed) for values that are not finite, an eye equal to the center, an up vector
    // parallel to the view direction, a fov or zoom not above 0, or an opacity outside 0..1.
    virtual int setCamera(const ViewCamera& camera) = 0;
    // The image index of the mesh drawn at a GL-oriented pixel (x from the left edge, y up from the bottom edge),
    // -1 when no mesh is drawn there (or outside the view).
    virtual int imageIndexAt(int x, int y) = 0;
    // The home view: looks obliquely down on every awake mesh (from the south, about 45 degrees below the horizon,
    // z up on screen), all fitted. Redraws. 0; -1 without a project or meshes.
    virtual int viewHome() = 0;
    // Looks through a photo's registered camera: the eye at the camera, the centre on its optical
    // axis at the depth of the meshes' box centre, the screen's up the camera's -y, and the
    // trackball's projection the camera's pinhole fitted into the view (the whole photo visible,
    // centred). While this lasts the photo overlay lies on the photo's own image plane (lens
    // distortion removed) so that it lines up with the meshes; any camera move leaves the mode and
    // the overlay returns to its usual frame. The overlay shows the current image: the caller
    // makes the camera's photo current. Redraws. 0; -1 (nothing changed) for a camera that is not
    // valid (ZimPhotoCamera::isValid).
    virtual int lookThroughCamera(const ZimPhotoCamera& camera) = 0;
    // Whether the view still looks through the camera of the last lookThroughCamera.
    virtual bool isLookingThroughPhoto() = 0;

    // Markers set by callers and drawn by the scene.
    XPnt3d redMark;
    XPnt3d greenMark;
    XPnt3d blueMark;

protected:
    IOrv3DViewer();
    // Copies the three markers.
    IOrv3DViewer(const IOrv3DViewer& other);
    IOrv3DViewer& operator=(const IOrv3DViewer& other);
};

}  // namespace orvUI
