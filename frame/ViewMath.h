// The 3D viewer's arithmetic that needs no GL: the photo frame in front of the eye and its photo
// coordinates, the camera move that keeps the scene size when the field of view changes, the
// box of all meshes, the standard-view counters, cursor shapes and the screen-to-texture solve.
#pragma once

#include <QVector>
#include <Qt>
#include <vector>

#include "IOrv3DViewer.h"
#include "ZimMatrix.h"

namespace orvUI {

constexpr double kPhotoHalfExtent = 2.4;  // half the photo's shorter side in world units
constexpr double kFrameScale = 0.9;

// The photo frame of a width x height photograph for a camera: a rectangle on the plane at
// 2.4 / tan(fov / 2) from the eye whose shorter side spans 4.8 units. False, frame untouched,
// when the camera or the size cannot give a finite frame (eye on the centre, up along the view
// line, a zero size, a field of view outside 0..180).
bool computePhotoFrame(const XPnt3d& eye, const XPnt3d& center, const XPnt3d& up, float baseFov, int width, int height,
                       ImageFrame& frame);

// World point of photo coordinates (u, v) on the frame, pulled toward the eye to `scale` of
// its distance.
XPnt3d framePointAt(const ImageFrame& frame, double u, double v, double scale);

// Photo coordinates of window point (x, y) given the projected corners A (photo 0,0), B (1,0)
// and Q (0,1). Invalid when an edge projects to a single point.
XPnt2d windowPointToUV(const XPnt2d& a, const XPnt2d& b, const XPnt2d& q, double x, double y);

// The move along the view line that keeps a point at distance d the same size on screen when
// the effective field of view goes from oldFov to newFov (degrees). Zero when either angle
// gives no usable tangent.
XPnt3d fovKeepSizeOffset(const XPnt3d& eye, const XPnt3d& center, double d, float oldFov, float newFov);

// Start box of viewAllMeshes widened by every mesh of both arrays (a missing array skipped).
Enve3d meshesBox(const ref_ptr<MeshArray>& meshes, const ref_ptr<MeshArray>& backup);

// The line of sight of the home view, as a unit vector from the eye towards the centre: from the
// south (the eye on the -y side) northwards, 45 degrees down from the horizon.
XPnt3d homeViewDirection();

// Whether a camera record can be shown: every value finite, the eye off the centre, the up
// vector not along the line of sight, field of view and zoom above 0, opacity within 0..1.
bool isUsableCamera(const ViewCamera& camera);

// Near and far distances that take in the whole of a box seen from eye (its bounding sphere
// with a small margin; near stays above a thousandth of far). False for an empty box.
bool clipRangeForBox(const XPnt3d& eye, const Enve3d& box, double& nearDistance, double& farDistance);

// The mesh seen first along the segment from `from` to `to` (a pixel's line of sight from the
// near to the far plane): its position in `meshes` (null entries are skipped), -1 when the
// segment meets none. Both faces of a triangle count. With clip planes given, a hit on the
// negative side of an enabled plane among the first six (a x + b y + c z + d < 0) is clipped
// away, as GL does, and the line goes on to what lies behind it. On a tie the later mesh wins,
// as it does when drawn in order with a less-or-equal depth test.
int firstMeshOnSegment(const XPnt3d& from, const XPnt3d& to, const std::vector<ref_ptr<IZimMesh>>& meshes,
                       const QVector<ClipPlaneRecord>* clipPlanes);

// Standard-view counters: around 5 -> 0 -> 4 -> 1 -> 5, over 5 -> 2 -> 4 -> 3 -> 5; any other
// value stays.
int nextViewAround(int index);
int nextViewOver(int index);

// The cursor of setCursorShape; false for shapes that change nothing.
bool cursorForShape(int shape, Qt::CursorShape& out);
// The cursor updateCursor shows for a pick request and a trackball drag mode.
Qt::CursorShape cursorForDrag(bool pickPending, int dragMode);

// The affine map from the first three source points (screen) to the first three target points
// (texture): out becomes the 3 x 2 matrix with (x, y, 1) * out = mapped point. False, and out
// untouched, when the source points are collinear.
bool computeScreenToTexture(const XPnt2f* source, const XPnt2f* target, zim::matrix<float>& out);
// The same map on the stack, as 3 x 2 floats row by row (u = m[0] x + m[2] y + m[4],
// v = m[1] x + m[3] y + m[5]), for the painting's hot path. quiet keeps the singular message
// ("invert is not availble!") back.
bool screenToTextureAffine(const XPnt2f source[3], const XPnt2f target[3], float out[6], bool quiet = false);

// ---- looking through a photo's registered camera ----

// Photo position (u, v) (0..1, origin bottom-left, v up) to the undistorted line of sight of the
// camera: (x, y) with x_cam = (x z, y z, z), the lens distortion removed. False when the
// distortion cannot be undone there (the lens folds back on itself); x, y then keep the
// distorted position.
bool photoRay(const ZimPhotoCamera& camera, double u, double v, double& x, double& y);
// The world point on the line of sight of photo position (u, v) at `depth` along the optical
// axis.
XPnt3d photoRayPoint(const ZimPhotoCamera& camera, double u, double v, double depth);
// The photo laid on its own image plane at `depth`: (n + 1) x (n + 1) world points, photo
// position (i / n, j / n) at index j (n + 1) + i, so that the photo drawn over this grid lines up
// with the scene seen through the camera.
std::vector<XPnt3d> photoOverlayGrid(const ZimPhotoCamera& camera, int n, double depth);
// The frame of the undistorted photo at `depth` (corners as getImageFrame gives them, index 4 the
// eye). False for a camera that is not valid or a depth not above 0.
bool photoCameraFrame(const ZimPhotoCamera& camera, double depth, ImageFrame& frame);
// Depth along the camera's optical axis at which the view centres: that of the box's centre, or
// `fallback` for an empty box or one whose centre lies behind the camera.
double photoViewDepth(const ZimPhotoCamera& camera, const Enve3d& box, double fallback);
// The trackball's look-at for the camera: the eye, the centre on the optical axis at `depth`, and
// the screen's up (the camera's -y). False for a camera that is not valid or a depth not above 0.
bool photoCameraLookAt(const ZimPhotoCamera& camera, double depth, XPnt3d& eye, XPnt3d& center, XPnt3d& up);

}  // namespace orvUI
