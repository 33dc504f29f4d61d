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
#include <QStringList>
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
    OwnFile,         // the picture's path is one of the project's own files
    NotRegularFile,  // something other than a regular file (a FIFO, a device, a socket) is there
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

// True when the two paths name one file: the same file through links (symbolic or hard) or
// different spellings. False when either does not exist.
bool isSameFile(const QString& a, const QString& b);

// The files the open project is made of: the project file, and of every image its photograph,
// its mesh (OBJ) and the mesh's texture and transparency map (absolute paths, those known).
QStringList projectOwnFiles(IZimMM* mm);

// True when path is one of projectOwnFiles(mm): writing a picture there would destroy it.
bool isProjectOwnFile(IZimMM* mm, const QString& path);

// backupTargetProblem, and OwnFile when path is one of the open project's own files.
BackupProblem backupTargetProblem(const QString& path, IZimMM* mm);

// "<project folder>/<project name>-backup.png" (a file in the home folder without a project).
QString suggestedBackupPath(const QString& projectPath);

// The number of different meshes the triangle records belong to.
int backupMeshCount(const QVector<ref_ptr<TqTriangleIndex>>& triangles);

struct BackupResult {
    bool ok = false;
    BackupProblem problem = BackupProblem::None;  // why not, when !ok
    int triangles = 0;                            // visible triangles painted (collected, on failure)
    int meshes = 0;                               // meshes they belong to (those left out not counted)
    QSize pictureSize;                            // of the picture written
    QString detail;                               // the viewer's own account of a failure
    // A picture written with parts missing: the meshes left out because their texture cannot be
    // read, and those painted opaque because their transparency map (map_d) cannot be read; each
    // entry names the mesh and the file.
    QStringList leftOut;
    QStringList opaque;
    bool partial() const { return ok && (!leftOut.isEmpty() || !opaque.isEmpty()); }
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
// For a partial picture: what was left out or painted opaque, and why; empty otherwise.
QString backupPartialText(const BackupResult& result, const QString& path);

}  // namespace orvCore
