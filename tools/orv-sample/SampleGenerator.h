// Deterministic sample project generator: textured terrain tiles with buildings, one perspective
// photo of each tile taken by a pinhole camera, and marks on the photos, all derived from one seed.
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
//   photos/tile_NNN.jpg                                     (the photo of tile NNN, named after
//                                                            its mesh)
//
// The OBJ of an odd-numbered tile lists its texture coordinates in reverse vertex order, so its
// faces carry texture indices that differ from the vertex indices ("texIndices": true); even
// tiles use the vertex index for both.
//
// Photos. Each photo is a perspective render of the whole textured scene (every tile in view,
// buildings hiding what is behind them; rays that hit no tile show sky) through its own camera,
// which looks at its tile obliquely, 20 to 60 degrees off vertical, from about a tile's width
// away. The render samples each pixel at its centre, z-buffered, with perspective-correct
// texture coordinates and bilinear texture samples, in double arithmetic only, so a seed gives
// the same bytes every time. Unless photo effects are off, each photo then gets its own exposure
// and white-balance gain (within 20 %), vignetting, a slight blur and sensor noise.
//
// Camera model (the same for every photo; the numbers are in the manifest):
//   - a world point X goes to camera coordinates x_cam = R * X + t; the camera looks along +z_cam,
//     x_cam points right in the photo and y_cam down; the eye is at -R^T * t;
//   - normalised position (x, y) = (x_cam / z_cam, y_cam / z_cam), radial distortion
//     d = 1 + k1 * r^2 + k2 * r^4 with r^2 = x^2 + y^2;
//   - photo pixel position (px, py) = (f * x * d + cx, f * y * d + cy), that is
//     K = [[f, 0, cx], [0, f, cy], [0, 0, 1]] with square pixels; the origin is the top-left
//     corner of the photo, y runs down, pixel (i, j) covers [i, i + 1) x [j, j + 1);
//   - a mark's photo position (u, v) is at pixel position (u * W, (1 - v) * H) of a W x H photo.
// By default the principal point (cx, cy) is the centre (W / 2, H / 2) and k1 = k2 = 0.
//
// manifest.json (every path relative to the folder holding the manifest):
//
//   format      "orv-sample"
//   version     2
//   seed        the seed the project was made from
//   tiles       number of tiles (= number of meshes = number of photos)
//   triangles   triangles of all tiles together
//   conventions texts stating the camera model above
//   markNoise   standard deviation of the click noise on mark positions, photo pixels
//   photoEffects  false when the photos are exact renders
//   meshes      one object per tile, in tile order:
//                 obj, mtl, texture   paths of the OBJ, its material library and its texture
//                 label               the OBJ object name, "tile_NNN"
//                 triangles, vertices counts of this tile
//                 texIndices          true when the faces carry separate texture indices
//                 box                 [minx, maxx, miny, maxy, minz, maxz] of its vertices
//   photos      one object per tile, in tile order:
//                 path                the JPEG
//                 mesh                index into "meshes" of the tile it shows
//                 width, height       pixel size
//                 camera              the true camera of the photo:
//                   model        "pinhole"
//                   K            [[f, 0, cx], [0, f, cy], [0, 0, 1]]
//                   distortion   [k1, k2]
//                   R            world to camera rotation, 9 numbers row by row
//                   t            [tx, ty, tz]
//                   eye          [x, y, z] world position of the camera
//                 marks               as many as asked for (at least 6) objects:
//                   id       positive, unique across the whole project
//                   kind     "point", "track", "selected" or "control" (one of each of the last
//                            three per photo, the rest "point"; the control mark sits on a roof
//                            corner when one of the tile's buildings shows one)
//                   uv       [u, v] position in the photo as clicked: the true position plus
//                            click noise; 0..1, origin at the bottom-left, v up
//                   uvExact  [u, v] the true position, the projection of point
//                   point    [x, y, z] world position, on the tile's mesh surface and visible
//                   uv2      [s, t] texture coordinate of the same spot on the tile's texture
#pragma once

#include <QColor>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QStringList>
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
    int marks = 12;             // marks per photo
    double markNoise = 0.5;     // click noise, standard deviation in photo pixels
    double ppOffset = 0.0;      // principal point away from the centre, fraction of the photo size
    double k1 = 0.0, k2 = 0.0;  // radial lens distortion
    bool photoEffects = true;   // exposure, white balance, vignetting, blur and sensor noise
};

// Accepted ranges of the options.
constexpr int kMinTiles = 1, kMaxTiles = 4096;
constexpr int kMinTriangles = 200, kMaxTriangles = 4000000;
constexpr int kMinPhotoSide = 64, kMaxPhotoSide = 20000;
constexpr int kMinTextureSize = 64, kMaxTextureSize = 8192;
constexpr int kMinMarks = 6, kMaxMarks = 500;
constexpr double kMaxMarkNoise = 20.0;
constexpr double kMaxPpOffset = 0.2;
constexpr double kMaxDistortion = 1.0;

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

// The true camera of a photo (see the camera model above).
struct PhotoCamera {
    int width = 0, height = 0;
    double focal = 0;  // pixels
    double cx = 0, cy = 0;
    double k1 = 0, k2 = 0;
    double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // world to camera, row-major
    double t[3] = {0, 0, 0};
    XPnt3d eye;

    XPnt3d toCamera(const XPnt3d& world) const;
    // Photo pixel position of a world point; false when it is not in front of the camera.
    bool project(const XPnt3d& world, double* px, double* py) const;
};

// The camera of the photo of `tile`.
PhotoCamera photoCamera(const SampleTerrain& terrain, int tile, const SampleOptions& options);

// Undistorted normalised radius whose distorted radius is rd (k1, k2 as in the camera model).
double undistortRadius(double rd, double k1, double k2);

}  // namespace orvsample
