// Special members of the exported interfaces, defined here so that every interface's virtual
// table and these members are emitted once, in the library, and exported with it.
#include "IOrv2DSymbol.h"
#include "IOrv3DViewer.h"
#include "IOrvActionItem.h"
#include "IOrvDockWidget.h"
#include "IOrvImageThumbViewer.h"
#include "IOrvImageTree.h"
#include "IOrvImageViewer.h"
#include "IOrvMainFrame.h"
#include "IOrvMeshPanelViewer.h"
#include "IOrvViewerMan.h"

namespace orvUI {

// ---- reference-counted interfaces: a copy is a new object nobody holds yet ----

IOrvViewerMan::IOrvViewerMan() noexcept = default;
IOrvViewerMan::IOrvViewerMan(const IOrvViewerMan& other) noexcept : ZimReferenced(other) {}
IOrvViewerMan& IOrvViewerMan::operator=(const IOrvViewerMan& other) noexcept
{
    ZimReferenced::operator=(other);
    return *this;
}
IOrvViewerMan::~IOrvViewerMan() = default;

IOrvActionItem::IOrvActionItem() noexcept = default;
IOrvActionItem::IOrvActionItem(const IOrvActionItem& other) noexcept : ZimReferenced(other) {}
IOrvActionItem& IOrvActionItem::operator=(const IOrvActionItem& other) noexcept
{
    ZimReferenced::operator=(other);
    return *this;
}
IOrvActionItem::~IOrvActionItem() = default;

IOrvCommonItem::IOrvCommonItem() noexcept = default;
IOrvCommonItem::IOrvCommonItem(const IOrvCommonItem& other) noexcept : ZimReferenced(other) {}
IOrvCommonItem& IOrvCommonItem::operator=(const IOrvCommonItem& other) noexcept
{
    ZimReferenced::operator=(other);
    return *this;
}
IOrvCommonItem::~IOrvCommonItem() = default;

IOrv2DSymbol::IOrv2DSymbol() noexcept = default;
IOrv2DSymbol::IOrv2DSymbol(const IOrv2DSymbol& other) noexcept : ZimReferenced(other) {}
IOrv2DSymbol& IOrv2DSymbol::operator=(const IOrv2DSymbol& other) noexcept
{
    ZimReferenced::operator=(other);
    return *this;
}
IOrv2DSymbol::~IOrv2DSymbol() = default;

// ---- widget interfaces ----

IOrvMainFrame::IOrvMainFrame() = default;
IOrvMainFrame::IOrvMainFrame(const IOrvMainFrame&) = default;
IOrvMainFrame& IOrvMainFrame::operator=(const IOrvMainFrame&) = default;
IOrvMainFrame::~IOrvMainFrame() = default;

IOrvDockWidget::IOrvDockWidget() = default;
IOrvDockWidget::IOrvDockWidget(long) {}
IOrvDockWidget::IOrvDockWidget(const IOrvDockWidget&) = default;
IOrvDockWidget& IOrvDockWidget::operator=(const IOrvDockWidget&) = default;
IOrvDockWidget::~IOrvDockWidget() = default;

IOrv3DViewer::IOrv3DViewer() = default;
IOrv3DViewer::IOrv3DViewer(const IOrv3DViewer&) = default;
IOrv3DViewer& IOrv3DViewer::operator=(const IOrv3DViewer&) = default;
IOrv3DViewer::~IOrv3DViewer() = default;

int IOrv3DViewer::draw() { return drawScene(false); }

IOrvImageViewer::IOrvImageViewer() = default;
IOrvImageViewer::IOrvImageViewer(const IOrvImageViewer&) = default;
IOrvImageViewer& IOrvImageViewer::operator=(const IOrvImageViewer&) = default;
IOrvImageViewer::~IOrvImageViewer() = default;

IOrvImageThumbViewer::IOrvImageThumbViewer() = default;
IOrvImageThumbViewer::IOrvImageThumbViewer(const IOrvImageThumbViewer&) = default;
IOrvImageThumbViewer& IOrvImageThumbViewer::operator=(const IOrvImageThumbViewer&) = default;
IOrvImageThumbViewer::~IOrvImageThumbViewer() = default;

IOrvMeshPanelViewer::IOrvMeshPanelViewer() = default;
IOrvMeshPanelViewer::IOrvMeshPanelViewer(const IOrvMeshPanelViewer&) = default;
IOrvMeshPanelViewer& IOrvMeshPanelViewer::operator=(const IOrvMeshPanelViewer&) = default;
IOrvMeshPanelViewer::~IOrvMeshPanelViewer() = default;

// ---- the image tree: a parentless tree widget ----

IOrvImageTree::IOrvImageTree() : QTreeWidget(nullptr) {}
IOrvImageTree::~IOrvImageTree() = default;

}  // namespace orvUI
