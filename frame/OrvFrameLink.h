// How the viewer manager makes the objects of the library's window layer without depending on
// their classes: the main-window code installs its makers here when the library loads. Without
// a maker the manager reports the object as missing, as it does for any absent view.
#pragma once

namespace orvUI {

class IOrvMainFrame;
class IOrvImageTree;

struct FrameMakers {
    // A new main frame with no parent, not yet initialised.
    IOrvMainFrame* (*mainFrame)() = nullptr;
    // A new image tree with no parent, not yet initialised.
    IOrvImageTree* (*imageTree)() = nullptr;
};

FrameMakers& frameMakers();

}  // namespace orvUI
