// Scene items of the kernel: one per project mesh, drawing it with GPU-resident geometry and
// textures. Private to the kernel library; the two functions are exported only so that the
// kernel's GL tests can drive a scene item without a project.
//
// drawSceneItem(1, display) draws into the GL context current at the time (the display is not
// needed) and answers 0, or -1 for another mode, without a current context or when the mesh
// cannot be uploaded. Textured: the texture replaces the colour, no lighting. Shaded (texture
// hidden, or none, or no texture coordinates): a light grey two-sided material under a headlight.
// Every piece of GL state it changes is put back.
#pragma once

#include <functional>

#include "OrvKernel64t.h"

namespace zim {
namespace kernel {

// What a scene item needs to know about its mesh each time it draws.
struct MeshDrawState {
    bool asleep = false;       // draw nothing
    bool textureShown = true;  // textured when the mesh has a texture, else shaded
};
using MeshDrawStateFn = std::function<MeshDrawState(int index)>;

// A scene item that draws mesh `index`. At draw time it asks `state` (the model manager passes
// a function that looks the mesh up in the open project) how to draw. Geometry and texture are
// uploaded on the first draw in a context and reused by every later frame.
// Null for a null mesh. Without a state function the mesh draws awake, textured as its own
// isMeshTextureVisible() says.
ORV_KERNEL_EXPORT ref_ptr<IZimSceneItem> newMeshSceneItem(int index, const ref_ptr<IZimMesh>& mesh,
                                                          MeshDrawStateFn state);

// Forgets the GPU data held for a mesh (it went to sleep, was released or its texture changed).
// Safe without a current context: the buffers are deleted the next time the item draws or, for
// an item that is gone, the next time any scene item draws in that context.
// Also called by a scene item that goes away, and when it draws an asleep mesh. Data that is only
// identical by address is never reused: new geometry (new arrays from setMeshGeometry) or a new
// texture image is noticed by itself; pixels or indices changed in place need this call.
ORV_KERNEL_EXPORT void releaseMeshGpuData(const IZimMesh* mesh);

}  // namespace kernel
}  // namespace zim
