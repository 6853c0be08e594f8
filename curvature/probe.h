// Method 2: curvature from probe rays traced back at the surface.
#pragma once

#include <cstdint>

#include "curvature/estimate.h"
#include "shader/parameters.h"
#include "shader/renderer.h"

namespace bl {

// The probe count from the float parameter: truncated toward zero and
// saturated, so that negative values and NaN give 0 and 2^32 or more gives
// the largest count.
uint32_t probe_count(float samples);

// Reads samples and probe_scale, traces the probes and returns the negated,
// scaled mean angle between the normals where probes land and the normal at
// the hit point, as both k1 and k2. The state's ray_origin and primitive are
// changed while probing and restored before returning.
CurvatureEstimate estimate_from_probes(RenderState& state, const BendlensParameters& params,
                                       Platform platform);

} // namespace bl
