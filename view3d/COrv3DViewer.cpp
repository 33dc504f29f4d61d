#include "COrv3DViewer.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QScopedValueRollback>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "BackupInformation.h"
#include "IOrvDrawLayer.h"
#include "IOrvImageThumbViewer.h"
#include "IOrvImageTree.h"
#include "IOrvImageViewer.h"
#include "OrvItemMenu.h"
#include "OrvToolCall.h"
#include "OrvUIElements64t.h"
#include "SceneRenderer.h"
#include "TexturePainter.h"
#include "ViewInput.h"
#include "ViewMath.h"

namespace orvUI {

namespace {

// Cells of the grid a looked-through photo is drawn over, along each side.
constexpr int kLookThroughGrid = 16;

void setModified()
{
    if (ref_ptr<IZimMM> mm = zim::getMM()) mm->setModified(true);
}

ZimKey singleModifier(bool withAlt, bool withShift)
{
    const Qt::KeyboardModifiers mods = QGuiApplication::keyboardModifiers();
    if (mods == Qt::ControlModifier) return ZimKeyCtrl;
    if (withShift && mods == Qt::ShiftModifier) return ZimKeyShift;
    if (withAlt && mods == Qt::AltModifier) return ZimKeyAlt;
    return ZimKeyNone;
}

bool has(ZimKey flags, ZimKey bit) { return (flags & bit) != ZimKeyNone; }

}  // namespace

COrv3DViewer::COrv3DViewer(QWidget* parent) : CZimGLWidget(QGLFormat(QGL::SampleBuffers), parent)
{
    setMinimumSize(300, 500);
    globeState = getGlobeViewState();
    setFocusPolicy(Qt::StrongFocus);
    symbol = zim::newZimSymbol();
    ZimColor3f background(0.34901962f, 0.3372549f, 0.33333334f);
    if (ref_ptr<IOrvViewerMan> vm = getVM())
        if (ref_ptr<IZimTqSetting> settings = vm->getTqSetting()) settings->getBackgroundColor(&background);
    if (display) display->setBackgroundColor(background);
    contextMenu = new QMenu(this);
    setAcceptDrops(false);
    // Until someone sets a camera the view looks in the home view's direction, so that a fit
    // to the meshes shows them from above rather than edge-on.
    if (trackBall) {
        trackBall->setLookAt(homeViewDirection() * -10.0, XPnt3d(0, 0, 0), XPnt3d(0, 0, 1));
        startCamera = getCamera();
    }
    clipPlaneList.reserve(6);
}

COrv3DViewer::~COrv3DViewer()
{
    releaseBackupDepth();
    // The photo texture belongs to this widget's context.
    if (imageTexture != 0 && isValid()) {
        makeCurrent();
        if (glIsTexture(imageTexture)) glDeleteTextures(1, &imageTexture);
        doneCurrent();
    }
}

// ---- listeners and layers --------------------------------------------------------------------

int COrv3DViewer::addMouseListener(IOrvMouseListener* listener)
{
    if (listener) mouseListeners.insert(listener);
    return mouseListeners.size();
}

int COrv3DViewer::removeMouseListener(IOrvMouseListener* listener)
{
    mouseListeners.remove(listener);
    return mouseListeners.size();
}

int COrv3DViewer::clearMouseListeners()
{
    mouseListeners.clear();
    return 0;
}

int COrv3DViewer::addDrawLayer(ref_ptr<ZimReferenced> layer)
{
    if (layer && std::find(drawLayers.begin(), drawLayers.end(), layer) == drawLayers.end())
        drawLayers.push_back(layer);
    return int(drawLayers.size());
}

int COrv3DViewer::removeDrawLayer(ref_ptr<ZimReferenced> layer)
{
    const auto it = std::find(drawLayers.begin(), drawLayers.end(), layer);
    if (it != drawLayers.end()) drawLayers.erase(it);
    return int(drawLayers.size());
}

int COrv3DViewer::clearDrawLayers()
{
    drawLayers.clear();
    return 0;
}

ref_ptr<IZimDisplay> COrv3DViewer::getDisplay() { return display; }

// ---- camera ------------------------------------------------------------------------------------

bool COrv3DViewer::awakeMeshLists(ref_ptr<MeshArray>& meshes, ref_ptr<MeshArray>& backup) const
{
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!mm || !mm->isProjectOpen()) return false;
    mm->getMeshArray(meshes);
    mm->getBackupMeshArray(backup);
    return true;
}

int COrv3DViewer::viewAllMeshes()
{
    ref_ptr<MeshArray> meshes;
    ref_ptr<MeshArray> backup;
    if (!trackBall || !awakeMeshLists(meshes, backup)) return -1;
    if (!meshes && !backup) return -1;
    trackBall->fitToBox(meshesBox(meshes, backup), true);
    draw();
    return 0;
}

