// Pairing photographs with their meshes by file name.
//
// A photo's mesh is the OBJ file with the same base name (the name without its last suffix)
// next to the photo or in a sibling folder named "meshes" (…/photos/a.jpg -> …/meshes/a.obj). A
// mesh's photo is found the same way, next to the OBJ or in a sibling folder named "photos", with
// one of the photo suffixes below. Suffixes and the sibling folder's name are compared without
// regard to case; base names match exactly first and without regard to case only when no file
// matches exactly (so "IMG_1.JPG" finds "img_1.obj" unless an "IMG_1.obj" is there too). Within one
// folder the first candidate in name order wins.
//
// A picture a mesh's materials use as a texture (map_Kd, map_d, bump, ... in the MTL files its
// "mtllib" lines name) is never that mesh's photograph: tile.obj beside its texture tile.png
// pairs with photos/tile.jpg, not with tile.png.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

namespace orvCore {

struct PhotoMeshPair {
    QString photo;  // absolute
    QString mesh;   // absolute
    bool operator==(const PhotoMeshPair& o) const { return photo == o.photo && mesh == o.mesh; }
};

struct PairingResult {
    QVector<PhotoMeshPair> pairs;  // in the order the files were given
    QStringList unmatched;         // given files without a partner, absolute, in order
    QStringList ignored;           // files that are neither photos nor meshes (pairDropped only)
    QStringList skipped;           // photos the user chose no mesh for (pairPhotos with a chooser)
};

// Suffixes (lower case, without the dot) of the photographs and meshes that can be paired.
const QStringList& photoSuffixes();
bool isPhotoFile(const QString& path);
bool isMeshFile(const QString& path);
bool isProjectFile(const QString& path);

// The partner of one file; empty when there is none.
QString meshForPhoto(const QString& photoPath);
QString photoForMesh(const QString& meshPath);

// The pictures the OBJ file's materials use as textures, absolute and cleaned, in the order the
// MTL files name them. Empty when the OBJ names no material library or none can be read.
QStringList meshTextureFiles(const QString& meshPath);
// True when the mesh's materials use the picture as a texture.
bool isTextureOfMesh(const QString& picturePath, const QString& meshPath);

// Each photo with its mesh; a file given twice is paired once.
PairingResult pairPhotos(const QStringList& photos);

// Asked for the mesh of a photo that has none of its name: the mesh the user picked, or an empty
// string to skip the photo. `problem` says why the previous pick for the same photo could not be
// taken (empty the first time).
using MeshChooser = std::function<QString(const QString& photo, const QString& problem)>;
// As pairPhotos, but a photo without a mesh is handed to the chooser (asked again while its pick
// cannot be taken): a photo the user skips goes to `skipped`, not `unmatched`. Without a chooser
// it is pairPhotos.
PairingResult pairPhotos(const QStringList& photos, const MeshChooser& chooseMesh);
// Why `mesh` cannot be the mesh of `photo` in a batch whose meshes so far are `taken`
// (absolute paths); empty when it can.
QString meshChoiceProblem(const QString& photo, const QString& mesh, const QStringList& taken);
// Each mesh with its photo.
PairingResult pairMeshes(const QStringList& meshes);
// Dropped files: photos and meshes dropped together pair with each other by base name first
// (same rules), the rest look for partners on disk; project files and other files go to
// `ignored` (the caller handles project files itself).
PairingResult pairDropped(const QStringList& paths);

}  // namespace orvCore
