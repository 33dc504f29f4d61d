#include "BackupRecords.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvUI {

namespace {

ZIM_TR_CONTEXT("orvUI::BackupRecords")

constexpr char kMagic[8] = {'O', 'R', 'V', 'B', 'K', 'R', 'E', 'C'};
// Bytes of one triangle in the file.
constexpr int kTriangleBytes = 4 + 12 * 4;
// Longest name or path accepted from a file.
constexpr quint32 kMaxString = 1u << 16;
// Vertices and triangles of a mesh that go into the project digest (spread over the mesh).
constexpr int kDigestSamples = 1024;

// 64-bit checksum of a byte string, eight bytes at a time.
quint64 checksum(const char* data, qsizetype size)
{
    auto mix = [](quint64 x) {
        x ^= x >> 30;
        x *= 0xbf58476d1ce4e5b9ULL;
        x ^= x >> 27;
        x *= 0x94d049bb133111ebULL;
        x ^= x >> 31;
        return x;
    };
    quint64 h = 0x9e3779b97f4a7c15ULL ^ quint64(size);
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, 8);
        h = mix(h ^ qFromLittleEndian(word)) + 0x632be59bd9b4e019ULL;
    }
    quint64 tail = 0;
    for (qsizetype k = 0; i + k < size; ++k) tail |= quint64(static_cast<unsigned char>(data[i + k])) << (8 * k);
    return mix(h ^ tail ^ 0xff51afd7ed558ccdULL);
}

// One value at a pointer that then moves on past it.
inline void putU32(char*& at, quint32 v)
{
    qToLittleEndian(v, at);
    at += 4;
}
inline void putF32(char*& at, float v)
{
    quint32 bits;
    std::memcpy(&bits, &v, 4);
    putU32(at, bits);
}
inline quint32 getU32(const char*& at)
{
    const quint32 v = qFromLittleEndian<quint32>(at);
    at += 4;
    return v;
}
inline float getF32(const char*& at)
{
    const quint32 bits = getU32(at);
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}

class Writer {
public:
    void raw(const void* data, int size) { m_bytes.append(static_cast<const char*>(data), size); }
    void u32(quint32 v)
    {
        const quint32 le = qToLittleEndian(v);
        raw(&le, 4);
    }
    void i32(qint32 v) { u32(quint32(v)); }
    void u64(quint64 v)
    {
        const quint64 le = qToLittleEndian(v);
        raw(&le, 8);
    }
    void f32(float v)
    {
        quint32 bits;
        std::memcpy(&bits, &v, 4);
        u32(bits);
    }
    void f64(double v)
    {
        quint64 bits;
        std::memcpy(&bits, &v, 8);
        u64(bits);
    }
    void bytes(const QByteArray& b)
    {
        u32(quint32(b.size()));
        m_bytes.append(b);
    }
    void string(const QString& s) { bytes(s.toUtf8()); }
    QByteArray& result() { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Reads what Writer wrote; every read past the end sets the failure flag and gives zero.
class Reader {
public:
    Reader(const char* data, qsizetype size) : m_data(data), m_size(size) {}
    bool ok() const { return m_ok; }
    qsizetype left() const { return m_size - m_at; }
    bool take(void* out, qsizetype n)
    {
        if (!m_ok || n > left()) {
            m_ok = false;
            std::memset(out, 0, std::size_t(n));
            return false;
        }
        std::memcpy(out, m_data + m_at, std::size_t(n));
        m_at += n;
        return true;
    }
    quint32 u32()
    {
        quint32 v = 0;
        take(&v, 4);
        return qFromLittleEndian(v);
    }
    qint32 i32() { return qint32(u32()); }
    quint64 u64()
    {
        quint64 v = 0;
        take(&v, 8);
        return qFromLittleEndian(v);
    }
    float f32()
    {
        const quint32 bits = u32();
        float v;
        std::memcpy(&v, &bits, 4);
        return v;
    }
    double f64()
    {
        const quint64 bits = u64();
        double v;
        std::memcpy(&v, &bits, 8);
        return v;
    }
    QByteArray bytes()
    {
        const quint32 n = u32();
        if (!m_ok || n > kMaxString || qsizetype(n) > left()) {
            m_ok = false;
            return QByteArray();
        }
        QByteArray b(m_data + m_at, int(n));
        m_at += n;
        return b;
    }
    QString string() { return QString::fromUtf8(bytes()); }

private:
    const char* m_data;
    qsizetype m_size;
    qsizetype m_at = 0;
    bool m_ok = true;
};

QString nativePath(const QString& path) { return QDir::toNativeSeparators(path); }

QString cleanPath(const QString& path) { return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath(); }

}  // namespace

BackupCamera BackupCamera::of(const ref_ptr<IZimTrackBall>& trackBall)
{
    BackupCamera c;
    if (!trackBall) return c;
    const XPnt3d eye = trackBall->getEyePoint(), centre = trackBall->getCenterPoint(), up = trackBall->getUpVector();
    const XPnt3d* from[3] = {&eye, &centre, &up};
    double* to[3] = {c.eye, c.centre, c.up};
    for (int k = 0; k < 3; ++k) {
        to[k][0] = from[k]->x;
        to[k][1] = from[k]->y;
        to[k][2] = from[k]->z;
    }
    c.fieldOfView = trackBall->getFieldOfView();
    trackBall->getModelViewMatrix(c.modelView);
    trackBall->getProjectionMatrix(c.projection);
    c.viewportWidth = trackBall->viewportWidth();
    c.viewportHeight = trackBall->viewportHeight();
    c.photoProjection = trackBall->hasPhotoProjection();
    return c;
}

ProjectIdentity ProjectIdentity::of(IZimMM* mm, const QVector<int>& meshIndices)
{
    ProjectIdentity id;
    if (!mm || !mm->isProjectOpen()) return id;
    id.path = cleanPath(mm->projectPath());
    QVector<int> indices = meshIndices;
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());

