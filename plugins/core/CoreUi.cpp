#include "CoreUi.h"

#include <IOrv3DViewer.h>
#include <IOrvDockWidget.h>
#include <IOrvImageThumbViewer.h>
#include <IOrvImageTree.h>
#include <IOrvImageViewer.h>
#include <IOrvMainFrame.h>
#include <IOrvMeshPanelViewer.h>
#include <OrvUIElements64t.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QInputDialog>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QRegularExpression>
#include <QSet>
#include <QStatusBar>
#include <QWidget>
#include <QtDebug>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "CoreBackup.h"
#include "CoreCamera.h"
#include "CoreCommands.h"
#include "CoreMarksTool.h"
#include "CorePhotoView.h"
#include "PaintCommands.h"
#include "PhotoCommands.h"

namespace orvCore {

namespace {

using orvUI::IOrvMainFrame;

ZIM_TR_CONTEXT("orvCore")
QString native(const QString& path) { return QDir::toNativeSeparators(path); }

ref_ptr<orvUI::IOrvViewerMan> viewerMan() { return orvUI::getVM(); }

ref_ptr<IZimMM> model() { return projectModel(); }

// Set on the main frame while its views show the open project (camera restored): before that
// the 3D view's camera belongs to no project and is not stored. A property of the frame, as the
// host and the core plug-in each have their own copy of this code.
const char* const kViewStateReady = "orvViewStateReady";
// The camera record the open project was opened with (as stored right after opening).
const char* const kOpenedCamera = "orvOpenedCamera";

void setViewStateReady(bool ready)
{
    if (QWidget* frame = frameWidget()) frame->setProperty(kViewStateReady, ready);
}

// The camera record stored with the open project; empty when there is none (*present, when
// given, tells an empty record from none).
QByteArray storedCamera(IZimMM* mm, bool* present = nullptr)
{
    int size = -1;
    mm->readProjectData(CameraRecord::group(), CameraRecord::key(), nullptr, 0, &size);
    if (present) *present = size >= 0;
    QByteArray stored(qMax(size, 0), '\0');
    if (size > 0) mm->readProjectData(CameraRecord::group(), CameraRecord::key(), stored.data(), size, nullptr);
    return stored;
}

// A progress dialog of the frame for one piece of work; it closes when the work is done.
using ProgressPtr = std::unique_ptr<IZimProgress>;
ProgressPtr frameProgress()
{
    IOrvMainFrame* frame = mainFrame();
    return ProgressPtr(frame ? frame->getProgress() : nullptr);
}

// Folder the file dialogs start in: the last one used, else the open project's, else home.
QString& lastFolder()
{
    static QString folder;
    return folder;
}

QString startFolder()
{
    if (!lastFolder().isEmpty() && QFileInfo(lastFolder()).isDir()) return lastFolder();
    ref_ptr<IZimMM> mm = model();
    if (mm && mm->isProjectOpen()) return QFileInfo(mm->projectPath()).absolutePath();
    return QDir::homePath();
}

void rememberFolder(const QString& file)
{
    if (!file.isEmpty()) lastFolder() = QFileInfo(file).absolutePath();
}

bool requireProject(const Reporter& report)
{
    ref_ptr<IZimMM> mm = model();
    if (mm && mm->isProjectOpen()) return true;
    report(tr("No project is open. Create or open a project first."));
    return false;
}

// After opening: the first photograph in project order becomes current and is shown.
void showFirstPhoto(orvUI::IOrvViewerMan* vm, IZimMM* mm)
{
    int first = 0;
    for (int i = 0; i < mm->imageCount(); ++i) {
        ref_ptr<IZimImageEntry> entry;
        if (mm->getImageEntry(entry, i) == 0 && entry && entry->order() == 0) {
            first = i;
            break;
        }
    }
    if (orvUI::IOrvImageThumbViewer* thumbs = vm->getThumbViewer())
        thumbs->setTileState(first, orvUI::ThumbCurrent);
    else
        mm->setCurrentImageIndex(first);
    if (orvUI::IOrvImageViewer* viewer = vm->getImageViewer()) {
        const orvUI::ImageId id{first, 2};
        viewer->setImageId(&id);
    }
}

void rebuildMeshLists()
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    if (orvUI::IOrvMeshPanelViewer* panel = vm ? vm->getMeshPanel() : nullptr) {
        panel->rebuildMeshList(TextureMeshList);
        panel->rebuildMeshList(BareMeshList);
        panel->layoutMeshLists();
    }
}

// ---- the commands ----------------------------------------------------------------------------

int commandNew(const QString&, bool)
{
    QWidget* parent = frameWidget();
    const QString chosen =
        QFileDialog::getSaveFileName(parent, tr("New Project"), startFolder(), tr("Projects (*.orvproj)"));
    if (chosen.isEmpty()) return 0;
    rememberFolder(chosen);
    const QString path = withProjectSuffix(chosen);
    // The dialog asked about replacing the name it was given, not the one with the suffix added.
    if (path != chosen && QFileInfo::exists(path) &&
        QMessageBox::question(parent, QString(), tr("%1 already exists.\nDo you want to replace it?").arg(native(path)),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return 0;
    const Reporter report = warningBoxes();
    if (!settleUnsavedChanges(report)) return 0;
    ref_ptr<IZimMM> mm = model();
    setViewStateReady(false);
    if (ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan()) vm->resetViews();
    QString error;
    const int rc = createProjectReplacing(mm.get(), path, &error);
    populateViews();
    settleOpenedProject(rc == 0);
    if (rc != 0) {
        report(tr("The project %1 could not be created.\n%2").arg(native(path), error));
        return -1;
    }
    return 0;
}

int commandOpen(const QString&, bool)
{
    const QString path = orvUI::fileDlgXXXFile(true, tr("Projects (*.orvproj)"), frameWidget(), startFolder());
    if (path.isEmpty()) return 0;
    rememberFolder(path);
    const Reporter report = warningBoxes();
    if (!settleUnsavedChanges(report)) return 0;
    return openProjectFile(path, report) ? 0 : -1;
}

int commandOpenPhoto(const QString&, bool)
{
    QString folder = startFolder();
    ref_ptr<IZimMM> mm = model();
    if (mm && mm->isProjectOpen()) folder = QFileInfo(mm->projectPath()).absolutePath();
    const QString path = QFileDialog::getOpenFileName(
        frameWidget(), tr("Open Photo"), folder,
        tr("Images (*.jpg *.jpeg *.png *.tif *.tiff *.bmp *.JPG *.JPEG *.PNG *.TIF *.TIFF *.BMP)"));
    if (path.isEmpty()) return 0;
    return openPhotoFile(path, warningBoxes()) ? 0 : -1;
}

// Where the dialog for a photo's mesh starts: the folder of the last mesh picked, else the
// "meshes" folder beside the photo's folder, else the photo's folder.
QString meshDialogFolder(const QString& photo, const QString& lastPicked)
{
    if (!lastPicked.isEmpty()) return QFileInfo(lastPicked).absolutePath();
    QDir dir = QFileInfo(photo).absoluteDir();
    const QString photoFolder = dir.absolutePath();
    if (dir.cdUp() && dir.cd(QStringLiteral("meshes"))) return dir.absolutePath();
    return photoFolder;
}

int commandAddPhotos(const QString&, bool)
{
    const Reporter report = warningBoxes();
    if (!requireProject(report)) return -1;
    const QStringList photos = orvUI::fileDlgImgs();
    if (photos.isEmpty()) return 0;
    rememberFolder(photos.first());
    // A photo named differently from its mesh: the user points at the mesh; cancel skips it.
    QString lastPicked;
    const MeshChooser choose = [&lastPicked](const QString& photo, const QString& problem) {
        QWidget* parent = frameWidget();
        if (!problem.isEmpty()) QMessageBox::warning(parent, QString(), problem);
        const QString mesh =
            QFileDialog::getOpenFileName(parent, tr("Choose the mesh of %1").arg(QFileInfo(photo).fileName()),
                                         meshDialogFolder(photo, lastPicked), tr("OBJ meshes (*.obj *.OBJ)"));
        if (!mesh.isEmpty()) lastPicked = mesh;
        return mesh;
    };
    return addFiles(AddSource::Photos, pairPhotos(photos, choose), report) < 0 ? -1 : 0;
}

int commandAddMeshes(const QString&, bool)
{
    const Reporter report = warningBoxes();
    if (!requireProject(report)) return -1;
    const QStringList meshes = QFileDialog::getOpenFileNames(frameWidget(), tr("Select Meshes"), startFolder(),
                                                             tr("OBJ meshes (*.obj *.OBJ)"));
    if (meshes.isEmpty()) return 0;
    rememberFolder(meshes.first());
    return addFiles(AddSource::Meshes, pairMeshes(meshes), report) < 0 ? -1 : 0;
}

int commandSave(const QString&, bool) { return saveProject(warningBoxes()) ? 0 : -1; }
int commandSaveAs(const QString&, bool) { return saveProjectAs(warningBoxes()) ? 0 : -1; }

int commandQuit(const QString&, bool)
{
    // Closed once this command has returned: the close request may end the process or unload
    // the plug-ins, neither of which may happen while plug-in code is on the stack.
    QWidget* frame = frameWidget();
    if (!frame) return -1;
    return QMetaObject::invokeMethod(frame, "close", Qt::QueuedConnection) ? 0 : -1;
}

int commandShowStatusBar(const QString&, bool checked)
{
    IOrvMainFrame* frame = mainFrame();
    if (!frame) return -1;
    frame->showStatusBar(checked);
    return 0;
}

int commandShowImageViewer(const QString&, bool checked)
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    if (!vm) return -1;
    vm->showImageViewer(checked);
    return 0;
}

orvUI::IOrv3DViewer* viewer3D()
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    return vm ? vm->get3DViewer() : nullptr;
}

// The 3D view when it is there and shown; a backup (also the one a paint takes first) reads back
// what it draws, and a hidden view draws nothing. Otherwise null, with the reason reported.
orvUI::IOrv3DViewer* drawingViewer3D(const Reporter& report)
{
    orvUI::IOrv3DViewer* viewer = viewer3D();
    if (!viewer) {
        report(backupProblemText(BackupProblem::NoViewer, QString()));
        return nullptr;
    }
    IOrvMainFrame* frame = mainFrame();
    if (frame && !frame->is3DViewerVisible(0)) {
        report(backupProblemText(BackupProblem::ViewNotDrawn, QString()));
        return nullptr;
    }
    return viewer;
}

int commandFitAll(const QString&, bool)
{
    orvUI::IOrv3DViewer* viewer = viewer3D();
    if (!viewer) return -1;
    viewer->viewAllMeshes();
    return viewer->draw();
}

int commandStandardView(const QString& objectName, bool)
{
    QString command;
    int plugin = 0;
    orvUI::IOrv3DViewer* viewer = viewer3D();
    if (!viewer || !splitActionName(objectName, &command, &plugin)) return -1;
    const int index = standardViewIndex(command);
    if (index < 0) return -1;
    viewer->setStandardView(index);
    return viewer->draw();
}

int commandShowOverlay(const QString&, bool checked)
{
    orvUI::IOrv3DViewer* viewer = viewer3D();
    if (!viewer) return -1;
    viewer->setShowImageOverlay(checked);
    return 0;
}

int changeOverlay(bool more)
{
    orvUI::IOrv3DViewer* viewer = viewer3D();
    if (!viewer) return -1;
    return viewer->setOverlayOpacity(steppedOpacity(viewer->getOverlayOpacity(), more), true);
}

int commandOverlayMore(const QString&, bool) { return changeOverlay(true); }
int commandOverlayLess(const QString&, bool) { return changeOverlay(false); }

int commandRestoreLayout(const QString& objectName, bool)
{
    IOrvMainFrame* frame = mainFrame();
    if (!frame) return -1;
    // The frame shows everything again and docks the panels into one tab group; the host's own
    // arrangement (photographs left, meshes right) is put back over that.
    frame->restoreDefaultLayout();
    applyHostDockLayout();
    // The check marks of the view entries follow what is shown now.
    QString command;
    int index = 0;
    if (splitActionName(objectName, &command, &index)) {
        frame->setActionCheckedByName(actionName(cmd::ShowStatusBar, index), frame->isStatusBarVisible());
        if (ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan())
            frame->setActionCheckedByName(actionName(cmd::ShowImageViewer, index), vm->isImageViewerVisible());
    }
    return 0;
}

int commandHomeView(const QString&, bool)
{
    orvUI::IOrv3DViewer* viewer = viewer3D();
    if (!viewer) return -1;
    // Without meshes there is nothing to look at: the camera stays.
    viewer->viewHome();
    return 0;
}

int commandFitPhoto(const QString&, bool)
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    orvUI::IOrvImageViewer* viewer = vm ? vm->getImageViewer() : nullptr;
    if (!viewer) return -1;
    viewer->fitToWindow();
    viewer->redraw();
    return 0;
}

