#include "ZimFiles.h"

#include <ZimBase64t.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace zim {
namespace detail {

namespace {

ZIM_TR_CONTEXT("ZimFiles")

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

QString typeProblem(mode_t mode)
{
    if (S_ISDIR(mode)) return tr("it is a folder, not a file");
    if (S_ISFIFO(mode)) return tr("it is a pipe (FIFO), not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return tr("it is a device, not a regular file");
    if (S_ISSOCK(mode)) return tr("it is a socket, not a regular file");
    return tr("it is not a regular file");
}

QString sizeProblem(qint64 maxBytes)
{
    return tr("it is larger than %1 MiB, more than a file of its kind can sensibly hold").arg(maxBytes >> 20);
}

}  // namespace

QString missingFileReason(const QString& path)
{
    if (path.contains(QChar::ReplacementCharacter))
        return tr("its name is not valid UTF-8, so the file cannot be opened (rename it)");
    return tr("the file does not exist");
}

QString regularFileProblem(const QString& path)
{
    if (path.isEmpty()) return tr("no file name is given");
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? missingFileReason(path) : systemError(errno);
    if (!S_ISREG(st.st_mode)) return typeProblem(st.st_mode);
    return QString();
}

bool readRegularFile(const QString& path, qint64 maxBytes, QByteArray* out, QString* why)
{
    const QString problem = regularFileProblem(path);
    if (!problem.isEmpty()) {
        *why = problem;
        return false;
    }
    // Non-blocking, so that a FIFO put in place after the check above does not stall the open;
    // the type is checked again on what was opened.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *why = systemError(errno);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *why = systemError(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = typeProblem(st.st_mode);
        return false;
    }
    if (st.st_size > maxBytes) {
        *why = sizeProblem(maxBytes);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    try {
        QByteArray bytes;
        // Files whose size the system does not know in advance (some under /proc) are read in
        // pieces, still up to the bound.
        qint64 capacity = st.st_size > 0 ? qint64(st.st_size) + 1 : 65536;
        bytes.resize(int(std::min<qint64>(capacity, maxBytes + 1)));
        qint64 used = 0;
        for (;;) {
            if (used == bytes.size()) {
                if (used > maxBytes) {
                    *why = sizeProblem(maxBytes);
                    return false;
                }
                bytes.resize(int(std::min<qint64>(qint64(bytes.size()) * 2, maxBytes + 1)));
            }
            const ssize_t got = ::read(fd, bytes.data() + used, std::size_t(bytes.size() - used));
            if (got < 0) {
                if (errno == EINTR) continue;
                *why = systemError(errno);
                return false;
            }
            if (got == 0) break;
            used += got;
        }
        if (used > maxBytes) {
            *why = sizeProblem(maxBytes);
            return false;
        }
        bytes.resize(int(used));
        *out = std::move(bytes);
    } catch (const std::bad_alloc&) {
        *why = tr("there is not enough memory to read it");
        return false;
    }
    return true;
}

}  // namespace detail
}  // namespace zim
