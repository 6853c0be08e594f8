// Triangle meshes from OBJ and PLY files, parsed from a buffer in memory.
//
// These are pure functions: no files, no Embree, no global state, so that they
// can be tested and fuzzed on their own. Every malformed input gives false and
// a one-line reason; none reads outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace preview {

struct Float3 {
    float x, y, z;
};

struct Mesh {
    std::vector<Float3> positions;
    std::vector<Float3> normals;     // one per position, or empty
    std::vector<uint32_t> triangles; // three position indices per triangle
};

// The most vertices or faces a file may declare. Larger counts are refused
// before anything is allocated, so a hostile header cannot exhaust memory.
constexpr size_t max_mesh_elements = size_t(1) << 26;

// Wavefront OBJ: v, vn and f records (f with v, v/t, v//n or v/t/n corners,
// negative indices counted from the end, polygons split into a fan). Normals
// are kept only when every corner names one that matches its position's.
bool parse_obj(const char* data, size_t size, Mesh& mesh, std::string& error);

// Stanford PLY, ascii or binary little endian: a vertex element with x, y, z
// (and nx, ny, nz if present) and a face element with a list of indices,
// split into a fan. Other elements and properties are skipped.
bool parse_ply(const char* data, size_t size, Mesh& mesh, std::string& error);

// Chooses the parser by the file name's extension (.obj or .ply, any case).
bool parse_mesh(const std::string& name, const char* data, size_t size, Mesh& mesh,
                std::string& error);

// Reads the file at path and parses it (the format chosen by its extension),
// then prepares it (prepare_mesh). A path that is not a readable regular file
// gives "cannot read mesh PATH"; any other failure gives "mesh PATH: reason".
bool load_mesh(const std::string& path, Mesh& mesh, std::string& error);

// Checks what rendering needs: at least one triangle, indices in range,
// finite coordinates. Then fills in area-weighted vertex normals when the
// file had none, or had some that are not finite or of zero length.
bool prepare_mesh(Mesh& mesh, std::string& error);

} // namespace preview
