#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace orvtest {

QString dataPath(const QString& name) { return QDir(QStringLiteral(ORV_TEST_DATA_DIR)).filePath(name); }

QString binDir() { return QStringLiteral(ORV_BIN_DIR); }

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

}  // namespace orvtest