int commandToggleOverlay(const QString& objectName, bool)
{
    orvUI::IOrv3DViewer* viewer = viewer3D();
    if (!viewer) return -1;
    const bool on = !viewer->isShowImageOverlay();
    viewer->setShowImageOverlay(on);
    // The View menu's entry shows the new state.
    QString command;
    int index = 0;
    if (IOrvMainFrame* frame = mainFrame())
        if (splitActionName(objectName, &command, &index))
            frame->setActionCheckedByName(actionName(cmd::ShowOverlay, index), on);
    return 0;
}

int commandOpenPhotoAtCursor(const QString&, bool)
{
    orvUI::IOrv3DViewer* viewer = viewer3D();
    if (!viewer) return -1;
    // Where the mouse last moved over the view: where the menu was asked for.
    const QPoint at = viewer->getCursorPos();
    const int index = at.x() == -99999 ? -1 : viewer->imageIndexAt(at.x(), at.y());
    if (index < 0) {
        if (auto* window = qobject_cast<QMainWindow*>(frameWidget()))
            window->statusBar()->showMessage(tr("No mesh is under the cursor."), 5000);
        return 0;
    }
    return showProjectPhoto(index) ? 0 : -1;
}

int sleepOrWake(bool wake)
{
    const Reporter report = warningBoxes();
    if (!requireProject(report)) return -1;
    ref_ptr<IZimMM> mm = model();
    QStringList failed;
    QVector<int> changed;
    {
        ProgressPtr progress = frameProgress();
        changed =
            wake ? wakeAllMeshes(mm.get(), progress.get(), &failed) : sleepAllMeshes(mm.get(), progress.get(), &failed);
    }
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    orvUI::IOrvImageThumbViewer* thumbs = vm ? vm->getThumbViewer() : nullptr;
    orvUI::IOrvMeshPanelViewer* panel = vm ? vm->getMeshPanel() : nullptr;
    for (int index : changed) {
        if (thumbs) thumbs->setTileState(index, wake ? orvUI::ThumbWake : orvUI::ThumbSleep);
        ref_ptr<IZimMesh> mesh;
        if (panel && mm->getMeshAt(mesh, index) == 0)
            for (const QString& list : {TextureMeshList, BareMeshList})
                panel->setMeshRowState(mesh, wake ? 3 : 2, list);
    }
    if (vm) vm->updateAllViewers();
    refreshFrameState();
    if (!failed.isEmpty()) {
        report((wake ? tr("These meshes could not be woken:") : tr("These meshes could not be put to sleep:")) +
               QLatin1Char('\n') + failed.join(QLatin1Char('\n')));
        return -1;
    }
    return 0;
}

