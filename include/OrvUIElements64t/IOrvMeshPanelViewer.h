// The mesh panel: named lists of the project's meshes stacked in a splitter, each row with the
// mesh's index and name and buttons that show or hide its texture and put it to sleep or wake
// it. Toggles go to the model manager and are mirrored on the thumbnail tiles. Created by the
// main frame and owned by its Qt parent.
#pragma once

#include <QString>

#include "OrvUIGlobal.h"
#include "ZimBase64t.h"
#include "ZimGeometry64t.h"

// One list of the panel (a tree widget with one row per mesh).
class CMeshTabWD;

namespace orvUI {

// Row option bits: 0x1 name field, 0x10 visibility button, 0x100 sleep button. Lists named
// "Texture Mesh" and "Bare Mesh" are refilled with the mapped and the unmapped meshes.
class ORVUI_EXPORT IOrvMeshPanelViewer {
public:
    virtual ~IOrvMeshPanelViewer();

    // A new list owned by the panel; null when a list of that name exists.
    virtual CMeshTabWD* addMeshList(QString name, int options) = 0;
    // Re-reads the sleep and visibility state of every row of the list.
    virtual int refreshMeshList(QString name) = 0;
    // Forgets every list.
    virtual int clearMeshLists() = 0;
    // Each acts on every list of that name; -1 when nothing changed (no mesh, a row already
    // there when adding, no row when removing or setting a state).
    virtual int addMeshRow(ref_ptr<IZimMesh> mesh, QString listName) = 0;
    virtual int removeMeshRow(ref_ptr<IZimMesh> mesh, QString listName) = 0;
    // op 0 texture shown, 1 hidden, 2 asleep (texture hidden), 3 awake (texture shown).
    virtual int setMeshRowState(ref_ptr<IZimMesh> mesh, int op, QString listName) = 0;
    // Empties every list; the lists stay.
    virtual int clearMeshRows() = 0;
    // Refreshes every list and stacks them with stretch by row count.
    virtual int layoutMeshLists() = 0;
    // Refills the list from the project's meshes; nothing for an unknown name.
    virtual int rebuildMeshList(QString name) = 0;

protected:
    IOrvMeshPanelViewer();
    IOrvMeshPanelViewer(const IOrvMeshPanelViewer& other);
    IOrvMeshPanelViewer& operator=(const IOrvMeshPanelViewer& other);
};

}  // namespace orvUI
