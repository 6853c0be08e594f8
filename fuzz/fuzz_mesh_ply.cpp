// The bytes as a .ply file, read by the preview's own PLY reader, then the
// checks of mesh_target.h. No Assimp here, so libFuzzer's leak check after
// each input stays on.
#include <cstddef>
#include <cstdint>

#include "fuzz/mesh_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::run_mesh_file("in.ply", data, size);
    return 0;
}
