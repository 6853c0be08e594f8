// bendlens-preview: renders a curvature image with the bendlens plug-in.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "preview/app/accuracy.h"
#include "preview/app/bake_command.h"
#include "preview/app/options.h"
#include "preview/app/progress_display.h"
#include "preview/app/report.h"
#include "preview/app/scene_setup.h"
#include "preview/host/plugin.h"
#include "preview/image/image_io.h"
#include "preview/image/interrupt.h"
#include "preview/image/texture.h"
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

// Without --plugin, the plug-in the build put beside the tool.
bool resolve_plugin(preview::Options& options, std::string& error) {
    if (!options.plugin.empty()) {
        return true;
    }
    options.plugin = preview::plugin_beside_executable();
    if (options.plugin.empty()) {
        error = "--plugin: no bendlens.so beside this executable or in the folder above it; "
                "name the plug-in with --plugin FILE";
        return false;
    }
    return true;
}

// How long a step runs before its progress shows: half a second, or the
// seconds in BENDLENS_PROGRESS_AFTER (the tests show every step with 0).
double progress_delay() {
    const char* text = std::getenv("BENDLENS_PROGRESS_AFTER");
    char* end = nullptr;
    const double seconds = text == nullptr ? 0.5 : std::strtod(text, &end);
    return text != nullptr && (end == text || !(seconds >= 0.0)) ? 0.5 : seconds;
}

// The name of image `index` of the run: --output itself, or its numbered
// turntable name.
std::string image_path(const preview::Options& options, int index) {
    return options.turntable > 0 ? preview::turntable_name(options.output, index) : options.output;
}

preview::Instance make_instance(const preview::Options& options) {
    preview::Instance instance;
    instance.block.params = options.params;
    for (int k = 0; k < preview::parameter_count; ++k) {
        instance.connections[k] = options.connections[k];
    }
    return instance;
}

preview::RenderSettings render_settings(const preview::Options& options,
                                        preview::Progress& progress) {
    preview::RenderSettings settings;
    settings.width = options.width;
    settings.height = options.height;
    settings.samples_per_pixel = options.samples_per_pixel;
    settings.threads = options.threads;
    settings.progress = &progress;
    settings.view = options.view;
    // The measure's spread goes into the summary line; an EXR also keeps the
    // measure and the principal curvatures as layers of their own.
    settings.read_measure = true;
    settings.read_principal = preview::is_exr_path(options.output);
    return settings;
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
    preview::Image quick;
    {
        preview::ProgressStep step(settings.progress, "auto-range", false);
        settings.progress = nullptr;
        preview::render(scene, plugin, instance, settings, quick);
    }
    std::string note;
    if (preview::choose_range(quick, instance.block.params, note)) {
        std::printf("auto-range: %s\n", note.c_str());
    } else {
        warn("--auto-range kept the given range: " + note);
    }
}

