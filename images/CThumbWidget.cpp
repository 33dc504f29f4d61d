#include "CThumbWidget.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "CImageThumbViewer.h"
#include "IOrvViewerMan.h"
#include "OrvNotice.h"
#include "OrvStateTips.h"
#include "OrvUIElements64t.h"

namespace orvUI {

namespace {

QLabel* iconLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setFixedSize(16, 16);
    label->setStyleSheet(QStringLiteral("border:0px;"));
    return label;
}

}  // namespace

CThumbWidget::CThumbWidget(QWidget* parent, int options) : QWidget(parent), m_options(options)
{
    setFixedSize(130, 140);
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    m_topPart = new QWidget(this);
    m_topPart->setFixedHeight(120);
    m_topPart->setStyleSheet(
        QStringLiteral("border-top:1px groove rgb(180,180,180);border-left:1px groove rgb(180,180,180);"));
    auto* topLayout = new QHBoxLayout(m_topPart);
    topLayout->setSpacing(0);
    topLayout->setContentsMargins(10, 10, 10, 10);
    m_picture = new QLabel(m_topPart);
    m_picture->setAlignment(Qt::AlignCenter);
    topLayout->addWidget(m_picture, 0, Qt::AlignCenter);
    layout->addWidget(m_topPart);

    auto* bottom = new QWidget(this);
    bottom->setStyleSheet(QStringLiteral("border-left:1px groove rgb(180,180,180);"));
    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setSpacing(0);
    bottomLayout->setContentsMargins(10, 0, 10, 0);
    m_name = new QLabel(bottom);
    m_name->setStyleSheet(QStringLiteral("border:0px;"));
    m_name->setAlignment(Qt::AlignCenter);
    bottomLayout->addWidget(m_name);
    bottomLayout->addStretch();

    const QString dir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    auto load = [&dir](const char* name) { return QPixmap(dir + QLatin1String(name)); };
    m_sleepPix = load("icons/sleep.png");
    m_wakePix = load("icons/wakeup.png");
    m_visPix = load("icons/textureMapVisible.png");
    m_invisPix = load("icons/textureMapInvisible.png");
    m_ctrlOnPix = load("icons/CtrPntVis.png");
    m_ctrlOffPix = load("icons/CtrPntInVis.png");
    if (options & 0x1) {
        m_ctrlIcon = iconLabel(bottom);
        bottomLayout->addWidget(m_ctrlIcon);
    }
    if (options & 0x10) {
        m_visIcon = iconLabel(bottom);
        m_visIcon->installEventFilter(this);
        bottomLayout->addWidget(m_visIcon);
    }
    if (options & 0x100) {
        m_sleepIcon = iconLabel(bottom);
        m_sleepIcon->installEventFilter(this);
        bottomLayout->addWidget(m_sleepIcon);
    }
    layout->addWidget(bottom);
    resetStates();
}

void CThumbWidget::setImageIndex(int index)
{
    m_index = index;
    m_name->setText(QString::number(index));
    updateToolTips();
}

void CThumbWidget::updateToolTips()
{
    // Marked is the mapped look of the tile.
    setToolTip(StateTips::tile(m_index, m_marked));
    if (m_ctrlIcon) m_ctrlIcon->setToolTip(StateTips::controlPoints(m_controlPoints));
    if (m_visIcon) m_visIcon->setToolTip(StateTips::textureIcon(m_asleep, m_textureVisible));
    if (m_sleepIcon) {
        QString tip = StateTips::sleepIcon(m_asleep);
        if (m_asleep && !m_wakeError.isEmpty()) tip += QLatin1Char('\n') + StateTips::wakeFailed(m_index, m_wakeError);
        m_sleepIcon->setToolTip(tip);
    }
}

void CThumbWidget::setPicture(const QImage& image)
{
    if (image.isNull()) {
        m_picture->clear();
        return;
    }
    QImage scaled = image.width() >= image.height() ? image.scaledToWidth(120, Qt::FastTransformation)
                                                    : image.scaledToHeight(120, Qt::FastTransformation);
    m_picture->setPixmap(QPixmap::fromImage(scaled));
}

QPixmap CThumbWidget::picture() const { return m_picture->pixmap(Qt::ReturnByValue); }

void CThumbWidget::applyStyles()
{
    if (m_selected)
        setStyleSheet(QStringLiteral("background-color:rgb(224,219,215)"));
    else if (m_marked)
        setStyleSheet(QStringLiteral("background-color:rgb(82,77,72)"));
    else
        setStyleSheet(QStringLiteral("background-color:rgb(110,102,95)"));
    m_name->setStyleSheet(m_selected ? QStringLiteral("border:0px; color:black;")
                                     : QStringLiteral("border:0px; color:white;"));
    if (m_highlighted)
        m_picture->setStyleSheet(QStringLiteral("border:4px solid rgb(72,184,199);"));
    else
        m_picture->setStyleSheet(m_marked ? QString() : QStringLiteral("border:0px;"));
}

