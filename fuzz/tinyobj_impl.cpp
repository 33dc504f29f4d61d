// The OBJ/MTL parser compiled from its header, so that the fuzz build instruments it; the prebuilt
// library carries no coverage.
#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>
