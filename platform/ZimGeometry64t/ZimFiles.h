// Reading the files a mesh or an image names: only regular files, and only up to a size bound,
// so a name that points at a device, a FIFO or a huge file is refused instead of read forever.
#pragma once

#include <QByteArray>
#include <QString>

namespace zim {
namespace detail {

// Why `path` cannot be found: its name is not valid UTF-8 (the system gave bytes that do not
// decode, so no file of that name can be opened), or it does not exist.
QString missingFileReason(const QString& path);

// Reads the whole of `path` into *out when it is a regular file (a link to one counts) of at
// most `maxBytes`; otherwise false with *why (without the path).
bool readRegularFile(const QString& path, qint64 maxBytes, QByteArray* out, QString* why);

// Empty when `path` exists and is a regular file; otherwise why not (without the path).
QString regularFileProblem(const QString& path);

}  // namespace detail
}  // namespace zim
