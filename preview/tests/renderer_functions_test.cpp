// The preview's five renderer functions against what the shader relies on,
// and against the behaviour each one documents.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "preview/host/host_state.h"
#include "preview/scene/scene.h"

namespace {

using preview::HostState;

// A sphere of radius 1 at the origin, with a state at its top (0, 1, 0).
struct SphereFixture {
    preview::Scene scene;
    preview::Instance instance;
    HostState host;
    HostState child;

    SphereFixture() {
        std::string error;
        scene.add_surface("sphere", preview::Surface{preview::SurfaceKind::sphere, 1, 1, 1},
                          {0, 0, 0}, 64);
        EXPECT_TRUE(scene.commit(error)) << error;
        preview::link_instance(instance);
        host.scene = &scene;
        host.instance = &instance;
        host.probe_child = &child;
        preview::Hit hit;
        EXPECT_TRUE(scene.intersect({0.1f, 3.0f, 0.05f}, {0.0f, -1.0f, 0.0f}, nullptr, hit));
        preview::load_hit(hit, host);
        host.state.shader = &instance.record;
    }
};

TEST(Spline, IsTheIdentityForAMiddleValueOfOneHalf) {
    float control[3] = {0.0f, 0.5f, 1.0f};
    for (int i = 0; i <= 100; ++i) {
        const float t = float(i) / 100.0f;
        EXPECT_NEAR(mi_spline(t, 3, control), t, 1e-6f) << t;
    }
}

TEST(Spline, PassesThroughItsControlsAndStaysMonotoneInRange) {
    for (float c : {0.0f, 0.1f, 0.3f, 0.7f, 0.9f, 1.0f}) {
        float control[3] = {0.0f, c, 1.0f};
        EXPECT_NEAR(mi_spline(0.0f, 3, control), 0.0f, 1e-6f);
        EXPECT_NEAR(mi_spline(0.5f, 3, control), c, 1e-6f);
        EXPECT_NEAR(mi_spline(1.0f, 3, control), 1.0f, 1e-6f);
        float previous = -1.0f;
        for (int i = 0; i <= 200; ++i) {
            const float value = mi_spline(float(i) / 200.0f, 3, control);
            EXPECT_GE(value, previous) << "c " << c;
            EXPECT_GE(value, 0.0f);
            EXPECT_LE(value, 1.0f);
            previous = value;
        }
        // Outside [0, 1] the ends hold; NaN stays NaN.
        EXPECT_EQ(mi_spline(-3.0f, 3, control), mi_spline(0.0f, 3, control));
        EXPECT_EQ(mi_spline(7.0f, 3, control), mi_spline(1.0f, 3, control));
        EXPECT_TRUE(std::isnan(mi_spline(NAN, 3, control)));
    }
    float one = 0.25f;
    EXPECT_EQ(mi_spline(0.8f, 1, &one), 0.25f);
    EXPECT_EQ(mi_spline(0.8f, 0, &one), 0.8f);
    EXPECT_EQ(mi_spline(0.8f, 3, nullptr), 0.8f);
}

TEST(Sample, DrawsCountPairsInTheUnitSquareThenStops) {
    HostState host;
    host.sample_seed = 7;
    double pair[2];
    int instance = 0;
    uint32_t count = 5;
    int drawn = 0;
    while (mi_sample(pair, &instance, &host.state, 2, &count)) {
        EXPECT_GE(pair[0], 0.0);
        EXPECT_LT(pair[0], 1.0);
        EXPECT_GE(pair[1], 0.0);
        EXPECT_LT(pair[1], 1.0);
        ++drawn;
    }
    EXPECT_EQ(drawn, 5);
    EXPECT_EQ(instance, 5);
    EXPECT_EQ(count, 5u);
    count = 0;
    instance = 0;
    EXPECT_FALSE(mi_sample(pair, &instance, &host.state, 2, &count));
    EXPECT_FALSE(mi_sample(pair, &instance, &host.state, 3, &count));
    EXPECT_FALSE(mi_sample(nullptr, &instance, &host.state, 2, &count));
}

TEST(Sample, CapsTheCountAndWritesTheCapBack) {
    HostState host;
    double pair[2];
    int instance = 0;
    uint32_t count = 4294967295u;
    int drawn = 0;
    while (mi_sample(pair, &instance, &host.state, 2, &count)) {
        ++drawn;
    }
    EXPECT_EQ(count, 4096u);
    EXPECT_EQ(drawn, 4096);
}

TEST(Sample, CoversTheSquareEvenlyAndDiffersBetweenSeeds) {
    // 256 R2 points put between 8 and 24 into each of 16 equal cells (a
    // random set often misses that); a different seed shifts every point.
    HostState a, b;
    a.sample_seed = 1;
    b.sample_seed = 2;
    int cells[16] = {};
    int instance_a = 0, instance_b = 0;
    uint32_t count = 256;
    double pa[2], pb[2];
    int same = 0;
    while (mi_sample(pa, &instance_a, &a.state, 2, &count)) {
        ASSERT_TRUE(mi_sample(pb, &instance_b, &b.state, 2, &count));
        cells[int(pa[0] * 4) * 4 + int(pa[1] * 4)]++;
        same += pa[0] == pb[0] || pa[1] == pb[1];
    }
    for (int c : cells) {
        EXPECT_GE(c, 8);
        EXPECT_LE(c, 24);
    }
    EXPECT_EQ(same, 0);
    // The same seed repeats the same points, whichever thread asks.
    HostState again;
    again.sample_seed = 1;
    int instance = 0;
    count = 1;
    double first[2];
    ASSERT_TRUE(mi_sample(first, &instance, &again.state, 2, &count));
    instance_a = 0;
    ASSERT_TRUE(mi_sample(pa, &instance_a, &a.state, 2, &count));
    EXPECT_EQ(first[0], pa[0]);
    EXPECT_EQ(first[1], pa[1]);
}

TEST(TriVectors, GivesTheHitTrianglesVertexNormalsAndPositions) {
    SphereFixture f;
    Vector *a = nullptr, *b = nullptr, *c = nullptr;
    ASSERT_TRUE(mi_tri_vectors(&f.host.state, 'p', 1, &a, &b, &c));
    const Vector pa = *a, pb = *b, pc = *c;
    ASSERT_TRUE(mi_tri_vectors(&f.host.state, 'n', 1, &a, &b, &c));
    // On the unit sphere the exact vertex normal is the vertex position.
    for (const auto& [p, n] : {std::pair{pa, *a}, std::pair{pb, *b}, std::pair{pc, *c}}) {
        EXPECT_NEAR(n.x, p.x, 1e-5f);
        EXPECT_NEAR(n.y, p.y, 1e-5f);
        EXPECT_NEAR(n.z, p.z, 1e-5f);
    }
    // The state's weights rebuild the hit from the positions.
    const float* w = f.host.state.bary;
    const float x = w[0] * pa.x + w[1] * pb.x + w[2] * pc.x;
    const float z = w[0] * pa.z + w[1] * pb.z + w[2] * pc.z;
    EXPECT_NEAR(x, 0.1f, 1e-5f);
    EXPECT_NEAR(z, 0.05f, 1e-5f);
}

TEST(TriVectors, IsFalseWithoutATriangleAndLeavesThePointersAlone) {
    SphereFixture f;
    Vector marker{};
    Vector *a = &marker, *b = &marker, *c = &marker;
    EXPECT_FALSE(mi_tri_vectors(&f.host.state, 'x', 1, &a, &b, &c));
    EXPECT_FALSE(mi_tri_vectors(&f.host.state, 'n', 2, &a, &b, &c));
    f.host.state.primitive = nullptr;
    EXPECT_FALSE(mi_tri_vectors(&f.host.state, 'n', 1, &a, &b, &c));
    EXPECT_EQ(a, &marker);
    EXPECT_EQ(b, &marker);
    EXPECT_EQ(c, &marker);
    EXPECT_FALSE(mi_tri_vectors(nullptr, 'n', 1, &a, &b, &c));
}

TEST(TriVectors, IsFalseOnAFreeFormSurface) {
    preview::Scene scene;
    std::string error;
    scene.add_surface("torus", preview::Surface{preview::SurfaceKind::torus, 0.8, 0.35, 1},
                      {0, 0, 0}, 32, true);
    ASSERT_TRUE(scene.commit(error)) << error;
    preview::Hit hit;
    ASSERT_TRUE(scene.intersect({0.0f, 2.0f, 0.8f}, {0.0f, -1.0f, 0.0f}, nullptr, hit));
    HostState host;
    preview::load_hit(hit, host);
    ASSERT_NE(host.state.primitive, nullptr); // a surface is there, just no triangle data
    Vector *a = nullptr, *b = nullptr, *c = nullptr;
    EXPECT_FALSE(mi_tri_vectors(&host.state, 'n', 1, &a, &b, &c));
    EXPECT_FALSE(mi_tri_vectors(&host.state, 'p', 1, &a, &b, &c));
    EXPECT_EQ(a, nullptr);
    // The exact derivatives are still there for method 0.
    EXPECT_NE(host.state.derivs, nullptr);
}

TEST(TraceProbe, FillsTheChildWithTheHitsShadingNormal) {
    SphereFixture f;
    f.host.state.primitive = nullptr; // as the shader sets it while probing
    Vector origin{0.0f, 2.0f, 0.0f};
    Vector direction{0.3f, -1.0f, 0.1f}; // not normalised, as the shader sends it
    ASSERT_TRUE(mi_trace_probe(&f.host.state, &direction, &origin));
    ASSERT_EQ(f.host.state.child, &f.child.state);
    const RenderState& child = *f.host.state.child;
    // On the unit sphere the shading normal is the point, and unit length.
    EXPECT_NEAR(child.normal.x, child.point.x, 1e-5f);
    EXPECT_NEAR(child.normal.y, child.point.y, 1e-5f);
    EXPECT_NEAR(child.normal.z, child.point.z, 1e-5f);
    EXPECT_GT(child.point.x, 0.0f);
    EXPECT_GT(child.point.y, 0.8f);
    EXPECT_NE(child.primitive, nullptr);
    // The child's ray came from the probe's origin; the parent keeps its own.
    EXPECT_EQ(child.ray_origin.y, 2.0f);
    EXPECT_EQ(f.host.state.ray_origin.y, 3.0f);
}

TEST(TraceProbe, SkipsThePrimitiveUnderThePointOnlyWhileItIsNamed) {
    SphereFixture f;
    Vector origin = f.host.state.point;
    origin.y += 1.0f;
    Vector down{0.0f, -1.0f, 0.0f};
    // With the state's primitive set, the triangle under the point is
    // skipped and the probe goes on to the far side of the sphere.
    ASSERT_TRUE(mi_trace_probe(&f.host.state, &down, &origin));
    EXPECT_LT(f.child.state.point.y, -0.9f);
    // With a null primitive it may be hit.
    f.host.state.primitive = nullptr;
    ASSERT_TRUE(mi_trace_probe(&f.host.state, &down, &origin));
    EXPECT_GT(f.child.state.point.y, 0.9f);
}

TEST(TraceProbe, MissesAndUnusableRaysAreFalseAndKeepTheChild) {
    SphereFixture f;
    f.host.state.child = nullptr;
    Vector origin{0.0f, 2.0f, 0.0f};
    Vector up{0.0f, 1.0f, 0.0f};
    EXPECT_FALSE(mi_trace_probe(&f.host.state, &up, &origin));
    Vector infinite{INFINITY, -1.0f, 0.0f};
    EXPECT_FALSE(mi_trace_probe(&f.host.state, &infinite, &origin));
    Vector nan{NAN, -1.0f, 0.0f};
    EXPECT_FALSE(mi_trace_probe(&f.host.state, &nan, &origin));
    Vector zero{0.0f, 0.0f, 0.0f};
    EXPECT_FALSE(mi_trace_probe(&f.host.state, &zero, &origin));
    EXPECT_EQ(f.host.state.child, nullptr);
}

TEST(PhenEval, ReadsConnectedParametersFromTheSurfaceCoordinates) {
    SphereFixture f;
    f.instance.block.params.range_max = 9.0f;
    f.instance.connections[3] = {preview::Connection::u, 2.0f, 4.0f}; // range_max
    f.instance.connections[0] = {preview::Connection::v, 0.0f, 3.0f}; // method
    preview::link_instance(f.instance);
    EXPECT_NE(f.instance.block.tags[3], 0u);
    EXPECT_EQ(f.instance.block.tags[4], 0u);
    EXPECT_EQ(f.instance.record.indirection_offset, int32_t(sizeof(BendlensParameters)));
    f.host.u = 0.25f;
    f.host.v = 0.7f;
    BendlensParameters& p = f.instance.block.params;
    const float* range = static_cast<float*>(mi_phen_eval(&f.host.state, &p.range_max));
    EXPECT_FLOAT_EQ(*range, 2.5f);
    const int32_t* method = static_cast<int32_t*>(mi_phen_eval(&f.host.state, &p.method));
    EXPECT_EQ(*method, 2); // floor(2.1)
    // Unconnected parameters, and addresses outside the block, read in place.
    EXPECT_EQ(mi_phen_eval(&f.host.state, &p.range_min), &p.range_min);
    float elsewhere = 1.0f;
    EXPECT_EQ(mi_phen_eval(&f.host.state, &elsewhere), &elsewhere);
}

} // namespace
