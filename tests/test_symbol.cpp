// The 2D symbol's pen, brush and font rules, checked on the pixels it paints into a widget.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <functional>
#include <memory>

#include "COrv2DSymbol.h"
#include "OrvUIElements64t.h"

using namespace orvUI;

namespace {

// A widget that runs a drawing function in its paint event, on a white background.
class Canvas : public QWidget {
public:
    explicit Canvas(std::function<void(QWidget*)> draw) : m_draw(std::move(draw))
    {
        resize(120, 80);
        QPalette palette;
        palette.setColor(QPalette::Window, Qt::white);
        setPalette(palette);
        setAutoFillBackground(true);
    }
    QImage render() { return grab().toImage().convertToFormat(QImage::Format_RGB32); }

protected:
    void paintEvent(QPaintEvent*) override { m_draw(this); }

private:
    std::function<void(QWidget*)> m_draw;
};

QImage drawWithSymbol(const std::function<void(IOrv2DSymbol&)>& draw)
{
    Canvas canvas([&](QWidget* w) {
        ref_ptr<IOrv2DSymbol> symbol = newOrv2DSymbol(w);
        draw(*symbol);
    });
    return canvas.render();
}

bool isColour(QRgb pixel, QColor colour)
{
    return qRed(pixel) == colour.red() && qGreen(pixel) == colour.green() && qBlue(pixel) == colour.blue();
}

int countColour(const QImage& image, QColor colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += isColour(image.pixel(x, y), colour);
    return n;
}

int countNotWhite(const QImage& image) { return image.width() * image.height() - countColour(image, Qt::white); }

// Rows of column x painted in the colour.
int rowsIn(const QImage& image, int x, QColor colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y) n += isColour(image.pixel(x, y), colour);
    return n;
}

int columnsIn(const QImage& image, int y, QColor colour)
{
    int n = 0;
    for (int x = 0; x < image.width(); ++x) n += isColour(image.pixel(x, y), colour);
    return n;
}

TEST(Symbol2D, PenWidthsAreTruncatedTowardZero)
{
    const QImage thin = drawWithSymbol(
        [](IOrv2DSymbol& s) { s.drawLine(QPointF(10, 40), QPointF(110, 40), 2.9f, Qt::red, Qt::SolidLine); });
    const QImage wide = drawWithSymbol(
        [](IOrv2DSymbol& s) { s.drawLine(QPointF(10, 40), QPointF(110, 40), 3.0f, Qt::red, Qt::SolidLine); });
    EXPECT_EQ(rowsIn(thin, 60, Qt::red), 2);
    EXPECT_EQ(rowsIn(wide, 60, Qt::red), 3);

    // The marker's arms follow the same rule: a vertical arm two pixels wide.
    const QImage marker =
        drawWithSymbol([](IOrv2DSymbol& s) { s.drawMarker(QPointF(60, 40), Qt::blue, 30.0f, 2.9f, Qt::SolidLine); });
    EXPECT_EQ(columnsIn(marker, 20, Qt::blue), 2);
    EXPECT_EQ(rowsIn(marker, 40, Qt::blue), 2);
    // The arms reach the half size on each side of the point.
    EXPECT_TRUE(isColour(marker.pixel(30, 40), Qt::blue));
    EXPECT_TRUE(isColour(marker.pixel(89, 40), Qt::blue));
    EXPECT_TRUE(isColour(marker.pixel(60, 11), Qt::blue));
    EXPECT_FALSE(isColour(marker.pixel(26, 40), Qt::blue));

    const QImage point = drawWithSymbol([](IOrv2DSymbol& s) { s.drawPoint(QPointF(60, 40), 4.7f, Qt::red); });
    EXPECT_EQ(countColour(point, Qt::red), 16);  // a square point of width 4
}

TEST(Symbol2D, TextUsesArialAtTheTruncatedPointSizeWhateverFontIsNamed)
{
    const QImage drawn = drawWithSymbol([](IOrv2DSymbol& s) {
        s.drawText(QPointF(8, 50), QStringLiteral("Hg 42"), 15.7f, Qt::black, Qt::SolidLine,
                   QStringLiteral("Courier New"));
    });
    const auto reference = [](int pointSize) {
        Canvas canvas([pointSize](QWidget* w) {
            QPainter p(w);
            QFont font(QStringLiteral("Arial"));
            font.setPointSize(pointSize);
            p.setFont(font);
            p.setPen(Qt::black);
            p.drawText(QPointF(8, 50), QStringLiteral("Hg 42"));
        });
        return canvas.render();
    };
    EXPECT_GT(countNotWhite(drawn), 20);
    EXPECT_EQ(drawn, reference(15));
    EXPECT_NE(drawn, reference(16));
}

