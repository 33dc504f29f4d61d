// The window side of the core commands, shared by the core plug-in and the host: opening and
// saving with dialogs and progress, adding files, filling the views after the project changed,
// and the status panes and title. Everything reaches the window through the viewer manager and
// the main frame's interface, so a view that does not exist is simply left out.
//
// Messages go through a Reporter: by default a warning box over the main frame; headless runs
// of the host pass one that writes to stderr instead.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

#include "CorePairing.h"
#include "CoreProject.h"

class QWidget;

namespace orvUI {
class IOrvMainFrame;
}

namespace orvCore {

using Reporter = std::function<void(const QString& message)>;

// A warning box with an empty title and the OK button over the main frame; in a headless run
// (see isHeadlessRun) a line on stderr instead, never a box.
Reporter warningBoxes();

// The model manager the viewer manager holds (the kernel's own before there is one).
ref_ptr<IZimMM> projectModel();

// True when the host said nobody watches this run: the application property "orvHeadless",
// which the UI library reads as well. No modal box may open then.
bool isHeadlessRun();

// The viewer manager's main frame, and the same as a widget (null when there is none).
orvUI::IOrvMainFrame* mainFrame();
QWidget* frameWidget();

// Mesh-panel lists the host creates and the commands refill. The names are the keys the panel
// recognises ("Texture Mesh" holds the mapped meshes, "Bare Mesh" the others).
inline const QString TextureMeshList = QStringLiteral("Texture Mesh");
inline const QString BareMeshList = QStringLiteral("Bare Mesh");

// Status panes and title from the kernel's project, with the title's modified mark.
void refreshFrameState();

// What the views keep with the project, brought into the kernel's model: the image tree's
// folders (saveTree) and the 3D view's camera, written only when it differs from the stored one.
// Called before a save and before asking whether the project is modified. The camera is left
// alone while a project is being opened and its views filled (settleOpenedProject ends that).
void storeViewState();
// After a project was opened or made and its views filled: the 3D view takes the camera stored
// with the project, or its home view when there is none or it cannot be used (said in a log
// line). With `opened`, the project as the views now show it counts as unmodified; without (the
// project asked for did not open and the one before stays), its modified state is kept.
void settleOpenedProject(bool opened);
// The title's modified mark follows the project (after storeViewState).
void refreshModifiedMark();
// The same for a timer that keeps the panes in step with changes made elsewhere (sleep and wake
// from the mesh panel or the tiles): nothing while a command of this file runs or a modal dialog
// is up, since the project may be half changed then.
void refreshFrameStateWhenIdle();

// Marks a command running for refreshFrameStateWhenIdle while it lives. The mark is kept on the
// application object, so every copy of this library (the host's, the plug-in's) sees it.
class CommandScope {
public:
    CommandScope();
    ~CommandScope();
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;
    static bool running();
};
// The menu bar's entries that follow the state of the viewer manager: Edit > Undo and Redo are
// enabled only while there is a step to take back or to make again, Photo > Edit marks is
// checked while the marks tool is current. refreshFrameState calls it.
void refreshEditActions();
// Refreshes those entries whenever the menu holding them opens too; called once the frame's
// menus are built.
void followEditMenus();
// Takes back (or makes again) one step of the viewer manager's undo stack, then redraws the
// views and updates the frame. False when there was no step.
bool undoLastStep();
bool redoLastStep();

// After photos were mapped or unmapped: mesh lists, their thumbnails, views and panes again.
void refreshMappedPhotos(const QVector<int>& photos);

// Fills the views from the open project (thumbnails, mesh lists, camera), then redraws them
// and updates the status panes and title.
void populateViews();
// Adds the views' entries for new images, then redraws.
void showAddedImages(const QVector<int>& indices);

// Shows the project's photograph `index` in the image viewer, fitted, and makes it the current
// image (its tile too). False when there is no image viewer or the photo cannot be shown.
bool showProjectPhoto(int index);

// Shows a photograph in the image viewer, fitted: a photo of the open project by its index
// (it becomes the current image), any other image file as it is. False (reported) when there is
// no image viewer or the file cannot be shown; the previous photo stays then.
bool openPhotoFile(const QString& path, const Reporter& report);

// Opens a project file: views emptied, project opened under the frame's progress, views filled
// again (with whatever project is open afterwards), missing files reported in one message.
bool openProjectFile(const QString& path, const Reporter& report);

// With unsaved changes: asks Save / Discard / Cancel. True when the caller may go on (saved or
// discarded, or nothing to save); false on Cancel or when the save failed.
bool settleUnsavedChanges(const Reporter& report);
bool saveProject(const Reporter& report);
bool saveProjectAs(const Reporter& report);

// Adds pairs to the open project under progress and reports what could not be added. The number
// of images added, or -1 without an open project.
int addFiles(AddSource source, const PairingResult& pairing, const Reporter& report);
// Dropped files: the first project file is opened (after the unsaved-changes question), then
// photos and meshes are paired and added to the project that is open.
void handleDroppedFiles(const QStringList& paths, const Reporter& report);

// The docks of the host's window and where it puts them: the photographs on the left, the
// meshes and below them the marks of the current photo on the right. The window starts so, and
// View > Restore layout brings it back. The marks take an id the viewer manager does not empty
// when it resets the views (it empties docks 2 and 3), so the panel lives as long as the window.
enum HostDockId { PhotoDock = 0, MeshDock = 1, MarksDockId = 4 };
struct HostDock {
    int id;
    unsigned area;  // as IOrvMainFrame::createDockWidget takes it: 0 left, 1 right, 2 bottom
    QString title;
};
QVector<HostDock> hostDocks();
// Puts every dock of hostDocks() back in its area, docked, shown and in no tab group.
void applyHostDockLayout();

// The core commands by name: 0 done (or cancelled by the user), -1 failed, 1 not a core
// command. objectName is the sending action's name ("<command>___<index>").
int runCoreCommand(const QString& command, const QString& objectName, bool checked);
bool isCoreCommand(const QString& command);

}  // namespace orvCore