    QCryptographicHash hash(QCryptographicHash::Sha256);
    Writer w;
    for (const int index : indices) {
        w.i32(index);
        ref_ptr<IZimMesh> mesh;
        mm->getMeshAt(mesh, index);
        if (!mesh) {
            w.i32(-1);
            continue;
        }
        QString name, textureName;
        mesh->meshName(name);
        mesh->meshTextureName(textureName);
        w.string(name);
        w.string(textureName);
        // The geometry as far as it is in memory (a sleeping mesh has none): its size and an
        // even spread of its vertices and triangles.
        const ref_ptr<Pnt3fArray> vertices = mesh->meshVertexSource();
        const ref_ptr<IntArray> triangles = mesh->meshTriangles();
        const int nv = vertices ? vertices->count() : 0;
        const int ni = triangles ? triangles->count() : 0;
        w.i32(nv);
        w.i32(ni);
        const int vStep = std::max(1, nv / kDigestSamples);
        for (int i = 0; i < nv; i += vStep) {
            const XPnt3f& p = (*vertices)[i];
            w.f32(p.x);
            w.f32(p.y);
            w.f32(p.z);
        }
        const int nt = ni / 3;
        const int tStep = std::max(1, nt / kDigestSamples);
        for (int t = 0; t < nt; t += tStep)
            for (int k = 0; k < 3; ++k) w.i32((*triangles)[3 * t + k]);
        hash.addData(w.result());
        w.result().clear();
    }
    hash.addData(w.result());
    id.digest = hash.result();
    return id;
}

QString BackupRecords::suffix() { return QStringLiteral(".orvbackup"); }

QString BackupRecords::pathFor(const QString& picturePath)
{
    const QFileInfo info(picturePath);
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    const QString folder = info.path();
    return (folder.isEmpty() || folder == QLatin1String(".") ? base : folder + QLatin1Char('/') + base) + suffix();
}

