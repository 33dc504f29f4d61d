// The log of a project's paints, newest last: what each paint was (its photo and camera, the
// textures it wrote) and where its files lie in the data folder (its backup picture and records,
// its kept tiles). At most the last 20 paints are kept; an older paint's folder is removed when
// it falls out of the log. The log is a small JSON file, "paints.json" in the data folder,
// written atomically; the project can hold its stored path.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include "OrvKernel64t.h"
#include "ProjectData.h"
#include "TileSnapshot.h"

namespace orvpaint {

struct PaintRecord {
    QString name;    // the paint's folder under paints/ (ProjectData::isValidName)
    QDateTime time;  // when it was made (UTC, milliseconds)
    int photoIndex = -1;
    ZimPhotoCamera camera;
    QStringList textureKeys;  // the textures it wrote, as the kept tiles name them
    // Files relative to the data folder (ProjectData::toStored); empty when the paint has none.
    QString backupPicture;
    QString backupRecords;
    QString undoTiles;  // the tiles as they were before the paint
    QString redoTiles;  // the tiles as the paint wrote them

    QJsonObject toJson() const;
    // Reads one entry; false with *why (translated) for an entry that cannot be used: a missing
    // or unusable name or time, a camera that is not a valid one, a path leading out of the folder.
    static bool fromJson(const QJsonObject& json, const ProjectData& data, PaintRecord* out, QString* why);
};

class PaintLog {
public:
    static constexpr int kMaxPaints = 20;

    explicit PaintLog(const ProjectData& data);

    // The log file's absolute path ("paints.json" in the data folder).
    QString path() const;
    const QVector<PaintRecord>& paints() const { return paints_; }
    // The paint of that name, or null.
    const PaintRecord* find(const QString& name) const;

    // Reads the log file. A missing file is an empty log. A damaged or hand-edited file gives
    // what can be read of it: unusable entries are left out, beyond 20 only the newest are kept,
    // and *warning (translated) says what was left out; a file that cannot be read at all gives
    // an empty log and says why. Returns false only in that last case.
    bool load(QString* warning);

    // Adds a paint as the newest and writes the log. When more than 20 paints are then listed,
    // the oldest leave the log and their folders are removed (after the log is written, so a
    // failed write removes nothing). On failure the log, in memory and on disk, stays as it was.
    // A folder that cannot be removed does not fail the call: *warning names it.
    bool append(const PaintRecord& record, QString* error, QString* warning = nullptr);
    // Takes a paint out of the log and removes its folder.
    bool remove(const QString& name, QString* error);

private:
    bool write(const QVector<PaintRecord>& paints, QString* error) const;

    ProjectData data_;
    QVector<PaintRecord> paints_;
};

// The kept tiles of a paint: as they were before it (redo false) or as it wrote them (redo
// true), read from the file its record names. False with *error when the record names no such
// file or the file is missing or damaged; *out is then unchanged.
bool loadPaintTiles(const ProjectData& data, const PaintRecord& record, bool redo, TileSnapshot* out, QString* error);

}  // namespace orvpaint
