// Display library: the screen display that owns a GL context's drawing cycle (IZimDisplay), its
// orbit camera (IZimTrackBall), GL markers (IZimSymbol), and the interfaces of what the host and
// its plug-ins hand to the viewers: interactive tools (IZimTool) and undo steps (IZimUndoStep).
//
// Screen coordinates are GL-oriented throughout: x in pixels from the left edge, y in pixels up
// from the bottom edge, and depth as in the GL depth buffer (0 at the near plane, 1 at the far
// plane). Window coordinates returned by the projections are (x, y, depth) in that convention.
#pragma once

#include <cstdarg>

#include "ZimBase64t.h"

#if defined(ORV_BUILDING_ZimDisplay64t)
#define ZIM_DISPLAY_EXPORT __attribute__((visibility("default")))
#else
#define ZIM_DISPLAY_EXPORT
#endif

// Drag modes of the trackball.
enum ZimDragMode {
    ZimDragNone = 0,
    ZimDragPan = 1,    // move eye and centre together in the view plane
    ZimDragOrbit = 2,  // rotate the eye about the centre
    ZimDragZoom = 3,   // move the eye towards or away from the centre
};

// A perspective orbit camera: eye, centre (the rotation centre) and up vector, field of view,
// near and far distances and the viewport size. All maths works without GL; applyView loads the
// matrices into GL, and the depth-reading operations (pickPoint, setCenterAt,
// screenPointToWorld) read the current GL depth buffer.
class ZIM_DISPLAY_EXPORT IZimTrackBall : public ZimReferenced {
public:
    // Starts a drag of `mode` (ZimDragMode) at screen position (x, y). flags is reserved (0).
    virtual int beginDrag(int mode, int x, int y, int flags) = 0;
    // Continues the running drag to (x, y); nothing without one.
    virtual int dragTo(int x, int y, int flags) = 0;
    // Ends the running drag at (x, y); dragMode() is 0 afterwards.
    virtual int endDrag(int x, int y, int flags) = 0;
    // The running drag's mode, 0 when none.
    virtual int dragMode() const = 0;
    // Draws a printf-formatted label at a world point in the current GL context.
    virtual void drawWorldText(double x, double y, double z, const char* format, ...) = 0;
    // Moves the rotation centre to the surface point under screen (x, y) (read from the depth
    // buffer); the view does not jump: the eye keeps its place and looks at the new centre.
    // -1 (nothing changed) when the pixel shows background.
    virtual int setCenterAt(int x, int y) = 0;
    // Loads the projection and model-view matrices into GL and sets the viewport.
    virtual int applyView() = 0;
    // Moves eye and centre by a world vector.
    virtual int translateBy(const XPnt3d& offset) = 0;
    // Standard views about the current centre, keeping the distance: 0 top, 1 bottom, 2 front,
    // 3 back, 4 left, 5 right; other values are ignored (-1).
    virtual int setViewIndex(int index) = 0;
    // Centres the view on a box and moves the eye back until the whole box is in view; with
    // adjustPlanes non-zero the near and far distances are set to enclose it. An empty box does
    // nothing (-1); a box of zero size is shown at a unit distance.
    virtual int fitToBox(const Enve3d& box, int adjustPlanes) = 0;
    // Zooms about screen point (x, y): amount is the wheel delta / 1200 (0.1 a notch); positive
    // moves closer. The world point under (x, y) on the centre's depth stays under the cursor.
    virtual int zoomAt(float amount, int x, int y) = 0;
    // Vertical field of view in degrees (clamped to 1..170).
    virtual int setFieldOfView(double degrees) = 0;
    virtual double getNearDistance() const = 0;
    virtual int setNearDistance(double distance) = 0;
    virtual double getFarDistance() const = 0;
    virtual int setFarDistance(double distance) = 0;
    virtual XPnt3d getEyePoint() const = 0;
    virtual XPnt3d getUpVector() const = 0;
    virtual XPnt3d getCenterPoint() const = 0;
    // Screen pixels per world unit at the distance of the centre.
    virtual double getPixelScale() const = 0;
    // The world point under screen (x, y) from the GL depth buffer; false (out untouched) over
    // background or outside the viewport.
    virtual bool pickPoint(int x, int y, XPnt3d& out) const = 0;
    // Window (x, y, depth) to world, with the trackball's own matrices (as gluUnProject).
    virtual XPnt3d unproject(double x, double y, double depth) const = 0;
    // The world point under screen (x, y): the surface point when the depth buffer shows one,
    // else the point on the plane through the centre facing the eye.
    virtual XPnt3d screenPointToWorld(int x, int y) const = 0;
    // World to window (x, y, depth) with the trackball's own matrices (as gluProject); an
    // invalid point when the matrices are singular.
    virtual XPnt3d projectToScreen(const XPnt3d& world) const = 0;
    // Same projection as projectToScreen, for callers that work in window coordinates.
    virtual XPnt3d projectPoint(const XPnt3d& world) const = 0;

