// One shading call, for either renderer variant.
#pragma once

#include "shader/parameters.h"
#include "shader/renderer.h"

namespace bl {

enum Method : int32_t { method_derivatives = 0, method_triangle = 1, method_probes = 2 };

// Reads measure and method, runs the chosen estimator, maps its measure and
// writes r, g and b of result. Always returns true; with a null result, state
// or params there is nothing to read or write, and nothing happens.
Boolean shade(Colour* result, RenderState* state, const BendlensParameters* params,
              Platform platform);

} // namespace bl
