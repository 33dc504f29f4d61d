#include "HostCreate.h"

#include <OrvKernel64t.h>
#include <ZimGeometry64t.h>
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

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

// A photo is taken only when its pixels decode, not only its header: a file cut short or
// damaged after the header would otherwise be found only when the project is opened. The
// decoding is done at a reduced size, which is quick and needs little memory.
constexpr int kCheckSide = 256;

bool checkPhotoDecodes(const QString& path, QString* error)
{
    const ref_ptr<IZimImage> image = zim::newZimImage();
    if (image && image->imageLoadScaled(path, kCheckSide) == 0) return true;
    *error = tr("photo %1 cannot be decoded: %2")
                 .arg(native(path), image ? image->imageLastError() : tr("no image library"));
    return false;
}

// Moves the finished project file to its name, never over a file that appeared there since the
// start. False with errno set.
bool moveIntoPlace(const QString& from, const QString& to)
{
    const QByteArray a = QFile::encodeName(from), b = QFile::encodeName(to);
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    // A file system without renameat2: a hard link fails when the name is taken.
    if (::link(a.constData(), b.constData()) == 0) {
        ::unlink(a.constData());
        return true;
    }
    if (errno == EEXIST) return false;
    if (QFileInfo::exists(to) || QFileInfo(to).isSymLink()) {
        errno = EEXIST;
        return false;
    }
    return std::rename(a.constData(), b.constData()) == 0;
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
    if (!target.absoluteDir().exists()) return fail(tr("the folder of %1 does not exist").arg(native(result.path)));

    // Every input is checked before anything is written.
    QStringList meshes, photos;
    for (int i = 0; i < request.meshes.size(); ++i) {
        QString mesh, photo, error;
        if (!checkInput(request.meshes[i], tr("mesh"), &mesh, &error)) return fail(error);
        if (!checkInput(request.photos[i], tr("photo"), &photo, &error)) return fail(error);
        if (!checkPhotoDecodes(photo, &error)) return fail(error);
        meshes << mesh;
        photos << photo;
    }

    const ref_ptr<IZimMM> mm = zim::getMM();
    if (!mm) return fail(tr("the project library is not available"));
    // The project is made under a hidden name beside the target and gets its name only when it
    // is whole: a run killed midway leaves no project that looks valid, and the retry is not
    // refused.
    const QString working = target.absoluteDir().filePath(
        QStringLiteral(".%1.creating-%2.orvproj")
            .arg(target.completeBaseName(), QUuid::createUuid().toString(QUuid::Id128).left(12)));
    const QString cache = cacheFolder(result.path);
    const QString workingCache = cacheFolder(working);
    if (mm->createProject(working) != 0)
        return fail(tr("cannot create %1: %2").arg(native(result.path), mm->lastError()));
    auto failRemoving = [&](const QString& why) {
        mm->closeProject();
        QFile::remove(working);
        QDir(workingCache).removeRecursively();
        return fail(why);
    };

    for (int i = 0; i < meshes.size(); ++i) {
        const QString label = request.labels.isEmpty() ? QString() : request.labels[i];
        if (mm->addImage(photos[i], meshes[i], label) < 0)
            return failRemoving(
                tr("cannot add photo %1 with mesh %2: %3").arg(native(photos[i]), native(meshes[i]), mm->lastError()));
    }
    if (mm->saveProject() != 0) return failRemoving(tr("cannot save %1: %2").arg(native(result.path), mm->lastError()));
    result.images = mm->imageCount();
    mm->closeProject();
    // For tests: the process dies as a kill at the worst moment would leave it.
    if (qEnvironmentVariable("ORV_HOST_CREATE_FAULT") == QLatin1String("kill")) std::raise(SIGKILL);
    if (!moveIntoPlace(working, result.path)) {
        const QString why =
            errno == EEXIST
                ? tr("%1 exists already; remove it or choose another name").arg(native(result.path))
                : tr("cannot write %1: %2").arg(native(result.path), QString::fromLocal8Bit(std::strerror(errno)));
        return failRemoving(why);
    }
    // The reduced levels made on the way belong to the project under its name now.
    if (QFileInfo::exists(workingCache)) {
        if (QFileInfo::exists(cache) || !QDir().rename(workingCache, cache)) QDir(workingCache).removeRecursively();
    }
    result.ok = true;
    return result;
}

}  // namespace orvHost
