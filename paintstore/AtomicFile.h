// Whole-file reads and atomic writes for the project's data folder.
#pragma once

#include <QByteArray>
#include <QString>

namespace orvpaint {

// Writes bytes to path atomically: into a temporary file in the same folder, flushed, then
// renamed over path. On failure path keeps what it held (or stays absent), no temporary file
// remains and *error (when given) says why, naming the file.
// The environment variable ORV_PAINT_STORE_FAULT ("write" or "commit") makes the write fail at
// that stage, so tests can prove that a failed write loses nothing.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error);

// Reads a whole regular file of at most maxBytes bytes into *out. False with *error naming the
// file when it is missing, not a regular file, larger than maxBytes or unreadable.
bool readWholeFile(const QString& path, qint64 maxBytes, QByteArray* out, QString* error);

}  // namespace orvpaint
