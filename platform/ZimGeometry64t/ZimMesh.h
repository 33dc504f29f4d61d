// The mesh class behind IZimMesh and the face lookup it uses.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "ZimGeometry64t.h"

namespace zim {
namespace detail {

// Finds the triangle with an exact (i0, i1, i2) in constant time: open addressing over a
// power-of-two table of triangle indices, keyed by a hash of the three vertex indices.
class FaceLookup {
public:
    void build(const int* triangles, int triangleCount);
    int find(const int* triangles, int i0, int i1, int i2) const;
    void clear()
    {
        m_slots.clear();
        m_mask = 0;
    }

private:
    static std::uint64_t hash(int i0, int i1, int i2);
    std::vector<int> m_slots;  // triangle index, -1 when empty
    std::uint64_t m_mask = 0;
};

class CZimMesh final : public IZimMesh {
public:
    CZimMesh();

    ref_ptr<Pnt3fArray> meshVertexSource() const override { return m_vertices; }
    ref_ptr<IntArray> meshTriangles() const override { return m_triangles; }
    ref_ptr<Pnt2fArray> meshTexCoords() const override { return m_texCoords; }
    ref_ptr<IZimImage> meshTexture() override;
    int meshName(QString& out) const override
    {
        out = m_name;
        return 0;
    }
    int meshTextureName(QString& out) const override
    {
        out = m_textureName;
        return 0;
    }
    int meshLabel(QString& out) const override
    {
        out = m_label;
        return 0;
    }
    bool isMeshTextureVisible() const override { return m_textureVisible; }
    void setMeshCurrent(bool current) override { m_current = current; }
    int meshBox(Enve3d& out) const override
    {
        out = m_box;
        return 0;
    }
    int meshTexFace(int i0, int i1, int i2) const override;
    int meshTexFaceIndex(int face, int corner) const override;

    bool hasTexIndices() const override { return bool(m_texIndices); }
    ref_ptr<IntArray> meshTexIndices() const override { return m_texIndices; }
    int meshTriangleCount() const override { return m_triangles->count() / 3; }
    int meshVertexCount() const override { return m_vertices->count(); }
    bool isMeshCurrent() const override { return m_current; }
    void setMeshTextureVisible(bool visible) override { m_textureVisible = visible; }
    void setMeshName(const QString& name) override { m_name = name; }
    void setMeshLabel(const QString& label) override { m_label = label; }
    QString meshFilePath() const override { return m_filePath; }
    QString meshTexturePath() const override { return m_texturePath; }
    void setMeshTexturePath(const QString& path) override;
    void setMeshTextureImage(const ref_ptr<IZimImage>& image) override;
    void releaseMeshTexture() override;
    int setMeshGeometry(const ref_ptr<Pnt3fArray>& vertices, const ref_ptr<IntArray>& triangles,
                        const ref_ptr<Pnt2fArray>& texCoords, const ref_ptr<IntArray>& texIndices) override;
    QString meshLastError() const override { return m_error; }
    QString meshAlphaTexturePath() const override { return m_alphaPath; }
    void setMeshAlphaTexturePath(const QString& path) override { m_alphaPath = path; }

    void setMeshFilePath(const QString& path) { m_filePath = path; }
    // Marks triangles (one byte each, non-zero: untextured) whose face had no texture coordinate
    // on some corner: their corners report texture index -1. New geometry clears the marks.
    void setUntexturedTriangles(std::vector<unsigned char> flags) { m_untextured = std::move(flags); }
    void setMeshTextureName(const QString& name) { m_textureName = name; }

protected:
    ~CZimMesh() override;

private:
    ref_ptr<Pnt3fArray> m_vertices;
    ref_ptr<IntArray> m_triangles;
    ref_ptr<Pnt2fArray> m_texCoords;
    ref_ptr<IntArray> m_texIndices;
    FaceLookup m_faces;
    std::vector<unsigned char> m_untextured;
    Enve3d m_box;
    QString m_name;
    QString m_label;
    QString m_textureName;
    QString m_filePath;
    QString m_texturePath;
    QString m_alphaPath;
    QString m_error;
    ref_ptr<IZimImage> m_texture;
    bool m_textureFailed = false;
    bool m_textureVisible = true;
    bool m_current = false;
};

}  // namespace detail
}  // namespace zim
