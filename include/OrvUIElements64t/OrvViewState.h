// The camera record of the 3D viewer (getCamera) and the shared state through which the next
// left press in a 3D viewer picks a new rotation centre (requestCenterPick, getGlobeViewState).
#pragma once

#include "OrvUIGlobal.h"
#include "ZimBase64t.h"

namespace orvUI {

class ORVUI_EXPORT ZimGlobeViewState : public ZimReferenced {
public:
    ZimGlobeViewState() = default;

    // 0: none; 1: the next left press in a 3D viewer sets the trackball's rotation centre.
    std::int32_t pickRequest = 0;

protected:
    ~ZimGlobeViewState() override;
};

// The camera of a 3D viewer as getCamera reports it.
struct ViewCamera {
    XPnt3d eye;
    XPnt3d center;
    XPnt3d up;
    double fov = 27.0;     // base field of view, degrees
    double opacity = 0.6;  // photo overlay opacity
    double zoom = 1.0;     // divides the base field of view
};

}  // namespace orvUI
