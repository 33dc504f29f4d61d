// How the viewer manager makes the objects of the library's window layer without depending on
// their classes: the main-window code installs its makers here when the library loads. Without
// a maker the manager reports the object as missing, as it does for any absent view.
#pragma once

class QWidget;

namespace orvUI {

class IOrvMainFrame;
class IOrvImageTree;

// Each maker is installed by the file that defines the class, at load time:
//     static const bool registered = (frameMakers().imageViewer = &makeImageViewer, true);
// A view maker returns the new widget (the concrete class, which also derives from its interface)
// with the given parent; the main frame casts it to the interface.
struct FrameMakers {
    // A new main frame with no parent, not yet initialised.
    IOrvMainFrame* (*mainFrame)() = nullptr;
    // A new image tree with no parent, not yet initialised.
    IOrvImageTree* (*imageTree)() = nullptr;
    QWidget* (*viewer3D)(QWidget* parent) = nullptr;
    QWidget* (*imageViewer)(QWidget* parent) = nullptr;
    QWidget* (*thumbViewer)(QWidget* parent) = nullptr;
    QWidget* (*meshPanel)(QWidget* parent) = nullptr;
};

FrameMakers& frameMakers();

}  // namespace orvUI
