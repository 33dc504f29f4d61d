// Geometry library: images (IZimImage), textured meshes loaded from Wavefront OBJ (IZimMesh,
// MeshArray) and the scope guard for temporary OpenGL state (ZimTmpGlStateCtrl).
#pragma once

#include <GL/gl.h>

#include <QImage>
#include <QSize>
#include <QString>

#include "ZimBase64t.h"

#if defined(ORV_BUILDING_ZimGeometry64t)
#define ZIM_GEOMETRY_EXPORT __attribute__((visibility("default")))
#else
#define ZIM_GEOMETRY_EXPORT
#endif

// ---------------------------------------------------------------------------------------------
// Images
// ---------------------------------------------------------------------------------------------
//
// Pixel layout (device-independent bitmap convention):
//  - rows are stored bottom-up: row 0 is the bottom row of the picture, as in an OpenGL texture,
//    and y = 0 addresses it;
//  - each pixel is 3 bytes B, G, R (24-bit images) or 4 bytes B, G, R, A (32-bit images), so
//    channel 0 is blue, channel 2 is red, and imageSwapChannels() turns the rows into R, G, B;
//  - each row is padded to a multiple of 4 bytes (imageRowBytes());
//  - an image may carry a separate mark plane of one byte per pixel (imageSetMark/imageGetMark),
//    tightly packed, row 0 at the bottom; marks start at 0.
//
// Pixel values as ints: channel 0 in the lowest byte, then channel 1, channel 2 and (for alpha
// images) channel 3, i.e. 0xAARRGGBB as bytes B, G, R, A in memory.
//
// Status results are 0 on success and -1 on failure; imageLastError() then says why, naming the
// file when one was involved.

// Bits per pixel an image can have.
enum ZimImageBits { ZimImageBits24 = 24, ZimImageBits32 = 32 };

// imageCreate: the last argument.
enum ZimImageCreateFlags {
    ZimImageNoMarks = 0,    // no mark plane
    ZimImageWithMarks = 1,  // allocate a mark plane, all 0
};

// imageSave: the second argument.
enum ZimImageSaveFlags {
    ZimImageSavePng = 0,       // always PNG, whatever the suffix says
    ZimImageSaveBySuffix = 1,  // format from the suffix (png, jpg/jpeg, bmp, tif/tiff); PNG without one
};

// imageSample: the sampling filter (fifth argument).
enum ZimImageFilter {
    ZimImageNearest = 1,   // the pixel that contains (u, v)
    ZimImageBilinear = 2,  // bilinear between the four nearest pixel centres
};

// imageResize: the third argument.
enum ZimImageResizeMode {
    ZimImageResizeFast = 0,    // nearest pixel
    ZimImageResizeSmooth = 1,  // smooth (area-weighted/bilinear) resampling
};

