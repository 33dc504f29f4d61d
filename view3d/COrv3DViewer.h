// The OpenGL 3D viewer: the project's meshes with the photo overlay, draw layers, marks and
// markers; camera drags, wheel zoom and standard keys; everything else goes to the current
// interactive tool. The arithmetic lives in ViewMath.h.
#pragma once

#include <QMap>
#include <QPoint>
#include <QSet>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "BackupDepthPass.h"
#include "BackupInformation.h"
#include "CZimGLWidget.h"
#include "IOrv3DViewer.h"
#include "OrvItemMenu.h"
#include "OrvViewState.h"
#include "SceneRenderer.h"
#include "ViewInput.h"
#include "ZimMatrix.h"

class QMenu;

Q_DECLARE_INTERFACE(orvUI::IOrv3DViewer, "IOrv3DViewer")

namespace orvUI {

class COrv3DViewer : public CZimGLWidget, public IOrv3DViewer {
    Q_OBJECT
    Q_INTERFACES(orvUI::IOrv3DViewer)

public:
    explicit COrv3DViewer(QWidget* parent = nullptr);
    ~COrv3DViewer() override;

    // ---- IOrv3DViewer, in slot order ----
    int addMouseListener(IOrvMouseListener* listener) override;
    int removeMouseListener(IOrvMouseListener* listener) override;
    int clearMouseListeners() override;
    int addDrawLayer(ref_ptr<ZimReferenced> layer) override;
    int removeDrawLayer(ref_ptr<ZimReferenced> layer) override;
    int clearDrawLayers() override;
    ref_ptr<IZimDisplay> getDisplay() override;
    int viewAllMeshes() override;
    ZimGlobeViewState* requestCenterPick() override;
    int stepViewAround() override;
    int stepViewOver() override;
    int setStandardView(int index) override;
    int drawScene(bool flag) override;
    int setCursorShape(int shape) override;
    ImageFrame getImageFrame() override;
    int setScreenImageFrame(bool use, const ImageFrame& screenPoints) override;
    int setViewOptics(float fov, float zoom, float opacity) override;
    int updateImageFrame() override;
    int setShowImageOverlay(bool show) override;
    bool isShowImageOverlay() override;
    int setOverlayOpacity(float alpha, bool redraw) override;
    float getOverlayOpacity() override;
    int setShowFrameBorder(bool show) override;
    int viewWidth() override;
    int viewHeight() override;
    bool generateBackupInformation(const QString& path, QVector<ref_ptr<TqTriangleIndex>>& triangles,
                                   QMap<int, ref_ptr<IZimImage>>& textures, SeamEdgeMap& seams) override;
    int setShowMeshMarks(bool show) override;
    bool isShowMeshMarks() override;
    int setUserFlag1(bool on) override;
    bool getUserFlag1() override;
    bool getUserFlag2() override;
    int setUserFlag2(bool on) override;
    bool getUserFlag3() override;
    int setUserFlag3(bool on) override;
    bool getUserFlag4() override;
    int setUserFlag4(bool on) override;
    int getUserValue() override;
    int setUserValue(int value) override;
    bool getUserFlag5() override;
    int setUserFlag5(bool on) override;
    QPoint getCursorPos() override;
    XPnt3d getCursorPoint() override;
    int buildPluginMenu(ref_ptr<ZimReferenced> owner, ref_ptr<IOrvCommonItem> group) override;
    int setKeyAction(int key, OrvKeyCallback action) override;
    int setCtrlKeyAction(int key, OrvKeyCallback action) override;
    int setPickCallback(OrvPickCallback callback) override;
    bool isShowMagnifier() override;
    int setShowMagnifier(bool show) override;
    int getMarkMode() override;
    int setMarkMode(int mode) override;
    double getFrameScale() override;
    XPnt2d imagePointToUV(double x, double y) override;
    XPnt3d uvToFramePoint(const double uv[2], bool scaled) override;
    double screenPixelsPerImagePixel(int level) override;
    double frameScreenRatio() override;
    bool isUseClipPlanes() override;
    int setUseClipPlanes(bool use) override;
    QVector<ClipPlaneRecord>* clipPlanes() override;
    ViewCamera getCamera() override;
    int refreshImageTexture() override;
    QString lastBackupError() override;
    int setCamera(const ViewCamera& camera) override;
    int imageIndexAt(int x, int y) override;
    int viewHome() override;
    int lookThroughCamera(const ZimPhotoCamera& camera) override;
    bool isLookingThroughPhoto() override;

    // ---- CZimGLWidget ----
    void resetDisplay() override;
    virtual void updateCursor();

