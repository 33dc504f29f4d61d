// The 2D symbol: screen-space primitives painted with QPainter over one widget.
#pragma once

#include <QPointer>
#include <QWidget>

#include "IOrv2DSymbol.h"

class QPainter;

namespace orvUI {

// Every operation opens a QPainter on the widget, draws once and closes it. Painting a widget is
// only possible while it handles its paint event (also when it is rendered into an image or
// pixmap); outside one, and for a widget that is gone, an operation draws nothing and answers -1.
// The widget is watched, not owned: a symbol a plug-in keeps beyond the widget's life stays safe.
class COrv2DSymbol : public IOrv2DSymbol {
public:
    explicit COrv2DSymbol(QWidget* widget);

    int drawMarker(const QPointF& point, const QColor& colour, float halfSize, float width, int penStyle) override;
    int drawText(const QPointF& point, QString text, float size, const QColor& colour, int penStyle,
                 QString font) override;
    int drawLine(const QPointF& from, const QPointF& to, float width, const QColor& colour, int penStyle) override;
    int drawPoint(const QPointF& point, float width, const QColor& colour) override;
    int drawEllipse(const QPointF& centre, float rx, float ry, bool usePen, bool useBrush, const QColor& penColour,
                    float penWidth, int penStyle, const QColor& brushColour, int brushStyle) override;
    int drawRect(const QRectF& rect, bool usePen, bool useBrush, const QColor& penColour, float penWidth, int penStyle,
                 const QColor& brushColour, int brushStyle) override;
    int drawPolygon(QPolygonF polygon, bool usePen, bool useBrush, const QColor& penColour, float penWidth,
                    int penStyle, const QColor& brushColour, int brushStyle) override;
    int drawPolyline(QPolygonF polygon, bool usePen, bool useBrush, const QColor& penColour, float penWidth,
                     int penStyle, const QColor& brushColour, int brushStyle) override;

    QWidget* widget() const { return m_widget.data(); }

    // The pen every operation with a width uses: the width truncated toward zero.
    static QPen makePen(const QColor& colour, float width, int penStyle);
    // The font of drawText: "Arial" at the size truncated toward zero (at least 1 point).
    static QFont makeFont(float size);

protected:
    ~COrv2DSymbol() override;

private:
    // True when the widget can be painted now.
    bool canPaint() const;
    // Pen and brush of drawRect, drawPolygon and drawPolyline: without usePen no outline at all,
    // without useBrush the painter's default brush.
    static void applyShapeStyle(QPainter& painter, bool usePen, bool useBrush, const QColor& penColour, float penWidth,
                                int penStyle, const QColor& brushColour, int brushStyle);

    QPointer<QWidget> m_widget;
};

}  // namespace orvUI
