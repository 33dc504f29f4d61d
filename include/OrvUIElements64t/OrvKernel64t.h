// Kernel library: the project model (one SQLite file per project, held in memory while open),
// its images and meshes, marks, stored blobs, the scene items that draw the meshes, and the
// kernel algorithms the viewers call (GL triangle selection, transparency tests, point in
// triangle, image conversion).
//
// Conventions:
//  - An image index is also the index of that image's mesh; -1 means none. Indices are given
//    out by addImage (0, 1, 2, ... in the order images were added) and never change; the
//    project order (reorderImage) is a separate arrangement of the same indices.
//  - Operations with an `out` argument return 0 and set out when there is something to give,
//    else -1 with out emptied (null), unless said otherwise.
//  - Status results: 0 success, -1 failure; lastError() of the model manager says why.
//  - Everything runs on the GUI thread.
#pragma once

#include <QImage>
#include <QMap>
#include <QPair>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cmath>
#include <cstdint>

#include "ZimBase64t.h"
#include "ZimDisplay64t.h"
#include "ZimGeometry64t.h"

#if defined(ORV_BUILDING_OrvKernel64t)
#define ORV_KERNEL_EXPORT __attribute__((visibility("default")))
#else
#define ORV_KERNEL_EXPORT
#endif

// ---------------------------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------------------------

// Kinds of marks an image record holds.
enum ZimMarkKind {
    ZimMarkControl = 0,   // control points: getMarkUVs / getMarkPoints / controlPointCount
    ZimMarkPoint = 1,     // point pairs: getPointMarks
    ZimMarkTrack = 2,     // track marks: getTrackMarks
    ZimMarkSelected = 3,  // selected marks: getSelectedMarks
};

// One mark: photo position (normalised, origin bottom-left, y up), world point, id, and a second
// position (the texture coordinate of the point on its mesh).
struct MarkRecord {
    XPnt2d uv{-1.0, -1.0};
    XPnt3d point = invalidPoint();
    std::int32_t id = -2147483647;
    XPnt2d uv2{-1.0, -1.0};

    static XPnt3d invalidPoint()
    {
        XPnt3d p;
        p.setInvalid();
        return p;
    }
};
using MarkArray = ZimArray<MarkRecord>;

// A mark's distance from its solved position.
struct ZimMarkResidual {
    std::int32_t id = 0;
    double pixels = 0;  // photo pixels between the mark and its 3D point projected
    bool used = false;  // took part in the solve (enabled, complete, not an outlier)
};

// The registered camera of a photograph (the convention of registration/CameraSolver.h):
// x_cam = R X + t, looking along +z, y down; (x, y) = x_cam / z_cam, r2 = x^2 + y^2,
// d = 1 + k1 r2 + k2 r2^2; pixel = (fx x d + cx, fy y d + cy) with the origin at the photo's
// top-left corner; photo position (u, v) is pixel (u W, (1 - v) H).
struct ZimPhotoCamera {
    int width = 0, height = 0;  // photo size in pixels the camera belongs to
    double fx = 0, fy = 0, cx = 0, cy = 0;
    double k1 = 0, k2 = 0;
    double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // row-major
    double t[3] = {0, 0, 0};
    double rms = -1;  // pixels over the used marks, -1 unknown
    QVector<ZimMarkResidual> residuals;

    // Sizes above 0, fx and fy above 0, every number finite, R a rotation (orthonormal to 1e-6,
    // determinant +1).
    bool isValid() const
    {
        if (width <= 0 || height <= 0) return false;
        for (double v : {fx, fy, cx, cy, k1, k2, rms, t[0], t[1], t[2]})
            if (!std::isfinite(v)) return false;
        for (double v : R)
            if (!std::isfinite(v)) return false;
        if (!(fx > 0) || !(fy > 0)) return false;
        for (const ZimMarkResidual& r : residuals)
            if (!std::isfinite(r.pixels)) return false;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                const double dot = R[3 * i] * R[3 * j] + R[3 * i + 1] * R[3 * j + 1] + R[3 * i + 2] * R[3 * j + 2];
                if (std::fabs(dot - (i == j ? 1.0 : 0.0)) > 1e-6) return false;
            }
        const double det = R[0] * (R[4] * R[8] - R[5] * R[7]) - R[1] * (R[3] * R[8] - R[5] * R[6]) +
                           R[2] * (R[3] * R[7] - R[4] * R[6]);
        return det > 0;
    }
    // The camera centre in world coordinates: -R^T t.
    XPnt3d eye() const
    {
        return XPnt3d(-(R[0] * t[0] + R[3] * t[1] + R[6] * t[2]), -(R[1] * t[0] + R[4] * t[1] + R[7] * t[2]),
                      -(R[2] * t[0] + R[5] * t[1] + R[8] * t[2]));
    }
};

