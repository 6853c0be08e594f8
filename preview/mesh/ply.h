// Stanford PLY files, read by hand.
//
// Assimp reads PLY too, but the version Debian 12 ships (5.2.5) misreads a
// binary file whose data starts with a newline byte (then stops the program
// in an assertion) and never returns from a header without end_header; both
// are fixed only in later versions. Until then this reader stays: it is
// small, fuzzed, and reads nothing outside its buffer.
#pragma once

#include <cstddef>
#include <string>

#include "preview/mesh/mesh.h"
#include "preview/progress/progress.h"

namespace preview {

// PLY, ascii or binary (little or big endian): a vertex element with x, y, z
// (and nx, ny, nz if present) and a face element with a list of indices;
// polygons are split into fans (exact for convex ones, which is what PLY
// files hold in practice). Other elements and properties are skipped.
// Progress, if given, hears the share of the body read.
bool parse_ply(const char* data, size_t size, Mesh& mesh, std::string& error,
               Progress* progress = nullptr);

} // namespace preview
