// The mesh object of a project image. Private to the kernel library.
//
// A ProjectMesh is the one IZimMesh the project hands out for an image, for the whole life of
// the project. Its geometry and texture live in an inner mesh read from the OBJ file (or an
// empty one while the mesh sleeps or could not be read); names, label, paths and the visibility
// and current flags belong to the ProjectMesh itself, so they are there before the OBJ was ever
// read and survive sleeping.
#pragma once

#include "OrvKernel64t.h"

namespace zim {
namespace kernel {

class ProjectMesh final : public IZimMesh {
public:
    ProjectMesh(const QString& objPath, const QString& texturePath, const QString& alphaPath);

    // ---- IZimMesh ----
    ref_ptr<Pnt3fArray> meshVertexSource() const override { return m_inner->meshVertexSource(); }
    ref_ptr<IntArray> meshTriangles() const override { return m_inner->meshTriangles(); }
    ref_ptr<Pnt2fArray> meshTexCoords() const override { return m_inner->meshTexCoords(); }
    ref_ptr<IZimImage> meshTexture() override { return m_inner->meshTexture(); }
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
    int meshBox(Enve3d& out) const override { return m_inner->meshBox(out); }
    int meshTexFace(int i0, int i1, int i2) const override { return m_inner->meshTexFace(i0, i1, i2); }
    int meshTexFaceIndex(int face, int corner) const override { return m_inner->meshTexFaceIndex(face, corner); }
    bool hasTexIndices() const override { return m_inner->hasTexIndices(); }
    ref_ptr<IntArray> meshTexIndices() const override { return m_inner->meshTexIndices(); }
    int meshTriangleCount() const override { return m_inner->meshTriangleCount(); }
    int meshVertexCount() const override { return m_inner->meshVertexCount(); }
    bool isMeshCurrent() const override { return m_current; }
    void setMeshTextureVisible(bool visible) override { m_textureVisible = visible; }
    void setMeshName(const QString& name) override { m_name = name; }
    void setMeshLabel(const QString& label) override { m_label = label; }
    QString meshFilePath() const override { return m_objPath; }
    QString meshTexturePath() const override { return m_texturePath; }
    void setMeshTexturePath(const QString& path) override;
    void setMeshTextureImage(const ref_ptr<IZimImage>& image) override;
    void releaseMeshTexture() override;
    int setMeshGeometry(const ref_ptr<Pnt3fArray>& vertices, const ref_ptr<IntArray>& triangles,
                        const ref_ptr<Pnt2fArray>& texCoords, const ref_ptr<IntArray>& texIndices) override;
    QString meshLastError() const override;
    QString meshAlphaTexturePath() const override { return m_alphaPath; }
    void setMeshAlphaTexturePath(const QString& path) override
    {
        m_alphaPath = path;
        m_alphaOverridden = true;
    }

    // ---- kernel side ----

    // Takes the geometry and texture of a mesh just read from the OBJ (loadObjMesh). Texture and
    // transparency paths set on this object since it was made override the material's.
    void attach(const ref_ptr<IZimMesh>& loaded);
    // Drops geometry and texture (a texture given in memory is kept). Neither this nor attach
    // touches GPU data: the model manager releases it.
    void detach();
    bool isLoaded() const { return m_loaded; }
    // True when the geometry was replaced through setMeshGeometry since it was read.
    bool geometryEdited() const { return m_geometryEdited; }
    bool textureInMemory() const { return m_textureInMemory; }
    void setTextureName(const QString& name) { m_textureName = name; }
    // The saved working copy of the texture (empty for none): read instead of the material's
    // texture whenever the texture is read from a file. A texture held in memory is kept.
    void setWorkingTexturePath(const QString& path);
    // Forgets a texture held in memory: the next read is from textureReadPath().
    void dropTextureInMemory();
    QString workingTexturePath() const { return m_workingPath; }
    // The file the texture is read from: the working copy when there is one, else the material's.
    QString textureReadPath() const { return m_workingPath.isEmpty() ? m_texturePath : m_workingPath; }
    void setError(const QString& error) { m_error = error; }

protected:
    ~ProjectMesh() override;

private:
    ref_ptr<IZimMesh> m_inner;
    QString m_objPath;
    QString m_name;
    QString m_textureName;
    QString m_label;
    QString m_texturePath;
    QString m_alphaPath;
    QString m_workingPath;
    QString m_error;
    bool m_textureOverridden = false;
    bool m_alphaOverridden = false;
    bool m_textureInMemory = false;
    bool m_loaded = false;
    bool m_geometryEdited = false;
    bool m_textureVisible = true;
    bool m_current = false;
};

}  // namespace kernel
}  // namespace zim
