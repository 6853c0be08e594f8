#include "preview/app/accuracy.h"

#include <cmath>
#include <string>
#include <vector>

#include "preview/app/accuracy_parts.h"
#include "preview/app/sample_meshes.h"
#include "preview/host/host_state.h"
#include "preview/host/shading.h"
#include "preview/scene/scene.h"
#include "preview/scene/surfaces.h"

namespace preview {
namespace {

// Method 0's mean measure on a surface shown as a mesh with estimated
// derivatives, against the exact mean at the parametric point of each hit.
struct EstimatedRow {
    Statistics statistics;
    int without_derivatives = 0;
    int signed_points = 0, right_sign = 0; // where |H| > 10% of its largest
    double sum_estimate = 0.0;
};

EstimatedRow measure_estimated(const Plugin& plugin, const Scene& scene, const Surface& surface,
                               const std::vector<float>& uv, int points) {
    EstimatedRow row;
    std::vector<Hit> hits;
    std::vector<double> exact;
    for (const auto& st : area_samples(surface, points, 4242u + unsigned(surface.kind))) {
        Hit hit;
        if (!hit_under(scene, evaluate(surface, st.first, st.second), hit)) {
            continue;
        }
        // The parameters of the hit, blended from its triangle's vertices.
        const uint32_t* corner =
            &hit.primitive->object->mesh.triangles[3 * hit.primitive->triangle];
        double s = 0.0, t = 0.0;
        for (int k = 0; k < 3; ++k) {
            s += double(hit.bary[k]) * uv[2 * corner[k]];
            t += double(hit.bary[k]) * uv[2 * corner[k] + 1];
        }
        hits.push_back(hit);
        exact.push_back(exact_curvature(evaluate(surface, s, t)).mean);
    }
    double largest = 0.0;
    for (double h : exact) {
        largest = std::fmax(largest, std::fabs(h));
    }
    Instance instance;
    instance.block.params = BendlensParameters{0, 0, 0, 1.0f, 1.0f, 0.0f, 0.5f, 0, 16.0f, 1.0f};
    link_instance(instance);
    HostState host;
    for (size_t i = 0; i < hits.size(); ++i) {
        if (!hits[i].has_derivs) {
            ++row.without_derivatives;
            continue;
        }
        const double estimate =
            read_back_measure(plugin, instance, scene, hits[i], uint32_t(i), host);
        row.statistics.add(estimate, exact[i]);
        if (std::isfinite(estimate)) {
            row.sum_estimate += estimate;
        }
        if (std::fabs(exact[i]) > 0.1 * largest) {
            ++row.signed_points;
            row.right_sign += (estimate > 0.0) == (exact[i] > 0.0) && estimate != 0.0;
        }
    }
    return row;
}

void print_estimated_row(FILE* out, const char* surface, const char* mesh,
                         const EstimatedRow& row) {
    const Statistics& st = row.statistics;
    std::fprintf(out, "| %s | %s", surface, mesh);
    const double correlation = st.correlation();
    if (std::isnan(correlation)) {
        std::fprintf(out, " | n/a");
    } else {
        std::fprintf(out, " | %.6f", correlation); // enough digits to tell 0.999 from 1
    }
    print_number(out, st.sum_sq_exact > 0.0 ? std::sqrt(st.sum_sq_error / st.sum_sq_exact) : NAN);
    if (row.signed_points > 0) {
        std::fprintf(out, " | %.2f%%", 100.0 * row.right_sign / row.signed_points);
    } else {
        std::fprintf(out, " | n/a");
    }
    print_number(out, st.count > 0 ? row.sum_estimate / st.count : NAN);
    std::fprintf(out, " | %d | %d |\n", st.invalid, row.without_derivatives);
}

} // namespace

void estimated_accuracy_report(const Plugin& plugin, int points, int rings, FILE* out) {
    std::fprintf(out,
                 "Method 0, mean, with derivatives estimated from the tessellation (%s): "
                 "%d points per surface, sampled by area; the exact mean is taken at the "
                 "parametric point of each hit.\n\n",
                 neighbourhood_name(rings).c_str(), points);
    std::fprintf(
        out,
        "| surface | mesh | correlation | relative RMS error | right sign where "
        "H exceeds 10%% of its largest size | mean of estimates | NaN/inf | no derivatives |\n");
    std::fprintf(out, "|---|---|---|---|---|---|---|---|\n");
    for (const Surface& surface : builtin_surfaces()) {
        for (int tessellation : {32, 128, 512}) {
            Scene scene;
            std::string error;
            scene.add_surface(surface_name(surface.kind), surface, {0.0f, 0.0f, 0.0f}, tessellation,
                              false, DerivativeSource::estimated, rings);
            if (!scene.commit(error)) {
                std::fprintf(out, "| %s | %s |\n", surface_name(surface.kind), error.c_str());
                continue;
            }
            char mesh[64];
            std::snprintf(mesh, sizeof mesh, "tessellation %d", tessellation);
            print_estimated_row(
                out, surface_name(surface.kind), mesh,
                measure_estimated(plugin, scene, surface, scene.objects()[0].uv, points));
        }
    }
    for (const Surface& surface : builtin_surfaces()) {
        if (surface.kind != SurfaceKind::torus) {
            continue;
        }
        std::vector<float> uv;
        Scene scene;
        std::string error;
        SampleMeshOptions jittered;
        jittered.noise = 0.001;
        scene.add_mesh("torus", sample_mesh(surface, 128, jittered, uv), {0.0f, 0.0f, 0.0f},
                       DerivativeSource::estimated, rings);
        if (scene.commit(error)) {
            print_estimated_row(out, "torus", "tessellation 128, jittered 0.1% of an edge",
                                measure_estimated(plugin, scene, surface, uv, points));
        }
    }
}

} // namespace preview
