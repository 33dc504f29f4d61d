// Painting a mapped photograph onto the textures of the meshes, applying an edited backup picture
// back onto them, restoring the textures a kept paint wrote over, and saving and exporting the
// working textures. Each change of textures is one step on the viewer manager's undo stack whose
// undo gives back the textures byte for byte. The bulk data (kept tiles, each paint's backup
// picture, records and camera, saved working textures) lives in the project's data folder
// "<project>.orvdata" beside the project file; the user's own photos, meshes and textures are
// never written.
//
// The commands need no window except for the backup a paint takes first, which draws in the 3D
// viewer it is given.
#pragma once

#include <OrvKernel64t.h>

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

namespace orvUI {
class IOrvViewerMan;
class IOrv3DViewer;
}  // namespace orvUI

namespace orvCore {

// Called with the meshes (image indices) whose textures a command, its undo or its redo changed.
using TextureRefresh = std::function<void(const QVector<int>& meshes)>;

struct PaintRequest {
    int photo = -1;           // image index of a mapped photo with a registered camera
    bool colourMatch = true;  // fit the photo's colours to the current textures first
    QString maskPath;         // greyscale picture over the photo (scaled to it); empty for none
};

// What a command did to the textures, or why it did nothing.
struct TextureOutcome {
    bool ok = false;
    QString error;          // translated; why nothing was changed
    QStringList warnings;   // translated; meshes left out and why, a colour match not fitted, ...
    QString name;           // the paint's name in the data folder (paints only)
    QString backupPicture;  // the paint's own backup picture (absolute path; paints only)
    int meshes = 0;         // meshes whose texture changed
    qint64 texels = 0;      // texels changed
    QString photoName;      // the painted photo's file name (paints only)
};

// Paints photo request.photo onto the working texture of every awake mesh with a texture that can
// be changed and that the photo sees. First takes the backup of the view through the photo's
// camera into the paint's folder (the viewer is put on the camera and drawn at its present size),
// then paints, keeps the tiles it writes over (before and after), adds the paint to the project's
// log of the last 20 paints and pushes one undo step on vm (when given). Nothing is changed when it
// fails. progress may be null.
TextureOutcome paintPhotoUndoable(IZimMM* mm, orvUI::IOrvViewerMan* vm, orvUI::IOrv3DViewer* viewer,
                                  const PaintRequest& request, IZimProgress* progress, const TextureRefresh& refresh);

// Maps the change between a backup picture as saved (original, with its records beside it) and the
// same picture edited (edited) back onto the textures: only the difference is applied. Refused
// with a message when the records are missing, damaged or belong to another picture or project.
// One undo step.
TextureOutcome applyEditedBackupUndoable(IZimMM* mm, orvUI::IOrvViewerMan* vm, const QString& editedPath,
                                         const QString& originalPath, const TextureRefresh& refresh);

// A paint kept in the project's data folder.
struct KeptPaint {
    QString name;
    QDateTime time;  // UTC
    int photo = -1;
    QString photoName;  // the photo's file name
    int textures = 0;   // textures it wrote
};
// The kept paints of the open project, newest last; *warning says what of a damaged log was left out.
QVector<KeptPaint> keptPaints(IZimMM* mm, QString* warning);

// Puts back the textures a kept paint wrote over, as they were before it (also after a restart,
// from the kept tiles). One undo step.
TextureOutcome restorePaintUndoable(IZimMM* mm, orvUI::IOrvViewerMan* vm, const QString& name,
                                    const TextureRefresh& refresh);

// Before the project is saved: writes the texture of every mesh edited since the last save into
// the data folder's "textures/" (atomically) and points the project at it (setWorkingTexture).
// False with *error when one cannot be written; the project is then not to be saved.
bool saveWorkingTextures(IZimMM* mm, QString* error);

// Writes the current texture of every mesh that has one into folder as PNG files named after the
// textures; refuses to write over any file the project is made of. *written lists the files.
bool exportTextures(IZimMM* mm, const QString& folder, QStringList* written, QString* error);

// One line for the status bar or the console: "Painted photo P onto M textures: N texels changed"
// and the like; the error of an outcome that is not ok.
QString paintDoneText(const TextureOutcome& outcome);
QString applyDoneText(const TextureOutcome& outcome);

}  // namespace orvCore
