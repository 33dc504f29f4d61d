#include "COrvMainFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QResizeEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <new>

#include "COrvDockWidget.h"
#include "IOrv3DViewer.h"
#include "IOrvImageThumbViewer.h"
#include "IOrvImageViewer.h"
#include "IOrvMeshPanelViewer.h"
#include "OrvCommandName.h"
#include "OrvFrameLink.h"
#include "OrvItemAction.h"
#include "OrvLog.h"
#include "OrvPluginFiles.h"
#include "OrvProgress.h"
#include "OrvTheme.h"

namespace orvUI {

namespace {

// Positions beyond this are taken for a broken description rather than building that many menus.
constexpr int kMaxMenuPositions = 256;

bool hasRealAction(const QToolBar* toolBar)
{
    for (const QAction* action : toolBar->actions())
        if (!action->isSeparator()) return true;
    return false;
}

Qt::DockWidgetArea dockAreaOf(unsigned area)
{
    if (area == 1) return Qt::RightDockWidgetArea;
    if (area == 2) return Qt::BottomDockWidgetArea;
    return Qt::LeftDockWidgetArea;
}

constexpr Qt::DockWidgetAreas kDockAreas = Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea | Qt::BottomDockWidgetArea;

QAction* findIn(const QMenu* menu, const QString& name, QMenu** holder)
{
    for (QAction* action : menu->actions()) {
        QMenu* sub = action->menu();
        if (action->objectName() == name || (sub && sub->objectName() == name)) {
            if (holder) *holder = const_cast<QMenu*>(menu);
            return action;
        }
        if (sub)
            if (QAction* found = findIn(sub, name, holder)) return found;
    }
    return nullptr;
}

}  // namespace

COrvMainFrame::COrvMainFrame(QWidget* parent, Qt::WindowFlags flags) : QMainWindow(parent, flags)
{
    m_menuBar = new QMenuBar(this);
    setMenuBar(m_menuBar);
    m_statusBar = new QStatusBar(this);
    setStatusBar(m_statusBar);
    m_splitter = new QSplitter(this);
    m_splitter->setOrientation(Qt::Horizontal);
    setCentralWidget(m_splitter);
    applyStyleSheet();
    setMouseTracking(true);
    setAcceptDrops(true);
}

COrvMainFrame::~COrvMainFrame()
{
    // Toolbars that never held an action were never handed to the window.
    for (QToolBar* toolBar : qAsConst(m_toolBars))
        if (toolBar && !toolBar->parent()) delete toolBar;
}

// ---- menus and toolbars ----------------------------------------------------------------------

QAction* COrvMainFrame::makeItemAction(const ref_ptr<ZimReferenced>& receiver, QMenu* parent,
                                       const IOrvActionItem& item)
{
    QAction* action = newItemAction(item, parent);
    connect(action, &QAction::triggered, this, &COrvMainFrame::triggeredPlugin);
    if (auto* told = dynamic_cast<IOrvActionReceiver*>(receiver.get()))
        told->actionCreated(action->objectName(), item.getUserData());
    return action;
}

bool COrvMainFrame::addActionItem(ref_ptr<ZimReferenced> receiver, QMenu* menu, QToolBar* toolBar,
                                  ref_ptr<IOrvActionItem> item)
{
    if (!menu || !toolBar || !item) return false;
    const unsigned flags = item->getFlags();
    const bool inMenu = flags & ActionItemInMenu;
    const bool inToolBar = flags & ActionItemInToolBar;
    if (flags & ActionItemSeparator) {
        if (inMenu) menu->addSeparator();
        if (inToolBar) toolBar->addSeparator();
        return true;
    }
    // An action for neither place is not made (nor announced to the receiver).
    if (!inMenu && !inToolBar) return false;
    QAction* action = makeItemAction(receiver, menu, *item);
    if (inMenu) {
        menu->addAction(action);
        const QString name = action->objectName();
        if (!m_actionsByName.value(name)) m_actionsByName.insert(name, action);
    }
    if (inToolBar) toolBar->addAction(action);
    return true;
}

bool COrvMainFrame::addActionItems(ref_ptr<ZimReferenced> receiver, QMenu* menu, QToolBar* toolBar,
                                   const QVector<ref_ptr<IOrvActionItem>>& items)
{
    if (!menu || !toolBar || items.isEmpty()) return false;
    for (const ref_ptr<IOrvActionItem>& item : items) {
        if (!item) continue;
        QVector<ref_ptr<IOrvActionItem>> children;
        item->getChildren(children);
        if (children.isEmpty()) {
            addActionItem(receiver, menu, toolBar, item);
            continue;
        }
        auto* sub = new QMenu(item->getText(), menu);
        menu->addMenu(sub);
        addActionItems(receiver, sub, toolBar, children);
    }
    return true;
}

void COrvMainFrame::setCommonItems(ref_ptr<ZimReferenced> receiver, const QVector<ref_ptr<IOrvCommonItem>>& items)
{
    for (const ref_ptr<IOrvCommonItem>& group : items) {
        if (!group) continue;
        const QString name = group->getName();
        const int p = group->getPosition();
        if (p < 0 || p >= kMaxMenuPositions) {
            qWarning().noquote() << tr("Menu group \"%1\" has the position %2, outside 0 to %3; it is left out.")
                                        .arg(name)
                                        .arg(p)
                                        .arg(kMaxMenuPositions - 1);
            continue;
        }
        QVector<ref_ptr<IOrvActionItem>> actions;
        group->getActionItems(actions);
        if (p < m_menus.size()) {
            // A further group of a position continues its menu and toolbar after a separator.
            m_menus[p]->addSeparator();
            m_toolBars[p]->addSeparator();
        } else {
            while (m_menus.size() <= p) {
                m_menus.append(new QMenu(name, this));
                m_toolBars.append(new QToolBar(name));
            }
        }
        addActionItems(receiver, m_menus[p], m_toolBars[p], actions);
    }

    m_menuBar->clear();
    for (QMenu* menu : qAsConst(m_menus))
        if (menu) m_menuBar->addMenu(menu);
    for (QToolBar* toolBar : qAsConst(m_toolBars)) {
        if (!toolBar || !hasRealAction(toolBar)) continue;
        if (toolBar->parent() != this) toolBar->setParent(this);
        addToolBar(toolBar);
    }
}

QVector<QToolBar*> COrvMainFrame::shownToolBars() const
{
    QVector<QToolBar*> shown;
    for (QToolBar* toolBar : m_toolBars)
        if (toolBar && toolBar->parent() == this) shown.append(toolBar);
    return shown;
}

QAction* COrvMainFrame::findMenuAction(const QString& name, QMenu** holder) const
{
    for (const QMenu* menu : m_menus)
        if (menu)
            if (QAction* found = findIn(menu, name, holder)) return found;
    return nullptr;
}

void COrvMainFrame::fillInsertedMenu(const ref_ptr<ZimReferenced>& receiver, QMenu* menu,
                                     const QVector<ref_ptr<IOrvActionItem>>& items)
{
    for (const ref_ptr<IOrvActionItem>& item : items) {
        if (!item) continue;
        QVector<ref_ptr<IOrvActionItem>> children;
        item->getChildren(children);
        if (!children.isEmpty()) {
            auto* sub = new QMenu(item->getText(), menu);
            menu->addMenu(sub);
            fillInsertedMenu(receiver, sub, children);
        } else if (item->getFlags() & ActionItemSeparator) {
            menu->addSeparator();
        } else {
            menu->addAction(makeItemAction(receiver, menu, *item));
        }
    }
}

void COrvMainFrame::insertSubMenu(ref_ptr<ZimReferenced> receiver, QString name, ref_ptr<IOrvCommonItem> group,
                                  int menuIndex)
{
    if (!group) return;
    QMenu* holder = nullptr;
    if (QAction* old = findMenuAction(name, &holder)) {
        holder->removeAction(old);
        // A sub-menu made here before is replaced, not kept: it goes once the event that may be
        // running one of its actions is over.
        QMenu* oldMenu = old->menu();
        if (oldMenu && oldMenu->parent() == this && oldMenu->objectName() == name && !m_menus.contains(oldMenu))
            oldMenu->deleteLater();
    }
    auto* sub = new QMenu(group->getName(), this);
    sub->setObjectName(name);
    if (menuIndex < 0 || menuIndex >= m_menus.size() || !m_menus[menuIndex]) {
        delete sub;
        return;
    }
    // Before "FileSave" when that action is in this menu; at the end otherwise.
    m_menus[menuIndex]->insertMenu(findMenuAction(QStringLiteral("FileSave")), sub);
    QVector<ref_ptr<IOrvActionItem>> actions;
    group->getActionItems(actions);
    fillInsertedMenu(receiver, sub, actions);
}

QString COrvMainFrame::getActionText(QString name)
{
    QAction* action = findMenuAction(name);
    if (!action) return QString();
    if (QMenu* menu = action->menu()) return menu->title();
    return action->text();
}

QString COrvMainFrame::getLastActionName() { return m_lastAction ? m_lastAction->objectName() : QString(); }

void COrvMainFrame::setActionCheckable(QString name, bool checkable)
{
    for (QToolBar* toolBar : qAsConst(m_toolBars))
        if (toolBar)
            for (QAction* action : toolBar->actions())
                if (action->objectName() == name) action->setCheckable(checkable);
}

void COrvMainFrame::setActionChecked(QString name, bool checked)
{
    for (QToolBar* toolBar : qAsConst(m_toolBars))
        if (toolBar)
            for (QAction* action : toolBar->actions())
                if (action->objectName() == name) action->setChecked(checked);
}

bool COrvMainFrame::isActionCheckable(QString name)
{
    for (QToolBar* toolBar : qAsConst(m_toolBars))
        if (toolBar)
            for (QAction* action : toolBar->actions())
                if (action->objectName() == name) return action->isCheckable();
    return false;
}

bool COrvMainFrame::isActionChecked(QString name)
{
    for (QToolBar* toolBar : qAsConst(m_toolBars))
        if (toolBar)
            for (QAction* action : toolBar->actions())
                if (action->objectName() == name) return action->isChecked();
    return false;
}

void COrvMainFrame::addToActionGroup(QString group, QString actionName)
{
    QActionGroup*& actionGroup = m_actionGroups[group];
    // Parented to the frame so that it goes with it. Not exclusive: setGroupChecked decides
    // every member's state itself, and with one named action off all the others are on.
    if (!actionGroup) {
        actionGroup = new QActionGroup(this);
        actionGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    }
    if (QAction* action = m_actionsByName.value(actionName)) actionGroup->addAction(action);
}

void COrvMainFrame::setGroupChecked(QString group, QString actionName, bool on)
{
    QActionGroup* actionGroup = m_actionGroups.value(group);
    if (!actionGroup) return;
    for (QAction* action : actionGroup->actions()) action->setChecked(action->objectName() == actionName ? on : !on);
}

void COrvMainFrame::setActionCheckedByName(QString name, bool checked)
{
    if (QAction* action = m_actionsByName.value(name)) action->setChecked(checked);
}

void COrvMainFrame::triggeredPlugin(bool bChecked)
{
    auto* action = qobject_cast<QAction*>(sender());
    m_lastAction = action;
    if (!action) return;
    const QString name = action->objectName();
    qCDebug(orvUiLog).noquote() << name;
    const CommandName parsed = parseCommandName(name);
    if (!parsed.hasSeparator) {
        qCDebug(orvUiLog).noquote() << tr("Action \"%1\" names no plug-in; nothing is run.").arg(name);
        return;
    }
    if (!m_pluginMan || !parsed.routesTo(m_loadedPlugins.size())) {
        qCDebug(orvUiLog).noquote() << tr("Action \"%1\" names no loaded plug-in; nothing is run.").arg(name);
        return;
    }
    // Held here: the command may call back into the frame.
    const ref_ptr<IOrvPluginManager> manager = m_pluginMan;
    const QString path = m_loadedPlugins.at(parsed.pluginIndex);
    if (manager->runPluginCommand(path, parsed.command, name, bChecked) < 0)
        qWarning().noquote() << manager->lastError();
}

// ---- status bar ------------------------------------------------------------------------------

const QVector<int>& COrvMainFrame::setStatusBarPanes(const QVector<int>& ids)
{
    m_statusBar->clearMessage();
    for (int id : ids) {
        if (m_statusPanes.contains(id)) continue;
        auto* pane = new QLabel(m_statusBar);
        m_statusPanes.insert(id, pane);
        m_statusBar->addWidget(pane, 0);
    }
    return ids;
}

void COrvMainFrame::setStatusBarText(int id, const QString& text)
{
    QLabel* pane = m_statusPanes.value(id);
    if (!pane) return;
    pane->setText(text);
    pane->setAlignment(Qt::AlignCenter);
}

bool COrvMainFrame::isStatusBarVisible() { return m_statusBar->isVisibleTo(this); }

void COrvMainFrame::showStatusBar(bool show) { m_statusBar->setVisible(show); }

// ---- plug-ins --------------------------------------------------------------------------------

WId COrvMainFrame::getWinId() { return winId(); }

bool COrvMainFrame::initFrame()
{
    if (!m_pluginMan) m_pluginMan = orvPlugin::newOrvPluginManager();
    return loadPlugins();
}

void COrvMainFrame::unloadAllPlugins()
{
    if (m_pluginMan) unloadPlugins();
}

bool COrvMainFrame::loadPlugins()
{
    const QString dir = pluginDirectory();
    if (!QDir(dir).exists() || !m_pluginMan) return false;
    for (const QFileInfo& entry : pluginDirEntries(dir)) {
        const QString path = entry.absoluteFilePath();
        if (isPluginFile(entry) && QFileInfo::exists(path)) {
            QString error;
            if (m_pluginMan->loadPlugin(path, &error) == 0) {
                // Loading twice answers 0 again: the plug-in keeps its one index.
                if (!m_loadedPlugins.contains(path)) m_loadedPlugins.append(path);
            } else {
                qWarning().noquote() << tr("Plug-in %1 was not loaded: %2").arg(path, error);
            }
        }
        qCDebug(orvUiLog).noquote() << pluginEntryLine(entry);
    }
    return true;
}

bool COrvMainFrame::unloadPlugins()
{
    const QString dir = pluginDirectory();
    if (!QDir(dir).exists() || !m_pluginMan) return false;
    for (const QFileInfo& entry : pluginDirEntries(dir)) {
        const QString path = entry.absoluteFilePath();
        if (isPluginFile(entry) && QFileInfo::exists(path) && m_pluginMan->unloadPlugin(path) == 0 &&
            !m_loadedPlugins.isEmpty())
            m_loadedPlugins.removeOne(path);
        qCDebug(orvUiLog).noquote() << pluginEntryLine(entry);
    }
    return true;
}

QStringList COrvMainFrame::getLoadedPlugins() { return QStringList(m_loadedPlugins.toList()); }

ref_ptr<ZimReferenced> COrvMainFrame::getPluginObject(int index)
{
    ref_ptr<ZimReferenced> object;
    if (!m_pluginMan || index < 0 || index >= m_loadedPlugins.size()) return object;
    if (m_pluginMan->getPluginObject(m_loadedPlugins.at(index), object) != 0) object.reset();
    return object;
}

bool COrvMainFrame::applyStyleSheet()
{
    setStyleSheet(themeStyleSheet());
    return true;
}

// ---- views -----------------------------------------------------------------------------------

template <class View>
View* COrvMainFrame::liveView(QMap<int, ViewEntry<View>>& views, int id)
{
    auto it = views.find(id);
    if (it == views.end()) return nullptr;
    if (!it->widget) {
        // Deleted by Qt behind the frame's back (a dock replaced it, say).
        views.erase(it);
        return nullptr;
    }
    return it->view;
}

template <class View>
View* COrvMainFrame::makeView(QWidget* (*maker)(QWidget*), QWidget** widget)
{
    *widget = nullptr;
    if (!maker) return nullptr;
    QWidget* made = nullptr;
    try {
        made = maker(this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (!made) return nullptr;
    View* view = dynamic_cast<View*>(made);
    if (!view) {
        delete made;
        return nullptr;
    }
    *widget = made;
    return view;
}

IOrvImageViewer* COrvMainFrame::getImageViewer(int id) { return liveView(m_imageViewers, id); }
IOrv3DViewer* COrvMainFrame::get3DViewer(int id) { return liveView(m_viewers3D, id); }
IOrvMeshPanelViewer* COrvMainFrame::getMeshPanel(int id) { return liveView(m_meshPanels, id); }
IOrvImageThumbViewer* COrvMainFrame::getThumbViewer(int id) { return liveView(m_thumbViewers, id); }

IOrvImageViewer* COrvMainFrame::createImageViewer(int id)
{
    if (IOrvImageViewer* existing = getImageViewer(id)) return existing;
    QWidget* widget = nullptr;
    auto* viewer = makeView<IOrvImageViewer>(frameMakers().imageViewer, &widget);
    if (!viewer) return nullptr;
    m_splitter->addWidget(widget);
    if (m_splitter->count() > 1) {
        m_splitter->setCollapsible(m_splitter->indexOf(widget), true);
        m_splitter->setStretchFactor(0, 100);
        m_splitter->setStretchFactor(1, 100);
    }
    m_imageViewers.insert(id, {widget, viewer});
    return viewer;
}

IOrv3DViewer* COrvMainFrame::create3DViewer(int id)
{
    if (IOrv3DViewer* existing = get3DViewer(id)) return existing;
    QWidget* widget = nullptr;
    auto* viewer = makeView<IOrv3DViewer>(frameMakers().viewer3D, &widget);
    if (!viewer) return nullptr;
    m_splitter->addWidget(widget);
    if (m_splitter->count() > 1) {
        m_splitter->setCollapsible(0, true);
        m_splitter->setCollapsible(1, true);
    }
    m_viewers3D.insert(id, {widget, viewer});
    return viewer;
}

bool COrvMainFrame::removeImageViewer(int id)
{
    if (!getImageViewer(id)) return false;
    delete m_imageViewers.take(id).widget.data();
    return true;
}

bool COrvMainFrame::remove3DViewer(int id)
{
    if (!get3DViewer(id)) return false;
    delete m_viewers3D.take(id).widget.data();
    return true;
}

WId COrvMainFrame::createThumbViewer(int id)
{
    if (getThumbViewer(id)) return m_thumbViewers.value(id).widget->winId();
    QWidget* widget = nullptr;
    auto* viewer = makeView<IOrvImageThumbViewer>(frameMakers().thumbViewer, &widget);
    if (!viewer) return 0;
    m_thumbViewers.insert(id, {widget, viewer});
    return widget->winId();
}

WId COrvMainFrame::createMeshPanel(int id)
{
    if (getMeshPanel(id)) return m_meshPanels.value(id).widget->winId();
    QWidget* widget = nullptr;
    auto* panel = makeView<IOrvMeshPanelViewer>(frameMakers().meshPanel, &widget);
    if (!panel) return 0;
    m_meshPanels.insert(id, {widget, panel});
    return widget->winId();
}

void COrvMainFrame::show3DViewer(int id, bool show)
{
    if (get3DViewer(id)) m_viewers3D.value(id).widget->setVisible(show);
}

bool COrvMainFrame::is3DViewerVisible(int id) { return get3DViewer(id) && m_viewers3D.value(id).widget->isVisible(); }

void COrvMainFrame::showImageViewer(int id, bool show)
{
    if (getImageViewer(id)) m_imageViewers.value(id).widget->setVisible(show);
}

bool COrvMainFrame::isImageViewerVisible(int id)
{
    return getImageViewer(id) && m_imageViewers.value(id).widget->isVisible();
}

bool COrvMainFrame::isShowMarks(int id, int type)
{
    if (type == 1) {
        IOrvImageViewer* viewer = getImageViewer(id);
        return viewer && viewer->isShowMarks();
    }
    IOrv3DViewer* viewer = get3DViewer(id);
    return viewer && viewer->isShowMeshMarks();
}

void COrvMainFrame::setShowMarks(int id, bool show, int type)
{
    if (type == 1) {
        if (IOrvImageViewer* viewer = getImageViewer(id)) viewer->setShowMarks(show);
    } else if (IOrv3DViewer* viewer = get3DViewer(id)) {
        viewer->setShowMeshMarks(show);
    }
}

bool COrvMainFrame::getViewerFlag(int id, int type)
{
    if (type == 1) {
        IOrvImageViewer* viewer = getImageViewer(id);
        return viewer && viewer->isShowPairs();
    }
    IOrv3DViewer* viewer = get3DViewer(id);
    return viewer && viewer->getUserFlag1();
}

void COrvMainFrame::setViewerFlag(int id, bool on, int type)
{
    if (type == 1) {
        if (IOrvImageViewer* viewer = getImageViewer(id)) viewer->setShowPairs(on);
    } else if (IOrv3DViewer* viewer = get3DViewer(id)) {
        viewer->setUserFlag1(on);
    }
}

int COrvMainFrame::setViewerCursor(int id, unsigned shape, int type)
{
    if (type == 1) {
        IOrvImageViewer* viewer = getImageViewer(id);
        return viewer ? viewer->setCursorShape(int(shape)) : -1;
    }
    IOrv3DViewer* viewer = get3DViewer(id);
    return viewer ? viewer->setCursorShape(int(shape)) : -1;
}

void COrvMainFrame::setShowImageOverlay(int id, bool show)
{
    if (IOrv3DViewer* viewer = get3DViewer(id)) viewer->setShowImageOverlay(show);
}

bool COrvMainFrame::isShowImageOverlay(int id)
{
    IOrv3DViewer* viewer = get3DViewer(id);
    return viewer && viewer->isShowImageOverlay();
}

IZimProgress* COrvMainFrame::getProgress()
{
    try {
        return new CProgressImp(this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void COrvMainFrame::updateAllViewers()
{
    // Each pass takes the ids first: a redraw may reach back into the frame.
    for (int id : m_viewers3D.keys())
        if (IOrv3DViewer* viewer = get3DViewer(id)) viewer->draw();
    for (int id : m_imageViewers.keys())
        if (IOrvImageViewer* viewer = getImageViewer(id)) viewer->redraw();
    for (int id : m_thumbViewers.keys())
        if (IOrvImageThumbViewer* viewer = getThumbViewer(id)) viewer->layoutThumbnails();
    for (int id : m_meshPanels.keys())
        if (IOrvMeshPanelViewer* panel = getMeshPanel(id)) panel->layoutMeshLists();
}

void COrvMainFrame::setFrameTitle(const QString& title) { setWindowTitle(title); }

void COrvMainFrame::setFrameIcon(const QString& path) { setWindowIcon(QIcon(path)); }

// ---- docks -----------------------------------------------------------------------------------

COrvDockWidget* COrvMainFrame::dock(int id)
{
    auto it = m_docks.find(id);
    if (it == m_docks.end()) return nullptr;
    if (!*it) {
        m_dockAreas.remove(id);
        m_docks.erase(it);
        return nullptr;
    }
    return it->data();
}

IOrvDockWidget* COrvMainFrame::createDockWidget(int id, unsigned area, const QString& title)
{
    if (COrvDockWidget* existing = dock(id)) return existing;
    auto* made = new COrvDockWidget(id);
    made->setAllowedAreas(kDockAreas);
    made->setFloating(false);
    made->setMinimumSize(300, 500);
    made->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    made->setWindowTitle(title);
    const Qt::DockWidgetArea placed = dockAreaOf(area);
    addDockWidget(placed, made);
    m_docks.insert(id, made);
    m_dockAreas.insert(id, int(placed));
    return made;
}

bool COrvMainFrame::removeDockWidget(int id)
{
    const bool known = m_docks.remove(id) > 0;
    return (m_dockAreas.remove(id) > 0) || known;
}

IOrvDockWidget* COrvMainFrame::getDockWidget(int id) { return dock(id); }

void COrvMainFrame::tabifyDockWidgets()
{
    COrvDockWidget* previous = nullptr;
    for (int id : m_docks.keys()) {
        COrvDockWidget* current = dock(id);
        if (!current) continue;
        if (previous) {
            current->show();
            previous->show();
            tabifyDockWidget(previous, current);
        }
        previous = current;
    }
}

IOrvDockWidget* COrvMainFrame::restoreDefaultLayout()
{
    showStatusBar(true);
    for (int id : m_viewers3D.keys())
        if (get3DViewer(id)) m_viewers3D.value(id).widget->setVisible(true);
    for (int id : m_imageViewers.keys())
        if (getImageViewer(id)) m_imageViewers.value(id).widget->setVisible(true);
    for (int id : m_docks.keys()) {
        COrvDockWidget* current = dock(id);
        if (!current) continue;
        QMainWindow::removeDockWidget(current);
        addDockWidget(Qt::DockWidgetArea(m_dockAreas.value(id, Qt::LeftDockWidgetArea)), current);
        current->setFloating(false);
        current->setAllowedAreas(kDockAreas);
        // Taking a dock out of the window hides it; the default layout shows every dock.
        current->show();
    }
    tabifyDockWidgets();
    COrvDockWidget* first = dock(0);
    if (first) first->bringToFront();
    return first;
}

// ---- handlers and events ---------------------------------------------------------------------

void COrvMainFrame::setKeyHandler(int key, OrvKeyCallback handler) { m_keyHandlers.insert(key, handler); }
void COrvMainFrame::setViewKeyHandler(int key, OrvKeyCallback handler) { m_viewKeyHandlers.insert(key, handler); }
void COrvMainFrame::setAuxHandler(OrvAuxHandler handler) { m_auxHandler = handler; }
void COrvMainFrame::setDropHandler(OrvDropHandler handler) { m_dropHandler = handler; }
void COrvMainFrame::setCloseHandler(OrvCloseHandler handler) { m_closeHandler = handler; }
OrvKeyCallback COrvMainFrame::viewKeyHandler(int key) const { return m_viewKeyHandlers.value(key, nullptr); }
OrvAuxHandler COrvMainFrame::auxHandler() const { return m_auxHandler; }

void COrvMainFrame::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if ((key >= Qt::Key_4 && key <= Qt::Key_7) || key == Qt::Key_Escape) {
        if (OrvKeyCallback handler = m_keyHandlers.value(key, nullptr)) handler();
        return;
    }
    event->ignore();
    QMainWindow::keyPressEvent(event);
}

void COrvMainFrame::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    const QVector<QToolBar*> toolBars = shownToolBars();
    if (toolBars.isEmpty()) return;
    const int width = event->size().width() / toolBars.size();
    for (QToolBar* toolBar : toolBars) toolBar->setMinimumWidth(width);
}

void COrvMainFrame::closeEvent(QCloseEvent* event)
{
    if (!m_closeHandler) {
        event->accept();
        return;
    }
    if (!m_closeHandler(this, event)) {
        event->ignore();
        return;
    }
    // Ends the event loop, so the host unloads its plug-ins and closes its project on the way out.
    event->accept();
    QCoreApplication::exit(0);
}

void COrvMainFrame::dragEnterEvent(QDragEnterEvent* event) { event->acceptProposedAction(); }

void COrvMainFrame::dropEvent(QDropEvent* event)
{
    const QMimeData* data = event->mimeData();
    if (!data || !data->hasUrls()) return;
    QStringList paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    if (paths.isEmpty()) return;
    if (!m_dropHandler) {
        qCDebug(orvUiLog).noquote() << tr("Files were dropped but no drop handler is installed.");
        return;
    }
    event->acceptProposedAction();
    m_dropHandler(paths);
}

}  // namespace orvUI
