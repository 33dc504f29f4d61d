#include "EditedBackup.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace orvUI {

namespace {

ZIM_TR_CONTEXT("orvUI::EditedBackup")

// The per-pixel difference edited - original, red, green and blue, with row 0 the bottom row
// of the picture (as the records count it).
class Difference {
public:
    Difference(const QImage& original, const QImage& edited)
        : m_width(original.width()),
          m_height(original.height()),
          m_values(std::size_t(m_width) * std::size_t(m_height) * 3),
          m_any(std::size_t(m_width) * std::size_t(m_height))
    {
        const QImage a = original.convertToFormat(QImage::Format_RGB888);
        const QImage b = edited.convertToFormat(QImage::Format_RGB888);
        for (int y = 0; y < m_height; ++y) {
            const uchar* pa = a.constScanLine(m_height - 1 - y);
            const uchar* pb = b.constScanLine(m_height - 1 - y);
            for (int x = 0; x < m_width; ++x) {
                const std::size_t i = std::size_t(y) * std::size_t(m_width) + std::size_t(x);
                bool any = false;
                for (int c = 0; c < 3; ++c) {
                    const int d = int(pb[3 * x + c]) - int(pa[3 * x + c]);
                    m_values[3 * i + std::size_t(c)] = std::int16_t(d);
                    any = any || d != 0;
                }
                m_any[i] = any;
                m_anyAtAll = m_anyAtAll || any;
            }
        }
    }
    bool anyAtAll() const { return m_anyAtAll; }

    // The difference at picture position (x, y) (pixel (i, j) at (i, j)), bilinear between the
    // four nearest pixels and rounded; false when all four are unchanged.
    bool at(double x, double y, int out[3]) const
    {
        x = std::clamp(x, 0.0, double(m_width - 1));
        y = std::clamp(y, 0.0, double(m_height - 1));
        const int x0 = int(x), y0 = int(y);
        const int x1 = std::min(x0 + 1, m_width - 1), y1 = std::min(y0 + 1, m_height - 1);
        const std::size_t i00 = index(x0, y0), i10 = index(x1, y0), i01 = index(x0, y1), i11 = index(x1, y1);
        if (!(m_any[i00] || m_any[i10] || m_any[i01] || m_any[i11])) return false;
        const double tx = x - x0, ty = y - y0;
        const double w00 = (1 - tx) * (1 - ty), w10 = tx * (1 - ty), w01 = (1 - tx) * ty, w11 = tx * ty;
        bool nonZero = false;
        for (int c = 0; c < 3; ++c) {
            const double d = w00 * m_values[3 * i00 + c] + w10 * m_values[3 * i10 + c] + w01 * m_values[3 * i01 + c] +
                             w11 * m_values[3 * i11 + c];
            out[c] = int(std::lround(d));
            nonZero = nonZero || out[c] != 0;
        }
        return nonZero;
    }

private:
    std::size_t index(int x, int y) const { return std::size_t(y) * std::size_t(m_width) + std::size_t(x); }

    int m_width, m_height;
    std::vector<std::int16_t> m_values;
    std::vector<bool> m_any;
    bool m_anyAtAll = false;
};

QString meshLabel(const BackupMesh& mesh)
{
    return mesh.name.isEmpty() ? tr("mesh %1").arg(mesh.index + 1) : mesh.name;
}

// A texture the change can be written into: 24 or 32 bits, its pixels its file's own.
bool writable(IZimImage* image)
{
    return image && (image->imageBits() == 24 || image->imageBits() == 32) && !image->imageFullSize().isValid() &&
           image->imageData(0) && image->imageWidth() > 0 && image->imageHeight() > 0;
}

}  // namespace

bool EditedBackup::fail(const QString& why)
{
    m_error = why;
    m_changes.clear();
    m_pending.clear();
    return false;
}

qint64 EditedBackup::texelsChanged() const
{
    qint64 n = 0;
    for (const EditedTexture& t : m_changes) n += t.texels;
    return n;
}

