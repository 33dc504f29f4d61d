#include "SceneRenderer.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>

#include "IOrvDrawLayer.h"
#include "IOrvViewerMan.h"
#include "ViewMath.h"

namespace orvUI {

namespace scene3d {

double markerScale(const IZimTrackBall* trackBall)
{
    const double scale = trackBall ? trackBall->getPixelScale() : 1.0;
    return std::isfinite(scale) ? std::max(scale, 0.0001) : 1.0;
}

void drawMeshes(const SceneView& view, IZimMM& mm)
{
    glDisable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);

    const QVector<ClipPlaneRecord>* planes = view.clipPlanes;
    if (!planes || planes->isEmpty()) {
        for (int i = 0; i < 6; ++i) glDisable(GLenum(GL_CLIP_PLANE0 + i));
    } else {
        for (int i = 0; i < planes->size() && i < 6; ++i) {
            const ClipPlaneRecord& plane = (*planes)[i];
            if (!plane.enabled) {
                glDisable(GLenum(GL_CLIP_PLANE0 + i));
            } else {
                glClipPlane(GLenum(GL_CLIP_PLANE0 + i), plane.equation);
                glEnable(GLenum(GL_CLIP_PLANE0 + i));
            }
        }
    }
    const int items = mm.sceneItemCount();
    for (int i = 0; i < items; ++i)
        if (const ref_ptr<IZimSceneItem> item = mm.sceneItemAt(i)) item->drawSceneItem(1, view.display);
    for (int i = 0; i < 6; ++i) glDisable(GLenum(GL_CLIP_PLANE0 + i));
}

namespace {

// The photo over a grid of world points (see SceneView::overlayGrid): one textured quad a cell.
void drawPhotoGrid(const std::vector<XPnt3d>& grid, int n)
{
    const auto at = [&](int i, int j) { return &grid[std::size_t(j) * std::size_t(n + 1) + std::size_t(i)].x; };
    glBegin(GL_QUADS);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const float u0 = float(i) / float(n), u1 = float(i + 1) / float(n);
            const float v0 = float(j) / float(n), v1 = float(j + 1) / float(n);
            glTexCoord2f(u0, v0);
            glVertex3dv(at(i, j));
            glTexCoord2f(u1, v0);
            glVertex3dv(at(i + 1, j));
            glTexCoord2f(u1, v1);
            glVertex3dv(at(i + 1, j + 1));
            glTexCoord2f(u0, v1);
            glVertex3dv(at(i, j + 1));
        }
    glEnd();
}

// The outline of the grid: its outer points, bottom edge first, counter-clockwise.
void drawGridBorder(const std::vector<XPnt3d>& grid, int n)
{
    const auto at = [&](int i, int j) { return &grid[std::size_t(j) * std::size_t(n + 1) + std::size_t(i)].x; };
    glBegin(GL_LINE_LOOP);
    for (int i = 0; i < n; ++i) glVertex3dv(at(i, 0));
    for (int j = 0; j < n; ++j) glVertex3dv(at(n, j));
    for (int i = n; i > 0; --i) glVertex3dv(at(i, n));
    for (int j = n; j > 0; --j) glVertex3dv(at(0, j));
    glEnd();
}

}  // namespace

void drawPhotoOverlay(const SceneView& view)
{
    // No photo was ever shown: there is nothing to put on the quad.
    if (view.imageTexture == 0) return;
    const ImageFrame& imageFrame = view.imageFrame;
    const std::vector<XPnt3d>* grid = view.overlayGrid;
    const int n = view.gridSize;
    if (grid) {
        if (n < 1 || grid->size() != std::size_t(n + 1) * std::size_t(n + 1)) return;
        for (const XPnt3d& p : *grid)
            if (!p.isValid()) return;
    } else {
        for (const XPnt3d& p : imageFrame)
            if (!p.isValid()) return;
    }
    {
        ZimTmpGlStateCtrl lighting(GL_LIGHTING, false);
        ZimTmpGlStateCtrl blend(GL_BLEND, true);
        ZimTmpGlStateCtrl depth(GL_DEPTH_TEST, false);
        ZimTmpGlStateCtrl colour(ZimColor4f(1, 1, 1, view.overlayOpacity));
        ZimTmpGlStateCtrl texture(GL_TEXTURE_2D, true);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glBindTexture(GL_TEXTURE_2D, view.imageTexture);
        if (grid) {
            drawPhotoGrid(*grid, n);
        } else {
            glBegin(GL_QUADS);
            glTexCoord2f(0, 0);
            glVertex3dv(&imageFrame[1].x);
            glTexCoord2f(1, 0);
            glVertex3dv(&imageFrame[3].x);
            glTexCoord2f(1, 1);
            glVertex3dv(&imageFrame[0].x);
            glTexCoord2f(0, 1);
            glVertex3dv(&imageFrame[2].x);
            glEnd();
        }
    }
    if (view.showFrameBorder) {
        ZimTmpGlStateCtrl lighting(GL_LIGHTING, false);
        ZimTmpGlStateCtrl blend(GL_BLEND, false);
        ZimTmpGlStateCtrl depth(GL_DEPTH_TEST, false);
        ZimTmpGlStateCtrl colour(ZimColor4f(1, 0, 0, 0));
        ZimTmpGlStateCtrl texture(GL_TEXTURE_2D, false);
        ZimTmpGlStateCtrl width(GL_LINE_WIDTH, 2.0f);
        if (grid) {
            drawGridBorder(*grid, n);
        } else {
            glBegin(GL_LINE_LOOP);
            glVertex3dv(&imageFrame[1].x);
            glVertex3dv(&imageFrame[3].x);
            glVertex3dv(&imageFrame[0].x);
            glVertex3dv(&imageFrame[2].x);
            glEnd();
        }
    }
}

