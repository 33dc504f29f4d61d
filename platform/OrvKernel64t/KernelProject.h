// The project as a document: what a project file holds, in memory, and reading and writing
// that file. Private to the kernel library.
//
// Project file: one SQLite database. PRAGMA application_id is kProjectAppId, PRAGMA
// user_version the schema version (kProjectSchema). Paths are stored relative to the folder of
// the project file. Tables (schema 1):
//
//   settings(key TEXT PRIMARY KEY, value)            "mode" (REAL), "current_image" (INTEGER),
//                                                     "checksum" (SHA-1 of every value stored; the
//                                                     only checksum of files of older versions,
//                                                     still written so that they read new files)
//   images(idx INTEGER PRIMARY KEY,                   image index
//          position INTEGER UNIQUE,                   place in the project order, 0 first
//          photo TEXT, mesh TEXT, label TEXT,         photo and OBJ paths, label
//          mapped, texture_visible, asleep INTEGER,   0 or 1
//          texture TEXT, alpha TEXT)                  texture and map_d paths as the mesh last
//                                                     named them ('' for none), so a mesh that
//                                                     stays asleep is known without reading it
//   marks(image, kind TEXT, seq,                      kind 'control', 'point', 'track' or
//         u, v, x, y, z, id, u2, v2)                  'selected'; seq the place in its list;
//                                                     NULL coordinates are invalid (NaN) ones
//   groups(position INTEGER PRIMARY KEY, name TEXT UNIQUE)     position 0 is "DEFAULT", whose
//   group_members(grp, seq, image)                             members (every image, in
//                                                              project order) are not stored
//   screen_path(seq INTEGER PRIMARY KEY, x REAL, y REAL)
//   blobs(grp TEXT, key TEXT, data BLOB, PRIMARY KEY(grp, key))
//   cameras(image INTEGER PRIMARY KEY,                the registered camera of an image's photo:
//           width, height INTEGER,                    photo size it belongs to,
//           fx, fy, cx, cy, k1, k2, rms REAL,         intrinsics, distortion, RMS (-1 unknown),
//           rotation BLOB, translation BLOB,          9 and 3 little-endian doubles (bit-exact),
//           residuals BLOB)                           16 bytes a mark: int32 id, int32 used (0/1),
//                                                     double pixels, all little-endian.
//                                                     Files written before the table existed
//                                                     have no cameras and open without a notice.
//   working_textures(image INTEGER PRIMARY KEY,       the saved working copy of a mesh's texture,
//                    path TEXT)                       read instead of its material's texture; one
//                                                     row per image that has one. A row whose file
//                                                     is missing or not a regular file, or whose
//                                                     image does not exist, is left out with a
//                                                     notice (the mesh shows its own texture).
//                                                     Files written before the table existed have
//                                                     no working copies and open without a notice.
//   digests(part TEXT, grp TEXT, key TEXT, sha1 TEXT)  SHA-1 of each table as stored ('' grp and
//                                                     key; the settings without "checksum") and
//                                                     of each blob (part 'blob'), so that a value
//                                                     changed outside the program is found and
//                                                     the table or blob it is in can be named
#pragma once

#include <QByteArray>
#include <QMap>
#include <QPair>
#include <QString>
#include <QVector>

#include "OrvKernel64t.h"

namespace zim {
namespace kernel {

constexpr int kMarkKinds = 4;
constexpr int kProjectSchema = 1;
constexpr int kProjectAppId = 0x4f525650;  // "ORVP"
extern const char* const kDefaultGroup;    // "DEFAULT"

struct ImageData {
    QString photoPath;  // absolute
    QString meshPath;   // absolute
    QString label;
    bool mapped = false;
    bool textureVisible = true;
    bool asleep = false;
    QString texturePath;         // absolute, empty for none
    QString alphaPath;           // absolute, empty for none
    QString workingTexturePath;  // the saved working copy of the texture (absolute), empty for none
    QVector<MarkRecord> marks[kMarkKinds];
    bool hasCamera = false;
    ZimPhotoCamera camera;  // when hasCamera
};

struct GroupData {
    QString name;
    QVector<int> members;  // image indices
};

struct ProjectData {
    QVector<ImageData> images;  // by image index
    QVector<int> order;         // every image index once, in project order
    QVector<GroupData> groups;  // the groups after "DEFAULT"
    QVector<XPnt2d> screenPath;
    QMap<QPair<QString, QString>, QByteArray> blobs;  // (group, key) -> bytes
    float mode = ZimModeMeshes;
    int currentImage = -1;
};

// A digest of what a save writes of the project, beside the current image: equal digests mean
// that saving would change nothing but which image is current. Paths enter as they are held, so
// two digests compare for the same project file. Reads the rows and blobs, never mesh geometry.
QByteArray changeDigest(const ProjectData& data);

// Reads a project file into *out (replaced only on success). On failure *error says why, naming
// the file: missing, not an SQLite database, another program's database, a newer schema or
// damaged (SQLite's own check fails). A file edited outside the program still opens: rows that
// do not fit together are left out or put right, and *warning (when given) names the tables
// and blobs whose checksum differs and what was left out or reset; it is empty for a file as
// the program wrote it. A working texture whose file is gone is left out the same way.
bool readProjectFile(const QString& path, ProjectData* out, QString* error, QString* warning = nullptr);

// Writes the whole project to path: into a temporary file in the same folder, in one
// transaction, then renamed over path (which keeps its permissions). On failure the temporary
// file is removed, path is untouched and *error says why. The environment variable
// ORV_KERNEL_SAVE_FAULT ("write", "commit" or "rename") makes the write fail at that stage.
bool writeProjectFile(const ProjectData& data, const QString& path, QString* error);

}  // namespace kernel
}  // namespace zim
