// Helpers shared by the test executables.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace orvtest {

// Absolute path of a file under tests/data.
QString dataPath(const QString& name);
// Folder of the built binaries (the application directory of orvhost and the tools).
QString binDir();
// Writes bytes to a file, creating parent folders; false on failure.
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// One finished (or killed) run of a program: its exit code (-1 when it crashed or did not
// finish), whether it finished within the limit, and what it wrote.
struct ProcessRun {
    int exitCode = -1;
    bool finished = false;
    QString out;
    QString err;
};
// Runs a program to its end. A run that does not end within limitMs counts as a hang: it is
// killed and reported unfinished.
ProcessRun runProcess(const QString& program, const QStringList& args,
                      const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(), int limitMs = 120000);

}  // namespace orvtest
