// The accuracy report: each method's measure against exact curvature.
#pragma once

#include <cstdio>
#include <string>

#include "preview/host/plugin.h"

namespace preview {

// For every built-in surface, shades `points` random surface points with each
// method and measure (mean, Gaussian), reads back the measure the shader
// computed, and prints a Markdown table of its error against the exact value,
// the scale that fits it best (methods 1 and 2 do not measure in curvature
// units), the error left after that scaling, and its correlation. The points are the same on every
// run.
// Then prints the estimated-derivative table (estimated_accuracy_report).
void accuracy_report(const Plugin& plugin, int points, int tessellation, FILE* out);

// Method 0's mean measure with derivatives estimated from each built-in
// surface's tessellation (shown as that mesh) at fineness 32, 128 and 512,
// against the exact mean at `points` points sampled by area: correlation,
// relative RMS error, the share of right signs where |H| exceeds a tenth of
// its largest value, and the mean of the estimates (1 on the unit sphere).
// A last row has the torus at 128 with its vertices jittered by 0.1% of the
// mean edge length. The plug-in must be initialised.
void estimated_accuracy_report(const Plugin& plugin, int points, int rings, FILE* out);

// The estimate at the vertices themselves, without the shader: the relative
// RMS error of the mean at every welded vertex, sqrt(sum of error^2 / sum of
// H^2) against the exact mean there, for the torus and the ellipsoid at
// fineness 32, 128 and 512, the jittered torus of the table above, and tori
// that resemble scans (sample_meshes.h): an irregular triangulation, noise
// of 0.5% of an edge, and both.
void vertex_accuracy_report(int rings, FILE* out);

// How the report names a neighbourhood: "rings chosen per vertex" for 0.
std::string neighbourhood_name(int rings);

} // namespace preview
