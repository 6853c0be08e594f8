// The library's exported C interface: the shading call and its three
// companions, named by the renderer's rule for shaders.
#pragma once

#include "shader/parameters.h"
#include "shader/renderer.h"

#if defined(_WIN32)
#if defined(BENDLENS_BUILDING)
#define BENDLENS_EXPORT __declspec(dllexport)
#else
#define BENDLENS_EXPORT __declspec(dllimport)
#endif
#else
#define BENDLENS_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// Shades one sample: writes the curvature as a grey value into r, g and b of
// result. Always returns true.
BENDLENS_EXPORT Boolean bendlens(Colour* result, RenderState* state, BendlensParameters* params);

// The version of the shader interface this library implements: 1.
BENDLENS_EXPORT int bendlens_version(void);

// With a null params (the call for the shader as a whole), asks for no
// per-instance initialisation; with a non-null one, does nothing.
BENDLENS_EXPORT void bendlens_init(RenderState* state, BendlensParameters* params,
                                   Boolean* init_request);

// Does nothing: the shader holds no resources.
BENDLENS_EXPORT void bendlens_exit(RenderState* state, BendlensParameters* params);

} // extern "C"
