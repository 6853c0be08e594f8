#include "preview/render/render.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "preview/host/sampling.h"
#include "preview/host/shading.h"

namespace preview {
namespace {

constexpr double pi = 3.141592653589793;

void draw_progress(int done, int total) {
    constexpr int width = 40;
    const int filled = total > 0 ? done * width / total : width;
    char bar[width + 1];
    for (int i = 0; i < width; ++i) {
        bar[i] = i < filled ? '#' : '.';
    }
    bar[width] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, total > 0 ? done * 100 / total : 100);
    std::fflush(stderr);
}

// The rays of a bare sample (RenderSettings::bare_rays): n rays from one
// normal length above the hit, along the reversed normal plus a point of the
// sphere of radius jitter, drawn from the sequence mi_sample gives the
// shader. Their hits are described as the shader's are, then dropped.
void cast_bare_rays(const Scene& scene, const Hit& hit, uint32_t seed, int n, float jitter) {
    const Vector& normal = hit.normal;
    const Vector origin{hit.point.x + normal.x, hit.point.y + normal.y, hit.point.z + normal.z};
    const uint32_t sequence = hash_combine(seed, 2u);
    for (int i = 0; i < n; ++i) {
        double pair[2];
        r2_point(uint32_t(i), sequence, pair);
        const double w = 2.0 * pair[0] - 1.0;
        const double rho = std::sqrt(1.0 - w * w);
        const double phi = pair[1] * 2.0 * pi;
        const Vector direction{float(std::cos(phi) * rho) * jitter - normal.x,
                               float(std::sin(phi) * rho) * jitter - normal.y,
                               float(w) * jitter - normal.z};
        Hit probe;
        scene.intersect(origin, direction, nullptr, probe);
    }
}

} // namespace