// The summary line of an image written, its warnings, and with --stats the
// spread of its values and where the time went.
void report_image(const preview::Options& options, const preview::Instance& instance,
                  const preview::Image& image, const preview::RenderTiming& timing,
                  const std::string& path, double seconds) {
    const preview::RenderSummary summary = preview::summarise(image, instance.block.params.mapping);
    std::printf("%s\n", preview::summary_line(path, image, seconds, summary).c_str());
    const bool method_zero = instance.block.params.method == 0 &&
                             instance.connections[0].source == preview::Connection::none;
    const std::string unknown_mapping = preview::unknown_values(instance, 2, 0, 2);
    for (const std::string& warning :
         preview::render_warnings(image, summary, method_zero, unknown_mapping)) {
        warn(path + ": " + warning);
    }
    if (options.stats) {
        std::printf("%s\n%s\n", preview::statistics_line(image).c_str(),
                    preview::timing_line(timing).c_str());
    }
    std::fflush(stdout);
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
    {
        preview::ProgressStep step(settings.progress, "write", false);
        if (!preview::write_image(image, path, style, error)) {
            return false;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    report_image(options, instance, image, timing, path, seconds);
    return true;
}

// With --stats: where the time went, and the vertex fits the hits needed.
void print_steps(const preview::Scene& scene, const preview::Progress& progress) {
    std::printf("%s\n", preview::steps_line(progress.times()).c_str());
    size_t fitted = 0, vertices = 0;
    scene.curvature_fits(fitted, vertices);
    if (vertices > 0) {
        std::printf("%s\n", preview::fits_line(fitted, vertices).c_str());
    }
}

// --texture: the map, for a scene whose every model has texture coordinates.
bool load_texture(const preview::Options& options, const preview::Scene& scene,
                  preview::Image& texture, std::string& error) {
    for (const preview::Object& object : scene.objects()) {
        if (object.mesh.uvs.empty()) {
            error = "--texture: mesh " + options.mesh +
                    " has no texture coordinates to look the texture up with";
            return false;
        }
    }
    return preview::read_texture(options.texture, texture, error);
}

// --bake: builds the scene and bakes its one model. The tool's exit status.
int bake_model(const preview::Options& options, const preview::Plugin& plugin) {
    preview::Progress progress;
    std::unique_ptr<preview::ProgressDisplay> display;
    if (preview::progress_wanted(isatty(STDERR_FILENO) != 0, options.quiet)) {
        display = std::make_unique<preview::ProgressDisplay>(progress, stderr, progress_delay());
    }
    std::string error;
    preview::Scene scene;
    std::vector<preview::Float3> file_positions;
    preview::Instance instance = make_instance(options);
    // Only method 2 casts rays (its probes), and a method connected to u or
    // v may reach it; a bake by method 0 or 1 alone needs no BVH.
    const bool rays = instance.block.params.method == 2 ||
                      instance.connections[0].source != preview::Connection::none;
    if (!preview::build_scene(options, scene, error, &progress, &file_positions, rays) ||
        !preview::run_bake(options, scene, plugin, instance, file_positions, &progress, error)) {
        display.reset(); // its line ends before the reason is printed
        return fail(error);
    }
    display.reset();
    if (options.stats) {
        print_steps(scene, progress);
    }
    return 0;
}

// Builds the scene once (one acceleration structure for every image of a
// turntable) and renders and writes the image, or each image of the
// turntable, the azimuth rising by 360/N degrees from one to the next.
// The tool's exit status.
int render_images(const preview::Options& options, const preview::Plugin& plugin) {
    // Every step's time is kept for --stats; a terminal also sees the long
    // ones as they go.
    preview::Progress progress;
    std::unique_ptr<preview::ProgressDisplay> display;
    if (preview::progress_wanted(isatty(STDERR_FILENO) != 0, options.quiet)) {
        display = std::make_unique<preview::ProgressDisplay>(progress, stderr, progress_delay());
    }
    std::string error;
    preview::Scene scene;
    if (!preview::build_scene(options, scene, error, &progress)) {
        display.reset(); // its line ends before the reason is printed
        return fail(error);
    }
    preview::Instance instance = make_instance(options);
    preview::RenderSettings settings = render_settings(options, progress);
    preview::Image texture;
    if (!options.texture.empty()) {
        if (!load_texture(options, scene, texture, error)) {
            display.reset();
            return fail(error);
        }
        settings.texture = &texture;
    }
    const int images = std::max(1, options.turntable);
    if (options.turntable > 0) {
        // One distance for every image, so that the model keeps its size.
        settings.distance = preview::turntable_distance(scene, settings.width, settings.height,
                                                        options.view, images);
    }
    if (options.auto_range) {
        choose_auto_range(scene, plugin, instance, settings);
    }
    for (int i = 0; i < images; ++i) {
        settings.view.azimuth = preview::turntable_azimuth(options.view.azimuth, i, images);
        if (!render_and_write(options, scene, plugin, instance, settings, image_path(options, i),
                              error)) {
            display.reset();
            return fail(error);
        }
    }
    display.reset();
    if (options.stats) {
        print_steps(scene, progress);
    }
    return 0;
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
    for (const std::string& warning : options.warnings) {
        warn(warning);
    }
    if (options.help || options.version) {
        std::fputs((options.help ? preview::usage_text() : preview::version_text()).c_str(),
                   stdout);
        return 0;
    }
    if (!resolve_plugin(options, error)) {
        return fail(error);
    }
    // A bake checks its own files' names (UDIM tiles are named per tile).
    const bool baking = options.bake != preview::Options::Bake::none;
    if (!options.accuracy && !baking && !preview::check_writable(image_path(options, 0), error)) {
        return fail(error);
    }
    preview::Plugin plugin;
    if (!preview::load_plugin(options.plugin, plugin, error)) {
        return fail(error);
    }
    int status = 0;
    if (options.accuracy) {
        preview::accuracy_report(plugin, options.accuracy_points, options.tessellation, stdout);
    } else if (baking) {
        status = bake_model(options, plugin);
    } else {
        status = render_images(options, plugin);
    }
    preview::unload_plugin(plugin);
    return status;
}
