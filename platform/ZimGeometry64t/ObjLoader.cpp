// Wavefront OBJ loading. tinyobjloader parses faces, groups and materials; before that every
// vertex, texture-coordinate and face line is checked strictly, because the parser reads a word
// it cannot convert (such as "nan") as 0, a missing coordinate as 0 and an index too large for an
// int as whatever it wraps to, which would hand a damaged mesh over as if it were whole.
//
// Files are read only when they are regular files of a bounded size (the OBJ up to 1 GiB, a
// material library up to 16 MiB). What the common readers accept is accepted too: a byte-order
// mark, material names with spaces, a missing material or library (the mesh is then untextured,
// with a warning in the log) and faces without texture coordinates beside faces with them (those
// faces are kept, untextured).
#include <tiny_obj_loader.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QtDebug>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <istream>
#include <limits>
#include <new>
#include <streambuf>
#include <string>

#include "ZimFiles.h"
#include "ZimMesh.h"

namespace zim {

namespace {

using detail::missingFileReason;
using detail::readRegularFile;
using detail::regularFileProblem;

ZIM_TR_CONTEXT("ZimObjLoader")

constexpr qint64 kMaxObjBytes = qint64(1) << 30;
constexpr qint64 kMaxMtlBytes = qint64(16) << 20;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Stands for a space inside a material name, in the OBJ and the MTL alike: the parser ends a
// name used by "usemtl" at its first space, but keeps the rest of a "newmtl" line.
constexpr char kNameSpace = '\x1f';

void dropByteOrderMark(QByteArray& bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
}

// One face corner "v", "v/t", "v//n" or "v/t/n": each number a non-zero whole number that fits
// an int. 0 when fine, 1 when malformed, 2 when a number is out of range.
int checkCorner(const char* p, const char* end)
{
    int part = 0;
    while (true) {
        const char* start = p;
        if (p < end && (*p == '+' || *p == '-')) ++p;
        const char* digits = p;
        long long value = 0;
        bool overflow = false;
        while (p < end && *p >= '0' && *p <= '9') {
            if (!overflow) {
                value = value * 10 + (*p - '0');
                overflow = value > std::numeric_limits<int>::max();
            }
            ++p;
        }
        const bool empty = p == start;
        if (p == digits && !empty) return 1;  // a sign alone
        if (empty && part == 0) return 1;     // the vertex number is never left out
        if (overflow) return 2;
        if (!empty && value == 0) return 1;
        if (p == end) return 0;
        if (*p != '/' || part == 2) return 1;
        ++p, ++part;
    }
}

// Reads up to `wanted` numbers after the keyword of one line; false when fewer are there or one
// of them is not a finite number.
bool readNumbers(const char* begin, const char* end, int wanted)
{
    const char* p = begin;
    for (int i = 0; i < wanted; ++i) {
        while (p < end && isSpace(*p)) ++p;
        if (p == end) return false;
        const char* start = p;
        if (*p == '+') ++p;  // from_chars takes no leading plus
        double value = 0;
        const auto result = std::from_chars(p, end, value);
        if (result.ec != std::errc() || (result.ptr < end && !isSpace(*result.ptr)) || !std::isfinite(value) ||
            result.ptr == start)
            return false;
        p = result.ptr;
    }
    return true;
}

// What the line scan finds besides faults: the first object and group names and the first
// material library, which the parser does not report in the form needed here.
struct LineScan {
    QString problem;
    QString objectName;
    QString groupName;
    QString materialLibrary;
    bool usesMaterial = false;  // a "usemtl" line is there
};

QString restOfLine(const char* from, const char* eol) { return QString::fromUtf8(from, int(eol - from)).trimmed(); }

QString quotedLine(const char* q, const char* eol)
{
    return QString::fromUtf8(q, int(std::min<std::ptrdiff_t>(eol - q, 80))).trimmed();
}

// Replaces the spaces inside the name that runs from `from` to `eol` with kNameSpace.
void joinName(char* from, char* eol)
{
    while (from < eol && isSpace(*from)) ++from;
    while (eol > from && isSpace(eol[-1])) --eol;
    for (char* c = from; c < eol; ++c)
        if (isSpace(*c)) *c = kNameSpace;
}

// Checks the "v", "vt", "vn" and face ("f", "l", "p") lines, notes the names and joins the
// words of material names (the text is changed in place for that alone).
LineScan scanLines(QByteArray& text)
{
    LineScan scan;
    char* const data = text.data();
    const char* p = data;
    const char* const end = p + text.size();
    int line = 0;
    while (p < end) {
        ++line;
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!eol) eol = end;
        const char* q = p;
        while (q < eol && isSpace(*q)) ++q;
        const std::ptrdiff_t length = eol - q;
        if (length >= 2 && q[0] == 'v') {
            int wanted = 0;
            const char* numbers = nullptr;
            if (isSpace(q[1])) {
                wanted = 3, numbers = q + 1;
            } else if (length >= 3 && q[1] == 't' && isSpace(q[2])) {
                wanted = 1, numbers = q + 2;  // v (and w) of a texture coordinate may be left out
            } else if (length >= 3 && q[1] == 'n' && isSpace(q[2])) {
                wanted = 3, numbers = q + 2;
            }
            if (numbers && !readNumbers(numbers, eol, wanted)) {
                scan.problem =
                    tr("line %1 needs %2 finite numbers: \"%3\"").arg(line).arg(wanted).arg(quotedLine(q, eol));
                return scan;
            }
        } else if (length >= 2 && (q[0] == 'f' || q[0] == 'l' || q[0] == 'p') && isSpace(q[1])) {
            const char* c = q + 2;
            while (true) {
                while (c < eol && isSpace(*c)) ++c;
                if (c == eol || *c == '#') break;
                const char* cornerEnd = c;
                while (cornerEnd < eol && !isSpace(*cornerEnd)) ++cornerEnd;
                const int fault = checkCorner(c, cornerEnd);
                if (fault != 0) {
                    const QString corner = QString::fromUtf8(c, int(std::min<std::ptrdiff_t>(cornerEnd - c, 40)));
                    scan.problem = fault == 2 ? tr("line %1 has an index too large to be one (\"%2\"): \"%3\"")
                                                    .arg(line)
                                                    .arg(corner, quotedLine(q, eol))
                                              : tr("line %1 has a corner that is not an index (\"%2\"): \"%3\"")
                                                    .arg(line)
                                                    .arg(corner, quotedLine(q, eol));
                    return scan;
                }
                c = cornerEnd;
            }
        } else if (length >= 7 && std::strncmp(q, "usemtl", 6) == 0 && isSpace(q[6])) {
            scan.usesMaterial = true;
            joinName(data + (q + 7 - data), data + (eol - data));
        } else if (length >= 2 && (q[0] == 'o' || q[0] == 'g') && isSpace(q[1])) {
            QString& name = q[0] == 'o' ? scan.objectName : scan.groupName;
            if (name.isEmpty()) name = restOfLine(q + 2, eol);
        } else if (length >= 7 && std::strncmp(q, "mtllib", 6) == 0 && isSpace(q[6])) {
            if (scan.materialLibrary.isEmpty()) scan.materialLibrary = restOfLine(q + 7, eol);
        }
        p = eol + 1;
    }
    return scan;
}

// A stream buffer over bytes held elsewhere.
class ReadOnlyBuffer : public std::streambuf {
public:
    explicit ReadOnlyBuffer(const QByteArray& bytes)
    {
        char* begin = const_cast<char*>(bytes.constData());  // only ever read
        setg(begin, begin, begin + bytes.size());
    }
};

// The parser's warnings that mean the geometry is damaged. Those about materials (a library
// or a material that is not there) are not: the mesh is then left untextured.
bool warningIsFatal(const std::string& warn)
{
    std::string lower(warn);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower.find("degenerated face") != std::string::npos || lower.find("invalid") != std::string::npos;
}

QString firstLine(const std::string& text) { return QString::fromStdString(text.substr(0, text.find('\n'))).trimmed(); }

// Rewrites the "newmtl" lines with the words of the name joined as "usemtl" names are.
QByteArray joinMaterialNames(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    int from = 0;
    while (from < text.size()) {
        int eol = text.indexOf('\n', from);
        if (eol < 0) eol = text.size();
        QByteArray line = text.mid(from, eol - from);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("newmtl") && trimmed.size() > 6 && isSpace(trimmed[6])) {
            QByteArray name = trimmed.mid(7).trimmed();
            for (char& c : name)
                if (isSpace(c)) c = kNameSpace;
            line = "newmtl " + name;
        }
        out += line;
        out += '\n';
        from = eol + 1;
    }
    return out;
}

