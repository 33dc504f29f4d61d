#include "CImageThumbViewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDrag>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtDebug>
#include <algorithm>
#include <memory>

#include "COrvImageTree.h"
#include "CThumbWidget.h"
#include "IOrvImageViewer.h"
#include "IOrvMainFrame.h"
#include "OrvNotice.h"
#include "OrvUIElements64t.h"
#include "ProgressSteps.h"
#include "ThumbGrid.h"

namespace orvUI {

namespace {

// A fill of more tiles than this shows the main frame's progress dialog.
constexpr int kProgressThreshold = 48;

}  // namespace

CImageThumbViewer::CImageThumbViewer(QWidget* parent) : QWidget(parent)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setSpacing(0);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_tree = new COrvImageTree(this);
    m_tree->setOwnerViewer(this);
    m_layout->addWidget(m_tree);
    m_countLabel = new QLabel(this);
    m_countLabel->setAlignment(Qt::AlignCenter);
    m_layout->addWidget(m_countLabel);
    m_check = new QCheckBox(tr("Show Images in Child"), this);
    m_check->setChecked(true);
    connect(m_check, SIGNAL(stateChanged(int)), this, SLOT(cbStateChanged(int)));
    m_layout->addWidget(m_check);
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setAlignment(Qt::AlignHCenter);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->verticalScrollBar()->setPageStep(height());
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_layout->addWidget(m_scroll);
    m_menu = new QMenu(m_scroll);
    setAcceptDrops(false);
    setFocusPolicy(Qt::StrongFocus);
}

CImageThumbViewer::~CImageThumbViewer() = default;

// ---- helpers ---------------------------------------------------------------------------------

bool CImageThumbViewer::storeReady(ref_ptr<IZimImageStore>* store)
{
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<IZimTqState> state;
    if (!getVM() || !mm || mm->getState(state) != 0 || !state) return false;
    state->getImageStore(*store);
    return store->valid();
}

int CImageThumbViewer::selectedCount() const
{
    int n = 0;
    for (CThumbWidget* t : m_tiles)
        if (t->isSelected()) ++n;
    return n;
}

void CImageThumbViewer::applyImageStates(CThumbWidget* tile, bool fromScratch)
{
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<IZimImageStore> store;
    if (!storeReady(&store)) return;
    const int index = tile->imageIndex();
    ref_ptr<IZimImageRecord> record;
    const bool points = store->getImageRecord(record, index) == 0 && record && record->controlPointCount() >= 1;
    if (points || fromScratch) tile->setControlPoints(points);
    ref_ptr<IZimMesh> mesh;
    mm->getMeshAt(mesh, index);
    if (fromScratch) {
        tile->setMarked(false);
        tile->setTextureVisible(false);
        tile->setAsleep(true);
    }
    if (!mesh) return;
    const bool mapped = mm->isMeshMapped(mesh);
    if (mapped) tile->setMarked(true);
    if (mapped && mm->isTextureShown(index)) tile->setTextureVisible(true);
    if (mapped && !mm->isMeshAsleepById(index)) tile->setAsleep(false);
}

int CImageThumbViewer::addTile(int id)
{
    ref_ptr<IZimImageStore> store;
    if (!storeReady(&store)) return -1;
    ref_ptr<IZimImage> picture;
    if (store->getStoreImage(picture, id, 3) != 0 || !picture) {
        ref_ptr<IZimImageEntry> entry;
        zim::getMM()->getImageEntry(entry, id);
        if (entry) {
            const QString path = entry->photoPath();
            if (!m_unreadable.contains(path)) m_unreadable.append(path);
        }
        if (m_batch == 0) reportUnreadable();
        return -1;
    }
    if (CThumbWidget* old = m_tiles.take(id)) delete old;
    auto* tile = new CThumbWidget(this, m_tileOptions);
    tile->hide();
    tile->setViewer(this);
    tile->setPicture(picture->imageToQImage());
    tile->setImageIndex(id);
    m_tiles.insert(id, tile);
    applyImageStates(tile, false);
    return 0;
}