Enve3d COrv3DViewer::awakeMeshesBox() const
{
    ref_ptr<MeshArray> meshes;
    ref_ptr<MeshArray> backup;
    return awakeMeshLists(meshes, backup) ? meshesBox(meshes, backup) : Enve3d();
}

void COrv3DViewer::setClipRange(double nearDistance, double farDistance)
{
    if (!trackBall) return;
    if (nearDistance < trackBall->getFarDistance()) {
        trackBall->setNearDistance(nearDistance);
        trackBall->setFarDistance(farDistance);
    } else {
        trackBall->setFarDistance(farDistance);
        trackBall->setNearDistance(nearDistance);
    }
}

int COrv3DViewer::setCamera(const ViewCamera& camera)
{
    if (!trackBall || !isUsableCamera(camera)) return -1;
    if (trackBall->setLookAt(camera.eye, camera.center, camera.up) != 0) return -1;
    homePending = false;
    baseFov = float(camera.fov);
    zoomFactor = float(camera.zoom);
    overlayOpacity = float(camera.opacity);
    trackBall->setFieldOfView(double(baseFov / zoomFactor));
    // The stored camera may stand anywhere: near and far take in the meshes from there.
    double nearDistance = 0.0, farDistance = 0.0;
    if (clipRangeForBox(camera.eye, awakeMeshesBox(), nearDistance, farDistance))
        setClipRange(nearDistance, farDistance);
    drawScene(false);
    return 0;
}

int COrv3DViewer::imageIndexAt(int x, int y)
{
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!mm || !mm->isProjectOpen() || !trackBall) return -1;
    if (x < 0 || y < 0 || x >= width() || y >= height()) return -1;
    // The line of sight through the pixel's centre, from the near to the far plane, with the
    // angle the scene is drawn with.
    applyFieldOfView();
    const XPnt3d from = trackBall->unproject(x + 0.5, y + 0.5, 0.0);
    const XPnt3d to = trackBall->unproject(x + 0.5, y + 0.5, 1.0);
    // The meshes as the scene draws them: one per image, in image order, sleeping ones not at all.
    std::vector<ref_ptr<IZimMesh>> meshes(std::size_t(std::max(mm->sceneItemCount(), 0)));
    for (int i = 0; i < int(meshes.size()); ++i) {
        ref_ptr<IZimMesh> mesh;
        if (!mm->isMeshAsleepById(i) && mm->getMeshAt(mesh, i) == 0) meshes[std::size_t(i)] = mesh;
    }
    return firstMeshOnSegment(from, to, meshes, useClipPlanes ? &clipPlaneList : nullptr);
}

bool COrv3DViewer::applyHomeView()
{
    if (!trackBall) return false;
    const Enve3d box = awakeMeshesBox();
    if (box.isEmpty()) return false;
    const XPnt3d center = box.center();
    const double distance = std::max(trackBall->getEyePoint().dist(trackBall->getCenterPoint()), 1.0);
    if (trackBall->setLookAt(center - homeViewDirection() * distance, center, XPnt3d(0, 0, 1)) != 0) return false;
    trackBall->setFieldOfView(double(baseFov / zoomFactor));
    trackBall->fitToBox(box, true);
    return true;
}

bool COrv3DViewer::cameraUntouched()
{
    const ViewCamera now = getCamera();
    return now.eye == startCamera.eye && now.center == startCamera.center && now.up == startCamera.up;
}

int COrv3DViewer::lookThroughCamera(const ZimPhotoCamera& camera)
{
    if (!trackBall || !camera.isValid()) return -1;
    const double fallback = std::max(trackBall->getEyePoint().dist(trackBall->getCenterPoint()), 1.0);
    const Enve3d box = awakeMeshesBox();
    const double depth = photoViewDepth(camera, box, fallback);
    XPnt3d eye, center, up;
    if (!photoCameraLookAt(camera, depth, eye, center, up)) return -1;
    if (trackBall->setLookAt(eye, center, up) != 0) return -1;
    double nearDistance = 0.0, farDistance = 0.0;
    if (clipRangeForBox(eye, box, nearDistance, farDistance)) setClipRange(nearDistance, farDistance);
    if (trackBall->setPhotoProjection(camera.fx, camera.fy, camera.cx, camera.cy, camera.width, camera.height) != 0)
        return -1;
    homePending = false;
    lookingThrough = true;
    lookCamera = camera;
    updateLookThroughFrame();
    drawScene(false);
    return 0;
}

bool COrv3DViewer::isLookingThroughPhoto() { return lookingThrough && trackBall && trackBall->hasPhotoProjection(); }

