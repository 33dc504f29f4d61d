// The saved working textures of a project: a changed working texture is written as a PNG file
// into the data folder's "textures/" folder, never over the user's own texture file, and the
// store remembers which texture each file is the working copy of. That map is kept in
// "textures/working.json" (written atomically) with paths relative to the data folder.
#pragma once

#include <QImage>
#include <QMap>
#include <QString>
#include <QStringList>

#include "ProjectData.h"

namespace orvpaint {

class WorkingTextureStore {
public:
    explicit WorkingTextureStore(const ProjectData& data);

    QString indexPath() const;

    // Reads the map. A missing file is an empty map; a damaged or hand-edited one gives what can
    // be read (entries whose file lies outside the folder or is listed twice are left out) and
    // *warning says what was left out. False only when the file cannot be read at all.
    bool load(QString* warning);

    // Saves image as the working copy of the texture known by key. A texture saved before keeps
    // its file, which is replaced atomically; a new one gets a new file named after textureName
    // (its base name, with characters other than letters, digits, '-', '_' and '.' replaced),
    // made unique with "-2", "-3", ... On failure nothing that was saved before changes.
    bool save(const QString& key, const QString& textureName, const QImage& image, QString* error);

    // The working copy of a texture: absolute path, or the path relative to the data folder as
    // the map stores it; empty when it has none.
    QString savedPath(const QString& key) const;
    QString storedPath(const QString& key) const;
    QStringList keys() const { return files_.keys(); }

    // The file name a texture's working copy gets when no other file has it.
    static QString fileNameFor(const QString& textureName);

private:
    QString uniqueFile(const QString& textureName) const;
    bool writeIndex(const QMap<QString, QString>& files, QString* error) const;

    ProjectData data_;
    QMap<QString, QString> files_;  // key -> path relative to the data folder
};

}  // namespace orvpaint
