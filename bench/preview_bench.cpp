// The preview host, shaded against its bare rays: a frame rendered with the
// shader at every hit, side by side with the same frame casting the rays
// alone (primary rays for methods 0 and 1; 1 + n rays per sample for
// method 2 with n probes, laid out as the shader's probes are). On the
// Stanford bunny (models/bunny.obj, made by scripts/fetch-models.sh) and on
// a built-in surface.
//
// Before them it times what a mesh costs before the first ray: estimating
// its vertex curvature (one thread and two) beside Embree's BVH build of the same
// mesh, for the built-in torus at fineness 1024 and 1448 (0.5 and 1 million
// vertices) and for the dragon (models/dragon.ply).
//
// Then what watertight hits cost: the BVH build and the render with Embree's
// robust intersection against its fast one, on the bunny, the dragon and the
// torus at fineness 1024 (robust_hits.h).
//
// Then the texture bake: the same mesh baked (nanoseconds per texel, one
// thread) beside its render (nanoseconds per sample), on a rippled torus
// with texture coordinates and 50176 triangles (scripts/make-uv-model.sh
// writes the same surface as an OBJ); and the whole 4096 x 4096 bake of it
// with its PNG written, on two threads.
//
// With --big_scans DIR it runs the big-scan measurement instead (big_scans.h):
// the tool from start to the written image on meshes of 1.5 and 10 million
// triangles it writes into DIR, with each step's time and the peak memory.
//
// With --robust_only it runs the robust-hits comparison alone.
//
// Usage: bendlens_preview_bench [--ratios_only] [--models DIR] [--big_scans DIR]
//                               [--robust_only] [benchmark options]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/big_scans.h"
#include "bench/ratio_reporter.h"
#include "bench/robust_hits.h"
#include "preview/host/plugin.h"
#include "preview/image/image_io.h"
#include "preview/image/padding.h"
#include "preview/mesh/load.h"
#include "preview/mesh/prepare.h"
#include "preview/render/bake.h"
#include "preview/render/render.h"
#include "preview/scene/scene.h"

