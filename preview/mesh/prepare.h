// Making a parsed mesh ready to render: checks, vertex normals, placement.
#pragma once

#include <string>

#include "preview/mesh/mesh.h"
#include "preview/progress/progress.h"

namespace preview {

// Checks what rendering needs: at least one triangle, indices in range,
// finite coordinates, and some area (a mesh whose every triangle is
// degenerate shows nothing). Then fills in area-weighted unit vertex normals when
// the file had none, or had some that are not finite or of zero length. They
// are summed over positions welded together (weld.h), so that a vertex split
// at a texture seam gets the same normal on both sides; their sign follows
// the triangles' winding (counter-clockwise seen from outside), and that
// weld is kept in mesh.welded for the curvature estimate.
// Progress, if given, hears the step "weld".
bool prepare_mesh(Mesh& mesh, std::string& error, Progress* progress = nullptr);

// Centres the mesh on the origin and, with a positive fit size, scales its
// largest extent to that size (the preview's --fit). Returns the largest
// extent the mesh had before scaling.
double place_mesh(Mesh& mesh, float fit);

} // namespace preview
