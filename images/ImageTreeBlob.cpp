#include "ImageTreeBlob.h"

#include <QHash>
#include <QtEndian>
#include <cstring>

namespace orvUI {

namespace {

void putInt(char* at, int value) { qToLittleEndian<qint32>(value, at); }
int getInt(const char* at) { return qFromLittleEndian<qint32>(at); }

}  // namespace

QByteArray ImageTreeBlob::encodeName(const QString& name)
{
    QByteArray bytes = name.toLocal8Bit();
    if (bytes.size() > kNameSize) bytes.truncate(kNameSize);
    return bytes;
}

QString ImageTreeBlob::decodeName(const QByteArray& bytes)
{
    const int limit = qMin(bytes.size(), int(kNameSize));
    int len = 0;
    while (len < limit && bytes.at(len) != '\0') ++len;
    return QString::fromLocal8Bit(bytes.constData(), len);
}

QByteArray ImageTreeBlob::encodeHead(int count)
{
    QByteArray out(4, '\0');
    putInt(out.data(), count);
    return out;
}

QByteArray ImageTreeBlob::encodeFolders(const QVector<ImageTreeFolderRecord>& folders)
{
    QByteArray out(folders.size() * kRecordSize, '\0');
    char* p = out.data();
    for (const ImageTreeFolderRecord& r : folders) {
        putInt(p + 0, r.id);
        putInt(p + 4, r.parentId);
        putInt(p + 8, r.type);
        p[12] = r.expanded ? 1 : 0;
        p[13] = r.selected ? 1 : 0;
        const int len = qMin(r.name.size(), int(kNameSize));
        std::memcpy(p + 14, r.name.constData(), size_t(len));
        p += kRecordSize;
    }
    return out;
}

QByteArray ImageTreeBlob::encodeFiles(const QMap<int, int>& imageFolders)
{
    QByteArray out(imageFolders.size() * kEntrySize, '\0');
    char* p = out.data();
    for (auto it = imageFolders.cbegin(); it != imageFolders.cend(); ++it) {
        putInt(p, it.key());
        putInt(p + 4, it.value());
        p += kEntrySize;
    }
    return out;
}

bool ImageTreeBlob::decodeHead(const QByteArray& bytes, int* count)
{
    if (bytes.size() != 4) return false;
    *count = getInt(bytes.constData());
    return true;
}

bool ImageTreeBlob::decodeTree(int folderCount, const QByteArray& folders, int fileCount, const QByteArray& files,
                               ImageTreeData* out, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    out->folders.clear();
    out->imageFolders.clear();
    if (folderCount < 1 || folderCount > kMaxFolders)
        return fail(QStringLiteral("folder count %1 is out of range").arg(folderCount));
    if (fileCount < 0 || fileCount > kMaxEntries)
        return fail(QStringLiteral("image entry count %1 is out of range").arg(fileCount));
    // Both counts are bounded above, so these products cannot overflow.
    if (folders.size() != folderCount * kRecordSize)
        return fail(QStringLiteral("folder data holds %1 bytes, %2 records need %3")
                        .arg(folders.size())
                        .arg(folderCount)
                        .arg(folderCount * kRecordSize));
    if (files.size() != fileCount * kEntrySize)
        return fail(QStringLiteral("image data holds %1 bytes, %2 entries need %3")
                        .arg(files.size())
                        .arg(fileCount)
                        .arg(fileCount * kEntrySize));

    QVector<ImageTreeFolderRecord> records;
    records.reserve(folderCount);
    QHash<int, int> depthOf;  // folder id -> depth
    depthOf.reserve(folderCount);
    const char* p = folders.constData();
    for (int i = 0; i < folderCount; ++i, p += kRecordSize) {
        ImageTreeFolderRecord r;
        r.id = getInt(p);
        r.parentId = getInt(p + 4);
        r.type = getInt(p + 8);
        r.expanded = p[12] != 0;
        r.selected = p[13] != 0;
        int len = 0;
        while (len < kNameSize && p[14 + len] != '\0') ++len;
        r.name = QByteArray(p + 14, len);
        if (r.id < 0) return fail(QStringLiteral("record %1 has the negative folder id %2").arg(i).arg(r.id));
        if (depthOf.contains(r.id)) return fail(QStringLiteral("folder id %1 occurs twice").arg(r.id));
        if (r.type != 0 && r.type != 1)
            return fail(QStringLiteral("record %1 has the unknown type %2").arg(i).arg(r.type));
        if (i == 0) {
            if (r.type != 0 || r.parentId >= 0) return fail(QStringLiteral("the first record is not the root folder"));
        } else {
            if (r.type == 0 || r.parentId < 0) return fail(QStringLiteral("record %1 is a second root").arg(i));
            const auto parent = depthOf.constFind(r.parentId);
            if (parent == depthOf.constEnd())
                return fail(
                    QStringLiteral("record %1 names the parent %2, which is no earlier folder").arg(i).arg(r.parentId));
            if (parent.value() >= kMaxDepth)
                return fail(QStringLiteral("record %1 lies deeper than %2 folders").arg(i).arg(kMaxDepth));
        }
        depthOf.insert(r.id, i == 0 ? 0 : depthOf.value(r.parentId) + 1);
        records.append(r);
    }

    const int fallback = depthOf.contains(1) && records.first().id != 1 ? 1 : records.first().id;
    QMap<int, int> table;
    const char* q = files.constData();
    for (int i = 0; i < fileCount; ++i, q += kEntrySize) {
        const int image = getInt(q);
        if (image < 0) return fail(QStringLiteral("entry %1 names the negative image id %2").arg(i).arg(image));
        if (table.contains(image)) return fail(QStringLiteral("image id %1 occurs twice").arg(image));
        const int folder = getInt(q + 4);
        table.insert(image, depthOf.contains(folder) ? folder : fallback);
    }
    out->folders = records;
    out->imageFolders = table;
    return true;
}

}  // namespace orvUI