// One visible triangle of a mesh: vertex indices, world points, screen points (x and y as
// fractions of the viewport, z the depth), texture points (0..1) and the mesh index.
class ORV_KERNEL_EXPORT TqTriangleIndex : public ZimReferenced {
public:
    TqTriangleIndex(unsigned v0, unsigned v1, unsigned v2, const XPnt3f& w0, const XPnt3f& w1, const XPnt3f& w2,
                    const XPnt3d& s0, const XPnt3d& s1, const XPnt3d& s2, const XPnt2f& t0, const XPnt2f& t1,
                    const XPnt2f& t2, long mesh);

    unsigned Vertex0() const { return m_vertex[0]; }
    unsigned Vertex1() const { return m_vertex[1]; }
    unsigned Vertex2() const { return m_vertex[2]; }
    const XPnt3f& World0() const { return m_world[0]; }
    const XPnt3f& World1() const { return m_world[1]; }
    const XPnt3f& World2() const { return m_world[2]; }
    const XPnt3d& Screen0() const { return m_screen[0]; }
    const XPnt3d& Screen1() const { return m_screen[1]; }
    const XPnt3d& Screen2() const { return m_screen[2]; }
    const XPnt2f& Tex0() const { return m_tex[0]; }
    const XPnt2f& Tex1() const { return m_tex[1]; }
    const XPnt2f& Tex2() const { return m_tex[2]; }

    long meshIndex;

protected:
    ~TqTriangleIndex() override;

private:
    unsigned m_vertex[3];
    XPnt3f m_world[3];
    XPnt3d m_screen[3];
    XPnt2f m_tex[3];
};

// A pixel position and a colour (channel 0 in the lowest byte).
struct _PixelRowCol_ {
    int x = 0;
    int y = 0;
    int colour = 0;
    bool operator==(const _PixelRowCol_& o) const { return x == o.x && y == o.y && colour == o.colour; }
    bool operator!=(const _PixelRowCol_& o) const { return !(*this == o); }
};

// Mesh edge (two vertex indices, smaller first) -> mesh indices on its two sides (-1: none yet).
using SeamEdgeMap = QMap<QPair<unsigned, unsigned>, QPair<int, int>>;

// ---------------------------------------------------------------------------------------------
// Project objects
// ---------------------------------------------------------------------------------------------

// Longer side, in pixels, of the reduced level (level 3) of a photograph. A photo that is
// smaller already is its own reduced level.
constexpr int ZimReducedLevelSide = 240;

// The marks and sizes of one project image. A record stays valid while its project is open;
// once the project is closed its arrays answer null and its sizes are empty. The arrays are
// snapshots: a change of the marks (setMarks, IZimMM::setImageMarks) gives the record new arrays
// and leaves arrays handed out before unchanged.
class ORV_KERNEL_EXPORT IZimImageRecord : public ZimReferenced {
public:
    // Control points: photo positions and world points, in the same order.
    virtual ref_ptr<Pnt2dArray> getMarkUVs() = 0;
    virtual ref_ptr<Pnt3dArray> getMarkPoints() = 0;
    virtual int controlPointCount() const = 0;
    virtual ref_ptr<MarkArray> getPointMarks() = 0;
    virtual ref_ptr<MarkArray> getTrackMarks() = 0;
    virtual ref_ptr<MarkArray> getSelectedMarks() = 0;
    // Pixel size of the image at a level (1 the mesh's working texture, 2 the photograph, 3 its
    // reduced level); an empty size when unknown.
    virtual QSize imageSizeAt(int level) = 0;
    // Brings the mark arrays up to date with the project before they are drawn.
    virtual int prepareMarks() = 0;

