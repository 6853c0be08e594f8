// Checked on every input, aborting on a violation (besides every sanitizer
// report): a refused input says why in one line; an accepted and prepared
// mesh holds whole triangles whose indices name existing vertices, finite
// positions, one finite, nonzero normal per vertex, and either no texture
// coordinates or one pair per vertex. On a small mesh the curvature
// estimate then runs, and the derivatives it gives at a few points of every
// triangle are finite (or not given).
#include "fuzz/mesh_target.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "preview/mesh/curvature.h"
#include "preview/mesh/load.h"
#include "preview/mesh/prepare.h"

namespace fuzz {
namespace {

bool finite(const preview::Float3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

void check_mesh(const preview::Mesh& mesh) {
    check(!mesh.triangles.empty() && mesh.triangles.size() % 3 == 0, "no whole triangles");
    check(mesh.normals.size() == mesh.positions.size(), "not one normal per vertex");
    check(mesh.uvs.empty() || mesh.uvs.size() == mesh.positions.size(),
          "texture coordinates neither absent nor one pair per vertex");
    for (const uint32_t index : mesh.triangles) {
        check(index < mesh.positions.size(), "index past the vertices");
    }
    for (size_t i = 0; i < mesh.positions.size(); ++i) {
        check(finite(mesh.positions[i]), "position not finite");
        const preview::Float3& n = mesh.normals[i];
        check(finite(n) && (n.x != 0.0f || n.y != 0.0f || n.z != 0.0f), "normal unusable");
    }
}

// The estimate on one thread: a fuzzing process is one worker on one core.
void check_curvature(const preview::Mesh& mesh) {
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
                    check(finite(d), "derivatives not finite");
                }
            }
        }
    }
}

} // namespace
} // namespace fuzz

// Assimp 5.2 leaks the part of a scene it had built when it refuses a file
// (its STL importer, for one): a few kilobytes per refused file, which the
// preview host reads once. Leaks from inside Assimp are not reported; ours
// still are.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libassimp.so\n";
}

namespace fuzz {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "mesh fuzz target: %s\n", what);
        std::abort();
    }
}

namespace {

void check_refusal(const std::string& error) {
    check(!error.empty(), "a refused mesh gave no reason");
    check(error.find('\n') == std::string::npos, "a reason of more than one line");
}

void check_prepared(const preview::Mesh& mesh) {
    check_mesh(mesh);
    if (mesh.positions.size() <= curvature_vertex_limit) {
        check_curvature(mesh);
    }
}

} // namespace

void run_mesh_file(const char* name, const uint8_t* data, size_t size) {
    preview::Mesh mesh;
    std::string error;
    if (!preview::parse_mesh(name, reinterpret_cast<const char*>(data), size, mesh, error) ||
        !preview::prepare_mesh(mesh, error)) {
        check_refusal(error);
        return;
    }
    check_prepared(mesh);
}

void check_parsed_mesh(preview::Mesh& mesh) {
    std::string error;
    if (!preview::prepare_mesh(mesh, error)) {
        check_refusal(error);
        return;
    }
    check_prepared(mesh);
}

void skip_per_input_leak_checks(int* argc, char*** argv) {
    static std::vector<char*> flags;
    static char no_leak_checks[] = "-detect_leaks=0";
    flags.assign(*argv, *argv + *argc);
    flags.insert(flags.begin() + 1, no_leak_checks);
    flags.push_back(nullptr); // argv ends with a null pointer
    *argc += 1;
    *argv = flags.data();
}

} // namespace fuzz
