#include "BackupInformation.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>

#include "BackupRecords.h"
#include "IOrvMainFrame.h"
#include "IOrvViewerMan.h"
#include "OrvUIElements64t.h"
#include "ProgressSteps.h"
#include "TexturePainter.h"

namespace orvUI {

namespace {

ZIM_TR_CONTEXT("orvUI::BackupInformation")

// The records beside the picture, for mapping an edited copy of it back onto the textures. A
// picture whose records cannot be written stays a good backup, but older records there must not
// pass for its own.
void saveRecords(const QString& picturePath, const QSize& picture, const ref_ptr<IZimTrackBall>& trackBall,
                 const TriangleRecords& records, const TextureImageMap& textures, IZimMM* mm)
{
    const QString path = BackupRecords::pathFor(picturePath);
    QString error;
    if (BackupRecords::collect(picture, trackBall, records, textures, mm).write(path, &error)) return;
    qWarning().noquote() << error;
    QFile::remove(path);
}

}  // namespace

void BackupInformation::lap(Clock::time_point& since, double BackupTimings::*phase) const
{
    const Clock::time_point now = Clock::now();
    if (m_view.timings) m_view.timings->*phase += std::chrono::duration<double>(now - since).count();
    since = now;
}

bool BackupInformation::fail(const QString& why)
{
    m_error = why;
    qWarning().noquote() << why;
    return false;
}

bool BackupInformation::generate(const QString& path, TriangleRecords& records, TextureImageMap& textures,
                                 SeamEdgeMap& seams)
{
    m_error.clear();
    const bool done = begin() && select(records, textures, seams) && checkTextures(records, textures) &&
                      paint(records, textures) && fillGaps() && save(path);
    if (done) {
        auto phase = Clock::now();
        saveRecords(path, QSize(m_picture->imageWidth(), m_picture->imageHeight()), m_view.trackBall, records, textures,
                    m_mm.get());
        lap(phase, &BackupTimings::saving);
        finish();
    }
    // The frame's progress display closes here, before the view may draw again.
    m_progress.reset();
    m_picture = ref_ptr<IZimImage>();
    return done;
}

bool BackupInformation::begin()
{
    ref_ptr<IOrvViewerMan> vm = getVM();
    if (!vm) return fail(tr("The backup needs the viewer manager."));
    m_mm = zim::getMM();
    ref_ptr<IZimTqState> state;
    if (!m_mm || m_mm->getState(state) != 0 || !state || state->getImageStore(m_store) != 0 || !m_store)
        return fail(tr("The backup needs an open project."));
    if (!m_view.trackBall) return fail(tr("The backup needs the 3D view's camera."));

    ref_ptr<MeshArray> listed;
    if (m_mm->getBackupMeshArray(listed) != 0 || !listed)
        return fail(tr("The project has no awake textured meshes to back up."));
    m_meshes = new MeshArray();
    for (int i = listed->meshCount() - 1; i >= 0; --i)
        if (const ref_ptr<IZimMesh> mesh = listed->meshAt(i)) m_meshes->appendMesh(mesh);
    if (m_meshes->meshCount() == 0) return fail(tr("The project has no awake textured meshes to back up."));

    IOrvMainFrame* frame = vm->getMainFrame();
    if (m_view.width <= 0 || m_view.height <= 0 || !m_view.prepareDepth)
        return fail(tr("The 3D view has no drawing surface yet."));
    // The frame makes a new progress display for every call; it closes when the backup is done.
    m_progress.reset(m_view.makeProgress ? m_view.makeProgress() : frame ? frame->getProgress() : nullptr);
    if (!m_progress) return fail(tr("The backup needs the main window's progress display."));
    return true;
}

bool BackupInformation::select(TriangleRecords& records, TextureImageMap& textures, SeamEdgeMap& seams)
{
    IZimProgress* progress = m_progress.get();
    progress->progressText(tr("we are generating backup informations..."));
    progress->progressPush(0.2);
    // Right before the selection reads it: the progress display may have let a frame through.
    auto phase = Clock::now();
    const bool depthReady = m_view.prepareDepth();
    lap(phase, &BackupTimings::depth);
    auto release = [this]() {
        if (m_view.releaseDepth) m_view.releaseDepth();
    };
    if (!depthReady) {
        release();
        progress->progressPop();
        return fail(tr("The 3D view has no drawing surface yet."));
    }
    const Enve2d region(0.0, double(m_view.width), 0.0, double(m_view.height));
    ref_ptr<ByteArrayArray> flags = zim::newByteArrayArray();
    const bool selected = selectVisibleTriangles(m_view.trackBall, true, m_meshes, region, flags, progress, records,
                                                 textures, seams, m_view.width, m_view.height, m_view.timings);
    release();
    progress->progressPop();
    if (!selected) return fail(tr("No textured mesh is visible in the 3D view."));
    return true;
}

bool BackupInformation::checkTextures(const TriangleRecords& records, const TextureImageMap& textures)
{
    const ref_ptr<IZimMM>& mm = m_mm;
    // Refuse a picture of nothing but background: no visible triangle has a texture to paint.
    bool anyTexture = false;
    QStringList missing;
    QStringList untextured;  // meshes with texture coordinates but no texture: left out, not failed
    for (auto it = textures.constBegin(); it != textures.constEnd(); ++it) {
        if (it.value()) {
            anyTexture = true;
            continue;
        }
        ref_ptr<IZimMesh> mesh;
        mm->getMeshAt(mesh, it.key());
        QString name;
        if (mesh) mesh->meshName(name);
        if (mesh && !mesh->meshTexturePath().isEmpty())
            missing << QDir::toNativeSeparators(mesh->meshTexturePath());
        else
            untextured << (name.isEmpty() ? tr("mesh %1").arg(it.key() + 1) : name);
    }
    if (!missing.isEmpty()) qWarning().noquote() << tr("Textures that cannot be read: %1").arg(missing.join(", "));
    if (!untextured.isEmpty())
        qWarning().noquote() << tr("Meshes without a texture, left out: %1").arg(untextured.join(", "));
    if (!anyTexture) {
        if (records.isEmpty() || missing.isEmpty()) return fail(tr("No textured mesh is visible in the 3D view."));
        return fail(tr("None of the visible meshes has a texture that can be read: %1").arg(missing.join(", ")));
    }
    return true;
}

bool BackupInformation::paint(const TriangleRecords& records, const TextureImageMap& textures)
{
    IZimProgress* progress = m_progress.get();
    const QSize size = backupImageSize(m_view.width, m_view.height);
    m_picture = zim::newZimImage();
    if (!m_picture || !m_picture->imageCreate(size.width(), size.height(), 24, 1))
        return fail(
            tr("There is not enough memory for a %1 x %2 backup picture.").arg(size.width()).arg(size.height()));
    m_picture->imageReset();

    progress->progressPush(0.2);
    auto phase = Clock::now();
    fillBackupGray(m_picture.get());
    lap(phase, &BackupTimings::fill);
    progress->progressStep(1.0);
    progress->progressPop();

    ref_ptr<IZimModelItems> items;
    if (m_mm->getModelItems(items) != 0 || !items) return fail(tr("The project's model items are not available."));

    progress->progressPush(0.3);
    const ref_ptr<IZimImageStore> store = m_store;
    TexturePainter painter(m_picture, textures, [store](int mesh) {
        ref_ptr<IZimImage> alpha;
        store->getAlphaImage(alpha, mesh, 1, false);
        return alpha;
    });
    painter.setThreads(m_view.paintThreads);
    phase = Clock::now();
    const bool painted = painter.paintRecords(records, progress);
    lap(phase, &BackupTimings::painting);
    progress->progressPop();
    if (!painted) return fail(tr("There is not enough memory to paint the backup picture."));
    return true;
}

bool BackupInformation::fillGaps()
{
    m_progress->progressPush(0.2);
    auto phase = Clock::now();
    fillImageGaps(m_picture.get(), 3);
    lap(phase, &BackupTimings::gaps);
    m_progress->progressStep(1.0);
    m_progress->progressPop();
    return true;
}

bool BackupInformation::save(const QString& path)
{
    // A picture that was not written is a failed backup.
    auto phase = Clock::now();
    const int saved = m_picture->imageSave(path, 1);
    lap(phase, &BackupTimings::saving);
    if (saved != 0)
        return fail(tr("The backup picture %1 cannot be written: %2")
                        .arg(QDir::toNativeSeparators(path), m_picture->imageLastError()));
    return true;
}

void BackupInformation::finish()
{
    m_progress->progressPush(0.1);
    m_progress->progressStep(1.0);
    m_progress->progressStep(0.01);
    m_progress->progressPop();

    auto phase = Clock::now();
    if (m_view.redraw) m_view.redraw();
    lap(phase, &BackupTimings::redraw);
}

}  // namespace orvUI
