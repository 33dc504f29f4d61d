// The model manager behind zim::getMM() and the open project it holds. Private to the kernel
// library.
#pragma once

#include <QHash>
#include <QSize>
#include <QStringList>
#include <memory>

#include "KernelImages.h"
#include "KernelMesh.h"
#include "KernelProject.h"

namespace zim {
namespace kernel {

// Pixel size of an image file from its header, without decoding it; empty when unreadable.
QSize readHeaderSize(const QString& path);

// What the open project knows about one image beyond its stored data.
struct ImageRuntime {
    ref_ptr<ProjectMesh> mesh;
    ref_ptr<IZimSceneItem> item;
    ref_ptr<IZimImageRecord> record;
    bool meshFound = false;
    PhotoKey sizeKey;  // the photo version photoSize was read from
    QSize photoSize;   // from the file header; empty when unreadable
    quint64 marksVersion = 0;
    // Transparency, computed once per texture image.
    bool alphaKnown = false;
    ref_ptr<IZimImage> alpha;
    ref_ptr<IZimImage> alphaSource;
    QString alphaFile;
    // The texture's pixels were changed in place since the project was opened or saved.
    bool textureEdited = false;
};

struct OpenProject {
    quint64 generation = 0;
    QString path;  // absolute
    ProjectData data;
    QVector<ImageRuntime> rt;  // by image index
    ref_ptr<MeshArray> order;  // the array getMeshOrder hands out
    QHash<const IZimMesh*, int> byMesh;
    // Whether the project differs from what was opened or last saved is decided by comparing
    // digests (changeDigest): savedDigest is the one of the opened or saved state; `changed`
    // says something may have changed since `differs` was last worked out.
    QByteArray savedDigest;
    bool changed = false;
    bool differs = false;
    QStringList missing;
    QString notice;  // what openProject found changed outside the program
    ImageLevels levels;
    // Made once per project (they hold only the generation, never the project).
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    ref_ptr<IZimModelItems> items;
    ref_ptr<IZimScreenPath> screenPath;  // replaced by setScreenPath
};

class ModelManager final : public IZimMM {
public:
    ModelManager();
    static ModelManager* instance();

    // ---- IZimMM ----
    int setModified(bool modified) override;
    int getState(ref_ptr<IZimTqState>& out) override;
    int onViewRedraw() override;
    int getScreenPath(ref_ptr<IZimScreenPath>& out) override;
    int indexOfMesh(const QString& name) override;
    int releaseMesh(const ref_ptr<IZimMesh>& mesh) override;
    bool isImageAvailable(int index) override;
    int reorderImage(int id, int mode, int target) override;
    int sceneItemCount() override;
    ref_ptr<IZimSceneItem> sceneItemAt(int i) override;
    int writeProjectData(const QString& group, const QString& key, const void* bytes, int size) override;
    bool readProjectData(const QString& group, const QString& key, void* buffer, int size, int* out) override;
    int getModelItems(ref_ptr<IZimModelItems>& out) override;
    bool isProjectOpen() override;
    int getCurrentImage(ref_ptr<IZimImage>& out) override;
    int getCurMeshIndex() override;
    int setCurrentImageIndex(int index) override;
    bool isTextureShown(int index) override;
    int setMeshTextureVisible(const ref_ptr<IZimMesh>& mesh, bool visible) override;
    bool isMeshAsleep(const ref_ptr<IZimMesh>& mesh) override;
    bool isMeshAsleepById(int index) override;
    bool isMeshMapped(const ref_ptr<IZimMesh>& mesh) override;
    bool isImageMapped(int index) override;
    int wakeMesh(int index, IZimProgress* progress) override;
    int sleepMesh(const ref_ptr<IZimMesh>& mesh, IZimProgress* progress) override;
    int getMeshAt(ref_ptr<IZimMesh>& out, int index) override;
    int getMeshOrder(ref_ptr<MeshArray>& out) override;
    int getMeshArray(ref_ptr<MeshArray>& out) override;
    int getBackupMeshArray(ref_ptr<MeshArray>& out) override;
    int getImageEntry(ref_ptr<IZimImageEntry>& out, int index) override;
    int setCurrentImage(int* index) override;
    int notifySelMarkCount(unsigned long long count) override;
    bool hasTexIndices(const ref_ptr<IZimMesh>& mesh) override;

