#include "preview/app/bake_command.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "preview/app/report.h"
#include "preview/image/image_io.h"
#include "preview/image/padding.h"
#include "preview/render/bake.h"
#include "preview/render/vertex_bake.h"
#include "preview/render/vertex_ply.h"

namespace preview {
namespace {

// The texels or vertices the quick first pass of --auto-range shades.
constexpr double quick_pass_size = 20000.0;

void warn(const std::string& message) {
    std::fprintf(stderr, "bendlens-preview: warning: %s\n", message.c_str());
}

std::string format(const char* pattern, double a, double b = 0.0, double c = 0.0) {
    char text[200];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// How errors name the model: its file, or the built-in surface.
std::string model_name(const Options& options) {
    return options.mesh.empty() ? "--scene " + options.scene : "mesh " + options.mesh;
}

bool method_zero(const Instance& instance) {
    return instance.block.params.method == 0 && instance.connections[0].source == Connection::none;
}

std::string percentiles(const RenderSummary& summary) {
    if (!summary.has_measure) {
        return "no measure read";
    }
    const float* p = summary.measure_percentiles;
    return format("measure 2nd/50th/98th percentile %.4g / %.4g / %.4g", p[0], p[1], p[2]);
}

// Chooses the range from the measures of several quick passes together.
void choose_range_from(const std::vector<Image>& passes, Instance& instance) {
    Image all;
    for (const Image& pass : passes) {
        all.rgba.insert(all.rgba.end(), pass.rgba.begin(), pass.rgba.end());
        all.measure.insert(all.measure.end(), pass.measure.begin(), pass.measure.end());
    }
    all.width = int(all.measure.size());
    all.height = 1;
    std::string note;
    if (choose_range(all, instance.block.params, note)) {
        std::printf("auto-range: %s\n", note.c_str());
    } else {
        warn("--auto-range kept the given range: " + note);
    }
}

// One tile: baked, summarised over its covered texels, padded, written.
bool bake_and_write_tile(const Options& options, const Scene& scene, const Plugin& plugin,
                         Instance& instance, const BakeSettings& settings, const UvTile& tile,
                         const std::string& path, std::string& error) {
    const auto start = std::chrono::steady_clock::now();
    BakedTile baked;
    bake_tile(scene, plugin, instance, settings, tile, baked);
    if (baked.covered == 0) {
        warn(path + ": no texel centre of tile " + std::to_string(tile.number()) +
             " lies on a triangle; not written");
        return true;
    }
    const RenderSummary summary = summarise(baked.image, instance.block.params.mapping);
    // A map with no empty texel (the summary counted them) has nothing to pad.
    const long long padded =
        summary.pixels_hit < summary.pixels ? pad_image(baked.image, options.padding) : 0;
    ImageStyle style = options.style;
    style.parameters = instance.block.params;
    style.transparent = true; // texels outside the islands and their padding: alpha 0
    {
        ProgressStep step(settings.progress, "write", false);
        if (!write_image(baked.image, path, style, error)) {
            return false;
        }
    }
    const double texels = double(baked.image.width) * double(baked.image.height);
    const std::string line = path +
                             format(": %.0f x %.0f texels in %.2f s, ", baked.image.width,
                                    baked.image.height, seconds_since(start)) +
                             format("%.1f%% covered, %.0f padded; ",
                                    100.0 * double(baked.covered) / texels, double(padded)) +
                             percentiles(summary);
    std::printf("%s\n", line.c_str());
    if (baked.overlapped > 0) {
        warn(path + format(": %.2f%% of the covered texels lie under more than one triangle "
                           "(overlapping UV islands); each takes the first triangle's value",
                           100.0 * double(baked.overlapped) / double(baked.covered)));
    }
    for (const std::string& warning : render_warnings(baked.image, summary, method_zero(instance),
                                                      unknown_values(instance, 2, 0, 2))) {
        warn(path + ": " + warning);
    }
    std::fflush(stdout);
    return true;
}

bool bake_texture(const Options& options, const Scene& scene, const Plugin& plugin,
                  Instance& instance, Progress* progress, std::string& error) {
    const Mesh& mesh = scene.objects().front().mesh;
    if (mesh.uvs.empty()) {
        error = model_name(options) +
                " has no texture coordinates to bake a texture into; bake its vertices with "
                "--bake vertices";
        return false;
    }
    std::vector<UvTile> tiles;
    if (!plan_tiles(mesh, options.udim, tiles, error)) {
        error = model_name(options) + ": " + error;
        return false;
    }
    auto path_of = [&](const UvTile& tile) {
        return options.udim ? udim_name(options.output, tile.number()) : options.output;
    };
    if (!check_writable(path_of(tiles.front()), error)) {
        return false;
    }
    BakeSettings settings;
    settings.width = options.bake_width;
    settings.height = options.bake_height;
    settings.samples_per_texel = options.samples_per_pixel;
    settings.threads = options.threads;
    settings.read_measure = true;
    if (options.auto_range) {
        BakeSettings quick = settings;
        const double divisor = std::max(
            1.0, std::floor(std::sqrt(double(settings.width) * settings.height / quick_pass_size)));
        quick.width = std::max(1, int(settings.width / divisor));
        quick.height = std::max(1, int(settings.height / divisor));
        quick.samples_per_texel = 1;
        std::vector<Image> passes;
        {
            ProgressStep step(progress, "auto-range", false);
            for (const UvTile& tile : tiles) {
                BakedTile baked;
                bake_tile(scene, plugin, instance, quick, tile, baked);
                passes.push_back(std::move(baked.image));
            }
        }
        choose_range_from(passes, instance);
    }
    settings.progress = progress;
    // An EXR keeps the raw values as layers; a PNG's summary needs the
    // measure's spread only, read on a grid of texels.
    settings.read_principal = is_exr_path(options.output);
    if (!settings.read_principal) {
        settings.measure_stride = summary_measure_stride(settings.width, settings.height);
    }
    for (const UvTile& tile : tiles) {
        if (!bake_and_write_tile(options, scene, plugin, instance, settings, tile, path_of(tile),
                                 error)) {
            return false;
        }
    }
    return true;
}

bool bake_vertex_file(const Options& options, const Scene& scene, const Plugin& plugin,
                      Instance& instance, const std::vector<Float3>& file_positions,
                      Progress* progress, std::string& error) {
    if (!check_writable(options.output, error)) {
        return false;
    }
    const auto start = std::chrono::steady_clock::now();
    VertexBakeSettings settings;
    settings.threads = options.threads;
    VertexBake bake;
    if (options.auto_range) {
        VertexBakeSettings quick = settings;
        const size_t vertices = scene.objects().front().mesh.positions.size();
        quick.stride = std::max(1, int(double(vertices) / quick_pass_size));
        {
            ProgressStep step(progress, "auto-range", false);
            bake_vertices(scene, plugin, instance, quick, bake);
        }
        choose_range_from({bake.values}, instance);
    }
    settings.progress = progress;
    bake_vertices(scene, plugin, instance, settings, bake);
    ImageStyle style = options.style;
    style.parameters = instance.block.params;
    const BendlensParameters& p = instance.block.params;
    const std::string comment = "bendlens vertex bake: method " + std::to_string(p.method) +
                                ", measure " + std::to_string(p.measure) + ", mapping " +
                                std::to_string(p.mapping) +
                                format(", range_max %g, range_min %g", p.range_max, p.range_min);
    {
        ProgressStep step(progress, "write", false);
        if (!write_vertex_ply(options.output, file_positions, bake, style, comment, error)) {
            return false;
        }
    }
    const RenderSummary summary = summarise(bake.values, p.mapping);
    std::printf("%s: %zu vertices, %zu faces in %.2f s, %lld without an estimate; %s\n",
                options.output.c_str(), bake.vertices.size(), bake.triangles.size() / 3,
                seconds_since(start), bake.without_estimate, percentiles(summary).c_str());
    if (bake.without_estimate > 0) {
        warn(options.output +
             format(": %.0f of %.0f vertices have no estimate (no triangle uses them, or the "
                    "curvature fit found none there); they hold NaN and black",
                    double(bake.without_estimate), double(bake.vertices.size())));
    }
    if (summary.pixels_hit > 0 && summary.saturated * 5 > summary.pixels_hit) {
        warn(options.output +
             format(": %.0f%% of the vertices saturate at the ends of the mapping; widen "
                    "--range_max and --range_min, or use --auto-range",
                    100.0 * double(summary.saturated) / double(summary.pixels_hit)));
    }
    std::fflush(stdout);
    return true;
}

} // namespace

bool run_bake(const Options& options, const Scene& scene, const Plugin& plugin, Instance& instance,
              const std::vector<Float3>& file_positions, Progress* progress, std::string& error) {
    if (options.bake == Options::Bake::vertices) {
        return bake_vertex_file(options, scene, plugin, instance, file_positions, progress, error);
    }
    return bake_texture(options, scene, plugin, instance, progress, error);
}

} // namespace preview
