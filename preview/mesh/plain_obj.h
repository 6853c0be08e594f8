// Plain OBJ files, read on every core.
//
// Scans and sculpts come as OBJ files of nothing but vertices and triangles,
// tens of millions of lines, which Assimp reads on one thread at a few
// million lines a second and with every face corner a vertex of its own.
// Such a file is read here instead, and gives the very mesh Assimp gives
// (load.h: corners with equal values share one vertex): the same numbers to
// the last bit, read with the arithmetic of Assimp 5.2's own number reader,
// the same indices, the same triangles in the same order. Anything else in
// a file, or anything this reader is not sure to read as Assimp does, sends
// the whole file to Assimp.
#pragma once

#include <cstddef>

#include "preview/mesh/mesh.h"
#include "preview/progress/progress.h"

namespace preview {

// Reads data as a plain OBJ file: lines of `v x y z`, `vt u v [w]`,
// `vn x y z`, triangles `f a b c` whose corners all take one of the forms
// a, a/t, a//n, a/t/n (indices from 1, or negative, counted back from the
// last line read), comments and empty lines; numbers in decimal notation.
// True with the mesh (corners with equal position, normal and texture
// coordinates share a vertex, in the order the file first names them);
// false, leaving mesh empty, when the file holds anything else or names an
// index that does not exist, which Assimp then reads or refuses. Progress,
// if given, hears the share of the bytes read. The file is cut into chunks
// of whole lines of about chunk_bytes (the tests cut small files small).
bool read_plain_obj(const char* data, size_t size, Mesh& mesh, Progress* progress = nullptr,
                    size_t chunk_bytes = size_t(1) << 22);

} // namespace preview
