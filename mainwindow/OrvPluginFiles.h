// Discovery of the command plug-ins: the regular files directly in <appdir>/plugins/ whose
// complete suffix (everything after the first dot of the name) is "orvplugin" in any case.
#pragma once

#include <QFileInfo>
#include <QFileInfoList>
#include <QString>
#include <QStringList>

namespace orvUI {

// applicationDirPath() + "/plugins/".
QString pluginDirectory();
// Every regular file of the folder, by name ignoring case; empty when the folder is missing.
QFileInfoList pluginDirEntries(const QString& dir);
bool isPluginFile(const QFileInfo& entry);
// Absolute paths of the plug-in files of the folder, in the order they are loaded.
QStringList pluginFiles(const QString& dir);
// The diagnostic line written for every entry: size and name right-aligned in ten characters,
// then the entry's folder.
QString pluginEntryLine(const QFileInfo& entry);

}  // namespace orvUI
