// One shading call with everything the renderer hands over taken from the
// fuzzer's input: the parameter block with its connection tags, the state's
// vectors and derivatives, and every answer of the five renderer functions
// (connected values, triangle data, sample pairs and counts, probe hits and
// landing normals, contrast-curve values), under either renderer variant.
//
// Checked on every input, aborting on a violation:
// - the state comes back as it went in (ray_origin and primitive restored,
//   nothing else written), and the parameter block is never written;
// - the result's alpha is never written, and r, g and b only for a mapping of
//   0 to 2, all three with the same value;
// - while probing, the state's primitive is null;
// - when every value the call was given is finite and of ordinary size (see
//   ordinary()), the output and every probe ray are finite.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "shader/parameters.h"
#include "shader/renderer.h"
#include "shader/shade.h"

namespace {

#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fflush(stdout);                                                                   \
            std::fprintf(stderr, "fuzz_shade: %s\n", what);                                        \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// The parameter block followed by one connection tag per field, as the
// renderer lays it out when indirection_offset is the size of the block.
struct Block {
    BendlensParameters params;
    Tag tags[10];
};

constexpr int max_pairs = 64;

// Everything one shading call is handed, and what was seen during it.
struct Session {
    FuzzedDataProvider* input = nullptr;
    bool promises_kept = true; // sample pairs lie in [0, 1]
    bool all_ordinary = true;  // every float and double handed over is ordinary()

    Block block{};
    BendlensParameters connected{};
    ShaderRecord record{};
    RenderState state{};
    Vector derivs[5]{};
    Vector triangle[2][3]{};
    RenderState child{};

