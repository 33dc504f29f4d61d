// The 2D view of the current photograph: shows one image (a project image by id, an IZimImage or
// an image file) with its marks, point pairs, draw layers and the current tool's feedback, and
// reports image coordinates to its listeners. Created by the main frame and owned by its Qt
// parent; the interface pointer does not own the viewer.
//
// Screen positions are widget pixels with y counted from the bottom edge unless noted; image
// coordinates have their origin at the image's bottom-left corner with y up, normalised ones
// are divided by the image size.
#pragma once

#include <QString>
#include <QVector>

#include "IOrv2DSymbol.h"
#include "IOrvActionItem.h"
#include "OrvUIGlobal.h"
#include "ZimBase64t.h"
#include "ZimDisplay64t.h"
#include "ZimGeometry64t.h"

class QImage;
class QMenu;

namespace orvUI {

// What the viewer shows: the project image index (-1 none, 2147483647 an image loaded from a
// file) and the store level it was opened at. Both fields take part in comparisons.
struct ImageId {
    int index = -1;
    int level = 0;

    bool operator==(const ImageId& o) const { return index == o.index && level == o.level; }
    bool operator!=(const ImageId& o) const { return !(*this == o); }
};

// Told the image coordinates under the cursor on every mouse move ((0, 0) over no image) and
// every change of the shown image. Kept by raw pointer and not owned: remove it before
// destroying it.
class ORVUI_EXPORT IOrvCoordListener {
public:
    virtual void onImageCoord(double x, double y) = 0;
    // After a close the new id has index -1.
    virtual void onImageChanged(const ImageId* oldId, const ImageId* newId) = 0;

protected:
    ~IOrvCoordListener() = default;
};

class ORVUI_EXPORT IOrvImageViewer {
public:
    virtual ~IOrvImageViewer();

    // Listeners may be added more than once; remove drops the last occurrence. Both return the
    // number of listeners afterwards.
    virtual int addCoordListener(IOrvCoordListener* listener) = 0;
    virtual int removeCoordListener(IOrvCoordListener* listener) = 0;
    virtual int clearCoordListeners() = 0;
    // Objects drawn over the image, duplicates allowed; remove drops the last occurrence. Both
    // return the number of layers afterwards.
    virtual int addDrawLayer(ref_ptr<ZimReferenced> layer) = 0;
    virtual int removeDrawLayer(ref_ptr<ZimReferenced> layer) = 0;
    virtual int clearDrawLayers() = 0;
    // 0, 2 arrow, 1 cross, 3 pointing hand, 5 to 9 the size cursors; others change nothing.
    // Returns 0.
    virtual int setCursorShape(int shape) = 0;
    virtual ImageId getImageId() = 0;
    // Same as setImageId.
    virtual bool showImageId(const ImageId* id) = 0;
    // Shows the image, fitted to the window. True.
    virtual bool setImage(ref_ptr<IZimImage> image) = 0;
    virtual bool setImageFile(QString path) = 0;
    // Shows the project image, fitted to the window; true also when it is shown already. False
    // for a negative index.
    virtual bool setImageId(const ImageId* id) = 0;
    // Reads the shown project image again; nothing for a file image or none.
    virtual int reloadImage() = 0;
    // Clears the image and tells the listeners; the kernel's answer to the new selection-mark
    // count, or -1 when no image is shown.
    virtual int closeImage() = 0;
    // Normalised image coordinates of a screen point (z 0); invalid without a project,
    // (-1, 0, 0) when the image has no record.
    virtual XPnt3d screenToNormalised(double x, double y) = 0;
    // Image coordinates of a screen point (z 0); invalid without an image.
    virtual XPnt3d screenToImage(double x, double y) = 0;
    // Widget position of the image's top-left corner (y down).
    virtual XPnt2d getOrigin() = 0;
    // Normalised or image coordinates to widget pixels (y down).
    virtual XPnt2d normalisedToScreen(const XPnt2d& point) = 0;
    virtual XPnt2d imageToScreen(const XPnt2d& point) = 0;
    // (x, widget height - y).
    virtual XPnt2d flipY(const XPnt2d& point) = 0;
    // Widget pixels per image pixel; 0 without an image.
    virtual double getScale() = 0;
    virtual bool isImageId(const ImageId& id) = 0;
    // Always empty: the image viewer draws without a screen display.
    virtual ref_ptr<IZimDisplay> getDisplay() = 0;
    virtual ref_ptr<IOrv2DSymbol> getSymbol() = 0;
    virtual int fitToWindow() = 0;
    // Paints the image, its marks, the draw layers and the tool feedback.
    virtual int redraw() = 0;
    // Draws image over the area given in normalised coordinates; nothing for a null image.
    virtual int drawImagePart(QImage* image, const Enve2d& area) = 0;
    // A red marker at a normalised point with its number in the colour beside it.
    virtual int drawNumberedMark(const XPnt2d& point, int number, float textSize, float lineWidth,
                                 const ZimColor3f& colour) = 0;
    virtual int viewWidth() = 0;
    virtual int viewHeight() = 0;
    // Reserved: release the reference and return 0.
    virtual int acceptObjectA(ref_ptr<ZimReferenced> object) = 0;
    virtual int acceptObjectB(ref_ptr<ZimReferenced> object) = 0;
    virtual int acceptObjectC(ref_ptr<ZimReferenced> object) = 0;
    // Replaces the context menu by one built from the group; nothing for an empty reference.
    virtual int buildContextMenu(ref_ptr<IOrvCommonItem> group) = 0;
    // False for a null menu or an empty list.
    virtual bool fillMenu(QMenu* menu, const QVector<ref_ptr<IOrvActionItem>>& items) = 0;
    virtual bool addMenuAction(QMenu* menu, ref_ptr<IOrvActionItem> item) = 0;
    virtual int setShowMarks(bool show) = 0;
    virtual bool isShowMarks() = 0;
    virtual int setShowPairs(bool show) = 0;
    virtual bool isShowPairs() = 0;
    // Values stored for plug-ins; not read by the viewer.
    virtual int setPluginFlag(int key, long long value) = 0;
    virtual int setPluginCheck(int key, long long value) = 0;
    virtual int setPluginOwner(long long value) = 0;

protected:
    IOrvImageViewer();
    IOrvImageViewer(const IOrvImageViewer& other);
    IOrvImageViewer& operator=(const IOrvImageViewer& other);
};

}  // namespace orvUI
