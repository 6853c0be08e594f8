// The bytes as a gzip-compressed PLY file (.ply.gz), then the checks of
// mesh_target.h. Decompression and the hand-over of what it gives are the
// same whatever the name's inner extension; PLY, read by our own code, keeps
// this target clear of Assimp (its OBJ importer alone would take most of the
// time, fuzz/README.md) and libFuzzer's leak check after each input on.
#include <cstddef>
#include <cstdint>

#include "fuzz/mesh_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::run_mesh_file("in.ply.gz", data, size);
    return 0;
}
