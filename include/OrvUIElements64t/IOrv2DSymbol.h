// Screen-space drawing over one widget: markers, texts, lines, points, ellipses, rectangles,
// polygons and polylines. Every call opens a QPainter on the widget, draws once and closes it,
// so calls belong in the widget's paint event. Made by newOrv2DSymbol; reference counted.
//
// Pen widths and font sizes are truncated toward zero; pen and brush styles are Qt::PenStyle
// and Qt::BrushStyle values.
#pragma once

#include <QColor>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QString>

#include "OrvUIGlobal.h"
#include "ZimBase64t.h"

namespace orvUI {

class ORVUI_EXPORT IOrv2DSymbol : public ZimReferenced {
public:
    // A cross of two lines, each reaching halfSize from the point.
    virtual int drawMarker(const QPointF& point, const QColor& colour, float halfSize, float width, int penStyle) = 0;
    // Drawn in Arial at the given point size; the font argument does not change the font.
    virtual int drawText(const QPointF& point, QString text, float size, const QColor& colour, int penStyle,
                         QString font) = 0;
    virtual int drawLine(const QPointF& from, const QPointF& to, float width, const QColor& colour, int penStyle) = 0;
    virtual int drawPoint(const QPointF& point, float width, const QColor& colour) = 0;
    // Without usePen the painter's default pen is used.
    virtual int drawEllipse(const QPointF& centre, float rx, float ry, bool usePen, bool useBrush,
                            const QColor& penColour, float penWidth, int penStyle, const QColor& brushColour,
                            int brushStyle) = 0;
    // Without usePen no outline is drawn; without useBrush the painter's default brush is kept.
    virtual int drawRect(const QRectF& rect, bool usePen, bool useBrush, const QColor& penColour, float penWidth,
                         int penStyle, const QColor& brushColour, int brushStyle) = 0;
    // Odd-even fill; pen and brush as for drawRect.
    virtual int drawPolygon(QPolygonF polygon, bool usePen, bool useBrush, const QColor& penColour, float penWidth,
                            int penStyle, const QColor& brushColour, int brushStyle) = 0;
    virtual int drawPolyline(QPolygonF polygon, bool usePen, bool useBrush, const QColor& penColour, float penWidth,
                             int penStyle, const QColor& brushColour, int brushStyle) = 0;

protected:
    IOrv2DSymbol() noexcept;
    // Copies only the ZimReferenced part; the count is never copied.
    IOrv2DSymbol(const IOrv2DSymbol& other) noexcept;
    IOrv2DSymbol& operator=(const IOrv2DSymbol& other) noexcept;
    ~IOrv2DSymbol() override;
};

}  // namespace orvUI