int commandWakeAll(const QString&, bool) { return sleepOrWake(true); }
int commandSleepAll(const QString&, bool) { return sleepOrWake(false); }

// The save dialog's filters and the suffix each one gives a name typed without one.
struct PictureFilter {
    const char* text;
    const char* suffix;
};
const PictureFilter kPictureFilters[] = {
    {QT_TRANSLATE_NOOP("orvCore", "PNG images (*.png)"), "png"},
    {QT_TRANSLATE_NOOP("orvCore", "JPEG images (*.jpg *.jpeg)"), "jpg"},
    {QT_TRANSLATE_NOOP("orvCore", "BMP images (*.bmp)"), "bmp"},
    {QT_TRANSLATE_NOOP("orvCore", "TIFF images (*.tif *.tiff)"), "tif"},
};

int commandGenerateBackup(const QString&, bool)
{
    const Reporter report = warningBoxes();
    ref_ptr<IZimMM> mm = model();
    // What the host can tell before anything is asked: no file dialog for a backup that
    // cannot be taken.
    const BackupProblem meshes = backupMeshProblem(mm.get());
    if (meshes != BackupProblem::None) {
        report(backupProblemText(meshes, QString()));
        return -1;
    }
    orvUI::IOrv3DViewer* viewer = drawingViewer3D(report);
    if (!viewer) return -1;

    QStringList filters;
    for (const PictureFilter& f : kPictureFilters) filters << tr(f.text);
    QString selected = filters.first();
    QWidget* parent = frameWidget();
    const QString chosen =
        QFileDialog::getSaveFileName(parent, tr("Generate Backup"), suggestedBackupPath(mm->projectPath()),
                                     filters.join(QStringLiteral(";;")), &selected);
    if (chosen.isEmpty()) return 0;
    QString path = chosen;
    if (QFileInfo(chosen).suffix().isEmpty()) {
        const int at = filters.indexOf(selected);
        path = chosen + QLatin1Char('.') + QLatin1String(kPictureFilters[at < 0 ? 0 : at].suffix);
    }
    // The dialog asked about replacing the name it was given, not the one with the suffix added.
    if (path != chosen && QFileInfo::exists(path) &&
        QMessageBox::question(parent, QString(), tr("%1 already exists.\nDo you want to replace it?").arg(native(path)),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return 0;

    const BackupResult result = takeBackup(mm.get(), viewer, path);
    if (!result.ok) {
        report(backupFailureText(result, path));
        return -1;
    }
    if (auto* window = qobject_cast<QMainWindow*>(parent))
        window->statusBar()->showMessage(backupDoneText(result, path), 20000);
    if (result.partial()) report(backupPartialText(result, path));
    return 0;
}

int commandProjectSummary(const QString&, bool)
{
    QMessageBox::information(frameWidget(), tr("Project summary"), summaryText(projectCounts(model().get())));
    return 0;
}

int commandControls(const QString& objectName, bool)
{
    QString command;
    int index = 0;
    splitActionName(objectName, &command, &index);
    QMessageBox::information(frameWidget(), tr("Controls"), controlsText(coreMenus(index)));
    return 0;
}

int commandAbout(const QString&, bool)
{
    const QString product = CoreText::productName();
    QString text = tr("<h3>%1</h3><p>Maps photographs onto the textures of textured 3D meshes: open a project of "
                      "OBJ meshes and their photographs, compare each photograph with its mesh and retouch the "
                      "textures.</p>")
                       .arg(product.toHtmlEscaped());
    if (!QCoreApplication::applicationVersion().isEmpty())
        text += tr("<p>Version %1</p>").arg(QCoreApplication::applicationVersion().toHtmlEscaped());
    QMessageBox::about(frameWidget(), tr("About %1").arg(product), text);
    return 0;
}

// ---- edit and photo ---------------------------------------------------------------------------

// Nothing to take back (the shortcut pressed once too often) is no failure.
int commandUndo(const QString&, bool)
{
    undoLastStep();
    return 0;
}

int commandRedo(const QString&, bool)
{
    redoLastStep();
    return 0;
}

bool isMarksToolCurrent(orvUI::IOrvViewerMan* vm)
{
    return vm && dynamic_cast<MarksTool*>(vm->getCurTool()) != nullptr;
}

int commandEditMarks(const QString&, bool checked)
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    if (!vm) return -1;
    const Reporter report = warningBoxes();
    int rc = 0;
    if (checked && !isMarksToolCurrent(vm.get())) {
        if (!requireProject(report)) return -1;
        const int set = vm->setCurTool(ref_ptr<IZimTool>(new MarksTool()));
        if (set == ZimToolRefusesEnd) {
            report(tr("The current tool cannot end now; finish what it is doing first."));
            rc = -1;
        } else if (set != 0) {
            report(tr("The marks cannot be edited now."));
            rc = -1;
        } else if (IOrvMainFrame* frame = mainFrame()) {
            // The table of the marks comes up beside the views.
            if (orvUI::IOrvDockWidget* dock = frame->getDockWidget(MarksDockId)) dock->bringToFront();
        }
    } else if (!checked && isMarksToolCurrent(vm.get())) {
        vm->endCurTool();
    }
    vm->updateAllViewers();
    return rc;
}

// The photo the Photo menu works on: the current image.
int currentPhoto(const Reporter& report)
{
    if (!requireProject(report)) return -1;
    const int index = model()->getCurMeshIndex();
    if (index < 0) report(tr("No photograph is open. Open one from the thumbnails first."));
    return index;
}

void showStatusMessage(const QString& text)
{
    if (auto* window = qobject_cast<QMainWindow*>(frameWidget())) window->statusBar()->showMessage(text, 20000);
}

int commandMapPhoto(const QString&, bool)
{
    const Reporter report = warningBoxes();
    const int index = currentPhoto(report);
    if (index < 0) return -1;
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    const orvmap::MapOutcome outcome = mapPhotoUndoable(model().get(), vm.get(), index, &refreshMappedPhotos);
    if (!outcome.ok) {
        report(tr("The photograph could not be mapped.\n%1").arg(outcome.message));
        return -1;
    }
    const QString line = orvmap::summary(outcome);
    showStatusMessage(line);
    if (!outcome.warnings.isEmpty()) report(line + QLatin1Char('\n') + outcome.warnings.join(QLatin1Char('\n')));
    return 0;
}

int commandMapAllPhotos(const QString&, bool)
{
    const Reporter report = warningBoxes();
    if (!requireProject(report)) return -1;
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    const MapAllOutcome outcome = mapAllPhotosUndoable(model().get(), vm.get(), &refreshMappedPhotos);
    const QString text = mapAllReport(outcome);
    if (isHeadlessRun()) {
        report(text);
    } else if (outcome.tried.isEmpty() || outcome.mappedCount() < outcome.tried.size()) {
        QMessageBox::warning(frameWidget(), tr("Map all photos"), text);
    } else {
        QMessageBox::information(frameWidget(), tr("Map all photos"), text);
    }
    return outcome.mappedCount() > 0 || outcome.tried.isEmpty() ? 0 : -1;
}

int commandLookThrough(const QString& objectName, bool)
{
    const Reporter report = warningBoxes();
    const int index = currentPhoto(report);
    if (index < 0) return -1;
    const bool done = lookThroughPhoto(index, report);
    // The View menu's overlay entry shows what the 3D view does now.
    QString command;
    int plugin = 0;
    IOrvMainFrame* frame = mainFrame();
    orvUI::IOrv3DViewer* viewer = viewer3D();
    if (frame && viewer && splitActionName(objectName, &command, &plugin))
        frame->setActionCheckedByName(actionName(cmd::ShowOverlay, plugin), viewer->isShowImageOverlay());
    return done ? 0 : -1;
}

// ---- painting --------------------------------------------------------------------------------

// After a paint, an applied backup, a restore or the undo or redo of one: the textures changed in
// memory, so the 3D view draws them again and the title shows the project modified.
void refreshPaintedTextures(const QVector<int>&)
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    if (!vm) return;
    vm->update3DViewer();
    refreshModifiedMark();
}

