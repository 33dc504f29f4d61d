#include "HostWindow.h"

#include <CoreBackup.h>
#include <CoreCommands.h>
#include <CoreUi.h>
#include <IOrv3DViewer.h>
#include <IOrvDockWidget.h>
#include <IOrvImageThumbViewer.h>
#include <IOrvMainFrame.h>
#include <IOrvMeshPanelViewer.h>
#include <MarksDock.h>
#include <MarksEditor.h>
#include <OrvUIElements64t.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QSaveFile>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <exception>

namespace orvHost {

namespace {

using orvUI::IOrvMainFrame;

ZIM_TR_CONTEXT("orvhost")

// Set for --screenshot runs: nobody is there to click a message box away.
bool g_headless = false;

void printError(const QString& message)
{
    const QByteArray bytes = QStringLiteral("orvhost: %1\n").arg(message).toLocal8Bit();
    std::fputs(bytes.constData(), stderr);
    std::fflush(stderr);
}

orvCore::Reporter reporter()
{
    if (g_headless) return [](const QString& message) { printError(message); };
    return orvCore::warningBoxes();
}

// The frame calls these through plain function pointers: nothing may escape them.
void onEscape()
{
    try {
        if (ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM()) {
            vm->endCurTool();
            vm->updateAllViewers();
        }
    } catch (...) {
    }
}

void onDrop(const QStringList& paths)
{
    try {
        orvCore::handleDroppedFiles(paths, reporter());
    } catch (const std::exception& e) {
        reporter()(tr("The dropped files could not be handled: %1").arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
    }
}

bool onClose(IOrvMainFrame*, QCloseEvent*)
{
    try {
        return orvCore::settleUnsavedChanges(reporter());
    } catch (...) {
        // A close that cannot ask about unsaved changes keeps the window open.
        return false;
    }
}

}  // namespace

static_assert(int(IdPhotoDock) == int(orvCore::PhotoDock) && int(IdMeshDock) == int(orvCore::MeshDock) &&
                  int(IdMarksDock) == int(orvCore::MarksDockId),
              "the host's dock ids are the core layout's");

int pickImageAt(long long packedPos, int* /*out0*/, int* /*out1*/, int* /*out2*/)
{
    try {
        const int x = int(static_cast<qint32>(static_cast<quint32>(packedPos & 0xffffffffLL)));
        const int y = int(static_cast<qint32>(
            static_cast<quint32>((static_cast<unsigned long long>(packedPos) >> 32) & 0xffffffffULL)));
        ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
        orvUI::IOrv3DViewer* viewer = vm ? vm->get3DViewer() : nullptr;
        return viewer ? viewer->imageIndexAt(x, y) : -1;
    } catch (...) {
        return -1;
    }
}

void runContextEntry(const QString& name, bool checked)
{
    try {
        QString command;
        if (orvCore::splitActionName(name, &command, nullptr)) orvCore::runCoreCommand(command, name, checked);
    } catch (const std::exception& e) {
        reporter()(tr("The command %1 failed: %2").arg(name, QString::fromLocal8Bit(e.what())));
    } catch (...) {
    }
}

QString screenshotTargetProblem(const QString& path)
{
    const QString file = QDir::toNativeSeparators(path);
    const QFileInfo target(path);
    // Written beside the target and renamed over it: that would replace a FIFO, a device node
    // or a socket by a regular file.
    if (target.exists() && !target.isFile())
        return tr("The screenshot %1 cannot be written: it exists and is not a regular file.").arg(file);
    ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
    ref_ptr<IZimMM> mm = vm ? vm->getModelMan() : zim::getMM();
    if (orvCore::isProjectOwnFile(mm.get(), path))
        return tr("The screenshot %1 cannot be written: it is one of the project's own files (a photograph, mesh, "
                  "texture or the project file). Choose another name.")
            .arg(file);
    return QString();
}

int corePluginIndex(const QStringList& loadedPlugins)
{
    for (int i = 0; i < loadedPlugins.size(); ++i)
        if (QFileInfo(loadedPlugins[i]).fileName().compare(orvCore::CorePluginFileName, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

HostWindow::HostWindow(bool headless) { g_headless = headless; }

HostWindow::~HostWindow() { shutDown(); }

bool HostWindow::create(QString* error)
{
    ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
    if (!vm || vm->createMainFrame() != 0 || !(m_frame = vm->getMainFrame())) {
        if (error) *error = tr("the main window could not be created");
        return false;
    }
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString icon = appDir + QStringLiteral("/icons/orvhost/orvhost.png");
    if (QFileInfo::exists(icon)) m_frame->setFrameIcon(icon);

    // Menus and toolbars: the core plug-in's commands, routed back to it by index.
    m_corePlugin = corePluginIndex(m_frame->getLoadedPlugins());
    if (m_corePlugin >= 0) {
        m_frame->setCommonItems(ref_ptr<ZimReferenced>(), orvCore::makeCommonItems(orvCore::coreMenus(m_corePlugin)));
        orvCore::followEditMenus();
    } else {
        m_problems << tr("The core plug-in %1 is not loaded from %2: the project commands of the menus are "
                         "unavailable. Projects can still be opened by dropping them on the window.")
                          .arg(orvCore::CorePluginFileName,
                               QDir::toNativeSeparators(appDir + QStringLiteral("/plugins")));
    }

    // Views, as far as the library has them; a missing one leaves its place empty.
    m_frame->create3DViewer(Id3DViewer);
    m_frame->createImageViewer(IdImageViewer);
    const WId thumbs = m_frame->createThumbViewer(IdThumbViewer);
    const WId meshes = m_frame->createMeshPanel(IdMeshPanel);
    if (orvUI::IOrvImageThumbViewer* viewer = m_frame->getThumbViewer(IdThumbViewer)) viewer->setTileOptions(0x111);
    if (orvUI::IOrvMeshPanelViewer* panel = m_frame->getMeshPanel(IdMeshPanel)) {
        panel->addMeshList(orvCore::TextureMeshList, 0x111);
        panel->addMeshList(orvCore::BareMeshList, 0x111);
    }
    // The marks panel: a widget of the host's own, handed over like the views.
    auto* marks = new orvCore::MarksDock;
    const WId marksContent = marks->winId();
    for (const orvCore::HostDock& d : orvCore::hostDocks()) {
        const WId content = d.id == IdPhotoDock   ? thumbs
                            : d.id == IdMeshDock  ? meshes
                            : d.id == IdMarksDock ? marksContent
                                                  : 0;
        if (orvUI::IOrvDockWidget* dock = m_frame->createDockWidget(d.id, d.area, d.title))
            if (content) dock->setContent(content);
    }
    if (!marks->parentWidget()) delete marks;
    // Marks edited in the views or the panel are steps the Edit menu can take back.
    QObject::connect(orvCore::MarksEditor::instance(), &orvCore::MarksEditor::changed,
                     []() { orvCore::refreshEditActions(); });

    // The views' context menus, from the host's commands, and the 3D view's double click.
    const int commands = m_corePlugin >= 0 ? m_corePlugin : 0;
    if (orvUI::IOrv3DViewer* viewer = m_frame->get3DViewer(Id3DViewer)) {
        const QVector<ref_ptr<orvUI::IOrvCommonItem>> items =
            orvCore::makeCommonItems({orvCore::viewContextMenu(commands, &runContextEntry)});
        if (!items.isEmpty()) viewer->buildPluginMenu(items.first(), items.first());
        viewer->setPickCallback(&pickImageAt);
    }
    if (orvUI::IOrvImageViewer* viewer = m_frame->getImageViewer(IdImageViewer)) {
        const QVector<ref_ptr<orvUI::IOrvCommonItem>> items =
            orvCore::makeCommonItems({orvCore::photoContextMenu(commands, &runContextEntry)});
        if (!items.isEmpty()) viewer->buildContextMenu(items.first());
    }

    m_frame->setStatusBarPanes(orvCore::statusPanes());
    if (orvUI::IOrvImageViewer* viewer = m_frame->getImageViewer(IdImageViewer)) {
        m_cursorPane.frame = m_frame;
        viewer->addCoordListener(&m_cursorPane);
    }
    orvCore::refreshFrameState();
    // Meshes put to sleep or woken from the mesh panel or the tiles, camera drags (which tell
    // only the kernel) and anything else changed outside the commands reach the status panes
    // and the title's modified mark within a moment.
    m_stateTimer = std::make_unique<QTimer>();
    m_stateTimer->setInterval(500);
    QObject::connect(m_stateTimer.get(), &QTimer::timeout, []() {
        orvCore::refreshFrameStateWhenIdle();
        // A photo chosen from the tiles: the marks panel turns to it.
        if (!orvCore::CommandScope::running()) orvCore::MarksEditor::instance()->refresh();
    });
    m_stateTimer->start();

    // The frame calls the drop and close handlers unconditionally: both are in place before it
    // is shown.
    m_frame->setKeyHandler(Qt::Key_Escape, &onEscape);
    m_frame->setDropHandler(&onDrop);
    m_frame->setCloseHandler(&onClose);

    return true;
}

void HostWindow::show()
{
    if (!m_frame) return;
    if (ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM()) vm->showMainFrame();
    // Without a window manager (a virtual display) nothing maximises the window: give a picture
    // taken there the size a maximised window would have.
    auto* widget = dynamic_cast<QWidget*>(m_frame);
    if (m_backupSize.isValid() && widget) {
        // The window takes the size its fixed 3D view needs, nothing more.
        widget->adjustSize();
    } else if (g_headless && widget) {
        if (QScreen* screen = widget->screen()) {
            const QRect area = screen->availableGeometry();
            if (widget->width() < area.width() || widget->height() < area.height()) widget->setGeometry(area);
        }
    }
    // The image viewer's entry shows whether there is one to show.
    if (m_corePlugin >= 0)
        m_frame->setActionCheckedByName(orvCore::actionName(orvCore::cmd::ShowImageViewer, m_corePlugin),
                                        m_frame->getImageViewer(IdImageViewer) != nullptr);
    if (m_corePlugin >= 0)
        if (orvUI::IOrv3DViewer* viewer = m_frame->get3DViewer(Id3DViewer))
            m_frame->setActionCheckedByName(orvCore::actionName(orvCore::cmd::ShowOverlay, m_corePlugin),
                                            viewer->isShowImageOverlay());
}

void HostWindow::reportSetupProblems()
{
    if (m_problems.isEmpty()) return;
    reporter()(m_problems.join(QStringLiteral("\n\n")));
    m_problems.clear();
}

bool HostWindow::openProject(const QString& path) { return orvCore::openProjectFile(path, reporter()); }

int HostWindow::saveScreenshot(const QString& path)
{
    auto* widget = dynamic_cast<QWidget*>(m_frame);
    if (!widget) {
        reporter()(tr("There is no window to take a picture of."));
        return 1;
    }
    QCoreApplication::processEvents();
    // What the screen shows: the 3D view is drawn by GL straight into its window, which a
    // widget grab would leave black.
    QImage image;
    if (QScreen* screen = widget->screen()) image = screen->grabWindow(widget->winId()).toImage();
    if (image.isNull()) image = widget->grab().toImage();
    const QString problem = screenshotTargetProblem(path);
    if (!problem.isEmpty()) {
        reporter()(problem);
        return 1;
    }
    // The format follows the suffix; a name without one gets a PNG.
    const QString suffix = QFileInfo(path).suffix();
    const QByteArray format = suffix.isEmpty() ? QByteArray("PNG") : suffix.toLatin1();
    QSaveFile file(path);
    if (image.isNull() || !file.open(QIODevice::WriteOnly) || !image.save(&file, format.constData()) ||
        !file.commit()) {
        // The file knows the system's reason (a full disk, say); the image writer does not.
        const QString why = file.error() != QFileDevice::NoError ? file.errorString() : QString();
        reporter()(why.isEmpty() || why == QLatin1String("Unknown error")
                       ? tr("The screenshot %1 cannot be written.").arg(QDir::toNativeSeparators(path))
                       : tr("The screenshot %1 cannot be written: %2").arg(QDir::toNativeSeparators(path), why));
        return 1;
    }
    std::printf("%s\n", tr("orvhost: screenshot %1x%2 written to %3")
                            .arg(image.width())
                            .arg(image.height())
                            .arg(QDir::toNativeSeparators(path))
                            .toLocal8Bit()
                            .constData());
    std::fflush(stdout);
    return 0;
}

bool HostWindow::prepareBackupView(const QSize& size, QString* error)
{
    orvUI::IOrv3DViewer* viewer = m_frame ? m_frame->get3DViewer(Id3DViewer) : nullptr;
    auto* view = dynamic_cast<QWidget*>(viewer);
    if (!view) {
        if (error) *error = orvCore::backupProblemText(orvCore::BackupProblem::NoViewer, QString());
        return false;
    }
    // Without a window manager nothing lays the window out for us: a fixed-size view alone in
    // the frame gives the window the size it needs around it.
    for (const orvCore::HostDock& d : orvCore::hostDocks())
        if (auto* dock = dynamic_cast<QWidget*>(m_frame->getDockWidget(d.id))) dock->hide();
    m_frame->showImageViewer(IdImageViewer, false);
    m_frame->showStatusBar(false);
    view->setFixedSize(size);
    m_backupSize = size;
    // Shown already: the window follows its view's new size.
    if (auto* widget = dynamic_cast<QWidget*>(m_frame); widget && widget->isVisible()) widget->adjustSize();
    return true;
}

orvUI::IOrv3DViewer* HostWindow::viewer3D() const { return m_frame ? m_frame->get3DViewer(Id3DViewer) : nullptr; }

bool HostWindow::waitForBackupView(QString* error)
{
    orvUI::IOrv3DViewer* viewer = viewer3D();
    if (!viewer || !m_backupSize.isValid()) {
        if (error) *error = orvCore::backupProblemText(orvCore::BackupProblem::NoViewer, QString());
        return false;
    }
    // The view is ready once it is on screen at its size and its context draws.
    auto sizeReached = [&]() {
        return viewer->viewWidth() == m_backupSize.width() && viewer->viewHeight() == m_backupSize.height();
    };
    QElapsedTimer clock;
    clock.start();
    bool drawn = false;
    while (clock.elapsed() < 15000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (sizeReached() && viewer->drawScene(false) == 0) {
            drawn = true;
            break;
        }
        QThread::msleep(20);
    }
    if (!sizeReached()) {
        if (error)
            *error = tr("The 3D view could not be made %1x%2 pixels (it is %3x%4); nothing was written.")
                         .arg(m_backupSize.width())
                         .arg(m_backupSize.height())
                         .arg(viewer->viewWidth())
                         .arg(viewer->viewHeight());
        return false;
    }
    if (!drawn) {
        if (error) *error = orvCore::backupProblemText(orvCore::BackupProblem::ViewNotDrawn, QString());
        return false;
    }
    return true;
}

int HostWindow::saveBackup(const QString& path, int view)
{
    orvUI::IOrv3DViewer* viewer = m_frame ? m_frame->get3DViewer(Id3DViewer) : nullptr;
    if (!viewer || !m_backupSize.isValid()) {
        reporter()(orvCore::backupProblemText(orvCore::BackupProblem::NoViewer, path));
        return 1;
    }
    ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
    ref_ptr<IZimMM> mm = vm ? vm->getModelMan() : zim::getMM();
    // The project's own problems, and a picture path that is one of its files, are told before
    // any waiting for the view.
    orvCore::BackupProblem problem = orvCore::backupMeshProblem(mm.get());
    if (problem == orvCore::BackupProblem::None) problem = orvCore::backupTargetProblem(path, mm.get());
    if (problem != orvCore::BackupProblem::None) {
        reporter()(orvCore::backupProblemText(problem, path));
        return 1;
    }

    QString waitError;
    if (!waitForBackupView(&waitError)) {
        reporter()(waitError);
        return 1;
    }

    // The camera fitted to the view's final shape, then turned about the centre.
    viewer->viewAllMeshes();
    if (view >= 0 && view <= 5) viewer->setStandardView(view);
    const orvCore::BackupResult result = orvCore::takeBackup(mm.get(), viewer, path);
    if (!result.ok) {
        reporter()(orvCore::backupFailureText(result, path));
        return 1;
    }
    // One line of fixed form, for scripts.
    std::printf("%s\n", tr("orvhost: backup %1x%2 of %3 triangles in %4 meshes written to %5")
                            .arg(result.pictureSize.width())
                            .arg(result.pictureSize.height())
                            .arg(result.triangles)
                            .arg(result.meshes)
                            .arg(QDir::toNativeSeparators(path))
                            .toLocal8Bit()
                            .constData());
    std::fflush(stdout);
    if (result.partial()) {
        reporter()(orvCore::backupPartialText(result, path));
        return 3;
    }
    return 0;
}

void HostWindow::CursorPane::onImageCoord(double x, double y)
{
    if (frame) frame->setStatusBarText(orvCore::PaneCursor, orvCore::cursorText(x, y));
}

void HostWindow::CursorPane::onImageChanged(const orvUI::ImageId*, const orvUI::ImageId*)
{
    if (frame) frame->setStatusBarText(orvCore::PaneCursor, QString());
    // The marks editor (and the panel following it) turns to the photo shown now.
    orvCore::MarksEditor::instance()->refresh();
}

void HostWindow::shutDown()
{
    m_stateTimer.reset();
    if (!m_frame) return;
    IOrvMainFrame* frame = m_frame;
    m_frame = nullptr;
    if (orvUI::IOrvImageViewer* viewer = frame->getImageViewer(IdImageViewer))
        viewer->removeCoordListener(&m_cursorPane);
    m_cursorPane.frame = nullptr;
    ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
    // Objects the plug-ins made (tools, undo steps, registered objects) go before their code.
    if (vm) vm->resetViews();
    frame->unloadAllPlugins();
    if (ref_ptr<IZimMM> mm = vm ? vm->getModelMan() : zim::getMM()) mm->closeProject();
    delete dynamic_cast<QWidget*>(frame);
}

}  // namespace orvHost
