// The marks of the photo view painted with one painter: the very pixels the 2D symbol paints
// cross by cross and number by number (marks off screen left out change nothing), and the
// selected-mark lookup that decides their colour, against the plain search it replaces.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <cmath>

#include "CNormImageDrawer.h"
#include "COrv2DSymbol.h"

using namespace orvUI;

namespace {

// Each mark as the symbol draws it: a painter of its own for the cross, another for the number.
void paintOneByOne(QImage& image, const std::vector<NumberedMark>& marks)
{
    for (const NumberedMark& m : marks) {
        {
            QPainter p(&image);
            p.setPen(COrv2DSymbol::makePen(Qt::red, 1.0f, Qt::SolidLine));
            p.drawLine(QPointF(m.screen.x - 12, m.screen.y), QPointF(m.screen.x + 12, m.screen.y));
            p.drawLine(QPointF(m.screen.x, m.screen.y - 12), QPointF(m.screen.x, m.screen.y + 12));
        }
        QPainter p(&image);
        p.setFont(COrv2DSymbol::makeFont(15));
        p.setPen(QPen(m.colour));
        p.drawText(QPointF(m.screen.x, m.screen.y), QString::number(m.number));
    }
}

QImage canvas()
{
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(QColor(40, 60, 80));
    return image;
}

TEST(PhotoMarks, OnePainterPaintsWhatOnePainterPerMarkPainted)
{
    QRandomGenerator rng(17);
    std::vector<NumberedMark> marks;
    const QColor colours[] = {Qt::green, Qt::blue, Qt::yellow, Qt::cyan};
    // Inside, across every edge, and far off in every direction; numbers of 1 to 6 digits.
    for (int i = 0; i < 600; ++i) {
        const double x = rng.bounded(-400.0) + rng.bounded(1120.0) - 360;
        const double y = rng.bounded(-300.0) + rng.bounded(840.0) - 270;
        marks.push_back({XPnt2d(x, y), 1 + int(rng.bounded(200000)) / (1 + i % 5 * 997), colours[i % 4]});
    }
    for (const XPnt2d& edge : {XPnt2d(-10, 100), XPnt2d(-70, 100), XPnt2d(330, 10), XPnt2d(100, -14), XPnt2d(100, 250),
                               XPnt2d(-13, -13), XPnt2d(318, 238)})
        marks.push_back({edge, 123456, Qt::green});
    QImage expected = canvas();
    paintOneByOne(expected, marks);
    QImage painted = canvas();
    {
        QPainter p(&painted);
        paintNumberedMarks(p, marks, QRectF(painted.rect()));
    }
    ASSERT_EQ(painted.size(), expected.size());
    int differ = 0;
    for (int y = 0; y < painted.height(); ++y)
        for (int x = 0; x < painted.width(); ++x) differ += painted.pixel(x, y) != expected.pixel(x, y);
    EXPECT_EQ(differ, 0);
    // Something was painted at all (the test would pass on two untouched canvases).
    EXPECT_NE(painted, canvas());
}

TEST(PhotoMarks, TheSelectedLookupFindsWhatTheSearchFound)
{
    ref_ptr<MarkArray> selected(new MarkArray());
    QRandomGenerator rng(5);
    for (int i = 0; i < 400; ++i) {
        MarkRecord m;
        m.uv = XPnt2d(rng.generateDouble(), rng.generateDouble());
        selected->append(m);
    }
    MarkRecord unplaced;  // (-1, -1): no photo position
    selected->append(unplaced);
    const SelectedMarkIndex index(selected);
    auto search = [&](const XPnt2d& p) {
        for (const MarkRecord& s : *selected)
            if (std::fabs(s.uv.x - p.x) <= 0.001 && std::fabs(s.uv.y - p.y) <= 0.001) return true;
        return false;
    };
    int found = 0;
    for (int i = 0; i < 4000; ++i) {
        // Half of them near a selected mark (within or just beyond the tolerance), half anywhere.
        XPnt2d p(rng.generateDouble(), rng.generateDouble());
        if (i % 2 == 0) {
            const XPnt2d& s = selected->at(i % 400).uv;
            p = XPnt2d(s.x + (rng.generateDouble() - 0.5) * 0.0024, s.y + (rng.generateDouble() - 0.5) * 0.0024);
        }
        ASSERT_EQ(index.contains(p), search(p)) << p.x << ", " << p.y;
        found += search(p);
    }
    EXPECT_GT(found, 500);
    EXPECT_TRUE(index.contains(XPnt2d(-1, -1)));
    EXPECT_FALSE(SelectedMarkIndex(nullptr).contains(XPnt2d(0.5, 0.5)));
}

}  // namespace
