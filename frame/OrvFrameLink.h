// How the viewer manager makes the objects of the library's window layer without depending on
// their classes: installViewMakers (mainwindow/OrvViewMakers.cpp, the folder that may see every
// view) fills in the makers once, when getVM first makes the viewer manager. Without a maker the
// manager reports the object as missing, as it does for any absent view.
#pragma once

class QWidget;

namespace orvUI {

class IOrvMainFrame;
class IOrvImageTree;

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

// Installs the maker of every class above into frameMakers(): the one place that says which
// class makes which object. Defined by the top folder of the library (mainwindow/); getVM calls it
// once, before it makes the viewer manager. Tests that build a frame or views without getVM call
// it themselves.
void installViewMakers();

}  // namespace orvUI
