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

} // namespace preview
