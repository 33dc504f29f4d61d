// The host's window with the real main frame and the real core plug-in (loaded from
// <appdir>/plugins): commands triggered from the menus travel the whole road (action name, frame
// routing, plug-in manager, plug-in, kernel, frame), files dropped on the window are opened or
// added, closing asks about unsaved changes, and the Mesh menu's backup tells what it did or why
// it could not.
#include <IOrv3DViewer.h>
#include <IOrvDockWidget.h>
#include <IOrvImageThumbViewer.h>
#include <IOrvImageTree.h>
#include <IOrvImageViewer.h>
#include <IOrvMainFrame.h>
#include <OrvKernel64t.h>
#include <OrvUIElements64t.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWheelEvent>
#include <functional>
#include <ostream>

#include "CoreCamera.h"
#include "CoreCommands.h"
#include "CoreUi.h"
#include "HostWindow.h"
#include "TestSupport.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace orvCore;

namespace {

// Answers the modal dialogs that come up while it lives: message boxes with the button the test
// chose (their texts are kept), file dialogs with the file the test chose.
class DialogAnswerer {
public:
    DialogAnswerer()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this]() { answer(); });
        m_timer.start();
    }
    QMessageBox::StandardButton button = QMessageBox::Ok;
    QStringList files;     // for the next file dialogs, one each, before `file`
    QString file;          // for file dialogs; empty cancels them
    QStringList boxTexts;  // every message box seen
    QStringList boxTitles;
    QStringList fileDialogTitles;
    int fileDialogs = 0;

private:
    void answer()
    {
        // A dialog is answered once it has been up for a whole tick, so that its own event loop
        // runs (answering it while it is still being shown would leave that loop waiting).
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal != m_seen) {
            m_seen = modal;
            return;
        }
        m_seen = nullptr;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxTexts << box->text();
            boxTitles << box->windowTitle();
            QAbstractButton* b = box->button(button);
            if (!b) b = box->button(QMessageBox::Ok);
            if (b)
                b->click();
            else
                box->reject();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            ++fileDialogs;
            fileDialogTitles << dialog->windowTitle();
            const QString file = files.isEmpty() ? this->file : files.takeFirst();
            if (file.isEmpty()) {
                dialog->reject();
            } else {
                // Typed in as a user would: an absolute path in the file name field.
                if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    edit->setText(file);
                else
                    dialog->selectFile(file);
                QMetaObject::invokeMethod(dialog, "accept");
            }
        }
    }
    QTimer m_timer;
    QPointer<QWidget> m_seen;
};

class HostWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        mm = zim::getMM();
        window = std::make_unique<orvHost::HostWindow>(true);
        QString error;
        ASSERT_TRUE(window->create(&error)) << error.toStdString();
        ASSERT_GE(window->corePlugin(), 0) << "core.orvplugin did not load from " << orvtest::binDir().toStdString();
        window->show();
        frame = dynamic_cast<QWidget*>(window->frame());
        ASSERT_NE(frame, nullptr);
    }
    void TearDown() override
    {
        if (window) window->shutDown();
        if (mm) mm->closeProject();
        // The frame ends the event loop when a close is agreed to; leave the application ready
        // for loops of the next test.
        QTimer::singleShot(0, []() { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }

    QString path(const QString& rel) const { return QDir(tmp.path()).filePath(rel); }

    // The sample generator's project (two tiles), written once per test.
    QString sampleProject()
    {
        const QString out = path(QStringLiteral("sample"));
        const int rc =
            QProcess::execute(orvtest::binDir() + QStringLiteral("/orv-sample"),
                              {QStringLiteral("--out"), out, QStringLiteral("--tiles"), QStringLiteral("2"),
                               QStringLiteral("--triangles"), QStringLiteral("400"), QStringLiteral("--photo-size"),
                               QStringLiteral("160x120"), QStringLiteral("--texture-size"), QStringLiteral("64"),
                               QStringLiteral("--quiet")});
        EXPECT_EQ(rc, 0);
        return out + QStringLiteral("/sample.orvproj");
    }

    // The menu bar's action of a command (the views' context menus have actions of the same
    // names).
    QAction* action(const QString& command) const
    {
        for (QAction* a : frame->findChildren<QAction*>(actionName(command, window->corePlugin()))) {
            bool inView = false;
            for (QObject* o = a->parent(); o && !inView; o = o->parent())
                inView = o == viewWidget(true) || o == viewWidget(false);
            if (!inView) return a;
        }
        return nullptr;
    }

    // The 3D view (or the image viewer) as a widget.
    QWidget* viewWidget(bool threeD) const
    {
        if (!window || !window->frame()) return nullptr;
        return threeD ? dynamic_cast<QWidget*>(window->frame()->get3DViewer(0))
                      : dynamic_cast<QWidget*>(window->frame()->getImageViewer(1));
    }

    // The entry of a view's context menu for a command.
    QAction* contextAction(bool threeD, const QString& command) const
    {
        QWidget* view = viewWidget(threeD);
        return view ? view->findChild<QAction*>(actionName(command, window->corePlugin())) : nullptr;
    }

    // Waits until the 3D view has drawn once on screen.
    void waitFor3DView()
    {
        orvUI::IOrv3DViewer* viewer = window->frame()->get3DViewer(0);
        QElapsedTimer clock;
        clock.start();
        while (viewer->drawScene(false) != 0 && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }

    // A GL-oriented pixel of the 3D view where the mesh of `image` is drawn; (-1, -1) if none.
    QPoint pixelOf(int image) const
    {
        orvUI::IOrv3DViewer* viewer = window->frame()->get3DViewer(0);
        const int w = viewer->viewWidth(), h = viewer->viewHeight();
        for (int y = h / 8; y < h; y += h / 8)
            for (int x = w / 16; x < w; x += w / 16)
                if (viewer->imageIndexAt(x, y) == image) return QPoint(x, y);
        return QPoint(-1, -1);
    }

    QStringList statusTexts() const
    {
        QStringList texts;
        if (auto* bar = frame->findChild<QStatusBar*>())
            for (QLabel* label : bar->findChildren<QLabel*>()) texts << label->text();
        return texts;
    }

    // A photo and its mesh with the same base name in `folder`.
    void writePair(const QString& folder, const QString& name)
    {
        QDir().mkpath(path(folder));
        QImage img(24, 16, QImage::Format_RGB32);
        img.fill(Qt::darkCyan);
        ASSERT_TRUE(img.save(path(folder + QLatin1Char('/') + name + QStringLiteral(".jpg"))));
        ASSERT_TRUE(orvtest::writeFile(path(folder + QLatin1Char('/') + name + QStringLiteral(".obj")),
                                       "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n"));
    }

    void drop(const QStringList& files)
    {
        QList<QUrl> urls;
        for (const QString& f : files) urls << QUrl::fromLocalFile(f);
        QMimeData data;
        data.setUrls(urls);
        // As a drag does it: the window accepts the entering drag, then gets the drop.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frame, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frame, &event);
    }

    QTemporaryDir tmp;
    ref_ptr<IZimMM> mm;
    std::unique_ptr<orvHost::HostWindow> window;
    QWidget* frame = nullptr;
};

TEST_F(HostWindowTest, MenusAndToolbarCarryTheCoreCommands)
{
    for (const QString& command : menuCommands(coreMenus(window->corePlugin())))
        EXPECT_NE(action(command), nullptr) << command.toStdString();
    EXPECT_EQ(window->frame()->getActionText(actionName(cmd::Save, window->corePlugin())).remove(QLatin1Char('&')),
              QStringLiteral("Save"));
    ASSERT_NE(action(cmd::ShowStatusBar), nullptr);
    EXPECT_TRUE(action(cmd::ShowStatusBar)->isCheckable());
    EXPECT_TRUE(action(cmd::ShowStatusBar)->isChecked());
    // The main File commands are on a toolbar too, in menu order.
    QStringList onToolBars;
    for (QToolBar* bar : frame->findChildren<QToolBar*>())
        for (QAction* a : bar->actions())
            if (!a->isSeparator()) {
                onToolBars << a->objectName();
                EXPECT_FALSE(a->icon().isNull()) << a->objectName().toStdString();
            }
    const int core = window->corePlugin();
    EXPECT_EQ(onToolBars,
              (QStringList{actionName(cmd::New, core), actionName(cmd::Open, core), actionName(cmd::AddPhotos, core),
                           actionName(cmd::AddMeshes, core), actionName(cmd::Save, core)}));
    EXPECT_TRUE(statusTexts().contains(QStringLiteral("No project"))) << statusTexts().join('|').toStdString();
    EXPECT_EQ(frame->windowTitle(), CoreText::productName());
}

TEST_F(HostWindowTest, CommandsFromTheMenusChangeTheWindowAndTheProject)
{
    const QString project = sampleProject();
    ASSERT_TRUE(window->openProject(project));
    EXPECT_EQ(mm->imageCount(), 2);
    EXPECT_EQ(frame->windowTitle(), CoreText::productName() + QStringLiteral(" \u2014 sample[*]"));
    EXPECT_FALSE(frame->isWindowModified());
    EXPECT_TRUE(statusTexts().contains(QStringLiteral("Project: sample")));
    EXPECT_TRUE(statusTexts().contains(QStringLiteral("2 photos")));
    // The first photograph is the current one.
    EXPECT_EQ(mm->getCurMeshIndex(), 0);

    DialogAnswerer answers;
    // A checkable entry: the action's new state reaches the command.
    ASSERT_NE(action(cmd::ShowStatusBar), nullptr);
    action(cmd::ShowStatusBar)->trigger();
    EXPECT_FALSE(window->frame()->isStatusBarVisible());
    action(cmd::ShowStatusBar)->trigger();
    EXPECT_TRUE(window->frame()->isStatusBarVisible());

    action(cmd::SleepAllMeshes)->trigger();
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(mm->isMeshAsleepById(i));
    EXPECT_TRUE(statusTexts().contains(QStringLiteral("0 awake, 2 asleep"))) << statusTexts().join('|').toStdString();
    action(cmd::WakeAllMeshes)->trigger();
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(mm->isMeshAsleepById(i));

    mm->setModified(true);
    action(cmd::Save)->trigger();
    EXPECT_FALSE(mm->isModified());

    action(cmd::ProjectSummary)->trigger();
    action(cmd::About)->trigger();
    ASSERT_EQ(answers.boxTexts.size(), 2) << answers.boxTexts.join('|').toStdString();
    EXPECT_TRUE(answers.boxTexts[0].contains(QStringLiteral("Photographs: 2"))) << answers.boxTexts[0].toStdString();
    EXPECT_TRUE(answers.boxTitles[1].contains(CoreText::productName()));

    // Open through the menu's file dialog: a project that does not open is reported in a box
    // and the one before stays open.
    const QString garbage = path(QStringLiteral("garbage.orvproj"));
    ASSERT_TRUE(orvtest::writeFile(garbage, QByteArray(2048, 'z')));
    answers.file = garbage;
    action(cmd::Open)->trigger();
    EXPECT_EQ(answers.fileDialogs, 1);
    ASSERT_EQ(answers.boxTexts.size(), 3);
    EXPECT_TRUE(answers.boxTexts[2].contains(QStringLiteral("garbage.orvproj"))) << answers.boxTexts[2].toStdString();
    EXPECT_EQ(QFileInfo(mm->projectPath()).fileName(), QStringLiteral("sample.orvproj"));

    // Add meshes through the menu: the photo of the same name comes with it.
    writePair(QStringLiteral("more"), QStringLiteral("annex"));
    answers.file = path(QStringLiteral("more/annex.obj"));
    action(cmd::AddMeshes)->trigger();
    EXPECT_EQ(mm->imageCount(), 3);
    EXPECT_TRUE(statusTexts().contains(QStringLiteral("3 photos")));
    EXPECT_EQ(answers.boxTexts.size(), 3) << answers.boxTexts.join('|').toStdString();

    // New: the unsaved change is asked about (and dropped here), the suffix is added, the views
    // and panes start empty.
    answers.file = path(QStringLiteral("fresh"));
    answers.button = QMessageBox::Discard;
    action(cmd::New)->trigger();
    ASSERT_EQ(answers.boxTexts.size(), 4);
    EXPECT_TRUE(answers.boxTexts[3].contains(QStringLiteral("unsaved"))) << answers.boxTexts[3].toStdString();
    EXPECT_EQ(mm->projectPath(), QFileInfo(path(QStringLiteral("fresh.orvproj"))).absoluteFilePath());
    EXPECT_EQ(mm->imageCount(), 0);
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("fresh.orvproj"))));
    EXPECT_EQ(frame->windowTitle(), CoreText::productName() + QStringLiteral(" — fresh[*]"));
    EXPECT_FALSE(frame->isWindowModified());
    EXPECT_TRUE(statusTexts().contains(QStringLiteral("0 photos")));
}

