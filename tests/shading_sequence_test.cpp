// The order of one shading call: which parameters are read, in which order,
// what is written, and what is left alone.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "shader/shade.h"
#include "tests/fake_renderer.h"

namespace {

using Names = std::vector<std::string>;

// A parameter block whose every field is connected: its tags lie right
// behind it, so each read shows up as one mi_phen_eval call.
struct ConnectedBlock {
    BendlensParameters params;
    Tag tags[10];
};

struct Connected {
    ConnectedBlock block{};
    ShaderRecord record{int32_t(sizeof(BendlensParameters)), 1};
    RenderState state{};
    Vector derivs[5]{};
    Colour result{-7.0f, -7.0f, -7.0f, 0.25f};

    explicit Connected(const BendlensParameters& p) {
        block.params = p;
        for (Tag& t : block.tags) {
            t = 100;
        }
        state.shader = &record;
        state.derivs = derivs;
        state.normal = Vector{0.0f, 0.0f, 1.0f};
    }

    Names shade(fake::Renderer& renderer, Platform platform) {
        bl::shade(&result, &state, &block.params, platform);
        return renderer.evaluated_parameters(block.params);
    }
};

const Names output_reads = {"range_max", "range_min",    "mapping",
                            "threshold", "use_contrast", "contrast"};

Names concat(Names a, const Names& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ShadingSequence, ReadsMeasureThenMethodThenTheSixOutputParameters) {
    for (Platform platform : {Platform::windows, Platform::macos}) {
        for (int32_t method : {0, 1, 7}) {
            fake::Renderer renderer;
            Connected c(fake::plain_parameters(method, 0));
            EXPECT_EQ(c.shade(renderer, platform), concat({"measure", "method"}, output_reads));
        }
    }
}

TEST(ShadingSequence, ProbeMethodReadsSamplesThenScaleBeforeTheOutput) {
    fake::Renderer renderer;
    Connected c(fake::plain_parameters(2, 0));
    EXPECT_EQ(c.shade(renderer, Platform::macos),
              concat({"measure", "method", "samples", "probe_scale"}, output_reads));
}

TEST(ShadingSequence, AllSixOutputParametersAreReadEvenWhenUnused) {
    // mapping 3 writes nothing, and the curve is off: every parameter is still
    // read, and the curve is never evaluated.
    fake::Renderer renderer;
    BendlensParameters p = fake::plain_parameters(0, 0);
    p.mapping = 3;
    Connected c(p);
    EXPECT_EQ(c.shade(renderer, Platform::windows), concat({"measure", "method"}, output_reads));
    EXPECT_EQ(renderer.count(fake::Kind::spline), 0u);
}

TEST(ShadingSequence, ConnectedValuesDriveTheCall) {
    // The renderer answers mapping with 1 although the block says 3.
    static int32_t positive_side = 1;
    static float big_range = 1000.0f;
    fake::Renderer renderer;
    BendlensParameters p = fake::plain_parameters(0, 0);
    p.mapping = 3;
    Connected c(p);
    renderer.phen_eval = [&](RenderState*, void* param) -> void* {
        if (param == &c.block.params.mapping) {
            return &positive_side;
        }
        if (param == &c.block.params.range_max) {
            return &big_range;
        }
        return param;
    };
    c.shade(renderer, Platform::macos);
    EXPECT_EQ(c.result.r, 0.0f); // written: flat patch reads 0 on the positive side
}

TEST(ShadingSequence, WritesGreyAndNeverAlpha) {
    fake::Renderer renderer;
    fake::Scene s;
    s.params = fake::plain_parameters(0, 0);
    // A sphere of radius 2 at its pole: mean curvature 1/2 maps to 0.75.
    s.derivs[0] = {2.0f, 0.0f, 0.0f};
    s.derivs[1] = {0.0f, 2.0f, 0.0f};
    s.derivs[2] = {0.0f, 0.0f, -2.0f};
    s.derivs[3] = {0.0f, 0.0f, -2.0f};
    EXPECT_EQ(bl::shade(&s.result, &s.state, &s.params, Platform::macos), 1);
    EXPECT_EQ(s.result.r, 0.75f);
    EXPECT_EQ(s.result.g, 0.75f);
    EXPECT_EQ(s.result.b, 0.75f);
    EXPECT_EQ(s.result.a, 0.25f);
}

TEST(ShadingSequence, UnknownMappingLeavesTheColourUntouched) {
    for (int32_t mapping : {3, -1, 1000}) {
        fake::Renderer renderer;
        fake::Scene s;
        s.params = fake::plain_parameters(0, 0);
        s.params.mapping = mapping;
        EXPECT_EQ(bl::shade(&s.result, &s.state, &s.params, Platform::macos), 1);
        EXPECT_EQ(s.result.r, -7.0f);
        EXPECT_EQ(s.result.g, -7.0f);
        EXPECT_EQ(s.result.b, -7.0f);
        EXPECT_EQ(s.result.a, 0.25f);
    }
}

TEST(ShadingSequence, UnknownMethodOrMeasureReadsFlat) {
    // An unknown method gives a zero estimate; an unknown measure gives h = 0.
    // Both map to 0.5 two-sided, whatever the derivatives say.
    const int32_t methods[][2] = {{3, 0}, {-1, 1}, {0, 3}, {1, -5}, {2, 99}};
    for (const auto& mm : methods) {
        fake::Renderer renderer;
        fake::Scene s;
        s.params = fake::plain_parameters(mm[0], mm[1]);
        s.derivs[0] = {1.0f, 0.0f, 0.0f};
        s.derivs[1] = {0.0f, 1.0f, 0.0f};
        s.derivs[2] = {0.0f, 0.0f, 2.0f};
        s.derivs[3] = {0.0f, 0.0f, 2.0f};
        renderer.tri_vectors = [](RenderState*, int, Vector**, Vector**, Vector**) {
            return Boolean(0);
        };
        bl::shade(&s.result, &s.state, &s.params, Platform::macos);
        EXPECT_EQ(s.result.r, 0.5f) << "method " << mm[0] << " measure " << mm[1];
    }
}

TEST(ShadingSequence, NullPointersAreNotReadThrough) {
    fake::Renderer renderer;
    fake::Scene s;
    s.params = fake::plain_parameters(0, 0);
    EXPECT_EQ(bl::shade(nullptr, &s.state, &s.params, Platform::macos), 1);
    EXPECT_EQ(bl::shade(&s.result, nullptr, &s.params, Platform::macos), 1);
    EXPECT_EQ(bl::shade(&s.result, &s.state, nullptr, Platform::macos), 1);
    EXPECT_EQ(s.result.r, -7.0f);
    EXPECT_TRUE(renderer.calls.empty());
}

} // namespace
