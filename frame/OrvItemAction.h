// The QAction that menus, toolbars and context menus make from an action item: its text, object
// name (the command key), checkable and checked state, icon, shortcut and tool tip. Who made it
// connects its triggered(bool) and keeps the item's user data.
#pragma once

#include "IOrvActionItem.h"

class QAction;
class QObject;

namespace orvUI {

// The icon is read from the application directory + "/" + the item's icon path; a path that
// names no file leaves the action without icon.
QAction* newItemAction(const IOrvActionItem& item, QObject* parent);

}  // namespace orvUI
