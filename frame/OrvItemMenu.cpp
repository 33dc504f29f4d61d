#include "OrvItemMenu.h"

#include <QAction>
#include <QMenu>

#include "OrvItemAction.h"

namespace orvUI {

bool appendItemAction(QMenu* menu, const ref_ptr<IOrvActionItem>& item, const ItemMenuTarget& target)
{
    if (!menu || !item) return false;
    const unsigned flags = item->getFlags();
    if (flags & ActionItemSeparator) {
        if (target.separators == MenuSeparators::Always || (flags & ActionItemInMenu)) menu->addSeparator();
        return true;
    }
    QAction* action = newItemAction(*item, menu);
    if (target.callbacks)
        target.callbacks->insert(action->objectName(),
                                 reinterpret_cast<OrvItemCallback>(static_cast<quintptr>(item->getUserData())));
    if (target.receiver && target.slot) QObject::connect(action, SIGNAL(triggered(bool)), target.receiver, target.slot);
    menu->addAction(action);
    return true;
}

bool appendItemMenu(QMenu* menu, const QVector<ref_ptr<IOrvActionItem>>& items, const ItemMenuTarget& target)
{
    if (!menu || items.isEmpty()) return false;
    for (const ref_ptr<IOrvActionItem>& item : items) {
        if (!item) continue;
        QVector<ref_ptr<IOrvActionItem>> children;
        item->getChildren(children);
        if (children.isEmpty())
            appendItemAction(menu, item, target);
        else
            appendItemMenu(menu->addMenu(item->getText()), children, target);
    }
    return true;
}

bool runPluginCallback(const QObject* sender, const PluginCallbacks& callbacks, bool checked)
{
    if (!sender) return false;
    const QString name = sender->objectName();
    const auto it = callbacks.constFind(name);
    if (it == callbacks.constEnd() || !it.value()) return false;
    it.value()(name, checked);
    return true;
}

}  // namespace orvUI
