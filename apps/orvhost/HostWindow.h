// The main window of orvhost, put together through the UI library: the main frame (which loads
// the plug-ins), the core plug-in's menus and toolbars, the views and docks as far as the
// library provides them, the status panes and the key, drop and close handlers.
#pragma once

#include <IOrvImageViewer.h>

#include <QSize>
#include <QString>
#include <QStringList>
#include <memory>

class QTimer;

namespace orvUI {
class IOrvMainFrame;
class IOrv3DViewer;
}  // namespace orvUI

namespace orvHost {

// Position of the core plug-in in the frame's list of loaded plug-ins (its file name is
// "core.orvplugin"); -1 when it is not among them.
int corePluginIndex(const QStringList& loadedPlugins);

// The 3D view's double-click pick: the image index of the mesh drawn at the GL-oriented pixel in
// packedPos (x in the low 32 bits, y in the high 32 bits), -1 for none; the out-values stay 0.
int pickImageAt(long long packedPos, int* out0, int* out1, int* out2);

// Why a screenshot cannot go to path: something other than a regular file is there, or it is one
// of the open project's own files. Empty when it may be written.
QString screenshotTargetProblem(const QString& path);

// Runs the core command an entry of the views' context menus names ("<command>___<index>").
void runContextEntry(const QString& name, bool checked);

// View and dock ids the host uses (the docks' are orvCore::HostDockId).
enum HostIds {
    Id3DViewer = 0,
    IdImageViewer = 1,
    IdThumbViewer = 255,
    IdMeshPanel = 256,
    IdPhotoDock = 0,
    IdMeshDock = 1,
    IdMarksDock = 4,
};

class HostWindow {
public:
    // headless: messages go to stderr instead of warning boxes (for --screenshot runs).
    explicit HostWindow(bool headless);
    // Shuts down if shutDown was not called.
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    // Builds the window (hidden). False with *error when there is no main frame.
    bool create(QString* error);
    void show();
    // The problems found while building the window (such as a missing core plug-in), reported
    // once through the window's messages.
    void reportSetupProblems();
    // Opens a project file; failures are reported. False when it did not open.
    bool openProject(const QString& path);
    // Saves a picture of the window as it is on screen: 0, or 1 (reported) when the file cannot
    // be written.
    int saveScreenshot(const QString& path);
    // For --backup and --paint, before show() (or again after, to change the size): the 3D viewer
    // alone in the window, exactly `size` pixels (docks, image viewer and status bar hidden).
    // False with *error without a 3D viewer.
    bool prepareBackupView(const QSize& size, QString* error);
    // Waits (up to 15 seconds, handling events) until the 3D viewer is on screen at the size
    // prepareBackupView gave it and draws. False with *error (translated) when it does not.
    bool waitForBackupView(QString* error);
    // The 3D viewer of the window, null without one.
    orvUI::IOrv3DViewer* viewer3D() const;
    // For --backup, once the project is open: waits until the 3D viewer draws at the size it was
    // given, fits all meshes (and turns to standard view `view` when it is 0..5), takes the
    // backup into path and prints one line about it. 0, or 1 (reported) on any failure, with no
    // file left at path; 3 (reported, naming them) when the picture was written with meshes left
    // out or painted opaque because their texture or transparency map cannot be read.
    int saveBackup(const QString& path, int view);
    // Ends the tool and drops what plug-ins registered, unloads the plug-ins, closes the project
    // and deletes the main frame.
    void shutDown();

    orvUI::IOrvMainFrame* frame() const { return m_frame; }
    int corePlugin() const { return m_corePlugin; }

private:
    // Shows the image coordinates under the image viewer's cursor in the status bar.
    class CursorPane : public orvUI::IOrvCoordListener {
    public:
        orvUI::IOrvMainFrame* frame = nullptr;
        void onImageCoord(double x, double y) override;
        void onImageChanged(const orvUI::ImageId* oldId, const orvUI::ImageId* newId) override;
    };

    orvUI::IOrvMainFrame* m_frame = nullptr;
    CursorPane m_cursorPane;
    int m_corePlugin = -1;
    QStringList m_problems;
    QSize m_backupSize;  // set by prepareBackupView
    // Keeps the status panes in step with changes the host is not told about.
    std::unique_ptr<QTimer> m_stateTimer;
};

}  // namespace orvHost
