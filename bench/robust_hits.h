// What watertight hits cost: Embree's robust intersection against its fast
// one, the BVH build and the render side by side.
#pragma once

#include <string>

#include "preview/host/plugin.h"
#include "preview/mesh/mesh.h"

namespace bench {

// Builds the scene of `mesh` (estimated derivatives, the preview's build
// quality by size) with the robust and with the fast intersection, in
// alternating order, `repeats` times each, and renders a 320 x 240 frame, one
// sample a pixel, one thread, of each scene in alternating order: method 0,
// and method 2 with 16 probes (its probe rays go through the same scene).
// Prints the median build seconds and render nanoseconds per sample of each
// and their ratios, robust over fast.
void time_robust_hits(const std::string& name, const preview::Mesh& mesh, int repeats,
                      const preview::Plugin& plugin);

} // namespace bench
