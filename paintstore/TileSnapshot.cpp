#include "TileSnapshot.h"

#include <QCoreApplication>
#include <QDir>
#include <QtEndian>
#include <algorithm>
#include <cstring>

#include "AtomicFile.h"
#include "ZimBase64t.h"

namespace orvpaint {

namespace {

ZIM_TR_CONTEXT("orvpaint")

const char kMagic[8] = {'O', 'R', 'V', 'T', 'I', 'L', 'E', 'S'};
constexpr quint32 kVersion = 1;
constexpr int kHeaderBytes = 8 + 4 + 4 + 4 + 8;
constexpr int kMaxSide = 65536;
constexpr int kMaxKeyBytes = 4096;
// The body is held in one byte array and compressed at once.
constexpr qint64 kMaxBody = qint64(1) << 30;

void setError(QString* error, const QString& text)
{
    if (error) *error = text;
}

int tilesAcross(int size) { return (size + kTileSize - 1) / kTileSize; }

qint64 tileId(int texture, int column, int row)
{
    return (qint64(texture) << 32) | (qint64(column) << 16) | qint64(row);
}

void putU32(QByteArray& out, quint32 v)
{
    const quint32 le = qToLittleEndian(v);
    out.append(reinterpret_cast<const char*>(&le), 4);
}

void putU64(QByteArray& out, quint64 v)
{
    const quint64 le = qToLittleEndian(v);
    out.append(reinterpret_cast<const char*>(&le), 8);
}

// Reads little-endian values from a byte array, remembering when it ran past the end.
class Reader {
public:
    explicit Reader(const QByteArray& bytes, int offset = 0) : bytes_(bytes), pos_(offset) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return pos_ == bytes_.size(); }
    quint32 u32()
    {
        if (!take(4)) return 0;
        return qFromLittleEndian<quint32>(bytes_.constData() + pos_ - 4);
    }
    quint64 u64()
    {
        if (!take(8)) return 0;
        return qFromLittleEndian<quint64>(bytes_.constData() + pos_ - 8);
    }
    QByteArray raw(qint64 n)
    {
        if (n < 0 || !take(n)) return QByteArray();
        return bytes_.mid(pos_ - int(n), int(n));
    }

private:
    bool take(qint64 n)
    {
        if (!ok_ || n > qint64(bytes_.size()) - pos_) {
            ok_ = false;
            return false;
        }
        pos_ += int(n);
        return true;
    }
    const QByteArray& bytes_;
    int pos_ = 0;
    bool ok_ = true;
};

}  // namespace

bool TextureView::isValid() const
{
    return data && width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide && channels >= 1 &&
           channels <= 4 && rowBytes >= qint64(width) * channels;
}

TextureView textureViewOf(IZimImage* image)
{
    TextureView view;
    if (!image || image->imageFullSize().isValid() || image->imageWidth() <= 0 || image->imageHeight() <= 0)
        return view;
    view.data = image->imageData(0);
    view.width = image->imageWidth();
    view.height = image->imageHeight();
    view.channels = image->imageBits() / 8;
    view.rowBytes = image->imageRowBytes();
    return view.isValid() ? view : TextureView();
}

TouchedTiles::TouchedTiles(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      columns_(tilesAcross(width_)),
      rows_(tilesAcross(height_)),
      touched_(columns_ * rows_, false)
{
}

void TouchedTiles::addTexel(int x, int y)
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    touched_[(y / kTileSize) * columns_ + x / kTileSize] = true;
}

void TouchedTiles::addRect(const QRect& texels)
{
    const QRect clipped = texels.normalized() & QRect(0, 0, width_, height_);
    if (clipped.isEmpty()) return;
    for (int row = clipped.top() / kTileSize; row <= clipped.bottom() / kTileSize; ++row)
        for (int column = clipped.left() / kTileSize; column <= clipped.right() / kTileSize; ++column)
            touched_[row * columns_ + column] = true;
}

