#include "CorePairing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>
#include <algorithm>

#include "CoreCommands.h"

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

// Says whether a candidate may be taken; candidates it refuses are passed over.
using Acceptable = std::function<bool(const QString& candidate)>;

// A file in `folder` with base name `base` and one of the suffixes: exact base name first,
// then one differing in case only.
QString findInFolder(const QString& folder, const QString& base, const QStringList& suffixes,
                     const Acceptable& acceptable)
{
    if (folder.isEmpty()) return QString();
    const QDir dir(folder);
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
    for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive})
        for (const QFileInfo& f : files)
            if (suffixes.contains(f.suffix().toLower()) && f.completeBaseName().compare(base, cs) == 0 &&
                (!acceptable || acceptable(f.absoluteFilePath())))
                return f.absoluteFilePath();
    return QString();
}

QString findPartner(const QString& path, const QString& siblingName, const QStringList& suffixes,
                    const Acceptable& acceptable)
{
    const QFileInfo info(path);
    const QDir dir = info.absoluteDir();
    const QString base = info.completeBaseName();
    QString found = findInFolder(dir.absolutePath(), base, suffixes, acceptable);
    if (found.isEmpty()) found = findInFolder(siblingFolder(dir, siblingName), base, suffixes, acceptable);
    return found;
}

// ---- material libraries ----------------------------------------------------------------------

// The whitespace-separated words of a line.
QStringList words(const QString& line)
{
    return line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// A file named in an OBJ or MTL file, relative to that file's folder; written with either slash.
QString resolveNamed(const QDir& folder, QString name)
{
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::cleanPath(folder.absoluteFilePath(name));
}

// The material libraries an OBJ file names on its "mtllib" lines, wherever they are. Geometry
// files can be large: they are searched in blocks for the keyword, not read line by line.
QStringList materialLibraries(const QString& objPath)
{
    QFile file(objPath);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QDir folder = QFileInfo(objPath).absoluteDir();
    static const QByteArray keyword("mtllib");
    QStringList out;
    QByteArray carry;
    constexpr qint64 kBlock = 4 << 20;
    while (true) {
        QByteArray block = file.read(kBlock);
        const bool last = block.isEmpty() || file.atEnd();
        block.prepend(carry);
        carry.clear();
        // Only whole lines are searched; the partial last line waits for the next block.
        int end = block.size();
        if (!last) {
            end = block.lastIndexOf('\n') + 1;
            if (end <= 0) {
                carry = block;
                continue;
            }
            carry = block.mid(end);
        }
        for (int at = block.indexOf(keyword); at >= 0 && at < end; at = block.indexOf(keyword, at + keyword.size())) {
            int start = at;
            while (start > 0 && (block[start - 1] == ' ' || block[start - 1] == '\t')) --start;
            if (start > 0 && block[start - 1] != '\n') continue;
            const int after = at + keyword.size();
            if (after < end && block[after] != ' ' && block[after] != '\t') continue;
            int lineEnd = block.indexOf('\n', after);
            if (lineEnd < 0 || lineEnd > end) lineEnd = end;
            const QString rest = QString::fromUtf8(block.mid(after, lineEnd - after)).trimmed();
            if (rest.isEmpty()) continue;
            // One name with spaces in it, or several names.
            const QString whole = resolveNamed(folder, rest);
            if (QFileInfo(whole).isFile()) {
                out << whole;
                continue;
            }
            for (const QString& name : words(rest)) out << resolveNamed(folder, name);
        }
        if (last) break;
    }
    out.removeDuplicates();
    return out;
}

// Arguments each texture option of an MTL map statement takes; -1 for one to three numbers.
int optionArguments(const QString& option)
{
    static const QHash<QString, int> counts = {
        {QStringLiteral("-blendu"), 1},  {QStringLiteral("-blendv"), 1}, {QStringLiteral("-bm"), 1},
        {QStringLiteral("-boost"), 1},   {QStringLiteral("-cc"), 1},     {QStringLiteral("-clamp"), 1},
        {QStringLiteral("-imfchan"), 1}, {QStringLiteral("-texres"), 1}, {QStringLiteral("-type"), 1},
        {QStringLiteral("-mm"), 2},      {QStringLiteral("-o"), -1},     {QStringLiteral("-s"), -1},
        {QStringLiteral("-t"), -1},
    };
    return counts.value(option.toLower(), 0);
}

bool isNumber(const QString& word)
{
    bool ok = false;
    word.toDouble(&ok);
    return ok;
}

// The texture file of one MTL statement ("map_Kd -s 1 1 1 tex/a b.png" gives "tex/a b.png"),
// or an empty string when the statement names no texture.
QString textureOfStatement(const QString& line)
{
    const QStringList w = words(line);
    if (w.isEmpty()) return QString();
    const QString keyword = w.first().toLower();
    static const QStringList others = {QStringLiteral("bump"), QStringLiteral("disp"), QStringLiteral("decal"),
                                       QStringLiteral("refl"), QStringLiteral("norm")};
    if (!keyword.startsWith(QLatin1String("map_")) && !others.contains(keyword)) return QString();
    int i = 1;
    while (i < w.size() && w[i].startsWith(QLatin1Char('-')) && !isNumber(w[i])) {
        const int n = optionArguments(w[i]);
        ++i;
        if (n > 0) {
            i += n;
        } else if (n < 0) {
            for (int k = 0; k < 3 && i < w.size() - 1 && isNumber(w[i]); ++k) ++i;
        }
    }
    // The name is the rest of the line: it may hold spaces.
    return i < w.size() ? w.mid(i).join(QLatin1Char(' ')) : QString();
}

QStringList texturesOfLibrary(const QString& mtlPath)
{
    QFile file(mtlPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    const QDir folder = QFileInfo(mtlPath).absoluteDir();
    QStringList out;
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line)) {
        const QString name = textureOfStatement(line);
        if (!name.isEmpty()) out << resolveNamed(folder, name);
    }
    return out;
}