void CImageThumbViewer::reportUnreadable()
{
    QStringList fresh;
    for (const QString& f : m_unreadable)
        if (!m_reported.contains(f)) fresh.append(f);
    if (fresh.isEmpty()) return;
    for (const QString& f : fresh) m_reported.insert(f);
    qWarning().noquote()
        << tr("These photos could not be read and have no thumbnail: %1").arg(fresh.join(QStringLiteral(", ")));
}

void CImageThumbViewer::dropTiles()
{
    for (CThumbWidget* t : m_tiles) delete t;
    m_tiles.clear();
    m_order.clear();
}

// ---- options, loading ------------------------------------------------------------------------

int CImageThumbViewer::setTileOptions(int options)
{
    m_tileOptions = options;
    return 0;
}

int CImageThumbViewer::getTileOptions() { return m_tileOptions; }

int CImageThumbViewer::loadThumbnailsByPath(ref_ptr<StringArray> paths, IZimProgress* progress)
{
    if (!paths) {
        pStep(progress, 1.0);
        return -1;
    }
    ++m_batch;
    stepBatch(progress, tr("Loading the thumbnails of images....."), paths->size(), [&](int i) {
        addImageByName(zim::pathGetFileName(paths->at(i)));
        if (i == 0) layoutThumbnails();
    });
    --m_batch;
    reportUnreadable();
    return 0;
}

int CImageThumbViewer::loadThumbnails(ref_ptr<LongArray> ids, IZimProgress* progress)
{
    if (!ids) {
        pStep(progress, 1.0);
        return -1;
    }
    ++m_batch;
    stepBatch(progress, tr("Loading the thumbnails of images....."), ids->size(), [&](int i) {
        addImage(int(ids->at(i)));
        if (i == 0) layoutThumbnails();
    });
    --m_batch;
    reportUnreadable();
    return 0;
}

int CImageThumbViewer::addImageByName(QString fileName)
{
    ref_ptr<IZimImageStore> store;
    if (!storeReady(&store)) return -1;
    const int index = store->findImageByName(fileName);
    if (index < 0) return -1;
    if (addTile(index) != 0) return -1;
    m_loaded.append(index);
    return index;
}

int CImageThumbViewer::addImage(int id)
{
    if (addTile(id) != 0) return -1;
    m_loaded.append(id);
    return 0;
}

int CImageThumbViewer::removeThumbnail(int id)
{
    delete m_tiles.take(id);
    m_loaded.removeAll(id);
    m_order.erase(std::remove(m_order.begin(), m_order.end(), id), m_order.end());
    if (m_anchor == id) m_anchor = -1;
    return 0;
}

int CImageThumbViewer::removeThumbnails(ref_ptr<LongArray> ids, IZimProgress* progress)
{
    if (!ids) {
        pStep(progress, 1.0);
        return -1;
    }
    stepEach(progress, ids->size(), [&](int i) { removeThumbnail(int(ids->at(i))); });
    return 0;
}

int CImageThumbViewer::clearThumbnails()
{
    dropTiles();
    m_loaded.clear();
    m_leading.clear();
    m_anchor = -1;
    m_lists = ImageLists();
    m_listsSource = nullptr;
    m_tree->clearTree();
    // A new set of photos: what could not be read is told again.
    m_unreadable.clear();
    m_reported.clear();
    return 0;
}

int CImageThumbViewer::refreshThumbnail(int id)
{
    ref_ptr<IZimImageStore> store;
    CThumbWidget* t = tile(id);
    if (!storeReady(&store) || !t) return -1;
    ref_ptr<IZimImage> picture;
    if (store->getStoreImage(picture, id, 3) != 0 || !picture) return -1;
    t->setPicture(picture->imageToQImage());
    applyImageStates(t, true);
    t->setSelected(t->isSelected());
    t->setHighlighted(t->isHighlighted());
    return 0;
}

