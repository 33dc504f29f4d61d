// The thumbnail viewer (see IOrvImageThumbViewer).
#pragma once

#include <IOrvViewerMan.h>
#include <OrvKernel64t.h>

#include <QList>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <QWidget>
#include <vector>

#include "IOrvImageThumbViewer.h"
#include "IOrvImageTree.h"
#include "OrvItemMenu.h"

class QCheckBox;
class QLabel;
class QMenu;
class QScrollArea;
class QVBoxLayout;

namespace orvUI {

class COrvImageTree;
class CThumbWidget;

class CImageThumbViewer : public QWidget, public IOrvImageThumbViewer {
    Q_OBJECT
public:
    explicit CImageThumbViewer(QWidget* parent);
    ~CImageThumbViewer() override;

    int setTileOptions(int options) override;
    int getTileOptions() override;
    int loadThumbnailsByPath(ref_ptr<StringArray> paths, IZimProgress* progress) override;
    int loadThumbnails(ref_ptr<LongArray> ids, IZimProgress* progress) override;
    int addImageByName(QString fileName) override;
    int addImage(int id) override;
    int removeThumbnail(int id) override;
    int removeThumbnails(ref_ptr<LongArray> ids, IZimProgress* progress) override;
    int clearThumbnails() override;
    int refreshThumbnail(int id) override;
    int refreshThumbnails(ref_ptr<LongArray> ids, IZimProgress* progress) override;
    int deselectAllThumbnails() override;
    int clearHighlight() override;
    int layoutThumbnails() override;
    int getSelectedImages(ref_ptr<LongArray>& out, int mode) override;
    int resetTileStates() override;
    int setTileState(int id, int op) override;
    int onTileMousePress(int id, int button, int keyFlag) override;
    int buildLeadingGroup(bool mappedOnly) override;
    int setPluginItems(ref_ptr<IOrvCommonItem> group) override;
    int setKeyHandler(int key, OrvKeyCallback handler) override;
    int setAuxKeyHandler(int key, long long value) override;
    int setOwnerValue(long long value) override;
    IOrvImageTree* getImageTree() override;
    int setImageLists(const ImageLists* lists) override;
    int neighbourImage(int id, int where) override;
    int setDropTarget(int kind, int id) override;
    int autoScrollAt(int id, const QPoint& pos) override;
    int scrollToImage(int id) override;

    // ---- beyond the interface ----
    CThumbWidget* tile(int id) const { return m_tiles.value(id, nullptr); }
    const std::vector<int>& displayOrder() const { return m_order; }
    const std::vector<int>& leadingGroup() const { return m_leading; }
    const QList<int>& loaded() const { return m_loaded; }
    QString countText() const;
    int anchor() const { return m_anchor; }
    int dropKind() const { return m_dropKind; }
    int dropId() const { return m_dropId; }
    // Photo files whose reduced picture could not be read (each named once in a warning).
    QStringList unreadableFiles() override { return m_unreadable; }
    // What a tile drag does once it ended with the given action (the drop record decides).
    void finishTileDrag(Qt::DropAction action);
    // Opens the image in the image viewer (the tile's double click).
    void onTileDoubleClick(int id, bool leftButton);
    // Moves the single selection: key 0 up, 1 down, 2 left, 3 right.
    void moveSelection(int key);
    // Called by a tree that goes away: when the lists shown are its own, the viewer shows the
    // lists of its own tree again (or none without a project).
    void forgetImageLists(const ImageLists* lists);
    // The lists shown (null for none) and the menu its context-menu event opens.
    const ImageLists* shownImageLists() const { return m_listsSource ? &m_lists : nullptr; }
    QMenu* contextMenu() const { return m_menu; }

public slots:
    void triggeredPlugin(bool);
    void cbStateChanged(int state);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool storeReady(ref_ptr<IZimImageStore>* store);
    int addTile(int id);
    void applyImageStates(CThumbWidget* tile, bool fromScratch);
    void dropTiles();
    void scrollTileIntoView(CThumbWidget* tile);
    void selectOnly(int id);
    void openImage(int id, bool fromKey);
    void reportUnreadable();
    void startTileDrag(CThumbWidget* tile);
    int selectedCount() const;

    QMap<int, CThumbWidget*> m_tiles;
    std::vector<int> m_order;
    std::vector<int> m_leading;
    QList<int> m_loaded;
    int m_tileOptions = 0x11111111;
    QVBoxLayout* m_layout = nullptr;
    QScrollArea* m_scroll = nullptr;
    QMenu* m_menu = nullptr;
    int m_leadingRows = 0;
    int m_restRows = 0;
    int m_columns = 1;
    int m_anchor = -1;
    QMap<int, OrvKeyCallback> m_keyHandlers;
    QMap<int, long long> m_auxKeys;
    long long m_ownerValue = 0;
    PluginCallbacks m_pluginCallbacks;
    COrvImageTree* m_tree = nullptr;
    QCheckBox* m_check = nullptr;
    QLabel* m_countLabel = nullptr;
    // A copy of the lists last received (the tree that made them may go first) and where they
    // came from; no lists at all while m_listsSource is null.
    ImageLists m_lists;
    const ImageLists* m_listsSource = nullptr;
    int m_dropKind = 0;
    int m_dropId = 0;
    QStringList m_unreadable;
    QSet<QString> m_reported;
    int m_batch = 0;
};

}  // namespace orvUI
