// The connected-parameter rule of both renderer variants.
#include <gtest/gtest.h>

#include <cstring>

#include "shader/parameter_rule.h"
#include "tests/fake_renderer.h"

namespace {

using bl::read_parameter;

// A parameter followed, at a fixed offset, by its connection tag; the tag is
// deliberately misaligned to show it is read byte-wise.
struct TaggedParameter {
    unsigned char bytes[16];
    static constexpr int32_t tag_offset = 5;

    explicit TaggedParameter(float value, Tag tag) {
        std::memset(bytes, 0, sizeof bytes);
        std::memcpy(bytes, &value, sizeof value);
        std::memcpy(bytes + tag_offset, &tag, sizeof tag);
    }
    const float* parameter() const { return reinterpret_cast<const float*>(bytes); }
};

struct Case {
    Platform platform;
    uint8_t has_indirection;
    int32_t offset;
    Tag tag;
    bool connected;
};

float connected_value = 42.0f;

float read_with(const Case& c) {
    fake::Renderer renderer;
    renderer.phen_eval = [](RenderState*, void*) -> void* { return &connected_value; };
    ShaderRecord record{c.offset, c.has_indirection};
    RenderState state{};
    state.shader = &record;
    alignas(4) TaggedParameter p(1.5f, c.tag);
    return read_parameter(&state, p.parameter(), c.platform);
}

TEST(ParameterRule, WindowsReadsTheTagOnlyWhenIndirectionIsExactlyOne) {
    const int32_t off = TaggedParameter::tag_offset;
    const Case cases[] = {
        {Platform::windows, 1, off, 7, true},    {Platform::windows, 1, off, Tag(-1), true},
        {Platform::windows, 1, off, 0, false},   {Platform::windows, 1, off, Tag(-2), false},
        {Platform::windows, 0, off, 7, false},   {Platform::windows, 2, off, 7, false},
        {Platform::windows, 255, off, 7, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "has_indirection " << int(c.has_indirection) << " tag " << int32_t(c.tag));
        EXPECT_EQ(read_with(c), c.connected ? 42.0f : 1.5f);
    }
}

TEST(ParameterRule, MacReadsTheTagWheneverTheOffsetIsNonzero) {
    const int32_t off = TaggedParameter::tag_offset;
    const Case cases[] = {
        {Platform::macos, 0, off, 7, true},       // has_indirection is not consulted
        {Platform::macos, 1, off, Tag(-2), true}, // -2 counts as connected here
        {Platform::macos, 1, off, 0, false},
        {Platform::macos, 1, 0, 7, false}, // offset 0: the tag is never read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "offset " << c.offset << " tag " << int32_t(c.tag));
        EXPECT_EQ(read_with(c), c.connected ? 42.0f : 1.5f);
    }
}

TEST(ParameterRule, NegativeOffsetsReachTagsBeforeTheParameter) {
    fake::Renderer renderer;
    renderer.phen_eval = [](RenderState*, void*) -> void* { return &connected_value; };
    struct {
        Tag tag;
        float value;
    } block{9, 3.0f};
    ShaderRecord record{-4, 1};
    RenderState state{};
    state.shader = &record;
    EXPECT_EQ(read_parameter(&state, &block.value, Platform::macos), 42.0f);
    EXPECT_EQ(read_parameter(&state, &block.value, Platform::windows), 42.0f);
}

TEST(ParameterRule, MissingRecordOrNullEvaluationReadsInPlace) {
    fake::Renderer renderer;
    renderer.phen_eval = [](RenderState*, void*) -> void* { return nullptr; };
    alignas(4) TaggedParameter p(2.5f, 7);
    ShaderRecord record{TaggedParameter::tag_offset, 1};
    RenderState state{};
    EXPECT_EQ(read_parameter(&state, p.parameter(), Platform::macos), 2.5f);
    EXPECT_EQ(renderer.calls.size(), 0u);
    state.shader = &record;
    EXPECT_EQ(read_parameter(&state, p.parameter(), Platform::windows), 2.5f);
    EXPECT_EQ(renderer.count(fake::Kind::phen_eval), 1u);
}

TEST(ParameterRule, TheEvaluationIsAskedForTheParameterItself) {
    fake::Renderer renderer;
    const void* asked = nullptr;
    renderer.phen_eval = [&](RenderState*, void* p) -> void* {
        asked = p;
        return &connected_value;
    };
    alignas(4) TaggedParameter p(2.5f, 7);
    ShaderRecord record{TaggedParameter::tag_offset, 1};
    RenderState state{};
    state.shader = &record;
    read_parameter(&state, p.parameter(), Platform::macos);
    EXPECT_EQ(asked, p.parameter());
}

} // namespace