bool COrv3DViewer::updateLookThroughFrame()
{
    if (!trackBall) return false;
    // The photo lies on the image plane through the rotation centre, inside the depth range.
    const double depth = trackBall->getEyePoint().dist(trackBall->getCenterPoint());
    ImageFrame frame;
    if (!photoCameraFrame(lookCamera, depth, frame)) return false;
    imageFrame = frame;
    overlayGrid = photoOverlayGrid(lookCamera, kLookThroughGrid, depth);
    if (depth > trackBall->getFarDistance())
        trackBall->setFarDistance(std::ceil(depth));
    else if (depth < trackBall->getNearDistance())
        trackBall->setNearDistance(0.5 * depth);
    return true;
}

int COrv3DViewer::viewHome()
{
    if (!applyHomeView()) return -1;
    homePending = false;
    drawScene(false);
    return 0;
}

ZimGlobeViewState* COrv3DViewer::requestCenterPick()
{
    globeState->pickRequest = 1;
    updateCursor();
    return globeState.get();
}

void COrv3DViewer::applyStandardView(int index)
{
    if (trackBall) trackBall->setViewIndex(index);
    setModified();
    update();
}

int COrv3DViewer::stepViewAround()
{
    viewAroundIndex = nextViewAround(viewAroundIndex);
    applyStandardView(viewAroundIndex);
    return 0;
}

int COrv3DViewer::stepViewOver()
{
    viewOverIndex = nextViewOver(viewOverIndex);
    applyStandardView(viewOverIndex);
    return 0;
}

int COrv3DViewer::setStandardView(int index)
{
    applyStandardView(index);
    return 0;
}

int COrv3DViewer::drawScene(bool /*flag*/)
{
    // Without an attached context there is nothing to draw into (the widget is not shown yet).
    if (!display || display->beginDraw(0) != 0) return -1;
    // The first time there are meshes to show and nobody has placed the camera, the view opens
    // on the home view; a camera set or moved before that is left as it is.
    if (homePending && !awakeMeshesBox().isEmpty()) {
        homePending = false;
        if (cameraUntouched()) {
            applyHomeView();
            display->beginDraw(0);
        }
    }
    if (ref_ptr<IZimMM> mm = zim::getMM()) mm->onViewRedraw();
    renderScene();
    drawMagnifier();
    const ref_ptr<IZimTool> tool = currentTool();
    if (tool && !tool->isDrawSuppressed()) {
        display->beginToolDraw();
        tool->drawTool(ZimView3D);
        display->endToolDraw();
    }
    if (display->endDraw() == 1) return drawScene(false);
    return 0;
}

int COrv3DViewer::setCursorShape(int shape) { return CZimGLWidget::setCursorShape(shape); }

ImageFrame COrv3DViewer::getImageFrame() { return imageFrame; }

int COrv3DViewer::setScreenImageFrame(bool use, const ImageFrame& screenPoints)
{
    useScreenFrame = use;
    screenFrame = screenPoints;
    return 0;
}

int COrv3DViewer::setViewOptics(float fov, float zoom, float opacity)
{
    // A zero or broken angle or zoom would make every later projection NaN.
    if (!std::isfinite(fov) || !std::isfinite(zoom) || !std::isfinite(opacity) || fov <= 0.0f || zoom <= 0.0f)
        return -1;
    // New optics end looking through a photo, whose projection has an angle of its own.
    if (lookingThrough && trackBall && (fov != baseFov || zoom != zoomFactor)) {
        trackBall->clearPhotoProjection();
        lookingThrough = false;
        overlayGrid.clear();
    }
    if (fov != baseFov && zoom == zoomFactor && opacity == overlayOpacity && trackBall) {
        const XPnt3d eye = trackBall->getEyePoint();
        const XPnt3d p = trackBall->screenPointToWorld(width() / 2, height() / 2);
        const double d = eye.dist(p);
        const XPnt3d offset = fovKeepSizeOffset(eye, trackBall->getCenterPoint(), d, baseFov / zoomFactor, fov / zoom);
        if (offset != XPnt3d(0, 0, 0)) trackBall->translateBy(offset);
    }
    baseFov = fov;
    zoomFactor = zoom;
    overlayOpacity = opacity;
    drawScene(false);
    return 0;
}

