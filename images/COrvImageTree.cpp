#include "COrvImageTree.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QtDebug>
#include <QtEndian>

#include "CImageThumbViewer.h"
#include "CThumbWidget.h"
#include "IOrvImageThumbViewer.h"
#include "IOrvMainFrame.h"
#include "OrvNotice.h"
#include "OrvUIElements64t.h"

namespace orvUI {

namespace {

enum { RootType = 0, FolderType = 1 };

}  // namespace

COrvImageTree::COrvImageTree(QWidget* /*parent*/)
{
    m_vm = getVM();
    m_mm = zim::getMM();
    if (m_vm) m_mainFrame = m_vm->getMainFrame();
    m_frameWidget = dynamic_cast<QWidget*>(m_mainFrame);
    m_editItem = nullptr;
    m_editColumn = -1;
    m_showImagesInChild = true;

    connect(this, SIGNAL(itemDoubleClicked(QTreeWidgetItem*, int)), this,
            SLOT(slotItemDoubleClicked(QTreeWidgetItem*, int)));
    connect(this, SIGNAL(itemSelectionChanged()), this, SLOT(slotItemSelectionChanged()));

    m_menu = new QMenu(this);
    struct Entry {
        QString text;
        const char* slot;
    };
    const Entry entries[] = {
        {tr("Add Child Folder"), SLOT(slotAddChildAction())},
        {tr("Remove Folder"), SLOT(slotRemoveAction())},
        {tr("Up"), SLOT(slotUpAction())},
        {tr("Down"), SLOT(slotDownAction())},
        {tr("Top"), SLOT(slotTopAction())},
        {tr("Bottom"), SLOT(slotBottomAction())},
    };
    for (const Entry& e : entries) {
        auto* action = new QAction(e.text, m_menu);
        connect(action, SIGNAL(triggered()), this, e.slot);
        m_menu->addAction(action);
    }

    setDragDropMode(QAbstractItemView::InternalMove);
    setHeaderHidden(true);
    setStyleSheet(QStringLiteral(
        "QTreeView::branch:has-siblings:!adjoins-item { border-image: url(icons/stylesheet-vline.png) 0; } "
        "QTreeView::branch:has-siblings:adjoins-item{ border-image: url(icons/stylesheet-branch-more.png) 0; } "
        "QTreeView::branch:!has-children:!has-siblings:adjoins-item{ border-image: "
        "url(icons/stylesheet-branch-end.png) 0; }"));
}

COrvImageTree::~COrvImageTree()
{
    // A viewer showing this tree's lists must not keep them once the tree is gone. (While the
    // viewer itself is being destroyed, and takes its own tree with it, the cast fails.)
    if (auto* viewer = qobject_cast<CImageThumbViewer*>(m_listsReceiver.data())) viewer->forgetImageLists(&m_lists);
    // Items go before the maps that name them; nothing may look them up while the widget dies.
    blockSignals(true);
    clear();
}

void COrvImageTree::setOwnerViewer(IOrvImageThumbViewer* viewer) { m_ownerWidget = dynamic_cast<QWidget*>(viewer); }

IOrvImageThumbViewer* COrvImageTree::thumbViewer() const
{
    return dynamic_cast<IOrvImageThumbViewer*>(m_thumbWidget.data());
}

// ---- guards ----------------------------------------------------------------------------------

void COrvImageTree::warn(const QString& text) { noticeWarning(m_frameWidget, text); }

bool COrvImageTree::needProject()
{
    if (m_state) return true;
    warn(tr("Please new or open a project!"));
    return false;
}

QTreeWidgetItem* COrvImageTree::needSelection()
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) {
        warn(tr("Please select a folder!"));
        return nullptr;
    }
    return selected.first();
}

void COrvImageTree::closeEditor()
{
    if (m_editItem) closePersistentEditor(m_editItem, m_editColumn < 0 ? 0 : m_editColumn);
    m_editItem = nullptr;
    m_editColumn = -1;
}

// ---- commands --------------------------------------------------------------------------------

void COrvImageTree::slotAddChildAction()
{
    if (!needProject()) return;
    QTreeWidgetItem* parentItem = needSelection();
    if (!parentItem) return;
    const int id = m_folderItems.isEmpty() ? 0 : m_folderItems.lastKey() + 1;
    auto* item = new QTreeWidgetItem(FolderType);
    item->setText(0, tr("New Folder"));
    m_folderItems.insert(id, item);
    m_folderIds.insert(item, id);
    userChanged();
    parentItem->addChild(item);
    parentItem->setExpanded(true);
    scrollToItem(item);
    clearSelection();
    item->setSelected(true);
    if (m_mm) m_mm->setModified(true);
    openPersistentEditor(item, 0);
    m_editItem = item;
    m_editColumn = 0;
    setCurrentItem(item);
    if (m_mm) m_mm->setModified(true);
}

