// Which triangles of the current 3D view are really visible, with their screen and texture
// corners: the kernel's id-buffer selection, refined against one read of the depth buffer and
// the trackball's projection. The refinement itself needs no GL (refineVisibleTriangles); the
// GL part reads the matrices and the depth buffer of the current context
// (selectVisibleTriangles).
#pragma once

#include <OrvKernel64t.h>

#include <QMap>
#include <QVector>

namespace orvUI {

using TriangleRecords = QVector<ref_ptr<TqTriangleIndex>>;
using TextureImageMap = QMap<int, ref_ptr<IZimImage>>;

// Where the time of one backup goes, in seconds (added to), for measuring.
struct BackupTimings {
    double depth = 0;     // drawing the depth of the view
    double idBuffer = 0;  // the depth read and the kernel's id-buffer selection
    double refine = 0;    // the per-triangle tests and the records
    double seams = 0;     // the boundary edges and the seam map
    double fill = 0;      // the gray start of the picture
    double painting = 0;
    double gaps = 0;
    double saving = 0;
    double redraw = 0;  // the view's redraw at the end
};

// What the refinement knows of the view: the GL viewport and matrices (column-major, as
// glGetDoublev gives them), the depth buffer read over the viewport (viewport[2] x viewport[3]
// floats, bottom row first) and the widget's size.
struct SelectionView {
    int viewport[4] = {0, 0, 0, 0};
    double modelView[16] = {};
    double projection[16] = {};
    const float* depth = nullptr;
    int widgetWidth = 0;
    int widgetHeight = 0;
};

// Window coordinates of a world point as gluProject gives them, with the same arithmetic
// (model-view, then projection, then the viewport). False when w is 0.
bool projectLikeGlu(const SelectionView& view, double x, double y, double z, double out[3]);

// Where the depth test looks for corner k: the pixel 1.5 pixels in from the corner towards the
// triangle's centre (the centre's pixel for a triangle smaller than that), inside the w x h
// viewport. The pixel of the corner itself mostly belongs to a neighbouring triangle, whose
// depth differs from this one's wherever the surface bends.
void depthSamplePixels(const double win[3][3], int width, int height, int qx[3], int qy[3]);

// The triangle's own window depth at the centres of pixels (px, py), from the plane
// through its three window points win[k] = (x, y, depth): what the depth buffer holds there when
// the triangle is the surface seen. A triangle too thin to have a plane gives its corners'
// depths.
void depthAtPixels(const double win[3][3], const int px[3], const int py[3], double out[3]);

// The depth test: the three corners' window depths against the depth buffer, both scaled by
// 10000; hidden when the absolute value of the summed signed differences exceeds 0.4.
bool passesDepthTest(const double windowDepth[3], const float bufferDepth[3]);

// Refines the flags the id-buffer selection set (one byte per triangle per mesh) and records
// the visible triangles in mesh order: duplicates of an opaque triangle within a mesh are
// skipped, corners outside the viewport leave the flag as it is, hidden triangles (the depth
// test at the corner pixels) and corners off the screen clear it. Fills the texture image of every mesh it records, and
// rebuilds `seams` with the boundary edges of every mesh's visible area (the second mesh index set when a later mesh
// reaches the same edge). progress (may be null) advances by 1 / mesh count per mesh.
void refineVisibleTriangles(const SelectionView& view, const ref_ptr<IZimTrackBall>& trackBall,
                            const ref_ptr<MeshArray>& meshes, ByteArrayArray& flags, IZimProgress* progress,
                            TriangleRecords& records, TextureImageMap& textures, SeamEdgeMap& seams,
                            BackupTimings* timings = nullptr);

// The whole selection in the current GL context (the viewer's, with its scene drawn): applies
// the trackball's view, reads the viewport, matrices and depth buffer once, runs the kernel's
// id-buffer selection over `region` and refines its result. False, with the records, textures
// and seams untouched, when the kernel selects nothing.
bool selectVisibleTriangles(const ref_ptr<IZimTrackBall>& trackBall, bool wholeTriangles,
                            const ref_ptr<MeshArray>& meshes, const Enve2d& region, ref_ptr<ByteArrayArray>& flags,
                            IZimProgress* progress, TriangleRecords& records, TextureImageMap& textures,
                            SeamEdgeMap& seams, int widgetWidth, int widgetHeight, BackupTimings* timings = nullptr);

}  // namespace orvUI
