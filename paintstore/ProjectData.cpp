#include "ProjectData.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "ZimBase64t.h"

namespace orvpaint {

namespace {

ZIM_TR_CONTEXT("orvpaint")

bool makeFolder(const QString& path, QString* error)
{
    const QFileInfo info(path);
    if (info.isDir()) return true;
    if (info.exists() || info.isSymLink()) {
        if (error)
            *error = tr("Cannot create the folder %1: a file of that name is in the way.")
                         .arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!QDir().mkpath(path)) {
        if (error) *error = tr("Cannot create the folder %1.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

}  // namespace

ProjectData::ProjectData(const QString& projectFile)
{
    if (projectFile.isEmpty()) return;
    const QFileInfo info(projectFile);
    if (info.completeBaseName().isEmpty()) return;
    projectFile_ = info.absoluteFilePath();
    root_ =
        QDir::cleanPath(info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QLatin1String(".orvdata"));
}

QString ProjectData::paintsPath() const { return isValid() ? root_ + QLatin1String("/paints") : QString(); }

QString ProjectData::texturesPath() const { return isValid() ? root_ + QLatin1String("/textures") : QString(); }

QString ProjectData::paintPath(const QString& name) const
{
    if (!isValid() || !isValidName(name)) return QString();
    return paintsPath() + QLatin1Char('/') + name;
}

bool ProjectData::isValidName(const QString& name)
{
    if (name.isEmpty() || name.size() > 64 || name.startsWith(QLatin1Char('.'))) return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
                        u == '_' || u == '.';
        if (!ok) return false;
    }
    return true;
}

bool ProjectData::ensureRoot(QString* error) const
{
    if (!isValid()) {
        if (error) *error = tr("The project has no file yet, so it has no data folder.");
        return false;
    }
    return makeFolder(root_, error);
}

bool ProjectData::ensureTextures(QString* error) const
{
    return ensureRoot(error) && makeFolder(texturesPath(), error);
}

bool ProjectData::ensurePaint(const QString& name, QString* error) const
{
    if (!isValidName(name)) {
        if (error) *error = tr("\"%1\" is not a usable name for a paint.").arg(name);
        return false;
    }
    return ensureRoot(error) && makeFolder(paintsPath(), error) && makeFolder(paintPath(name), error);
}

bool ProjectData::removePaint(const QString& name, QString* error) const
{
    const QString path = paintPath(name);
    if (path.isEmpty()) {
        if (error) *error = tr("\"%1\" is not a usable name for a paint.").arg(name);
        return false;
    }
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) return true;
    // A link is removed as a link: what it points to lies outside the folder.
    const bool removed = info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
    if (!removed && error) *error = tr("Cannot remove the folder %1.").arg(QDir::toNativeSeparators(path));
    return removed;
}

QString ProjectData::newPaintName(const QDateTime& when) const
{
    const QString base = QStringLiteral("paint-") + when.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(paintPath(name)) || QFileInfo(paintPath(name)).isSymLink(); ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return name;
}

bool ProjectData::contains(const QString& path) const { return isValid() && !toStored(path).isEmpty(); }

QString ProjectData::toStored(const QString& absolutePath) const
{
    if (!isValid() || absolutePath.isEmpty()) return QString();
    const QString clean = QDir::cleanPath(QFileInfo(absolutePath).absoluteFilePath());
    if (!clean.startsWith(root_ + QLatin1Char('/'))) return QString();
    return clean.mid(root_.size() + 1);
}

QString ProjectData::fromStored(const QString& stored) const
{
    if (!isValid() || stored.isEmpty() || QDir::isAbsolutePath(stored) || stored.contains(QLatin1Char('\\')))
        return QString();
    const QString clean = QDir::cleanPath(root_ + QLatin1Char('/') + stored);
    return clean.startsWith(root_ + QLatin1Char('/')) ? clean : QString();
}

}  // namespace orvpaint
