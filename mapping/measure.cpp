#include "mapping/measure.h"

#include <cmath>

namespace bl {
namespace {

// The Gaussian measure's product, formed in its order. A factor of exactly zero
// makes it zero even when the other factors' product has overflowed to
// infinity (the vertex values of a triangle of tiny area, or k2 of a nearly
// degenerate parametrisation), where the float product would read 0 times
// infinity as NaN. A NaN factor still gives NaN.
float gaussian(float partial, float factor) {
    const float value = partial * factor;
    if (std::isnan(value) && !std::isnan(partial) && !std::isnan(factor)) {
        return 0.0f;
    }
    return value;
}

float vertex_measure(const float v[3], int32_t measure, const float bary[3]) {
    switch (measure) {
    case measure_mean:
        return (v[1] + v[0] + v[2]) / 3.0f;
    case measure_gaussian:
        return gaussian(gaussian(v[1], v[0]), v[2]);
    case measure_interpolated:
        return v[1] * bary[1] + v[0] * bary[0] + v[2] * bary[2];
    default:
        return 0.0f;
    }
}

// The surface estimators report curvature with the sign of a normal that
// points away from the centre, so the mean is negated to read positive on
// convex shapes.
float principal_measure(float k1, float k2, int32_t measure) {
    switch (measure) {
    case measure_mean:
    case measure_interpolated:
        return -((k1 + k2) * 0.5f);
    case measure_gaussian:
        return gaussian(k1, k2);
    default:
        return 0.0f;
    }
}

} // namespace

float select_measure(const CurvatureEstimate& estimate, int32_t method, int32_t measure,
                     const float bary[3]) {
    if (method == 1) {
        return vertex_measure(estimate.vertex, measure, bary);
    }
    return principal_measure(estimate.k1, estimate.k2, measure);
}

} // namespace bl