bool samePicture(const QString& picture, const QString& texture)
{
    const QFileInfo a(picture), b(texture);
    const QString ca = a.canonicalFilePath();
    if (!ca.isEmpty() && ca == b.canonicalFilePath()) return true;
    // A name the material writes in another case than the file has (it was made where case does
    // not count) still means that file.
    return !b.exists() && QDir::cleanPath(a.absoluteFilePath()).compare(texture, Qt::CaseInsensitive) == 0;
}

// The textures of one mesh, read once per batch.
class TextureCache {
public:
    bool isTexture(const QString& picture, const QString& mesh)
    {
        auto it = m_textures.find(mesh);
        if (it == m_textures.end()) it = m_textures.insert(mesh, meshTextureFiles(mesh));
        for (const QString& t : *it)
            if (samePicture(picture, t)) return true;
        return false;
    }

private:
    QHash<QString, QStringList> m_textures;
};

QString meshFor(const QString& photo, TextureCache& textures)
{
    return findPartner(photo, QStringLiteral("meshes"), meshSuffixes(),
                       [&](const QString& mesh) { return !textures.isTexture(photo, mesh); });
}

QString photoFor(const QString& mesh, TextureCache& textures)
{
    return findPartner(mesh, QStringLiteral("photos"), photoSuffixes(),
                       [&](const QString& photo) { return !textures.isTexture(photo, mesh); });
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
    TextureCache textures;
    return meshFor(photoPath, textures);
}

QString photoForMesh(const QString& meshPath)
{
    TextureCache textures;
    return photoFor(meshPath, textures);
}

QStringList meshTextureFiles(const QString& meshPath)
{
    QStringList out;
    for (const QString& library : materialLibraries(meshPath)) out << texturesOfLibrary(library);
    out.removeDuplicates();
    return out;
}

bool isTextureOfMesh(const QString& picturePath, const QString& meshPath)
{
    TextureCache textures;
    return textures.isTexture(absolute(picturePath), absolute(meshPath));
}

PairingResult pairPhotos(const QStringList& photos) { return pairPhotos(photos, MeshChooser()); }

QString meshChoiceProblem(const QString& photo, const QString& mesh, const QStringList& taken)
{
    const QString native = QDir::toNativeSeparators(mesh);
    if (!isMeshFile(mesh) || !QFileInfo(mesh).isFile()) return CoreText::tr("%1 is not an OBJ mesh.").arg(native);
    const QString path = absolute(mesh);
    if (taken.contains(path)) return CoreText::tr("%1 is the mesh of another photograph already.").arg(native);
    if (isTextureOfMesh(photo, path))
        return CoreText::tr("%1 is a texture of %2, not its photograph.")
            .arg(QDir::toNativeSeparators(absolute(photo)), native);
    return QString();
}

PairingResult pairPhotos(const QStringList& photos, const MeshChooser& chooseMesh)
{
    PairingResult result;
    QSet<QString> seen;
    QStringList taken;
    TextureCache textures;
    for (const QString& p : photos) {
        const QString photo = absolute(p);
        if (seen.contains(photo)) continue;
        seen.insert(photo);
        // A mesh belongs to one photo: a second photo of the same name (a.jpg and a.png) has none.
        QString mesh = meshFor(photo, textures);
        if (!mesh.isEmpty() && taken.contains(mesh)) mesh.clear();
        if (mesh.isEmpty() && chooseMesh) {
            QString problem;
            while (true) {
                const QString picked = chooseMesh(photo, problem);
                if (picked.isEmpty()) break;
                problem = meshChoiceProblem(photo, picked, taken);
                if (problem.isEmpty()) {
                    mesh = absolute(picked);
                    break;
                }
            }
            if (mesh.isEmpty()) {
                result.skipped << photo;
                continue;
            }
        }
        if (mesh.isEmpty()) {
            result.unmatched << photo;
        } else {
            taken << mesh;
            result.pairs.append({photo, mesh});
        }
    }
    return result;
}

PairingResult pairMeshes(const QStringList& meshes)
{
    PairingResult result;
    QSet<QString> seen, taken;
    TextureCache textures;
    for (const QString& m : meshes) {
        const QString mesh = absolute(m);
        if (seen.contains(mesh)) continue;
        seen.insert(mesh);
        const QString photo = photoFor(mesh, textures);
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

    TextureCache textures;
    // A texture dropped with its mesh (a whole mesh folder dropped) is part of that mesh, not a
    // photograph looking for one.
    QStringList candidates;
    for (const QString& photo : photos) {
        bool texture = false;
        for (const QString& mesh : meshes)
            if (textures.isTexture(photo, mesh)) {
                texture = true;
                break;
            }
        (texture ? result.ignored : candidates) << photo;
    }

    // Dropped together: match by base name, exact first, then differing in case only.
    QVector<bool> meshUsed(meshes.size(), false);
    QStringList lonePhotos;
    QSet<QString> pairedMeshes;
    for (const QString& photo : candidates) {
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
        const QString mesh = meshFor(photo, textures);
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
        const QString photo = photoFor(meshes[i], textures);
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