TEST_F(HostWindowTest, OpenPhotoShowsItAndTheStatusBarFollowsTheCursor)
{
    ASSERT_TRUE(window->openProject(sampleProject()));
    orvUI::IOrvImageViewer* viewer = window->frame()->getImageViewer(1);
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->getImageId().index, 0);

    // A photograph of the project: shown by its index and made current.
    DialogAnswerer answers;
    ref_ptr<IZimImageEntry> second;
    ASSERT_EQ(mm->getImageEntry(second, 1), 0);
    answers.file = second->photoPath();
    action(cmd::OpenPhoto)->trigger();
    EXPECT_EQ(answers.fileDialogs, 1);
    EXPECT_EQ(viewer->getImageId().index, 1);
    EXPECT_EQ(mm->getCurMeshIndex(), 1);

    // Any other picture is shown as it is; the project's current image does not change.
    writePair(QStringLiteral("loose"), QStringLiteral("street"));
    answers.file = path(QStringLiteral("loose/street.jpg"));
    action(cmd::OpenPhoto)->trigger();
    const int shown = viewer->getImageId().index;
    EXPECT_FALSE(shown >= 0 && shown < mm->imageCount()) << shown;
    EXPECT_EQ(mm->getCurMeshIndex(), 1);
    EXPECT_TRUE(answers.boxTexts.isEmpty()) << answers.boxTexts.join('|').toStdString();

    // A file that is no picture: a message, and the picture before stays.
    const QString bogus = path(QStringLiteral("loose/bogus.jpg"));
    ASSERT_TRUE(orvtest::writeFile(bogus, "not a picture"));
    answers.file = bogus;
    action(cmd::OpenPhoto)->trigger();
    EXPECT_EQ(answers.boxTexts.size(), 1);
    const XPnt2d corner = viewer->imageToScreen(XPnt2d(0, 0));
    ASSERT_TRUE(corner.isValid());  // the street picture is still shown

    // The cursor over the bottom-left corner of the picture (24x16 pixels) reads about (0, 0);
    // one step right and up reads more.
    auto* widget = dynamic_cast<QWidget*>(viewer);
    ASSERT_NE(widget, nullptr);
    const XPnt2d mid = viewer->imageToScreen(XPnt2d(12, 8));
    const QPoint at(int(mid.x), widget->height() - int(mid.y));
    QMouseEvent move(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
    // The pane reads as cursorText writes it: "x <x>  y <y>".
    bool paneShown = false;
    for (const QString& text : statusTexts()) {
        const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (parts.size() != 4 || parts[0] != QStringLiteral("x")) continue;
        paneShown = true;
        EXPECT_NEAR(parts[1].toDouble(), 12.0, 1.5) << text.toStdString();
        EXPECT_NEAR(parts[3].toDouble(), 8.0, 1.5) << text.toStdString();
    }
    EXPECT_TRUE(paneShown) << statusTexts().join('|').toStdString();
}

