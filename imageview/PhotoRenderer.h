// Paints the photo of the 2D view. Only the part of the photo that falls inside the widget is
// drawn, so the cost of a paint follows the widget's size, not the photo's: a 4000 x 3000 photo
// pans and zooms as fast as a small one.
//
//  - While the view moves (pan or zoom in progress) the visible source pixels are drawn straight
//    into their target rectangle, without smoothing.
//  - When the view is still, a zoomed-out photo is drawn from a smoothly scaled copy made once
//    per scale (kept while the scale stays), and a zoomed-in one with smooth interpolation.
#pragma once

#include <QImage>
#include <QSize>

#include "NormImageGeometry.h"

class QPainter;

namespace orvUI {

class PhotoRenderer {
public:
    // The scaled copy is made only up to this many pixels; larger displays are drawn directly.
    static constexpr qint64 kMaxScaledPixels = 12ll * 1024 * 1024;

    // Takes a picture to show, in a format the raster engine blits directly (RGB32, or
    // premultiplied ARGB32 when it has alpha). A null picture clears.
    void setPicture(const QImage& picture);
    void clear();
    bool isNull() const { return m_picture.isNull(); }
    const QImage& picture() const { return m_picture; }

    // Paints the picture where the geometry places it. The picture may have fewer pixels than
    // the geometry's image (a photo shown at a reduced size); it is stretched over the same
    // rectangle. The widget size is the geometry's.
    void paint(QPainter& painter, const NormImageGeometry& geometry, bool still);

    // The part of the picture drawn for a geometry: the source rectangle in picture pixels
    // (whole pixels covering the visible part) and its target in widget coordinates. False
    // when nothing of the photo is visible.
    static bool visiblePart(const NormImageGeometry& geometry, QSize pictureSize, QRectF* target, QRect* source);

    // Size of the scaled copy held now (empty when none).
    QSize scaledCopySize() const { return m_scaled.size(); }

private:
    QImage m_picture;
    QImage m_scaled;
};

}  // namespace orvUI
