#include "OrvPluginMenu.h"

#include <QAction>
#include <QFileInfo>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>

namespace orvUI {

void appendPluginItems(QMenu* menu, const QVector<ref_ptr<IOrvActionItem>>& items, QObject* receiver,
                       const char* slot, PluginCallbacks& callbacks, const QString& appDir)
{
    for (const ref_ptr<IOrvActionItem>& item : items) {
        if (!item) continue;
        QVector<ref_ptr<IOrvActionItem>> children;
        item->getChildren(children);
        if (!children.isEmpty()) {
            QMenu* sub = menu->addMenu(item->getText());
            appendPluginItems(sub, children, receiver, slot, callbacks, appDir);
            continue;
        }
        if (item->getFlags() & ActionItemSeparator) {
            menu->addSeparator();
            continue;
        }
        auto* action = new QAction(item->getText(), menu);
        action->setObjectName(item->getName());
        action->setCheckable(item->isCheckable());
        action->setChecked(item->isChecked());
        const QString icon = item->getIcon();
        if (!icon.isEmpty()) {
            const QString file = appDir + QLatin1Char('/') + icon;
            if (QFileInfo::exists(file)) action->setIcon(QIcon(file));
        }
        if (!item->getShortcut().isEmpty()) action->setShortcut(QKeySequence(item->getShortcut()));
        if (!item->getToolTip().isEmpty()) action->setToolTip(item->getToolTip());
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
