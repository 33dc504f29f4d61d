#include "HostCreate.h"

#include <OrvKernel64t.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace orvHost {

namespace {

ZIM_TR_CONTEXT("orvhost")
QString native(const QString& path) { return QDir::toNativeSeparators(path); }

// A file the kernel is to read: its absolute path, or an error naming it.
bool checkInput(const QString& path, const QString& kind, QString* absolute, QString* error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = tr("%1 %2 does not exist").arg(kind, native(path));
        return false;
    }
    if (!info.isFile() || !info.isReadable()) {
        *error = tr("%1 %2 is not a readable file").arg(kind, native(path));
        return false;
    }
    *absolute = info.absoluteFilePath();
    return true;
}

// The kernel's cache folder beside a project file.
QString cacheFolder(const QString& projectPath)
{
    const QFileInfo info(projectPath);
    return info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral(".orvcache"));
}

}  // namespace

CreateResult createProjectFromFiles(const CreateRequest& request)
{
    CreateResult result;
    auto fail = [&](const QString& why) {
        result.error = why;
        return result;
    };
    if (request.meshes.isEmpty()) return fail(tr("no meshes given"));
    if (request.meshes.size() != request.photos.size())
        return fail(tr("%1 meshes but %2 photos: mesh i goes with photo i")
                        .arg(request.meshes.size())
                        .arg(request.photos.size()));
    if (!request.labels.isEmpty() && request.labels.size() != request.meshes.size())
        return fail(tr("%1 labels for %2 meshes").arg(request.labels.size()).arg(request.meshes.size()));

    if (request.project.isEmpty()) return fail(tr("no project file given"));
    const QFileInfo target(request.project);
    result.path = target.absoluteFilePath();
    if (target.exists())
        return fail(tr("%1 exists already; remove it or choose another name").arg(native(result.path)));
    if (!target.absoluteDir().exists())
        return fail(tr("the folder of %1 does not exist").arg(native(result.path)));

    // Every input is checked before anything is written.
    QStringList meshes, photos;
    for (int i = 0; i < request.meshes.size(); ++i) {
        QString mesh, photo, error;
        if (!checkInput(request.meshes[i], tr("mesh"), &mesh, &error)) return fail(error);
        if (!checkInput(request.photos[i], tr("photo"), &photo, &error)) return fail(error);
        meshes << mesh;
        photos << photo;
    }

    const ref_ptr<IZimMM> mm = zim::getMM();
    if (!mm) return fail(tr("the project library is not available"));
    const QString cache = cacheFolder(result.path);
    const bool cacheExisted = QFileInfo::exists(cache);
    if (mm->createProject(result.path) != 0)
        return fail(tr("cannot create %1: %2").arg(native(result.path), mm->lastError()));
    auto failRemoving = [&](const QString& why) {
        mm->closeProject();
        QFile::remove(result.path);
        if (!cacheExisted) QDir(cache).removeRecursively();
        return fail(why);
    };

    for (int i = 0; i < meshes.size(); ++i) {
        const QString label = request.labels.isEmpty() ? QString() : request.labels[i];
        if (mm->addImage(photos[i], meshes[i], label) < 0)
            return failRemoving(tr("cannot add photo %1 with mesh %2: %3")
                                    .arg(native(photos[i]), native(meshes[i]), mm->lastError()));
    }
    if (mm->saveProject() != 0)
        return failRemoving(tr("cannot save %1: %2").arg(native(result.path), mm->lastError()));
    result.images = mm->imageCount();
    mm->closeProject();
    result.ok = true;
    return result;
}

}  // namespace orvHost
