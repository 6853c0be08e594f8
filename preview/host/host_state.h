// The preview's side of the renderer records: one shader instance with its
// parameter block and connections, and the per-sample state the shader sees.
#pragma once

#include <cstddef>
#include <cstdint>

#include "preview/scene/scene.h"
#include "shader/parameters.h"
#include "shader/renderer.h"

namespace preview {

constexpr int parameter_count = 10;

// The parameters' names in the declaration, in the block's order.
extern const char* const parameter_names[parameter_count];

// What drives a connected parameter: nothing (read in place), or the hit's
// surface coordinate u or v, mapped linearly from [0, 1] onto [low, high].
struct Connection {
    enum Source { none, u, v } source = none;
    float low = 0.0f;
    float high = 1.0f;
};

// The parameter block as the renderer lays it out, followed by one
// connection tag per parameter: each tag lies sizeof(BendlensParameters)
// bytes past its parameter, the record's indirection_offset.
struct ParameterBlock {
    BendlensParameters params;
    Tag tags[parameter_count];
};
static_assert(offsetof(ParameterBlock, tags) == sizeof(BendlensParameters),
              "each tag sits one block past its parameter");

struct Instance {
    ShaderRecord record{};
    ParameterBlock block{};
    Connection connections[parameter_count];
};

// Sets the tags and the shader record from the connections: a connected
// parameter gets a nonzero tag, which both renderer variants' rules read as
// connected.
void link_instance(Instance& instance);

// The per-sample state. RenderState comes first, so the renderer functions
// recover the host's data from the state pointer the shader hands back.
struct HostState {
    RenderState state{};
    const Scene* scene = nullptr;
    const Instance* instance = nullptr;
    Vector derivs[5] = {};
    // Where mi_tri_vectors points the shader: copies of the hit triangle's
    // vertex normals and positions, valid until the next call on this state.
    Vector triangle_normals[3] = {};
    Vector triangle_positions[3] = {};
    float u = 0.0f, v = 0.0f;
    // Decorrelates mi_sample between pixels and between a pixel's samples.
    uint32_t sample_seed = 0;
    // Values of connected parameters, one slot per parameter, returned by
    // mi_phen_eval; valid until the next evaluation of that parameter.
    union Value {
        int32_t i;
        float f;
    } evaluated[parameter_count] = {};
    // The state that mi_trace_probe fills; set by the owner, may be null.
    HostState* probe_child = nullptr;
};
static_assert(offsetof(HostState, state) == 0, "the RenderState comes first");

inline HostState* host_state(RenderState* state) {
    return reinterpret_cast<HostState*>(state);
}

// Loads a hit into a state, keeping its scene, instance, seed and child.
// Inline: a bake loads one at every texel.
inline void load_hit(const Hit& hit, HostState& host) {
    RenderState& s = host.state;
    s.primitive = const_cast<Primitive*>(hit.primitive);
    s.bary[0] = hit.bary[0];
    s.bary[1] = hit.bary[1];
    s.bary[2] = hit.bary[2];
    s.point = hit.point;
    s.ray_origin = hit.ray_origin;
    s.normal = hit.normal;
    s.geometric_normal = hit.geometric_normal;
    for (int k = 0; k < 5; ++k) {
        host.derivs[k] = hit.derivs[k];
    }
    // Meshes have no parametrisation, so no derivatives to give.
    s.derivs = hit.has_derivs ? host.derivs : nullptr;
    s.child = nullptr;
    host.u = hit.u;
    host.v = hit.v;
}

} // namespace preview
