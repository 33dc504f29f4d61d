#include "PaintLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <algorithm>
#include <cmath>

#include "AtomicFile.h"
#include "ZimBase64t.h"

namespace orvpaint {

namespace {

ZIM_TR_CONTEXT("orvpaint")

const char* const kFormat = "orv-paint-log";
constexpr int kVersion = 1;
constexpr qint64 kMaxLogBytes = 16 * 1024 * 1024;

void setText(QString* out, const QString& text)
{
    if (out) *out = text;
}

QJsonArray numbers(const double* values, int count)
{
    QJsonArray out;
    for (int i = 0; i < count; ++i) out.append(values[i]);
    return out;
}

bool readNumbers(const QJsonValue& value, double* out, int count)
{
    const QJsonArray array = value.toArray();
    if (!value.isArray() || array.size() != count) return false;
    for (int i = 0; i < count; ++i) {
        if (!array[i].isDouble()) return false;
        out[i] = array[i].toDouble();
    }
    return true;
}

bool readNumber(const QJsonObject& json, const char* key, double* out)
{
    const QJsonValue v = json.value(QLatin1String(key));
    if (!v.isDouble()) return false;
    *out = v.toDouble();
    return std::isfinite(*out);
}

bool readInt(const QJsonObject& json, const char* key, int* out)
{
    double v = 0;
    if (!readNumber(json, key, &v) || v != std::floor(v) || v < -2147483648.0 || v > 2147483647.0) return false;
    *out = int(v);
    return true;
}

QJsonObject cameraToJson(const ZimPhotoCamera& c)
{
    QJsonObject out;
    out.insert(QStringLiteral("width"), c.width);
    out.insert(QStringLiteral("height"), c.height);
    out.insert(QStringLiteral("fx"), c.fx);
    out.insert(QStringLiteral("fy"), c.fy);
    out.insert(QStringLiteral("cx"), c.cx);
    out.insert(QStringLiteral("cy"), c.cy);
    out.insert(QStringLiteral("k1"), c.k1);
    out.insert(QStringLiteral("k2"), c.k2);
    out.insert(QStringLiteral("R"), numbers(c.R, 9));
    out.insert(QStringLiteral("t"), numbers(c.t, 3));
    out.insert(QStringLiteral("rms"), c.rms);
    QJsonArray residuals;
    for (const ZimMarkResidual& r : c.residuals)
        residuals.append(QJsonObject{
            {QStringLiteral("id"), int(r.id)}, {QStringLiteral("pixels"), r.pixels}, {QStringLiteral("used"), r.used}});
    out.insert(QStringLiteral("residuals"), residuals);
    return out;
}

bool cameraFromJson(const QJsonObject& json, ZimPhotoCamera* out)
{
    ZimPhotoCamera c;
    if (!readInt(json, "width", &c.width) || !readInt(json, "height", &c.height) || !readNumber(json, "fx", &c.fx) ||
        !readNumber(json, "fy", &c.fy) || !readNumber(json, "cx", &c.cx) || !readNumber(json, "cy", &c.cy) ||
        !readNumber(json, "k1", &c.k1) || !readNumber(json, "k2", &c.k2) || !readNumber(json, "rms", &c.rms) ||
        !readNumbers(json.value(QStringLiteral("R")), c.R, 9) || !readNumbers(json.value(QStringLiteral("t")), c.t, 3))
        return false;
    for (const QJsonValue& v : json.value(QStringLiteral("residuals")).toArray()) {
        const QJsonObject o = v.toObject();
        ZimMarkResidual r;
        int id = 0;
        if (!readInt(o, "id", &id) || !readNumber(o, "pixels", &r.pixels) || !o.value(QStringLiteral("used")).isBool())
            return false;
        r.id = id;
        r.used = o.value(QStringLiteral("used")).toBool();
        c.residuals.append(r);
    }
    if (!c.isValid()) return false;
    *out = c;
    return true;
}

}  // namespace

QJsonObject PaintRecord::toJson() const
{
    QJsonObject out;
    out.insert(QStringLiteral("name"), name);
    out.insert(QStringLiteral("time"), time.toUTC().toString(Qt::ISODateWithMs));
    out.insert(QStringLiteral("photo"), photoIndex);
    out.insert(QStringLiteral("camera"), cameraToJson(camera));
    out.insert(QStringLiteral("textures"), QJsonArray::fromStringList(textureKeys));
    out.insert(QStringLiteral("backupPicture"), backupPicture);
    out.insert(QStringLiteral("backupRecords"), backupRecords);
    out.insert(QStringLiteral("undoTiles"), undoTiles);
    out.insert(QStringLiteral("redoTiles"), redoTiles);
    return out;
}

bool PaintRecord::fromJson(const QJsonObject& json, const ProjectData& data, PaintRecord* out, QString* why)
{
    PaintRecord r;
    r.name = json.value(QStringLiteral("name")).toString();
    if (!ProjectData::isValidName(r.name)) {
        setText(why, tr("it has no usable name"));
        return false;
    }
    r.time = QDateTime::fromString(json.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    if (!r.time.isValid()) {
        setText(why, tr("it has no usable time"));
        return false;
    }
    r.time = r.time.toUTC();
    if (!readInt(json, "photo", &r.photoIndex) || r.photoIndex < 0) {
        setText(why, tr("it has no usable photo"));
        return false;
    }
    if (!cameraFromJson(json.value(QStringLiteral("camera")).toObject(), &r.camera)) {
        setText(why, tr("its camera is not usable"));
        return false;
    }
    const QJsonValue textures = json.value(QStringLiteral("textures"));
    if (!textures.isArray()) {
        setText(why, tr("it lists no textures"));
        return false;
    }
    for (const QJsonValue& v : textures.toArray()) {
        if (!v.isString() || v.toString().isEmpty()) {
            setText(why, tr("it lists a texture without a name"));
            return false;
        }
        r.textureKeys.append(v.toString());
    }
    const struct {
        const char* key;
        QString* field;
    } paths[] = {{"backupPicture", &r.backupPicture},
                 {"backupRecords", &r.backupRecords},
                 {"undoTiles", &r.undoTiles},
                 {"redoTiles", &r.redoTiles}};
    for (const auto& p : paths) {
        const QJsonValue v = json.value(QLatin1String(p.key));
        if (v.isUndefined() || v.isNull()) continue;
        const QString stored = v.toString();
        if (!v.isString() || (!stored.isEmpty() && data.fromStored(stored).isEmpty())) {
            setText(why, tr("its file \"%1\" does not lie in the project's data folder").arg(v.toString()));
            return false;
        }
        *p.field = stored;
    }
    *out = r;
    return true;
}

PaintLog::PaintLog(const ProjectData& data) : data_(data) {}

QString PaintLog::path() const
{
    return data_.isValid() ? data_.rootPath() + QLatin1String("/paints.json") : QString();
}

const PaintRecord* PaintLog::find(const QString& name) const
{
    for (const PaintRecord& r : paints_)
        if (r.name == name) return &r;
    return nullptr;
}

bool PaintLog::load(QString* warning)
{
    paints_.clear();
    setText(warning, QString());
    if (!data_.isValid()) return true;
    const QString file = path();
    const QString shown = QDir::toNativeSeparators(file);
    if (!QFileInfo::exists(file)) return true;

    QByteArray bytes;
    QString why;
    if (!readWholeFile(file, kMaxLogBytes, &bytes, &why)) {
        setText(warning, tr("The paint log cannot be read, so no paint is listed: %1").arg(why));
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        setText(warning, tr("The paint log %1 is damaged (%2), so no paint is listed.")
                             .arg(shown, parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                                      : tr("it holds no object")));
        return false;
    }
    const QJsonObject root = doc.object();
    int version = 0;
    if (root.value(QStringLiteral("format")).toString() != QLatin1String(kFormat) ||
        !readInt(root, "version", &version) || version < 1) {
        setText(warning, tr("The file %1 is not a paint log, so no paint is listed.").arg(shown));
        return false;
    }
    if (version > kVersion) {
        setText(
            warning,
            tr("The paint log %1 was written by a newer version of the program, so no paint is listed.").arg(shown));
        return false;
    }

    QStringList problems;
    QVector<PaintRecord> paints;
    QSet<QString> names;
    const QJsonArray entries = root.value(QStringLiteral("paints")).toArray();
    if (!root.value(QStringLiteral("paints")).isArray()) problems.append(tr("it holds no list of paints"));
    for (int i = 0; i < entries.size(); ++i) {
        PaintRecord r;
        if (!entries[i].isObject()) {
            problems.append(tr("entry %1 is not a paint").arg(i + 1));
            continue;
        }
        if (!PaintRecord::fromJson(entries[i].toObject(), data_, &r, &why)) {
            problems.append(tr("entry %1 was left out: %2").arg(i + 1).arg(why));
            continue;
        }
        if (names.contains(r.name)) {
            problems.append(tr("entry %1 was left out: the name \"%2\" is listed twice").arg(i + 1).arg(r.name));
            continue;
        }
        names.insert(r.name);
        paints.append(r);
    }
    if (paints.size() > kMaxPaints) {
        problems.append(
            tr("%1 older paints beyond the last %2 were left out").arg(paints.size() - kMaxPaints).arg(kMaxPaints));
        paints.erase(paints.begin(), paints.end() - kMaxPaints);
    }
    paints_ = paints;
    if (!problems.isEmpty())
        setText(warning,
                tr("The paint log %1 was edited or damaged: %2.").arg(shown, problems.join(QStringLiteral("; "))));
    return true;
}

bool PaintLog::write(const QVector<PaintRecord>& paints, QString* error) const
{
    if (!data_.ensureRoot(error)) return false;
    QJsonArray entries;
    for (const PaintRecord& r : paints) entries.append(r.toJson());
    QJsonObject root;
    root.insert(QStringLiteral("format"), QLatin1String(kFormat));
    root.insert(QStringLiteral("version"), kVersion);
    root.insert(QStringLiteral("paints"), entries);
    return writeFileAtomically(path(), QJsonDocument(root).toJson(QJsonDocument::Indented), error);
}

bool PaintLog::append(const PaintRecord& record, QString* error, QString* warning)
{
    setText(warning, QString());
    if (!data_.isValid()) {
        setText(error, tr("The project has no file yet, so it has no data folder."));
        return false;
    }
    if (!ProjectData::isValidName(record.name)) {
        setText(error, tr("\"%1\" is not a usable name for a paint.").arg(record.name));
        return false;
    }
    if (find(record.name)) {
        setText(error, tr("A paint named \"%1\" is listed already.").arg(record.name));
        return false;
    }
    if (!record.time.isValid() || record.photoIndex < 0 || !record.camera.isValid()) {
        setText(error, tr("The paint \"%1\" has no usable time, photo or camera.").arg(record.name));
        return false;
    }
    for (const QString* p : {&record.backupPicture, &record.backupRecords, &record.undoTiles, &record.redoTiles})
        if (!p->isEmpty() && data_.fromStored(*p).isEmpty()) {
            setText(error, tr("The file \"%1\" of the paint \"%2\" does not lie in the project's data folder.")
                               .arg(*p, record.name));
            return false;
        }

    QVector<PaintRecord> paints = paints_;
    PaintRecord added = record;
    added.time = record.time.toUTC();
    paints.append(added);
    QVector<PaintRecord> dropped;
    while (paints.size() > kMaxPaints) dropped.append(paints.takeFirst());
    if (!write(paints, error)) return false;
    paints_ = paints;

    QStringList notRemoved;
    for (const PaintRecord& r : dropped) {
        QString why;
        if (!data_.removePaint(r.name, &why)) notRemoved.append(why);
    }
    if (!notRemoved.isEmpty()) setText(warning, notRemoved.join(QLatin1Char('\n')));
    return true;
}

bool PaintLog::remove(const QString& name, QString* error)
{
    QVector<PaintRecord> paints = paints_;
    const auto it = std::find_if(paints.begin(), paints.end(), [&](const PaintRecord& r) { return r.name == name; });
    if (it == paints.end()) {
        setText(error, tr("No paint named \"%1\" is listed.").arg(name));
        return false;
    }
    paints.erase(it);
    if (!write(paints, error)) return false;
    paints_ = paints;
    return data_.removePaint(name, error);
}

bool loadPaintTiles(const ProjectData& data, const PaintRecord& record, bool redo, TileSnapshot* out, QString* error)
{
    const QString path = data.fromStored(redo ? record.redoTiles : record.undoTiles);
    if (path.isEmpty()) {
        setText(error, redo ? tr("The paint \"%1\" kept no tiles to redo it.").arg(record.name)
                            : tr("The paint \"%1\" kept no tiles to restore the textures.").arg(record.name));
        return false;
    }
    return TileSnapshot::load(path, out, error);
}

}  // namespace orvpaint
