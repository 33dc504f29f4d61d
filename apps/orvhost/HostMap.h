// orvhost --map: maps photos of a project from their marks without a window, one line per photo.
#pragma once

#include <QString>
#include <QStringList>

namespace orvHost {

// Exit codes of a --map run (2, a bad command line, is the host's own).
enum MapExit {
    MapAllMapped = 0,    // every photo asked for was mapped (and saved with --save)
    MapNoProject = 3,    // the project cannot be opened, or it has no photo N
    MapSomeRefused = 4,  // a photo asked for could not be mapped (the others were)
    MapSaveFailed = 5,   // --save could not write the project
};

struct MapRequest {
    QString project;
    int index = -1;    // the photo to map, or
    bool all = false;  // every photo with enough marks
    bool save = false;
};

struct MapRunResult {
    int exitCode = MapAllMapped;
    int mapped = 0;
    QStringList out;  // one line per photo (and its warnings, indented), then the save
    QStringList err;  // what went wrong with the project or the save
};

// Opens the project, maps the photos asked for in index order and, with save and something
// mapped, saves it (the kernel writes a whole new file and renames it over the old one). With
// `all`, photos with too few usable marks are reported and left as they are; they do not make
// the run fail, but a run that maps nothing at all does. Leaves no project open.
MapRunResult runMapRequest(const MapRequest& request);

}  // namespace orvHost