void CThumbWidget::setMarked(bool on)
{
    m_marked = on;
    applyStyles();
    updateToolTips();
}

void CThumbWidget::setSelected(bool on)
{
    m_selected = on;
    applyStyles();
}

void CThumbWidget::setHighlighted(bool on)
{
    m_highlighted = on;
    applyStyles();
}

void CThumbWidget::setTextureVisible(bool on)
{
    m_textureVisible = on;
    if (m_visIcon) m_visIcon->setPixmap(on ? m_visPix : m_invisPix);
    updateToolTips();
}

void CThumbWidget::setAsleep(bool on)
{
    m_asleep = on;
    if (!on) m_wakeError.clear();
    if (m_sleepIcon) m_sleepIcon->setPixmap(on ? m_sleepPix : m_wakePix);
    updateToolTips();
}

void CThumbWidget::setControlPoints(bool on)
{
    m_controlPoints = on;
    if (m_ctrlIcon) m_ctrlIcon->setPixmap(on ? m_ctrlOnPix : m_ctrlOffPix);
    updateToolTips();
}

void CThumbWidget::resetStates()
{
    m_marked = m_selected = m_highlighted = false;
    setTextureVisible(false);
    setControlPoints(false);
    setAsleep(true);
    applyStyles();
}

void CThumbWidget::OnSleepClick()
{
    ref_ptr<IOrvViewerMan> vm = getVM();
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<IZimMesh> mesh;
    if (!mm || mm->getMeshAt(mesh, m_index) != 0 || !mesh) return;
    QString name;
    mesh->meshName(name);
    if (!mm->isMeshAsleep(mesh)) {
        ref_ptr<IZimTqState> state;
        mm->getState(state);
        if (state && state->getMode() == ZimModeMeshes) {
            ref_ptr<IZimModelItems> items;
            mm->getModelItems(items);
            mm->indexOfMesh(name);
            if (mm->sleepMesh(mesh, nullptr) != 0)
                noticeFailure(this, StateTips::sleepFailed(m_index, mm->lastError()));
        }
        mm->setMeshTextureVisible(mesh, false);
        setAsleep(true);
        setTextureVisible(false);
    } else if (mm->wakeMesh(mm->indexOfMesh(name), nullptr) == 0 && !mm->isMeshAsleep(mesh)) {
        mm->setMeshTextureVisible(mesh, true);
        setAsleep(false);
        setTextureVisible(true);
    } else {
        // Its file is gone or cannot be read: the mesh stays asleep, and the user hears why.
        const QString why = mm->lastError();
        setAsleep(true);
        setTextureVisible(false);
        m_wakeError = why.isEmpty() ? tr("unknown reason") : why;
        updateToolTips();
        noticeFailure(this, StateTips::wakeFailed(m_index, why));
    }
    if (vm) vm->updateAllViewers();
}

void CThumbWidget::OnVisClick()
{
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<IZimMesh> mesh;
    if (!mm || mm->getMeshAt(mesh, m_index) != 0 || !mesh || mm->isMeshAsleep(mesh)) return;
    const bool visible = !mesh->isMeshTextureVisible();
    if (mm->setMeshTextureVisible(mesh, visible) == 1) setTextureVisible(visible);
    if (ref_ptr<IOrvViewerMan> vm = getVM()) vm->updateAllViewers();
}

bool CThumbWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == m_sleepIcon) {
            OnSleepClick();
            return true;
        }
        if (watched == m_visIcon) {
            OnVisClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CThumbWidget::mousePressEvent(QMouseEvent* event)
{
    if (!m_viewer) return;
    if (event->button() == Qt::LeftButton) {
        const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
        int flag = 0;
        if (mods == Qt::ControlModifier)
            flag = ZimKeyCtrl;
        else if (mods == Qt::ShiftModifier)
            flag = ZimKeyShift;
        m_viewer->onTileMousePress(m_index, 0, flag);
    } else if (event->button() == Qt::RightButton) {
        m_viewer->onTileMousePress(m_index, 2, 0);
    }
}

void CThumbWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (m_viewer) m_viewer->onTileDoubleClick(m_index, event->button() == Qt::LeftButton);
}

void CThumbWidget::dragEnterEvent(QDragEnterEvent* event) { event->accept(); }

void CThumbWidget::dragMoveEvent(QDragMoveEvent* event)
{
    if (m_viewer) m_viewer->autoScrollAt(m_index, event->pos());
    event->accept();
}

void CThumbWidget::dropEvent(QDropEvent* event)
{
    if (m_viewer) m_viewer->setDropTarget(2, m_index);
    event->acceptProposedAction();
}

}  // namespace orvUI
