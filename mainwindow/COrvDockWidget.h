// Dockable panel of the main frame, filled with a view handed over by native window id.
#pragma once

#include <QDockWidget>
#include <cstdint>

#include "IOrvDockWidget.h"

namespace orvUI {

class COrvDockWidget : public QDockWidget, public IOrvDockWidget {
    Q_OBJECT
public:
    // No parent: the main window adopts the dock when it adds it.
    explicit COrvDockWidget(int id);
    ~COrvDockWidget() override;

    bool setContent(WId winId) override;
    void bringToFront() override;
    int getId() override;
    void setId(int id) override;

private:
    std::int32_t m_id;
};

}  // namespace orvUI
