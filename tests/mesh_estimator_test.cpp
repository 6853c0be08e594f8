// The vertex-normal estimator, through the fake renderer's triangle data.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "curvature/mesh.h"
#include "shader/shade.h"
#include "tests/fake_renderer.h"

namespace {

using bl::CurvatureEstimate;
using bl::estimate_from_triangle;

struct Triangle {
    Vector normals[3];
    Vector positions[3];
};

// Answers mi_tri_vectors from t.
void serve(fake::Renderer& renderer, Triangle& t) {
    renderer.tri_vectors = [&t](RenderState*, int which, Vector** a, Vector** b, Vector** c) {
        Vector* v = which == 'n' ? t.normals : t.positions;
        *a = &v[0];
        *b = &v[1];
        *c = &v[2];
        return Boolean(1);
    };
}

// The right triangle (0,0,0), (1,0,0), (0,1,0): area 0.5, flat normal +z.
Triangle unit_right_triangle() {
    Triangle t;
    for (Vector& n : t.normals) {
        n = Vector{0.0f, 0.0f, 1.0f};
    }
    t.positions[0] = {0.0f, 0.0f, 0.0f};
    t.positions[1] = {1.0f, 0.0f, 0.0f};
    t.positions[2] = {0.0f, 1.0f, 0.0f};
    return t;
}

TEST(MeshEstimator, AsksForNormalsThenPositions) {
    fake::Renderer renderer;
    Triangle t = unit_right_triangle();
    serve(renderer, t);
    fake::Scene s;
    estimate_from_triangle(s.state);
    ASSERT_EQ(renderer.calls.size(), 2u);
    EXPECT_EQ(renderer.calls[0].which, 'n');
    EXPECT_EQ(renderer.calls[0].count, 1);
    EXPECT_EQ(renderer.calls[1].which, 'p');
    EXPECT_EQ(renderer.calls[1].count, 1);
}

TEST(MeshEstimator, RightAngleOnHalfUnitAreaIsPiOverTen) {
    fake::Renderer renderer;
    Triangle t = unit_right_triangle();
    t.normals[1] = {1.0f, 0.0f, 0.0f};
    serve(renderer, t);
    fake::Scene s;
    const CurvatureEstimate e = estimate_from_triangle(s.state);
    EXPECT_EQ(e.vertex[0], 0.0f);
    EXPECT_FLOAT_EQ(e.vertex[1], float(3.141592653589793 / 10.0));
    EXPECT_EQ(e.vertex[2], 0.0f);
}

TEST(MeshEstimator, SlightTiltIsSmallButNotZero) {
    fake::Renderer renderer;
    Triangle t = unit_right_triangle();
    const float third = float(1.0 / std::sqrt(3.0));
    fake::Scene s;
    s.state.geometric_normal = {third, third, third};
    for (Vector& n : t.normals) {
        n = Vector{third, third, third};
    }
    serve(renderer, t);
    const CurvatureEstimate e = estimate_from_triangle(s.state);
    for (float v : e.vertex) {
        EXPECT_GT(v, 0.0f);
        EXPECT_LT(v, 1e-2f);
    }
}

TEST(MeshEstimator, CosinePastOneIsAZeroAngleNotNaN) {
    fake::Renderer renderer;
    Triangle t = unit_right_triangle();
    for (Vector& n : t.normals) {
        n = Vector{0.0f, 0.0f, 1.0000001f};
    }
    t.normals[2] = {0.0f, 0.0f, -1.0000001f};
    serve(renderer, t);
    fake::Scene s;
    const CurvatureEstimate e = estimate_from_triangle(s.state);
    EXPECT_EQ(e.vertex[0], 0.0f);
    EXPECT_EQ(e.vertex[1], 0.0f);
    EXPECT_FLOAT_EQ(e.vertex[2], float(3.141592653589793 / 5.0));
}

TEST(MeshEstimator, CollinearVerticesGiveNoEstimate) {
    fake::Renderer renderer;
    Triangle t = unit_right_triangle();
    t.normals[0] = {1.0f, 0.0f, 0.0f};
    t.positions[2] = {2.0f, 0.0f, 0.0f};
    serve(renderer, t);
    fake::Scene s;
    CurvatureEstimate e = estimate_from_triangle(s.state);
    EXPECT_EQ(e.vertex[0], 0.0f);
    // Nearly collinear, with rounding: still finite and never NaN.
    t.positions[2] = {0.3f, 0.7f, 0.0f};
    t.positions[1] = {0.1f, 0.1f * 7.0f / 3.0f, 0.0f};
    e = estimate_from_triangle(s.state);
    EXPECT_FALSE(std::isnan(e.vertex[0]));
    EXPECT_FALSE(std::isinf(e.vertex[0]));
    // Tiny but real area: large values, as the scaling says.
    t.positions[0] = {0.0f, 0.0f, 0.0f};
    t.positions[1] = {1e-3f, 0.0f, 0.0f};
    t.positions[2] = {0.0f, 1e-3f, 0.0f};
    e = estimate_from_triangle(s.state);
    EXPECT_GT(e.vertex[0], 1e4f);
}

TEST(MeshEstimator, MissingTriangleDataIsNeverReadThrough) {
    fake::Scene s;
    {
        fake::Renderer renderer; // answers false, pointers untouched
        const CurvatureEstimate e = estimate_from_triangle(s.state);
        EXPECT_EQ(e.vertex[0], 0.0f);
        EXPECT_EQ(renderer.calls.size(), 1u);
    }
    {
        // True, but one pointer left null.
        fake::Renderer renderer;
        static Vector v{0, 0, 1};
        renderer.tri_vectors = [](RenderState*, int, Vector** a, Vector** b, Vector**) {
            *a = &v;
            *b = &v;
            return Boolean(1);
        };
        const CurvatureEstimate e = estimate_from_triangle(s.state);
        EXPECT_EQ(e.vertex[1], 0.0f);
    }
    {
        // Normals given, positions refused.
        fake::Renderer renderer;
        static Vector n[3] = {{1, 0, 0}, {1, 0, 0}, {1, 0, 0}};
        renderer.tri_vectors = [](RenderState*, int which, Vector** a, Vector** b, Vector** c) {
            if (which != 'n') {
                return Boolean(0);
            }
            *a = &n[0];
            *b = &n[1];
            *c = &n[2];
            return Boolean(1);
        };
        const CurvatureEstimate e = estimate_from_triangle(s.state);
        EXPECT_EQ(e.vertex[0], 0.0f);
    }
}

TEST(MeshEstimator, MeasuresThroughTheShadingCall) {
    fake::Renderer renderer;
    Triangle t = unit_right_triangle();
    t.normals[0] = {1.0f, 0.0f, 0.0f};  // pi/10 at a
    t.normals[1] = {0.0f, -1.0f, 0.0f}; // pi/10 at b
    serve(renderer, t);
    const float v = float(3.141592653589793 / 2.0 * 10.0 / 50.0);
    struct Expect {
        int32_t measure;
        float h;
    } cases[] = {{0, (v + v + 0.0f) / 3.0f}, {1, 0.0f}, {2, v * 0.25f + v * 0.5f + 0.0f * 0.25f}};
    for (const Expect& c : cases) {
        fake::Scene s;
        s.params = fake::plain_parameters(1, c.measure);
        s.state.bary[0] = 0.5f;
        s.state.bary[1] = 0.25f;
        s.state.bary[2] = 0.25f;
        bl::shade(&s.result, &s.state, &s.params, Platform::windows);
        EXPECT_FLOAT_EQ(s.result.r, c.h * 0.5f + 0.5f) << "measure " << c.measure;
    }
}

TEST(MeshEstimator, TinyTriangleGaussianStaysFinite) {
    // Legs of 1e-11 near (1e-6, 1e-6): Heron's float area is about 1e-22, so
    // the two tilted vertices read about 1e21 each and their product
    // overflows. The third vertex normal is the flat normal (value 0), so the
    // Gaussian is 0 and the two-sided mapping reads flat, not NaN.
    fake::Renderer renderer;
    Triangle t;
    t.positions[0] = {1e-6f, 1e-6f, 0.0f};
    t.positions[1] = {1e-6f + 1e-11f, 1e-6f, 0.0f};
    t.positions[2] = {1e-6f, 1e-6f + 1e-11f, 0.0f};
    t.normals[0] = {0.0f, 1.0f, 0.0f};
    t.normals[1] = {1.0f, 0.0f, 0.0f};
    t.normals[2] = {0.0f, 0.0f, 1.0f};
    serve(renderer, t);
    fake::Scene s;
    const CurvatureEstimate e = estimate_from_triangle(s.state);
    ASSERT_GT(e.vertex[0], 1e19f);
    ASSERT_GT(e.vertex[1], 1e19f);
    ASSERT_EQ(e.vertex[2], 0.0f);
    for (Platform platform : {Platform::windows, Platform::macos}) {
        s.params = fake::plain_parameters(1, 1);
        bl::shade(&s.result, &s.state, &s.params, platform);
        EXPECT_EQ(s.result.r, 0.5f);
    }
}

// A sphere of radius r cut into a triangle fan around the pole, with exact
// vertex normals: smaller spheres bend more per unit of area.
float mean_measure_on_sphere(float radius) {
    fake::Renderer renderer;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> lat(0.2, 1.2), lon(0.0, 6.2);
    double total = 0.0;
    const int count = 200;
    for (int i = 0; i < count; ++i) {
        const double theta = lat(rng), phi = lon(rng), step = 0.1;
        Triangle t;
        const double corners[3][2] = {{theta, phi}, {theta + step, phi}, {theta, phi + step}};
        for (int k = 0; k < 3; ++k) {
            const double th = corners[k][0], ph = corners[k][1];
            const Vector n{float(std::sin(th) * std::cos(ph)), float(std::sin(th) * std::sin(ph)),
                           float(std::cos(th))};
            t.normals[k] = n;
            t.positions[k] = {n.x * radius, n.y * radius, n.z * radius};
        }
        serve(renderer, t);
        fake::Scene s;
        const Vector& a = t.positions[0];
        const Vector& b = t.positions[1];
        const Vector& c = t.positions[2];
        const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
        const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
        double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
        if (nx * a.x + ny * a.y + nz * a.z < 0) {
            nx = -nx, ny = -ny, nz = -nz;
        }
        s.state.geometric_normal = {float(nx / len), float(ny / len), float(nz / len)};
        s.params = fake::plain_parameters(1, 0);
        const CurvatureEstimate e = estimate_from_triangle(s.state);
        total += (e.vertex[1] + e.vertex[0] + e.vertex[2]) / 3.0f;
    }
    return float(total / count);
}

TEST(MeshEstimator, SmallerSpheresReadStronger) {
    const float big = mean_measure_on_sphere(4.0f);
    const float medium = mean_measure_on_sphere(1.0f);
    const float small = mean_measure_on_sphere(0.25f);
    EXPECT_GT(medium, big);
    EXPECT_GT(small, medium);
    // The same bend on a triangle of a quarter of the side: sixteen times the
    // measure, as the angle is divided by the area.
    EXPECT_NEAR(medium / big, 16.0f, 0.1f);
}

} // namespace