void drawLayers(const SceneView& view, IOrvViewerMan& vm)
{
    if (view.drawLayers)
        for (const ref_ptr<ZimReferenced>& entry : std::vector<ref_ptr<ZimReferenced>>(*view.drawLayers))
            if (auto* layer = dynamic_cast<IOrvDrawLayer*>(entry.get())) layer->drawLayer(ZimView3D, view.display);
    if (vm.getObjectCount() > 0) {
        if (const ref_ptr<LongArray> ids = vm.getObjectIds()) {
            for (int i = 0; i < ids->count(); ++i) {
                const ref_ptr<ZimReferenced> object = vm.getObject(int(ids->at(i)));
                if (auto* layer = dynamic_cast<IOrvDrawLayer*>(object.get())) layer->drawLayer(ZimView3D, view.display);
            }
        }
    }
}

void drawMeshMarks(const SceneView& view, IZimMM& mm, int meshIndex)
{
    const ref_ptr<IZimSymbol>& symbol = view.symbol;
    const ref_ptr<IZimTrackBall>& trackBall = view.trackBall;
    ref_ptr<IZimTqState> state;
    if (mm.getState(state) != 0 || !state || !symbol || !trackBall) return;
    ref_ptr<IZimImageStore> store;
    if (state->getImageStore(store) != 0 || !store || !store->hasMarks(meshIndex)) return;
    ref_ptr<IZimImageRecord> record;
    if (!store->isStoreReady() || !store->hasMeshData(meshIndex) || store->getImageRecord(record, meshIndex) != 0 ||
        !record)
        return;
    const ref_ptr<Pnt3dArray> points = record->getMarkPoints();
    const ref_ptr<Pnt2dArray> uvs = record->getMarkUVs();
    record->prepareMarks();
    const ref_ptr<MarkArray> selected = record->getSelectedMarks();
    const auto isSelected = [&selected](const XPnt3d& p) {
        if (!selected) return false;
        for (const MarkRecord& s : *selected)
            if (std::fabs(s.point.x - p.x) < 0.001 && std::fabs(s.point.y - p.y) < 0.001 &&
                std::fabs(s.point.z - p.z) < 0.001)
                return true;
        return false;
    };

    if (points) {
        ZimTmpGlStateCtrl texture(GL_TEXTURE_2D, false);
        ZimTmpGlStateCtrl depth(GL_DEPTH_TEST, true);
        ZimTmpGlStateCtrl lighting(GL_LIGHTING, false);
        ZimTmpGlStateCtrl colour(ZimColor3f(0, 1, 0));
        double scale = markerScale(trackBall.get());
        bool filled = true;
        if (view.markMode == 1) {
            scale = std::max(view.frameScreenRatio / kFrameScale, 0.0001);
            filled = false;
        }
        for (int i = 0; i < points->count(); ++i) {
            XPnt3d p = points->at(i);
            ZimTmpGlStateCtrl pointSmooth(GL_POINT_SMOOTH, true);
            ZimTmpGlStateCtrl lineSmooth(GL_LINE_SMOOTH, true);
            ZimTmpGlStateCtrl polygonSmooth(GL_POLYGON_SMOOTH, true);
            const bool sel = isSelected(points->at(i));
            if (view.markMode == 1) {
                if (!uvs || i >= uvs->count()) continue;
                p = framePointAt(view.imageFrame, uvs->at(i).x, uvs->at(i).y, kFrameScale);
            }
            if (!p.isValid()) continue;
            symbol->drawPoint(p, 15 / scale, 1.0, ZimColor3f(1, 0, 0), false, filled);
            glColor3f(0, sel ? 0.0f : 1.0f, sel ? 1.0f : 0.0f);
            trackBall->drawWorldText(p.x, p.y, p.z, "%d", i + 1);
        }
    }

    const ref_ptr<MarkArray> pointMarks = record->getPointMarks();
    if (!pointMarks) return;
    {
        ZimTmpGlStateCtrl texture(GL_TEXTURE_2D, false);
        ZimTmpGlStateCtrl depth(GL_DEPTH_TEST, true);
        ZimTmpGlStateCtrl lighting(GL_LIGHTING, false);
        ZimTmpGlStateCtrl colour(ZimColor3f(0, 1, 0));
        const double scale = markerScale(trackBall.get());
        for (int i = 0; i < pointMarks->count(); ++i) {
            const XPnt3d p = pointMarks->at(i).point;
            if (!p.isValid()) continue;
            symbol->drawPoint(p, 10 / scale, 1.0, ZimColor3f(1, 0, 0), false, true);
            if (isSelected(p))
                glColor3f(0, 0, 1);
            else
                glColor3f(1, 1, 0);
            trackBall->drawWorldText(p.x, p.y, p.z, "%d", i + 1);
        }
    }
    const ref_ptr<MarkArray> tracks = record->getTrackMarks();
    if (!tracks) return;
    ZimTmpGlStateCtrl texture(GL_TEXTURE_2D, false);
    ZimTmpGlStateCtrl depth(GL_DEPTH_TEST, false);
    ZimTmpGlStateCtrl lighting(GL_LIGHTING, false);
    ZimTmpGlStateCtrl colour(ZimColor3f(1, 1, 0));
    const double scale = markerScale(trackBall.get());
    for (int i = 0; i < tracks->count(); ++i) {
        const MarkRecord& mark = tracks->at(i);
        if (mark.uv.x < 0 || mark.uv.y < 0 || !mark.point.isValid()) continue;
        if (i > 0 && mark.point == tracks->at(i - 1).point) continue;
        symbol->drawPoint(mark.point, 5 / scale, 1.0, ZimColor3f(1, 0, 0), false, false);
        glColor3f(0, 1, 1);
        trackBall->drawWorldText(mark.point.x, mark.point.y, mark.point.z, "%d", i + 1);
    }
}

