// The project's folder tree of photographs. Images of the open project are sorted into
// user-made folders; the tree tells the thumbnail viewer which images belong to the selected
// folder and keeps its state in the project. Made by the thumbnail viewer (its own tree) and by
// the viewer manager's createImageTree (owned by the caller). Constructed without parent; it
// gets one when a layout or dock adopts it.
#pragma once

#include <QList>
#include <QTreeWidget>

#include "IOrvActionItem.h"
#include "OrvUIGlobal.h"
#include "ZimBase64t.h"

namespace orvUI {

// The images of the selected folder, each list in the order of the image store's ids.
struct ImageLists {
    QList<int> all;       // every image of the selection
    QList<int> mapped;    // those the model manager reports as mapped
    QList<int> unmapped;  // the rest
};

class ORVUI_EXPORT IOrvImageTree : public QTreeWidget {
public:
    IOrvImageTree();
    ~IOrvImageTree() override;

    // Writes the folders and the image-to-folder table into the project.
    virtual int saveTree() = 0;
    // Rebuilds the tree from the project, or the default "Root"/"Default" tree when the project
    // holds none; empty without a project.
    virtual int loadTree() = 0;
    // Owned by the tree; valid until the next updateImageLists.
    virtual const ImageLists* getImageLists() = 0;
    // Recomputes the lists for the selection and hands them to the thumbnail viewer.
    virtual int updateImageLists() = 0;
    // Moves the images (ids) into the folder; false (with a warning) for an unknown folder id.
    virtual bool moveImagesToFolder(ref_ptr<LongArray> images, int folderId) = 0;
    // -1 when the item is no folder of this tree.
    virtual int getFolderId(QTreeWidgetItem* item) = 0;
    // Folder of the first selected item; -1 when nothing is selected.
    virtual int getSelectedFolderId() = 0;
    // Selects the image's folder and expands it with its ancestors.
    virtual int selectImageFolder(int imageId) = 0;
    // Whether a folder's lists include the images of its sub-folders.
    virtual bool isShowImagesInChild() = 0;
    virtual int setShowImagesInChild(bool show) = 0;
    // Forgets the image's folder entry.
    virtual int removeImage(int imageId) = 0;
    // Appends the group's commands to the context menu.
    virtual int setPluginItems(ref_ptr<IOrvCommonItem> group) = 0;

private:
    Q_DISABLE_COPY(IOrvImageTree)
};

}  // namespace orvUI