int COrv3DViewer::updateImageFrame()
{
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<IZimImage> image;
    if (!mm || mm->getCurrentImage(image) != 0 || !image || !trackBall) return 1;
    if (isLookingThroughPhoto()) return updateLookThroughFrame() ? 0 : 1;
    const XPnt3d eye = trackBall->getEyePoint();
    ImageFrame frame;
    if (!computePhotoFrame(eye, trackBall->getCenterPoint(), trackBall->getUpVector(), baseFov, image->imageWidth(),
                           image->imageHeight(), frame))
        return 1;
    if (useScreenFrame && QGLContext::currentContext()) {
        GLint viewport[4];
        GLdouble modelView[16];
        GLdouble projection[16];
        glGetIntegerv(GL_VIEWPORT, viewport);
        glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        for (int i : {1, 3, 2, 0}) screenFrame[i].z = trackBall->projectPoint(frame[i]).z;
        for (int i : {1, 3, 2, 0}) {
            GLdouble x = 0, y = 0, z = 0;
            if (gluUnProject(screenFrame[i].x, screenFrame[i].y, screenFrame[i].z, modelView, projection, viewport, &x,
                             &y, &z) == GL_TRUE &&
                XPnt3d(x, y, z).isValid())
                frame[i] = XPnt3d(x, y, z);
        }
    }
    imageFrame = frame;
    // Distance of the photo plane from the eye (that of its centre as computed, before any
    // screen corners replaced the frame).
    const double d = kPhotoHalfExtent / std::tan(double(baseFov) * 3.14159265358979323846 / 360.0);
    if (d > trackBall->getFarDistance())
        trackBall->setFarDistance(std::ceil(d));
    else if (d < trackBall->getNearDistance())
        trackBall->setNearDistance(std::floor(d));
    return 0;
}

int COrv3DViewer::setShowImageOverlay(bool show)
{
    showImageOverlay = show;
    drawScene(false);
    return 0;
}

bool COrv3DViewer::isShowImageOverlay() { return showImageOverlay; }

int COrv3DViewer::setOverlayOpacity(float alpha, bool redraw)
{
    if (!(alpha >= 0.0f && alpha <= 1.0f)) return -1;
    overlayOpacity = alpha;
    if (redraw) drawScene(false);
    return 0;
}

float COrv3DViewer::getOverlayOpacity() { return overlayOpacity; }

int COrv3DViewer::setShowFrameBorder(bool show)
{
    showFrameBorder = show;
    return 0;
}

int COrv3DViewer::viewWidth() { return width(); }
int COrv3DViewer::viewHeight() { return height(); }

bool COrv3DViewer::generateBackupInformation(const QString& path, QVector<ref_ptr<TqTriangleIndex>>& triangles,
                                             QMap<int, ref_ptr<IZimImage>>& textures, SeamEdgeMap& seams)
{
    BackupInformation backup(backupView());
    // The view is drawn again once the backup is done; frames asked for on the way (the
    // progress display going up over the view) would only repeat the same picture.
    const QScopedValueRollback<bool> busy(backupRunning, true);
    const bool ok = backup.generate(path, triangles, textures, seams);
    backupError = backup.error();
    return ok;
}

int COrv3DViewer::setShowMeshMarks(bool show)
{
    showMeshMarks = show;
    drawScene(false);
    return 0;
}

bool COrv3DViewer::isShowMeshMarks() { return showMeshMarks; }

int COrv3DViewer::setUserFlag1(bool on)
{
    userFlag1 = on;
    drawScene(false);
    return 0;
}

bool COrv3DViewer::getUserFlag1() { return userFlag1; }
bool COrv3DViewer::getUserFlag2() { return userFlag2; }
int COrv3DViewer::setUserFlag2(bool on)
{
    userFlag2 = on;
    return 0;
}
bool COrv3DViewer::getUserFlag3() { return userFlag3; }
int COrv3DViewer::setUserFlag3(bool on)
{
    userFlag3 = on;
    return 0;
}
bool COrv3DViewer::getUserFlag4() { return userFlag4; }
int COrv3DViewer::setUserFlag4(bool on)
{
    userFlag4 = on;
    return 0;
}
int COrv3DViewer::getUserValue() { return userValue; }
int COrv3DViewer::setUserValue(int value)
{
    userValue = value;
    return 0;
}
bool COrv3DViewer::getUserFlag5() { return userFlag5; }
int COrv3DViewer::setUserFlag5(bool on)
{
    userFlag5 = on;
    return 0;
}

QPoint COrv3DViewer::getCursorPos() { return QPoint(cursorX, cursorY); }
XPnt3d COrv3DViewer::getCursorPoint() { return cursorPoint; }

// ---- plug-in menu ------------------------------------------------------------------------------

int COrv3DViewer::buildPluginMenu(ref_ptr<ZimReferenced> owner, ref_ptr<IOrvCommonItem> group)
{
    if (!owner || !group) return -1;
    QVector<ref_ptr<IOrvActionItem>> items;
    group->getActionItems(items);
    appendItemMenu(contextMenu, items, {this, SLOT(triggeredPlugin(bool)), &pluginCallbacks, MenuSeparators::Always});
    return 0;
}