TEST_F(HostWindowTest, UnreadablePhotosAreToldOnceWhenTheProjectOpens)
{
    const QString project = sampleProject();
    QStringList photos;
    ASSERT_EQ(mm->openProject(project, nullptr), 0);
    for (int i = 0; i < 2; ++i) {
        ref_ptr<IZimImageEntry> entry;
        ASSERT_EQ(mm->getImageEntry(entry, i), 0);
        photos << QFileInfo(entry->photoPath()).absoluteFilePath();
    }
    mm->closeProject();
    // One photograph damaged after the project was written, its reduced copy gone with the cache.
    ASSERT_TRUE(orvtest::writeFile(photos[1], QByteArray(4096, 'x')));
    QDir(path(QStringLiteral("sample/sample.orvcache"))).removeRecursively();
    DialogAnswerer answers;
    answers.file = project;
    action(cmd::Open)->trigger();
    ASSERT_EQ(mm->imageCount(), 2);
    QStringList about;
    for (const QString& text : answers.boxTexts)
        if (text.contains(QFileInfo(photos[1]).fileName())) about << text;
    ASSERT_EQ(about.size(), 1) << answers.boxTexts.join('|').toStdString();
    EXPECT_TRUE(about[0].contains(QStringLiteral("could not be read"))) << about[0].toStdString();
    EXPECT_FALSE(about[0].contains(QFileInfo(photos[0]).fileName()));
}

TEST_F(HostWindowTest, AddPhotosAsksForTheMeshOfAPhotoNamedOtherwise)
{
    ASSERT_TRUE(window->openProject(sampleProject()));
    ASSERT_EQ(mm->imageCount(), 2);
    // A photograph named by the camera, its mesh by the survey.
    writePair(QStringLiteral("site"), QStringLiteral("annex"));
    ASSERT_TRUE(QFile::rename(path(QStringLiteral("site/annex.jpg")), path(QStringLiteral("site/DSC_0001.jpg"))));
    writePair(QStringLiteral("site"), QStringLiteral("DSC_0002"));
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("site/DSC_0002.obj"))));

    DialogAnswerer answers;
    answers.files = QStringList{path(QStringLiteral("site/DSC_0001.jpg")), path(QStringLiteral("site/annex.obj"))};
    action(cmd::AddPhotos)->trigger();
    ASSERT_EQ(answers.fileDialogs, 2);
    EXPECT_EQ(answers.fileDialogTitles[1], QStringLiteral("Choose the mesh of DSC_0001.jpg"));
    EXPECT_TRUE(answers.boxTexts.isEmpty()) << answers.boxTexts.join('|').toStdString();
    ASSERT_EQ(mm->imageCount(), 3);
    ref_ptr<IZimImageEntry> added;
    ASSERT_EQ(mm->getImageEntry(added, 2), 0);
    EXPECT_EQ(QFileInfo(added->meshPath()).fileName(), QStringLiteral("annex.obj"));
    EXPECT_TRUE(statusTexts().contains(QStringLiteral("3 photos"))) << statusTexts().join('|').toStdString();

    // Cancelling the mesh's dialog skips that photo, without a message.
    answers.files = QStringList{path(QStringLiteral("site/DSC_0002.jpg"))};
    action(cmd::AddPhotos)->trigger();
    EXPECT_EQ(answers.fileDialogs, 4);
    EXPECT_EQ(mm->imageCount(), 3);
    EXPECT_TRUE(answers.boxTexts.isEmpty()) << answers.boxTexts.join('|').toStdString();
}

TEST_F(HostWindowTest, ViewMenuDrivesTheCamera)
{
    ASSERT_TRUE(window->openProject(sampleProject()));
    orvUI::IOrv3DViewer* viewer = window->frame()->get3DViewer(0);
    ASSERT_NE(viewer, nullptr);
    ref_ptr<IZimTrackBall> ball = viewer->getDisplay()->getTrackBall();
    ASSERT_TRUE(ball);

    // The top view looks down the z axis; the right view along x; fit brings it all back.
    action(standardViewCommand(0))->trigger();
    XPnt3d eye = ball->getEyePoint(), centre = ball->getCenterPoint();
    EXPECT_GT(eye.z - centre.z, 0.9 * eye.dist(centre));
    action(standardViewCommand(5))->trigger();
    eye = ball->getEyePoint();
    centre = ball->getCenterPoint();
    EXPECT_GT(std::abs(eye.x - centre.x), 0.9 * eye.dist(centre));
    action(cmd::FitAll)->trigger();
    EXPECT_TRUE(ball->getEyePoint().isValid());

    // The overlay: on and off through its entry, its opacity in steps and within 0 and 1.
    action(cmd::ShowOverlay)->setChecked(false);
    action(cmd::ShowOverlay)->trigger();
    EXPECT_TRUE(viewer->isShowImageOverlay());
    ASSERT_EQ(viewer->setOverlayOpacity(0.5f, false), 0);
    action(cmd::OverlayLess)->trigger();
    EXPECT_FLOAT_EQ(viewer->getOverlayOpacity(), 0.25f);
    for (int i = 0; i < 6; ++i) action(cmd::OverlayMore)->trigger();
    EXPECT_FLOAT_EQ(viewer->getOverlayOpacity(), 1.0f);
    action(cmd::ShowOverlay)->trigger();
    EXPECT_FALSE(viewer->isShowImageOverlay());
}