void COrvImageTree::eraseFolder(QTreeWidgetItem* item)
{
    while (item->childCount() > 0) eraseFolder(item->child(item->childCount() - 1));
    if (item == m_editItem) closeEditor();
    if (QTreeWidgetItem* parentItem = item->parent()) parentItem->removeChild(item);
    auto it = m_folderIds.find(item);
    if (it != m_folderIds.end()) {
        m_folderItems.remove(it.value());
        m_folderIds.erase(it);
    }
    delete item;
}

void COrvImageTree::slotRemoveAction()
{
    if (!needProject()) return;
    QTreeWidgetItem* item = needSelection();
    if (!item) return;
    if (item->type() == RootType) {
        warn(tr("Cannot remove root folder!"));
        return;
    }
    // Asked of the folders themselves, not of the lists shown: the lists may not follow the
    // selection (or the images of sub-folders) and an image must never lose its folder.
    if (!m_lists.all.isEmpty() || holdsImages(item)) {
        warn(tr("There are images in the folder, you can't remove this folder!"));
        return;
    }
    userChanged();
    eraseFolder(item);
    if (m_mm) m_mm->setModified(true);
}

void COrvImageTree::reorder(int which)
{
    if (!needProject()) return;
    QTreeWidgetItem* item = needSelection();
    if (!item) return;
    QTreeWidgetItem* parentItem = item->parent();
    if (!parentItem) return;
    const int index = parentItem->indexOfChild(item);
    const int count = parentItem->childCount();
    int target = index;
    switch (which) {
        case 0:
            if (index > 0) target = index - 1;
            break;
        case 1:
            if (index < count - 1) target = index + 1;
            break;
        case 2:
            if (index > 0) target = 0;
            break;
        default:
            if (index < count - 1) target = count - 1;
            break;
    }
    if (target == index) return;
    userChanged();
    const bool expanded = item->isExpanded();
    const bool editing = item == m_editItem;
    if (editing) closeEditor();
    blockSignals(true);
    parentItem->takeChild(index);
    parentItem->insertChild(target, item);
    item->setExpanded(expanded);
    blockSignals(false);
    clearSelection();
    item->setSelected(true);
}

void COrvImageTree::slotUpAction() { reorder(0); }
void COrvImageTree::slotDownAction() { reorder(1); }
void COrvImageTree::slotTopAction() { reorder(2); }
void COrvImageTree::slotBottomAction() { reorder(3); }

void COrvImageTree::slotItemDoubleClicked(QTreeWidgetItem* item, int column)
{
    if (m_mm) m_mm->setModified(true);
    if (column == 0 && item) {
        userChanged();
        openPersistentEditor(item, 0);
        m_editItem = item;
        m_editColumn = 0;
    }
}

void COrvImageTree::slotItemSelectionChanged()
{
    closeEditor();
    updateImageLists();
}

void COrvImageTree::slotTriggeredPlugin(bool bChecked) { runPluginCallback(sender(), m_pluginCallbacks, bChecked); }

int COrvImageTree::setPluginItems(ref_ptr<IOrvCommonItem> group)
{
    if (!group) return -1;
    QVector<ref_ptr<IOrvActionItem>> items;
    group->getActionItems(items);
    appendItemMenu(m_menu, items, {this, SLOT(slotTriggeredPlugin(bool)), &m_pluginCallbacks, MenuSeparators::Always});
    return 0;
}

// ---- lists -----------------------------------------------------------------------------------

bool COrvImageTree::belongs(int imageId, QTreeWidgetItem* item)
{
    auto it = m_imageFolders.find(imageId);
    if (it == m_imageFolders.end()) it = m_imageFolders.insert(imageId, 1);
    QTreeWidgetItem* folder = m_folderItems.value(it.value(), nullptr);
    if (!folder) return false;
    if (!m_showImagesInChild) return folder == item;
    for (QTreeWidgetItem* walk = folder; walk; walk = walk->parent())
        if (walk == item) return true;
    return false;
}

