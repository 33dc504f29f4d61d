// The 3D view's drawing steps, one function each, over a read-only state of the view. The
// viewer calls them in this order within one frame (the display's beginDraw .. endDraw, the
// camera applied):
//   drawMeshes        the meshes of the scene, cut by the enabled clip planes
//   drawPhotoOverlay  the current photo on its frame, with the frame's border
//   drawLayers        the draw layers, then the objects the viewer manager keeps
//   drawMeshMarks     the marks of the current mesh: control points, point marks, tracks
//   drawColourMarks   the red, green and blue marks
//   drawScreenPath    the kernel's screen path as a line at the depth of the rotation centre
// and drawMagnifierFrame over the magnified scene. None of them changes the view's state; GL
// state they change they put back.
#pragma once

#include <vector>

#include "IOrv3DViewer.h"
#include "ZimDisplay64t.h"

namespace orvUI {

class IOrvViewerMan;

// What the drawing steps read of the view.
struct SceneView {
    ref_ptr<IZimTrackBall> trackBall;
    ref_ptr<IZimDisplay> display;
    ref_ptr<IZimSymbol> symbol;
    double fieldOfView = 27.0;                             // degrees: the base angle over the zoom
    const QVector<ClipPlaneRecord>* clipPlanes = nullptr;  // null: no clip planes
    // The photo overlay: its texture (0: none), frame corners, opacity and border.
    unsigned imageTexture = 0;
    ImageFrame imageFrame{};
    float overlayOpacity = 0.6f;
    bool showFrameBorder = true;
    // When set, a (gridSize + 1)^2 grid the photo is drawn over instead of the frame's quad:
    // photo position (i / n, j / n) at index j (n + 1) + i.
    const std::vector<XPnt3d>* overlayGrid = nullptr;
    int gridSize = 0;
    const std::vector<ref_ptr<ZimReferenced>>* drawLayers = nullptr;
    // 1: marks are drawn where their photo coordinates lie on the photo frame.
    int markMode = 0;
    // Screen pixels per world unit along the photo frame's top edge (0 when unknown).
    double frameScreenRatio = 0.0;
    XPnt3d redMark, greenMark, blueMark;
};

namespace scene3d {

// The size of markers drawn at world points: the trackball's pixel scale, kept positive.
double markerScale(const IZimTrackBall* trackBall);

void drawMeshes(const SceneView& view, IZimMM& mm);
// Nothing without a texture or with a corner of the frame (or a point of the grid) missing.
void drawPhotoOverlay(const SceneView& view);
void drawLayers(const SceneView& view, IOrvViewerMan& vm);
void drawMeshMarks(const SceneView& view, IZimMM& mm, int meshIndex);
void drawColourMarks(const SceneView& view);
void drawScreenPath(const SceneView& view, IZimMM& mm);
// The red square around the magnified spot at (x, y) of a w x h view, in window pixels.
void drawMagnifierFrame(int x, int y, int w, int h);

}  // namespace scene3d

}  // namespace orvUI
