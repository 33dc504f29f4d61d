#include "CorePairing.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace orvCore {

namespace {

const QStringList& meshSuffixes()
{
    static const QStringList suffixes = {QStringLiteral("obj")};
    return suffixes;
}

bool hasSuffix(const QString& path, const QStringList& suffixes)
{
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

QString absolute(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

// The base name used for matching: the file name without its last suffix.
QString stem(const QString& path) { return QFileInfo(path).completeBaseName(); }

// The sibling folder of `dir` called `name` (any case), or an empty string.
QString siblingFolder(const QDir& dir, const QString& name)
{
    QDir parent = dir;
    if (!parent.cdUp()) return QString();
    const QStringList entries = parent.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& e : entries)
        if (e == name) return parent.filePath(e);
    for (const QString& e : entries)
        if (e.compare(name, Qt::CaseInsensitive) == 0) return parent.filePath(e);
    return QString();
}

// A file in `folder` with base name `base` and one of the suffixes: exact base name first,
// then one differing in case only.
QString findInFolder(const QString& folder, const QString& base, const QStringList& suffixes)
{
    if (folder.isEmpty()) return QString();
    const QDir dir(folder);
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
    for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive})
        for (const QFileInfo& f : files)
            if (suffixes.contains(f.suffix().toLower()) && f.completeBaseName().compare(base, cs) == 0)
                return f.absoluteFilePath();
    return QString();
}

QString findPartner(const QString& path, const QString& siblingName, const QStringList& suffixes)
{
    const QFileInfo info(path);
    const QDir dir = info.absoluteDir();
    const QString base = info.completeBaseName();
    QString found = findInFolder(dir.absolutePath(), base, suffixes);
    if (found.isEmpty()) found = findInFolder(siblingFolder(dir, siblingName), base, suffixes);
    return found;
}

}  // namespace

const QStringList& photoSuffixes()
{
    static const QStringList suffixes = {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                         QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("bmp")};
    return suffixes;
}

bool isPhotoFile(const QString& path) { return hasSuffix(path, photoSuffixes()); }
bool isMeshFile(const QString& path) { return hasSuffix(path, meshSuffixes()); }
bool isProjectFile(const QString& path) { return QFileInfo(path).suffix().toLower() == QLatin1String("orvproj"); }

QString meshForPhoto(const QString& photoPath)
{
    return findPartner(photoPath, QStringLiteral("meshes"), meshSuffixes());
}

QString photoForMesh(const QString& meshPath)
{
    return findPartner(meshPath, QStringLiteral("photos"), photoSuffixes());
}

PairingResult pairPhotos(const QStringList& photos)
{
    PairingResult result;
    QSet<QString> seen, taken;
    for (const QString& p : photos) {
        const QString photo = absolute(p);
        if (seen.contains(photo)) continue;
        seen.insert(photo);
        // A mesh belongs to one photo: a second photo of the same name (a.jpg and a.png) has none.
        const QString mesh = meshForPhoto(photo);
        if (mesh.isEmpty() || taken.contains(mesh)) {
            result.unmatched << photo;
        } else {
            taken.insert(mesh);
            result.pairs.append({photo, mesh});
        }
    }
    return result;
}

PairingResult pairMeshes(const QStringList& meshes)
{
    PairingResult result;
    QSet<QString> seen, taken;
    for (const QString& m : meshes) {
        const QString mesh = absolute(m);
        if (seen.contains(mesh)) continue;
        seen.insert(mesh);
        const QString photo = photoForMesh(mesh);
        if (photo.isEmpty() || taken.contains(photo)) {
            result.unmatched << mesh;
        } else {
            taken.insert(photo);
            result.pairs.append({photo, mesh});
        }
    }
    return result;
}

PairingResult pairDropped(const QStringList& paths)
{
    PairingResult result;
    QStringList photos, meshes;
    QSet<QString> seen;
    for (const QString& p : paths) {
        const QString path = absolute(p);
        if (seen.contains(path)) continue;
        seen.insert(path);
        if (isPhotoFile(path))
            photos << path;
        else if (isMeshFile(path))
            meshes << path;
        else
            result.ignored << path;
    }

    // Dropped together: match by base name, exact first, then differing in case only.
    QVector<bool> meshUsed(meshes.size(), false);
    QStringList lonePhotos;
    QSet<QString> pairedMeshes;
    for (const QString& photo : photos) {
        int match = -1;
        for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
            for (int i = 0; i < meshes.size() && match < 0; ++i)
                if (!meshUsed[i] && stem(meshes[i]).compare(stem(photo), cs) == 0) match = i;
            if (match >= 0) break;
        }
        if (match >= 0) {
            meshUsed[match] = true;
            result.pairs.append({photo, meshes[match]});
        } else {
            lonePhotos << photo;
        }
    }
    // The rest look for their partners on disk; a partner already paired is not used twice.
    for (const PhotoMeshPair& pr : result.pairs) pairedMeshes.insert(pr.mesh);
    QSet<QString> pairedPhotos;
    for (const PhotoMeshPair& pr : result.pairs) pairedPhotos.insert(pr.photo);
    for (const QString& photo : lonePhotos) {
        const QString mesh = meshForPhoto(photo);
        if (mesh.isEmpty() || pairedMeshes.contains(mesh)) {
            result.unmatched << photo;
            continue;
        }
        pairedMeshes.insert(mesh);
        pairedPhotos.insert(photo);
        result.pairs.append({photo, mesh});
    }
    for (int i = 0; i < meshes.size(); ++i) {
        if (meshUsed[i] || pairedMeshes.contains(meshes[i])) continue;
        const QString photo = photoForMesh(meshes[i]);
        if (photo.isEmpty() || pairedPhotos.contains(photo)) {
            result.unmatched << meshes[i];
            continue;
        }
        pairedPhotos.insert(photo);
        pairedMeshes.insert(meshes[i]);
        result.pairs.append({photo, meshes[i]});
    }
    return result;
}

}  // namespace orvCore
