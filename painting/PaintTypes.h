// Plain data the painter works on: 3D vectors, views of pixel rows in memory and of a mesh's
// arrays. Views never own what they point at.
#pragma once

#include <cmath>
#include <cstddef>

namespace orvpaint {

struct Vec3 {
    double x = 0, y = 0, z = 0;

    Vec3() = default;
    Vec3(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}
    Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vec3 operator*(double s) const { return {x * s, y * s, z * s}; }
    double dot(const Vec3& o) const { return x * o.x + y * o.y + z * o.z; }
    Vec3 cross(const Vec3& o) const { return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x}; }
    double length() const { return std::sqrt(dot(*this)); }
};

// Pixel rows in memory: `channels` bytes per pixel (3: B, G, R; 4: B, G, R, A), rows rowBytes
// apart. With bottomUp row 0 is the bottom row of the picture (the layout of the geometry
// library's images and of GL textures), otherwise the top row.
struct ImageRows {
    unsigned char* data = nullptr;
    int width = 0, height = 0;
    int rowBytes = 0;
    int channels = 3;
    bool bottomUp = true;

    bool isValid() const
    {
        return data && width > 0 && height > 0 && (channels == 3 || channels == 4) && rowBytes >= width * channels;
    }
    unsigned char* row(int y) const { return data + std::size_t(y) * std::size_t(rowBytes); }
};

// A triangle mesh: positions (x, y, z per vertex), texture coordinates (s, t per entry, 0..1,
// t = 0 at the bottom of the texture) and three vertex indices per triangle. uvTriangles gives
// three texture-coordinate indices per triangle; null means the vertex indices serve for both.
struct MeshView {
    const float* positions = nullptr;
    int vertexCount = 0;
    const float* uvs = nullptr;
    int uvCount = 0;
    const int* triangles = nullptr;
    const int* uvTriangles = nullptr;
    int triangleCount = 0;
};

// Hermite ramp: 0 at or below 0, 1 at or above 1, smooth in between.
inline double smoothRamp(double x)
{
    if (!(x > 0)) return 0;
    if (x >= 1) return 1;
    return x * x * (3 - 2 * x);
}

}  // namespace orvpaint
