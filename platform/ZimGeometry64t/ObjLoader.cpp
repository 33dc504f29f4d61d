// Wavefront OBJ loading. tinyobjloader parses faces, groups and materials; before that every
// vertex and texture-coordinate line is checked strictly, because the parser reads a word it
// cannot convert (such as "nan") as 0 and a missing coordinate as 0, which would hand a damaged
// mesh over as if it were whole.
#include "ZimMesh.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <tiny_obj_loader.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <istream>
#include <streambuf>
#include <string>

namespace zim {

namespace {

ZIM_TR_CONTEXT("ZimObjLoader")

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

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
};

QString restOfLine(const char* from, const char* eol)
{
    return QString::fromUtf8(from, int(eol - from)).trimmed();
}

// Checks the "v", "vt" and "vn" lines and notes the names.
LineScan scanLines(const QByteArray& text)
{
    LineScan scan;
    const char* p = text.constData();
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
                scan.problem = tr("line %1 needs %2 finite numbers: \"%3\"")
                                   .arg(line)
                                   .arg(wanted)
                                   .arg(QString::fromUtf8(q, int(std::min<std::ptrdiff_t>(length, 80))).trimmed());
                return scan;
            }
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

bool warningIsFatal(const std::string& warn)
{
    std::string lower(warn);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower.find("not found") != std::string::npos || lower.find("failed to load material") != std::string::npos ||
           lower.find("degenerated face") != std::string::npos || lower.find("invalid") != std::string::npos;
}

QString firstLine(const std::string& text)
{
    return QString::fromStdString(text.substr(0, text.find('\n'))).trimmed();
}

}  // namespace

ref_ptr<IZimMesh> loadObjMesh(const QString& objPath, QString* error)
{
    auto fail = [&](const QString& why) -> ref_ptr<IZimMesh> {
        if (error) *error = tr("cannot load mesh '%1': %2").arg(objPath, why);
        return nullptr;
    };

    QFile file(objPath);
    if (!file.exists()) return fail(tr("the file does not exist"));
    if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
    const QByteArray bytes = file.readAll();
    file.close();
    if (std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }))
        return fail(tr("the file is empty"));

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
    tinyobj::MaterialFileReader materialReader(QDir::toNativeSeparators(folder).toStdString() + "/");
    // Polygons are triangulated below, after their indices have been checked.
    const bool parsed = tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, &stream, &materialReader,
                                         /*triangulate=*/false, /*default_vcols_fallback=*/false);
    if (!parsed) return fail(err.empty() ? tr("the file is malformed") : firstLine(err));
    if (!err.empty() && warningIsFatal(err)) return fail(firstLine(err));
    if (warningIsFatal(warn)) return fail(firstLine(warn));

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
    int face = 0;
    int withTex = 0;
    int withoutTex = 0;
    bool separate = false;
    int usedMaterial = -1;
    for (const tinyobj::shape_t& shape : shapes) {
        const std::vector<tinyobj::index_t>& indices = shape.mesh.indices;
        std::size_t offset = 0;
        for (std::size_t f = 0; f < shape.mesh.num_face_vertices.size(); ++f) {
            ++face;
            const int corners = shape.mesh.num_face_vertices[f];
            if (corners < 3) return fail(tr("face %1 has only %2 corners").arg(face).arg(corners));
            if (offset + std::size_t(corners) > indices.size()) return fail(tr("face %1 is truncated").arg(face));
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
                if (idx.texcoord_index < 0) {
                    ++withoutTex;
                } else {
                    ++withTex;
                    separate = separate || idx.texcoord_index != idx.vertex_index;
                }
            }
            if (usedMaterial < 0 && f < shape.mesh.material_ids.size()) usedMaterial = shape.mesh.material_ids[f];
            // Fan triangulation keeps the corner order (and so the facing) of the polygon.
            for (int k = 1; k + 1 < corners; ++k) {
                const int fan[3] = {0, k, k + 1};
                for (int c : fan) {
                    const tinyobj::index_t& idx = indices[offset + std::size_t(c)];
                    triangles->append(idx.vertex_index);
                    texIndices->append(idx.texcoord_index);
                }
            }
            offset += std::size_t(corners);
        }
    }
    if (triangles->count() == 0) return fail(tr("the file has no faces"));
    if (withTex > 0 && withoutTex > 0)
        return fail(tr("%1 face corners have texture coordinates and %2 have none").arg(withTex).arg(withoutTex));
    if (withTex == 0) {
        texIndices.reset();
        texCoords->clear();
    } else if (!separate) {
        // Texture corners follow the vertex corners: index the coordinates by vertex. Vertices
        // that no face uses may lie beyond the coordinate list; give them a placeholder.
        texIndices.reset();
        if (texCoords->count() < vertexCount) texCoords->resize(vertexCount, XPnt2f(0.0f, 0.0f));
    }

    ref_ptr<detail::CZimMesh> mesh(new detail::CZimMesh());
    if (mesh->setMeshGeometry(vertices, triangles, texCoords, texIndices) != 0) return fail(mesh->meshLastError());
    const QString baseName = info.completeBaseName();
    mesh->setMeshFilePath(info.absoluteFilePath());
    mesh->setMeshName(baseName);
    const QString label = !scan.objectName.isEmpty() ? scan.objectName : scan.groupName;
    mesh->setMeshLabel(label.isEmpty() ? baseName : label);

    if (usedMaterial < 0 && !materials.empty()) usedMaterial = 0;
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
            if (!QFileInfo::exists(texturePath))
                return fail(tr("its texture file '%1' does not exist").arg(texturePath));
            mesh->setMeshTexturePath(texturePath);
            mesh->setMeshTextureName(QFileInfo(texturePath).completeBaseName());
        }
        const QString alphaPath = resolve(material.alpha_texname);
        if (!alphaPath.isEmpty()) {
            if (!QFileInfo::exists(alphaPath))
                return fail(tr("its transparency file '%1' does not exist").arg(alphaPath));
            mesh->setMeshAlphaTexturePath(alphaPath);
        }
    }
    if (error) error->clear();
    return mesh;
}

}  // namespace zim