QString photoFileName(IZimMM* mm, int index)
{
    ref_ptr<IZimImageEntry> entry;
    if (mm->getImageEntry(entry, index) == 0 && entry) {
        const QString file = QFileInfo(entry->photoPath()).fileName();
        if (!file.isEmpty()) return file;
    }
    return QString::number(index + 1);
}

// The View menu's overlay entry follows the 3D view.
void followOverlayEntry(const QString& objectName)
{
    QString command;
    int plugin = 0;
    IOrvMainFrame* frame = mainFrame();
    orvUI::IOrv3DViewer* viewer = viewer3D();
    if (frame && viewer && splitActionName(objectName, &command, &plugin))
        frame->setActionCheckedByName(actionName(cmd::ShowOverlay, plugin), viewer->isShowImageOverlay());
}

int commandPaintPhoto(const QString& objectName, bool)
{
    const Reporter report = warningBoxes();
    const int index = currentPhoto(report);
    if (index < 0) return -1;
    ref_ptr<IZimMM> mm = model();
    if (!mm->isImageMapped(index)) {
        report(tr("The photograph %1 is not mapped yet. Place marks on it and map it first.")
                   .arg(photoFileName(mm.get(), index)));
        return -1;
    }
    orvUI::IOrv3DViewer* viewer = drawingViewer3D(report);
    if (!viewer) return -1;
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    PaintRequest request;
    request.photo = index;
    TextureOutcome outcome;
    {
        ProgressPtr progress = frameProgress();
        outcome = paintPhotoUndoable(mm.get(), vm.get(), viewer, request, progress.get(), &refreshPaintedTextures);
    }
    // The user sees the paint from where the photograph was taken, with nothing laid over it.
    ZimPhotoCamera camera;
    if (mm->getImageCamera(index, camera) == 0 && camera.isValid() && viewer->lookThroughCamera(camera) == 0)
        viewer->setShowImageOverlay(false);
    followOverlayEntry(objectName);
    if (vm) vm->update3DViewer();
    refreshEditActions();
    if (!outcome.ok) {
        report(tr("The photograph could not be painted onto the textures.\n%1").arg(outcome.error));
        return -1;
    }
    const QString line = paintDoneText(outcome);
    showStatusMessage(line);
    if (!outcome.warnings.isEmpty()) report(line + QLatin1Char('\n') + outcome.warnings.join(QLatin1Char('\n')));
    return 0;
}