void COrv3DViewer::triggeredPlugin(bool on) { runPluginCallback(sender(), pluginCallbacks, on); }

int COrv3DViewer::setKeyAction(int key, OrvKeyCallback action)
{
    keyActions[key] = action;
    return 0;
}

int COrv3DViewer::setCtrlKeyAction(int key, OrvKeyCallback action)
{
    ctrlKeyActions[key] = action;
    return 0;
}

int COrv3DViewer::setPickCallback(OrvPickCallback callback)
{
    pickCallback = callback;
    return 0;
}

bool COrv3DViewer::isShowMagnifier() { return showMagnifier; }
int COrv3DViewer::setShowMagnifier(bool show)
{
    showMagnifier = show;
    return 0;
}
int COrv3DViewer::getMarkMode() { return markMode; }
int COrv3DViewer::setMarkMode(int mode)
{
    markMode = mode;
    return 0;
}
double COrv3DViewer::getFrameScale() { return kFrameScale; }

// ---- photo coordinates -------------------------------------------------------------------------

XPnt2d COrv3DViewer::imagePointToUV(double x, double y)
{
    if (!trackBall) {
        XPnt2d none;
        none.setInvalid();
        return none;
    }
    const XPnt3d a = trackBall->projectPoint(imageFrame[1]);
    const XPnt3d b = trackBall->projectPoint(imageFrame[3]);
    const XPnt3d q = trackBall->projectPoint(imageFrame[2]);
    return windowPointToUV(XPnt2d(a.x, a.y), XPnt2d(b.x, b.y), XPnt2d(q.x, q.y), x, y);
}

XPnt3d COrv3DViewer::uvToFramePoint(const double uv[2], bool scaled)
{
    if (!uv) return imageFrame[1];
    return framePointAt(imageFrame, uv[0], uv[1], scaled ? getFrameScale() : 1.0);
}

double COrv3DViewer::screenPixelsPerImagePixel(int level)
{
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    ref_ptr<IZimImageRecord> record;
    if (!trackBall || !mm || mm->getState(state) != 0 || !state || state->getImageStore(store) != 0 || !store ||
        store->getImageRecord(record, mm->getCurMeshIndex()) != 0 || !record)
        return 0.0;
    const int n = record->imageSizeAt(level).width();
    if (n <= 0) return 0.0;
    const XPnt3d pa = trackBall->projectPoint(imageFrame[1]);
    const XPnt3d pb = trackBall->projectPoint(imageFrame[3]);
    const double d = std::hypot(pb.x - pa.x, pb.y - pa.y) / n;
    return std::isfinite(d) ? d : 0.0;
}

double COrv3DViewer::frameScreenRatio()
{
    if (!trackBall) return 0.0;
    const double world = imageFrame[1].dist(imageFrame[3]);
    if (!(world > 0.0)) return 0.0;
    const double ratio = trackBall->projectPoint(imageFrame[1]).dist(trackBall->projectPoint(imageFrame[3])) / world;
    return std::isfinite(ratio) ? ratio : 0.0;
}

bool COrv3DViewer::isUseClipPlanes() { return useClipPlanes; }
int COrv3DViewer::setUseClipPlanes(bool use)
{
    useClipPlanes = use;
    return 0;
}
QVector<ClipPlaneRecord>* COrv3DViewer::clipPlanes() { return &clipPlaneList; }

ViewCamera COrv3DViewer::getCamera()
{
    ViewCamera camera;
    if (trackBall) {
        camera.eye = trackBall->getEyePoint();
        camera.center = trackBall->getCenterPoint();
        camera.up = trackBall->getUpVector();
    }
    camera.fov = baseFov;
    camera.opacity = overlayOpacity;
    camera.zoom = zoomFactor;
    return camera;
}

int COrv3DViewer::refreshImageTexture()
{
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<IZimImage> image;
    if (!mm || mm->getCurrentImage(image) != 0 || !image) return -1;
    if (image != cachedImage) {
        // The texture belongs to this view's context: without it nothing is made now, and the
        // next call tries again.
        if (!display || display->makeDisplayCurrent() != 0) return 0;
        if (imageTexture != 0 && glIsTexture(imageTexture)) glDeleteTextures(1, &imageTexture);
        const long texture = initTexture(image.get(), Enve2d(), false);
        imageTexture = texture > 0 ? unsigned(texture) : 0u;
        // Only an upload that worked is kept: a failed one is tried again on the next call.
        cachedImage = imageTexture != 0 ? image : ref_ptr<IZimImage>();
    }
    return int(imageTexture);
}

void COrv3DViewer::resetDisplay()
{
    CZimGLWidget::resetDisplay();
    if (!display) return;
    display->makeDisplayCurrent();
    display->resizeDisplay(width(), height());
    drawScene(false);
}

