// Inputs on which every float and double step of the three estimators shows in
// the output bits: forming any one step at another precision, or summing in
// another order, moves the result by at least one unit in the last place.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "curvature/analytic.h"
#include "curvature/mesh.h"
#include "curvature/probe.h"
#include "tests/fake_renderer.h"

namespace {

using bl::CurvatureEstimate;
using fake::bits;

struct DerivativeRow {
    Vector normal;
    Vector derivs[5]; // Pu, Pv, Puu, Pvv, Puv
    uint32_t k1, k2;
};

// Nn*L nearly cancels M^2 here, so L summed in another order or M^2 rounded to
// float moves k1 by tens to hundreds of units; float sqrt(d) and q, by one or two.
// Expected: float steps rounded once from exact Python Fractions, double steps in Python doubles.
const DerivativeRow derivative_rows[] = {
    {{1.9f, -0.9f, 1.0f},
     {{-0.9f, 0.2f, 0.8f},
      {1.2f, -0.7f, 0.4f},
      {-1.7f, 1.9f, -1.6f},
      {-0.1f, 1.5f, -0.9f},
      {1.0f, -0.1f, 2.0f}},
     0xbad0bd7a,
     0xbff1554f},
    {{1.6f, 2.0f, 1.0f},
     {{-0.4f, -1.1f, 1.9f},
      {-1.6f, 0.2f, -1.5f},
      {0.4f, 0.1f, 0.6f},
      {1.9f, 1.0f, 0.9f},
      {-0.4f, -1.5f, 0.7f}},
     0xbabff61a,
     0x3ee412c0},
};

TEST(RoundingSteps, DerivativeEstimator) {
    for (const DerivativeRow& row : derivative_rows) {
        fake::Scene s;
        s.state.normal = row.normal;
        std::copy(std::begin(row.derivs), std::end(row.derivs), s.derivs);
        const CurvatureEstimate e = bl::estimate_from_derivatives(s.state);
        EXPECT_EQ(bits(e.k1), row.k1) << row.normal.x;
        EXPECT_EQ(bits(e.k2), row.k2) << row.normal.x;
    }
}

struct TriangleRow {
    Vector positions[3];
    Vector normals[3];
    std::array<uint32_t, 3> vertex;
};

// The flat normal is +z. Rounding the area to float before the x100, or
// forming acos, x10 and the division in float, moves each value by 1 or 2.
// Expected: as above, with acos from Python's math; unmoved if acos errs by 3 ulps.
const TriangleRow triangle_rows[] = {
    {{{1.5f, 0.6f, 0.0f}, {0.8f, 0.3f, 0.0f}, {-1.2f, 1.4f, 0.0f}},
     {{0.28f, 0.0f, 0.96f}, {0.96f, 0.0f, 0.28f}, {0.6f, 0.8f, 0.0f}},
     {0x3d29b24d, 0x3e40648b, 0x3e6ad11d}},
    {{{-0.3f, -1.2f, 0.0f}, {-0.2f, 1.2f, 0.0f}, {1.0f, -0.2f, 0.0f}},
     {{0.6f, 0.0f, 0.8f}, {0.0f, 0.6f, 0.8f}, {0.6f, 0.8f, 0.0f}},
     {0x3d2e8e15, 0x3d2e8e15, 0x3dd50bb8}},
};

TEST(RoundingSteps, TriangleEstimator) {
    for (const TriangleRow& row : triangle_rows) {
        fake::Renderer renderer;
        TriangleRow t = row;
        renderer.tri_vectors = [&t](RenderState*, int which, Vector** a, Vector** b, Vector** c) {
            Vector* v = which == 'n' ? t.normals : t.positions;
            *a = &v[0];
            *b = &v[1];
            *c = &v[2];
            return Boolean(1);
        };
        fake::Scene s;
        const CurvatureEstimate e = bl::estimate_from_triangle(s.state);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(bits(e.vertex[i]), row.vertex[size_t(i)]) << row.positions[0].x << " " << i;
        }
    }
}

struct ProbeRow {
    Platform platform;
    float scale;
    std::vector<std::array<double, 2>> pairs;
    std::string outcomes; // h: hit, m: miss, n: a hit that leaves child null
    uint32_t estimate;
};

// Normal (0.36, 0.48, 0.8); each probe lands on a surface facing straight back
// along it. The float sum S, the radius on the rounded float, S/divisor*m and
// (Mac) the null-child hit, which is neither measured nor counted, each show.
// Expected: as above, acos, cos and sin from Python's math, unmoved by 3-ulp errors.
const ProbeRow probe_rows[] = {
    {Platform::windows,
     0.3f,
     {{0.7, 0.8}, {0.3, 0.1}, {0.1, 0.4}, {0.5, 0.2}, {0.6, 0.8}, {0.8, 0.9}, {0.5, 0.9}},
     "hmhhhhh",
     0xbe697934},
    {Platform::windows,
     0.7f,
     {{0.7, 0.6}, {0.4, 0.3}, {0.1, 0.2}, {0.6, 0.9}, {0.5, 0.9}, {0.8, 0.7}, {0.3, 0.4}},
     "hmhhhhh",
     0xbdea2857},
    {Platform::macos, 0.7f, {{0.1, 0.8}, {0.6, 0.4}, {0.8, 0.7}, {0.6, 0.4}}, "hnhh", 0xbe61044e},
};

TEST(RoundingSteps, ProbeEstimator) {
    for (const ProbeRow& row : probe_rows) {
        fake::Renderer renderer;
        renderer.sample = [&row](double* pair, int* instance, RenderState*, uint32_t* count) {
            if (size_t(*instance) >= row.pairs.size() || uint32_t(*instance) >= *count) {
                return Boolean(0);
            }
            pair[0] = row.pairs[size_t(*instance)][0];
            pair[1] = row.pairs[size_t(*instance)][1];
            ++*instance;
            return Boolean(1);
        };
        RenderState child{};
        size_t probe = 0;
        renderer.trace_probe = [&](RenderState* state, Vector* d, Vector*) {
            const char outcome = row.outcomes[probe++];
            child.normal = {-d->x, -d->y, -d->z};
            state->child = outcome == 'h' ? &child : nullptr;
            return Boolean(outcome != 'm');
        };
        fake::Scene s;
        s.params = fake::plain_parameters(2, 0);
        s.state.normal = {0.36f, 0.48f, 0.8f};
        s.params.samples = float(row.pairs.size());
        s.params.probe_scale = row.scale;
        const CurvatureEstimate e = bl::estimate_from_probes(s.state, s.params, row.platform);
        EXPECT_EQ(bits(e.k1), row.estimate) << row.outcomes << " " << row.scale;
        EXPECT_EQ(bits(e.k2), row.estimate) << row.outcomes << " " << row.scale;
        EXPECT_EQ(probe, row.outcomes.size());
    }
}

} // namespace
