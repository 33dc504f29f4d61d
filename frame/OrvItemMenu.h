// Menus from action items: the one builder of every view's context menu. Items with children
// become sub-menus titled with the item's text, separator items become separator lines (when the
// view's rule says so), every other item an action (newItemAction) whose triggered(bool) goes to
// the view's slot and whose user data, the plug-in's callback, is kept under its object name.
#pragma once

#include <QMap>
#include <QString>
#include <QVector>

#include "IOrvActionItem.h"

class QMenu;
class QObject;

namespace orvUI {

// Which items flagged ActionItemSeparator become separator lines.
enum class MenuSeparators {
    Always,      // every one
    InMenuOnly,  // only those also flagged ActionItemInMenu; the others add nothing
};

// The callbacks of a menu's actions, under the actions' object names (the items' names).
using PluginCallbacks = QMap<QString, OrvItemCallback>;

// Where the actions of a menu report: receiver's slot (a SLOT(name(bool)) signature) gets every
// action's triggered(bool); callbacks collects the items' user data.
struct ItemMenuTarget {
    QObject* receiver = nullptr;
    const char* slot = nullptr;
    PluginCallbacks* callbacks = nullptr;
    MenuSeparators separators = MenuSeparators::Always;
};

// Appends one item without looking at its children: a separator line or an action. False for a
// null menu or item.
bool appendItemAction(QMenu* menu, const ref_ptr<IOrvActionItem>& item, const ItemMenuTarget& target);
// Appends the items in order, null ones skipped, with a sub-menu for each item that has
// children. False for a null menu or an empty list.
bool appendItemMenu(QMenu* menu, const QVector<ref_ptr<IOrvActionItem>>& items, const ItemMenuTarget& target);

// Runs the callback kept under the sending action's object name; false when there is none.
bool runPluginCallback(const QObject* sender, const PluginCallbacks& callbacks, bool checked);

}  // namespace orvUI
