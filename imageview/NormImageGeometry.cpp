#include "NormImageGeometry.h"

#include <algorithm>
#include <cmath>

namespace orvUI {

void NormImageGeometry::setImageSize(double width, double height)
{
    const bool usable = std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0;
    m_image = usable ? XPnt2d(width, height) : XPnt2d(0, 0);
    m_scale = 1.0;
}

double NormImageGeometry::minScale() const
{
    const double longer = std::max(m_image.x, m_image.y);
    if (longer <= 0) return kMinScale;
    return std::min(1.0, std::max(kMinScale, kMinDisplaySide / longer));
}

QRectF NormImageGeometry::displayRect() const
{
    const XPnt2d d = displaySize();
    return QRectF(m_origin.x, m_origin.y, d.x, d.y);
}

void NormImageGeometry::setScale(double scale)
{
    if (!std::isfinite(scale)) return;
    m_scale = std::clamp(scale, minScale(), kMaxScale);
}

void NormImageGeometry::fitToWindow()
{
    if (!hasImage()) return;
    // A widget narrower than its margins still gets a positive scale.
    const double w = std::max(1.0, m_widget.x - 2 * kFitMargin);
    const double h = std::max(1.0, m_widget.y - 2 * kFitMargin);
    if (w / h > m_image.x / m_image.y)
        m_scale = h / m_image.y;
    else
        m_scale = w / m_image.x;
    m_scale = std::clamp(m_scale, kMinScale, kMaxScale);
    recentre();
}

void NormImageGeometry::recentre()
{
    const XPnt2d d = displaySize();
    m_origin = XPnt2d((m_widget.x - d.x) / 2, (m_widget.y - d.y) / 2);
}

XPnt3d NormImageGeometry::screenToImage(double x, double y) const
{
    const double X = (x - m_origin.x) / m_scale;
    const double Y = m_image.y - ((m_widget.y - y) - m_origin.y) / m_scale;
    return XPnt3d(X, Y, 0);
}

XPnt2d NormImageGeometry::imageToScreen(const XPnt2d& image) const
{
    return XPnt2d(m_scale * image.x + m_origin.x, (m_image.y - image.y) * m_scale + m_origin.y);
}

XPnt2d NormImageGeometry::normalisedToScreen(const XPnt2d& normalised) const
{
    const XPnt2d d = displaySize();
    return XPnt2d(d.x * normalised.x + m_origin.x, (d.y + m_origin.y) - d.y * normalised.y);
}

XPnt2d NormImageGeometry::widgetToNormalised(const XPnt2d& widget) const
{
    const XPnt3d image = screenToImage(widget.x, m_widget.y - widget.y);
    return XPnt2d(image.x / m_image.x, image.y / m_image.y);
}

double NormImageGeometry::wheelStep(int delta, double scale) { return double(delta / 8) / 15.0 * 0.1 * scale; }

bool NormImageGeometry::zoomAt(int delta, const XPnt2d& cursor)
{
    const double old = m_scale;
    const double wanted = old + wheelStep(delta, old);
    // A fast trackpad sends deltas of -1200 and more, which would take the scale to zero or
    // below: stop at the smallest scale instead.
    const double scale = std::clamp(wanted, std::min(minScale(), old), std::max(kMaxScale, old));
    if (!std::isfinite(scale) || scale == old) return false;
    m_origin.x = cursor.x - (cursor.x - m_origin.x) * scale / old;
    m_origin.y = cursor.y - (cursor.y - m_origin.y) * scale / old;
    m_scale = scale;
    return true;
}

}  // namespace orvUI
