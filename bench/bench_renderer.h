// A minimal in-process renderer for the benchmarks: it defines the five
// renderer functions with answers of fixed cost, and builds the scenes one
// shading call reads.
#pragma once

#include <cstdint>

#include "shader/parameters.h"
#include "shader/renderer.h"

namespace bench {

// The parameter block as the renderer lays it out when parameters may be
// connected: the ten fields, then one connection tag per field, all zero, so
// the connected-parameter rule reads every tag and finds nothing connected.
struct ParameterBlock {
    BendlensParameters params;
    Tag tags[10];
};

// Everything one shading call touches, in one place. Aligned to a cache line
// so that scenes used by different threads never share one.
struct alignas(64) Scene {
    ShaderRecord record{};
    RenderState state{};
    Vector derivs[5]{};
    ParameterBlock block{};
    Colour result{0.0f, 0.0f, 0.0f, 1.0f};
};

// One benchmark configuration of the shading call.
struct Setup {
    int32_t method;
    int32_t measure;
    int32_t mapping;
    bool contrast;
    int32_t probes; // method 2 only
};

// Fills scene with a hit on an ellipsoid-like patch (method 0), on a triangle
// with bent vertex normals (method 1) or on a surface the probes land on
// (method 2), and with parameters for setup.
void make_scene(Scene& scene, const Setup& setup);

} // namespace bench
