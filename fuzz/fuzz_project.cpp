// Feeds bytes to the kernel as a project file: written to a temporary folder and opened with
// openProject. A file that opens must save, and the saved file must open again quietly (no
// notice of changes) with the same images.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

#include "OrvKernel64t.h"

namespace {

// In memory when the system offers it: every save syncs the file and its folder to disk.
const QTemporaryDir& folder()
{
    static const QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isDir()
                                       ? QStringLiteral("/dev/shm/orv-fuzz-project-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/orv-fuzz-project-XXXXXX"));
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!folder().isValid()) return 0;
    const QString input = QDir(folder().path()).filePath(QStringLiteral("input.orvproj"));
    const QString saved = QDir(folder().path()).filePath(QStringLiteral("saved.orvproj"));
    {
        QFile f(input);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
        if (f.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size)) return 0;
    }
    const ref_ptr<IZimMM> mm = zim::getMM();
    if (mm->openProject(input, nullptr) != 0) {
        if (mm->lastError().isEmpty() || mm->isProjectOpen()) __builtin_trap();  // a refusal says why
        return 0;
    }
    const int images = mm->imageCount();
    QStringList missing;
    mm->getMissingFiles(missing);
    mm->isModified();
    QFile::remove(saved);
    if (mm->saveProjectAs(saved) != 0) __builtin_trap();
    mm->closeProject();
    if (mm->openProject(saved, nullptr) != 0) __builtin_trap();
    if (!mm->openNotice().isEmpty() || mm->imageCount() != images) __builtin_trap();
    mm->closeProject();
    return 0;
}
