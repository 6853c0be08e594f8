// A scriptable stand-in for the renderer: it defines the five renderer
// functions, records every call made to them on the calling thread, and
// answers each through a replaceable handler.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shader/parameters.h"
#include "shader/renderer.h"

namespace fake {

enum class Kind { phen_eval, tri_vectors, sample, trace_probe, spline };

struct Call {
    Kind kind;
    const void* parameter = nullptr; // phen_eval
    int which = 0;                   // tri_vectors
    int count = 0;                   // tri_vectors, spline
    uint16_t dimension = 0;          // sample
    uint32_t sample_count = 0;       // sample: the count as the shader passed it
    Vector direction{};              // trace_probe
    Vector origin{};                 // trace_probe
    Vector ray_origin{};             // trace_probe: the state's ray_origin then
    void* primitive = nullptr;       // trace_probe: the state's primitive then
    float t = 0.0f;                  // spline
    float control[3] = {};           // spline
};

struct Renderer {
    std::vector<Call> calls;

    std::function<void*(RenderState*, void*)> phen_eval;
    std::function<Boolean(RenderState*, int, Vector**, Vector**, Vector**)> tri_vectors;
    std::function<Boolean(double*, int*, RenderState*, uint32_t*)> sample;
    std::function<Boolean(RenderState*, Vector*, Vector*)> trace_probe;
    std::function<float(float, float*)> spline;

    // Installs this renderer for calls made on the current thread, and removes
    // it again when it goes out of scope.
    Renderer();
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // The names of the parameters read through mi_phen_eval, in call order.
    std::vector<std::string> evaluated_parameters(const BendlensParameters& params) const;
    size_t count(Kind kind) const;
};

// A state with a shader record whose parameters are all read in place.
struct Scene {
    ShaderRecord record{0, 0};
    RenderState state{};
    Vector derivs[5]{};
    BendlensParameters params{};
    Colour result{-7.0f, -7.0f, -7.0f, 0.25f};

    Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
};

// Parameters that select a method and measure and map linearly onto
// [-range, range] two-sided, with no dead zone and no curve.
BendlensParameters plain_parameters(int32_t method, int32_t measure, float range = 1.0f);

// The bits of a float, for exact comparisons that also hold for NaN and -0.
uint32_t bits(float v);

} // namespace fake
