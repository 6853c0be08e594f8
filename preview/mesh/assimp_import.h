// The formats read through Assimp: OBJ, STL, glTF and GLB.
#pragma once

#include <cstddef>
#include <string>

#include "preview/mesh/mesh.h"

namespace preview {

// Parses data in the named format ("obj", "stl", "gltf" or "glb") with an
// Assimp importer that knows only that format; folder is where side files
// (a glTF's buffers) are read from, "" for none. Appends to an empty mesh;
// false with a one-line reason.
bool import_with_assimp(const std::string& format, const std::string& folder, const char* data,
                        size_t size, Mesh& mesh, std::string& error);

} // namespace preview
