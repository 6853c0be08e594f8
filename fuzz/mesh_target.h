// What every mesh fuzz target does with its input: parse it as a mesh file
// of the given name (the name's extension choosing the reader, as a user's
// file name would), prepare it as the preview host does, and check the
// result; see mesh_target.cpp for the checks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "preview/mesh/mesh.h"

namespace fuzz {

// Meshes of at most this many vertices also go through the curvature
// estimate: its cost grows with the mesh, and the readers, not the fit, are
// what the mesh targets are for (the fit's own tests cover large meshes).
constexpr size_t curvature_vertex_limit = 64;

// Aborts (after a one-line reason on stderr) when a refusal or an accepted
// mesh breaks one of the checks.
void run_mesh_file(const char* name, const uint8_t* data, size_t size);

// The same for a mesh a reader has already given: prepares it, then checks
// the refusal or the prepared mesh as run_mesh_file does.
void check_parsed_mesh(preview::Mesh& mesh);

// Aborts with what when condition is false.
void check(bool condition, const char* what);

// For the targets that reach Assimp, called from LLVMFuzzerInitialize: puts
// -detect_leaks=0 first among the flags (a flag given later still wins).
// Assimp 5.2 leaks a few kilobytes on some refused files (suppressed, see
// mesh_target.cpp), and after every input that allocates more than it frees
// libFuzzer runs it again and then a full leak check, some 60 ms each: an
// STL target spent nearly all its time there. Leaks are still looked for
// once, when the process ends, and reported (ours, not Assimp's) without
// naming the input; rerun the corpus with -detect_leaks=1 to find it.
void skip_per_input_leak_checks(int* argc, char*** argv);

} // namespace fuzz
