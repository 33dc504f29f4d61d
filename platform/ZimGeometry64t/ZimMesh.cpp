#include "ZimMesh.h"

#include <QCoreApplication>
#include <cmath>

namespace zim {
namespace detail {

namespace {
ZIM_TR_CONTEXT("ZimMesh")
}  // namespace

// ---- FaceLookup ------------------------------------------------------------------------------

std::uint64_t FaceLookup::hash(int i0, int i1, int i2)
{
    std::uint64_t h = std::uint32_t(i0) * 0x9E3779B97F4A7C15ull;
    h ^= (std::uint64_t(std::uint32_t(i1)) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2));
    h ^= (std::uint64_t(std::uint32_t(i2)) * 0xC2B2AE3D27D4EB4Full + (h << 6) + (h >> 2));
    h ^= h >> 29;
    return h;
}

void FaceLookup::build(const int* triangles, int triangleCount)
{
    std::size_t size = 16;
    while (size < std::size_t(triangleCount) * 2) size <<= 1;
    m_slots.assign(size, -1);
    m_mask = size - 1;
    for (int t = 0; t < triangleCount; ++t) {
        const int* tri = triangles + std::size_t(t) * 3;
        std::uint64_t slot = hash(tri[0], tri[1], tri[2]) & m_mask;
        for (;;) {
            const int held = m_slots[slot];
            if (held < 0) {
                m_slots[slot] = t;
                break;
            }
            const int* other = triangles + std::size_t(held) * 3;
            if (other[0] == tri[0] && other[1] == tri[1] && other[2] == tri[2]) break;  // first one wins
            slot = (slot + 1) & m_mask;
        }
    }
}

int FaceLookup::find(const int* triangles, int i0, int i1, int i2) const
{
    if (m_slots.empty()) return -1;
    std::uint64_t slot = hash(i0, i1, i2) & m_mask;
    for (;;) {
        const int held = m_slots[slot];
        if (held < 0) return -1;
        const int* tri = triangles + std::size_t(held) * 3;
        if (tri[0] == i0 && tri[1] == i1 && tri[2] == i2) return held;
        slot = (slot + 1) & m_mask;
    }
}

// ---- CZimMesh --------------------------------------------------------------------------------

CZimMesh::CZimMesh() : m_vertices(newPnt3fArray()), m_triangles(newIntArray()), m_texCoords(newPnt2fArray()) {}

CZimMesh::~CZimMesh() = default;

ref_ptr<IZimImage> CZimMesh::meshTexture()
{
    if (m_texture || m_textureFailed || m_texturePath.isEmpty()) return m_texture;
    QString error;
    m_texture = loadZimTexture(m_texturePath, &error);
    if (!m_texture) {
        m_textureFailed = true;
        m_error = tr("texture of mesh '%1': %2").arg(m_name, error);
    }
    return m_texture;
}

void CZimMesh::setMeshTexturePath(const QString& path)
{
    m_texturePath = path;
    releaseMeshTexture();
}

void CZimMesh::setMeshTextureImage(const ref_ptr<IZimImage>& image)
{
    m_texture = image;
    m_textureFailed = false;
}

void CZimMesh::releaseMeshTexture()
{
    m_texture.reset();
    m_textureFailed = false;
}

int CZimMesh::meshTexFace(int i0, int i1, int i2) const { return m_faces.find(m_triangles->data(), i0, i1, i2); }

int CZimMesh::meshTexFaceIndex(int face, int corner) const
{
    if (face < 0 || corner < 0 || corner > 2 || face >= meshTriangleCount()) return -1;
    if (std::size_t(face) < m_untextured.size() && m_untextured[std::size_t(face)]) return -1;
    const int at = face * 3 + corner;
    return m_texIndices ? m_texIndices->element(at) : m_triangles->element(at);
}

int CZimMesh::setMeshGeometry(const ref_ptr<Pnt3fArray>& vertices, const ref_ptr<IntArray>& triangles,
                              const ref_ptr<Pnt2fArray>& texCoords, const ref_ptr<IntArray>& texIndices)
{
    const QString who = m_filePath.isEmpty() ? m_name : m_filePath;
    auto fail = [&](const QString& why) {
        m_error = who.isEmpty() ? why : tr("%1: %2").arg(who, why);
        return -1;
    };
    if (!vertices || !triangles) return fail(tr("no vertices or no triangles"));
    const int vertexCount = vertices->count();
    const int texCount = texCoords ? texCoords->count() : 0;
    if (triangles->count() % 3 != 0)
        return fail(tr("%1 triangle indices is not a multiple of 3").arg(triangles->count()));
    for (int i = 0; i < vertexCount; ++i) {
        if (!vertices->element(i).isValid())
            return fail(tr("vertex %1 has a coordinate that is not a finite number").arg(i + 1));
    }
    for (int i = 0; i < texCount; ++i) {
        if (!texCoords->element(i).isValid())
            return fail(tr("texture coordinate %1 is not a finite number").arg(i + 1));
    }
    for (int i = 0; i < triangles->count(); ++i) {
        const int v = triangles->element(i);
        if (v < 0 || v >= vertexCount)
            return fail(tr("triangle %1 uses vertex %2 of %3").arg(i / 3 + 1).arg(v + 1).arg(vertexCount));
    }
    if (texIndices) {
        if (texIndices->count() != triangles->count())
            return fail(
                tr("%1 texture indices for %2 triangle corners").arg(texIndices->count()).arg(triangles->count()));
        for (int i = 0; i < texIndices->count(); ++i) {
            const int t = texIndices->element(i);
            if (t < 0 || t >= texCount)
                return fail(tr("triangle %1 uses texture coordinate %2 of %3").arg(i / 3 + 1).arg(t + 1).arg(texCount));
        }
    } else if (texCount > 0 && texCount < vertexCount) {
        return fail(tr("%1 texture coordinates for %2 vertices").arg(texCount).arg(vertexCount));
    }

    m_vertices = vertices;
    m_triangles = triangles;
    m_texCoords = texCoords ? texCoords : newPnt2fArray();
    m_texIndices = texIndices;
    m_box = box(m_vertices);
    m_faces.build(m_triangles->data(), m_triangles->count() / 3);
    m_untextured.clear();
    m_error.clear();
    return 0;
}

}  // namespace detail
}  // namespace zim

// ---- MeshArray -------------------------------------------------------------------------------

MeshArray::~MeshArray() = default;

int MeshArray::appendMesh(const ref_ptr<IZimMesh>& mesh)
{
    m_meshes.push_back(mesh);
    return int(m_meshes.size()) - 1;
}

ref_ptr<IZimMesh> MeshArray::meshAt(int i) const
{
    if (i < 0 || i >= meshCount()) return nullptr;
    return m_meshes[std::size_t(i)];
}

int MeshArray::removeMeshAt(int i)
{
    if (i < 0 || i >= meshCount()) return -1;
    m_meshes.erase(m_meshes.begin() + i);
    return 0;
}

int MeshArray::meshCount() const { return int(m_meshes.size()); }

namespace zim {

ref_ptr<MeshArray> newMeshArray() { return ref_ptr<MeshArray>(new MeshArray()); }

ref_ptr<IZimMesh> newZimMesh() { return ref_ptr<IZimMesh>(new detail::CZimMesh()); }

}  // namespace zim
