// orvhost: the application a user starts. It shows a project of textured meshes and their
// photographs in the UI library's main window; with --backup, saves the backup picture of a
// project's textures as the 3D view shows them and exits; with --create, writes a project file
// without any window; with --map, maps photos from their marks without any window; with --paint,
// paints a mapped photo onto the textures through a 3D view of the photo's shape; with
// --apply-backup, maps an edited backup picture back onto the textures without any window. See
// HostOptions.h for the command line.
#include <CoreBackup.h>
#include <IOrvViewerMan.h>
#include <OrvUIElements64t.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>
#include <cstdio>

#include "HostCreate.h"
#include "HostMap.h"
#include "HostOptions.h"
#include "HostPaint.h"
#include "HostWindow.h"
#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <link.h>
#endif
#include <memory>

namespace {

ZIM_TR_CONTEXT("orvhost")

void printLine(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fprintf(stream, "%s\n", bytes.constData());
    std::fflush(stream);
}

int runCreate(const orvHost::HostOptions& options)
{
    const orvHost::CreateResult result =
        orvHost::createProjectFromFiles({options.project, options.meshes, options.photos, options.labels});
    if (!result.ok) {
        printLine(stderr, QStringLiteral("orvhost: %1").arg(result.error));
        return 1;
    }
    const QString path = QDir::toNativeSeparators(result.path);
    printLine(stdout, result.images == 1 ? tr("orvhost: %1 written with 1 image").arg(path)
                                         : tr("orvhost: %1 written with %2 images").arg(path).arg(result.images));
    return 0;
}

int runMap(QCoreApplication& app, const orvHost::HostOptions& options)
{
    // Nobody watches a scripted run: whatever would wait in a modal box goes to stderr.
    app.setProperty("orvHeadless", true);
    const orvHost::MapRunResult result =
        orvHost::runMapRequest({options.project, options.mapIndex, options.mapAll, options.save});
    for (const QString& line : result.out) printLine(stdout, line);
    for (const QString& line : result.err) printLine(stderr, QStringLiteral("orvhost: %1").arg(line));
    return result.exitCode;
}

void printRun(const orvHost::HostRunResult& result)
{
    for (const QString& line : result.out) printLine(stdout, line);
    for (const QString& line : result.err) printLine(stderr, QStringLiteral("orvhost: %1").arg(line));
}

int runApplyBackup(QCoreApplication& app, const orvHost::HostOptions& options)
{
    app.setProperty("orvHeadless", true);
    const orvHost::HostRunResult result =
        orvHost::runApplyBackup({options.project, options.editedBackup, options.backupOf, options.save});
    printRun(result);
    return result.exitCode;
}

// Keeps leak-checked builds' libraries mapped to the end: Qt unloads the GL driver with the
// application, after which a leak report could no longer name the driver's allocations and their
// suppressions would not apply.
void keepLibrariesForLeakReport()
{
#if defined(__SANITIZE_ADDRESS__)
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name && info->dlpi_name[0]) dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
#endif
}

int runPaint(QApplication& app, const orvHost::HostOptions& options)
{
    // Nobody watches a scripted run: whatever would wait in a modal box goes to stderr.
    app.setProperty("orvHeadless", true);
    // A project or mask that is not there is said before any window is made.
    if (!QFileInfo(options.project).isFile()) {
        printLine(stderr, tr("orvhost: the project %1 does not exist").arg(QDir::toNativeSeparators(options.project)));
        return orvHost::PaintMissing;
    }
    if (!options.mask.isEmpty() && !QFileInfo(options.mask).isFile()) {
        printLine(stderr, tr("orvhost: the mask %1 does not exist").arg(QDir::toNativeSeparators(options.mask)));
        return orvHost::PaintMissing;
    }
    orvHost::HostWindow window(true);
    QString error;
    // The view's final size is known once the project is open; it starts at the backup's default.
    if (!window.create(&error) || !window.prepareBackupView(options.viewSize, &error)) {
        printLine(stderr, QStringLiteral("orvhost: %1").arg(error));
        return orvHost::PaintRefused;
    }
    window.show();
    QTimer::singleShot(0, &app, [&window, &options, &app]() {
        window.reportSetupProblems();
        if (!window.openProject(options.project)) {
            app.exit(orvHost::PaintMissing);
            return;
        }
        ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
        ref_ptr<IZimMM> mm = vm ? vm->getModelMan() : zim::getMM();
        QSize size;
        orvHost::HostRunResult result = orvHost::checkPaintRequest(mm.get(), options.paintIndex, options.mask, &size);
        if (result.exitCode == 0) {
            QString why;
            if (!window.prepareBackupView(size, &why) || !window.waitForBackupView(&why)) {
                result.err << why;
                result.exitCode = orvHost::PaintRefused;
            } else {
                result = orvHost::paintAndSave(mm.get(), vm.get(), window.viewer3D(),
                                               {options.paintIndex, options.colourMatch, options.mask, options.save});
            }
        }
        printRun(result);
        app.exit(result.exitCode);
    });
    const int rc = app.exec();
    window.shutDown();
    keepLibrariesForLeakReport();
    return rc;
}