    int pairs_drawn = 0;
    bool mapping_evaluated = false;
    const void* mapping_source = nullptr;
    bool probes_finite = true;
};

Session* session = nullptr;

// Zero, or finite with a magnitude between 1e-6 and 1e6. Values beyond that
// can overflow or underflow float arithmetic in products of several of them,
// and so are not held to the finiteness check. FUZZ_SHADE_ANY_FINITE=1 holds
// every finite value to it, to list what extreme magnitudes do.
bool ordinary(double v) {
    static const bool any_finite = std::getenv("FUZZ_SHADE_ANY_FINITE") != nullptr;
    if (any_finite) {
        return std::isfinite(v);
    }
    const double m = std::fabs(v);
    return m == 0.0 || (m >= 1e-6 && m <= 1e6);
}

// FUZZ_SHADE_REPORT=1, with input files as arguments, prints every value
// each input hands over and what came back, to take a finding apart.
bool reporting() {
    static const bool on = std::getenv("FUZZ_SHADE_REPORT") != nullptr;
    return on;
}

void report_vector(const char* name, const Vector& v) {
    if (reporting()) {
        std::printf("  %s = (%.9g, %.9g, %.9g)\n", name, double(v.x), double(v.y), double(v.z));
    }
}

bool finite(const Vector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

uint32_t bits(float v) {
    uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

// A float as the renderer might hand it over: often a small, exact value (so
// that zeros, unit vectors and flat patches come up), often an ordinary one,
// sometimes any bits at all.
float any_float(FuzzedDataProvider& in) {
    float v;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
    case 1:
        v = float(in.ConsumeIntegralInRange<int>(-64, 64)) / 8.0f;
        break;
    case 2:
        v = in.ConsumeFloatingPointInRange<float>(-4.0f, 4.0f);
        break;
    default: {
        const uint32_t u = in.ConsumeIntegral<uint32_t>();
        std::memcpy(&v, &u, sizeof v);
    }
    }
    session->all_ordinary = session->all_ordinary && ordinary(v);
    return v;
}

// A float that does not feed the output (the result's previous contents, the
// saved ray origin), so not held to the finiteness check.
float untracked_float(FuzzedDataProvider& in) {
    const bool ordinary_so_far = session->all_ordinary;
    const float v = any_float(in);
    session->all_ordinary = ordinary_so_far;
    return v;
}

Vector any_vector(FuzzedDataProvider& in) {
    const float x = any_float(in);
    const float y = any_float(in);
    const float z = any_float(in);
    return Vector{x, y, z};
}

// A method, measure or mapping code: mostly near the valid ones, sometimes any.
int32_t any_code(FuzzedDataProvider& in) {
    if (in.ConsumeIntegralInRange<int>(0, 7) != 0) {
        return in.ConsumeIntegralInRange<int32_t>(-1, 3);
    }
    return in.ConsumeIntegral<int32_t>();
}

void fill_parameters(FuzzedDataProvider& in, BendlensParameters& p) {
    p.method = any_code(in);
    p.measure = any_code(in);
    p.mapping = any_code(in);
    p.range_max = any_float(in);
    p.range_min = any_float(in);
    p.threshold = any_float(in);
    p.contrast = any_float(in);
    p.use_contrast = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>() : 0;
    p.samples = in.ConsumeBool() ? float(in.ConsumeIntegralInRange<int>(0, 40)) : any_float(in);
    p.probe_scale = any_float(in);
}

void fill_connections(FuzzedDataProvider& in, Session& s) {
    s.record.indirection_offset = 0;
    s.record.has_indirection = 0;
    if (in.ConsumeBool()) {
        s.record.indirection_offset = int32_t(offsetof(Block, tags));
        s.record.has_indirection = in.ConsumeIntegral<uint8_t>();
        static const Tag usual[3] = {0, Tag(-2), 7};
        for (Tag& tag : s.block.tags) {
            tag = in.ConsumeBool() ? usual[in.ConsumeIntegralInRange<int>(0, 2)]
                                   : in.ConsumeIntegral<Tag>();
        }
    }
}

void fill_state(FuzzedDataProvider& in, Session& s) {
    s.state.ray_origin = Vector{untracked_float(in), untracked_float(in), untracked_float(in)};
    s.state.primitive = &s.record;
    for (float& w : s.state.bary) {
        w = any_float(in);
    }
    s.state.point = any_vector(in);
    s.state.normal = any_vector(in);
    s.state.geometric_normal = any_vector(in);
    s.state.derivs = nullptr;
    if (in.ConsumeBool()) {
        for (Vector& d : s.derivs) {
            d = any_vector(in);
        }
        s.state.derivs = s.derivs;
    }
    s.state.shader = in.ConsumeIntegralInRange<int>(0, 15) != 0 ? &s.record : nullptr;
    s.state.child = nullptr;
}

// Every field but ray_origin and primitive (checked on their own) and child
// (the renderer's to set), compared bit for bit.
bool same_fields(const RenderState& a, const RenderState& b) {
    return std::memcmp(a.bary, b.bary, sizeof a.bary) == 0 &&
           std::memcmp(&a.point, &b.point, sizeof a.point) == 0 &&
           std::memcmp(&a.normal, &b.normal, sizeof a.normal) == 0 &&
           std::memcmp(&a.geometric_normal, &b.geometric_normal, sizeof a.geometric_normal) == 0 &&
           a.derivs == b.derivs && a.shader == b.shader;
}

// One function per kind of outcome: method (0, 1, 2, other), measure (0, 1, 2,
// other), mapping (0, 1, 2), output (zero, other finite, infinite, NaN) and
// whether the input was all ordinary. Each is its own code, so the fuzzer's
// coverage counts a new kind of outcome as progress and keeps the input that
// reached it; without this, a NaN result looks no different from a number.
template <int kind> __attribute__((noinline)) void outcome_seen() {
    static volatile int seen = 0;
    seen = seen + 1;
}

template <int... kinds> constexpr auto outcome_table(std::integer_sequence<int, kinds...>) {
    return std::array<void (*)(), sizeof...(kinds)>{outcome_seen<kinds>...};
}

void note_outcome(int32_t method, int32_t measure, int32_t mapping, float output, bool ordinary) {
    static constexpr auto table =
        outcome_table(std::make_integer_sequence<int, 4 * 4 * 3 * 4 * 2>{});
    const int method_kind = method >= 0 && method <= 2 ? int(method) : 3;
    const int measure_kind = measure >= 0 && measure <= 2 ? int(measure) : 3;
    const int output_kind = output == 0.0f          ? 0
                            : std::isfinite(output) ? 1
                            : std::isinf(output)    ? 2
                                                    : 3;
    const int kind = (((method_kind * 4 + measure_kind) * 3 + int(mapping)) * 4 + output_kind) * 2 +
                     (ordinary ? 1 : 0);
    table[size_t(kind)]();
}

} // namespace

// The renderer's functions, answering from the fuzzer's input as they are
// called, so that only what the call uses takes part in the checks.
extern "C" {

void* mi_phen_eval(RenderState*, void* parameter) {
    Session& s = *session;
    FuzzedDataProvider& in = *s.input;
    const auto offset = static_cast<char*>(parameter) - reinterpret_cast<char*>(&s.block.params);
    FUZZ_CHECK(offset >= 0 && offset < 40 && offset % 4 == 0,
               "evaluates a parameter outside the block");
    char* value = reinterpret_cast<char*>(&s.connected) + offset;
    void* answer = in.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : value;
    const bool is_float = offset != 0 && offset != 4 && offset != 8 && offset != 28;
    if (is_float) {
        const float v = any_float(in);
        std::memcpy(value, &v, sizeof v);
    } else {
        const int32_t v = offset == 28 ? in.ConsumeIntegral<int32_t>() : any_code(in);
        std::memcpy(value, &v, sizeof v);
    }
    if (reporting()) {
        uint32_t value_bits;
        std::memcpy(&value_bits, value, sizeof value_bits);
        std::printf("  mi_phen_eval(field at %d) -> %s, value bits %08x\n", int(offset),
                    answer ? "value" : "null", value_bits);
    }
    if (offset == ptrdiff_t(offsetof(BendlensParameters, mapping))) {
        s.mapping_evaluated = true;
        s.mapping_source = answer;
    }
    return answer;
}

Boolean mi_tri_vectors(RenderState*, int which, int count, Vector** a, Vector** b, Vector** c) {
    Session& s = *session;
    FuzzedDataProvider& in = *s.input;
    FUZZ_CHECK(which == 'n' || which == 'p', "asks for a triangle vector kind that does not exist");
    FUZZ_CHECK(count == 1, "asks for triangle vectors with a count other than 1");
    Vector* v = s.triangle[which == 'n' ? 0 : 1];
    const Boolean found = in.ConsumeIntegralInRange<int>(0, 7) != 0;
    Vector** out[3] = {a, b, c};
    for (int i = 0; i < 3; ++i) {
        if (in.ConsumeIntegralInRange<int>(0, 15) == 0) {
            *out[i] = nullptr;
        } else {
            v[i] = any_vector(in);
            *out[i] = &v[i];
        }
    }
    if (reporting()) {
        std::printf("  mi_tri_vectors('%c') -> %d\n", which, found);
        for (int i = 0; i < 3; ++i) {
            if (*out[i] != nullptr) {
                report_vector(which == 'n' ? "normal" : "position", **out[i]);
            }
        }
    }
    return found;
}

Boolean mi_sample(double* sample, int* instance, RenderState* state, uint16_t dimension,
                  uint32_t* count) {
    Session& s = *session;
    FuzzedDataProvider& in = *s.input;
    FUZZ_CHECK(state == &s.state && dimension == 2 && count != nullptr && instance != nullptr,
               "mi_sample called with unexpected arguments");
    if (s.pairs_drawn >= max_pairs || in.ConsumeIntegralInRange<int>(0, 15) == 0) {
        return 0;
    }
    // The renderer may change the count while drawing.
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
        *count = in.ConsumeIntegral<uint32_t>();
    }
    for (int k = 0; k < 2; ++k) {
        if (s.promises_kept) {
            sample[k] = in.ConsumeProbability<double>();
        } else {
            sample[k] = in.ConsumeFloatingPoint<double>();
            s.all_ordinary =
                s.all_ordinary && ordinary(sample[k]) && sample[k] >= 0.0 && sample[k] <= 1.0;
        }
    }
    ++s.pairs_drawn;
    ++*instance;
    if (reporting()) {
        std::printf("  mi_sample -> (%.17g, %.17g), count %u\n", sample[0], sample[1], *count);
    }
    return 1;
}

Boolean mi_trace_probe(RenderState* state, Vector* direction, Vector* origin) {
    Session& s = *session;
    FuzzedDataProvider& in = *s.input;
    FUZZ_CHECK(state == &s.state, "traces a probe from another state");
    FUZZ_CHECK(state->primitive == nullptr, "probes with the primitive still set");
    s.probes_finite = s.probes_finite && finite(*direction) && finite(*origin);
    report_vector("probe direction", *direction);
    report_vector("probe origin", *origin);
    if (!in.ConsumeBool()) {
        return 0;
    }
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) {
        state->child = nullptr;
    } else {
        s.child.normal = any_vector(in);
        state->child = &s.child;
        report_vector("  lands on normal", s.child.normal);
    }
    return 1;
}