TEST_F(HostWindowTest, HomeViewLooksDownAtASlant)
{
    ASSERT_TRUE(window->openProject(sampleProject()));
    orvUI::IOrv3DViewer* viewer = window->frame()->get3DViewer(0);
    ASSERT_NE(viewer, nullptr);
    ref_ptr<IZimTrackBall> ball = viewer->getDisplay()->getTrackBall();
    ASSERT_TRUE(ball);
    // A project without a stored camera opens on the home view: from above, not straight down.
    auto slant = [&]() {
        const XPnt3d eye = ball->getEyePoint(), centre = ball->getCenterPoint();
        return (eye.z - centre.z) / eye.dist(centre);
    };
    EXPECT_GT(slant(), 0.3);
    EXPECT_LT(slant(), 0.95);
    const double opened = slant();
    action(standardViewCommand(0))->trigger();
    EXPECT_GT(slant(), 0.99);
    ASSERT_NE(action(cmd::HomeView), nullptr);
    action(cmd::HomeView)->trigger();
    EXPECT_NEAR(slant(), opened, 1e-6);
}

TEST_F(HostWindowTest, RestoreLayoutBringsBackTheHostsDocks)
{
    auto* main = qobject_cast<QMainWindow*>(frame);
    ASSERT_NE(main, nullptr);
    auto* photos = dynamic_cast<QDockWidget*>(window->frame()->getDockWidget(orvHost::IdPhotoDock));
    auto* meshes = dynamic_cast<QDockWidget*>(window->frame()->getDockWidget(orvHost::IdMeshDock));
    ASSERT_NE(photos, nullptr);
    ASSERT_NE(meshes, nullptr);
    // The start: photographs left, meshes right, each alone.
    EXPECT_EQ(main->dockWidgetArea(photos), Qt::LeftDockWidgetArea);
    EXPECT_EQ(main->dockWidgetArea(meshes), Qt::RightDockWidgetArea);
    EXPECT_TRUE(main->tabifiedDockWidgets(photos).isEmpty());

    // Moved about: the meshes in a tab beside the photographs, one dock floating, the status bar
    // hidden.
    main->tabifyDockWidget(photos, meshes);
    photos->setFloating(true);
    action(cmd::ShowStatusBar)->trigger();
    ASSERT_FALSE(window->frame()->isStatusBarVisible());

    action(cmd::RestoreLayout)->trigger();
    QCoreApplication::processEvents();
    EXPECT_FALSE(photos->isFloating());
    EXPECT_EQ(main->dockWidgetArea(photos), Qt::LeftDockWidgetArea);
    EXPECT_EQ(main->dockWidgetArea(meshes), Qt::RightDockWidgetArea);
    EXPECT_TRUE(main->tabifiedDockWidgets(photos).isEmpty());
    EXPECT_TRUE(main->tabifiedDockWidgets(meshes).isEmpty());
    EXPECT_TRUE(photos->isVisible());
    EXPECT_TRUE(meshes->isVisible());
    EXPECT_TRUE(window->frame()->isStatusBarVisible());
    EXPECT_TRUE(action(cmd::ShowStatusBar)->isChecked());
}

