// Camera mathematics of the trackball, free of any GL call: the orbit camera state, its
// matrices (built exactly as gluLookAt and gluPerspective build them), projection and
// unprojection in window coordinates (as gluProject and gluUnProject compute them), and the
// camera moves (orbit, pan, dolly, zoom about a screen point, fit to a box, standard views).
//
// World convention: z is up. Window coordinates are GL-oriented: x from the left edge, y up from
// the bottom edge, depth 0 at the near plane and 1 at the far plane. The viewport always starts
// at the window origin.
#pragma once

#include "ZimBase64t.h"

namespace zimdisp {

// Column-major 4x4 matrix: element (row r, column c) is m[c * 4 + r], as glLoadMatrixd takes it.
struct Mat4 {
    double m[16];
    static Mat4 identity();
};

Mat4 operator*(const Mat4& a, const Mat4& b);
// out = a * in for a homogeneous column vector.
void transform(const Mat4& a, const double in[4], double out[4]);
// Inverse by cofactors; false when the determinant is zero or not finite (out is then untouched).
bool invert(const Mat4& a, Mat4& out);

// World point to window (x, y, depth) through model-view, projection and a viewport
// (x, y, width, height); an invalid point when the clip w is zero or the result not finite.
XPnt3d projectWith(const Mat4& modelView, const Mat4& projection, const double viewport[4], const XPnt3d& world);
// Window (x, y, depth) back to world; an invalid point for singular matrices, an empty viewport
// or a point at infinity.
XPnt3d unprojectWith(const Mat4& modelView, const Mat4& projection, const double viewport[4], double x, double y,
                     double depth);

// A perspective orbit camera. Invariants kept by every operation: eye and centre differ, up is a
// unit vector orthogonal to the view direction, 1 <= fov <= 170 degrees, 0 < near < far, and all
// of it finite.
class ZimCamera {
public:
    static constexpr double kMinFov = 1.0;
    static constexpr double kMaxFov = 170.0;

    ZimCamera();