    // ---- beyond the operations the UI library calls ----

    virtual int setViewport(int width, int height) = 0;
    virtual int viewportWidth() const = 0;
    virtual int viewportHeight() const = 0;
    virtual double getFieldOfView() const = 0;
    // Sets eye, centre and up at once (up is made orthogonal to the view direction); -1 when the
    // eye equals the centre or up is parallel to the view direction.
    virtual int setLookAt(const XPnt3d& eye, const XPnt3d& center, const XPnt3d& up) = 0;
    // Column-major 4x4 matrices, as glLoadMatrixd takes them.
    virtual void getModelViewMatrix(double out[16]) const = 0;
    virtual void getProjectionMatrix(double out[16]) const = 0;
    // Looks through a photo's pinhole: focal lengths fx, fy and principal point cx, cy in photo
    // pixels (origin at the photo's top-left corner, y down) of a photoWidth x photoHeight photo.
    // While set, the projection is that pinhole's off-centre frustum fitted into the viewport:
    // the whole photo visible and centred, its aspect kept (a viewport of another shape shows
    // more of the scene beside it); every projection, unprojection and pick follows it, and it
    // follows viewport changes. Eye, orientation, near and far stay as they are. Any camera move
    // (a drag step that moves, zoomAt, translateBy, setViewIndex, fitToBox, setCenterAt,
    // setFieldOfView) leaves it for the plain perspective, whose field of view keeps the photo's
    // vertical scale; a drag begun and ended on the spot keeps it.
    // -1 (nothing changed) for sizes or focal lengths not above 0 or numbers that are not finite.
    virtual int setPhotoProjection(double fx, double fy, double cx, double cy, int photoWidth, int photoHeight) = 0;
    // Leaves the photo projection as a camera move does; 1 when none was set.
    virtual int clearPhotoProjection() = 0;
    virtual bool hasPhotoProjection() const = 0;

protected:
    ~IZimTrackBall() override = default;
};

// Markers drawn in the scene with the current GL matrices.
class ZIM_DISPLAY_EXPORT IZimSymbol : public ZimReferenced {
public:
    // A point marker of `size` world units and outline width `lineWidth` pixels. onTop true
    // draws it over everything (depth test off); filled true draws a filled square, false a cross.
    virtual int drawPoint(const XPnt3d& point, double size, double lineWidth, const ZimColor3f& colour, bool onTop,
                          bool filled) = 0;
    // A line of `width` pixels; onTop as for drawPoint; dashed true stipples it.
    virtual int drawLine(const XPnt3d& from, const XPnt3d& to, double width, const ZimColor3f& colour, bool onTop,
                         bool dashed) = 0;

protected:
    ~IZimSymbol() override = default;
};

