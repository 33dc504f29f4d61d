#include "CoreBackup.h"

#include <IOrv3DViewer.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMap>
#include <QSet>

#include "CoreCommands.h"

namespace orvCore {

namespace {

ZIM_TR_CONTEXT("orvCore")
QString native(const QString& path) { return QDir::toNativeSeparators(path); }

// The nearest folder at or above `folder` that is there (a file counts as there).
QFileInfo nearestExisting(const QString& folder)
{
    QString at = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    while (!QFileInfo::exists(at)) {
        const QString up = QFileInfo(at).absolutePath();
        if (up == at) break;
        at = up;
    }
    return QFileInfo(at);
}

// A mesh as the user knows it: its label, else its OBJ file's name.
QString meshName(IZimMM* mm, int index)
{
    ref_ptr<IZimImageEntry> entry;
    if (mm && mm->getImageEntry(entry, index) == 0 && entry) {
        if (!entry->label().trimmed().isEmpty()) return entry->label();
        if (!entry->meshPath().isEmpty()) return QFileInfo(entry->meshPath()).fileName();
    }
    return tr("mesh %1").arg(index);
}

}  // namespace

BackupProblem backupMeshProblem(IZimMM* mm)
{
    if (!mm || !mm->isProjectOpen()) return BackupProblem::NoProject;
    ref_ptr<MeshArray> backup;
    if (mm->getBackupMeshArray(backup) == 0 && backup)
        for (int i = 0; i < backup->meshCount(); ++i)
            if (backup->meshAt(i)) return BackupProblem::None;
    const int images = mm->imageCount();
    if (images <= 0) return BackupProblem::NoMeshes;
    // A textured mesh that is not in the backup list is asleep (or its OBJ could not be read).
    for (int i = 0; i < images; ++i) {
        ref_ptr<IZimMesh> mesh;
        if (mm->getMeshAt(mesh, i) == 0 && mesh && !mesh->meshTexturePath().isEmpty()) return BackupProblem::AllAsleep;
    }
    return BackupProblem::NoneTextured;
}

QByteArray backupFormat(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    QByteArray format;
    if (suffix.isEmpty() || suffix == QLatin1String("png"))
        format = "png";
    else if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        format = "jpeg";
    else if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        format = "tiff";
    else
        format = suffix.toLatin1();
    return QImageWriter::supportedImageFormats().contains(format) ? format : QByteArray();
}

BackupProblem backupTargetProblem(const QString& path)
{
    if (path.trimmed().isEmpty()) return BackupProblem::NoFileName;
    const QFileInfo target(path);
    if (target.isDir()) return BackupProblem::TargetIsFolder;
    // The picture is written beside the target and renamed over it: that would replace a FIFO,
    // a device node or a socket by a regular file.
    if (target.exists() && !target.isFile()) return BackupProblem::NotRegularFile;
    const QFileInfo folder(target.absolutePath());
    if (!folder.exists()) {
        // A file somewhere above stops the path as surely as a missing folder, but says more.
        const QFileInfo above = nearestExisting(folder.absoluteFilePath());
        return above.exists() && !above.isDir() ? BackupProblem::FolderIsFile : BackupProblem::FolderMissing;
    }
    if (!folder.isDir()) return BackupProblem::FolderIsFile;
    if (!folder.isWritable() || (target.exists() && !target.isWritable())) return BackupProblem::FolderNotWritable;
    if (backupFormat(path).isEmpty()) return BackupProblem::UnknownFormat;
    return BackupProblem::None;
}

bool isSameFile(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty()) return false;
    const QByteArray pa = QFile::encodeName(a), pb = QFile::encodeName(b);
    struct stat sa {
    }, sb{};
    if (::stat(pa.constData(), &sa) == 0 && ::stat(pb.constData(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    const QString ca = QFileInfo(a).canonicalFilePath(), cb = QFileInfo(b).canonicalFilePath();
    return !ca.isEmpty() && ca == cb;
}

QStringList projectOwnFiles(IZimMM* mm)
{
    QStringList files;
    if (!mm || !mm->isProjectOpen()) return files;
    auto add = [&files](const QString& path) {
        if (!path.isEmpty() && !files.contains(path)) files << path;
    };
    add(mm->projectPath());
    for (int i = 0; i < mm->imageCount(); ++i) {
        ref_ptr<IZimImageEntry> entry;
        if (mm->getImageEntry(entry, i) == 0 && entry) {
            add(entry->photoPath());
            add(entry->meshPath());
        }
        ref_ptr<IZimMesh> mesh;
        if (mm->getMeshAt(mesh, i) == 0 && mesh) {
            add(mesh->meshFilePath());
            add(mesh->meshTexturePath());
            add(mesh->meshAlphaTexturePath());
        }
    }
    return files;
}

bool isProjectOwnFile(IZimMM* mm, const QString& path)
{
    // Only a file that is there can be destroyed; a missing one matches nothing.
    if (!QFileInfo::exists(path)) return false;
    for (const QString& own : projectOwnFiles(mm))
        if (isSameFile(path, own)) return true;
    return false;
}

BackupProblem backupTargetProblem(const QString& path, IZimMM* mm)
{
    const BackupProblem problem = backupTargetProblem(path);
    if (problem != BackupProblem::None) return problem;
    return isProjectOwnFile(mm, path) ? BackupProblem::OwnFile : BackupProblem::None;
}

QString suggestedBackupPath(const QString& projectPath)
{
    if (projectPath.isEmpty()) return QDir(QDir::homePath()).filePath(QStringLiteral("backup.png"));
    const QFileInfo project(projectPath);
    return QDir(project.absolutePath()).filePath(project.completeBaseName() + QStringLiteral("-backup.png"));
}

int backupMeshCount(const QVector<ref_ptr<TqTriangleIndex>>& triangles)
{
    QSet<long> meshes;
    for (const ref_ptr<TqTriangleIndex>& t : triangles)
        if (t) meshes.insert(t->meshIndex);
    return meshes.size();
}

BackupResult takeBackup(IZimMM* mm, orvUI::IOrv3DViewer* viewer, const QString& path)
{
    BackupResult result;
    auto fail = [&](BackupProblem problem) {
        result.ok = false;
        result.problem = problem;
        return result;
    };
    BackupProblem problem = backupMeshProblem(mm);
    if (problem != BackupProblem::None) return fail(problem);
    problem = backupTargetProblem(path, mm);
    if (problem != BackupProblem::None) return fail(problem);
    if (!viewer) return fail(BackupProblem::NoViewer);
    // The viewer reads what its last drawing left in the depth buffer: draw the current view.
    if (viewer->drawScene(false) != 0) return fail(BackupProblem::ViewNotDrawn);

    QVector<ref_ptr<TqTriangleIndex>> triangles;
    QMap<int, ref_ptr<IZimImage>> textures;
    SeamEdgeMap seams;
    const bool ok = viewer->generateBackupInformation(path, triangles, textures, seams);
    result.triangles = triangles.size();
    result.meshes = backupMeshCount(triangles);
    if (!ok) {
        result.detail = viewer->lastBackupError();
        return fail(triangles.isEmpty() ? BackupProblem::NothingVisible : BackupProblem::NotWritten);
    }
    // Success is only what can be read back.
    QImageReader reader(path);
    result.pictureSize = reader.size();
    if (!QFileInfo(path).isFile() || !result.pictureSize.isValid()) return fail(BackupProblem::NotWritten);
    if (result.triangles == 0) {
        // A picture of nothing but the background is of no use to anyone: it goes.
        QFile::remove(path);
        return fail(BackupProblem::NothingVisible);
    }
    result.ok = true;
    // Meshes whose texture could not be read come back without an image: the picture is grey
    // where they are. A transparency map that cannot be read leaves its mesh painted opaque.
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    if (mm->getState(state) == 0 && state) state->getImageStore(store);
    QSet<long> leftOutMeshes;
    for (auto it = textures.constBegin(); it != textures.constEnd(); ++it) {
        ref_ptr<IZimMesh> mesh;
        mm->getMeshAt(mesh, it.key());
        const QString name = meshName(mm, it.key());
        if (!it.value()) {
            leftOutMeshes.insert(it.key());
            const QString texture = mesh ? mesh->meshTexturePath() : QString();
            result.leftOut << (texture.isEmpty() ? name : tr("%1 (texture %2)").arg(name, native(texture)));
            continue;
        }
        const QString alphaPath = mesh ? mesh->meshAlphaTexturePath() : QString();
        if (alphaPath.isEmpty()) continue;
        ref_ptr<IZimImage> alpha;
        if (!store || store->getAlphaImage(alpha, it.key(), 1, false) != 0 || !alpha)
            result.opaque << tr("%1 (transparency map %2)").arg(name, native(alphaPath));
    }
    if (!leftOutMeshes.isEmpty()) {
        // The counts say what the picture shows.
        QVector<ref_ptr<TqTriangleIndex>> painted;
        for (const ref_ptr<TqTriangleIndex>& t : triangles)
            if (t && !leftOutMeshes.contains(t->meshIndex)) painted << t;
        result.triangles = painted.size();
        result.meshes = backupMeshCount(painted);
    }
    return result;
}

QString backupProblemText(BackupProblem problem, const QString& path)
{
    const QString file = native(path);
    const QString folder = native(QFileInfo(path).absolutePath());
    switch (problem) {
        case BackupProblem::None:
            return QString();
        case BackupProblem::NoProject:
            return tr("No project is open. Open a project with textured meshes first.");
        case BackupProblem::NoMeshes:
            return tr("The project has no meshes: there is nothing to take a backup of.");
        case BackupProblem::NoneTextured:
            return tr("None of the project's meshes has a texture: a backup is a picture of the meshes' textures.");
        case BackupProblem::AllAsleep:
            return tr("Every mesh with a texture is asleep. Wake the meshes (Mesh > Wake all meshes) and try again.");
        case BackupProblem::NoFileName:
            return tr("No file was given for the backup picture.");
        case BackupProblem::TargetIsFolder:
            return tr("%1 is a folder: give the backup picture a file name.").arg(file);
        case BackupProblem::FolderMissing:
            return tr("The backup picture %1 cannot be written: the folder %2 does not exist.").arg(file, folder);
        case BackupProblem::FolderIsFile:
            return tr("The backup picture %1 cannot be written: %2 is not a folder.").arg(file, folder);
        case BackupProblem::FolderNotWritable:
            return tr("The backup picture %1 cannot be written: there is no permission to write there.").arg(file);
        case BackupProblem::UnknownFormat:
            return tr("The backup picture %1 cannot be written: there is no image format for the suffix \"%2\" (use "
                      "PNG, JPEG, BMP or TIFF).")
                .arg(file, QFileInfo(path).suffix());
        case BackupProblem::NoViewer:
            return tr("There is no 3D view to take the backup from.");
        case BackupProblem::ViewNotDrawn:
            return tr("The 3D view could not be drawn: show the 3D view and try again.");
        case BackupProblem::NothingVisible:
            return tr(
                "The 3D view shows none of the textured meshes: turn the view toward them (View > Fit all "
                "meshes) and try again. Nothing was written.");
        case BackupProblem::NotWritten:
            return tr("The backup picture %1 could not be written.").arg(file);
        case BackupProblem::OwnFile:
            return tr("The backup picture %1 cannot be written: it is one of the project's own files (a photograph, "
                      "mesh, texture or the project file). Choose another name.")
                .arg(file);
        case BackupProblem::NotRegularFile:
            return tr("The backup picture %1 cannot be written: it exists and is not a regular file.").arg(file);
    }
    return QString();
}

QString backupFailureText(const BackupResult& result, const QString& path)
{
    if (result.problem == BackupProblem::NotWritten && !result.detail.trimmed().isEmpty()) return result.detail;
    return backupProblemText(result.problem, path);
}

QString backupDoneText(const BackupResult& result, const QString& path)
{
    const QString file = native(path);
    const QString meshes = result.meshes == 1 ? tr("1 mesh") : tr("%1 meshes").arg(result.meshes);
    return result.triangles == 1
               ? tr("Backup of 1 visible triangle in %1 written to %2").arg(meshes, file)
               : tr("Backup of %1 visible triangles in %2 written to %3").arg(result.triangles).arg(meshes, file);
}

QString backupPartialText(const BackupResult& result, const QString& path)
{
    if (!result.partial()) return QString();
    QStringList parts;
    if (!result.leftOut.isEmpty())
        parts << tr("left out, their texture cannot be read: %1").arg(result.leftOut.join(QStringLiteral(", ")));
    if (!result.opaque.isEmpty())
        parts << tr("painted opaque, their transparency map cannot be read: %1")
                     .arg(result.opaque.join(QStringLiteral(", ")));
    return tr("The backup picture %1 is incomplete; meshes %2.").arg(native(path), parts.join(QStringLiteral("; ")));
}

}  // namespace orvCore
