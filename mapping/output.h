// Mapping of the curvature value through the user's range into a grey value.
#pragma once

#include <cstdint>

#include "shader/parameters.h"
#include "shader/renderer.h"

namespace bl {

enum Mapping : int32_t { mapping_two_sided = 0, mapping_positive = 1, mapping_negative = 2 };

// The six mapping parameters, read together before any is tested.
struct OutputSettings {
    float range_max;
    float range_min;
    int32_t mapping;
    float threshold;
    int32_t use_contrast;
    float contrast;
};

// Reads range_max, range_min, mapping, threshold, use_contrast and contrast,
// in that order, each through the connected-parameter rule.
OutputSettings read_output_settings(RenderState& state, const BendlensParameters& params,
                                    Platform platform);

// The output value for h, or false when the mapping is not one of 0 to 2 and
// nothing is to be written. control holds the curve's three control values
// {0, contrast, 1}; the curve is evaluated by the renderer's mi_spline.
bool map_measure(float h, const OutputSettings& settings, float control[3], float& output);

// Maps h and writes it into r, g and b of result; alpha is never touched.
void write_output(Colour& result, float h, const OutputSettings& settings, float control[3]);

} // namespace bl
