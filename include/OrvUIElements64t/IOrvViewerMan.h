// The viewer manager: the one object through which the host, its plug-ins and every view reach
// each other. It holds the kernel objects, the undo and redo stacks, a registry of objects by id,
// the current interactive tool and a point-dump file, and reaches the views through the main
// frame by fixed ids (3D viewer 0, image viewer 1, thumbnail viewer 255, mesh panel 256, docks
// 0 to 3), looking them up on every call. A missing link (no main frame, no view, a hidden view)
// makes a call fail quietly: -1 for status results, false, null, or nothing done.
//
// Obtained from orvUI::getVM() only; the operations keep their order (hosts and plug-ins call
// them through the virtual table).
#pragma once

#include <OrvKernel64t.h>
#include <ZimBase64t.h>
#include <ZimDisplay64t.h>

#include <QString>

#include "OrvUIGlobal.h"

namespace orvUI {

class IOrvMainFrame;
class IOrv3DViewer;
class IOrvImageViewer;
class IOrvImageThumbViewer;
class IOrvMeshPanelViewer;
class IOrvDockWidget;
class IOrvImageTree;

// Viewer types of the type-taking operations.
enum OrvViewerType { OrvViewer3D = 0, OrvViewerImage = 1 };

// Status results beyond 0 / -1.
enum OrvStatus {
    OrvNothingToDo = 1,      // empty undo stack, unknown id
    OrvEmptyReference = -2,  // addObject with an empty reference
    OrvNoProject = -8170,    // setCurTool without an open project
};

class ORVUI_EXPORT IOrvViewerMan : public ZimReferenced {
public:
    virtual ref_ptr<IZimMM> getModelMan() = 0;
    virtual IZimTqState* getTqState() = 0;
    virtual ref_ptr<IZimSymbol> getPubSymbol() = 0;
    // Reserved; always empty.
    virtual ref_ptr<ZimReferenced> getAuxRef1() = 0;
    virtual ref_ptr<ZimReferenced> getAuxRef2() = 0;
    virtual ref_ptr<IZimTqSetting> getTqSetting() = 0;
    virtual QString getAppDir() = 0;

    // 0 when the frame exists afterwards (made now or before), -1 when it could not be made.
    virtual int createMainFrame() = 0;
    // Creates the frame on first use; null only when that failed.
    virtual IOrvMainFrame* getMainFrame() = 0;
    // Limits the frame to between a quarter and all of the primary work area, then maximises it.
    virtual void showMainFrame() = 0;

    // Redraws of one view: -1 when it is missing (or, for the 3D and image viewers, hidden).
    virtual int update3DViewer() = 0;
    virtual int updateImageViewer() = 0;
    virtual int updateThumbViewer() = 0;
    virtual int updateMeshPanel() = 0;
    virtual int updateViewer(int type) = 0;
    virtual int updateAllViewers() = 0;
    // Fits the visible 3D viewer's camera to the box and redraws it.
    virtual int zoomToBox(Enve3d box) = 0;
    virtual bool hasViewerMan() = 0;

    virtual bool getBoolOption() = 0;
    virtual void setBoolOption(bool value) = 0;
    virtual QString getReservedText() = 0;
    virtual QString getTextA() = 0;
    virtual void setTextA(const QString& text) = 0;

    // Undo and redo: at most 20 undo steps are kept; a new step empties the redo stack.
    virtual int clearUndo() = 0;
    virtual int pushUndo(ref_ptr<IZimUndoStep> step) = 0;
    // 1 when there is nothing to undo or redo.
    virtual int undo() = 0;
    virtual int redo() = 0;
    virtual bool canUndo() = 0;
    virtual bool canRedo() = 0;

    // Registry of objects by id: the new id is one above the largest registered (0 at first);
    // -1 when the object is registered already, -2 for an empty reference.
    virtual int addObject(ref_ptr<ZimReferenced> object) = 0;
    // 0 when removed, 1 when there was no such entry.
    virtual int removeObjectById(int id) = 0;
    virtual int removeObject(ref_ptr<ZimReferenced> object) = 0;
    virtual unsigned getObjectCount() = 0;
    // The ids in ascending order.
    virtual ref_ptr<LongArray> getObjectIds() = 0;
    virtual ref_ptr<ZimReferenced> getObject(int id) = 0;

