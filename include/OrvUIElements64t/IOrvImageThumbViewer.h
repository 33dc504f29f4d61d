// The thumbnail viewer: a scrolling grid of tiles for the images of the folder selected in its
// image tree, with per-image states, selection, drag and drop onto folders and tiles, and the
// mapped and unmapped counts. Created by the main frame and owned by its Qt parent; it owns the
// image tree shown above the tiles.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include "IOrvActionItem.h"
#include "OrvUIGlobal.h"
#include "ZimBase64t.h"

namespace orvUI {

class IOrvImageTree;
struct ImageLists;

// Tile states for setTileState.
enum ThumbTileOp {
    ThumbSelectOn = 0,
    ThumbSelectOff = 1,
    ThumbMarkOn = 2,
    ThumbMarkOff = 3,
    ThumbCurrent = 4,  // scrolled to, selected, highlighted, its mesh made current
    ThumbHighlightOff = 5,
    ThumbTextureOn = 6,
    ThumbTextureOff = 7,
    ThumbSleep = 8,  // asleep, texture hidden
    ThumbWake = 9,   // awake, texture shown
    ThumbCtrlPointsOn = 10,
    ThumbCtrlPointsOff = 11,
};

// Batch operations take arrays of image indices and an optional progress object; a null
// array gives -1 and a full progress step.
class ORVUI_EXPORT IOrvImageThumbViewer {
public:
    // Option bits for new tiles: 0x1 control-point icon, 0x10 texture icon, 0x100 sleep icon.
    virtual int setTileOptions(int options) = 0;
    virtual int getTileOptions() = 0;
    // Adds the tile of each image whose photo has the file name of the path.
    virtual int loadThumbnailsByPath(ref_ptr<StringArray> paths, IZimProgress* progress) = 0;
    virtual int loadThumbnails(ref_ptr<LongArray> ids, IZimProgress* progress) = 0;
    // The index of the image with that photo file name; -1 when none (nothing added).
    virtual int addImageByName(QString fileName) = 0;
    // 0; -1 (nothing added) without a project or the image's reduced picture.
    virtual int addImage(int id) = 0;
    virtual int removeThumbnail(int id) = 0;
    virtual int removeThumbnails(ref_ptr<LongArray> ids, IZimProgress* progress) = 0;
    // Drops every tile and clears the image tree.
    virtual int clearThumbnails() = 0;
    // Reloads the tile's picture and states; -1 without project, tile or picture.
    virtual int refreshThumbnail(int id) = 0;
    virtual int refreshThumbnails(ref_ptr<LongArray> ids, IZimProgress* progress) = 0;
    virtual int deselectAllThumbnails() = 0;
    virtual int clearHighlight() = 0;
    // Rebuilds the grid: the leading group first, then the other tiles by index.
    virtual int layoutThumbnails() = 0;
    // mode 1: the selected tiles by index; 2: every loaded index in load order; 0: the loaded
    // indices the project has an entry for.
    virtual int getSelectedImages(ref_ptr<LongArray>& out, int mode) = 0;
    // Every tile back to its start states (all off, asleep on).
    virtual int resetTileStates() = 0;
    // op: ThumbTileOp. -1 for an unknown id.
    virtual int setTileState(int id, int op) = 0;
    // button 0 left (keyFlag ZimKeyCtrl or ZimKeyShift or 0), 2 right.
    virtual int onTileMousePress(int id, int button, int keyFlag) = 0;
    // The mapped meshes' images shown first; with mappedOnly only those in the mapped list.
    virtual int buildLeadingGroup(bool mappedOnly) = 0;
    // Replaces the context menu by one built from the group.
    virtual int setPluginItems(ref_ptr<IOrvCommonItem> group) = 0;
    virtual int setKeyHandler(int key, OrvKeyCallback handler) = 0;
    // Stored for the host; not read by the viewer.
    virtual int setAuxKeyHandler(int key, long long value) = 0;
    virtual int setOwnerValue(long long value) = 0;
    virtual IOrvImageTree* getImageTree() = 0;
    // The lists stay owned by the tree; shows the counts and rebuilds the tiles.
    virtual int setImageLists(const ImageLists* lists) = 0;
    // Within the leading group, where 0 previous, 1 next, 2 first, 3 last; -1 when the id is
    // not in the group or already at that end.
    virtual int neighbourImage(int id, int where) = 0;
    // Where the running tile drag ended: kind 1 a folder (id = folder id), 2 a tile (id = image).
    virtual int setDropTarget(int kind, int id) = 0;
    // Scrolls while a drag nears the top or bottom edge; pos is within the tile.
    virtual int autoScrollAt(int id, const QPoint& pos) = 0;
    virtual int scrollToImage(int id) = 0;

    // ---- appended after the operations above ----
    // Photos (absolute paths) that could not be read since the last clearThumbnails, so they
    // have no tile.
    virtual QStringList unreadableFiles() = 0;

protected:
    IOrvImageThumbViewer();
    IOrvImageThumbViewer(const IOrvImageThumbViewer& other);
    IOrvImageThumbViewer& operator=(const IOrvImageThumbViewer& other);
    // Not virtual: a thumbnail viewer is deleted through its widget, never through this
    // interface.
    ~IOrvImageThumbViewer();
};

}  // namespace orvUI