    // ---- beyond the operations the UI library calls ----
    virtual int imageIndex() const = 0;
    // A copy of the marks of one kind (ZimMarkKind); null for another kind or a closed project.
    virtual ref_ptr<MarkArray> getMarks(int kind) = 0;
    // Replaces the marks of one kind, as IZimMM::setImageMarks.
    virtual int setMarks(int kind, const ref_ptr<MarkArray>& marks) = 0;

protected:
    ~IZimImageRecord() override = default;
};

// The project's images: records, photograph levels, textures and transparency. The store
// belongs to the project that was open when it was handed out; after that project is closed
// every query answers false, -1 or null.
//
// Levels of an image:
//  1  the working texture of the image's mesh (meshTexture() of an awake mesh; for a sleeping
//     mesh the texture file is read for the caller without waking the mesh);
//  2  the photograph at full size, read when first asked for; the current image and the two
//     photographs used last stay in memory, so asking again gives the same object;
//  3  the reduced level: the photograph decoded at reduced size (longer side
//     ZimReducedLevelSide) and kept in a disk cache beside the project file,
//     "<project base name>.orvcache/reduced-240/<key>.jpg" (".png" for photos with alpha), where
//     key = SHA-1 of the photo's absolute path, its size in bytes and its modification time in
//     ms. getImagePath of a level-3 picture names that cache file (a small file the thumbnail
//     viewer reads directly), not the photograph; when the cache folder cannot be written the
//     cache lives in a temporary folder of the process instead. Reduced levels are prepared
//     ahead on worker threads after a project opens or an image is added; a request takes a
//     finished result, waits for one being made, or decodes on the spot.
// Pictures handed out are shared with the store: clone them before changing their pixels.
class ORV_KERNEL_EXPORT IZimImageStore : public ZimReferenced {
public:
    // True while the store's project is open.
    virtual bool isStoreReady() = 0;
    // The record of an image (the same object for the same index while the project is open).
    virtual int getImageRecord(ref_ptr<IZimImageRecord>& out, int index) = 0;
    // True when the image has marks of any kind.
    virtual bool hasMarks(int index) = 0;
    // True when the image's mesh has its geometry in memory (awake and loaded).
    virtual bool hasMeshData(int index) = 0;
    // True when level 1 can be given: the mesh has a texture in memory or its file exists.
    virtual bool hasSourceImage(int index) = 0;
    // True when the photograph (levels 2 and 3) can be given: its file exists and has a
    // readable image header.
    virtual bool hasReadyImage(int index) = 0;
    // Index of the image whose photo file has this file name, or this path when the name holds
    // a separator; the first in project order, an exact match before one that differs in case
    // only; -1 when none.
    virtual int findImageByName(const QString& name) = 0;
    // Every image index, in project order.
    virtual int getImageIds(ref_ptr<IntArray>& out) = 0;
    // kind 1: the mesh's working texture; 2: the photograph; 3: its reduced level (thumbnails).
    virtual int getStoreImage(ref_ptr<IZimImage>& out, int index, int kind) = 0;
    // Level 1 (as getStoreImage(out, index, 1)).
    virtual int getSourceImage(ref_ptr<IZimImage>& out, int index) = 0;
    // The transparency of the image's mesh as a 24-bit image of the texture's size whose
    // bytes 0, 1 and 2 of a sample are the weight 0..255 (255 opaque): the material's map_d file
    // when it names one (its grey value, resampled to the texture's size), else the texture's
    // alpha channel. Only level 1. -1 and null when the mesh has no transparency (no map_d and
    // no alpha below 255) unless `create` is true, which then gives an image of 255 everywhere.
    virtual int getAlphaImage(ref_ptr<IZimImage>& out, int index, int level, bool create) = 0;

    // ---- beyond the operations the UI library calls ----

    // The folder of the reduced-level cache currently used (empty without a project).
    virtual QString cacheFolder() = 0;
    // Switches preparing reduced levels ahead on or off (on when a project opens); switching it
    // off drops the work not yet started.
    virtual int setPrefetch(bool enabled) = 0;
    // Waits until the reduced levels being prepared are finished.
    virtual int waitForPrefetch() = 0;
    // Forgets every picture held in memory (levels 2 and 3, transparency); the next request
    // reads the files (or the disk cache) again.
    virtual int releaseImages() = 0;

protected:
    ~IZimImageStore() override = default;
};

