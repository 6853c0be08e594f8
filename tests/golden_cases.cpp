#include "tests/golden_cases.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "tests/fake_renderer.h"

namespace golden {
namespace {

// splitmix64: a small generator whose sequence depends on nothing but the seed.
struct Random {
    uint64_t state;

    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A float in [lo, hi): 24 random bits scaled exactly, then one rounding.
    float uniform(float lo, float hi) {
        const float unit = float(next() >> 40) * 0x1p-24f;
        return lo + unit * (hi - lo);
    }
    // A double in [0, 1] with 53 random bits, exactly as a sample pair holds it.
    double unit_double() { return double(next() >> 11) * 0x1p-53; }
    bool chance(int percent) { return int(next() % 100) < percent; }
    Vector vector(float span) {
        return Vector{uniform(-span, span), uniform(-span, span), uniform(-span, span)};
    }
};

Vector normalised(Vector v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return length > 0.0f ? Vector{v.x / length, v.y / length, v.z / length} : v;
}

// The parameter block followed by one connection tag per field, as a renderer
// lays it out when indirection_offset is the size of the block.
struct Block {
    BendlensParameters params;
    Tag tags[10];
};

struct Case {
    Block block{};
    BendlensParameters connected{}; // what mi_phen_eval answers for each field
    ShaderRecord record{0, 0};
    Vector derivs[5]{};
    Vector normals[3]{};
    Vector positions[3]{};
    bool triangle_found = true;
    RenderState state{};
    RenderState child{};
    Random probes{0};
    int hit_percent = 75;
};

void fill_case(Case& c, int index) {
    const Codes codes = codes_of(index);
    const int variant = (index / 128) % 8;
    Random random{uint64_t(index) * 0x2545F4914F6CDD1Dull + 1};

    BendlensParameters& p = c.block.params;
    p.method = codes.method;
    p.measure = codes.measure;
    p.mapping = codes.mapping;
    p.use_contrast = codes.use_contrast;
    p.range_max = random.uniform(0.05f, 3.0f);
    p.range_min = random.uniform(0.05f, 3.0f);
    p.threshold = random.uniform(-0.6f, 0.6f);
    p.contrast = random.uniform(0.0f, 1.0f);
    p.samples = random.uniform(0.0f, 24.0f);
    p.probe_scale = random.uniform(0.5f, 3.0f);

    // Connections: the even variants read every field in place; the odd ones
    // put a tag of 0, -2 or 7 behind each field, under a has_indirection of
    // 0, 1 or 2, so that the two rules disagree on some fields.
    c.connected = p;
    c.connected.range_max = p.range_max * 1.5f;
    c.connected.range_min = p.range_min * 0.5f;
    c.connected.threshold = -p.threshold;
    c.connected.contrast = 1.0f - p.contrast;
    c.connected.samples = p.samples + 3.0f;
    c.connected.probe_scale = p.probe_scale * 2.0f;
    c.connected.use_contrast = 1 - p.use_contrast;
    if (variant % 2 == 1) {
        c.record.indirection_offset = int32_t(offsetof(Block, tags));
        c.record.has_indirection = uint8_t((variant / 2) % 3);
        static const Tag choices[3] = {0, Tag(-2), 7};
        for (Tag& tag : c.block.tags) {
            tag = choices[random.next() % 3];
        }
    }

    for (Vector& d : c.derivs) {
        d = random.vector(2.0f);
    }
    c.state.normal = random.vector(1.5f);
    c.state.point = random.vector(4.0f);
    c.state.ray_origin = random.vector(4.0f);
    c.state.primitive = &c.record;
    const float wa = random.uniform(0.0f, 1.0f);
    const float wb = random.uniform(0.0f, 1.0f - wa);
    c.state.bary[0] = wa;
    c.state.bary[1] = wb;
    c.state.bary[2] = 1.0f - wa - wb;

    for (Vector& position : c.positions) {
        position = random.vector(1.0f);
    }
    c.state.geometric_normal = normalised(random.vector(1.0f));
    for (Vector& n : c.normals) {
        const Vector wobble = random.vector(0.4f);
        n = normalised(Vector{c.state.geometric_normal.x + wobble.x,
                              c.state.geometric_normal.y + wobble.y,
                              c.state.geometric_normal.z + wobble.z});
    }
    c.triangle_found = variant != 6;
    c.hit_percent = variant == 4 ? 0 : 75;
    c.probes = Random{random.next()};

    c.state.derivs = c.derivs;
    c.state.shader = &c.record;
}

// The contrast curve: a quadratic Bezier through the three control values.
float bezier(float t, const float* control) {
    const float u = 1.0f - t;
    return u * u * control[0] + 2.0f * u * t * control[1] + t * t * control[2];
}

} // namespace

Codes codes_of(int index) {
    return Codes{index % 4, (index / 4) % 4, (index / 16) % 4, (index / 64) % 2};
}

Outcome shade_case(int index, Platform platform, ShadeFunction shade) {
    Case c;
    fill_case(c, index);

    fake::Renderer renderer;
    renderer.phen_eval = [&c](RenderState*, void* parameter) -> void* {
        const auto offset =
            static_cast<char*>(parameter) - reinterpret_cast<char*>(&c.block.params);
        return reinterpret_cast<char*>(&c.connected) + offset;
    };
    renderer.tri_vectors = [&c](RenderState*, int which, Vector** a, Vector** b, Vector** v) {
        Vector* source = which == 'n' ? c.normals : c.positions;
        *a = &source[0];
        *b = &source[1];
        *v = &source[2];
        return Boolean(c.triangle_found ? 1 : 0);
    };
    uint32_t drawn = 0;
    renderer.sample = [&c, &drawn](double* pair, int* instance, RenderState*, uint32_t* count) {
        if (drawn >= *count) {
            return Boolean(0);
        }
        pair[0] = c.probes.unit_double();
        pair[1] = c.probes.unit_double();
        ++drawn;
        ++*instance;
        return Boolean(1);
    };
    renderer.trace_probe = [&c](RenderState* state, Vector* direction, Vector*) {
        if (!c.probes.chance(c.hit_percent)) {
            return Boolean(0);
        }
        const Vector wobble = c.probes.vector(0.2f);
        c.child.normal = normalised(
            Vector{-direction->x + wobble.x, -direction->y + wobble.y, -direction->z + wobble.z});
        state->child = &c.child;
        return Boolean(1);
    };
    renderer.spline = [](float t, float* control) { return bezier(t, control); };

    Colour result{0.125f, 0.25f, 0.375f, 0.5f};
    shade(&result, &c.state, &c.block.params, platform);
    return Outcome{fake::bits(result.r), fake::bits(result.g), fake::bits(result.b),
                   fake::bits(result.a)};
}

} // namespace golden