void render(const Scene& scene, const Plugin& plugin, Instance& instance,
            const RenderSettings& settings, Image& image, RenderTiming* timing) {
    using clock = std::chrono::steady_clock;
    const clock::time_point start = clock::now();
    const bool timed = timing != nullptr;
    std::atomic<long long> shader_nanoseconds{0}, thread_nanoseconds{0}, calls{0};
    link_instance(instance);
    // Start-up, as the renderer does it: once for the shader (null
    // parameters), then for the instance.
    Boolean request = 0;
    plugin.init(nullptr, nullptr, &request);
    Boolean instance_request = 0;
    HostState setup;
    setup.state.shader = &instance.record;
    plugin.init(&setup.state, &instance.block.params, &instance_request);

    image.width = settings.width;
    image.height = settings.height;
    const size_t pixels = size_t(settings.width) * size_t(settings.height);
    image.rgba.assign(pixels * 4, 0.0f);
    const bool shading = settings.bare_rays < 0;
    const bool read_measure = settings.read_measure && shading;
    // A method fixed at 1 gives no principal curvatures: no layers then.
    const bool read_principal =
        settings.read_principal && shading &&
        !(instance.block.params.method == 1 && instance.connections[0].source == Connection::none);
    image.measure.assign(read_measure ? pixels : 0, 0.0f);
    image.k1.assign(read_principal ? pixels : 0, 0.0f);
    image.k2.assign(read_principal ? pixels : 0, 0.0f);
    const Camera camera = frame_camera(scene, settings.width, settings.height, settings.view);
    const float bare_jitter = 1.0f / instance.block.params.probe_scale;

    std::atomic<int> next_row{0};
    std::atomic<int> rows_done{0};
    std::atomic<long long> cast_total{0}, hit_total{0}, underived_total{0};
    auto work = [&]() {
        const clock::time_point thread_start = clock::now();
        long long in_shader = 0, shaded = 0, cast = 0, hit_count = 0, underived = 0;
        HostState host;
        HostState child;
        host.probe_child = &child;
        // The read-back changes its instance's parameters: a copy per thread.
        Instance reading = reading_instance(instance);
        Instance principal = reading_instance(instance, true);
        for (int y = next_row++; y < settings.height; y = next_row++) {
            for (int x = 0; x < settings.width; ++x) {
                const uint32_t pixel_seed =
                    hash_combine(hash32(uint32_t(y)), uint32_t(x) * 0x9e3779b1U);
                const size_t index = size_t(y) * size_t(settings.width) + size_t(x);
                double sum[3] = {0.0, 0.0, 0.0};
                int hits = 0;
                for (int s = 0; s < settings.samples_per_pixel; ++s) {
                    double jitter[2];
                    r2_point(uint32_t(s), pixel_seed, jitter);
                    const double ndc_x = (2.0 * (x + jitter[0]) / settings.width - 1.0) *
                                         camera.tan_half_height * camera.aspect;
                    const double ndc_y =
                        (1.0 - 2.0 * (y + jitter[1]) / settings.height) * camera.tan_half_height;
                    const Vector direction{
                        float(camera.forward.x + ndc_x * camera.right.x + ndc_y * camera.up.x),
                        float(camera.forward.y + ndc_x * camera.right.y + ndc_y * camera.up.y),
                        float(camera.forward.z + ndc_x * camera.right.z + ndc_y * camera.up.z)};
                    Hit hit;
                    ++cast;
                    if (!scene.intersect(camera.eye, direction, nullptr, hit)) {
                        continue;
                    }
                    ++hit_count;
                    if (!hit.has_derivs) {
                        ++underived;
                    }
                    const uint32_t sample_seed = hash_combine(pixel_seed, uint32_t(s));
                    if (!shading) {
                        cast_bare_rays(scene, hit, sample_seed, settings.bare_rays, bare_jitter);
                        continue;
                    }
                    // Reading the clock twice a sample costs about as much as
                    // a method 0 call: only when the caller asks for timings.
                    clock::time_point before{};
                    if (timed) {
                        before = clock::now();
                    }
                    const Colour c = shade_hit(plugin, instance, scene, hit, sample_seed, host);
                    if (timed) {
                        in_shader += std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         clock::now() - before)
                                         .count();
                    }
                    ++shaded;
                    sum[0] += c.r;
                    sum[1] += c.g;
                    sum[2] += c.b;
                    // The raw values at the pixel's first sample that hits,
                    // with that sample's seed (method 2's probe rays).
                    if (hits == 0 && read_measure) {
                        image.measure[index] = float(
                            read_back_measure(plugin, reading, scene, hit, sample_seed, host));
                    }
                    if (hits == 0 && read_principal) {
                        read_back_principal(plugin, principal, scene, hit, sample_seed, host,
                                            image.k1[index], image.k2[index]);
                    }
                    ++hits;
                }
                float* pixel = &image.rgba[index * 4];
                if (hits > 0) {
                    pixel[0] = float(sum[0] / hits);
                    pixel[1] = float(sum[1] / hits);
                    pixel[2] = float(sum[2] / hits);
                    pixel[3] = float(hits) / float(settings.samples_per_pixel);
                }
            }
            ++rows_done;
        }
        shader_nanoseconds += in_shader;
        calls += shaded;
        cast_total += cast;
        hit_total += hit_count;
        underived_total += underived;
        thread_nanoseconds +=
            std::chrono::duration_cast<std::chrono::nanoseconds>(clock::now() - thread_start)
                .count();
    };

    int threads = settings.threads > 0 ? settings.threads
                                       : int(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::min(threads, std::max(1, settings.height));
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) {
        pool.emplace_back(work);
    }
    if (settings.progress) {
        while (rows_done.load() < settings.height) {
            draw_progress(rows_done.load(), settings.height);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        draw_progress(settings.height, settings.height);
        std::fprintf(stderr, "\n");
    }
    for (std::thread& t : pool) {
        t.join();
    }

    plugin.exit(&setup.state, &instance.block.params);
    plugin.exit(nullptr, nullptr);
    image.samples_cast = cast_total.load();
    image.samples_hit = hit_total.load();
    image.hits_without_derivatives = underived_total.load();
    if (timing != nullptr) {
        timing->total_seconds = std::chrono::duration<double>(clock::now() - start).count();
        timing->thread_seconds = double(thread_nanoseconds.load()) * 1e-9;
        timing->shader_seconds = double(shader_nanoseconds.load()) * 1e-9;
        timing->shading_calls = calls.load();
    }
}

} // namespace preview
