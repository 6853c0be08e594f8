#include "curvature/probe.h"

#include <cmath>

#include "curvature/vector_steps.h"
#include "shader/parameter_rule.h"

namespace bl {
namespace {

constexpr double pi = 3.141592653589793;

// A point of the unit sphere drawn from the sample pair, shrunk by jitter and
// added to the base direction. The sum is deliberately left unnormalised.
Vector probe_direction(const double pair[2], float jitter, const Vector& base) {
    const double w = 2.0 * pair[0] - 1.0;
    const double rho = std::sqrt(1.0 - w * w);
    const double phi = pair[1] * 2.0 * pi;
    return Vector{float(std::cos(phi) * rho) * jitter + base.x,
                  float(std::sin(phi) * rho) * jitter + base.y, float(w) * jitter + base.z};
}

struct AngleSum {
    float sum = 0.0f;
    int32_t hits = 0;
};

AngleSum trace_probes(RenderState& state, Vector origin, const Vector& base, float jitter,
                      uint32_t& count) {
    AngleSum total;
    double pair[2] = {0.0, 0.0};
    int instance = 0;
    while (mi_sample(pair, &instance, &state, 2, &count)) {
        Vector direction = probe_direction(pair, jitter, base);
        if (!mi_trace_probe(&state, &direction, &origin)) {
            continue; // a miss adds nothing
        }
        const RenderState* child = state.child;
        if (child == nullptr) {
            continue; // a hit the renderer did not describe cannot be measured
        }
        const float cosine = clamp_cosine(dot_xyz(child->normal, state.normal));
        total.sum = float(double(total.sum) + std::acos(double(cosine)));
        total.hits += 1;
    }
    return total;
}

} // namespace

uint32_t probe_count(float samples) {
    if (!(samples >= 1.0f)) {
        return 0; // below one, negative or NaN
    }
    if (samples >= 4294967296.0f) {
        return UINT32_MAX;
    }
    return uint32_t(samples);
}

CurvatureEstimate estimate_from_probes(RenderState& state, const BendlensParameters& params,
                                       Platform platform) {
    uint32_t count = probe_count(read_parameter(&state, &params.samples, platform));
    const float scale = read_parameter(&state, &params.probe_scale, platform);

    const Vector saved_origin = state.ray_origin;
    void* const saved_primitive = state.primitive;
    state.primitive = nullptr;

    // Probes start one normal length above the hit point.
    const Vector origin{state.point.x + state.normal.x, state.point.y + state.normal.y,
                        state.point.z + state.normal.z};
    state.ray_origin = origin;
    const Vector base = unit_length(Vector{-state.normal.x, -state.normal.y, -state.normal.z});
    const float jitter = 1.0f / scale;

    // A probe_scale of zero (or one whose reciprocal overflows) would hand the
    // renderer non-finite directions: trace nothing then.
    AngleSum total;
    if (std::isfinite(jitter)) {
        total = trace_probes(state, origin, base, jitter, count);
    }

    state.primitive = saved_primitive;
    state.ray_origin = saved_origin;

    CurvatureEstimate estimate;
    if (!std::isfinite(jitter)) {
        return estimate;
    }
    // Windows averages over every probe drawn (misses as zero angles), the Mac
    // over the probes that landed.
    const float divisor = platform == Platform::windows ? float(count) : float(total.hits);
    if (divisor == 0.0f) {
        return estimate;
    }
    const float value = -(total.sum / divisor * scale);
    estimate.k1 = value;
    estimate.k2 = value;
    return estimate;
}

} // namespace bl
