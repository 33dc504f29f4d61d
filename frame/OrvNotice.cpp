#include "OrvNotice.h"

#include <QMainWindow>
#include <QStatusBar>
#include <QString>
#include <QtDebug>

namespace orvUI {

bool noticeFailure(QWidget* origin, const QString& text)
{
    // A floating dock is still a child of its main window, so the parent chain finds it.
    QMainWindow* window = nullptr;
    for (QWidget* w = origin; w && !window; w = w->parentWidget()) window = qobject_cast<QMainWindow*>(w);
    if (window && window->isVisible()) {
        window->statusBar()->showMessage(text, kNoticeTimeoutMs);
        return true;
    }
    qWarning().noquote() << text;
    return false;
}

}  // namespace orvUI
