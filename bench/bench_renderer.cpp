#include "bench/bench_renderer.h"

namespace bench {
namespace {

// The triangle mi_tri_vectors hands out: never written, shared by every
// thread.
Vector triangle_normals[3] = {
    {0.10f, 0.05f, 0.99373f}, {-0.08f, 0.12f, 0.98954f}, {0.03f, -0.11f, 0.99348f}};
Vector triangle_positions[3] = {{0.0f, 0.0f, 0.0f}, {0.9f, 0.1f, 0.02f}, {0.2f, 0.8f, -0.03f}};

// The normal every probe finds where it lands: tilted a little from the hit
// normal (0, 0, 1), so that each probe adds a nonzero angle.
RenderState probe_landing = [] {
    RenderState s{};
    s.normal = Vector{0.06f, -0.04f, 0.99740f};
    return s;
}();

// A fixed table of sample pairs, so that every draw costs the same.
constexpr int sample_table_size = 64;
struct SampleTable {
    double pairs[sample_table_size][2];
};
const SampleTable sample_table = [] {
    SampleTable t{};
    for (int i = 0; i < sample_table_size; ++i) {
        t.pairs[i][0] = (i + 0.5) / sample_table_size;
        // Golden-ratio sequence for the angle.
        const double phi = (i + 1) * 0.6180339887498949;
        t.pairs[i][1] = phi - double(int(phi));
    }
    return t;
}();

} // namespace

void make_scene(Scene& scene, const Setup& setup) {
    scene = Scene{};
    scene.record.indirection_offset = int32_t(sizeof(BendlensParameters));
    scene.record.has_indirection = 1;
    RenderState& s = scene.state;
    s.shader = &scene.record;
    s.derivs = scene.derivs;
    s.primitive = &scene; // any non-null value: method 2 must restore it
    s.ray_origin = Vector{0.0f, 0.0f, 5.0f};
    s.point = Vector{0.25f, -0.5f, 1.0f};
    s.normal = Vector{0.0f, 0.0f, 1.0f};
    s.geometric_normal = Vector{0.0f, 0.0f, 1.0f};
    s.bary[0] = 0.2f;
    s.bary[1] = 0.3f;
    s.bary[2] = 0.5f;

    // Derivatives of a patch bent unevenly in u and v, with a little shear,
    // at a point with an outward normal that is not of unit length.
    s.normal = Vector{0.1f, 0.2f, 1.9f};
    scene.derivs[0] = Vector{1.0f, 0.05f, -0.1f};
    scene.derivs[1] = Vector{0.1f, 1.2f, -0.2f};
    scene.derivs[2] = Vector{0.0f, 0.0f, -0.9f};
    scene.derivs[3] = Vector{0.02f, 0.0f, -0.5f};
    scene.derivs[4] = Vector{0.0f, 0.01f, -0.1f};
    if (setup.method != 0) {
        s.normal = Vector{0.0f, 0.0f, 1.0f};
    }
    // The negative side reads hollows: the same patch bent the other way.
    const bool hollow = setup.mapping == 2;
    if (hollow) {
        for (int k = 2; k < 5; ++k) {
            scene.derivs[k] = Vector{-scene.derivs[k].x, -scene.derivs[k].y, -scene.derivs[k].z};
        }
    }

    BendlensParameters& p = scene.block.params;
    p.method = setup.method;
    p.measure = setup.measure;
    p.mapping = setup.mapping;
    // Ranges that put each method's mean on a ramp, not at an end. (Method 1
    // measures only bends away from the flat normal: its negative side reads
    // nothing.)
    p.range_max = setup.method == 1 ? 0.05f : 2.0f;
    p.range_min = p.range_max;
    p.threshold = p.range_max * 0.05f;
    p.contrast = 0.7f;
    p.use_contrast = setup.contrast ? 1 : 0;
    p.samples = float(setup.probes);
    // A negative scale turns the probes' mean angle into a hollow's reading.
    p.probe_scale = hollow ? -4.0f : 4.0f;
}

} // namespace bench

// The five renderer functions, bound by the plug-in when it is loaded.
extern "C" {

void* mi_phen_eval(RenderState*, void* parameter) {
    return parameter;
}

Boolean mi_tri_vectors(RenderState*, int which, int, Vector** a, Vector** b, Vector** c) {
    Vector* v = which == 'n' ? bench::triangle_normals : bench::triangle_positions;
    *a = &v[0];
    *b = &v[1];
    *c = &v[2];
    return 1;
}

Boolean mi_sample(double* sample, int* instance, RenderState*, uint16_t, uint32_t* count) {
    const uint32_t i = uint32_t(*instance);
    if (i >= *count) {
        return 0;
    }
    const double* pair = bench::sample_table.pairs[i % bench::sample_table_size];
    sample[0] = pair[0];
    sample[1] = pair[1];
    *instance = int(i + 1);
    return 1;
}

Boolean mi_trace_probe(RenderState* state, Vector*, Vector*) {
    state->child = &bench::probe_landing;
    return 1;
}

// A quadratic Bezier curve through the three control values.
float mi_spline(float t, int, float* control) {
    const float u = 1.0f - t;
    return u * u * control[0] + 2.0f * u * t * control[1] + t * t * control[2];
}

} // extern "C"
