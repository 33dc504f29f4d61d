#include "JourneyProject.h"

#include <sqlite3.h>

#include <QtEndian>

namespace journey {

namespace {

constexpr int kFolderRecordSize = 272;
constexpr int kFolderNameSize = 256;

// A read-only connection that closes itself.
class ReadOnlyDb {
public:
    explicit ReadOnlyDb(const QString& path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(m_db);
            m_db = nullptr;
        }
    }
    ~ReadOnlyDb() { sqlite3_close(m_db); }
    ReadOnlyDb(const ReadOnlyDb&) = delete;
    ReadOnlyDb& operator=(const ReadOnlyDb&) = delete;
    sqlite3* get() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

QString text(sqlite3_stmt* statement, int column)
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return p ? QString::fromUtf8(p, sqlite3_column_bytes(statement, column)) : QString();
}

}  // namespace

QVector<ProjectImage> projectImages(const QString& projectFile, bool* ok)
{
    QVector<ProjectImage> images;
    if (ok) *ok = false;
    ReadOnlyDb db(projectFile);
    sqlite3_stmt* statement = nullptr;
    if (!db.get() || sqlite3_prepare_v2(db.get(), "SELECT idx, photo, mesh, label FROM images ORDER BY position", -1,
                                        &statement, nullptr) != SQLITE_OK)
        return images;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
        images.append(
            ProjectImage{sqlite3_column_int(statement, 0), text(statement, 1), text(statement, 2), text(statement, 3)});
    sqlite3_finalize(statement);
    if (ok) *ok = rc == SQLITE_DONE;
    return images;
}

QByteArray projectBlob(const QString& projectFile, const QString& group, const QString& key)
{
    ReadOnlyDb db(projectFile);
    sqlite3_stmt* statement = nullptr;
    if (!db.get() || sqlite3_prepare_v2(db.get(), "SELECT data FROM blobs WHERE grp = ?1 AND key = ?2", -1, &statement,
                                        nullptr) != SQLITE_OK)
        return QByteArray();
    const QByteArray g = group.toUtf8(), k = key.toUtf8();
    sqlite3_bind_text(statement, 1, g.constData(), g.size(), SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 2, k.constData(), k.size(), SQLITE_TRANSIENT);
    QByteArray data;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        const void* p = sqlite3_column_blob(statement, 0);
        const int n = sqlite3_column_bytes(statement, 0);
        if (p && n > 0) data = QByteArray(static_cast<const char*>(p), n);
    }
    sqlite3_finalize(statement);
    return data;
}

QVector<TreeFolder> parseTreeFolders(const QByteArray& blob, bool* ok)
{
    QVector<TreeFolder> folders;
    if (ok) *ok = blob.size() % kFolderRecordSize == 0;
    if (blob.size() % kFolderRecordSize != 0) return folders;
    for (int at = 0; at + kFolderRecordSize <= blob.size(); at += kFolderRecordSize) {
        const char* r = blob.constData() + at;
        TreeFolder f;
        f.id = qFromLittleEndian<qint32>(r);
        f.parent = qFromLittleEndian<qint32>(r + 4);
        f.type = qFromLittleEndian<qint32>(r + 8);
        f.expanded = r[12] != 0;
        f.selected = r[13] != 0;
        const QByteArray name(r + 14, kFolderNameSize);
        const int end = name.indexOf('\0');
        f.name = QString::fromUtf8(end < 0 ? name : name.left(end));
        folders.append(f);
    }
    return folders;
}

QVector<TreeFolder> projectTreeFolders(const QString& projectFile)
{
    return parseTreeFolders(
        projectBlob(projectFile, QStringLiteral("OrvTQImageTree"), QStringLiteral("OrvTQImageTreeFolder")));
}

}  // namespace journey
