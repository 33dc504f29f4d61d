// The small objects the model manager hands out: project state, image store, image records and
// entries, the screen path, model items and settings; and the kernel's free functions that
// belong to the project model.
#include <QFileInfo>
#include <QSet>

#include "KernelModel.h"
#include "KernelScene.h"

namespace zim {
namespace kernel {

namespace {

ModelManager* mm() { return ModelManager::instance(); }

// ---- state ----------------------------------------------------------------------------------

class ProjectState final : public IZimTqState {
public:
    ProjectState(bool follow, quint64 generation) : m_follow(follow), m_generation(generation) {}
    bool hasOpenProject() override { return project() != nullptr; }
    int getImageStore(ref_ptr<IZimImageStore>& out) override
    {
        OpenProject* p = project();
        out = p ? p->store : ref_ptr<IZimImageStore>();
        return out ? 0 : -1;
    }
    float getMode() override
    {
        OpenProject* p = project();
        return p ? p->data.mode : 0.0f;
    }

private:
    OpenProject* project() { return m_follow ? mm()->current() : mm()->project(m_generation); }
    bool m_follow;
    quint64 m_generation;
};

// ---- image store ----------------------------------------------------------------------------

class ImageStore final : public IZimImageStore {
public:
    explicit ImageStore(quint64 generation) : m_generation(generation) {}

    bool isStoreReady() override { return project() != nullptr; }
    int getImageRecord(ref_ptr<IZimImageRecord>& out, int index) override
    {
        OpenProject* p = project();
        out = mm()->validIndex(p, index) ? p->rt[index].record : ref_ptr<IZimImageRecord>();
        return out ? 0 : -1;
    }
    bool hasMarks(int index) override
    {
        OpenProject* p = project();
        if (!mm()->validIndex(p, index)) return false;
        for (const auto& list : p->data.images[index].marks)
            if (!list.isEmpty()) return true;
        return false;
    }
    bool hasMeshData(int index) override
    {
        OpenProject* p = project();
        return mm()->validIndex(p, index) && p->rt[index].mesh->isLoaded();
    }
    bool hasSourceImage(int index) override
    {
        OpenProject* p = project();
        if (!mm()->validIndex(p, index)) return false;
        const ProjectMesh& mesh = *p->rt[index].mesh;
        if (mesh.textureInMemory()) return true;
        return !mesh.textureReadPath().isEmpty() && QFileInfo(mesh.textureReadPath()).isFile();
    }
    bool hasReadyImage(int index) override
    {
        OpenProject* p = project();
        return mm()->validIndex(p, index) && mm()->photoSize(*p, index).isValid();
    }
    int findImageByName(const QString& name) override
    {
        OpenProject* p = project();
        if (!p || name.isEmpty()) return -1;
        mm()->syncOrder(*p);
        const bool byPath = name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'));
        const QString wanted = byPath ? QFileInfo(name).absoluteFilePath() : name;
        int loose = -1;
        for (int index : qAsConst(p->data.order)) {
            const QString& photo = p->data.images[index].photoPath;
            const QString have = byPath ? photo : QFileInfo(photo).fileName();
            if (have == wanted) return index;
            if (loose < 0 && have.compare(wanted, Qt::CaseInsensitive) == 0) loose = index;
        }
        return loose;
    }
    int getImageIds(ref_ptr<IntArray>& out) override
    {
        OpenProject* p = project();
        if (!p) {
            out.reset();
            return -1;
        }
        mm()->syncOrder(*p);
        out = newIntArray();
        out->reserve(p->data.order.size());
        for (int index : qAsConst(p->data.order)) out->append(index);
        return 0;
    }
    int getStoreImage(ref_ptr<IZimImage>& out, int index, int kind) override
    {
        OpenProject* p = project();
        out = mm()->validIndex(p, index) ? mm()->storeImage(*p, index, kind) : ref_ptr<IZimImage>();
        return out ? 0 : -1;
    }
    int getSourceImage(ref_ptr<IZimImage>& out, int index) override { return getStoreImage(out, index, 1); }
    int getAlphaImage(ref_ptr<IZimImage>& out, int index, int level, bool create) override
    {
        OpenProject* p = project();
        out = mm()->validIndex(p, index) && level == 1 ? mm()->alphaImage(*p, index, create) : ref_ptr<IZimImage>();
        return out ? 0 : -1;
    }

