// Dockable panel of the main frame. Created by the main frame under an integer id and owned by
// it as a Qt child; the host fills it with a view handed over by native window id.
#pragma once

#include <QtGui/qwindowdefs.h>

#include "OrvUIGlobal.h"

namespace orvUI {

class ORVUI_EXPORT IOrvDockWidget {
public:
    virtual ~IOrvDockWidget();

    // Deletes the widget the dock holds, then adopts the widget with that native id; 0 only
    // empties the dock. False when no widget has the id (the dock is then empty).
    virtual bool setContent(WId winId) = 0;
    // Shows the dock and raises it above its tab siblings.
    virtual void bringToFront() = 0;
    virtual int getId() = 0;
    virtual void setId(int id) = 0;

protected:
    IOrvDockWidget();
    // The id belongs to the concrete dock (getId/setId); the value is not kept here.
    explicit IOrvDockWidget(long id);
    IOrvDockWidget(const IOrvDockWidget& other);
    IOrvDockWidget& operator=(const IOrvDockWidget& other);
};

}  // namespace orvUI
