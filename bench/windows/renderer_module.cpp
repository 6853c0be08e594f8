// The renderer module of the forwarder benchmark: a DLL exporting two of the
// renderer functions, each doing a fixed, small amount of work, so that the
// cost of reaching them shows.
#include "shader/renderer.h"

namespace {

Vector triangle_normals[3] = {
    {0.10f, 0.05f, 0.99373f}, {-0.08f, 0.12f, 0.98954f}, {0.03f, -0.11f, 0.99348f}};
Vector triangle_positions[3] = {{0.0f, 0.0f, 0.0f}, {0.9f, 0.1f, 0.02f}, {0.2f, 0.8f, -0.03f}};

} // namespace

extern "C" {

// The three-point Bezier curve through the first and last control values,
// pulled towards the middle one: the curve the shader asks for.
__declspec(dllexport) float mi_spline(float t, int count, float* control) {
    if (control == nullptr || count != 3) {
        return t;
    }
    const float s = 1.0f - t;
    return s * s * control[0] + 2.0f * s * t * control[1] + t * t * control[2];
}

// Points a, b and c at a fixed triangle's vertex normals or positions.
__declspec(dllexport) Boolean
    mi_tri_vectors(RenderState* state, int which, int count, Vector** a, Vector** b, Vector** c) {
    if (state == nullptr || count != 1 || (which != 'n' && which != 'p')) {
        return 0;
    }
    Vector* source = which == 'n' ? triangle_normals : triangle_positions;
    *a = &source[0];
    *b = &source[1];
    *c = &source[2];
    return 1;
}

} // extern "C"
