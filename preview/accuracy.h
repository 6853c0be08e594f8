// The accuracy report: each method's measure against exact curvature.
#pragma once

#include <cstdio>

#include "preview/plugin.h"

namespace preview {

// For every built-in surface, shades `points` random surface points with each
// method and measure (mean, Gaussian), reads back the measure the shader
// computed, and prints a Markdown table of its error against the exact value,
// the scale that fits it best (methods 1 and 2 do not measure in curvature
// units), the error left after that scaling, and its correlation. The points are the same on every
// run.
void accuracy_report(const Plugin& plugin, int points, int tessellation, FILE* out);

} // namespace preview