// Working modes of a project (getMode). Meshes can be put to sleep from the thumbnails only in
// ZimModeMeshes.
constexpr float ZimModeBrowse = 1.0f;
constexpr float ZimModeMapping = 2.0f;
constexpr float ZimModeMeshes = 3.0f;  // the mode of a new project

// The project state: open or not, the image store, the working mode. The object from
// IZimMM::getState belongs to the project open at that time (hasOpenProject turns false when it
// closes); the one from zim::newZimTqState follows whatever project the model manager has open.
class ORV_KERNEL_EXPORT IZimTqState : public ZimReferenced {
public:
    virtual bool hasOpenProject() = 0;
    virtual int getImageStore(ref_ptr<IZimImageStore>& out) = 0;
    // The project's working mode (ZimMode...); 0 without a project.
    virtual float getMode() = 0;

protected:
    ~IZimTqState() override = default;
};

// Application settings, shared by every settings object of the process and kept in memory.
class ORV_KERNEL_EXPORT IZimTqSetting : public ZimReferenced {
public:
    // Writes the 3D background colour to *colour when one is set (0); leaves it as it is (-1)
    // otherwise, so callers pass their default in.
    virtual int getBackgroundColor(ZimColor3f* colour) = 0;

    // ---- beyond the operations the UI library calls ----
    virtual int setBackgroundColor(const ZimColor3f& colour) = 0;

protected:
    ~IZimTqSetting() override = default;
};

// The screen path: screen positions (GL-oriented pixels) drawn as a line in the 3D view. The
// object is a snapshot of the path when it was handed out.
class ORV_KERNEL_EXPORT IZimScreenPath : public ZimReferenced {
public:
    virtual int pathPointCount() = 0;
    // An invalid point for i outside 0 .. count - 1.
    virtual XPnt2d pathPointAt(int i) = 0;

protected:
    ~IZimScreenPath() override = default;
};

// A drawable item of the project's scene.
class ORV_KERNEL_EXPORT IZimSceneItem : public ZimReferenced {
public:
    // mode 1: textured where a texture is shown, shaded otherwise.
    virtual int drawSceneItem(int mode, const ref_ptr<IZimDisplay>& display) = 0;

protected:
    ~IZimSceneItem() override = default;
};

// One model-item group (see IZimModelItems).
class ORV_KERNEL_EXPORT IZimModelItem : public ZimReferenced {
public:
    // The group's meshes are no longer current (setMeshCurrent(false)). 0; -1 once the group or
    // its project is gone.
    virtual int resetItem() = 0;
    // As resetItem; with bit 1 of flags set the meshes' GPU data is dropped as well, so the next
    // draw uploads it again.
    virtual int resetItemState(int flags) = 0;

    // ---- beyond the operations the UI library calls ----
    virtual QString itemName() = 0;

protected:
    ~IZimModelItem() override = default;
};

// The model-item groups of the project; the first group is "DEFAULT" and holds every mesh, in
// project order; the others are named lists of images made with IZimMM::setGroup. One model
// item per group, in the same order.
class ORV_KERNEL_EXPORT IZimModelItems : public ZimReferenced {
public:
    virtual int itemCount() = 0;
    // Null for i outside 0 .. itemCount() - 1.
    virtual ref_ptr<IZimModelItem> itemAt(int i) = 0;
    // Fills the group names and, for each, a new array of its meshes (sleeping ones included).
    // 0; -1 (both emptied) once the project is closed.
    virtual int getGroups(QStringList& names, QVector<ref_ptr<MeshArray>>& meshes) = 0;

protected:
    ~IZimModelItems() override = default;
};

// The stored entry of one project image, as it was when handed out.
class ORV_KERNEL_EXPORT IZimImageEntry : public ZimReferenced {
public:
    virtual int imageIndex() const = 0;
    virtual QString photoPath() const = 0;  // absolute
    virtual QString meshPath() const = 0;   // absolute
    virtual QString label() const = 0;
    virtual bool isMapped() const = 0;
    virtual bool isTextureVisible() const = 0;
    virtual bool isAsleep() const = 0;
    // Position in the project order (0 first).
    virtual int order() const = 0;