// ---- rendering ---------------------------------------------------------------------------------

void COrv3DViewer::applyFieldOfView()
{
    if (!trackBall) return;
    if (lookingThrough) {
        if (trackBall->hasPhotoProjection()) return;
        // A camera move left the photo's projection for the angle that keeps its scale.
        lookingThrough = false;
        overlayGrid.clear();
        const double fov = trackBall->getFieldOfView();
        if (fov > 0.0 && std::isfinite(fov)) zoomFactor = float(double(baseFov) / fov);
    }
    trackBall->setFieldOfView(double(baseFov / zoomFactor));
}

void COrv3DViewer::drawMeshItems(const ref_ptr<IZimMM>& mm)
{
    applyFieldOfView();
    scene3d::drawMeshes(sceneView(), *mm);
}

SceneView COrv3DViewer::sceneView()
{
    SceneView view;
    view.trackBall = trackBall;
    view.display = display;
    view.symbol = symbol;
    view.fieldOfView = double(baseFov / zoomFactor);
    view.clipPlanes = useClipPlanes ? &clipPlaneList : nullptr;
    view.imageTexture = imageTexture;
    view.imageFrame = imageFrame;
    view.overlayOpacity = overlayOpacity;
    view.showFrameBorder = showFrameBorder;
    if (isLookingThroughPhoto() && !overlayGrid.empty()) {
        view.overlayGrid = &overlayGrid;
        view.gridSize = kLookThroughGrid;
    }
    view.drawLayers = &drawLayers;
    view.markMode = markMode;
    view.frameScreenRatio = markMode == 1 ? frameScreenRatio() : 0.0;
    view.redMark = redMark;
    view.greenMark = greenMark;
    view.blueMark = blueMark;
    return view;
}

bool COrv3DViewer::prepareBackupDepth()
{
    releaseBackupDepth();
    if (!display || !trackBall || !isValid()) return false;
    makeCurrent();
    if (display->makeDisplayCurrent() != 0 || !QOpenGLContext::currentContext()) return false;
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<IZimTqState> state;
    if (!mm || mm->getState(state) != 0 || !state || !state->hasOpenProject()) return false;
    mm->onViewRedraw();
    applyFieldOfView();
    return backupDepth.render(QSize(trackBall->viewportWidth(), trackBall->viewportHeight()), [&]() {
        trackBall->applyView();
        drawMeshItems(mm);
    });
}

void COrv3DViewer::releaseBackupDepth()
{
    if (!backupDepth.isBound()) return;
    makeCurrent();
    backupDepth.release();
}

QString COrv3DViewer::lastBackupError() { return backupError; }

void COrv3DViewer::renderScene()
{
    ref_ptr<IOrvViewerMan> vm = getVM();
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<IZimTqState> state;
    if (!vm || !mm || mm->getState(state) != 0 || !state || !state->hasOpenProject() || !trackBall) return;
    drawMeshItems(mm);
    if (showImageOverlay && display) {
        // The photo's texture and frame follow the current image before they are drawn.
        refreshImageTexture();
        updateImageFrame();
    }
    const SceneView view = sceneView();
    if (showImageOverlay && display) scene3d::drawPhotoOverlay(view);
    scene3d::drawLayers(view, *vm);
    const int meshIndex = mm->getCurMeshIndex();
    if (showMeshMarks && meshIndex != -1) scene3d::drawMeshMarks(view, *mm, meshIndex);
    scene3d::drawColourMarks(view);
    scene3d::drawScreenPath(view, *mm);
}

void COrv3DViewer::drawMagnifier()
{
    if (!showMagnifier || cursorX == -99999) return;
    const int w = width();
    const int h = height();
    const int x = cursorX;
    const int y = cursorY;
    const double f = magnification;
    glViewport(int(x - x * f), int(y - y * f), int(w * f), int(h * f));
    glEnable(GL_SCISSOR_TEST);
    glScissor(x - 100, y - 100, 200, 200);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderScene();
    glDisable(GL_SCISSOR_TEST);
    scene3d::drawMagnifierFrame(x, y, w, h);
}

// ---- input -------------------------------------------------------------------------------------

bool COrv3DViewer::pickPending() const { return globeState && globeState->pickRequest != 0; }

QPoint COrv3DViewer::glPos(const QPoint& widgetPos) const { return QPoint(widgetPos.x(), height() - widgetPos.y()); }

QPoint COrv3DViewer::cursorGlPos() const { return glPos(mapFromGlobal(QCursor::pos())); }

void COrv3DViewer::updateCursor()
{
    if (!trackBall) return;
    setCursor(cursorForDrag(pickPending(), trackBall->dragMode()));
}

