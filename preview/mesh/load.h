// Triangle meshes from mesh files.
//
// Formats: Wavefront OBJ, STL (ascii and binary) and glTF 2 (.gltf with
// embedded buffers or buffers beside it, .glb) through Assimp; Stanford PLY
// (ascii, binary little and big endian) by our own reader (ply.h); each of
// them also gzip-compressed (name.obj.gz and so on). Parsing works on a
// buffer in memory with no global state, so that it can be tested and fuzzed
// on its own. Every malformed input gives false and a one-line reason.
#pragma once

#include <cstddef>
#include <string>

#include "preview/mesh/mesh.h"
#include "preview/progress/progress.h"

namespace preview {

// Parses a mesh file held in memory, the format chosen by the name's
// extension (.obj, .ply, .stl, .gltf, .glb, any case, optionally followed by
// .gz). Polygons are triangulated (concave ones too); positions are kept as
// the file has them, and so are vertex normals and texture coordinates where
// the file gives every vertex one (STL's facet normals are not vertex normals
// and are dropped). Corners with the same position, normal and texture
// coordinates share one vertex, whichever reader read them.
bool parse_mesh(const std::string& name, const char* data, size_t size, Mesh& mesh,
                std::string& error);

// Reads the file at path and parses it (the format chosen by its extension),
// then prepares it (prepare_mesh). A path that is not a readable regular file
// gives "cannot read mesh PATH"; any other failure gives "mesh PATH: reason".
// The file's bytes are given back once parsed. Progress, if
// given, hears the steps "read" (reading and parsing) and "weld" (the
// preparation).
bool load_mesh(const std::string& path, Mesh& mesh, std::string& error,
               Progress* progress = nullptr);

} // namespace preview