    // ---- beyond the operations the UI library calls ----
    virtual bool hasPhotoFile() const = 0;
    virtual bool hasMeshFile() const = 0;

protected:
    ~IZimImageEntry() override = default;
};

// The model manager: one per process (zim::getMM()).
//
// The open project is held in memory: every change (writeProjectData included) changes the
// model; only saveProject and saveProjectAs write the file. The project counts as modified when
// what a save would write differs from what was opened or last saved (isModified), so a change
// undone by hand leaves it unmodified again. A save writes
// the whole project in one transaction into a temporary file beside the target and then renames
// it over the target, so a save that fails leaves the previous file as it was. For tests, the
// environment variable ORV_KERNEL_SAVE_FAULT makes saves fail on purpose: "write" half-way
// through the rows, "commit" just before the commit, "rename" just before the rename.
//
// Meshes. Every image has one mesh, loaded from its OBJ file when the project opens (sleeping
// meshes are not loaded) or when the image is added. A mesh's object stays the same for the
// life of the project: sleepMesh drops its geometry and textures, wakeMesh reads them again
// into the same object. The mesh lists:
//  - getMeshOrder: every mesh, in project order, sleeping ones and ones whose file is missing
//    included. The array is the model's own: a caller may move a mesh in it (remove it and
//    append it again) and the project order follows; meshes removed and not put back are
//    appended at the end again.
//  - getBackupMeshArray: the awake meshes (geometry in memory) that have a texture (their
//    material names a texture file, or a texture image was given with setMeshTextureImage), in
//    project order: the textured meshes a backup paints, whether or not their photograph is
//    mapped (registered) yet.
//  - getMeshArray: the other awake meshes (without a texture), in project order.
//  The two awake lists are new arrays on every call and never share a mesh; together they are
//  every awake mesh. Whether a photograph is mapped is isImageMapped / isMeshMapped.
// Names: a mesh is named after its OBJ file and its texture after the texture file (base names
// without suffix); a name already used by a mesh or texture of an earlier image gets "~2",
// "~3", ... so that indexOfMesh never confuses two images.
class ORV_KERNEL_EXPORT IZimMM : public ZimReferenced {
public:
    // true: something may have changed (views call it after changing what they store, or after
    // a camera move); the next isModified compares what a save would write with the opened or
    // saved project. false: the project as it is now counts as the saved one (as after a save)
    // without writing it. 0; -1 without a project.
    virtual int setModified(bool modified) = 0;
    // The project state; -1 and null when no project is open.
    virtual int getState(ref_ptr<IZimTqState>& out) = 0;
    // Called when a view starts drawing: takes in reduced levels finished on worker threads and
    // the mesh order changed through getMeshOrder's array. 0.
    virtual int onViewRedraw() = 0;
    // The screen path (possibly without points); -1 and null without a project.
    virtual int getScreenPath(ref_ptr<IZimScreenPath>& out) = 0;
    // Index of the mesh with this mesh name or texture name; -1 when none.
    virtual int indexOfMesh(const QString& name) = 0;
    // Frees what the mesh holds beyond its geometry: its texture images in memory (read again on
    // the next use) and its GPU data. The mesh stays in the project and awake. 0; -1 for a mesh
    // that is not one of the project's.
    virtual int releaseMesh(const ref_ptr<IZimMesh>& mesh) = 0;
    // True when the image's photograph is there (its pixel size is known).
    virtual bool isImageAvailable(int index) = 0;
    // Moves image id in the project order. mode 0: just before target; 1: just after target;
    // 2: to the position target has now (before it when moving up, after it when moving down).
    // 0 when done, 1 when id equals target, -1 for an unknown id, target or mode.
    virtual int reorderImage(int id, int mode, int target) = 0;
    // One scene item per mesh, in project order (a sleeping mesh's item draws nothing).
    virtual int sceneItemCount() = 0;
    virtual ref_ptr<IZimSceneItem> sceneItemAt(int i) = 0;
    // Stores a copy of a blob under (group, key) in the open project, replacing one stored
    // before: 0; -1 without a project, for an empty group or key, a negative size or null bytes
    // with a size above 0.
    virtual int writeProjectData(const QString& group, const QString& key, const void* bytes, int size) = 0;
    // Reads a blob into buffer: copies min(blob size, size) bytes and sets the rest of the
    // buffer to 0. When out is not null, *out receives the blob's whole size in bytes (which may
    // be more or less than size), or -1 when there is no such blob (or no project, or bad
    // arguments). True exactly when the blob exists and filled the buffer (blob size >= size),
    // so reading a 4-byte head into an int and a record array of the size the head announces
    // both answer true only with complete data; a size of 0 asks for the size alone.
    virtual bool readProjectData(const QString& group, const QString& key, void* buffer, int size, int* out) = 0;
    virtual int getModelItems(ref_ptr<IZimModelItems>& out) = 0;
    virtual bool isProjectOpen() = 0;
    // The current image's photograph (level 2): the same object while it stays current and its
    // file unchanged. -1 and null without a current image or when its photograph is missing.
    virtual int getCurrentImage(ref_ptr<IZimImage>& out) = 0;
    // The current image's index (= its mesh's index), -1 when none.
    virtual int getCurMeshIndex() = 0;
    // Makes an image current; -1 makes none current. 0; -1 (unchanged) for an unknown index.
    virtual int setCurrentImageIndex(int index) = 0;
    // True when the image's mesh is awake and its texture shown.
    virtual bool isTextureShown(int index) = 0;
    // 1 when done; 0 (nothing changed) for a sleeping mesh; -1 for a mesh not in the project.
    virtual int setMeshTextureVisible(const ref_ptr<IZimMesh>& mesh, bool visible) = 0;
    // Asleep: put to sleep, or its geometry could not be loaded. False for an unknown mesh.
    virtual bool isMeshAsleep(const ref_ptr<IZimMesh>& mesh) = 0;
    virtual bool isMeshAsleepById(int index) = 0;
    // Mapped: the image's photograph is registered onto its mesh (setImageMapped).
    virtual bool isMeshMapped(const ref_ptr<IZimMesh>& mesh) = 0;
    virtual bool isImageMapped(int index) = 0;
    // Reads the mesh's geometry again (texture on the next use) and shows its texture. 0 (also
    // for an awake mesh, without touching progress); -1 (still asleep) for an unknown index or
    // an OBJ that cannot be read. Progress: text, step 0.01, sub-range 0.99 with its steps,
    // closed again.
    virtual int wakeMesh(int index, IZimProgress* progress) = 0;
    // Drops the mesh's geometry, textures and GPU data and hides its texture; the object stays.
    // 0 (also for a sleeping mesh); -1 for a mesh not in the project, or one whose geometry was
    // replaced in memory (setMeshGeometry), which would be lost. A texture image given in
    // memory (setMeshTextureImage) is kept. Progress as for wakeMesh.
    virtual int sleepMesh(const ref_ptr<IZimMesh>& mesh, IZimProgress* progress) = 0;
    // The mesh of an image, asleep or not.
    virtual int getMeshAt(ref_ptr<IZimMesh>& out, int index) = 0;
    virtual int getMeshOrder(ref_ptr<MeshArray>& out) = 0;
    virtual int getMeshArray(ref_ptr<MeshArray>& out) = 0;
    virtual int getBackupMeshArray(ref_ptr<MeshArray>& out) = 0;
    virtual int getImageEntry(ref_ptr<IZimImageEntry>& out, int index) = 0;
    // Makes *index current (as setCurrentImageIndex, -1 for none); when *index is neither -1 nor
    // an image of the project no image is current afterwards, *index becomes -1 and the result
    // is -1.
    virtual int setCurrentImage(int* index) = 0;
    // Takes note of the number of selected marks the views show (selMarkCount()).
    virtual int notifySelMarkCount(unsigned long long count) = 0;
    virtual bool hasTexIndices(const ref_ptr<IZimMesh>& mesh) = 0;

