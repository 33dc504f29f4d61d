// Fills a context menu from a plug-in's command group: sub-menus for items with children,
// separators, and checkable actions whose user data is the plug-in's callback.
#pragma once

#include "IOrvActionItem.h"

#include <QMap>
#include <QString>
#include <QVector>

class QMenu;
class QObject;

namespace orvUI {

using PluginCallbacks = QMap<QString, OrvItemCallback>;

// Appends the items to the menu. Every action's triggered(bool) goes to the receiver's slot;
// the user data of each action is entered in callbacks under the action's object name.
void appendPluginItems(QMenu* menu, const QVector<ref_ptr<IOrvActionItem>>& items, QObject* receiver,
                       const char* slot, PluginCallbacks& callbacks);

// Runs the callback registered under the sending action's object name; false when none.
bool runPluginCallback(QObject* sender, const PluginCallbacks& callbacks, bool checked);

}  // namespace orvUI