// Owns the drawing cycle of one GL context.
class ZIM_DISPLAY_EXPORT IZimDisplay : public ZimReferenced {
public:
    // Attaches the display to a native drawable and GL context (GLX: the GLXDrawable and the
    // GLXContext, as glXGetCurrentDrawable/glXGetCurrentContext give them). Null arguments take
    // the context current now. -1 when there is none.
    virtual int attachContext(void* drawable, void* context) = 0;
    virtual int resizeDisplay(int width, int height) = 0;
    // Makes the context current, sets the viewport, clears colour and depth with the background
    // colour and loads the trackball's matrices. flags is reserved (0). -1 without a context.
    virtual int beginDraw(int flags) = 0;
    // Finishes the frame (flush, and a buffer swap for a double-buffered window). 1 asks the
    // caller to draw once more (the trackball moved during the frame), else 0.
    virtual int endDraw() = 0;
    // Makes the attached context current again if another one is current.
    virtual int makeDisplayCurrent() = 0;
    // Brackets drawing by an interactive tool: the GL state and matrices are saved at begin and
    // restored at end, with the scene's matrices loaded in between.
    virtual int beginToolDraw() = 0;
    virtual int endToolDraw() = 0;
    virtual int setBackgroundColor(const ZimColor3f& colour) = 0;
    virtual ref_ptr<IZimTrackBall> getTrackBall() = 0;

    // ---- beyond the operations the UI library calls ----

    virtual ZimColor3f getBackgroundColor() const = 0;
    virtual int displayWidth() const = 0;
    virtual int displayHeight() const = 0;

protected:
    ~IZimDisplay() override = default;
};

// ---------------------------------------------------------------------------------------------
// Objects the host and its plug-ins supply
// ---------------------------------------------------------------------------------------------

// View kinds an interactive tool is told about.
enum ZimViewKind { ZimView3D = 0, ZimViewImage = 1 };

// Result of endTool when the tool cannot end now, and of onMouseDoubleClick when the tool did
// not handle the click.
constexpr int ZimToolRefusesEnd = 99999;
constexpr int ZimToolNotHandled = -9998;

// An interactive tool. Positions are GL-oriented (y up from the bottom edge of the view); the
// view kind comes first in every event. The viewers call setActiveView(view) before each event.
class ZIM_DISPLAY_EXPORT IZimTool : public ZimReferenced {
public:
    virtual int beginTool() = 0;
    // 99999 (ZimToolRefusesEnd) keeps the tool current.
    virtual int endTool() = 0;
    virtual bool isDrawSuppressed() = 0;
    virtual int drawTool(int view) = 0;
    // -9998 (ZimToolNotHandled) lets the viewer handle the double click itself.
    virtual int onMouseDoubleClick(int view, ZimKey flags, int x, int y) = 0;
    virtual int onMousePress(int view, ZimKey flags, int x, int y) = 0;
    virtual int onMouseRelease(int view, ZimKey flags, int x, int y) = 0;
    virtual int onMouseMove(int view, ZimKey flags, int x, int y) = 0;
    virtual int onWheel(int view, ZimKey flags, short delta, int x, int y) = 0;
    virtual int onRightClick(int view, ZimKey flags, int x, int y) = 0;
    virtual int onKeyPress(int view, int key, int count, ZimKey flags) = 0;
    virtual int onKeyRelease(int view, int key, int count, ZimKey flags) = 0;
    virtual int setActiveView(int view) = 0;
    virtual int notifyTool() = 0;

protected:
    ~IZimTool() override = default;
};

// One undoable change, made by the host or a plug-in and handed to the viewer manager.
class ZIM_DISPLAY_EXPORT IZimUndoStep : public ZimReferenced {
public:
    virtual int undo() = 0;
    virtual int redo() = 0;

protected:
    ~IZimUndoStep() override = default;
};

namespace zim {

// A display with its own trackball, not yet attached to a context.
ZIM_DISPLAY_EXPORT ref_ptr<IZimDisplay> newScreenDisplay();
// A trackball on its own (for maths without a display).
ZIM_DISPLAY_EXPORT ref_ptr<IZimTrackBall> newTrackBall();
ZIM_DISPLAY_EXPORT ref_ptr<IZimSymbol> newZimSymbol();
// The process-wide shared symbol.
ZIM_DISPLAY_EXPORT ref_ptr<IZimSymbol> getPubSymbol();

}  // namespace zim
