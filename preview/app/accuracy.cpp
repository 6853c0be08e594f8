#include "preview/app/accuracy.h"

#include <cmath>
#include <random>
#include <vector>

#include "preview/app/accuracy_parts.h"
#include "preview/host/host_state.h"
#include "preview/host/shading.h"
#include "preview/scene/scene.h"
#include "preview/scene/surfaces.h"

namespace preview {

void accuracy_report(const Plugin& plugin, int points, int tessellation, FILE* out) {
    Boolean request = 0;
    plugin.init(nullptr, nullptr, &request);
    std::fprintf(out,
                 "%d random points per surface; tessellation %d; method 2 with 16 probes, "
                 "probe_scale 1.\n\n",
                 points, tessellation);
    std::fprintf(out, "| surface | method | measure | mean abs error | relative RMS error | "
                      "best scale | relative RMS error after scaling | correlation | NaN/inf |\n");
    std::fprintf(out, "|---|---|---|---|---|---|---|---|---|\n");
    const char* method_names[3] = {"0 derivatives", "1 vertex normals", "2 probe rays"};
    for (const Surface& surface : builtin_surfaces()) {
        Scene scene;
        std::string error;
        scene.add_surface(surface_name(surface.kind), surface, {0.0f, 0.0f, 0.0f}, tessellation);
        if (!scene.commit(error)) {
            std::fprintf(out, "| %s | %s |\n", surface_name(surface.kind), error.c_str());
            continue;
        }
        // Hits at random parameter points, found by a short ray down the
        // exact normal onto the tessellation; the exact curvature is taken
        // at the parametric point of that hit.
        std::mt19937 random(12345u + unsigned(surface.kind));
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        std::vector<Hit> hits;
        std::vector<ExactCurvature> exact;
        while (int(hits.size()) < points) {
            const double s = uniform(random), t = 0.02 + 0.96 * uniform(random);
            Hit hit;
            if (!hit_under(scene, evaluate(surface, s, t), hit)) {
                continue;
            }
            hits.push_back(hit);
            exact.push_back(exact_curvature(evaluate(surface, hit.u, hit.v)));
        }
        Instance instance;
        instance.block.params = BendlensParameters{0, 0, 0, 1.0f, 1.0f, 0.0f, 0.5f, 0, 16.0f, 1.0f};
        link_instance(instance);
        HostState host;
        HostState child;
        host.probe_child = &child;
        for (int method = 0; method < 3; ++method) {
            for (int measure = 0; measure < 2; ++measure) {
                instance.block.params.method = method;
                instance.block.params.measure = measure;
                Statistics statistics;
                for (size_t i = 0; i < hits.size(); ++i) {
                    const double estimate =
                        read_back_measure(plugin, instance, scene, hits[i], uint32_t(i), host);
                    statistics.add(estimate, measure == 0 ? exact[i].mean : exact[i].gaussian);
                }
                std::fprintf(out, "| %s | %s | %s", surface_name(surface.kind),
                             method_names[method], measure == 0 ? "mean" : "Gaussian");
                const double n = statistics.count > 0 ? double(statistics.count) : double(NAN);
                print_number(out, statistics.sum_abs_error / n);
                print_number(out, statistics.sum_sq_exact > 0.0
                                      ? std::sqrt(statistics.sum_sq_error / statistics.sum_sq_exact)
                                      : NAN);
                print_number(out, statistics.fitted_scale());
                print_number(out, statistics.fitted_error());
                print_number(out, statistics.correlation());
                std::fprintf(out, " | %d |\n", statistics.invalid);
            }
        }
    }
    std::fprintf(out, "\n");
    estimated_accuracy_report(plugin, points, default_rings, out);
    std::fprintf(out, "\n");
    vertex_accuracy_report(default_rings, out);
    plugin.exit(nullptr, nullptr);
}

} // namespace preview
