#include "CMeshPanelViewer.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <memory>

#include "IOrvImageThumbViewer.h"
#include "IOrvMainFrame.h"
#include "IOrvViewerMan.h"
#include "OrvNotice.h"
#include "OrvStateTips.h"
#include "OrvUIElements64t.h"
#include "ProgressSteps.h"

using namespace orvUI;

namespace {

QString meshNameOf(const ref_ptr<IZimMesh>& mesh)
{
    QString name;
    if (mesh) mesh->meshName(name);
    return name;
}

}  // namespace

// ---- row -------------------------------------------------------------------------------------

CMeshPanelItem::CMeshPanelItem(QWidget* parent, int options) : QWidget(parent), m_options(options)
{
    m_iconDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    auto* layout = new QHBoxLayout(this);
    layout->setObjectName(QStringLiteral("horizontalLayout"));
    m_index = new QLabel(this);
    m_index->setFixedWidth(30);
    layout->addWidget(m_index);
    if (options & 0x10) {
        m_visButton = new QPushButton(this);
        m_visButton->setFixedSize(16, 16);
        connect(m_visButton, SIGNAL(clicked()), this, SLOT(onMeshTogVisible()));
        layout->addWidget(m_visButton);
    }
    if (options & 0x100) {
        m_sleepButton = new QPushButton(this);
        m_sleepButton->setFixedSize(16, 16);
        connect(m_sleepButton, SIGNAL(clicked()), this, SLOT(OnMeshTogSleep()));
        layout->addWidget(m_sleepButton);
    }
    if (options & 0x1) {
        m_name = new QLineEdit(this);
        m_name->setEnabled(false);
        layout->addWidget(m_name);
    }
    setAcceptDrops(false);
    setTextureVisible(false);
    setAsleep(true);
}

void CMeshPanelItem::setMesh(ref_ptr<IZimMesh> mesh)
{
    m_mesh = mesh;
    ref_ptr<IZimMM> mm = zim::getMM();
    m_index->setText(mm && mesh ? QString::number(mm->indexOfMesh(meshNameOf(mesh))) : QString());
    updateToolTips();
}

void CMeshPanelItem::updateToolTips()
{
    // The buttons keep their own words first and add the state and what a click does.
    if (m_visButton)
        m_visButton->setToolTip(tr("Visible or Invisible") + QLatin1Char('\n') +
                                StateTips::textureIcon(m_asleep, m_textureVisible));
    if (m_sleepButton)
        m_sleepButton->setToolTip(tr("Sleep or Wake") + QLatin1Char('\n') + StateTips::sleepIcon(m_asleep));
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!mm || !m_mesh) {
        setToolTip(QString());
        return;
    }
    setToolTip(StateTips::meshRow(mm->indexOfMesh(meshNameOf(m_mesh)), mm->isMeshMapped(m_mesh)));
}

QString CMeshPanelItem::indexText() const { return m_index->text(); }

void CMeshPanelItem::setName(const QString& name)
{
    if (m_name) m_name->setText(name);
}

void CMeshPanelItem::setTextureVisible(bool visible)
{
    m_textureVisible = visible;
    if (m_visButton)
        m_visButton->setIcon(QIcon(m_iconDir + (visible ? QStringLiteral("icons/textureMapVisible.png")
                                                        : QStringLiteral("icons/textureMapInvisible.png"))));
    updateToolTips();
}

void CMeshPanelItem::setAsleep(bool asleep)
{
    m_asleep = asleep;
    if (m_sleepButton)
        m_sleepButton->setIcon(
            QIcon(m_iconDir + (asleep ? QStringLiteral("icons/sleep.png") : QStringLiteral("icons/wakeup.png"))));
    updateToolTips();
}

void CMeshPanelItem::toTile(int op)
{
    ref_ptr<IOrvViewerMan> vm = getVM();
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!vm || !mm) return;
    if (IOrvImageThumbViewer* thumbs = vm->getThumbViewer())
        thumbs->setTileState(mm->indexOfMesh(meshNameOf(m_mesh)), op);
}