int CImageThumbViewer::refreshThumbnails(ref_ptr<LongArray> ids, IZimProgress* progress)
{
    if (!ids) {
        pStep(progress, 1.0);
        return -1;
    }
    stepBatch(progress, tr("Update the thumbnails of images....."), ids->size(),
              [&](int i) { refreshThumbnail(int(ids->at(i))); });
    return 0;
}

int CImageThumbViewer::deselectAllThumbnails()
{
    for (CThumbWidget* t : m_tiles) t->setSelected(false);
    return 0;
}

int CImageThumbViewer::clearHighlight()
{
    for (CThumbWidget* t : m_tiles) t->setHighlighted(false);
    return 0;
}

// ---- layout ----------------------------------------------------------------------------------

int CImageThumbViewer::layoutThumbnails()
{
    if (!getVM() || !zim::getMM()) return -1;
    for (CThumbWidget* t : m_tiles) t->placed = false;
    std::vector<int> leading;
    for (int id : m_leading) {
        CThumbWidget* t = tile(id);
        if (t && !t->placed) {
            t->placed = true;
            leading.push_back(id);
        }
    }
    std::vector<int> rest;
    for (auto it = m_tiles.cbegin(); it != m_tiles.cend(); ++it)
        if (!it.value()->placed) rest.push_back(it.key());
    m_order = leading;
    m_order.insert(m_order.end(), rest.begin(), rest.end());
    if (int(m_order.size()) != m_tiles.size()) return -1;

    const int L = int(leading.size());
    const int R = int(rest.size());
    const ThumbGrid grid = ThumbGrid::make(width(), L, R);
    m_columns = grid.columns;
    m_leadingRows = grid.leadingRows;
    m_restRows = grid.restRows;

    const int slider = m_scroll->verticalScrollBar()->value();
    auto* container = new QWidget;
    auto* gridLayout = new QGridLayout(container);
    gridLayout->setSpacing(0);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    container->setFixedSize(grid.width(), grid.height());
    for (int i = 0; i < L; ++i) {
        CThumbWidget* t = tile(leading[size_t(i)]);
        gridLayout->addWidget(t, grid.leadingRow(i), i % grid.columns, Qt::AlignCenter);
        t->top = grid.leadingRow(i) * ThumbGrid::kCellHeight;
        t->show();  // tiles are made hidden until they have their place
    }
    if (grid.separator) {
        auto* sep = new QWidget(container);
        sep->setFixedSize(width() - ThumbGrid::kMargin, 140);
        sep->setStyleSheet(QStringLiteral(
            "background-color: rgb(47,45,43);margin-top:60px; margin-bottom:60px;border-top:1px groove rgb(224, "
            "219, 215);border-bottom:1px groove rgb(224, 219, 215)"));
        gridLayout->addWidget(sep, grid.leadingRows, 0, 1, grid.separatorSpan(L, R));
    }
    for (int i = 0; i < R; ++i) {
        CThumbWidget* t = tile(rest[size_t(i)]);
        gridLayout->addWidget(t, grid.restRow(i), i % grid.columns, Qt::AlignCenter);
        t->top = grid.restRow(i) * ThumbGrid::kCellHeight;
        t->show();
    }
    // The tiles now belong to the new container; the old one goes without them.
    delete m_scroll->takeWidget();
    m_scroll->setWidget(container);
    m_scroll->verticalScrollBar()->setValue(slider);
    return 0;
}

int CImageThumbViewer::buildLeadingGroup(bool mappedOnly)
{
    m_leading.clear();
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<MeshArray> group;
    if (zim::defaultGroupMeshes(mm.get(), group) != 0) return -1;
    if (!group) return 0;
    for (int i = group->meshCount() - 1; i >= 0; --i) {
        ref_ptr<IZimMesh> mesh = group->meshAt(i);
        if (!mesh || !mm->isMeshMapped(mesh)) continue;
        QString name;
        mesh->meshName(name);
        const int index = mm->indexOfMesh(name);
        if (index < 0) continue;
        if (mappedOnly && (!m_listsSource || !m_lists.mapped.contains(index))) continue;
        m_leading.push_back(index);
    }
    return 0;
}

