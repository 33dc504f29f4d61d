// The model manager: project life cycle, images, meshes and their lists, marks, blobs.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QRunnable>
#include <QSet>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "KernelModel.h"
#include "KernelScene.h"

namespace zim {
namespace kernel {

QSize readHeaderSize(const QString& path)
{
    // A FIFO or device would block the reader or feed it without end.
    if (!QFileInfo(path).isFile()) return QSize();
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.size();
}

namespace {

ZIM_TR_CONTEXT("OrvKernel")

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

// The project file a path names, with every symbolic link (of the file and of its folders)
// resolved: stored paths are relative to the folder the file really lies in, so opening or
// saving it through a link elsewhere must not change them. A file that does not exist yet is
// placed in the real folder; without one the path is only made absolute.
QString realProjectPath(const QString& path)
{
    const QFileInfo info(path);
    const QString real = info.canonicalFilePath();
    if (!real.isEmpty()) return real;
    if (info.isSymLink()) return info.absoluteFilePath();  // dangling: the save resolves it
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : QDir(folder).filePath(info.fileName());
}

// A 24-bit image of weights (0..255 in bytes 0, 1 and 2), rows bottom-up, from a top-down
// 8-bit grey picture.
ref_ptr<IZimImage> weightImage(const QImage& picture)
{
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    ref_ptr<IZimImage> out = newZimImage();
    const int w = grey.width(), h = grey.height();
    if (!out->imageCreate(w, h, ZimImageBits24, ZimImageNoMarks)) return nullptr;
    for (int y = 0; y < h; ++y) {
        const uchar* src = grey.constScanLine(h - 1 - y);
        unsigned char* dst = out->imageData(y);
        for (int x = 0; x < w; ++x) dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = src[x];
    }
    return out;
}

ref_ptr<IZimImage> opaqueWeights(int width, int height)
{
    QImage full(width, height, QImage::Format_Grayscale8);
    full.fill(255);
    return weightImage(full);
}

// The transparency of a texture: the map_d file when given, else the texture's alpha channel
// when it is below 255 somewhere; null for none.
ref_ptr<IZimImage> transparency(const ref_ptr<IZimImage>& tex, const QString& file, QString* error)
{
    if (!file.isEmpty() && !QFileInfo(file).isFile()) {
        // Never opened: a FIFO or device would block the reader or feed it without end.
        *error = QFileInfo::exists(file)
                     ? tr("cannot read the transparency map %1: it is not a regular file").arg(native(file))
                     : tr("cannot read the transparency map %1: the file does not exist").arg(native(file));
    } else if (!file.isEmpty()) {
        QImageReader reader(file);
        reader.setDecideFormatFromContent(true);
        QImage grey = reader.read().convertToFormat(QImage::Format_Grayscale8);
        if (!grey.isNull()) {
            if (tex && (grey.width() != tex->imageWidth() || grey.height() != tex->imageHeight()))
                grey =
                    grey.scaled(tex->imageWidth(), tex->imageHeight(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            return weightImage(grey);
        }
        *error = tr("cannot read the transparency map %1: %2").arg(native(file), reader.errorString());
    }
    if (!tex || !tex->imageHasAlpha()) return nullptr;
    // Alpha is byte 3 of a B, G, R, A pixel.
    const int w = tex->imageWidth(), h = tex->imageHeight();
    QImage grey(w, h, QImage::Format_Grayscale8);
    bool seeThrough = false;
    for (int y = 0; y < h; ++y) {
        const unsigned char* src = tex->imageData(y);
        uchar* dst = grey.scanLine(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            dst[x] = src[4 * x + 3];
            seeThrough = seeThrough || dst[x] != 255;
        }
    }
    return seeThrough ? weightImage(grey) : nullptr;
}

ref_ptr<IZimSceneItem> makeSceneItem(quint64 generation, int index, const ref_ptr<IZimMesh>& mesh)
{
    return newMeshSceneItem(index, mesh, [generation](int i) {
        MeshDrawState state;
        OpenProject* p = ModelManager::instance()->project(generation);
        if (!p || i < 0 || i >= p->rt.size()) {
            state.asleep = true;
            return state;
        }
        state.asleep = p->data.images[i].asleep || !p->rt[i].mesh->isLoaded();
        state.textureShown = p->data.images[i].textureVisible;
        return state;
    });
}

}  // namespace

// ---- life of the manager --------------------------------------------------------------------

ModelManager::ModelManager() = default;

// At exit the GL contexts and the scene's bookkeeping may be gone already: only memory is freed.
ModelManager::~ModelManager() { teardown(false); }

ModelManager* ModelManager::instance() { return static_cast<ModelManager*>(getMM().get()); }

OpenProject* ModelManager::project(quint64 generation)
{
    return m_project && m_project->generation == generation ? m_project.get() : nullptr;
}

int ModelManager::fail(const QString& error)
{
    m_error = error;
    return -1;
}

QString ModelManager::lastError() { return m_error; }

QString ModelManager::openNotice() { return m_project ? m_project->notice : QString(); }

QString ModelManager::cacheFolderFor(const QString& projectPath) const
{
    const QFileInfo info(projectPath);
    return QDir(info.absolutePath())
        .filePath(QStringLiteral("%1.orvcache/reduced-%2").arg(info.completeBaseName()).arg(ZimReducedLevelSide));
}

void ModelManager::teardown(bool releaseGpu)
{
    if (!m_project) return;
    OpenProject& p = *m_project;
    p.levels.cancel();
    // Panels may still hold the meshes: leave them empty rather than holding the project's data.
    for (ImageRuntime& r : p.rt) {
        if (!r.mesh) continue;
        r.mesh->detach();
        if (releaseGpu) releaseMeshGpuData(r.mesh.get());
        r.item.reset();
    }
    m_project.reset();
}

void ModelManager::install(std::unique_ptr<OpenProject> project)
{
    teardown(true);
    project->generation = ++m_generation;
    const quint64 gen = project->generation;
    project->state = newProjectState(false, gen);
    project->store = newImageStore(gen);
    project->items = newModelItems(gen);
    project->screenPath = newScreenPath(project->data.screenPath);
    project->levels.setCacheFolder(cacheFolderFor(project->path));
    for (int i = 0; i < project->rt.size(); ++i) {
        ImageRuntime& r = project->rt[i];
        r.record = newImageRecord(gen, i);
        r.item = makeSceneItem(gen, i, r.mesh);
    }
    m_project = std::move(project);
    OpenProject& p = *m_project;
    rebuildOrderArray(p);
    markSaved(p);
    if (p.data.currentImage >= 0) p.levels.pin(p.data.currentImage);
    QList<PhotoKey> keys;
    for (const ImageData& im : qAsConst(p.data.images)) keys.append(photoKey(im.photoPath));
    p.levels.prune(keys);
    for (int index : qAsConst(p.data.order)) p.levels.schedule(index, p.data.images[index].photoPath);
}

void ModelManager::addRuntime(OpenProject& p, int index)
{
    const ImageData& im = p.data.images[index];
    ImageRuntime r;
    r.mesh = new ProjectMesh(im.meshPath, im.texturePath, im.alphaPath);
    if (!im.workingTexturePath.isEmpty()) r.mesh->setWorkingTexturePath(im.workingTexturePath);
    if (!im.label.isEmpty()) r.mesh->setMeshLabel(im.label);
    r.mesh->setMeshTextureVisible(im.textureVisible && !im.asleep);
    r.meshFound = QFileInfo(im.meshPath).isFile();
    p.byMesh.insert(r.mesh.get(), index);
    p.rt.append(r);
}

void ModelManager::assignNames(OpenProject& p, int from)
{
    QSet<QString> used;
    for (int i = 0; i < from; ++i) {
        QString name, texture;
        p.rt[i].mesh->meshName(name);
        p.rt[i].mesh->meshTextureName(texture);
        used << name << texture;
    }
    const auto unique = [&](const QString& base) {
        if (base.isEmpty() || !used.contains(base)) return base;
        for (int k = 2;; ++k) {
            const QString candidate = QStringLiteral("%1~%2").arg(base).arg(k);
            if (!used.contains(candidate)) return candidate;
        }
    };
    for (int i = from; i < p.rt.size(); ++i) {
        ProjectMesh& mesh = *p.rt[i].mesh;
        const QString name = unique(QFileInfo(p.data.images[i].meshPath).completeBaseName());
        const QString texture =
            mesh.meshTexturePath().isEmpty() ? QString() : unique(QFileInfo(mesh.meshTexturePath()).completeBaseName());
        mesh.setMeshName(name);
        mesh.setTextureName(texture);
        used << name << texture;
    }
}

void ModelManager::rebuildOrderArray(OpenProject& p)
{
    if (!p.order) p.order = newMeshArray();
    while (p.order->meshCount() > 0) p.order->removeMeshAt(p.order->meshCount() - 1);
    for (int index : qAsConst(p.data.order)) p.order->appendMesh(p.rt[index].mesh);
}

void ModelManager::syncOrder(OpenProject& p)
{
    const int n = p.rt.size();
    const MeshArray& array = *p.order;
    bool same = array.meshCount() == n;
    for (int i = 0; same && i < n; ++i) same = array.meshAt(i).get() == p.rt[p.data.order[i]].mesh.get();
    if (same) return;
    // A caller moved meshes in the array: take its order, drop strangers and repeats, and put
    // meshes it lost back at the end in their old order.
    QVector<int> order;
    QVector<bool> seen(n, false);
    for (int i = 0; i < array.meshCount(); ++i) {
        const int index = p.byMesh.value(array.meshAt(i).get(), -1);
        if (index >= 0 && !seen[index]) {
            seen[index] = true;
            order.append(index);
        }
    }
    for (int index : qAsConst(p.data.order))
        if (!seen[index]) order.append(index);
    if (order != p.data.order) {
        p.data.order = order;
        p.changed = true;
    }
    rebuildOrderArray(p);
}

int ModelManager::indexOf(const IZimMesh* mesh) { return m_project && mesh ? m_project->byMesh.value(mesh, -1) : -1; }

// ---- opening, saving, closing ---------------------------------------------------------------

bool ModelManager::prepare(OpenProject& p, IZimProgress* progress)
{
    for (int i = 0; i < p.data.images.size(); ++i) addRuntime(p, i);

    // Awake meshes are read in parallel; the GUI thread waits and reports progress.
    struct Load {
        int index = -1;
        QString path;
        ref_ptr<IZimMesh> mesh;
        QString error;
        std::atomic<bool> done{false};
    };
    std::vector<std::unique_ptr<Load>> loads;
    for (int i = 0; i < p.data.images.size(); ++i) {
        if (p.data.images[i].asleep) continue;
        auto load = std::make_unique<Load>();
        load->index = i;
        load->path = p.data.images[i].meshPath;
        loads.push_back(std::move(load));
    }
    ZimProgressRange range(progress, tr("Opening the project..."));
    QThreadPool pool;
    std::atomic<bool> stop{false};
    for (auto& load : loads) {
        Load* l = load.get();
        pool.start(QRunnable::create([l, &stop] {
            if (!stop.load()) l->mesh = loadObjMesh(l->path, &l->error);
            l->done.store(true);
        }));
    }
    std::size_t reported = 0;
    bool canceled = false;
    for (;;) {
        const bool finished = pool.waitForDone(20);
        std::size_t done = 0;
        for (const auto& load : loads) done += load->done.load() ? 1 : 0;
        for (; reported < done; ++reported) range.step(1.0 / double(loads.size()));
        if (finished) break;
        if (!canceled && range.canceled()) {
            canceled = true;
            stop.store(true);
        }
    }
    if (canceled || range.canceled()) return false;

    for (const auto& load : loads) {
        ImageRuntime& r = p.rt[load->index];
        if (load->mesh) {
            r.mesh->attach(load->mesh);
        } else {
            r.mesh->setError(load->error);
            if (r.meshFound) p.missing.append(tr("%1 (%2)").arg(native(load->path), load->error));
        }
    }
    assignNames(p, 0);
    for (int i = 0; i < p.data.images.size(); ++i) {
        ImageRuntime& r = p.rt[i];
        const ImageData& im = p.data.images[i];
        if (!r.meshFound) p.missing.append(native(im.meshPath));
        r.sizeKey = photoKey(im.photoPath);
        r.photoSize = r.sizeKey.exists ? readHeaderSize(im.photoPath) : QSize();
        if (!r.sizeKey.exists) p.missing.append(native(im.photoPath));
        r.mesh->setMeshTextureVisible(im.textureVisible && r.mesh->isLoaded());
    }
    return true;
}

int ModelManager::createProject(const QString& path)
{
    if (path.isEmpty()) return fail(tr("cannot create a project: no file name given"));
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        return fail(tr("cannot create the project %1: the file exists already").arg(native(info.absoluteFilePath())));
    if (!info.absoluteDir().exists())
        return fail(tr("cannot create the project %1: the folder does not exist").arg(native(info.absoluteFilePath())));
    auto p = std::make_unique<OpenProject>();
    p->path = realProjectPath(path);
    QString error;
    if (!writeProjectFile(p->data, p->path, &error)) return fail(error);
    install(std::move(p));
    m_error.clear();
    return 0;
}

int ModelManager::openProject(const QString& path, IZimProgress* progress)
{
    if (path.isEmpty()) return fail(tr("cannot open a project: no file name given"));
    auto p = std::make_unique<OpenProject>();
    p->path = realProjectPath(path);
    QString error;
    if (!readProjectFile(p->path, &p->data, &error, &p->notice)) return fail(error);
    if (!prepare(*p, progress)) return fail(tr("opening the project %1 was cancelled").arg(native(p->path)));
    const QStringList missing = p->missing;
    install(std::move(p));
    m_error = missing.isEmpty()
                  ? QString()
                  : QCoreApplication::translate("OrvKernel", "%n file(s) of the project could not be read: %1", nullptr,
                                                missing.size())
                        .arg(missing.join(QStringLiteral(", ")));
    return 0;
}

int ModelManager::saveProject()
{
    if (!m_project) return fail(tr("cannot save: no project is open"));
    syncOrder(*m_project);
    QString error;
    if (!writeProjectFile(m_project->data, m_project->path, &error)) return fail(error);
    markSaved(*m_project);
    m_project->notice.clear();
    m_error.clear();
    return 0;
}

int ModelManager::saveProjectAs(const QString& path)
{
    if (!m_project) return fail(tr("cannot save: no project is open"));
    if (path.isEmpty()) return fail(tr("cannot save the project: no file name given"));
    syncOrder(*m_project);
    const QString target = realProjectPath(path);
    QString error;
    if (!writeProjectFile(m_project->data, target, &error)) return fail(error);
    m_project->path = target;
    markSaved(*m_project);
    m_project->notice.clear();
    m_project->levels.setCacheFolder(cacheFolderFor(target));
    m_error.clear();
    return 0;
}

int ModelManager::closeProject()
{
    if (!m_project) return 1;
    teardown(true);
    m_error.clear();
    return 0;
}

void ModelManager::markSaved(OpenProject& p)
{
    p.savedDigest = changeDigest(p.data);
    p.changed = false;
    p.differs = false;
    for (ImageRuntime& r : p.rt) r.textureEdited = false;
}

bool ModelManager::isModified()
{
    if (!m_project) return false;
    OpenProject& p = *m_project;
    // A mesh moved in the order array is a change the next save writes.
    syncOrder(p);
    if (p.changed) {
        p.differs = changeDigest(p.data) != p.savedDigest;
        p.changed = false;
    }
    if (p.differs) return true;
    for (const ImageRuntime& r : qAsConst(p.rt))
        if (r.textureEdited) return true;
    return false;
}

int ModelManager::setModified(bool modified)
{
    if (!m_project) return -1;
    if (modified) {
        m_project->changed = true;
    } else {
        syncOrder(*m_project);
        markSaved(*m_project);
    }
    return 0;
}

QString ModelManager::projectPath() { return m_project ? m_project->path : QString(); }

bool ModelManager::isProjectOpen() { return m_project != nullptr; }

int ModelManager::getState(ref_ptr<IZimTqState>& out)
{
    out = m_project ? m_project->state : ref_ptr<IZimTqState>();
    return out ? 0 : -1;
}

int ModelManager::getMissingFiles(QStringList& out)
{
    out = m_project ? m_project->missing : QStringList();
    return out.size();
}

// ---- images ---------------------------------------------------------------------------------

int ModelManager::addImage(const QString& photoPath, const QString& meshPath, const QString& label)
{
    if (!m_project) return fail(tr("cannot add an image: no project is open"));
    OpenProject& p = *m_project;
    const QString photo = QFileInfo(photoPath).absoluteFilePath();
    const QString obj = QFileInfo(meshPath).absoluteFilePath();
    if (photoPath.isEmpty() || meshPath.isEmpty())
        return fail(tr("cannot add an image: a photo and a mesh are needed"));
    for (int i = 0; i < p.data.images.size(); ++i) {
        if (p.data.images[i].photoPath == photo)
            return fail(tr("the photo %1 is in the project already (image %2)").arg(native(photo)).arg(i));
        if (p.data.images[i].meshPath == obj)
            return fail(tr("the mesh %1 is in the project already (image %2)").arg(native(obj)).arg(i));
    }
    const QSize size = readHeaderSize(photo);
    if (!size.isValid()) {
        if (!QFileInfo::exists(photo))
            return fail(
                photo.contains(QChar::ReplacementCharacter)
                    ? tr("the photo %1 cannot be opened: its name is not valid UTF-8 (rename it)").arg(native(photo))
                    : tr("the photo %1 does not exist").arg(native(photo)));
        if (!QFileInfo(photo).isFile()) return fail(tr("the photo %1 is not a regular file").arg(native(photo)));
        return fail(tr("the photo %1 is not an image that can be read").arg(native(photo)));
    }
    QString error;
    const ref_ptr<IZimMesh> loaded = loadObjMesh(obj, &error);
    if (!loaded) return fail(error);

    ImageData im;
    im.photoPath = photo;
    im.meshPath = obj;
    im.label = label;
    im.texturePath = loaded->meshTexturePath();
    im.alphaPath = loaded->meshAlphaTexturePath();
    const int index = p.data.images.size();
    p.data.images.append(im);
    p.data.order.append(index);
    addRuntime(p, index);
    ImageRuntime& r = p.rt[index];
    r.mesh->attach(loaded);
    if (label.isEmpty()) {
        QString objLabel;
        loaded->meshLabel(objLabel);
        r.mesh->setMeshLabel(objLabel);
    }
    assignNames(p, index);
    r.sizeKey = photoKey(photo);
    r.photoSize = size;
    r.record = newImageRecord(p.generation, index);
    r.item = makeSceneItem(p.generation, index, r.mesh);
    p.order->appendMesh(r.mesh);
    p.levels.schedule(index, photo);
    p.changed = true;
    m_error.clear();
    return index;
}

int ModelManager::imageCount() { return m_project ? m_project->rt.size() : 0; }

bool ModelManager::isImageAvailable(int index)
{
    return validIndex(m_project.get(), index) && photoSize(*m_project, index).isValid();
}

QSize ModelManager::photoSize(OpenProject& p, int index)
{
    ImageRuntime& r = p.rt[index];
    const PhotoKey key = photoKey(p.data.images[index].photoPath);
    if (key != r.sizeKey) {
        r.sizeKey = key;
        r.photoSize = key.exists ? readHeaderSize(key.path) : QSize();
    }
    return r.photoSize;
}

int ModelManager::getImageEntry(ref_ptr<IZimImageEntry>& out, int index)
{
    out = validIndex(m_project.get(), index) ? newImageEntry(*m_project, index) : ref_ptr<IZimImageEntry>();
    return out ? 0 : -1;
}

int ModelManager::reorderImage(int id, int mode, int target)
{
    OpenProject* p = m_project.get();
    if (!validIndex(p, id) || !validIndex(p, target) || mode < 0 || mode > 2) return -1;
    if (id == target) return 1;
    syncOrder(*p);
    QVector<int>& order = p->data.order;
    const int from = order.indexOf(id), to = order.indexOf(target);
    order.removeAt(from);
    const int t = order.indexOf(target);
    const int at = mode == 0 ? t : mode == 1 ? t + 1 : (from < to ? t + 1 : t);
    order.insert(at, id);
    rebuildOrderArray(*p);
    p->changed = true;
    return 0;
}

int ModelManager::setImageMapped(int index, bool mapped)
{
    if (!validIndex(m_project.get(), index)) return -1;
    m_project->data.images[index].mapped = mapped;
    m_project->changed = true;
    return 0;
}

int ModelManager::getImageCamera(int index, ZimPhotoCamera& out)
{
    out = ZimPhotoCamera();
    if (!validIndex(m_project.get(), index)) return -1;
    const ImageData& im = m_project->data.images[index];
    if (!im.hasCamera) return -1;
    out = im.camera;
    return 0;
}

int ModelManager::setImageCamera(int index, const ZimPhotoCamera* camera)
{
    if (!validIndex(m_project.get(), index)) return fail(tr("no image %1 in the project").arg(index));
    if (camera && !camera->isValid()) return fail(tr("the camera for image %1 is not valid").arg(index));
    ImageData& im = m_project->data.images[index];
    im.hasCamera = camera != nullptr;
    im.camera = camera ? *camera : ZimPhotoCamera();
    if (camera) {
        // The file keeps -0 as 0: hold the camera as it will read back.
        ZimPhotoCamera& c = im.camera;
        for (double* v : {&c.fx, &c.fy, &c.cx, &c.cy, &c.k1, &c.k2, &c.rms})
            if (*v == 0.0) *v = 0.0;
    }
    m_project->changed = true;
    return 0;
}

int ModelManager::notifyTextureEdited(int index)
{
    if (!validIndex(m_project.get(), index)) return fail(tr("no image %1 in the project").arg(index));
    ImageRuntime& r = m_project->rt[index];
    const ref_ptr<IZimImage> image = r.mesh->meshTexture();
    if (!image) return fail(tr("mesh %1 has no texture").arg(index));
    // Held in memory from now on, so that the edit survives the mesh going to sleep; this also
    // drops the GL texture made from the old pixels.
    r.mesh->setMeshTextureImage(image);
    // The transparency made from the old pixels is made again from the new ones.
    forgetAlpha(r);
    r.textureEdited = true;
    return 0;
}

bool ModelManager::isTextureEdited(int index)
{
    return validIndex(m_project.get(), index) && m_project->rt[index].textureEdited;
}

int ModelManager::setWorkingTexture(int index, const QString& path)
{
    if (!validIndex(m_project.get(), index)) return fail(tr("no image %1 in the project").arg(index));
    QString absolute;
    if (!path.isEmpty()) {
        const QFileInfo info(path);
        if (!info.isFile()) return fail(tr("the working texture %1 is not a file").arg(native(path)));
        // Held as it reads back from the project file, so that a save and reopen is no change.
        absolute = QDir::cleanPath(info.absoluteFilePath());
    }
    ImageData& im = m_project->data.images[index];
    if (im.workingTexturePath == absolute) return 0;
    im.workingTexturePath = absolute;
    ImageRuntime& r = m_project->rt[index];
    r.mesh->setWorkingTexturePath(absolute);
    // Without a working copy the mesh shows its material's texture again; pixels held in memory
    // are dropped unless they carry edits not saved yet, which are never thrown away here.
    if (absolute.isEmpty() && r.mesh->textureInMemory() && !r.textureEdited) {
        r.mesh->dropTextureInMemory();
        forgetAlpha(r);
    }
    m_project->changed = true;
    return 0;
}

QString ModelManager::workingTexture(int index)
{
    return validIndex(m_project.get(), index) ? m_project->data.images[index].workingTexturePath : QString();
}

bool ModelManager::isImageMapped(int index)
{
    return validIndex(m_project.get(), index) && m_project->data.images[index].mapped;
}

bool ModelManager::isMeshMapped(const ref_ptr<IZimMesh>& mesh) { return isImageMapped(indexOf(mesh.get())); }

int ModelManager::setImageMarks(int index, int kind, const ref_ptr<MarkArray>& marks)
{
    if (!validIndex(m_project.get(), index) || kind < 0 || kind >= kMarkKinds) return -1;
    QVector<MarkRecord>& list = m_project->data.images[index].marks[kind];
    list.clear();
    if (marks) {
        list.reserve(marks->count());
        for (const MarkRecord& r : *marks) list.append(r);
    }
    ++m_project->rt[index].marksVersion;
    m_project->changed = true;
    return 0;
}

int ModelManager::notifySelMarkCount(unsigned long long count)
{
    m_selMarks = count;
    return 0;
}

unsigned long long ModelManager::selMarkCount() { return m_selMarks; }

unsigned long long ModelManager::selectedMarks(const ref_ptr<MeshArray>& meshes)
{
    if (!meshes || !m_project) return 0;
    QSet<int> counted;
    unsigned long long total = 0;
    for (int i = 0; i < meshes->meshCount(); ++i) {
        const int index = indexOf(meshes->meshAt(i).get());
        if (index < 0 || counted.contains(index)) continue;
        counted.insert(index);
        total += unsigned(m_project->data.images[index].marks[ZimMarkSelected].size());
    }
    return total;
}

// ---- current image --------------------------------------------------------------------------

int ModelManager::setCurrentImageIndex(int index)
{
    if (!m_project || index < -1 || index >= m_project->rt.size()) return -1;
    m_project->data.currentImage = index;
    m_project->levels.pin(index);
    return 0;
}

int ModelManager::setCurrentImage(int* index)
{
    if (!index) return -1;
    if (setCurrentImageIndex(*index) == 0) return 0;
    if (m_project) setCurrentImageIndex(-1);
    *index = -1;
    return -1;
}

int ModelManager::getCurMeshIndex() { return m_project ? m_project->data.currentImage : -1; }

int ModelManager::getCurrentImage(ref_ptr<IZimImage>& out)
{
    out.reset();
    if (!m_project || m_project->data.currentImage < 0) return -1;
    out = storeImage(*m_project, m_project->data.currentImage, 2);
    return out ? 0 : -1;
}

// ---- image levels ---------------------------------------------------------------------------

ref_ptr<IZimImage> ModelManager::texture(OpenProject& p, int index, bool* cached)
{
    ProjectMesh& mesh = *p.rt[index].mesh;
    *cached = true;
    if (mesh.isLoaded() || mesh.textureInMemory()) return mesh.meshTexture();
    // A sleeping mesh stays asleep: its texture is read for the caller alone.
    *cached = false;
    if (mesh.textureReadPath().isEmpty()) return nullptr;
    return loadZimTexture(mesh.textureReadPath());
}

ref_ptr<IZimImage> ModelManager::storeImage(OpenProject& p, int index, int kind)
{
    QString error;
    ref_ptr<IZimImage> image;
    bool cached = false;
    switch (kind) {
        case 1:
            image = texture(p, index, &cached);
            break;
        case 2:
            image = p.levels.full(index, p.data.images[index].photoPath, &error);
            break;
        case 3:
            image = p.levels.reduced(index, p.data.images[index].photoPath, &error);
            break;
        default:
            return nullptr;
    }
    if (!image && !error.isEmpty()) m_error = error;
    return image;
}

void ModelManager::forgetAlpha(ImageRuntime& r)
{
    r.alphaKnown = false;
    r.alpha.reset();
    r.alphaSource.reset();
    r.alphaFile.clear();
}

ref_ptr<IZimImage> ModelManager::alphaImage(OpenProject& p, int index, bool create)
{
    ImageRuntime& r = p.rt[index];
    bool cached = false;
    const ref_ptr<IZimImage> tex = texture(p, index, &cached);
    const QString file = r.mesh->meshAlphaTexturePath();
    ref_ptr<IZimImage> alpha;
    if (cached && r.alphaKnown && r.alphaSource == tex && r.alphaFile == file) {
        alpha = r.alpha;
    } else {
        QString error;
        alpha = transparency(tex, file, &error);
        if (!error.isEmpty()) m_error = error;
        if (cached) {
            // Kept with the texture it was made from: a new texture image makes a new one.
            r.alpha = alpha;
            r.alphaSource = tex;
            r.alphaFile = file;
            r.alphaKnown = true;
        }
    }
    if (!alpha && create && tex) alpha = opaqueWeights(tex->imageWidth(), tex->imageHeight());
    return alpha;
}

// ---- meshes ---------------------------------------------------------------------------------

int ModelManager::indexOfMesh(const QString& name)
{
    if (!m_project || name.isEmpty()) return -1;
    QString have;
    for (int i = 0; i < m_project->rt.size(); ++i) {
        m_project->rt[i].mesh->meshName(have);
        if (have == name) return i;
    }
    for (int i = 0; i < m_project->rt.size(); ++i) {
        m_project->rt[i].mesh->meshTextureName(have);
        if (have == name) return i;
    }
    return -1;
}

int ModelManager::getMeshAt(ref_ptr<IZimMesh>& out, int index)
{
    out = validIndex(m_project.get(), index) ? ref_ptr<IZimMesh>(m_project->rt[index].mesh) : ref_ptr<IZimMesh>();
    return out ? 0 : -1;
}

int ModelManager::getMeshOrder(ref_ptr<MeshArray>& out)
{
    if (!m_project) {
        out.reset();
        return -1;
    }
    syncOrder(*m_project);
    out = m_project->order;
    return 0;
}

int ModelManager::awakeMeshes(ref_ptr<MeshArray>& out, bool textured)
{
    out.reset();
    if (!m_project) return -1;
    syncOrder(*m_project);
    out = newMeshArray();
    for (int index : qAsConst(m_project->data.order)) {
        const ImageRuntime& r = m_project->rt[index];
        if (m_project->data.images[index].asleep || !r.mesh->isLoaded()) continue;
        const bool hasTexture = !r.mesh->textureReadPath().isEmpty() || r.mesh->textureInMemory();
        if (hasTexture == textured) out->appendMesh(r.mesh);
    }
    return 0;
}

int ModelManager::getMeshArray(ref_ptr<MeshArray>& out) { return awakeMeshes(out, false); }

int ModelManager::getBackupMeshArray(ref_ptr<MeshArray>& out) { return awakeMeshes(out, true); }

bool ModelManager::isMeshAsleepById(int index)
{
    if (!validIndex(m_project.get(), index)) return false;
    return m_project->data.images[index].asleep || !m_project->rt[index].mesh->isLoaded();
}

bool ModelManager::isMeshAsleep(const ref_ptr<IZimMesh>& mesh) { return isMeshAsleepById(indexOf(mesh.get())); }

bool ModelManager::isTextureShown(int index)
{
    return validIndex(m_project.get(), index) && !isMeshAsleepById(index) &&
           m_project->data.images[index].textureVisible;
}

int ModelManager::setMeshTextureVisible(const ref_ptr<IZimMesh>& mesh, bool visible)
{
    const int index = indexOf(mesh.get());
    if (index < 0) return -1;
    if (isMeshAsleepById(index)) return 0;
    ImageData& im = m_project->data.images[index];
    if (im.textureVisible != visible) m_project->changed = true;
    im.textureVisible = visible;
    m_project->rt[index].mesh->setMeshTextureVisible(visible);
    return 1;
}

bool ModelManager::hasTexIndices(const ref_ptr<IZimMesh>& mesh) { return mesh && mesh->hasTexIndices(); }

int ModelManager::releaseMesh(const ref_ptr<IZimMesh>& mesh)
{
    const int index = indexOf(mesh.get());
    if (index < 0) return -1;
    ImageRuntime& r = m_project->rt[index];
    if (!r.mesh->textureInMemory()) r.mesh->releaseMeshTexture();
    forgetAlpha(r);
    releaseMeshGpuData(r.mesh.get());
    return 0;
}

int ModelManager::sleepMesh(const ref_ptr<IZimMesh>& mesh, IZimProgress* progress)
{
    const int index = indexOf(mesh.get());
    if (index < 0) return fail(tr("cannot put a mesh to sleep: it is not one of the project's"));
    ImageData& im = m_project->data.images[index];
    ImageRuntime& r = m_project->rt[index];
    if (im.asleep) return 0;
    QString name;
    r.mesh->meshName(name);
    if (r.mesh->geometryEdited())
        return fail(
            tr("cannot put the mesh %1 to sleep: its geometry was changed in memory and would be lost").arg(name));
    ZimProgressRange range(progress, tr("Putting mesh %1 to sleep...").arg(name));
    r.mesh->detach();
    releaseMeshGpuData(r.mesh.get());
    r.mesh->setMeshTextureVisible(false);
    forgetAlpha(r);
    range.step(1.0);
    im.asleep = true;
    im.textureVisible = false;
    m_project->changed = true;
    return 0;
}

int ModelManager::wakeMesh(int index, IZimProgress* progress)
{
    if (!validIndex(m_project.get(), index)) return fail(tr("cannot wake mesh %1: there is no such image").arg(index));
    ImageData& im = m_project->data.images[index];
    ImageRuntime& r = m_project->rt[index];
    if (!im.asleep && r.mesh->isLoaded()) return 0;
    QString name;
    r.mesh->meshName(name);
    ZimProgressRange range(progress, tr("Waking up mesh %1...").arg(name));
    QString error;
    const ref_ptr<IZimMesh> loaded = loadObjMesh(im.meshPath, &error);
    range.step(0.9);
    if (!loaded) {
        r.mesh->setError(error);
        return fail(error);
    }
    QString textureName;
    r.mesh->meshTextureName(textureName);
    r.mesh->attach(loaded);
    // A mesh that never had a texture name (its texture unknown until now) gets a unique one.
    if (textureName.isEmpty() && !r.mesh->meshTexturePath().isEmpty()) {
        r.mesh->setTextureName(QString());
        const QString base = QFileInfo(r.mesh->meshTexturePath()).completeBaseName();
        QString candidate = base;
        for (int k = 2; indexOfMesh(candidate) >= 0 && indexOfMesh(candidate) != index; ++k)
            candidate = QStringLiteral("%1~%2").arg(base).arg(k);
        r.mesh->setTextureName(candidate);
    }
    releaseMeshGpuData(r.mesh.get());
    forgetAlpha(r);
    r.meshFound = true;
    // The material may name other files than the ones stored.
    im.texturePath = r.mesh->meshTexturePath();
    im.alphaPath = r.mesh->meshAlphaTexturePath();
    if (im.asleep) {
        im.asleep = false;
        im.textureVisible = true;
    }
    m_project->changed = true;
    r.mesh->setMeshTextureVisible(im.textureVisible);
    m_project->missing.removeAll(native(im.meshPath));
    range.step(0.1);
    return 0;
}

// ---- scene ----------------------------------------------------------------------------------

int ModelManager::sceneItemCount() { return m_project ? m_project->rt.size() : 0; }

ref_ptr<IZimSceneItem> ModelManager::sceneItemAt(int i)
{
    if (!m_project || i < 0 || i >= m_project->rt.size()) return nullptr;
    syncOrder(*m_project);
    return m_project->rt[m_project->data.order[i]].item;
}

int ModelManager::onViewRedraw()
{
    if (!m_project) return 0;
    m_project->levels.harvest();
    syncOrder(*m_project);
    return 0;
}

int ModelManager::getScreenPath(ref_ptr<IZimScreenPath>& out)
{
    out = m_project ? m_project->screenPath : ref_ptr<IZimScreenPath>();
    return out ? 0 : -1;
}

int ModelManager::setScreenPath(const ref_ptr<Pnt2dArray>& points)
{
    if (!m_project) return -1;
    QVector<XPnt2d> path;
    if (points)
        for (const XPnt2d& pt : *points) path.append(pt);
    m_project->data.screenPath = path;
    m_project->screenPath = newScreenPath(path);
    m_project->changed = true;
    return 0;
}

int ModelManager::setMode(float mode)
{
    if (!m_project || !std::isfinite(mode)) return -1;
    m_project->data.mode = mode;
    m_project->changed = true;
    return 0;
}

// ---- model items ----------------------------------------------------------------------------

int ModelManager::getModelItems(ref_ptr<IZimModelItems>& out)
{
    out = m_project ? m_project->items : ref_ptr<IZimModelItems>();
    return out ? 0 : -1;
}

int ModelManager::setGroup(const QString& name, const ref_ptr<IntArray>& indices)
{
    if (!m_project) return fail(tr("cannot make a group: no project is open"));
    if (name.isEmpty() || name == QLatin1String(kDefaultGroup))
        return fail(tr("a group needs a name other than \"DEFAULT\""));
    GroupData group{name, {}};
    if (indices) {
        for (int index : *indices) {
            if (!validIndex(m_project.get(), index))
                return fail(tr("the group %1 names image %2, which does not exist").arg(name).arg(index));
            if (!group.members.contains(index)) group.members.append(index);
        }
    }
    QVector<GroupData>& groups = m_project->data.groups;
    auto it = std::find_if(groups.begin(), groups.end(), [&](const GroupData& g) { return g.name == name; });
    if (it != groups.end())
        *it = group;
    else
        groups.append(group);
    m_project->changed = true;
    return 0;
}

int ModelManager::removeGroup(const QString& name)
{
    if (!m_project) return -1;
    QVector<GroupData>& groups = m_project->data.groups;
    auto it = std::find_if(groups.begin(), groups.end(), [&](const GroupData& g) { return g.name == name; });
    if (it == groups.end()) return -1;
    groups.erase(it);
    m_project->changed = true;
    return 0;
}

// ---- blobs ----------------------------------------------------------------------------------

int ModelManager::writeProjectData(const QString& group, const QString& key, const void* bytes, int size)
{
    if (!m_project || group.isEmpty() || key.isEmpty() || size < 0 || (!bytes && size > 0)) return -1;
    const QByteArray data = size > 0 ? QByteArray(static_cast<const char*>(bytes), size) : QByteArray();
    auto& blobs = m_project->data.blobs;
    const auto it = blobs.constFind(qMakePair(group, key));
    // Views write their state often; the same bytes again change nothing.
    if (it != blobs.constEnd() && *it == data) return 0;
    // The names are copied: a QStringLiteral of a plug-in points into the plug-in's code, which
    // may be unloaded while the project is still open.
    blobs.insert(qMakePair(QString(group.constData(), group.size()), QString(key.constData(), key.size())), data);
    m_project->changed = true;
    return 0;
}

bool ModelManager::readProjectData(const QString& group, const QString& key, void* buffer, int size, int* out)
{
    if (out) *out = -1;
    if (!m_project || size < 0 || (!buffer && size > 0)) return false;
    const auto it = m_project->data.blobs.constFind(qMakePair(group, key));
    if (it == m_project->data.blobs.constEnd()) {
        if (size > 0) std::memset(buffer, 0, std::size_t(size));
        return false;
    }
    const int have = it->size();
    if (out) *out = have;
    const int copied = qMin(have, size);
    if (copied > 0) std::memcpy(buffer, it->constData(), std::size_t(copied));
    if (size > copied) std::memset(static_cast<char*>(buffer) + copied, 0, std::size_t(size - copied));
    return have >= size;
}

}  // namespace kernel
}  // namespace zim
