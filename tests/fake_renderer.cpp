#include "tests/fake_renderer.h"

#include <cstring>

namespace fake {
namespace {

thread_local Renderer* active = nullptr;

Renderer& current() {
    // Tests always install a renderer first; a stray call is a test bug.
    if (active == nullptr) {
        std::abort();
    }
    return *active;
}

} // namespace

Renderer::Renderer() {
    active = this;
}
Renderer::~Renderer() {
    active = nullptr;
}

size_t Renderer::count(Kind kind) const {
    size_t n = 0;
    for (const Call& call : calls) {
        n += call.kind == kind ? 1 : 0;
    }
    return n;
}

std::vector<std::string> Renderer::evaluated_parameters(const BendlensParameters& params) const {
    static const char* const names[] = {"method",    "measure",    "mapping",  "range_max",
                                        "range_min", "threshold",  "contrast", "use_contrast",
                                        "samples",   "probe_scale"};
    std::vector<std::string> out;
    for (const Call& call : calls) {
        if (call.kind != Kind::phen_eval) {
            continue;
        }
        const auto offset =
            static_cast<const char*>(call.parameter) - reinterpret_cast<const char*>(&params);
        out.push_back(offset >= 0 && offset < 40 && offset % 4 == 0 ? names[offset / 4] : "?");
    }
    return out;
}

Scene::Scene() {
    state.shader = &record;
    state.derivs = derivs;
    state.normal = Vector{0.0f, 0.0f, 1.0f};
    state.geometric_normal = Vector{0.0f, 0.0f, 1.0f};
    state.bary[0] = state.bary[1] = state.bary[2] = 1.0f / 3.0f;
}

BendlensParameters plain_parameters(int32_t method, int32_t measure, float range) {
    BendlensParameters p{};
    p.method = method;
    p.measure = measure;
    p.mapping = 0;
    p.range_max = range;
    p.range_min = range;
    p.threshold = 0.0f;
    p.contrast = 0.5f;
    p.use_contrast = 0;
    p.samples = 16.0f;
    p.probe_scale = 1.0f;
    return p;
}

uint32_t bits(float v) {
    uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

} // namespace fake

extern "C" {

void* mi_phen_eval(RenderState* state, void* parameter) {
    fake::Renderer& r = fake::current();
    fake::Call call{fake::Kind::phen_eval};
    call.parameter = parameter;
    r.calls.push_back(call);
    return r.phen_eval ? r.phen_eval(state, parameter) : parameter;
}

Boolean mi_tri_vectors(RenderState* state, int which, int count, Vector** a, Vector** b,
                       Vector** c) {
    fake::Renderer& r = fake::current();
    fake::Call call{fake::Kind::tri_vectors};
    call.which = which;
    call.count = count;
    r.calls.push_back(call);
    return r.tri_vectors ? r.tri_vectors(state, which, a, b, c) : 0;
}

Boolean mi_sample(double* sample, int* instance, RenderState* state, uint16_t dimension,
                  uint32_t* count) {
    fake::Renderer& r = fake::current();
    fake::Call call{fake::Kind::sample};
    call.dimension = dimension;
    call.sample_count = *count;
    r.calls.push_back(call);
    return r.sample ? r.sample(sample, instance, state, count) : 0;
}

Boolean mi_trace_probe(RenderState* state, Vector* direction, Vector* origin) {
    fake::Renderer& r = fake::current();
    fake::Call call{fake::Kind::trace_probe};
    call.direction = *direction;
    call.origin = *origin;
    call.ray_origin = state->ray_origin;
    call.primitive = state->primitive;
    r.calls.push_back(call);
    return r.trace_probe ? r.trace_probe(state, direction, origin) : 0;
}

float mi_spline(float t, int count, float* control) {
    fake::Renderer& r = fake::current();
    fake::Call call{fake::Kind::spline};
    call.t = t;
    call.count = count;
    std::memcpy(call.control, control, sizeof call.control);
    r.calls.push_back(call);
    return r.spline ? r.spline(t, control) : t;
}

} // extern "C"
