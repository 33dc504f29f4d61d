#include "WorkingTextureStore.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include "AtomicFile.h"
#include "ZimBase64t.h"

namespace orvpaint {

namespace {

ZIM_TR_CONTEXT("orvpaint")

const char* const kFormat = "orv-working-textures";
constexpr int kVersion = 1;
constexpr qint64 kMaxIndexBytes = 16 * 1024 * 1024;

void setText(QString* out, const QString& text)
{
    if (out) *out = text;
}

}  // namespace

WorkingTextureStore::WorkingTextureStore(const ProjectData& data) : data_(data) {}

QString WorkingTextureStore::indexPath() const
{
    return data_.isValid() ? data_.texturesPath() + QLatin1String("/working.json") : QString();
}

QString WorkingTextureStore::fileNameFor(const QString& textureName)
{
    QString base = QFileInfo(textureName).completeBaseName();
    for (QChar& c : base) {
        const ushort u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
                        u == '_' || u == '.';
        if (!ok) c = QLatin1Char('_');
    }
    while (base.startsWith(QLatin1Char('.'))) base.remove(0, 1);
    base = base.left(80);
    // The map's own file must never be taken by a texture.
    if (base.isEmpty() || base.compare(QLatin1String("working"), Qt::CaseInsensitive) == 0)
        base.prepend(QLatin1String("texture"));
    return base + QLatin1String(".png");
}

QString WorkingTextureStore::uniqueFile(const QString& textureName) const
{
    // Names are compared without case, so the folder also works on file systems that ignore it.
    QSet<QString> taken;
    for (const QString& stored : files_) taken.insert(QFileInfo(stored).fileName().toLower());
    for (const QString& f : QDir(data_.texturesPath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System))
        taken.insert(f.toLower());
    const QString name = fileNameFor(textureName);
    const QString base = name.chopped(4);
    QString candidate = name;
    for (int n = 2; taken.contains(candidate.toLower()); ++n)
        candidate = base + QLatin1Char('-') + QString::number(n) + QLatin1String(".png");
    return data_.texturesPath() + QLatin1Char('/') + candidate;
}

bool WorkingTextureStore::load(QString* warning)
{
    files_.clear();
    setText(warning, QString());
    const QString file = indexPath();
    if (file.isEmpty() || !QFileInfo::exists(file)) return true;
    const QString shown = QDir::toNativeSeparators(file);
    QByteArray bytes;
    QString why;
    if (!readWholeFile(file, kMaxIndexBytes, &bytes, &why)) {
        setText(warning, tr("The list of saved working textures cannot be read: %1").arg(why));
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    const QJsonObject root = doc.object();
    if (parseError.error != QJsonParseError::NoError || !doc.isObject() ||
        root.value(QStringLiteral("format")).toString() != QLatin1String(kFormat)) {
        setText(
            warning,
            tr("The list of saved working textures %1 is damaged, so the textures' own files are used.").arg(shown));
        return false;
    }
    if (root.value(QStringLiteral("version")).toInt(0) > kVersion) {
        setText(warning, tr("The list of saved working textures %1 was written by a newer version of the program, so "
                            "the textures' own files are used.")
                             .arg(shown));
        return false;
    }
    QStringList problems;
    QSet<QString> usedFiles;
    const QJsonArray entries = root.value(QStringLiteral("textures")).toArray();
    for (int i = 0; i < entries.size(); ++i) {
        const QJsonObject e = entries[i].toObject();
        const QString key = e.value(QStringLiteral("key")).toString();
        const QString stored = e.value(QStringLiteral("file")).toString();
        const QString absolute = data_.fromStored(stored);
        if (key.isEmpty() || absolute.isEmpty() || !absolute.startsWith(data_.texturesPath() + QLatin1Char('/'))) {
            problems.append(tr("entry %1 names no texture or a file outside the folder").arg(i + 1));
            continue;
        }
        if (files_.contains(key) || usedFiles.contains(absolute.toLower())) {
            problems.append(tr("entry %1 repeats a texture or a file").arg(i + 1));
            continue;
        }
        usedFiles.insert(absolute.toLower());
        files_.insert(key, data_.toStored(absolute));
    }
    if (!problems.isEmpty())
        setText(warning, tr("The list of saved working textures %1 was edited or damaged: %2.")
                             .arg(shown, problems.join(QStringLiteral("; "))));
    return true;
}

bool WorkingTextureStore::writeIndex(const QMap<QString, QString>& files, QString* error) const
{
    QJsonArray entries;
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        entries.append(QJsonObject{{QStringLiteral("key"), it.key()}, {QStringLiteral("file"), it.value()}});
    QJsonObject root;
    root.insert(QStringLiteral("format"), QLatin1String(kFormat));
    root.insert(QStringLiteral("version"), kVersion);
    root.insert(QStringLiteral("textures"), entries);
    return writeFileAtomically(indexPath(), QJsonDocument(root).toJson(QJsonDocument::Indented), error);
}

bool WorkingTextureStore::save(const QString& key, const QString& textureName, const QImage& image, QString* error)
{
    if (key.isEmpty()) {
        setText(error, tr("A texture without a key cannot be saved."));
        return false;
    }
    if (image.isNull()) {
        setText(error, tr("The working texture \"%1\" has no pixels to save.").arg(key));
        return false;
    }
    if (!data_.ensureTextures(error)) return false;

    const bool known = files_.contains(key);
    const QString path =
        known ? data_.fromStored(files_.value(key)) : uniqueFile(textureName.isEmpty() ? key : textureName);
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(image)) {
            setText(
                error,
                tr("The working texture \"%1\" cannot be made into a PNG picture: %2").arg(key, writer.errorString()));
            return false;
        }
    }
    if (!writeFileAtomically(path, png, error)) return false;
    if (known) return true;

    QMap<QString, QString> files = files_;
    files.insert(key, data_.toStored(path));
    if (!writeIndex(files, error)) {
        // The new picture is nobody's working copy: leave the folder as it was.
        QFile::remove(path);
        return false;
    }
    files_ = files;
    return true;
}

QString WorkingTextureStore::savedPath(const QString& key) const
{
    return files_.contains(key) ? data_.fromStored(files_.value(key)) : QString();
}

QString WorkingTextureStore::storedPath(const QString& key) const { return files_.value(key); }

}  // namespace orvpaint
