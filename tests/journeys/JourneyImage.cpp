#include "JourneyImage.h"

#include <QVector>
#include <algorithm>
#include <cstdlib>

namespace journey {

namespace {

bool near(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QImage rgb(const QImage& image)
{
    return image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
               ? image
               : image.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

double changedShare(const QImage& a, const QImage& b, const QRect& region, int tolerance)
{
    if (region.isEmpty()) return 0.0;
    const QImage ia = rgb(a), ib = rgb(b);
    const QRect inside = region & ia.rect() & ib.rect();
    const qint64 total = qint64(region.width()) * region.height();
    qint64 changed = total - qint64(inside.width()) * inside.height();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const auto* ra = reinterpret_cast<const QRgb*>(ia.constScanLine(y));
        const auto* rb = reinterpret_cast<const QRgb*>(ib.constScanLine(y));
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (!near(ra[x], rb[x], tolerance)) ++changed;
    }
    return double(changed) / double(total);
}

double shareUnlike(const QImage& image, const QRect& region, QColor colour, int tolerance)
{
    const QImage im = rgb(image);
    const QRect inside = region & im.rect();
    if (inside.isEmpty()) return 0.0;
    const QRgb c = colour.rgb();
    qint64 unlike = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(im.constScanLine(y));
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (!near(row[x], c, tolerance)) ++unlike;
    }
    return double(unlike) / (double(inside.width()) * inside.height());
}

QRect boundsUnlike(const QImage& image, const QRect& region, QColor colour, int tolerance)
{
    const QImage im = rgb(image);
    const QRect inside = region & im.rect();
    const QRgb c = colour.rgb();
    int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(im.constScanLine(y));
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (!near(row[x], c, tolerance)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

QVector<Run> colourRuns(const QImage& image, int y, int minWidth, int tolerance)
{
    QVector<Run> runs;
    const QImage im = rgb(image);
    if (y < 0 || y >= im.height()) return runs;
    const auto* row = reinterpret_cast<const QRgb*>(im.constScanLine(y));
    int start = 0;
    for (int x = 1; x <= im.width(); ++x) {
        if (x < im.width() && near(row[x], row[start], tolerance)) continue;
        if (x - start >= minWidth) runs.append(Run{start, x - 1, QColor(row[start])});
        start = x;
    }
    return runs;
}

namespace {

// The layout as seen on one row of the picture; invalid when the row does not show it.
HostLayout layoutOnRow(const QImage& im, int row)
{
    HostLayout layout;
    const int w = im.width(), h = im.height();
    const QVector<Run> runs = colourRuns(im, row, 4);
    int best = -1;
    for (int i = 0; i < runs.size(); ++i) {
        const int middle = (runs[i].left + runs[i].right) / 2;
        if (middle < w * 15 / 100 || middle > w * 60 / 100 || runs[i].width() < w / 8) continue;
        if (best < 0 || runs[i].width() > runs[best].width()) best = i;
    }
    if (best < 0) return layout;
    const Run view = runs[best];
    const QRgb bg = view.colour.rgb();
    const int column = view.left + 2;
    int top = row, bottom = row;
    while (top > 0 && near(im.pixel(column, top - 1), bg, 3)) --top;
    while (bottom + 1 < h && near(im.pixel(column, bottom + 1), bg, 3)) ++bottom;
    layout.view3D = QRect(QPoint(view.left, top), QPoint(view.right, bottom));
    layout.background3D = view.colour;
    // The photo view: the first wide run after the splitter right of the 3D view (a view that
    // touches the 3D view directly is no photo view: without a splitter there is none).
    for (int i = best + 1; i < runs.size(); ++i)
        if (runs[i].left - view.right > 2 && runs[i].left - view.right < 20 && runs[i].width() >= w / 8) {
            layout.photoView = QRect(QPoint(runs[i].left, top), QPoint(runs[i].right, bottom));
            break;
        }
    layout.leftDock = QRect(QPoint(0, top), QPoint(std::max(0, view.left - 8), bottom));
    if (layout.photoView.isValid())
        layout.rightDock = QRect(QPoint(std::min(w - 1, layout.photoView.right() + 4), top), QPoint(w - 1, bottom));
    return layout;
}

}  // namespace

HostLayout findHostLayout(const QImage& screen)
{
    const QImage im = rgb(screen);
    if (im.width() < 400 || im.height() < 300) return HostLayout();
    // Rows a little above the status bar first: the views reach down to them, their content
    // rarely does; where a mesh covers one row, a row higher up shows the view's whole width.
    HostLayout first;
    for (int row = im.height() - 40; row > im.height() / 2; row -= 25) {
        const HostLayout layout = layoutOnRow(im, row);
        if (layout.valid()) return layout;
        if (!first.view3D.isValid()) first = layout;
    }
    return first;
}

Band findHighlightBand(const QImage& image, int x, int top, int bottom)
{
    Band band;
    const QImage im = rgb(image);
    if (x < 0 || x >= im.width()) return band;
    auto highlighted = [&](int y) {
        const QRgb p = im.pixel(x, y);
        const int hi = std::max({qRed(p), qGreen(p), qBlue(p)});
        const int lo = std::min({qRed(p), qGreen(p), qBlue(p)});
        return hi - lo >= 80;
    };
    top = std::max(0, top);
    bottom = std::min(im.height() - 1, bottom);
    int y = top;
    while (y <= bottom && !highlighted(y)) ++y;
    if (y > bottom) return band;
    band.top = y;
    while (y + 1 <= bottom && highlighted(y + 1)) ++y;
    band.bottom = y;
    return band;
}

}  // namespace journey
