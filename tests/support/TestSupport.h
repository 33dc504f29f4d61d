// Helpers shared by the test executables.
#pragma once

#include <QString>
#include <QTemporaryDir>

namespace orvtest {

// Absolute path of a file under tests/data.
QString dataPath(const QString& name);
// Folder of the built binaries (the application directory of orvhost and the tools).
QString binDir();
// Writes bytes to a file, creating parent folders; false on failure.
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

}  // namespace orvtest