bool COrvImageTree::holdsImages(QTreeWidgetItem* folder) const
{
    if (!folder) return false;
    // Images not yet in the table belong to folder 1.
    QList<int> images;
    ref_ptr<IntArray> ids;
    if (m_store) m_store->getImageIds(ids);
    if (ids)
        for (int i = 0; i < ids->size(); ++i) images.append(ids->at(i));
    else
        images = m_imageFolders.keys();
    for (int id : images) {
        for (QTreeWidgetItem* walk = m_folderItems.value(m_imageFolders.value(id, 1), nullptr); walk;
             walk = walk->parent())
            if (walk == folder) return true;
    }
    return false;
}

const ImageLists* COrvImageTree::getImageLists() { return &m_lists; }

int COrvImageTree::updateImageLists()
{
    if (!m_state) return -1;
    computeImageLists();
    if (m_mm) m_mm->setModified(true);
    if (IOrvImageThumbViewer* viewer = thumbViewer()) {
        m_listsReceiver = m_thumbWidget;
        viewer->setImageLists(&m_lists);
    }
    return 0;
}

void COrvImageTree::computeImageLists()
{
    m_lists.all.clear();
    m_lists.mapped.clear();
    m_lists.unmapped.clear();
    ref_ptr<IntArray> ids;
    if (m_store) m_store->getImageIds(ids);
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (ids) {
        for (int i = 0; i < ids->size(); ++i) {
            const int id = ids->at(i);
            for (QTreeWidgetItem* item : selected) {
                if (!belongs(id, item)) continue;
                m_lists.all.append(id);
                if (m_mm && m_mm->isImageMapped(id))
                    m_lists.mapped.append(id);
                else
                    m_lists.unmapped.append(id);
            }
        }
    }
}

bool COrvImageTree::moveImagesToFolder(ref_ptr<LongArray> images, int folderId)
{
    if (!m_folderItems.contains(folderId)) {
        warn(tr("Please select a folder!"));
        images.reset();
        return false;
    }
    userChanged();
    if (images)
        for (int i = 0; i < images->size(); ++i) m_imageFolders.insert(int(images->at(i)), folderId);
    images.reset();
    updateImageLists();
    saveTree();
    return true;
}

int COrvImageTree::getFolderId(QTreeWidgetItem* item) { return m_folderIds.value(item, -1); }

int COrvImageTree::getSelectedFolderId()
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : getFolderId(selected.first());
}

int COrvImageTree::selectImageFolder(int imageId)
{
    auto it = m_imageFolders.constFind(imageId);
    if (it == m_imageFolders.constEnd()) return -1;
    QTreeWidgetItem* item = m_folderItems.value(it.value(), nullptr);
    if (!item) return -1;
    clearSelection();
    item->setSelected(true);
    for (QTreeWidgetItem* walk = item; walk; walk = walk->parent()) walk->setExpanded(true);
    return 0;
}

bool COrvImageTree::isShowImagesInChild() { return m_showImagesInChild; }

int COrvImageTree::setShowImagesInChild(bool show)
{
    m_showImagesInChild = show;
    updateImageLists();
    return 0;
}

int COrvImageTree::removeImage(int imageId)
{
    if (m_imageFolders.remove(imageId) > 0) userChanged();
    updateImageLists();
    if (m_mm) m_mm->setModified(true);
    return 0;
}

// ---- storage ---------------------------------------------------------------------------------

ImageTreeData COrvImageTree::treeData() const
{
    ImageTreeData data;
    if (m_root) {
        // Depth-first pre-order, children in display order.
        QList<QTreeWidgetItem*> stack{m_root};
        while (!stack.isEmpty()) {
            QTreeWidgetItem* item = stack.takeLast();
            ImageTreeFolderRecord r;
            r.id = m_folderIds.value(item, -1);
            r.parentId = item->parent() ? m_folderIds.value(item->parent(), -1) : -1;
            r.type = item->type();
            r.expanded = item->isExpanded();
            r.selected = item->isSelected();
            r.name = ImageTreeBlob::encodeName(item->text(0));
            data.folders.append(r);
            for (int i = item->childCount() - 1; i >= 0; --i) stack.append(item->child(i));
        }
    }
    data.imageFolders = m_imageFolders;
    return data;
}