void CMeshPanelItem::onMeshTogVisible()
{
    ref_ptr<IOrvViewerMan> vm = getVM();
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!vm || !mm || !m_mesh || !m_visButton || mm->isMeshAsleep(m_mesh)) return;
    if (!m_mesh->isMeshTextureVisible()) {
        mm->setMeshTextureVisible(m_mesh, true);
        setTextureVisible(true);
        toTile(ThumbTextureOn);
    } else {
        mm->setMeshTextureVisible(m_mesh, false);
        setTextureVisible(false);
        toTile(ThumbTextureOff);
    }
    vm->updateAllViewers();
}

bool CMeshPanelItem::toggleSleep(IZimProgress* progress)
{
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!mm || !m_mesh) return false;
    const int index = mm->indexOfMesh(meshNameOf(m_mesh));
    const bool wasAsleep = mm->isMeshAsleep(m_mesh);
    pText(progress, wasAsleep ? tr("Waking up mesh...") : tr("Sleeping mesh..."));
    pStep(progress, 0.05);
    pPush(progress, 0.95);
    const int rc = wasAsleep ? mm->wakeMesh(index, progress) : mm->sleepMesh(m_mesh, progress);
    pPop(progress);
    const bool changed = rc == 0 && mm->isMeshAsleep(m_mesh) != wasAsleep;
    // A mesh whose file cannot be read stays asleep (one whose geometry would be lost stays
    // awake): the user hears why, without a box to click away.
    if (!changed)
        noticeFailure(this, wasAsleep ? StateTips::wakeFailed(index, mm->lastError())
                                      : StateTips::sleepFailed(index, mm->lastError()));
    return changed;
}

void CMeshPanelItem::showKernelState()
{
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!mm || !m_mesh) return;
    const bool asleep = mm->isMeshAsleep(m_mesh);
    const bool visible = !asleep && m_mesh->isMeshTextureVisible();
    setAsleep(asleep);
    setTextureVisible(visible);
    // The image's tile follows what the row shows.
    if (m_sleepButton) toTile(asleep ? ThumbSleep : ThumbWake);
    if (m_visButton) toTile(visible ? ThumbTextureOn : ThumbTextureOff);
}

void CMeshPanelItem::OnMeshTogSleep()
{
    ref_ptr<IOrvViewerMan> vm = getVM();
    if (!vm || !zim::getMM() || !m_mesh) return;
    IOrvMainFrame* frame = vm->getMainFrame();
    std::unique_ptr<IZimProgress> progress(frame ? frame->getProgress() : nullptr);
    toggleSleep(progress.get());
    progress.reset();
    showKernelState();
    vm->updateAllViewers();
}

// ---- list ------------------------------------------------------------------------------------

CMeshTabWD::CMeshTabWD(const QString& name, int options, QWidget* parent)
    : QTreeWidget(parent), m_name(name), m_options(options)
{
    setFocusPolicy(Qt::WheelFocus);
    setEditTriggers(QAbstractItemView::DoubleClicked);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setHeaderLabels(QStringList{name});
    header()->setDefaultAlignment(Qt::AlignHCenter);
    header()->setStyleSheet(QStringLiteral(
        "font: 10pt Microsoft Sans Serif; color: rgb(255, 255, 255); background-color: rgb(110, 102, 95); "
        "border-top:1px groove rgb(224,219,215); border-left:1px groove rgb(224,219,215);"));
}

CMeshTabWD::~CMeshTabWD() { clear(); }

QTreeWidgetItem* CMeshTabWD::itemOf(const ref_ptr<IZimMesh>& mesh) const
{
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = topLevelItem(i);
        auto* r = qobject_cast<CMeshPanelItem*>(itemWidget(item, 0));
        if (r && r->getMesh() == mesh) return item;
    }
    return nullptr;
}

CMeshPanelItem* CMeshTabWD::row(const ref_ptr<IZimMesh>& mesh) const
{
    QTreeWidgetItem* item = itemOf(mesh);
    return item ? qobject_cast<CMeshPanelItem*>(itemWidget(item, 0)) : nullptr;
}

CMeshPanelItem* CMeshTabWD::rowAt(int i) const
{
    QTreeWidgetItem* item = topLevelItem(i);
    return item ? qobject_cast<CMeshPanelItem*>(itemWidget(item, 0)) : nullptr;
}

