#include "COrvViewerMan.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cstdint>
#include <new>

#include "IOrv3DViewer.h"
#include "IOrvDockWidget.h"
#include "IOrvImageThumbViewer.h"
#include "IOrvImageTree.h"
#include "IOrvImageViewer.h"
#include "IOrvMainFrame.h"
#include "IOrvMeshPanelViewer.h"
#include "OrvFrameLink.h"

namespace orvUI {

FrameMakers& frameMakers()
{
    static FrameMakers makers;
    return makers;
}

COrvViewerMan::COrvViewerMan()
    : m_modelMan(zim::getMM()), m_tqState(zim::newZimTqState()), m_tqSetting(zim::newZimTqSetting())
{
    if (QCoreApplication::instance()) m_appDir = QCoreApplication::applicationDirPath();
}

// The members go in reverse order of declaration: the tool first, then the dump file, the
// stacks, the registry and last the kernel objects. The main frame belongs to Qt.
COrvViewerMan::~COrvViewerMan() = default;

ref_ptr<IZimMM> COrvViewerMan::getModelMan() { return m_modelMan; }
IZimTqState* COrvViewerMan::getTqState() { return m_tqState.get(); }
ref_ptr<IZimSymbol> COrvViewerMan::getPubSymbol() { return zim::getPubSymbol(); }
ref_ptr<ZimReferenced> COrvViewerMan::getAuxRef1() { return {}; }
ref_ptr<ZimReferenced> COrvViewerMan::getAuxRef2() { return {}; }
ref_ptr<IZimTqSetting> COrvViewerMan::getTqSetting() { return m_tqSetting; }
QString COrvViewerMan::getAppDir() { return m_appDir; }

// ---- main frame ------------------------------------------------------------------------------

IOrvMainFrame* COrvViewerMan::frame() const { return m_mainFrameObject ? m_mainFrame : nullptr; }

int COrvViewerMan::createMainFrame()
{
    if (frame()) return 0;
    // A frame Qt has deleted is not replaced while the application shuts down.
    if (!QCoreApplication::instance() || QCoreApplication::closingDown()) return -1;
    IOrvMainFrame* (*make)() = frameMakers().mainFrame;
    if (!make) return -1;
    IOrvMainFrame* made = nullptr;
    try {
        made = make();
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (!made) return -1;
    m_mainFrame = made;
    m_mainFrameObject = dynamic_cast<QObject*>(made);
    m_mainFrame->initFrame();
    return 0;
}

IOrvMainFrame* COrvViewerMan::getMainFrame()
{
    if (!frame()) createMainFrame();
    return frame();
}

void COrvViewerMan::showMainFrame()
{
    auto* widget = dynamic_cast<QWidget*>(frame());
    if (!widget) return;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        widget->setMinimumSize(area.width() / 4, area.height() / 4);
        widget->setMaximumSize(area.width(), area.height());
    }
    widget->showMaximized();
}

IOrvDockWidget* COrvViewerMan::dockWidget(int id)
{
    IOrvMainFrame* f = frame();
    return f ? f->getDockWidget(id) : nullptr;
}

IOrv3DViewer* COrvViewerMan::get3DViewer()
{
    IOrvMainFrame* f = frame();
    return f ? f->get3DViewer(Id3DViewer) : nullptr;
}

IOrvImageViewer* COrvViewerMan::getImageViewer()
{
    IOrvMainFrame* f = frame();
    return f ? f->getImageViewer(IdImageViewer) : nullptr;
}

IOrvMeshPanelViewer* COrvViewerMan::getMeshPanel()
{
    IOrvMainFrame* f = frame();
    return f ? f->getMeshPanel(IdMeshPanel) : nullptr;
}

IOrvImageThumbViewer* COrvViewerMan::getThumbViewer()
{
    IOrvMainFrame* f = frame();
    return f ? f->getThumbViewer(IdThumbViewer) : nullptr;
}

IOrvDockWidget* COrvViewerMan::getDockWidget2() { return dockWidget(2); }
IOrvDockWidget* COrvViewerMan::getDockWidget3() { return dockWidget(3); }
IOrvDockWidget* COrvViewerMan::getDockWidget0() { return dockWidget(0); }
IOrvDockWidget* COrvViewerMan::getDockWidget1() { return dockWidget(1); }

// ---- redraws ---------------------------------------------------------------------------------

bool COrvViewerMan::visible3DViewer() const
{
    IOrvMainFrame* f = frame();
    return f && f->get3DViewer(Id3DViewer) && f->is3DViewerVisible(Id3DViewer);
}

int COrvViewerMan::update3DViewer()
{
    if (!visible3DViewer()) return -1;
    return frame()->get3DViewer(Id3DViewer)->drawScene(false);
}

int COrvViewerMan::updateImageViewer()
{
    IOrvMainFrame* f = frame();
    IOrvImageViewer* viewer = f ? f->getImageViewer(IdImageViewer) : nullptr;
    if (!viewer || !f->isImageViewerVisible(IdImageViewer)) return -1;
    viewer->redraw();
    return 0;
}

int COrvViewerMan::updateThumbViewer()
{
    IOrvImageThumbViewer* viewer = getThumbViewer();
    return viewer ? viewer->layoutThumbnails() : -1;
}

int COrvViewerMan::updateMeshPanel()
{
    IOrvMeshPanelViewer* panel = getMeshPanel();
    if (!panel) return -1;
    panel->layoutMeshLists();
    return 0;
}

int COrvViewerMan::updateViewer(int type)
{
    if (type == OrvViewer3D) return update3DViewer();
    if (type == OrvViewerImage) return updateImageViewer();
    return -1;
}

int COrvViewerMan::updateAllViewers()
{
    IOrvMainFrame* f = frame();
    if (!f) return -1;
    f->updateAllViewers();
    return 0;
}

int COrvViewerMan::zoomToBox(Enve3d box)
{
    if (!visible3DViewer()) return -1;
    ref_ptr<IZimDisplay> display = get3DViewer()->getDisplay();
    if (!display) return -1;
    ref_ptr<IZimTrackBall> trackBall = display->getTrackBall();
    if (!trackBall) return -1;
    trackBall->fitToBox(box, 1);
    return update3DViewer();
}

// ---- free properties -------------------------------------------------------------------------

bool COrvViewerMan::hasViewerMan() { return true; }
bool COrvViewerMan::getBoolOption() { return m_boolOption; }
void COrvViewerMan::setBoolOption(bool value) { m_boolOption = value; }
QString COrvViewerMan::getReservedText() { return m_reservedText; }
QString COrvViewerMan::getTextA() { return m_textA; }
void COrvViewerMan::setTextA(const QString& text) { m_textA = text; }
void COrvViewerMan::setIntValue(int value) { m_intValue = value; }
int COrvViewerMan::getIntValue() { return m_intValue; }
QString COrvViewerMan::getTextB() { return m_textB; }
void COrvViewerMan::setTextB(QString text) { m_textB = std::move(text); }
int COrvViewerMan::reservedZero1() { return 0; }
int COrvViewerMan::reservedZero2() { return 0; }
Enve3d COrvViewerMan::getEmptyEnvelope() { return Enve3d(); }

int COrvViewerMan::setRectValues(int a, int b, int c, int d)
{
    m_rectValues[0] = a;
    m_rectValues[1] = b;
    m_rectValues[2] = c;
    m_rectValues[3] = d;
    return d;
}

const int* COrvViewerMan::getRectValues() { return m_rectValues; }

// ---- undo and redo ---------------------------------------------------------------------------

int COrvViewerMan::clearUndo()
{
    ++m_clearCount;
    m_undoStack.clear();
    m_redoStack.clear();
    return 0;
}

int COrvViewerMan::pushUndo(ref_ptr<IZimUndoStep> step)
{
    ++m_pushCount;
    m_redoStack.clear();
    if (m_undoStack.size() >= std::size_t(MaxUndoSteps)) m_undoStack.erase(m_undoStack.begin());
    m_undoStack.push_back(std::move(step));
    return 0;
}

// A step may reach the manager while it runs (push a step of its own, clear the stacks, reset
// the views), so it leaves its stack before it runs and the local reference keeps it alive.
int COrvViewerMan::undo()
{
    if (m_undoStack.empty()) return OrvNothingToDo;
    ref_ptr<IZimUndoStep> step = std::move(m_undoStack.back());
    m_undoStack.pop_back();
    const unsigned pushes = m_pushCount;
    const unsigned clears = m_clearCount;
    if (step) step->undo();
    // A step pushed meanwhile is the newest action, after which nothing can be redone; a clear
    // forgets the whole history, this step included.
    if (m_pushCount == pushes && m_clearCount == clears) m_redoStack.push_back(std::move(step));
    return 0;
}

int COrvViewerMan::redo()
{
    if (m_redoStack.empty()) return OrvNothingToDo;
    ref_ptr<IZimUndoStep> step = std::move(m_redoStack.back());
    m_redoStack.pop_back();
    const unsigned clears = m_clearCount;
    if (step) step->redo();
    // Done again, so it can be undone again, unless the history was cleared meanwhile.
    if (m_clearCount == clears) m_undoStack.push_back(std::move(step));
    return 0;
}

bool COrvViewerMan::canUndo() { return !m_undoStack.empty(); }
bool COrvViewerMan::canRedo() { return !m_redoStack.empty(); }

// ---- object registry -------------------------------------------------------------------------

int COrvViewerMan::addObject(ref_ptr<ZimReferenced> object)
{
    if (!object) return OrvEmptyReference;
    for (const auto& entry : m_objects)
        if (entry.second.get() == object.get()) return -1;
    const int id = m_objects.empty() ? 0 : m_objects.rbegin()->first + 1;
    m_objects.emplace(id, std::move(object));
    return id;
}

int COrvViewerMan::removeObjectById(int id) { return m_objects.erase(id) ? 0 : OrvNothingToDo; }

int COrvViewerMan::removeObject(ref_ptr<ZimReferenced> object)
{
    for (auto it = m_objects.begin(); it != m_objects.end(); ++it) {
        if (it->second.get() == object.get() && object) {
            m_objects.erase(it);
            return 0;
        }
    }
    return OrvNothingToDo;
}

unsigned COrvViewerMan::getObjectCount() { return unsigned(m_objects.size()); }

ref_ptr<LongArray> COrvViewerMan::getObjectIds()
{
    ref_ptr<LongArray> ids = zim::newLongArray();
    for (const auto& entry : m_objects) ids->append(entry.first);
    return ids;
}

ref_ptr<ZimReferenced> COrvViewerMan::getObject(int id)
{
    auto it = m_objects.find(id);
    return it == m_objects.end() ? ref_ptr<ZimReferenced>() : it->second;
}

// ---- viewer properties -----------------------------------------------------------------------

void COrvViewerMan::showImageViewer(bool show)
{
    if (IOrvMainFrame* f = frame()) f->showImageViewer(IdImageViewer, show);
}

bool COrvViewerMan::isImageViewerVisible()
{
    IOrvMainFrame* f = frame();
    return f && f->isImageViewerVisible(IdImageViewer);
}

void COrvViewerMan::toggleImageViewer() { showImageViewer(!isImageViewerVisible()); }

bool COrvViewerMan::isShowMarks(int type)
{
    if (type == OrvViewer3D) {
        IOrv3DViewer* viewer = get3DViewer();
        return viewer && viewer->isShowMeshMarks();
    }
    if (type == OrvViewerImage) {
        IOrvImageViewer* viewer = getImageViewer();
        return viewer && viewer->isShowMarks();
    }
    return false;
}

void COrvViewerMan::setShowMarks(int type, bool show)
{
    if (type == OrvViewer3D) {
        if (IOrv3DViewer* viewer = get3DViewer()) viewer->setShowMeshMarks(show);
    } else if (type == OrvViewerImage) {
        if (IOrvImageViewer* viewer = getImageViewer()) viewer->setShowMarks(show);
    }
}

bool COrvViewerMan::isViewerType(unsigned type) { return type < 2; }

ZimReferenced* COrvViewerMan::getViewerDisplay(int type)
{
    if (type != OrvViewer3D) return nullptr;  // the image viewer draws without a display
    IOrv3DViewer* viewer = get3DViewer();
    return viewer ? viewer->getDisplay().get() : nullptr;
}

void* COrvViewerMan::setViewerCursor(int type, unsigned shape)
{
    int result = 0;
    if (type == OrvViewer3D) {
        IOrv3DViewer* viewer = get3DViewer();
        if (!viewer) return nullptr;
        result = viewer->setCursorShape(int(shape));
    } else if (type == OrvViewerImage) {
        IOrvImageViewer* viewer = getImageViewer();
        if (!viewer) return nullptr;
        result = viewer->setCursorShape(int(shape));
    } else {
        return nullptr;
    }
    return reinterpret_cast<void*>(std::intptr_t(result));
}

int COrvViewerMan::setCursorShapeAll(unsigned shape)
{
    setViewerCursor(OrvViewer3D, shape);
    setViewerCursor(OrvViewerImage, shape);
    return 0;
}

void COrvViewerMan::setShowImageOverlay(bool show)
{
    if (IOrv3DViewer* viewer = get3DViewer()) viewer->setShowImageOverlay(show);
}

bool COrvViewerMan::isShowImageOverlay()
{
    IOrv3DViewer* viewer = get3DViewer();
    return viewer && viewer->isShowImageOverlay();
}

bool COrvViewerMan::get3DUserFlag3()
{
    IOrv3DViewer* viewer = get3DViewer();
    return viewer && viewer->getUserFlag3();
}

bool COrvViewerMan::isCurMeshOnly()
{
    IOrv3DViewer* viewer = get3DViewer();
    return viewer && viewer->getUserFlag4();
}

bool COrvViewerMan::get3DUserFlag2()
{
    IOrv3DViewer* viewer = get3DViewer();
    return viewer && viewer->getUserFlag2();
}

void COrvViewerMan::set3DUserFlag3(bool value)
{
    if (IOrv3DViewer* viewer = get3DViewer()) viewer->setUserFlag3(value);
}

void COrvViewerMan::setCurMeshOnly(bool value)
{
    if (IOrv3DViewer* viewer = get3DViewer()) viewer->setUserFlag4(value);
}

void COrvViewerMan::set3DUserFlag2(bool value)
{
    if (IOrv3DViewer* viewer = get3DViewer()) viewer->setUserFlag2(value);
}

bool COrvViewerMan::get3DUserFlag5()
{
    IOrv3DViewer* viewer = get3DViewer();
    return viewer && viewer->getUserFlag5();
}

void COrvViewerMan::set3DUserFlag5(bool value)
{
    if (IOrv3DViewer* viewer = get3DViewer()) viewer->setUserFlag5(value);
}

// ---- current tool ----------------------------------------------------------------------------

IZimTool* COrvViewerMan::getCurTool() { return m_curTool.get(); }

int COrvViewerMan::setCurTool(ref_ptr<IZimTool> tool)
{
    ref_ptr<IZimTqState> state;
    if (m_modelMan) m_modelMan->getState(state);
    if (!state || !state->hasOpenProject()) return OrvNoProject;
    if (!tool) return endCurTool();
    if (m_curTool && m_curTool->endTool() == ZimToolRefusesEnd) return ZimToolRefusesEnd;
    m_curTool = std::move(tool);
    m_curTool->beginTool();
    return 0;
}

int COrvViewerMan::endCurTool()
{
    if (!m_curTool) return 0;
    if (m_curTool->endTool() == ZimToolRefusesEnd) return ZimToolRefusesEnd;
    m_curTool = nullptr;
    return 0;
}

int COrvViewerMan::notifyCurTool()
{
    if (!m_curTool) return 0;
    m_curTool->notifyTool();
    return 1;
}

// ---- point dumps -----------------------------------------------------------------------------

int COrvViewerMan::openDump(const QString& path, bool append) { return m_dump.open(path, append); }
int COrvViewerMan::getDumpHandle() { return m_dump.handle(); }

int COrvViewerMan::closeDump()
{
    m_dump.close();
    return 1;
}

bool COrvViewerMan::isDumpOpen() { return m_dump.isOpen(); }
int COrvViewerMan::dumpPoint(XPnt3d point) { return m_dump.write(point); }

int COrvViewerMan::dumpPoints(ref_ptr<Pnt3dArray> points)
{
    if (!points) return -1;
    int result = 0;
    for (int i = 0; i < points->count(); ++i) result = dumpPoint(points->at(i));
    return result;
}

int COrvViewerMan::dumpLineSeg(CZimLineSeg segment)
{
    dumpPoint(segment.frPnt());
    return dumpPoint(segment.toPnt());
}

int COrvViewerMan::dumpLineSegs(ref_ptr<LineSegArray> segments)
{
    if (!segments) return -1;
    int result = 0;
    for (int i = 0; i < segments->count(); ++i) result = dumpLineSeg(segments->at(i));
    return result;
}

// ---- resets ----------------------------------------------------------------------------------

int COrvViewerMan::resetModelItems()
{
    ref_ptr<IZimModelItems> items;
    if (m_modelMan) m_modelMan->getModelItems(items);
    if (!items) return -1;
    for (int i = 0; i < items->itemCount(); ++i) {
        if (ref_ptr<IZimModelItem> item = items->itemAt(i)) {
            item->resetItem();
            item->resetItemState(0);
        }
    }
    return 0;
}

int COrvViewerMan::resetViews()
{
    if (IOrvImageThumbViewer* thumbs = getThumbViewer()) thumbs->clearThumbnails();
    if (IOrvMeshPanelViewer* panel = getMeshPanel()) panel->clearMeshRows();
    if (IOrvImageViewer* viewer = getImageViewer()) {
        viewer->closeImage();
        viewer->clearDrawLayers();
    }
    if (m_curTool) {
        m_curTool->endTool();
        setCurTool(nullptr);
    }
    if (IOrv3DViewer* viewer = get3DViewer()) viewer->clearDrawLayers();
    if (IOrvDockWidget* dock = getDockWidget2()) dock->setContent(0);
    if (IOrvDockWidget* dock = getDockWidget3()) dock->setContent(0);
    m_objects.clear();
    clearUndo();
    return 0;
}

ref_ptr<ZimReferenced> COrvViewerMan::getFirstPluginObject()
{
    IOrvMainFrame* f = frame();
    return f ? f->getPluginObject(0) : ref_ptr<ZimReferenced>();
}

IOrvImageTree* COrvViewerMan::createImageTree()
{
    IOrvImageThumbViewer* thumbs = getThumbViewer();
    IOrvImageTree* oldTree = thumbs ? thumbs->getImageTree() : nullptr;
    IOrvImageTree* (*make)() = frameMakers().imageTree;
    if (!oldTree || !make) return nullptr;
    oldTree->saveTree();
    IOrvImageTree* tree = make();
    if (!tree) return nullptr;
    tree->setShowImagesInChild(oldTree->isShowImagesInChild());
    tree->loadTree();
    return tree;
}

}  // namespace orvUI