    // ---- beyond the operations the UI library calls ----

    // Project life cycle. A project file has the suffix ".orvproj" by convention. Every one of
    // these leaves the open project as it was when it fails (lastError() says why).
    // createProject: a new, empty project written to path at once; the file must not exist yet
    // and its folder must. The project open before is closed (unsaved changes are dropped: ask
    // isModified() first).
    virtual int createProject(const QString& path) = 0;
    // Opens a project file, closing the one open before. A corrupt, truncated or foreign file is
    // refused. A file edited outside the program opens as it is (rows that no longer fit are
    // left out) and openNotice() says what differs. Images whose photo or mesh file is missing
    // still open; getMissingFiles() and lastError() name them. A symbolic link is resolved:
    // projectPath() names the real file. progress may be null.
    virtual int openProject(const QString& path, IZimProgress* progress) = 0;
    virtual int saveProject() = 0;
    // Writes the project to another file (replacing one there) and continues with that file.
    virtual int saveProjectAs(const QString& path) = 0;
    // 0; 1 when no project was open. Unsaved changes are dropped.
    virtual int closeProject() = 0;
    // True when a save would write something other than what was opened or last saved (or
    // declared saved with setModified(false)): the images and their states, marks, order,
    // groups, screen path, working mode and blobs. Which image is current is written with the
    // project but alone is no change. False without a project. Cheap while nothing changed;
    // after a change it digests the rows and blobs once (never mesh geometry).
    virtual bool isModified() = 0;
    // Absolute path of the project file, empty without a project.
    virtual QString projectPath() = 0;
    // Adds a photograph with its mesh (OBJ) and returns the new image index, or -1 when the
    // photo has no readable image header, the OBJ cannot be loaded, or either file is already in
    // the project. Relative paths are taken from the current folder. A new image is not mapped
    // and shows its texture; a non-empty label becomes its mesh's label.
    virtual int addImage(const QString& photoPath, const QString& meshPath, const QString& label) = 0;
    virtual int imageCount() = 0;
    // Replaces the marks of one kind (ZimMarkKind) of an image; null clears them.
    virtual int setImageMarks(int index, int kind, const ref_ptr<MarkArray>& marks) = 0;
    virtual int setImageMapped(int index, bool mapped) = 0;
    // Replaces the screen path; null clears it.
    virtual int setScreenPath(const ref_ptr<Pnt2dArray>& points) = 0;
    virtual int setMode(float mode) = 0;
    // Creates or replaces a named group of images (model items); the name must not be empty or
    // "DEFAULT" and every index must be an image of the project (repeats are dropped).
    virtual int setGroup(const QString& name, const ref_ptr<IntArray>& indices) = 0;
    virtual int removeGroup(const QString& name) = 0;
    // The photo and mesh files of the open project that were not found (absolute paths);
    // returns their number.
    virtual int getMissingFiles(QStringList& out) = 0;
    // The count last given to notifySelMarkCount.
    virtual unsigned long long selMarkCount() = 0;
    // Why the last operation that failed failed (or, after openProject, which files are
    // missing); empty after a project operation that succeeded completely.
    virtual QString lastError() = 0;
    // After openProject: what was found changed outside the program (the tables and blobs
    // whose checksum differs) and what was left out or reset to open it, to be shown to the
    // user once; empty when the file was as the program wrote it, and without a project.
    virtual QString openNotice() = 0;

