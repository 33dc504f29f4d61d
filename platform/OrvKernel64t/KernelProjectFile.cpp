// Reading and writing project files (layout in KernelProject.h).
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryFile>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <tuple>

#include "KernelProject.h"

namespace zim {
namespace kernel {

const char* const kDefaultGroup = "DEFAULT";

namespace {

ZIM_TR_CONTEXT("OrvKernel")

const char* const kKindNames[kMarkKinds] = {"control", "point", "track", "selected"};

int kindFromName(const QString& name)
{
    for (int k = 0; k < kMarkKinds; ++k)
        if (name == QLatin1String(kKindNames[k])) return k;
    return -1;
}

// A database connection that closes itself.
class Db {
public:
    ~Db() { close(); }
    bool open(const QString& path, int flags)
    {
        const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
        if (rc != SQLITE_OK) {
            m_error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
            close();
            return false;
        }
        sqlite3_extended_result_codes(m_db, 1);
        return true;
    }
    void close()
    {
        if (m_db) sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    bool exec(const char* sql)
    {
        char* message = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
        m_error = message ? QString::fromUtf8(message) : QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_free(message);
        return false;
    }
    sqlite3* handle() const { return m_db; }
    QString error() const { return m_error; }
    void setError(const QString& e) { m_error = e; }
    void takeError() { m_error = QString::fromUtf8(sqlite3_errmsg(m_db)); }

private:
    sqlite3* m_db = nullptr;
    QString m_error;
};

// A prepared statement that finalises itself.
class Stmt {
public:
    Stmt(Db& db, const char* sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db.handle(), sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            db.takeError();
            m_stmt = nullptr;
        }
    }
    ~Stmt() { sqlite3_finalize(m_stmt); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    void bind(int i, qint64 v) { sqlite3_bind_int64(m_stmt, i, v); }
    void bind(int i, double v)
    {
        if (std::isfinite(v))
            sqlite3_bind_double(m_stmt, i, v);
        else
            sqlite3_bind_null(m_stmt, i);
    }
    void bind(int i, const QString& v)
    {
        const QByteArray u = v.toUtf8();
        sqlite3_bind_text(m_stmt, i, u.constData(), u.size(), SQLITE_TRANSIENT);
    }
    void bindBlob(int i, const QByteArray& v)
    {
        // A non-null pointer keeps an empty blob a blob instead of NULL.
        static const char empty = 0;
        sqlite3_bind_blob(m_stmt, i, v.isEmpty() ? &empty : v.constData(), v.size(), SQLITE_TRANSIENT);
    }
    // One step of a statement that returns no rows; resets it for the next use.
    bool run()
    {
        const int rc = sqlite3_step(m_stmt);
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        if (rc == SQLITE_DONE) return true;
        m_db.takeError();
        return false;
    }
    // Next row of a query: 1 a row, 0 the end, -1 an error (taken into the connection).
    int next()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW) return 1;
        if (rc == SQLITE_DONE) return 0;
        m_db.takeError();
        return -1;
    }
    bool isNull(int c) const { return sqlite3_column_type(m_stmt, c) == SQLITE_NULL; }
    int columns() const { return sqlite3_column_count(m_stmt); }
    int type(int c) const { return sqlite3_column_type(m_stmt, c); }
    qint64 integer(int c) const { return sqlite3_column_int64(m_stmt, c); }
    double real(int c) const
    {
        return isNull(c) ? std::numeric_limits<double>::quiet_NaN() : sqlite3_column_double(m_stmt, c);
    }
    QString text(int c) const
    {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, c));
        return p ? QString::fromUtf8(p, sqlite3_column_bytes(m_stmt, c)) : QString();
    }
    QByteArray blob(int c) const
    {
        const void* p = sqlite3_column_blob(m_stmt, c);
        const int n = sqlite3_column_bytes(m_stmt, c);
        return p && n > 0 ? QByteArray(static_cast<const char*>(p), n) : QByteArray();
    }

private:
    Db& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// The tables of a project file, in the order they are created.
struct TableSql {
    const char* name;
    const char* columns;  // what follows "CREATE TABLE <name>"
};
const TableSql kTables[] = {
    {"settings", "(key TEXT PRIMARY KEY, value) WITHOUT ROWID"},
    {"images",
     "(idx INTEGER PRIMARY KEY, position INTEGER NOT NULL UNIQUE,"
     " photo TEXT NOT NULL, mesh TEXT NOT NULL, label TEXT NOT NULL,"
     " mapped INTEGER NOT NULL, texture_visible INTEGER NOT NULL, asleep INTEGER NOT NULL,"
     " texture TEXT NOT NULL, alpha TEXT NOT NULL)"},
    {"marks",
     "(image INTEGER NOT NULL REFERENCES images(idx), kind TEXT NOT NULL,"
     " seq INTEGER NOT NULL, u REAL, v REAL, x REAL, y REAL, z REAL, id INTEGER NOT NULL,"
     " u2 REAL, v2 REAL, PRIMARY KEY(image, kind, seq)) WITHOUT ROWID"},
    {"groups", "(position INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)"},
    {"group_members",
     "(grp INTEGER NOT NULL REFERENCES groups(position), seq INTEGER NOT NULL,"
     " image INTEGER NOT NULL REFERENCES images(idx), PRIMARY KEY(grp, seq)) WITHOUT ROWID"},
    {"screen_path", "(seq INTEGER PRIMARY KEY, x REAL NOT NULL, y REAL NOT NULL)"},
    {"blobs", "(grp TEXT NOT NULL, key TEXT NOT NULL, data BLOB NOT NULL, PRIMARY KEY(grp, key)) WITHOUT ROWID"},
    {"cameras",
     "(image INTEGER PRIMARY KEY REFERENCES images(idx), width INTEGER NOT NULL, height INTEGER NOT NULL,"
     " fx REAL, fy REAL, cx REAL, cy REAL, k1 REAL, k2 REAL, rms REAL,"
     " rotation BLOB NOT NULL, translation BLOB NOT NULL, residuals BLOB NOT NULL)"},
    {"working_textures", "(image INTEGER PRIMARY KEY REFERENCES images(idx), path TEXT NOT NULL)"},
    {"digests",
     "(part TEXT NOT NULL, grp TEXT NOT NULL, key TEXT NOT NULL, sha1 TEXT NOT NULL,"
     " PRIMARY KEY(part, grp, key)) WITHOUT ROWID"},
};
const char* const kDigestTable = "digests";
// Tables added after the first files were written: a file without one (and without its digest)
// is a file of an older version and opens without a notice.
const char* const kCameraTable = "cameras";
const char* const kWorkingTextureTable = "working_textures";
bool isLaterTable(const char* name)
{
    return qstrcmp(name, kCameraTable) == 0 || qstrcmp(name, kWorkingTextureTable) == 0;
}

bool createTable(Db& db, const TableSql& t, bool temporary)
{
    const QByteArray sql = QByteArray(temporary ? "CREATE TEMP TABLE " : "CREATE TABLE ") + t.name + t.columns;
    return db.exec(sql.constData());
}

// Whether the file itself has the table (temporary ones do not count).
bool hasTable(Db& db, const char* name, bool* ok)
{
    Stmt s(db, "SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND name = ?");
    *ok = s.ok();
    if (!*ok) return false;
    s.bind(1, QString::fromLatin1(name));
    const int rc = s.next();
    *ok = rc == 1;
    return *ok && s.integer(0) > 0;
}

// The tables with a digest of their own, each read in the order of its key. The settings leave
// out the whole-file checksum, which older versions of the program read.
struct TablePart {
    const char* name;
    const char* select;
};
const TablePart kTableParts[] = {
    {"settings", "SELECT key, value FROM settings WHERE key <> 'checksum' ORDER BY key"},
    {"images",
     "SELECT idx, position, photo, mesh, label, mapped, texture_visible, asleep, texture, alpha FROM images"
     " ORDER BY idx"},
    {"marks", "SELECT image, kind, seq, u, v, x, y, z, id, u2, v2 FROM marks ORDER BY image, kind, seq"},
    {"groups", "SELECT position, name FROM groups ORDER BY position"},
    {"group_members", "SELECT grp, seq, image FROM group_members ORDER BY grp, seq"},
    {"screen_path", "SELECT seq, x, y FROM screen_path ORDER BY seq"},
    {"cameras",
     "SELECT image, width, height, fx, fy, cx, cy, k1, k2, rms, rotation, translation, residuals FROM cameras"
     " ORDER BY image"},
    {"working_textures", "SELECT image, path FROM working_textures ORDER BY image"},
};
const char* const kBlobPart = "blob";

QString relativePath(const QDir& base, const QString& absolute)
{
    if (absolute.isEmpty()) return QString();
    // The folder itself comes back empty, which would read as "no path".
    const QString relative = base.relativeFilePath(absolute);
    return relative.isEmpty() ? QStringLiteral(".") : relative;
}

QString absolutePath(const QDir& base, const QString& stored)
{
    return stored.isEmpty() ? QString() : QDir::cleanPath(base.absoluteFilePath(stored));
}

// Little-endian doubles, bit for bit.
QByteArray packDoubles(const double* values, int count)
{
    QByteArray out(count * 8, Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        quint64 bits = 0;
        std::memcpy(&bits, &values[i], sizeof bits);
        qToLittleEndian(bits, out.data() + 8 * i);
    }
    return out;
}

bool unpackDoubles(const QByteArray& bytes, double* values, int count)
{
    if (bytes.size() != count * 8) return false;
    for (int i = 0; i < count; ++i) {
        const quint64 bits = qFromLittleEndian<quint64>(bytes.constData() + 8 * i);
        std::memcpy(&values[i], &bits, sizeof bits);
    }
    return true;
}

constexpr int kResidualBytes = 16;

QByteArray packResiduals(const QVector<ZimMarkResidual>& residuals)
{
    QByteArray out(residuals.size() * kResidualBytes, Qt::Uninitialized);
    char* p = out.data();
    for (const ZimMarkResidual& r : residuals) {
        qToLittleEndian(qint32(r.id), p);
        qToLittleEndian(qint32(r.used ? 1 : 0), p + 4);
        quint64 bits = 0;
        std::memcpy(&bits, &r.pixels, sizeof bits);
        qToLittleEndian(bits, p + 8);
        p += kResidualBytes;
    }
    return out;
}

bool unpackResiduals(const QByteArray& bytes, QVector<ZimMarkResidual>* out)
{
    if (bytes.size() % kResidualBytes != 0) return false;
    const char* p = bytes.constData();
    for (int i = 0; i < bytes.size() / kResidualBytes; ++i, p += kResidualBytes) {
        ZimMarkResidual r;
        r.id = qFromLittleEndian<qint32>(p);
        const qint32 used = qFromLittleEndian<qint32>(p + 4);
        if (used != 0 && used != 1) return false;
        r.used = used == 1;
        const quint64 bits = qFromLittleEndian<quint64>(p + 8);
        std::memcpy(&r.pixels, &bits, sizeof bits);
        if (!std::isfinite(r.pixels)) return false;
        out->append(r);
    }
    return true;
}

QString saveFault() { return qEnvironmentVariable("ORV_KERNEL_SAVE_FAULT"); }

// A digest of the project's values. With `base`, paths enter relative to it, as the file stores
// them; without, as they are held (absolute). The current image enters only when asked for, the
// tables added later (cameras, working textures) too: the whole-file checksum leaves them out,
// so older versions that know none of them still find it right.
// Numbers that SQLite cannot keep as they are (NaN and the infinities become NULL, -0 becomes 0)
// enter in the form they come back in.
QByteArray projectDigest(const ProjectData& d, const QDir* base, bool withCurrentImage, bool withLaterTables)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    const auto stored = [base](const QString& path) { return base ? relativePath(*base, path) : path; };
    const auto addInt = [&](qint64 v) {
        const qint64 le = qToLittleEndian(v);
        hash.addData(reinterpret_cast<const char*>(&le), sizeof le);
    };
    const auto addReal = [&](double v) {
        if (!std::isfinite(v)) {
            hash.addData("N", 1);
            return;
        }
        if (v == 0.0) v = 0.0;
        quint64 bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        hash.addData("R", 1);
        addInt(qint64(bits));
    };
    const auto addBytes = [&](const QByteArray& b) {
        addInt(b.size());
        hash.addData(b);
    };
    const auto addText = [&](const QString& t) { addBytes(t.toUtf8()); };

