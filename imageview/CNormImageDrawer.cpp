#include "CNormImageDrawer.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <new>

#include "COrv2DSymbol.h"
#include "OrvUIElements64t.h"
#include "ViewInput.h"

namespace orvUI {

namespace {

ZIM_TR_CONTEXT("CNormImageDrawer")

void setError(QString* error, const QString& text)
{
    if (error) *error = text;
}

bool inPaintEvent(const QWidget* widget) { return widget && widget->testAttribute(Qt::WA_WState_InPaintEvent); }

}  // namespace

CNormImageDrawer::CNormImageDrawer()
{
    m_settle.setSingleShot(true);
    // Once the view has settled it is painted once more, now smoothly.
    QObject::connect(&m_settle, &QTimer::timeout, &m_settle, [this] { updateWidget(); });
}

CNormImageDrawer::~CNormImageDrawer() = default;

int CNormImageDrawer::onBeginPaint() { return 0; }
int CNormImageDrawer::onEndPaint() { return 0; }
int CNormImageDrawer::onImageReplaced() { return 0; }

void CNormImageDrawer::setWidget(QWidget* widget)
{
    m_widget = widget;
    m_symbol = newOrv2DSymbol(widget);
}

void CNormImageDrawer::syncWidgetSize() const
{
    if (m_widget) m_geometry.setWidgetSize(m_widget->width(), m_widget->height());
}

const NormImageGeometry& CNormImageDrawer::geometry() const
{
    syncWidgetSize();
    return m_geometry;
}

void CNormImageDrawer::updateWidget()
{
    if (m_widget) m_widget->update();
}

void CNormImageDrawer::noteMotion() { m_settle.start(kSettleMs); }

bool CNormImageDrawer::isStill() const { return !m_settle.isActive(); }

ref_ptr<IZimImageStore> CNormImageDrawer::imageStore()
{
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!mm) return nullptr;
    ref_ptr<IZimTqState> state;
    if (mm->getState(state) != 0 || !state) return nullptr;
    ref_ptr<IZimImageStore> store;
    if (state->getImageStore(store) != 0) return nullptr;
    return store;
}

bool CNormImageDrawer::isValid() const
{
    if (!m_widget || m_renderer.isNull() || m_id.index < 0) return false;
    if (m_id.index == kFileImageIndex) return true;
    return bool(imageStore());
}

// ---- loading ----------------------------------------------------------------------------------

