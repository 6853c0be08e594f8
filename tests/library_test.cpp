// The built plug-in through its exported C interface, with this executable
// playing the renderer.
#include <gtest/gtest.h>

#include <random>

#include "shader/bendlens.h"
#include "shader/shade.h"
#include "tests/fake_renderer.h"

#if defined(_WIN32)
#include "hostbind/module_handle.h"
#endif

namespace {

#if defined(BENDLENS_WINDOWS_RULES)
constexpr Platform built_for = Platform::windows;
#else
constexpr Platform built_for = Platform::macos;
#endif

#if defined(_WIN32)
// The plug-in finds the renderer functions by name in the module the renderer
// hands over; here this program is the renderer.
struct HandOverThisProgram : ::testing::Environment {
    void SetUp() override { miSetModuleHandle(GetModuleHandleW(nullptr)); }
};
::testing::Environment* const hand_over =
    ::testing::AddGlobalTestEnvironment(new HandOverThisProgram);
#endif

TEST(Library, VersionIsOne) {
    EXPECT_EQ(bendlens_version(), 1);
}

TEST(Library, InitAsksForNoInstanceInitialisation) {
    Boolean request = 77;
    bendlens_init(nullptr, nullptr, &request);
    EXPECT_EQ(request, 0);
    BendlensParameters params{};
    request = 77;
    bendlens_init(nullptr, &params, &request);
    EXPECT_EQ(request, 77);
    bendlens_init(nullptr, nullptr, nullptr); // nowhere to answer: no crash
    bendlens_exit(nullptr, nullptr);
    bendlens_exit(nullptr, &params);
}

TEST(Library, FollowsTheRulesOfItsBuild) {
    // A tag of -2 counts as connected under the Mac rule only, and the Windows
    // rule reads no tag unless the record says parameters may be connected.
    fake::Renderer renderer;
    struct {
        BendlensParameters params;
        Tag tags[10];
    } block{};
    block.params = fake::plain_parameters(0, 0);
    for (Tag& t : block.tags) {
        t = Tag(-2);
    }
    ShaderRecord record{int32_t(sizeof(BendlensParameters)), 0};
    RenderState state{};
    state.shader = &record;
    Colour result{};
    EXPECT_EQ(bendlens(&result, &state, &block.params), 1);
    EXPECT_EQ(renderer.count(fake::Kind::phen_eval), built_for == Platform::macos ? 8u : 0u);
}

TEST(Library, ShadesExactlyAsTheLibraryCode) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> any(-3.0f, 3.0f);
    for (int i = 0; i < 500; ++i) {
        fake::Renderer renderer;
        fake::Scene a, b;
        for (fake::Scene* s : {&a, &b}) {
            s->params = fake::plain_parameters(0, i % 3, 2.0f);
            s->params.mapping = i % 4;
        }
        for (int k = 0; k < 5; ++k) {
            a.derivs[k] = b.derivs[k] = Vector{any(rng), any(rng), any(rng)};
        }
        a.state.normal = b.state.normal = Vector{any(rng), any(rng), any(rng)};
        bendlens(&a.result, &a.state, &a.params);
        bl::shade(&b.result, &b.state, &b.params, built_for);
        EXPECT_EQ(fake::bits(a.result.r), fake::bits(b.result.r));
        EXPECT_EQ(fake::bits(a.result.a), fake::bits(b.result.a));
    }
}

} // namespace
