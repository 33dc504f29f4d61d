#include "PointDump.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QtEndian>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace orvUI {

PointDumpFile::~PointDumpFile() { close(); }

int PointDumpFile::open(const QString& path, bool append)
{
    close();
    if (path.isEmpty()) return -1;
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), flags, 0644);
    } while (fd == -1 && errno == EINTR);
    m_fd = fd;
    return fd == -1 ? -1 : 0;
}

void PointDumpFile::close()
{
    if (m_fd == -1) return;
    // The descriptor is released even when close reports an error; retrying could close a
    // descriptor another thread has been given since.
    ::close(m_fd);
    m_fd = -1;
}

int PointDumpFile::write(const XPnt3d& point)
{
    if (m_fd == -1) return -1;
    unsigned char record[RecordSize];
    const double xyz[3] = {point.x, point.y, point.z};
    for (int i = 0; i < 3; ++i) {
        std::uint64_t bits;
        std::memcpy(&bits, &xyz[i], sizeof bits);
        qToLittleEndian(bits, record + 8 * i);
    }
    std::size_t written = 0;
    while (written < sizeof record) {
        const ssize_t n = ::write(m_fd, record + written, sizeof record - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        written += std::size_t(n);
    }
    return 0;
}

}  // namespace orvUI
