#include "COrvDockWidget.h"

namespace orvUI {

COrvDockWidget::COrvDockWidget(int id) : QDockWidget(nullptr), IOrvDockWidget(long(id)), m_id(id) {}

COrvDockWidget::~COrvDockWidget() = default;

bool COrvDockWidget::setContent(WId winId)
{
    QWidget* held = widget();
    // Handing the dock its own content again keeps it: deleting it first would lose the view.
    if (held && winId != 0 && held->internalWinId() == winId) return true;
    if (held) {
        setWidget(nullptr);
        delete held;
    }
    if (winId == 0) return true;
    QWidget* found = QWidget::find(winId);
    if (!found) return false;
    // The dock itself or a window it lives in cannot become its content.
    for (const QWidget* w = this; w; w = w->parentWidget())
        if (w == found) return false;
    found->setParent(this);
    setWidget(found);
    // Re-parenting hides a widget that was shown elsewhere; in the dock it is shown again.
    found->show();
    return true;
}

void COrvDockWidget::bringToFront()
{
    show();
    raise();
}

int COrvDockWidget::getId() { return m_id; }
void COrvDockWidget::setId(int id) { m_id = id; }

}  // namespace orvUI