namespace {

// A small frame, one sample a pixel, on one thread: a render is then a batch
// of a few thousand samples, and both sides share the per-frame costs (the
// shader's start-up calls, starting the render thread).
constexpr int frame_width = 96;
constexpr int frame_height = 72;

struct Case {
    const char* name;
    int method;
    int probes; // method 2
};

const Case cases[] = {{"m0", 0, 0}, {"m1", 1, 0}, {"m2x4", 2, 4}, {"m2x16", 2, 16}};

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

bool read_model(const std::string& path, preview::Mesh& mesh, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + " (scripts/fetch-models.sh makes it)";
        return false;
    }
    const std::string contents((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (!preview::parse_mesh(path, contents.data(), contents.size(), mesh, error) ||
        !preview::prepare_mesh(mesh, error)) {
        return false;
    }
    preview::place_mesh(mesh, 2.0f); // as the preview's --fit 2
    return true;
}

bool load_bunny(const std::string& path, preview::Scene& scene, std::string& error) {
    preview::Mesh mesh;
    if (!read_model(path, mesh, error)) {
        return false;
    }
    scene.add_mesh("bunny", std::move(mesh), {0.0f, 0.0f, 0.0f});
    return scene.commit(error);
}

bool make_torus(preview::Scene& scene, std::string& error) {
    for (const preview::Surface& surface : preview::builtin_surfaces()) {
        if (surface.kind == preview::SurfaceKind::torus) {
            // The preview's default fineness.
            scene.add_surface("torus", surface, {0.0f, 0.0f, 0.0f}, 128);
        }
    }
    return scene.commit(error);
}

// The median of five runs of the curvature estimate on one thread and on
// two (alternating, so that both see the same load), and of three BVH
// builds (a fresh scene each, without derivatives), in seconds.
void time_mesh_setup(const std::string& name, const preview::Mesh& mesh) {
    using clock = std::chrono::steady_clock;
    auto seconds = [](clock::time_point start) {
        return std::chrono::duration<double>(clock::now() - start).count();
    };
    std::vector<double> estimate[2], build;
    preview::CurvatureSettings settings;
    settings.rings = preview::default_rings;
    size_t valid = 0;
    for (int run = 0; run < 5; ++run) {
        for (int threads = 1; threads <= 2; ++threads) {
            settings.threads = threads;
            preview::VertexCurvature curvature;
            const clock::time_point start = clock::now();
            preview::estimate_vertex_curvature(mesh, settings, curvature);
            estimate[threads - 1].push_back(seconds(start));
            valid = size_t(std::count(curvature.valid.begin(), curvature.valid.end(), 1));
        }
    }
    for (int run = 0; run < 3; ++run) {
        preview::Scene scene;
        scene.add_mesh(name, mesh, {0.0f, 0.0f, 0.0f}, preview::DerivativeSource::none);
        std::string error;
        const clock::time_point start = clock::now();
        if (!scene.commit(error)) {
            std::printf("%s: %s\n", name.c_str(), error.c_str());
            return;
        }
        build.push_back(seconds(start));
    }
    std::printf("%s: %zu vertices, %zu triangles: curvature estimate %.3f s on 1 thread, %.3f s "
                "on 2 (%zu vertices with an estimate), BVH build %.3f s\n",
                name.c_str(), mesh.positions.size(), mesh.triangles.size() / 3, median(estimate[0]),
                median(estimate[1]), valid, median(build));
}

void time_mesh_setups(const std::string& models) {
    for (const preview::Surface& surface : preview::builtin_surfaces()) {
        if (surface.kind != preview::SurfaceKind::torus) {
            continue;
        }
        for (int n : {1024, 1448}) {
            int su = 0, sv = 0;
            preview::tessellation_segments(surface, n, su, sv);
            std::vector<float> uv;
            time_mesh_setup("torus at " + std::to_string(n),
                            preview::tessellate(surface, su, sv, uv));
        }
        // As a file without normals has it (most scans): normals from the
        // triangles, so that the estimate fits positions alone.
        int su = 0, sv = 0;
        preview::tessellation_segments(surface, 1024, su, sv);
        std::vector<float> uv;
        preview::Mesh bare = preview::tessellate(surface, su, sv, uv);
        bare.normals.clear();
        std::string error;
        if (preview::prepare_mesh(bare, error)) {
            time_mesh_setup("torus at 1024 without normals", bare);
        }
    }
    preview::Mesh dragon;
    std::string error;
    if (read_model(models + "/dragon.ply", dragon, error)) {
        time_mesh_setup("dragon.ply", dragon);
    } else {
        std::printf("the dragon is left out: %s\n", error.c_str());
    }
}

// The host's own share: the same frame with a shader that does nothing, so
// that what remains over the bare rays is the host loading each hit into
// the state and making the call.
Boolean empty_shader(Colour*, RenderState*, BendlensParameters*) {
    return 1;
}
preview::Plugin empty_plugin;

// Each iteration renders the frame shaded and bare, in alternating order;
// the ratio is that of the median frames, per sample of the frame.
void shaded_against_bare(benchmark::State& st, const preview::Scene* scene, Case c,
                         const preview::Plugin* plugin) {
    using clock = std::chrono::steady_clock;
    preview::Instance instance;
    // The preview's defaults, with the method and probe count of the case.
    instance.block.params = {c.method, 0, 0, 1.0f, 1.0f, 0.0f, 0.5f, 0, float(c.probes), 1.0f};
    preview::RenderSettings shaded;
    shaded.width = frame_width;
    shaded.height = frame_height;
    shaded.samples_per_pixel = 1;
    shaded.threads = 1;
    preview::RenderSettings bare = shaded;
    bare.bare_rays = c.probes;
    preview::Image image;
    auto time_frame = [&](const preview::RenderSettings& settings) {
        const clock::time_point start = clock::now();
        preview::render(*scene, *plugin, instance, settings, image);
        benchmark::ClobberMemory();
        return std::chrono::duration<double, std::nano>(clock::now() - start).count() /
               (frame_width * frame_height);
    };
    std::vector<double> shaded_ns, bare_ns;
    bool shaded_first = true;
    for (auto _ : st) {
        if (shaded_first) {
            shaded_ns.push_back(time_frame(shaded));
            bare_ns.push_back(time_frame(bare));
        } else {
            bare_ns.push_back(time_frame(bare));
            shaded_ns.push_back(time_frame(shaded));
        }
        shaded_first = !shaded_first;
    }
    st.counters["subject_ns"] = median(shaded_ns);
    st.counters["baseline_ns"] = median(bare_ns);
    st.counters["ratio"] = median(shaded_ns) / median(bare_ns);
    st.SetItemsProcessed(st.iterations() * 2 * frame_width * frame_height);
}

// The rippled torus of scripts/make-uv-model.sh: ring 0.75, tube 0.45 with
// ripples of 0.04 around both circles; (u, v) the two angles over 2 pi, the
// vertices split where each closes.
preview::Mesh rippled_torus(int segments) {
    const int nu = segments, nv = segments / 2;
    const double pi = 3.141592653589793;
    preview::Mesh mesh;
    for (int j = 0; j <= nv; ++j) {
        for (int i = 0; i <= nu; ++i) {
            const double u = 2 * pi * (i % nu) / nu, v = 2 * pi * (j % nv) / nv;
            const double r = 0.45 + 0.04 * std::sin(5 * u) * std::sin(3 * v);
            const double w = 0.75 + r * std::cos(v);
            mesh.positions.push_back(
                {float(w * std::cos(u)), float(r * std::sin(v)), float(w * std::sin(u))});
            mesh.uvs.push_back({float(double(i) / nu), float(double(j) / nv)});
        }
    }
    for (int j = 0; j < nv; ++j) {
        for (int i = 0; i < nu; ++i) {
            const uint32_t a = uint32_t(j * (nu + 1) + i), b = a + 1, c = a + uint32_t(nu + 1),
                           d = c + 1;
            mesh.triangles.insert(mesh.triangles.end(), {a, d, b, a, c, d});
        }
    }
    std::string error;
    preview::prepare_mesh(mesh, error); // vertex normals from the winding
    return mesh;
}

// The bake against the render of the same mesh, in alternating order: each
// iteration bakes a 256 x 256 tile (one sample a texel at its centre, the
// measure read on the summary's grid, as the tool bakes a PNG) and renders
// the usual frame, both on one thread; the ratio is that of the medians.
void bake_against_render(benchmark::State& st, const preview::Scene* scene,
                         const preview::Plugin* plugin) {
    using clock = std::chrono::steady_clock;
    preview::Instance instance; // method 0, the preview's defaults
    preview::BakeSettings bake;
    bake.width = bake.height = 256;
    bake.samples_per_texel = 1;
    bake.threads = 1;
    bake.read_measure = true;
    bake.measure_stride = preview::summary_measure_stride(bake.width, bake.height);
    preview::RenderSettings render;
    render.width = frame_width;
    render.height = frame_height;
    render.samples_per_pixel = 1;
    render.threads = 1;
    render.read_measure = true;
    std::vector<double> texel_ns, sample_ns;
    preview::BakedTile baked;
    preview::Image image;
    for (auto _ : st) {
        clock::time_point start = clock::now();
        preview::bake_tile(*scene, *plugin, instance, bake, preview::UvTile{}, baked);
        benchmark::ClobberMemory();
        texel_ns.push_back(std::chrono::duration<double, std::nano>(clock::now() - start).count() /
                           double(baked.covered));
        start = clock::now();
        preview::render(*scene, *plugin, instance, render, image);
        benchmark::ClobberMemory();
        sample_ns.push_back(std::chrono::duration<double, std::nano>(clock::now() - start).count() /
                            (frame_width * frame_height));
    }
    st.counters["subject_ns"] = median(texel_ns);
    st.counters["baseline_ns"] = median(sample_ns);
    st.counters["ratio"] = median(texel_ns) / median(sample_ns);
}

// The whole bake the tool makes of a 4096 x 4096 map on two threads: the
// tile baked, padded and written as a PNG; the median of three, in seconds.
void time_full_bake(const preview::Scene& scene, const preview::Plugin& plugin) {
    using clock = std::chrono::steady_clock;
    preview::BakeSettings settings;
    settings.width = settings.height = 4096;
    settings.samples_per_texel = 1;
    settings.threads = 2;
    settings.read_measure = true;
    settings.measure_stride = preview::summary_measure_stride(settings.width, settings.height);
    preview::ImageStyle style;
    style.transparent = true;
    const std::string path = "bendlens_bench_bake.png";
    std::vector<double> seconds;
    for (int run = 0; run < 3; ++run) {
        preview::Instance instance;
        instance.block.params.range_max = instance.block.params.range_min = 3.7f;
        const clock::time_point start = clock::now();
        preview::BakedTile baked;
        preview::bake_tile(scene, plugin, instance, settings, preview::UvTile{}, baked);
        preview::pad_image(baked.image, 16);
        std::string error;
        if (!preview::write_image(baked.image, path, style, error)) {
            std::printf("the 4096 x 4096 bake could not be written: %s\n", error.c_str());
            return;
        }
        seconds.push_back(std::chrono::duration<double>(clock::now() - start).count());
    }
    std::remove(path.c_str());
    std::printf("rippled torus (%zu triangles): 4096 x 4096 bake, method 0, 1 sample a texel, 2 "
                "threads, PNG written: %.2f s (median of 3; %.0f ns a texel)\n",
                scene.objects().front().mesh.triangles.size() / 3, median(seconds),
                median(seconds) * 1e9 / (4096.0 * 4096.0));
}

// Robust against fast intersection on the models and on a big torus.
void time_robust(const std::string& models, const preview::Plugin& plugin) {
    for (const char* name : {"bunny.obj", "dragon.obj"}) {
        preview::Mesh mesh;
        std::string error;
        if (read_model(models + "/" + name, mesh, error)) {
            bench::time_robust_hits(name, mesh, 5, plugin);
        } else {
            std::printf("%s is left out: %s\n", name, error.c_str());
        }
    }
    for (const preview::Surface& surface : preview::builtin_surfaces()) {
        if (surface.kind == preview::SurfaceKind::torus) {
            int su = 0, sv = 0;
            preview::tessellation_segments(surface, 1024, su, sv);
            std::vector<float> uv;
            bench::time_robust_hits("torus at 1024", preview::tessellate(surface, su, sv, uv), 3,
                                    plugin);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    bool ratios_only = false;
    std::string models = "models";
    std::string big_scans;
    bool robust_only = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ratios_only") == 0) {
            ratios_only = true;
        } else if (std::strcmp(argv[i], "--models") == 0 && i + 1 < argc) {
            models = argv[++i];
        } else if (std::strcmp(argv[i], "--robust_only") == 0) {
            robust_only = true;
        } else if (std::strcmp(argv[i], "--big_scans") == 0 && i + 1 < argc) {
            big_scans = argv[++i];
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    preview::Plugin plugin;
    std::string error;
    if (!preview::load_plugin(BENDLENS_PLUGIN, plugin, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (!big_scans.empty()) {
        bench::run_big_scans(BENDLENS_PREVIEW, big_scans, 3, plugin);
        preview::unload_plugin(plugin);
        return 0;
    }
    if (robust_only) {
        time_robust(models, plugin);
        preview::unload_plugin(plugin);
        return 0;
    }
    empty_plugin = plugin;
    empty_plugin.shade = &empty_shader;
    time_mesh_setups(models);
    time_robust(models, plugin);

    std::vector<std::pair<std::string, std::unique_ptr<preview::Scene>>> scenes;
    auto bunny = std::make_unique<preview::Scene>();
    if (load_bunny(models + "/bunny.obj", *bunny, error)) {
        scenes.emplace_back("bunny", std::move(bunny));
    } else {
        std::printf("the bunny is left out: %s\n", error.c_str());
    }
    auto torus = std::make_unique<preview::Scene>();
    if (!make_torus(*torus, error)) {
        std::fprintf(stderr, "torus: %s\n", error.c_str());
        return 1;
    }
    scenes.emplace_back("torus", std::move(torus));
    preview::Scene rippled;
    rippled.add_mesh("rippled torus", rippled_torus(224), {0.0f, 0.0f, 0.0f});
    if (!rippled.commit(error)) {
        std::fprintf(stderr, "rippled torus: %s\n", error.c_str());
        return 1;
    }
    time_full_bake(rippled, plugin);

    // The share of samples that hit, which is the share that calls the shader:
    // the shader's cost per hit is its extra cost per sample over this share.
    for (const auto& [name, scene] : scenes) {
        preview::Instance instance;
        preview::RenderSettings settings;
        settings.width = frame_width;
        settings.height = frame_height;
        settings.samples_per_pixel = 1;
        settings.threads = 1;
        preview::Image image;
        preview::RenderTiming timing;
        preview::render(*scene, plugin, instance, settings, image, &timing);
        std::printf("%s: %dx%d samples a frame, %.1f%% of them hit\n", name.c_str(), frame_width,
                    frame_height,
                    100.0 * double(timing.shading_calls) / (frame_width * frame_height));
    }
    for (const auto& [name, scene] : scenes) {
        for (const Case& c : cases) {
            benchmark::RegisterBenchmark(("preview/" + name + "/" + c.name).c_str(),
                                         shaded_against_bare, scene.get(), c, &plugin)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.3)
                ->UseRealTime(); // the frame renders on a thread of its own
        }
        for (const Case& c : cases) {
            if (c.method != 2) {
                benchmark::RegisterBenchmark(("preview_host/" + name + "/" + c.name).c_str(),
                                             shaded_against_bare, scene.get(), c, &empty_plugin)
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(0.3)
                    ->UseRealTime();
            }
        }
    }

    benchmark::RegisterBenchmark("bake/rippled/m0", bake_against_render, &rippled, &plugin)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.3)
        ->UseRealTime();

    using Kind = bench::Comparison::Kind;
    bench::RatioReporter reporter(
        {
            {"Preview host, shaded against primary rays alone (ns per sample)",
             "preview/",
             "",
             Kind::paired,
             1.1,
             {"/m0", "/m1"}},
            {"Preview host, method 2 against 1 + n bare rays per sample (ns per sample)",
             "preview/",
             "",
             Kind::paired,
             1.15,
             {"/m2"}},
            {"Texture bake, ns per texel, against the render of the same mesh, ns per sample",
             "bake/",
             "",
             Kind::paired,
             0.0,
             {},
             false,
             false},
            {"Preview host with a shader that does nothing, against primary rays alone",
             "preview_host/",
             "",
             Kind::paired,
             0.0,
             {},
             false,
             false},
        },
        ratios_only);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    preview::unload_plugin(plugin);
    return 0;
}
