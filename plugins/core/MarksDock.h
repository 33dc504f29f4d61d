// The "Marks" panel: a table of the current photo's marks (id, photo position in pixels, 3D
// point, distance from where the last solved camera puts it, enabled) that follows the marks
// editor. Choosing a row selects the mark in the editor and the editor's selection chooses the
// row; the check box enables or disables a mark and Delete removes the chosen one, each one undo
// step through the editor.
#pragma once

#include <QWidget>

class QTableWidget;
class QTableWidgetItem;

namespace orvCore {

class MarksDock : public QWidget {
    Q_OBJECT
public:
    enum Column { ColumnId = 0, ColumnPhoto, ColumnPoint, ColumnResidual, ColumnEnabled, ColumnCount };

    explicit MarksDock(QWidget* parent = nullptr);
    ~MarksDock() override;

    QTableWidget* table() const { return m_table; }
    // The row of a mark, -1 when the table has none; the mark of a row, -1 for none.
    int rowOf(int id) const;
    int idAt(int row) const;
    // Fills the table again from the editor's photo and marks.
    void refill();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onSelectionChanged();
    void onItemChanged(QTableWidgetItem* item);

    QTableWidget* m_table = nullptr;
    bool m_filling = false;
};

}  // namespace orvCore
