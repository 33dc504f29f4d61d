#include "COrvImageViewer.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "IOrvDrawLayer.h"
#include "OrvItemAction.h"
#include "OrvKeyMapping.h"
#include "OrvLog.h"
#include "OrvNotice.h"
#include "OrvToolCall.h"
#include "OrvUIElements64t.h"
#include "ViewInput.h"

namespace orvUI {

namespace {

int colourByte(float component)
{
    if (!std::isfinite(component)) return 0;
    return std::clamp(int(std::trunc(component * 255.0f)), 0, 255);
}

}  // namespace

COrvImageViewer::COrvImageViewer(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(300, 500);
    setMouseTracking(true);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(false);
    m_contextMenu = new QMenu(this);
    m_drawer = newNormImageDrawer();
    if (m_drawer) m_drawer->setWidget(this);
}

COrvImageViewer::~COrvImageViewer()
{
    m_listeners.clear();
    m_drawLayers.clear();
    m_rectLayers.clear();
    m_callbacks.clear();
    m_drawer.reset();
}

// ---- listeners and layers ---------------------------------------------------------------------

int COrvImageViewer::addCoordListener(IOrvCoordListener* listener)
{
    if (listener) m_listeners.append(listener);
    return m_listeners.size();
}

int COrvImageViewer::removeCoordListener(IOrvCoordListener* listener)
{
    const int at = m_listeners.lastIndexOf(listener);
    if (at >= 0) m_listeners.remove(at);
    return m_listeners.size();
}

int COrvImageViewer::clearCoordListeners()
{
    m_listeners.clear();
    return 0;
}

int COrvImageViewer::addDrawLayer(ref_ptr<ZimReferenced> layer)
{
    if (layer) m_drawLayers.append(layer);
    return m_drawLayers.size();
}

int COrvImageViewer::removeDrawLayer(ref_ptr<ZimReferenced> layer)
{
    const int at = m_drawLayers.lastIndexOf(layer);
    if (at >= 0) m_drawLayers.remove(at);
    return m_drawLayers.size();
}

int COrvImageViewer::clearDrawLayers()
{
    m_drawLayers.clear();
    return 0;
}

int COrvImageViewer::addRectLayer(ref_ptr<ZimReferenced> layer)
{
    if (layer && !m_rectLayers.contains(layer)) m_rectLayers.append(layer);
    return m_rectLayers.size();
}

int COrvImageViewer::removeRectLayer(ref_ptr<ZimReferenced> layer)
{
    const int at = m_rectLayers.indexOf(layer);
    if (at >= 0) m_rectLayers.remove(at);
    return m_rectLayers.size();
}

int COrvImageViewer::clearRectLayers()
{
    m_rectLayers.clear();
    return 0;
}

void COrvImageViewer::notifyImageChanged(const ImageId& oldId, const ImageId& newId)
{
    // A copy: a listener may remove itself when told.
    const QVector<IOrvCoordListener*> listeners = m_listeners;
    for (IOrvCoordListener* listener : listeners) listener->onImageChanged(&oldId, &newId);
}

int COrvImageViewer::notifySelMarkCount()
{
    ref_ptr<IZimMM> mm = zim::getMM();
    return mm ? mm->notifySelMarkCount(zim::getSelMarkCount()) : -1;
}

void COrvImageViewer::warn(const QString& text) { noticeWarning(this, text); }

// ---- cursor -----------------------------------------------------------------------------------

int COrvImageViewer::setCursorShape(int shape)
{
    static const Qt::CursorShape shapes[] = {
        Qt::ArrowCursor,   Qt::CrossCursor,   Qt::ArrowCursor,     Qt::PointingHandCursor, Qt::ArrowCursor,
        Qt::SizeVerCursor, Qt::SizeHorCursor, Qt::SizeBDiagCursor, Qt::SizeFDiagCursor,    Qt::SizeAllCursor};
    // 4 and anything outside 0..9 leave the cursor as it is.
    if (shape >= 0 && shape <= 9 && shape != 4) setCursor(shapes[shape]);
    return 0;
}

// ---- images -----------------------------------------------------------------------------------

ImageId COrvImageViewer::getImageId() { return m_drawer->getImageId(); }

bool COrvImageViewer::showImageId(const ImageId* id) { return setImageId(id); }

bool COrvImageViewer::setImage(ref_ptr<IZimImage> image)
{
    QString error;
    if (!m_drawer->setImage(std::move(image), &error)) {
        qCDebug(orvUiLog, "COrvImageViewer::setImage: %s", qPrintable(error));
        return false;
    }
    fitToWindow();
    redraw();
    return true;
}

bool COrvImageViewer::setImageFile(QString path)
{
    QString error;
    if (!m_drawer->loadImageFile(path, &error)) {
        warn(tr("The image file cannot be shown.\n%1").arg(error));
        return false;
    }
    fitToWindow();
    redraw();
    return true;
}

bool COrvImageViewer::setImageId(const ImageId* id)
{
    if (!id || id->index < 0) return false;
    if (m_drawer->isImageId(*id)) return true;
    const ImageId oldId = m_drawer->getImageId();
    QString error;
    if (!m_drawer->setImageIndex(*id, &error)) {
        warn(tr("The image cannot be shown.\n%1").arg(error));
        return false;
    }
    notifyImageChanged(oldId, *id);
    notifySelMarkCount();
    fitToWindow();
    redraw();
    return true;
}

int COrvImageViewer::reloadImage()
{
    if (m_drawer->getImageId().index < 0) return -1;
    QString error;
    const bool reloaded = m_drawer->reloadImage(&error);
    if (!reloaded && !error.isEmpty()) warn(tr("The image cannot be shown.\n%1").arg(error));
    fitToWindow();
    return reloaded ? 0 : -1;
}

int COrvImageViewer::closeImage()
{
    if (!m_drawer->isValid()) return -1;
    const ImageId oldId = m_drawer->getImageId();
    m_drawer->clearImage();
    ImageId closed = oldId;
    closed.index = -1;
    notifyImageChanged(oldId, closed);
    return notifySelMarkCount();
}

// ---- coordinates ------------------------------------------------------------------------------

XPnt3d COrvImageViewer::screenToNormalised(double x, double y)
{
    XPnt3d invalid;
    invalid.setInvalid();
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    if (!mm || mm->getState(state) != 0 || !state || state->getImageStore(store) != 0 || !store) return invalid;
    const int index = m_drawer->getImageId().index;
    ref_ptr<IZimImageRecord> record;
    if (store->getImageRecord(record, index) != 0 || !record) return XPnt3d(-1, 0, 0);

    XPnt3d p = m_drawer->screenToImage(x, y);
    QSizeF size;
    if (mm->isImageAvailable(index)) size = record->imageSizeAt(2);
    // Without the photograph's size the drawer's own image size is the divisor.
    if (size.isEmpty()) size = QSizeF(m_drawer->imageSize().x, m_drawer->imageSize().y);
    if (size.isEmpty()) return invalid;
    p.x /= size.width();
    p.y /= size.height();
    return p;
}

XPnt3d COrvImageViewer::screenToImage(double x, double y) { return m_drawer->screenToImage(x, y); }

XPnt2d COrvImageViewer::getOrigin() { return m_drawer->getOrigin(); }

XPnt2d COrvImageViewer::normalisedToScreen(const XPnt2d& point) { return m_drawer->normalisedToScreen(point); }

XPnt2d COrvImageViewer::imageToScreen(const XPnt2d& point) { return m_drawer->imageToScreen(point); }

XPnt2d COrvImageViewer::flipY(const XPnt2d& point) { return XPnt2d(point.x, height() - point.y); }

double COrvImageViewer::getScale() { return m_drawer->getScale(); }

bool COrvImageViewer::isImageId(const ImageId& id) { return m_drawer->isImageId(id); }

ref_ptr<IZimDisplay> COrvImageViewer::getDisplay() { return nullptr; }

ref_ptr<IOrv2DSymbol> COrvImageViewer::getSymbol() { return m_drawer->getSymbol(); }

int COrvImageViewer::fitToWindow()
{
    m_drawer->fitToWindow();
    return 0;
}

// ---- drawing ----------------------------------------------------------------------------------

int COrvImageViewer::redraw()
{
    // Painting happens in the paint event; a redraw asked for elsewhere schedules one.
    if (!testAttribute(Qt::WA_WState_InPaintEvent)) {
        update();
        return 0;
    }
    ref_ptr<IOrvViewerMan> vm = getVM();
    if (!vm) return -1;
    m_drawer->paintImage();

    // Copies: a layer may add or remove layers while it draws.
    const QVector<ref_ptr<ZimReferenced>> layers = m_drawLayers;
    for (const ref_ptr<ZimReferenced>& layer : layers)
        if (auto* drawable = dynamic_cast<IOrvDrawLayer*>(layer.get())) drawable->drawLayer(ZimViewImage, nullptr);
    // Every registered object by its id (ids need not be contiguous).
    if (vm->getObjectCount() > 0) {
        if (const ref_ptr<LongArray> ids = vm->getObjectIds()) {
            for (long id : *ids) {
                const ref_ptr<ZimReferenced> object = vm->getObject(int(id));
                if (auto* drawable = dynamic_cast<IOrvDrawLayer*>(object.get()))
                    drawable->drawLayer(ZimViewImage, nullptr);
            }
        }
    }
    drawRectLayers();

    if (const ref_ptr<IZimTool> tool = currentTool())
        if (!tool->isDrawSuppressed()) tool->drawTool(ZimViewImage);
    return 0;
}

void COrvImageViewer::drawRectLayers()
{
    const ref_ptr<IOrv2DSymbol> symbol = m_drawer->getSymbol();
    if (!symbol) return;
    const QVector<ref_ptr<ZimReferenced>> rects = m_rectLayers;
    for (const ref_ptr<ZimReferenced>& object : rects) {
        auto* rect = dynamic_cast<IOrvRectLayer*>(object.get());
        if (!rect) continue;
        rect->refreshRect();
        const XPnt2d c0 = rect->rectCorner(0);
        const XPnt2d c2 = rect->rectCorner(2);
        if (!c0.isValid() || !c2.isValid()) continue;
        // From the upper-left of the two corners, whichever corner 0 is.
        symbol->drawRect(
            QRectF(std::min(c0.x, c2.x), std::min(c0.y, c2.y), std::fabs(c2.x - c0.x), std::fabs(c2.y - c0.y)), true,
            false, Qt::red, 1, Qt::SolidLine, Qt::white, Qt::SolidPattern);
    }
}

int COrvImageViewer::drawImagePart(QImage* image, const Enve2d& area)
{
    if (!image) return -1;
    return m_drawer->drawImagePart(*image, area);
}

int COrvImageViewer::drawNumberedMark(const XPnt2d& point, int number, float textSize, float lineWidth,
                                      const ZimColor3f& colour)
{
    const QColor c(colourByte(colour.r), colourByte(colour.g), colourByte(colour.b), 255);
    const float size = std::isfinite(textSize) ? std::trunc(textSize) : 0.0f;
    return m_drawer->drawNumberedMark(point, number, c, size, lineWidth, 12.0f);
}

int COrvImageViewer::viewWidth() { return width(); }

int COrvImageViewer::viewHeight() { return height(); }

int COrvImageViewer::acceptObjectA(ref_ptr<ZimReferenced> /*object*/) { return 0; }

int COrvImageViewer::acceptObjectB(ref_ptr<ZimReferenced> /*object*/) { return 0; }

int COrvImageViewer::acceptObjectC(ref_ptr<ZimReferenced> /*object*/) { return 0; }

// ---- context menu -----------------------------------------------------------------------------

int COrvImageViewer::buildContextMenu(ref_ptr<IOrvCommonItem> group)
{
    if (!group) return -1;
    const QString name = group->getName();
    group->getPosition();
    // The old menu may be the one whose action is running now: delete it once that is over.
    if (m_contextMenu) {
        m_contextMenu->clear();
        m_contextMenu->deleteLater();
    }
    m_callbacks.clear();
    m_contextMenu = new QMenu(name, this);
    QVector<ref_ptr<IOrvActionItem>> items;
    group->getActionItems(items);
    fillMenu(m_contextMenu, items);
    return 0;
}

bool COrvImageViewer::fillMenu(QMenu* menu, const QVector<ref_ptr<IOrvActionItem>>& items)
{
    return appendItemMenu(menu, items, menuTarget());
}

bool COrvImageViewer::addMenuAction(QMenu* menu, ref_ptr<IOrvActionItem> item)
{
    return appendItemAction(menu, item, menuTarget());
}

ItemMenuTarget COrvImageViewer::menuTarget()
{
    // A separator item draws a line here only when it is meant for the menu as well.
    return {this, SLOT(triggeredPlugin(bool)), &m_callbacks, MenuSeparators::InMenuOnly};
}

void COrvImageViewer::triggeredPlugin(bool state) { runPluginCallback(sender(), m_callbacks, state); }

// ---- flags and plug-in values -----------------------------------------------------------------

int COrvImageViewer::setShowMarks(bool show)
{
    m_drawer->setShowMarks(show);
    return 0;
}

bool COrvImageViewer::isShowMarks() { return m_drawer->isShowMarks(); }

int COrvImageViewer::setShowPairs(bool show)
{
    m_drawer->setShowPairs(show);
    return 0;
}

bool COrvImageViewer::isShowPairs() { return m_drawer->isShowPairs(); }

int COrvImageViewer::setPluginFlag(int key, long long value)
{
    m_pluginFlags[key] = value;
    return 0;
}

int COrvImageViewer::setPluginCheck(int key, long long value)
{
    m_pluginChecks[key] = value;
    return 0;
}

int COrvImageViewer::setPluginOwner(long long value)
{
    m_pluginOwner = value;
    return 0;
}

// ---- events -----------------------------------------------------------------------------------

void COrvImageViewer::resizeEvent(QResizeEvent* /*event*/)
{
    if (m_drawer->isValid()) m_drawer->recentre();
}

void COrvImageViewer::paintEvent(QPaintEvent* /*event*/) { redraw(); }

void COrvImageViewer::mousePressEvent(QMouseEvent* event)
{
    if (!getVM() || !zim::getMM()) return;
    const int x = event->pos().x();
    const int y = height() - event->pos().y();
    const Qt::MouseButtons buttons = event->buttons();
    if (buttons & Qt::LeftButton) {
        const ZimKey flags = getQtFlag(event);
        callTool(ZimViewImage, [&](IZimTool* tool) { tool->onMousePress(ZimViewImage, flags, x, y); });
        event->accept();
    } else if (buttons & Qt::RightButton) {
        m_rightButton.press(event->pos());
        event->accept();
    } else if (buttons & Qt::MiddleButton) {
        m_drawer->mousePress(event);
        event->accept();
    }
}

void COrvImageViewer::mouseReleaseEvent(QMouseEvent* event)
{
    if (!getVM() || !zim::getMM()) return;
    const int x = event->pos().x();
    const int y = height() - event->pos().y();
    const ZimKey flags = getQtFlag(event);
    switch (event->button()) {
        case Qt::LeftButton:
            callTool(ZimViewImage, [&](IZimTool* tool) { tool->onMouseRelease(ZimViewImage, flags, x, y); });
            break;
        case Qt::MiddleButton:
            m_drawer->mouseRelease(event);
            break;
        case Qt::RightButton: {
            const RightButtonGesture::Release release = m_rightButton.release(event->pos());
            if (currentTool())
                callTool(ZimViewImage, [&](IZimTool* tool) { tool->onRightClick(ZimViewImage, flags, x, y); });
            else
                QWidget::mouseReleaseEvent(event);
            if (release.openMenu) popupContextMenu(m_contextMenu, event->globalPos());
            break;
        }
        default:
            break;
    }
    event->accept();
}

void COrvImageViewer::mouseMoveEvent(QMouseEvent* event)
{
    if (!zim::getMM()) return;
    setFocus();
    const int x = event->pos().x();
    const int y = height() - event->pos().y();
    m_cursorX = x;
    m_cursorY = y;

    const XPnt3d image = m_drawer->screenToImage(x, y);
    const double ix = image.isValid() ? image.x : 0.0;
    const double iy = image.isValid() ? image.y : 0.0;
    const QVector<IOrvCoordListener*> listeners = m_listeners;
    for (IOrvCoordListener* listener : listeners) listener->onImageCoord(ix, iy);
    emit coordChanged(ix, iy);

    const Qt::MouseButtons buttons = event->buttons();
    const ZimKey flags = getQtFlag(event);
    const auto move = [&](IZimTool* tool) { tool->onMouseMove(ZimViewImage, flags, x, y); };
    if (buttons & Qt::LeftButton) {
        callTool(ZimViewImage, move);
    } else if (buttons & Qt::MiddleButton) {
        m_drawer->mouseMove(event);
        m_lastCursor = event->pos();
    } else if (buttons & Qt::RightButton) {
        // A right drag is not a click: no context menu at the release.
        m_rightButton.move(event->pos());
        callTool(ZimViewImage, move);
    } else {
        callTool(ZimViewImage, move);
    }
    event->accept();
}

void COrvImageViewer::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!getVM() || !zim::getMM()) return;
    const ZimKey flags = modifierFlag(QGuiApplication::keyboardModifiers());
    if (event->button() == Qt::LeftButton || (event->buttons() & Qt::LeftButton)) {
        const int x = event->pos().x();
        const int y = height() - event->pos().y();
        callTool(ZimViewImage, [&](IZimTool* tool) { tool->onMouseDoubleClick(ZimViewImage, flags, x, y); });
    }
    event->accept();
}

