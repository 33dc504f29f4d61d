// Why an image file could not be written, in words a user can act on. The image writer only
// knows that its device refused bytes ("Unknown error"); the file knows the system's reason
// ("No space left on device", "File too large"). Header-only so tests can check the choice.
#pragma once

#include <QCoreApplication>
#include <QFileDevice>
#include <QFileInfo>
#include <QString>
#include <cerrno>
#include <cstring>

namespace zim {
namespace detail {

// The generic text Qt gives when it knows no reason.
inline bool isVagueWriteError(const QString& text)
{
    const QString t = text.trimmed();
    return t.isEmpty() || t.compare(QLatin1String("Unknown error"), Qt::CaseInsensitive) == 0;
}

// The reason to show for a failed write: the file's own error when it has one, else the
// writer's, else the system's last error (errnoValue, 0 for none), else a plain statement.
inline QString imageWriteFailureText(QFileDevice::FileError fileError, const QString& fileText,
                                     const QString& writerText, int errnoValue)
{
    if (fileError != QFileDevice::NoError && !isVagueWriteError(fileText)) return fileText;
    if (!isVagueWriteError(writerText)) return writerText;
    if (errnoValue != 0) {
        const QString system = QString::fromLocal8Bit(std::strerror(errnoValue));
        if (!isVagueWriteError(system)) return system;
    }
    return QCoreApplication::translate("ZimImage", "the file could not be written whole");
}

// Writers go through a temporary file that is renamed over the target: that would replace a
// FIFO, a device node or a socket by a regular file. Only a missing path or a regular file (or
// a link to one) may be written.
inline bool isWritableImageTarget(const QString& path)
{
    const QFileInfo info(path);
    return !info.exists() || info.isFile();
}

}  // namespace detail
}  // namespace zim