class ZIM_GEOMETRY_EXPORT IZimImage : public ZimReferenced {
public:
    // Path of the file the image was loaded from or last saved to; false (and out emptied) when
    // the image never touched a file.
    virtual bool getImagePath(QString& out) const = 0;
    // A deep copy: pixels, marks and path. Null when the copy cannot be allocated.
    virtual ref_ptr<IZimImage> imageClone() const = 0;
    // Replaces the content with a new width x height image of `bits` (24 or 32) bits per pixel,
    // all zero; `flags` is ZimImageWithMarks (1) to give it a mark plane. Returns the pixel rows
    // (as imageData(0)), or null, with the image left unchanged, for a zero or negative size, an
    // unsupported depth or a size that cannot be allocated.
    virtual unsigned char* imageCreate(int width, int height, int bits, int flags) = 0;
    // Start of pixel row `row` (0 is the bottom row); null without pixels or for a row outside.
    virtual unsigned char* imageData(int row = 0) = 0;
    virtual int imageHeight() const = 0;
    virtual int imageWidth() const = 0;
    // Exchanges channels 0 and 2 of every pixel in place (B,G,R <-> R,G,B); alpha stays.
    virtual int imageSwapChannels() = 0;
    // Writes the pixel at (x, y) to out: 3 bytes (channels 0, 1, 2) or 4 for an alpha image, so
    // out must hold 4 bytes. With clamp true, x and y outside the image are clamped to its edge;
    // with clamp false they make the call return false and leave out untouched.
    virtual bool imageGetPixel(unsigned char* out, int x, int y, bool clamp) const = 0;
    // Sets the pixel at (x, y) from colour (channel 0 in the lowest byte). With withAlpha true an
    // alpha image also takes byte 3 as its alpha; with false its alpha is left as it was. A
    // position outside the image is ignored and gives false.
    virtual bool imageSetPixel(int x, int y, int colour, bool withAlpha) = 0;
    // Writes the image to path (see ZimImageSaveFlags). 0 on success, -1 on failure.
    virtual int imageSave(const QString& path, int flags) = 0;
    // Samples the image at (u, v) given in pixels: u from 0 to width and v from 0 to height, with
    // v = 0 at the bottom edge, so texture coordinates scaled by the image size address it
    // directly. Pixel (i, j) covers [i, i+1] x [j, j+1]; its centre is (i + 0.5, j + 0.5).
    //  - outBytes: how many bytes to write to out (3 or 4). Byte 3 is the alpha of an alpha
    //    image and 255 otherwise.
    //  - filter: ZimImageBilinear (2) or ZimImageNearest (1).
    //  - border: null clamps at the borders (the edge pixels extend outward, so u = width and
    //    v = height are valid); otherwise the 4 bytes it points to stand for everything outside.
    // False (out untouched) for an empty image or a NaN coordinate.
    virtual bool imageSample(unsigned char* out, float u, float v, int outBytes, int filter,
                             const unsigned char* border) const = 0;
    // Resamples the image in place to width x height (see ZimImageResizeMode). With keepAspect
    // non-zero the result fits inside width x height with the aspect ratio kept. Marks are
    // resampled by nearest pixel. 0 on success, -1 (unchanged) for a bad size.
    virtual int imageResize(int width, int height, int mode, int keepAspect) = 0;
    // Sets every pixel byte and every mark to 0; the size stays.
    virtual int imageReset() = 0;
    // Mark byte of one pixel. Ignored outside the image or without a mark plane (where
    // imageGetMark answers 0).
    virtual void imageSetMark(int x, int y, unsigned char mark) = 0;
    virtual unsigned char imageGetMark(int x, int y) const = 0;
    virtual bool imageHasAlpha() const = 0;

    // ---- beyond the operations the UI library calls ----

    // Loads a file (PNG, JPEG, BMP, TIFF, anything QImage reads). Images with an alpha channel
    // become 32-bit, others 24-bit. Without a mark plane. 0 on success; on failure -1 and the
    // image is left unchanged.
    virtual int imageLoad(const QString& path) = 0;
    // As imageLoad, but decodes at a reduced size: the result fits inside maxSide x maxSide with
    // its aspect ratio kept (JPEG and PNG are reduced while decoding, so memory stays that of the
    // result). maxSide <= 0 loads in full. Only regular files are read (up to 1 GiB).
    virtual int imageLoadScaled(const QString& path, int maxSide) = 0;
    // Replaces the content with a copy of a QImage (top-down rows turned bottom-up).
    virtual int imageFromQImage(const QImage& image) = 0;
    // A QImage copy, top row first: Format_RGB888 for 24-bit images, Format_ARGB32 for 32-bit.
    virtual QImage imageToQImage() const = 0;
    virtual int imageBits() const = 0;
    virtual int imageRowBytes() const = 0;
    virtual bool imageHasMarks() const = 0;
    virtual unsigned char* imageMarkData() = 0;
    virtual QString imageLastError() const = 0;
    // Fills every pixel with colour (as imageSetPixel with withAlpha true) and every mark with
    // mark, in parallel over rows.
    virtual int imageFill(int colour, unsigned char mark) = 0;
    // The size of the picture in its file when it was decoded at a reduced size (imageLoadScaled
    // below the file's size, a texture beyond the graphics' limit, a photo beyond the viewing
    // need); invalid when the pixels are the file's own. Coordinates on the picture stay those of
    // this full size. Such an image is read-only: imageSetPixel and imageFill refuse, and
    // imageSave refuses to write over the file it was decoded from.
    virtual QSize imageFullSize() const = 0;

protected:
    ~IZimImage() override = default;
};