int COrvImageTree::saveTree()
{
    if (!m_state || !m_mm || !m_root) return -1;
    // A stored tree that could not be read stays as it is until the user changes the tree.
    if (m_keepStored) return 0;
    const ImageTreeData data = treeData();
    const QString group = QString::fromLatin1(ImageTreeBlob::group());
    const QByteArray folderHead = ImageTreeBlob::encodeHead(data.folders.size());
    const QByteArray folders = ImageTreeBlob::encodeFolders(data.folders);
    const QByteArray fileHead = ImageTreeBlob::encodeHead(data.imageFolders.size());
    const QByteArray files = ImageTreeBlob::encodeFiles(data.imageFolders);
    int rc = 0;
    rc |= m_mm->writeProjectData(group, ImageTreeBlob::folderHeadKey(), folderHead.constData(), folderHead.size());
    rc |= m_mm->writeProjectData(group, ImageTreeBlob::folderKey(), folders.constData(), folders.size());
    rc |= m_mm->writeProjectData(group, ImageTreeBlob::fileHeadKey(), fileHead.constData(), fileHead.size());
    rc |= m_mm->writeProjectData(group, ImageTreeBlob::fileKey(), files.constData(), files.size());
    return rc == 0 ? 0 : -1;
}

namespace {

// Reads a whole blob whose size must be exactly `expected` bytes (known to be bounded).
bool readBlob(IZimMM* mm, const QString& key, int expected, QByteArray* out)
{
    const QString group = QString::fromLatin1(ImageTreeBlob::group());
    int actual = -1;
    mm->readProjectData(group, key, nullptr, 0, &actual);
    if (actual != expected) {
        *out = QByteArray();
        return false;
    }
    out->resize(expected);
    if (expected == 0) return true;
    return mm->readProjectData(group, key, out->data(), expected, nullptr);
}

}  // namespace

// present: both heads exist. The result is true when the tree in *data is sound.
bool COrvImageTree::readStoredTree(ImageTreeData* data, bool* present)
{
    const QString group = QString::fromLatin1(ImageTreeBlob::group());
    *present = false;
    int folderCount = 0;
    int fileCount = 0;
    int folderHeadSize = -1;
    int fileHeadSize = -1;
    const bool folderHead =
        m_mm->readProjectData(group, ImageTreeBlob::folderHeadKey(), &folderCount, 4, &folderHeadSize);
    const bool fileHead = m_mm->readProjectData(group, ImageTreeBlob::fileHeadKey(), &fileCount, 4, &fileHeadSize);
    if (folderHeadSize < 0 || fileHeadSize < 0) return false;  // no stored tree
    *present = true;
    QString why;
    if (!folderHead || !fileHead || folderHeadSize != 4 || fileHeadSize != 4) {
        why = QStringLiteral("a head is not 4 bytes long");
    } else {
        folderCount = qFromLittleEndian<qint32>(&folderCount);
        fileCount = qFromLittleEndian<qint32>(&fileCount);
        QByteArray folders;
        QByteArray files;
        if (folderCount < 1 || folderCount > ImageTreeBlob::kMaxFolders || fileCount < 0 ||
            fileCount > ImageTreeBlob::kMaxEntries) {
            why = QStringLiteral("the counts %1 and %2 are out of range").arg(folderCount).arg(fileCount);
        } else if (!readBlob(m_mm.get(), ImageTreeBlob::folderKey(), folderCount * ImageTreeBlob::kRecordSize,
                             &folders)) {
            why = QStringLiteral("the folder data does not hold %1 records").arg(folderCount);
        } else if (!readBlob(m_mm.get(), ImageTreeBlob::fileKey(), fileCount * ImageTreeBlob::kEntrySize, &files)) {
            why = QStringLiteral("the image data does not hold %1 entries").arg(fileCount);
        } else if (ImageTreeBlob::decodeTree(folderCount, folders, fileCount, files, data, &why)) {
            return true;
        }
    }
    qWarning().noquote() << QStringLiteral(
                                "The image folders stored in the project cannot be read (%1); "
                                "showing the default folders instead.")
                                .arg(why);
    return false;
}

void COrvImageTree::buildDefaultTree()
{
    auto* def = new QTreeWidgetItem(FolderType);
    def->setText(0, tr("Default"));
    auto* root = new QTreeWidgetItem(RootType);
    root->setText(0, tr("Root"));
    root->addChild(def);
    addTopLevelItem(root);
    root->setExpanded(true);
    m_root = root;
    ref_ptr<IntArray> ids;
    if (m_store) m_store->getImageIds(ids);
    if (ids)
        for (int i = 0; i < ids->size(); ++i) m_imageFolders.insert(ids->at(i), 1);
    m_folderItems.insert(0, root);
    m_folderItems.insert(1, def);
    m_folderIds.insert(root, 0);
    m_folderIds.insert(def, 1);
    clearSelection();
    def->setSelected(true);
}

