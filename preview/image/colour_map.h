// The colours the PNG shows the shader's output values in.
#pragma once

#include <algorithm>

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
inline void map_colour(float value, Colormap colormap, int mapping, float rgb[3]);

namespace colour_map_detail {

// Five stops, evenly spaced: the ends and quarter points are those of
// Moreland's cool-warm map (a ramp of even perceived steps that mesh tools
// use for signed curvature), with its centre made pure white so that flat
// reads as no colour at all.
constexpr float stops[5][3] = {
    {0.230f, 0.299f, 0.754f},                           // most negative
    {0.552f, 0.690f, 0.996f}, {1.000f, 1.000f, 1.000f}, // flat
    {0.958f, 0.604f, 0.482f}, {0.706f, 0.016f, 0.150f}, // most positive
};

inline void diverging(float position, float rgb[3]) {
    const float scaled = position * 4.0f;
    const int below = std::min(int(scaled), 3);
    const float weight = scaled - float(below);
    for (int c = 0; c < 3; ++c) {
        rgb[c] = stops[below][c] + (stops[below + 1][c] - stops[below][c]) * weight;
    }
}

} // namespace colour_map_detail

// Defined here so that a PNG's colours, computed for every texel of a large
// map, need no call per pixel.
inline void map_colour(float value, Colormap colormap, int mapping, float rgb[3]) {
    using colour_map_detail::diverging;
    const float v = std::min(std::max(value, 0.0f), 1.0f);
    if (colormap == Colormap::grey) {
        rgb[0] = rgb[1] = rgb[2] = v;
        return;
    }
    // One ramp lookup for every mapping, so that the colour stays in
    // registers.
    float position = v;
    if (mapping == 1) {
        position = 0.5f + 0.5f * v;
    } else if (mapping == 2) {
        position = 0.5f - 0.5f * v;
    }
    diverging(position, rgb);
}

} // namespace preview