bool EditedBackup::prepare(const QImage& original, const QImage& edited, const BackupRecords& records,
                           const TextureImageMap& textures)
{
    m_error.clear();
    m_changes.clear();
    m_pending.clear();
    if (original.isNull()) return fail(tr("The backup picture cannot be read."));
    if (edited.isNull()) return fail(tr("The edited picture cannot be read."));
    if (edited.size() != original.size())
        return fail(tr("The edited picture is %1 x %2 pixels but the backup picture is %3 x %4.")
                        .arg(edited.width())
                        .arg(edited.height())
                        .arg(original.width())
                        .arg(original.height()));
    QString why;
    if (!records.matchesPicture(original.size(), &why)) return fail(why);

    // Every texture the records name, as the backup saw it.
    const QVector<BackupMesh>& meshes = records.meshes();
    std::vector<Pending*> pendingOf(std::size_t(meshes.size()), nullptr);
    for (int s = 0; s < meshes.size(); ++s) {
        const BackupMesh& mesh = meshes[s];
        const ref_ptr<IZimImage> texture = textures.value(mesh.index);
        if (!texture) return fail(tr("The texture of %1 is not available.").arg(meshLabel(mesh)));
        if (texture->imageWidth() != mesh.textureWidth || texture->imageHeight() != mesh.textureHeight)
            return fail(tr("The texture of %1 is %2 x %3 texels, but the backup was taken of one of %4 x %5.")
                            .arg(meshLabel(mesh))
                            .arg(texture->imageWidth())
                            .arg(texture->imageHeight())
                            .arg(mesh.textureWidth)
                            .arg(mesh.textureHeight));
        if (!writable(texture.get()))
            return fail(tr("The texture of %1 cannot be changed (it is shown reduced or has no pixels of its own).")
                            .arg(meshLabel(mesh)));
        Pending& p = m_pending[mesh.index];
        p.texture = texture;
        p.width = texture->imageWidth();
        p.height = texture->imageHeight();
        pendingOf[std::size_t(s)] = &p;
    }

    const Difference difference(original, edited);
    if (!difference.anyAtAll()) {
        m_pending.clear();
        return true;
    }

    // Texels already taken, per texture.
    QMap<int, std::vector<bool>> taken;
    for (const BackupTriangle& tri : records.triangles()) {
        if (tri.mesh >= quint32(meshes.size())) continue;
        const int meshIndex = meshes[int(tri.mesh)].index;
        Pending& pending = *pendingOf[tri.mesh];
        const int tw = pending.width, th = pending.height;
        std::vector<bool>& done = taken[meshIndex];
        if (done.empty()) done.assign(std::size_t(tw) * std::size_t(th), false);
        IZimImage* image = pending.texture.get();
        const int bpp = image->imageBits() / 8;

        // Texture corners in texels, screen corners in picture pixels.
        double u[3], v[3], sx[3], sy[3];
        for (int k = 0; k < 3; ++k) {
            u[k] = double(tri.texture[2 * k]) * tw;
            v[k] = double(tri.texture[2 * k + 1]) * th;
            sx[k] = tri.screen[2 * k];
            sy[k] = tri.screen[2 * k + 1];
        }
        const double area = (u[1] - u[0]) * (v[2] - v[0]) - (u[2] - u[0]) * (v[1] - v[0]);
        if (!(std::fabs(area) > 1e-12)) continue;
        const double minU = std::min({u[0], u[1], u[2]}), maxU = std::max({u[0], u[1], u[2]});
        const double minV = std::min({v[0], v[1], v[2]}), maxV = std::max({v[0], v[1], v[2]});
        const int i0 = std::max(0, int(std::floor(minU - 0.5))), i1 = std::min(tw - 1, int(std::ceil(maxU - 0.5)));
        const int j0 = std::max(0, int(std::floor(minV - 0.5))), j1 = std::min(th - 1, int(std::ceil(maxV - 0.5)));
        // A texel on an edge shared by two triangles belongs to both; the first one takes it.
        const double eps = 1e-9;
        for (int j = j0; j <= j1; ++j) {
            const double cv = j + 0.5;
            unsigned char* row = image->imageData(j);
            for (int i = i0; i <= i1; ++i) {
                const double cu = i + 0.5;
                const double l1 = ((cu - u[0]) * (v[2] - v[0]) - (u[2] - u[0]) * (cv - v[0])) / area;
                const double l2 = ((u[1] - u[0]) * (cv - v[0]) - (cu - u[0]) * (v[1] - v[0])) / area;
                const double l0 = 1.0 - l1 - l2;
                if (l0 < -eps || l1 < -eps || l2 < -eps) continue;
                const std::size_t t = std::size_t(j) * std::size_t(tw) + std::size_t(i);
                if (done[t]) continue;
                done[t] = true;
                const double px = l0 * sx[0] + l1 * sx[1] + l2 * sx[2];
                const double py = l0 * sy[0] + l1 * sy[1] + l2 * sy[2];
                int d[3];
                if (!difference.at(px, py, d)) continue;
                // The picture is red, green, blue; the texture's channel 0 is blue.
                const unsigned char* texel = row + std::size_t(i) * std::size_t(bpp);
                TexelWrite w;
                w.texel = quint32(t);
                bool changed = false;
                for (int c = 0; c < 3; ++c) {
                    const int value = std::clamp(int(texel[c]) + d[2 - c], 0, 255);
                    w.value[c] = static_cast<unsigned char>(value);
                    changed = changed || w.value[c] != texel[c];
                }
                if (changed) pending.writes.push_back(w);
            }
        }
    }

    // What will change, tile by tile.
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        Pending& p = it.value();
        if (p.writes.empty()) {
            it = m_pending.erase(it);
            continue;
        }
        const int columns = (p.width + kTileSize - 1) / kTileSize, rows = (p.height + kTileSize - 1) / kTileSize;
        std::vector<bool> tile(std::size_t(columns) * std::size_t(rows), false);
        for (const TexelWrite& w : p.writes) {
            const int x = int(w.texel % quint32(p.width)), y = int(w.texel / quint32(p.width));
            tile[std::size_t(y / kTileSize) * std::size_t(columns) + std::size_t(x / kTileSize)] = true;
        }
        EditedTexture change;
        change.meshIndex = it.key();
        change.texels = qint64(p.writes.size());
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c)
                if (tile[std::size_t(r) * std::size_t(columns) + std::size_t(c)]) change.tiles.append(QPoint(c, r));
        m_changes.insert(it.key(), change);
        ++it;
    }
    return true;
}

bool EditedBackup::write()
{
    for (auto it = m_pending.constBegin(); it != m_pending.constEnd(); ++it) {
        IZimImage* image = it.value().texture.get();
        if (!writable(image) || image->imageWidth() != it.value().width || image->imageHeight() != it.value().height)
            return fail(tr("A texture changed while the edited backup was being applied; nothing was written."));
    }
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        Pending& p = it.value();
        IZimImage* image = p.texture.get();
        const int bpp = image->imageBits() / 8;
        for (const TexelWrite& w : p.writes) {
            const int x = int(w.texel % quint32(p.width)), y = int(w.texel / quint32(p.width));
            unsigned char* texel = image->imageData(y) + std::size_t(x) * std::size_t(bpp);
            texel[0] = w.value[0];
            texel[1] = w.value[1];
            texel[2] = w.value[2];
        }
        p.writes.clear();
        p.writes.shrink_to_fit();
    }
    m_pending.clear();
    return true;
}

bool EditedBackup::apply(const QImage& original, const QImage& edited, const BackupRecords& records,
                         const TextureImageMap& textures)
{
    return prepare(original, edited, records, textures) && write();
}

}  // namespace orvUI