void CImageThumbViewer::forgetImageLists(const ImageLists* lists)
{
    if (!lists || lists != m_listsSource) return;
    if (lists != m_tree->getImageLists() && m_tree->updateImageLists() == 0) return;
    setImageLists(nullptr);
}

int CImageThumbViewer::setImageLists(const ImageLists* lists)
{
    m_listsSource = lists;
    m_lists = lists ? *lists : ImageLists();
    const int all = lists ? lists->all.size() : 0;
    const int mapped = lists ? lists->mapped.size() : 0;
    const int unmapped = lists ? lists->unmapped.size() : 0;
    m_countLabel->setText(tr("Total:") + QString::number(all) + QLatin1Char(' ') + tr("Mapping:") +
                          QString::number(mapped) + QLatin1Char(' ') + tr("UnMapping:") + QString::number(unmapped));
    buildLeadingGroup(true);
    dropTiles();
    if (lists) {
        const QSet<int> members(lists->all.begin(), lists->all.end());
        int count = 0;
        for (int id : m_loaded)
            if (members.contains(id)) ++count;
        std::unique_ptr<IZimProgress> progress;
        if (count > kProgressThreshold) {
            if (ref_ptr<IOrvViewerMan> vm = getVM())
                if (IOrvMainFrame* frame = vm->getMainFrame()) progress.reset(frame->getProgress());
        }
        pText(progress.get(), tr("Loading the thumbnails of images....."));
        const int current = zim::getMM() ? zim::getMM()->getCurMeshIndex() : -1;
        ++m_batch;
        for (int id : m_loaded) {
            if (!members.contains(id)) continue;
            addTile(id);
            pStep(progress.get(), 1.0 / count);
            if (id == current && current > 0 && tile(id)) {
                clearHighlight();
                deselectAllThumbnails();
                setTileState(id, ThumbCurrent);
            }
        }
        --m_batch;
        reportUnreadable();
    }
    layoutThumbnails();
    return 0;
}

QString CImageThumbViewer::countText() const { return m_countLabel->text(); }

// ---- selection and states --------------------------------------------------------------------

int CImageThumbViewer::getSelectedImages(ref_ptr<LongArray>& out, int mode)
{
    out = zim::newLongArray();
    if (mode == 1) {
        for (auto it = m_tiles.cbegin(); it != m_tiles.cend(); ++it)
            if (it.value()->isSelected()) out->append(it.key());
    } else if (mode == 2) {
        for (int id : m_loaded) out->append(id);
    } else if (mode == 0) {
        ref_ptr<IZimMM> mm = zim::getMM();
        for (int id : m_loaded) {
            ref_ptr<IZimImageEntry> entry;
            if (mm && mm->getImageEntry(entry, id) == 0 && entry) out->append(id);
        }
    }
    return 0;
}

int CImageThumbViewer::resetTileStates()
{
    for (CThumbWidget* t : m_tiles) t->resetStates();
    return 0;
}

void CImageThumbViewer::scrollTileIntoView(CThumbWidget* t)
{
    QScrollBar* bar = m_scroll->verticalScrollBar();
    const int view = m_scroll->viewport()->height();
    if (t->top < bar->value())
        bar->setValue(t->top);
    else if (t->top > bar->value() + view - t->height())
        bar->setValue(t->top - view + t->height());
}