bool TouchedTiles::isEmpty() const
{
    return std::none_of(touched_.begin(), touched_.end(), [](bool t) { return t; });
}

QVector<QPoint> TouchedTiles::tiles() const
{
    QVector<QPoint> out;
    for (int row = 0; row < rows_; ++row)
        for (int column = 0; column < columns_; ++column)
            if (touched_[row * columns_ + column]) out.append(QPoint(column, row));
    return out;
}

QRect TileSnapshot::tileRect(int width, int height, int column, int row)
{
    return QRect(0, 0, width, height) & QRect(column * kTileSize, row * kTileSize, kTileSize, kTileSize);
}

int TileSnapshot::textureIndex(const QString& key) const { return textureByKey_.value(key, -1); }

bool TileSnapshot::checkView(const QString& key, const TextureView& view, QString* error) const
{
    if (!view.isValid()) {
        setError(error, tr("The texture \"%1\" has no usable pixels.").arg(key));
        return false;
    }
    const int index = textureIndex(key);
    if (index < 0) return true;
    const Texture& t = textures_[index];
    if (t.width != view.width || t.height != view.height || t.channels != view.channels) {
        setError(error, tr("The texture \"%1\" is %2 x %3 with %4 channels now, but was %5 x %6 with %7 channels "
                           "when its tiles were kept.")
                            .arg(key)
                            .arg(view.width)
                            .arg(view.height)
                            .arg(view.channels)
                            .arg(t.width)
                            .arg(t.height)
                            .arg(t.channels));
        return false;
    }
    return true;
}

bool TileSnapshot::capture(const QString& key, const TextureView& texture, const QVector<QPoint>& tiles, QString* error)
{
    if (key.isEmpty()) {
        setError(error, tr("A texture without a key cannot be kept."));
        return false;
    }
    if (key.toUtf8().size() > kMaxKeyBytes) {
        setError(error, tr("The texture key \"%1\" is too long.").arg(key.left(40)));
        return false;
    }
    if (!checkView(key, texture, error)) return false;
    const int columns = tilesAcross(texture.width), rows = tilesAcross(texture.height);
    for (const QPoint& p : tiles)
        if (p.x() < 0 || p.y() < 0 || p.x() >= columns || p.y() >= rows) {
            setError(error, tr("The tile (%1, %2) lies outside the texture \"%3\".").arg(p.x()).arg(p.y()).arg(key));
            return false;
        }

    int index = textureIndex(key);
    if (index < 0) {
        index = textures_.size();
        textures_.append(Texture{key, texture.width, texture.height, texture.channels});
        textureByKey_.insert(key, index);
    }
    for (const QPoint& p : tiles) {
        const qint64 id = tileId(index, p.x(), p.y());
        if (tileIndex_.contains(id)) continue;
        const QRect r = tileRect(texture.width, texture.height, p.x(), p.y());
        const int rowLength = r.width() * texture.channels;
        Tile tile{index, p.x(), p.y(), QByteArray(rowLength * r.height(), Qt::Uninitialized)};
        char* out = tile.bytes.data();
        for (int y = r.top(); y <= r.bottom(); ++y, out += rowLength)
            std::memcpy(out, texture.data + y * texture.rowBytes + qint64(r.left()) * texture.channels, rowLength);
        tileIndex_.insert(id, tiles_.size());
        tiles_.append(std::move(tile));
    }
    return true;
}

bool TileSnapshot::captureAfter(const QHash<QString, TextureView>& textures, TileSnapshot* redo, QString* error) const
{
    TileSnapshot after;
    for (const Texture& t : textures_) {
        const auto it = textures.constFind(t.key);
        if (it == textures.constEnd()) {
            setError(error, tr("The texture \"%1\" is missing.").arg(t.key));
            return false;
        }
        if (!checkView(t.key, *it, error) || !after.capture(t.key, *it, tilesOf(t.key), error)) return false;
    }
    if (redo) *redo = std::move(after);
    return true;
}

