// Feeds bytes to the reader of kept texture tiles as a damaged or hand-made file would hand them
// over. A file the reader accepts must describe tiles that lie inside their textures with exactly
// the bytes their size needs, and must come back the same when written and read again.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "TileSnapshot.h"

using orvpaint::TileSnapshot;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    TileSnapshot snapshot;
    QString why;
    if (!TileSnapshot::fromBytes(bytes, &snapshot, &why)) {
        if (why.isEmpty() || !snapshot.isEmpty()) __builtin_trap();
        return 0;
    }
    const QVector<TileSnapshot::Texture>& textures = snapshot.textures();
    for (const TileSnapshot::Tile& tile : snapshot.tiles()) {
        if (tile.texture < 0 || tile.texture >= textures.size()) __builtin_trap();
        const TileSnapshot::Texture& t = textures[tile.texture];
        const QRect rect = TileSnapshot::tileRect(t.width, t.height, tile.column, tile.row);
        if (rect.isEmpty()) __builtin_trap();
        if (qint64(tile.bytes.size()) != qint64(rect.width()) * rect.height() * t.channels) __builtin_trap();
    }
    TileSnapshot again;
    const QByteArray written = snapshot.toBytes();
    if (!TileSnapshot::fromBytes(written, &again, &why)) __builtin_trap();
    if (again.toBytes() != written) __builtin_trap();
    return 0;
}
