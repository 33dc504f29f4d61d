#include "PhotoRenderer.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace orvUI {

void PhotoRenderer::setPicture(const QImage& picture)
{
    m_scaled = QImage();
    if (picture.isNull()) {
        m_picture = QImage();
        return;
    }
    const QImage::Format format =
        picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    m_picture = picture.format() == format ? picture : picture.convertToFormat(format);
}

void PhotoRenderer::clear()
{
    m_picture = QImage();
    m_scaled = QImage();
}

bool PhotoRenderer::visiblePart(const NormImageGeometry& geometry, QSize pictureSize, QRectF* target, QRect* source)
{
    if (!geometry.hasImage() || pictureSize.isEmpty()) return false;
    const QRectF display = geometry.displayRect();
    const XPnt2d widget = geometry.widgetSize();
    const QRectF visible = display.intersected(QRectF(0, 0, widget.x, widget.y));
    if (visible.isEmpty()) return false;
    // Widget pixels per picture pixel.
    const double sx = display.width() / pictureSize.width();
    const double sy = display.height() / pictureSize.height();
    const auto first = [](double offset, double step, int limit) {
        return std::clamp(int(std::floor(offset / step)), 0, limit);
    };
    const auto last = [](double offset, double step, int limit) {
        return std::clamp(int(std::ceil(offset / step)), 0, limit);
    };
    const int x0 = first(visible.left() - display.left(), sx, pictureSize.width());
    const int x1 = last(visible.right() - display.left(), sx, pictureSize.width());
    const int y0 = first(visible.top() - display.top(), sy, pictureSize.height());
    const int y1 = last(visible.bottom() - display.top(), sy, pictureSize.height());
    if (x1 <= x0 || y1 <= y0) return false;
    *source = QRect(x0, y0, x1 - x0, y1 - y0);
    // Whole source pixels keep exactly the mapping of the full picture, so nothing shifts
    // between paints; the target may reach a little beyond the widget.
    *target = QRectF(display.left() + x0 * sx, display.top() + y0 * sy, (x1 - x0) * sx, (y1 - y0) * sy);
    return true;
}

void PhotoRenderer::paint(QPainter& painter, const NormImageGeometry& geometry, bool still)
{
    if (m_picture.isNull() || !geometry.hasImage()) return;
    const QRectF display = geometry.displayRect();
    const bool shrinking = display.width() < m_picture.width() && display.height() < m_picture.height();
    const QSize scaledSize(std::max(1, int(std::lround(display.width()))),
                           std::max(1, int(std::lround(display.height()))));

    if (still && shrinking && qint64(scaledSize.width()) * scaledSize.height() <= kMaxScaledPixels) {
        if (m_scaled.size() != scaledSize)
            m_scaled = m_picture.scaled(scaledSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!m_scaled.isNull()) {
            // One to one: a plain blit of the visible part at a whole-pixel position.
            const QPoint at(int(std::lround(display.left())), int(std::lround(display.top())));
            const XPnt2d widget = geometry.widgetSize();
            const QRect visible = QRect(0, 0, int(std::ceil(widget.x)), int(std::ceil(widget.y)))
                                      .translated(-at)
                                      .intersected(m_scaled.rect());
            if (!visible.isEmpty()) painter.drawImage(at + visible.topLeft(), m_scaled, visible);
            return;
        }
    }

    QRectF target;
    QRect source;
    if (!visiblePart(geometry, m_picture.size(), &target, &source)) return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, still);
    painter.drawImage(target, m_picture, QRectF(source));
    painter.restore();
}

}  // namespace orvUI