void drawColourMarks(const SceneView& view)
{
    if (!view.symbol) return;
    const double scale = markerScale(view.trackBall.get());
    const XPnt3d& red = view.redMark;
    const XPnt3d& green = view.greenMark;
    const XPnt3d& blue = view.blueMark;
    if (red.x != 0 && red.y != 0 && red.z != 0 && red.isValid())
        view.symbol->drawPoint(red, 15 / scale, 1.0, ZimColor3f(1, 0, 0), false, true);
    if (green.x != 0 && green.y != 0 && green.isValid())
        view.symbol->drawPoint(green, 15 / scale, 1.0, ZimColor3f(0, 1, 0), false, true);
    if (blue.x != 0 && blue.y != 0 && blue.isValid())
        view.symbol->drawPoint(blue, 15 / scale, 1.0, ZimColor3f(0, 0, 1), false, true);
}

void drawScreenPath(const SceneView& view, IZimMM& mm)
{
    ZimTmpGlStateCtrl texture(GL_TEXTURE_2D, false);
    ZimTmpGlStateCtrl lighting(GL_LIGHTING, false);
    ref_ptr<IZimScreenPath> path;
    const ref_ptr<IZimTrackBall>& trackBall = view.trackBall;
    if (mm.getScreenPath(path) != 0 || !path || !view.symbol || !trackBall) return;
    const XPnt3d w = trackBall->projectToScreen(trackBall->getCenterPoint());
    for (int i = 0; i + 1 < path->pathPointCount(); ++i) {
        const XPnt2d a = path->pathPointAt(i);
        const XPnt2d b = path->pathPointAt(i + 1);
        const XPnt3d p0 = trackBall->unproject(a.x, a.y, w.z);
        const XPnt3d p1 = trackBall->unproject(b.x, b.y, w.z);
        if (p0.isValid() && p1.isValid()) view.symbol->drawLine(p0, p1, 2.0, ZimColor3f(1, 0, 0), false, false);
    }
}

void drawMagnifierFrame(int x, int y, int w, int h)
{
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, w, 0, h);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    ZimTmpGlStateCtrl lighting(GL_LIGHTING, false);
    ZimTmpGlStateCtrl blend(GL_BLEND, false);
    ZimTmpGlStateCtrl colour(ZimColor4f(1, 0, 0, 0));
    ZimTmpGlStateCtrl lineWidth(GL_LINE_WIDTH, 1.0f);
    glBegin(GL_LINE_LOOP);
    glVertex2i(x - 101, y - 101);
    glVertex2i(x - 101, y + 100);
    glVertex2i(x + 100, y + 100);
    glVertex2i(x + 100, y - 101);
    glEnd();
    glFlush();
}

}  // namespace scene3d

}  // namespace orvUI
