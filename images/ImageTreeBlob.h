// The stored form of the image tree: four blobs in the project's "OrvTQImageTree" group.
//
//   "OrvTQImageTreeFolderHead"  4 bytes      int32 number of folder records F
//   "OrvTQImageTreeFolder"      F x 272      folder records, parents before their children
//   "OrvTQImageTreeFileHead"    4 bytes      int32 number of image entries N
//   "OrvTQImageTreeFile"        N x 8        (int32 image id, int32 folder id), ascending id
//
// Folder record: int32 id, int32 parent id (-1 for the root), int32 type (0 root, 1 folder),
// uint8 expanded, uint8 selected, 256 bytes of name in the local 8-bit code page (NUL padded;
// a name of 256 bytes or more is cut to 256 bytes without a terminating NUL), 2 bytes padding.
// All integers little-endian.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>

namespace orvUI {

struct ImageTreeFolderRecord {
    int id = 0;
    int parentId = -1;
    int type = 1;
    bool expanded = false;
    bool selected = false;
    QByteArray name;  // local 8-bit bytes, at most 256

    bool operator==(const ImageTreeFolderRecord& o) const
    {
        return id == o.id && parentId == o.parentId && type == o.type && expanded == o.expanded &&
               selected == o.selected && name == o.name;
    }
};

struct ImageTreeData {
    QVector<ImageTreeFolderRecord> folders;  // depth-first pre-order
    QMap<int, int> imageFolders;             // image id -> folder id
};

class ImageTreeBlob {
public:
    static constexpr int kRecordSize = 272;
    static constexpr int kNameSize = 256;
    static constexpr int kEntrySize = 8;
    // Far above any real project; a head announcing more is taken as damage. The tree view lays
    // out its items recursively, so the nesting depth is bounded as well (the root is depth 0).
    static constexpr int kMaxFolders = 100000;
    static constexpr int kMaxEntries = 1 << 24;
    static constexpr int kMaxDepth = 256;

    static const char* group() { return "OrvTQImageTree"; }
    static const char* folderHeadKey() { return "OrvTQImageTreeFolderHead"; }
    static const char* folderKey() { return "OrvTQImageTreeFolder"; }
    static const char* fileHeadKey() { return "OrvTQImageTreeFileHead"; }
    static const char* fileKey() { return "OrvTQImageTreeFile"; }

    // A name in the 8-bit code page, cut to 256 bytes; and back, up to the first NUL.
    static QByteArray encodeName(const QString& name);
    static QString decodeName(const QByteArray& bytes);

    static QByteArray encodeHead(int count);
    static QByteArray encodeFolders(const QVector<ImageTreeFolderRecord>& folders);
    static QByteArray encodeFiles(const QMap<int, int>& imageFolders);

    // Reads a head blob: false unless it is exactly 4 bytes.
    static bool decodeHead(const QByteArray& bytes, int* count);
    // Checks and reads the records and entries. False with *error set when anything does not
    // hold: counts that do not match the blob sizes or lie outside 0 .. the maximum, no record
    // or more than one root, a first record that is not the root, negative or repeated folder
    // ids, a parent that names no earlier record, an unknown type, an entry naming a negative
    // or repeated image id.
    static bool decodeTree(int folderCount, const QByteArray& folders, int fileCount, const QByteArray& files,
                           ImageTreeData* out, QString* error);
};

}  // namespace orvUI
