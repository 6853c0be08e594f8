// A triangle mesh as the preview host holds it: plain arrays, no Embree, no
// plug-in, so that reading, welding and the curvature fit can be tested and
// fuzzed on their own.
#pragma once

#include <cstdint>
#include <vector>

namespace preview {

struct Float3 {
    float x, y, z;
};

struct Float2 {
    float u, v;
};

struct Mesh {
    std::vector<Float3> positions;
    std::vector<Float3> normals;     // one per position, or empty
    std::vector<Float2> uvs;         // one per position (the first texture set), or empty
    std::vector<uint32_t> triangles; // three position indices per triangle
    // For each position, the first vertex at the same position (weld.h), as
    // prepare_mesh found it when it welded; empty when it did not. Whoever
    // reads it checks that it still fits the positions.
    std::vector<uint32_t> welded;
};

} // namespace preview
