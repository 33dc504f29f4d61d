#include "HostPaint.h"

#include <PaintCommands.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include "HostOptions.h"

namespace orvHost {

namespace {

ZIM_TR_CONTEXT("orvhost")

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

QString photoPathOf(IZimMM* mm, int index)
{
    ref_ptr<IZimImageEntry> entry;
    if (mm->getImageEntry(entry, index) != 0 || !entry) return QString();
    return entry->photoPath();
}

// Empty when path names a picture that can be read; else why not.
QString pictureProblem(const QString& path, const QString& what)
{
    const QFileInfo info(path);
    if (!info.exists()) return tr("the %1 %2 does not exist").arg(what, native(path));
    if (!info.isFile()) return tr("the %1 %2 is not a file").arg(what, native(path));
    QImageReader reader(path);
    if (!reader.canRead() || !reader.size().isValid())
        return tr("the %1 %2 cannot be read as a picture").arg(what, native(path));
    return QString();
}

void noRefresh(const QVector<int>&) {}

// Writes the changed textures into the data folder, then the project.
void saveChanges(IZimMM* mm, HostRunResult* result)
{
    QString error;
    if (!orvCore::saveWorkingTextures(mm, &error)) {
        result->err << error;
        result->exitCode = PaintSaveFailed;
        return;
    }
    if (mm->saveProject() != 0) {
        result->err << mm->lastError();
        result->exitCode = PaintSaveFailed;
        return;
    }
    result->out << tr("orvhost: saved %1").arg(native(mm->projectPath()));
}

}  // namespace

HostRunResult checkPaintRequest(IZimMM* mm, int index, const QString& mask, QSize* viewSize)
{
    HostRunResult result;
    const int count = mm->imageCount();
    if (index < 0 || index >= count) {
        result.err << (count == 0 ? tr("the project %1 has no photos").arg(native(mm->projectPath()))
                                  : tr("the project %1 has no photo %2 (its photos are 0 to %3)")
                                        .arg(native(mm->projectPath()))
                                        .arg(index)
                                        .arg(count - 1));
        result.exitCode = PaintMissing;
        return result;
    }
    const QString photo = photoPathOf(mm, index);
    const QString photoProblem = pictureProblem(photo, tr("photo"));
    if (!photoProblem.isEmpty()) {
        result.err << photoProblem;
        result.exitCode = PaintMissing;
        return result;
    }
    if (!mask.isEmpty()) {
        const QString maskProblem = pictureProblem(mask, tr("mask"));
        if (!maskProblem.isEmpty()) {
            result.err << maskProblem;
            result.exitCode = PaintMissing;
            return result;
        }
    }
    ZimPhotoCamera camera;
    if (!mm->isImageMapped(index) || mm->getImageCamera(index, camera) != 0 || !camera.isValid()) {
        result.err << tr("photo %1 (%2) is not mapped: map it from its marks first (--map %1)")
                          .arg(index)
                          .arg(QFileInfo(photo).fileName());
        result.exitCode = PaintRefused;
        return result;
    }
    // The view takes the shape the camera was registered for: the photo as it was measured.
    QSize size = paintViewSize(QSize(camera.width, camera.height));
    if (!size.isValid()) size = paintViewSize(QImageReader(photo).size());
    if (viewSize) *viewSize = size;
    return result;
}

HostRunResult paintAndSave(IZimMM* mm, orvUI::IOrvViewerMan* vm, orvUI::IOrv3DViewer* viewer, const PaintRun& run)
{
    HostRunResult result;
    orvCore::PaintRequest request;
    request.photo = run.index;
    request.colourMatch = run.colourMatch;
    request.maskPath = run.mask.isEmpty() ? QString() : QFileInfo(run.mask).absoluteFilePath();
    const orvCore::TextureOutcome outcome = orvCore::paintPhotoUndoable(mm, vm, viewer, request, nullptr, &noRefresh);
    for (const QString& w : outcome.warnings) result.err << tr("warning: %1").arg(w);
    const QString name = QFileInfo(photoPathOf(mm, run.index)).fileName();
    if (!outcome.ok) {
        result.err << tr("photo %1 (%2) was not painted: %3").arg(run.index).arg(name, outcome.error);
        result.exitCode = PaintRefused;
        return result;
    }
    const QString textures = outcome.meshes == 1 ? tr("1 texture") : tr("%1 textures").arg(outcome.meshes);
    result.out << tr("orvhost: painted photo %1 (%2) onto %3: %4 texels changed, paint %5")
                      .arg(run.index)
                      .arg(name, textures)
                      .arg(outcome.texels)
                      .arg(outcome.name);
    if (run.save && outcome.texels > 0) saveChanges(mm, &result);
    return result;
}

HostRunResult runApplyBackup(const ApplyRun& run)
{
    HostRunResult result;
    // The pictures are checked before the project is opened: a typo costs nothing.
    for (const auto& [path, what] :
         {std::make_pair(run.edited, tr("edited picture")), std::make_pair(run.original, tr("backup picture"))}) {
        const QString problem = pictureProblem(path, what);
        if (!problem.isEmpty()) {
            result.err << problem;
            result.exitCode = PaintMissing;
            return result;
        }
    }
    const ref_ptr<IZimMM> mm = zim::getMM();
    if (mm->openProject(run.project, nullptr) != 0) {
        result.err << mm->lastError();
        result.exitCode = PaintMissing;
        return result;
    }
    if (!mm->openNotice().isEmpty()) result.err << mm->openNotice();
    QStringList missing;
    if (mm->getMissingFiles(missing) > 0) result.err << mm->lastError();

    const orvCore::TextureOutcome outcome =
        orvCore::applyEditedBackupUndoable(mm.get(), nullptr, QFileInfo(run.edited).absoluteFilePath(),
                                           QFileInfo(run.original).absoluteFilePath(), &noRefresh);
    for (const QString& w : outcome.warnings) result.err << tr("warning: %1").arg(w);
    if (!outcome.ok) {
        result.err << tr("the edited backup %1 was not applied: %2").arg(native(run.edited), outcome.error);
        result.exitCode = PaintRefused;
        mm->closeProject();
        return result;
    }
    result.out << tr("orvhost: applied edited backup: %1 texels changed in %2")
                      .arg(outcome.texels)
                      .arg(outcome.meshes == 1 ? tr("1 texture") : tr("%1 textures").arg(outcome.meshes));
    if (run.save && outcome.texels > 0) saveChanges(mm.get(), &result);
    mm->closeProject();
    return result;
}

}  // namespace orvHost
