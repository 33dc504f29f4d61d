// Deterministic sample project generator: textured terrain tiles with buildings, one perspective
// photo of each tile and marks on the photos, all derived from one seed.
//
// World coordinates are metres: x east, y north, z up. Tiles are squares of kTileSize metres
// laid out on a near-square grid of ceil(sqrt(N)) columns, tile k in column k % columns and row
// k / columns, tile 0 at the origin (its south-west corner at x = y = 0). Every tile is the same
// regular grid of quads, each split into two triangles along the diagonal from its south-west to
// its north-east corner, both counter-clockwise seen from above. Vertex positions come from one
// global grid, so neighbouring tiles share their border vertices bit for bit and the terrain is
// continuous across tiles.
//
// Texture coordinates: s runs west to east and t south to north over a tile, both 0..1, so t = 0
// is the bottom row of the texture image (OBJ convention) and the top row of the image is the
// northern edge of the tile.
//
// Folder written by generateSample():
//
//   manifest.json
//   meshes/tile_NNN.obj   tile_NNN.mtl   tile_NNN.png      (NNN = tile index, 3 digits or more)
//   photos/photo_NNN.jpg                                    (photo NNN shows tile NNN)
//
// The OBJ of an odd-numbered tile lists its texture coordinates in reverse vertex order, so its
// faces carry texture indices that differ from the vertex indices ("texIndices": true); even
// tiles use the vertex index for both.
//
// manifest.json (every path relative to the folder holding the manifest):
//
//   format     "orv-sample"
//   version    1
//   seed       the seed the project was made from
//   tiles      number of tiles (= number of meshes = number of photos)
//   triangles  triangles of all tiles together
//   meshes     one object per tile, in tile order:
//                obj, mtl, texture   paths of the OBJ, its material library and its texture
//                label               the OBJ object name, "tile_NNN"
//                triangles, vertices counts of this tile
//                texIndices          true when the faces carry separate texture indices
//                box                 [minx, maxx, miny, maxy, minz, maxz] of its vertices
//   photos     one object per tile, in tile order:
//                path                the JPEG
//                mesh                index into "meshes" of the tile it shows
//                width, height       pixel size
//                marks               5 to 8 objects:
//                  id      positive, unique across the whole project
//                  kind    "point", "track", "selected" or "control" (one of each of the last
//                          three per photo, the rest "point")
//                  uv      [u, v] position in the photo, 0..1, origin at the bottom-left, v up
//                  point   [x, y, z] world position, on the tile's mesh surface
//                  uv2     [s, t] texture coordinate of the same spot on the tile's texture
#pragma once

#include <QColor>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTransform>
#include <functional>
#include <vector>

#include "ZimBase64t.h"

namespace orvsample {

// Edge length of a tile in metres.
constexpr double kTileSize = 100.0;

struct SampleOptions {
    QString outDir;
    int tiles = 4;
    int trianglesTotal = 20000;
    QSize photoSize{4000, 3000};
    int textureSize = 1024;
    quint32 seed = 1;
};

// Accepted ranges of the options.
constexpr int kMinTiles = 1, kMaxTiles = 4096;
constexpr int kMinTriangles = 200, kMaxTriangles = 4000000;
constexpr int kMinPhotoSide = 64, kMaxPhotoSide = 20000;
constexpr int kMinTextureSize = 64, kMaxTextureSize = 8192;

struct SampleResult {
    bool ok = false;
    QString error;
    QString manifestPath;
    QStringList meshFiles;   // absolute paths of the OBJ files, in tile order
    QStringList photoFiles;  // absolute paths of the JPEG files, in tile order
    QStringList otherFiles;  // material libraries and textures
    int triangles = 0;
    int vertices = 0;
    int marks = 0;
    qint64 bytesWritten = 0;  // all files, the manifest included
};

// Called once a tile (mesh, texture and photo) is on disk: tiles done so far and in all.
using SampleProgress = std::function<void(int done, int total)>;

// Checks the options; an empty string when they are usable, else what is wrong with them.
QString validateOptions(const SampleOptions& options);

// Writes the sample project into options.outDir (created when missing). On any failure ok is
// false and error names the problem and, for a file, its path.
SampleResult generateSample(const SampleOptions& options, const SampleProgress& progress = {});

// Small deterministic generator (splitmix64): the same seed gives the same sequence on every
// platform and library version.
class SampleRng {
public:
    explicit SampleRng(quint64 seed, quint64 stream = 0);
    quint32 next();
    double unit();                       // [0, 1)
    double range(double lo, double hi);  // [lo, hi)
    int below(int n);                    // 0 .. n-1; 0 when n <= 1

private:
    quint64 m_state;
};

// Smooth value noise in [-1, 1]: `octaves` layers of bilinear-quintic lattice noise, each twice
// the frequency and half the amplitude of the one before.
double fractalNoise(double x, double y, quint32 seed, int octaves);

struct Building {
    int tile = 0;
    Enve2d footprint;  // roof outline in world metres; its corners are mesh vertices
    double roof = 0;   // height of the flat or ridge-less roof, metres
    double wallX = 1;  // horizontal run of the walls (one grid step)
    double wallY = 1;
    int style = 0;  // 0 gable along x, 1 gable along y, 2 flat
    QColor colour;
};

// A road centreline: for an east-west road y = offset + amplitude * sin(x * frequency + phase),
// for a north-south road the same with x and y exchanged.
struct Road {
    bool eastWest = true;
    double offset = 0;
    double amplitude = 0;
    double frequency = 0;
    double phase = 0;
    double width = 6;

