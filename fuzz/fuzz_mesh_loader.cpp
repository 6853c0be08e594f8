// The preview host's mesh parsers, fed arbitrary bytes as an OBJ file, or as
// a PLY file when the bytes start with "ply".
//
// Checked on every input, aborting on a violation (besides every sanitizer
// report): a refused input says why; an accepted and prepared mesh holds
// whole triangles whose indices name existing vertices, finite positions,
// and one finite, nonzero normal per vertex. The curvature estimate then
// runs on it, and the derivatives it gives at a few points of every
// triangle are finite (or not given).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "preview/mesh_curvature.h"
#include "preview/mesh_loader.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const bool ply = size >= 3 && text[0] == 'p' && text[1] == 'l' && text[2] == 'y';
    preview::Mesh mesh;
    std::string error;
    const bool parsed =
        preview::parse_mesh(ply ? "input.ply" : "input.obj", text, size, mesh, error);
    if (!parsed) {
        check(!error.empty(), "a refused mesh gave no reason");
        return 0;
    }
    if (!preview::prepare_mesh(mesh, error)) {
        check(!error.empty(), "a refused mesh gave no reason");
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
            Vector derivs[5];
            if (preview::derivatives_at(curvature, &mesh.triangles[t], bary, {n.x, n.y, n.z},
                                        derivs)) {
                for (const Vector& d : derivs) {
                    check(std::isfinite(d.x) && std::isfinite(d.y) && std::isfinite(d.z),
                          "derivatives not finite");
                }
            }
        }
    }
    return 0;
}
