// Mapping photographs from the menus: each run is one step on the viewer manager's undo stack
// that puts back the cameras and mapped states the photos had before (and redoes the run), and
// one text that says what was done. No window is needed: the views are refreshed through the
// viewer manager when there is one.
#pragma once

#include <OrvKernel64t.h>

#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

#include "PhotoMapping.h"

namespace orvUI {
class IOrvViewerMan;
}

namespace orvCore {

// What mapping may change on one photo: its camera (or none) and its mapped state.
struct PhotoMapState {
    int index = -1;
    bool hasCamera = false;
    ZimPhotoCamera camera;
    bool mapped = false;
};
PhotoMapState photoMapState(IZimMM* mm, int index);
// Puts the photo's camera and mapped state back as recorded. False when the kernel refused.
bool restorePhotoMapState(IZimMM* mm, const PhotoMapState& state);

// Called with the photos a mapping run, its undo or its redo changed (views, lists, panes).
using MappingRefresh = std::function<void(const QVector<int>& photos)>;

// Maps one photo. When it is mapped, pushes one undo step on vm (when given) restoring the
// photo's camera and mapped state from before; a refusal changes nothing and pushes nothing.
orvmap::MapOutcome mapPhotoUndoable(IZimMM* mm, orvUI::IOrvViewerMan* vm, int index, const MappingRefresh& refresh);

// The enabled marks of a photo that have both a photo position and a 3D point.
int completeEnabledMarks(IZimMM* mm, int index);

// One photo of a "Map all photos" run.
struct MapAllEntry {
    int index = -1;
    QString name;  // the photo's file name
    orvmap::MapOutcome outcome;
};
struct MapAllOutcome {
    QVector<MapAllEntry> tried;  // photos with enough complete marks, in index order
    int skipped = 0;             // photos with too few complete marks, left alone
    int mappedCount() const;
};
// Maps every photo with at least the marks a camera of known focal length needs; the photos
// mapped are one undo step together (none when no photo was mapped).
MapAllOutcome mapAllPhotosUndoable(IZimMM* mm, orvUI::IOrvViewerMan* vm, const MappingRefresh& refresh);
// The text of the box that ends a "Map all photos" run.
QString mapAllReport(const MapAllOutcome& outcome);

}  // namespace orvCore