void COrvImageViewer::wheelEvent(QWheelEvent* event)
{
    m_drawer->wheel(event);
    redraw();
    event->accept();
}

void COrvImageViewer::keyPressEvent(QKeyEvent* event)
{
    const ZimKey flags = getKeyFlag(event);
    event->ignore();
    const int key = event->key();
    const int count = event->count();
    callTool(ZimViewImage, [&](IZimTool* tool) { tool->onKeyPress(ZimViewImage, key, count, flags); });
}

void COrvImageViewer::keyReleaseEvent(QKeyEvent* event)
{
    const ZimKey flags = getKeyFlag(event);
    const int key = event->key();
    const int count = event->count();
    if (key == Qt::Key_Escape)
        if (ref_ptr<IOrvViewerMan> vm = getVM()) vm->endCurTool();
    callTool(ZimViewImage, [&](IZimTool* tool) { tool->onKeyRelease(ZimViewImage, key, count, flags); });
    event->accept();
}

void COrvImageViewer::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    // Where the request comes with the press (X11), the menu waits for the release.
    if (m_rightButton.menuRequest(event->reason() == QContextMenuEvent::Mouse) == RightButtonGesture::Request::OpenNow)
        popupContextMenu(m_contextMenu, event->globalPos());
}

}  // namespace orvUI
