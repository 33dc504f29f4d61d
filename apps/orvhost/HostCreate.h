// orvhost --create: writes a new project file from meshes and photographs through the kernel,
// without a window.
#pragma once

#include <QString>
#include <QStringList>

namespace orvHost {

struct CreateRequest {
    QString project;     // the file to write; must not exist yet, its folder must
    QStringList meshes;  // OBJ files; mesh i goes with photo i
    QStringList photos;
    QStringList labels;  // empty, or one per mesh
};

struct CreateResult {
    bool ok = false;
    QString path;  // absolute project file
    int images = 0;
    QString error;  // names the file that failed and why
};

// Creates the project, adds every pair and saves it. Each photo must decode (at a reduced
// size), not only have a readable header. The project is written under a hidden name in the
// target's folder and renamed to its own only when whole, so a run that is killed leaves no
// valid-looking project behind. On any failure nothing is left behind: the half-made file (and
// a cache folder made for it) is removed, and a file that was there before is never touched.
// ORV_HOST_CREATE_FAULT=kill kills the process just before the rename (for tests).
CreateResult createProjectFromFiles(const CreateRequest& request);

}  // namespace orvHost
