// orvhost --paint and --apply-backup: a mapped photo painted onto the textures, or an edited backup
// picture applied back onto them, from a script. Each run prints one line of what changed, its
// warnings, and with --save writes the changed textures into the project's data folder and saves
// the project. The window part of --paint (a 3D view of the photo's shape) is the host window's.
#pragma once

#include <OrvKernel64t.h>

#include <QSize>
#include <QString>
#include <QStringList>

namespace orvUI {
class IOrvViewerMan;
class IOrv3DViewer;
}  // namespace orvUI

namespace orvHost {

// Exit codes of --paint and --apply-backup (2, a bad command line, is the host's own).
enum PaintExit {
    PaintChanged = 0,     // painted or applied (and saved with --save)
    PaintMissing = 3,     // the project, the photo, the mask or a picture is missing or unreadable
    PaintRefused = 4,     // nothing was changed: the photo is not mapped or sees no texture, the
                          // 3D view could not be drawn, the picture's records are missing or
                          // belong to another picture or project
    PaintSaveFailed = 5,  // --save could not write the textures or the project
};

struct HostRunResult {
    int exitCode = PaintChanged;
    QStringList out;  // the line of what changed, then the save
    QStringList err;  // what went wrong, and warnings
};

// With the project open: whether photo `index` can be painted (it exists, its file is there, it is
// mapped with a camera) and the mask (when not empty) can be read. On success exitCode is 0 and
// *viewSize the 3D view's size for it.
HostRunResult checkPaintRequest(IZimMM* mm, int index, const QString& mask, QSize* viewSize);

struct PaintRun {
    int index = -1;
    bool colourMatch = true;
    QString mask;
    bool save = false;
};

// Paints photo run.index through viewer (already at the size checkPaintRequest gave, the project
// open) and, with run.save and something changed, saves the textures and the project.
HostRunResult paintAndSave(IZimMM* mm, orvUI::IOrvViewerMan* vm, orvUI::IOrv3DViewer* viewer, const PaintRun& run);

struct ApplyRun {
    QString project;
    QString edited;    // the edited picture
    QString original;  // the backup picture as it was saved, its records beside it
    bool save = false;
};

// Opens the project, applies the edited picture onto its textures without any window and, with
// run.save and something changed, saves. Leaves no project open.
HostRunResult runApplyBackup(const ApplyRun& run);

}  // namespace orvHost
