// The application's main window. The viewer manager creates exactly one, without parent, and
// never deletes it; Qt and the host close it. The frame builds menus and toolbars from common
// items, creates and holds the views and dock widgets under ids chosen by the caller, loads the
// plug-ins and hands key presses, dropped files and the close request to host callbacks.
//
// Views and docks are Qt children of the frame; the pointers handed out are not owned by the
// caller and are null when nothing is registered under the id.
#pragma once

#include <QtGui/qwindowdefs.h>

#include <QString>
#include <QStringList>
#include <QVector>

#include "IOrvActionItem.h"
#include "OrvUIGlobal.h"
#include "ZimBase64t.h"

class QCloseEvent;

namespace orvUI {

class IOrv3DViewer;
class IOrvDockWidget;
class IOrvImageThumbViewer;
class IOrvImageViewer;
class IOrvMainFrame;
class IOrvMeshPanelViewer;

// Called with the local paths of the files dropped on the frame, in drop order.
using OrvDropHandler = void (*)(const QStringList& paths);
// Decides the close request: true ends the application (its event loop returns 0, so plug-ins
// unload and the project closes in order), false keeps the window open.
using OrvCloseHandler = bool (*)(IOrvMainFrame* frame, QCloseEvent* event);
// Kept for the host; the frame never calls it.
using OrvAuxHandler = void (*)();

// "type" arguments: 1 means the image viewer, any other value the 3D viewer.
class ORVUI_EXPORT IOrvMainFrame {
public:
    virtual ~IOrvMainFrame();

    // Builds one menu and one toolbar per common-item position; the receiver is told the name
    // and user data of every action made.
    virtual void setCommonItems(ref_ptr<ZimReferenced> receiver, const QVector<ref_ptr<IOrvCommonItem>>& items) = 0;
    // Adds a status-bar pane for every id that has none yet; returns its argument.
    virtual const QVector<int>& setStatusBarPanes(const QVector<int>& ids) = 0;
    // Unknown pane ids are ignored.
    virtual void setStatusBarText(int id, const QString& text) = 0;
    virtual bool isStatusBarVisible() = 0;
    virtual void showStatusBar(bool show) = 0;
    // Text of the menu action (or sub-menu title) with that object name; empty when not found.
    virtual QString getActionText(QString name) = 0;
    // Object name of the action that triggered last; empty when none.
    virtual QString getLastActionName() = 0;
    // Toolbar actions with that object name.
    virtual void setActionCheckable(QString name, bool checkable) = 0;
    virtual void setActionChecked(QString name, bool checked) = 0;
    virtual bool isActionCheckable(QString name) = 0;
    virtual bool isActionChecked(QString name) = 0;
    // Replaces the sub-menu of that object name by one built from the group, inserted into menu
    // menuIndex before the "FileSave" action.
    virtual void insertSubMenu(ref_ptr<ZimReferenced> receiver, QString name, ref_ptr<IOrvCommonItem> group,
                               int menuIndex) = 0;
    virtual WId getWinId() = 0;
    // Creates the plug-in manager when needed and loads the plug-ins; false without a plug-in
    // directory.
    virtual bool initFrame() = 0;
    virtual void unloadAllPlugins() = 0;

    virtual IOrvImageViewer* getImageViewer(int id) = 0;
    virtual IOrv3DViewer* get3DViewer(int id) = 0;
    // Returns the view already under the id, else a new one added to the splitter; null when it
    // cannot be made.
    virtual IOrvImageViewer* createImageViewer(int id) = 0;
    virtual IOrv3DViewer* create3DViewer(int id) = 0;
    // Deletes the view; false when the id is unknown.
    virtual bool removeImageViewer(int id) = 0;
    virtual bool remove3DViewer(int id) = 0;
    // Native window id of the view under the id, made first when there is none (for docking).
    virtual WId createThumbViewer(int id) = 0;
    virtual WId createMeshPanel(int id) = 0;
    virtual IOrvMeshPanelViewer* getMeshPanel(int id) = 0;
    virtual IOrvImageThumbViewer* getThumbViewer(int id) = 0;

    // area: 1 right, 2 bottom, anything else left. Returns the dock already under the id when
    // there is one.
    virtual IOrvDockWidget* createDockWidget(int id, unsigned area, const QString& title) = 0;
    // Forgets the dock (it stays a child of the frame); false when the id is unknown.
    virtual bool removeDockWidget(int id) = 0;
    virtual IOrvDockWidget* getDockWidget(int id) = 0;
    // Puts every dock into one tab group, in ascending id order.
    virtual void tabifyDockWidgets() = 0;
    // Shows everything, re-docks every dock in its area and tabifies them; returns dock 0.
    virtual IOrvDockWidget* restoreDefaultLayout() = 0;

    virtual void show3DViewer(int id, bool show) = 0;
    virtual bool is3DViewerVisible(int id) = 0;
    virtual void showImageViewer(int id, bool show) = 0;
    virtual bool isImageViewerVisible(int id) = 0;
    virtual bool isShowMarks(int id, int type) = 0;
    virtual void setShowMarks(int id, bool show, int type) = 0;
    virtual bool getViewerFlag(int id, int type) = 0;
    virtual void setViewerFlag(int id, bool on, int type) = 0;
    // The view's cursor-shape result; -1 when the view is absent.
    virtual int setViewerCursor(int id, unsigned shape, int type) = 0;
    // 3D viewers only.
    virtual void setShowImageOverlay(int id, bool show) = 0;
    virtual bool isShowImageOverlay(int id) = 0;

    // A new progress dialog parented to the frame on every call; the caller deletes it. Null
    // when it cannot be made.
    virtual IZimProgress* getProgress() = 0;
    // Redraws every 3D viewer and refreshes every image viewer, thumbnail viewer and mesh panel.
    virtual void updateAllViewers() = 0;
    virtual void setFrameTitle(const QString& title) = 0;
    // Loads the window icon from the file.
    virtual void setFrameIcon(const QString& path) = 0;
    // Adds the menu action of that name to the named action group, made when needed.
    virtual void addToActionGroup(QString group, QString actionName) = 0;
    // The named action gets `on`, every other action of the group `!on`.
    virtual void setGroupChecked(QString group, QString actionName, bool on) = 0;
    // The first menu action of that name.
    virtual void setActionCheckedByName(QString name, bool checked) = 0;
    // Object of the plug-in loaded at that position; empty when there is none.
    virtual ref_ptr<ZimReferenced> getPluginObject(int index) = 0;

    // Callbacks replace an earlier one for the same key. Key handlers serve the digits 4 to 7
    // and Escape on the frame; view key handlers are looked up by the 3D viewer.
    virtual void setKeyHandler(int key, OrvKeyCallback handler) = 0;
    virtual void setViewKeyHandler(int key, OrvKeyCallback handler) = 0;
    virtual void setAuxHandler(OrvAuxHandler handler) = 0;
    // Without a drop handler drops are ignored; without a close handler a close is accepted.
    virtual void setDropHandler(OrvDropHandler handler) = 0;
    virtual void setCloseHandler(OrvCloseHandler handler) = 0;

    // ---- appended after the operations above ----
    // Absolute paths of the loaded plug-ins in load order: the position of a path is the plug-in
    // index that action names carry ("command___index").
    virtual QStringList getLoadedPlugins() = 0;

protected:
    IOrvMainFrame();
    IOrvMainFrame(const IOrvMainFrame& other);
    IOrvMainFrame& operator=(const IOrvMainFrame& other);
};

}  // namespace orvUI