int CImageThumbViewer::setTileState(int id, int op)
{
    CThumbWidget* t = tile(id);
    if (!t) return -1;
    scrollTileIntoView(t);
    switch (op) {
        case ThumbSelectOn:
            t->setSelected(true);
            break;
        case ThumbSelectOff:
            t->setSelected(false);
            break;
        case ThumbMarkOn:
            t->setMarked(true);
            break;
        case ThumbMarkOff:
            t->setMarked(false);
            break;
        case ThumbCurrent: {
            scrollToImage(id);
            t->setSelected(true);
            t->setHighlighted(true);
            ref_ptr<IZimMM> mm = zim::getMM();
            for (int index : m_leading) {
                ref_ptr<IZimMesh> mesh;
                if (mm && mm->getMeshAt(mesh, index) == 0 && mesh) mesh->setMeshCurrent(index == id);
            }
            break;
        }
        case ThumbHighlightOff:
            t->setHighlighted(false);
            break;
        case ThumbTextureOn:
            t->setTextureVisible(true);
            break;
        case ThumbTextureOff:
            t->setTextureVisible(false);
            break;
        case ThumbSleep:
            t->setAsleep(true);
            t->setTextureVisible(false);
            break;
        case ThumbWake:
            t->setAsleep(false);
            t->setTextureVisible(true);
            break;
        case ThumbCtrlPointsOn:
            t->setControlPoints(true);
            break;
        case ThumbCtrlPointsOff:
            t->setControlPoints(false);
            break;
        default:
            break;
    }
    return 0;
}

void CImageThumbViewer::selectOnly(int id)
{
    for (auto it = m_tiles.cbegin(); it != m_tiles.cend(); ++it) it.value()->setSelected(it.key() == id);
}

int CImageThumbViewer::onTileMousePress(int id, int button, int keyFlag)
{
    CThumbWidget* t = tile(id);
    if (!t) return -1;
    if (button == 2) {
        if (!t->isSelected()) {
            selectOnly(id);
            m_anchor = id;
        }
        return 0;
    }
    if (button != 0) return 0;
    if (keyFlag == int(ZimKeyCtrl)) {
        t->setSelected(!t->isSelected());
        m_anchor = id;
        return 0;
    }
    if (keyFlag == int(ZimKeyShift)) {
        auto find = [this](int index) {
            auto it = std::find(m_order.begin(), m_order.end(), index);
            return it == m_order.end() ? -1 : int(it - m_order.begin());
        };
        int from = find(m_anchor);
        const int to = find(id);
        if (from < 0 && m_anchor < 1 && !m_order.empty()) from = 0;
        if (from < 0 || to < 0) return 0;
        const int lo = std::min(from, to);
        const int hi = std::max(from, to);
        for (int i = 0; i < int(m_order.size()); ++i) tile(m_order[size_t(i)])->setSelected(i >= lo && i <= hi);
        return 0;
    }
    if (!t->isSelected()) {
        selectOnly(id);
        m_anchor = id;
    }
    // A drag only starts from a real press (a button is down).
    if (QApplication::mouseButtons() & Qt::LeftButton) startTileDrag(t);
    return 0;
}

void CImageThumbViewer::startTileDrag(CThumbWidget* t)
{
    auto* drag = new QDrag(t);
    drag->setMimeData(new QMimeData);
    drag->setPixmap(t->grab());
    drag->setHotSpot(QPoint(-10, -10));
    const Qt::DropAction action = drag->exec(Qt::CopyAction);
    finishTileDrag(action);
}

void CImageThumbViewer::finishTileDrag(Qt::DropAction action)
{
    if (action != Qt::CopyAction) return;
    ref_ptr<LongArray> selected;
    getSelectedImages(selected, 1);
    if (m_dropKind == 1) {
        const int folder = m_dropId;
        m_dropKind = m_dropId = 0;
        m_tree->moveImagesToFolder(selected, folder);
        m_tree->updateImageLists();
        return;
    }
    if (m_dropKind == 2) {
        const int target = m_dropId;
        if (selected->size() > 1 && std::find(selected->begin(), selected->end(), long(target)) == selected->end()) {
            noticeWarning(dynamic_cast<QWidget*>(getVM() ? getVM()->getMainFrame() : nullptr),
                          tr("There are more than one image selected."));
            return;
        }
        if (std::find(selected->begin(), selected->end(), long(target)) != selected->end()) {
            selectOnly(target);
            m_anchor = target;
            return;
        }
        if (selected->size() == 1) {
            const int id = int(selected->at(0));
            ref_ptr<IZimMM> mm = zim::getMM();
            if (mm && mm->reorderImage(id, 2, target) == 0) {
                const int slider = m_scroll->verticalScrollBar()->value();
                m_dropKind = m_dropId = 0;
                buildLeadingGroup(true);
                layoutThumbnails();
                if (ref_ptr<IOrvViewerMan> vm = getVM()) vm->update3DViewer();
                setTileState(id, ThumbSelectOn);
                m_scroll->verticalScrollBar()->setValue(slider);
            }
        }
        return;
    }
    m_dropKind = m_dropId = 0;
}