void COrv3DViewer::mousePressEvent(QMouseEvent* event)
{
    makeCurrent();
    const QPoint p = glPos(event->pos());
    lastPos = p;
    const ZimKey flags = singleModifier(true, true);
    carryOut(mouse.press(event->button(), p, flags, pickPending()), p, flags, event->globalPos());
}

void COrv3DViewer::mouseMoveEvent(QMouseEvent* event)
{
    if (!getVM() || !display || !trackBall) return;
    display->makeDisplayCurrent();
    const QPoint p = glPos(event->pos());
    cursorX = p.x();
    cursorY = p.y();
    const ZimKey flags = getQtFlag(event);
    XPnt3d picked;
    cursorPoint = trackBall->pickPoint(p.x(), p.y(), picked) ? picked : trackBall->screenPointToWorld(p.x(), p.y());
    for (IOrvMouseListener* listener : QSet<IOrvMouseListener*>(mouseListeners))
        listener->onCursorPoint(cursorPoint.x, cursorPoint.y, cursorPoint.z);
    lastPos = p;
    if (pickPending()) updateCursor();
    carryOut(mouse.move(event->buttons(), p, flags, cameraDragging()), p, flags, event->globalPos());
    if (showMagnifier) drawScene(false);
}

void COrv3DViewer::mouseReleaseEvent(QMouseEvent* event)
{
    if (!getVM()) return;
    makeCurrent();
    const QPoint p = glPos(event->pos());
    lastPos = p;
    carryOut(mouse.release(event->button(), p, pickPending(), cameraDragging()), p, singleModifier(false, true),
             event->globalPos());
}

void COrv3DViewer::mouseDoubleClickEvent(QMouseEvent* event)
{
    makeCurrent();
    const QPoint p = glPos(event->pos());
    carryOut(mouse.doubleClick(pickPending()), p, singleModifier(false, false), event->globalPos());
}

void COrv3DViewer::pickImageAt(const QPoint& p)
{
    if (pickCallback) {
        const long long packed = (static_cast<long long>(static_cast<quint32>(p.y())) << 32) |
                                 static_cast<long long>(static_cast<quint32>(p.x()));
        int out0 = 0, out1 = 0, out2 = 0;
        const int id = pickCallback(packed, &out0, &out1, &out2);
        ref_ptr<IOrvViewerMan> vm = getVM();
        if (vm) {
            // Image 0 is an image like any other; only a negative result means none.
            if (id >= 0) {
                if (IOrvImageViewer* viewer = vm->getImageViewer()) {
                    const ImageId imageId{id, 2};
                    viewer->setImageId(&imageId);
                }
                if (IOrvImageThumbViewer* thumbs = vm->getThumbViewer()) {
                    if (IOrvImageTree* tree = thumbs->getImageTree()) tree->selectImageFolder(id);
                    thumbs->clearHighlight();
                    thumbs->deselectAllThumbnails();
                    thumbs->setTileState(id, 4);
                }
            }
            vm->update3DViewer();
            vm->updateImageViewer();
        }
    }
    drawScene(false);
}

void COrv3DViewer::wheelEvent(QWheelEvent* event)
{
    makeCurrent();
    const ZimKey flags = getQtFlag(event);
    const QPoint p = glPos(event->position().toPoint());
    // 120 a notch, on whichever axis the wheel reports it (horizontal with Alt held on X11).
    wheelDelta = wheelNotchDelta(event->angleDelta());
    carryOut(mouse.wheel(flags), p, flags, event->globalPosition().toPoint());
}

