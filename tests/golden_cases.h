// A fixed, deterministic set of shading inputs: every method, measure and
// mapping code (each with one code out of range), the contrast curve on and
// off, connected parameters under both renderer rules, and answers from a
// scripted renderer for triangles, sample pairs and probes. Built from integer
// arithmetic only, so that every build, 32-bit or 64-bit, shades the same
// inputs; what differs between builds is then the library's own arithmetic.
#pragma once

#include <cstdint>

#include "shader/parameters.h"
#include "shader/renderer.h"

namespace golden {

// A shading call for the given renderer variant: bl::shade, or a wrapper of
// the exported entry point, which ignores the variant.
using ShadeFunction = Boolean (*)(Colour*, RenderState*, const BendlensParameters*, Platform);

// The codes of one case, for reports.
struct Codes {
    int32_t method;
    int32_t measure;
    int32_t mapping;
    int32_t use_contrast;
};

// What one call left in the result colour, as bits.
struct Outcome {
    uint32_t r, g, b, a;
    bool operator==(const Outcome& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

// The standard set; shade_case also takes any larger index, cycling through
// the same codes and variants with new values.
constexpr int case_count = 1024;

Codes codes_of(int index);

// Shades case `index` through `shade`, with a scripted renderer installed on
// the calling thread for the length of the call.
Outcome shade_case(int index, Platform platform, ShadeFunction shade);

} // namespace golden
