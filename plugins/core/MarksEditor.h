// The marks of the photograph being worked on: the model manager's current image, its marks of
// every kind, their enabled flags and one selected mark.
//
// Every change made through the editor is one step on the viewer manager's undo stack: undoing it
// puts back exactly the mark arrays (and enabled flag) the photo had before, redoing it the ones
// after, on whichever photo the change was made, and both redraw the views. Each change also
// tells the model manager the project may have changed (setModified(true)).
//
// A drag (beginDrag, any number of dragPhotoPosition / dragPoint, endDrag) changes the marks as it
// goes but is one undo step, pushed when it ends.
//
// New marks are point pairs (ZimMarkPoint) with the next free id of the photo (its largest id of
// any kind + 1, 0 for the first); an existing mark keeps its kind and position in its array.
#pragma once

#include <OrvKernel64t.h>
#include <ZimBase64t.h>

#include <QObject>
#include <QVector>

#include "PhotoMapping.h"

namespace orvCore {

class MarksEditor : public QObject {
    Q_OBJECT
public:
    // One per process, parented to qApp (made on the first call; needs a QCoreApplication).
    static MarksEditor* instance();

    // The photo edited (the current image), -1 when none.
    int imageIndex() const;
    // Every mark of imageIndex(), all kinds, in kind then array order, with its enabled flag.
    QVector<orvmap::PhotoMark> marks() const;
    // The selected mark's id, -1 when none. The selection is cleared when the photo changes or
    // the selected mark goes away (deleted, undone).
    int selectedId() const;
    // Selects a mark of the photo; -1 (or an id the photo does not have) clears the selection.
    // Emits changed() when the selection changes.
    void select(int id);
    // One undo step each; false (nothing changed) for an unknown id, no photo, or no change.
    bool removeMark(int id);
    bool setEnabled(int id, bool enabled);

    // ---- placing and moving ----

    // True when the photo has a mark with this id.
    bool hasMark(int id) const;
    // A new point pair with a photo position (uv in 0..1, v up) and/or a 3D point (pass an
    // invalid one for "not yet"); at least one must be usable. Selects it. Its id, or -1.
    int addMark(const XPnt2d& uv, const XPnt3d& point);
    // Sets the photo position / 3D point of an existing mark; one undo step.
    bool setPhotoPosition(int id, const XPnt2d& uv);
    bool setPoint(int id, const XPnt3d& point);

    // Starts moving mark `id` (selecting it); the moves change the marks at once (views redraw)
    // and endDrag pushes one undo step holding the whole drag, or none when nothing moved.
    bool beginDrag(int id);
    // Starts a drag of a new mark (as addMark, selected): endDrag pushes its creation together
    // with its moves as one step, cancelDrag takes it away again. Its id, or -1.
    int beginNewMark(const XPnt2d& uv, const XPnt3d& point);
    bool isDragging() const;
    int dragId() const;
    bool dragPhotoPosition(const XPnt2d& uv);
    bool dragPoint(const XPnt3d& point);
    // True when the drag changed something (and a step was pushed).
    bool endDrag();
    // Ends a drag, putting the marks back as they were before it; no undo step.
    void cancelDrag();

    // Looks at the current image again: a different photo clears the selection (and ends a drag,
    // keeping what it moved as one step); emits changed() when the photo or its marks changed
    // since the editor last looked. Views and docks call it when they are told of a new image.
    void refresh();

signals:
    // Marks, enabled flags, selection or the edited photo changed.
    void changed();

private:
    explicit MarksEditor(QObject* parent);
    struct Private;
    Private* d;
    ~MarksEditor() override;
};

}  // namespace orvCore
