// The bytes as a .obj file, through whatever reader parse_mesh picks for
// that extension, then the checks of mesh_target.h.
#include <cstddef>
#include <cstdint>

#include "fuzz/mesh_target.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::skip_per_input_leak_checks(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::run_mesh_file("in.obj", data, size);
    return 0;
}
