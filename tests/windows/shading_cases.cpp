#include "tests/windows/shading_cases.h"

#include <cmath>
#include <cstring>

namespace cases {
namespace {

// The case being shaded; the shading runs on one thread.
const Case* current = nullptr;
RenderState child_state{};

// A 64-bit linear congruential sequence: the same numbers on every platform,
// unlike the standard library's distributions.
struct Sequence {
    uint64_t state;
    float next(float low, float high) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const float unit = float(state >> 40) / 16777216.0f;
        return low + (high - low) * unit;
    }
    Vector vector(float low, float high) {
        const float x = next(low, high);
        const float y = next(low, high);
        return Vector{x, y, next(low, high)};
    }
};

Vector unit(Vector v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return length > 0.0f ? Vector{v.x / length, v.y / length, v.z / length}
                         : Vector{0.0f, 0.0f, 1.0f};
}

} // namespace

Case make(int index) {
    Sequence s{uint64_t(index) * 7919u + 17u};
    Case c{};
    c.params.method = index % 3;
    c.params.measure = (index / 3) % 3;
    c.params.mapping = (index / 9) % 3;
    c.params.range_max = s.next(0.1f, 4.0f);
    c.params.range_min = s.next(0.1f, 4.0f);
    c.params.threshold = s.next(0.0f, 0.5f);
    c.params.contrast = s.next(0.0f, 1.0f);
    c.params.use_contrast = (index / 27) % 2;
    c.params.samples = s.next(1.0f, 24.0f);
    c.params.probe_scale = s.next(0.5f, 6.0f);
    for (Vector& d : c.derivs) {
        d = s.vector(-2.0f, 2.0f);
    }
    c.point = s.vector(-5.0f, 5.0f);
    c.normal = unit(s.vector(-1.0f, 1.0f));
    c.geometric_normal = unit(
        Vector{c.normal.x + s.next(-0.2f, 0.2f), c.normal.y, c.normal.z + s.next(-0.2f, 0.2f)});
    const float a = s.next(0.0f, 1.0f);
    const float b = s.next(0.0f, 1.0f - a);
    c.bary[0] = a;
    c.bary[1] = b;
    c.bary[2] = 1.0f - a - b;
    for (int k = 0; k < 3; ++k) {
        const Vector turn = s.vector(-0.4f, 0.4f);
        c.vertex_normals[k] =
            unit(Vector{c.normal.x + turn.x, c.normal.y + turn.y, c.normal.z + turn.z});
        c.vertex_points[k] = s.vector(-1.0f, 1.0f);
    }
    c.tilt = s.next(-0.5f, 0.5f);
    return c;
}

Colour shade(const Case& c, ShadeFunction function) {
    current = &c;
    // Every other case has its parameters connected, so that each read goes
    // through mi_phen_eval (which answers with the value in place).
    struct {
        BendlensParameters params;
        Tag tags[10];
    } block{};
    const bool connected = c.tilt > 0.0f;
    for (Tag& tag : block.tags) {
        tag = connected ? 5u : 0u;
    }
    ShaderRecord record{int32_t(sizeof(BendlensParameters)), uint8_t(connected ? 1 : 0)};
    RenderState state{};
    Vector derivs[5];
    std::memcpy(derivs, c.derivs, sizeof derivs);
    state.derivs = derivs;
    state.shader = &record;
    state.point = c.point;
    state.normal = c.normal;
    state.geometric_normal = c.geometric_normal;
    std::memcpy(state.bary, c.bary, sizeof state.bary);
    block.params = c.params;
    Colour result{-1.0f, -1.0f, -1.0f, 0.75f};
    function(&result, &state, &block.params);
    current = nullptr;
    return result;
}

int phen_eval_calls = 0;

uint32_t bits(float v) {
    uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

} // namespace cases

extern "C" {

void* mi_phen_eval(RenderState*, void* parameter) {
    cases::phen_eval_calls += 1;
    return parameter;
}

Boolean mi_tri_vectors(RenderState*, int which, int, Vector** a, Vector** b, Vector** c) {
    static Vector corners[3];
    const Vector* from =
        which == 'n' ? cases::current->vertex_normals : cases::current->vertex_points;
    std::memcpy(corners, from, sizeof corners);
    *a = &corners[0];
    *b = &corners[1];
    *c = &corners[2];
    return 1;
}

Boolean mi_sample(double* sample, int* instance, RenderState*, uint16_t, uint32_t* count) {
    if (uint32_t(*instance) >= *count) {
        return 0;
    }
    const double k = double(*instance);
    sample[0] = (k + 0.5) / double(*count);
    const double spun = k * 0.6180339887498949 + 0.25;
    sample[1] = spun - double(int64_t(spun));
    *instance += 1;
    return 1;
}

Boolean mi_trace_probe(RenderState* state, Vector* direction, Vector*) {
    // Every fifth probe, by its direction, misses.
    if (direction->x > 0.8f) {
        return 0;
    }
    const float t = cases::current->tilt;
    const Vector n{state->normal.x + t * direction->x, state->normal.y + t * direction->y,
                   state->normal.z + t * direction->z};
    const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    cases::child_state.normal = Vector{n.x / length, n.y / length, n.z / length};
    state->child = &cases::child_state;
    return 1;
}

float mi_spline(float t, int, float* control) {
    const float u = 1.0f - t;
    return u * u * control[0] + 2.0f * u * t * control[1] + t * t * control[2];
}

} // extern "C"