void COrvImageTree::forgetTree()
{
    m_editItem = nullptr;
    m_editColumn = -1;
    clear();
    m_root = nullptr;
    m_folderItems.clear();
    m_folderIds.clear();
    m_imageFolders.clear();
    m_keepStored = false;
    m_state.reset();
    m_store.reset();
}

void COrvImageTree::clearTree()
{
    const bool blocked = blockSignals(true);
    forgetTree();
    m_lists = ImageLists();
    blockSignals(blocked);
}

int COrvImageTree::loadTree()
{
    const bool blocked = blockSignals(true);
    forgetTree();
    if (m_mm) m_mm->getState(m_state);
    if (!m_state) {
        m_thumbWidget = nullptr;
        blockSignals(blocked);
        return -1;
    }
    IOrvImageThumbViewer* viewer = m_vm ? m_vm->getThumbViewer() : nullptr;
    m_thumbWidget = m_ownerWidget ? m_ownerWidget.data() : dynamic_cast<QWidget*>(viewer);
    m_state->getImageStore(m_store);

    ImageTreeData data;
    bool present = false;
    if (readStoredTree(&data, &present)) {
        QTreeWidgetItem* toSelect = nullptr;
        for (const ImageTreeFolderRecord& r : data.folders) {
            auto* item = new QTreeWidgetItem(r.type);
            item->setText(0, ImageTreeBlob::decodeName(r.name));
            m_folderItems.insert(r.id, item);
            m_folderIds.insert(item, r.id);
            if (r.parentId < 0)
                addTopLevelItem(item);
            else
                m_folderItems.value(r.parentId)->addChild(item);
            if (r.expanded) item->setExpanded(true);
            if (r.selected) toSelect = item;
            if (r.type == RootType) m_root = item;
        }
        m_imageFolders = data.imageFolders;
        clearSelection();
        if (toSelect) toSelect->setSelected(true);
    } else {
        buildDefaultTree();
        m_keepStored = present;
    }
    // The selection changed while signals were blocked: the lists follow it now.
    computeImageLists();
    blockSignals(blocked);
    return 0;
}

// ---- events ----------------------------------------------------------------------------------

void COrvImageTree::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) closeEditor();
}

void COrvImageTree::contextMenuEvent(QContextMenuEvent* /*event*/) { m_menu->exec(QCursor::pos()); }

int COrvImageTree::dragKind(const QDropEvent* event) const
{
    QObject* source = event->source();
    if (qobject_cast<CThumbWidget*>(source)) return 1;
    if (source == this || source == viewport()) return 2;
    return 0;
}

void COrvImageTree::dragEnterEvent(QDragEnterEvent* event)
{
    if (dragKind(event) != 0)
        event->accept();
    else
        event->ignore();
}

void COrvImageTree::dragMoveEvent(QDragMoveEvent* event)
{
    const int kind = dragKind(event);
    if (kind == 1) {
        event->accept();
        return;
    }
    if (kind == 2) {
        QTreeWidgetItem* target = itemAt(event->pos());
        const QList<QTreeWidgetItem*> selected = selectedItems();
        if (target && !selected.isEmpty() && target->parent() == selected.first()->parent()) {
            event->accept();
            return;
        }
    }
    event->ignore();
}

bool COrvImageTree::moveFolderOnto(QTreeWidgetItem* dragged, QTreeWidgetItem* target)
{
    if (!dragged || !target || dragged == target) return false;
    QTreeWidgetItem* parentItem = target->parent();
    if (!parentItem || parentItem != dragged->parent()) return false;
    const int index = parentItem->indexOfChild(target);
    userChanged();
    const bool expanded = dragged->isExpanded();
    if (dragged == m_editItem) closeEditor();
    blockSignals(true);
    parentItem->removeChild(dragged);
    parentItem->insertChild(index, dragged);
    dragged->setExpanded(expanded);
    blockSignals(false);
    clearSelection();
    dragged->setSelected(true);
    return true;
}

void COrvImageTree::dropEvent(QDropEvent* event)
{
    const int kind = dragKind(event);
    QTreeWidgetItem* target = itemAt(event->pos());
    if (kind == 1) {
        if (target) {
            if (IOrvImageThumbViewer* viewer = thumbViewer()) viewer->setDropTarget(1, getFolderId(target));
            event->accept();
        } else {
            event->ignore();
        }
        return;
    }
    if (kind == 2) {
        const QList<QTreeWidgetItem*> selected = selectedItems();
        if (!selected.isEmpty()) moveFolderOnto(selected.first(), target);
    }
    // The standard internal move must never move the item a second time.
    event->ignore();
}

}  // namespace orvUI
