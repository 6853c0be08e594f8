// The preview host's mesh loading, fed arbitrary bytes as a mesh file: the
// first byte picks the format (the name's extension, as a user's file name
// would), the rest is the file.
//
// Checked on every input, aborting on a violation (besides every sanitizer
// report): a refused input says why in one line; an accepted and prepared
// mesh holds whole triangles whose indices name existing vertices, finite
// positions, and one finite, nonzero normal per vertex. The curvature
// estimate then runs on it, and the derivatives it gives at a few points of
// every triangle are finite (or not given).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "preview/mesh/curvature.h"
#include "preview/mesh/load.h"
#include "preview/mesh/prepare.h"

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_mesh_loader: %s\n", what);
        std::abort();
    }
}

bool finite(const preview::Float3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Seeds start with the digit of their format: '0' (48) is an OBJ, and so on.
const char* const names[] = {"in.obj", "in.ply",    "in.stl",    "in.gltf",
                             "in.glb", "in.obj.gz", "in.ply.gz", "in.stl.gz"};

} // namespace

// Assimp 5.2 leaks the part of a scene it had built when it refuses a file
// (its STL importer, for one): a few kilobytes per refused file, which the
// preview host reads once. Leaks from inside Assimp are not reported; ours
// still are.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libassimp.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string name = names[data[0] % 8];
    const char* file = reinterpret_cast<const char*>(data + 1);
    preview::Mesh mesh;
    std::string error;
    if (!preview::parse_mesh(name, file, size - 1, mesh, error) ||
        !preview::prepare_mesh(mesh, error)) {
        check(!error.empty(), "a refused mesh gave no reason");
        check(error.find('\n') == std::string::npos, "a reason of more than one line");
        return 0;
    }
    check(!mesh.triangles.empty() && mesh.triangles.size() % 3 == 0, "no whole triangles");
    check(mesh.normals.size() == mesh.positions.size(), "not one normal per vertex");
    for (const uint32_t index : mesh.triangles) {
        check(index < mesh.positions.size(), "index past the vertices");
    }
    for (size_t i = 0; i < mesh.positions.size(); ++i) {
        check(finite(mesh.positions[i]), "position not finite");
        const preview::Float3& n = mesh.normals[i];
        check(finite(n) && (n.x != 0.0f || n.y != 0.0f || n.z != 0.0f), "normal unusable");
    }

    // The curvature estimate, on one thread.
    preview::CurvatureSettings settings;
    settings.threads = 1;
    preview::VertexCurvature curvature;
    preview::estimate_vertex_curvature(mesh, settings, curvature);
    check(curvature.tensors.size() == mesh.positions.size() &&
              curvature.valid.size() == mesh.positions.size(),
          "not one tensor per vertex");
    const float weights[3][3] = {{1.0f, 0.0f, 0.0f}, {0.2f, 0.3f, 0.5f}, {0.0f, 0.5f, 0.5f}};
    for (size_t t = 0; t < mesh.triangles.size(); t += 3) {
        const preview::Float3& n = mesh.normals[mesh.triangles[t]];
        for (const auto& bary : weights) {
            preview::Float3 derivs[5];
            if (preview::derivatives_at(curvature, &mesh.triangles[t], bary, {n.x, n.y, n.z},
                                        derivs)) {
                for (const preview::Float3& d : derivs) {
                    check(std::isfinite(d.x) && std::isfinite(d.y) && std::isfinite(d.z),
                          "derivatives not finite");
                }
            }
        }
    }
    return 0;
}