    // The camera registered for an image's photograph, stored with the project. 0 with out set;
    // -1 (out reset to a default camera) when the image has none, is unknown or no project is open.
    virtual int getImageCamera(int index, ZimPhotoCamera& out) = 0;
    // Stores (or with null clears) an image's camera. -1 for an unknown index, no project, or a
    // camera that is not valid (isValid). Marks the project modified like any other change.
    virtual int setImageCamera(int index, const ZimPhotoCamera* camera) = 0;

    // Working textures: the texture pixels a mesh shows may be changed in place (a photo painted
    // onto them) and saved as a copy in the project's data folder; the mesh's own texture file
    // (meshTexturePath(), named by its material) is never written.
    // The texture of mesh `index` was changed in place: the GL data made from it is dropped so
    // the next frame shows the new pixels, the image is kept in memory while the mesh sleeps, and
    // isModified() is true until the next save. -1 for an unknown index, no project, or a mesh
    // whose texture cannot be had (none, unreadable, or asleep without one held in memory).
    virtual int notifyTextureEdited(int index) = 0;
    // True when the texture of mesh `index` was edited since the project was opened or saved.
    virtual bool isTextureEdited(int index) = 0;
    // The saved working copy of a mesh's texture (absolute path), stored with the project (its
    // path relative to the project file's folder): when set, the mesh reads its texture from this
    // file instead of its material's, also after the project is reopened. An in-memory texture
    // already there is kept (it is what was saved). Empty clears it: the mesh shows its
    // material's texture again, unless its pixels hold edits not saved yet (those stay in memory).
    // -1 for an unknown index, no project, or a path that is not an existing regular file.
    // Marks the project modified. A working copy whose file is gone when the project is opened
    // is left out with a line in openNotice(), and the mesh shows its own texture.
    virtual int setWorkingTexture(int index, const QString& path) = 0;
    // The working copy set for a mesh; empty when it has none.
    virtual QString workingTexture(int index) = 0;

protected:
    ~IZimMM() override = default;
};

