// The viewer manager's point-dump file: one 24-byte record per point, the x, y and z of the point
// as little-endian IEEE doubles in that order, no header and no separator.
#pragma once

#include <ZimBase64t.h>

#include <QString>

namespace orvUI {

class PointDumpFile {
public:
    static constexpr int RecordSize = 24;

    PointDumpFile() = default;
    ~PointDumpFile();
    PointDumpFile(const PointDumpFile&) = delete;
    PointDumpFile& operator=(const PointDumpFile&) = delete;

    // Closes an open file first. Truncates unless append is set. 0, or -1 (nothing open then).
    int open(const QString& path, bool append);
    // Closes the descriptor; later writes fail until the next open.
    void close();
    bool isOpen() const { return m_fd != -1; }
    int handle() const { return m_fd; }
    // One record; 0 when all 24 bytes were written, -1 otherwise.
    int write(const XPnt3d& point);

private:
    int m_fd = -1;
};

}  // namespace orvUI
