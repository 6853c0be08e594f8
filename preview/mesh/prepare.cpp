#include "preview/mesh/prepare.h"

#include <cmath>

#include "preview/mesh/weld.h"

namespace preview {
namespace {

bool fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

bool finite(Float3 v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

double length(Float3 v) {
    return std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
}

// Area-weighted vertex normals: each vertex gets the sum of the cross
// products of the triangles around its welded position, in double so that
// a large flat region does not lose its small triangles.
void compute_normals(Mesh& mesh) {
    // Kept in the mesh, so that the curvature estimate need not weld again.
    mesh.welded = weld_positions(mesh.positions);
    const std::vector<uint32_t>& welded = mesh.welded;
    std::vector<double> sum(mesh.positions.size() * 3, 0.0);
    for (size_t t = 0; t + 2 < mesh.triangles.size(); t += 3) {
        const Float3 a = mesh.positions[mesh.triangles[t]];
        const Float3 b = mesh.positions[mesh.triangles[t + 1]];
        const Float3 c = mesh.positions[mesh.triangles[t + 2]];
        const double ab[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
        const double ac[3] = {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
        const double face[3] = {ab[1] * ac[2] - ab[2] * ac[1], ab[2] * ac[0] - ab[0] * ac[2],
                                ab[0] * ac[1] - ab[1] * ac[0]};
        for (size_t k = 0; k < 3; ++k) {
            const size_t point = welded[mesh.triangles[t + k]];
            for (size_t axis = 0; axis < 3; ++axis) {
                sum[3 * point + axis] += face[axis];
            }
        }
    }
    mesh.normals.assign(mesh.positions.size(), Float3{0.0f, 0.0f, 1.0f});
    for (size_t v = 0; v < mesh.positions.size(); ++v) {
        const double* n = &sum[3 * welded[v]];
        const double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        // A vertex used only by degenerate triangles keeps an arbitrary unit normal.
        if (l > 0.0 && std::isfinite(l)) {
            mesh.normals[v] = {float(n[0] / l), float(n[1] / l), float(n[2] / l)};
        }
    }
}

// True when some triangle has an area: its edges' cross product is not
// zero in double (a float sliver still counts). Usually the first does.
bool has_area(const Mesh& mesh) {
    for (size_t t = 0; t + 2 < mesh.triangles.size(); t += 3) {
        const Float3 a = mesh.positions[mesh.triangles[t]];
        const Float3 b = mesh.positions[mesh.triangles[t + 1]];
        const Float3 c = mesh.positions[mesh.triangles[t + 2]];
        const double ab[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
        const double ac[3] = {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
        if (ab[1] * ac[2] != ab[2] * ac[1] || ab[2] * ac[0] != ab[0] * ac[2] ||
            ab[0] * ac[1] != ab[1] * ac[0]) {
            return true;
        }
    }
    return false;
}

} // namespace

bool prepare_mesh(Mesh& mesh, std::string& error, Progress* progress) {
    ProgressStep step(progress, "weld", false);
    mesh.welded.clear();
    if (mesh.triangles.empty()) {
        return fail(error, "the mesh has no triangles");
    }
    for (size_t i = 0; i < mesh.positions.size(); ++i) {
        if (!finite(mesh.positions[i])) {
            return fail(error, "vertex " + std::to_string(i) +
                                   " has a coordinate that is not a finite number");
        }
    }
    for (uint32_t index : mesh.triangles) {
        if (index >= mesh.positions.size()) {
            return fail(error, "a triangle names a vertex that does not exist");
        }
    }
    if (!has_area(mesh)) {
        return fail(error, "the mesh has no area: every triangle's corners lie on one line or "
                           "one point");
    }
    // Texture coordinates count only where every vertex has them.
    if (mesh.uvs.size() != mesh.positions.size()) {
        mesh.uvs.clear();
    }
    bool normals_good = mesh.normals.size() == mesh.positions.size();
    for (size_t i = 0; normals_good && i < mesh.normals.size(); ++i) {
        normals_good = finite(mesh.normals[i]) && length(mesh.normals[i]) > 0.0;
    }
    if (!normals_good) {
        compute_normals(mesh);
        return true;
    }
    for (Float3& n : mesh.normals) {
        const double l = length(n);
        n = {float(n.x / l), float(n.y / l), float(n.z / l)};
    }
    return true;
}

double place_mesh(Mesh& mesh, float fit) {
    if (mesh.positions.empty()) {
        return 0.0;
    }
    Float3 lo = mesh.positions[0], hi = mesh.positions[0];
    for (const Float3& p : mesh.positions) {
        lo = {std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
        hi = {std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
    }
    const double extent =
        std::fmax(std::fmax(double(hi.x) - lo.x, double(hi.y) - lo.y), double(hi.z) - lo.z);
    const double scale = fit > 0.0f && extent > 0.0 ? fit / extent : 1.0;
    const double cx = 0.5 * (double(lo.x) + hi.x), cy = 0.5 * (double(lo.y) + hi.y),
                 cz = 0.5 * (double(lo.z) + hi.z);
    for (Float3& p : mesh.positions) {
        p = {float((p.x - cx) * scale), float((p.y - cy) * scale), float((p.z - cz) * scale)};
    }
    return extent;
}

} // namespace preview
