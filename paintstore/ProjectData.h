// The bulk-data folder beside a project file: for "site.orvproj" the folder "site.orvdata" in
// the same folder. It holds what does not belong in the project database: one folder per paint
// under "paints/" and the saved working textures under "textures/". The folder is created on
// demand; nothing here writes outside it, so the user's photos, meshes and textures are never
// touched. Paths stored in the project or in the folder's own files are relative to its root.
#pragma once

#include <QDateTime>
#include <QString>

namespace orvpaint {

class ProjectData {
public:
    ProjectData() = default;
    // projectFile: the project's file (it need not exist yet).
    explicit ProjectData(const QString& projectFile);

    bool isValid() const { return !root_.isEmpty(); }
    QString projectFile() const { return projectFile_; }
    // Absolute paths of the folder, its "paints" and "textures" folders and of one paint's folder
    // (empty for a name isValidName refuses).
    QString rootPath() const { return root_; }
    QString paintsPath() const;
    QString texturesPath() const;
    QString paintPath(const QString& name) const;

    // A paint's name is also a folder name: 1 to 64 of the characters A-Z, a-z, 0-9, '-', '_'
    // and '.', not starting with a dot.
    static bool isValidName(const QString& name);

    // Create the folders when they are missing. False with *error when a folder cannot be made
    // (or a file stands where it should be).
    bool ensureRoot(QString* error) const;
    bool ensureTextures(QString* error) const;
    bool ensurePaint(const QString& name, QString* error) const;
    // Removes a paint's folder with its content (nothing when it does not exist).
    bool removePaint(const QString& name, QString* error) const;

    // A name for a new paint made at `when`: "paint-YYYYMMDD-HHMMSS" in UTC, with "-2", "-3", ...
    // appended while a folder of that name exists.
    QString newPaintName(const QDateTime& when) const;

    // True when path (absolute, or relative to the working folder) lies inside the data folder.
    bool contains(const QString& path) const;
    // The path relative to the folder's root, with '/' separators; empty when it lies outside.
    QString toStored(const QString& absolutePath) const;
    // The absolute path of a stored relative path; empty when it is absolute, empty or leads out
    // of the folder (a hand-edited "../../x").
    QString fromStored(const QString& stored) const;

private:
    QString projectFile_;
    QString root_;
};

}  // namespace orvpaint