// Reads material libraries named by "mtllib", relative to the OBJ's folder. A library that is
// not there is a warning (the mesh stays untextured); one that is not a regular file or is too
// large refuses the mesh.
class MaterialLibraryReader : public tinyobj::MaterialReader {
public:
    explicit MaterialLibraryReader(const QString& folder) : m_folder(folder) {}

    bool operator()(const std::string& matId, std::vector<tinyobj::material_t>* materials,
                    std::map<std::string, int>* matMap, std::string* warn, std::string* err) override
    {
        QString name = QString::fromStdString(matId).trimmed();
        name.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const QString path = QDir::cleanPath(QFileInfo(name).isAbsolute() ? name : QDir(m_folder).filePath(name));
        if (!QFileInfo::exists(path)) {
            warnings << tr("its material library '%1' cannot be read (%2); the mesh is left untextured")
                            .arg(path, missingFileReason(path));
            return false;
        }
        QByteArray bytes;
        QString why;
        if (!readRegularFile(path, kMaxMtlBytes, &bytes, &why)) {
            if (problem.isEmpty()) problem = tr("its material library '%1' cannot be read: %2").arg(path, why);
            return false;
        }
        dropByteOrderMark(bytes);
        const QByteArray text = joinMaterialNames(bytes);
        bytes.clear();
        std::string mtlWarn, mtlErr;
        {
            ReadOnlyBuffer buffer(text);
            std::istream stream(&buffer);
            tinyobj::LoadMtl(matMap, materials, &stream, &mtlWarn, &mtlErr);
        }
        if (warn) *warn += mtlWarn;
        if (err) *err += mtlErr;
        return true;
    }

