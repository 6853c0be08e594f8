#include <cmath>
#include <string>
#include <vector>

#include "preview/app/accuracy.h"
#include "preview/app/sample_meshes.h"
#include "preview/mesh/curvature.h"
#include "preview/mesh/weld.h"
#include "preview/scene/surfaces.h"

namespace preview {
namespace {

// The exact mean at parameters (s, t). At a pole of the sphere or the
// ellipsoid the parametrisation's derivatives vanish; the mean is the limit
// from just inside.
double exact_mean(const Surface& surface, double s, double t) {
    const bool poles =
        surface.kind == SurfaceKind::sphere || surface.kind == SurfaceKind::ellipsoid;
    if (poles && (t < 1e-9 || t > 1.0 - 1e-9)) {
        t = t < 0.5 ? 1e-6 : 1.0 - 1e-6;
    }
    return exact_curvature(evaluate(surface, s, t)).mean;
}

struct VertexRow {
    size_t vertices = 0, without = 0;
    double error = NAN; // relative RMS
};

// The mean the estimate gives at each welded vertex, -(k1 + k2) / 2: half
// the trace of its tensor in the vertex's tangent plane, negated.
VertexRow measure_vertices(const Surface& surface, const Mesh& mesh, const std::vector<float>& uv,
                           int rings) {
    VertexCurvature curvature;
    CurvatureSettings settings;
    settings.rings = rings;
    estimate_vertex_curvature(mesh, settings, curvature);
    const std::vector<uint32_t> representative = weld_positions(mesh.positions);
    VertexRow row;
    double sum_error = 0.0, sum_exact = 0.0;
    for (size_t v = 0; v < mesh.positions.size(); ++v) {
        if (representative[v] != v) {
            continue; // a copy: the same point
        }
        ++row.vertices;
        if (!curvature.valid[v]) {
            ++row.without;
            continue;
        }
        const CurvatureTensor& t = curvature.tensors[v];
        const Float3 n = curvature.normals[v];
        const double along_normal =
            double(n.x) * n.x * t.xx + double(n.y) * n.y * t.yy + double(n.z) * n.z * t.zz +
            2.0 * (double(n.x) * n.y * t.xy + double(n.x) * n.z * t.xz + double(n.y) * n.z * t.yz);
        const double estimate = -(double(t.xx) + t.yy + t.zz - along_normal) / 2.0;
        const double exact = exact_mean(surface, uv[2 * v], uv[2 * v + 1]);
        sum_error += (estimate - exact) * (estimate - exact);
        sum_exact += exact * exact;
    }
    row.error = std::sqrt(sum_error / sum_exact);
    return row;
}

} // namespace

std::string neighbourhood_name(int rings) {
    return rings == 0 ? std::string("neighbourhood chosen per vertex")
                      : std::to_string(rings) + (rings == 1 ? " ring" : " rings");
}

void vertex_accuracy_report(int rings, FILE* out) {
    std::fprintf(out,
                 "Method 0's mean at the vertices, estimated from the mesh (%s): relative RMS "
                 "error sqrt(sum of error^2 / sum of H^2) over the welded vertices, against the "
                 "exact mean at each vertex's parameters. The scan-like tori take their normals "
                 "from their triangles.\n\n",
                 neighbourhood_name(rings).c_str());
    std::fprintf(out, "| surface | mesh | vertices | relative RMS error at the vertices | "
                      "without an estimate |\n");
    std::fprintf(out, "|---|---|---|---|---|\n");
    struct Case {
        SurfaceKind kind;
        int n;
        SampleMeshOptions options;
        const char* mesh;
    };
    const Case cases[] = {
        {SurfaceKind::torus, 32, {}, "tessellation 32"},
        {SurfaceKind::torus, 128, {}, "tessellation 128"},
        {SurfaceKind::torus, 512, {}, "tessellation 512"},
        {SurfaceKind::ellipsoid, 32, {}, "tessellation 32"},
        {SurfaceKind::ellipsoid, 128, {}, "tessellation 128"},
        {SurfaceKind::ellipsoid, 512, {}, "tessellation 512"},
        {SurfaceKind::torus, 128, {0.0, 0.001}, "tessellation 128, jittered 0.1% of an edge"},
        {SurfaceKind::torus, 128, {0.35, 0.0}, "tessellation 128, irregular"},
        {SurfaceKind::torus, 128, {0.0, 0.005}, "tessellation 128, noise 0.5% of an edge"},
        {SurfaceKind::torus,
         128,
         {0.35, 0.005},
         "tessellation 128, irregular, noise 0.5% of an edge"},
    };
    for (const Case& c : cases) {
        for (const Surface& surface : builtin_surfaces()) {
            if (surface.kind != c.kind) {
                continue;
            }
            std::vector<float> uv;
            const Mesh mesh = sample_mesh(surface, c.n, c.options, uv);
            const VertexRow row = measure_vertices(surface, mesh, uv, rings);
            std::fprintf(out, "| %s | %s | %zu | %.3g | %zu |\n", surface_name(c.kind), c.mesh,
                         row.vertices, row.error, row.without);
        }
    }
    std::fprintf(out,
                 "\nIrregular: every vertex moved within the surface by up to 35%% of a grid cell "
                 "along each parameter, every cell split along a diagonal chosen at random.\n");
}

} // namespace preview
