// Objects that the host and its plug-ins hand to the views to be drawn over their content.
//
// A draw layer is registered with a view (addDrawLayer) or with the viewer manager (addObject)
// and drawn on every redraw: the 3D viewer passes view kind 0 and its screen display, the image
// viewer view kind 1 and an empty display (it draws with QPainter; the viewer's getSymbol gives
// the 2D symbol). Objects registered that are not draw layers are skipped.
//
// A rectangle layer is drawn by the image viewer as a red outline between its corners 0 and 2,
// given in widget coordinates (pixels, y down).
#pragma once

#include "OrvUIGlobal.h"
#include "ZimBase64t.h"
#include "ZimDisplay64t.h"

namespace orvUI {

class ORVUI_EXPORT IOrvDrawLayer : public ZimReferenced {
public:
    virtual int drawLayer(int view, ref_ptr<IZimDisplay> display) = 0;

protected:
    IOrvDrawLayer() noexcept;
    IOrvDrawLayer(const IOrvDrawLayer& other) noexcept;
    IOrvDrawLayer& operator=(const IOrvDrawLayer& other) noexcept;
    ~IOrvDrawLayer() override;
};

class ORVUI_EXPORT IOrvRectLayer : public ZimReferenced {
public:
    // Brings the corners up to date before they are read.
    virtual int refreshRect() = 0;
    // Corner 0 to 3, in widget coordinates (y down).
    virtual XPnt2d rectCorner(int index) = 0;

protected:
    IOrvRectLayer() noexcept;
    IOrvRectLayer(const IOrvRectLayer& other) noexcept;
    IOrvRectLayer& operator=(const IOrvRectLayer& other) noexcept;
    ~IOrvRectLayer() override;
};

}  // namespace orvUI
