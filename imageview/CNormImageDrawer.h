// The 2D work behind the image viewer: the displayed photo, its placement in the widget, the
// conversions between widget, image and normalised image coordinates, middle-button panning,
// wheel zooming about the cursor, and the painting of the photo with its frame, its number and
// the marks and point pairs of its image record.
#pragma once

#include <OrvKernel64t.h>
#include <ZimBase64t.h>
#include <ZimGeometry64t.h>

#include <QColor>
#include <QElapsedTimer>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "IOrv2DSymbol.h"
#include "IOrvImageViewer.h"
#include "NormImageGeometry.h"
#include "PhotoRenderer.h"

class QMouseEvent;
class QPainter;
class QWheelEvent;
class QWidget;

namespace orvUI {

// A mark as the photo view paints it: a red cross (half size 12 px, 1 px wide) at a widget
// position, then its number in Arial 15 in the mark's colour.
struct NumberedMark {
    XPnt2d screen;
    int number = 0;
    QColor colour;
};

// Paints the marks in order with one painter, each exactly as the 2D symbol paints a cross and
// a text. Marks whose cross and number lie wholly outside `visible` are left out: with hundreds
// of thousands of marks only those on screen cost anything.
void paintNumberedMarks(QPainter& painter, const std::vector<NumberedMark>& marks, const QRectF& visible);

// Which marks of a photo are selected: positions within 0.001 of a selected mark's, in x and in
// y. Looks up a position in constant time, however many marks are selected.
class SelectedMarkIndex {
public:
    explicit SelectedMarkIndex(const ref_ptr<MarkArray>& selected);
    bool contains(const XPnt2d& p) const;

private:
    static std::int64_t cell(double v);
    static std::uint64_t key(std::int64_t cx, std::int64_t cy);
    std::unordered_multimap<std::uint64_t, XPnt2d> m_cells;
};

class CNormImageDrawer : public ZimReferenced {
public:
    // First id int of an image that was loaded from a file.
    static constexpr int kFileImageIndex = 2147483647;
    // Longer side, in pixels, of the largest picture held for display. Larger photos are decoded
    // at a reduced size (their coordinates stay those of the full photo), so a 20000 x 15000
    // photo costs about 200 MB instead of several GB.
    static constexpr int kDefaultMaxPictureSide = 8192;
    // How long after the last pan or zoom step the view counts as still and is painted smoothly.
    static constexpr int kSettleMs = 200;

    CNormImageDrawer();

    // Hooks for drawers that add behaviour; these do nothing.
    virtual int onBeginPaint();
    virtual int onEndPaint();
    virtual int onImageReplaced();
    // Middle-button panning: each answers true (and accepts the event) when it handled it.
    virtual bool mousePress(QMouseEvent* event);
    virtual bool mouseRelease(QMouseEvent* event);
    virtual bool mouseMove(QMouseEvent* event);
    // Zooms about the cursor; the event is accepted.
    virtual bool wheel(QWheelEvent* event);
    // Centres the photo at its scale (after a resize).
    virtual void recentre();

    // ---- image loading; each answers false with a reason in *error and keeps the photo shown
    // ---- before when the new one cannot be had

    void setWidget(QWidget* widget);
    QWidget* widget() const { return m_widget.data(); }
    // Shows an image given in memory; the image id is left unchanged.
    bool setImage(ref_ptr<IZimImage> image, QString* error = nullptr);
    // Shows an image file; its id becomes kFileImageIndex.
    bool loadImageFile(const QString& path, QString* error = nullptr);
    // Shows a project image at the photograph level and makes it the current image. A negative
    // index is ignored (false, no error).
    bool setImageIndex(const ImageId& id, QString* error = nullptr);
    // Reads the shown project image again; false for a file image or none.
    bool reloadImage(QString* error = nullptr);
    void clearImage();
    // A photo is shown and can be painted: a widget, a picture and an image id >= 0, and for a
    // project image an open project with its image store. A file image needs no project.
    bool isValid() const;

    // Longer side of the largest picture held (see kDefaultMaxPictureSide).
    void setMaxPictureSide(int side) { m_maxPictureSide = side > 0 ? side : kDefaultMaxPictureSide; }
    int maxPictureSide() const { return m_maxPictureSide; }

    // ---- geometry and queries

    void fitToWindow();
    ImageId getImageId() const { return m_id; }
    bool isImageId(const ImageId& id) const { return m_id == id; }
    XPnt2d getOrigin() const { return m_geometry.origin(); }
    double getScale() const { return isValid() ? m_geometry.scale() : 0.0; }
    XPnt2d imageSize() const { return m_geometry.imageSize(); }
    bool isShowMarks() const { return m_showMarks; }
    void setShowMarks(bool show) { m_showMarks = show; }
    bool isShowPairs() const { return m_showPairs; }
    void setShowPairs(bool show) { m_showPairs = show; }
    ref_ptr<IOrv2DSymbol> getSymbol() const { return m_symbol; }
    const NormImageGeometry& geometry() const;
    const PhotoRenderer& renderer() const { return m_renderer; }
    bool isDragging() const { return m_dragging; }
    // True when no pan or zoom has happened for kSettleMs.
    bool isStill() const;

    // Screen position (y up from the bottom edge) to image coordinates (z 0); an invalid point
    // without a valid photo.
    XPnt3d screenToImage(double x, double y) const;
    // Image or normalised image coordinates to widget coordinates (y down).
    XPnt2d imageToScreen(const XPnt2d& image) const;
    XPnt2d normalisedToScreen(const XPnt2d& normalised) const;

    // ---- drawing, from the widget's paint event only

    // The photo, then (for a project image) its number, frame, marks, point pairs and tracks.
    int paintImage();
    // Draws an image over the area given in normalised coordinates (min x, max x, min y, max y).
    int drawImagePart(const QImage& image, const Enve2d& area);
    // A red marker at a normalised point with its number in the colour beside it.
    int drawNumberedMark(const XPnt2d& point, int number, const QColor& colour, float textSize, float lineWidth,
                         float markerSize);

protected:
    ~CNormImageDrawer() override;

private:
    // Keeps the geometry's widget size in step with the widget.
    void syncWidgetSize() const;
    // The image store of the open project, null without one.
    static ref_ptr<IZimImageStore> imageStore();
    // Reads a project image's photograph (level 2) into a display picture.
    bool readProjectPicture(int index, QImage* picture, QSize* size, QString* error) const;
    // Converts an image into a display picture no larger than the maximum side.
    bool pictureFromImage(const ref_ptr<IZimImage>& image, QImage* picture, QString* error) const;
    void replacePicture(const QImage& picture, const QSize& imageSize);
    void noteMotion();
    void updateWidget();

    ImageId m_id;
    PhotoRenderer m_renderer;
    mutable NormImageGeometry m_geometry;
    XPnt2d m_dragAnchor{0, 0};
    bool m_dragging = false;
    bool m_showMarks = true;
    bool m_showPairs = true;
    QPointer<QWidget> m_widget;
    ref_ptr<IOrv2DSymbol> m_symbol;
    int m_maxPictureSide = kDefaultMaxPictureSide;
    QElapsedTimer m_sinceMotion;
    QTimer m_settle;
};

ref_ptr<CNormImageDrawer> newNormImageDrawer();

}  // namespace orvUI