    QString cacheFolder() override
    {
        OpenProject* p = project();
        return p ? p->levels.cacheFolder() : QString();
    }
    int setPrefetch(bool enabled) override
    {
        OpenProject* p = project();
        if (!p) return -1;
        p->levels.setPrefetch(enabled);
        return 0;
    }
    int waitForPrefetch() override
    {
        OpenProject* p = project();
        if (!p) return -1;
        p->levels.waitForPrefetch();
        return 0;
    }
    int releaseImages() override
    {
        OpenProject* p = project();
        if (!p) return -1;
        p->levels.release();
        for (ImageRuntime& r : p->rt) {
            r.alphaKnown = false;
            r.alpha.reset();
            r.alphaSource.reset();
        }
        return 0;
    }

private:
    OpenProject* project() { return mm()->project(m_generation); }
    quint64 m_generation;
};

// ---- image record ---------------------------------------------------------------------------

class ImageRecord final : public IZimImageRecord {
public:
    ImageRecord(quint64 generation, int index) : m_generation(generation), m_index(index) {}

    ref_ptr<Pnt2dArray> getMarkUVs() override { return refresh() ? m_uvs : nullptr; }
    ref_ptr<Pnt3dArray> getMarkPoints() override { return refresh() ? m_points : nullptr; }
    int controlPointCount() const override
    {
        OpenProject* p = mm()->project(m_generation);
        return mm()->validIndex(p, m_index) ? p->data.images[m_index].marks[ZimMarkControl].size() : 0;
    }
    ref_ptr<MarkArray> getPointMarks() override { return refresh() ? m_lists[ZimMarkPoint] : nullptr; }
    ref_ptr<MarkArray> getTrackMarks() override { return refresh() ? m_lists[ZimMarkTrack] : nullptr; }
    ref_ptr<MarkArray> getSelectedMarks() override { return refresh() ? m_lists[ZimMarkSelected] : nullptr; }
    QSize imageSizeAt(int level) override
    {
        OpenProject* p = mm()->project(m_generation);
        if (!mm()->validIndex(p, m_index)) return {};
        if (level == 1) {
            const ProjectMesh& mesh = *p->rt[m_index].mesh;
            if (mesh.textureInMemory()) {
                const ref_ptr<IZimImage> t = const_cast<ProjectMesh&>(mesh).meshTexture();
                return t ? QSize(t->imageWidth(), t->imageHeight()) : QSize();
            }
            if (mesh.textureReadPath().isEmpty()) return {};
            return readHeaderSize(mesh.textureReadPath());
        }
        const QSize full = mm()->photoSize(*p, m_index);
        if (level == 2 || !full.isValid()) return level == 2 ? full : QSize();
        if (level != 3) return {};
        if (full.width() <= ZimReducedLevelSide && full.height() <= ZimReducedLevelSide) return full;
        // The same rule the decoder uses (IZimImage::imageLoadScaled).
        return full.scaled(ZimReducedLevelSide, ZimReducedLevelSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    }
    int prepareMarks() override { return refresh() ? 0 : -1; }
    int imageIndex() const override { return m_index; }
    ref_ptr<MarkArray> getMarks(int kind) override
    {
        OpenProject* p = mm()->project(m_generation);
        if (!mm()->validIndex(p, m_index) || kind < 0 || kind >= kMarkKinds) return nullptr;
        ref_ptr<MarkArray> out(new MarkArray());
        for (const MarkRecord& r : p->data.images[m_index].marks[kind]) out->append(r);
        return out;
    }
    int setMarks(int kind, const ref_ptr<MarkArray>& marks) override
    {
        return mm()->project(m_generation) ? mm()->setImageMarks(m_index, kind, marks) : -1;
    }

private:
    // Rebuilds the arrays when the project's marks changed since they were made.
    bool refresh()
    {
        OpenProject* p = mm()->project(m_generation);
        if (!mm()->validIndex(p, m_index)) {
            m_uvs.reset();
            m_points.reset();
            for (auto& l : m_lists) l.reset();
            return false;
        }
        const quint64 version = p->rt[m_index].marksVersion;
        if (m_uvs && version == m_version) return true;
        const ImageData& im = p->data.images[m_index];
        m_uvs = newPnt2dArray();
        m_points = newPnt3dArray();
        for (const MarkRecord& r : im.marks[ZimMarkControl]) {
            m_uvs->append(r.uv);
            m_points->append(r.point);
        }
        for (int k = 0; k < kMarkKinds; ++k) {
            m_lists[k] = new MarkArray();
            for (const MarkRecord& r : im.marks[k]) m_lists[k]->append(r);
        }
        m_version = version;
        return true;
    }

    quint64 m_generation;
    int m_index;
    quint64 m_version = 0;
    ref_ptr<Pnt2dArray> m_uvs;
    ref_ptr<Pnt3dArray> m_points;
    ref_ptr<MarkArray> m_lists[kMarkKinds];
};

// ---- image entry ----------------------------------------------------------------------------

class ImageEntry final : public IZimImageEntry {
public:
    int imageIndex() const override { return index; }
    QString photoPath() const override { return photo; }
    QString meshPath() const override { return mesh; }
    QString label() const override { return text; }
    bool isMapped() const override { return mapped; }
    bool isTextureVisible() const override { return visible; }
    bool isAsleep() const override { return asleep; }
    int order() const override { return position; }
    bool hasPhotoFile() const override { return photoThere; }
    bool hasMeshFile() const override { return meshThere; }

