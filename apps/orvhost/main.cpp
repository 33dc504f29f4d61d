// orvhost: the application a user starts. It shows a project of textured meshes and their
// photographs in the UI library's main window; with --backup, saves the backup picture of a
// project's textures as the 3D view shows them and exits; with --create, writes a project file
// without any window; with --map, maps photos from their marks without any window. See HostOptions.h for the command
// line.
#include <CoreBackup.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>
#include <cstdio>

#include "HostCreate.h"
#include "HostMap.h"
#include "HostOptions.h"
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
#if defined(__SANITIZE_ADDRESS__)
    // Leak-checked builds keep every library mapped to the end: Qt unloads the GL driver with
    // the application, after which a leak report could no longer name the driver's allocations
    // and their suppressions would not apply.
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name && info->dlpi_name[0]) dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
#endif
    return rc;
}

}  // namespace

int main(int argc, char** argv)
{
    QStringList rawArgs;
    for (int i = 0; i < argc; ++i) rawArgs << QString::fromLocal8Bit(argv[i]);
    // --create, --map, --help and --version make no window: they run without a display.
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
        case orvHost::HostMode::Window:
        case orvHost::HostMode::Backup:
            break;
    }
    auto* widgets = qobject_cast<QApplication*>(app.get());
    if (!widgets) {
        printLine(stderr, tr("orvhost: this command line needs a window; see 'orvhost --help'"));
        return 2;
    }
    return runWindow(*widgets, options);
}
