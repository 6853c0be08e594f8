// The bytes as a glTF file: binary (.glb) when they start with the binary
// container's magic "glTF", JSON (.gltf) otherwise, so that the seeds are
// plain files and a mutation of the magic moves an input to the other
// reader. Then the checks of mesh_target.h.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/mesh_target.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::skip_per_input_leak_checks(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool binary = size >= 4 && std::memcmp(data, "glTF", 4) == 0;
    fuzz::run_mesh_file(binary ? "in.glb" : "in.gltf", data, size);
    return 0;
}
