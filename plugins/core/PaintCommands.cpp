#include "PaintCommands.h"

#include <BackupRecords.h>
#include <ColourMatch.h>
#include <DepthView.h>
#include <EditedBackup.h>
#include <IOrv3DViewer.h>
#include <IOrvViewerMan.h>
#include <PaintLog.h>
#include <PaintWeights.h>
#include <PhotoProjector.h>
#include <PhotoPyramid.h>
#include <ProjectData.h>
#include <TexturePaint.h>
#include <TileSnapshot.h>
#include <WorkingTextureStore.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QSaveFile>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <opencv2/core.hpp>

#include "CoreBackup.h"
#include "CoreProject.h"

namespace orvCore {

namespace {

ZIM_TR_CONTEXT("orvCore")

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

QString photoName(IZimMM* mm, int index)
{
    ref_ptr<IZimImageEntry> entry;
    if (mm->getImageEntry(entry, index) == 0 && entry) {
        const QString file = QFileInfo(entry->photoPath()).fileName();
        if (!file.isEmpty()) return file;
    }
    return QString::number(index + 1);
}

QString meshName(IZimMM* mm, int index)
{
    ref_ptr<IZimMesh> mesh;
    QString name;
    if (mm->getMeshAt(mesh, index) == 0 && mesh) mesh->meshName(name);
    return name.isEmpty() ? tr("mesh %1").arg(index + 1) : name;
}

QString textureKey(int index) { return QString::number(index); }

ref_ptr<IZimImageStore> imageStore(IZimMM* mm)
{
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    if (mm->getState(state) == 0 && state) state->getImageStore(store);
    return store;
}

// The texture a mesh shows now, the one painting changes: an awake mesh's own image, else the
// image the store holds for it (an edited texture stays in memory while its mesh sleeps).
ref_ptr<IZimImage> currentTexture(IZimMM* mm, int index)
{
    ref_ptr<IZimMesh> mesh;
    if (mm->getMeshAt(mesh, index) != 0 || !mesh) return ref_ptr<IZimImage>();
    if (!mm->isMeshAsleepById(index)) return mesh->meshTexture();
    ref_ptr<IZimImageStore> store = imageStore(mm);
    ref_ptr<IZimImage> image;
    if (store && store->getStoreImage(image, index, 1) == 0) return image;
    return ref_ptr<IZimImage>();
}

// The writable views of the textures a snapshot names, keyed as it keys them; false with
// *error naming the first one that cannot be had. The images are held in *keep while in use.
bool textureViews(IZimMM* mm, const QStringList& keys, QHash<QString, orvpaint::TextureView>* views,
                  QVector<ref_ptr<IZimImage>>* keep, QString* error)
{
    for (const QString& key : keys) {
        bool ok = false;
        const int index = key.toInt(&ok);
        ref_ptr<IZimImage> image = ok ? currentTexture(mm, index) : ref_ptr<IZimImage>();
        const orvpaint::TextureView view = orvpaint::textureViewOf(image.get());
        if (!view.isValid()) {
            if (error)
                *error = ok ? tr("The texture of %1 is not in memory or cannot be changed.").arg(meshName(mm, index))
                            : tr("The kept tiles name an unknown texture \"%1\".").arg(key);
            return false;
        }
        views->insert(key, view);
        keep->append(image);
    }
    return true;
}

QVector<int> indicesOf(const QStringList& keys)
{
    QVector<int> out;
    for (const QString& key : keys) {
        bool ok = false;
        const int index = key.toInt(&ok);
        if (ok) out.append(index);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Writes the snapshot's tiles back into the current textures and tells the kernel. False with
// *error when a texture is missing or changed in size (nothing is written then).
bool restoreSnapshot(IZimMM* mm, const orvpaint::TileSnapshot& snapshot, QString* error)
{
    QHash<QString, orvpaint::TextureView> views;
    QVector<ref_ptr<IZimImage>> keep;
    if (!textureViews(mm, snapshot.keys(), &views, &keep, error)) return false;
    if (!snapshot.restore(views, error)) return false;
    for (int index : indicesOf(snapshot.keys())) mm->notifyTextureEdited(index);
    return true;
}

// One change of textures: the tiles as they were before it and as it left them.
class TextureStep : public IZimUndoStep {
public:
    TextureStep(IZimMM* mm, orvpaint::TileSnapshot before, orvpaint::TileSnapshot after, TextureRefresh refresh)
        : m_mm(mm), m_before(std::move(before)), m_after(std::move(after)), m_refresh(std::move(refresh))
    {
        // The state of the project open now: it says when that project is closed, even if another
        // one is opened in its place.
        if (m_mm) m_mm->getState(m_state);
    }
    int undo() override { return apply(m_before); }
    int redo() override { return apply(m_after); }

private:
    int apply(const orvpaint::TileSnapshot& snapshot)
    {
        if (!m_mm || !m_state || !m_state->hasOpenProject() || !m_mm->isProjectOpen()) return -1;
        QString error;
        if (!restoreSnapshot(m_mm.get(), snapshot, &error)) return -1;
        if (m_refresh) m_refresh(indicesOf(snapshot.keys()));
        return 0;
    }
    ref_ptr<IZimMM> m_mm;
    ref_ptr<IZimTqState> m_state;
    orvpaint::TileSnapshot m_before, m_after;
    TextureRefresh m_refresh;
};

void pushStep(IZimMM* mm, orvUI::IOrvViewerMan* vm, orvpaint::TileSnapshot before, orvpaint::TileSnapshot after,
              const TextureRefresh& refresh)
{
    if (!vm) return;
    vm->pushUndo(ref_ptr<IZimUndoStep>(new TextureStep(mm, std::move(before), std::move(after), refresh)));
}

TextureOutcome refusal(const QString& error)
{
    TextureOutcome out;
    out.ok = false;
    out.error = error;
    return out;
}

QVector<QPoint> toPoints(const std::vector<orvpaint::TileKey>& tiles)
{
    QVector<QPoint> out;
    out.reserve(int(tiles.size()));
    for (const orvpaint::TileKey& t : tiles) out.append(QPoint(t.x, t.y));
    return out;
}

// A kernel image's rows as the painter reads them.
orvpaint::ImageRows rowsOf(IZimImage* image)
{
    orvpaint::ImageRows rows;
    if (!image) return rows;
    rows.data = image->imageData(0);
    rows.width = image->imageWidth();
    rows.height = image->imageHeight();
    rows.rowBytes = image->imageRowBytes();
    rows.channels = image->imageBits() / 8;
    rows.bottomUp = true;
    return rows;
}

// The photograph at full size as a pyramid: the store's picture when it holds the file's own
// pixels, else the file read here. Empty with *error when it cannot be read.
orvpaint::PhotoPyramid loadPhoto(IZimMM* mm, int index, QString* error)
{
    ref_ptr<IZimImageStore> store = imageStore(mm);
    ref_ptr<IZimImage> image;
    if (store && store->getStoreImage(image, index, 2) == 0 && image && !image->imageFullSize().isValid()) {
        const orvpaint::ImageRows rows = rowsOf(image.get());
        if (rows.isValid()) {
            orvpaint::PhotoPyramid pyramid = orvpaint::PhotoPyramid::fromRows(rows);
            if (!pyramid.isEmpty()) return pyramid;
        }
    }
    ref_ptr<IZimImageEntry> entry;
    const QString path = mm->getImageEntry(entry, index) == 0 && entry ? entry->photoPath() : QString();
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QImage read = reader.read();
    if (read.isNull()) {
        *error = tr("The photograph %1 cannot be read: %2").arg(native(path), reader.errorString());
        return orvpaint::PhotoPyramid();
    }
    const QImage rgb = read.convertToFormat(QImage::Format_RGB888);
    // Top row first, R G B: turned into B G R rows for the pyramid.
    cv::Mat bgr(rgb.height(), rgb.width(), CV_8UC3);
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* in = rgb.constScanLine(y);
        uchar* out = bgr.ptr<uchar>(y);
        for (int x = 0; x < rgb.width(); ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
    }
    orvpaint::PhotoPyramid pyramid(bgr);
    if (pyramid.isEmpty()) *error = tr("The photograph %1 cannot be read.").arg(native(path));
    return pyramid;
}

// A greyscale mask over the photo, stretched to its size. False with *error when it cannot be read.
bool loadMask(const QString& path, int width, int height, cv::Mat* mask, QString* error)
{
    QImageReader reader(path);
    const QImage read = reader.read();
    if (read.isNull()) {
        *error = tr("The mask %1 cannot be read: %2").arg(native(path), reader.errorString());
        return false;
    }
    // Scaled first: smooth scaling hands back a colour format, whatever it was given.
    const QImage grey = read.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_Grayscale8);
    if (grey.isNull() || grey.width() != width || grey.height() != height) {
        *error = tr("The mask %1 cannot be read.").arg(native(path));
        return false;
    }
    *mask = cv::Mat(height, width, CV_8U);
    for (int y = 0; y < height; ++y) std::copy_n(grey.constScanLine(y), width, mask->ptr<uchar>(y));
    return true;
}

// One mesh of the scene: what the depth view and, for a paintable one, the painter need.
struct SceneMesh {
    int index = -1;
    ref_ptr<IZimMesh> mesh;
    // Held here so the views below stay valid while the scene is painted.
    ref_ptr<Pnt3fArray> vertices;
    ref_ptr<IntArray> triangles;
    ref_ptr<Pnt2fArray> uvs;
    ref_ptr<IntArray> uvTriangles;
    orvpaint::MeshView view;
    ref_ptr<IZimImage> texture;  // null: seen (it may hide others) but not painted
    orvpaint::TextureView textureView;
};

// Takes the mesh's arrays and points the painter's view at them; false for a mesh without
// usable geometry.
bool takeGeometry(SceneMesh* m)
{
    static_assert(sizeof(XPnt3f) == 3 * sizeof(float), "positions are packed x, y, z");
    static_assert(sizeof(XPnt2f) == 2 * sizeof(float), "texture coordinates are packed s, t");
    m->vertices = m->mesh->meshVertexSource();
    m->triangles = m->mesh->meshTriangles();
    if (!m->vertices || !m->triangles || m->vertices->isEmpty() || m->triangles->count() < 3) return false;
    m->uvs = m->mesh->meshTexCoords();
    m->uvTriangles = m->mesh->hasTexIndices() ? m->mesh->meshTexIndices() : ref_ptr<IntArray>();
    orvpaint::MeshView& v = m->view;
    v.positions = reinterpret_cast<const float*>(m->vertices->data());
    v.vertexCount = m->vertices->count();
    v.triangles = m->triangles->data();
    v.triangleCount = m->triangles->count() / 3;
    v.uvs = m->uvs && !m->uvs->isEmpty() ? reinterpret_cast<const float*>(m->uvs->data()) : nullptr;
    v.uvCount = m->uvs ? m->uvs->count() : 0;
    v.uvTriangles =
        m->uvTriangles && m->uvTriangles->count() >= m->triangles->count() ? m->uvTriangles->data() : nullptr;
    return true;
}

// Photo pixel position (of a photo held at the camera's own size) to the undistorted pinhole
// position the look-through view projects it at.
void undistort(const ZimPhotoCamera& c, double px, double py, double& ux, double& uy)
{
    const double xd = (px - c.cx) / c.fx, yd = (py - c.cy) / c.fy;
    double x = xd, y = yd;
    for (int i = 0; i < 8; ++i) {
        const double r2 = x * x + y * y;
        const double d = 1 + c.k1 * r2 + c.k2 * r2 * r2;
        if (!(d > 0.1)) break;
        x = xd / d;
        y = yd / d;
    }
    ux = c.fx * x + c.cx;
    uy = c.fy * y + c.cy;
}

// Fits the photo's colours to the backup picture (the textures as the photo's camera sees them).
// The look-through view fits the whole undistorted photo into the picture, centred; only pixels
// where the scene is seen take part.
bool fitColours(const orvpaint::PhotoPyramid& photo, const orvpaint::DepthView& depth, const ZimPhotoCamera& camera,
                const QImage& backup, orvpaint::ColourMatch* match)
{
    if (photo.isEmpty() || backup.isNull()) return false;
    const QImage picture = backup.convertToFormat(QImage::Format_RGB888);
    // A level about the picture's size: finer adds nothing the picture can confirm.
    int level = 0;
    while (level + 1 < photo.levels() && photo.level(level).cols > picture.width()) ++level;
    const cv::Mat& small = photo.level(level);
    const double toFullX = double(photo.width()) / small.cols, toFullY = double(photo.height()) / small.rows;
    const double toCameraX = double(camera.width) / photo.width(), toCameraY = double(camera.height) / photo.height();
    const double s = std::min(double(picture.width()) / camera.width, double(picture.height()) / camera.height);
    const double ox = 0.5 * (picture.width() - s * camera.width), oy = 0.5 * (picture.height() - s * camera.height);
    cv::Mat reference(small.rows, small.cols, CV_8UC3, cv::Scalar(0, 0, 0));
    cv::Mat mask(small.rows, small.cols, CV_8U, cv::Scalar(0));
    for (int y = 0; y < small.rows; ++y)
        for (int x = 0; x < small.cols; ++x) {
            const double px = (x + 0.5) * toFullX, py = (y + 0.5) * toFullY;
            if (!(depth.depthAt(px, py) < orvpaint::DepthView::kEmpty)) continue;
            double ux = 0, uy = 0;
            undistort(camera, px * toCameraX, py * toCameraY, ux, uy);
            const int bx = int(std::floor(ox + s * ux)), by = int(std::floor(oy + s * uy));
            if (bx < 0 || by < 0 || bx >= picture.width() || by >= picture.height()) continue;
            const uchar* in = picture.constScanLine(by) + 3 * bx;
            uchar* out = reference.ptr<uchar>(y) + 3 * x;
            out[0] = in[2], out[1] = in[1], out[2] = in[0];
            mask.ptr<uchar>(y)[x] = 255;
        }
    return match->fit(small, reference, mask);
}

// Texels whose bytes differ between two snapshots of the same tiles.
qint64 texelsBetween(const orvpaint::TileSnapshot& a, const orvpaint::TileSnapshot& b)
{
    QHash<QString, const QByteArray*> bytesOf;
    const auto id = [](const QString& key, int column, int row) {
        return key + QLatin1Char('/') + QString::number(column) + QLatin1Char('/') + QString::number(row);
    };
    for (const orvpaint::TileSnapshot::Tile& t : a.tiles())
        bytesOf.insert(id(a.textures()[t.texture].key, t.column, t.row), &t.bytes);
    qint64 n = 0;
    for (const orvpaint::TileSnapshot::Tile& t : b.tiles()) {
        const orvpaint::TileSnapshot::Texture& texture = b.textures()[t.texture];
        const QByteArray* other = bytesOf.value(id(texture.key, t.column, t.row));
        const int channels = std::max(texture.channels, 1);
        if (!other || other->size() != t.bytes.size()) {
            n += t.bytes.size() / channels;
            continue;
        }
        for (int k = 0; k + channels <= t.bytes.size(); k += channels)
            if (std::memcmp(t.bytes.constData() + k, other->constData() + k, std::size_t(channels)) != 0) ++n;
    }
    return n;
}

}  // namespace

TextureOutcome paintPhotoUndoable(IZimMM* mm, orvUI::IOrvViewerMan* vm, orvUI::IOrv3DViewer* viewer,
                                  const PaintRequest& request, IZimProgress* progress, const TextureRefresh& refresh)
{
    if (!mm || !mm->isProjectOpen()) return refusal(tr("No project is open. Create or open a project first."));
    const int index = request.photo;
    if (index < 0 || index >= mm->imageCount()) return refusal(tr("There is no such photograph in the project."));
    const QString name = photoName(mm, index);
    ZimPhotoCamera camera;
    if (!mm->isImageMapped(index))
        return refusal(tr("The photograph %1 is not mapped yet. Place marks on it and map it first.").arg(name));
    if (mm->getImageCamera(index, camera) != 0 || !camera.isValid())
        return refusal(tr("The photograph %1 has no usable camera. Map it again.").arg(name));
    if (!viewer) return refusal(tr("There is no 3D view to take the backup through the photograph."));

    QString error;
    const orvpaint::PhotoPyramid photo = loadPhoto(mm, index, &error);
    if (photo.isEmpty()) return refusal(error);
    cv::Mat mask;
    if (!request.maskPath.isEmpty() && !loadMask(request.maskPath, photo.width(), photo.height(), &mask, &error))
        return refusal(error);

    // The scene: every awake mesh with geometry may hide another; those with a texture that can
    // be changed are painted.
    TextureOutcome outcome;
    QVector<SceneMesh> scene;
    int paintable = 0;
    for (int i = 0; i < mm->imageCount(); ++i) {
        SceneMesh m;
        m.index = i;
        if (mm->getMeshAt(m.mesh, i) != 0 || !m.mesh || mm->isMeshAsleepById(i)) continue;
        if (!takeGeometry(&m)) continue;
        const bool textured = !m.mesh->meshTexturePath().isEmpty() || mm->isTextureShown(i);
        ref_ptr<IZimImage> texture = m.mesh->meshTexture();
        if (texture) {
            const orvpaint::TextureView view = orvpaint::textureViewOf(texture.get());
            if (!view.isValid() || (view.channels != 3 && view.channels != 4))
                outcome.warnings << tr("The texture of %1 is held at a reduced size and cannot be changed; the "
                                       "mesh was left out.")
                                        .arg(meshName(mm, i));
            else if (!m.view.uvs || m.view.uvCount <= 0)
                outcome.warnings << tr("%1 has no texture coordinates; the mesh was left out.").arg(meshName(mm, i));
            else {
                m.texture = texture;
                m.textureView = view;
                ++paintable;
            }
        } else if (textured && !m.mesh->meshTexturePath().isEmpty()) {
            outcome.warnings << tr("The texture %1 of %2 cannot be read; the mesh was left out.")
                                    .arg(native(m.mesh->meshTexturePath()), meshName(mm, i));
        }
        scene.append(m);
    }
    if (paintable == 0) {
        TextureOutcome out = refusal(tr("No awake mesh has a texture that can be painted."));
        out.warnings = outcome.warnings;
        return out;
    }

    orvpaint::PinholeCamera pinhole = orvpaint::PinholeCamera::from(camera);
    const orvpaint::PhotoProjector projector(pinhole, photo.width(), photo.height());
    if (!projector.isValid()) return refusal(tr("The photograph %1 has no usable camera. Map it again.").arg(name));
    orvpaint::DepthView depth(projector);
    for (const SceneMesh& m : scene) depth.addMesh(m.view);
    depth.render();
    if (depth.coveredPixels() == 0) return refusal(tr("The photograph %1 sees none of the meshes.").arg(name));
    const orvpaint::PaintWeights weights(depth, orvpaint::WeightOptions(), mask);

    // The paint's folder and its backup, taken through the photo's camera.
    const orvpaint::ProjectData data(mm->projectPath());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString paintName = data.newPaintName(now);
    if (!data.ensurePaint(paintName, &error)) return refusal(error);
    const auto dropPaint = [&]() {
        QString ignored;
        data.removePaint(paintName, &ignored);
    };
    const QString backupPath = QDir(data.paintPath(paintName)).filePath(QStringLiteral("backup.png"));
    if (viewer->lookThroughCamera(camera) != 0) {
        dropPaint();
        return refusal(tr("The photograph %1 has no usable camera. Map it again.").arg(name));
    }
    const BackupResult backup = takeBackup(mm, viewer, backupPath);
    if (!backup.ok) {
        dropPaint();
        return refusal(
            tr("The backup before painting could not be taken: %1").arg(backupFailureText(backup, backupPath)));
    }

    orvpaint::ColourMatch colours;
    if (request.colourMatch) {
        QImageReader reader(backupPath);
        const QImage picture = reader.read();
        if (!fitColours(photo, depth, camera, picture, &colours)) {
            colours = orvpaint::ColourMatch();
            outcome.warnings << tr(
                "The photograph's colours could not be matched to the textures; it was painted "
                "with its own colours.");
        }
    }

    // Paint, keeping every tile before its first byte is written.
    orvpaint::TileSnapshot undo;
    QHash<QString, orvpaint::TextureView> painted;
    QVector<int> changed;
    QString failure;
    {
        ProgressBatch batch(progress, tr("Painting the photograph %1").arg(name), paintable);
        for (const SceneMesh& m : scene) {
            if (!m.texture) continue;
            const QString key = textureKey(m.index);
            bool kept = true;
            orvpaint::PaintOptions options;
            options.colourMatch = colours.isIdentity() ? nullptr : &colours;
            options.tileSize = orvpaint::kTileSize;
            options.beforeWrite = [&](const std::vector<orvpaint::TileKey>& tiles) {
                if (tiles.empty()) return;
                QString why;
                if (!undo.capture(key, m.textureView, toPoints(tiles), &why)) {
                    kept = false;
                    failure = why;
                }
            };
            orvpaint::ImageRows rows;
            rows.data = m.textureView.data;
            rows.width = m.textureView.width;
            rows.height = m.textureView.height;
            rows.rowBytes = int(m.textureView.rowBytes);
            rows.channels = m.textureView.channels;
            rows.bottomUp = true;
            const orvpaint::PaintStats stats =
                orvpaint::TexturePaint::paint(m.view, rows, photo, projector, depth, weights, options);
            if (!undo.tilesOf(key).isEmpty()) painted.insert(key, m.textureView);
            if (stats.texelsChanged > 0) {
                mm->notifyTextureEdited(m.index);
                changed.append(m.index);
                outcome.texels += stats.texelsChanged;
            }
            if (!kept || !stats.ok) {
                if (failure.isEmpty()) failure = QString::fromStdString(stats.error);
                break;
            }
            batch.step();
        }
    }
    const auto undoAll = [&]() {
        QString ignored;
        undo.restore(painted, &ignored);
        for (int i : changed) mm->notifyTextureEdited(i);
        dropPaint();
    };
    if (!failure.isEmpty()) {
        undoAll();
        return refusal(tr("The photograph %1 could not be painted: %2").arg(name, failure));
    }
    if (changed.isEmpty()) {
        undoAll();
        return refusal(
            tr("The photograph %1 sees none of the textures that can be painted; nothing was changed.").arg(name));
    }

    // Keep both states with the project, then log the paint.
    orvpaint::TileSnapshot redo;
    const QString folder = data.paintPath(paintName);
    const QString undoPath = QDir(folder).filePath(QStringLiteral("undo.tiles"));
    const QString redoPath = QDir(folder).filePath(QStringLiteral("redo.tiles"));
    orvpaint::PaintLog log(data);
    QString logWarning;
    log.load(&logWarning);
    orvpaint::PaintRecord record;
    record.name = paintName;
    record.time = now;
    record.photoIndex = index;
    record.camera = camera;
    record.textureKeys = undo.keys();
    record.backupPicture = data.toStored(backupPath);
    record.backupRecords = data.toStored(orvUI::BackupRecords::pathFor(backupPath));
    record.undoTiles = data.toStored(undoPath);
    record.redoTiles = data.toStored(redoPath);
    QString appendWarning;
    if (!undo.captureAfter(painted, &redo, &error) || !undo.save(undoPath, &error) || !redo.save(redoPath, &error) ||
        !log.append(record, &error, &appendWarning)) {
        undoAll();
        return refusal(tr("The photograph %1 could not be painted: %2").arg(name, error));
    }
    const QByteArray stored = QFileInfo(mm->projectPath()).absoluteDir().relativeFilePath(log.path()).toUtf8();
    mm->writeProjectData(QStringLiteral("paint"), QStringLiteral("log"), stored.constData(), stored.size());
    if (!logWarning.isEmpty()) outcome.warnings << logWarning;
    if (!appendWarning.isEmpty()) outcome.warnings << appendWarning;

    outcome.ok = true;
    outcome.name = paintName;
    outcome.photoName = name;
    outcome.backupPicture = backupPath;
    outcome.meshes = changed.size();
    pushStep(mm, vm, std::move(undo), std::move(redo), refresh);
    if (refresh) refresh(changed);
    return outcome;
}

TextureOutcome applyEditedBackupUndoable(IZimMM* mm, orvUI::IOrvViewerMan* vm, const QString& editedPath,
                                         const QString& originalPath, const TextureRefresh& refresh)
{
    if (!mm || !mm->isProjectOpen()) return refusal(tr("No project is open. Create or open a project first."));
    QImageReader editedReader(editedPath);
    const QImage edited = editedReader.read();
    if (edited.isNull())
        return refusal(
            tr("The edited picture %1 cannot be read: %2").arg(native(editedPath), editedReader.errorString()));
    QImageReader originalReader(originalPath);
    const QImage original = originalReader.read();
    if (original.isNull())
        return refusal(
            tr("The backup picture %1 cannot be read: %2").arg(native(originalPath), originalReader.errorString()));
    orvUI::BackupRecords records;
    QString error;
    if (!records.read(orvUI::BackupRecords::pathFor(originalPath), &error)) return refusal(error);
    if (!records.matchesPicture(original.size(), &error) || !records.matchesPicture(edited.size(), &error))
        return refusal(error);
    if (!records.matchesProject(orvUI::ProjectIdentity::of(mm, records.meshIndices()), &error)) return refusal(error);

    orvUI::TextureImageMap textures;
    for (int index : records.meshIndices()) {
        ref_ptr<IZimImage> texture = currentTexture(mm, index);
        if (texture) textures.insert(index, texture);
    }
    orvUI::EditedBackup apply;
    if (!apply.prepare(original, edited, records, textures)) return refusal(apply.error());

    TextureOutcome outcome;
    outcome.ok = true;
    if (apply.changes().isEmpty()) return outcome;

    orvpaint::TileSnapshot undo;
    QHash<QString, orvpaint::TextureView> views;
    for (auto it = apply.changes().constBegin(); it != apply.changes().constEnd(); ++it) {
        const QString key = textureKey(it.key());
        const orvpaint::TextureView view = orvpaint::textureViewOf(textures.value(it.key()).get());
        if (!undo.capture(key, view, it.value().tiles, &error)) return refusal(error);
        views.insert(key, view);
    }
    if (!apply.write()) return refusal(apply.error());
    QVector<int> changed;
    for (auto it = apply.changes().constBegin(); it != apply.changes().constEnd(); ++it) {
        mm->notifyTextureEdited(it.key());
        changed.append(it.key());
        outcome.texels += it.value().texels;
    }
    orvpaint::TileSnapshot redo;
    if (!undo.captureAfter(views, &redo, &error)) {
        QString ignored;
        undo.restore(views, &ignored);
        for (int i : changed) mm->notifyTextureEdited(i);
        return refusal(error);
    }
    outcome.meshes = changed.size();
    pushStep(mm, vm, std::move(undo), std::move(redo), refresh);
    if (refresh) refresh(changed);
    return outcome;
}

QVector<KeptPaint> keptPaints(IZimMM* mm, QString* warning)
{
    QVector<KeptPaint> out;
    if (!mm || !mm->isProjectOpen()) return out;
    orvpaint::PaintLog log(orvpaint::ProjectData(mm->projectPath()));
    QString why;
    log.load(&why);
    if (warning) *warning = why;
    for (const orvpaint::PaintRecord& r : log.paints()) {
        KeptPaint p;
        p.name = r.name;
        p.time = r.time;
        p.photo = r.photoIndex;
        p.photoName = r.photoIndex >= 0 && r.photoIndex < mm->imageCount() ? photoName(mm, r.photoIndex) : QString();
        p.textures = r.textureKeys.size();
        out.append(p);
    }
    return out;
}

TextureOutcome restorePaintUndoable(IZimMM* mm, orvUI::IOrvViewerMan* vm, const QString& name,
                                    const TextureRefresh& refresh)
{
    if (!mm || !mm->isProjectOpen()) return refusal(tr("No project is open. Create or open a project first."));
    const orvpaint::ProjectData data(mm->projectPath());
    orvpaint::PaintLog log(data);
    QString warning;
    log.load(&warning);
    const orvpaint::PaintRecord* record = log.find(name);
    if (!record) return refusal(tr("There is no kept paint named \"%1\".").arg(name));
    orvpaint::TileSnapshot before;
    QString error;
    if (!orvpaint::loadPaintTiles(data, *record, false, &before, &error)) return refusal(error);

    // The same tiles as they are now: what undoing the restore gives back.
    QHash<QString, orvpaint::TextureView> views;
    QVector<ref_ptr<IZimImage>> keep;
    if (!textureViews(mm, before.keys(), &views, &keep, &error)) return refusal(error);
    for (const orvpaint::TileSnapshot::Texture& t : before.textures()) {
        const orvpaint::TextureView& v = views[t.key];
        if (v.width != t.width || v.height != t.height || v.channels != t.channels) {
            bool ok = false;
            const int index = t.key.toInt(&ok);
            return refusal(tr("The texture of %1 is now %2 x %3 texels; the paint %4 was made on a texture of %5 x %6 "
                              "texels and cannot be restored.")
                               .arg(ok ? meshName(mm, index) : t.key)
                               .arg(v.width)
                               .arg(v.height)
                               .arg(name)
                               .arg(t.width)
                               .arg(t.height));
        }
    }
    orvpaint::TileSnapshot now;
    for (const QString& key : before.keys())
        if (!now.capture(key, views.value(key), before.tilesOf(key), &error)) return refusal(error);
    if (!before.restore(views, &error)) return refusal(error);

    TextureOutcome outcome;
    outcome.ok = true;
    outcome.name = name;
    const QVector<int> changed = indicesOf(before.keys());
    for (int i : changed) mm->notifyTextureEdited(i);
    outcome.meshes = changed.size();
    outcome.texels = texelsBetween(now, before);
    if (!warning.isEmpty()) outcome.warnings << warning;
    pushStep(mm, vm, std::move(now), std::move(before), refresh);
    if (refresh) refresh(changed);
    return outcome;
}

bool saveWorkingTextures(IZimMM* mm, QString* error)
{
    if (!mm || !mm->isProjectOpen()) {
        if (error) *error = tr("No project is open. Create or open a project first.");
        return false;
    }
    const orvpaint::ProjectData data(mm->projectPath());
    orvpaint::WorkingTextureStore store(data);
    QString warning;
    store.load(&warning);
    QString why;
    for (int i = 0; i < mm->imageCount(); ++i) {
        if (!mm->isTextureEdited(i)) continue;
        ref_ptr<IZimImage> texture = currentTexture(mm, i);
        const QImage image = texture ? texture->imageToQImage() : QImage();
        ref_ptr<IZimMesh> mesh;
        QString textureName;
        if (mm->getMeshAt(mesh, i) == 0 && mesh) mesh->meshTextureName(textureName);
        if (textureName.isEmpty() && mesh) textureName = QFileInfo(mesh->meshTexturePath()).completeBaseName();
        if (textureName.isEmpty()) textureName = QStringLiteral("texture-%1").arg(i);
        if (image.isNull()) {
            if (error)
                *error =
                    tr("The changed texture of %1 is no longer in memory; it cannot be saved.").arg(meshName(mm, i));
            return false;
        }
        if (!data.ensureTextures(&why) || !store.save(textureKey(i), textureName, image, &why)) {
            if (error) *error = why;
            return false;
        }
        if (mm->setWorkingTexture(i, store.savedPath(textureKey(i))) != 0) {
            if (error)
                *error = tr("The working texture %1 cannot be used: %2")
                             .arg(native(store.savedPath(textureKey(i))), mm->lastError());
            return false;
        }
    }
    return true;
}

bool exportTextures(IZimMM* mm, const QString& folder, QStringList* written, QString* error)
{
    const auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (written) written->clear();
    if (!mm || !mm->isProjectOpen()) return fail(tr("No project is open. Create or open a project first."));
    const QFileInfo dir(folder);
    if (!dir.isDir()) return fail(tr("The folder %1 does not exist.").arg(native(folder)));
    struct Target {
        int index;
        QString path;
    };
    QVector<Target> targets;
    QSet<QString> names;
    for (int i = 0; i < mm->imageCount(); ++i) {
        ref_ptr<IZimMesh> mesh;
        if (mm->getMeshAt(mesh, i) != 0 || !mesh) continue;
        QString textureName;
        mesh->meshTextureName(textureName);
        if (textureName.isEmpty() && mesh->meshTexturePath().isEmpty() && !mm->isTextureEdited(i)) continue;
        if (textureName.isEmpty()) textureName = QFileInfo(mesh->meshTexturePath()).completeBaseName();
        if (textureName.isEmpty()) textureName = QStringLiteral("texture-%1").arg(i);
        const QString path = QDir(folder).absoluteFilePath(textureName + QStringLiteral(".png"));
        if (names.contains(path)) continue;
        if (isProjectOwnFile(mm, path))
            return fail(tr("%1 is one of the project's own files; nothing was exported.").arg(native(path)));
        if (QFileInfo::exists(path)) return fail(tr("%1 exists already; nothing was exported.").arg(native(path)));
        names.insert(path);
        targets.append({i, path});
    }
    if (targets.isEmpty()) return fail(tr("No mesh of the project has a texture to export."));
    // Every texture is read before the first file is written.
    ref_ptr<IZimImageStore> store = imageStore(mm);
    QVector<QImage> images;
    for (const Target& t : targets) {
        ref_ptr<IZimImage> texture = currentTexture(mm, t.index);
        if (!texture && store) store->getStoreImage(texture, t.index, 1);
        images.append(texture ? texture->imageToQImage() : QImage());
        if (images.last().isNull())
            return fail(tr("The texture of %1 cannot be read; nothing was exported.").arg(meshName(mm, t.index)));
    }
    for (int k = 0; k < targets.size(); ++k) {
        const Target& t = targets[k];
        const QImage& image = images[k];
        QSaveFile file(t.path);
        if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit())
            return fail(tr("%1 cannot be written: %2").arg(native(t.path), file.errorString()));
        if (written) written->append(t.path);
    }
    return true;
}

QString paintDoneText(const TextureOutcome& outcome)
{
    if (!outcome.ok) return outcome.error;
    return tr("Painted photo %1 onto %2 textures: %3 texels changed")
        .arg(outcome.photoName)
        .arg(outcome.meshes)
        .arg(outcome.texels);
}

QString applyDoneText(const TextureOutcome& outcome)
{
    if (!outcome.ok) return outcome.error;
    if (outcome.texels == 0) return tr("The edited backup changes no texel; the textures are as they were.");
    return tr("Applied the edited backup onto %1 textures: %2 texels changed").arg(outcome.meshes).arg(outcome.texels);
}

}  // namespace orvCore