    int createProject(const QString& path) override;
    int openProject(const QString& path, IZimProgress* progress) override;
    int saveProject() override;
    int saveProjectAs(const QString& path) override;
    int closeProject() override;
    bool isModified() override;
    QString projectPath() override;
    int addImage(const QString& photoPath, const QString& meshPath, const QString& label) override;
    int imageCount() override;
    int setImageMarks(int index, int kind, const ref_ptr<MarkArray>& marks) override;
    int setImageMapped(int index, bool mapped) override;
    int setScreenPath(const ref_ptr<Pnt2dArray>& points) override;
    int setMode(float mode) override;
    int setGroup(const QString& name, const ref_ptr<IntArray>& indices) override;
    int removeGroup(const QString& name) override;
    int getMissingFiles(QStringList& out) override;
    unsigned long long selMarkCount() override;
    QString lastError() override;
    QString openNotice() override;
    int getImageCamera(int index, ZimPhotoCamera& out) override;
    int setImageCamera(int index, const ZimPhotoCamera* camera) override;
    int notifyTextureEdited(int index) override;
    bool isTextureEdited(int index) override;
    int setWorkingTexture(int index, const QString& path) override;
    QString workingTexture(int index) override;

    // ---- for the objects handed out ----

    // The open project when it is the one of `generation`, else null.
    OpenProject* project(quint64 generation);
    OpenProject* current() { return m_project.get(); }
    bool validIndex(const OpenProject* p, int index) const { return p && index >= 0 && index < p->rt.size(); }
    int indexOf(const IZimMesh* mesh);
    void syncOrder(OpenProject& p);
    // The awake, loaded meshes that have a texture (or not), in project order.
    int awakeMeshes(ref_ptr<MeshArray>& out, bool textured);
    QSize photoSize(OpenProject& p, int index);
    // Level 1 of an image (null when there is none); `cached` tells whether it is the mesh's own.
    ref_ptr<IZimImage> texture(OpenProject& p, int index, bool* cached);
    ref_ptr<IZimImage> alphaImage(OpenProject& p, int index, bool create);
    ref_ptr<IZimImage> storeImage(OpenProject& p, int index, int kind);
    unsigned long long selectedMarks(const ref_ptr<MeshArray>& meshes);

protected:
    ~ModelManager() override;

private:
    int fail(const QString& error);
    // Installs a project read or made elsewhere, closing the one open before.
    void install(std::unique_ptr<OpenProject> project);
    void teardown(bool releaseGpu);
    // Builds the meshes, scene items and file checks of a project read from disk; false when
    // the user cancelled.
    bool prepare(OpenProject& p, IZimProgress* progress);
    void addRuntime(OpenProject& p, int index);
    void assignNames(OpenProject& p, int from);
    void rebuildOrderArray(OpenProject& p);
    QString cacheFolderFor(const QString& projectPath) const;
    void forgetAlpha(ImageRuntime& r);
    // The project as it is now counts as the opened or saved one.
    void markSaved(OpenProject& p);

    std::unique_ptr<OpenProject> m_project;
    quint64 m_generation = 0;
    QString m_error;
    unsigned long long m_selMarks = 0;
};

// The objects handed out; each belongs to the project of `generation` (KernelObjects.cpp).
ref_ptr<IZimTqState> newProjectState(bool followOpenProject, quint64 generation);
ref_ptr<IZimImageStore> newImageStore(quint64 generation);
ref_ptr<IZimImageRecord> newImageRecord(quint64 generation, int index);
ref_ptr<IZimImageEntry> newImageEntry(const OpenProject& p, int index);
ref_ptr<IZimScreenPath> newScreenPath(const QVector<XPnt2d>& points);
ref_ptr<IZimModelItems> newModelItems(quint64 generation);

}  // namespace kernel
}  // namespace zim
