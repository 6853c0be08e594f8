#include "bench/robust_hits.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "preview/render/render.h"
#include "preview/scene/scene.h"

namespace bench {
namespace {

using clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double seconds_since(clock::time_point start) {
    return std::chrono::duration<double>(clock::now() - start).count();
}

// A fresh scene of the mesh, built with or without the robust flag; the
// build's seconds go to `build`. Null if Embree fails.
std::unique_ptr<preview::Scene> build_scene(const std::string& name, const preview::Mesh& mesh,
                                            bool robust, std::vector<double>& build) {
    auto scene = std::make_unique<preview::Scene>();
    scene->add_mesh(name, mesh, {0.0f, 0.0f, 0.0f});
    scene->set_robust(robust);
    std::string error;
    const clock::time_point start = clock::now();
    if (!scene->commit(error)) {
        std::printf("%s: %s\n", name.c_str(), error.c_str());
        return nullptr;
    }
    build.push_back(seconds_since(start));
    return scene;
}

} // namespace

void time_robust_hits(const std::string& name, const preview::Mesh& mesh, int repeats,
                      const preview::Plugin& plugin) {
    std::vector<double> build[2]; // [0] fast, [1] robust
    std::unique_ptr<preview::Scene> scenes[2];
    for (int run = 0; run < repeats; ++run) {
        // Alternating which comes first, so that a slow moment of the shared
        // machine falls on both alike.
        for (int k = 0; k < 2; ++k) {
            const bool robust = (run + k) % 2 == 1;
            scenes[robust] = build_scene(name, mesh, robust, build[robust]);
            if (!scenes[robust]) {
                return;
            }
        }
    }
    constexpr int width = 320, height = 240;
    preview::RenderSettings settings;
    settings.width = width;
    settings.height = height;
    settings.samples_per_pixel = 1;
    settings.threads = 1;
    std::printf("%s, %zu triangles: robust / fast: BVH build %.3f / %.3f s (%.3f)", name.c_str(),
                mesh.triangles.size() / 3, median(build[1]), median(build[0]),
                median(build[1]) / median(build[0]));
    for (int probes : {0, 16}) {
        preview::Instance instance;
        instance.block.params = {probes > 0 ? 2 : 0, 0,   0, 1.0f, 1.0f, 0.0f, 0.5f, 0,
                                 float(probes),      1.0f};
        std::vector<double> render[2];
        preview::Image image;
        for (int run = 0; run < 2 * repeats + 1; ++run) {
            for (int k = 0; k < 2; ++k) {
                const int robust = (run + k) % 2;
                const clock::time_point start = clock::now();
                preview::render(*scenes[robust], plugin, instance, settings, image);
                render[robust].push_back(seconds_since(start) * 1e9 / (width * height));
            }
        }
        std::printf(", render %s %.1f / %.1f ns a sample (%.3f)", probes > 0 ? "m2x16" : "m0",
                    median(render[1]), median(render[0]), median(render[1]) / median(render[0]));
    }
    std::printf("\n");
}

} // namespace bench