QString pictureFilter() { return tr("Pictures (*.png *.jpg *.jpeg *.bmp *.tif *.tiff);;All files (*)"); }

int commandApplyEditedBackup(const QString&, bool)
{
    const Reporter report = warningBoxes();
    if (!requireProject(report)) return -1;
    QWidget* parent = frameWidget();
    const QString original = QFileDialog::getOpenFileName(parent, tr("Choose the backup picture as it was saved"),
                                                          startFolder(), pictureFilter());
    if (original.isEmpty()) return 0;
    rememberFolder(original);
    const QString edited =
        QFileDialog::getOpenFileName(parent, tr("Choose the edited picture"), startFolder(), pictureFilter());
    if (edited.isEmpty()) return 0;
    rememberFolder(edited);
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    const TextureOutcome outcome =
        applyEditedBackupUndoable(model().get(), vm.get(), edited, original, &refreshPaintedTextures);
    if (vm) vm->update3DViewer();
    refreshEditActions();
    if (!outcome.ok) {
        report(tr("The edited backup was not applied.\n%1").arg(outcome.error));
        return -1;
    }
    const QString line = applyDoneText(outcome);
    showStatusMessage(line);
    if (!outcome.warnings.isEmpty()) report(line + QLatin1Char('\n') + outcome.warnings.join(QLatin1Char('\n')));
    return 0;
}

int commandRestorePaint(const QString&, bool)
{
    const Reporter report = warningBoxes();
    if (!requireProject(report)) return -1;
    ref_ptr<IZimMM> mm = model();
    QString warning;
    const QVector<KeptPaint> paints = keptPaints(mm.get(), &warning);
    if (!warning.isEmpty()) report(warning);
    if (paints.isEmpty()) {
        report(tr("No paint of this project is kept, so there are no textures to restore."));
        return 0;
    }
    // Newest first.
    QStringList items;
    QStringList names;
    for (int i = paints.size() - 1; i >= 0; --i) {
        const KeptPaint& p = paints[i];
        items << tr("%1 \u2014 %2 \u2014 %3")
                     .arg(p.name, p.photoName, QLocale().toString(p.time.toLocalTime(), QLocale::ShortFormat));
        names << p.name;
    }
    bool chosen = false;
    const QString item = QInputDialog::getItem(frameWidget(), tr("Restore textures of a paint"),
                                               tr("The paint whose textures are put back as they were before it:"),
                                               items, 0, false, &chosen);
    const int at = items.indexOf(item);
    if (!chosen || at < 0) return 0;
    const QString name = names[at];
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    const TextureOutcome outcome = restorePaintUndoable(mm.get(), vm.get(), name, &refreshPaintedTextures);
    if (vm) vm->update3DViewer();
    refreshEditActions();
    if (!outcome.ok) {
        report(tr("The textures of the paint %1 could not be restored.\n%2").arg(name, outcome.error));
        return -1;
    }
    const QString line = tr("Restored %1 texels in %2 meshes as they were before the paint %3")
                             .arg(outcome.texels)
                             .arg(outcome.meshes)
                             .arg(name);
    showStatusMessage(line);
    if (!outcome.warnings.isEmpty()) report(line + QLatin1Char('\n') + outcome.warnings.join(QLatin1Char('\n')));
    return 0;
}

int commandExportTextures(const QString&, bool)
{
    const Reporter report = warningBoxes();
    if (!requireProject(report)) return -1;
    const QString folder = QFileDialog::getExistingDirectory(frameWidget(), tr("Export Textures"), startFolder());
    if (folder.isEmpty()) return 0;
    lastFolder() = folder;
    QStringList written;
    QString error;
    if (!exportTextures(model().get(), folder, &written, &error)) {
        report(tr("The textures could not be exported.\n%1").arg(error));
        return -1;
    }
    showStatusMessage(tr("Exported %1 textures to %2").arg(written.size()).arg(native(folder)));
    return 0;
}

using CommandFn = int (*)(const QString& objectName, bool checked);

const QHash<QString, CommandFn>& commandTable()
{
    static const QHash<QString, CommandFn> table = {
        {cmd::New, &commandNew},
        {cmd::Open, &commandOpen},
        {cmd::OpenPhoto, &commandOpenPhoto},
        {cmd::AddPhotos, &commandAddPhotos},
        {cmd::AddMeshes, &commandAddMeshes},
        {cmd::Save, &commandSave},
        {cmd::SaveAs, &commandSaveAs},
        {cmd::Quit, &commandQuit},
        {cmd::ShowStatusBar, &commandShowStatusBar},
        {cmd::ShowImageViewer, &commandShowImageViewer},
        {cmd::RestoreLayout, &commandRestoreLayout},
        {cmd::FitAll, &commandFitAll},
        {cmd::HomeView, &commandHomeView},
        {cmd::FitPhoto, &commandFitPhoto},
        {cmd::ToggleOverlay, &commandToggleOverlay},
        {cmd::OpenPhotoAtCursor, &commandOpenPhotoAtCursor},
        {standardViewCommand(0), &commandStandardView},
        {standardViewCommand(1), &commandStandardView},
        {standardViewCommand(2), &commandStandardView},
        {standardViewCommand(3), &commandStandardView},
        {standardViewCommand(4), &commandStandardView},
        {standardViewCommand(5), &commandStandardView},
        {cmd::ShowOverlay, &commandShowOverlay},
        {cmd::OverlayMore, &commandOverlayMore},
        {cmd::OverlayLess, &commandOverlayLess},
        {cmd::WakeAllMeshes, &commandWakeAll},
        {cmd::SleepAllMeshes, &commandSleepAll},
        {cmd::GenerateBackup, &commandGenerateBackup},
        {cmd::ProjectSummary, &commandProjectSummary},
        {cmd::PaintPhoto, &commandPaintPhoto},
        {cmd::ApplyEditedBackup, &commandApplyEditedBackup},
        {cmd::RestorePaint, &commandRestorePaint},
        {cmd::ExportTextures, &commandExportTextures},
        {cmd::Undo, &commandUndo},
        {cmd::Redo, &commandRedo},
        {cmd::EditMarks, &commandEditMarks},
        {cmd::MapPhoto, &commandMapPhoto},
        {cmd::MapAllPhotos, &commandMapAllPhotos},
        {cmd::LookThrough, &commandLookThrough},
        {cmd::Controls, &commandControls},
        {cmd::About, &commandAbout},
    };
    return table;
}

}  // namespace

