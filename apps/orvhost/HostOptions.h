// The command line of orvhost:
//   orvhost [PROJECT.orvproj] [--screenshot FILE]
//   orvhost --create PROJECT.orvproj --meshes A.obj B.obj ... --photos A.jpg B.jpg ... [--labels a b ...]
// Read with QCommandLineParser; the list options take every following argument up to the next
// option (or "--"), and may also be repeated ("--meshes A.obj --meshes B.obj") or given as
// "--meshes=A.obj".
#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace orvHost {

enum class HostMode { Window, Create, Help, Version };

struct HostOptions {
    HostMode mode = HostMode::Window;
    QString project;     // the project to open, or the one --create writes
    QString screenshot;  // --screenshot FILE (window mode)
    QStringList meshes;  // --create: mesh i goes with photo i
    QStringList photos;
    QStringList labels;  // optional, one per mesh
    QString helpText;    // filled for HostMode::Help
};

// Rewrites "--meshes A B" into "--meshes A --meshes B" for the options named (without dashes),
// leaving everything after "--" as it is.
QStringList expandListOptions(const QStringList& args, const QStringList& listOptions);

// True when the arguments ask for a run without a window (--create, --help, --version): the
// host then needs no display. Only looks at the option names.
bool wantsNoWindow(const QStringList& args);

// Reads the arguments (args[0] is the program); false with *error set for a bad command line.
bool parseHostOptions(const QStringList& args, HostOptions* out, QString* error);

}  // namespace orvHost
