// The floor: what a shading call costs at the least. The same arithmetic as
// the library, written straight through for one method each: parameters read
// in place (no connected-parameter rule), no dispatch on the method, no
// estimate record and no copies of the renderer's vectors. Each produces the
// same bits as the library for unconnected parameters under the Mac rules,
// which the Linux build follows.
#pragma once

#include "shader/parameters.h"
#include "shader/renderer.h"

namespace straight {

// Method 0, principal curvatures from the surface derivatives.
Boolean shade_derivatives(Colour* result, RenderState* state, BendlensParameters* params);

// Method 1, vertex-normal deviation of the hit triangle.
Boolean shade_triangle(Colour* result, RenderState* state, BendlensParameters* params);

// Method 2, probe rays, averaged over the probes that land.
Boolean shade_probes(Colour* result, RenderState* state, BendlensParameters* params);

} // namespace straight
