// Measure selection and the three output mappings.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "mapping/measure.h"
#include "mapping/output.h"
#include "tests/fake_renderer.h"

namespace {

using bl::OutputSettings;
using fake::bits;

const float nan = std::numeric_limits<float>::quiet_NaN();

OutputSettings settings(int32_t mapping, float threshold = 0.0f, float range_min = 1.0f) {
    return OutputSettings{1.0f, range_min, mapping, threshold, 0, 0.5f};
}

float mapped(float h, const OutputSettings& s) {
    float control[3] = {0.0f, 0.0f, 1.0f};
    float out = -1.0f;
    EXPECT_TRUE(bl::map_measure(h, s, control, out));
    return out;
}

struct Row {
    float h, expected;
};

TEST(MappingRanges, TwoSided) {
    fake::Renderer renderer;
    const Row rows[] = {{0.5f, 0.75f}, {-0.5f, 0.25f}, {0.0f, 0.5f},  {1.0f, 1.0f},
                        {2.0f, 1.0f},  {-2.0f, 0.0f},  {-1.0f, 0.0f}, {-0.0f, 0.5f}};
    for (const Row& r : rows) {
        EXPECT_EQ(mapped(r.h, settings(0)), r.expected) << "h " << r.h;
    }
    EXPECT_TRUE(renderer.calls.empty());
}

TEST(MappingRanges, PositiveSide) {
    fake::Renderer renderer;
    const Row rows[] = {{0.625f, 0.5f}, {0.25f, 0.0f}, {0.1f, 0.0f}, {1.0f, 1.0f},
                        {1.5f, 1.0f},   {-3.0f, 0.0f}, {nan, 0.0f}};
    for (const Row& r : rows) {
        EXPECT_EQ(mapped(r.h, settings(1, 0.25f)), r.expected) << "h " << r.h;
    }
}

TEST(MappingRanges, NegativeSide) {
    fake::Renderer renderer;
    const Row rows[] = {{-0.625f, 0.5f}, {-0.25f, 0.0f}, {-1.0f, 1.0f}, {-3.0f, 1.0f},
                        {0.5f, 0.0f},    {3.0f, 0.0f},   {nan, 0.0f}};
    for (const Row& r : rows) {
        EXPECT_EQ(mapped(r.h, settings(2, 0.25f)), r.expected) << "h " << r.h;
    }
}

TEST(MappingRanges, NegativeDeadZoneMovesBothRampsAcrossZero) {
    fake::Renderer renderer;
    EXPECT_FLOAT_EQ(mapped(0.0f, settings(1, -0.5f)), 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(mapped(0.0f, settings(2, -0.5f)), 1.0f / 3.0f);
}

TEST(MappingRanges, DeadZoneOutsideTheRangeIsDropped) {
    fake::Renderer renderer;
    // Above range_max: mapping 1 starts at 0 again.
    EXPECT_EQ(mapped(0.5f, settings(1, 2.0f)), 0.5f);
    // Below the negative end.
    EXPECT_EQ(mapped(0.5f, settings(1, -2.0f)), 0.5f);
    EXPECT_EQ(mapped(-0.5f, settings(2, -2.0f)), 0.5f);
}

TEST(MappingRanges, NaNFallsThroughTwoSided) {
    fake::Renderer renderer;
    EXPECT_TRUE(std::isnan(mapped(nan, settings(0))));
}

TEST(MappingRanges, ZeroWidthNegativeSideReadsFlatAsFlat) {
    fake::Renderer renderer;
    EXPECT_EQ(mapped(0.0f, settings(0, 0.0f, 0.0f)), 0.5f);
    EXPECT_EQ(mapped(-0.0f, settings(0, 0.0f, -0.0f)), 0.5f);
    // Only flat is mended: anything below the zero-width side is the bottom.
    EXPECT_EQ(mapped(-0.25f, settings(0, 0.0f, 0.0f)), 0.0f);
    EXPECT_EQ(mapped(0.25f, settings(0, 0.0f, 0.0f)), 0.625f);
}

TEST(MappingRanges, ContrastCurveShapesAndIsClampedOnlyAboveOnOneSide) {
    fake::Renderer renderer;
    renderer.spline = [](float t, float* control) { return t * 4.0f - control[1]; };
    OutputSettings s = settings(0);
    s.use_contrast = 1;
    s.contrast = 0.25f;
    // Two-sided: t = 0.5 -> 1.75 -> 0.5 + 0.875, no clamp.
    EXPECT_EQ(mapped(0.5f, s), 1.375f);
    // Negative side of mapping 0: t = -0.5/-1 = 0.5 -> 1.75 -> 0.5 - 0.875.
    EXPECT_EQ(mapped(-0.5f, s), -0.375f);
    ASSERT_EQ(renderer.count(fake::Kind::spline), 2u);
    EXPECT_EQ(renderer.calls[0].count, 3);
    EXPECT_EQ(renderer.calls[0].control[0], 0.0f);
    EXPECT_EQ(renderer.calls[0].control[1], 0.25f);
    EXPECT_EQ(renderer.calls[0].control[2], 1.0f);
    // One-sided: clamped at 1 from above, never from below.
    s.mapping = 1;
    EXPECT_EQ(mapped(0.5f, s), 1.0f);
    EXPECT_EQ(mapped(0.01f, s), 0.01f * 4.0f - 0.25f);
    s.mapping = 2;
    EXPECT_EQ(mapped(-0.5f, s), 1.0f);
    EXPECT_EQ(mapped(-0.01f, s), 0.01f * 4.0f - 0.25f);
}

TEST(MappingRanges, SumsAndRoundingFollowTheirOrder) {
    fake::Renderer renderer;
    // 0.5 + t*0.5 in double, rounded once: t*0.5 = 2^-25 survives the sum in
    // double but rounds away (to even) in the final float.
    OutputSettings s = settings(0);
    EXPECT_EQ(mapped(0x1p-24f, s), 0.5f);
    // 0.5 - t*0.5 with t just under 1 rounds to the nearest float of the exact
    // double difference.
    const float t = 1.0f - 0x1p-24f;
    EXPECT_EQ(mapped(-t, s), float(0.5 - double(t * 0.5f)));
}

TEST(MeasureSelection, MethodOneUsesTheVertexValues) {
    bl::CurvatureEstimate e;
    e.vertex[0] = 1.0f;
    e.vertex[1] = 2.0f;
    e.vertex[2] = 4.0f;
    e.k1 = 100.0f;
    e.k2 = 100.0f;
    const float bary[3] = {0.5f, 0.25f, 0.25f};
    EXPECT_EQ(bl::select_measure(e, 1, 0, bary), 7.0f / 3.0f);
    EXPECT_EQ(bl::select_measure(e, 1, 1, bary), 8.0f);
    EXPECT_EQ(bl::select_measure(e, 1, 2, bary), 2.0f);
    EXPECT_EQ(bl::select_measure(e, 1, 3, bary), 0.0f);
}

TEST(MeasureSelection, OtherMethodsUsePrincipalCurvatures) {
    bl::CurvatureEstimate e;
    e.k1 = -1.0f;
    e.k2 = -3.0f;
    e.vertex[0] = 100.0f;
    const float bary[3] = {1.0f, 0.0f, 0.0f};
    for (int32_t method : {0, 2, 9}) {
        EXPECT_EQ(bl::select_measure(e, method, 0, bary), 2.0f);
        EXPECT_EQ(bl::select_measure(e, method, 1, bary), 3.0f);
        EXPECT_EQ(bl::select_measure(e, method, 2, bary), 2.0f);
        EXPECT_EQ(bl::select_measure(e, method, -1, bary), 0.0f);
    }
    // The mean of opposite curvatures is -0, which still maps to flat.
    e.k1 = 2.0f;
    e.k2 = -2.0f;
    EXPECT_EQ(bits(bl::select_measure(e, 0, 0, bary)), bits(-0.0f));
}

TEST(MeasureSelection, GaussianWithAZeroFactorIsZeroPastOverflow) {
    const float inf = std::numeric_limits<float>::infinity();
    const float bary[3] = {1.0f, 0.0f, 0.0f};
    bl::CurvatureEstimate e;
    // Two vertex values whose product overflows, and one of zero: 0, not
    // infinity times zero.
    e.vertex[0] = 1e30f;
    e.vertex[1] = 1e30f;
    e.vertex[2] = 0.0f;
    EXPECT_EQ(bits(bl::select_measure(e, 1, 1, bary)), bits(0.0f));
    e.vertex[2] = 1e-30f; // no zero: the overflow stands
    EXPECT_EQ(bl::select_measure(e, 1, 1, bary), inf);
    e.vertex[1] = nan; // a NaN factor still gives NaN
    e.vertex[2] = 0.0f;
    EXPECT_TRUE(std::isnan(bl::select_measure(e, 1, 1, bary)));

    // k1 = 0 with an overflowed k2 (a nearly degenerate parametrisation).
    e.k1 = 0.0f;
    e.k2 = -inf;
    EXPECT_EQ(bl::select_measure(e, 0, 1, bary), 0.0f);
    EXPECT_EQ(bl::select_measure(e, 0, 0, bary), inf); // the mean keeps its infinity
    e.k1 = nan;
    EXPECT_TRUE(std::isnan(bl::select_measure(e, 0, 1, bary)));
}

TEST(MeasureSelection, InterpolationSumsInItsOrder) {
    // (v1*b1 + v0*b0) + v2*b2: with v1*b1 = 1 and v0*b0 = 2^-24, the small
    // term is lost before v2*b2 = -1 cancels the big one.
    bl::CurvatureEstimate e;
    e.vertex[0] = 0x1p-24f;
    e.vertex[1] = 1.0f;
    e.vertex[2] = -1.0f;
    const float bary[3] = {1.0f, 1.0f, 1.0f};
    EXPECT_EQ(bl::select_measure(e, 1, 2, bary), 0.0f);
}

} // namespace