bool TileSnapshot::restore(const QHash<QString, TextureView>& textures, QString* error) const
{
    // Check every texture before writing any, so that a refusal leaves all of them as they were.
    for (const Texture& t : textures_) {
        const auto it = textures.constFind(t.key);
        if (it == textures.constEnd()) {
            setError(error, tr("The texture \"%1\" is missing.").arg(t.key));
            return false;
        }
        if (!checkView(t.key, *it, error)) return false;
    }
    for (const Texture& t : textures_)
        if (!restore(t.key, textures.value(t.key), error)) return false;
    return true;
}

bool TileSnapshot::restore(const QString& key, const TextureView& texture, QString* error) const
{
    const int index = textureIndex(key);
    if (index < 0) {
        setError(error, tr("No tiles of the texture \"%1\" are kept.").arg(key));
        return false;
    }
    if (!checkView(key, texture, error)) return false;
    for (const Tile& tile : tiles_) {
        if (tile.texture != index) continue;
        const QRect r = tileRect(texture.width, texture.height, tile.column, tile.row);
        const int rowLength = r.width() * texture.channels;
        const char* in = tile.bytes.constData();
        for (int y = r.top(); y <= r.bottom(); ++y, in += rowLength)
            std::memcpy(texture.data + y * texture.rowBytes + qint64(r.left()) * texture.channels, in, rowLength);
    }
    return true;
}

QStringList TileSnapshot::keys() const
{
    QStringList out;
    for (const Texture& t : textures_) out.append(t.key);
    return out;
}

QVector<QPoint> TileSnapshot::tilesOf(const QString& key) const
{
    QVector<QPoint> out;
    const int index = textureIndex(key);
    for (const Tile& tile : tiles_)
        if (tile.texture == index) out.append(QPoint(tile.column, tile.row));
    return out;
}

qint64 TileSnapshot::byteCount() const
{
    qint64 n = 0;
    for (const Tile& tile : tiles_) n += tile.bytes.size();
    return n;
}

QByteArray TileSnapshot::toBytes() const
{
    QByteArray body;
    for (const Texture& t : textures_) {
        const QByteArray key = t.key.toUtf8();
        putU32(body, quint32(key.size()));
        body.append(key);
        putU32(body, quint32(t.width));
        putU32(body, quint32(t.height));
        putU32(body, quint32(t.channels));
    }
    for (const Tile& tile : tiles_) {
        putU32(body, quint32(tile.texture));
        putU32(body, quint32(tile.column));
        putU32(body, quint32(tile.row));
        body.append(tile.bytes);
    }
    QByteArray out(kMagic, sizeof kMagic);
    putU32(out, kVersion);
    putU32(out, quint32(textures_.size()));
    putU32(out, quint32(tiles_.size()));
    putU64(out, quint64(body.size()));
    out.append(qCompress(body, 6));
    return out;
}

