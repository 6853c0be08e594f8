// bendlens-preview: renders a curvature image with the bendlens plug-in.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "preview/app/accuracy.h"
#include "preview/app/options.h"
#include "preview/app/report.h"
#include "preview/host/plugin.h"
#include "preview/image/image_io.h"
#include "preview/image/interrupt.h"
#include "preview/mesh/load.h"
#include "preview/mesh/prepare.h"
#include "preview/render/render.h"
#include "preview/scene/scene.h"

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "bendlens-preview: %s\n", message.c_str());
    return 1;
}

void warn(const std::string& message) {
    std::fprintf(stderr, "bendlens-preview: warning: %s\n", message.c_str());
}

// --derivatives: automatic is exact on the built-in surfaces, estimated on a
// mesh (the parser refuses exact with a mesh).
preview::DerivativeSource derivative_source(preview::Options::Derivatives wanted, bool mesh) {
    using D = preview::Options::Derivatives;
    switch (wanted) {
    case D::exact:
        return preview::DerivativeSource::exact;
    case D::estimated:
        return preview::DerivativeSource::estimated;
    case D::none:
        return preview::DerivativeSource::none;
    case D::automatic:
    default:
        return mesh ? preview::DerivativeSource::estimated : preview::DerivativeSource::exact;
    }
}

bool build_scene(const preview::Options& options, preview::Scene& scene, std::string& error) {
    const bool mesh_given = !options.mesh.empty();
    const preview::DerivativeSource source = derivative_source(options.derivatives, mesh_given);
    if (mesh_given) {
        preview::Mesh mesh;
        if (!preview::load_mesh(options.mesh, mesh, error)) {
            return false;
        }
        preview::place_mesh(mesh, options.fit);
        scene.add_mesh(options.mesh, std::move(mesh), {0.0f, 0.0f, 0.0f}, source, options.rings);
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
                                  options.tessellation, options.free_form, source, options.rings);
            }
        } else {
            for (const preview::Surface& surface : surfaces) {
                if (options.scene == preview::surface_name(surface.kind)) {
                    scene.add_surface(options.scene, surface, {0.0f, 0.0f, 0.0f},
                                      options.tessellation, options.free_form, source,
                                      options.rings);
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

void print_timing(const preview::RenderTiming& timing) {
    std::printf(
        "%lld shading calls; render %.3f s; of the threads' %.3f s busy time, "
        "%.3f s (%.0f%%) inside the shader (probe rays included), %.0f ns a call\n",
        timing.shading_calls, timing.total_seconds, timing.thread_seconds, timing.shader_seconds,
        timing.thread_seconds > 0.0 ? 100.0 * timing.shader_seconds / timing.thread_seconds : 0.0,
        timing.shading_calls > 0 ? 1e9 * timing.shader_seconds / double(timing.shading_calls)
                                 : 0.0);
}

// --auto-range: a quick render at about 20000 pixels and one sample each,
// reading the measure, and the range chosen from it.
void choose_auto_range(const preview::Scene& scene, const preview::Plugin& plugin,
                       preview::Instance& instance, preview::RenderSettings settings) {
    const double divisor =
        std::max(1.0, std::floor(std::sqrt(double(settings.width) * settings.height / 20000.0)));
    settings.width = std::max(1, int(settings.width / divisor));
    settings.height = std::max(1, int(settings.height / divisor));
    settings.samples_per_pixel = 1;
    settings.read_measure = true;
    settings.read_principal = false;
    settings.progress = false;
    preview::Image quick;
    preview::render(scene, plugin, instance, settings, quick);
    std::string note;
    if (preview::choose_range(quick, instance.block.params, note)) {
        std::printf("auto-range: %s\n", note.c_str());
    } else {
        warn("--auto-range kept the given range: " + note);
    }
}

// Renders one image of the scene from settings.view and writes it, then
// says what it did. False with a reason if the image cannot be written.
bool render_and_write(const preview::Options& options, const preview::Scene& scene,
                      const preview::Plugin& plugin, preview::Instance& instance,
                      const preview::RenderSettings& settings, const std::string& path,
                      std::string& error) {
    const auto start = std::chrono::steady_clock::now();
    preview::Image image;
    preview::RenderTiming timing;
    preview::render(scene, plugin, instance, settings, image, options.stats ? &timing : nullptr);
    preview::ImageStyle style = options.style;
    style.parameters = instance.block.params;
    if (!preview::write_image(image, path, style, error)) {
        return false;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const preview::RenderSummary summary = preview::summarise(image, instance.block.params.mapping);
    std::printf("%s\n", preview::summary_line(path, image, seconds, summary).c_str());
    const bool method_zero = instance.block.params.method == 0 &&
                             instance.connections[0].source == preview::Connection::none;
    for (const std::string& warning : preview::render_warnings(image, summary, method_zero)) {
        warn(path + ": " + warning);
    }
    if (options.stats) {
        print_statistics(image);
        print_timing(timing);
    }
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // First, so that an interrupt at any later point leaves no file behind.
    preview::install_interrupt_handlers();
    preview::Options options;
    std::string error;
    if (!preview::parse_options(argc, argv, options, error)) {
        return fail(error);
    }
    if (options.help) {
        std::fputs(preview::usage_text().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(preview::version_text().c_str(), stdout);
        return 0;
    }
    if (options.plugin.empty()) {
        options.plugin = preview::plugin_beside_executable();
        if (options.plugin.empty()) {
            return fail("--plugin: no bendlens.so beside this executable or in the folder above "
                        "it; name the plug-in with --plugin FILE");
        }
    }
    const int images = std::max(1, options.turntable);
    const std::string first_path =
        options.turntable > 0 ? preview::turntable_name(options.output, 0) : options.output;
    if (!options.accuracy && !preview::check_writable(first_path, error)) {
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
    // One scene and one acceleration structure for every image of a turntable.
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
    settings.view = options.view;
    // The measure's spread goes into the summary line; an EXR also keeps the
    // measure and the principal curvatures as layers of their own.
    settings.read_measure = true;
    settings.read_principal = preview::is_exr_path(options.output);
    if (options.auto_range) {
        choose_auto_range(scene, plugin, instance, settings);
    }
    for (int i = 0; i < images; ++i) {
        const std::string path =
            options.turntable > 0 ? preview::turntable_name(options.output, i) : options.output;
        settings.view.azimuth =
            float(std::fmod(double(options.view.azimuth) + 360.0 * i / images, 360.0));
        if (!render_and_write(options, scene, plugin, instance, settings, path, error)) {
            preview::unload_plugin(plugin);
            return fail(error);
        }
    }
    preview::unload_plugin(plugin);
    return 0;
}
