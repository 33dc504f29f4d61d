// The 2D view of the current photo: a widget around its image drawer that hands mouse and key
// input to the viewer manager's current tool (view kind 1, y counted from the bottom edge), pans
// with the middle button, zooms with the wheel, draws the draw layers, rectangle layers and the
// tool's feedback over the photo, reports image coordinates and offers the plug-ins' context
// menu.
#pragma once

#include <QMap>
#include <QPoint>
#include <QString>
#include <QVector>
#include <QWidget>

#include "CNormImageDrawer.h"
#include "IOrvActionItem.h"
#include "IOrvImageViewer.h"
#include "OrvItemMenu.h"
#include "ViewInput.h"

class QMenu;

namespace orvUI {

class COrvImageViewer : public QWidget, public IOrvImageViewer {
    Q_OBJECT

public:
    explicit COrvImageViewer(QWidget* parent = nullptr);
    ~COrvImageViewer() override;

    // ---- IOrvImageViewer
    int addCoordListener(IOrvCoordListener* listener) override;
    int removeCoordListener(IOrvCoordListener* listener) override;
    int clearCoordListeners() override;
    int addDrawLayer(ref_ptr<ZimReferenced> layer) override;
    int removeDrawLayer(ref_ptr<ZimReferenced> layer) override;
    int clearDrawLayers() override;
    int setCursorShape(int shape) override;
    ImageId getImageId() override;
    bool showImageId(const ImageId* id) override;
    bool setImage(ref_ptr<IZimImage> image) override;
    bool setImageFile(QString path) override;
    bool setImageId(const ImageId* id) override;
    int reloadImage() override;
    int closeImage() override;
    XPnt3d screenToNormalised(double x, double y) override;
    XPnt3d screenToImage(double x, double y) override;
    XPnt2d getOrigin() override;
    XPnt2d normalisedToScreen(const XPnt2d& point) override;
    XPnt2d imageToScreen(const XPnt2d& point) override;
    XPnt2d flipY(const XPnt2d& point) override;
    double getScale() override;
    bool isImageId(const ImageId& id) override;
    ref_ptr<IZimDisplay> getDisplay() override;
    ref_ptr<IOrv2DSymbol> getSymbol() override;
    int fitToWindow() override;
    int redraw() override;
    int drawImagePart(QImage* image, const Enve2d& area) override;
    int drawNumberedMark(const XPnt2d& point, int number, float textSize, float lineWidth,
                         const ZimColor3f& colour) override;
    int viewWidth() override;
    int viewHeight() override;
    int acceptObjectA(ref_ptr<ZimReferenced> object) override;
    int acceptObjectB(ref_ptr<ZimReferenced> object) override;
    int acceptObjectC(ref_ptr<ZimReferenced> object) override;
    int buildContextMenu(ref_ptr<IOrvCommonItem> group) override;
    bool fillMenu(QMenu* menu, const QVector<ref_ptr<IOrvActionItem>>& items) override;
    bool addMenuAction(QMenu* menu, ref_ptr<IOrvActionItem> item) override;
    int setShowMarks(bool show) override;
    bool isShowMarks() override;
    int setShowPairs(bool show) override;
    bool isShowPairs() override;
    int setPluginFlag(int key, long long value) override;
    int setPluginCheck(int key, long long value) override;
    int setPluginOwner(long long value) override;

    // ---- rectangle layers (IOrvRectLayer objects), each held once
    virtual int addRectLayer(ref_ptr<ZimReferenced> layer);
    virtual int removeRectLayer(ref_ptr<ZimReferenced> layer);
    virtual int clearRectLayers();

    CNormImageDrawer* drawer() const { return m_drawer.get(); }
    QMenu* contextMenu() const { return m_contextMenu; }
    // The last mouse position, y counted from the bottom edge; -99999 before the first move.
    QPoint cursorPosition() const { return QPoint(m_cursorX, m_cursorY); }

signals:
    // The image coordinates under the cursor on every mouse move ((0, 0) over no image), as the
    // coordinate listeners get them.
    void coordChanged(double x, double y);

public slots:
    // Runs the callback of the context-menu action that sent the signal.
    void triggeredPlugin(bool state);

protected slots:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Where the context menu's actions report.
    ItemMenuTarget menuTarget();
    void notifyImageChanged(const ImageId& oldId, const ImageId& newId);
    int notifySelMarkCount();
    // A warning box over the window the viewer is in (the main frame): empty title, OK only.
    void warn(const QString& text);
    void drawRectLayers();

    QPoint m_lastCursor;
    ref_ptr<CNormImageDrawer> m_drawer;
    int m_cursorX = -99999;
    int m_cursorY = -99999;
    QVector<IOrvCoordListener*> m_listeners;
    QVector<ref_ptr<ZimReferenced>> m_drawLayers;
    QVector<ref_ptr<ZimReferenced>> m_rectLayers;
    QMenu* m_contextMenu = nullptr;
    long long m_pluginOwner = 0;
    QMap<int, long long> m_pluginFlags;
    QMap<int, long long> m_pluginChecks;
    PluginCallbacks m_callbacks;
    // Click or drag of the right button; a context-menu request that comes with the press (as
    // on X11) waits for the release, so that a right drag can still cancel it.
    RightButtonGesture m_rightButton;
};

}  // namespace orvUI