    addReal(double(d.mode));
    if (withCurrentImage) addInt(d.currentImage);
    addInt(d.images.size());
    QVector<int> position(d.images.size(), -1);
    for (int p = 0; p < d.order.size(); ++p) position[d.order[p]] = p;
    for (int i = 0; i < d.images.size(); ++i) {
        const ImageData& im = d.images[i];
        addInt(position[i]);
        for (const QString* path : {&im.photoPath, &im.meshPath}) addText(stored(*path));
        addText(im.label);
        addInt(im.mapped);
        addInt(im.textureVisible);
        addInt(im.asleep);
        for (const QString* path : {&im.texturePath, &im.alphaPath}) addText(stored(*path));
        for (const auto& marks : im.marks) {
            addInt(marks.size());
            for (const MarkRecord& r : marks) {
                for (double v : {r.uv.x, r.uv.y, r.point.x, r.point.y, r.point.z}) addReal(v);
                addInt(r.id);
                addReal(r.uv2.x);
                addReal(r.uv2.y);
            }
        }
    }
    addInt(d.groups.size());
    for (const GroupData& g : d.groups) {
        addText(g.name);
        addInt(g.members.size());
        for (int m : g.members) addInt(m);
    }
    addInt(d.screenPath.size());
    for (const XPnt2d& p : d.screenPath) {
        addReal(p.x);
        addReal(p.y);
    }
    addInt(d.blobs.size());
    for (auto it = d.blobs.constBegin(); it != d.blobs.constEnd(); ++it) {
        addText(it.key().first);
        addText(it.key().second);
        addBytes(it.value());
    }
    if (withLaterTables) {
        for (int i = 0; i < d.images.size(); ++i) {
            const ImageData& im = d.images[i];
            if (!im.hasCamera) continue;
            const ZimPhotoCamera& c = im.camera;
            addInt(i);
            addInt(c.width);
            addInt(c.height);
            for (double v : {c.fx, c.fy, c.cx, c.cy, c.k1, c.k2, c.rms}) addReal(v);
            for (double v : c.R) addReal(v);
            for (double v : c.t) addReal(v);
            addInt(c.residuals.size());
            for (const ZimMarkResidual& r : c.residuals) {
                addInt(r.id);
                addInt(r.used);
                addReal(r.pixels);
            }
        }
        hash.addData("W", 1);
        for (int i = 0; i < d.images.size(); ++i) {
            const QString& working = d.images[i].workingTexturePath;
            if (working.isEmpty()) continue;
            addInt(i);
            addText(stored(working));
        }
    }
    return hash.result();
}