BackupRecords BackupRecords::collect(const QSize& picture, const ref_ptr<IZimTrackBall>& trackBall,
                                     const TriangleRecords& records, const TextureImageMap& textures, IZimMM* mm)
{
    BackupRecords out;
    out.m_picture = picture;
    out.m_camera = BackupCamera::of(trackBall);
    const int W = picture.width(), H = picture.height();

    // Slot of each mesh index in the mesh list; -1 for a mesh without a texture image (its
    // records painted nothing).
    QHash<int, int> slotOf;
    int lastMesh = -1, lastSlot = -1;
    out.m_triangles.reserve(records.size());
    for (const ref_ptr<TqTriangleIndex>& rec : records) {
        if (!rec) continue;
        const int m = int(rec->meshIndex);
        // Records come mesh by mesh: most of them have the mesh of the one before.
        if (m != lastMesh) {
            auto slot = slotOf.constFind(m);
            if (slot == slotOf.constEnd()) {
                const ref_ptr<IZimImage> texture = textures.value(m);
                int made = -1;
                if (texture) {
                    BackupMesh mesh;
                    mesh.index = m;
                    mesh.textureWidth = texture->imageWidth();
                    mesh.textureHeight = texture->imageHeight();
                    ref_ptr<IZimMesh> owner;
                    if (mm) mm->getMeshAt(owner, m);
                    if (owner) {
                        owner->meshName(mesh.name);
                        owner->meshTextureName(mesh.textureName);
                    }
                    made = out.m_meshes.size();
                    out.m_meshes.append(mesh);
                }
                slot = slotOf.insert(m, made);
            }
            lastMesh = m;
            lastSlot = slot.value();
        }
        if (lastSlot < 0) continue;
        BackupTriangle tri;
        tri.mesh = quint32(lastSlot);
        const XPnt3d* S[3] = {&rec->Screen0(), &rec->Screen1(), &rec->Screen2()};
        const XPnt2f* T[3] = {&rec->Tex0(), &rec->Tex1(), &rec->Tex2()};
        bool finite = true;
        for (int k = 0; k < 3; ++k) {
            // As the painter puts the corners on the picture.
            tri.screen[2 * k] = float(double(W) * S[k]->x + 0.5);
            tri.screen[2 * k + 1] = float(double(H) * S[k]->y + 0.5);
            tri.texture[2 * k] = T[k]->x;
            tri.texture[2 * k + 1] = T[k]->y;
        }
        for (int k = 0; k < 6; ++k) finite = finite && std::isfinite(tri.screen[k]) && std::isfinite(tri.texture[k]);
        if (finite) out.m_triangles.append(tri);
    }
    out.m_project = ProjectIdentity::of(mm, out.meshIndices());
    return out;
}

QVector<int> BackupRecords::meshIndices() const
{
    QVector<int> indices;
    indices.reserve(m_meshes.size());
    for (const BackupMesh& m : m_meshes) indices.append(m.index);
    return indices;
}

QByteArray BackupRecords::serialise() const
{
    Writer w;
    w.raw(kMagic, 8);
    w.u32(kVersion);
    w.i32(m_picture.width());
    w.i32(m_picture.height());
    for (const double* v : {m_camera.eye, m_camera.centre, m_camera.up})
        for (int k = 0; k < 3; ++k) w.f64(v[k]);
    w.f64(m_camera.fieldOfView);
    for (double v : m_camera.modelView) w.f64(v);
    for (double v : m_camera.projection) w.f64(v);
    w.i32(m_camera.viewportWidth);
    w.i32(m_camera.viewportHeight);
    w.u32(m_camera.photoProjection ? 1u : 0u);
    w.string(m_project.path);
    w.bytes(m_project.digest);
    w.u32(quint32(m_meshes.size()));
    for (const BackupMesh& m : m_meshes) {
        w.i32(m.index);
        w.string(m.name);
        w.string(m.textureName);
        w.i32(m.textureWidth);
        w.i32(m.textureHeight);
    }
    w.u32(quint32(m_triangles.size()));
    QByteArray& bytes = w.result();
    // The triangles straight into their place: a backup can have hundreds of thousands.
    const int start = bytes.size();
    bytes.reserve(start + m_triangles.size() * kTriangleBytes + 8);
    bytes.resize(start + m_triangles.size() * kTriangleBytes);
    char* out = bytes.data() + start;
    for (const BackupTriangle& t : m_triangles) {
        putU32(out, t.mesh);
        for (float v : t.screen) putF32(out, v);
        for (float v : t.texture) putF32(out, v);
    }
    w.u64(checksum(bytes.constData(), bytes.size()));
    return bytes;
}

