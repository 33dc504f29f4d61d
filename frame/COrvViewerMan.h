// The viewer manager behind getVM().
#pragma once

#include <QPointer>
#include <QString>
#include <map>
#include <vector>

#include "IOrvViewerMan.h"
#include "PointDump.h"

class QObject;

namespace orvUI {

class COrvViewerMan : public IOrvViewerMan {
public:
    static constexpr int MaxUndoSteps = 20;

    // View ids in the main frame.
    static constexpr int Id3DViewer = 0;
    static constexpr int IdImageViewer = 1;
    static constexpr int IdThumbViewer = 255;
    static constexpr int IdMeshPanel = 256;

    COrvViewerMan();
    ~COrvViewerMan() override;

    ref_ptr<IZimMM> getModelMan() override;
    IZimTqState* getTqState() override;
    ref_ptr<IZimSymbol> getPubSymbol() override;
    ref_ptr<ZimReferenced> getAuxRef1() override;
    ref_ptr<ZimReferenced> getAuxRef2() override;
    ref_ptr<IZimTqSetting> getTqSetting() override;
    QString getAppDir() override;
    int createMainFrame() override;
    IOrvMainFrame* getMainFrame() override;
    void showMainFrame() override;
    int update3DViewer() override;
    int updateImageViewer() override;
    int updateThumbViewer() override;
    int updateMeshPanel() override;
    int updateViewer(int type) override;
    int updateAllViewers() override;
    int zoomToBox(Enve3d box) override;
    bool hasViewerMan() override;
    bool getBoolOption() override;
    void setBoolOption(bool value) override;
    QString getReservedText() override;
    QString getTextA() override;
    void setTextA(const QString& text) override;
    int clearUndo() override;
    int pushUndo(ref_ptr<IZimUndoStep> step) override;
    int undo() override;
    int redo() override;
    bool canUndo() override;
    bool canRedo() override;
    int addObject(ref_ptr<ZimReferenced> object) override;
    int removeObjectById(int id) override;
    int removeObject(ref_ptr<ZimReferenced> object) override;
    unsigned getObjectCount() override;
    ref_ptr<LongArray> getObjectIds() override;
    ref_ptr<ZimReferenced> getObject(int id) override;
    IOrv3DViewer* get3DViewer() override;
    IOrvImageViewer* getImageViewer() override;
    IOrvMeshPanelViewer* getMeshPanel() override;
    IOrvImageThumbViewer* getThumbViewer() override;
    void showImageViewer(bool show) override;
    bool isImageViewerVisible() override;
    void toggleImageViewer() override;
    bool isShowMarks(int type) override;
    void setShowMarks(int type, bool show) override;
    bool isViewerType(unsigned type) override;
    ZimReferenced* getViewerDisplay(int type) override;
    void* setViewerCursor(int type, unsigned shape) override;
    int setCursorShapeAll(unsigned shape) override;
    int reservedZero1() override;
    void setShowImageOverlay(bool show) override;
    bool isShowImageOverlay() override;
    IZimTool* getCurTool() override;
    int setCurTool(ref_ptr<IZimTool> tool) override;
    int endCurTool() override;
    int notifyCurTool() override;
    int reservedZero2() override;
    int getDumpHandle() override;
    int closeDump() override;
    bool isDumpOpen() override;
    int dumpPoint(XPnt3d point) override;
    int dumpPoints(ref_ptr<Pnt3dArray> points) override;
    int dumpLineSeg(CZimLineSeg segment) override;
    int dumpLineSegs(ref_ptr<LineSegArray> segments) override;
    IOrvDockWidget* getDockWidget2() override;
    IOrvDockWidget* getDockWidget3() override;
    IOrvDockWidget* getDockWidget0() override;
    IOrvDockWidget* getDockWidget1() override;
    bool get3DUserFlag3() override;
    bool isCurMeshOnly() override;
    bool get3DUserFlag2() override;
    void set3DUserFlag3(bool value) override;
    void setCurMeshOnly(bool value) override;
    void set3DUserFlag2(bool value) override;
    bool get3DUserFlag5() override;
    void set3DUserFlag5(bool value) override;
    int resetModelItems() override;
    int resetViews() override;
    ref_ptr<ZimReferenced> getFirstPluginObject() override;
    void setIntValue(int value) override;
    int getIntValue() override;
    QString getTextB() override;
    void setTextB(QString text) override;
    IOrvImageTree* createImageTree() override;
    int setRectValues(int a, int b, int c, int d) override;
    const int* getRectValues() override;
    int openDump(const QString& path, bool append) override;

    virtual Enve3d getEmptyEnvelope();

private:
    // The main frame while it exists; null before it is made and after Qt has deleted it.
    IOrvMainFrame* frame() const;
    IOrvDockWidget* dockWidget(int id);
    bool visible3DViewer() const;

    // Declared in the order they are made; released in the reverse order.
    ref_ptr<IZimMM> m_modelMan;
    ref_ptr<IZimTqState> m_tqState;
    ref_ptr<IZimTqSetting> m_tqSetting;
    QString m_appDir;
    bool m_boolOption = true;
    IOrvMainFrame* m_mainFrame = nullptr;
    QPointer<QObject> m_mainFrameObject;  // tells when Qt has deleted the frame
    QString m_reservedText;
    std::map<int, ref_ptr<ZimReferenced>> m_objects;
    std::vector<ref_ptr<IZimUndoStep>> m_undoStack;
    std::vector<ref_ptr<IZimUndoStep>> m_redoStack;
    // Counted up by every push and every clear, so that undo and redo see when the step they
    // run rewrote the history itself.
    unsigned m_pushCount = 0;
    unsigned m_clearCount = 0;
    PointDumpFile m_dump;
    ref_ptr<IZimTool> m_curTool;
    int m_intValue = 0;
    QString m_textB;
    int m_rectValues[4] = {0, 0, 0, 0};
    QString m_textA;
};

}  // namespace orvUI
