#include "mapping/output.h"

#include "shader/parameter_rule.h"

namespace bl {
namespace {

struct Range {
    float max;       // full output on the positive side
    float lo;        // the negative end, -range_min
    float threshold; // dead zone edge of the one-sided mappings
    bool curve;      // shape with the contrast curve
};

float contrast_curve(float t, float control[3]) {
    return mi_spline(t, 3, control);
}

// 0.5 stands for flat; the positive side climbs to 1 at max, the negative side
// falls to 0 at lo. No clamping: a curve may carry the value out of 0 to 1.
float two_sided(float h, const Range& range, float control[3]) {
    if (h > range.max) {
        return 1.0f;
    }
    if (h < range.lo) {
        return 0.0f;
    }
    if (h > 0.0f) {
        float t = h / range.max;
        if (range.curve) {
            t = contrast_curve(t, control);
        }
        return float(double(t * 0.5f) + 0.5);
    }
    // A zero-width negative side would make flat read 0/0; flat is flat.
    float t = (h == 0.0f && range.lo == 0.0f) ? 0.0f : h / range.lo;
    if (range.curve) {
        t = contrast_curve(t, control);
    }
    return float(0.5 - double(t * 0.5f));
}

float shaped(float t, const Range& range, float control[3]) {
    if (range.curve) {
        t = contrast_curve(t, control);
        if (t > 1.0f) {
            t = 1.0f;
        }
    }
    return t;
}

float positive_side(float h, const Range& range, float control[3]) {
    const float a = range.threshold;
    if (h > a && h < range.max) {
        const float d = h - a;
        return d > 0.0f ? shaped(d / (range.max - a), range, control) : 0.0f;
    }
    return h >= range.max ? 1.0f : 0.0f;
}

// The mirror of the positive side about zero, with -threshold as the edge.
float negative_side(float h, const Range& range, float control[3]) {
    const float edge = -range.threshold;
    if (h < edge && h > range.lo) {
        const float d = h - edge;
        return d < 0.0f ? shaped(d / (range.lo - edge), range, control) : 0.0f;
    }
    return h <= range.lo ? 1.0f : 0.0f;
}

} // namespace

OutputSettings read_output_settings(RenderState& state, const BendlensParameters& params,
                                    Platform platform) {
    OutputSettings settings;
    settings.range_max = read_parameter(&state, &params.range_max, platform);
    settings.range_min = read_parameter(&state, &params.range_min, platform);
    settings.mapping = read_parameter(&state, &params.mapping, platform);
    settings.threshold = read_parameter(&state, &params.threshold, platform);
    settings.use_contrast = read_parameter(&state, &params.use_contrast, platform);
    settings.contrast = read_parameter(&state, &params.contrast, platform);
    return settings;
}

bool map_measure(float h, const OutputSettings& settings, float control[3], float& output) {
    Range range{settings.range_max, -settings.range_min, settings.threshold,
                settings.use_contrast != 0};
    // A dead zone outside the range is dropped.
    if (range.threshold > range.max || range.lo > range.threshold) {
        range.threshold = 0.0f;
    }
    control[1] = settings.contrast;
    switch (settings.mapping) {
    case mapping_two_sided:
        output = two_sided(h, range, control);
        return true;
    case mapping_positive:
        output = positive_side(h, range, control);
        return true;
    case mapping_negative:
        output = negative_side(h, range, control);
        return true;
    default:
        return false;
    }
}

void write_output(Colour& result, float h, const OutputSettings& settings, float control[3]) {
    float value = 0.0f;
    if (!map_measure(h, settings, control, value)) {
        return;
    }
    result.r = value;
    result.g = value;
    result.b = value;
}

} // namespace bl