// ---------------------------------------------------------------------------------------------
// Meshes
// ---------------------------------------------------------------------------------------------
//
// A triangle mesh with one diffuse texture. Triangles index the vertex array; texture corners
// have their own index list (meshTexIndices) when the OBJ gave them separately. Without separate
// indices meshTexCoords is indexed by vertex index.

class ZIM_GEOMETRY_EXPORT IZimMesh : public ZimReferenced {
public:
    // Vertex positions, indexed by vertex index.
    virtual ref_ptr<Pnt3fArray> meshVertexSource() const = 0;
    // Three vertex indices per triangle.
    virtual ref_ptr<IntArray> meshTriangles() const = 0;
    // Texture coordinates, 0..1 with v = 0 at the bottom of the texture.
    virtual ref_ptr<Pnt2fArray> meshTexCoords() const = 0;
    // The diffuse texture, loaded from its file the first time it is asked for and then kept.
    // Null when the mesh has none or it cannot be read (meshLastError() says why).
    virtual ref_ptr<IZimImage> meshTexture() = 0;
    virtual int meshName(QString& out) const = 0;
    virtual int meshTextureName(QString& out) const = 0;
    virtual int meshLabel(QString& out) const = 0;
    virtual bool isMeshTextureVisible() const = 0;
    virtual void setMeshCurrent(bool current) = 0;
    // Bounding box of the vertices; empty for a mesh without vertices.
    virtual int meshBox(Enve3d& out) const = 0;
    // The triangle whose vertex indices are exactly (i0, i1, i2), in constant time; the first
    // such triangle when there are several, -1 when there is none.
    virtual int meshTexFace(int i0, int i1, int i2) const = 0;
    // Texture index of corner (0, 1, 2) of a triangle; -1 for a face or corner outside.
    virtual int meshTexFaceIndex(int face, int corner) const = 0;

    // ---- beyond the operations the UI library calls ----

    virtual bool hasTexIndices() const = 0;
    // Three texture indices per triangle, or null without separate indices.
    virtual ref_ptr<IntArray> meshTexIndices() const = 0;
    virtual int meshTriangleCount() const = 0;
    virtual int meshVertexCount() const = 0;
    virtual bool isMeshCurrent() const = 0;
    virtual void setMeshTextureVisible(bool visible) = 0;
    virtual void setMeshName(const QString& name) = 0;
    virtual void setMeshLabel(const QString& label) = 0;
    // Path of the OBJ file (empty for a mesh built in memory) and of its texture file.
    virtual QString meshFilePath() const = 0;
    virtual QString meshTexturePath() const = 0;
    // Points the mesh at a texture file; the image is read on the next meshTexture().
    virtual void setMeshTexturePath(const QString& path) = 0;
    // Uses an image already in memory as the texture.
    virtual void setMeshTextureImage(const ref_ptr<IZimImage>& image) = 0;
    // Drops the loaded texture image; the next meshTexture() reads the file again.
    virtual void releaseMeshTexture() = 0;
    // Replaces the geometry. texIndices may be null (texture coordinates by vertex index). Checks
    // every index against its array and every coordinate for NaN or infinity: -1 (mesh
    // unchanged, meshLastError() set) on a fault, 0 when the data is whole.
    virtual int setMeshGeometry(const ref_ptr<Pnt3fArray>& vertices, const ref_ptr<IntArray>& triangles,
                                const ref_ptr<Pnt2fArray>& texCoords, const ref_ptr<IntArray>& texIndices) = 0;
    virtual QString meshLastError() const = 0;
    // Path of the material's transparency map (map_d), empty when it has none.
    virtual QString meshAlphaTexturePath() const = 0;
    virtual void setMeshAlphaTexturePath(const QString& path) = 0;

protected:
    ~IZimMesh() override = default;
};