    // The screen-to-texture affine solve used by the painting code.
    bool computeScreenToTexture(const XPnt2f* source, const XPnt2f* target, zim::matrix<float>& out);
    // The backup's triangle selection in this viewer's context (made current by the caller),
    // with the widget's size.
    bool selectVisibleTriangles(ref_ptr<IZimTrackBall> ball, bool wholeTriangles, ref_ptr<MeshArray> meshes,
                                Enve2d region, ref_ptr<ByteArrayArray>& flags, IZimProgress* progress,
                                QVector<ref_ptr<TqTriangleIndex>>& triangles, QMap<int, ref_ptr<IZimImage>>& textures,
                                SeamEdgeMap& seams);
    // What the backup step needs of this viewer.
    BackupView backupView();
    // For measuring: later backups add the time of their phases to *timings (null: none) and
    // paint on this many threads (0: as many as OpenMP gives).
    void setBackupTuning(BackupTimings* timings, int paintThreads);
    // Closes gaps of the backup picture, one pixel a pass.
    void fillImageGaps(ref_ptr<IZimImage> image, int passes);

    // The context menu (filled by buildPluginMenu).
    QMenu* pluginMenu() const { return contextMenu; }

public slots:
    void triggeredPlugin(bool on);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintGL() override;

private:
    void renderScene();
    void drawMeshItems(const ref_ptr<IZimMM>& mm);
    // Makes the context current and runs the backup's depth pass over the meshes as the view
    // shows them; its framebuffer stays bound until releaseBackupDepth.
    bool prepareBackupDepth();
    void releaseBackupDepth();
    // The view's state as the drawing steps read it.
    SceneView sceneView();
    void drawMagnifier();
    void applyStandardView(int index);
    // Looks down on the awake meshes from the south and fits them; false (nothing changed)
    // without meshes.
    bool applyHomeView();
    // Whether eye, centre and up are still those the viewer started with.
    bool cameraUntouched();
    // The kernel's two lists of awake meshes (bare and textured); false without a project.
    bool awakeMeshLists(ref_ptr<MeshArray>& meshes, ref_ptr<MeshArray>& backup) const;
    // The box of every awake mesh; empty without a project or meshes.
    Enve3d awakeMeshesBox() const;
    // Sets the trackball's near and far distances, in whichever order keeps near below far.
    void setClipRange(double nearDistance, double farDistance);
    bool pickPending() const;
    // Gives the trackball the field of view the scene is drawn with (base angle over the zoom),
    // except while it looks through a photo. Once a camera move has left that, the zoom is set to
    // keep the angle the trackball left it with, so the view does not jump.
    void applyFieldOfView();
    // The photo's frame (and overlay grid) on the image plane of the camera looked through.
    bool updateLookThroughFrame();
    // Whether the camera is in a drag.
    bool cameraDragging() const;
    // Does what the mouse state machine decided for an event at p (GL-oriented) with the given
    // modifier flags; globalPos places the context menu.
    void carryOut(const ViewMouse3D::Action& action, const QPoint& p, ZimKey flags, const QPoint& globalPos);
    // Hands the image under p to the pick callback, shows it in the other views, and redraws.
    void pickImageAt(const QPoint& p);
    QPoint glPos(const QPoint& widgetPos) const;
    QPoint cursorGlPos() const;

    bool showMeshMarks = true;
    bool userFlag1 = false;
    ref_ptr<IZimSymbol> symbol;
    ref_ptr<ZimGlobeViewState> globeState;
    bool userFlag2 = false;
    bool userFlag3 = false;
    bool userFlag4 = true;
    std::int32_t userValue = 0;
    bool userFlag5 = false;
    bool showImageOverlay = false;
    unsigned imageTexture = 0;
    ref_ptr<IZimImage> cachedImage;
    float overlayOpacity = 0.6f;
    float zoomFactor = 1.0f;
    float baseFov = 27.0f;
    ImageFrame imageFrame{};
    bool showFrameBorder = true;
    bool useScreenFrame = false;
    ImageFrame screenFrame{};
    QPoint lastPos{0, 0};
    std::int32_t cursorX = -99999;
    std::int32_t cursorY = -99999;
    XPnt3d cursorPoint;
    QMenu* contextMenu = nullptr;
    ViewMouse3D mouse;
    int wheelDelta = 0;  // of the wheel event being carried out
    // The camera the viewer starts with, and whether the first view with meshes is still to be
    // checked for one nobody has set (which then becomes the home view).
    ViewCamera startCamera;
    bool homePending = true;
    QSet<IOrvMouseListener*> mouseListeners;
    std::vector<ref_ptr<ZimReferenced>> drawLayers;
    std::map<int, OrvKeyCallback> keyActions;
    std::map<int, OrvKeyCallback> ctrlKeyActions;
    PluginCallbacks pluginCallbacks;
    OrvPickCallback pickCallback = nullptr;
    std::int32_t viewAroundIndex = 5;
    std::int32_t viewOverIndex = 5;
    bool showMagnifier = false;
    double magnification = 5.0;
    std::int32_t markMode = 0;
    bool useClipPlanes = false;
    QVector<ClipPlaneRecord> clipPlaneList;
    QString backupError;
    BackupDepthPass backupDepth;
    bool backupRunning = false;
    // The camera looked through (valid while lookingThrough) and the overlay grid on its image
    // plane.
    bool lookingThrough = false;
    ZimPhotoCamera lookCamera;
    std::vector<XPnt3d> overlayGrid;
    BackupTimings* backupTimings = nullptr;
    int backupPaintThreads = 0;
};

}  // namespace orvUI
