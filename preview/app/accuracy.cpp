#include "preview/app/accuracy.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "preview/host/host_state.h"
#include "preview/host/shading.h"
#include "preview/mesh/prepare.h"
#include "preview/mesh/weld.h"
#include "preview/render/render.h"
#include "preview/scene/scene.h"
#include "preview/scene/surfaces.h"

namespace preview {
namespace {

// The hit on the tessellation under an exact surface point: a short ray from
// just above it, down the exact normal.
bool hit_under(const Scene& scene, const SurfacePoint& p, Hit& hit) {
    const double lift = 0.05;
    const Vector origin{float(p.position.x + lift * p.normal.x),
                        float(p.position.y + lift * p.normal.y),
                        float(p.position.z + lift * p.normal.z)};
    const Vector down{float(-p.normal.x), float(-p.normal.y), float(-p.normal.z)};
    return scene.intersect(origin, down, nullptr, hit);
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

// Parameter points (s, t) drawn with density proportional to the area
// element |Pu x Pv|, so that every part of the surface counts by its area:
// rejection sampling against the largest element on a fine grid.
std::vector<std::pair<double, double>> area_samples(const Surface& surface, int points,
                                                    unsigned seed) {
    auto element = [&](double s, double t) {
        const SurfacePoint p = evaluate(surface, s, t);
        const Double3 a = p.derivs[0], b = p.derivs[1];
        const double x = a.y * b.z - a.z * b.y, y = a.z * b.x - a.x * b.z,
                     z = a.x * b.y - a.y * b.x;
        return std::sqrt(x * x + y * y + z * z);
    };
    double largest = 0.0;
    for (int i = 0; i <= 64; ++i) {
        for (int j = 0; j <= 64; ++j) {
            largest = std::fmax(largest, element(i / 64.0, j / 64.0));
        }
    }
    largest *= 1.05;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<std::pair<double, double>> samples;
    while (int(samples.size()) < points) {
        const double s = uniform(random), t = uniform(random);
        if (uniform(random) * largest < element(s, t)) {
            samples.emplace_back(s, t);
        }
    }
    return samples;
}

// The tessellation of a surface with every vertex moved by `amount` times
// the mean edge length in a random direction (copies of one point alike),
// and its normals taken from the moved triangles, as a scan's would be.
Mesh jittered_tessellation(const Surface& surface, int tessellation, double amount,
                           std::vector<float>& uv) {
    int su = 0, sv = 0;
    tessellation_segments(surface, tessellation, su, sv);
    Mesh mesh = tessellate(surface, su, sv, uv);
    double edges = 0.0;
    size_t count = 0;
    for (size_t t = 0; t < mesh.triangles.size(); t += 3) {
        for (int k = 0; k < 3; ++k) {
            const Float3 a = mesh.positions[mesh.triangles[t + size_t(k)]];
            const Float3 b = mesh.positions[mesh.triangles[t + size_t(k + 1) % 3]];
            edges += std::sqrt(double(a.x - b.x) * (a.x - b.x) + double(a.y - b.y) * (a.y - b.y) +
                               double(a.z - b.z) * (a.z - b.z));
            ++count;
        }
    }
    const double step = amount * edges / double(count);
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
    mesh.normals.clear();
    std::string error;
    prepare_mesh(mesh, error);
    return mesh;
}

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
    plugin.exit(nullptr, nullptr);
}

void estimated_accuracy_report(const Plugin& plugin, int points, int rings, FILE* out) {
    std::fprintf(out,
                 "Method 0, mean, with derivatives estimated from the tessellation (%d rings): "
                 "%d points per surface, sampled by area; the exact mean is taken at the "
                 "parametric point of each hit.\n\n",
                 rings, points);
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
        scene.add_mesh("torus", jittered_tessellation(surface, 128, 0.001, uv), {0.0f, 0.0f, 0.0f},
                       DerivativeSource::estimated, rings);
        if (scene.commit(error)) {
            print_estimated_row(out, "torus", "tessellation 128, jittered 0.1% of an edge",
                                measure_estimated(plugin, scene, surface, uv, points));
        }
    }
}

} // namespace preview
