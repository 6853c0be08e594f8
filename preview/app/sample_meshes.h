// Meshes of the built-in surfaces that resemble scans, for the accuracy
// report: the surface's tessellation with its vertices moved within the
// surface (an irregular triangulation) or off it (noise), with normals
// taken from the moved triangles as a scan's would be. Each vertex keeps its
// parameters (s, t) in uv, so that the exact curvature is known there; the
// copies of one point (a seam, a pole) stay one point. The same on every run.
#pragma once

#include <vector>

#include "preview/mesh/mesh.h"
#include "preview/scene/surfaces.h"

namespace preview {

struct SampleMeshOptions {
    // Vertices moved within the surface, by up to this share of a grid cell
    // along each parameter, and each cell split along a diagonal chosen at
    // random: valences from 4 to 8 and triangles of uneven shape. 0: the
    // regular tessellation.
    double irregular = 0.0;
    // Then every vertex moved by this share of the mean edge length in a
    // random direction, off the surface.
    double noise = 0.0;
};

// The surface tessellated at fineness n as --derivatives estimated shows it,
// changed as the options say; normals from the triangles unless both
// options are 0 (then the tessellation's exact normals).
Mesh sample_mesh(const Surface& surface, int n, const SampleMeshOptions& options,
                 std::vector<float>& uv);

} // namespace preview
