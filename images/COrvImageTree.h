// The project's folder tree of photographs (see IOrvImageTree).
#pragma once

#include <IOrvViewerMan.h>
#include <OrvKernel64t.h>

#include <QMap>
#include <QPointer>

#include "IOrvImageTree.h"
#include "ImageTreeBlob.h"
#include "OrvItemMenu.h"

class QMenu;

namespace orvUI {

class IOrvMainFrame;
class IOrvImageThumbViewer;

class COrvImageTree : public IOrvImageTree {
    Q_OBJECT
public:
    explicit COrvImageTree(QWidget* parent);
    ~COrvImageTree() override;

    int saveTree() override;
    int loadTree() override;
    const ImageLists* getImageLists() override;
    int updateImageLists() override;
    bool moveImagesToFolder(ref_ptr<LongArray> images, int folderId) override;
    int getFolderId(QTreeWidgetItem* item) override;
    int getSelectedFolderId() override;
    int selectImageFolder(int imageId) override;
    bool isShowImagesInChild() override;
    int setShowImagesInChild(bool show) override;
    int removeImage(int imageId) override;
    int setPluginItems(ref_ptr<IOrvCommonItem> group) override;

    // ---- beyond the interface ----
    // The thumbnail viewer that owns this tree; it receives the lists instead of the viewer
    // manager's. Null for a free-standing tree.
    void setOwnerViewer(IOrvImageThumbViewer* viewer);
    // The tree as it would be stored (what saveTree writes).
    ImageTreeData treeData() const;
    // The image-to-folder table.
    const QMap<int, int>& imageFolders() const { return m_imageFolders; }
    QTreeWidgetItem* folderItem(int folderId) const { return m_folderItems.value(folderId); }
    QTreeWidgetItem* rootItem() const { return m_root; }
    // Empties the widget and forgets the folders, the table and the project until the next
    // loadTree.
    void clearTree();
    // Moves a dragged folder onto a sibling (the folder drop): true when it moved.
    bool moveFolderOnto(QTreeWidgetItem* dragged, QTreeWidgetItem* target);
    // True while the stored tree could not be read and the user has changed nothing since:
    // saveTree leaves the stored blobs alone then.
    bool keepsStoredTree() const { return m_keepStored; }

public slots:
    void slotItemDoubleClicked(QTreeWidgetItem* item, int column);
    void slotItemSelectionChanged();
    void slotAddChildAction();
    void slotRemoveAction();
    void slotUpAction();
    void slotDownAction();
    void slotTopAction();
    void slotBottomAction();
    void slotTriggeredPlugin(bool bChecked);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool needProject();
    QTreeWidgetItem* needSelection();
    void warn(const QString& text);
    void closeEditor();
    void userChanged() { m_keepStored = false; }
    void buildDefaultTree();
    // Empties the widget, the folder maps and the project links (signals blocked by the caller).
    void forgetTree();
    bool readStoredTree(ImageTreeData* data, bool* present);
    bool belongs(int imageId, QTreeWidgetItem* item);
    // Fills the lists for the selection without handing them on.
    void computeImageLists();
    // True when an image of the project is in the folder or in one of its sub-folders.
    bool holdsImages(QTreeWidgetItem* folder) const;
    void eraseFolder(QTreeWidgetItem* item);
    void reorder(int which);
    int dragKind(const QDropEvent* event) const;
    IOrvImageThumbViewer* thumbViewer() const;

    ref_ptr<IOrvViewerMan> m_vm;
    ref_ptr<IZimMM> m_mm;
    IOrvMainFrame* m_mainFrame = nullptr;
    QWidget* m_frameWidget = nullptr;
    ref_ptr<IZimTqState> m_state;
    ref_ptr<IZimImageStore> m_store;
    QPointer<QWidget> m_thumbWidget;
    QTreeWidgetItem* m_root = nullptr;
    QTreeWidgetItem* m_editItem = nullptr;
    int m_editColumn = -1;
    QMenu* m_menu = nullptr;
    PluginCallbacks m_pluginCallbacks;
    QMap<int, int> m_imageFolders;
    QMap<int, QTreeWidgetItem*> m_folderItems;
    QMap<QTreeWidgetItem*, int> m_folderIds;
    ImageLists m_lists;
    bool m_showImagesInChild = true;
    QPointer<QWidget> m_ownerWidget;
    // The viewer that was last handed this tree's lists; told when the tree goes.
    QPointer<QWidget> m_listsReceiver;
    bool m_keepStored = false;
};

}  // namespace orvUI
