// The application's main window: menus and toolbars built from common items, the status-bar
// panes, a horizontal splitter of 3D and image viewers, dock widgets, plug-in loading and the
// routing of menu commands to the plug-ins by action name.
#pragma once

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QVector>

#include "IOrvMainFrame.h"
#include "OrvPluginManager64t.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QMenuBar;
class QSplitter;
class QStatusBar;
class QToolBar;

namespace orvUI {

class COrvDockWidget;

class COrvMainFrame : public QMainWindow, public IOrvMainFrame {
    Q_OBJECT
public:
    explicit COrvMainFrame(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~COrvMainFrame() override;

    void setCommonItems(ref_ptr<ZimReferenced> receiver, const QVector<ref_ptr<IOrvCommonItem>>& items) override;
    const QVector<int>& setStatusBarPanes(const QVector<int>& ids) override;
    void setStatusBarText(int id, const QString& text) override;
    bool isStatusBarVisible() override;
    void showStatusBar(bool show) override;
    QString getActionText(QString name) override;
    QString getLastActionName() override;
    void setActionCheckable(QString name, bool checkable) override;
    void setActionChecked(QString name, bool checked) override;
    bool isActionCheckable(QString name) override;
    bool isActionChecked(QString name) override;
    void insertSubMenu(ref_ptr<ZimReferenced> receiver, QString name, ref_ptr<IOrvCommonItem> group,
                       int menuIndex) override;
    WId getWinId() override;
    bool initFrame() override;
    void unloadAllPlugins() override;
    IOrvImageViewer* getImageViewer(int id) override;
    IOrv3DViewer* get3DViewer(int id) override;
    IOrvImageViewer* createImageViewer(int id) override;
    IOrv3DViewer* create3DViewer(int id) override;
    bool removeImageViewer(int id) override;
    bool remove3DViewer(int id) override;
    WId createThumbViewer(int id) override;
    WId createMeshPanel(int id) override;
    IOrvMeshPanelViewer* getMeshPanel(int id) override;
    IOrvImageThumbViewer* getThumbViewer(int id) override;
    IOrvDockWidget* createDockWidget(int id, unsigned area, const QString& title) override;
    bool removeDockWidget(int id) override;
    IOrvDockWidget* getDockWidget(int id) override;
    void tabifyDockWidgets() override;
    IOrvDockWidget* restoreDefaultLayout() override;
    void show3DViewer(int id, bool show) override;
    bool is3DViewerVisible(int id) override;
    void showImageViewer(int id, bool show) override;
    bool isImageViewerVisible(int id) override;
    bool isShowMarks(int id, int type) override;
    void setShowMarks(int id, bool show, int type) override;
    bool getViewerFlag(int id, int type) override;
    void setViewerFlag(int id, bool on, int type) override;
    int setViewerCursor(int id, unsigned shape, int type) override;
    void setShowImageOverlay(int id, bool show) override;
    bool isShowImageOverlay(int id) override;
    IZimProgress* getProgress() override;
    void updateAllViewers() override;
    void setFrameTitle(const QString& title) override;
    void setFrameIcon(const QString& path) override;
    void addToActionGroup(QString group, QString actionName) override;
    void setGroupChecked(QString group, QString actionName, bool on) override;
    void setActionCheckedByName(QString name, bool checked) override;
    ref_ptr<ZimReferenced> getPluginObject(int index) override;
    void setKeyHandler(int key, OrvKeyCallback handler) override;
    void setViewKeyHandler(int key, OrvKeyCallback handler) override;
    void setAuxHandler(OrvAuxHandler handler) override;
    void setDropHandler(OrvDropHandler handler) override;
    void setCloseHandler(OrvCloseHandler handler) override;
    QStringList getLoadedPlugins() override;

    // Loads every plug-in file of <appdir>/plugins/ (see OrvPluginFiles.h) in name order; false
    // without the folder or a plug-in manager.
    virtual bool loadPlugins();
    // Unloads the plug-in files of that folder; the later plug-ins move down one index each.
    virtual bool unloadPlugins();
    // One action (or separator) into the menu and/or toolbar as its flags say; false when it
    // went into neither (the action is then deleted) or an argument is null.
    virtual bool addActionItem(ref_ptr<ZimReferenced> receiver, QMenu* menu, QToolBar* toolBar,
                               ref_ptr<IOrvActionItem> item);
    // Items with children become sub-menus of menu; false for a null menu or toolbar or no items.
    virtual bool addActionItems(ref_ptr<ZimReferenced> receiver, QMenu* menu, QToolBar* toolBar,
                                const QVector<ref_ptr<IOrvActionItem>>& items);
    virtual bool applyStyleSheet();

    // ---- for the views and the host (not part of the interface) ----
    // The callback stored by setViewKeyHandler for the key; null when none.
    OrvKeyCallback viewKeyHandler(int key) const;
    OrvAuxHandler auxHandler() const;
    // The menus by common-item position and the toolbars on show.
    const QVector<QMenu*>& positionMenus() const { return m_menus; }
    QVector<QToolBar*> shownToolBars() const;
    QSplitter* viewSplitter() const { return m_splitter; }

public slots:
    // Routes the sending action's command to the plug-in its object name points at.
    virtual void triggeredPlugin(bool bChecked);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // A view and the widget it lives in; the widget pointer clears itself when Qt deletes the
    // view (a dock deletes the content it replaces), so a dead view is never handed out.
    template <class View>
    struct ViewEntry {
        QPointer<QWidget> widget;
        View* view = nullptr;
    };
    template <class View>
    static View* liveView(QMap<int, ViewEntry<View>>& views, int id);
    template <class View>
    View* makeView(QWidget* (*maker)(QWidget*), QWidget** widget);

    // The QAction of an item, parented to parent, wired to triggeredPlugin and announced to
    // the receiver.
    QAction* makeItemAction(const ref_ptr<ZimReferenced>& receiver, QMenu* parent, const IOrvActionItem& item);
    void fillInsertedMenu(const ref_ptr<ZimReferenced>& receiver, QMenu* menu,
                          const QVector<ref_ptr<IOrvActionItem>>& items);
    // Depth-first through the position menus and their sub-menus: the first action whose own
    // object name or whose menu's object name is name, and the menu that holds it.
    QAction* findMenuAction(const QString& name, QMenu** holder = nullptr) const;
    COrvDockWidget* dock(int id);

    QStatusBar* m_statusBar = nullptr;
    QMenuBar* m_menuBar = nullptr;
    ref_ptr<IOrvPluginManager> m_pluginMan;
    QVector<QString> m_loadedPlugins;
    QMap<int, ViewEntry<IOrvImageViewer>> m_imageViewers;
    QMap<int, ViewEntry<IOrv3DViewer>> m_viewers3D;
    QMap<int, QPointer<COrvDockWidget>> m_docks;
    QMap<int, int> m_dockAreas;
    QMap<int, ViewEntry<IOrvImageThumbViewer>> m_thumbViewers;
    QMap<int, ViewEntry<IOrvMeshPanelViewer>> m_meshPanels;
    QMap<int, QLabel*> m_statusPanes;
    QMap<QString, QActionGroup*> m_actionGroups;
    QMap<QString, QPointer<QAction>> m_actionsByName;
    QSplitter* m_splitter = nullptr;
    QPointer<QAction> m_lastAction;
    // By common-item position. Toolbars stay without parent, off the window, until they hold
    // an action; menus and toolbars keep lining up by position either way.
    QVector<QMenu*> m_menus;
    QVector<QToolBar*> m_toolBars;
    OrvDropHandler m_dropHandler = nullptr;
    OrvCloseHandler m_closeHandler = nullptr;
    OrvAuxHandler m_auxHandler = nullptr;
    QMap<int, OrvKeyCallback> m_keyHandlers;
    QMap<int, OrvKeyCallback> m_viewKeyHandlers;
};

}  // namespace orvUI
