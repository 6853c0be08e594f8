#include "shader/shade.h"

#include "curvature/analytic.h"
#include "curvature/mesh.h"
#include "curvature/probe.h"
#include "mapping/measure.h"
#include "mapping/output.h"
#include "shader/parameter_rule.h"

namespace bl {
namespace {

CurvatureEstimate run_estimator(int32_t method, RenderState& state,
                                const BendlensParameters& params, Platform platform) {
    switch (method) {
    case method_derivatives:
        return estimate_from_derivatives(state);
    case method_triangle:
        return estimate_from_triangle(state);
    case method_probes:
        return estimate_from_probes(state, params, platform);
    default:
        return CurvatureEstimate{};
    }
}

} // namespace

Boolean shade(Colour* result, RenderState* state, const BendlensParameters* params,
              Platform platform) {
    if (result == nullptr || state == nullptr || params == nullptr) {
        return 1;
    }
    // The curve's control values; the middle one is filled in once contrast
    // has been read.
    float control[3] = {0.0f, 0.0f, 1.0f};

    const int32_t measure = read_parameter(state, &params->measure, platform);
    const int32_t method = read_parameter(state, &params->method, platform);
    const CurvatureEstimate estimate = run_estimator(method, *state, *params, platform);

    const OutputSettings settings = read_output_settings(*state, *params, platform);
    const float h = select_measure(estimate, method, measure, state->bary);
    write_output(*result, h, settings, control);
    return 1;
}

} // namespace bl
