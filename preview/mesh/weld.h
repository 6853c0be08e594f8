// Welding a mesh's split vertices by position.
//
// Mesh files split a vertex wherever its attributes change (a UV seam, a hard
// edge), so one point of the surface becomes several vertices with the same
// position. Anything that walks the surface (vertex normals, neighbourhoods
// for curvature) must see one point there, or a seam reads as a boundary.
#pragma once

#include <cstdint>
#include <vector>

#include "preview/mesh/mesh.h"

namespace preview {

// For every vertex, the index of the first vertex with exactly the same
// position (+0 and -0 alike), so that representative[v] == v for the vertex
// kept and every copy names it. Positions that are not finite are never
// merged.
std::vector<uint32_t> weld_positions(const std::vector<Float3>& positions);

// Makes the vertices that agree bit for bit in position, normal and texture
// coordinates one vertex, the first of them, keeping the order of the rest,
// and renumbers the triangles. A file format that gives every face corner a
// vertex of its own (Assimp does for OBJ) so costs no more than an indexed
// one, and every reader of a file gives the same mesh.
void merge_identical_vertices(Mesh& mesh);

} // namespace preview