int CImageThumbViewer::setDropTarget(int kind, int id)
{
    m_dropKind = kind;
    m_dropId = id;
    return 0;
}

int CImageThumbViewer::autoScrollAt(int id, const QPoint& pos)
{
    CThumbWidget* t = tile(id);
    if (!t) return -1;
    QScrollBar* bar = m_scroll->verticalScrollBar();
    const int y = t->top - bar->value() + pos.y();
    if (y < 80)
        bar->setValue(bar->value() - 10);
    else if (m_scroll->height() - y < 80)
        bar->setValue(bar->value() + 10);
    return 0;
}

int CImageThumbViewer::scrollToImage(int id)
{
    CThumbWidget* t = tile(id);
    if (!t) return -1;
    m_scroll->verticalScrollBar()->setValue(t->top);
    return 0;
}

int CImageThumbViewer::neighbourImage(int id, int where)
{
    auto it = std::find(m_leading.begin(), m_leading.end(), id);
    if (it == m_leading.end()) return -1;
    const int pos = int(it - m_leading.begin());
    const int last = int(m_leading.size()) - 1;
    switch (where) {
        case 0:
            return pos > 0 ? m_leading[size_t(pos - 1)] : -1;
        case 1:
            return pos < last ? m_leading[size_t(pos + 1)] : -1;
        case 2:
            return pos > 0 ? m_leading.front() : -1;
        case 3:
            return pos < last ? m_leading.back() : -1;
        default:
            return -1;
    }
}

// ---- opening ---------------------------------------------------------------------------------

void CImageThumbViewer::openImage(int id, bool fromKey)
{
    ref_ptr<IOrvViewerMan> vm = getVM();
    ref_ptr<IZimMM> mm = zim::getMM();
    ref_ptr<IZimImageStore> store;
    if (!vm || !mm || !storeReady(&store)) return;
    int level = 0;
    bool tested = false;
    if (store->hasReadyImage(id)) {
        tested = true;
        ref_ptr<IZimImage> picture;
        if (store->getStoreImage(picture, id, 2) == 0 && picture) level = 2;
    } else if (store->hasSourceImage(id)) {
        tested = true;
        ref_ptr<IZimImage> source;
        if (store->getSourceImage(source, id) == 0 && source) level = 1;
    }
    if (level > 0) {
        if (fromKey) {
            clearHighlight();
            if (CThumbWidget* t = tile(id)) {
                t->setHighlighted(true);
                scrollToImage(id);
            }
        } else {
            clearHighlight();
            setTileState(id, ThumbCurrent);
        }
        if (IOrvImageViewer* viewer = vm->getImageViewer()) {
            ImageId image;
            image.index = id;
            image.level = level;
            viewer->setImageId(&image);
        }
    }
    if (level > 0 || !tested) {
        int index = id;
        mm->setCurrentImage(&index);
    }
    vm->update3DViewer();
    vm->updateImageViewer();
}

void CImageThumbViewer::onTileDoubleClick(int id, bool leftButton)
{
    if (leftButton) {
        openImage(id, false);
    } else if (ref_ptr<IOrvViewerMan> vm = getVM()) {
        vm->update3DViewer();
        vm->updateImageViewer();
    }
}

// ---- keys and mouse --------------------------------------------------------------------------

