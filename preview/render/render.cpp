#include "preview/render/render.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "preview/host/sampling.h"
#include "preview/host/shading.h"
#include "preview/image/texture.h"

namespace preview {
namespace {

constexpr double pi = 3.141592653589793;

using Clock = std::chrono::steady_clock;

long long nanoseconds_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

// What every render thread shares: the scene, the shader, the camera, what
// to read back, and the image they fill, each thread its own rows.
struct Job {
    const Scene& scene;
    const Plugin& plugin;
    Instance& instance;
    const RenderSettings& settings;
    Image& image;
    Camera camera{};
    bool shading = true;         // false: bare rays only (RenderSettings::bare_rays)
    bool textured = false;       // colours from RenderSettings::texture, no shader
    bool read_measure = false;   // fill Image::measure
    bool read_principal = false; // fill Image::k1 and Image::k2
    float bare_jitter = 1.0f;
    bool timed = false; // measure the time inside the shader
    std::atomic<int> next_row{0};
    std::atomic<int> rows_done{0};
};

// Counts each thread keeps for itself and adds to the render's at its end.
struct Tally {
    long long shader_nanoseconds = 0, thread_nanoseconds = 0;
    long long calls = 0, cast = 0, hit = 0, underived = 0;
};

// One render thread's own state: the host states it shades with and its
// copies of the instance for the read-back, which changes their parameters.
struct Worker {
    explicit Worker(const Instance& instance)
        : reading(reading_instance(instance)), principal(reading_instance(instance, true)) {
        host.probe_child = &child;
    }
    HostState host;
    HostState child;
    Instance reading;
    Instance principal;
    Tally tally;
};

// Start-up, as the renderer does it: once for the shader (null parameters),
// then for the instance. setup is the state the instance's calls see.
void start_shader(const Plugin& plugin, Instance& instance, HostState& setup) {
    link_instance(instance);
    Boolean request = 0;
    plugin.init(nullptr, nullptr, &request);
    Boolean instance_request = 0;
    setup.state.shader = &instance.record;
    plugin.init(&setup.state, &instance.block.params, &instance_request);
}

void finish_shader(const Plugin& plugin, Instance& instance, HostState& setup) {
    plugin.exit(&setup.state, &instance.block.params);
    plugin.exit(nullptr, nullptr);
}

// Sizes the image, cleared, with the layers the job reads back.
void prepare_image(Job& job) {
    const RenderSettings& settings = job.settings;
    Image& image = job.image;
    image.width = settings.width;
    image.height = settings.height;
    const size_t pixels = size_t(settings.width) * size_t(settings.height);
    image.rgba.assign(pixels * 4, 0.0f);
    job.textured = settings.bare_rays < 0 && settings.texture != nullptr;
    job.shading = settings.bare_rays < 0 && !job.textured;
    job.read_measure = settings.read_measure && job.shading;
    // A method fixed at 1 gives no principal curvatures: no layers then.
    const Instance& instance = job.instance;
    job.read_principal =
        settings.read_principal && job.shading &&
        !(instance.block.params.method == 1 && instance.connections[0].source == Connection::none);
    image.measure.assign(job.read_measure ? pixels : 0, 0.0f);
    image.k1.assign(job.read_principal ? pixels : 0, 0.0f);
    image.k2.assign(job.read_principal ? pixels : 0, 0.0f);
}

// The direction of the camera ray through the point (x + jitter[0], y +
// jitter[1]) of the image, y from the top; not normalised.
Vector camera_direction(const Camera& camera, const RenderSettings& settings, int x, int y,
                        const double jitter[2]) {
    const double ndc_x =
        (2.0 * (x + jitter[0]) / settings.width - 1.0) * camera.tan_half_height * camera.aspect;
    const double ndc_y = (1.0 - 2.0 * (y + jitter[1]) / settings.height) * camera.tan_half_height;
    return {float(camera.forward.x + ndc_x * camera.right.x + ndc_y * camera.up.x),
            float(camera.forward.y + ndc_x * camera.right.y + ndc_y * camera.up.y),
            float(camera.forward.z + ndc_x * camera.right.z + ndc_y * camera.up.z)};
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

// Calls the shader at a hit; the time inside it is counted only when the
// job is timed, since reading the clock twice a sample costs about as much
// as a method 0 call.
Colour shade(Job& job, Worker& worker, const Hit& hit, uint32_t seed) {
    Clock::time_point before{};
    if (job.timed) {
        before = Clock::now();
    }
    const Colour c = shade_hit(job.plugin, job.instance, job.scene, hit, seed, worker.host);
    if (job.timed) {
        worker.tally.shader_nanoseconds += nanoseconds_since(before);
    }
    ++worker.tally.calls;
    return c;
}

// Renders pixel (x, y): the mean colour of its samples that hit and their
// share as coverage, and the raw values at its first sample that hits, with
// that sample's seed (method 2's probe rays).
void shade_pixel(Job& job, Worker& worker, int x, int y) {
    const RenderSettings& settings = job.settings;
    Image& image = job.image;
    const uint32_t pixel_seed = hash_combine(hash32(uint32_t(y)), uint32_t(x) * 0x9e3779b1U);
    const size_t index = size_t(y) * size_t(settings.width) + size_t(x);
    double sum[3] = {0.0, 0.0, 0.0};
    int hits = 0;
    for (int s = 0; s < settings.samples_per_pixel; ++s) {
        double jitter[2];
        r2_point(uint32_t(s), pixel_seed, jitter);
        const Vector direction = camera_direction(job.camera, settings, x, y, jitter);
        Hit hit;
        ++worker.tally.cast;
        if (!job.scene.intersect(job.camera.eye, direction, nullptr, hit)) {
            continue;
        }
        ++worker.tally.hit;
        if (!hit.has_derivs) {
            ++worker.tally.underived;
        }
        const uint32_t sample_seed = hash_combine(pixel_seed, uint32_t(s));
        if (job.textured) {
            float texel[4];
            sample_texture(*settings.texture, hit.u, hit.v, texel);
            sum[0] += texel[0];
            sum[1] += texel[1];
            sum[2] += texel[2];
            ++hits;
            continue;
        }
        if (!job.shading) {
            cast_bare_rays(job.scene, hit, sample_seed, settings.bare_rays, job.bare_jitter);
            continue;
        }
        const Colour c = shade(job, worker, hit, sample_seed);
        sum[0] += c.r;
        sum[1] += c.g;
        sum[2] += c.b;
        if (hits == 0 && job.read_measure) {
            image.measure[index] = float(read_back_measure(job.plugin, worker.reading, job.scene,
                                                           hit, sample_seed, worker.host));
        }
        if (hits == 0 && job.read_principal) {
            read_back_principal(job.plugin, worker.principal, job.scene, hit, sample_seed,
                                worker.host, image.k1[index], image.k2[index]);
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

// One render thread: takes the next row until none is left.
Tally render_rows(Job& job) {
    const Clock::time_point start = Clock::now();
    Worker worker(job.instance);
    for (int y = job.next_row++; y < job.settings.height; y = job.next_row++) {
        for (int x = 0; x < job.settings.width; ++x) {
            shade_pixel(job, worker, x, y);
        }
        const int done = ++job.rows_done;
        if (job.settings.progress != nullptr) {
            job.settings.progress->advance(double(done) / double(job.settings.height));
        }
    }
    worker.tally.thread_nanoseconds = nanoseconds_since(start);
    return worker.tally;
}

int thread_count(const RenderSettings& settings) {
    const int threads = settings.threads > 0
                            ? settings.threads
                            : int(std::max(1u, std::thread::hardware_concurrency()));
    return std::min(threads, std::max(1, settings.height));
}

// Runs the rows on the job's threads and returns their tallies summed.
Tally run_threads(Job& job) {
    const int threads = thread_count(job.settings);
    std::vector<Tally> tallies(static_cast<size_t>(threads));
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) {
        pool.emplace_back([&job, &tallies, i] { tallies[size_t(i)] = render_rows(job); });
    }
    Tally total;
    for (int i = 0; i < threads; ++i) {
        pool[size_t(i)].join();
        const Tally& t = tallies[size_t(i)];
        total.shader_nanoseconds += t.shader_nanoseconds;
        total.thread_nanoseconds += t.thread_nanoseconds;
        total.calls += t.calls;
        total.cast += t.cast;
        total.hit += t.hit;
        total.underived += t.underived;
    }
    return total;
}

} // namespace

void render(const Scene& scene, const Plugin& plugin, Instance& instance,
            const RenderSettings& settings, Image& image, RenderTiming* timing) {
    const Clock::time_point start = Clock::now();
    ProgressStep step(settings.progress, "render");
    HostState setup;
    start_shader(plugin, instance, setup);
    Job job{scene, plugin, instance, settings, image};
    job.timed = timing != nullptr;
    prepare_image(job);
    job.camera =
        frame_camera(scene, settings.width, settings.height, settings.view, settings.distance);
    job.bare_jitter = 1.0f / instance.block.params.probe_scale;

    const Tally tally = run_threads(job);

    finish_shader(plugin, instance, setup);
    image.samples_cast = tally.cast;
    image.samples_hit = tally.hit;
    image.hits_without_derivatives = tally.underived;
    if (timing != nullptr) {
        timing->total_seconds = std::chrono::duration<double>(Clock::now() - start).count();
        timing->thread_seconds = double(tally.thread_nanoseconds) * 1e-9;
        timing->shader_seconds = double(tally.shader_nanoseconds) * 1e-9;
        timing->shading_calls = tally.calls;
    }
}

} // namespace preview