    int index = -1, position = -1;
    QString photo, mesh, text;
    bool mapped = false, visible = false, asleep = false, photoThere = false, meshThere = false;
};

// ---- screen path ----------------------------------------------------------------------------

class ScreenPath final : public IZimScreenPath {
public:
    explicit ScreenPath(const QVector<XPnt2d>& points) : m_points(points) {}
    int pathPointCount() override { return m_points.size(); }
    XPnt2d pathPointAt(int i) override
    {
        if (i >= 0 && i < m_points.size()) return m_points[i];
        XPnt2d invalid;
        invalid.setInvalid();
        return invalid;
    }

private:
    QVector<XPnt2d> m_points;
};

// ---- model items ----------------------------------------------------------------------------

// The meshes of a group by name: every mesh in project order for "DEFAULT"; false when the
// group is gone.
bool groupMeshes(OpenProject& p, const QString& name, QVector<ProjectMesh*>* out)
{
    out->clear();
    if (name == QLatin1String(kDefaultGroup)) {
        mm()->syncOrder(p);
        for (int index : qAsConst(p.data.order)) out->append(p.rt[index].mesh.get());
        return true;
    }
    for (const GroupData& g : qAsConst(p.data.groups)) {
        if (g.name != name) continue;
        for (int index : g.members) out->append(p.rt[index].mesh.get());
        return true;
    }
    return false;
}

class ModelItem final : public IZimModelItem {
public:
    ModelItem(quint64 generation, const QString& name) : m_generation(generation), m_name(name) {}
    int resetItem() override { return resetItemState(0); }
    int resetItemState(int flags) override
    {
        OpenProject* p = mm()->project(m_generation);
        QVector<ProjectMesh*> meshes;
        if (!p || !groupMeshes(*p, m_name, &meshes)) return -1;
        for (ProjectMesh* mesh : qAsConst(meshes)) {
            mesh->setMeshCurrent(false);
            if (flags & 1) releaseMeshGpuData(mesh);
        }
        return 0;
    }
    QString itemName() override { return m_name; }

private:
    quint64 m_generation;
    QString m_name;
};

class ModelItems final : public IZimModelItems {
public:
    explicit ModelItems(quint64 generation) : m_generation(generation) {}
    int itemCount() override
    {
        OpenProject* p = mm()->project(m_generation);
        return p ? 1 + p->data.groups.size() : 0;
    }
    ref_ptr<IZimModelItem> itemAt(int i) override
    {
        OpenProject* p = mm()->project(m_generation);
        if (!p || i < 0 || i > p->data.groups.size()) return nullptr;
        return new ModelItem(m_generation, i == 0 ? QString::fromLatin1(kDefaultGroup) : p->data.groups[i - 1].name);
    }
    int getGroups(QStringList& names, QVector<ref_ptr<MeshArray>>& meshes) override
    {
        names.clear();
        meshes.clear();
        OpenProject* p = mm()->project(m_generation);
        if (!p) return -1;
        names << QString::fromLatin1(kDefaultGroup);
        for (const GroupData& g : qAsConst(p->data.groups)) names << g.name;
        for (const QString& name : qAsConst(names)) {
            QVector<ProjectMesh*> list;
            groupMeshes(*p, name, &list);
            ref_ptr<MeshArray> array = newMeshArray();
            for (ProjectMesh* mesh : qAsConst(list)) array->appendMesh(mesh);
            meshes.append(array);
        }
        return 0;
    }

private:
    quint64 m_generation;
};

// ---- settings -------------------------------------------------------------------------------

struct Settings {
    bool hasBackground = false;
    ZimColor3f background;
};
Settings& settings()
{
    static Settings s;
    return s;
}

class TqSetting final : public IZimTqSetting {
public:
    int getBackgroundColor(ZimColor3f* colour) override
    {
        if (!colour || !settings().hasBackground) return -1;
        *colour = settings().background;
        return 0;
    }
    int setBackgroundColor(const ZimColor3f& colour) override
    {
        const auto ok = [](float v) { return v >= 0.0f && v <= 1.0f; };
        if (!ok(colour.r) || !ok(colour.g) || !ok(colour.b)) return -1;
        settings().background = colour;
        settings().hasBackground = true;
        return 0;
    }
};

}  // namespace

ref_ptr<IZimTqState> newProjectState(bool followOpenProject, quint64 generation)
{
    return new ProjectState(followOpenProject, generation);
}
ref_ptr<IZimImageStore> newImageStore(quint64 generation) { return new ImageStore(generation); }
ref_ptr<IZimImageRecord> newImageRecord(quint64 generation, int index) { return new ImageRecord(generation, index); }
ref_ptr<IZimScreenPath> newScreenPath(const QVector<XPnt2d>& points) { return new ScreenPath(points); }
ref_ptr<IZimModelItems> newModelItems(quint64 generation) { return new ModelItems(generation); }

ref_ptr<IZimImageEntry> newImageEntry(const OpenProject& p, int index)
{
    const ImageData& im = p.data.images[index];
    const ImageRuntime& r = p.rt[index];
    ref_ptr<ImageEntry> e(new ImageEntry());
    e->index = index;
    e->position = p.data.order.indexOf(index);
    e->photo = im.photoPath;
    e->mesh = im.meshPath;
    e->text = im.label;
    e->mapped = im.mapped;
    e->visible = im.textureVisible;
    e->asleep = im.asleep || !r.mesh->isLoaded();
    e->photoThere = QFileInfo(im.photoPath).isFile();
    e->meshThere = QFileInfo(im.meshPath).isFile();
    return e;
}

}  // namespace kernel

ref_ptr<IZimMM> getMM()
{
    static ref_ptr<IZimMM> manager(new kernel::ModelManager());
    return manager;
}

ref_ptr<IZimTqState> newZimTqState() { return kernel::newProjectState(true, 0); }

ref_ptr<IZimTqSetting> newZimTqSetting() { return new kernel::TqSetting(); }

unsigned long long getSelMarkCount(const ref_ptr<MeshArray>& meshes)
{
    return kernel::ModelManager::instance()->selectedMarks(meshes);
}

}  // namespace zim