    virtual IOrv3DViewer* get3DViewer() = 0;
    virtual IOrvImageViewer* getImageViewer() = 0;
    virtual IOrvMeshPanelViewer* getMeshPanel() = 0;
    virtual IOrvImageThumbViewer* getThumbViewer() = 0;
    virtual void showImageViewer(bool show) = 0;
    virtual bool isImageViewerVisible() = 0;
    virtual void toggleImageViewer() = 0;
    virtual bool isShowMarks(int type) = 0;
    virtual void setShowMarks(int type, bool show) = 0;
    // True for the 3D viewer (0) and the image viewer (1).
    virtual bool isViewerType(unsigned type) = 0;
    // The 3D viewer's display; the image viewer has none.
    virtual ZimReferenced* getViewerDisplay(int type) = 0;
    // The viewer's cursor setter's result as a pointer value (null for 0 or a missing viewer).
    virtual void* setViewerCursor(int type, unsigned shape) = 0;
    virtual int setCursorShapeAll(unsigned shape) = 0;
    virtual int reservedZero1() = 0;
    virtual void setShowImageOverlay(bool show) = 0;
    virtual bool isShowImageOverlay() = 0;

    // The current interactive tool (may be null).
    virtual IZimTool* getCurTool() = 0;
    // -8170 without an open project; 99999 when the current tool refuses to end (it stays
    // current); an empty tool ends the current one.
    virtual int setCurTool(ref_ptr<IZimTool> tool) = 0;
    virtual int endCurTool() = 0;
    // 1 when a tool was notified, 0 when there is none.
    virtual int notifyCurTool() = 0;
    virtual int reservedZero2() = 0;

    // Point dumps: 24-byte records (x, y, z as little-endian doubles) written to the file opened
    // with openDump. Every dump fails (-1) while no file is open.
    virtual int getDumpHandle() = 0;
    // Closes the dump file; returns 1.
    virtual int closeDump() = 0;
    virtual bool isDumpOpen() = 0;
    virtual int dumpPoint(XPnt3d point) = 0;
    // The last point's result: 0 for an empty array, -1 for an empty reference.
    virtual int dumpPoints(ref_ptr<Pnt3dArray> points) = 0;
    virtual int dumpLineSeg(CZimLineSeg segment) = 0;
    virtual int dumpLineSegs(ref_ptr<LineSegArray> segments) = 0;

    virtual IOrvDockWidget* getDockWidget2() = 0;
    virtual IOrvDockWidget* getDockWidget3() = 0;
    virtual IOrvDockWidget* getDockWidget0() = 0;
    virtual IOrvDockWidget* getDockWidget1() = 0;

    // Flags stored by the 3D viewer; false (or nothing done) without one. isCurMeshOnly restricts
    // the selection-mark count to the current mesh.
    virtual bool get3DUserFlag3() = 0;
    virtual bool isCurMeshOnly() = 0;
    virtual bool get3DUserFlag2() = 0;
    virtual void set3DUserFlag3(bool value) = 0;
    virtual void setCurMeshOnly(bool value) = 0;
    virtual void set3DUserFlag2(bool value) = 0;
    virtual bool get3DUserFlag5() = 0;
    virtual void set3DUserFlag5(bool value) = 0;

    // Resets every model item of the kernel; -1 when there are none.
    virtual int resetModelItems() = 0;
    // Brings every view back to its empty state, ends the tool, empties registry and stacks.
    virtual int resetViews() = 0;
    // The object of the first loaded plug-in.
    virtual ref_ptr<ZimReferenced> getFirstPluginObject() = 0;

    virtual void setIntValue(int value) = 0;
    virtual int getIntValue() = 0;
    virtual QString getTextB() = 0;
    virtual void setTextB(QString text) = 0;
    // A new image tree set up like the thumbnail viewer's; the caller owns it. Null without a
    // thumbnail viewer.
    virtual IOrvImageTree* createImageTree() = 0;
    // Stores a, b, c, d in this order; returns d.
    virtual int setRectValues(int a, int b, int c, int d) = 0;
    virtual const int* getRectValues() = 0;

    // Opens (creating or truncating, or appending to) the point-dump file, closing an earlier one.
    // 0 on success, -1 when the file cannot be opened (no dump file is open then).
    virtual int openDump(const QString& path, bool append) = 0;

protected:
    // A copy copies only the reference-counting part, never the count itself.
    IOrvViewerMan() noexcept;
    IOrvViewerMan(const IOrvViewerMan& other) noexcept;
    IOrvViewerMan& operator=(const IOrvViewerMan& other) noexcept;
    ~IOrvViewerMan() override;
};

}  // namespace orvUI
