// Method 0: principal curvatures from the surface derivatives.
#pragma once

#include "curvature/estimate.h"
#include "shader/renderer.h"

namespace bl {

// The two principal curvatures at the hit point from the state's normal and
// the five derivative vectors behind state.derivs. Without derivatives, or on
// a degenerate parametrisation, both are zero.
CurvatureEstimate estimate_from_derivatives(const RenderState& state);

// The roots of a*k^2 + b*k + c = 0 as the estimator forms them, exposed for
// tests of the root finding on its own.
CurvatureEstimate principal_curvatures(float a, float b, float c);

} // namespace bl
