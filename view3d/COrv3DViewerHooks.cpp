// The 3D viewer's hooks for the backup step, its tests and the benchmarks: what the backup needs
// of the view, the phases' timings and thread count, and the backup's arithmetic in the view's
// size.
#include "COrv3DViewer.h"
#include "TexturePainter.h"
#include "ViewMath.h"

namespace orvUI {

bool COrv3DViewer::computeScreenToTexture(const XPnt2f* source, const XPnt2f* target, zim::matrix<float>& out)
{
    return orvUI::computeScreenToTexture(source, target, out);
}

BackupView COrv3DViewer::backupView()
{
    BackupView view;
    view.trackBall = trackBall;
    view.width = width();
    view.height = height();
    view.prepareDepth = [this]() { return prepareBackupDepth(); };
    view.releaseDepth = [this]() { releaseBackupDepth(); };
    // The selection renders into a framebuffer of its own and leaves the window's picture as it
    // was: a repaint is only scheduled, for whatever changed meanwhile, instead of drawn now.
    view.redraw = [this]() { update(); };
    view.timings = backupTimings;
    view.paintThreads = backupPaintThreads;
    return view;
}

bool COrv3DViewer::selectVisibleTriangles(ref_ptr<IZimTrackBall> ball, bool wholeTriangles, ref_ptr<MeshArray> meshes,
                                          Enve2d region, ref_ptr<ByteArrayArray>& flags, IZimProgress* progress,
                                          QVector<ref_ptr<TqTriangleIndex>>& triangles,
                                          QMap<int, ref_ptr<IZimImage>>& textures, SeamEdgeMap& seams)
{
    return orvUI::selectVisibleTriangles(ball, wholeTriangles, meshes, region, flags, progress, triangles, textures,
                                         seams, width(), height());
}

void COrv3DViewer::fillImageGaps(ref_ptr<IZimImage> image, int passes) { orvUI::fillImageGaps(image.get(), passes); }

void COrv3DViewer::setBackupTuning(BackupTimings* timings, int paintThreads)
{
    backupTimings = timings;
    backupPaintThreads = paintThreads;
}

}  // namespace orvUI
