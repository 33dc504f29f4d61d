// Turns a written sample (manifest.json and the files it lists) into a project file through the
// kernel's model manager: one image per photo with the tile mesh it shows, its texture visible,
// and the photo's marks by kind. Every photo is mapped but the last `unmapped` ones, which are
// left for a user to map (their marks are written all the same).
#pragma once

#include <QString>

namespace orvsample {

struct ProjectSummary {
    bool ok = false;
    QString error;
    QString path;  // the project file
    int images = 0;
    int mapped = 0;  // images the reopened project holds as mapped
    int marks = 0;
    int triangles = 0;  // of the meshes as the reopened project loaded them
};

// Builds `projectPath` (replacing an older file there) from the manifest, saves it, and opens
// it again to count what it holds. Leaves no project open.
ProjectSummary buildSampleProject(const QString& manifestPath, const QString& projectPath, int unmapped = 0);

}  // namespace orvsample
