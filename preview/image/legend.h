// The colour bar the PNG can carry: the colour map from output 0 to 1 with
// the measure values at its ends (and at its centre for the two-sided
// mapping), so a reader can tell what a colour stands for.
#pragma once

#include <string>
#include <vector>

#include "preview/image/colour_map.h"

namespace preview {

// The labels under the bar, left to right, with their places along it in
// [0, 1]: two-sided (mapping 0, and any unknown one): -range_min, 0,
// range_max; positive side: threshold, range_max; negative side: -threshold,
// -range_min. The threshold is the one in force: the shader sets it to 0 when
// it lies above range_max or below -range_min.
struct LegendLabel {
    double value;
    float place;
};
std::vector<LegendLabel> legend_labels(const BendlensParameters& parameters);

// A number as the legend writes it: three significant digits, the exponent
// without '+' or leading zeros ("1e6", "2.5e-5"), -0 as "0".
std::string legend_number(double value);

// Draws the bar over the bottom centre of an image of 8-bit RGBA pixels, on
// an opaque panel of the background colour, its text black or white,
// whichever stands out. It grows with the image (one font pixel per 240
// rows); what does not fit a small image is cut off at the image's edges.
void draw_legend(std::vector<unsigned char>& rgba, int width, int height,
                 const BendlensParameters& parameters, Colormap colormap,
                 const float background[3]);

} // namespace preview
