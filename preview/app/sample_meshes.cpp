#include "preview/app/sample_meshes.h"

#include <cmath>
#include <random>
#include <string>

#include "preview/mesh/prepare.h"
#include "preview/mesh/weld.h"

namespace preview {
namespace {

Float3 to_float(const Double3& p) {
    return {float(p.x), float(p.y), float(p.z)};
}

// Moves the grid's vertices within the surface and splits each cell along a
// random diagonal. The grid is tessellate's: (su + 1) x (sv + 1) vertices,
// row by row; where the parametrisation closes, the copies stay copies.
void make_irregular(const Surface& surface, int su, int sv, double share, Mesh& mesh,
                    std::vector<float>& uv) {
    const bool closed_u = surface.kind != SurfaceKind::saddle;
    const bool closed_v = surface.kind == SurfaceKind::torus;
    const bool poles =
        surface.kind == SurfaceKind::sphere || surface.kind == SurfaceKind::ellipsoid;
    const int columns = su + 1;
    std::mt19937 random(4711u);
    std::uniform_real_distribution<double> uniform(-share, share);
    std::vector<Double3> normals(mesh.positions.size());
    for (int j = 0; j <= sv; ++j) {
        for (int i = 0; i <= su; ++i) {
            const size_t v = size_t(j * columns + i);
            // Draw for every vertex, so that the pattern does not depend on
            // which stay put.
            const double ds = uniform(random) / su, dt = uniform(random) / sv;
            const bool copy_u = closed_u && i == su, copy_v = closed_v && j == sv;
            const bool border_u = !closed_u && (i == 0 || i == su);
            const bool border_v = !closed_v && (j == 0 || j == sv);
            double s = double(i) / su, t = double(j) / sv;
            if (copy_u || copy_v) {
                // Takes the moved parameters of the vertex it copies below.
            } else if (!(poles && border_v)) {
                s += border_u ? 0.0 : ds;
                t += border_v ? 0.0 : dt;
            }
            uv[2 * v] = float(s);
            uv[2 * v + 1] = float(t);
        }
    }
    for (size_t v = 0; v < mesh.positions.size(); ++v) {
        const int i = int(v) % columns, j = int(v) / columns;
        if (poles && (j == 0 || j == sv)) {
            normals[v] = evaluate(surface, uv[2 * v], uv[2 * v + 1]).normal;
            continue; // the poles stay as tessellate made them
        }
        size_t from = v; // the vertex whose parameters this one copies
        if (closed_u && i == su) {
            from -= size_t(su);
        }
        if (closed_v && j == sv) {
            from -= size_t(sv) * size_t(columns);
        }
        const double s = uv[2 * from] + (closed_u && i == su ? 1.0 : 0.0);
        const double t = uv[2 * from + 1] + (closed_v && j == sv ? 1.0 : 0.0);
        const SurfacePoint p = evaluate(surface, s, t);
        mesh.positions[v] = from == v ? to_float(p.position) : mesh.positions[from];
        normals[v] = p.normal;
        uv[2 * v] = float(s);
        uv[2 * v + 1] = float(t);
    }
    std::uniform_int_distribution<int> coin(0, 1);
    mesh.triangles.clear();
    auto add = [&](uint32_t a, uint32_t b, uint32_t c) {
        const Float3 pa = mesh.positions[a], pb = mesh.positions[b], pc = mesh.positions[c];
        const double e1[3] = {double(pb.x) - pa.x, double(pb.y) - pa.y, double(pb.z) - pa.z};
        const double e2[3] = {double(pc.x) - pa.x, double(pc.y) - pa.y, double(pc.z) - pa.z};
        const double flat[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                e1[0] * e2[1] - e1[1] * e2[0]};
        if (flat[0] * flat[0] + flat[1] * flat[1] + flat[2] * flat[2] <= 0.0) {
            return; // collapsed at a pole
        }
        double facing = 0.0;
        for (uint32_t k : {a, b, c}) {
            facing += flat[0] * normals[k].x + flat[1] * normals[k].y + flat[2] * normals[k].z;
        }
        if (facing >= 0.0) {
            mesh.triangles.insert(mesh.triangles.end(), {a, b, c});
        } else {
            mesh.triangles.insert(mesh.triangles.end(), {a, c, b});
        }
    };
    for (int j = 0; j < sv; ++j) {
        for (int i = 0; i < su; ++i) {
            const uint32_t v00 = uint32_t(j * columns + i), v10 = v00 + 1;
            const uint32_t v01 = v00 + uint32_t(columns), v11 = v01 + 1;
            if (coin(random) == 0) {
                add(v00, v10, v11);
                add(v00, v11, v01);
            } else {
                add(v00, v10, v01);
                add(v10, v11, v01);
            }
        }
    }
}

// Moves every vertex by `share` of the mean edge length in a random
// direction; copies of one point alike.
void add_noise(double share, Mesh& mesh) {
    double edges = 0.0;
    size_t count = 0;
    for (size_t t = 0; t < mesh.triangles.size(); t += 3) {
        for (size_t k = 0; k < 3; ++k) {
            const Float3 a = mesh.positions[mesh.triangles[t + k]];
            const Float3 b = mesh.positions[mesh.triangles[t + (k + 1) % 3]];
            edges += std::sqrt(double(a.x - b.x) * (a.x - b.x) + double(a.y - b.y) * (a.y - b.y) +
                               double(a.z - b.z) * (a.z - b.z));
            ++count;
        }
    }
    const double step = share * edges / double(count);
    const std::vector<uint32_t> representative = weld_positions(mesh.positions);
    std::mt19937 random(777u);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (size_t v = 0; v < mesh.positions.size(); ++v) {
        if (representative[v] != v) {
            mesh.positions[v] = mesh.positions[representative[v]];
            continue;
        }
        double d[3] = {normal(random), normal(random), normal(random)};
        const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        Float3& p = mesh.positions[v];
        p = {float(p.x + step * d[0] / length), float(p.y + step * d[1] / length),
             float(p.z + step * d[2] / length)};
    }
}

} // namespace

Mesh sample_mesh(const Surface& surface, int n, const SampleMeshOptions& options,
                 std::vector<float>& uv) {
    int su = 0, sv = 0;
    tessellation_segments(surface, n, su, sv);
    Mesh mesh = tessellate(surface, su, sv, uv);
    if (options.irregular > 0.0) {
        make_irregular(surface, su, sv, options.irregular, mesh, uv);
    }
    if (options.noise > 0.0) {
        add_noise(options.noise, mesh);
    }
    if (options.irregular > 0.0 || options.noise > 0.0) {
        mesh.normals.clear();
        std::string error;
        prepare_mesh(mesh, error);
    }
    return mesh;
}

} // namespace preview
