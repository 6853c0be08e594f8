// The shader's parameter block, as the renderer lays it out from the
// declaration file bendlens.mi: ten packed 4-byte fields.
#pragma once

#include <cstddef>
#include <cstdint>

struct BendlensParameters {
    int32_t method;       // 0 derivatives, 1 vertex normals, 2 probe rays
    int32_t measure;      // 0 mean, 1 Gaussian, 2 vertex-interpolated
    int32_t mapping;      // 0 two-sided, 1 positive side, 2 negative side
    float range_max;      // measure that maps to full output on the positive side
    float range_min;      // magnitude of the negative end of the range
    float threshold;      // dead zone of the one-sided mappings
    float contrast;       // middle control value of the contrast curve
    int32_t use_contrast; // nonzero: shape the normalised value with the curve
    float samples;        // number of probe rays (method 2)
    float probe_scale;    // inverse jitter radius and scale of the mean angle (method 2)
};

static_assert(sizeof(BendlensParameters) == 40, "ten packed 4-byte fields");
static_assert(offsetof(BendlensParameters, method) == 0, "layout");
static_assert(offsetof(BendlensParameters, measure) == 4, "layout");
static_assert(offsetof(BendlensParameters, mapping) == 8, "layout");
static_assert(offsetof(BendlensParameters, range_max) == 12, "layout");
static_assert(offsetof(BendlensParameters, range_min) == 16, "layout");
static_assert(offsetof(BendlensParameters, threshold) == 20, "layout");
static_assert(offsetof(BendlensParameters, contrast) == 24, "layout");
static_assert(offsetof(BendlensParameters, use_contrast) == 28, "layout");
static_assert(offsetof(BendlensParameters, samples) == 32, "layout");
static_assert(offsetof(BendlensParameters, probe_scale) == 36, "layout");
