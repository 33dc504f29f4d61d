// Entry points of the UI library. A host includes this header, calls getVM() for the viewer
// manager and builds its window through it. Everything not declared with ORVUI_EXPORT is internal.
#pragma once

#include <ZimGeometry64t.h>

#include <QString>
#include <QStringList>

#include "IOrv2DSymbol.h"
#include "IOrvActionItem.h"
#include "IOrvViewerMan.h"
#include "OrvUIGlobal.h"

class QKeyEvent;
class QMouseEvent;
class QWheelEvent;
class QWidget;

namespace orvUI {

// The process-wide viewer manager, made on the first call (GUI thread). Empty only when it could
// not be allocated; the next call tries again.
ORVUI_EXPORT ref_ptr<IOrvViewerMan> getVM();

// Menu and toolbar descriptions. newActionItem copies the record (and builds children from its
// sub-item array), so the caller's records may be freed afterwards. Empty on allocation failure.
ORVUI_EXPORT ref_ptr<IOrvActionItem> newActionItem(const _ActionItemInfo_& info, int kind);
ORVUI_EXPORT ref_ptr<IOrvCommonItem> newCommonItem(const _CommonItemInfo_& info,
                                                   const QVector<ref_ptr<IOrvActionItem>>& items);
// Screen-space drawing over a widget.
ORVUI_EXPORT ref_ptr<IOrv2DSymbol> newOrv2DSymbol(QWidget* parent);
// Uploads a region of an image as the current OpenGL texture; a status value.
ORVUI_EXPORT long initTexture(IZimImage* image, Enve2d area, bool flag);

class ZimGlobeViewState;
// The one shared globe view state of the library (pick request of the 3D viewers), made on the
// first call; view3d/OrvViewState.h defines it.
ORVUI_EXPORT ref_ptr<ZimGlobeViewState> getGlobeViewState();

// Multi-selection open dialog for photos over the main frame; empty when cancelled.
ORVUI_EXPORT QStringList fileDlgImgs();
// With open true, a single-file open dialog ("Open WorkSpace") with the given filter, parent and
// start directory; empty when cancelled. With open false nothing is shown and the result is empty.
ORVUI_EXPORT QString fileDlgXXXFile(bool open, const QString& filter, QWidget* parent, QString dir);

// The host's current language index (0 at load). The library never reads or writes it.
ORVUI_EXPORT int& getCurLge();

// Key flags. Modifiers come from the application's keyboard state at the time of the call and
// are compared as a whole: Control, Shift or Alt held alone give their flag, anything else none.
// At most one button flag (priority right, middle, left, from the buttons held during the event)
// and at most one modifier flag are set.
//
// getKeyFlag: the modifier flag, replaced by the pressed key's own flag when the key is Control,
// Shift or Alt (so pressing or releasing a modifier reports it).
ORVUI_EXPORT ZimKey getKeyFlag(QKeyEvent* event);
// Key and wheel events give the modifier flag alone; mouse events add their button flag.
ORVUI_EXPORT ZimKey getQtFlag(QKeyEvent* event);
ORVUI_EXPORT ZimKey getQtFlag(QMouseEvent* event);
ORVUI_EXPORT ZimKey getQtFlag(QWheelEvent* event);

}  // namespace orvUI

namespace zim {
// Selection marks on the meshes being worked on: the current mesh alone when the 3D viewer's
// current-mesh-only flag is set, else every awake mesh the kernel lists.
ORVUI_EXPORT unsigned long long getSelMarkCount();
}  // namespace zim
