// The command line of orvhost:
//   orvhost [PROJECT.orvproj] [--screenshot FILE]
//   orvhost PROJECT.orvproj --backup FILE.png [--view N] [--size WxH]
//   orvhost PROJECT.orvproj --map N|all [--save]
//   orvhost --create PROJECT.orvproj --meshes A.obj B.obj ... --photos A.jpg B.jpg ... [--labels a b ...]
// Read with QCommandLineParser; the list options take every following argument up to the next
// option (or "--"), and may also be repeated ("--meshes A.obj --meshes B.obj") or given as
// "--meshes=A.obj".
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace orvHost {

enum class HostMode { Window, Backup, Create, Help, Version, Map };

// The 3D viewer's size for --backup when --size is not given, and the sides --size accepts.
constexpr int DefaultBackupWidth = 1280;
constexpr int DefaultBackupHeight = 800;
constexpr int MinBackupSide = 16;
constexpr int MaxBackupSide = 8192;

struct HostOptions {
    HostMode mode = HostMode::Window;
    QString project;     // the project to open, or the one --create writes
    QString screenshot;  // --screenshot FILE (window mode)
    QString backup;      // --backup FILE (backup mode)
    int view = -1;       // --view N: standard view 0..5 (0 top, 1 bottom, 2 front, 3 back, 4 left, 5 right);
                         // -1 keeps the direction the project opens with
    QSize viewSize{DefaultBackupWidth, DefaultBackupHeight};  // --size WxH: the 3D viewer's size
    QStringList meshes;                                       // --create: mesh i goes with photo i
    QStringList photos;
    QStringList labels;  // optional, one per mesh
    QString helpText;    // filled for HostMode::Help
    // --map N|all: map photo N (an image index from 0), or every photo with enough marks
    int mapIndex = -1;
    bool mapAll = false;
    bool save = false;  // --save: save the project when a photo was mapped
};

// Rewrites "--meshes A B" into "--meshes A --meshes B" for the options named (without dashes),
// leaving everything after "--" as it is.
QStringList expandListOptions(const QStringList& args, const QStringList& listOptions);

// True when the arguments ask for a run without a window (--create, --map and its --save, --help,
// --version): the host then needs no display. Only looks at the option names.
bool wantsNoWindow(const QStringList& args);

// --view N: a standard view index 0..5. False (view untouched) for anything else.
bool parseStandardView(const QString& text, int* view);
// --size WxH: each side from MinBackupSide to MaxBackupSide pixels. False (size untouched) for
// anything else.
bool parseViewSize(const QString& text, QSize* size);

// Reads the arguments (args[0] is the program); false with *error set for a bad command line.
bool parseHostOptions(const QStringList& args, HostOptions* out, QString* error);

}  // namespace orvHost
