#include "KernelMesh.h"

#include <QFileInfo>

#include "KernelScene.h"

namespace zim {
namespace kernel {

ProjectMesh::ProjectMesh(const QString& objPath, const QString& texturePath, const QString& alphaPath)
    : m_inner(newZimMesh()),
      m_objPath(objPath),
      m_name(QFileInfo(objPath).completeBaseName()),
      m_textureName(texturePath.isEmpty() ? QString() : QFileInfo(texturePath).completeBaseName()),
      m_label(m_name),
      m_texturePath(texturePath),
      m_alphaPath(alphaPath)
{
}

ProjectMesh::~ProjectMesh() = default;

void ProjectMesh::setMeshTexturePath(const QString& path)
{
    m_texturePath = path;
    m_textureName = path.isEmpty() ? QString() : QFileInfo(path).completeBaseName();
    m_textureOverridden = true;
    m_textureInMemory = false;
    // A sleeping mesh reads no texture; the path is used when it wakes. A working copy, when
    // there is one, stays what is read, awake or woken.
    m_inner->setMeshTexturePath(m_loaded ? textureReadPath() : QString());
    releaseMeshGpuData(this);
}

void ProjectMesh::setWorkingTexturePath(const QString& path)
{
    if (m_workingPath == path) return;
    m_workingPath = path;
    if (m_textureInMemory || !m_loaded) return;
    m_inner->setMeshTexturePath(textureReadPath());
    releaseMeshGpuData(this);
}

void ProjectMesh::dropTextureInMemory()
{
    if (!m_textureInMemory) return;
    m_textureInMemory = false;
    m_inner->setMeshTexturePath(m_loaded ? textureReadPath() : QString());
    releaseMeshGpuData(this);
}

void ProjectMesh::setMeshTextureImage(const ref_ptr<IZimImage>& image)
{
    m_inner->setMeshTextureImage(image);
    m_textureInMemory = bool(image);
    releaseMeshGpuData(this);
}

void ProjectMesh::releaseMeshTexture()
{
    m_inner->releaseMeshTexture();
    m_textureInMemory = false;
}

int ProjectMesh::setMeshGeometry(const ref_ptr<Pnt3fArray>& vertices, const ref_ptr<IntArray>& triangles,
                                 const ref_ptr<Pnt2fArray>& texCoords, const ref_ptr<IntArray>& texIndices)
{
    const int rc = m_inner->setMeshGeometry(vertices, triangles, texCoords, texIndices);
    if (rc == 0) {
        m_geometryEdited = true;
        m_loaded = true;
        releaseMeshGpuData(this);
    }
    return rc;
}

QString ProjectMesh::meshLastError() const
{
    const QString inner = m_inner->meshLastError();
    return inner.isEmpty() ? m_error : inner;
}

void ProjectMesh::attach(const ref_ptr<IZimMesh>& loaded)
{
    const ref_ptr<IZimImage> kept = m_textureInMemory ? m_inner->meshTexture() : ref_ptr<IZimImage>();
    m_inner = loaded;
    if (m_textureOverridden)
        m_inner->setMeshTexturePath(m_texturePath);
    else {
        m_texturePath = loaded->meshTexturePath();
        if (m_textureName.isEmpty() && !m_texturePath.isEmpty())
            m_textureName = QFileInfo(m_texturePath).completeBaseName();
    }
    if (!m_workingPath.isEmpty()) m_inner->setMeshTexturePath(m_workingPath);
    if (kept) m_inner->setMeshTextureImage(kept);
    if (!m_alphaOverridden) m_alphaPath = loaded->meshAlphaTexturePath();
    m_loaded = true;
    m_geometryEdited = false;
    m_error.clear();
}

void ProjectMesh::detach()
{
    const ref_ptr<IZimImage> kept = m_textureInMemory ? m_inner->meshTexture() : ref_ptr<IZimImage>();
    m_inner->releaseMeshTexture();
    m_inner = newZimMesh();
    if (kept) m_inner->setMeshTextureImage(kept);
    m_loaded = false;
    m_geometryEdited = false;
}

}  // namespace kernel
}  // namespace zim
