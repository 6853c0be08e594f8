// Reduction of an estimate to one signed curvature value.
#pragma once

#include <cstdint>

#include "curvature/estimate.h"

namespace bl {

enum Measure : int32_t { measure_mean = 0, measure_gaussian = 1, measure_interpolated = 2 };

// h for the given measure: from the three vertex values for method 1, from k1
// and k2 for every other method. A measure outside 0 to 2 gives 0.
float select_measure(const CurvatureEstimate& estimate, int32_t method, int32_t measure,
                     const float bary[3]);

} // namespace bl
