// Feeds bytes to the OBJ loader as a mesh file. A line "~~~mtl" splits the input: what precedes
// it is the .obj, what follows is written beside it as "m.mtl" (the seeds name it with
// "mtllib m.mtl"); without that line no material library exists.
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "ZimGeometry64t.h"

namespace {

bool writeFile(const std::string& path, const char* data, std::size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = (size == 0 || std::fwrite(data, 1, size, f) == size);
    return std::fclose(f) == 0 && ok;
}

const QTemporaryDir& folder()
{
    static const QTemporaryDir dir;
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!folder().isValid()) return 0;
    const std::string base = folder().path().toStdString();
    const std::string objPath = base + "/f.obj";
    const std::string mtlPath = base + "/m.mtl";

    const char* text = reinterpret_cast<const char*>(data);
    static const char kSplit[] = "\n~~~mtl\n";
    const std::size_t splitLength = sizeof(kSplit) - 1;
    std::size_t objSize = size;
    for (std::size_t i = 0; i + splitLength <= size; ++i) {
        if (std::memcmp(text + i, kSplit, splitLength) == 0) {
            objSize = i + 1;
            break;
        }
    }
    if (!writeFile(objPath, text, objSize)) return 0;
    std::remove(mtlPath.c_str());
    if (objSize < size) {
        const std::size_t from = objSize - 1 + splitLength;
        if (!writeFile(mtlPath, text + from, size - from)) return 0;
    }

    QString error;
    const ref_ptr<IZimMesh> mesh = zim::loadObjMesh(QString::fromStdString(objPath), &error);
    if (mesh) {
        // A mesh handed over must be whole: every corner names an existing vertex.
        const int vertices = mesh->meshVertexCount();
        const ref_ptr<IntArray> triangles = mesh->meshTriangles();
        for (int i = 0; i < triangles->count(); ++i) {
            const int v = triangles->element(i);
            if (v < 0 || v >= vertices) __builtin_trap();
        }
        if (mesh->meshTriangleCount() == 0) __builtin_trap();
    } else if (error.isEmpty()) {
        __builtin_trap();  // a refusal always says why
    }
    return 0;
}