int CMeshTabWD::addMeshRow(ref_ptr<IZimMesh> mesh)
{
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!getVM() || !mm || !mesh || itemOf(mesh)) return -1;
    auto* r = new CMeshPanelItem(nullptr, m_options);
    QString label;
    mesh->meshLabel(label);
    r->setName(label);
    r->setMesh(mesh);
    if (!mm->isMeshAsleep(mesh)) {
        r->setAsleep(false);
        r->setTextureVisible(mesh->isMeshTextureVisible());
    } else {
        r->setTextureVisible(false);
        r->setAsleep(true);
    }
    auto* item = new QTreeWidgetItem;
    addTopLevelItem(item);
    setItemWidget(item, 0, r);
    return 0;
}

int CMeshTabWD::addMeshRows(ref_ptr<MeshArray> meshes, IZimProgress* progress)
{
    if (!meshes) {
        pStep(progress, 1.0);
        return -1;
    }
    stepEach(progress, meshes->meshCount(), [&](int i) { addMeshRow(meshes->meshAt(i)); });
    return 0;
}

int CMeshTabWD::removeMeshRow(ref_ptr<IZimMesh> mesh)
{
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!getVM() || !mm || !mesh) return -1;
    QTreeWidgetItem* item = itemOf(mesh);
    if (!item) return -1;
    mm->releaseMesh(mesh);
    delete takeTopLevelItem(indexOfTopLevelItem(item));
    return 0;
}

int CMeshTabWD::removeMeshRows(ref_ptr<MeshArray> meshes, IZimProgress* progress)
{
    if (!meshes) {
        pStep(progress, 1.0);
        return -1;
    }
    stepEach(progress, meshes->meshCount(), [&](int i) { removeMeshRow(meshes->meshAt(i)); });
    return 0;
}

int CMeshTabWD::setMeshRowState(ref_ptr<IZimMesh> mesh, int op)
{
    CMeshPanelItem* r = row(mesh);
    if (!r) return -1;
    switch (op) {
        case 0:
            r->setTextureVisible(true);
            break;
        case 1:
            r->setTextureVisible(false);
            break;
        case 2:
            r->setAsleep(true);
            r->setTextureVisible(false);
            break;
        case 3:
            r->setAsleep(false);
            r->setTextureVisible(true);
            break;
        default:
            return -1;
    }
    return 0;
}

void CMeshTabWD::onMeshTogVisible()
{
    ref_ptr<IOrvViewerMan> vm = getVM();
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!vm || !mm) return;
    for (QTreeWidgetItem* item : selectedItems()) {
        auto* r = qobject_cast<CMeshPanelItem*>(itemWidget(item, 0));
        if (!r || !r->getMesh()) continue;
        const bool visible = !r->getMesh()->isMeshTextureVisible();
        if (mm->setMeshTextureVisible(r->getMesh(), visible) != 1) break;
        r->setTextureVisible(visible);
        vm->updateAllViewers();
    }
}

void CMeshTabWD::OnMeshTogSleep()
{
    ref_ptr<IOrvViewerMan> vm = getVM();
    if (!vm || !zim::getMM()) return;
    for (QTreeWidgetItem* item : selectedItems()) {
        auto* r = qobject_cast<CMeshPanelItem*>(itemWidget(item, 0));
        if (!r || !r->getMesh()) continue;
        r->toggleSleep(nullptr);
        r->showKernelState();
        vm->updateAllViewers();
    }
}

void CMeshTabWD::dropEvent(QDropEvent* event)
{
    QTreeWidgetItem* target = itemAt(event->pos());
    QTreeWidgetItem* current = currentItem();
    if (event->dropAction() != Qt::CopyAction || !target || !current || target == current) {
        event->ignore();
        return;
    }
    auto* r = qobject_cast<CMeshPanelItem*>(itemWidget(current, 0));
    if (!r) {
        event->ignore();
        return;
    }
    const int index = indexOfTopLevelItem(target);
    ref_ptr<IZimMesh> mesh = r->getMesh();
    // A new row widget for the new item: the old one goes with its item.
    auto* moved = new CMeshPanelItem(nullptr, m_options);
    QString label;
    mesh->meshLabel(label);
    moved->setName(label);
    moved->setMesh(mesh);
    moved->setAsleep(r->isAsleep());
    moved->setTextureVisible(r->isTextureVisible());
    delete takeTopLevelItem(indexOfTopLevelItem(current));
    auto* item = new QTreeWidgetItem;
    insertTopLevelItem(qMin(index, topLevelItemCount()), item);
    setItemWidget(item, 0, moved);
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<MeshArray> order;
    if (mm && mm->getMeshOrder(order) == 0 && order) {
        for (int i = 0; i < order->meshCount(); ++i)
            if (order->meshAt(i) == mesh) {
                order->removeMeshAt(i);
                break;
            }
        order->appendMesh(mesh);
    }
    if (ref_ptr<IOrvViewerMan> vm = getVM()) {
        if (IOrvImageThumbViewer* thumbs = vm->getThumbViewer()) thumbs->buildLeadingGroup(false);
        vm->updateAllViewers();
    }
    event->accept();
}

