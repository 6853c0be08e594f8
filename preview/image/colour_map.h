// The colours the PNG shows the shader's output values in.
#pragma once

#include "shader/parameters.h"

namespace preview {

enum class Colormap { grey, diverging };

// The colour of an output value, each channel in [0, 1] (display values, no
// gamma: the colour is a label for the value, not light). The value is
// clamped to [0, 1] first; a NaN is left to the caller.
//
// grey: the value itself in all three channels.
// diverging: one blue-white-red ramp, white at the flat point. The
// two-sided mapping (0) spreads over all of it: 0 blue, 0.5 white, 1 red. The
// one-sided mappings give a magnitude from their dead zone's edge, so they
// take the half of the ramp on their own side: mapping 1 (positive side)
// runs from white to red, mapping 2 (negative side) from white to blue.
// Any other mapping writes nothing and is shown as mapping 0.
void map_colour(float value, Colormap colormap, int mapping, float rgb[3]);

} // namespace preview
