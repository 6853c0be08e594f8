#include "preview/image/colour_map.h"

#include <algorithm>
#include <cmath>

namespace preview {
namespace {

// Five stops, evenly spaced: the ends and quarter points are those of
// Moreland's cool-warm map (a ramp of even perceived steps that mesh tools
// use for signed curvature), with its centre made pure white so that flat
// reads as no colour at all.
constexpr float stops[5][3] = {
    {0.230f, 0.299f, 0.754f},                           // most negative
    {0.552f, 0.690f, 0.996f}, {1.000f, 1.000f, 1.000f}, // flat
    {0.958f, 0.604f, 0.482f}, {0.706f, 0.016f, 0.150f}, // most positive
};

void diverging(float position, float rgb[3]) {
    const float scaled = position * 4.0f;
    const int below = std::min(int(scaled), 3);
    const float weight = scaled - float(below);
    for (int c = 0; c < 3; ++c) {
        rgb[c] = stops[below][c] + (stops[below + 1][c] - stops[below][c]) * weight;
    }
}

} // namespace

void map_colour(float value, Colormap colormap, int mapping, float rgb[3]) {
    const float v = std::min(std::max(value, 0.0f), 1.0f);
    if (colormap == Colormap::grey) {
        rgb[0] = rgb[1] = rgb[2] = v;
        return;
    }
    switch (mapping) {
    case 1:
        diverging(0.5f + 0.5f * v, rgb);
        return;
    case 2:
        diverging(0.5f - 0.5f * v, rgb);
        return;
    default:
        diverging(v, rgb);
        return;
    }
}

} // namespace preview
