// Triangle meshes from mesh files, read through Assimp.
//
// Formats: Wavefront OBJ, Stanford PLY (ascii, binary little and big endian),
// STL (ascii and binary), glTF 2 (.gltf with embedded buffers, .glb), and each
// of them gzip-compressed (name.obj.gz and so on). Parsing works on a buffer
// in memory, with no Embree and no global state, so that it can be tested and
// fuzzed on its own. Every malformed input gives false and a one-line reason.
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

// Parses a mesh file held in memory, the format chosen by the name's
// extension (.obj, .ply, .stl, .gltf, .glb, any case, optionally followed by
// .gz). Polygons are triangulated (concave ones too); positions are kept as
// the file has them, and so are vertex normals where the file gives every
// vertex one (STL's facet normals are not vertex normals and are dropped).
bool parse_mesh(const std::string& name, const char* data, size_t size, Mesh& mesh,
                std::string& error);

// Reads the file at path and parses it (the format chosen by its extension),
// then prepares it (prepare_mesh). A path that is not a readable regular file
// gives "cannot read mesh PATH"; any other failure gives "mesh PATH: reason".
bool load_mesh(const std::string& path, Mesh& mesh, std::string& error);

// Checks what rendering needs: at least one triangle, indices in range,
// finite coordinates. Then fills in area-weighted unit vertex normals when
// the file had none, or had some that are not finite or of zero length. They
// are summed over positions welded together (mesh_weld.h), so that a vertex
// split at a texture seam gets the same normal on both sides; their sign
// follows the triangles' winding (counter-clockwise seen from outside).
bool prepare_mesh(Mesh& mesh, std::string& error);

// Centres the mesh on the origin and, with a positive fit size, scales its
// largest extent to that size (the preview's --fit).
void place_mesh(Mesh& mesh, float fit);

} // namespace preview
