#include "OrvPluginMenu.h"

#include "OrvItemAction.h"

#include <QAction>
#include <QMenu>

namespace orvUI {

void appendPluginItems(QMenu* menu, const QVector<ref_ptr<IOrvActionItem>>& items, QObject* receiver,
                       const char* slot, PluginCallbacks& callbacks)
{
    for (const ref_ptr<IOrvActionItem>& item : items) {
        if (!item) continue;
        QVector<ref_ptr<IOrvActionItem>> children;
        item->getChildren(children);
        if (!children.isEmpty()) {
            QMenu* sub = menu->addMenu(item->getText());
            appendPluginItems(sub, children, receiver, slot, callbacks);
            continue;
        }
        if (item->getFlags() & ActionItemSeparator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = newItemAction(*item, menu);
        callbacks.insert(item->getName(), reinterpret_cast<OrvItemCallback>(item->getUserData()));
        QObject::connect(action, SIGNAL(triggered(bool)), receiver, slot);
        menu->addAction(action);
    }
}

bool runPluginCallback(QObject* sender, const PluginCallbacks& callbacks, bool checked)
{
    if (!sender) return false;
    const QString name = sender->objectName();
    auto it = callbacks.constFind(name);
    if (it == callbacks.constEnd() || !it.value()) return false;
    it.value()(name, checked);
    return true;
}

}  // namespace orvUI
