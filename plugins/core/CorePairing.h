// Pairing photographs with their meshes by file name.
//
// A photo's mesh is the OBJ file with the same base name (the name without its last suffix)
// next to the photo or in a sibling folder named "meshes" (…/photos/a.jpg -> …/meshes/a.obj). A
// mesh's photo is found the same way, next to the OBJ or in a sibling folder named "photos", with
// one of the photo suffixes below. Suffixes and the sibling folder's name are compared without
// regard to case; base names match exactly first and without regard to case only when no file
// matches exactly (so "IMG_1.JPG" finds "img_1.obj" unless an "IMG_1.obj" is there too). Within one
// folder the first candidate in name order wins.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

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
};

// Suffixes (lower case, without the dot) of the photographs and meshes that can be paired.
const QStringList& photoSuffixes();
bool isPhotoFile(const QString& path);
bool isMeshFile(const QString& path);
bool isProjectFile(const QString& path);

// The partner of one file; empty when there is none.
QString meshForPhoto(const QString& photoPath);
QString photoForMesh(const QString& meshPath);

// Each photo with its mesh; a file given twice is paired once.
PairingResult pairPhotos(const QStringList& photos);
// Each mesh with its photo.
PairingResult pairMeshes(const QStringList& meshes);
// Dropped files: photos and meshes dropped together pair with each other by base name first
// (same rules), the rest look for partners on disk; project files and other files go to
// `ignored` (the caller handles project files itself).
PairingResult pairDropped(const QStringList& paths);

}  // namespace orvCore