// A digest of everything the file holds, as it is stored (paths relative to `base`). SQLite
// checks the structure of its pages but not the values in them; the digest, kept in the settings,
// finds a value that changed on disk.
QString contentDigest(const ProjectData& d, const QDir& base)
{
    return QString::fromLatin1(projectDigest(d, &base, true, false).toHex());
}

// Everything but the schema, inside the open transaction.
bool writeRows(Db& db, const ProjectData& data, const QDir& base, QString* why)
{
    const bool faultHalfway = saveFault() == QLatin1String("write");
    {
        Stmt s(db, "INSERT INTO settings(key, value) VALUES(?, ?)");
        if (!s.ok()) return false;
        s.bind(1, QStringLiteral("mode"));
        s.bind(2, double(data.mode));
        if (!s.run()) return false;
        s.bind(1, QStringLiteral("current_image"));
        s.bind(2, qint64(data.currentImage));
        if (!s.run()) return false;
        s.bind(1, QStringLiteral("checksum"));
        s.bind(2, contentDigest(data, base));
        if (!s.run()) return false;
    }
    QVector<int> position(data.images.size(), -1);
    for (int p = 0; p < data.order.size(); ++p) position[data.order[p]] = p;
    {
        Stmt s(db,
               "INSERT INTO images(idx, position, photo, mesh, label, mapped, texture_visible, asleep, texture,"
               " alpha) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        Stmt m(
            db,
            "INSERT INTO marks(image, kind, seq, u, v, x, y, z, id, u2, v2) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        if (!s.ok() || !m.ok()) return false;
        for (int i = 0; i < data.images.size(); ++i) {
            if (faultHalfway && i == data.images.size() / 2) {
                *why = tr("fault injected for a test (ORV_KERNEL_SAVE_FAULT=write)");
                return false;
            }
            const ImageData& im = data.images[i];
            s.bind(1, qint64(i));
            s.bind(2, qint64(position[i]));
            s.bind(3, relativePath(base, im.photoPath));
            s.bind(4, relativePath(base, im.meshPath));
            s.bind(5, im.label);
            s.bind(6, qint64(im.mapped));
            s.bind(7, qint64(im.textureVisible));
            s.bind(8, qint64(im.asleep));
            s.bind(9, relativePath(base, im.texturePath));
            s.bind(10, relativePath(base, im.alphaPath));
            if (!s.run()) return false;
            for (int k = 0; k < kMarkKinds; ++k) {
                for (int j = 0; j < im.marks[k].size(); ++j) {
                    const MarkRecord& r = im.marks[k][j];
                    m.bind(1, qint64(i));
                    m.bind(2, QString::fromLatin1(kKindNames[k]));
                    m.bind(3, qint64(j));
                    m.bind(4, r.uv.x);
                    m.bind(5, r.uv.y);
                    m.bind(6, r.point.x);
                    m.bind(7, r.point.y);
                    m.bind(8, r.point.z);
                    m.bind(9, qint64(r.id));
                    m.bind(10, r.uv2.x);
                    m.bind(11, r.uv2.y);
                    if (!m.run()) return false;
                }
            }
        }
        if (faultHalfway && data.images.isEmpty()) {
            *why = tr("fault injected for a test (ORV_KERNEL_SAVE_FAULT=write)");
            return false;
        }
    }
    {
        Stmt g(db, "INSERT INTO groups(position, name) VALUES(?, ?)");
        Stmt gm(db, "INSERT INTO group_members(grp, seq, image) VALUES(?, ?, ?)");
        if (!g.ok() || !gm.ok()) return false;
        g.bind(1, qint64(0));
        g.bind(2, QString::fromLatin1(kDefaultGroup));
        if (!g.run()) return false;
        for (int i = 0; i < data.groups.size(); ++i) {
            g.bind(1, qint64(i + 1));
            g.bind(2, data.groups[i].name);
            if (!g.run()) return false;
            for (int j = 0; j < data.groups[i].members.size(); ++j) {
                gm.bind(1, qint64(i + 1));
                gm.bind(2, qint64(j));
                gm.bind(3, qint64(data.groups[i].members[j]));
                if (!gm.run()) return false;
            }
        }
    }
    {
        Stmt s(db, "INSERT INTO screen_path(seq, x, y) VALUES(?, ?, ?)");
        if (!s.ok()) return false;
        for (int i = 0; i < data.screenPath.size(); ++i) {
            s.bind(1, qint64(i));
            s.bind(2, data.screenPath[i].x);
            s.bind(3, data.screenPath[i].y);
            if (!s.run()) return false;
        }
    }
    {
        Stmt s(db, "INSERT INTO blobs(grp, key, data) VALUES(?, ?, ?)");
        if (!s.ok()) return false;
        for (auto it = data.blobs.constBegin(); it != data.blobs.constEnd(); ++it) {
            s.bind(1, it.key().first);
            s.bind(2, it.key().second);
            s.bindBlob(3, it.value());
            if (!s.run()) return false;
        }
    }
    {
        Stmt s(db,
               "INSERT INTO cameras(image, width, height, fx, fy, cx, cy, k1, k2, rms, rotation, translation,"
               " residuals) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        if (!s.ok()) return false;
        for (int i = 0; i < data.images.size(); ++i) {
            const ImageData& im = data.images[i];
            if (!im.hasCamera) continue;
            const ZimPhotoCamera& c = im.camera;
            s.bind(1, qint64(i));
            s.bind(2, qint64(c.width));
            s.bind(3, qint64(c.height));
            int column = 4;
            for (double v : {c.fx, c.fy, c.cx, c.cy, c.k1, c.k2, c.rms}) s.bind(column++, v);
            s.bindBlob(11, packDoubles(c.R, 9));
            s.bindBlob(12, packDoubles(c.t, 3));
            s.bindBlob(13, packResiduals(c.residuals));
            if (!s.run()) return false;
        }
    }
    {
        Stmt s(db, "INSERT INTO working_textures(image, path) VALUES(?, ?)");
        if (!s.ok()) return false;
        for (int i = 0; i < data.images.size(); ++i) {
            const QString& working = data.images[i].workingTexturePath;
            if (working.isEmpty()) continue;
            s.bind(1, qint64(i));
            s.bind(2, relativePath(base, working));
            if (!s.run()) return false;
        }
    }
    return true;
}

bool syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// One value as SQLite holds it, with its type: a value changed from 1 to 1.0 or '1' counts.
void hashValue(QCryptographicHash& hash, const Stmt& s, int c)
{
    const auto addInt = [&](qint64 v) {
        const qint64 le = qToLittleEndian(v);
        hash.addData(reinterpret_cast<const char*>(&le), sizeof le);
    };
    switch (s.type(c)) {
        case SQLITE_INTEGER:
            hash.addData("I", 1);
            addInt(s.integer(c));
            break;
        case SQLITE_FLOAT: {
            double v = s.real(c);
            if (v == 0.0) v = 0.0;
            quint64 bits = 0;
            std::memcpy(&bits, &v, sizeof bits);
            hash.addData("R", 1);
            addInt(qint64(bits));
            break;
        }
        case SQLITE_TEXT:
        case SQLITE_BLOB: {
            const QByteArray bytes = s.blob(c);
            hash.addData(s.type(c) == SQLITE_TEXT ? "T" : "B", 1);
            addInt(bytes.size());
            hash.addData(bytes);
            break;
        }
        default:
            hash.addData("N", 1);
            break;
    }
}

// One digest: a table (grp and key empty) or one blob (part kBlobPart).
using PartKey = std::tuple<QString, QString, QString>;
using PartDigests = QMap<PartKey, QString>;

// A digest of each table and of each blob as the file holds them, so that a value changed
// outside the program is found and the table or blob it is in can be named.
bool partDigests(Db& db, PartDigests* out)
{
    out->clear();
    for (const TablePart& t : kTableParts) {
        Stmt s(db, t.select);
        if (!s.ok()) return false;
        QCryptographicHash hash(QCryptographicHash::Sha1);
        int rc;
        while ((rc = s.next()) == 1)
            for (int c = 0; c < s.columns(); ++c) hashValue(hash, s, c);
        if (rc < 0) return false;
        out->insert(PartKey(QString::fromLatin1(t.name), QString(), QString()),
                    QString::fromLatin1(hash.result().toHex()));
    }
    Stmt s(db, "SELECT grp, key, data FROM blobs ORDER BY grp, key");
    if (!s.ok()) return false;
    int rc;
    while ((rc = s.next()) == 1) {
        QCryptographicHash hash(QCryptographicHash::Sha1);
        hashValue(hash, s, 2);
        out->insert(PartKey(QString::fromLatin1(kBlobPart), s.text(0), s.text(1)),
                    QString::fromLatin1(hash.result().toHex()));
    }
    return rc == 0;
}

bool writeDigests(Db& db)
{
    PartDigests digests;
    if (!partDigests(db, &digests)) return false;
    Stmt s(db, "INSERT INTO digests(part, grp, key, sha1) VALUES(?, ?, ?, ?)");
    if (!s.ok()) return false;
    for (auto it = digests.constBegin(); it != digests.constEnd(); ++it) {
        s.bind(1, std::get<0>(it.key()));
        s.bind(2, std::get<1>(it.key()));
        s.bind(3, std::get<2>(it.key()));
        s.bind(4, it.value());
        if (!s.run()) return false;
    }
    return true;
}

QString partName(const PartKey& key)
{
    if (std::get<0>(key) == QLatin1String(kBlobPart))
        return tr("the blob %1/%2").arg(std::get<1>(key), std::get<2>(key));
    return tr("the table %1").arg(std::get<0>(key));
}

// The tables and blobs whose digest differs from the one stored with them, by name. An older
// file has one checksum of everything: then only the whole can be said to differ. *ok is false
// on a database error.
QStringList changedParts(Db& db, const QString& wholeChecksum, const ProjectData& d, const QDir& base,
                         const QStringList& absentLaterTables, bool* ok)
{
    *ok = true;
    const bool hasDigests = hasTable(db, kDigestTable, ok);
    if (!*ok) return {};
    if (!hasDigests) {
        if (wholeChecksum.isEmpty()) return {tr("the checksums of the file are missing")};
        if (wholeChecksum != contentDigest(d, base)) return {tr("values (a file of an older version names no table)")};
        return {};
    }
    PartDigests stored, actual;
    {
        Stmt s(db, "SELECT part, grp, key, sha1 FROM digests");
        int rc = s.ok() ? 0 : -1;
        while (s.ok() && (rc = s.next()) == 1) stored.insert(PartKey(s.text(0), s.text(1), s.text(2)), s.text(3));
        // A digests table changed beyond reading is no reason to refuse the project.
        if (rc < 0) return {tr("the checksums of the file cannot be read")};
    }
    if (!partDigests(db, &actual)) {
        *ok = false;
        return {};
    }
    // A file of a version without a later table has no digest of it either.
    for (const QString& table : absentLaterTables) {
        const PartKey part(table, QString(), QString());
        if (!stored.contains(part)) actual.remove(part);
    }
    QStringList out;
    for (auto it = actual.constBegin(); it != actual.constEnd(); ++it) {
        const auto known = stored.constFind(it.key());
        if (known == stored.constEnd())
            out << (std::get<0>(it.key()) == QLatin1String(kBlobPart) ? tr("%1 (added)").arg(partName(it.key()))
                                                                      : tr("%1 (no checksum)").arg(partName(it.key())));
        else if (known.value() != it.value())
            out << partName(it.key());
    }
    for (auto it = stored.constBegin(); it != stored.constEnd(); ++it)
        if (!actual.contains(it.key())) out << tr("%1 (removed)").arg(partName(it.key()));
    return out;
}

// Reads every table; false on a database error (in the connection). Rows that do not fit together (a file
// edited outside the program) are left out or put right, each noted in *notes; the project
// opens with what is left.
bool readRows(Db& db, const QDir& base, ProjectData* out, QString* wholeChecksum, QStringList* notes)
{
    ProjectData d;
    {
        Stmt s(db, "SELECT key, value FROM settings");
        if (!s.ok()) return false;
        int rc;
        while ((rc = s.next()) == 1) {
            const QString key = s.text(0);
            const bool number = s.type(1) == SQLITE_INTEGER || s.type(1) == SQLITE_FLOAT;
            if (key == QLatin1String("mode"))
                d.mode = number ? float(s.real(1)) : std::numeric_limits<float>::quiet_NaN();
            else if (key == QLatin1String("current_image"))
                d.currentImage = number ? int(qBound<qint64>(-1, s.integer(1), std::numeric_limits<int>::max())) : -1;
            else if (key == QLatin1String("checksum"))
                *wholeChecksum = s.text(1);
        }
        if (rc < 0) return false;
        if (!std::isfinite(d.mode)) {
            *notes << tr("the working mode was not a number and is reset");
            d.mode = ZimModeMeshes;
        }
    }
    // Image numbers as stored -> index; the stored numbers may have gaps.
    QHash<qint64, int> indexOf;
    QVector<QPair<qint64, int>> positions;  // (stored position, index)
    {
        Stmt s(db,
               "SELECT idx, position, photo, mesh, label, mapped, texture_visible, asleep, texture, alpha FROM images"
               " ORDER BY idx");
        if (!s.ok()) return false;
        int rc;
        while ((rc = s.next()) == 1) {
            ImageData im;
            im.photoPath = absolutePath(base, s.text(2));
            im.meshPath = absolutePath(base, s.text(3));
            im.label = s.text(4);
            im.mapped = s.integer(5) != 0;
            im.textureVisible = s.integer(6) != 0;
            im.asleep = s.integer(7) != 0;
            im.texturePath = absolutePath(base, s.text(8));
            im.alphaPath = absolutePath(base, s.text(9));
            if (im.photoPath.isEmpty() || im.meshPath.isEmpty()) {
                *notes << tr("image %1 has no photo or no mesh path and is left out").arg(s.integer(0));
                continue;
            }
            indexOf.insert(s.integer(0), d.images.size());
            positions.append(qMakePair(s.integer(1), d.images.size()));
            d.images.append(im);
        }
        if (rc < 0) return false;
    }
    const int n = d.images.size();
    // The order follows the stored positions; repeated or missing positions are put right.
    std::stable_sort(positions.begin(), positions.end(),
                     [](const QPair<qint64, int>& a, const QPair<qint64, int>& b) { return a.first < b.first; });
    bool orderSound = true;
    for (int p = 0; p < n; ++p) {
        d.order.append(positions[p].second);
        if (positions[p].first != p) orderSound = false;
    }
    if (!orderSound) *notes << tr("the order of the images was inconsistent and is rebuilt");
    {
        Stmt s(db, "SELECT image, kind, seq, u, v, x, y, z, id, u2, v2 FROM marks ORDER BY image, kind, seq");
        if (!s.ok()) return false;
        int rc, orphans = 0, unknown = 0;
        while ((rc = s.next()) == 1) {
            const auto image = indexOf.constFind(s.integer(0));
            const int kind = kindFromName(s.text(1));
            if (image == indexOf.constEnd()) {
                ++orphans;
                continue;
            }
            if (kind < 0) {
                ++unknown;
                continue;
            }
            MarkRecord r;
            r.uv = XPnt2d(s.real(3), s.real(4));
            r.point = XPnt3d(s.real(5), s.real(6), s.real(7));
            r.id = std::int32_t(s.integer(8));
            r.uv2 = XPnt2d(s.real(9), s.real(10));
            d.images[image.value()].marks[kind].append(r);
        }
        if (rc < 0) return false;
        if (orphans > 0) *notes << tr("%1 mark(s) of images that do not exist are left out").arg(orphans);
        if (unknown > 0) *notes << tr("%1 mark(s) of an unknown kind are left out").arg(unknown);
    }
    QHash<qint64, int> groupOf;  // stored position -> index in d.groups
    {
        Stmt s(db, "SELECT position, name FROM groups ORDER BY position");
        if (!s.ok()) return false;
        int rc;
        while ((rc = s.next()) == 1) {
            const QString name = s.text(1);
            // "DEFAULT" holds every image and is not stored with members.
            if (name == QLatin1String(kDefaultGroup)) continue;
            if (name.isEmpty()) {
                *notes << tr("a model-item group without a name is left out");
                continue;
            }
            groupOf.insert(s.integer(0), d.groups.size());
            d.groups.append(GroupData{name, {}});
        }
        if (rc < 0) return false;
    }
    {
        Stmt s(db, "SELECT grp, seq, image FROM group_members ORDER BY grp, seq");
        if (!s.ok()) return false;
        int rc, dropped = 0;
        while ((rc = s.next()) == 1) {
            const auto g = groupOf.constFind(s.integer(0));
            const auto image = indexOf.constFind(s.integer(2));
            if (g == groupOf.constEnd() || image == indexOf.constEnd()) {
                ++dropped;
                continue;
            }
            QVector<int>& members = d.groups[g.value()].members;
            if (!members.contains(image.value())) members.append(image.value());
        }
        if (rc < 0) return false;
        if (dropped > 0)
            *notes << tr("%1 model-item group member(s) naming a group or image that does not exist are left out")
                          .arg(dropped);
    }
    {
        Stmt s(db, "SELECT seq, x, y FROM screen_path ORDER BY seq");
        if (!s.ok()) return false;
        int rc;
        while ((rc = s.next()) == 1) d.screenPath.append(XPnt2d(s.real(1), s.real(2)));
        if (rc < 0) return false;
    }
    {
        Stmt s(db, "SELECT grp, key, data FROM blobs");
        if (!s.ok()) return false;
        int rc;
        while ((rc = s.next()) == 1) d.blobs.insert(qMakePair(s.text(0), s.text(1)), s.blob(2));
        if (rc < 0) return false;
    }
    {
        Stmt s(db,
               "SELECT image, width, height, fx, fy, cx, cy, k1, k2, rms, rotation, translation, residuals"
               " FROM cameras ORDER BY image");
        if (!s.ok()) return false;
        int rc;
        while ((rc = s.next()) == 1) {
            const auto image = indexOf.constFind(s.integer(0));
            if (image == indexOf.constEnd()) {
                *notes << tr("the camera of image %1, which does not exist, is left out").arg(s.integer(0));
                continue;
            }
            ZimPhotoCamera c;
            bool sound = s.type(1) == SQLITE_INTEGER && s.type(2) == SQLITE_INTEGER && s.type(10) == SQLITE_BLOB &&
                         s.type(11) == SQLITE_BLOB && (s.type(12) == SQLITE_BLOB || s.type(12) == SQLITE_NULL);
            const qint64 width = s.integer(1), height = s.integer(2);
            sound = sound && width > 0 && height > 0 && width <= std::numeric_limits<int>::max() &&
                    height <= std::numeric_limits<int>::max();
            c.width = int(width);
            c.height = int(height);
            for (int col = 3; col <= 9; ++col)
                if (s.type(col) != SQLITE_INTEGER && s.type(col) != SQLITE_FLOAT) sound = false;
            c.fx = s.real(3);
            c.fy = s.real(4);
            c.cx = s.real(5);
            c.cy = s.real(6);
            c.k1 = s.real(7);
            c.k2 = s.real(8);
            c.rms = s.real(9);
            sound = sound && unpackDoubles(s.blob(10), c.R, 9) && unpackDoubles(s.blob(11), c.t, 3) &&
                    unpackResiduals(s.blob(12), &c.residuals) && c.isValid();
            if (!sound) {
                *notes << tr("the camera of image %1 is damaged and is left out").arg(s.integer(0));
                continue;
            }
            ImageData& im = d.images[image.value()];
            im.hasCamera = true;
            im.camera = c;
        }
        if (rc < 0) return false;
    }
    {
        Stmt s(db, "SELECT image, path FROM working_textures ORDER BY image");
        if (!s.ok()) return false;
        int rc;
        while ((rc = s.next()) == 1) {
            const auto image = indexOf.constFind(s.integer(0));
            if (image == indexOf.constEnd()) {
                *notes << tr("the working texture of image %1, which does not exist, is left out").arg(s.integer(0));
                continue;
            }
            ImageData& im = d.images[image.value()];
            const QString mesh = QFileInfo(im.meshPath).completeBaseName();
            const QString working = s.type(1) == SQLITE_TEXT ? absolutePath(base, s.text(1)) : QString();
            if (working.isEmpty()) {
                *notes << tr("the working texture of mesh %1 is damaged and is left out; the mesh shows its own "
                             "texture")
                              .arg(mesh);
                continue;
            }
            // Never opened here: a FIFO or device would block whoever reads it.
            const QFileInfo file(working);
            if (!file.isFile()) {
                *notes << (file.exists() ? tr("the working texture %1 of mesh %2 is not a regular file and is left "
                                              "out; the mesh shows its own texture")
                                         : tr("the working texture %1 of mesh %2 does not exist and is left out; the "
                                              "mesh shows its own texture"))
                              .arg(QDir::toNativeSeparators(working), mesh);
                continue;
            }
            im.workingTexturePath = working;
        }
        if (rc < 0) return false;
    }
    if (d.currentImage >= n) d.currentImage = -1;
    *out = std::move(d);
    return true;
}

// The warning shown once when a project opens that was changed outside the program.
QString changeWarning(const QString& shown, const QStringList& changed, const QStringList& notes)
{
    if (changed.isEmpty() && notes.isEmpty()) return QString();
    constexpr int kShown = 10;
    QStringList lines;
    lines << tr("The project %1 was changed outside the program.").arg(shown);
    if (!changed.isEmpty()) {
        QStringList names = changed.mid(0, kShown);
        if (changed.size() > kShown) names << tr("and %1 more").arg(changed.size() - kShown);
        lines << tr("Changed: %1.").arg(names.join(QStringLiteral(", ")));
    }
    if (!notes.isEmpty()) {
        QStringList shownNotes = notes.mid(0, kShown);
        if (notes.size() > kShown) shownNotes << tr("and %1 more").arg(notes.size() - kShown);
        lines << tr("Left out or reset: %1.").arg(shownNotes.join(QStringLiteral("; ")));
    }
    lines << tr("It is opened with the values as they are; nothing is written back until the project is saved.");
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

QByteArray changeDigest(const ProjectData& data) { return projectDigest(data, nullptr, false, true); }

bool readProjectFile(const QString& path, ProjectData* out, QString* error, QString* warning)
{
    if (warning) warning->clear();
    const QString shown = QDir::toNativeSeparators(path);
    auto fail = [&](const QString& why) {
        *error = tr("cannot open the project %1: %2").arg(shown, why);
        return false;
    };
    const QFileInfo info(path);
    if (!info.exists()) return fail(tr("the file does not exist"));
    if (!info.isFile()) return fail(tr("it is not a file"));
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return fail(f.errorString());
        const QByteArray head = f.read(16);
        if (head.size() < 16 || head != QByteArray("SQLite format 3\0", 16))
            return fail(tr("it is not a project file (not an SQLite database)"));
    }

    Db db;
    if (!db.open(path, SQLITE_OPEN_READONLY)) return fail(db.error());
    auto pragmaInt = [&](const char* sql, qint64* value) {
        Stmt s(db, sql);
        if (!s.ok() || s.next() != 1) return false;
        *value = s.integer(0);
        return true;
    };
    qint64 appId = 0, version = 0;
    if (!pragmaInt("PRAGMA application_id", &appId) || !pragmaInt("PRAGMA user_version", &version))
        return fail(tr("the file is damaged (%1)").arg(db.error()));
    if (appId != kProjectAppId) return fail(tr("it is an SQLite database of another program, not a project file"));
    if (version > kProjectSchema)
        return fail(tr("it was written by a newer version of the program (schema %1, this one reads up to %2)")
                        .arg(version)
                        .arg(kProjectSchema));
    if (version < 1) return fail(tr("it has no project schema version"));
    {
        Stmt s(db, "PRAGMA quick_check");
        if (!s.ok()) return fail(tr("the file is damaged (%1)").arg(db.error()));
        const int rc = s.next();
        if (rc != 1) return fail(tr("the file is damaged (%1)").arg(db.error()));
        const QString verdict = s.text(0);
        if (verdict != QLatin1String("ok")) return fail(tr("the file is damaged (%1)").arg(verdict));
    }
    if (!db.exec("BEGIN")) return fail(tr("the file is damaged (%1)").arg(db.error()));
    QString wholeChecksum;
    QStringList notes;
    QStringList absentLaterTables;
    // A table removed by hand reads as an empty one.
    for (const TableSql& t : kTables) {
        bool known = false;
        if (!hasTable(db, t.name, &known) && known && qstrcmp(t.name, kDigestTable) != 0) {
            if (!createTable(db, t, true)) return fail(tr("the file is damaged (%1)").arg(db.error()));
            if (isLaterTable(t.name))
                absentLaterTables << QString::fromLatin1(t.name);
            else
                notes << tr("the table %1 is missing and is read as empty").arg(QString::fromLatin1(t.name));
        }
        if (!known) return fail(tr("the file is damaged (%1)").arg(db.error()));
    }
    ProjectData data;
    bool ok = readRows(db, info.absoluteDir(), &data, &wholeChecksum, &notes);
    QStringList changed;
    if (ok) changed = changedParts(db, wholeChecksum, data, info.absoluteDir(), absentLaterTables, &ok);
    db.exec("COMMIT");
    if (!ok) return fail(tr("the file is damaged (%1)").arg(db.error()));
    if (warning) *warning = changeWarning(shown, changed, notes);
    *out = std::move(data);
    return true;
}

bool writeProjectFile(const ProjectData& data, const QString& path, QString* error)
{
    // Writing through a symbolic link replaces the file it points to, not the link.
    QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
    info = QFileInfo(target);
    const QString shown = QDir::toNativeSeparators(target);
    const QString folder = info.absolutePath();
    auto fail = [&](const QString& why) {
        *error = tr("cannot save the project %1: %2").arg(shown, why);
        return false;
    };
    if (!QFileInfo(folder).isDir())
        return fail(tr("the folder %1 does not exist").arg(QDir::toNativeSeparators(folder)));
    if (info.exists() && !info.isFile()) return fail(tr("it exists and is not a file"));

    QString tempPath;
    {
        QTemporaryFile temp(QDir(folder).filePath(QStringLiteral(".%1.saving-XXXXXX").arg(info.fileName())));
        temp.setAutoRemove(false);
        if (!temp.open())
            return fail(
                tr("cannot create a file in %1 (%2)").arg(QDir::toNativeSeparators(folder), temp.errorString()));
        tempPath = temp.fileName();
    }
    auto failRemoving = [&](const QString& why) {
        QFile::remove(tempPath);
        return fail(why);
    };

    {
        Db db;
        if (!db.open(tempPath, SQLITE_OPEN_READWRITE)) return failRemoving(db.error());
        // The file is not the project until it is renamed: no rollback journal is needed, but
        // the data must be on disk before the rename.
        if (!db.exec("PRAGMA journal_mode=OFF") || !db.exec("PRAGMA synchronous=FULL") || !db.exec("BEGIN") ||
            !std::all_of(std::begin(kTables), std::end(kTables),
                         [&](const TableSql& t) { return createTable(db, t, false); }))
            return failRemoving(db.error());
        QString why;
        if (!writeRows(db, data, info.absoluteDir(), &why)) return failRemoving(why.isEmpty() ? db.error() : why);
        if (!writeDigests(db)) return failRemoving(db.error());
        const QByteArray pragmas = QStringLiteral("PRAGMA application_id=%1; PRAGMA user_version=%2;")
                                       .arg(kProjectAppId)
                                       .arg(kProjectSchema)
                                       .toLatin1();
        if (!db.exec(pragmas.constData())) return failRemoving(db.error());
        if (saveFault() == QLatin1String("commit"))
            return failRemoving(tr("fault injected for a test (ORV_KERNEL_SAVE_FAULT=commit)"));
        if (!db.exec("COMMIT")) return failRemoving(db.error());
    }

    // The saved file keeps the permissions of the one it replaces; a new one gets the usual
    // read-write for the owner and read for the others.
    const QFile::Permissions perms = info.exists() ? QFile(target).permissions()
                                                   : (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                                      QFile::WriteUser | QFile::ReadGroup | QFile::ReadOther);
    QFile::setPermissions(tempPath, perms);
    if (saveFault() == QLatin1String("rename"))
        return failRemoving(tr("fault injected for a test (ORV_KERNEL_SAVE_FAULT=rename)"));
    if (std::rename(QFile::encodeName(tempPath).constData(), QFile::encodeName(target).constData()) != 0)
        return failRemoving(tr("cannot replace the file (%1)").arg(QString::fromLocal8Bit(std::strerror(errno))));
    syncFolder(folder);
    return true;
}

}  // namespace kernel
}  // namespace zim