bool BackupRecords::parse(const QByteArray& bytes, QString* error)
{
    auto refuse = [&](const QString& why) {
        if (error) *error = why;
        *this = BackupRecords();
        return false;
    };
    const QString damaged = tr("The backup records are damaged or incomplete.");
    if (bytes.size() < 8 + 4 || std::memcmp(bytes.constData(), kMagic, 8) != 0)
        return refuse(tr("This is not a backup records file."));
    Reader r(bytes.constData(), bytes.size());
    char magic[8];
    r.take(magic, 8);
    const quint32 version = r.u32();
    if (version != kVersion)
        return refuse(
            tr("The backup records are of version %1; this program reads version %2.").arg(version).arg(kVersion));
    // Everything after the version is trusted only once the checksum at the end agrees.
    if (bytes.size() < 8 + 4 + 8) return refuse(damaged);
    const qsizetype body = bytes.size() - 8;
    quint64 stored;
    std::memcpy(&stored, bytes.constData() + body, 8);
    if (qFromLittleEndian(stored) != checksum(bytes.constData(), body)) return refuse(damaged);

    BackupRecords in;
    const int w = r.i32(), h = r.i32();
    in.m_picture = QSize(w, h);
    for (double* v : {in.m_camera.eye, in.m_camera.centre, in.m_camera.up})
        for (int k = 0; k < 3; ++k) v[k] = r.f64();
    in.m_camera.fieldOfView = r.f64();
    for (double& v : in.m_camera.modelView) v = r.f64();
    for (double& v : in.m_camera.projection) v = r.f64();
    in.m_camera.viewportWidth = r.i32();
    in.m_camera.viewportHeight = r.i32();
    in.m_camera.photoProjection = (r.u32() & 1u) != 0;
    in.m_project.path = r.string();
    in.m_project.digest = r.bytes();
    const quint32 meshCount = r.u32();
    if (!r.ok() || w <= 0 || h <= 0 || meshCount > quint32(r.left() / 20)) return refuse(damaged);
    in.m_meshes.reserve(int(meshCount));
    for (quint32 i = 0; i < meshCount && r.ok(); ++i) {
        BackupMesh m;
        m.index = r.i32();
        m.name = r.string();
        m.textureName = r.string();
        m.textureWidth = r.i32();
        m.textureHeight = r.i32();
        in.m_meshes.append(m);
    }
    const quint32 count = r.u32();
    // The triangles fill the file exactly up to the checksum.
    if (!r.ok() || r.left() - 8 != qsizetype(count) * kTriangleBytes) return refuse(damaged);
    in.m_triangles.resize(int(count));
    const char* from = bytes.constData() + (bytes.size() - 8 - qsizetype(count) * kTriangleBytes);
    for (BackupTriangle& t : in.m_triangles) {
        t.mesh = getU32(from);
        for (float& v : t.screen) v = getF32(from);
        for (float& v : t.texture) v = getF32(from);
        if (t.mesh >= meshCount) return refuse(damaged);
    }
    *this = std::move(in);
    return true;
}

bool BackupRecords::write(const QString& path, QString* error) const
{
    QSaveFile file(path);
    const QByteArray bytes = serialise();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = tr("The backup records %1 cannot be written: %2").arg(nativePath(path), file.errorString());
        return false;
    }
    return true;
}

bool BackupRecords::read(const QString& path, QString* error)
{
    QFile file(path);
    if (!QFileInfo(path).isFile()) {
        *this = BackupRecords();
        if (error) *error = tr("The backup records %1 are missing.").arg(nativePath(path));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *this = BackupRecords();
        if (error) *error = tr("The backup records %1 cannot be read: %2").arg(nativePath(path), file.errorString());
        return false;
    }
    QString why;
    if (!parse(file.readAll(), &why)) {
        if (error) *error = tr("%1 (%2)").arg(why, nativePath(path));
        return false;
    }
    return true;
}

bool BackupRecords::matchesPicture(const QSize& picture, QString* error) const
{
    if (picture == m_picture) return true;
    if (error)
        *error = tr("The picture is %1 x %2 pixels but its backup was %3 x %4.")
                     .arg(picture.width())
                     .arg(picture.height())
                     .arg(m_picture.width())
                     .arg(m_picture.height());
    return false;
}

bool BackupRecords::matchesProject(const ProjectIdentity& open, QString* error) const
{
    auto refuse = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (open.path.isEmpty()) return refuse(tr("The backup can only be applied with its project open."));
    if (cleanPath(open.path) != cleanPath(m_project.path))
        return refuse(tr("The backup was taken in the project %1, not in the open project %2.")
                          .arg(nativePath(m_project.path), nativePath(open.path)));
    if (open.digest != m_project.digest)
        return refuse(tr("The meshes of the open project are no longer those the backup shows."));
    return true;
}

}  // namespace orvUI
