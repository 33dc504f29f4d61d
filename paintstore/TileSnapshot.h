// The texture tiles a paint overwrites, kept before it writes so that the paint can be undone
// byte for byte, and the same tiles read after it writes so that it can be redone. A texture is
// cut into 64 x 64 tiles from its first row in memory (tiles at the right and last edges are
// smaller); a tile's bytes are its rows in the texture's own row order, each row the tile's
// pixels with the texture's channel count, without the row padding.
//
// A snapshot is stored as one compact file: a little-endian header (magic "ORVTILES", format
// version, counts, the size of the body) and a zlib-compressed body holding the textures (key,
// width, height, channels) and one record per tile (texture, tile column and row, its bytes).
#pragma once

#include <QByteArray>
#include <QHash>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>

#include "ZimGeometry64t.h"

namespace orvpaint {

constexpr int kTileSize = 64;

// The pixels of a texture as they lie in memory: `height` rows of `rowBytes` bytes from data
// (row 0 first), each row `width` pixels of `channels` bytes and then any padding.
struct TextureView {
    unsigned char* data = nullptr;
    int width = 0;
    int height = 0;
    int channels = 0;
    qint64 rowBytes = 0;

    // data set, sizes above 0, 1 to 4 channels, rows long enough for their pixels.
    bool isValid() const;
};

// The pixels of a kernel image (rows bottom-up, so row 0 of the view is the picture's bottom row;
// 3 or 4 channels). An invalid view for a null or empty image and for a picture decoded at a
// reduced size, which is read-only and must never be written.
TextureView textureViewOf(IZimImage* image);

// Which tiles of one texture a paint touches, collected texel by texel or by rectangles.
class TouchedTiles {
public:
    TouchedTiles(int width, int height);
    int columns() const { return columns_; }
    int rows() const { return rows_; }
    // Texels and rectangles outside the texture are clipped away.
    void addTexel(int x, int y);
    void addRect(const QRect& texels);
    bool isEmpty() const;
    // The touched tiles as (column, row), row by row.
    QVector<QPoint> tiles() const;

private:
    int width_ = 0, height_ = 0, columns_ = 0, rows_ = 0;
    QVector<bool> touched_;
};

class TileSnapshot {
public:
    struct Texture {
        QString key;
        int width = 0;
        int height = 0;
        int channels = 0;
    };
    struct Tile {
        int texture = 0;  // index into textures()
        int column = 0;
        int row = 0;
        QByteArray bytes;
    };

    // The size of tile (column, row) of a width x height texture: 64 x 64, less at the edges.
    static QRect tileRect(int width, int height, int column, int row);

    // Keeps the listed tiles of the texture known by key. A tile kept already for that key is
    // left as it was first kept (the state before the paint is the one to go back to). False,
    // with the snapshot unchanged, for an empty key, an invalid view, a tile outside the texture
    // or a texture whose size or channels differ from the one kept under the key.
    bool capture(const QString& key, const TextureView& texture, const QVector<QPoint>& tiles, QString* error);

    // The same tiles as this snapshot keeps, read from the textures as they are now (after the
    // paint wrote them): the tiles that redo the paint. Every key must be given, with the size
    // and channels it was kept with; otherwise false and *redo unchanged.
    bool captureAfter(const QHash<QString, TextureView>& textures, TileSnapshot* redo, QString* error) const;

    // Writes the kept tiles of every texture back. Every key must be given, with the size and
    // channels it was kept with; otherwise false and no texture is touched.
    bool restore(const QHash<QString, TextureView>& textures, QString* error) const;
    // The same for one texture.
    bool restore(const QString& key, const TextureView& texture, QString* error) const;

    bool isEmpty() const { return tiles_.isEmpty(); }
    QStringList keys() const;
    const QVector<Texture>& textures() const { return textures_; }
    const QVector<Tile>& tiles() const { return tiles_; }
    // The tiles kept of one texture, as (column, row).
    QVector<QPoint> tilesOf(const QString& key) const;
    // Pixel bytes kept, over all tiles.
    qint64 byteCount() const;

    // The stored form, and reading it back. fromBytes refuses a damaged or foreign file with a
    // message and leaves *out unchanged.
    QByteArray toBytes() const;
    static bool fromBytes(const QByteArray& bytes, TileSnapshot* out, QString* error);
    // Atomic write and read of the stored form; the messages name the file.
    bool save(const QString& path, QString* error) const;
    static bool load(const QString& path, TileSnapshot* out, QString* error);

private:
    int textureIndex(const QString& key) const;
    bool checkView(const QString& key, const TextureView& view, QString* error) const;

    QVector<Texture> textures_;
    QVector<Tile> tiles_;
    QHash<QString, int> textureByKey_;
    QHash<qint64, int> tileIndex_;  // (texture, column, row) -> index into tiles_
};

}  // namespace orvpaint
