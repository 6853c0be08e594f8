// The parts of a PLY file's header that the readers share (ply.cpp reads
// any file value by value, ply_fixed.cpp binary files of fixed-size records
// in parallel).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "preview/mesh/mesh.h"
#include "preview/progress/progress.h"

namespace preview {
namespace ply {

enum class PlyType { none, i8, u8, i16, u16, i32, u32, f32, f64 };

inline size_t ply_size(PlyType type) {
    switch (type) {
    case PlyType::i8:
    case PlyType::u8:
        return 1;
    case PlyType::i16:
    case PlyType::u16:
        return 2;
    case PlyType::i32:
    case PlyType::u32:
    case PlyType::f32:
        return 4;
    case PlyType::f64:
        return 8;
    case PlyType::none:
        break;
    }
    return 0;
}

struct PlyProperty {
    std::string name;
    PlyType type = PlyType::none;       // the value's type
    PlyType count_type = PlyType::none; // for lists: the count's type
    bool is_list = false;
};

struct PlyElement {
    std::string name;
    size_t count = 0;
    std::vector<PlyProperty> properties;
};

enum class PlyFormat { ascii, little_endian, big_endian };

// The value of ply_size(type) bytes at raw, stored in the given byte order.
// The bytes are assembled explicitly in the file's order: the host's does
// not matter.
inline double binary_value(const unsigned char* raw, PlyType type, bool big_endian) {
    const size_t bytes = ply_size(type);
    uint64_t u = 0;
    for (size_t i = 0; i < bytes; ++i) {
        u = (u << 8) | raw[big_endian ? i : bytes - 1 - i];
    }
    switch (type) {
    case PlyType::i8:
        return double(int8_t(uint8_t(u)));
    case PlyType::u8:
        return double(uint8_t(u));
    case PlyType::i16:
        return double(int16_t(uint16_t(u)));
    case PlyType::u16:
        return double(uint16_t(u));
    case PlyType::i32:
        return double(int32_t(uint32_t(u)));
    case PlyType::u32:
        return double(uint32_t(u));
    case PlyType::f32: {
        const uint32_t w = uint32_t(u);
        float f = 0.0f;
        std::memcpy(&f, &w, 4);
        return double(f);
    }
    case PlyType::f64: {
        double d = 0.0;
        std::memcpy(&d, &u, 8);
        return d;
    }
    case PlyType::none:
        break;
    }
    return 0.0;
}

// The vertex values read: position, normal, texture coordinates.
constexpr int value_slots = 8;

// The slot a vertex property fills, -1 for none. Texture coordinates go by
// several names in the wild: s and t, u and v, texture_u and texture_v (and
// texture_s, texture_t).
inline int vertex_slot(const std::string& name) {
    const char* const names[6] = {"x", "y", "z", "nx", "ny", "nz"};
    for (int k = 0; k < 6; ++k) {
        if (name == names[k]) {
            return k;
        }
    }
    if (name == "s" || name == "u" || name == "texture_u" || name == "texture_s") {
        return 6;
    }
    if (name == "t" || name == "v" || name == "texture_v" || name == "texture_t") {
        return 7;
    }
    return -1;
}

// Reads a binary body whose vertex element has only single values and whose
// faces are all triangles, each a record of one list of three indices, on
// every core. True with the mesh, which is then the one ply.cpp's reader
// would give; false, leaving the mesh empty, for any other file, or one cut
// short or naming a vertex that does not exist: ply.cpp's reader then reads
// it (and gives the reason).
bool read_fixed_binary(const std::vector<PlyElement>& elements, PlyFormat format,
                       std::string_view body, Mesh& mesh, Progress* progress);

} // namespace ply
} // namespace preview