    double centre(double along) const;
    // Distance of (x, y) from the centreline (first-order, accurate for gentle curves).
    double distance(double x, double y) const;
};

// The height field and layout of a sample: tile placement, grid resolution, roads and buildings.
class SampleTerrain {
public:
    SampleTerrain(int tiles, int trianglesTotal, quint32 seed);

    int tileCount() const { return m_tiles; }
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    int quadsX() const { return m_quadsX; }
    int quadsY() const { return m_quadsY; }
    int trianglesPerTile() const { return 2 * m_quadsX * m_quadsY; }
    int verticesPerTile() const { return (m_quadsX + 1) * (m_quadsY + 1); }
    quint32 seed() const { return m_seed; }

    // Horizontal extent of a tile.
    Enve2d tileArea(int tile) const;
    // Ground without buildings, and with them.
    double groundHeight(double x, double y) const;
    double height(double x, double y) const;
    // Position of vertex (i, j) of a tile, i = 0..quadsX west to east, j = 0..quadsY south to
    // north; equal for the same spot seen from two tiles.
    XPnt3d vertex(int tile, int i, int j) const;
    // The point of the tile's mesh surface (linear over its triangles) at texture position
    // (s, t); s and t are clamped to 0..1.
    XPnt3d surfacePoint(int tile, double s, double t) const;

    const std::vector<Road>& roads() const { return m_roads; }
    const std::vector<Building>& buildings() const { return m_buildings; }
    // The tile in a column and row of the grid, -1 where there is none.
    int tileAt(int column, int row) const;
    // Buildings standing on one tile (none for -1).
    std::vector<const Building*> tileBuildings(int tile) const;

private:
    double gridX(int globalI) const;
    double gridY(int globalJ) const;
    void placeBuildings();

    int m_tiles;
    int m_columns;
    int m_rows;
    int m_quadsX;
    int m_quadsY;
    quint32 m_seed;
    double m_tiltX = 0;  // overall slope of the ground, metres per metre
    double m_tiltY = 0;
    std::vector<Road> m_roads;
    std::vector<Building> m_buildings;
    std::vector<int> m_firstBuilding;  // per tile, index into m_buildings; tiles + 1 entries
};

// How photo `index` looks at its tile: the texture square (image pixel coordinates, y down) is
// mapped onto a trapezoid below a slightly rolled horizon.
struct PhotoView {
    QTransform textureToPhoto;  // texture pixels -> photo pixels (y down)
    QPointF horizonLeft;        // the horizon line, in photo pixels
    QPointF horizonRight;
    int farEdge = 0;  // texture edge facing away: 0 top (north), 1 right, 2 bottom, 3 left
    double tint = 0;  // -1 cool .. 1 warm
    double brightness = 1;
    bool valid = false;
};

PhotoView photoView(int index, quint32 seed, int textureSize, const QSize& photoSize);

// Photo position of texture position (s, t) through view.textureToPhoto, as u, v in 0..1 with
// the origin at the bottom-left of the photo and v up.
QPointF photoUv(const PhotoView& view, double s, double t, int textureSize, const QSize& photoSize);

}  // namespace orvsample
