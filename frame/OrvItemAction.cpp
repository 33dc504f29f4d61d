#include "OrvItemAction.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QIcon>
#include <QKeySequence>

namespace orvUI {

QAction* newItemAction(const IOrvActionItem& item, QObject* parent)
{
    auto* action = new QAction(item.getText(), parent);
    action->setObjectName(item.getName());
    if (item.isCheckable()) {
        action->setCheckable(true);
        action->setChecked(item.isChecked());
    }
    const QString icon = item.getIcon();
    const QString iconPath = QCoreApplication::applicationDirPath() + QLatin1Char('/') + icon;
    if (!icon.isEmpty() && QFileInfo(iconPath).isFile()) action->setIcon(QIcon(iconPath));
    const QString shortcut = item.getShortcut();
    if (!shortcut.isEmpty()) action->setShortcut(QKeySequence(shortcut, QKeySequence::NativeText));
    const QString toolTip = item.getToolTip();
    if (!toolTip.isEmpty()) action->setToolTip(toolTip);
    return action;
}

}  // namespace orvUI