// ---- frame access ----------------------------------------------------------------------------

ref_ptr<IZimMM> projectModel()
{
    if (ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM())
        if (ref_ptr<IZimMM> mm = vm->getModelMan()) return mm;
    return zim::getMM();
}

bool isHeadlessRun()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && app->property("orvHeadless").toBool();
}

Reporter warningBoxes()
{
    return [](const QString& message) {
        if (isHeadlessRun()) {
            const QByteArray bytes = QStringLiteral("orvhost: %1\n").arg(message).toLocal8Bit();
            std::fputs(bytes.constData(), stderr);
            std::fflush(stderr);
            return;
        }
        QMessageBox::warning(frameWidget(), QString(), message);
    };
}

IOrvMainFrame* mainFrame()
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    return vm ? vm->getMainFrame() : nullptr;
}

QWidget* frameWidget() { return dynamic_cast<QWidget*>(mainFrame()); }

void refreshFrameState()
{
    IOrvMainFrame* frame = mainFrame();
    if (!frame) return;
    const ProjectCounts counts = projectCounts(model().get());
    for (int pane : statusPanes()) frame->setStatusBarText(pane, statusText(pane, counts));
    frame->setFrameTitle(frameTitle(counts));
    refreshModifiedMark();
    refreshEditActions();
}

namespace {
// The menu-bar actions of a core command, whatever index the plug-in was loaded at.
QList<QAction*> commandActions(const QString& command)
{
    QWidget* frame = frameWidget();
    if (!frame) return {};
    const QRegularExpression name(QStringLiteral("^%1___\\d+$").arg(QRegularExpression::escape(command)));
    return frame->findChildren<QAction*>(name);
}
}  // namespace

void refreshEditActions()
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    const bool undo = vm && vm->canUndo();
    const bool redo = vm && vm->canRedo();
    for (QAction* a : commandActions(cmd::Undo)) a->setEnabled(undo);
    for (QAction* a : commandActions(cmd::Redo)) a->setEnabled(redo);
    const bool marks = isMarksToolCurrent(vm.get());
    for (QAction* a : commandActions(cmd::EditMarks))
        if (a->isCheckable() && a->isChecked() != marks) a->setChecked(marks);
}

void followEditMenus()
{
    QSet<QMenu*> menus;
    for (const QString& command : {cmd::Undo, cmd::Redo, cmd::EditMarks})
        for (QAction* a : commandActions(command))
            for (QWidget* w : a->associatedWidgets())
                if (auto* menu = qobject_cast<QMenu*>(w)) menus.insert(menu);
    for (QMenu* menu : menus) {
        // Once per menu, however often the frame is set up.
        if (menu->property("orvFollowsEditState").toBool()) continue;
        menu->setProperty("orvFollowsEditState", true);
        QObject::connect(menu, &QMenu::aboutToShow, menu, []() { refreshEditActions(); });
    }
    refreshEditActions();
}

namespace {
bool takeStep(bool back)
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    if (!vm) return false;
    CommandScope scope;
    const bool done = (back ? vm->undo() : vm->redo()) == 0;
    vm->updateAllViewers();
    refreshFrameState();
    return done;
}
}  // namespace

void refreshMappedPhotos(const QVector<int>& photos)
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    if (!vm) return;
    // Mapped meshes belong to the "Texture Mesh" list, the others to "Bare Mesh".
    rebuildMeshLists();
    if (orvUI::IOrvImageThumbViewer* thumbs = vm->getThumbViewer()) {
        // The tiles are grouped and counted as mapped or not: the tree works its lists out again.
        orvUI::IOrvImageTree* tree = thumbs->getImageTree();
        if (!tree || tree->updateImageLists() != 0)
            for (int index : photos) thumbs->refreshThumbnail(index);
    }
    vm->updateAllViewers();
    refreshFrameState();
}

bool undoLastStep() { return takeStep(true); }
bool redoLastStep() { return takeStep(false); }

void storeViewState()
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    ref_ptr<IZimMM> mm = model();
    if (!vm || !mm || !mm->isProjectOpen()) return;
    // The tree writes nothing while it holds no project's folders.
    if (orvUI::IOrvImageThumbViewer* thumbs = vm->getThumbViewer())
        if (orvUI::IOrvImageTree* tree = thumbs->getImageTree()) tree->saveTree();
    QWidget* frame = frameWidget();
    orvUI::IOrv3DViewer* viewer = vm->get3DViewer();
    if (!viewer || !frame || !frame->property(kViewStateReady).toBool()) return;
    const QByteArray stored = storedCamera(mm.get());
    const orvUI::ViewCamera current = viewer->getCamera();
    // Back on the view the project opened with: its very bytes, so that the project is as it was.
    const QByteArray opened = frame->property(kOpenedCamera).toByteArray();
    orvUI::ViewCamera openedCamera;
    QByteArray record;
    if (CameraRecord::decode(opened, &openedCamera, nullptr) && CameraRecord::sameView(openedCamera, current))
        record = opened;
    else
        record = CameraRecord::recordToStore(stored, current);
    if (!record.isEmpty() && record != stored)
        mm->writeProjectData(CameraRecord::group(), CameraRecord::key(), record.constData(), record.size());
}

