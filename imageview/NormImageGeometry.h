// Placement of a photo in the 2D view and the conversions between its coordinate systems. Plain
// arithmetic without a widget, so it can be driven directly.
//
// Coordinate systems:
//  - widget: pixels from the widget's top-left corner, y down (Qt's widget coordinates);
//  - screen (GL-oriented): pixels from the widget's bottom-left corner, y up, as tools get them;
//  - image: the photo's own pixels from its bottom-left corner, y up;
//  - normalised: image coordinates divided by the image size, 0..1 in both axes, y up.
// The photo is shown scaled by `scale` (widget pixels per image pixel) with its top-left corner
// at `origin` (widget coordinates).
#pragma once

#include <QRectF>
#include <QSizeF>

#include "ZimBase64t.h"

namespace orvUI {

class NormImageGeometry {
public:
    // Bounds of the scale. Below the minimum a conversion back to image pixels would lose all
    // meaning (and at zero divide by zero); above the maximum one image pixel already covers a
    // thousand widget pixels.
    static constexpr double kMinScale = 1e-3;
    static constexpr double kMaxScale = 1000.0;
    // The photo is never zoomed out below this many widget pixels on its longer side (unless
    // it is that small at scale 1 already).
    static constexpr double kMinDisplaySide = 8.0;
    // Margin left on each side by fitToWindow.
    static constexpr double kFitMargin = 5.0;

    // A new photo: its size in image pixels, shown at scale 1. The origin is kept.
    void setImageSize(double width, double height);
    void clearImage() { setImageSize(0, 0); }
    void setWidgetSize(double width, double height) { m_widget = XPnt2d(width, height); }

    bool hasImage() const { return m_image.x > 0 && m_image.y > 0; }
    XPnt2d imageSize() const { return m_image; }
    XPnt2d widgetSize() const { return m_widget; }
    XPnt2d displaySize() const { return m_image * m_scale; }
    XPnt2d origin() const { return m_origin; }
    double scale() const { return m_scale; }
    // The smallest scale zooming can reach for the current photo.
    double minScale() const;
    // The photo's rectangle in widget coordinates.
    QRectF displayRect() const;

    void setOrigin(const XPnt2d& origin) { m_origin = origin; }
    // Sets the scale, kept within minScale() and kMaxScale; the origin stays.
    void setScale(double scale);

    // Scales the photo to fit the widget less the margin on each side and centres it. Nothing
    // without a photo.
    void fitToWindow();
    // Centres the photo at its current scale.
    void recentre();

    // Screen (y up) to image coordinates; z is 0.
    XPnt3d screenToImage(double x, double y) const;
    // Image to widget coordinates (y down).
    XPnt2d imageToScreen(const XPnt2d& image) const;
    // Normalised image coordinates to widget coordinates (y down).
    XPnt2d normalisedToScreen(const XPnt2d& normalised) const;
    // Widget coordinates (y down) to normalised image coordinates.
    XPnt2d widgetToNormalised(const XPnt2d& widget) const;

    // Scale change of one wheel event: (delta / 8, in integers) / 15 notches of 10 % of the
    // current scale each, so 120 (one notch) gives +10 % and 7 gives nothing.
    static double wheelStep(int delta, double scale);
    // Wheel zoom about a cursor position (widget coordinates): the image point under the cursor
    // stays under it. The new scale is kept within its bounds. False when nothing changed.
    bool zoomAt(int delta, const XPnt2d& cursor);
    // Moves the photo by a widget offset.
    void panBy(const XPnt2d& offset) { m_origin += offset; }

private:
    XPnt2d m_image{0, 0};
    XPnt2d m_widget{0, 0};
    XPnt2d m_origin{0, 0};
    double m_scale = 1.0;
};

}  // namespace orvUI
