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
};

} // namespace preview