void settleOpenedProject(bool opened)
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    ref_ptr<IZimMM> mm = model();
    if (!vm || !mm) return;
    orvUI::IOrv3DViewer* viewer = vm->get3DViewer();
    if (viewer && mm->isProjectOpen()) {
        bool present = false;
        const QByteArray stored = storedCamera(mm.get(), &present);
        bool restored = false;
        if (present) {
            orvUI::ViewCamera camera;
            QString why;
            if (!CameraRecord::decode(stored, &camera, &why))
                qWarning().noquote() << QStringLiteral(
                                            "The 3D view's camera stored in the project cannot be used (%1); "
                                            "showing the home view instead.")
                                            .arg(why);
            else if (viewer->setCamera(camera) != 0)
                qWarning().noquote() << QStringLiteral(
                    "The 3D view refused the camera stored in the project; showing "
                    "the home view instead.");
            else
                restored = true;
        }
        if (!restored) viewer->viewHome();
    }
    setViewStateReady(true);
    // The folders and camera the views show now are the project as it was opened.
    QWidget* frame = frameWidget();
    if (opened && frame) frame->setProperty(kOpenedCamera, QByteArray());
    storeViewState();
    if (opened && mm->isProjectOpen()) {
        if (frame) frame->setProperty(kOpenedCamera, storedCamera(mm.get()));
        mm->setModified(false);
    }
    vm->updateAllViewers();
    refreshModifiedMark();
}

void refreshModifiedMark()
{
    QWidget* frame = frameWidget();
    if (!frame) return;
    storeViewState();
    ref_ptr<IZimMM> mm = model();
    frame->setWindowModified(mm && mm->isProjectOpen() && mm->isModified());
}

namespace {
const char* const kCommandDepth = "orvCoreCommandDepth";

int commandDepth()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app ? app->property(kCommandDepth).toInt() : 0;
}

void setCommandDepth(int depth)
{
    if (QCoreApplication* app = QCoreApplication::instance()) app->setProperty(kCommandDepth, depth);
}
}  // namespace

CommandScope::CommandScope() { setCommandDepth(commandDepth() + 1); }
CommandScope::~CommandScope() { setCommandDepth(std::max(0, commandDepth() - 1)); }
bool CommandScope::running() { return commandDepth() > 0; }

void refreshFrameStateWhenIdle()
{
    if (CommandScope::running() || QApplication::activeModalWidget() || QApplication::activePopupWidget()) return;
    refreshFrameState();
}

void populateViews()
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    ref_ptr<IZimMM> mm = model();
    if (!vm || !mm) return;
    const int images = mm->isProjectOpen() ? mm->imageCount() : 0;
    if (orvUI::IOrvImageThumbViewer* thumbs = vm->getThumbViewer()) {
        thumbs->clearThumbnails();
        if (images > 0) {
            ref_ptr<LongArray> ids = zim::newLongArray();
            for (int i = 0; i < images; ++i) ids->append(i);
            ProgressPtr progress = frameProgress();
            thumbs->loadThumbnails(ids, progress.get());
        }
        // The project's folders (or the default tree), and the tiles of the chosen folder.
        if (orvUI::IOrvImageTree* tree = thumbs->getImageTree()) {
            tree->loadTree();
            tree->updateImageLists();
        }
        thumbs->layoutThumbnails();
    }
    rebuildMeshLists();
    if (images > 0) {
        if (orvUI::IOrv3DViewer* viewer = vm->get3DViewer()) viewer->viewHome();
        showFirstPhoto(vm.get(), mm.get());
    }
    vm->updateAllViewers();
    refreshFrameState();
}

void showAddedImages(const QVector<int>& indices)
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    ref_ptr<IZimMM> mm = model();
    if (!vm || !mm) return;
    if (!indices.isEmpty()) {
        if (orvUI::IOrvImageThumbViewer* thumbs = vm->getThumbViewer()) {
            for (int index : indices) thumbs->addImage(index);
            if (orvUI::IOrvImageTree* tree = thumbs->getImageTree()) tree->updateImageLists();
            thumbs->layoutThumbnails();
        }
        rebuildMeshLists();
        // The first meshes of a project: bring them into view.
        if (orvUI::IOrv3DViewer* viewer = vm->get3DViewer())
            if (mm->imageCount() == indices.size()) viewer->viewHome();
    }
    vm->updateAllViewers();
    refreshFrameState();
}

// ---- project files ---------------------------------------------------------------------------

bool openPhotoFile(const QString& path, const Reporter& report)
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    orvUI::IOrvImageViewer* viewer = vm ? vm->getImageViewer() : nullptr;
    if (!viewer) {
        report(tr("There is no image viewer to show %1 in.").arg(native(path)));
        return false;
    }
    // A photograph of the project is shown by its index, with its marks, and becomes current.
    ref_ptr<IZimMM> mm = model();
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    if (mm && mm->getState(state) == 0 && state) state->getImageStore(store);
    const int index = store ? store->findImageByName(QFileInfo(path).fileName()) : -1;
    if (index >= 0) {
        QString stored;
        ref_ptr<IZimImageEntry> entry;
        if (mm->getImageEntry(entry, index) == 0 && entry) stored = entry->photoPath();
        if (stored.isEmpty() || QFileInfo(stored).canonicalFilePath() == QFileInfo(path).canonicalFilePath())
            return showProjectPhoto(index);  // the viewer says why when it cannot
    }
    return viewer->setImageFile(path);
}

bool showProjectPhoto(int index)
{
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    ref_ptr<IZimMM> mm = model();
    orvUI::IOrvImageViewer* viewer = vm ? vm->getImageViewer() : nullptr;
    if (!viewer || !mm || index < 0 || index >= mm->imageCount()) return false;
    if (orvUI::IOrvImageThumbViewer* thumbs = vm->getThumbViewer()) thumbs->setTileState(index, orvUI::ThumbCurrent);
    const orvUI::ImageId id{index, 2};
    if (!viewer->setImageId(&id)) return false;
    mm->setCurrentImageIndex(index);
    vm->updateAllViewers();
    return true;
}

