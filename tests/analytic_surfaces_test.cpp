// The derivative estimator on surfaces whose curvature is known, at random
// points, against a double-precision reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "curvature/analytic.h"

namespace {

struct V3 {
    double x, y, z;
};
V3 operator*(double s, V3 a) {
    return {s * a.x, s * a.y, s * a.z};
}
double dot(V3 a, V3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
V3 cross(V3 a, V3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
V3 unit(V3 a) {
    return (1.0 / std::sqrt(dot(a, a))) * a;
}
Vector to_float(V3 a) {
    return Vector{float(a.x), float(a.y), float(a.z)};
}

// A surface point: the five derivatives and the outward unit normal, exact.
struct Patch {
    V3 pu, pv, puu, pvv, puv, normal;
};

// Principal curvatures from the fundamental forms, in double, sorted.
void reference_curvatures(const Patch& p, double& lo, double& hi) {
    const double e = dot(p.pu, p.pu), f = dot(p.pu, p.pv), g = dot(p.pv, p.pv);
    const double l = dot(p.normal, p.puu), m = dot(p.normal, p.puv), n = dot(p.normal, p.pvv);
    const double mean = (e * n - 2 * f * m + g * l) / (2 * (e * g - f * f));
    const double gauss = (l * n - m * m) / (e * g - f * f);
    const double root = std::sqrt(std::max(0.0, mean * mean - gauss));
    lo = mean - root;
    hi = mean + root;
}

void estimate(const Patch& p, float& lo, float& hi) {
    Vector derivs[5] = {to_float(p.pu), to_float(p.pv), to_float(p.puu), to_float(p.pvv),
                        to_float(p.puv)};
    RenderState state{};
    state.derivs = derivs;
    state.normal = to_float(p.normal);
    const bl::CurvatureEstimate e = bl::estimate_from_derivatives(state);
    lo = std::min(e.k1, e.k2);
    hi = std::max(e.k1, e.k2);
}

Patch sphere(double r, double u, double v) {
    // u: longitude, v: latitude.
    const double cu = std::cos(u), su = std::sin(u), cv = std::cos(v), sv = std::sin(v);
    Patch p;
    p.pu = {-r * su * cv, r * cu * cv, 0};
    p.pv = {-r * cu * sv, -r * su * sv, r * cv};
    p.puu = {-r * cu * cv, -r * su * cv, 0};
    p.pvv = {-r * cu * cv, -r * su * cv, -r * sv};
    p.puv = {r * su * sv, -r * cu * sv, 0};
    p.normal = {cu * cv, su * cv, sv};
    return p;
}

Patch cylinder(double r, double u, double v) {
    (void)v;
    const double cu = std::cos(u), su = std::sin(u);
    Patch p;
    p.pu = {-r * su, r * cu, 0};
    p.pv = {0, 0, 1};
    p.puu = {-r * cu, -r * su, 0};
    p.pvv = {0, 0, 0};
    p.puv = {0, 0, 0};
    p.normal = {cu, su, 0};
    return p;
}

Patch torus(double big, double small, double u, double v) {
    // u around the axis, v around the tube.
    const double cu = std::cos(u), su = std::sin(u), cv = std::cos(v), sv = std::sin(v);
    const double w = big + small * cv;
    Patch p;
    p.pu = {-w * su, w * cu, 0};
    p.pv = {-small * sv * cu, -small * sv * su, small * cv};
    p.puu = {-w * cu, -w * su, 0};
    p.pvv = {-small * cv * cu, -small * cv * su, -small * sv};
    p.puv = {small * sv * su, -small * sv * cu, 0};
    p.normal = {cv * cu, cv * su, sv};
    return p;
}

Patch saddle(double a, double b, double u, double v) {
    // z = a*u^2 + b*v^2 over the (u, v) plane.
    Patch p;
    p.pu = {1, 0, 2 * a * u};
    p.pv = {0, 1, 2 * b * v};
    p.puu = {0, 0, 2 * a};
    p.pvv = {0, 0, 2 * b};
    p.puv = {0, 0, 0};
    p.normal = unit(cross(p.pu, p.pv));
    return p;
}

// Float inputs carry a relative error of 2^-24; the curvatures, quotients of
// products of a few of them, carry a few times that. Where the two roots
// coincide (umbilic points) the discriminant's rounding enters through a
// square root, which widens the error to about sqrt(2^-24) ~ 2.4e-4.
void expect_close(const Patch& p, double tolerance, const char* what) {
    double lo, hi;
    reference_curvatures(p, lo, hi);
    float k_lo, k_hi;
    estimate(p, k_lo, k_hi);
    const double scale = std::max({std::abs(lo), std::abs(hi), 1e-6});
    EXPECT_NEAR(k_lo, lo, tolerance * scale) << what;
    EXPECT_NEAR(k_hi, hi, tolerance * scale) << what;
}

TEST(AnalyticSurfaces, SphereReadsMinusOneOverRadiusEverywhere) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> angle(-3.1, 3.1), lat(-1.4, 1.4), radius(0.05, 20.0);
    for (int i = 0; i < 2000; ++i) {
        const double r = radius(rng);
        const Patch p = sphere(r, angle(rng), lat(rng));
        float lo, hi;
        estimate(p, lo, hi);
        // Never flat: a rounding-negative discriminant is the double root.
        EXPECT_NEAR(lo, -1.0 / r, 1e-3 / r);
        EXPECT_NEAR(hi, -1.0 / r, 1e-3 / r);
    }
}

TEST(AnalyticSurfaces, SphereReadsMinusOneOverRadiusAtArchitecturalScale) {
    // From a radius of about 2.5e6 b*b and 4ac leave the float range while a,
    // b and c are finite; up to about 1e9, where E*G itself overflows, the
    // curvature must still read -1/r, neither NaN nor flat.
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> angle(-3.1, 3.1), lat(-1.4, 1.4), log_radius(6.0, 9.0);
    for (int i = 0; i < 500; ++i) {
        const double r = i == 0 ? 1e7 : std::pow(10.0, log_radius(rng));
        float lo, hi;
        estimate(sphere(r, angle(rng), lat(rng)), lo, hi);
        EXPECT_NEAR(lo, -1.0 / r, 1e-3 / r) << "radius " << r;
        EXPECT_NEAR(hi, -1.0 / r, 1e-3 / r) << "radius " << r;
    }
}

TEST(AnalyticSurfaces, CylinderHasOneFlatDirection) {
    std::mt19937 rng(2);
    std::uniform_real_distribution<double> angle(-3.1, 3.1), height(-5, 5), radius(0.05, 20.0);
    for (int i = 0; i < 2000; ++i) {
        const double r = radius(rng);
        const Patch p = cylinder(r, angle(rng), height(rng));
        float lo, hi;
        estimate(p, lo, hi);
        EXPECT_NEAR(lo, -1.0 / r, 1e-5 / r);
        EXPECT_NEAR(hi, 0.0, 1e-5 / r);
    }
}

TEST(AnalyticSurfaces, TorusMatchesTheReference) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> angle(-3.1, 3.1);
    for (int i = 0; i < 2000; ++i) {
        const double u = angle(rng), v = angle(rng);
        const Patch p = torus(3.0, 1.0, u, v);
        expect_close(p, 1e-4, "torus");
        // Closed form: -1/small around the tube, -cos v / (big + small cos v) around the axis.
        double lo, hi;
        reference_curvatures(p, lo, hi);
        const double tube = -1.0, ring = -std::cos(v) / (3.0 + std::cos(v));
        EXPECT_NEAR(lo, std::min(tube, ring), 1e-12);
        EXPECT_NEAR(hi, std::max(tube, ring), 1e-12);
    }
}

TEST(AnalyticSurfaces, SaddlesMatchTheReference) {
    std::mt19937 rng(4);
    std::uniform_real_distribution<double> coord(-2, 2), coefficient(-3, 3);
    for (int i = 0; i < 2000; ++i) {
        const Patch p = saddle(coefficient(rng), coefficient(rng), coord(rng), coord(rng));
        expect_close(p, 3e-4, "monge patch");
    }
}

} // namespace
