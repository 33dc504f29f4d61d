// The records of a backup picture: what is needed to map the picture (or an edited copy of it)
// back onto the textures. The picture's size, the camera it was taken from, which project it
// belongs to, and per visible triangle its mesh, its corners on the picture and on the texture.
//
// Stored in a small binary file beside the picture, with the same base name and the suffix
// ".orvbackup". All numbers little-endian:
//
//   "ORVBKREC"                        8 bytes
//   u32 version                       (kVersion)
//   i32 picture width, height
//   camera: f64 eye[3], centre[3], up[3], field of view (degrees), model-view[16],
//           projection[16] (column-major, as GL takes them); i32 viewport width, height;
//           u32 flags (bit 0: the view looked through a photo's camera)
//   string project path               (u32 byte count, UTF-8)
//   bytes project digest              (u32 byte count, bytes)
//   u32 mesh count, per mesh: i32 mesh index, string mesh name, string texture name,
//       i32 texture width, height
//   u32 triangle count, per triangle: u32 mesh slot (position in the mesh list),
//       f32 screen corners x0 y0 x1 y1 x2 y2 (picture pixels: pixel (x, y) of the picture, row 0
//       at the bottom, shows the texture at the screen position (x, y)),
//       f32 texture corners u0 v0 u1 v1 u2 v2 (0..1, v = 0 at the bottom of the texture)
//   u64 checksum of every byte before it
#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QVector>

#include "TriangleSelection.h"

namespace orvUI {

// Where the backup was looked at from.
struct BackupCamera {
    double eye[3] = {0, 0, 0};
    double centre[3] = {0, 0, 0};
    double up[3] = {0, 0, 0};
    double fieldOfView = 0;
    double modelView[16] = {};
    double projection[16] = {};
    int viewportWidth = 0;
    int viewportHeight = 0;
    bool photoProjection = false;

    static BackupCamera of(const ref_ptr<IZimTrackBall>& trackBall);
};

// One mesh whose texture the picture shows.
struct BackupMesh {
    int index = -1;  // the mesh's index in the project
    QString name;
    QString textureName;
    int textureWidth = 0;
    int textureHeight = 0;
};

// One visible triangle.
struct BackupTriangle {
    quint32 mesh = 0;  // position in BackupRecords::meshes
    float screen[6] = {};
    float texture[6] = {};
};

// Which project a backup belongs to: its file, and a digest of the names and geometry of the
// meshes the backup shows (so that a project rebuilt at the same path is told apart).
struct ProjectIdentity {
    QString path;
    QByteArray digest;

    // The identity of the open project for the meshes with these indices (ascending or not);
    // an empty path without a project.
    static ProjectIdentity of(IZimMM* mm, const QVector<int>& meshIndices);
};

class BackupRecords {
public:
    static constexpr quint32 kVersion = 1;

    // ".orvbackup"
    static QString suffix();
    // The records' file of a picture: the picture's path with its suffix replaced.
    static QString pathFor(const QString& picturePath);

    // The records of a backup just painted: the picture's size, the camera, and every record
    // whose mesh has a texture image (the others painted nothing). Screen corners as the
    // painter puts them on the picture. mm gives the project's identity (may be null).
    static BackupRecords collect(const QSize& picture, const ref_ptr<IZimTrackBall>& trackBall,
                                 const TriangleRecords& records, const TextureImageMap& textures, IZimMM* mm);

    // Written to a temporary file and renamed over `path`, so a reader never sees half a file.
    // False, with *error saying why, when it cannot be written.
    bool write(const QString& path, QString* error) const;
    // Reads a records file. False, with *error saying why, for a missing, truncated, damaged
    // or foreign file or one of another version; the records are then left empty.
    bool read(const QString& path, QString* error);

    // False, with *error saying why, when the picture is not the size the records were taken
    // at.
    bool matchesPicture(const QSize& picture, QString* error) const;
    // False, with *error saying why, when the records belong to another project file or the
    // open project's meshes are not those the backup showed.
    bool matchesProject(const ProjectIdentity& open, QString* error) const;
    // Indices of the meshes the records name, in the records' order.
    QVector<int> meshIndices() const;

    QSize pictureSize() const { return m_picture; }
    const BackupCamera& camera() const { return m_camera; }
    const ProjectIdentity& project() const { return m_project; }
    const QVector<BackupMesh>& meshes() const { return m_meshes; }
    const QVector<BackupTriangle>& triangles() const { return m_triangles; }

    // For building records by hand (tests, tools).
    void setPictureSize(const QSize& size) { m_picture = size; }
    void setCamera(const BackupCamera& camera) { m_camera = camera; }
    void setProject(const ProjectIdentity& project) { m_project = project; }
    void setMeshes(const QVector<BackupMesh>& meshes) { m_meshes = meshes; }
    void setTriangles(const QVector<BackupTriangle>& triangles) { m_triangles = triangles; }

    QByteArray serialise() const;
    bool parse(const QByteArray& bytes, QString* error);

private:
    QSize m_picture;
    BackupCamera m_camera;
    ProjectIdentity m_project;
    QVector<BackupMesh> m_meshes;
    QVector<BackupTriangle> m_triangles;
};

}  // namespace orvUI