bool openProjectFile(const QString& path, const Reporter& report)
{
    CommandScope scope;
    ref_ptr<IZimMM> mm = model();
    if (!mm || path.isEmpty()) return false;
    setViewStateReady(false);
    if (ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan()) vm->resetViews();
    int rc = -1;
    {
        ProgressPtr progress = frameProgress();
        rc = mm->openProject(path, progress.get());
    }
    const QString error = mm->lastError();
    // A project that does not open leaves the one before open: the views show whichever it is.
    populateViews();
    settleOpenedProject(rc == 0);
    if (rc != 0) {
        report(tr("The project %1 could not be opened.\n%2").arg(native(path), error));
        return false;
    }
    // A project edited outside the program opens as it is; the user is told once what differs.
    const QString notice = mm->openNotice();
    if (!notice.isEmpty()) report(notice);
    QStringList missing;
    if (mm->getMissingFiles(missing) > 0)
        report(tr("These files of the project were not found; their photographs and meshes stay in the project "
                  "but cannot be shown until the files are back:\n%1")
                   .arg(fileList(missing)));
    // Photos that are there but cannot be read get no tile: said once, after the missing ones.
    ref_ptr<orvUI::IOrvViewerMan> vm = viewerMan();
    if (orvUI::IOrvImageThumbViewer* thumbs = vm ? vm->getThumbViewer() : nullptr) {
        QStringList unreadable;
        for (const QString& file : thumbs->unreadableFiles())
            if (!missing.contains(file)) unreadable << file;
        if (!unreadable.isEmpty())
            report(tr("These photographs could not be read and have no thumbnail:\n%1").arg(fileList(unreadable)));
    }
    return true;
}

bool settleUnsavedChanges(const Reporter& report)
{
    ref_ptr<IZimMM> mm = model();
    if (!mm || !mm->isProjectOpen()) return true;
    storeViewState();
    if (!mm->isModified()) return true;
    const QString name = QFileInfo(mm->projectPath()).completeBaseName();
    if (isHeadlessRun()) {
        // Nobody can answer: the file stays as it was on disk, and that is said.
        report(tr("The unsaved changes of the project %1 were not saved.").arg(name));
        return true;
    }
    const QMessageBox::StandardButton answer = QMessageBox::question(
        frameWidget(), QString(), tr("The project %1 has unsaved changes.\nDo you want to save them?").arg(name),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Save) return saveProject(report);
    return answer == QMessageBox::Discard;
}

bool saveProject(const Reporter& report)
{
    ref_ptr<IZimMM> mm = model();
    if (!mm || !mm->isProjectOpen()) {
        report(tr("No project is open."));
        return false;
    }
    if (mm->projectPath().isEmpty()) return saveProjectAs(report);
    // The folders and the camera are written with the rest.
    storeViewState();
    QString error;
    const bool ok = saveProjectWithTextures(mm.get(), &error) == 0;
    if (!ok) report(tr("The project could not be saved.\n%1").arg(error));
    refreshFrameState();
    return ok;
}

bool saveProjectAs(const Reporter& report)
{
    ref_ptr<IZimMM> mm = model();
    if (!mm || !mm->isProjectOpen()) {
        report(tr("No project is open."));
        return false;
    }
    QWidget* parent = frameWidget();
    const QString start = mm->projectPath().isEmpty() ? startFolder() : mm->projectPath();
    const QString chosen =
        QFileDialog::getSaveFileName(parent, tr("Save Project As"), start, tr("Projects (*.orvproj)"));
    if (chosen.isEmpty()) return false;
    rememberFolder(chosen);
    const QString path = withProjectSuffix(chosen);
    if (path != chosen && QFileInfo::exists(path) &&
        QMessageBox::question(parent, QString(), tr("%1 already exists.\nDo you want to replace it?").arg(native(path)),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return false;
    storeViewState();
    QString error, warning;
    const bool ok = saveProjectAsWithTextures(mm.get(), path, &error, &warning) == 0;
    if (!ok) report(tr("The project could not be saved as %1.\n%2").arg(native(path), error));
    if (!warning.isEmpty()) report(warning);
    refreshFrameState();
    return ok;
}

// ---- adding files ----------------------------------------------------------------------------

int addFiles(AddSource source, const PairingResult& pairing, const Reporter& report)
{
    if (!requireProject(report)) return -1;
    ref_ptr<IZimMM> mm = model();
    AddOutcome outcome;
    if (!pairing.pairs.isEmpty()) {
        ProgressPtr progress = frameProgress();
        outcome = addPairs(mm.get(), pairing.pairs, progress.get());
    }
    showAddedImages(outcome.added);
    const QString message = addReport(source, pairing, outcome);
    if (!message.isEmpty()) report(message);
    return outcome.added.size();
}

void handleDroppedFiles(const QStringList& paths, const Reporter& report)
{
    CommandScope scope;
    QStringList projects, others;
    for (const QString& p : paths) (isProjectFile(p) ? projects : others) << p;
    if (!projects.isEmpty()) {
        if (projects.size() > 1)
            report(tr("One project is opened at a time; %1 is opened, these are left alone:\n%2")
                       .arg(native(projects.first()), fileList(projects.mid(1))));
        if (!settleUnsavedChanges(report)) return;
        // The files dropped with a project belong to that project, not to the one before it.
        if (!openProjectFile(projects.first(), report)) return;
    }
    if (others.isEmpty()) return;
    addFiles(AddSource::Dropped, pairDropped(others), report);
}

// ---- layout ----------------------------------------------------------------------------------

QVector<HostDock> hostDocks()
{
    return {{PhotoDock, 0, tr("Photographs")}, {MeshDock, 1, tr("Meshes")}, {MarksDockId, 1, tr("Marks")}};
}

void applyHostDockLayout()
{
    IOrvMainFrame* frame = mainFrame();
    auto* window = qobject_cast<QMainWindow*>(frameWidget());
    if (!frame || !window) return;
    for (const HostDock& d : hostDocks()) {
        auto* dock = dynamic_cast<QDockWidget*>(frame->getDockWidget(d.id));
        if (!dock) continue;
        const Qt::DockWidgetArea area = d.area == 1   ? Qt::RightDockWidgetArea
                                        : d.area == 2 ? Qt::BottomDockWidgetArea
                                                      : Qt::LeftDockWidgetArea;
        // Taken out and docked again: out of any tab group, alone in its area.
        window->removeDockWidget(dock);
        dock->setFloating(false);
        window->addDockWidget(area, dock);
        dock->show();
    }
}

// ---- dispatch --------------------------------------------------------------------------------

int runCoreCommand(const QString& command, const QString& objectName, bool checked)
{
    const CommandFn fn = commandTable().value(command, nullptr);
    if (!fn) return 1;
    int rc = -1;
    {
        CommandScope scope;
        rc = fn(objectName, checked);
    }
    // Whatever the command changed shows in the status panes and title.
    refreshFrameState();
    return rc;
}

bool isCoreCommand(const QString& command) { return commandTable().contains(command); }

}  // namespace orvCore
