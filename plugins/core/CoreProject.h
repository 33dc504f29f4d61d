// Project work of the core commands that needs the kernel but no window: adding photo and mesh
// pairs, counting what a project holds, the texts of the status panes and the window title,
// creating a project file in place of an old one, and waking or putting all meshes to sleep.
#pragma once

#include <OrvKernel64t.h>

#include <QString>
#include <QStringList>
#include <QVector>

#include "CorePairing.h"

namespace orvCore {

// A batch over n items on a progress object, as long work reports it: the text, a first step of
// 0.01, then a sub-range of 0.99 with one step per item, closed again when the batch ends.
// A null progress object is allowed.
class ProgressBatch {
public:
    ProgressBatch(IZimProgress* progress, const QString& text, int items);
    ~ProgressBatch();
    ProgressBatch(const ProgressBatch&) = delete;
    ProgressBatch& operator=(const ProgressBatch&) = delete;
    void step();
    bool canceled() const;

private:
    IZimProgress* m_progress;
    double m_step;
};

struct AddFailure {
    QString photo;
    QString mesh;
    QString reason;
};

struct AddOutcome {
    QVector<int> added;          // new image indices, in the order of the pairs
    QVector<AddFailure> failed;  // pairs the kernel refused, with its reason
    int skipped = 0;             // pairs left out because the user cancelled
};

// Adds each pair with addImage (labels[i], when given, labels pair i). Stops early when the
// progress dialog is cancelled; what was added stays.
AddOutcome addPairs(IZimMM* mm, const QVector<PhotoMeshPair>& pairs, IZimProgress* progress,
                    const QStringList& labels = {});

struct ProjectCounts {
    bool open = false;
    QString path;  // absolute project file
    QString name;  // its base name
    int images = 0;
    int awake = 0;  // meshes with their geometry in memory
    int asleep = 0;
    int mapped = 0;
    long long triangles = 0;  // of the awake meshes
    QStringList missing;      // photo and mesh files not found
};

ProjectCounts projectCounts(IZimMM* mm);

// Status-bar panes of the host: project name, image count, mesh state.
enum StatusPane { PaneProject = 0, PaneImages = 1, PaneMeshes = 2, PaneCursor = 3 };
QVector<int> statusPanes();
// The image coordinates under the cursor of the image viewer (pixels, origin bottom-left).
QString cursorText(double x, double y);
QString statusText(int pane, const ProjectCounts& counts);
// "OrvUIElements — <project name>[*]" (the window puts its modified mark at "[*]"), or the
// product name alone without a project.
QString frameTitle(const ProjectCounts& counts);
// The text of the project summary.
QString summaryText(const ProjectCounts& counts);

// One line per file (at most `limit`, then a line saying how many more), native separators.
QString fileList(const QStringList& files, int limit = 15);

// path with ".orvproj" appended when it has another suffix or none.
QString withProjectSuffix(const QString& path);

// createProject at path. An existing file there (the user agreed to replace it) is moved aside
// first and put back when the kernel cannot create the new project, so nothing is lost on
// failure. 0, or -1 with *error set.
int createProjectReplacing(IZimMM* mm, const QString& path, QString* error);

// Wakes every sleeping mesh / puts every awake mesh to sleep. Returns the indices that changed;
// meshes the kernel refused are listed (file and reason) in *failed.
QVector<int> wakeAllMeshes(IZimMM* mm, IZimProgress* progress, QStringList* failed);
QVector<int> sleepAllMeshes(IZimMM* mm, IZimProgress* progress, QStringList* failed);

// Saves the open project: the textures edited since the last save are written into the project's
// data folder first and the project refers to them; when one cannot be written nothing is saved.
// 0, or -1 with *error set (translated).
int saveProjectWithTextures(IZimMM* mm, QString* error);
// The same under a new name. The project is saved there first, so that its data folder is the one
// beside the new file; then the textures that were edited are written into that folder and the
// project is saved again. When they cannot be written the project stays modified, so the edits
// are not lost by closing. The kept paints are copied into the new data folder when it does not
// exist yet; *warning (when given) says when they could not all be copied.
int saveProjectAsWithTextures(IZimMM* mm, const QString& path, QString* error, QString* warning = nullptr);

// What the user is told after adding files: the files without a partner (how the partner is
// looked for depends on where the files came from), the pairs the kernel refused with its
// reasons, and the pairs left out after a cancel. Empty when everything was added.
enum class AddSource { Photos, Meshes, Dropped };
QString addReport(AddSource source, const PairingResult& pairing, const AddOutcome& outcome);

}  // namespace orvCore
