// The backup of the textures the 3D view shows, as the Mesh menu command and the host's
// --backup run take it: the reasons a backup cannot be taken that are known before trying (no
// project, no awake textured mesh, a picture path that cannot be written, no 3D view), the call on
// the 3D viewer, and the texts the user is told afterwards.
//
// The checks need no window; takeBackup needs a 3D viewer that is shown (its GL context is
// used) and the main frame's progress object.
#pragma once

#include <OrvKernel64t.h>

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QVector>

namespace orvUI {
class IOrv3DViewer;
}

namespace orvCore {

enum class BackupProblem {
    None,
    // the project
    NoProject,
    NoMeshes,
    NoneTextured,  // no mesh of the project has a texture
    AllAsleep,     // every mesh with a texture is asleep
    // the picture's path
    NoFileName,
    TargetIsFolder,
    FolderMissing,
    FolderIsFile,
    FolderNotWritable,
    UnknownFormat,
    // the view
    NoViewer,
    ViewNotDrawn,
    NothingVisible,  // the view shows none of the textured meshes
    NotWritten,      // the picture could not be written
};

// What keeps the open project from a backup: None when at least one awake mesh has a texture
// (the backup paints those only, whether or not their photographs are mapped yet).
BackupProblem backupMeshProblem(IZimMM* mm);

// The image format the picture at path is written in ("png" for a name without a suffix);
// empty when the suffix names no format that can be written.
QByteArray backupFormat(const QString& path);

// What keeps the picture from being written at path: no name, a folder in its place, a folder
// that is missing, is a file or cannot be written to, a read-only file in its place, or a suffix
// that names no image format. None when the path looks writable.
BackupProblem backupTargetProblem(const QString& path);

// "<project folder>/<project name>-backup.png" (a file in the home folder without a project).
QString suggestedBackupPath(const QString& projectPath);

// The number of different meshes the triangle records belong to.
int backupMeshCount(const QVector<ref_ptr<TqTriangleIndex>>& triangles);

struct BackupResult {
    bool ok = false;
    BackupProblem problem = BackupProblem::None;  // why not, when !ok
    int triangles = 0;                            // visible triangles collected
    int meshes = 0;                               // meshes they belong to
    QSize pictureSize;                            // of the picture written
    QString detail;                               // the viewer's own account of a failure
};

// Checks the project and the path, draws the viewer's current view once and has the viewer
// write the backup picture of it at path. A picture reported written that cannot be read back
// is a failure; nothing is left at path on failure.
BackupResult takeBackup(IZimMM* mm, orvUI::IOrv3DViewer* viewer, const QString& path);

// The message for a problem (empty for None); path names the picture where it matters.
QString backupProblemText(BackupProblem problem, const QString& path);

// Why this run failed: the viewer's own account where it knows more than the host (a picture
// that could not be made or written), else backupProblemText.
QString backupFailureText(const BackupResult& result, const QString& path);
// "Backup of N visible triangles in M meshes written to FILE".
QString backupDoneText(const BackupResult& result, const QString& path);

}  // namespace orvCore