int runWindow(QApplication& app, const orvHost::HostOptions& options)
{
    const bool screenshot = !options.screenshot.isEmpty();
    const bool backup = options.mode == orvHost::HostMode::Backup;
    if (backup) {
        // A file that cannot be written is said before any window is made.
        orvCore::BackupProblem problem = orvCore::backupTargetProblem(options.backup);
        if (problem == orvCore::BackupProblem::None && orvCore::isSameFile(options.backup, options.project))
            problem = orvCore::BackupProblem::OwnFile;
        if (problem != orvCore::BackupProblem::None) {
            printLine(stderr, QStringLiteral("orvhost: %1").arg(orvCore::backupProblemText(problem, options.backup)));
            return 1;
        }
    }
    if (screenshot) {
        // A special file in the way is said before any window is made; the project's own files
        // are known once it is open.
        const QFileInfo target(options.screenshot);
        if (target.exists() && !target.isFile()) {
            printLine(stderr, QStringLiteral("orvhost: %1").arg(orvHost::screenshotTargetProblem(options.screenshot)));
            return 1;
        }
    }
    // Nobody watches a scripted run: the UI library and the core plug-in read this property and
    // write to stderr what would otherwise wait in a modal box.
    if (screenshot || backup) app.setProperty("orvHeadless", true);
    orvHost::HostWindow window(screenshot || backup);
    QString error;
    if (!window.create(&error) || (backup && !window.prepareBackupView(options.viewSize, &error))) {
        printLine(stderr, QStringLiteral("orvhost: %1").arg(error));
        return 1;
    }
    window.show();

    // Once the window is up: the set-up problems, the project, and for --screenshot the picture
    // after the window has painted, for --backup the backup picture.
    QTimer::singleShot(0, &app, [&window, &options, &app, screenshot, backup]() {
        window.reportSetupProblems();
        bool opened = true;
        if (!options.project.isEmpty()) opened = window.openProject(options.project);
        if (backup) {
            app.exit(opened ? window.saveBackup(options.backup, options.view) : 1);
            return;
        }
        if (!screenshot) return;
        QTimer::singleShot(400, &app, [&window, &options, &app, opened]() {
            const int rc = window.saveScreenshot(options.screenshot);
            // A project that did not open is a failure of a scripted run, picture or not.
            app.exit(rc != 0 ? rc : (opened ? 0 : 1));
        });
    });
    const int rc = app.exec();
    window.shutDown();
    keepLibrariesForLeakReport();
    return rc;
}

}  // namespace

int main(int argc, char** argv)
{
    QStringList rawArgs;
    for (int i = 0; i < argc; ++i) rawArgs << QString::fromLocal8Bit(argv[i]);
    // --create, --map, --apply-backup, --help and --version make no window: they run without a display.
    const bool noWindow = orvHost::wantsNoWindow(rawArgs);
    if (noWindow && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    std::unique_ptr<QGuiApplication> app;
    if (noWindow)
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvhost"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVHOST_VERSION));

    orvHost::HostOptions options;
    QString error;
    if (!orvHost::parseHostOptions(QCoreApplication::arguments(), &options, &error)) {
        printLine(stderr, QStringLiteral("orvhost: %1").arg(error));
        printLine(stderr, tr("Try 'orvhost --help'."));
        return 2;
    }
    switch (options.mode) {
        case orvHost::HostMode::Help:
            printLine(stdout, options.helpText.trimmed());
            return 0;
        case orvHost::HostMode::Version:
            printLine(stdout, QStringLiteral("orvhost %1").arg(QCoreApplication::applicationVersion()));
            return 0;
        case orvHost::HostMode::Create:
            return runCreate(options);
        case orvHost::HostMode::Map:
            return runMap(*app, options);
        case orvHost::HostMode::ApplyBackup:
            return runApplyBackup(*app, options);
        case orvHost::HostMode::Paint:
        case orvHost::HostMode::Window:
        case orvHost::HostMode::Backup:
            break;
    }
    auto* widgets = qobject_cast<QApplication*>(app.get());
    if (!widgets) {
        printLine(stderr, tr("orvhost: this command line needs a window; see 'orvhost --help'"));
        return 2;
    }
    if (options.mode == orvHost::HostMode::Paint) return runPaint(*widgets, options);
    return runWindow(*widgets, options);
}