// ---- panel -----------------------------------------------------------------------------------

CMeshPanelViewer::CMeshPanelViewer(QWidget* parent) : QWidget(parent)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setStyleSheet(QStringLiteral("QSplitter::handle{ background-color:rgb(33,30,18); }"));
    m_layout->addWidget(m_splitter);
}

CMeshPanelViewer::~CMeshPanelViewer() = default;

CMeshTabWD* CMeshPanelViewer::addMeshList(QString name, int options)
{
    if (m_lists.contains(name)) return nullptr;
    auto* list = new CMeshTabWD(name, options, this);
    m_lists.insert(name, list);
    return list;
}

int CMeshPanelViewer::refreshMeshList(QString name)
{
    CMeshTabWD* l = list(name);
    ref_ptr<IZimMM> mm = zim::getMM();
    if (!l || !mm) return -1;
    ref_ptr<MeshArray> order;
    if (mm->getMeshOrder(order) != 0 || !order) return -1;
    for (int i = 0; i < order->meshCount(); ++i) {
        ref_ptr<IZimMesh> mesh = order->meshAt(i);
        CMeshPanelItem* r = l->row(mesh);
        if (!r) continue;
        if (!mm->isMeshAsleep(mesh)) {
            r->setAsleep(false);
            r->setTextureVisible(mesh->isMeshTextureVisible());
        } else {
            r->setAsleep(true);
            r->setTextureVisible(false);
        }
    }
    return 0;
}

int CMeshPanelViewer::clearMeshLists()
{
    m_lists.clear();
    return 0;
}

int CMeshPanelViewer::addMeshRow(ref_ptr<IZimMesh> mesh, QString listName)
{
    CMeshTabWD* l = list(listName);
    return l ? l->addMeshRow(mesh) : -1;
}

int CMeshPanelViewer::removeMeshRow(ref_ptr<IZimMesh> mesh, QString listName)
{
    CMeshTabWD* l = list(listName);
    return l ? l->removeMeshRow(mesh) : -1;
}

int CMeshPanelViewer::setMeshRowState(ref_ptr<IZimMesh> mesh, int op, QString listName)
{
    CMeshTabWD* l = list(listName);
    return l ? l->setMeshRowState(mesh, op) : -1;
}

int CMeshPanelViewer::clearMeshRows()
{
    for (CMeshTabWD* l : m_lists) l->clear();
    return 0;
}

int CMeshPanelViewer::layoutMeshLists()
{
    int position = 0;
    for (auto it = m_lists.cbegin(); it != m_lists.cend(); ++it, ++position) {
        refreshMeshList(it.key());
        m_splitter->addWidget(it.value());
        m_splitter->setStretchFactor(m_splitter->indexOf(it.value()), it.value()->rowCount());
    }
    return 0;
}

int CMeshPanelViewer::rebuildMeshList(QString name)
{
    CMeshTabWD* l = list(name);
    if (!l) return -1;
    l->clear();
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<MeshArray> group;
    if (zim::defaultGroupMeshes(mm.get(), group) != 0) return -1;
    if (!group) return 0;
    const bool textured = name == CMeshPanelViewer::tr("Texture Mesh");
    const bool bare = name == CMeshPanelViewer::tr("Bare Mesh");
    if (!textured && !bare) return 0;
    for (int i = group->meshCount() - 1; i >= 0; --i) {
        ref_ptr<IZimMesh> mesh = group->meshAt(i);
        if (mesh && mm->isMeshMapped(mesh) == textured) l->addMeshRow(mesh);
    }
    return 0;
}