TEST_F(HostWindowTest, StatusBarFollowsMeshesPutToSleepElsewhere)
{
    ASSERT_TRUE(window->openProject(sampleProject()));
    ASSERT_TRUE(statusTexts().contains(QStringLiteral("2 meshes"))) << statusTexts().join('|').toStdString();
    // As the mesh panel and the tiles do it: straight to the kernel, no core command.
    ref_ptr<IZimMesh> mesh;
    ASSERT_EQ(mm->getMeshAt(mesh, 1), 0);
    ASSERT_EQ(mm->sleepMesh(mesh, nullptr), 0);
    auto waitForText = [&](const QString& text) {
        QElapsedTimer clock;
        clock.start();
        while (!statusTexts().contains(text) && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return statusTexts().contains(text);
    };
    EXPECT_TRUE(waitForText(QStringLiteral("1 awake, 1 asleep"))) << statusTexts().join('|').toStdString();
    ASSERT_EQ(mm->wakeMesh(1, nullptr), 0);
    EXPECT_TRUE(waitForText(QStringLiteral("2 meshes"))) << statusTexts().join('|').toStdString();
}

TEST_F(HostWindowTest, ContextMenusOfTheViewsRunTheHostsCommands)
{
    ASSERT_TRUE(window->openProject(sampleProject()));
    waitFor3DView();
    orvUI::IOrv3DViewer* viewer = window->frame()->get3DViewer(0);
    orvUI::IOrvImageViewer* photo = window->frame()->getImageViewer(1);
    ASSERT_NE(viewer, nullptr);
    ASSERT_NE(photo, nullptr);
    ref_ptr<IZimTrackBall> ball = viewer->getDisplay()->getTrackBall();

    // The 3D view's menu: a standard view, the overlay switched over (the View menu follows).
    QAction* top = contextAction(true, standardViewCommand(0));
    ASSERT_NE(top, nullptr);
    EXPECT_TRUE(top->text().endsWith(QStringLiteral("\tCtrl+1"))) << top->text().toStdString();
    EXPECT_TRUE(top->shortcut().isEmpty());
    top->trigger();
    const XPnt3d eye = ball->getEyePoint(), centre = ball->getCenterPoint();
    EXPECT_GT(eye.z - centre.z, 0.99 * eye.dist(centre));
    ASSERT_NE(contextAction(true, cmd::ToggleOverlay), nullptr);
    const bool overlay = viewer->isShowImageOverlay();
    contextAction(true, cmd::ToggleOverlay)->trigger();
    EXPECT_NE(viewer->isShowImageOverlay(), overlay);
    EXPECT_EQ(action(cmd::ShowOverlay)->isChecked(), !overlay);
    contextAction(true, cmd::ToggleOverlay)->trigger();
    EXPECT_EQ(viewer->isShowImageOverlay(), overlay);

    // The photo under the cursor: where the mouse last moved over the 3D view.
    waitFor3DView();
    const QPoint over1 = pixelOf(1);
    ASSERT_GE(over1.x(), 0) << "no pixel of mesh 1 in the top view";
    QWidget* view = viewWidget(true);
    QMouseEvent move(QEvent::MouseMove, QPoint(over1.x(), view->height() - over1.y()), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(view, &move);
    ASSERT_EQ(photo->getImageId().index, 0);
    ASSERT_NE(contextAction(true, cmd::OpenPhotoAtCursor), nullptr);
    contextAction(true, cmd::OpenPhotoAtCursor)->trigger();
    EXPECT_EQ(photo->getImageId().index, 1);
    EXPECT_EQ(mm->getCurMeshIndex(), 1);

    // The photo view's menu fits the photograph again after a zoom.
    QWidget* photoView = viewWidget(false);
    const double fitted = photo->getScale();
    ASSERT_GT(fitted, 0.0);
    const QPoint middle(photoView->width() / 2, photoView->height() / 2);
    QWheelEvent wheel(middle, photoView->mapToGlobal(middle), QPoint(), QPoint(0, 360), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(photoView, &wheel);
    ASSERT_NE(photo->getScale(), fitted);
    ASSERT_NE(contextAction(false, cmd::FitPhoto), nullptr);
    contextAction(false, cmd::FitPhoto)->trigger();
    EXPECT_DOUBLE_EQ(photo->getScale(), fitted);
    // The same from the View menu.
    QCoreApplication::sendEvent(photoView, &wheel);
    action(cmd::FitPhoto)->trigger();
    EXPECT_DOUBLE_EQ(photo->getScale(), fitted);
}

TEST_F(HostWindowTest, DoubleClickIn3DOpensThePhotoOfTheMeshUnderTheCursor)
{
    ASSERT_TRUE(window->openProject(sampleProject()));
    waitFor3DView();
    action(standardViewCommand(0))->trigger();
    waitFor3DView();
    orvUI::IOrvImageViewer* photo = window->frame()->getImageViewer(1);
    ASSERT_EQ(photo->getImageId().index, 0);
    const QPoint over1 = pixelOf(1);
    ASSERT_GE(over1.x(), 0) << "no pixel of mesh 1 in the top view";
    // The pick the view calls: the image under a pixel, -1 over the background.
    const long long packed = (static_cast<long long>(over1.y()) << 32) | static_cast<long long>(over1.x());
    int a = 0, b = 0, c = 0;
    EXPECT_EQ(orvHost::pickImageAt(packed, &a, &b, &c), 1);
    const long long corner = (static_cast<long long>(1) << 32) | 1;
    EXPECT_EQ(orvHost::pickImageAt(corner, &a, &b, &c), -1);

    QWidget* view = viewWidget(true);
    const QPoint at(over1.x(), view->height() - over1.y());
    QMouseEvent press(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QMouseEvent twice(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &press);
    QCoreApplication::sendEvent(view, &release);
    QCoreApplication::sendEvent(view, &twice);
    QCoreApplication::sendEvent(view, &release);
    EXPECT_EQ(photo->getImageId().index, 1);
}

TEST_F(HostWindowTest, HelpListsTheControls)
{
    DialogAnswerer answers;
    ASSERT_NE(action(cmd::Controls), nullptr);
    action(cmd::Controls)->trigger();
    ASSERT_EQ(answers.boxTexts.size(), 1);
    EXPECT_EQ(answers.boxTitles[0], QStringLiteral("Controls"));
    EXPECT_TRUE(answers.boxTexts[0].contains(QStringLiteral("Right drag")));
    EXPECT_TRUE(answers.boxTexts[0].contains(QStringLiteral("Photo view")));
}

// An undo step that counts its calls and writes which side it is on into the project, as a real
// change would.
class CountingStep : public IZimUndoStep {
public:
    int undos = 0, redos = 0;
    int undo() override
    {
        ++undos;
        return write("before");
    }
    int redo() override
    {
        ++redos;
        return write("after");
    }
    static int write(const char* side)
    {
        return zim::getMM()->writeProjectData(QStringLiteral("test"), QStringLiteral("side"), side, int(qstrlen(side)));
    }
};

TEST_F(HostWindowTest, EditMenuTakesBackAndRedoesTheViewerManagersSteps)
{
    const QString project = sampleProject();
    ASSERT_TRUE(window->openProject(project));
    QAction* undo = action(cmd::Undo);
    QAction* redo = action(cmd::Redo);
    ASSERT_NE(undo, nullptr);
    ASSERT_NE(redo, nullptr);
    EXPECT_EQ(undo->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
    EXPECT_EQ(redo->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+Z")));
    // The Edit menu comes right after the File menu.
    auto* bar = qobject_cast<QMainWindow*>(frame)->menuBar();
    ASSERT_GE(bar->actions().size(), 3);
    EXPECT_EQ(bar->actions()[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(bar->actions()[1]->text(), QStringLiteral("&Edit"));
    EXPECT_EQ(bar->actions().last()->text(), QStringLiteral("&Help"));
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());

    // A change made elsewhere (a tool): the entries follow once the menu opens.
    ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
    auto* step = new CountingStep;
    ref_ptr<IZimUndoStep> held(step);
    ASSERT_EQ(CountingStep::write("after"), 0);
    ASSERT_EQ(vm->pushUndo(held), 0);
    QMenu* edit = bar->actions()[1]->menu();
    ASSERT_NE(edit, nullptr);
    emit edit->aboutToShow();
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());

    undo->trigger();
    EXPECT_EQ(step->undos, 1);
    EXPECT_EQ(step->redos, 0);
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_TRUE(redo->isEnabled());
    char side[16] = {};
    EXPECT_TRUE(mm->readProjectData(QStringLiteral("test"), QStringLiteral("side"), side, 6, nullptr));
    EXPECT_STREQ(side, "before");
    // The title says the project changed.
    EXPECT_TRUE(frame->isWindowModified());

    redo->trigger();
    EXPECT_EQ(step->redos, 1);
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());

    // Another project starts with empty stacks.
    ASSERT_TRUE(window->openProject(project));
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());
}

TEST_F(HostWindowTest, DroppedFilesOpenTheProjectOrJoinIt)
{
    const QString project = sampleProject();
    drop({project});
    ASSERT_TRUE(mm->isProjectOpen());
    EXPECT_EQ(QFileInfo(mm->projectPath()).canonicalFilePath(), QFileInfo(project).canonicalFilePath());
    EXPECT_EQ(mm->imageCount(), 2);

    writePair(QStringLiteral("dropped"), QStringLiteral("shed"));
    writePair(QStringLiteral("dropped"), QStringLiteral("barn"));
    QFile::remove(path(QStringLiteral("dropped/barn.obj")));
    // shed pairs with its mesh; barn's photo has none and is left out.
    drop({path(QStringLiteral("dropped/shed.jpg")), path(QStringLiteral("dropped/shed.obj")),
          path(QStringLiteral("dropped/barn.jpg"))});
    EXPECT_EQ(mm->imageCount(), 3);
    EXPECT_TRUE(mm->isModified());
}

TEST_F(HostWindowTest, ClosingAsksAboutUnsavedChanges)
{
    const QString project = sampleProject();
    ASSERT_TRUE(window->openProject(project));
    // A real change: the second photograph registered.
    ASSERT_EQ(mm->setImageMapped(1, !mm->isImageMapped(1)), 0);

    DialogAnswerer answers;
    answers.button = QMessageBox::Cancel;
    frame->close();
    EXPECT_TRUE(frame->isVisible());
    ASSERT_EQ(answers.boxTexts.size(), 1);
    EXPECT_TRUE(answers.boxTexts[0].contains(QStringLiteral("sample"))) << answers.boxTexts[0].toStdString();
    EXPECT_TRUE(mm->isModified());

    // Quit from the menu goes the same way, once the command has returned.
    answers.button = QMessageBox::Save;
    action(cmd::Quit)->trigger();
    for (int i = 0; i < 100 && frame->isVisible(); ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(answers.boxTexts.size(), 2);
    EXPECT_FALSE(mm->isModified());
}

TEST_F(HostWindowTest, OpeningAndQuittingAsksNothing)
{
    ASSERT_TRUE(window->openProject(sampleProject()));
    // What the views do on their own: the tree loaded, the camera fitted, each saying so.
    mm->setModified(true);
    orvCore::refreshModifiedMark();
    EXPECT_FALSE(mm->isModified());
    EXPECT_FALSE(frame->isWindowModified());

    DialogAnswerer answers;
    action(cmd::Quit)->trigger();
    for (int i = 0; i < 100 && frame->isVisible(); ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(answers.boxTexts.isEmpty()) << answers.boxTexts.join('|').toStdString();
}

TEST_F(HostWindowTest, TheCameraIsKeptWithTheProject)
{
    const QString project = sampleProject();
    ASSERT_TRUE(window->openProject(project));
    orvUI::IOrv3DViewer* viewer = window->frame()->get3DViewer(orvHost::Id3DViewer);
    ASSERT_NE(viewer, nullptr);
    // No camera stored: the home view, looking down on the tiles from above.
    const orvUI::ViewCamera home = viewer->getCamera();
    EXPECT_GT(home.eye.z, home.center.z);
    EXPECT_FALSE(mm->isModified());

    // The camera moved as a drag would move it: the project is modified, and says so.
    orvUI::ViewCamera moved = home;
    moved.eye = home.center + (home.eye - home.center) * 0.5 + XPnt3d(3.0, 0.0, 0.0);
    ASSERT_EQ(viewer->setCamera(moved), 0);
    mm->setModified(true);
    orvCore::refreshModifiedMark();
    EXPECT_TRUE(mm->isModified());
    EXPECT_TRUE(frame->isWindowModified());
    // Moved back where it was: nothing to save again.
    ASSERT_EQ(viewer->setCamera(home), 0);
    orvCore::refreshModifiedMark();
    EXPECT_FALSE(mm->isModified());
    EXPECT_FALSE(frame->isWindowModified());

    ASSERT_EQ(viewer->setCamera(moved), 0);
    const orvUI::ViewCamera shown = viewer->getCamera();
    action(cmd::Save)->trigger();
    EXPECT_FALSE(mm->isModified());
    EXPECT_FALSE(frame->isWindowModified());

    // Reopened: the stored camera comes back, and the project is not modified by it.
    ASSERT_EQ(viewer->setCamera(home), 0);
    ASSERT_TRUE(window->openProject(project));
    EXPECT_TRUE(orvCore::CameraRecord::sameView(viewer->getCamera(), shown));
    EXPECT_FALSE(mm->isModified());

    // A stored record that cannot be used: the home view, and the project opens all the same.
    const QByteArray broken = orvCore::CameraRecord::encode(shown).left(50);
    ASSERT_EQ(mm->writeProjectData(orvCore::CameraRecord::group(), orvCore::CameraRecord::key(), broken.constData(),
                                   broken.size()),
              0);
    ASSERT_EQ(mm->saveProject(), 0);
    ASSERT_TRUE(window->openProject(project));
    EXPECT_TRUE(orvCore::CameraRecord::sameView(viewer->getCamera(), home));
    EXPECT_FALSE(mm->isModified());
}

TEST_F(HostWindowTest, ARenamedFolderIsSavedAndComesBack)
{
    const QString project = sampleProject();
    ASSERT_TRUE(window->openProject(project));
    orvUI::IOrvImageThumbViewer* thumbs = window->frame()->getThumbViewer(orvHost::IdThumbViewer);
    ASSERT_NE(thumbs, nullptr);
    orvUI::IOrvImageTree* tree = thumbs->getImageTree();
    ASSERT_NE(tree, nullptr);
    QList<QTreeWidgetItem*> items = tree->findItems(QStringLiteral("Default"), Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(items.size(), 1);
    // As the tree's editor leaves it: the text changed, the model told.
    items.first()->setText(0, QStringLiteral("Roofs"));
    mm->setModified(true);
    orvCore::refreshModifiedMark();
    EXPECT_TRUE(mm->isModified());

    action(cmd::Save)->trigger();
    EXPECT_FALSE(mm->isModified());
    ASSERT_TRUE(window->openProject(project));
    tree = thumbs->getImageTree();
    EXPECT_EQ(tree->findItems(QStringLiteral("Roofs"), Qt::MatchExactly | Qt::MatchRecursive).size(), 1);
    EXPECT_TRUE(tree->findItems(QStringLiteral("Default"), Qt::MatchExactly | Qt::MatchRecursive).isEmpty());
    EXPECT_FALSE(mm->isModified());

    // Renamed again and closed: closing asks, and saving from the question keeps the name.
    tree->findItems(QStringLiteral("Roofs"), Qt::MatchExactly | Qt::MatchRecursive)
        .first()
        ->setText(0, QStringLiteral("Walls"));
    DialogAnswerer answers;
    answers.button = QMessageBox::Save;
    frame->close();
    ASSERT_EQ(answers.boxTexts.size(), 1);
    EXPECT_FALSE(mm->isModified());
    ASSERT_TRUE(window->openProject(project));
    EXPECT_EQ(thumbs->getImageTree()->findItems(QStringLiteral("Walls"), Qt::MatchExactly | Qt::MatchRecursive).size(),
              1);
}

TEST_F(HostWindowTest, GenerateBackupFromTheMeshMenu)
{
    DialogAnswerer answers;
    ASSERT_NE(action(cmd::GenerateBackup), nullptr);
    // Nothing to back up: said at once, without a file dialog.
    action(cmd::GenerateBackup)->trigger();
    ASSERT_EQ(answers.boxTexts.size(), 1);
    EXPECT_TRUE(answers.boxTexts[0].contains(QStringLiteral("No project"))) << answers.boxTexts[0].toStdString();
    EXPECT_TRUE(answers.boxTitles[0].isEmpty());

    ASSERT_TRUE(window->openProject(sampleProject()));
    action(cmd::SleepAllMeshes)->trigger();
    action(cmd::GenerateBackup)->trigger();
    ASSERT_EQ(answers.boxTexts.size(), 2);
    EXPECT_TRUE(answers.boxTexts[1].contains(QStringLiteral("asleep"))) << answers.boxTexts[1].toStdString();
    EXPECT_EQ(answers.fileDialogs, 0);
    action(cmd::WakeAllMeshes)->trigger();

    // The view has drawn once it is on screen.
    orvUI::IOrv3DViewer* viewer = window->frame()->get3DViewer(0);
    ASSERT_NE(viewer, nullptr);
    QElapsedTimer clock;
    clock.start();
    while (viewer->drawScene(false) != 0 && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    action(standardViewCommand(0))->trigger();

    // A name typed without a suffix gets the one of the chosen type (PNG).
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("pictures"))));
    answers.file = path(QStringLiteral("pictures/retouch"));
    action(cmd::GenerateBackup)->trigger();
    EXPECT_EQ(answers.fileDialogs, 1);
    EXPECT_EQ(answers.boxTexts.size(), 2) << answers.boxTexts.join('|').toStdString();
    const QString written = path(QStringLiteral("pictures/retouch.png"));
    const QImage picture(written);
    ASSERT_FALSE(picture.isNull());
    // The picture has the view's size (which is below the 2048 a side a picture is cut down to).
    EXPECT_EQ(picture.size(), QSize(viewer->viewWidth(), viewer->viewHeight()));
    auto* main = qobject_cast<QMainWindow*>(frame);
    ASSERT_NE(main, nullptr);
    const QString message = main->statusBar()->currentMessage();
    EXPECT_TRUE(message.startsWith(QStringLiteral("Backup of "))) << message.toStdString();
    EXPECT_TRUE(message.endsWith(QStringLiteral("written to ") + QDir::toNativeSeparators(written)))
        << message.toStdString();
}

}  // namespace
