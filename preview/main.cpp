// bendlens-preview: renders a curvature image with the bendlens plug-in.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "preview/accuracy.h"
#include "preview/image_io.h"
#include "preview/mesh_loader.h"
#include "preview/options.h"
#include "preview/plugin.h"
#include "preview/render.h"
#include "preview/scene.h"

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "bendlens-preview: %s\n", message.c_str());
    return 1;
}

// Centres the mesh on the origin and, with a fit size, scales its largest
// extent to that size.
void place_mesh(preview::Mesh& mesh, float fit) {
    preview::Float3 lo = mesh.positions[0], hi = mesh.positions[0];
    for (const preview::Float3& p : mesh.positions) {
        lo = {std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
        hi = {std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
    }
    const double extent =
        std::fmax(std::fmax(double(hi.x) - lo.x, double(hi.y) - lo.y), double(hi.z) - lo.z);
    const double scale = fit > 0.0f && extent > 0.0 ? fit / extent : 1.0;
    const double cx = 0.5 * (double(lo.x) + hi.x), cy = 0.5 * (double(lo.y) + hi.y),
                 cz = 0.5 * (double(lo.z) + hi.z);
    for (preview::Float3& p : mesh.positions) {
        p = {float((p.x - cx) * scale), float((p.y - cy) * scale), float((p.z - cz) * scale)};
    }
}

bool build_scene(const preview::Options& options, preview::Scene& scene, std::string& error) {
    if (!options.mesh.empty()) {
        preview::Mesh mesh;
        if (!preview::load_mesh(options.mesh, mesh, error)) {
            return false;
        }
        place_mesh(mesh, options.fit);
        scene.add_mesh(options.mesh, std::move(mesh), {0.0f, 0.0f, 0.0f});
    } else {
        const std::vector<preview::Surface> surfaces = preview::builtin_surfaces();
        if (options.scene == "default") {
            // Two rows: sphere, cylinder, torus above; ellipsoid, saddle below.
            const preview::Float3 places[5] = {{-2.6f, 1.3f, 0.0f},
                                               {0.0f, 1.3f, 0.0f},
                                               {2.6f, 1.3f, 0.0f},
                                               {-1.3f, -1.3f, 0.0f},
                                               {1.3f, -1.3f, 0.0f}};
            for (size_t i = 0; i < surfaces.size(); ++i) {
                scene.add_surface(preview::surface_name(surfaces[i].kind), surfaces[i], places[i],
                                  options.tessellation, options.free_form);
            }
        } else {
            for (const preview::Surface& surface : surfaces) {
                if (options.scene == preview::surface_name(surface.kind)) {
                    scene.add_surface(options.scene, surface, {0.0f, 0.0f, 0.0f},
                                      options.tessellation, options.free_form);
                }
            }
        }
    }
    return scene.commit(error);
}

// The spread of the grey values of fully covered pixels, so that a user can
// choose range_max for a new model.
void print_statistics(const preview::Image& image) {
    std::vector<float> values;
    size_t not_a_number = 0;
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        if (image.rgba[i + 3] == 1.0f) {
            if (std::isnan(image.rgba[i])) {
                ++not_a_number;
            } else {
                values.push_back(image.rgba[i]);
            }
        }
    }
    if (values.empty()) {
        std::printf("no fully covered pixel with a value; %zu NaN\n", not_a_number);
        return;
    }
    std::sort(values.begin(), values.end());
    auto at = [&](double q) { return values[size_t(q * double(values.size() - 1))]; };
    std::printf("values of %zu covered pixels: min %g, 5%% %g, median %g, 95%% %g, max %g; "
                "%zu NaN\n",
                values.size(), values.front(), at(0.05), at(0.5), at(0.95), values.back(),
                not_a_number);
}

} // namespace

int main(int argc, char** argv) {
    preview::Options options;
    std::string error;
    if (!preview::parse_options(argc, argv, options, error)) {
        return fail(error);
    }
    if (options.help) {
        std::fputs(preview::usage_text(), stdout);
        return 0;
    }
    if (!options.accuracy && !preview::known_image_extension(options.output)) {
        return fail("output " + options.output + " must end in .png or .exr");
    }
    if (!options.accuracy && !preview::check_writable(options.output, error)) {
        return fail(error);
    }
    preview::Plugin plugin;
    if (!preview::load_plugin(options.plugin, plugin, error)) {
        return fail(error);
    }
    if (options.accuracy) {
        preview::accuracy_report(plugin, options.accuracy_points, options.tessellation, stdout);
        preview::unload_plugin(plugin);
        return 0;
    }
    preview::Scene scene;
    if (!build_scene(options, scene, error)) {
        preview::unload_plugin(plugin);
        return fail(error);
    }
    preview::Instance instance;
    instance.block.params = options.params;
    for (int k = 0; k < preview::parameter_count; ++k) {
        instance.connections[k] = options.connections[k];
    }
    preview::RenderSettings settings;
    settings.width = options.width;
    settings.height = options.height;
    settings.samples_per_pixel = options.samples_per_pixel;
    settings.threads = options.threads;
    settings.progress = isatty(STDERR_FILENO) != 0;
    preview::Image image;
    preview::RenderTiming timing;
    preview::render(scene, plugin, instance, settings, image, options.stats ? &timing : nullptr);
    preview::unload_plugin(plugin);
    if (!preview::write_image(image, options.output, error)) {
        return fail(error);
    }
    if (options.stats) {
        print_statistics(image);
        std::printf(
            "%lld shading calls; render %.3f s; of the threads' %.3f s busy time, "
            "%.3f s (%.0f%%) inside the shader (probe rays included), %.0f ns a call\n",
            timing.shading_calls, timing.total_seconds, timing.thread_seconds,
            timing.shader_seconds,
            timing.thread_seconds > 0.0 ? 100.0 * timing.shader_seconds / timing.thread_seconds
                                        : 0.0,
            timing.shading_calls > 0 ? 1e9 * timing.shader_seconds / double(timing.shading_calls)
                                     : 0.0);
    }
    return 0;
}
