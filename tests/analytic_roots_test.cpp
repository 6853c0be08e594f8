// Root finding of the derivative estimator, including the degenerate cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "curvature/analytic.h"
#include "tests/fake_renderer.h"

namespace {

using bl::CurvatureEstimate;
using bl::estimate_from_derivatives;
using bl::principal_curvatures;
using fake::bits;

RenderState state_with(Vector* derivs, Vector normal) {
    RenderState state{};
    state.derivs = derivs;
    state.normal = normal;
    return state;
}

TEST(AnalyticRoots, SymmetricSaddle) {
    // E = G = 1, F = 0, L = 2, Nn = -2, M = 0: b = 0, c = -4, d = 16, q = -2.
    Vector d[5] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 2}, {0, 0, -2}, {0, 0, 0}};
    const CurvatureEstimate e = estimate_from_derivatives(state_with(d, {0, 0, 1}));
    EXPECT_EQ(e.k1, 2.0f);
    EXPECT_EQ(e.k2, -2.0f);
}

TEST(AnalyticRoots, FlatPatchIsZeroNotNaN) {
    Vector d[5] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    const CurvatureEstimate e = estimate_from_derivatives(state_with(d, {0, 0, 1}));
    EXPECT_EQ(e.k1, 0.0f);
    EXPECT_EQ(e.k2, 0.0f);
}

TEST(AnalyticRoots, ZeroNormalIsUsedAsItStandsAndReadsFlat) {
    Vector d[5] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 3}, {0, 0, 3}, {0, 0, 1}};
    const CurvatureEstimate e = estimate_from_derivatives(state_with(d, {0, 0, 0}));
    EXPECT_EQ(e.k1, 0.0f);
    EXPECT_EQ(e.k2, 0.0f);
}

TEST(AnalyticRoots, UnnormalisedNormalIsNormalisedForTheCallOnly) {
    Vector d[5] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 2}, {0, 0, -2}, {0, 0, 0}};
    RenderState state = state_with(d, {0, 0, 5});
    const CurvatureEstimate e = estimate_from_derivatives(state);
    EXPECT_EQ(e.k1, 2.0f);
    EXPECT_EQ(e.k2, -2.0f);
    EXPECT_EQ(state.normal.z, 5.0f);
}

TEST(AnalyticRoots, NegativeDiscriminantIsTheDoubleRoot) {
    // a = 1, b = 2, c = 1.0000001: d < 0 by rounding only; the double root -1.
    const CurvatureEstimate e = principal_curvatures(1.0f, 2.0f, 1.0000001f);
    EXPECT_FLOAT_EQ(e.k1, -1.0f);
    EXPECT_EQ(e.k2, -1.0f);
}

TEST(AnalyticRoots, OnlyAnOverflowedDiscriminantIsRescaled) {
    // b*b = 2^202 overflows: scaled by 2^-101, by hand a = c = 1/2 and b = 1
    // give d = 0 and q = -1/2, so k1 = c/q = -1 and k2 = q/a = -1.
    CurvatureEstimate e = principal_curvatures(0x1p100f, 0x1p101f, 0x1p100f);
    EXPECT_EQ(e.k1, -1.0f);
    EXPECT_EQ(e.k2, -1.0f);
    // d finite (1 - 4 = -3, read as 0): the values stand as given. Scaled by
    // 2^-120, c would underflow to 0 and k1 become -0; unscaled, by hand,
    // q = -0.5, k1 = 2^-120 / -0.5 and k2 = -0.5 / 2^120.
    e = principal_curvatures(0x1p120f, 1.0f, 0x1p-120f);
    EXPECT_EQ(bits(e.k1), bits(-0x1p-119f));
    EXPECT_EQ(bits(e.k2), bits(-0x1p-121f));
}

TEST(AnalyticRoots, NaNDiscriminantKeepsItsNaN) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const CurvatureEstimate e = principal_curvatures(1.0f, nan, 1.0f);
    EXPECT_TRUE(std::isnan(e.k1));
    EXPECT_TRUE(std::isnan(e.k2));
}

TEST(AnalyticRoots, DegenerateParametrisationGivesNoEstimate) {
    // Pu parallel to Pv: E*G - F^2 = 0.
    Vector parallel[5] = {{1, 2, 0}, {2, 4, 0}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    CurvatureEstimate e = estimate_from_derivatives(state_with(parallel, {0, 0, 1}));
    EXPECT_EQ(bits(e.k1), bits(0.0f));
    EXPECT_EQ(bits(e.k2), bits(0.0f));
    // A pole: Pv vanishes.
    Vector pole[5] = {{1, 0, 0}, {0, 0, 0}, {0, 0, -1}, {0, 0, -1}, {0, 0, 0}};
    e = estimate_from_derivatives(state_with(pole, {0, 0, 1}));
    EXPECT_EQ(bits(e.k1), bits(0.0f));
    EXPECT_EQ(bits(e.k2), bits(0.0f));
}

TEST(AnalyticRoots, NullDerivativesGiveNoEstimate) {
    const CurvatureEstimate e = estimate_from_derivatives(state_with(nullptr, {0, 0, 1}));
    EXPECT_EQ(bits(e.k1), bits(0.0f));
    EXPECT_EQ(bits(e.k2), bits(0.0f));
}

TEST(AnalyticRoots, SquaresAreExactInDouble) {
    // F = 1 + 2^-12, G = 2 + 2^-11: F*F in float drops its last 2^-24, which
    // would make a = E*G - F^2 exactly 1; squared exactly in double it is
    // 1 - 2^-24.
    const float f = 1.0f + 0x1p-12f;
    Vector d[5] = {{1, 0, 0}, {f, 0, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    // E = 1, F = f, G = f*f + 1 (float) = 1 + f^2 rounded.
    const float g = f * f + 1.0f;
    const float expected_a = float(double(1.0f * g) - double(f) * double(f));
    ASSERT_EQ(expected_a, 1.0f - 0x1p-24f);
    // With Puu = 0, Puv = (0, 0, 1): L = 0, M = 1, Nn = 0 -> b = 2F, c = -1.
    d[4] = {0, 0, 1};
    const CurvatureEstimate e = estimate_from_derivatives(state_with(d, {0, 0, 1}));
    const CurvatureEstimate ref = principal_curvatures(expected_a, -(-(2.0f * f)), -1.0f);
    EXPECT_EQ(bits(e.k1), bits(ref.k1));
    EXPECT_EQ(bits(e.k2), bits(ref.k2));
}

} // namespace