// ---------------------------------------------------------------------------------------------
// Functions
// ---------------------------------------------------------------------------------------------

namespace zim {

// The process's model manager, made on the first call (on the GUI thread).
ORV_KERNEL_EXPORT ref_ptr<IZimMM> getMM();
// The meshes of the "DEFAULT" group, the first of mm's model-item groups (every mesh of the
// project, in project order, sleeping ones included). -1 without mm or model items; 0 otherwise,
// with group null when the first group is not "DEFAULT" or has no meshes array.
inline int defaultGroupMeshes(IZimMM* mm, ref_ptr<MeshArray>& group)
{
    group = ref_ptr<MeshArray>();
    ref_ptr<IZimModelItems> items;
    if (!mm || mm->getModelItems(items) != 0 || !items) return -1;
    QStringList names;
    QVector<ref_ptr<MeshArray>> meshes;
    items->getGroups(names, meshes);
    if (!names.isEmpty() && names.first() == QLatin1String("DEFAULT") && !meshes.isEmpty()) group = meshes.first();
    return 0;
}
// A state object that follows the model manager's open project.
ORV_KERNEL_EXPORT ref_ptr<IZimTqState> newZimTqState();
ORV_KERNEL_EXPORT ref_ptr<IZimTqSetting> newZimTqSetting();

// Number of selected marks (ZimMarkSelected) on the images of the given meshes of the open
// project; each image counted once; 0 for an empty reference or meshes not in the project.
ORV_KERNEL_EXPORT unsigned long long getSelMarkCount(const ref_ptr<MeshArray>& meshes);

// Renders the meshes with one colour id per triangle into the current GL context (with the
// trackball's view), reads the ids back once and sets, per mesh in list order, one flag byte per
// triangle: 1 when at least one pixel of the triangle is visible inside `region` (GL-oriented
// pixels), else 0. Returns the number of flagged triangles (> 0 when something was selected),
// 0 when none, -1 without a context or meshes.
ORV_KERNEL_EXPORT long tqSelectTriByOpenGL(const ref_ptr<IZimTrackBall>& trackBall, bool wholeTriangles,
                                           const ref_ptr<MeshArray>& meshes, const Enve2d& region,
                                           ref_ptr<ByteArrayArray>& flags, IZimProgress* progress);

// True when the texture triangle (three points 0..1) counts as transparent in the alpha image.
ORV_KERNEL_EXPORT bool isAlphaTri(const ref_ptr<IZimImage>& alpha, const XPnt2f* t0, const XPnt2f* t1,
                                  const XPnt2f* t2);

// True when (x, y) lies inside the triangle given by the first three points (edges included).
ORV_KERNEL_EXPORT bool PntInTri(float x, float y, const ref_ptr<Pnt2fArray>& triangle);

// kind 1: converts an IZimImage into a QImage (rows flipped, red and blue swapped) and stores it
// in *out. -1 (out untouched) for a null or empty image.
ORV_KERNEL_EXPORT int imgTrans(const ref_ptr<IZimImage>& image, QImage* out, int kind);

ORV_KERNEL_EXPORT ref_ptr<TqTriangleIndex> newTqTriangleIndex(unsigned v0, unsigned v1, unsigned v2, const XPnt3f& w0,
                                                              const XPnt3f& w1, const XPnt3f& w2, const XPnt3d& s0,
                                                              const XPnt3d& s1, const XPnt3d& s2, const XPnt2f& t0,
                                                              const XPnt2f& t1, const XPnt2f& t2, long mesh);
ORV_KERNEL_EXPORT _PixelRowCol_ newPixelRowCol(int x, int y, int colour);

}  // namespace zim
