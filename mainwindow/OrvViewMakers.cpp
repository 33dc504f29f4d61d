// Which class makes which object of the window layer. The viewer manager makes the main frame,
// and the main frame its views, only through frameMakers() (frame/OrvFrameLink.h); this file,
// in the folder that may see every view, is where the makers are put in.
#include "CImageThumbViewer.h"
#include "CMeshPanelViewer.h"
#include "COrv3DViewer.h"
#include "COrvImageTree.h"
#include "COrvImageViewer.h"
#include "COrvMainFrame.h"
#include "OrvFrameLink.h"

namespace orvUI {

void installViewMakers()
{
    FrameMakers& makers = frameMakers();
    makers.mainFrame = []() -> IOrvMainFrame* { return new COrvMainFrame(); };
    makers.imageTree = []() -> IOrvImageTree* { return new COrvImageTree(nullptr); };
    makers.viewer3D = [](QWidget* parent) -> QWidget* { return new COrv3DViewer(parent); };
    makers.imageViewer = [](QWidget* parent) -> QWidget* { return new COrvImageViewer(parent); };
    makers.thumbViewer = [](QWidget* parent) -> QWidget* { return new CImageThumbViewer(parent); };
    makers.meshPanel = [](QWidget* parent) -> QWidget* { return new ::CMeshPanelViewer(parent); };
}

}  // namespace orvUI
