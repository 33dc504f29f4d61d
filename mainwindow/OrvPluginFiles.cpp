#include "OrvPluginFiles.h"

#include <QCoreApplication>
#include <QDir>

namespace orvUI {

QString pluginDirectory() { return QCoreApplication::applicationDirPath() + QStringLiteral("/plugins/"); }

QFileInfoList pluginDirEntries(const QString& dir)
{
    const QDir folder(dir);
    if (!folder.exists()) return {};
    return folder.entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase);
}

bool isPluginFile(const QFileInfo& entry)
{
    return entry.completeSuffix().compare(QLatin1String("orvplugin"), Qt::CaseInsensitive) == 0;
}

QStringList pluginFiles(const QString& dir)
{
    QStringList files;
    for (const QFileInfo& entry : pluginDirEntries(dir))
        if (isPluginFile(entry) && QFileInfo::exists(entry.absoluteFilePath())) files << entry.absoluteFilePath();
    return files;
}

QString pluginEntryLine(const QFileInfo& entry)
{
    // One pass over the format, so a '%' in a file name is never taken for a place marker.
    return QStringLiteral("%1 %2 %3")
        .arg(QStringLiteral("%1").arg(entry.size(), 10), entry.fileName().rightJustified(10, QLatin1Char(' ')),
             entry.absolutePath());
}

}  // namespace orvUI
