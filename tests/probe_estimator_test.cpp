// The probe-ray estimator: directions, averaging under both divisors, and the
// state it borrows.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "curvature/probe.h"
#include "tests/fake_renderer.h"

namespace {

using bl::CurvatureEstimate;
using bl::estimate_from_probes;
using bl::probe_count;
using fake::bits;

const float nan = std::numeric_limits<float>::quiet_NaN();
constexpr double pi = 3.141592653589793;

// Hands out the given pairs, one per call, while the count allows.
void serve_pairs(fake::Renderer& renderer, std::vector<std::array<double, 2>> pairs) {
    renderer.sample = [pairs, next = size_t(0)](double* pair, int* instance, RenderState*,
                                                uint32_t* count) mutable {
        if (next >= pairs.size() || next >= *count) {
            return Boolean(0);
        }
        pair[0] = pairs[next][0];
        pair[1] = pairs[next][1];
        ++next;
        ++*instance;
        return Boolean(1);
    };
}

// Each probe lands (or not, by the pattern) on a surface whose normal is the
// given one.
struct Landing {
    RenderState child{};
    std::vector<bool> hits;
    size_t next = 0;
};

void serve_landings(fake::Renderer& renderer, Landing& landing) {
    renderer.trace_probe = [&landing](RenderState* state, Vector*, Vector*) {
        const bool hit = landing.next < landing.hits.size() ? landing.hits[landing.next] : true;
        ++landing.next;
        if (hit) {
            state->child = &landing.child;
        }
        return Boolean(hit ? 1 : 0);
    };
}

struct ProbeScene : fake::Scene {
    int primitive_tag = 0;
    ProbeScene(float samples, float scale) {
        params = fake::plain_parameters(2, 0);
        params.samples = samples;
        params.probe_scale = scale;
        state.point = {1.0f, 2.0f, 3.0f};
        state.normal = {0.0f, 0.0f, 2.0f};
        state.ray_origin = {-5.0f, -6.0f, -7.0f};
        state.primitive = &primitive_tag;
    }
};

TEST(ProbeEstimator, SampleCountIsTruncatedAndSaturated) {
    EXPECT_EQ(probe_count(0.0f), 0u);
    EXPECT_EQ(probe_count(0.99f), 0u);
    EXPECT_EQ(probe_count(-3.0f), 0u);
    EXPECT_EQ(probe_count(-std::numeric_limits<float>::infinity()), 0u);
    EXPECT_EQ(probe_count(nan), 0u);
    EXPECT_EQ(probe_count(1.0f), 1u);
    EXPECT_EQ(probe_count(16.9f), 16u);
    EXPECT_EQ(probe_count(4294967040.0f), 4294967040u); // largest float below 2^32
    EXPECT_EQ(probe_count(4294967296.0f), 4294967295u);
    EXPECT_EQ(probe_count(1e30f), 4294967295u);
    EXPECT_EQ(probe_count(std::numeric_limits<float>::infinity()), 4294967295u);
}

TEST(ProbeEstimator, DirectionsAndOriginAreExact) {
    fake::Renderer renderer;
    serve_pairs(renderer, {{0.25, 0.125}, {1.0, 0.0}, {0.0, 1.0}});
    Landing landing;
    landing.child.normal = {0.0f, 0.0f, 1.0f};
    serve_landings(renderer, landing);
    ProbeScene s(3.0f, 4.0f);
    estimate_from_probes(s.state, s.params, Platform::macos);

    ASSERT_EQ(renderer.count(fake::Kind::trace_probe), 3u);
    const float r = 1.0f / 4.0f;
    const double pairs[3][2] = {{0.25, 0.125}, {1.0, 0.0}, {0.0, 1.0}};
    size_t probe = 0;
    for (const fake::Call& call : renderer.calls) {
        if (call.kind == fake::Kind::sample) {
            EXPECT_EQ(call.dimension, 2);
            continue;
        }
        ASSERT_EQ(call.kind, fake::Kind::trace_probe);
        const double w = 2.0 * pairs[probe][0] - 1.0;
        const double rho = std::sqrt(1.0 - w * w);
        const double phi = pairs[probe][1] * 2.0 * pi;
        EXPECT_EQ(bits(call.direction.x), bits(float(std::cos(phi) * rho) * r + -0.0f));
        EXPECT_EQ(bits(call.direction.y), bits(float(std::sin(phi) * rho) * r + -0.0f));
        EXPECT_EQ(bits(call.direction.z), bits(float(w) * r + -1.0f));
        // Origin one (unnormalised) normal above the point, also in the state.
        EXPECT_EQ(call.origin.z, 5.0f);
        EXPECT_EQ(call.origin.x, 1.0f);
        EXPECT_EQ(call.ray_origin.z, 5.0f);
        EXPECT_EQ(call.primitive, nullptr);
        ++probe;
    }
}

TEST(ProbeEstimator, StateIsRestoredBitForBitOnEveryPath) {
    for (float samples : {0.0f, 4.0f}) {
        for (float scale : {0.0f, 1.0f, nan}) {
            fake::Renderer renderer;
            serve_pairs(renderer, {{0.5, 0.5}, {0.1, 0.9}, {0.3, 0.3}, {0.7, 0.2}});
            Landing landing;
            landing.child.normal = {0.0f, 1.0f, 0.0f};
            serve_landings(renderer, landing);
            ProbeScene s(samples, scale);
            s.state.ray_origin = {nan, -0.0f, 1e-45f};
            RenderState before;
            std::memcpy(&before, &s.state, sizeof before);
            estimate_from_probes(s.state, s.params, Platform::windows);
            s.state.child = before.child; // the renderer's to change
            EXPECT_EQ(std::memcmp(&before, &s.state, sizeof before), 0)
                << "samples " << samples << " scale " << scale;
        }
    }
}

TEST(ProbeEstimator, WindowsAveragesOverEveryProbeMacOverHits) {
    // Right-angle landings: each hit adds pi/2. Two hits out of four.
    for (Platform platform : {Platform::windows, Platform::macos}) {
        fake::Renderer renderer;
        serve_pairs(renderer, {{0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}});
        Landing landing;
        landing.child.normal = {1.0f, 0.0f, 0.0f};
        landing.hits = {true, false, true, false};
        serve_landings(renderer, landing);
        ProbeScene s(4.0f, 3.0f);
        s.state.normal = {0.0f, 0.0f, 1.0f};
        const CurvatureEstimate e = estimate_from_probes(s.state, s.params, platform);
        const float sum = float(double(float(pi / 2)) + pi / 2);
        const float divisor = platform == Platform::windows ? 4.0f : 2.0f;
        EXPECT_EQ(e.k1, -(sum / divisor * 3.0f));
        EXPECT_EQ(e.k2, e.k1);
    }
}

TEST(ProbeEstimator, WindowsDividesByTheCountTheRendererLeft) {
    fake::Renderer renderer;
    renderer.sample = [](double* pair, int* instance, RenderState*, uint32_t* count) {
        // The renderer caps the count at 2 and draws that many.
        if (*count > 2) {
            *count = 2;
        }
        if (uint32_t(*instance) >= *count) {
            return Boolean(0);
        }
        pair[0] = pair[1] = 0.5;
        ++*instance;
        return Boolean(1);
    };
    Landing landing;
    landing.child.normal = {1.0f, 0.0f, 0.0f};
    serve_landings(renderer, landing);
    ProbeScene s(64.0f, 1.0f);
    s.state.normal = {0.0f, 0.0f, 1.0f};
    const CurvatureEstimate e = estimate_from_probes(s.state, s.params, Platform::windows);
    EXPECT_EQ(e.k1, -(float(double(float(pi / 2)) + pi / 2) / 2.0f * 1.0f));
    EXPECT_EQ(renderer.calls[0].sample_count, 64u);
}

TEST(ProbeEstimator, FlatSurfaceReadsZeroEvenWhenTheCosineRoundsPastOne) {
    fake::Renderer renderer;
    serve_pairs(renderer, {{0.5, 0.5}, {0.2, 0.5}});
    Landing landing;
    landing.child.normal = {0.0f, 0.0f, 1.0000001f};
    serve_landings(renderer, landing);
    ProbeScene s(2.0f, 1.0f);
    s.state.normal = {0.0f, 0.0f, 1.0f};
    for (Platform platform : {Platform::windows, Platform::macos}) {
        landing.next = 0;
        const CurvatureEstimate e = estimate_from_probes(s.state, s.params, platform);
        EXPECT_EQ(e.k1, 0.0f);
        EXPECT_FALSE(std::isnan(e.k1));
    }
}

TEST(ProbeEstimator, NoDivisorGivesZeroNotNaN) {
    // All probes miss: the Mac divisor is zero, the Windows one is not.
    for (Platform platform : {Platform::windows, Platform::macos}) {
        fake::Renderer renderer;
        serve_pairs(renderer, {{0.5, 0.5}, {0.2, 0.5}});
        Landing landing;
        landing.hits = {false, false};
        serve_landings(renderer, landing);
        ProbeScene s(2.0f, 1.0f);
        const CurvatureEstimate e = estimate_from_probes(s.state, s.params, platform);
        EXPECT_EQ(e.k1, 0.0f);
        EXPECT_FALSE(std::isnan(e.k1));
    }
    // No sample drawn at all.
    for (float samples : {0.0f, -4.0f, nan}) {
        fake::Renderer renderer;
        serve_pairs(renderer, {{0.5, 0.5}});
        ProbeScene s(samples, 1.0f);
        for (Platform platform : {Platform::windows, Platform::macos}) {
            const CurvatureEstimate e = estimate_from_probes(s.state, s.params, platform);
            EXPECT_EQ(e.k1, 0.0f);
        }
        EXPECT_EQ(renderer.count(fake::Kind::trace_probe), 0u);
    }
}

TEST(ProbeEstimator, NonFiniteJitterTracesNothing) {
    for (float scale : {0.0f, -0.0f, 1e-39f}) {
        fake::Renderer renderer;
        serve_pairs(renderer, {{0.5, 0.5}});
        ProbeScene s(4.0f, scale);
        const CurvatureEstimate e = estimate_from_probes(s.state, s.params, Platform::macos);
        EXPECT_EQ(e.k1, 0.0f);
        EXPECT_EQ(renderer.count(fake::Kind::trace_probe), 0u);
        EXPECT_EQ(renderer.count(fake::Kind::sample), 0u);
    }
}

// A probe aimed back at a sphere of radius r, tangent to the shading point:
// the landing normal turns by the angle the probe's offset subtends at the
// centre.
float mean_probe_measure(float radius) {
    fake::Renderer renderer;
    std::vector<std::array<double, 2>> pairs;
    for (int i = 0; i < 64; ++i) {
        pairs.push_back({(i + 0.5) / 64.0, std::fmod(i * 0.618033988749895, 1.0)});
    }
    serve_pairs(renderer, pairs);
    RenderState child{};
    renderer.trace_probe = [&child, radius](RenderState* state, Vector* d, Vector* o) {
        // Sphere centred at (0, 0, -radius), shading point at the origin.
        const double cx = 0, cy = 0, cz = -radius;
        const double ox = o->x - cx, oy = o->y - cy, oz = o->z - cz;
        const double a = double(d->x) * d->x + double(d->y) * d->y + double(d->z) * d->z;
        const double b = 2 * (ox * d->x + oy * d->y + oz * d->z);
        const double c = ox * ox + oy * oy + oz * oz - double(radius) * radius;
        const double disc = b * b - 4 * a * c;
        if (disc < 0) {
            return Boolean(0);
        }
        const double t = (-b - std::sqrt(disc)) / (2 * a);
        const double hx = ox + t * d->x, hy = oy + t * d->y, hz = oz + t * d->z;
        const double len = std::sqrt(hx * hx + hy * hy + hz * hz);
        child.normal = {float(hx / len), float(hy / len), float(hz / len)};
        state->child = &child;
        return Boolean(1);
    };
    ProbeScene s(64.0f, 4.0f);
    s.state.point = {0.0f, 0.0f, 0.0f};
    s.state.normal = {0.0f, 0.0f, 1.0f};
    const CurvatureEstimate e = estimate_from_probes(s.state, s.params, Platform::macos);
    return -(e.k1 + e.k2) * 0.5f;
}

TEST(ProbeEstimator, SmallerSpheresReadStronger) {
    const float big = mean_probe_measure(8.0f);
    const float medium = mean_probe_measure(2.0f);
    const float small = mean_probe_measure(0.5f);
    EXPECT_GT(big, 0.0f);
    EXPECT_GT(medium, big);
    EXPECT_GT(small, medium);
}

TEST(ProbeEstimator, ThreadsShadingAtOnceGiveTheSameBits) {
    auto run = [](int seed) {
        fake::Renderer renderer;
        std::vector<std::array<double, 2>> pairs;
        for (int i = 0; i < 32; ++i) {
            pairs.push_back({std::fmod(0.1 + i * 0.37 + seed * 0.01, 1.0),
                             std::fmod(i * 0.618033988749895, 1.0)});
        }
        serve_pairs(renderer, pairs);
        RenderState child{};
        renderer.trace_probe = [&child](RenderState* state, Vector* d, Vector*) {
            const float len = std::sqrt(d->x * d->x + d->y * d->y + d->z * d->z);
            child.normal = {-d->x / len, -d->y / len, -d->z / len};
            state->child = &child;
            return Boolean(1);
        };
        ProbeScene s(32.0f, 2.0f);
        s.state.normal = {0.0f, 0.0f, 1.0f};
        return bits(estimate_from_probes(s.state, s.params, Platform::windows).k1);
    };
    std::vector<uint32_t> alone;
    for (int seed = 0; seed < 8; ++seed) {
        alone.push_back(run(seed));
    }
    std::vector<uint32_t> together(8);
    std::vector<std::thread> threads;
    for (int seed = 0; seed < 8; ++seed) {
        threads.emplace_back([&, seed] {
            for (int repeat = 0; repeat < 200; ++repeat) {
                together[size_t(seed)] = run(seed);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(alone, together);
}

} // namespace