// An ordered list of meshes shared by reference count.
class ZIM_GEOMETRY_EXPORT MeshArray : public ZimReferenced {
public:
    MeshArray() = default;
    int appendMesh(const ref_ptr<IZimMesh>& mesh);
    // The mesh at i; null for an index outside the list.
    ref_ptr<IZimMesh> meshAt(int i) const;
    // Removes the mesh at i: 0, or -1 for an index outside the list.
    int removeMeshAt(int i);
    int meshCount() const;

protected:
    ~MeshArray() override;

private:
    std::vector<ref_ptr<IZimMesh>> m_meshes;
};

// ---------------------------------------------------------------------------------------------
// Temporary OpenGL state
// ---------------------------------------------------------------------------------------------

// Sets one piece of fixed-function state for the lifetime of the guard and restores what was
// there before: a capability (glEnable/glDisable), the line width, or the current colour. Needs
// a current GL context for its whole life.
class ZIM_GEOMETRY_EXPORT ZimTmpGlStateCtrl {
public:
    ZimTmpGlStateCtrl(GLenum capability, bool on);
    // Only GL_LINE_WIDTH is supported; any other parameter leaves the state alone.
    ZimTmpGlStateCtrl(GLenum parameter, float value);
    explicit ZimTmpGlStateCtrl(const ZimColor3f& colour);
    explicit ZimTmpGlStateCtrl(const ZimColor4f& colour);
    ~ZimTmpGlStateCtrl();

    ZimTmpGlStateCtrl(const ZimTmpGlStateCtrl&) = delete;
    ZimTmpGlStateCtrl& operator=(const ZimTmpGlStateCtrl&) = delete;

private:
    enum Kind { Capability, LineWidth, Colour, None };
    Kind m_kind;
    GLenum m_name;
    bool m_wasOn = false;
    GLfloat m_old[4] = {0, 0, 0, 0};
};

// ---------------------------------------------------------------------------------------------
// Factories
// ---------------------------------------------------------------------------------------------

namespace zim {

// An empty image (0 x 0); imageCreate or imageLoad gives it pixels.
ZIM_GEOMETRY_EXPORT ref_ptr<IZimImage> newZimImage();
// Loads an image file; null with *error set (naming the file) on failure.
ZIM_GEOMETRY_EXPORT ref_ptr<IZimImage> loadZimImage(const QString& path, QString* error = nullptr);

ZIM_GEOMETRY_EXPORT ref_ptr<MeshArray> newMeshArray();
// An empty mesh, to be filled with setMeshGeometry.
ZIM_GEOMETRY_EXPORT ref_ptr<IZimMesh> newZimMesh();
// Loads a Wavefront OBJ with its MTL: faces triangulated, texture indices kept apart when they
// differ from the vertex indices, the first material's map_Kd as texture (read on demand). Name
// = file base name, label = first object or group name (the base name without one), texture
// name = texture file base name. Null with *error set (naming the file and the problem) for a
// missing, truncated, oversized or malformed OBJ (bad, zero, missing or overflowing indices,
// vertices with fewer than three numbers, NaN or infinite coordinates, faces of fewer than three
// corners, no triangles), an OBJ, material library or texture that is not a regular file, a
// material library over 16 MiB, or a texture file that does not exist. A material library or
// material that cannot be found leaves the mesh untextured, with a warning in the log; faces
// without texture coordinates on every corner are kept and report texture index -1. A texture
// file that exists but cannot be decoded is only found when meshTexture() reads it: that call
// then answers null and meshLastError() names the file.
ZIM_GEOMETRY_EXPORT ref_ptr<IZimMesh> loadObjMesh(const QString& objPath, QString* error = nullptr);

// Largest side a texture is decoded at (16384 until set): the GL code sets it to the largest
// texture the graphics take. A texture beyond it is decoded reduced and is read-only.
ZIM_GEOMETRY_EXPORT void setZimTextureSideLimit(int side);
ZIM_GEOMETRY_EXPORT int zimTextureSideLimit();
// Loads a texture file decoded at most zimTextureSideLimit() a side, and logs when it is reduced.
// Null with *error set (naming the file) on failure.
ZIM_GEOMETRY_EXPORT ref_ptr<IZimImage> loadZimTexture(const QString& path, QString* error = nullptr);

}  // namespace zim
