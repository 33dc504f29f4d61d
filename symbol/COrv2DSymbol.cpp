#include "COrv2DSymbol.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "OrvUIElements64t.h"

namespace orvUI {

namespace {

// Truncates toward zero; NaN and values outside int give 0 or the nearest int.
int truncated(float value)
{
    if (!std::isfinite(value)) return 0;
    if (value >= float(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (value <= float(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return int(value);
}

Qt::PenStyle penStyleOf(int style)
{
    // CustomDashLine needs a dash pattern the caller cannot give here.
    return style >= int(Qt::NoPen) && style <= int(Qt::DashDotDotLine) ? Qt::PenStyle(style) : Qt::SolidLine;
}

Qt::BrushStyle brushStyleOf(int style)
{
    // Gradient and texture styles cannot be made from a colour alone.
    return style >= int(Qt::NoBrush) && style <= int(Qt::DiagCrossPattern) ? Qt::BrushStyle(style) : Qt::SolidPattern;
}

}  // namespace

COrv2DSymbol::COrv2DSymbol(QWidget* widget) : m_widget(widget) {}

COrv2DSymbol::~COrv2DSymbol() = default;

QPen COrv2DSymbol::makePen(const QColor& colour, float width, int penStyle)
{
    QPen pen(colour);
    pen.setWidth(std::max(0, truncated(width)));
    pen.setStyle(penStyleOf(penStyle));
    return pen;
}

QFont COrv2DSymbol::makeFont(float size)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(std::max(1, truncated(size)));
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

bool COrv2DSymbol::canPaint() const
{
    // QPainter refuses a widget outside its paint event (and says so on the debug stream).
    return m_widget && m_widget->testAttribute(Qt::WA_WState_InPaintEvent);
}

void COrv2DSymbol::applyShapeStyle(QPainter& painter, bool usePen, bool useBrush, const QColor& penColour,
                                   float penWidth, int penStyle, const QColor& brushColour, int brushStyle)
{
    if (usePen)
        painter.setPen(makePen(penColour, penWidth, penStyle));
    else
        painter.setPen(QColor(0, 0, 0, 0));
    if (useBrush) painter.setBrush(QBrush(brushColour, brushStyleOf(brushStyle)));
}

int COrv2DSymbol::drawMarker(const QPointF& point, const QColor& colour, float halfSize, float width, int penStyle)
{
    if (!canPaint()) return -1;
    QPainter painter(m_widget);
    painter.setPen(makePen(colour, width, penStyle));
    const qreal s = halfSize;
    painter.drawLine(QPointF(point.x() - s, point.y()), QPointF(point.x() + s, point.y()));
    painter.drawLine(QPointF(point.x(), point.y() - s), QPointF(point.x(), point.y() + s));
    return 0;
}

int COrv2DSymbol::drawText(const QPointF& point, QString text, float size, const QColor& colour, int penStyle,
                           QString /*font: the family is always Arial*/)
{
    if (!canPaint()) return -1;
    QPainter painter(m_widget);
    painter.setFont(makeFont(size));
    QPen pen(colour);
    pen.setStyle(penStyleOf(penStyle));
    painter.setPen(pen);
    painter.drawText(point, text);
    return 0;
}

int COrv2DSymbol::drawLine(const QPointF& from, const QPointF& to, float width, const QColor& colour, int penStyle)
{
    if (!canPaint()) return -1;
    QPainter painter(m_widget);
    painter.setPen(makePen(colour, width, penStyle));
    painter.drawLine(from, to);
    return 0;
}

int COrv2DSymbol::drawPoint(const QPointF& point, float width, const QColor& colour)
{
    if (!canPaint()) return -1;
    QPainter painter(m_widget);
    painter.setPen(makePen(colour, width, Qt::SolidLine));
    painter.drawPoint(point);
    return 0;
}

int COrv2DSymbol::drawEllipse(const QPointF& centre, float rx, float ry, bool usePen, bool useBrush,
                              const QColor& penColour, float penWidth, int penStyle, const QColor& brushColour,
                              int brushStyle)
{
    if (!canPaint()) return -1;
    QPainter painter(m_widget);
    // Unlike the other shapes, no pen means the painter's default pen.
    if (usePen) painter.setPen(makePen(penColour, penWidth, penStyle));
    if (useBrush) painter.setBrush(QBrush(brushColour, brushStyleOf(brushStyle)));
    painter.drawEllipse(centre, qreal(rx), qreal(ry));
    return 0;
}

int COrv2DSymbol::drawRect(const QRectF& rect, bool usePen, bool useBrush, const QColor& penColour, float penWidth,
                           int penStyle, const QColor& brushColour, int brushStyle)
{
    if (!canPaint()) return -1;
    QPainter painter(m_widget);
    applyShapeStyle(painter, usePen, useBrush, penColour, penWidth, penStyle, brushColour, brushStyle);
    painter.drawRect(rect);
    return 0;
}

int COrv2DSymbol::drawPolygon(QPolygonF polygon, bool usePen, bool useBrush, const QColor& penColour, float penWidth,
                              int penStyle, const QColor& brushColour, int brushStyle)
{
    if (!canPaint()) return -1;
    QPainter painter(m_widget);
    applyShapeStyle(painter, usePen, useBrush, penColour, penWidth, penStyle, brushColour, brushStyle);
    painter.drawPolygon(polygon, Qt::OddEvenFill);
    return 0;
}

int COrv2DSymbol::drawPolyline(QPolygonF polygon, bool usePen, bool useBrush, const QColor& penColour, float penWidth,
                               int penStyle, const QColor& brushColour, int brushStyle)
{
    if (!canPaint()) return -1;
    QPainter painter(m_widget);
    applyShapeStyle(painter, usePen, useBrush, penColour, penWidth, penStyle, brushColour, brushStyle);
    painter.drawPolyline(polygon);
    return 0;
}

ref_ptr<IOrv2DSymbol> newOrv2DSymbol(QWidget* parent)
{
    return ref_ptr<IOrv2DSymbol>(new (std::nothrow) COrv2DSymbol(parent));
}

}  // namespace orvUI
