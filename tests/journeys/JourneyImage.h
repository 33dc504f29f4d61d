// What the journeys read from screenshots: how much of a region changed between two pictures,
// and where the host's views are in a picture of its maximised window.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

namespace journey {

// The share (0..1) of the pixels of `region` whose colour differs between `a` and `b` by more
// than `tolerance` in some channel. Parts of the region outside either picture count as changed.
double changedShare(const QImage& a, const QImage& b, const QRect& region, int tolerance = 6);

// The share of the pixels of `region` in `image` that differ from `colour` by more than
// `tolerance` in some channel.
double shareUnlike(const QImage& image, const QRect& region, QColor colour, int tolerance = 12);

// The bounding box of the pixels of `region` that differ from `colour` (empty when none do).
QRect boundsUnlike(const QImage& image, const QRect& region, QColor colour, int tolerance = 12);

// A horizontal run of one colour on a row of a picture.
struct Run {
    int left = 0;
    int right = -1;  // inclusive
    QColor colour;
    int width() const { return right - left + 1; }
};

// The runs of (nearly) one colour, at least `minWidth` wide, on row `y` of `image`, left to
// right.
QVector<Run> colourRuns(const QImage& image, int y, int minWidth, int tolerance = 3);

// Where the host's panes are in a picture of its maximised window.
struct HostLayout {
    QRect view3D;  // the 3D view
    QColor background3D;
    QRect photoView;  // the image viewer beside it
    QRect leftDock;   // everything left of the 3D view, from its top to its bottom
    QRect rightDock;  // everything right of the photo view
    bool valid() const { return view3D.isValid() && photoView.isValid(); }
};

// The 3D view is the widest run of one colour on a row near the bottom of the window whose
// middle lies in the left 15..60 % of the screen (the docks are narrower, and the photo view is
// right of it); its height is how far its colour goes up and down at its left edge. The photo
// view is the next wide run after the splitter, as tall as the 3D view. Rows higher up are
// tried when content hides the views on the lowest one.
HostLayout findHostLayout(const QImage& screen);

// The rows (top..bottom, inclusive) of the first band of highlight colour in column `x` between
// `top` and `bottom`: the selected row of a tree or list. Highlight is a strongly saturated
// colour, unlike the greys of the panels. Empty (top > bottom) when there is none.
struct Band {
    int top = 0;
    int bottom = -1;
    bool valid() const { return bottom >= top; }
    int middle() const { return (top + bottom) / 2; }
};
Band findHighlightBand(const QImage& image, int x, int top, int bottom);

}  // namespace journey
