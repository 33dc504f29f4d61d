// The command line of orvhost:
//   orvhost [PROJECT.orvproj] [--screenshot FILE]
//   orvhost PROJECT.orvproj --backup FILE.png [--view N] [--size WxH]
//   orvhost PROJECT.orvproj --map N|all [--save]
//   orvhost PROJECT.orvproj --paint N [--no-colour-match] [--mask M.png] [--save]
//   orvhost PROJECT.orvproj --apply-backup EDITED.png --backup-of ORIGINAL.png [--save]
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

enum class HostMode { Window, Backup, Create, Help, Version, Map, Paint, ApplyBackup };

// The 3D viewer's size for --backup when --size is not given, and the sides --size accepts.
constexpr int DefaultBackupWidth = 1280;
constexpr int DefaultBackupHeight = 800;
constexpr int MinBackupSide = 16;
constexpr int MaxBackupSide = 8192;

// The longest side of the 3D view a paint's backup is drawn in.
constexpr int MaxPaintViewSide = 2048;

// The 3D view's size for --paint with a photo of photoSize pixels: the photo's shape with its long
// side the photo's own, at most MaxPaintViewSide; no side below MinBackupSide. Invalid for an
// invalid photo size.
QSize paintViewSize(const QSize& photoSize);

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
    bool save = false;  // --save: save the project when a photo was mapped or textures changed
    // --paint N: paint photo N (an image index from 0) onto the textures
    int paintIndex = -1;
    bool colourMatch = true;  // off with --no-colour-match
    QString mask;             // --mask M.png: greyscale picture over the photo limiting the paint
    // --apply-backup EDITED --backup-of ORIGINAL: map the edit of a backup picture onto the textures
    QString editedBackup;
    QString backupOf;
};

// Rewrites "--meshes A B" into "--meshes A --meshes B" for the options named (without dashes),
// leaving everything after "--" as it is.
QStringList expandListOptions(const QStringList& args, const QStringList& listOptions);

// True when the arguments ask for a run without a window (--create, --map, --apply-backup and
// their --save, --help, --version): the host then needs no display. --paint, --backup and
// --screenshot draw in a window. Only looks at the option names.
bool wantsNoWindow(const QStringList& args);

// --view N: a standard view index 0..5. False (view untouched) for anything else.
bool parseStandardView(const QString& text, int* view);
// --size WxH: each side from MinBackupSide to MaxBackupSide pixels. False (size untouched) for
// anything else.
bool parseViewSize(const QString& text, QSize* size);

// Reads the arguments (args[0] is the program); false with *error set for a bad command line.
bool parseHostOptions(const QStringList& args, HostOptions* out, QString* error);

}  // namespace orvHost