void CImageThumbViewer::moveSelection(int key)
{
    if (selectedCount() != 1 || int(m_order.size()) != m_tiles.size()) return;
    int pos = -1;
    for (int i = 0; i < int(m_order.size()); ++i)
        if (tile(m_order[size_t(i)])->isSelected()) pos = i;
    int leading = 0;
    for (int id : m_leading)
        if (tile(id)) ++leading;
    const int to = ThumbGrid::move(pos, key, int(m_order.size()), leading, width() / ThumbGrid::kCellWidth);
    if (to == pos || to < 0) return;
    const int id = m_order[size_t(to)];
    selectOnly(id);
    scrollToImage(id);
}

void CImageThumbViewer::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        for (auto it = m_tiles.cbegin(); it != m_tiles.cend(); ++it)
            if (it.value()->isSelected()) {
                openImage(it.key(), true);
                break;
            }
        return;
    }
    if (key == Qt::Key_A && event->modifiers() == Qt::ControlModifier) {
        for (CThumbWidget* t : m_tiles) t->setSelected(true);
        return;
    }
    switch (key) {
        case Qt::Key_W:
            moveSelection(0);
            return;
        case Qt::Key_S:
            moveSelection(1);
            return;
        case Qt::Key_A:
            moveSelection(2);
            return;
        case Qt::Key_D:
            moveSelection(3);
            return;
        case Qt::Key_Home:
            m_scroll->verticalScrollBar()->setValue(0);
            return;
        case Qt::Key_End:
            m_scroll->verticalScrollBar()->setValue(m_scroll->verticalScrollBar()->maximum());
            return;
        case Qt::Key_B:
        case Qt::Key_C:
        case Qt::Key_H:
        case Qt::Key_J:
        case Qt::Key_T:
        case Qt::Key_U:
        case Qt::Key_V:
        case Qt::Key_Delete: {
            OrvKeyCallback handler = m_keyHandlers.value(key, nullptr);
            if (handler) handler();
            return;
        }
        default:
            return;
    }
}

void CImageThumbViewer::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    selectOnly(m_anchor);
}

void CImageThumbViewer::contextMenuEvent(QContextMenuEvent* /*event*/) { m_menu->exec(QCursor::pos()); }

void CImageThumbViewer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_tree->setFixedSize(width(), 200);
    m_scroll->verticalScrollBar()->setPageStep(height());
    const int room = width() - ThumbGrid::kMargin;
    const int used = m_columns * ThumbGrid::kCellWidth;
    if (room < used || room - used > ThumbGrid::kCellWidth) layoutThumbnails();
}

// ---- plug-ins, handlers ----------------------------------------------------------------------

void CImageThumbViewer::triggeredPlugin(bool checked) { runPluginCallback(sender(), m_pluginCallbacks, checked); }

void CImageThumbViewer::cbStateChanged(int /*state*/) { m_tree->setShowImagesInChild(m_check->isChecked()); }

int CImageThumbViewer::setPluginItems(ref_ptr<IOrvCommonItem> group)
{
    if (!group) return -1;
    // The old menu may be the one running (a command of it can set new items): it goes once
    // control is back in the event loop.
    m_menu->deleteLater();
    m_menu = new QMenu(group->getName(), m_scroll);
    m_pluginCallbacks.clear();
    QVector<ref_ptr<IOrvActionItem>> items;
    group->getActionItems(items);
    appendItemMenu(m_menu, items, {this, SLOT(triggeredPlugin(bool)), &m_pluginCallbacks, MenuSeparators::Always});
    return 0;
}

int CImageThumbViewer::setKeyHandler(int key, OrvKeyCallback handler)
{
    m_keyHandlers.insert(key, handler);
    return 0;
}

int CImageThumbViewer::setAuxKeyHandler(int key, long long value)
{
    m_auxKeys.insert(key, value);
    return 0;
}

int CImageThumbViewer::setOwnerValue(long long value)
{
    m_ownerValue = value;
    return 0;
}

IOrvImageTree* CImageThumbViewer::getImageTree() { return m_tree; }

}  // namespace orvUI
