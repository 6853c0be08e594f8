// The vertex bake: the shader run once at every vertex of the welded mesh,
// its values kept per vertex for a mesh file (vertex_ply.h).
#pragma once

#include <cstdint>
#include <vector>

#include "preview/host/host_state.h"
#include "preview/host/plugin.h"
#include "preview/image/image.h"
#include "preview/progress/progress.h"
#include "preview/scene/scene.h"

namespace preview {

struct VertexBakeSettings {
    int threads = 0; // 0: every core
    // Shade every stride-th welded vertex only (a quick first pass for
    // --auto-range); the others keep no estimate.
    int stride = 1;
    Progress* progress = nullptr; // hears the bake as a step
};

// The scene's first object welded by position: one entry per distinct
// position, in the order of the first vertex that has it, and the faces
// renamed onto them. Per vertex, the shader called as at a hit on the first
// triangle that uses the position, with that corner's weight 1:
// - mean and gaussian: the measures the shader reads there (measure 0 and
//   1, read back exactly), mean positive on convex regions;
// - k1, k2 (k1 >= k2, negative on convex regions): methods 0 and 2, NaN for
//   method 1, which gives no principal curvatures;
// - values: an Image of vertex-count x 1 "texels", rgba what the shader
//   wrote with alpha 1, measure the measure it mapped (as a render's), so
//   that the summary and --auto-range read it as they read an image.
// A vertex no triangle uses, or where method 0 finds no derivatives (the
// curvature fit had none), has no estimate: NaN in the four values, alpha 0.
struct VertexBake {
    std::vector<uint32_t> vertices;  // per welded vertex: the mesh vertex that stands for it
    std::vector<uint32_t> triangles; // three welded vertices per face
    std::vector<float> k1, k2, mean, gaussian;
    Image values;
    long long without_estimate = 0;
};

// Runs the shader's start-up and exit calls around the bake. The result is
// the same for any thread count.
void bake_vertices(const Scene& scene, const Plugin& plugin, Instance& instance,
                   const VertexBakeSettings& settings, VertexBake& bake);

} // namespace preview
