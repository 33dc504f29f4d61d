#include "AtomicFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "ZimBase64t.h"

namespace orvpaint {

namespace {

ZIM_TR_CONTEXT("orvpaint")

QString injectedFault() { return qEnvironmentVariable("ORV_PAINT_STORE_FAULT"); }

void setError(QString* error, const QString& text)
{
    if (error) *error = text;
}

}  // namespace

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (path.isEmpty()) {
        setError(error, tr("No file name was given to write."));
        return false;
    }
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        setError(error, tr("Cannot write %1: it is not a regular file.").arg(shown));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, tr("Cannot write %1: %2").arg(shown, file.errorString()));
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        setError(error, tr("Cannot write %1: %2").arg(shown, why));
        return false;
    }
    const QString fault = injectedFault();
    if (fault == QLatin1String("write") || fault == QLatin1String("commit")) {
        file.cancelWriting();
        setError(error, tr("Cannot write %1: fault injected for a test (ORV_PAINT_STORE_FAULT=%2)").arg(shown, fault));
        return false;
    }
    if (!file.commit()) {
        setError(error, tr("Cannot write %1: %2").arg(shown, file.errorString()));
        return false;
    }
    return true;
}

bool readWholeFile(const QString& path, qint64 maxBytes, QByteArray* out, QString* error)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!info.exists()) {
        setError(error, tr("The file %1 does not exist.").arg(shown));
        return false;
    }
    if (!info.isFile()) {
        setError(error, tr("%1 is not a regular file.").arg(shown));
        return false;
    }
    if (info.size() > maxBytes) {
        setError(error, tr("The file %1 is too large (%2 bytes).").arg(shown).arg(info.size()));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, tr("Cannot read %1: %2").arg(shown, file.errorString()));
        return false;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        setError(error, tr("Cannot read %1: %2").arg(shown, file.errorString()));
        return false;
    }
    if (bytes.size() > maxBytes) {
        setError(error, tr("The file %1 is too large.").arg(shown));
        return false;
    }
    if (out) *out = std::move(bytes);
    return true;
}

}  // namespace orvpaint
