// A fixed set of shading inputs and a deterministic renderer that answers the
// shader's calls for them, shared by the native program that writes the
// reference results and by the Wine test that shades the same inputs through
// the real bendlens.dll. The renderer uses only arithmetic that rounds the
// same on every platform (no library mathematics but the square root).
#pragma once

#include <cstdint>

#include "shader/parameters.h"
#include "shader/renderer.h"

namespace cases {

constexpr int count = 900;

struct Case {
    BendlensParameters params;
    Vector derivs[5];
    Vector point, normal, geometric_normal;
    float bary[3];
    Vector vertex_normals[3];
    Vector vertex_points[3];
    float tilt; // how far a probe's hit normal turns towards the probe
};

Case make(int index);

using ShadeFunction = Boolean (*)(Colour*, RenderState*, BendlensParameters*);

// Shades one case through the given shading function, with this renderer
// answering its calls. Returns the result colour.
Colour shade(const Case& c, ShadeFunction function);

uint32_t bits(float v);

// How often the shader has evaluated a connected parameter.
extern int phen_eval_calls;

} // namespace cases