void COrv3DViewer::keyPressEvent(QKeyEvent* event)
{
    makeCurrent();
    const ZimKey flags = getKeyFlag(event);
    const int key = event->key();
    const QPoint p = cursorGlPos();
    const auto call = [](const std::map<int, OrvKeyCallback>& actions, int k) {
        const auto it = actions.find(k);
        if (it != actions.end() && it->second) it->second();
    };
    const auto moveCursor = [](int dx, int dy) { QCursor::setPos(QCursor::pos() + QPoint(dx, dy)); };
    switch (key) {
        case Qt::Key_Left:
        case Qt::Key_A:
            moveCursor(-1, 0);
            break;
        case Qt::Key_Right:
        case Qt::Key_D:
            moveCursor(1, 0);
            break;
        case Qt::Key_Up:
        case Qt::Key_W:
            moveCursor(0, -1);
            break;
        case Qt::Key_Down:
        case Qt::Key_X:
            moveCursor(0, 1);
            break;
        case Qt::Key_S:
            if (trackBall) trackBall->setCenterAt(p.x(), p.y());
            if (ref_ptr<IOrvViewerMan> vm = getVM()) vm->setViewerCursor(OrvViewer3D, 1);
            if (trackBall) trackBall->beginDrag(ZimDragOrbit, p.x(), p.y(), 0);
            drawScene(false);
            break;
        case Qt::Key_Delete:
        case Qt::Key_Space:
        case Qt::Key_1:
        case Qt::Key_3:
        case Qt::Key_B:
        case Qt::Key_C:
        case Qt::Key_H:
        case Qt::Key_N:
        case Qt::Key_O:
        case Qt::Key_P:
        case Qt::Key_V:
            call(keyActions, key);
            break;
        case Qt::Key_2:
            call(has(flags, ZimKeyCtrl) ? ctrlKeyActions : keyActions, key);
            break;
        case Qt::Key_R:
        case Qt::Key_Z:
            if (has(flags, ZimKeyCtrl)) call(ctrlKeyActions, key);
            break;
        case Qt::Key_Shift:
            break;
        default:
            event->ignore();
            break;
    }
    if (!pickPending()) {
        if (!event->isAutoRepeat())
            callTool(ZimView3D, [&](IZimTool* t) { t->onKeyPress(ZimView3D, key, event->count(), flags); });
    } else {
        updateCursor();
    }
}

void COrv3DViewer::keyReleaseEvent(QKeyEvent* event)
{
    makeCurrent();
    const ZimKey flags = getKeyFlag(event);
    const QPoint p = cursorGlPos();
    lastPos = p;
    if (event->key() == Qt::Key_S && !event->isAutoRepeat()) {
        if (ref_ptr<IOrvViewerMan> vm = getVM()) vm->setViewerCursor(OrvViewer3D, 0);
        if (trackBall) trackBall->endDrag(p.x(), p.y(), 0);
        drawScene(false);
    }
    if (!pickPending() && !event->isAutoRepeat())
        callTool(ZimView3D, [&](IZimTool* t) { t->onKeyRelease(ZimView3D, event->key(), event->count(), flags); });
}

void COrv3DViewer::resizeEvent(QResizeEvent* /*event*/) { resetDisplay(); }

void COrv3DViewer::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    carryOut(mouse.menuRequest(event->reason() == QContextMenuEvent::Mouse), lastPos, ZimKeyNone, event->globalPos());
}

bool COrv3DViewer::cameraDragging() const { return trackBall && trackBall->dragMode() != ZimDragNone; }

void COrv3DViewer::carryOut(const ViewMouse3D::Action& a, const QPoint& p, ZimKey flags, const QPoint& globalPos)
{
    using Tool = ViewMouse3D::ToolCall;
    if (a.modified) setModified();
    if (a.pickCenter) {
        if (trackBall) trackBall->setCenterAt(p.x(), p.y());
        drawScene(false);
        globeState->pickRequest = 0;
    }
    if (a.beginDrag != ZimDragNone && trackBall) trackBall->beginDrag(a.beginDrag, p.x(), p.y(), 0);
    if (a.dragTo && trackBall) trackBall->dragTo(p.x(), p.y(), 0);
    if (a.endDrag && trackBall) trackBall->endDrag(a.endAt.x(), a.endAt.y(), 0);
    if (a.zoom && trackBall) trackBall->zoomAt(float(wheelDelta) / 1200.0f, p.x(), p.y());
    int toolResult = ZimToolNotHandled;
    bool hadTool = false;
    if (a.tool != Tool::None) {
        hadTool = callTool(ZimView3D, [&](IZimTool* t) {
            switch (a.tool) {
                case Tool::Press:
                    t->onMousePress(ZimView3D, flags, p.x(), p.y());
                    break;
                case Tool::Move:
                    t->onMouseMove(ZimView3D, flags, p.x(), p.y());
                    break;
                case Tool::Release:
                    t->onMouseRelease(ZimView3D, flags, p.x(), p.y());
                    break;
                case Tool::RightClick:
                    t->onRightClick(ZimView3D, flags, p.x(), p.y());
                    break;
                case Tool::Wheel:
                    t->onWheel(ZimView3D, flags, short(wheelDelta), p.x(), p.y());
                    break;
                case Tool::DoubleClick:
                    toolResult = t->onMouseDoubleClick(ZimView3D, flags, p.x(), p.y());
                    break;
                case Tool::None:
                    break;
            }
        });
    }
    if (a.redraw || (a.redrawAfterTool && hadTool)) drawScene(false);
    if (a.pickImage && toolResult == ZimToolNotHandled) pickImageAt(p);
    if (a.openMenu) popupContextMenu(contextMenu, globalPos);
    if (a.updateCursor) updateCursor();
}

void COrv3DViewer::paintGL()
{
    if (display && !backupRunning) drawScene(false);
}

}  // namespace orvUI