    const XPnt3d& eye() const { return m_eye; }
    const XPnt3d& center() const { return m_center; }
    const XPnt3d& up() const { return m_up; }
    double fieldOfView() const { return m_fov; }
    double nearDistance() const { return m_near; }
    double farDistance() const { return m_far; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    // Distance from the eye to the centre (always > 0).
    double distance() const { return m_eye.dist(m_center); }
    // Unit vector from the eye towards the centre.
    XPnt3d viewDirection() const;
    // Unit vector pointing to the right of the screen.
    XPnt3d sideVector() const;
    // Counts every change of the camera state; equal counts mean an unchanged camera.
    unsigned long revision() const { return m_revision; }

    // False (nothing changed) for non-finite input, eye == centre or up parallel to the view.
    bool setLookAt(const XPnt3d& eye, const XPnt3d& center, const XPnt3d& up);
    // Negative sizes count as 0. An empty viewport is treated as 1 x 1 by the maths.
    void setViewport(int width, int height);
    // Clamped to kMinFov..kMaxFov; false for a non-finite value.
    bool setFieldOfView(double degrees);
    // A value <= 0 becomes far / 10000 (the smallest near distance that keeps a 24-bit depth
    // buffer usable); false for a non-finite value or one not below the far distance.
    bool setNearDistance(double distance);
    // False for a non-finite value or one not above the near distance.
    bool setFarDistance(double distance);

    bool translate(const XPnt3d& offset);
    // Turns the camera to look at `target` from where the eye is; false when target is the eye.
    bool lookAtPoint(const XPnt3d& target);
    // 0 top, 1 bottom, 2 front, 3 back, 4 left, 5 right, about the centre at the same distance.
    bool setStandardView(int index);
    // False for an empty or non-finite box.
    bool fitToBox(const Enve3d& box, bool adjustPlanes);

    // Orbit about the centre by a mouse motion of (dx, dy) pixels: horizontal motion turns about
    // the world z axis through the centre, vertical motion about the screen's side axis, so that
    // the scene follows the cursor. A drag across the smaller viewport side turns by 180 degrees.
    void orbit(double dx, double dy);
    // Pan: the point under (x0, y0) on the plane through the centre moves under (x1, y1).
    void pan(double x0, double y0, double x1, double y1);
    // Dolly by a vertical mouse motion: up moves the eye towards the centre (a full viewport
    // height by a factor of e^3), down away from it.
    void dolly(double dy);
    // Wheel zoom about screen point (x, y); see scaleAbout for the depth range.
    bool zoomAt(double amount, double x, double y);

    // World to window and back with this camera's matrices and viewport.
    XPnt3d project(const XPnt3d& world) const;
    XPnt3d unproject(double x, double y, double depth) const;
    // The point under window (x, y) on the plane through the centre facing the eye.
    XPnt3d planePoint(double x, double y) const;
    // Screen pixels per world unit at the centre's distance.
    double pixelScale() const;

    // The projection of a pinhole photo camera: focal lengths and principal point in photo
    // pixels (origin at the photo's top-left corner, y down) of a photo of the given size. The
    // projection becomes the off-centre frustum that shows the whole photo centred in the
    // viewport at the largest scale that fits, its aspect kept; a viewport of another aspect
    // shows more of the scene in the bands beside the photo. It follows viewport changes. False
    // (nothing changed) for sizes or focal lengths not above 0 or numbers that are not finite.
    bool setPhotoProjection(double fx, double fy, double cx, double cy, int photoWidth, int photoHeight);
    // Back to the symmetric perspective, with the field of view that keeps the photo's vertical
    // scale on screen. Nothing when no photo projection is set.
    void clearPhotoProjection();
    bool hasPhotoProjection() const { return m_photo.active; }
    // Where photo pixel position (px, py) (top-left origin, y down) lies in the viewport
    // (GL-oriented), and the photo pixel's size in screen pixels; only with a photo projection.
    double photoScale() const;
    double photoWindowX(double px) const;
    double photoWindowY(double py) const;

    Mat4 modelView() const;
    Mat4 projection() const;
    void viewport(double out[4]) const;

private:
    double aspect() const;
    // Leaves the photo projection before the camera moves on the user's behalf.
    void leavePhoto() { clearPhotoProjection(); }
    // Corner of the photo in the viewport (GL-oriented window position of photo pixel (0, H)).
    double photoOffsetX() const;
    double photoOffsetY() const;
    double halfFovRadians() const { return m_fov * 0.5 * 3.14159265358979323846 / 180.0; }
    // Moves eye and centre towards (factor < 1) or away from `pivot` by `factor`, with the
    // eye–centre distance kept between the minimum and the maximum. The depth range follows the scene: every
    // point's depth changes by the same amount (factor - 1) * distance, so the far distance is
    // shifted by it and the near distance scaled with the factor (it must stay positive).
    bool scaleAbout(const XPnt3d& pivot, double factor);
    // Sets eye, centre and up (which must be valid) and counts a change when anything differs.
    void assign(const XPnt3d& eye, const XPnt3d& center, const XPnt3d& up);
    // Closest and farthest eye–centre distances the zoom moves reach.
    double minDistance() const { return m_sceneRadius * 1e-3; }
    double maxDistance() const { return std::max(m_sceneRadius, 1.0) * 1e8; }

    XPnt3d m_eye{0, -10, 0};
    XPnt3d m_center{0, 0, 0};
    XPnt3d m_up{0, 0, 1};
    double m_fov = 30.0;
    double m_near = 0.1;
    double m_far = 1000.0;
    int m_width = 0;
    int m_height = 0;
    // Radius of the last box fitted; sets the scale of the zoom limits.
    double m_sceneRadius = 1.0;
    unsigned long m_revision = 0;
    struct PhotoProjection {
        bool active = false;
        double fx = 0, fy = 0, cx = 0, cy = 0;
        int width = 0, height = 0;
    } m_photo;
};

}  // namespace zimdisp
