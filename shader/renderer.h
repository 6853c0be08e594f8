// The renderer's records and functions, as far as the shader uses them.
//
// These are our own declarations, written from what the shader relies on.
// Only the fields the shader reads are declared; they keep the renderer's
// order. The five functions are bound by the dynamic linker on Linux and the
// Mac, and by the forwarders of hostbind/ on Windows.
#pragma once

#include <cstdint>

extern "C" {

// A 32-bit boolean, as the renderer passes and returns it.
typedef int32_t Boolean;

// 32-bit name of a renderer object; 0 names nothing.
typedef uint32_t Tag;

struct Vector {
    float x, y, z;
};

struct Colour {
    float r, g, b, a;
};

// The record of the shader instance being evaluated.
struct ShaderRecord {
    int32_t indirection_offset; // byte offset from a parameter to its connection tag
    uint8_t has_indirection;    // 1: parameters may be connected
};

// The per-sample shading state.
struct RenderState {
    Vector ray_origin;       // changed during, and restored after, probe tracing
    void* primitive;         // the primitive being shaded; null while probing
    float bary[3];           // the hit point's weights for vertices a, b, c
    Vector point;            // the hit point
    Vector normal;           // the shading normal
    Vector geometric_normal; // the flat normal of the hit triangle
    Vector* derivs;          // dP/du, dP/dv, d2P/du2, d2P/dv2, d2P/dudv
    ShaderRecord* shader;    // the shader instance being evaluated
    RenderState* child;      // the state at the hit of the last probe ray
};

// Evaluates a connected parameter; returns a pointer to a value of the
// parameter's type.
void* mi_phen_eval(RenderState* state, void* parameter);

// Points a, b and c at the current triangle's vertex normals (which = 'n') or
// vertex positions (which = 'p').
Boolean mi_tri_vectors(RenderState* state, int which, int count, Vector** a, Vector** b,
                       Vector** c);

// Writes the next sample pair into sample[0..1] and returns true while there
// is one. The count may be changed by the renderer.
Boolean mi_sample(double* sample, int* instance, RenderState* state, uint16_t dimension,
                  uint32_t* count);

// Traces a probe ray; on a hit, state->child describes the hit.
Boolean mi_trace_probe(RenderState* state, Vector* direction, Vector* origin);

// Value at t of the curve through the control values.
float mi_spline(float t, int count, float* control);

} // extern "C"

// The two renderer variants the library knows. They differ in the rule for
// connected parameters and in the divisor of the probe-ray average.
enum class Platform : uint8_t { windows = 0, macos = 1 };
