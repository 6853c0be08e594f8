// Reading one parameter through the renderer's rule for connected parameters.
#pragma once

#include <cstring>

#include "shader/renderer.h"

namespace bl {

// True when the parameter at `parameter` is connected to another shader, so
// that its value must come from mi_phen_eval. The connection tag lies
// indirection_offset bytes past the parameter; it is copied out byte-wise
// since nothing promises that it is aligned.
inline bool is_connected(const RenderState* state, const void* parameter, Platform platform) {
    const ShaderRecord* record = state->shader;
    if (record == nullptr) {
        return false;
    }
    const int32_t offset = record->indirection_offset;
    Tag tag = 0;
    if (platform == Platform::windows) {
        if (record->has_indirection != 1) {
            return false;
        }
        std::memcpy(&tag, static_cast<const char*>(parameter) + offset, sizeof tag);
        return tag != 0 && tag != Tag(-2);
    }
    if (offset == 0) {
        return false;
    }
    std::memcpy(&tag, static_cast<const char*>(parameter) + offset, sizeof tag);
    return tag != 0;
}

// The value of one parameter: evaluated by the renderer when connected, read
// in place otherwise. A null answer from mi_phen_eval falls back to the value
// in place rather than being read through.
template <typename T> T read_parameter(RenderState* state, const T* parameter, Platform platform) {
    const void* source = parameter;
    if (is_connected(state, parameter, platform)) {
        const void* evaluated = mi_phen_eval(state, const_cast<T*>(parameter));
        if (evaluated != nullptr) {
            source = evaluated;
        }
    }
    T value;
    std::memcpy(&value, source, sizeof value);
    return value;
}

} // namespace bl
