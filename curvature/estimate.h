// What an estimator hands to the output stage.
#pragma once

namespace bl {

// k1 and k2 are set by the derivative and probe estimators; vertex (one value
// per triangle vertex a, b, c) by the vertex-normal estimator. Whatever an
// estimator does not set stays zero.
struct CurvatureEstimate {
    float k1 = 0.0f;
    float k2 = 0.0f;
    float vertex[3] = {0.0f, 0.0f, 0.0f};
};

} // namespace bl
