// Writing a vertex bake as a binary little-endian PLY mesh, which MeshLab,
// Blender and CloudCompare read.
#pragma once

#include <string>
#include <vector>

#include "preview/image/image_io.h"
#include "preview/mesh/mesh.h"
#include "preview/render/vertex_bake.h"

namespace preview {

// Writes the welded vertices at positions[bake.vertices[w]] (the file's own
// coordinates, before the preview centred or scaled them) with float
// properties k1, k2, mean, gaussian and uchar red, green, blue, and the
// faces as a list of three int indices. The colour is the shader's output
// as a PNG shows it in style (its colour map; opaque), black for a vertex
// without an estimate. Through an OutputFile, so that no half-written file
// is left behind. False with a one-line reason.
bool write_vertex_ply(const std::string& path, const std::vector<Float3>& positions,
                      const VertexBake& bake, const ImageStyle& style, const std::string& comment,
                      std::string& error);

} // namespace preview