float mi_spline(float t, int count, float* control) {
    Session& s = *session;
    FuzzedDataProvider& in = *s.input;
    FUZZ_CHECK(count == 3 && control != nullptr, "mi_spline called with unexpected arguments");
    FUZZ_CHECK(control[0] == 0.0f && control[2] == 1.0f, "contrast curve ends are not 0 and 1");
    const float answer = in.ConsumeBool() ? t : any_float(in);
    if (reporting()) {
        std::printf("  mi_spline(%.9g, {0, %.9g, 1}) -> %.9g\n", double(t), double(control[1]),
                    double(answer));
    }
    return answer;
}

} // extern "C"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Session s;
    session = &s;
    s.input = &in;

    const Platform platform = in.ConsumeBool() ? Platform::windows : Platform::macos;
    s.promises_kept = in.ConsumeIntegralInRange<int>(0, 15) != 0;
    fill_parameters(in, s.block.params);
    fill_connections(in, s);
    fill_state(in, s);
    Colour result{untracked_float(in), untracked_float(in), untracked_float(in),
                  untracked_float(in)};

    const Block block_before = s.block;
    const RenderState state_before = s.state;
    Vector derivs_before[5];
    std::memcpy(derivs_before, s.derivs, sizeof derivs_before);
    const Colour result_before = result;

    if (reporting()) {
        const BendlensParameters& p = s.block.params;
        std::printf("variant %d: method %d measure %d mapping %d range_max %.9g range_min %.9g "
                    "threshold %.9g contrast %.9g use_contrast %d samples %.9g probe_scale %.9g\n",
                    int(platform), p.method, p.measure, p.mapping, double(p.range_max),
                    double(p.range_min), double(p.threshold), double(p.contrast), p.use_contrast,
                    double(p.samples), double(p.probe_scale));
        std::printf("  indirection_offset %d has_indirection %d shader %s derivs %s\n",
                    s.record.indirection_offset, s.record.has_indirection,
                    s.state.shader ? "set" : "null", s.state.derivs ? "set" : "null");
        report_vector("point", s.state.point);
        report_vector("normal", s.state.normal);
        report_vector("geometric_normal", s.state.geometric_normal);
        report_vector("bary", Vector{s.state.bary[0], s.state.bary[1], s.state.bary[2]});
        if (s.state.derivs != nullptr) {
            for (const Vector& d : s.derivs) {
                report_vector("deriv", d);
            }
        }
    }
    const Boolean returned = bl::shade(&result, &s.state, &s.block.params, platform);
    if (reporting()) {
        std::printf("  output %.9g (bits %08x), ordinary input %d\n", double(result.r),
                    bits(result.r), int(s.all_ordinary));
    }

    FUZZ_CHECK(returned == 1, "the call did not return true");
    FUZZ_CHECK(std::memcmp(&block_before, &s.block, sizeof s.block) == 0,
               "the parameter block was written");
    FUZZ_CHECK(std::memcmp(derivs_before, s.derivs, sizeof derivs_before) == 0,
               "the derivatives were written");
    FUZZ_CHECK(std::memcmp(&state_before.ray_origin, &s.state.ray_origin, sizeof(Vector)) == 0,
               "ray_origin not restored");
    FUZZ_CHECK(state_before.primitive == s.state.primitive, "primitive not restored");
    FUZZ_CHECK(same_fields(state_before, s.state), "the state was changed");
    FUZZ_CHECK(bits(result.a) == bits(result_before.a), "alpha was written");

    const void* mapping_source = s.mapping_evaluated && s.mapping_source != nullptr
                                     ? s.mapping_source
                                     : static_cast<const void*>(&s.block.params.mapping);
    int32_t mapping;
    std::memcpy(&mapping, mapping_source, sizeof mapping);
    if (mapping < 0 || mapping > 2) {
        FUZZ_CHECK(bits(result.r) == bits(result_before.r) &&
                       bits(result.g) == bits(result_before.g) &&
                       bits(result.b) == bits(result_before.b),
                   "the result was written for a mapping outside 0 to 2");
    } else {
        FUZZ_CHECK(bits(result.r) == bits(result.g) && bits(result.r) == bits(result.b),
                   "r, g and b differ");
        note_outcome(s.block.params.method, s.block.params.measure, mapping, result.r,
                     s.all_ordinary);
        if (s.all_ordinary) {
            FUZZ_CHECK(std::isfinite(result.r), "finite input gave a non-finite output");
        }
    }
    if (s.all_ordinary) {
        FUZZ_CHECK(s.probes_finite, "finite input gave a non-finite probe ray");
    }
    session = nullptr;
    return 0;
}