    QStringList warnings;
    QString problem;

private:
    QString m_folder;
};

ref_ptr<IZimMesh> loadObjMeshUnguarded(const QString& objPath, QString* error)
{
    auto fail = [&](const QString& why) -> ref_ptr<IZimMesh> {
        if (error) *error = tr("cannot load mesh '%1': %2").arg(objPath, why);
        return nullptr;
    };
    QStringList warnings;

    QByteArray bytes;
    QString why;
    if (!readRegularFile(objPath, kMaxObjBytes, &bytes, &why)) return fail(why);
    if (std::all_of(bytes.cbegin(), bytes.cend(),
                    [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }))
        return fail(tr("the file is empty"));
    dropByteOrderMark(bytes);

    const LineScan scan = scanLines(bytes);
    if (!scan.problem.isEmpty()) return fail(scan.problem);

    const QFileInfo info(objPath);
    const QString folder = info.absolutePath();
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn;
    std::string err;
    // The parser reads the bytes already in memory, without another copy of the file.
    ReadOnlyBuffer buffer(bytes);
    std::istream stream(&buffer);
    MaterialLibraryReader materialReader(folder);
    // Polygons are triangulated below, after their indices have been checked.
    const bool parsed = tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, &stream, &materialReader,
                                         /*triangulate=*/false, /*default_vcols_fallback=*/false);
    if (!materialReader.problem.isEmpty()) return fail(materialReader.problem);
    if (!parsed) return fail(err.empty() ? tr("the file is malformed") : firstLine(err));
    if (!err.empty() && warningIsFatal(err)) return fail(firstLine(err));
    if (warningIsFatal(warn)) return fail(firstLine(warn));
    bytes.clear();
    warnings << materialReader.warnings;

    const int vertexCount = int(attrib.vertices.size() / 3);
    const int texCount = int(attrib.texcoords.size() / 2);
    ref_ptr<Pnt3fArray> vertices = newPnt3fArray();
    vertices->resize(vertexCount);
    for (int i = 0; i < vertexCount; ++i)
        vertices->element(i) = XPnt3f(attrib.vertices[3 * std::size_t(i)], attrib.vertices[3 * std::size_t(i) + 1],
                                      attrib.vertices[3 * std::size_t(i) + 2]);
    ref_ptr<Pnt2fArray> texCoords = newPnt2fArray();
    texCoords->resize(texCount);
    for (int i = 0; i < texCount; ++i)
        texCoords->element(i) = XPnt2f(attrib.texcoords[2 * std::size_t(i)], attrib.texcoords[2 * std::size_t(i) + 1]);

    ref_ptr<IntArray> triangles = newIntArray();
    ref_ptr<IntArray> texIndices = newIntArray();
    std::vector<unsigned char> untextured;  // per triangle: 1 when its face lacks texture corners
    int face = 0;
    int texturedFaces = 0;
    int untexturedFaces = 0;
    bool separate = false;
    int usedMaterial = -1;
    bool materialMissing = false;
    for (const tinyobj::shape_t& shape : shapes) {
        const std::vector<tinyobj::index_t>& indices = shape.mesh.indices;
        std::size_t offset = 0;
        for (std::size_t f = 0; f < shape.mesh.num_face_vertices.size(); ++f) {
            ++face;
            const int corners = shape.mesh.num_face_vertices[f];
            if (corners < 3) return fail(tr("face %1 has only %2 corners").arg(face).arg(corners));
            if (offset + std::size_t(corners) > indices.size()) return fail(tr("face %1 is truncated").arg(face));
            bool allTextured = true;
            for (int k = 0; k < corners; ++k) {
                const tinyobj::index_t& idx = indices[offset + std::size_t(k)];
                if (idx.vertex_index < 0 || idx.vertex_index >= vertexCount)
                    return fail(tr("face %1 uses vertex %2, but there are %3 vertices")
                                    .arg(face)
                                    .arg(idx.vertex_index + 1)
                                    .arg(vertexCount));
                if (idx.texcoord_index >= texCount || idx.texcoord_index < -1)
                    return fail(tr("face %1 uses texture coordinate %2, but there are %3")
                                    .arg(face)
                                    .arg(idx.texcoord_index + 1)
                                    .arg(texCount));
                if (idx.texcoord_index < 0)
                    allTextured = false;
                else
                    separate = separate || idx.texcoord_index != idx.vertex_index;
            }
            ++(allTextured ? texturedFaces : untexturedFaces);
            if (f < shape.mesh.material_ids.size()) {
                const int id = shape.mesh.material_ids[f];
                if (id < 0) materialMissing = true;
                if (usedMaterial < 0) usedMaterial = id;
            }
            // Fan triangulation keeps the corner order (and so the facing) of the polygon.
            for (int k = 1; k + 1 < corners; ++k) {
                const int fan[3] = {0, k, k + 1};
                for (int c : fan) {
                    const tinyobj::index_t& idx = indices[offset + std::size_t(c)];
                    triangles->append(idx.vertex_index);
                    // Corners of an untextured face point at the placeholder added below.
                    texIndices->append(allTextured ? idx.texcoord_index : texCount);
                }
                untextured.push_back(allTextured ? 0 : 1);
            }
            offset += std::size_t(corners);
        }
    }
    if (triangles->count() == 0) return fail(tr("the file has no faces"));
    if (texturedFaces == 0) {
        texIndices.reset();
        texCoords->clear();
        untextured.clear();
    } else if (untexturedFaces > 0) {
        // Untextured faces need indices of their own; they point at one placeholder coordinate
        // and the mesh reports them as having no texture corners.
        texCoords->append(XPnt2f(0.0f, 0.0f));
        warnings << tr("%1 of its %2 faces have no texture coordinates on every corner; they are left untextured")
                        .arg(untexturedFaces)
                        .arg(face);
    } else if (!separate) {
        // Texture corners follow the vertex corners: index the coordinates by vertex. Vertices
        // that no face uses may lie beyond the coordinate list; give them a placeholder.
        texIndices.reset();
        untextured.clear();
        if (texCoords->count() < vertexCount) texCoords->resize(vertexCount, XPnt2f(0.0f, 0.0f));
    } else {
        untextured.clear();
    }

    ref_ptr<detail::CZimMesh> mesh(new detail::CZimMesh());
    if (mesh->setMeshGeometry(vertices, triangles, texCoords, texIndices) != 0) return fail(mesh->meshLastError());
    if (!untextured.empty()) mesh->setUntexturedTriangles(std::move(untextured));
    const QString baseName = info.completeBaseName();
    mesh->setMeshFilePath(info.absoluteFilePath());
    mesh->setMeshName(baseName);
    const QString label = !scan.objectName.isEmpty() ? scan.objectName : scan.groupName;
    mesh->setMeshLabel(label.isEmpty() ? baseName : label);

    // Without any "usemtl" the first material of the library is the mesh's; with them, the
    // material the first face uses, when it is there.
    if (!scan.usesMaterial && usedMaterial < 0 && !materials.empty()) usedMaterial = 0;
    if (scan.usesMaterial && materialMissing) {
        // The parser names each material it did not find: "material [ 'name' ] not found".
        QStringList names;
        const QString parserWarnings = QString::fromStdString(warn);
        for (const QString& line : parserWarnings.split(QLatin1Char('\n'))) {
            const int open = line.indexOf(QLatin1String("[ '"));
            const int close = line.indexOf(QLatin1String("' ]"), open + 3);
            if (line.contains(QLatin1String("not found")) && open >= 0 && close > open) {
                QString name = line.mid(open + 3, close - open - 3);
                name.replace(QLatin1Char(kNameSpace), QLatin1Char(' '));
                if (!names.contains(name)) names << name;
            }
        }
        warnings << tr("no material library read defines the material '%1' it uses; those faces are left untextured")
                        .arg(names.join(QLatin1String("', '")));
    }
    if (usedMaterial >= 0 && usedMaterial < int(materials.size())) {
        const tinyobj::material_t& material = materials[std::size_t(usedMaterial)];
        // Texture names are relative to the material library's own folder.
        QString library = scan.materialLibrary;
        library.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const QString libraryFolder =
            library.isEmpty() ? folder : QFileInfo(QDir(folder).filePath(library)).absolutePath();
        auto resolve = [&](const std::string& name) {
            QString file = QString::fromStdString(name).trimmed();
            file.replace(QLatin1Char('\\'), QLatin1Char('/'));
            if (file.isEmpty()) return file;
            return QDir::cleanPath(QFileInfo(file).isAbsolute() ? file : QDir(libraryFolder).filePath(file));
        };
        const QString texturePath = resolve(material.diffuse_texname);
        if (!texturePath.isEmpty()) {
            const QString problem = regularFileProblem(texturePath);
            if (!problem.isEmpty())
                return fail(tr("its texture file '%1' cannot be read: %2").arg(texturePath, problem));
            mesh->setMeshTexturePath(texturePath);
            mesh->setMeshTextureName(QFileInfo(texturePath).completeBaseName());
        }
        const QString alphaPath = resolve(material.alpha_texname);
        if (!alphaPath.isEmpty()) {
            const QString problem = regularFileProblem(alphaPath);
            if (!problem.isEmpty())
                return fail(tr("its transparency file '%1' cannot be read: %2").arg(alphaPath, problem));
            mesh->setMeshAlphaTexturePath(alphaPath);
        }
    }
    for (const QString& warning : warnings) qWarning().noquote() << tr("mesh '%1': %2").arg(objPath, warning);
    if (error) error->clear();
    return mesh;
}

}  // namespace

ref_ptr<IZimMesh> loadObjMesh(const QString& objPath, QString* error)
{
    try {
        return loadObjMeshUnguarded(objPath, error);
    } catch (const std::bad_alloc&) {
        if (error) *error = tr("cannot load mesh '%1': there is not enough memory to read it").arg(objPath);
        return nullptr;
    } catch (const std::length_error&) {
        if (error) *error = tr("cannot load mesh '%1': it is too large to be read").arg(objPath);
        return nullptr;
    }
}

}  // namespace zim
