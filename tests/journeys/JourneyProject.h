// What the journeys read back from a project file: its photographs with their meshes, and the
// folder tree of its photographs as the host stored it.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace journey {

struct ProjectImage {
    int index = -1;
    QString photo;  // as stored: relative to the project's folder
    QString mesh;
    QString label;
};

// The project's photographs in their order; `ok` false when the file cannot be read as a project.
QVector<ProjectImage> projectImages(const QString& projectFile, bool* ok = nullptr);

// A blob the UI stored in the project (group, key); empty when there is none.
QByteArray projectBlob(const QString& projectFile, const QString& group, const QString& key);

struct TreeFolder {
    int id = -1;
    int parent = -1;
    int type = -1;  // 0 the root, 1 a folder
    bool expanded = false;
    bool selected = false;
    QString name;
};

// The folder records of the photograph tree as stored (272 bytes each); `ok` false when the
// blob's size is not a whole number of records.
QVector<TreeFolder> parseTreeFolders(const QByteArray& blob, bool* ok = nullptr);

// The folders of the project's photograph tree, empty when it stores none.
QVector<TreeFolder> projectTreeFolders(const QString& projectFile);

}  // namespace journey