bool TileSnapshot::fromBytes(const QByteArray& bytes, TileSnapshot* out, QString* error)
{
    if (bytes.size() < kHeaderBytes || std::memcmp(bytes.constData(), kMagic, sizeof kMagic) != 0) {
        setError(error, tr("It is not a file of kept texture tiles."));
        return false;
    }
    Reader header(bytes, sizeof kMagic);
    const quint32 version = header.u32();
    const quint32 textureCount = header.u32();
    const quint32 tileCount = header.u32();
    const quint64 bodySize = header.u64();
    if (version > kVersion) {
        setError(error, tr("It was written by a newer version of the program (format %1).").arg(version));
        return false;
    }
    if (version == 0) {
        setError(error, tr("Its format version is not valid."));
        return false;
    }
    // qCompress puts the size of the uncompressed data in front, big-endian; it must agree with
    // the header before anything is allocated for it.
    const QByteArray packed = bytes.mid(kHeaderBytes);
    if (bodySize > quint64(kMaxBody) || packed.size() < 4 ||
        qFromBigEndian<quint32>(packed.constData()) != quint32(bodySize)) {
        setError(error, tr("It is damaged: its header does not match its content."));
        return false;
    }
    const QByteArray body = bodySize == 0 ? QByteArray() : qUncompress(packed);
    if (quint64(body.size()) != bodySize) {
        setError(error, tr("It is damaged: its compressed content cannot be read."));
        return false;
    }

    const QString damaged = tr("It is damaged: %1");
    TileSnapshot result;
    Reader in(body);
    for (quint32 i = 0; i < textureCount; ++i) {
        const quint32 keyBytes = in.u32();
        if (!in.ok() || keyBytes == 0 || keyBytes > quint32(kMaxKeyBytes)) {
            setError(error, damaged.arg(tr("texture %1 has no usable key.").arg(i)));
            return false;
        }
        const QString key = QString::fromUtf8(in.raw(keyBytes));
        Texture t{key, int(in.u32()), int(in.u32()), int(in.u32())};
        if (!in.ok() || key.isEmpty() || t.width <= 0 || t.height <= 0 || t.width > kMaxSide || t.height > kMaxSide ||
            t.channels < 1 || t.channels > 4) {
            setError(error, damaged.arg(tr("texture %1 has no usable size.").arg(i)));
            return false;
        }
        if (result.textureByKey_.contains(key)) {
            setError(error, damaged.arg(tr("the texture \"%1\" is listed twice.").arg(key)));
            return false;
        }
        result.textureByKey_.insert(key, result.textures_.size());
        result.textures_.append(t);
    }
    for (quint32 i = 0; i < tileCount; ++i) {
        const quint32 texture = in.u32(), column = in.u32(), row = in.u32();
        if (!in.ok() || texture >= textureCount) {
            setError(error, damaged.arg(tr("tile %1 belongs to no texture.").arg(i)));
            return false;
        }
        const Texture& t = result.textures_[int(texture)];
        if (column >= quint32(tilesAcross(t.width)) || row >= quint32(tilesAcross(t.height))) {
            setError(error, damaged.arg(tr("tile %1 lies outside its texture.").arg(i)));
            return false;
        }
        const qint64 id = tileId(int(texture), int(column), int(row));
        if (result.tileIndex_.contains(id)) {
            setError(error, damaged.arg(tr("tile %1 is stored twice.").arg(i)));
            return false;
        }
        const QRect r = tileRect(t.width, t.height, int(column), int(row));
        QByteArray pixels = in.raw(qint64(r.width()) * r.height() * t.channels);
        if (!in.ok()) {
            setError(error, damaged.arg(tr("tile %1 is cut short.").arg(i)));
            return false;
        }
        result.tileIndex_.insert(id, result.tiles_.size());
        result.tiles_.append(Tile{int(texture), int(column), int(row), std::move(pixels)});
    }
    if (!in.atEnd()) {
        setError(error, damaged.arg(tr("bytes follow the last tile.")));
        return false;
    }
    if (out) *out = std::move(result);
    return true;
}

bool TileSnapshot::save(const QString& path, QString* error) const
{
    const qint64 bodyBytes = byteCount() + 12 * qint64(tiles_.size()) + (16 + kMaxKeyBytes) * qint64(textures_.size());
    if (bodyBytes > kMaxBody) {
        setError(error,
                 tr("Cannot write %1: the kept tiles are too large for one file.").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    return writeFileAtomically(path, toBytes(), error);
}

bool TileSnapshot::load(const QString& path, TileSnapshot* out, QString* error)
{
    QByteArray bytes;
    if (!readWholeFile(path, kMaxBody + kHeaderBytes + 1024, &bytes, error)) return false;
    QString why;
    if (!fromBytes(bytes, out, &why)) {
        setError(error, tr("Cannot read the kept texture tiles %1: %2").arg(QDir::toNativeSeparators(path), why));
        return false;
    }
    return true;
}

}  // namespace orvpaint
