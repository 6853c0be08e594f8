// Method 1: how far the hit triangle's vertex normals turn from its flat
// normal, per unit of area.
#pragma once

#include "curvature/estimate.h"
#include "shader/renderer.h"

namespace bl {

// One value per vertex a, b, c: the angle between the vertex normal and the
// geometric normal, divided by ten times the triangle's area. All three are
// zero when the renderer has no triangle to give or the triangle has no area.
CurvatureEstimate estimate_from_triangle(RenderState& state);

} // namespace bl
