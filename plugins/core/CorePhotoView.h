// Looking at the scene through a mapped photograph: the photo shown, the 3D view put on its
// registered camera with the photo laid over the meshes.
#pragma once

#include "CoreUi.h"

namespace orvCore {

// Shows photo `index` (current image, image viewer), puts the 3D view on its registered camera and
// switches the overlay on. False (reported through report) when the photo is not mapped, has no
// usable camera, or there is no 3D view.
bool lookThroughPhoto(int index, const Reporter& report);

}  // namespace orvCore
