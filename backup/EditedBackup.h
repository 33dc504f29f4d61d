// Maps an edited backup picture back onto the textures. Only the change the user made is
// carried over: the difference between the edited picture and the backup picture as it was
// saved, so that where nothing was edited the textures keep their own detail (which the
// picture, a resampled view of them, no longer has).
//
// For every texel whose centre lies in a recorded triangle's texture corners, the triangle's
// affine map gives the screen position the texel is seen at; the difference there (bilinear
// between the four nearest pixels) is added to the texel. A texel lying in several triangles
// takes the difference once; a texel whose difference is zero, or whose value it would not
// change, is left alone.
//
// Two steps, so that the caller can keep what will be overwritten: prepare() works out every
// texel's new value and the 64 x 64 tiles they lie in without touching the textures, write()
// then writes them.
#pragma once

#include <QImage>
#include <QMap>
#include <QPoint>
#include <QString>
#include <QVector>
#include <vector>

#include "BackupRecords.h"

namespace orvUI {

// What an edited backup changes in one texture.
struct EditedTexture {
    int meshIndex = -1;
    qint64 texels = 0;  // texels whose value changes
    // The 64 x 64 tiles holding them: (column, row) of the tile, x / 64 and y / 64 of the texel
    // with y counted from the bottom row as the image stores its rows; sorted by row, then
    // column.
    QVector<QPoint> tiles;
};

class EditedBackup {
public:
    static constexpr int kTileSize = 64;

    // Works out the change of `edited` against `original` (the backup picture as saved) on
    // the textures by mesh index. Nothing is written. False, with error() saying why, when the
    // pictures differ in size from each other or from the records, or a recorded mesh's
    // texture is missing, of another size than the backup saw, or cannot be changed.
    // The caller checks beforehand that the records belong to the open project
    // (BackupRecords::matchesProject).
    bool prepare(const QImage& original, const QImage& edited, const BackupRecords& records,
                 const TextureImageMap& textures);
    // Per mesh index, the textures that change (a texture nothing changes in is left out).
    const QMap<int, EditedTexture>& changes() const { return m_changes; }
    qint64 texelsChanged() const;
    // Writes what prepare() worked out into the textures it was given. False, with error(),
    // when a texture was replaced or resized in between (nothing is written then).
    bool write();
    // prepare() then write().
    bool apply(const QImage& original, const QImage& edited, const BackupRecords& records,
               const TextureImageMap& textures);

    const QString& error() const { return m_error; }

private:
    // The new value of one texel: its position in the image (y * width + x) and channels 0..2.
    struct TexelWrite {
        quint32 texel;
        unsigned char value[3];
    };
    struct Pending {
        ref_ptr<IZimImage> texture;
        int width = 0, height = 0;
        std::vector<TexelWrite> writes;
    };
    bool fail(const QString& why);

    QString m_error;
    QMap<int, EditedTexture> m_changes;
    QMap<int, Pending> m_pending;
};

}  // namespace orvUI
