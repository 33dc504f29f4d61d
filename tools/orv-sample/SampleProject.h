// Turns a written sample (manifest.json and the files it lists) into a project file through the
// kernel's model manager: one image per photo with the tile mesh it shows, mapped and with its
// texture visible, and the photo's marks by kind.
#pragma once

#include <QString>

namespace orvsample {

struct ProjectSummary {
    bool ok = false;
    QString error;
    QString path;  // the project file
    int images = 0;
    int marks = 0;
    int triangles = 0;  // of the meshes as the reopened project loaded them
};

// Builds `projectPath` (replacing an older file there) from the manifest, saves it, and opens
// it again to count what it holds. Leaves no project open.
ProjectSummary buildSampleProject(const QString& manifestPath, const QString& projectPath);

}  // namespace orvsample
