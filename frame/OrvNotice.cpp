#include "OrvNotice.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>
#include <QString>
#include <QtDebug>
#include <cstdio>

namespace orvUI {

bool isHeadlessRun()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && app->property(kHeadlessProperty).toBool();
}

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

void noticeWarning(QWidget* origin, const QString& text)
{
    if (isHeadlessRun()) {
        const QByteArray bytes = text.toLocal8Bit();
        std::fprintf(stderr, "%s\n", bytes.constData());
        std::fflush(stderr);
        return;
    }
    QMessageBox::warning(origin ? origin->window() : nullptr, QString(), text, QMessageBox::Ok);
}

}  // namespace orvUI
