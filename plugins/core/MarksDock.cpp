#include "MarksDock.h"

#include <IOrvViewerMan.h>
#include <OrvUIElements64t.h>

#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "CoreUi.h"
#include "MarksEditor.h"
#include "PhotoMapping.h"

namespace orvCore {

namespace {

QTableWidgetItem* textItem(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

}  // namespace

MarksDock::MarksDock(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MarksDock"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("MarksTable"));
    m_table->setHorizontalHeaderLabels({tr("Id"), tr("Photo (px)"), tr("3D point"), tr("Residual (px)"), tr("On")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setToolTip(
        tr("The marks of the current photograph. Untick a mark to leave it out of the next "
           "mapping; Delete removes the chosen mark."));
    m_table->installEventFilter(this);
    layout->addWidget(m_table);

    connect(m_table, &QTableWidget::itemSelectionChanged, this, &MarksDock::onSelectionChanged);
    connect(m_table, &QTableWidget::itemChanged, this, &MarksDock::onItemChanged);
    MarksEditor* editor = MarksEditor::instance();
    connect(editor, &MarksEditor::changed, this, &MarksDock::refill);
    editor->refresh();
    refill();
}

MarksDock::~MarksDock() = default;

int MarksDock::rowOf(int id) const
{
    for (int row = 0; row < m_table->rowCount(); ++row)
        if (idAt(row) == id) return row;
    return -1;
}

int MarksDock::idAt(int row) const
{
    const QTableWidgetItem* item = row >= 0 && row < m_table->rowCount() ? m_table->item(row, ColumnId) : nullptr;
    return item ? item->data(Qt::UserRole).toInt() : -1;
}

void MarksDock::refill()
{
    MarksEditor* editor = MarksEditor::instance();
    ref_ptr<IZimMM> mm = projectModel();
    const int index = editor->imageIndex();
    const QVector<orvmap::PhotoMark> marks = index >= 0 ? editor->marks() : QVector<orvmap::PhotoMark>();
    const QSize size = orvmap::photoSize(mm.get(), index);
    // The residuals of the camera solved last, by mark id.
    QHash<int, ZimMarkResidual> residuals;
    ZimPhotoCamera camera;
    if (mm && index >= 0 && mm->getImageCamera(index, camera) == 0)
        for (const ZimMarkResidual& r : camera.residuals) residuals.insert(r.id, r);

    m_filling = true;
    const QSignalBlocker block(m_table);
    m_table->setRowCount(marks.size());
    for (int row = 0; row < marks.size(); ++row) {
        const orvmap::PhotoMark& m = marks[row];
        QTableWidgetItem* id = textItem(QString::number(m.record.id));
        id->setData(Qt::UserRole, m.record.id);
        m_table->setItem(row, ColumnId, id);

        QString photo;
        if (m.hasPhotoPosition() && !size.isEmpty())
            photo = QStringLiteral("%1, %2")
                        .arg(m.record.uv.x * size.width(), 0, 'f', 1)
                        .arg((1.0 - m.record.uv.y) * size.height(), 0, 'f', 1);
        m_table->setItem(row, ColumnPhoto, textItem(photo));

        QString point;
        if (m.hasPoint())
            point = QStringLiteral("%1, %2, %3")
                        .arg(m.record.point.x, 0, 'f', 3)
                        .arg(m.record.point.y, 0, 'f', 3)
                        .arg(m.record.point.z, 0, 'f', 3);
        m_table->setItem(row, ColumnPoint, textItem(point));

        QTableWidgetItem* residual = textItem(QString());
        const auto found = residuals.constFind(m.record.id);
        if (found != residuals.constEnd() && std::isfinite(found->pixels)) {
            residual->setText(QString::number(found->pixels, 'f', 2));
            if (!found->used) {
                residual->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
                residual->setToolTip(tr("Left out of the last mapping"));
            }
        }
        m_table->setItem(row, ColumnResidual, residual);

        auto* enabled = new QTableWidgetItem;
        enabled->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        enabled->setCheckState(m.enabled ? Qt::Checked : Qt::Unchecked);
        m_table->setItem(row, ColumnEnabled, enabled);
    }
    const int selected = rowOf(editor->selectedId());
    if (selected >= 0) {
        m_table->selectRow(selected);
        m_table->scrollToItem(m_table->item(selected, ColumnId));
    } else {
        m_table->clearSelection();
    }
    m_filling = false;
}

void MarksDock::onSelectionChanged()
{
    if (m_filling) return;
    const QList<QTableWidgetItem*> items = m_table->selectedItems();
    const int id = items.isEmpty() ? -1 : idAt(items.first()->row());
    MarksEditor* editor = MarksEditor::instance();
    if (editor->selectedId() != id) editor->select(id);
    if (ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM()) vm->updateAllViewers();
}

void MarksDock::onItemChanged(QTableWidgetItem* item)
{
    if (m_filling || !item || item->column() != ColumnEnabled) return;
    const int id = idAt(item->row());
    const bool on = item->checkState() == Qt::Checked;
    // The editor's change fills the table again; a refused change puts the box back.
    if (id < 0 || !MarksEditor::instance()->setEnabled(id, on)) refill();
}

bool MarksDock::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
            MarksEditor* editor = MarksEditor::instance();
            const int id = editor->selectedId();
            if (id >= 0) editor->removeMark(id);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace orvCore
