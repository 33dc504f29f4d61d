// Painting a photo into a mesh's texture, texel by texel: each texel of each triangle in texture
// space is taken to its surface point, projected through the photo's camera, checked against the
// depth view, weighted, sampled from the photo level matching its footprint and blended into the
// texture; the paint then bleeds a few texels past the borders of the texture's islands.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ColourMatch.h"
#include "DepthView.h"
#include "PaintTypes.h"
#include "PaintWeights.h"
#include "PhotoProjector.h"
#include "PhotoPyramid.h"

namespace orvpaint {

// A square block of the texture: texels [x * size, (x + 1) * size) of rows [y * size, ...) in
// the texture buffer's own row order.
struct TileKey {
    int x = 0, y = 0;
    bool operator==(const TileKey& o) const { return x == o.x && y == o.y; }
    bool operator<(const TileKey& o) const { return y != o.y ? y < o.y : x < o.x; }
};

struct PaintOptions {
    // Overall weight of the photo, 0..1.
    double strength = 1.0;
    // Texels the paint reaches past the border of the painted texture islands.
    int bleedTexels = 4;
    // Side of the tiles reported as touched.
    int tileSize = 64;
    // Colour correction of the photo samples; null (or the identity) uses them as they are.
    const ColourMatch* colourMatch = nullptr;
    // Called once, before the first byte of the texture is written, with every tile whose bytes
    // the paint is about to change (in ascending order), so the caller can keep those tiles.
    std::function<void(const std::vector<TileKey>&)> beforeWrite;
    // When set, receives the weight given to each texel (width x height, the buffer's row order;
    // 0 where nothing was painted, bled texels included).
    std::vector<float>* weightOut = nullptr;
};

struct PaintStats {
    bool ok = false;
    std::string error;
    long long texelsInTriangles = 0;  // texel centres inside some triangle of the mesh
    long long texelsPainted = 0;      // of those, given a weight above 0
    long long texelsBled = 0;         // outside every triangle, filled by the bleed
    long long texelsChanged = 0;      // texels whose bytes changed
    std::vector<TileKey> touchedTiles;
};

class TexturePaint {
public:
    // Paints `photo` (its full-size level of the projector's size) through `projector` into
    // `texture` (the mesh's texture, changed in place) over the triangles of `mesh`; `depth` must
    // hold the scene (this mesh and everything that may hide it) and `weights` its feather.
    static PaintStats paint(const MeshView& mesh, const ImageRows& texture, const PhotoPyramid& photo,
                            const PhotoProjector& projector, const DepthView& depth, const PaintWeights& weights,
                            const PaintOptions& options = PaintOptions());
};

}  // namespace orvpaint
