#include "preview/host/host_state.h"

namespace preview {

const char* const parameter_names[parameter_count] = {
    "method",    "measure",  "mapping",      "range_max", "range_min",
    "threshold", "contrast", "use_contrast", "samples",   "probe_scale"};

void link_instance(Instance& instance) {
    instance.record.indirection_offset = int32_t(sizeof(BendlensParameters));
    instance.record.has_indirection = 1;
    for (int k = 0; k < parameter_count; ++k) {
        const bool connected = instance.connections[k].source != Connection::none;
        instance.block.tags[k] = connected ? Tag(k + 1) : 0;
    }
}

void load_hit(const Hit& hit, HostState& host) {
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