bool CNormImageDrawer::pictureFromImage(const ref_ptr<IZimImage>& image, QImage* picture, QString* error) const
{
    QImage converted;
    if (!image || zim::imgTrans(image, &converted, 1) != 0 || converted.isNull()) {
        setError(error, tr("The image is empty."));
        return false;
    }
    if (converted.width() > m_maxPictureSide || converted.height() > m_maxPictureSide) {
        converted = converted.scaled(m_maxPictureSide, m_maxPictureSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (converted.isNull()) {
            setError(error, tr("Not enough memory to show an image of %1 x %2 pixels.")
                                .arg(image->imageWidth())
                                .arg(image->imageHeight()));
            return false;
        }
    }
    *picture = std::move(converted);
    return true;
}

void CNormImageDrawer::replacePicture(const QImage& picture, const QSize& imageSize)
{
    m_renderer.setPicture(picture);
    m_geometry.setImageSize(imageSize.width(), imageSize.height());
    onImageReplaced();
}

bool CNormImageDrawer::setImage(ref_ptr<IZimImage> image, QString* error)
{
    QImage picture;
    if (!pictureFromImage(image, &picture, error)) return false;
    replacePicture(picture, QSize(image->imageWidth(), image->imageHeight()));
    image.reset();
    return true;
}

bool CNormImageDrawer::loadImageFile(const QString& path, QString* error)
{
    // The new picture is read completely before the old one goes, so a missing, truncated or
    // foreign file leaves the photo shown before in place. Only the image loader opens the file:
    // it refuses a FIFO or device before reading, where a header probe here would block.
    ref_ptr<IZimImage> image = zim::newZimImage();
    if (!image) {
        setError(error, tr("Not enough memory to read %1.").arg(path));
        return false;
    }
    if (image->imageLoadScaled(path, m_maxPictureSide) != 0) {
        setError(error, image->imageLastError());
        return false;
    }
    QImage picture;
    if (!pictureFromImage(image, &picture, error)) return false;
    // Coordinates stay those of the whole photo when it was decoded at a reduced size.
    const QSize full = image->imageFullSize();
    const QSize size = full.isValid() && !full.isEmpty() ? full : picture.size();
    m_id.index = kFileImageIndex;
    replacePicture(picture, size);
    return true;
}

bool CNormImageDrawer::readProjectPicture(int index, QImage* picture, QSize* size, QString* error) const
{
    ref_ptr<IZimImageStore> store = imageStore();
    if (!store) {
        setError(error, tr("No project is open."));
        return false;
    }
    ref_ptr<IZimImageRecord> record;
    if (store->getImageRecord(record, index) != 0 || !record) {
        setError(error, tr("Image %1 is not in the project.").arg(index));
        return false;
    }
    const QSize full = record->imageSizeAt(2);
    if (full.isEmpty()) {
        setError(error, tr("The photograph of image %1 is missing or cannot be read.").arg(index));
        return false;
    }
    ref_ptr<IZimImage> image;
    if (full.width() > m_maxPictureSide || full.height() > m_maxPictureSide) {
        // Too large to hold whole: decode the photograph at a reduced size instead of reading
        // the full level from the store.
        ref_ptr<IZimMM> mm = zim::getMM();
        ref_ptr<IZimImageEntry> entry;
        if (!mm || mm->getImageEntry(entry, index) != 0 || !entry) {
            setError(error, tr("Image %1 is not in the project.").arg(index));
            return false;
        }
        image = zim::newZimImage();
        if (!image || image->imageLoadScaled(entry->photoPath(), m_maxPictureSide) != 0) {
            setError(error,
                     image ? image->imageLastError() : tr("Not enough memory to read %1.").arg(entry->photoPath()));
            return false;
        }
    } else if (store->getStoreImage(image, index, 2) != 0 || !image) {
        setError(error, tr("The photograph of image %1 is missing or cannot be read.").arg(index));
        return false;
    }
    if (!pictureFromImage(image, picture, error)) return false;
    *size = full;
    return true;
}

bool CNormImageDrawer::setImageIndex(const ImageId& id, QString* error)
{
    if (id.index < 0) return false;
    QImage picture;
    QSize size;
    if (!readProjectPicture(id.index, &picture, &size, error)) return false;
    m_id = id;
    if (ref_ptr<IZimMM> mm = zim::getMM()) mm->setCurrentImageIndex(id.index);
    replacePicture(picture, size);
    return true;
}

bool CNormImageDrawer::reloadImage(QString* error)
{
    if (!isValid() || m_id.index == kFileImageIndex) return false;
    QImage picture;
    QSize size;
    if (!readProjectPicture(m_id.index, &picture, &size, error)) return false;
    replacePicture(picture, size);
    return true;
}

void CNormImageDrawer::clearImage()
{
    m_renderer.clear();
    m_geometry.clearImage();
    m_id.index = -1;
    updateWidget();
}

// ---- geometry ---------------------------------------------------------------------------------

void CNormImageDrawer::fitToWindow()
{
    syncWidgetSize();
    m_geometry.fitToWindow();
    updateWidget();
}

void CNormImageDrawer::recentre()
{
    syncWidgetSize();
    m_geometry.recentre();
    updateWidget();
}

XPnt3d CNormImageDrawer::screenToImage(double x, double y) const
{
    XPnt3d p;
    if (!isValid()) {
        p.setInvalid();
        return p;
    }
    syncWidgetSize();
    return m_geometry.screenToImage(x, y);
}

XPnt2d CNormImageDrawer::imageToScreen(const XPnt2d& image) const
{
    XPnt2d p;
    if (!isValid()) {
        p.setInvalid();
        return p;
    }
    return m_geometry.imageToScreen(image);
}

XPnt2d CNormImageDrawer::normalisedToScreen(const XPnt2d& normalised) const
{
    XPnt2d p;
    if (!isValid()) {
        p.setInvalid();
        return p;
    }
    return m_geometry.normalisedToScreen(normalised);
}

// ---- panning and zooming ----------------------------------------------------------------------

bool CNormImageDrawer::mousePress(QMouseEvent* event)
{
    if (!event || event->button() != Qt::MiddleButton) return false;
    m_dragging = true;
    m_dragAnchor = XPnt2d(event->localPos().x(), event->localPos().y());
    event->accept();
    if (m_widget) m_widget->setCursor(Qt::SizeAllCursor);
    updateWidget();
    return true;
}

bool CNormImageDrawer::mouseMove(QMouseEvent* event)
{
    if (!event || !(event->buttons() & Qt::MiddleButton) || !m_dragging) return false;
    const XPnt2d position(event->localPos().x(), event->localPos().y());
    m_geometry.panBy(position - m_dragAnchor);
    m_dragAnchor = position;
    event->accept();
    noteMotion();
    updateWidget();
    return true;
}

bool CNormImageDrawer::mouseRelease(QMouseEvent* event)
{
    if (!event || event->button() != Qt::MiddleButton) return false;
    m_dragAnchor = XPnt2d(0, 0);
    m_dragging = false;
    event->accept();
    if (m_widget) m_widget->setCursor(Qt::ArrowCursor);
    updateWidget();
    return true;
}

bool CNormImageDrawer::wheel(QWheelEvent* event)
{
    if (!event) return false;
    syncWidgetSize();
    const XPnt2d cursor(event->position().x(), event->position().y());
    // The axis the wheel moved most: with Alt held X11 reports the ordinary wheel as horizontal.
    if (m_geometry.zoomAt(wheelNotchDelta(event->angleDelta()), cursor)) noteMotion();
    event->accept();
    updateWidget();
    return true;
}

// ---- painting ---------------------------------------------------------------------------------

int CNormImageDrawer::paintImage()
{
    if (!isValid()) return -1;
    // Painting a widget is only possible inside its paint event: ask for one instead.
    if (!inPaintEvent(m_widget)) {
        updateWidget();
        return 0;
    }
    syncWidgetSize();
    onBeginPaint();
    {
        QPainter painter(m_widget);
        if (!painter.isActive()) return -1;
        m_renderer.paint(painter, m_geometry, isStill());
    }

    ref_ptr<IZimImageStore> store = m_id.index == kFileImageIndex ? nullptr : imageStore();
    ref_ptr<IZimImageRecord> record;
    if (!store || store->getImageRecord(record, m_id.index) != 0 || !record || !m_symbol) {
        onEndPaint();
        return 0;
    }

    const XPnt2d origin = m_geometry.origin();
    const XPnt2d display = m_geometry.displaySize();
    const QString arial = QStringLiteral("Arial");
    m_symbol->drawText(QPointF(origin.x, origin.y + display.y), QString::number(m_id.index), 15, Qt::green,
                       Qt::SolidLine, arial);
    m_symbol->drawRect(QRectF(origin.x - 2, origin.y - 2, display.x + 4, display.y + 4), true, false, Qt::red, 2,
                       Qt::SolidLine, Qt::white, Qt::SolidPattern);

    const SelectedMarkIndex selected(record->getSelectedMarks());
    std::vector<NumberedMark> marks;
    const auto mark = [this, &marks](const XPnt2d& p, int number, const QColor& colour) {
        // A mark without a photo position has nothing to show.
        if (!p.isValid()) return;
        marks.push_back({m_geometry.normalisedToScreen(p), number, colour});
    };

    if (m_showMarks) {
        if (const ref_ptr<Pnt2dArray> uvs = record->getMarkUVs())
            for (int i = 0; i < uvs->count(); ++i)
                mark(uvs->at(i), i + 1, selected.contains(uvs->at(i)) ? QColor(Qt::blue) : QColor(Qt::green));
    }
    if (m_showPairs) {
        if (const ref_ptr<MarkArray> pairs = record->getPointMarks())
            for (int i = 0; i < pairs->count(); ++i)
                mark(pairs->at(i).uv, i + 1,
                     selected.contains(pairs->at(i).uv) ? QColor(Qt::blue) : QColor(Qt::yellow));
    }
    if (const ref_ptr<MarkArray> tracks = record->getTrackMarks())
        for (int i = 0; i < tracks->count(); ++i) mark(tracks->at(i).uv, i + 1, Qt::cyan);
    if (!marks.empty()) {
        // One painter for all of them: a painter begun on the widget for every cross and number
        // made 200,000 marks take seconds a frame.
        QPainter painter(m_widget);
        if (painter.isActive()) paintNumberedMarks(painter, marks, QRectF(m_widget->rect()));
    }
    onEndPaint();
    return 0;
}

int CNormImageDrawer::drawImagePart(const QImage& image, const Enve2d& area)
{
    if (!isValid() || image.isNull() || !inPaintEvent(m_widget)) return -1;
    const XPnt2d origin = m_geometry.origin();
    const XPnt2d display = m_geometry.displaySize();
    const QRectF target(display.x * area.minX + origin.x, (1 - area.maxY) * display.y + origin.y,
                        (area.maxX - area.minX) * display.x, (area.maxY - area.minY) * display.y);
    if (!target.isValid()) return -1;
    QPainter painter(m_widget);
    if (!painter.isActive()) return -1;
    painter.drawImage(target, image);
    return 0;
}

int CNormImageDrawer::drawNumberedMark(const XPnt2d& point, int number, const QColor& colour, float textSize,
                                       float lineWidth, float markerSize)
{
    if (!isValid() || !m_symbol || !point.isValid()) return -1;
    const XPnt2d s = m_geometry.normalisedToScreen(point);
    m_symbol->drawMarker(QPointF(s.x, s.y), Qt::red, markerSize, lineWidth, Qt::SolidLine);
    return m_symbol->drawText(QPointF(s.x, s.y), QString::number(number), textSize, colour, Qt::SolidLine,
                              QStringLiteral("Arial"));
}

// ---- marks ----------------------------------------------------------------------------------

void paintNumberedMarks(QPainter& painter, const std::vector<NumberedMark>& marks, const QRectF& visible)
{
    // What COrv2DSymbol::drawMarker and drawText set on a fresh painter, set once.
    constexpr float kHalfSize = 12.0f;
    const QFont font = COrv2DSymbol::makeFont(15);
    const QPen crossPen = COrv2DSymbol::makePen(Qt::red, 1.0f, Qt::SolidLine);
    painter.setFont(font);
    // How far a cross and a number reach from the mark's point: the cross its half size and
    // pen, the number (drawn from its baseline's left end) its ascent, descent and a width
    // bound of its digits.
    const QFontMetricsF metrics(font);
    const double reachUp = std::max<double>(kHalfSize, metrics.ascent()) + 2.0;
    const double reachDown = std::max<double>(kHalfSize, metrics.descent()) + 2.0;
    const double reachLeft = kHalfSize + 2.0 + std::max<double>(0.0, -metrics.minLeftBearing());
    const double digit = std::max<double>(metrics.maxWidth(), metrics.horizontalAdvance(QStringLiteral("0")));
    const QRectF area = visible.adjusted(-1, -1, 1, 1);
    for (const NumberedMark& m : marks) {
        const double x = m.screen.x, y = m.screen.y;
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        const int digits = m.number <= 0 ? 11 : int(std::log10(double(m.number))) + 1;
        const double reachRight = std::max<double>(kHalfSize + 2.0, digit * digits + 2.0);
        if (x + reachRight < area.left() || x - reachLeft > area.right() || y + reachDown < area.top() ||
            y - reachUp > area.bottom())
            continue;
        painter.setPen(crossPen);
        painter.drawLine(QPointF(x - kHalfSize, y), QPointF(x + kHalfSize, y));
        painter.drawLine(QPointF(x, y - kHalfSize), QPointF(x, y + kHalfSize));
        painter.setPen(QPen(m.colour));
        painter.drawText(QPointF(x, y), QString::number(m.number));
    }
}

SelectedMarkIndex::SelectedMarkIndex(const ref_ptr<MarkArray>& selected)
{
    if (!selected) return;
    m_cells.reserve(std::size_t(selected->count()));
    for (const MarkRecord& s : *selected) {
        if (!std::isfinite(s.uv.x) || !std::isfinite(s.uv.y)) continue;
        m_cells.emplace(key(cell(s.uv.x), cell(s.uv.y)), s.uv);
    }
}

std::int64_t SelectedMarkIndex::cell(double v)
{
    // Cells of the tolerance's size: a position within it of a selected one lies in the same
    // cell or a neighbouring one.
    return std::int64_t(std::floor(std::clamp(v, -1e12, 1e12) / 0.001));
}

std::uint64_t SelectedMarkIndex::key(std::int64_t cx, std::int64_t cy)
{
    return (std::uint64_t(cx) * 0x9E3779B97F4A7C15ull) ^ std::uint64_t(cy);
}

bool SelectedMarkIndex::contains(const XPnt2d& p) const
{
    if (m_cells.empty() || !std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    const std::int64_t cx = cell(p.x), cy = cell(p.y);
    for (std::int64_t dx = -1; dx <= 1; ++dx)
        for (std::int64_t dy = -1; dy <= 1; ++dy) {
            const auto range = m_cells.equal_range(key(cx + dx, cy + dy));
            for (auto it = range.first; it != range.second; ++it)
                if (std::fabs(it->second.x - p.x) <= 0.001 && std::fabs(it->second.y - p.y) <= 0.001) return true;
        }
    return false;
}

ref_ptr<CNormImageDrawer> newNormImageDrawer()
{
    return ref_ptr<CNormImageDrawer>(new (std::nothrow) CNormImageDrawer());
}

}  // namespace orvUI