TEST(Symbol2D, ShapesWithoutPenDrawNoOutlineExceptTheEllipse)
{
    // Neither pen nor brush: nothing at all.
    EXPECT_EQ(countNotWhite(drawWithSymbol([](IOrv2DSymbol& s) {
                  s.drawRect(QRectF(10, 10, 60, 40), false, false, Qt::red, 3, Qt::SolidLine, Qt::green,
                             Qt::SolidPattern);
              })),
              0);
    // Brush only: the fill and not a single outline pixel.
    const QImage filled = drawWithSymbol([](IOrv2DSymbol& s) {
        s.drawRect(QRectF(10, 10, 60, 40), false, true, Qt::red, 3, Qt::SolidLine, Qt::green, Qt::SolidPattern);
    });
    EXPECT_EQ(countColour(filled, Qt::green), 60 * 40);
    EXPECT_EQ(countNotWhite(filled), 60 * 40);
    // With the pen the outline is there.
    const QImage outlined = drawWithSymbol([](IOrv2DSymbol& s) {
        s.drawRect(QRectF(10, 10, 60, 40), true, false, Qt::red, 1, Qt::SolidLine, Qt::green, Qt::SolidPattern);
    });
    EXPECT_GT(countColour(outlined, Qt::red), 150);
    EXPECT_EQ(countColour(outlined, Qt::green), 0);

    const QPolygonF triangle({QPointF(10, 70), QPointF(60, 10), QPointF(110, 70)});
    const QImage polygon = drawWithSymbol([&](IOrv2DSymbol& s) {
        s.drawPolygon(triangle, false, true, Qt::red, 2, Qt::SolidLine, Qt::green, Qt::SolidPattern);
    });
    EXPECT_GT(countColour(polygon, Qt::green), 1000);
    EXPECT_EQ(countNotWhite(polygon), countColour(polygon, Qt::green));
    const QImage polyline = drawWithSymbol([&](IOrv2DSymbol& s) {
        s.drawPolyline(triangle, false, false, Qt::red, 2, Qt::SolidLine, Qt::green, Qt::SolidPattern);
    });
    EXPECT_EQ(countNotWhite(polyline), 0);

    // The ellipse without a pen keeps the painter's default pen: a black outline.
    const QImage ellipse = drawWithSymbol([](IOrv2DSymbol& s) {
        s.drawEllipse(QPointF(60, 40), 30, 20, false, true, Qt::red, 3, Qt::SolidLine, Qt::green, Qt::SolidPattern);
    });
    EXPECT_GT(countColour(ellipse, Qt::black), 50);
    EXPECT_GT(countColour(ellipse, Qt::green), 1000);
    EXPECT_EQ(countColour(ellipse, Qt::red), 0);
}

TEST(Symbol2D, PolygonsFillOddEven)
{
    // A five-pointed star drawn in one stroke: its centre is covered twice, so stays empty.
    QPolygonF star;
    for (int i = 0; i < 5; ++i) {
        const double a = -M_PI / 2 + i * 4 * M_PI / 5;
        star << QPointF(60 + 35 * std::cos(a), 42 + 35 * std::sin(a));
    }
    const QImage image = drawWithSymbol([&](IOrv2DSymbol& s) {
        s.drawPolygon(star, false, true, Qt::black, 1, Qt::SolidLine, Qt::blue, Qt::SolidPattern);
    });
    EXPECT_TRUE(isColour(image.pixel(60, 42), Qt::white));
    EXPECT_TRUE(isColour(image.pixel(60, 12), Qt::blue));  // inside the top point
}

TEST(Symbol2D, MarkerOfHalfSizeZeroIsOnePointSizedMark)
{
    const QImage image =
        drawWithSymbol([](IOrv2DSymbol& s) { s.drawMarker(QPointF(60, 40), Qt::red, 0.0f, 1.0f, Qt::SolidLine); });
    const int n = countColour(image, Qt::red);
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 4);
}

TEST(Symbol2D, DrawsNothingOutsideAPaintEventOrWithoutItsWidget)
{
    auto widget = std::make_unique<QWidget>();
    ref_ptr<IOrv2DSymbol> symbol = newOrv2DSymbol(widget.get());
    EXPECT_EQ(symbol->drawLine(QPointF(0, 0), QPointF(10, 10), 1, Qt::red, Qt::SolidLine), -1);
    widget.reset();
    // A symbol kept beyond its widget's life must not touch the freed widget.
    EXPECT_EQ(symbol->drawText(QPointF(0, 0), QStringLiteral("x"), 12, Qt::red, Qt::SolidLine, QString()), -1);
    EXPECT_EQ(newOrv2DSymbol(nullptr)->drawPoint(QPointF(1, 1), 1, Qt::red), -1);
}

}  // namespace
