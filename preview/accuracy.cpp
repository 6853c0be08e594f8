#include "preview/accuracy.h"

#include <cmath>
#include <random>
#include <vector>

#include "preview/host_state.h"
#include "preview/render.h"
#include "preview/scene.h"
#include "preview/surfaces.h"

namespace preview {
namespace {

// The measure at a hit, read back exactly. The positive-side mapping with no
// dead zone writes h / R for 0 < h < R and the negative side writes h / -R for
// -R < h < 0, so one of the two gives h to float precision; the two-sided
// mapping tells a NaN measure apart (it writes NaN where the others write 0).
double read_measure(const Plugin& plugin, Instance& instance, const Scene& scene, const Hit& hit,
                    uint32_t seed, HostState& host) {
    constexpr float range = 1.0e6f;
    BendlensParameters& p = instance.block.params;
    p.range_max = range;
    p.range_min = range;
    p.threshold = 0.0f;
    p.use_contrast = 0;
    p.mapping = 0;
    if (std::isnan(shade_hit(plugin, instance, scene, hit, seed, host).r)) {
        return NAN;
    }
    p.mapping = 1;
    const float positive = shade_hit(plugin, instance, scene, hit, seed, host).r;
    if (positive > 0.0f) {
        return double(positive) * range;
    }
    p.mapping = 2;
    const float negative = shade_hit(plugin, instance, scene, hit, seed, host).r;
    return -double(negative) * range;
}

struct Statistics {
    int count = 0;
    int invalid = 0; // NaN or infinite estimates
    double sum_abs_error = 0.0, sum_sq_error = 0.0, sum_sq_exact = 0.0;
    double sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0;

    void add(double estimate, double exact) {
        if (!std::isfinite(estimate)) {
            ++invalid;
            return;
        }
        ++count;
        const double error = estimate - exact;
        sum_abs_error += std::fabs(error);
        sum_sq_error += error * error;
        sum_sq_exact += exact * exact;
        sx += estimate, sy += exact;
        sxx += estimate * estimate, syy += exact * exact, sxy += estimate * exact;
    }
    // The scale s that brings s * estimate closest to the exact values (least
    // squares), for methods whose output is not in curvature units.
    double fitted_scale() const { return sxx > 0.0 ? sxy / sxx : NAN; }
    // The relative RMS error left after that scaling.
    double fitted_error() const {
        if (!(sxx > 0.0) || !(syy > 0.0)) {
            return NAN;
        }
        return std::sqrt(std::fmax(0.0, syy - sxy * sxy / sxx) / syy);
    }
    // Pearson's r; NaN when either side does not vary.
    double correlation() const {
        const double n = count;
        const double vx = sxx - sx * sx / n, vy = syy - sy * sy / n;
        if (count < 2 || vx <= 1e-12 * sxx || vy <= 1e-12 * syy) {
            return NAN;
        }
        return (sxy - sx * sy / n) / std::sqrt(vx * vy);
    }
};

void print_number(FILE* out, double value) {
    if (std::isnan(value)) {
        std::fprintf(out, " | n/a");
    } else {
        std::fprintf(out, " | %.4g", value);
    }
}

} // namespace

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
            const SurfacePoint p = evaluate(surface, s, t);
            const double lift = 0.05;
            const Vector origin{float(p.position.x + lift * p.normal.x),
                                float(p.position.y + lift * p.normal.y),
                                float(p.position.z + lift * p.normal.z)};
            const Vector down{float(-p.normal.x), float(-p.normal.y), float(-p.normal.z)};
            Hit hit;
            if (!scene.intersect(origin, down, nullptr, hit)) {
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
                        read_measure(plugin, instance, scene, hits[i], uint32_t(i), host);
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
    plugin.exit(nullptr, nullptr);
}

} // namespace preview
